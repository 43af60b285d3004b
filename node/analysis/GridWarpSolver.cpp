// SPDX-License-Identifier: Apache-2.0
#include "analysis/GridWarpSolver.h"

#include <algorithm>
#include <utility>

#include "analysis/GridTriangle.h"

namespace Korvane {
namespace Research {

namespace {
// Smoothness and consistency weights below this add no rows.
constexpr double kMinimumWeight = 0.01;
}  // namespace

GridWarpSolver::GridWarpSolver(std::set<int> window, int gx, int gy, int width, int height)
    : m_window(window.begin(), window.end()),
      m_gx(gx),
      m_gy(gy),
      m_width(width),
      m_height(height),
      m_perKey(gx >= 2 && gy >= 2 ? 2 * gx * gy : 0),
      m_unknowns(m_perKey * int(m_window.size())),
      m_grid(std::max(gx, 0), std::max(gy, 0)) {}

int GridWarpSolver::keyIndex(int frame) const {
    const auto it = std::lower_bound(m_window.begin(), m_window.end(), frame);
    return it != m_window.end() && *it == frame ? int(it - m_window.begin()) : -1;
}

void GridWarpSolver::addEntry(int column, double coefficient) {
    m_columns.push_back(column);
    m_coefficients.push_back(coefficient);
}

void GridWarpSolver::endRow(double rhs) {
    m_rhs.push_back(rhs);
    m_rowStart.push_back(int(m_columns.size()));
}

void GridWarpSolver::addWarpConstraint(int frame, const WarpConstraint& c) {
    const int k = keyIndex(frame);
    if (k < 0 || m_perKey == 0) return;
    const auto t = GridTriangle::locate(m_gx, m_gy, m_width, m_height, {c.x, c.y});
    if (!t) return;
    const double w = c.weight();
    const int base = k * m_perKey;
    for (int axis = 0; axis < 2; ++axis) {
        for (int m = 0; m < 3; ++m) addEntry(base + 2 * t->vertex[m] + axis, w * t->weight[m]);
        endRow(w * (axis == 0 ? c.dx : c.dy));
    }
}

void GridWarpSolver::addSmoothness(int frame, double s) {
    const int k = keyIndex(frame);
    if (s < kMinimumWeight || k < 0 || m_perKey == 0) return;
    const int base = k * m_perKey;
    for (int j = 0; j < m_gy; ++j)
        for (int i = 0; i < m_gx; ++i) {
            const int v = m_gx * j + i;
            int neighbours[4];
            int n = 0;
            if (i > 0) neighbours[n++] = v - 1;
            if (i + 1 < m_gx) neighbours[n++] = v + 1;
            if (j > 0) neighbours[n++] = v - m_gx;
            if (j + 1 < m_gy) neighbours[n++] = v + m_gx;
            for (int axis = 0; axis < 2; ++axis) {
                addEntry(base + 2 * v + axis, -n * s);
                for (int u = 0; u < n; ++u) addEntry(base + 2 * neighbours[u] + axis, s);
                endRow(0.0);
            }
        }
}

void GridWarpSolver::addConsistency(int frame, double gamma) {
    const int k = keyIndex(frame);
    const int keys = int(m_window.size());
    if (gamma < kMinimumWeight || keys < 2 || k < 0 || m_perKey == 0) return;
    for (int v = 0; v < m_gx * m_gy; ++v)
        for (int axis = 0; axis < 2; ++axis) {
            addEntry(k * m_perKey + 2 * v + axis, -(keys - 1) * gamma);
            for (int l = 0; l < keys; ++l)
                if (l != k) addEntry(l * m_perKey + 2 * v + axis, gamma);
            endRow(0.0);
        }
}

bool GridWarpSolver::solve(int frame) {
    const auto rows = unsigned(m_rhs.size());
    const auto unknowns = unsigned(m_unknowns);
    if (rows == 0 || unknowns == 0 || rows < 3 * (unknowns / 4)) return false;
    const int k = keyIndex(frame);
    if (k < 0) return false;

    // A later entry for a column already in its row replaces the earlier one. Rows are short
    // (3 for constraints, at most 5 for smoothness, K for consistency), so a scan is enough.
    LsqrMatrix A(m_rhs.size(), m_unknowns);
    Eigen::VectorXi perRow(A.rows());
    for (Eigen::Index r = 0; r < A.rows(); ++r) perRow[r] = m_rowStart[r + 1] - m_rowStart[r];
    A.reserve(perRow);
    std::vector<std::pair<int, double>> row;
    for (Eigen::Index r = 0; r < A.rows(); ++r) {
        row.clear();
        for (int e = m_rowStart[r]; e < m_rowStart[r + 1]; ++e) {
            auto same = std::find_if(
                row.begin(), row.end(), [&](const auto& p) { return p.first == m_columns[e]; });
            if (same != row.end())
                same->second = m_coefficients[e];
            else
                row.emplace_back(m_columns[e], m_coefficients[e]);
        }
        std::sort(row.begin(), row.end());
        for (const auto& [column, value] : row) A.insert(r, column) = value;
    }
    A.makeCompressed();
    const Eigen::Map<const Eigen::VectorXd> b(m_rhs.data(), Eigen::Index(m_rhs.size()));

    m_summary = lsqr(A, b, m_solution);
    if (!m_solution.allFinite()) return false;
    const Eigen::Index base = Eigen::Index(k) * m_perKey;
    for (int v = 0; v < m_gx * m_gy; ++v)
        m_grid.points[size_t(v)] = {m_solution[base + 2 * v], m_solution[base + 2 * v + 1]};
    return true;
}

void GridWarpSolver::resetRows() {
    m_rowStart.assign(1, 0);
    m_columns.clear();
    m_coefficients.clear();
    m_rhs.clear();
    for (auto& p : m_grid.points) p.setZero();
}

}  // namespace Research
}  // namespace Korvane

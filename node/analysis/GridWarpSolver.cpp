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

/// A = M (x) I2 on interleaved vectors: M acts on the vertices, the same on x and y, and each
/// entry of M is read once for both axes.
class PairedRows : public LsqrOperator {
public:
    explicit PairedRows(const LsqrMatrix& M) : m_M(M) {}
    Eigen::Index rows() const override { return 2 * m_M.rows(); }
    Eigen::Index cols() const override { return 2 * m_M.cols(); }
    void multiplyAdd(const Eigen::VectorXd& x, Eigen::VectorXd& y) const override {
        const int* start = m_M.outerIndexPtr();
        const int* column = m_M.innerIndexPtr();
        const double* value = m_M.valuePtr();
        for (Eigen::Index r = 0; r < m_M.rows(); ++r) {
            double sx = 0.0, sy = 0.0;
            for (int e = start[r]; e < start[r + 1]; ++e) {
                sx += value[e] * x[2 * column[e]];
                sy += value[e] * x[2 * column[e] + 1];
            }
            y[2 * r] += sx;
            y[2 * r + 1] += sy;
        }
    }
    void transposeMultiplyAdd(const Eigen::VectorXd& y, Eigen::VectorXd& x) const override {
        const int* start = m_M.outerIndexPtr();
        const int* column = m_M.innerIndexPtr();
        const double* value = m_M.valuePtr();
        for (Eigen::Index r = 0; r < m_M.rows(); ++r) {
            const double yx = y[2 * r], yy = y[2 * r + 1];
            for (int e = start[r]; e < start[r + 1]; ++e) {
                x[2 * column[e]] += value[e] * yx;
                x[2 * column[e] + 1] += value[e] * yy;
            }
        }
    }

private:
    const LsqrMatrix& m_M;
};

}  // namespace

GridWarpSolver::GridWarpSolver(
    std::set<int> window, int gx, int gy, int width, int height, const LsqrOptions& lsqr)
    : m_window(window.begin(), window.end()),
      m_gx(gx),
      m_gy(gy),
      m_width(width),
      m_height(height),
      m_vertices(gx >= 2 && gy >= 2 ? gx * gy : 0),
      m_unknowns(2 * m_vertices * int(m_window.size())),
      m_options(lsqr),
      m_grid(std::max(gx, 0), std::max(gy, 0)) {}

int GridWarpSolver::keyIndex(int frame) const {
    const auto it = std::lower_bound(m_window.begin(), m_window.end(), frame);
    return it != m_window.end() && *it == frame ? int(it - m_window.begin()) : -1;
}

void GridWarpSolver::addEntry(int key, int vertex, double coefficient) {
    m_columns.push_back(key * m_vertices + vertex);
    m_coefficients.push_back(coefficient);
}

void GridWarpSolver::endRows(double rhsX, double rhsY) {
    m_rhs.push_back(rhsX);
    m_rhs.push_back(rhsY);
    m_pairStart.push_back(int(m_columns.size()));
}

void GridWarpSolver::addWarpConstraint(int frame, const WarpConstraint& c) {
    const int k = keyIndex(frame);
    if (k < 0 || m_vertices == 0) return;
    const auto t = GridTriangle::locate(m_gx, m_gy, m_width, m_height, {c.x, c.y});
    if (!t) return;
    const double w = c.weight();
    for (int m = 0; m < 3; ++m) addEntry(k, t->vertex[m], w * t->weight[m]);
    endRows(w * c.dx, w * c.dy);
}

void GridWarpSolver::addSmoothness(int frame, double s) {
    const int k = keyIndex(frame);
    if (s < kMinimumWeight || k < 0 || m_vertices == 0) return;
    for (int j = 0; j < m_gy; ++j)
        for (int i = 0; i < m_gx; ++i) {
            const int v = m_gx * j + i;
            const int n = (i > 0) + (i + 1 < m_gx) + (j > 0) + (j + 1 < m_gy);
            addEntry(k, v, -n * s);
            if (i > 0) addEntry(k, v - 1, s);
            if (i + 1 < m_gx) addEntry(k, v + 1, s);
            if (j > 0) addEntry(k, v - m_gx, s);
            if (j + 1 < m_gy) addEntry(k, v + m_gx, s);
            endRows(0.0, 0.0);
        }
}

void GridWarpSolver::addConsistency(int frame, double gamma) {
    const int k = keyIndex(frame);
    const int keys = int(m_window.size());
    if (gamma < kMinimumWeight || keys < 2 || k < 0 || m_vertices == 0) return;
    for (int v = 0; v < m_vertices; ++v) {
        addEntry(k, v, -(keys - 1) * gamma);
        for (int l = 0; l < keys; ++l)
            if (l != k) addEntry(l, v, gamma);
        endRows(0.0, 0.0);
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
    const Eigen::Index pairs = Eigen::Index(m_pairStart.size()) - 1;
    LsqrMatrix M(pairs, m_unknowns / 2);
    Eigen::VectorXi perRow(pairs);
    for (Eigen::Index r = 0; r < pairs; ++r) perRow[r] = m_pairStart[r + 1] - m_pairStart[r];
    M.reserve(perRow);
    std::vector<std::pair<int, double>> row;
    for (Eigen::Index r = 0; r < pairs; ++r) {
        row.clear();
        for (int e = m_pairStart[r]; e < m_pairStart[r + 1]; ++e) {
            auto same = std::find_if(
                row.begin(), row.end(), [&](const auto& p) { return p.first == m_columns[e]; });
            if (same != row.end())
                same->second = m_coefficients[e];
            else
                row.emplace_back(m_columns[e], m_coefficients[e]);
        }
        std::sort(row.begin(), row.end());
        for (const auto& [column, value] : row) M.insert(r, column) = value;
    }
    M.makeCompressed();
    const Eigen::Map<const Eigen::VectorXd> b(m_rhs.data(), Eigen::Index(m_rhs.size()));

    m_summary = lsqr(PairedRows(M), b, m_solution, m_options);
    if (!m_solution.allFinite()) return false;
    const Eigen::Index base = Eigen::Index(k) * 2 * m_vertices;
    for (int v = 0; v < m_vertices; ++v)
        m_grid.points[size_t(v)] = {m_solution[base + 2 * v], m_solution[base + 2 * v + 1]};
    return true;
}

void GridWarpSolver::resetRows() {
    m_pairStart.assign(1, 0);
    m_columns.clear();
    m_coefficients.clear();
    m_rhs.clear();
    for (auto& p : m_grid.points) p.setZero();
}

}  // namespace Research
}  // namespace Korvane

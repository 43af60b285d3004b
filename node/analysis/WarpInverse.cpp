// SPDX-License-Identifier: Apache-2.0
#include "analysis/WarpInverse.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/GridTriangle.h"

namespace Korvane {
namespace Research {

WarpInverse::WarpInverse(const Grid2D& grid, int width, int height)
    : m_grid(grid), m_width(width), m_height(height) {}

Eigen::Vector2d WarpInverse::displacement(const Eigen::Vector2d& q) const {
    const Eigen::Vector2d inside(std::clamp(q.x(), 0.0, double(m_width)),
                                 std::clamp(q.y(), 0.0, double(m_height)));
    const auto t = GridTriangle::locate(m_grid.width, m_grid.height, m_width, m_height, inside);
    Eigen::Vector2d d = Eigen::Vector2d::Zero();
    if (t)
        for (int m = 0; m < 3; ++m) d += t->weight[m] * m_grid.points[size_t(t->vertex[m])];
    return d;
}

std::optional<Eigen::Vector2d> WarpInverse::warpedPosition(const Eigen::Vector2d& o) const {
    Eigen::Vector2d q = o;
    for (int n = 0; n < kMaxIterations; ++n) {
        const Eigen::Vector2d next = o - displacement(q);
        if (!next.allFinite()) return std::nullopt;
        const double step = (next - q).norm();
        q = next;
        if (step < kTolerance) return q;
    }
    return std::nullopt;
}

}  // namespace Research
}  // namespace Korvane

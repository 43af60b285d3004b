// SPDX-License-Identifier: Apache-2.0
#include "analysis/GridTriangle.h"

#include <algorithm>
#include <cmath>

namespace Korvane {
namespace Research {

namespace {

// Barycentric coordinates of g in [p0, p1, p2] by the dot-product form (Ericson, Real-Time
// Collision Detection, 3.4).
std::array<double, 3> barycentric(const Eigen::Vector2d& g,
                                  const Eigen::Vector2d& p0,
                                  const Eigen::Vector2d& p1,
                                  const Eigen::Vector2d& p2) {
    const Eigen::Vector2d e0 = p1 - p0, e1 = p2 - p0, q = g - p0;
    const double d00 = e0.dot(e0), d01 = e0.dot(e1), d11 = e1.dot(e1);
    const double d20 = q.dot(e0), d21 = q.dot(e1);
    const double inv = 1.0 / (d00 * d11 - d01 * d01);
    const double b1 = (d11 * d20 - d01 * d21) * inv;
    const double b2 = (d00 * d21 - d01 * d20) * inv;
    return {1.0 - b1 - b2, b1, b2};
}

}  // namespace

std::optional<GridTriangle> GridTriangle::locate(
    int gx, int gy, double width, double height, const Eigen::Vector2d& p) {
    if (gx < 2 || gy < 2 || !(width > 0.0) || !(height > 0.0)) return std::nullopt;
    // Multiplying before dividing keeps x = W exactly on the last column: W (gx - 1) / W is
    // exact, W times a rounded (gx - 1) / W need not be.
    const Eigen::Vector2d g(p.x() * (gx - 1) / width, p.y() * (gy - 1) / height);
    if (!(g.x() >= 0.0 && g.x() <= gx - 1 && g.y() >= 0.0 && g.y() <= gy - 1)) return std::nullopt;
    const int i0 = std::min(int(std::floor(g.x())), gx - 2);
    const int j0 = std::min(int(std::floor(g.y())), gy - 2);
    const Eigen::Vector2d v00(i0, j0), v10(i0 + 1, j0), v11(i0 + 1, j0 + 1), v01(i0, j0 + 1);
    const int k00 = gx * j0 + i0;

    GridTriangle t;
    const std::array<double, 3> b = barycentric(g, v00, v11, v01);
    if (b[0] >= 0.0 && b[1] >= 0.0 && b[0] + b[1] < 1.0) {
        t.vertex = {k00, k00 + gx + 1, k00 + gx};
        t.weight = b;
    } else {
        t.vertex = {k00, k00 + 1, k00 + gx + 1};
        t.weight = barycentric(g, v00, v10, v11);
    }
    return t;
}

}  // namespace Research
}  // namespace Korvane

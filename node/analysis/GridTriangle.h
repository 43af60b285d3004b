// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <optional>

#include <Eigen/Core>

namespace Korvane {
namespace Research {

/// The triangle of a warp grid that holds a point, and the point's barycentric weights in it:
/// the interpolation that the solver's constraints use and the renderer must match.
///
/// Grid space: a gx x gy grid laid over a W x H image maps input pixel (x, y) to
/// g = (x (gx - 1) / W, y (gy - 1) / H), so vertex (i, j) sits at input pixel
/// (i W / (gx - 1), j H / (gy - 1)) and the corner vertices on the image corners (0, 0) and
/// (W, H). The cell of g is (floor(g.x), floor(g.y)), limited to (gx - 2, gy - 2) so that the
/// last column and row belong to the last cell. Each cell is cut along its diagonal from
/// (i0, j0) to (i0 + 1, j0 + 1) into A = [(i0, j0), (i0 + 1, j0), (i0 + 1, j0 + 1)] and
/// B = [(i0, j0), (i0 + 1, j0 + 1), (i0, j0 + 1)]; a point strictly on B's side of the
/// diagonal uses B, any other point A.
struct GridTriangle {
    /// Row-major vertex indices gx * j + i, in triangle order.
    std::array<int, 3> vertex;
    /// Barycentric weights of the point, summing to 1, in the same order.
    std::array<double, 3> weight;

    /// The triangle holding input pixel `p`; none when g lies outside [0, gx - 1] x
    /// [0, gy - 1] (or is not finite), or when a side has fewer than 2 vertices or the image
    /// has no area.
    static std::optional<GridTriangle> locate(
        int gx, int gy, double width, double height, const Eigen::Vector2d& p);
};

}  // namespace Research
}  // namespace Korvane

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <optional>
#include <vector>

#include <Eigen/Core>

#include "analysis/Grid2D.h"
#include "external/RigLibrary.h"

namespace Korvane {
namespace Research {

/// Where input content ends up in a camera's warped image. A grid is a backward displacement:
/// the warped image at q shows the input at q + D(q), with D interpolated from the vertices
/// through the triangles of GridTriangle (the solver's and the renderer's). The warped
/// position of an input position o is therefore the q with q + D(q) = o, found by the
/// fixed-point iteration q <- o - D(q) from q = o; it converges while D changes by less than
/// a pixel per pixel, as any usable warp does. Outside the image D takes the value at the
/// nearest point of the image rectangle.
class WarpInverse {
public:
    static constexpr int kMaxIterations = 100;
    /// Iteration stops when a step moves q by less than this, in pixels.
    static constexpr double kTolerance = 1e-9;

    /// `grid` laid over a `width` x `height` input image; a grid with a side below 2 is no
    /// warp. The grid is copied.
    WarpInverse(const Grid2D& grid, int width, int height);

    /// D at input pixel q.
    Eigen::Vector2d displacement(const Eigen::Vector2d& q) const;
    /// The q with q + D(q) = o; none when the iteration does not settle.
    std::optional<Eigen::Vector2d> warpedPosition(const Eigen::Vector2d& o) const;

private:
    Grid2D m_grid;
    int m_width, m_height;
};

}  // namespace Research
}  // namespace Korvane

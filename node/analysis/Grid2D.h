// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include <Eigen/Core>

namespace Korvane {
namespace Research {

/// One camera's warp at one analysis key: `width` x `height` vertices, row-major (vertex (i, j)
/// is points[width * j + i]), each a backward displacement (dx, dy) in input pixels: the warped
/// image at q shows the input at q + D(q), D interpolated from the vertices. A new grid holds
/// (0, 0) everywhere.
struct Grid2D {
    int width = 0;
    int height = 0;
    std::vector<Eigen::Vector2d> points;

    Grid2D() = default;
    Grid2D(int w, int h)
        : width(w), height(h), points(size_t(w) * size_t(h), Eigen::Vector2d::Zero()) {}

    Eigen::Vector2d& at(int i, int j) { return points[size_t(width) * size_t(j) + size_t(i)]; }
    const Eigen::Vector2d& at(int i, int j) const {
        return points[size_t(width) * size_t(j) + size_t(i)];
    }
    bool operator==(const Grid2D& o) const {
        return width == o.width && height == o.height && points == o.points;
    }
};

}  // namespace Research
}  // namespace Korvane

// SPDX-License-Identifier: Apache-2.0
#include "analysis/WarpInverse.h"

#include <cmath>
#include <random>

#include <gtest/gtest.h>

using namespace Korvane::Research;

namespace {

constexpr int kWidth = 640, kHeight = 480;

Grid2D constantGrid(int gx, int gy, const Eigen::Vector2d& d) {
    Grid2D grid(gx, gy);
    for (auto& p : grid.points) p = d;
    return grid;
}

TEST(WarpInverse, WarpedPositionUndoesTheDisplacement) {
    std::mt19937 rng(4);
    std::uniform_real_distribution<double> ux(0, kWidth), uy(0, kHeight), ud(-10, 10);
    // A bumpy warp whose vertices differ by up to 20 px over cells of 71 x 60 px.
    Grid2D bumpy(10, 9);
    for (auto& p : bumpy.points) p = {ud(rng), ud(rng)};
    const WarpInverse none(Grid2D(10, 9), kWidth, kHeight);
    const WarpInverse constant(constantGrid(10, 9, {3, -4}), kWidth, kHeight);
    const WarpInverse warp(bumpy, kWidth, kHeight);
    const WarpInverse degenerate(constantGrid(1, 9, {3, -4}), kWidth, kHeight);
    for (int n = 0; n < 100; ++n) {
        const Eigen::Vector2d o(ux(rng), uy(rng));
        EXPECT_EQ(none.warpedPosition(o), o);
        EXPECT_EQ(degenerate.warpedPosition(o), o) << "a grid without cells is no warp";
        const auto shifted = constant.warpedPosition(o);
        ASSERT_TRUE(shifted);
        EXPECT_LT((*shifted - (o - Eigen::Vector2d(3, -4))).norm(), 1e-9);
        const auto q = warp.warpedPosition(o);
        ASSERT_TRUE(q) << o.transpose();
        EXPECT_LT((*q + warp.displacement(*q) - o).norm(), 1e-8) << o.transpose();
    }
    // Vertex values come back at the vertices, and outside the image the edge value holds.
    EXPECT_EQ(warp.displacement({0, 0}), bumpy.at(0, 0));
    EXPECT_EQ(warp.displacement({kWidth, kHeight}), bumpy.at(9, 8));
    EXPECT_EQ(warp.displacement({-50, -50}), bumpy.at(0, 0));

    // D(x) = 2 (x - 320): the warp folds the image over itself and the iteration swings ever
    // wider until it bounces between the two sides.
    Grid2D folded(3, 3);
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) folded.at(i, j) = {2.0 * (i * kWidth / 2.0 - 320.0), 0.0};
    EXPECT_FALSE(WarpInverse(folded, kWidth, kHeight).warpedPosition({300, 200}));
}

}  // namespace

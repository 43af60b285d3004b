// SPDX-License-Identifier: Apache-2.0
#include "render/WarpGridAtFrame.h"

#include <gtest/gtest.h>

#include "../analysis/StoreTestSupport.h"
#include "analysis/GridMapKnob.h"

using namespace Korvane::Research;

namespace {

class WarpGridAtFrame : public NodeTests::DetachedStoreTest {
protected:
    static Grid2D filled(double x, double y, int w = 3, int h = 2) {
        Grid2D g(w, h);
        for (size_t i = 0; i < g.points.size(); ++i) g.points[i] = {x + double(i), y};
        return g;
    }
    GridMapKnob store{nullptr, "gridMap"};
};

}  // namespace

TEST_F(WarpGridAtFrame, KeysExactHalfwayTheMeanEndsHoldAndOddGridsFallBackToOneKey) {
    EXPECT_EQ(warpGridAtFrame(store, 10, 1), nullptr) << "an empty store";
    const Grid2D a = filled(2.0, -4.0), b = filled(6.0, 8.0);
    ASSERT_TRUE(store.setGrid(10, 1, a));
    ASSERT_TRUE(store.setGrid(20, 1, b));

    EXPECT_EQ(*warpGridAtFrame(store, 10, 1), a);
    EXPECT_EQ(*warpGridAtFrame(store, 20, 1), b);
    const auto half = warpGridAtFrame(store, 15, 1);
    for (size_t i = 0; i < a.points.size(); ++i)
        EXPECT_EQ(half->points[i], (a.points[i] + b.points[i]) / 2.0) << i;
    const auto near = warpGridAtFrame(store, 12, 1);
    for (size_t i = 0; i < a.points.size(); ++i)
        EXPECT_NEAR((near->points[i] - (0.8 * a.points[i] + 0.2 * b.points[i])).norm(), 0, 1e-12);
    EXPECT_EQ(*warpGridAtFrame(store, 25, 1), b) << "after the last key";
    EXPECT_EQ(*warpGridAtFrame(store, 3, 1), a) << "before the first key";
    EXPECT_EQ(warpGridAtFrame(store, 15, 2), nullptr) << "a camera without grids";

    // A missing or resized grid falls back to one key.
    const Grid2D c = filled(1.0, 1.0), d = filled(3.0, 3.0, 4, 4);
    store.clear();
    ASSERT_TRUE(store.setGrid(-1, 1, c));
    ASSERT_TRUE(store.setGrid(9, 1, d));
    ASSERT_TRUE(store.setGrid(9, 2, d));
    EXPECT_EQ(*warpGridAtFrame(store, -1, 1), c) << "frame -1 is a key like any other";
    EXPECT_EQ(*warpGridAtFrame(store, 3, 1), c) << "sizes differ: the nearer key";
    EXPECT_EQ(*warpGridAtFrame(store, 5, 1), d);
    EXPECT_EQ(*warpGridAtFrame(store, 0, 2), d) << "only one key has a grid for camera 2";
    EXPECT_EQ(*warpGridAtFrame(store, -7, 1), c);
}

// SPDX-License-Identifier: Apache-2.0
#include "px/image/Box.h"

#include <gtest/gtest.h>

using PX::Image::Box;

TEST(Box, EmptyWhenEitherSideIsNotPositiveAndContainsOnlyFromTheLowerEdges) {
    EXPECT_TRUE(Box().empty());
    EXPECT_FALSE(Box(0, 0, 1, 1).empty());
    EXPECT_TRUE(Box(5, 0, 5, 10).empty());
    EXPECT_TRUE(Box(0, 5, 10, 4).empty());
    const Box b(0, 0, 4, 2);
    EXPECT_TRUE(b.contains(0, 0));
    EXPECT_TRUE(b.contains(3, 1));
    EXPECT_FALSE(b.contains(4, 1));
    EXPECT_FALSE(b.contains(3, 2));
    EXPECT_FALSE(b.contains(-1, 0));
}

TEST(Box, IntersectIsTheOverlapAndMergeHoldsBothIgnoringEmptyBoxes) {
    EXPECT_EQ(Box(0, 0, 10, 10).intersect(Box(5, -5, 20, 7)), Box(5, 0, 10, 7));
    EXPECT_TRUE(Box(0, 0, 10, 10).intersect(Box(10, 0, 20, 10)).empty()) << "touching edges";
    EXPECT_TRUE(Box(0, 0, 10, 10).intersect(Box(20, 20, 30, 30)).empty());
    EXPECT_EQ(Box(0, 0, 2, 2).merge(Box(5, -1, 6, 1)), Box(0, -1, 6, 2));
    EXPECT_EQ(Box(3, 3, 4, 4).merge(Box(100, 100, 100, 200)), Box(3, 3, 4, 4));
    EXPECT_EQ(Box(100, 100, 50, 50).merge(Box(3, 3, 4, 4)), Box(3, 3, 4, 4));
}

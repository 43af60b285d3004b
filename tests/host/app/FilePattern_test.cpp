// SPDX-License-Identifier: Apache-2.0
#include "FilePattern.h"

#include <gtest/gtest.h>

using Vireo::expandFilePattern;

TEST(FilePattern, ViewAndFrameAreSubstituted) {
    EXPECT_EQ(expandFilePattern("shots/%V/img.####.exr", "cam2", 7), "shots/cam2/img.0007.exr");
    EXPECT_EQ(expandFilePattern("img.%04d.%V.png", "left", 12), "img.0012.left.png");
    EXPECT_EQ(expandFilePattern("a.##.b.%d.%06d", "main", 5), "a.05.b.5.000005");
    EXPECT_EQ(expandFilePattern("100%%_%V", "main", 1), "100%_main");
    EXPECT_EQ(expandFilePattern("no_pattern.exr", "main", 3), "no_pattern.exr");
    EXPECT_EQ(expandFilePattern("%x%", "main", 3), "%x%");
}

TEST(FilePattern, FramesRoundHalvesAwayFromZero) {
    EXPECT_EQ(expandFilePattern("####", "", 2.5), "0003");
    EXPECT_EQ(expandFilePattern("####", "", 2.49), "0002");
    EXPECT_EQ(expandFilePattern("%04d", "", -2.5), "-003");
    EXPECT_EQ(expandFilePattern("#", "", 12345), "12345");  // wider frames are not cut
}

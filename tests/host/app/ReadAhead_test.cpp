// SPDX-License-Identifier: Apache-2.0
#include "nodes/ReadAhead.h"

#include <gtest/gtest.h>

#include "ImageFiles.h"

using Vireo::ReadAhead;

// A file read ahead is handed out once, for the slot and name asked for, and only as it is on
// the disk now: one rewritten after it was read, or missing, is not handed out at all.
TEST(ReadAhead, HandsOutAFileOnceAndOnlyAsItIsOnTheDisk) {
    const std::string dir = TestImages::scratchFolder();
    const std::string a = dir + "/a.exr", b = dir + "/b.exr";
    TestImages::write(a, TestImages::pattern(3, 2, 4, 1));
    TestImages::write(b, TestImages::pattern(3, 2, 3, 2));
    ReadAhead ahead;
    ReadAhead::Image image;
    ahead.request(0, a);
    ahead.request(1, b);
    EXPECT_FALSE(ahead.take(0, b, &image)) << "another slot's file";
    ASSERT_TRUE(ahead.take(1, b, &image));
    EXPECT_EQ(image.header.nchannels, 3);
    EXPECT_EQ(image.pixels, TestImages::pattern(3, 2, 3, 2).pixels);
    EXPECT_FALSE(ahead.take(1, b, &image)) << "handed out twice";

    // Files are read in the order asked for: once b is in, a has been read too.
    ahead.request(1, b);
    ASSERT_TRUE(ahead.take(1, b, &image));
    TestImages::write(a, TestImages::pattern(3, 2, 4, 5));
    EXPECT_FALSE(ahead.take(0, a, &image)) << "a file changed since it was read";

    ahead.request(0, dir + "/missing.exr");
    EXPECT_FALSE(ahead.take(0, dir + "/missing.exr", &image));
}

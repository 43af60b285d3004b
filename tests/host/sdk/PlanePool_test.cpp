// SPDX-License-Identifier: Apache-2.0
// Released plane buffers are reused, read as cleared unless their writer writes every pixel,
// never while a plane still holds them, and the pool stays within its capacity.
#include <algorithm>

#include <gtest/gtest.h>

#include "px/image/ImagePlane.h"
#include "px/image/PlanePool.h"

using namespace PX::Image;

namespace {

ImagePlane filledPlane(int w, int h, float value) {
    ImagePlane plane(Box(0, 0, w, h), true, Mask_RGBA);
    plane.makeWritable();
    std::fill(plane.writable(), plane.writable() + plane.sizeInFloats(), value);
    return plane;
}

bool allZero(const ImagePlane& plane) {
    return std::all_of(plane.readable(), plane.readable() + plane.sizeInFloats(), [](float v) {
        return v == 0.0f;
    });
}

}  // namespace

TEST(PlanePool, AReleasedBufferComesBackClearedOnlyForTheSameSizeAndOnlyOnceFree) {
    PlanePool& pool = PlanePool::instance();
    const float* first;
    {
        ImagePlane plane = filledPlane(64, 32, 7.0f);
        first = plane.readable();
        ImagePlane copy = plane;  // shares the buffer: releasing one copy keeps it
        plane = ImagePlane();
        ImagePlane other = filledPlane(64, 32, 3.0f);
        EXPECT_NE(other.readable(), first);
        EXPECT_EQ(copy.readable()[100], 7.0f);
    }
    // Both released now; a plane of another size does not take them.
    ImagePlane smaller = filledPlane(32, 32, 1.0f);
    EXPECT_NE(smaller.readable(), first);
    const std::size_t reused = pool.reused();
    ImagePlane again(Box(10, 20, 74, 52), false, Mask_RGBA);  // same size, other box and layout
    again.makeWritable();
    EXPECT_EQ(pool.reused(), reused + 1);
    EXPECT_TRUE(allZero(again));
}

TEST(PlanePool, AWriterOfEveryPixelSparesTheClearAndNothingClearsWhatItWrote) {
    { ImagePlane old = filledPlane(48, 16, 9.0f); }
    ImagePlane plane(Box(0, 0, 48, 16), true, Mask_RGBA);
    plane.makeWritable();
    const ImagePlane reader = plane;
    float* p = plane.overwritable();
    EXPECT_EQ(p[3], 9.0f);  // the old plane's pixels, not cleared
    std::fill(p, p + plane.sizeInFloats(), 2.0f);
    EXPECT_EQ(reader.at(47, 15, 3), 2.0f);
    EXPECT_EQ(plane.writable(), p);
    EXPECT_EQ(plane.readable()[0], 2.0f);
}

TEST(PlanePool, HoldsNoMoreThanItsCapacityOldestFreedFirst) {
    PlanePool& pool = PlanePool::instance();
    const std::size_t saved = pool.capacity();
    pool.setCapacity(0);
    EXPECT_EQ(pool.heldBytes(), 0u);
    const std::size_t bytes = 100 * 100 * 4 * sizeof(float);
    pool.setCapacity(2 * bytes);
    {
        ImagePlane a = filledPlane(100, 100, 1.0f), b = filledPlane(100, 100, 2.0f);
        ImagePlane c = filledPlane(100, 100, 3.0f);
    }
    EXPECT_EQ(pool.heldBytes(), 2 * bytes);
    // Too large to keep at all.
    filledPlane(300, 300, 1.0f);
    EXPECT_EQ(pool.heldBytes(), 2 * bytes);
    const std::size_t reused = pool.reused();
    ImagePlane a = filledPlane(100, 100, 0.0f), b = filledPlane(100, 100, 0.0f);
    ImagePlane c = filledPlane(100, 100, 0.0f);
    EXPECT_EQ(pool.reused(), reused + 2);
    EXPECT_EQ(pool.heldBytes(), 0u);
    pool.setCapacity(saved);
}

// SPDX-License-Identifier: Apache-2.0
#include "kiln/Image.h"

#include <gtest/gtest.h>

#include <vector>

#include "KilnTestUtil.h"
#include "kiln/AutoContextThreadBinder.h"
#include "kiln/Exception.h"
#include "kiln/KilnLibrary.h"

using namespace Kiln;
using KilnTest::get;
using KilnTest::set;

namespace {
const Info kRgbaF{{10, 20, 37, 45}, 4, Pixel::ComponentType::Float};
}

TEST(Image, AllocationKeepsRowsAlignedAndRejectsBadRequests) {
    const Image image(kRgbaF, nullptr, LayoutSpec{128, 16, 16}, Image::kClearOnAllocate, "texture");
    EXPECT_EQ(image.rowBytes() % 128, 0);
    EXPECT_GE(image.rowBytes(), 27 * 16);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image.origin()) % 128, 0u);
    EXPECT_EQ(get(image, 36, 44, 3), 0.0);

    EXPECT_THROW(Image({{0, 0, 4, 4}, 5, Pixel::ComponentType::Float}, nullptr), ImageError);
    EXPECT_THROW(Image({{0, 0, 0, 4}, 1, Pixel::ComponentType::Float}, nullptr), ImageError);
    EXPECT_THROW(Image(kRgbaF, nullptr, {}, 0, "scratch"), DeviceError);
    EXPECT_THROW(Image().clear(), ImageError);
#if !defined(__SANITIZE_ADDRESS__)  // its allocator reports a request this size as an error
    // More than any address space holds (2^30 x 2^20 pixels of 16 bytes): a renderer tells the
    // user what was too large instead of failing on some other error.
    EXPECT_THROW(Image({{0, 0, 1 << 30, 1 << 20}, 4, Pixel::ComponentType::Float}, nullptr),
                 OutOfMemoryError);
#endif
}

TEST(Image, CopiesShareSameMemoryAndClearZeroesEveryComponent) {
    std::mt19937 rng(11);
    Image image = KilnTest::randomImage(kRgbaF, rng);
    const Image alias = image;
    set(image, 12, 30, 2, 5.5);
    EXPECT_EQ(get(alias, 12, 30, 2), 5.5);
    image.clear();
    for (int y = kRgbaF.box.y0; y < kRgbaF.box.y1; ++y)
        for (int x = kRgbaF.box.x0; x < kRgbaF.box.x1; ++x)
            for (int c = 0; c < 4; ++c) ASSERT_EQ(get(alias, x, y, c), 0.0) << x << "," << y;
}

TEST(Image, CopyFromWritesOnlyTheCommonPixels) {
    std::mt19937 rng(12);
    const Image source =
        KilnTest::randomImage({{0, 0, 20, 30}, 4, Pixel::ComponentType::Float}, rng);
    Image target = KilnTest::randomImage(kRgbaF, rng);
    const Image before = target.distributeTo(target.device());
    target.copyFrom(source);
    for (int y = kRgbaF.box.y0; y < kRgbaF.box.y1; ++y)
        for (int x = kRgbaF.box.x0; x < kRgbaF.box.x1; ++x) {
            const Image& expected = source.box().contains(x, y) ? source : before;
            ASSERT_EQ(get(target, x, y, 1), get(expected, x, y, 1)) << x << "," << y;
        }
    const Image grey({{0, 0, 20, 30}, 1, Pixel::ComponentType::Float}, nullptr);
    EXPECT_THROW(target.copyFrom(grey), ImageError);
}

TEST(Image, TranslateMovesTheBoxOverTheSamePixels) {
    std::mt19937 rng(13);
    const Image image = KilnTest::randomImage(kRgbaF, rng);
    const Image moved = image.translate(-10, 5);
    EXPECT_EQ(moved.box(), (Box{0, 25, 27, 50}));
    EXPECT_EQ(moved.origin(), image.origin());
    EXPECT_EQ(get(moved, 3, 30, 1), get(image, 13, 25, 1));
}

TEST(Image, TileIndexCountsTilesRowMajorFromTheBoxCorner) {
    // 27 x 25 pixels in 8 x 10 tiles: 4 tiles across, 3 down.
    const Image image(kRgbaF, nullptr, LayoutSpec{64, 8, 10});
    EXPECT_EQ(image.tileIndexFromPixel(10, 20), 0u);
    EXPECT_EQ(image.tileIndexFromPixel(17, 20), 0u);
    EXPECT_EQ(image.tileIndexFromPixel(18, 20), 1u);
    EXPECT_EQ(image.tileIndexFromPixel(36, 29), 3u);
    EXPECT_EQ(image.tileIndexFromPixel(10, 30), 4u);
    EXPECT_EQ(image.tileIndexFromPixel(36, 44), 11u);
    EXPECT_FALSE(image.tileIndexFromPixel(37, 44));
    EXPECT_FALSE(image.tileIndexFromPixel(10, 19));
    EXPECT_FALSE(Image().tileIndexFromPixel(0, 0));
}

TEST(Image, CallerOwnedTileIsReadAndWrittenInPlace) {
    // 3 x 2 pixels of 2 unsigned ints, rows padded to 8 components.
    std::vector<std::uint32_t> memory(16, 7);
    Tile tile{{{5, 5, 8, 7}, 2, Pixel::ComponentType::UnsignedInt}, memory.data(), 32};
    Image image(tile);
    EXPECT_TRUE(image.callerOwned());
    EXPECT_EQ(get(image, 7, 6, 1), 7.0);
    image.clear();
    EXPECT_EQ(memory[8 + 5], 0u);
    EXPECT_EQ(memory[6], 7u) << "row padding must stay untouched";

    const Image copy = image.distributeTo(KilnLibrary::GetCurrentCPUContext()->device());
    EXPECT_FALSE(copy.callerOwned());
    tile.rowBytes = 16;
    EXPECT_THROW(Image{tile}, ImageError);
}

TEST(Image, ThreadBinderPicksTheDeviceOfNewImagesAndNests) {
    EXPECT_FALSE(KilnLibrary::GetThreadContext());

    const Compute::ContextPtr context = KilnLibrary::GetCurrentCPUContext();
    {
        AutoContextThreadBinder outer(context);
        {
            AutoContextThreadBinder inner(nullptr);
            EXPECT_FALSE(KilnLibrary::GetThreadContext());
        }
        EXPECT_EQ(KilnLibrary::GetThreadContext(), context);
        EXPECT_EQ(Image(kRgbaF, nullptr).device(), context->device());
    }
    EXPECT_FALSE(KilnLibrary::GetThreadContext());
}

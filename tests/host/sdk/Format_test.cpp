// SPDX-License-Identifier: Apache-2.0
#include "px/image/Format.h"

#include <string>

#include <gtest/gtest.h>

using PX::Image::Box;
using PX::Image::Format;

TEST(Format, KnownFormatsStartWithTheLatLongDefault) {
    const Format* latLong = nullptr;
    const std::vector<Format> formats = Format::formats();  // a copy: keep it while pointing in
    for (const Format& f : formats)
        if (f.name() == "2K_LatLong") latLong = &f;
    ASSERT_NE(latLong, nullptr);
    EXPECT_EQ(latLong->width(), 2048);
    EXPECT_EQ(latLong->height(), 1024);
    EXPECT_EQ(latLong->pixel_aspect(), 1.0);
    EXPECT_EQ(latLong->box(), Box(0, 0, 2048, 1024));
    ASSERT_NE(Format::find("2K_LatLong"), nullptr);
    EXPECT_EQ(*Format::find("2K_LatLong"), *latLong);
    EXPECT_EQ(Format::find("no such format"), nullptr);
}

TEST(Format, AddReturnsAnEqualKnownFormatInsteadOfADuplicate) {
    // The list lives as long as the process: a new name on every run of this test.
    static int s_run = 0;
    const std::string name = "test_anamorphic_" + std::to_string(s_run++);
    const size_t before = Format::formats().size();
    const Format& added = Format::add(Format(1000, 500, 2.0, name));
    EXPECT_EQ(Format::formats().size(), before + 1);
    EXPECT_EQ(&Format::add(Format(1000, 500, 2.0, name)), &added);
    EXPECT_EQ(Format::formats().size(), before + 1);
    EXPECT_EQ(Format::find(name), &added);
    EXPECT_TRUE(Format().isEmpty());
}

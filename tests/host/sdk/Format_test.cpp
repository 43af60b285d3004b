// SPDX-License-Identifier: Apache-2.0
#include "px/image/Format.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

using PX::Image::Format;

TEST(Format, FindAndAddReturnTheKnownFormatInsteadOfADuplicate) {
    ASSERT_NE(Format::find("2K_LatLong"), nullptr);
    EXPECT_EQ(Format::find("no such format"), nullptr);

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

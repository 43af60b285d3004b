// SPDX-License-Identifier: Apache-2.0
#include "px/image/Hash.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using PX::Image::Hash;

namespace {

/// The hash of `values` appended in order.
template <typename... T>
Hash of(const T&... values) {
    Hash h;
    (h.append(values), ...);
    return h;
}

}  // namespace

// Hash values name disk cache entries and are saved with scripts, so a change of any of these
// values breaks both. They were computed once and must never change.
TEST(Hash, ValuesAreTheSameOnEveryRunAndMachine) {
    Hash h;
    EXPECT_EQ(h.value(), 1u);

    h.append(42);
    EXPECT_EQ(h.value(), 0x8d8d90ab01a1965full);
    h.append(-7ll);
    h.append(1.5f);
    h.append(2.25);
    h.append(true);
    EXPECT_EQ(h.value(), 0x4e5c847094dafb5dull);
    h.append("stitch_map.u");
    h.append(std::string("2K_LatLong"));
    EXPECT_EQ(h.value(), 0x4b651ed69adf8d4eull);

    std::vector<unsigned char> bytes(67);  // eight whole words and a 3-byte tail
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 13);
    Hash block;
    block.append(bytes.data(), bytes.size());
    EXPECT_EQ(block.value(), 0x58d47ab09c233ce9ull);

    h.append(block);
    EXPECT_EQ(h.value(), 0x9d3303f917d193a1ull);
    h.reset();
    EXPECT_EQ(h, Hash());
}

TEST(Hash, OrderBoundariesAndWidthsOfAppendsMatterButNotTheSignOfZero) {
    EXPECT_NE(of(1, 2), of(2, 1));
    EXPECT_NE(of("abc"), of("ab", "c"));
    EXPECT_NE(of(""), Hash()) << "an empty append is still an append";
    EXPECT_NE(of(5), of(5ll)) << "the same value at different widths is a different input";

    EXPECT_EQ(of(0.0), of(-0.0));
    EXPECT_EQ(of(0.0f), of(-0.0f));
    EXPECT_NE(of(1.0), of(1.0 + 1e-15));

    // Appending a hash appends its value.
    EXPECT_EQ(of(of("node A")), of(of("node A")));
    EXPECT_NE(of(of("node A")), of(of("node B")));
}

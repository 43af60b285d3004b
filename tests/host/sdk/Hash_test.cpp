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

TEST(Hash, EveryByteOfABlockCountsAndResetStartsAfresh) {
    std::vector<unsigned char> bytes(67);  // eight whole words and a 3-byte tail
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 13);
    const auto block = [&bytes] {
        Hash h;
        h.append(bytes.data(), bytes.size());
        return h;
    };
    const Hash original = block();
    for (size_t flipped : {3u, 66u}) {
        bytes[flipped] ^= 1;
        EXPECT_NE(block(), original) << "byte " << flipped;
        bytes[flipped] ^= 1;
    }
    EXPECT_EQ(block(), original);
    Hash h = of(42, 1.5f, "stitch_map.u", original);
    EXPECT_NE(h, Hash());
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

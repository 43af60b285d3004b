// SPDX-License-Identifier: Apache-2.0
#include "px/image/Hash.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using PX::Image::Hash;

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
}

TEST(Hash, OrderAndBoundariesOfAppendsMatter) {
    Hash ab, ba;
    ab.append(1);
    ab.append(2);
    ba.append(2);
    ba.append(1);
    EXPECT_NE(ab, ba);

    Hash whole, split, empty;
    whole.append("abc");
    split.append("ab");
    split.append("c");
    EXPECT_NE(whole, split);

    empty.append("");
    EXPECT_NE(empty, Hash()) << "an empty append is still an append";

    // The same value at different widths is a different input.
    Hash narrow, wide;
    narrow.append(5);
    wide.append(5ll);
    EXPECT_NE(narrow, wide);
}

TEST(Hash, EqualNumbersHashEqual) {
    Hash pz, nz;
    pz.append(0.0);
    nz.append(-0.0);
    EXPECT_EQ(pz, nz);

    Hash pzf, nzf;
    pzf.append(0.0f);
    nzf.append(-0.0f);
    EXPECT_EQ(pzf, nzf);

    Hash one, other;
    one.append(1.0);
    other.append(1.0 + 1e-15);
    EXPECT_NE(one, other);
}

TEST(Hash, AppendingAHashFollowsItsValue) {
    Hash a, b, c;
    a.append("node A");
    b.append("node A");
    c.append("node B");

    Hash fromA, fromB, fromC;
    fromA.append(a);
    fromB.append(b);
    fromC.append(c);
    EXPECT_EQ(fromA, fromB);
    EXPECT_NE(fromA, fromC);

    a.reset();
    EXPECT_EQ(a, Hash());
}

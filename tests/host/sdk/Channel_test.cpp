// SPDX-License-Identifier: Apache-2.0
#include "px/image/Channel.h"

#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using namespace PX::Image;

TEST(Channel, StandardChannelsAndShortRgbaAliases) {
    EXPECT_EQ(getChannel("stitch_map", "u"), Chan_StitchMap_U);
    EXPECT_EQ(getChannel("stitch_map.v"), Chan_StitchMap_V);
    EXPECT_EQ(getLayerName(Chan_StitchMap_U), "stitch_map");
    EXPECT_EQ(getChannelName(Chan_StitchMap_V), "v");
    EXPECT_EQ(getName(Chan_Black), "black");
    EXPECT_EQ(getName(100000), "") << "a number never handed out";
    EXPECT_EQ(getChannel("rgba", "g"), Chan_Green);
    EXPECT_EQ(getChannel("rgb.b"), Chan_Blue);
    EXPECT_EQ(getChannel("alpha"), Chan_Alpha);
    EXPECT_EQ(getName(getChannel("rgba.r")), "rgba.red");
}

TEST(Channel, OtherChannelsAreMadeOnFirstUseAndKeepTheirNumber) {
    const Channel x = getChannel("layer_xyz_", "x");
    EXPECT_GT(x, Chan_StitchMap_V);
    EXPECT_EQ(getChannel("layer_xyz_.x"), x);
    EXPECT_EQ(getChannel("layer_xyz_", "x"), x);
    EXPECT_NE(getChannel("layer_xyz_", "y"), x);
    EXPECT_EQ(getName(x), "layer_xyz_.x");
    EXPECT_EQ(getChannel("depth"), getChannel("other.depth")) << "bare names go to other";

    // A layer name may hold dots; the channel name is what follows the last one.
    const Channel dotted = getChannel("a.b", "c");
    EXPECT_EQ(getChannel("a.b.c"), dotted);
    EXPECT_EQ(getLayerName(dotted), "a.b");

    EXPECT_EQ(getChannel(""), Chan_Black);
    EXPECT_EQ(getChannel("mask_occlusion", ""), Chan_Black);
    EXPECT_EQ(getChannel("mask_occlusion."), Chan_Black);
}

TEST(Channel, ThreadsAskingForOneNewNameGetOneNumber) {
    std::vector<Channel> got(8);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < got.size(); ++t)
        threads.emplace_back([&got, t] { got[t] = getChannel("ppass_map", "raced"); });
    for (auto& t : threads) t.join();
    for (Channel c : got) EXPECT_EQ(c, got[0]);
}

TEST(ChannelSet, InsertEraseAndContainsInEveryStorageWord) {
    ChannelSet s;
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(s.first(), Chan_Black);
    s.insert(Chan_Blue);
    s.insert(Chan_Red);
    s.insert(Chan_Red);
    s.insert(Chan_Black);  // "no channel" is never a member
    EXPECT_EQ(s.size(), 2u);
    EXPECT_TRUE(s.contains(Chan_Red));
    EXPECT_FALSE(s.contains(Chan_Green));
    EXPECT_FALSE(s.contains(Chan_Black));
    EXPECT_FALSE(s.contains(1000)) << "far beyond the set's storage";
    EXPECT_TRUE(Mask_RGBA.contains(s));
    EXPECT_FALSE(s.contains(Mask_RGBA));

    s.erase(Chan_Red);
    s.erase(Chan_Green);  // absent: no effect
    EXPECT_EQ(s, ChannelSet{Chan_Blue});

    ChannelSet high{Chan_Red, 63, 64, 200};
    EXPECT_EQ(high.channels(), (std::vector<Channel>{Chan_Red, 63, 64, 200}));
    EXPECT_EQ(high.chanNo(64), 2);
    EXPECT_EQ(high.chanNo(65), -1);
    // Sets equal in members are equal however they were built.
    high.erase(200);
    high.erase(64);
    high.erase(63);
    EXPECT_EQ(high, ChannelSet(Chan_Red));
}

TEST(ChannelSet, SetAlgebraInEveryStorageWord) {
    EXPECT_EQ((ChannelSet{Chan_Red, 200} & ChannelSet{Chan_Red, 130}), ChannelSet(Chan_Red));
    EXPECT_EQ((ChannelSet{Chan_Red, 200} - ChannelSet{200}), ChannelSet(Chan_Red));
    const ChannelSet rgba = Mask_RGBA;
    const ChannelSet mixed{Chan_Alpha, Chan_StitchMap_U};
    EXPECT_EQ(rgba & mixed, ChannelSet(Chan_Alpha));
    EXPECT_EQ(rgba - mixed, Mask_RGB);
    EXPECT_EQ(mixed - rgba, ChannelSet(Chan_StitchMap_U));
    EXPECT_EQ((rgba | mixed).size(), 5u);
    EXPECT_TRUE((Mask_RGB & Mask_StitchMap).empty());
}

TEST(ChannelSet, IterationAndTextFollowChannelOrder) {
    const ChannelSet s{Chan_StitchMap_V, Chan_Alpha, Chan_Red, Chan_StitchMap_U};
    EXPECT_EQ(s.channels(),
              (std::vector<Channel>{Chan_Red, Chan_Alpha, Chan_StitchMap_U, Chan_StitchMap_V}));
    EXPECT_EQ(s.chanNo(Chan_StitchMap_U), 2);
    EXPECT_EQ(s.text(), "rgba.red rgba.alpha stitch_map.u stitch_map.v");
    EXPECT_EQ(ChannelSet().text(), "none");

    std::ostringstream os;
    os << Mask_StitchMap;
    EXPECT_EQ(os.str(), "stitch_map.u stitch_map.v");

    std::vector<Channel> visited;
    for (Channel c : Mask_RGBA) visited.push_back(c);
    EXPECT_EQ(visited, (std::vector<Channel>{Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha}));
}

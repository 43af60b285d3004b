// SPDX-License-Identifier: Apache-2.0
#include "analysis/ControlPointsKnob.h"

#include <gtest/gtest.h>

#include <string>

#include "../TestRigSource.h"
#include "StoreTestSupport.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "plugin/KnobManager.h"

using namespace PX::Image;
using namespace Korvane::Research;

namespace {

class ControlPoints : public NodeTests::DetachedStoreTest {};

FeatureTrack match(std::initializer_list<std::pair<int, Eigen::Vector2d>> observations) {
    FeatureTrack t;
    for (const auto& o : observations) t.getFeatures().emplace_back(o.first, Feature(o.second));
    return t;
}

Hash hashOf(const ControlPointsKnob& k) {
    Hash h;
    k.append(h, nullptr);
    return h;
}

}  // namespace

TEST_F(ControlPoints, WritesVersion2WithUnsetPointsAsMinusOneAndReadsItBack) {
    ControlPointsKnob store(nullptr, "controlPoints");
    EXPECT_EQ(store.toScriptText(), "version 2\nframes 0\n");
    std::ostringstream q;
    store.to_script(q, nullptr, true);
    EXPECT_EQ(q.str(), "\"\nversion 2\nframes 0\n\"");

    FeatureTrack user = match({{0, {10.5, 20}}, {2, {-3, 4.25}}});
    user.setUserTrack(true);
    user.setColour({1, 0.5, 0});
    user.setPoint(Point({1, -2, 30}, 0.75));
    store.cameraTrackAt(40).getTracks().push_back(user);
    store.cameraTrackAt(10).getTracks().push_back(match({{1, {5, 6}}, {0, {7, 8}}}));
    const std::string text =
        "version 2\nframes 2\n"
        "Frame 10 tracks 1\n  2 1 5 6 0 7 8 0 1 1 1 -1 0 0 0 \n"
        "Frame 40 tracks 1\n  2 0 10.5 20 2 -3 4.25 1 1 0.5 0 0.75 1 -2 30 \n";
    EXPECT_EQ(store.toScriptText(), text);

    ControlPointsKnob back(nullptr, "controlPoints");
    ASSERT_TRUE(back.from_script(text.c_str())) << back.error();
    EXPECT_EQ(back.toScriptText(), text);
    const FeatureTrack& unset = back.cameraTrackAt(10).getTracks().at(0);
    EXPECT_FALSE(unset.getPoint().getIsValid());
    EXPECT_EQ(unset.getPoint().getRMSE(), -1.0);
    EXPECT_EQ(unset.getFeatures().at(0).first, 1);
    const FeatureTrack& loaded = back.cameraTrackAt(40).getTracks().at(0);
    EXPECT_TRUE(loaded.getIsUserTrack());
    EXPECT_TRUE(loaded.getPoint().getIsValid());
    EXPECT_EQ(loaded.getPoint().getPosition(), Eigen::Vector3d(1, -2, 30));
    EXPECT_EQ(loaded.getFeatures().at(1).second.getPosition(), Eigen::Vector2d(-3, 4.25));
}

TEST_F(ControlPoints, ReadsVersion1AndMergesBlocksOfTheSameFrame) {
    ControlPointsKnob store(nullptr, "controlPoints");
    ASSERT_TRUE(
        store.from_script("version 1 frames 2 Frame 5 tracks 1 2 0 1 2 1 3 4 "
                          "Frame 5 tracks 2 2 0 9 9 1 9 9 3 0 0 0 1 1 1 2 2 2"))
        << store.error();
    EXPECT_EQ(store.frameCount(), 1);
    const CameraTrack& frame5 = store.cameraTrackAt(5);
    EXPECT_EQ(frame5.getFrame(), 5);
    ASSERT_EQ(frame5.getTracks().size(), 3u);
    EXPECT_EQ(frame5.getTracks()[2].getFeatures().size(), 3u);
    const FeatureTrack defaults;
    EXPECT_EQ(frame5.getTracks()[0].getIsUserTrack(), defaults.getIsUserTrack());
    EXPECT_EQ(frame5.getTracks()[0].getColour(), defaults.getColour());
    EXPECT_FALSE(frame5.getTracks()[0].getPoint().getIsValid());
    // Written back as version 2.
    EXPECT_EQ(store.toScriptText().rfind("version 2\n", 0), 0u);
}

TEST_F(ControlPoints, RefusedTextsLeaveTheDocumentedState) {
    const std::string good = "version 2 frames 2 Frame 3 tracks 1 1 0 1 1 0 1 1 1 -1 0 0 0 ";
    struct Case {
        std::string text;
        int matchesLeft;  // -1: the earlier content is untouched
    };
    const Case cases[] = {
        {"version 3 frames 0", -1},
        {"versio 2 frames 0", -1},
        {"version 2 Frames 0", -1},
        {"version 2 frames -1", -1},
        {"version 2 frames 1000000000", -1},
        {good + "frame 4 tracks 0", 1},
        {good + "Frame 4 tracks -2", 1},
        {good + "Frame 4 tracks 2000000000 0", 1},
        {good + "Frame 4 tracks 1 -1", 1},
        {good + "Frame 4 tracks 1 2000000000 0 1 1", 1},
        {good + "Frame 4 tracks 1 1 -1 1 1 0 1 1 1 -1 0 0 0", 1},
        {good + "Frame 4 tracks 1 1 0 nan 1 0 1 1 1 -1 0 0 0", 1},
        {good + "Frame 4 tracks 1 1 0 1 1 0 1 1 1 -1 0 0", 1},  // truncated point
        {good + "Frame 4 tracks 2 1 0 1 1 0 1 1 1 -1 0 0 0 ", 1},
        {good, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ControlPointsKnob store(nullptr, "controlPoints");
        store.cameraTrackAt(1).getTracks().resize(5);
        int changes = 0;
        countChanges(store, changes);
        EXPECT_FALSE(store.from_script(c.text.c_str()));
        EXPECT_FALSE(store.error().empty());
        EXPECT_EQ(changes, 0);
        if (c.matchesLeft < 0) {
            EXPECT_EQ(store.cameraTrackAt(1).getTracks().size(), 5u);
        } else {
            EXPECT_EQ(store.findCameraTrack(1), nullptr) << "the records were deleted first";
            ASSERT_NE(store.findCameraTrack(3), nullptr);
            EXPECT_EQ(store.findCameraTrack(3)->getTracks().size(), size_t(c.matchesLeft));
        }
    }
}

// A partial read says what it kept, and a save of it is never read back as whole.
TEST_F(ControlPoints, APartialReadStaysMarkedIncompleteUntilTheStoreIsRedone) {
    const std::string block = "Frame 3 tracks 1 1 0 1 1 0 1 1 1 -1 0 0 0 ";
    ControlPointsKnob store(nullptr, "controlPoints");
    EXPECT_FALSE(store.from_script(("version 2 frames 1 " + block + block).c_str()));
    EXPECT_EQ(store.error(),
              "knob 'controlPoints': the count says 1 frame block(s) but more text follows; the "
              "store keeps what was read before: 1 key(s) with 1 match(es), and a save marks it "
              "incomplete");
    ASSERT_TRUE(store.incomplete());
    const std::string saved = store.toScriptText();
    EXPECT_EQ(saved.substr(saved.size() - 11), "incomplete\n");

    ControlPointsKnob again(nullptr, "controlPoints");
    EXPECT_FALSE(again.from_script(saved.c_str()));
    EXPECT_NE(again.error().find("saved from an incomplete read"), std::string::npos);
    EXPECT_EQ(again.findCameraTrack(3)->getTracks().size(), 1u) << "what it holds is kept";
    EXPECT_EQ(again.toScriptText(), saved) << "and saved again as incomplete";

    again.clearCameraTracks();
    EXPECT_FALSE(again.incomplete());
    EXPECT_TRUE(again.from_script("version 2 frames 0"));
    EXPECT_EQ(again.toScriptText(), "version 2\nframes 0\n");
}

TEST_F(ControlPoints, HashCountsTheMatchesOfEachFrameNotTheirContent) {
    ControlPointsKnob store(nullptr, "controlPoints");
    const Hash empty = hashOf(store);
    store.cameraTrackAt(10).getTracks().push_back(match({{0, {1, 1}}}));
    const Hash one = hashOf(store);
    EXPECT_NE(one, empty);
    store.cameraTrackAt(10).getTracks()[0].getFeatures()[0].second.setPosition({5, 5});
    EXPECT_EQ(hashOf(store), one);
    store.cameraTrackAt(20);
    EXPECT_NE(hashOf(store), one) << "an empty frame counts as 0 matches";
    store.clearCameraTracks();
    EXPECT_EQ(hashOf(store), empty);
    EXPECT_EQ(store.findCameraTrack(10), nullptr);
}

TEST(ControlPointsOnTheNode, AFailedReadSetsIsMatchedByWhatItKept) {
    NodeTests::RigFixture f({"main", "cam1", "cam2"}, 2);
    KnobManager& knobs = f.op()->knobManager();
    ControlPointsKnob* store = knobs.controlPoints();
    ASSERT_TRUE(f.node->knob("isMatched")->from_script("true"));
    EXPECT_FALSE(store->from_script("version 2 frames 2 Frame 3 tracks 0 Frame"));
    EXPECT_EQ(f.node->knob("isMatched")->toScriptText(), "false");
    EXPECT_FALSE(
        store->from_script("version 2 frames 2 Frame 3 tracks 1 1 0 1 1 0 1 1 1 -1 0 0 0"));
    EXPECT_EQ(f.node->knob("isMatched")->toScriptText(), "true");
}

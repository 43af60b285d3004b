// SPDX-License-Identifier: Apache-2.0
// Constraint tracking through the host's execute: which frames get keys for a given life and
// step, which rows are tracked, unreadable frames, cancel, and the undo step of each frame.
#include "constraints/ConstraintTracker.h"

#include <cmath>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include <gtest/gtest.h>
#include <QWidget>

#include "../../libs/slib/TrackingTexture.h"
#include "../NodeFixture.h"
#include "../QtApplication.h"
#include "../TestHost.h"
#include "../TestRigSource.h"
#include "constraints/ConstraintsKnob.h"
#include "external/RigLibrary.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/ArrayKnob.h"
#include "px/image/Executable.h"
#include "px/image/Host.h"
#include "px/image/UndoStack.h"

using namespace PX::Image;
using namespace Korvane::Research;
using Korvane::SLIB::Context;
using PointKey = Korvane::SLIB::Feature;

namespace {

constexpr int kWidth = 200, kHeight = 150;

using TrackingTests::texture;

/// Every camera view shows the texture sliding by `velocity[view]` pixels a frame from frame 1;
/// frames in `unreadable` have no colour channels.
class MovingSource : public NodeTests::TestRigSource {
public:
    using TestRigSource::TestRigSource;
    const char* Class() const override { return "MovingTestSource"; }
    void _validate(bool forReal) override {
        TestRigSource::_validate(forReal);
        const int frame = int(std::lround(outputContext().frame()));
        if (unreadable.count(frame)) info_().channels(ChannelSet());
        if (frame >= halfSizeFrom) {
            const Format half(width / 2, height / 2);
            info_().set(Box(0, 0, half.width(), half.height()));
            info_().format(half);
            info_().full_size_format(half);
        }
    }
    void renderPlane(ImagePlane& plane) override {
        const Eigen::Vector2d d = shift(outputContext().view(), outputContext().frame());
        const Box& b = plane.bounds();
        for (int y = b.y(); y < b.t(); ++y)
            for (int x = b.x(); x < b.r(); ++x) {
                // Side by side: the left part of the file moves as cam1, the rest as cam2.
                const Eigen::Vector2d e =
                    splitAt > 0 ? shift(x < splitAt ? 1 : 2, outputContext().frame()) : d;
                const float v = float(texture(x + 0.5 - e.x(), y + 0.5 - e.y()));
                for (Channel c : plane.channels())
                    *plane.writableAt(x, y, plane.chanNo(c)) = c == Chan_Alpha ? 1.0f : v;
            }
    }
    Eigen::Vector2d shift(int view, double frame) const {
        auto it = velocity.find(view);
        if (it == velocity.end()) return Eigen::Vector2d::Zero();
        return it->second * (frame - 1.0);
    }

    std::map<int, Eigen::Vector2d> velocity;
    std::set<int> unreadable;
    /// From this frame on every view is half as large.
    int halfSizeFrom = 1 << 30;
    /// Above 0: every view shows one file holding both cameras side by side, split here.
    int splitAt = 0;
};

Op* buildMovingSource(Node* node) { return new MovingSource(node); }
const Op::Description kMovingSource("MovingTestSource", buildMovingSource);

class ConstraintTrackerTest : public ::testing::Test {
protected:
    void SetUp() override {
        NodeTests::ensureQtApplication();
        f = std::make_unique<NodeTests::NodeFixture<MovingSource>>(
            std::vector<std::string>{"main", "cam1", "cam2"},
            "MovingTestSource",
            [this](MovingSource& s) {
                s.width = kWidth;
                s.height = kHeight;
                s.lastFrame = 60;
                s.setRig(2);
                s.velocity[cam1] = {2.5, -1.25};
                s.velocity[cam2] = {-3.0, 0.75};
            });
        node = f->node.get();
        f->validate("main");
        knob = static_cast<ConstraintsKnob*>(node->knob("constraints"));
        panel.reset(knob->make_widget({}));
        node->setKnobFromUser("executeType", "3");
        node->setKnobFromUser("trackingStep", "5");
    }
    void TearDown() override {
        panel.reset();
        f.reset();
        UndoStack::instance().clear();
    }

    MovingSource& src() const { return *f->sourceOp(); }
    DizuvaRuviPlugin* op() const { return f->op(); }

    /// A constraint living from `start` to `end` with points keyed at `start`, selected.
    int addRow(int start, int end, const std::vector<std::pair<int, Eigen::Vector2d>>& points) {
        EXPECT_TRUE(knob->addConstraint(start, end));
        const int row = knob->constraintCount() - 1;
        for (const auto& [view, p] : points) {
            PointTrack track;
            track.setKey(Context(start, view), PointKey(p.x(), p.y()));
            knob->trackSet(row)->views()[view].push_back(track);
        }
        knob->refreshViews(row);
        return row;
    }
    std::vector<int> keyFrames(int row, int k) const {
        std::vector<int> frames;
        for (const auto& key : knob->trackSet(row)->point(k)->keys())
            frames.push_back(key.first.frame);
        return frames;
    }
    /// Where point k of `row` truly is at `frame`, from its key at `from`.
    Eigen::Vector2d truth(int row, int k, int from, int frame) const {
        int view = 0;
        const PointTrack* t = knob->trackSet(row)->point(k, &view);
        const PointKey* f = t->find(Context(from, view));
        return Eigen::Vector2d(f->x, f->y) + src().shift(view, frame) - src().shift(view, from);
    }
    ExecuteResult run(int first, int last) {
        std::vector<int> frames;
        for (int f = first; f <= last; ++f) frames.push_back(f);
        return execute(op(), frames);
    }

    const int cam1 = 1, cam2 = 2;  // host views of "cam1" and "cam2"
    std::unique_ptr<NodeTests::NodeFixture<MovingSource>> f;
    Node* node = nullptr;
    ConstraintsKnob* knob = nullptr;
    std::unique_ptr<QWidget> panel;
    NodeTests::TestHost host;
};

// Which rows are tracked (selected and enabled) is the tracking end-to-end test's.
TEST_F(ConstraintTrackerTest, KeysOnStepFramesWithinEachRowsLife) {
    const int tracked = addRow(10, 30, {{cam1, {60.3, 70.6}}, {cam1, {120, 50}}, {cam2, {90, 80}}});
    const int single = addRow(12, 12, {{cam1, {80, 80}}});
    knob->clearSelection();
    for (int row : {tracked, single}) knob->selectRow(row, false);

    const ExecuteResult result = run(1, 40);
    EXPECT_TRUE(result.error.empty()) << result.error;
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(keyFrames(tracked, k), (std::vector<int>{10, 15, 20, 25, 30})) << k;
        for (int f : {15, 20, 25, 30}) {
            int view = 0;
            const PointKey* key = knob->trackSet(tracked)->point(k, &view)->find(Context(f, view));
            const Eigen::Vector2d want = truth(tracked, k, 10, f);
            EXPECT_NEAR(key->x, want.x(), 0.05) << k << " at " << f;
            EXPECT_NEAR(key->y, want.y(), 0.05) << k << " at " << f;
        }
    }
    EXPECT_EQ(keyFrames(single, 0), (std::vector<int>{12}));
    // Only the frames with work run: 10 (the start), 12, then every step frame.
    EXPECT_EQ(result.framesRun, 6);
}

TEST_F(ConstraintTrackerTest, CamerasSharingOneFileTrackInTheirOwnWindows) {
    // One file twice as wide, cam2 reading its right half: a point of cam2 must follow the right
    // half's motion, which the left half (where its camera pixels fall in the file) does not have.
    src().width = 2 * kWidth;
    src().splitAt = kWidth;
    src().setRig(2);
    Korvane::Research::MetaDataHandler handler;
    handler.updateMetaDataBundle(src().bundle);
    Korvane::Research::CameraRigDefinition rig = handler.getRig();
    for (int c = 0; c < 2; ++c) {
        Korvane::Research::CameraDefinition camera = rig.getCamera(c);
        camera.setFormat(kWidth, kHeight);
        camera.setCropWindow(Eigen::Vector2i(c * kWidth, 0));
        rig.setCamera(c, camera);
    }
    handler.setRig(rig);
    src().bundle = handler.getMetaDataBundle();
    op()->rigContext().reloadRig(false);
    ASSERT_TRUE(op()->rigContext().rig().getCamera(1).hasCropWindow());
    const int row = addRow(10, 20, {{cam1, {60, 70}}, {cam2, {90, 80}}});
    const ExecuteResult result = run(1, 30);
    ASSERT_TRUE(result.error.empty()) << result.error;
    for (int k : {0, 1}) {
        int view = 0;
        const PointKey* key = knob->trackSet(row)->point(k, &view)->find(Context(20, view));
        ASSERT_NE(key, nullptr) << "point " << k;
        EXPECT_NEAR(key->x, truth(row, k, 10, 20).x(), 0.1) << "point " << k;
        EXPECT_NEAR(key->y, truth(row, k, 10, 20).y(), 0.1) << "point " << k;
    }
}

// What stops tracking, the message it gives, and the keys that stay (10 is the start).
TEST_F(ConstraintTrackerTest, FailuresSayWhyAndKeepTheEarlierKeys) {
    const struct {
        const char* what;
        std::function<void()> setUp;
        std::string error;
        std::vector<int> keys;
    } cases[] = {
        {"step 0", [&] { node->setKnobFromUser("trackingStep", "0"); }, "", {10}},
        {"unreadable frame",
         [&] { src().unreadable = {20}; },
         "Cannot read view 1 at frame 20!",
         {10, 15}},
        // Footage that changes size between two step frames cannot be followed.
        {"size change",
         [&] { src().halfSizeFrom = 16; },
         "Tracking failure for view 1 at frame 20!",
         {10, 15}},
        {"patch size",
         [&] { node->setKnobFromUser("trackingPatchSize", "2"); },
         "Patch Size 2 is too small to track: it must be at least 3.",
         {10}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        const int row = addRow(10, 30, {{cam1, {60, 70}}, {cam2, {90, 80}}});
        c.setUp();
        const ExecuteResult result = run(1, 40);
        EXPECT_EQ(result.error, c.error);
        if (c.error.empty()) {
            EXPECT_EQ(result.framesRun, 0) << "nothing to do, no frame runs";
        }
        for (int k : {0, 1}) EXPECT_EQ(keyFrames(row, k), c.keys) << "point " << k;
    }
}

TEST_F(ConstraintTrackerTest, CancelKeepsTheFramesDone) {
    const int row = addRow(10, 30, {{cam1, {60, 70}}});
    host.cancelWhen = [&] {
        return knob->trackSet(row)->point(0)->find(Context(20, cam1)) != nullptr;
    };
    const ExecuteResult result = run(1, 40);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(keyFrames(row, 0), (std::vector<int>{10, 15, 20}));
}

TEST_F(ConstraintTrackerTest, EachFrameIsOneUndoStep) {
    const int row = addRow(10, 20, {{cam1, {60, 70}}, {cam2, {90, 80}}});
    UndoStack::instance().clear();
    ConstraintTracker tracker(op(), &op()->rigContext(), &op()->knobManager());
    tracker.start(Format(kWidth, kHeight));
    ASSERT_EQ(tracker.rows(), (std::set<int>{row}));
    for (int f : {10, 15, 20}) {
        const OutputContext c(f, Views::find("main"));
        node->setUIContext(c);
        node->storeKnobs(c);
        ASSERT_TRUE(tracker.trackFrame()) << f;
    }
    EXPECT_EQ(UndoStack::instance().undoCount(), 2u);  // frame 10 is the start: nothing written
    EXPECT_LE(tracker.cachedImages(), 2);              // only frame 20's images are still needed
    ASSERT_TRUE(UndoStack::instance().undo());
    EXPECT_EQ(keyFrames(row, 0), (std::vector<int>{10, 15}));
    EXPECT_EQ(keyFrames(row, 1), (std::vector<int>{10, 15}));
}

TEST_F(ConstraintTrackerTest, LatlongRigFollowsPointsInThePanoramaAndKeysCameraPixels) {
    // The cameras' footage lies in the panorama; the points stay in the fisheye's pixels.
    MetaDataHandler handler;
    handler.updateMetaDataBundle(src().bundle);
    CameraRigDefinition rig = handler.getRig();
    for (int c = 0; c < rig.getNumberCameras(); ++c)
        rig.getCamera(c).setProjection(ProjectionTypeEnum::Latlong);
    handler.setRig(rig);
    src().bundle = handler.getMetaDataBundle();
    op()->rigContext().reloadRig(false);

    const Eigen::Vector2d start(110.0, 80.0);
    const int row = addRow(10, 20, {{cam1, start}});
    run(1, 30);
    ASSERT_EQ(keyFrames(row, 0), (std::vector<int>{10, 15, 20}));

    CameraDefinition fisheye = rig.getCamera(0);
    fisheye.setProjection(ProjectionTypeEnum::Fisheye);
    SphericalTransform camera(fisheye);
    camera.setOutputImageSize(kWidth, kHeight);
    camera.setConvergenceDepth(op()->knobManager().convergenceDepth());
    Eigen::Vector2d ideal;
    ASSERT_TRUE(camera.ProjectToIdeal(start, ProjectionTypeEnum::Latlong, &ideal));
    for (int f : {15, 20}) {
        Eigen::Vector2d want;
        ASSERT_TRUE(camera.ProjectFromIdeal(ideal + src().shift(cam1, f) - src().shift(cam1, 10),
                                            ProjectionTypeEnum::Latlong,
                                            &want));
        const PointKey* key = knob->trackSet(row)->point(0)->find(Context(f, cam1));
        EXPECT_NEAR(key->x, want.x(), 0.05) << f;
        EXPECT_NEAR(key->y, want.y(), 0.05) << f;
    }
}

}  // namespace

// SPDX-License-Identifier: Apache-2.0
// Matching through the node: Match and Match New over analysis keys, on the rendered rig served
// by a source operator as views cam1 .. cam4.
#include <gtest/gtest.h>

#include "NodeFixture.h"
#include "RenderedRig.h"
#include "RenderedRigSource.h"
#include "TestHost.h"
#include "analysis/AnalysisExecutor.h"
#include "analysis/ControlPointsKnob.h"
#include "analysis/GridMapKnob.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/ArrayKnob.h"
#include "px/image/Executable.h"
#include "px/image/Node.h"
#include "px/image/UndoStack.h"

using namespace Korvane::Research;
using namespace PX::Image;
using MatchingTests::RenderedRig;
using NodeTests::RenderedRigSource;

namespace {

struct MatchFixture : NodeTests::NodeFixture<RenderedRigSource> {
    MatchFixture() : NodeFixture({"main", "cam1", "cam2", "cam3", "cam4"}, "RenderedRigSource") {}
    KnobManager& knobs() { return op()->knobManager(); }
    ControlPointsKnob& store() { return *knobs().controlPoints(); }
    void prepare(int type, const std::vector<int>& frames) {
        node->setKnobFromUser("executeType", std::to_string(type));
        for (int f : frames) static_cast<ArrayKnob*>(node->knob("analysisKeyframe"))->setKeyAt(f);
    }
    ExecuteResult run(int type, std::vector<int> frames) {
        prepare(type, frames);
        return execute(node->op(), frames);
    }

    NodeTests::TestHost host;
};

FeatureTrack handPlaced() {
    FeatureTrack m;
    m.getFeatures().emplace_back(0, Feature(Eigen::Vector2d(10, 20)));
    m.getFeatures().emplace_back(1, Feature(Eigen::Vector2d(30, 40)));
    m.setUserTrack(true);
    return m;
}

}  // namespace

TEST(MatchFrame, MatchReplacesAndMatchNewFillsOnlyEmptyKeys) {
    MatchFixture f;
    UndoStack::instance().clear();
    f.store().cameraTrackAt(1).getTracks().push_back(handPlaced());
    f.store().cameraTrackAt(2);  // a record without matches

    // Match New: key 1 keeps its hand-placed match, key 2 gets matches.
    ExecuteResult r = f.run(1, {1, 2});
    EXPECT_EQ(r.error, "");
    ASSERT_EQ(f.store().findCameraTrack(1)->getTracks().size(), 1u);
    EXPECT_TRUE(f.store().findCameraTrack(1)->getTracks()[0].getIsUserTrack());
    const std::vector<FeatureTrack>& found = f.store().findCameraTrack(2)->getTracks();
    ASSERT_GE(found.size(), 50u);
    for (const FeatureTrack& m : found) {
        EXPECT_FALSE(m.getIsUserTrack());
        ASSERT_TRUE(m.getPoint().getIsValid());
        // Refined and scaled: 2048 sqrt(2) / 320 times the RMS in pixels.
        EXPECT_LT(m.getPoint().getRMSE(), 9.05 * 1.0);
    }
    EXPECT_TRUE(f.knobs().isMatched());
    EXPECT_NEAR(f.knobs().matchError(), f.store().matchError(), 1e-4);

    // Match: the hand-placed match of key 1 is replaced by computed ones; one undo step.
    f.prepare(0, {1});
    const size_t undoSteps = UndoStack::instance().undoCount();
    r = execute(f.node->op(), {1});
    EXPECT_EQ(r.error, "");
    const std::vector<FeatureTrack>& replaced = f.store().findCameraTrack(1)->getTracks();
    ASSERT_GE(replaced.size(), 50u);
    for (const FeatureTrack& m : replaced) EXPECT_FALSE(m.getIsUserTrack());
    EXPECT_EQ(UndoStack::instance().undoCount(), undoSteps + 1);
    ASSERT_TRUE(UndoStack::instance().undo());
    ASSERT_EQ(f.store().findCameraTrack(1)->getTracks().size(), 1u);
    EXPECT_TRUE(f.store().findCameraTrack(1)->getTracks()[0].getIsUserTrack());
    UndoStack::instance().clear();
}

TEST(MatchFrame, LatlongInputsGiveMatchesInCameraPixels) {
    MatchFixture f;
    f.sourceOp()->setRig(true);
    f.node->setKnobFromUser("autoConvergenceDepth", "0");
    f.node->setKnobFromUser("convergenceDepth", "5");
    const ExecuteResult r = f.run(0, {1});
    EXPECT_EQ(r.error, "");
    const std::vector<FeatureTrack>& found = f.store().findCameraTrack(1)->getTracks();
    ASSERT_GE(found.size(), 10u);
    const CameraRigDefinition& rig = RenderedRig::get().rig;
    for (const FeatureTrack& m : found) {
        // Each observation is a position in its fisheye camera whose ray meets the 5 m sphere
        // where the panorama showed the feature: the same point for every camera.
        std::vector<Eigen::Vector3d> onSphere;
        for (const auto& o : m.getFeatures()) {
            SphericalTransform camera(rig.getCamera(o.first));
            camera.setConvergenceDepth(5.0);
            Eigen::Vector3d world;
            ASSERT_TRUE(camera.ProjectToWorld(o.second.getPosition(), &world))
                << "cam" << o.first + 1 << " " << o.second.getPosition().transpose();
            onSphere.push_back(world);
        }
        for (size_t k = 1; k < onSphere.size(); ++k)
            EXPECT_LT((onSphere[k] - onSphere[0]).norm(), 0.02);
    }
}

TEST(MatchFrame, ARigThatDoesNotFitTheViewsLeavesTheFrameAlone) {
    MatchFixture f;
    Views::setNames({"main", "cam1", "cam2", "cam3"});  // four cameras, three views
    f.node->op()->build_splits();
    f.store().cameraTrackAt(1).getTracks().push_back(handPlaced());
    f.node->setKnobFromUser("executeType", "0");
    OutputContext ui = f.node->uiContext();
    ui.setFrame(1);
    f.node->setUIContext(ui);
    auto* op = f.op();
    op->rigContext().reloadRig(false);
    AnalysisExecutor executor(op);
    executor.attach(&op->rigContext(), &op->knobManager());
    EXPECT_FALSE(executor.matchFrame());
    EXPECT_EQ(f.store().findCameraTrack(1)->getTracks().size(), 1u);
}

TEST(MatchFrame, CamerasSharingOneFileMatchAndWarpAsCamerasOfTheirOwn) {
    // The same four cameras, once as views of their own and once as crop windows of one file
    // shared by every view: the same matches in camera pixels, and the same grids.
    auto matchAndWarp =
        [](bool sideBySide, std::vector<FeatureTrack>* matches, std::vector<Grid2D>* grids) {
            MatchFixture f;
            f.sourceOp()->setRig(false, sideBySide);
            ExecuteResult r = f.run(0, {1});
            EXPECT_EQ(r.error, "");
            *matches = f.store().findCameraTrack(1)->getTracks();
            r = f.run(2, {1});
            EXPECT_EQ(r.error, "");
            for (int view = 1; view <= 4; ++view) {
                const std::shared_ptr<Grid2D> grid = f.knobs().gridMap()->getGrid(1, view);
                grids->push_back(grid ? *grid : Grid2D());
            }
        };
    std::vector<FeatureTrack> own, shared;
    std::vector<Grid2D> ownGrids, sharedGrids;
    matchAndWarp(false, &own, &ownGrids);
    matchAndWarp(true, &shared, &sharedGrids);
    ASSERT_GE(own.size(), 50u);
    ASSERT_EQ(shared.size(), own.size());
    for (size_t m = 0; m < own.size(); ++m) {
        ASSERT_EQ(shared[m].getFeatures().size(), own[m].getFeatures().size());
        for (size_t k = 0; k < own[m].getFeatures().size(); ++k) {
            EXPECT_EQ(shared[m].getFeatures()[k].first, own[m].getFeatures()[k].first);
            EXPECT_LT((shared[m].getFeatures()[k].second.getPosition() -
                       own[m].getFeatures()[k].second.getPosition())
                          .norm(),
                      1e-9);
        }
        EXPECT_NEAR(shared[m].getPoint().getRMSE(), own[m].getPoint().getRMSE(), 1e-9);
    }
    for (size_t v = 0; v < ownGrids.size(); ++v) {
        EXPECT_GT(ownGrids[v].width, 0) << "view " << v + 1;
        EXPECT_TRUE(sharedGrids[v] == ownGrids[v]) << "view " << v + 1;
    }
}

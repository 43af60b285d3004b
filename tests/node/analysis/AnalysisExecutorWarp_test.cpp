// SPDX-License-Identifier: Apache-2.0
// The warp path of AnalysisExecutor: gathering camera matches and solving every camera's grid.
#include "analysis/AnalysisExecutor.h"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../TestHost.h"
#include "../TestRigSource.h"
#include "../constraints/RecordingSink.h"
#include "analysis/ControlPointsKnob.h"
#include "analysis/GridMapKnob.h"
#include "analysis/GridTriangle.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/ArrayKnob.h"
#include "px/image/Executable.h"
#include "px/image/Host.h"
#include "px/image/UndoStack.h"

using namespace PX::Image;
using namespace Korvane::Research;
using NodeTests::RecordingSink;

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr double kConvergence = 4.0;

/// Three fisheye cameras 120 degrees apart on 640 x 480 images, validated as the host would.
struct WarpFixture : NodeTests::RigFixture {
    WarpFixture() : RigFixture({"main", "cam1", "cam2", "cam3"}, 3) {
        sourceOp()->width = kWidth;
        sourceOp()->height = kHeight;
        sourceOp()->setRig(3);
        node->setKnobFromUser("convergenceDepth", std::to_string(kConvergence));
        validate("cam1");
        executor = AnalysisExecutor(op());
        executor.attach(&op()->rigContext(), &op()->knobManager());
        // The solve on a handful of matches; the guard has tests of its own.
        executor.setMinPairMatches(1);
    }
    GridMapKnob& grids() const { return *op()->knobManager().gridMap(); }
    int view(int camera) const { return Views::find("cam" + std::to_string(camera + 1)); }

    void setKeys(std::initializer_list<int> frames) {
        for (int f : frames) static_cast<ArrayKnob*>(node->knob("analysisKeyframe"))->setKeyAt(f);
    }
    /// A match of the scene point `world` (metres) seen by `cameras`, observed exactly.
    void addMatch(int frame,
                  const Eigen::Vector3d& world,
                  std::vector<int> cameras,
                  double rmse = 0.5,
                  bool user = false) {
        const auto transforms = op()->rigContext().cameraTransforms(kConvergence);
        FeatureTrack match;
        for (int c : cameras) {
            Eigen::Vector2d image;
            ASSERT_TRUE(transforms[size_t(c)].ProjectFromWorld(world, &image)) << c;
            match.getFeatures().emplace_back(c, Feature(image));
        }
        match.setPoint(Point(world, rmse));
        match.setUserTrack(user);
        op()->knobManager().controlPoints()->cameraTrackAt(frame).getTracks().push_back(match);
    }
    bool warpAt(int frame) {
        const OutputContext c(frame, Views::find("main"));
        node->setUIContext(c);
        node->storeKnobs(c);
        return executor.warpFrame();
    }

    AnalysisExecutor executor{nullptr};
};

/// A point at `depth` metres in the direction of yaw `degrees` on the horizon.
Eigen::Vector3d onHorizon(double degrees, double depth) {
    const double a = degrees * M_PI / 180.0;
    return depth * Eigen::Vector3d(std::sin(a), 0.0, std::cos(a));
}

/// The displacement of `grid` at input pixel `p`, interpolated as the solver does.
Eigen::Vector2d displacementAt(const Grid2D& grid, const Eigen::Vector2d& p) {
    const auto t = GridTriangle::locate(grid.width, grid.height, kWidth, kHeight, p);
    Eigen::Vector2d d = Eigen::Vector2d::Zero();
    for (int m = 0; t && m < 3; ++m) d += t->weight[m] * grid.points[size_t(t->vertex[m])];
    return d;
}

bool isZero(const Grid2D& grid) {
    for (const auto& p : grid.points)
        if (p != Eigen::Vector2d::Zero()) return false;
    return true;
}

TEST(WarpFrame, WithoutMatchesEveryViewGetsAZeroGridInOneUndoStepAndACancelWaits) {
    WarpFixture f;
    f.setKeys({10});
    f.node->setKnobFromUser("executeType", "2");
    NodeTests::TestHost host;
    // Pressed with neither matches nor line constraints, Warp says so and stores nothing.
    const ExecuteResult refused = execute(f.op(), {10});
    EXPECT_EQ(refused.error,
              "Warp has nothing to align: no analysis key has camera matches and there are no "
              "line constraints. Press Match (or draw line constraints), then Warp.");
    EXPECT_EQ(f.grids().gridCount(), 0);
    f.node->clearError();

    // A key with a match record that pulls nothing (no features) is solved: zero grids.
    f.op()->knobManager().controlPoints()->cameraTrackAt(10).getTracks().emplace_back();
    UndoStack::instance().clear();
    host.fractions.clear();
    const ExecuteResult r = execute(f.op(), {10});
    EXPECT_TRUE(r.error.empty()) << r.error;
    EXPECT_EQ(host.progressMessages, std::vector<std::string>()) << "every camera overlaps one";
    ASSERT_EQ(f.grids().gridCount(), 3);
    for (int c = 0; c < 3; ++c) {
        const auto grid = f.grids().getGrid(10, f.view(c));
        ASSERT_TRUE(grid) << c;
        EXPECT_EQ(grid->width, 10);
        EXPECT_TRUE(isZero(*grid)) << c;
    }
    // The host's own fraction before the frame, then one per view; 1 dismisses the bar.
    EXPECT_EQ(host.fractions, (std::vector<float>{0.0f, 1.0f / 3, 2.0f / 3}));
    EXPECT_GE(host.dismissed, 1);
    EXPECT_EQ(UndoStack::instance().undoCount(), 1u);
    ASSERT_TRUE(UndoStack::instance().undo());
    EXPECT_EQ(f.grids().gridCount(), 0);

    // A cancel asked for after the first view is honoured only after every view.
    host.fractions.clear();
    host.cancelWhen = [&] { return !host.fractions.empty() && host.fractions.back() > 0.0f; };
    EXPECT_FALSE(f.warpAt(10));
    EXPECT_EQ(f.grids().gridCount(), 3) << "the grids solved before the cancel stay";
}

TEST(WarpFrame, AMatchSeenByTwoCamerasMovesBothTowardsOneTarget) {
    WarpFixture f;
    f.setKeys({10});
    const Eigen::Vector3d P = onHorizon(60.0, 1.5);  // between cameras 0 and 1, nearer than 4 m
    f.addMatch(10, P, {0, 1});
    const auto transforms = f.op()->rigContext().cameraTransforms(kConvergence);

    Eigen::Vector2d target[2], observed[2];
    for (int c = 0; c < 2; ++c) {
        RecordingSink sink;
        ASSERT_TRUE(f.executor.gatherMatchConstraints(10, f.view(c), sink));
        ASSERT_EQ(sink.constraints.size(), 1u) << c;
        const WarpConstraint& k = sink.constraints[0];
        target[c] = {k.x, k.y};
        observed[c] = target[c] + Eigen::Vector2d(k.dx, k.dy);
        Eigen::Vector2d seen;
        ASSERT_TRUE(transforms[size_t(c)].ProjectFromWorld(P, &seen));
        EXPECT_LT((observed[c] - seen).norm(), 1e-9) << "displacement = observed - target";
        EXPECT_EQ(sink.frames[0], 10);
        EXPECT_NEAR(k.weight(), 2.0 * (1.0 - 0.5 / 20.0), 1e-6) << "matchStrength, Linear";
        // Both targets show the point of P's direction on the convergence sphere.
        Eigen::Vector3d onSphere;
        ASSERT_TRUE(transforms[size_t(c)].ProjectToWorld(target[c], &onSphere));
        EXPECT_LT((onSphere - P.normalized() * kConvergence).norm(), 1e-6) << c;
        EXPECT_GT((observed[c] - target[c]).norm(), 5.0) << "parallax of a near point";
    }
    RecordingSink none;
    EXPECT_TRUE(f.executor.gatherMatchConstraints(10, f.view(2), none));
    EXPECT_TRUE(none.constraints.empty());
    EXPECT_FALSE(f.executor.gatherMatchConstraints(10, Views::find("main"), none));

    ASSERT_TRUE(f.warpAt(10));
    for (int c = 0; c < 2; ++c) {
        // The warped view at the target shows input from towards the observation.
        const Eigen::Vector2d want = observed[c] - target[c];
        const Eigen::Vector2d got = displacementAt(*f.grids().getGrid(10, f.view(c)), target[c]);
        EXPECT_GT(got.dot(want), 0.25 * want.squaredNorm()) << c << ": " << got.transpose();
    }
    EXPECT_TRUE(isZero(*f.grids().getGrid(10, f.view(2))));

    f.node->setKnobFromUser("matchStrength", "0");
    ASSERT_TRUE(f.warpAt(10));
    for (int c = 0; c < 3; ++c) EXPECT_TRUE(isZero(*f.grids().getGrid(10, f.view(c)))) << c;
}

TEST(GatherMatchConstraints, ThresholdKernelAndStrength) {
    struct Case {
        const char* kernel;
        double rmse;
        bool user;
        int constraints;  ///< 0 or 1
        double weight;
    };
    // warpThreshold 20, matchStrength 2, userMatchStrength 4.
    const Case cases[] = {
        {"Linear", 20.0, false, 1, 0.0},  // at the threshold: used, with weight 0
        {"Linear", 20.001, false, 0, 0.0},
        {"Linear", 10.0, false, 1, 1.0},
        {"None", 10.0, false, 1, 2.0},
        {"Gaussian", 10.0, false, 1, 2.0 * std::exp(-1.25)},
        {"None", 10.0, true, 1, 4.0},
        {"Linear", -1.0, false, 0, 0.0},  // no triangulated point
    };
    for (const Case& c : cases) {
        WarpFixture f;
        f.node->setKnobFromUser("kernelType", c.kernel);
        f.addMatch(10, onHorizon(60.0, 3.0), {1, 0}, c.rmse, c.user);
        f.node->storeKnobs(OutputContext(10, Views::find("main")));
        RecordingSink sink;
        EXPECT_TRUE(f.executor.gatherMatchConstraints(10, f.view(0), sink));
        ASSERT_EQ(int(sink.constraints.size()), c.constraints) << c.kernel << " " << c.rmse;
        if (c.constraints) {
            EXPECT_NEAR(sink.constraints[0].weight(), c.weight, 1e-9) << c.kernel;
        }
        RecordingSink other;
        EXPECT_TRUE(f.executor.gatherMatchConstraints(11, f.view(0), other));
        EXPECT_TRUE(other.constraints.empty()) << "another frame";
        EXPECT_EQ(f.op()->knobManager().controlPoints()->findCameraTrack(11), nullptr);
    }
}

TEST(WarpFrame, TheWindowCountsKeysAndStoresOnlyTheCurrentFrame) {
    WarpFixture f;
    f.setKeys({10, 20, 30, 40});
    f.node->setKnobFromUser("temporalWindow", "1");
    // Matches at 10 and 30 only: 20 moves through consistency, and only because they are in
    // its window. Matches at 40 alone would leave 20 at zero.
    for (int frame : {10, 30})
        for (double yaw : {50.0, 60.0, 70.0}) f.addMatch(frame, onHorizon(yaw, 1.5), {0, 1});
    ASSERT_TRUE(f.warpAt(20));
    EXPECT_EQ(f.grids().gridCount(), 3);
    for (int c = 0; c < 3; ++c) EXPECT_TRUE(f.grids().getGrid(20, f.view(c))) << c;
    EXPECT_FALSE(isZero(*f.grids().getGrid(20, f.view(0))));

    WarpFixture g;
    g.setKeys({10, 20, 30, 40});
    g.node->setKnobFromUser("temporalWindow", "1");
    for (double yaw : {50.0, 60.0, 70.0}) g.addMatch(40, onHorizon(yaw, 1.5), {0, 1});
    ASSERT_TRUE(g.warpAt(20));
    EXPECT_TRUE(isZero(*g.grids().getGrid(20, g.view(0))));

    EXPECT_FALSE(g.warpAt(25) && g.grids().getGrid(25, g.view(0))) << "25 is no key";
    g.node->setKnobFromUser("temporalWindow", "0");
    EXPECT_FALSE(g.warpAt(25)) << "an empty window";
}

TEST(WarpFrame, AViewWithTooFewRowsKeepsItsGridAndTheOthersAreSolved) {
    WarpFixture f;
    f.setKeys({10});
    f.node->setKnobFromUser("spatialSmoothness", "0");
    f.node->setKnobFromUser("gridSize", "2 2");  // N = 8: a solve needs 6 rows, 3 matches
    for (double yaw : {50.0, 60.0, 70.0}) f.addMatch(10, onHorizon(yaw, 1.5), {0, 1});
    f.addMatch(10, onHorizon(180.0, 1.5), {1, 2});
    Grid2D previous(2, 2);
    previous.at(1, 1) = {7, 7};
    f.grids().setGrid(10, f.view(2), previous);
    ASSERT_TRUE(f.warpAt(10));
    EXPECT_FALSE(isZero(*f.grids().getGrid(10, f.view(0))));
    EXPECT_FALSE(isZero(*f.grids().getGrid(10, f.view(1))));
    EXPECT_EQ(*f.grids().getGrid(10, f.view(2)), previous) << "one match: 2 rows only";
}

// A camera that overlaps no other gets no matches and no warp: the execution names it once and
// warps the others.
TEST(WarpFrame, ACameraThatOverlapsNoOtherIsNamedOnceAndTheOthersAreWarped) {
    WarpFixture f;
    f.sourceOp()->bundle.setData("vellacam/cam2/links", std::vector<int>{1});
    f.sourceOp()->bundle.erase("vellacam/cam3/links");
    f.validate("cam1");
    f.setKeys({10, 20});
    for (int frame : {10, 20})
        for (int k = 0; k < AnalysisExecutor::kMinPairMatches; ++k)
            f.addMatch(frame, onHorizon(45.0 + k, 1.5 + 0.05 * k), {0, 1});
    f.node->setKnobFromUser("executeType", "2");
    NodeTests::TestHost host;
    const ExecuteResult r = execute(f.op(), {10, 20});
    EXPECT_TRUE(r.error.empty()) << r.error;
    EXPECT_EQ(host.progressMessages,
              std::vector<std::string>{
                  "Warning: camera cam3 overlaps no other camera: it is not matched or warped."});
    EXPECT_FALSE(isZero(*f.grids().getGrid(20, f.view(1))));
}

TEST(WarpGuard, APairWithTwoMatchesIsLeftOutAndNamedAndAFrameWithOnlyWeakPairsStops) {
    WarpFixture f;
    f.executor.setMinPairMatches(AnalysisExecutor::kMinPairMatches);
    f.setKeys({10, 20});
    // Frame 10: cameras 1 and 2 share 20 matches, cameras 2 and 3 only two.
    for (int k = 0; k < AnalysisExecutor::kMinPairMatches; ++k)
        f.addMatch(10, onHorizon(45.0 + k, 1.5 + 0.05 * k), {0, 1});
    f.addMatch(10, onHorizon(175.0, 1.5), {1, 2});
    f.addMatch(10, onHorizon(185.0, 2.0), {1, 2});
    NodeTests::TestHost host;

    RecordingSink weak;
    ASSERT_TRUE(f.executor.gatherMatchConstraints(10, f.view(2), weak));
    EXPECT_TRUE(weak.constraints.empty()) << "the pair cam2-cam3 is not trusted";
    RecordingSink strong;
    ASSERT_TRUE(f.executor.gatherMatchConstraints(10, f.view(1), strong));
    EXPECT_EQ(int(strong.constraints.size()), AnalysisExecutor::kMinPairMatches);

    ASSERT_TRUE(f.warpAt(10));
    EXPECT_FALSE(isZero(*f.grids().getGrid(10, f.view(0))));
    EXPECT_TRUE(isZero(*f.grids().getGrid(10, f.view(2)))) << "pulled by nothing";
    ASSERT_EQ(host.progressMessages.size(), 1u);
    EXPECT_EQ(host.progressMessages[0],
              "Warning: Warp at frame 10 leaves out pair cam2-cam3: 2 matches, at least 20 are "
              "needed to trust it.");
    EXPECT_FALSE(f.op()->hasError());

    // Frame 20: two matches in all. Nothing is stored and the error points at the rig.
    f.addMatch(20, onHorizon(60.0, 1.5), {0, 1});
    f.addMatch(20, onHorizon(175.0, 1.5), {1, 2});
    host.progressMessages.clear();
    EXPECT_FALSE(f.warpAt(20));
    EXPECT_FALSE(f.grids().getGrid(20, f.view(0)));
    EXPECT_EQ(host.progressMessages.size(), 2u);
    ASSERT_TRUE(f.op()->hasError());
    EXPECT_NE(f.op()->errorMessage().find("Warp at frame 20: no camera pair has enough matches"),
              std::string::npos)
        << f.op()->errorMessage();
    EXPECT_NE(f.op()->errorMessage().find("Refine Rig"), std::string::npos);
}

}  // namespace

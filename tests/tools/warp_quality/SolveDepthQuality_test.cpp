// SPDX-License-Identifier: Apache-2.0
// warp_quality measures a warp at the depth it was solved at when the node records it.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "../../node/TestRigSource.h"
#include "WarpQuality.h"
#include "analysis/GridMapKnob.h"
#include "plugin/DizuvaRuviPlugin.h"

using namespace PX::Image;
using namespace Korvane::Research;

namespace {

TEST(WarpQualityDepth, MeasuredAtTheSolveDepthWhenRecordedElseAtTheNodesDepth) {
    NodeTests::RigFixture f({"main", "cam1", "cam2", "cam3"}, 3);
    f.sourceOp()->width = 640;
    f.sourceOp()->height = 480;
    f.sourceOp()->setRig(3, 0.0, 4.0);  // "Auto" takes the rig's 4 m
    auto* node = static_cast<DizuvaRuviPlugin*>(f.node->op());
    node->rigContext().reloadRig(false);

    // Scene points 7 m away around the horizon, exactly where the cameras see them: at 7 m
    // they meet in the panorama, at 4 m parallax parts them.
    const std::vector<SphericalTransform> cameras = node->rigContext().cameraTransforms(7.0);
    std::vector<FeatureTrack> truth;
    for (int k = 0; k < 360; k += 5) {
        const double yaw = k * M_PI / 180.0;
        const Eigen::Vector3d P =
            7.0 * Eigen::Vector3d(std::sin(yaw), 0.1, std::cos(yaw)).normalized();
        FeatureTrack match;
        for (int c = 0; c < int(cameras.size()); ++c) {
            Eigen::Vector2d image;
            if (cameras[size_t(c)].ProjectFromWorld(P, &image))
                match.getFeatures().emplace_back(c, Feature(image));
        }
        match.setPoint(Point(P, 0.0));
        if (match.getFeatures().size() >= 2) truth.push_back(match);
    }
    ASSERT_GE(truth.size(), 10u);

    // Zero grids solved at 7 m.
    GridMapKnob& store = *node->knobManager().gridMap();
    for (int view = 2; view <= 4; ++view) ASSERT_TRUE(store.setGrid(1, view, Grid2D(3, 3)));
    ASSERT_TRUE(store.setSolvedDepth(7.0));
    WarpQualityReport atSolve;
    measureWarpQuality(*node, 1, truth, atSolve);
    EXPECT_TRUE(atSolve.atSolvedDepth);
    EXPECT_EQ(atSolve.depth, 7.0);
    EXPECT_FLOAT_EQ(float(atSolve.renderDepth), 4.0f);
    ASSERT_FALSE(atSolve.warped.empty());
    EXPECT_LT(MisalignmentFigures::of(atSolve.warped).median, 1e-3);

    // The same grids from a script that did not record the depth: the node's 4 m.
    std::string text = store.toScriptText();
    const size_t line = text.find("depth 7");
    ASSERT_NE(line, std::string::npos) << text;
    text.erase(line, 7);
    ASSERT_TRUE(store.from_script(text.c_str())) << store.error();
    WarpQualityReport atNode;
    measureWarpQuality(*node, 1, truth, atNode);
    EXPECT_FALSE(atNode.atSolvedDepth);
    EXPECT_FLOAT_EQ(float(atNode.depth), 4.0f);
    EXPECT_GT(MisalignmentFigures::of(atNode.warped).median, 0.5);
}

}  // namespace

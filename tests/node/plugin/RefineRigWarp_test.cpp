// SPDX-License-Identifier: Apache-2.0
// Refine Rig on a node that holds a warp: the grids were solved on the rig before the
// refinement and pull the cameras apart on the refined one.
#include <gtest/gtest.h>

#include <cmath>

#include "../TestHost.h"
#include "../TestRigSource.h"
#include "analysis/ControlPointsKnob.h"
#include "analysis/GridMapKnob.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/Knob.h"
#include "px/image/Node.h"
#include "px/image/UndoStack.h"
#include "vellacam/SphericalTransform.h"

using namespace PX::Image;
using namespace Korvane::Research;

namespace {

const char* const kWarpQuestion = "Proceeding will reset existing warp. Are you sure?";

TEST(RefineRigWarp, AYesDropsTheGridsWithTheCorrectionInOneUndoStep) {
    NodeTests::TestHost host;
    {
        NodeTests::RigFixture f{{"main", "cam1", "cam2", "cam3"}, 3};
        f.sourceOp()->width = 640;
        f.sourceOp()->height = 480;
        f.sourceOp()->setRig(3);
        auto* op = static_cast<DizuvaRuviPlugin*>(f.node->op());
        op->rigContext().reloadRig(false);
        KnobManager& knobs = op->knobManager();

        // Points around the horizon between 2 and 4 m, seen where the rig says: enough matches
        // for every camera, so the refinement succeeds.
        const CameraRigDefinition& rig = op->rigContext().inputRig();
        CameraTrack& track = knobs.controlPoints()->cameraTrackAt(1);
        for (int k = 0; k < 360; ++k) {
            const double yaw = k * M_PI / 180.0, pitch = 0.4 * std::cos(11.0 * yaw);
            const Eigen::Vector3d P =
                (2.0 + k % 3) * Eigen::Vector3d(std::cos(pitch) * std::sin(yaw),
                                                std::sin(pitch),
                                                std::cos(pitch) * std::cos(yaw));
            FeatureTrack match;
            for (int c = 0; c < rig.getNumberCameras(); ++c) {
                Eigen::Vector2d image;
                if (SphericalTransform(rig.getCamera(c)).ProjectFromWorld(P, &image))
                    match.getFeatures().emplace_back(c, Feature(image));
            }
            if (match.getFeatures().size() >= 2) track.getTracks().push_back(match);
        }
        Grid2D grid(4, 4);
        grid.points[5] = {3.0, -2.0};
        ASSERT_TRUE(knobs.gridMap()->setGrid(1, Views::find("cam2"), grid));
        knobs.setIsWarped(true);
        Knob* correction = f.node->knob("rigCorrection");
        const size_t undoSteps = UndoStack::instance().undoCount();

        // A yes: the correction and the dropped grids in one step, which undo takes back whole.
        host.answers = {true};
        f.node->pressKnob("refineRig");
        EXPECT_EQ(host.questions, std::vector<std::string>{kWarpQuestion});
        EXPECT_TRUE(host.messages.empty()) << host.messages.front();
        EXPECT_NE(correction->toScriptText(), "");
        EXPECT_EQ(knobs.gridMap()->gridCount(), 0);
        EXPECT_FALSE(knobs.isWarped());
        EXPECT_EQ(UndoStack::instance().undoCount(), undoSteps + 1);

        ASSERT_TRUE(UndoStack::instance().undo());
        EXPECT_EQ(correction->toScriptText(), "");
        ASSERT_EQ(knobs.gridMap()->gridCount(), 1);
        EXPECT_EQ(knobs.gridMap()->getGrid(1, Views::find("cam2"))->points[5],
                  Eigen::Vector2d(3.0, -2.0));
        EXPECT_TRUE(knobs.isWarped());

        // Without a warp there is nothing to lose: no question.
        knobs.gridMap()->clear();
        knobs.setIsWarped(false);
        f.node->pressKnob("refineRig");
        EXPECT_EQ(host.questions.size(), 1u);
        EXPECT_NE(correction->toScriptText(), "");
    }
}

}  // namespace

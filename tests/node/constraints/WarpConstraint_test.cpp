// SPDX-License-Identifier: Apache-2.0
// The hand-off of line constraints to the warp solver (AnalysisExecutor::gatherWarpConstraints).
#include "constraints/WarpConstraint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "../TestRigSource.h"
#include "RecordingSink.h"
#include "analysis/AnalysisExecutor.h"
#include "analysis/GridMapKnob.h"
#include "constraints/ConstraintsKnob.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "plugin/KnobManager.h"
#include "plugin/RigContext.h"
#include "px/image/ArrayKnob.h"
#include "px/image/Executable.h"

using namespace Korvane::Research;
using NodeTests::RecordingSink;

namespace {

// Two rectilinear cameras at the rig centre, 35 degrees apart, so that a straight scene line
// is a great circle of the convergence sphere whatever its depth.
class Gather : public ::testing::Test {
protected:
    void SetUp() override {
        CameraRigDefinition rig;
        rig.setNumberCameras(2);
        for (int c = 0; c < 2; ++c) {
            CameraDefinition camera;
            camera.setFormat(1000, 800);
            camera.setProjection(ProjectionTypeEnum::Rectilinear);
            camera.setFocalLength(18.0);
            camera.setRotation(Eigen::Vector3d(0, 35.0 * c, 0));
            rig.setCamera(c, camera);
        }
        rig.setLinked(0, 1);
        MetaDataHandler handler;
        handler.setRig(rig);
        fixture.sourceOp()->bundle = handler.getMetaDataBundle();
        op = static_cast<DizuvaRuviPlugin*>(fixture.node->op());
        op->rigContext().reloadRig(false);
        ASSERT_EQ(op->rigContext().numberOfCameras(), 2);
        executor.attach(&op->rigContext(), &op->knobManager());
        knob = op->knobManager().constraints();
        ASSERT_NE(knob, nullptr);
        ASSERT_TRUE(
            knob->from_script("version 1 total 1 visible 1 name line colour 1 0 0 size 0 "
                              "strength 3 sampling 15 life 0 10 visible 1"));
        cameras = op->rigContext().cameraTransforms(op->knobManager().convergenceDepth(true));
        // A straight scene line 6 m away, rising to the right, seen by both cameras.
        for (int c = 0; c < 2; ++c) {
            for (int i = 0; i <= 4; ++i) {
                const Eigen::Vector3d p(-2.0 + 1.5 * i, -0.5 + 0.4 * i, 6.0);
                Eigen::Vector2d image;
                if (!cameras[size_t(c)].ProjectFromWorld(p, &image)) continue;
                PointTrack track;
                track.setKey(Korvane::SLIB::Context(0, view(c)),
                             Korvane::SLIB::Feature(image.x(), image.y()));
                knob->trackSet(0)->views()[view(c)].push_back(track);
            }
            ASSERT_GE(knob->trackSet(0)->views()[view(c)].size(), 2u) << "camera " << c;
        }
    }
    int view(int camera) const { return op->rigContext().viewOfCamera(camera); }
    RecordingSink gather(int frame, int v) const {
        RecordingSink out;
        executor.gatherWarpConstraints(frame, v, out);
        return out;
    }

    NodeTests::RigFixture fixture{{"main", "cam1", "cam2"}, 2};
    DizuvaRuviPlugin* op = nullptr;
    AnalysisExecutor executor{nullptr};
    ConstraintsKnob* knob = nullptr;
    std::vector<SphericalTransform> cameras;
};

}  // namespace

TEST_F(Gather, SamplesOfAStraightLineLieOnTheirCircle) {
    for (int c = 0; c < 2; ++c) {
        const RecordingSink out = gather(5, view(c));
        const size_t points = knob->trackSet(0)->views()[view(c)].size();
        // Spacing 15 px in the ideal latlong image of the camera's size (1000 px for 360 deg).
        ASSERT_GT(out.constraints.size(), points) << "densified, camera " << c;
        for (size_t i = 0; i < out.constraints.size(); ++i) {
            const WarpConstraint& w = out.constraints[i];
            EXPECT_EQ(out.frames[i], 5);
            EXPECT_EQ(w.weight(), 3.0);
            EXPECT_LT(std::hypot(w.dx, w.dy), 0.5) << "camera " << c << " sample " << i;
        }
    }
}

TEST_F(Gather, ABentLineIsPulledStraight) {
    // Push the middle point of camera 0 by 40 px off the line.
    PointTrack& middle = knob->trackSet(0)->views()[view(0)][2];
    Korvane::SLIB::Feature& f = middle.keys().begin()->second;
    f.y += 40.0;
    const RecordingSink out = gather(0, view(0));
    double largest = 0.0;
    for (const WarpConstraint& w : out.constraints) {
        largest = std::max(largest, std::hypot(w.dx, w.dy));
        // The target lies on the fitted circle, so target + displacement is the sample.
        EXPECT_TRUE(std::isfinite(w.x + w.dx) && std::isfinite(w.y + w.dy));
    }
    EXPECT_GT(largest, 20.0);
}

TEST_F(Gather, RowsTheSolverMustNotSeeGiveNothing) {
    EXPECT_TRUE(gather(11, view(0)).constraints.empty()) << "after End";
    EXPECT_TRUE(gather(0, op->rigContext().mainOutputView()).constraints.empty()) << "panorama";
    const std::string text = knob->toScriptText();
    std::string hidden = text;
    hidden.replace(hidden.find("visible 1 selected"), 9, "visible 0");
    ASSERT_TRUE(knob->from_script(hidden.c_str()));
    EXPECT_TRUE(gather(0, view(0)).constraints.empty()) << "hidden row";
    std::string allHidden = text;
    allHidden.replace(allHidden.find("total 1 visible 1"), 17, "total 1 visible 0");
    ASSERT_TRUE(knob->from_script(allHidden.c_str()));
    EXPECT_TRUE(gather(0, view(0)).constraints.empty()) << "top item hidden";
    ASSERT_TRUE(knob->from_script(text.c_str()));
    EXPECT_FALSE(gather(0, view(0)).constraints.empty());
}

TEST_F(Gather, LineConstraintsWithoutAnyMatchAreAWarpOfTheirOwn) {
    fixture.sourceOp()->width = 1000;
    fixture.sourceOp()->height = 800;
    fixture.sourceOp()->invalidate();
    // The middle point of camera 0 off the line, so that its grid has something to do.
    knob->trackSet(0)->views()[view(0)][2].keys().begin()->second.y += 40.0;
    static_cast<PX::Image::ArrayKnob*>(fixture.node->knob("analysisKeyframe"))->setKeyAt(5);
    fixture.node->setKnobFromUser("executeType", "2");
    const PX::Image::ExecuteResult r = PX::Image::execute(op, {5});
    EXPECT_TRUE(r.error.empty()) << r.error;
    const auto grid = op->knobManager().gridMap()->getGrid(5, view(0));
    ASSERT_TRUE(grid);
    double largest = 0.0;
    for (const auto& p : grid->points) largest = std::max(largest, p.norm());
    EXPECT_GT(largest, 1.0) << "pulled by the bent line";
}

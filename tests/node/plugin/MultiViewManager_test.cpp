// SPDX-License-Identifier: Apache-2.0
#include "plugin/MultiViewManager.h"

#include <gtest/gtest.h>

#include "../TestRigSource.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/ViewsKnob.h"

using namespace PX::Image;
using Korvane::Research::DizuvaRuviPlugin;
using Korvane::Research::MultiViewManager;
using NodeTests::RigFixture;

TEST(ViewSplitting, OneInputBecomesTheSourceAndOneInputPerCamera) {
    RigFixture f({"main", "cam1", "cam2", "cam3"});
    DizuvaRuviPlugin* op = f.op();
    ASSERT_EQ(op->inputs(), 4);
    EXPECT_EQ(op->split_input(0), 4);
    EXPECT_EQ(op->inputContext(0).view(), op->outputContext().view());
    EXPECT_EQ(Views::name(op->inputContext(1).view()), "cam1");
    EXPECT_EQ(Views::name(op->inputContext(3).view()), "cam3");
    EXPECT_EQ(op->inputContext(4).view(), -1) << "past the end";
    for (int k = 0; k < 4; ++k) EXPECT_EQ(op->input(k), f.source->op());

    auto& rig = op->rigContext();
    EXPECT_EQ(rig.mainOutputView(), Views::find("main"));
    EXPECT_TRUE(rig.isPanoramaView(Views::find("main")));
    EXPECT_FALSE(rig.isPanoramaView(Views::find("cam2")));
    EXPECT_EQ(rig.inputIndexOfView(Views::find("cam2")), 2);
    EXPECT_EQ(rig.multiViewManager()->inputIndexOfCameraPosition(0), 1);
    EXPECT_EQ(f.node->knob("rigViews")->toScriptText(), "{cam1 cam2 cam3}");

    // A camera number beyond the rig is not a camera view.
    rig.reloadRig(false);
    EXPECT_TRUE(rig.isCameraView(Views::find("cam3")));
    EXPECT_EQ(rig.cameraIndexOfView(Views::find("cam3")), 2);
    EXPECT_EQ(rig.viewOfCamera(1), Views::find("cam2"));
}

TEST(ViewSplitting, TheRigDecidesTheCameraViewsTheProjectHas) {
    RigFixture f({"main", "cam1", "cam2", "cam3"}, 4);  // no cam4 view
    EXPECT_EQ(f.op()->inputs(), 4);
    EXPECT_EQ(f.node->knob("rigViews")->toScriptText(), "{cam1 cam2 cam3}");

    // Disconnecting the input leaves the single input 0.
    f.node->setInput(0, nullptr);
    EXPECT_EQ(f.op()->inputs(), 1);
}

TEST(ViewSplitting, PresetsSelectViewsByName) {
    RigFixture f({"left", "right", "cam1_left", "cam1_right", "cam2_left", "camera", "cam"});
    const MultiViewManager* views = f.op()->rigContext().multiViewManager();
    using P = MultiViewManager::Preset;
    auto names = [](const std::set<int>& set) {
        std::string s;
        for (int v : set) s += Views::name(v) + " ";
        return s;
    };
    EXPECT_EQ(names(views->viewsOfPreset(P::LeftCams)), "cam1_left cam2_left ");
    EXPECT_EQ(names(views->viewsOfPreset(P::RightCams)), "cam1_right ");
    EXPECT_EQ(names(views->viewsOfPreset(P::StereoCams)), "cam1_left cam1_right cam2_left ");
    EXPECT_EQ(names(views->viewsOfPreset(P::Stereo)), "left right ");
    EXPECT_EQ(names(views->viewsOfPreset(P::Main)), "");
    EXPECT_EQ(names(views->viewsOfPreset(P::Cams)), "") << "'camera' and 'cam' are no camera names";
    EXPECT_EQ(f.op()->rigContext().mainOutputView(), Views::find("left"));

    f.node->setKnobFromUser("viewsPresets", "left cams");
    EXPECT_EQ(f.node->knob("rigViews")->toScriptText(), "{cam1_left cam2_left}");
    EXPECT_EQ(f.op()->inputs(), 3);
}

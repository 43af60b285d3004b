// SPDX-License-Identifier: Apache-2.0
#include "plugin/DizuvaRuviPlugin.h"

#include <cmath>

#include <gtest/gtest.h>
#include <Eigen/Geometry>

#include "../TestHost.h"
#include "../TestRigSource.h"
#include "px/image/ArrayKnob.h"
#include "px/image/Executable.h"
#include "px/image/StringKnob.h"

using namespace PX::Image;
using namespace Korvane::Research;
using NodeTests::RigFixture;

TEST(Validation, CameraViewsCarryTheStitchMapOnlyWhenUnwarped) {
    RigFixture f({"main", "cam1", "cam2", "cam3"});
    DizuvaRuviPlugin* op = f.validate("cam2");
    EXPECT_FALSE(op->hasError()) << op->errorMessage();
    EXPECT_EQ(op->info().box(), Box(0, 0, 8, 6));
    EXPECT_EQ(op->info().channels(), Mask_RGBA | Mask_StitchMap);
    EXPECT_EQ(op->layerChannels(), Mask_StitchMap);

    f.node->setKnobFromUser("cameraOutputMode", "Warped");
    op = f.validate("cam2");
    EXPECT_EQ(op->info().channels(), Mask_RGBA);

    f.node->setKnobFromUser("cameraProjectionType", "Latlong");
    op = f.validate("cam2");
    EXPECT_EQ(op->info().box(), Box(0, 0, 2048, 1024)) << "the Format knob's box";
}

TEST(Validation, PanoramaViewsTakeTheFormatAndRefuseMixedCameraFormats) {
    RigFixture f({"main", "cam1", "cam2", "cam3"});
    DizuvaRuviPlugin* op = f.validate("main");
    EXPECT_FALSE(op->hasError()) << op->errorMessage();
    EXPECT_EQ(op->info().box(), Box(0, 0, 2048, 1024));
    EXPECT_TRUE(op->layerChannels().empty());

    f.sourceOp()->sizeOfView[Views::find("cam2")] = {10, 6};
    f.sourceOp()->invalidate();
    op->invalidate();
    op = f.validate("main");
    EXPECT_EQ(op->errorMessage(), "View 'cam2' differs in format from the others");
    EXPECT_FALSE(op->valid());
    // Footage of another size than the rig's calibration describes, in every camera.
    for (auto& view : {"cam1", "cam2", "cam3"})
        f.sourceOp()->sizeOfView[Views::find(view)] = {16, 12};
    f.sourceOp()->invalidate();
    op->invalidate();
    op = f.validate("main");
    EXPECT_EQ(op->errorMessage(),
              "Camera 1 (cam1): the rig describes a 8 x 6 image, but its input is 16 x 12 at "
              "frame 1");
    // Cameras of a rig that holds two image sizes, each matching its footage.
    {
        MetaDataHandler handler;
        handler.updateMetaDataBundle(f.sourceOp()->bundle);
        CameraRigDefinition rig = handler.getRig();
        rig.getCamera(1).setFormat(10, 6);
        handler.setRig(rig);
        f.sourceOp()->bundle = handler.getMetaDataBundle();
    }
    f.sourceOp()->sizeOfView.clear();
    f.sourceOp()->sizeOfView[Views::find("cam2")] = {10, 6};
    f.sourceOp()->invalidate();
    op->invalidate();
    op->doPreValidate();
    op = f.validate("main");
    EXPECT_EQ(op->errorMessage(), "View 'cam2' differs in format from the others");
    f.sourceOp()->setRig(3);
    op->doPreValidate();

    // A camera view without an image is left out of the panorama; with none, it is an error.
    auto validateWithout = [&](std::initializer_list<const char*> views) {
        f.sourceOp()->sizeOfView.clear();
        for (const char* view : views) f.sourceOp()->sizeOfView[Views::find(view)] = {0, 0};
        f.sourceOp()->invalidate();
        op->invalidate();
        return f.validate("main");
    };
    NodeTests::TestHost host;
    op = validateWithout({"cam2"});
    EXPECT_FALSE(op->hasError()) << op->errorMessage();
    EXPECT_EQ(op->info().box(), Box(0, 0, 2048, 1024));
    // A warning at every validation, so that a render knows each frame made without it.
    op = validateWithout({"cam2"});
    EXPECT_EQ(host.warnings,
              std::vector<std::string>(
                  2, "1 of 3 camera views have no image and are left out of the panorama: cam2."));
    for (int again = 0; again < 2; ++again) {
        op = validateWithout({"cam1", "cam2", "cam3"});
        EXPECT_EQ(op->errorMessage(), "No camera view has an image: cam1, cam2, cam3.");
    }
}

TEST(Validation, ACameraViewFailsWithItsInputAndRefusesFootageOfAnotherSize) {
    RigFixture f({"main", "cam1", "cam2", "cam3"});
    f.sourceOp()->failingViews = {Views::find("cam2")};
    DizuvaRuviPlugin* op = f.validate("cam2");
    EXPECT_EQ(op->errorMessage(), "Input 2 could not be read: cannot read view 2");
    EXPECT_FALSE(op->valid());
    op = f.validate("main");
    EXPECT_FALSE(op->hasError()) << "the panorama leaves the camera out: " << op->errorMessage();
    // Shown alone in the panorama, the camera says why it is missing.
    f.node->setKnobFromUser("outputFormat", "64 32");
    f.node->setKnobFromUser("outputView", "cam2");
    f.render("main", Mask_RGBA);
    EXPECT_EQ(op->errorMessage(),
              "The output view 'cam2' has no image at frame 1: cannot read view 2");
    f.node->setKnobFromUser("outputView", "main");

    // The calibration of another image size would misplace a latlong or warped camera view
    // and the stitch map of every camera view.
    f.sourceOp()->failingViews.clear();
    f.sourceOp()->sizeOfView[Views::find("cam3")] = {16, 12};
    f.sourceOp()->invalidate();
    for (const char* mode : {"Unwarped", "Warped"}) {
        f.node->setKnobFromUser("cameraOutputMode", mode);
        op = f.validate("cam3");
        EXPECT_EQ(op->errorMessage(),
                  "Camera 3 (cam3): the rig describes a 8 x 6 image, but its input is 16 x 12 at "
                  "frame 1")
            << mode;
    }
    op = f.validate("cam1");
    EXPECT_FALSE(op->hasError()) << op->errorMessage();
}

TEST(Validation, ARigThatDoesNotReadNamesTheInputsErrorInsteadOfThrowing) {
    // A rig file that fails leaves the source without rig metadata and every camera view's
    // image with the file's error, while the project still has its camera views.
    RigFixture f({"main", "cam1", "cam2", "cam3"});
    DizuvaRuviPlugin* op = f.validate("main");
    ASSERT_FALSE(op->hasError()) << op->errorMessage();
    f.sourceOp()->bundle.clear();
    for (const char* view : {"cam1", "cam2", "cam3"})
        f.sourceOp()->failingViews.insert(Views::find(view));
    f.sourceOp()->invalidate();
    op->invalidate();
    op->doPreValidate();
    ASSERT_NO_THROW(op = f.validate("main"));
    EXPECT_EQ(op->errorMessage(),
              "No camera view has an image: cam1, cam2, cam3 (input 1: cannot read view 1).");
}

TEST(Validation, ARigCorrectionThatDoesNotFitTheRigIsNamedOnce) {
    NodeTests::TestHost host;
    RigFixture f({"main", "cam1", "cam2", "cam3"});
    auto warnings = [&host] {
        int n = 0;
        for (const std::string& m : host.progressMessages)
            n += m.find("rig correction") != std::string::npos;
        return n;
    };
    // Refine Rig's correction of a rig of two cameras, on a rig of three.
    f.node->setKnobFromUser("rigCorrection", "2 0 0 1 1 0 0 0 0 1 1 0 0");
    f.op()->doPreValidate();
    f.validate("main");
    f.validate("cam2");
    ASSERT_EQ(warnings(), 1) << "once, however many validations";
    EXPECT_EQ(host.progressMessages.back(),
              "Warning: the rig correction of Refine Rig does not fit the input's rig of 3 "
              "cameras and is not applied; press Refine Rig again to refine this rig.");
    // One that fits is applied without a word.
    f.node->setKnobFromUser("rigCorrection", "3 0 0 1 1 0 0 0 0 1 1 0 0 0 0 1 1 0 0");
    f.op()->doPreValidate();
    f.validate("main");
    EXPECT_EQ(warnings(), 1);
    EXPECT_FALSE(f.op()->rigContext().rig() == f.op()->rigContext().inputRig());
}

TEST(Validation, AViewOutsideTheRigKeepsTheInputInformation) {
    RigFixture f({"main", "cam1", "cam2", "cam3"}, 2);  // cam3 is not a camera of the rig
    DizuvaRuviPlugin* op = f.validate("cam3");
    EXPECT_FALSE(op->hasError());
    EXPECT_TRUE(op->layerChannels().empty());
    EXPECT_EQ(op->info().channels(), Mask_RGBA);
}

TEST(Metadata, RotationAndConvergencePassDownstreamAndLatlongOutputRewritesEveryCamera) {
    RigFixture f({"main", "cam1", "cam2", "cam3"});
    f.sourceOp()->setRig(3, 30.0, 4.0);
    f.node->setKnobFromUser("convergenceDepth", "7.5");
    MetaDataHandler out;
    out.updateMetaDataBundle(f.op()->fetchMetaData());
    EXPECT_NEAR(out.getRigRotation().y(), 30.0, 1e-9);
    EXPECT_NEAR(out.getRigConvergence(), 7.5, 1e-6);
    EXPECT_EQ(out.getCamera(1).getProjection(), ProjectionTypeEnum::Fisheye);

    f.node->setKnobFromUser("cameraProjectionType", "Latlong");
    MetaDataHandler in;
    in.updateMetaDataBundle(f.sourceOp()->bundle);
    out.updateMetaDataBundle(f.op()->fetchMetaData());
    ASSERT_EQ(out.getNumberCameras(), 3);
    EXPECT_NEAR(out.getRigRotation().norm(), 0.0, 1e-12);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(out.getCamera(c).getProjection(), ProjectionTypeEnum::Latlong) << c;
        // The rig's rotation moved into each camera: world directions stay where they were.
        const Eigen::Matrix3d expected =
            Eigen::AngleAxisd(30.0 * M_PI / 180, Eigen::Vector3d::UnitY()).toRotationMatrix() *
            in.getCamera(c).getCameraToWorldRotation();
        EXPECT_LT((out.getCamera(c).getCameraToWorldRotation() - expected).norm(), 1e-9) << c;
        EXPECT_EQ(out.getCamera(c).getFormatWidth(), 8);
    }
}

TEST(Execution, FrameFilterRoundsHalvesAwayFromZeroAndAnUnknownTypeIsAnError) {
    RigFixture f({"main", "cam1"}, 1);
    DizuvaRuviPlugin* op = f.op();
    auto* keys = static_cast<ArrayKnob*>(f.node->knob("analysisKeyframe"));
    keys->setKeyAt(13);
    keys->setKeyAt(-13);
    EXPECT_FALSE(op->skipFrame(12.5));
    EXPECT_FALSE(op->skipFrame(-12.5));
    EXPECT_TRUE(op->skipFrame(12.49));
    EXPECT_TRUE(op->skipFrame(14));
    f.node->setKnobFromUser("executeType", "3");
    EXPECT_TRUE(op->skipFrame(13)) << "tracking keeps constraint keys only";

    keys->setKeyAt(1);
    f.node->setKnobFromUser("executeType", "7");
    const ExecuteResult r = execute(op, {1});
    EXPECT_EQ(r.framesRun, 1);
    EXPECT_EQ(r.error, "Invalid execute type 7.");
}

TEST(Execution, MatchAndWarpWithoutARigFailInsteadOfDoingNothing) {
    // A rig file that is missing or does not read leaves the source without rig metadata.
    RigFixture f({"main", "cam1", "cam2", "cam3"});
    f.sourceOp()->bundle.clear();
    static_cast<ArrayKnob*>(f.node->knob("analysisKeyframe"))->setKeyAt(1);
    for (const char* type : {"0", "1", "2"}) {
        f.node->setKnobFromUser("executeType", type);
        const ExecuteResult r = execute(f.op(), {1});
        EXPECT_EQ(r.error,
                  std::string(type[0] == '2' ? "Warp" : "Match") +
                      " needs a camera rig: the input's metadata describes no cameras.")
            << "executeType " << type;
        f.node->clearError();
    }
}

TEST(ComputeDevices, NoGpuMeansCpu) {
    RigFixture f({"main", "cam1"}, 1);
    DizuvaRuviPlugin* op = f.op();
    EXPECT_EQ(static_cast<TextKnob*>(f.node->knob("gpuName"))->text(), "Not available");
    EXPECT_TRUE(op->useGPU()) << "the choice is kept for machines with a GPU";
    EXPECT_EQ(op->renderDevice(), op->cpuDevice());
}

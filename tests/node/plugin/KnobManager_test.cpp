// SPDX-License-Identifier: Apache-2.0
#include "plugin/KnobManager.h"

#include <gtest/gtest.h>

#include "../TestRigSource.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/ArrayKnob.h"
#include "px/image/MetaKeyFrameKnob.h"
#include "px/image/Node.h"

using namespace PX::Image;
using namespace Korvane::Research;
using NodeTests::RigFixture;

namespace {

struct PanelRow {
    const char* name;
    const char* kind;  // the host's class name
    const char* label;
    const char* value;  // the default, as saved
    uint64_t flagsSet;
    uint64_t flagsClear;
    double min, max;      // min > max: no range
    const char* tooltip;  // its beginning; "" for none
};

constexpr double kNone = 1, kNo = 0;  // min > max

// The panel as the node declares it, in order (labels "" where none, icons by their name).
const PanelRow kPanel[] = {
    {"analysisKeyframe", "Int_Knob", "", "0", 0x40000400, 0, kNone, kNo, ""},
    {"displayAnalysisKeys", "DelegateKeyFrameDisplayKnob", "", "", 0, 0, kNone, kNo, ""},
    {"metaAnalysisKeys",
     "MetaKeyFrame_Knob",
     "Analysis Keys",
     "",
     0x40004300,
     0,
     kNone,
     kNo,
     "The analysis keys. The input images are matched using the keyed frames."},
    {"keyStep",
     "Int_Knob",
     "Step",
     "30",
     0xc0004010,
     0,
     1,
     100000,
     "Set the number of frames between keys for 'Key All'"},
    {"addAllAnalysisKeys", "Script_Knob", "Key All", "", 0, 0, kNone, kNo, "Add analysis keys"},
    {"deleteAllAnalysisKeys",
     "Script_Knob",
     "Delete All",
     "",
     0,
     0,
     kNone,
     kNo,
     "Delete all analysis keys."},
    {"importAllKeys", "Script_Knob", "Import", "", 0, 0, kNone, kNo, "Import analysis keys"},
    {"match", "PyScript_Knob", "Match", "", 0x8010000, 0, kNone, kNo, "Calculate matches between"},
    {"matchNew",
     "PyScript_Knob",
     "Match New",
     "",
     0x8010080,
     0,
     kNone,
     kNo,
     "Calculate matches between the input images only at the new analysis keys."},
    {"warp",
     "PyScript_Knob",
     "Warp",
     "",
     0x8010000,
     0,
     kNone,
     kNo,
     "Warp all camera views at the analysis keys."},
    {"reset", "PyScript_Knob", "Reset", "", 0x8010080, 0, kNone, kNo, "Reset current warp."},
    {"matchError",
     "Double_Knob",
     "Match Error",
     "0",
     0x8210004100,
     0x2,
     kNone,
     kNo,
     "Average RMSE error of all camera matches."},
    {"warpThreshold",
     "Double_Knob",
     "Warp Threshold",
     "20",
     0x4000,
     0,
     0,
     30,
     "Camera matches having RMS error greater than this threshold"},
    {"outputFormat", "Format_Knob", "Format", "2K_LatLong", 0x80000000, 0, kNone, kNo, "Format."},
    {"blendType", "Enumeration_Knob", "Blend", "Alpha", 0, 0, kNone, kNo, ""},
    {"blendSuppression", "Double_Knob", "Suppression", "0.125", 0, 0, 0, 1, ""},
    {"expandBlend", "Bool_Knob", "Expand", "true", 0, 0, kNone, kNo, ""},
    {"exposureCompensation",
     "Bool_Knob",
     "Exposure Compensation",
     "true",
     0,
     0,
     kNone,
     kNo,
     "Match the cameras' exposure"},
    {"resampleType",
     "Enumeration_Knob",
     "Filter",
     "Cubic",
     0,
     0,
     kNone,
     kNo,
     "Select the resampling filter."},
    {"cameraOutputMode",
     "Enumeration_Knob",
     "Cam Warp",
     "Unwarped",
     0,
     0,
     kNone,
     kNo,
     "Set the output mode for the individual camera views.<br />Unwarped"},
    {"cameraProjectionType",
     "Enumeration_Knob",
     "Cam Projection",
     "Default (pass-through)",
     0,
     0,
     kNone,
     kNo,
     "Set the projection type for the individual camera views.<br />Default"},
    {"convergenceDepth",
     "Double_Knob",
     "Converge",
     "10",
     0x10,
     0,
     0.01,
     10000,
     "Set the convergence depth."},
    {"autoConvergenceDepth",
     "Bool_Knob",
     "Auto",
     "true",
     0x84100,
     0,
     kNone,
     kNo,
     "Enable to set convergence automatically from metadata."},
    {"showLines",
     "Bool_Knob",
     "Show guide lines",
     "true",
     0x84100,
     0,
     kNone,
     kNo,
     "When enabled, an overlay of the constraint lines"},
    {"constraintStrength",
     "Double_Knob",
     "Strength",
     "4",
     0x8000084380,
     0,
     0,
     10,
     "Set strength of selected constraints."},
    {"constraintSampling",
     "Double_Knob",
     "Sampling",
     "20",
     0x80000c4380,
     0,
     kNone,
     kNo,
     "Set sampling of selected constraints."},
    {"constraintColour",
     "Color_Knob",
     "Colour",
     "{1 0 0}",
     0x8000084710,
     0,
     0,
     1,
     "Set colour of selected constraints."},
    {"constraintStartFrame",
     "Int_Knob",
     "Frame Range",
     "7",
     0x8000084380,
     0x2000,
     kNone,
     kNo,
     "Set start frame of selected constraints."},
    {"constraintEndFrame",
     "Int_Knob",
     "",
     "7",
     0x8000084380,
     0,
     kNone,
     kNo,
     "Set end frame of selected constraints."},
    {"constraintFrameRangeToCurrent",
     "Script_Knob",
     "@Roto/VisibleUpTillNow",
     "",
     0x8002084380,
     0,
     kNone,
     kNo,
     "Set frame range of selected constraints equal to current frame."},
    {"constraintFrameRangeCurrent",
     "Script_Knob",
     "@Roto/VisibleCurrentFrame",
     "",
     0x8002084380,
     0,
     kNone,
     kNo,
     "Set frame range of selected constraints equal to current frame."},
    {"constraintFrameRangeFromCurrent",
     "Script_Knob",
     "@Roto/VisibleFromNowOn",
     "",
     0x8002084380,
     0,
     kNone,
     kNo,
     "Set frame range of selected constraints equal to current frame."},
    {"constraintFrameRangeInput",
     "Script_Knob",
     "@Roto/UnlimitedLife",
     "",
     0x8002084380,
     0,
     kNone,
     kNo,
     "Set frame range of selected constraints equal to the input frame range."},
    {"constraintKeys",
     "MetaKeyFrame_Knob",
     "Keys",
     "",
     0x40004380,
     0,
     kNone,
     kNo,
     "The keys for the selected constraint."},
    {"addConstraint", "Script_Knob", "Add", "", 0x1000, 0, kNone, kNo, "Add new constraint."},
    {"mergeConstraints",
     "Script_Knob",
     "Merge",
     "",
     0x80,
     0,
     kNone,
     kNo,
     "Merge selected constraints into one."},
    {"deleteConstraints",
     "Script_Knob",
     "Delete",
     "",
     0x80,
     0,
     kNone,
     kNo,
     "Remove selected constraints."},
    {"selectAllConstraints",
     "Script_Knob",
     "Select All",
     "",
     0,
     0,
     kNone,
     kNo,
     "Select all constraints."},
    {"trackConstraints",
     "PyScript_Knob",
     "Track",
     "",
     0x8010080,
     0,
     kNone,
     kNo,
     "Track selected constraints."},
    {"exportConstraints",
     "PyScript_Knob",
     "Export",
     "",
     0x10080,
     0,
     kNone,
     kNo,
     "Export all selected constraints into multiple Z_Ivovuva nodes."},
    {"importConstraints",
     "PyScript_Knob",
     "Import",
     "",
     0x10080,
     0,
     kNone,
     kNo,
     "Import all selected constraints from any Z_Ivovuva nodes with matching track names."},
    {"addConstraintKey",
     "Script_Knob",
     "Add Key",
     "",
     0,
     0x1000,
     kNone,
     kNo,
     "Set current frame as new analysis key."},
    {"addConstraintKeys",
     "Script_Knob",
     "Add Keys",
     "",
     0,
     0x1080,
     kNone,
     kNo,
     "Set the keys of all constraints as analysis keys."},
    {"matchNewLink", "Link_Knob", "Match New", "", 0, 0x1000, kNone, kNo, ""},
    {"constraintsWarpLink", "Link_Knob", "Warp", "", 0, 0x1000, kNone, kNo, ""},
    {"constraintsResetLink", "Link_Knob", "Reset", "", 0, 0x1000, kNone, kNo, ""},
    {"zoomWindowBehaviour",
     "Enumeration_Knob",
     "Show Zoom Window",
     "on track move",
     0,
     0,
     kNone,
     kNo,
     "Indicate when the zoom window should be displayed in the Viewer."},
    {"zoomWindowSize",
     "Enumeration_Knob",
     "Zoom Size/Mag.",
     "100px",
     0,
     0,
     kNone,
     kNo,
     "Specify the size and magnification"},
    {"zoomMagnificationSize",
     "Enumeration_Knob",
     "",
     "x4",
     0,
     0,
     kNone,
     kNo,
     "Magnify the zoom window"},
    {"zoomWindowFilterBehaviour",
     "Enumeration_Knob",
     "Zoom Window Filter",
     "on playback",
     0,
     0,
     kNone,
     kNo,
     "Indicates when the zoom window image should be filtered."},
    {"zoomWindowWHSize", "WH_Knob", "Zoom W/H Size", "{150 150}", 0, 0, 8, 4096, ""},
    {"zoomMagnification", "Double_Knob", "Zoom Magnification", "4", 0, 0, 0.25, 64, ""},
    {"gridSize",
     "WH_Knob",
     "Grid Size",
     "{10 10}",
     0x4000,
     0,
     2,
     100,
     "Use this to control the size of the grid"},
    {"matchStrength",
     "Double_Knob",
     "Match Strength",
     "2",
     0x4000,
     0,
     0,
     10,
     "Use this value to force the camera matches to align in the warped output."},
    {"userMatchStrength",
     "Double_Knob",
     "User Match Strength",
     "4",
     0x4000,
     0,
     0,
     10,
     "Use this value to force the user camera matches"},
    {"spatialSmoothness",
     "Double_Knob",
     "Smoothness",
     "0.5",
     0x4000,
     0,
     kNone,
     kNo,
     "Use this value to increase the smoothness"},
    {"temporalConsistency",
     "Double_Knob",
     "Consistency",
     "2",
     0x4000,
     0,
     kNone,
     kNo,
     "Use this value to increase the consistency"},
    {"temporalWindow",
     "Int_Knob",
     "Temporal Window",
     "0",
     0x4000,
     0,
     0,
     5,
     "Number of key frames (forward and backward) used for the temporal consistency."},
    {"kernelType",
     "Enumeration_Knob",
     "Weight Kernel",
     "Linear",
     0x4000,
     0,
     kNone,
     kNo,
     "Use this to adapt the strength to each camera match during thewarp."},
    {"vectorDetail",
     "Double_Knob",
     "Vector Detail",
     "0.4",
     0x10,
     0,
     0,
     1,
     "Controls the density of the vector field as in D_Ozoduzez"},
    {"trackingStep", "Int_Knob", "Step", "5", 0x84110, 0, 0, 5, "Set the step keys for constraint"},
    {"trackingPatchSize",
     "Int_Knob",
     "Patch Size",
     "14",
     0x84100,
     0,
     kNone,
     kNo,
     "Set the size of the image patch to track."},
    {"trackingThreshold",
     "Double_Knob",
     "Error Threshold",
     "0.25",
     0x84110,
     0,
     0,
     1,
     "Set the threshold to terminate a feature track."},
    {"settingsWarpLink", "Link_Knob", "Warp", "", 0, 0, kNone, kNo, ""},
    {"settingsResetLink", "Link_Knob", "Reset", "", 0, 0x1000, kNone, kNo, ""},
    {"outputInteraction", "Knob", "", "", 0x400, 0, kNone, kNo, ""},
    {"mouseRotate", "MouseRotationEventHandlerKnob", "", "{1 0 0 0}", 0x400, 0, kNone, kNo, ""},
    {"mouseZoom", "MouseZoom", "", "0", 0x400, 0, kNone, kNo, ""},
    {"projectionType", "Enumeration_Knob", "Projection", "Spherical", 0x400, 0, kNone, kNo, ""},
    {"sensorSize", "XY_Knob", "Sensor", "{36 24}", 0x400, 0, kNone, kNo, ""},
    {"rotationAngles",
     "XYZ_Knob",
     "Rotation",
     "{0 0 0}",
     0x400,
     0,
     -180,
     180,
     "Set the Euler rotation angles (ZXY)."},
    {"resetRotationAngles", "Script_Knob", " Reset ", "", 0x400, 0, kNone, kNo, "Reset rotation."},
    {"rotationOrder", "Enumeration_Knob", "Rotation Order", "ZXY", 0x400, 0, kNone, kNo, ""},
    {"focalLength",
     "Double_Knob",
     "Focal",
     "16",
     0x400,
     0,
     kNone,
     kNo,
     "Set the focal length for projection."},
    {"interactionMode",
     "Enumeration_Knob",
     "",
     "Constraints",
     0x22084300,
     0,
     kNone,
     kNo,
     "Switch the overlay to show either camera matches or constraints."},
    {"addPoint",
     "Bool_Knob",
     "@Tracker/AddTrackOff;@Tracker/AddTrackOn",
     "false",
     0x85300,
     0,
     kNone,
     kNo,
     "Use this to add line constraint points or camera matches."},
    {"outputMode",
     "Enumeration_Knob",
     "",
     "Warped",
     0,
     0x1000,
     kNone,
     kNo,
     "Show what output to show."},
    {"outputView",
     "OneView_Knob",
     "",
     "main",
     0x8000080300,
     0x1000,
     kNone,
     kNo,
     "Select the output to show in the main view."},
    {"previousView",
     "Script_Knob",
     "@Tracker/TrackToStart",
     "",
     0x84100,
     0,
     kNone,
     kNo,
     "Go to previous camera view."},
    {"nextView",
     "Script_Knob",
     "@Tracker/TrackToEnd",
     "",
     0x84100,
     0,
     kNone,
     kNo,
     "Go to next camera view."},
    {"rectilinearProjection",
     "Bool_Knob",
     "@Camera",
     "false",
     0x85100,
     0,
     kNone,
     kNo,
     "Toggle on a rectiliear projection in the main view."},
    {"centerOutputView",
     "Script_Knob",
     "@Tracker/CenterViewer",
     "",
     0x84100,
     0,
     kNone,
     kNo,
     "Rotate main view to centre current output view in the panorama."},
    {"resetRotation",
     "Script_Knob",
     "@Tracker/ResetTracker",
     "",
     0x84100,
     0x1000,
     kNone,
     kNo,
     "Reset rotation."},
    {"showCameras",
     "Bool_Knob",
     "@GridBoth",
     "true",
     0x84100,
     0,
     kNone,
     kNo,
     "When enabled, the camera boundaries will be displayed"},
    {"warning", "Text_Knob", "", "", 0x80000c4300, 0, kNone, kNo, ""},
    {"isImported", "Bool_Knob", "", "false", 0x8000004400, 0, kNone, kNo, ""},
    {"isMatched", "Bool_Knob", "", "false", 0x8000004400, 0, kNone, kNo, ""},
    {"isWarped", "Bool_Knob", "", "false", 0x8000004400, 0, kNone, kNo, ""},
    {"executeType", "Int_Knob", "", "0", 0x8000014700, 0, kNone, kNo, ""},
    {"controlPoints",
     "ControlPointsKnob",
     "",
     "version 2\nframes 0\n",
     0x80004500,
     0,
     kNone,
     kNo,
     ""},
    {"gridMap", "GridMapKnob", "", "", 0x88000500, 0, kNone, kNo, ""},
};

}  // namespace

TEST(Panel, EveryKnobInOrderWithItsKindDefaultRangeFlagsAndTooltip) {
    Views::setNames({"main", "cam1", "cam2"});
    // The frame-range knobs start at the UI frame of the node's construction.
    Node::setNewNodeUIContext(OutputContext(7.8, 0));
    auto node = Node::create("V_DizuvaRuvi", "DizuvaRuvi1");
    Node::setNewNodeUIContext(OutputContext());

    std::vector<std::string> order;
    for (const auto& k : node->knobs())
        if (!k->name().empty()) order.push_back(k->name());
    size_t at = 0;
    for (const PanelRow& row : kPanel) {
        SCOPED_TRACE(row.name);
        Knob* k = node->knob(row.name);
        ASSERT_NE(k, nullptr);
        // Panel order: each row comes after the one before.
        const auto pos = std::find(order.begin() + long(at), order.end(), row.name);
        ASSERT_NE(pos, order.end()) << "out of order";
        at = size_t(pos - order.begin());
        EXPECT_STREQ(k->Class(), row.kind);
        EXPECT_EQ(k->label(), row.label);
        if (k->isValueKnob()) {
            EXPECT_EQ(k->toScriptText(), row.value);
        }
        EXPECT_EQ(k->flags() & row.flagsSet, row.flagsSet);
        EXPECT_EQ(k->flags() & row.flagsClear, 0u);
        EXPECT_EQ(k->tooltip().rfind(row.tooltip, 0), 0u) << k->tooltip();
        if (auto* a = dynamic_cast<ArrayKnob*>(k)) {
            EXPECT_EQ(a->hasRange(), row.min <= row.max);
            if (row.min <= row.max) {
                EXPECT_DOUBLE_EQ(a->rangeMin(), row.min);
                EXPECT_DOUBLE_EQ(a->rangeMax(), row.max);
            }
        }
        // The stores are always saved; every other knob of a new node shows its default.
        const bool store =
            std::string(row.kind) == "ControlPointsKnob" || std::string(row.kind) == "GridMapKnob";
        EXPECT_EQ(k->not_default(), store) << "a new node shows the defaults";
    }
    Views::setNames({"main"});
}

TEST(Panel, OldScriptNamesSetTheirKnobs) {
    RigFixture f({"main", "cam1"}, 1);
    f.node->setKnobFromUser("convergence", "25");
    f.node->setKnobFromUser("isSolved", "true");
    f.node->setKnobFromUser("error", "1.5");
    f.node->setKnobFromUser("rmseThreshold", "12");
    f.node->setKnobFromUser("trackStrength", "3");
    f.node->setKnobFromUser("userTrackStrength", "5");
    KnobManager& knobs = static_cast<DizuvaRuviPlugin*>(f.node->op())->knobManager();
    EXPECT_FLOAT_EQ(knobs.convergenceDepth(), 25.0f);
    EXPECT_TRUE(knobs.isWarped());
    EXPECT_FLOAT_EQ(knobs.matchError(), 1.5f);
    EXPECT_FLOAT_EQ(knobs.warpThreshold(), 12.0f);
    EXPECT_FLOAT_EQ(knobs.matchStrength(), 3.0f);
    EXPECT_FLOAT_EQ(knobs.userMatchStrength(), 5.0f);
    // Old names are read, never written.
    for (const auto& k : f.node->knobs()) EXPECT_NE(k->name(), "convergence");
}

TEST(Panel, TheWholeStateSavesAndLoadsBackEqual) {
    RigFixture f({"main", "cam1", "cam2"}, 2);
    const std::pair<const char*, const char*> edits[] = {
        {"keyStep", "12"},
        {"warpThreshold", "7.5"},
        {"outputFormat", "HD_1080"},
        {"blendType", "Multi-Band"},
        {"blendSuppression", "0.5"},
        {"cameraOutputMode", "Warped"},
        {"gridSize", "{20 12}"},
        {"kernelType", "Gaussian"},
        {"constraintColour", "{0.25 0.5 1}"},
        {"outputView", "cam2"},
        {"rotationAngles", "{10 -20 30}"},
        {"mouseRotate", "{0.5 0.5 0.5 0.5}"},
        {"mouseZoom", "1.25"},
        {"analysisKeyframe", "{curve 1=0 11=0 21=0}"},
        {"zoomWindowWHSize", "{300 200}"},
    };
    for (const auto& e : edits) f.node->setKnobFromUser(e.first, e.second);

    auto copy = Node::create("V_DizuvaRuvi", "DizuvaRuvi2");
    for (const auto& k : f.node->knobs()) {
        if (!k->not_default()) continue;
        ASSERT_TRUE(copy->knob(k->name())->from_script(k->toScriptText().c_str())) << k->name();
    }
    for (const auto& k : f.node->knobs()) {
        if (k->name().empty() || !k->isValueKnob()) continue;
        EXPECT_EQ(copy->knob(k->name())->toScriptText(), k->toScriptText()) << k->name();
    }
    copy->setInput(0, f.source.get());
    EXPECT_EQ(copy->op()->hash(), f.node->op()->hash());
}

TEST(Panel, BlendSettingsOnlyReRenderOutsideAlphaMode) {
    RigFixture f({"main", "cam1"}, 1);
    Op* op = f.node->op();
    const Hash alpha = op->hash();
    f.node->setKnobFromUser("blendSuppression", "0.75");
    f.node->setKnobFromUser("expandBlend", "false");
    EXPECT_EQ(op->hash(), alpha) << "suppression and expand do not matter for alpha blending";
    EXPECT_FALSE(f.node->knob("blendSuppression")->visible());

    f.node->setKnobFromUser("blendType", "Multi-Band");
    EXPECT_TRUE(f.node->knob("blendSuppression")->visible());
    EXPECT_TRUE(f.node->knob("expandBlend")->visible());
    const Hash multiBand = op->hash();
    EXPECT_NE(multiBand, alpha);
    f.node->setKnobFromUser("blendSuppression", "0.5");
    EXPECT_NE(op->hash(), multiBand);

    // Exposure compensation matters in every mode.
    f.node->setKnobFromUser("blendType", "Alpha");
    const Hash compensated = op->hash();
    f.node->setKnobFromUser("exposureCompensation", "false");
    EXPECT_NE(op->hash(), compensated);
    EXPECT_TRUE(f.node->knob("exposureCompensation")->visible());
    EXPECT_FALSE(
        static_cast<DizuvaRuviPlugin*>(op)->knobManager().blending().exposureCompensation());

    EXPECT_EQ(BlendingKnobs::smallestLevelSize(2048, 1024, 1.0f), 128);
    EXPECT_EQ(BlendingKnobs::smallestLevelSize(2048, 1024, 0.0f), 1);
}

TEST(Panel, AnalysisKeysAreListedAndEditedThroughTheKeyList) {
    RigFixture f({"main", "cam1"}, 1);
    auto* list = static_cast<MetaKeyFrameKnob*>(f.node->knob("metaAnalysisKeys"));
    KnobManager& knobs = static_cast<DizuvaRuviPlugin*>(f.node->op())->knobManager();
    f.node->setUIContext(OutputContext(30, 0));
    list->addKeyAtCurrentFrame();
    f.node->setUIContext(OutputContext(10, 0));
    list->addKeyAtCurrentFrame();
    EXPECT_EQ(list->keys(), (std::vector<float>{10, 30}));
    EXPECT_EQ(knobs.keyIndex(30), 1);
    EXPECT_EQ(knobs.keyIndex(20), -1);
    std::set<int> shown;
    f.node->knob("displayAnalysisKeys")->get_key_list(shown);
    EXPECT_EQ(shown, (std::set<int>{10, 30}));

    list->deleteKeys({10});
    EXPECT_EQ(list->keys(), std::vector<float>{30});
    EXPECT_EQ(f.node->knob("analysisKeyframe")->toScriptText(), "{curve 30=0}");
}

// SPDX-License-Identifier: Apache-2.0
#include "plugin/KnobManager.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/ControlPointsKnob.h"
#include "analysis/GridMapKnob.h"
#include "constraints/ConstraintsKnob.h"
#include "plugin/DelegateKeyFrameDisplayKnob.h"
#include "plugin/RigContext.h"
#include "px/image/ArrayKnob.h"
#include "px/image/ButtonKnob.h"
#include "px/image/EnumerationKnob.h"
#include "px/image/FormatKnob.h"
#include "px/image/KnobCallback.h"
#include "px/image/Node.h"
#include "px/image/OneViewKnob.h"
#include "px/image/Op.h"
#include "px/image/PanelKnobs.h"
#include "px/image/StringKnob.h"

namespace Korvane {
namespace Research {

using namespace PX::Image;

namespace {

// The statements every analysis execution ends with: a node without keys gets one at the
// current frame limited to its frame range; then the node runs over exactly its keys.
#define KEY_EXECUTION_TAIL                                                                  \
    "  keysKnob = node['analysisKeyframe'] \n"                                              \
    "  if keysKnob.getNumKeys() == 0:\n"                                                    \
    "    keysKnob.setKeyAt(min(max(vireo.frame(), node.firstFrame()), node.lastFrame()))\n" \
    "  indexRange = range(0, keysKnob.getNumKeys())\n"                                      \
    "  frameRange = vireo.FrameRanges([int(keysKnob.getKeyTime(k)) for k in indexRange])\n" \
    "  vireo.execute(node, frameRange)\n"

Knob* text(KnobCallback& f, const std::string& label) { return Text_knob(f, "", label, ""); }

Knob* button(KnobCallback& f, const char* name, const char* label, const char* tooltip) {
    Knob* k = f.make<ButtonKnob>(name, label);
    k->tooltip(tooltip);
    return k;
}

Knob* pyButton(KnobCallback& f,
               const char* name,
               const char* label,
               const char* script,
               uint64_t flags,
               const char* tooltip) {
    Knob* k = f.make<PyScriptKnob>(name, label, script);
    k->set_flag(flags);
    k->tooltip(tooltip);
    return k;
}

Knob* link(KnobCallback& f, const char* name, const char* label, const char* target) {
    Knob* k = f.make<LinkKnob>(name, label, target);
    k->clear_flag(0x1000);
    return k;
}

ArrayKnob* withRange(ArrayKnob* k, double min, double max) {
    k->setRange(min, max);
    return k;
}

// Weights and spacings: 0 (and anything below 0.01) turns them off; a negative value means
// nothing and is refused, naming the knob.
ArrayKnob* withMinimum(ArrayKnob* k, double min) {
    return withRange(k, min, std::numeric_limits<double>::infinity());
}

}  // namespace

const char* const KnobManager::kMatchScript =
    "node = vireo.thisNode()\n"
    "if not node['isMatched'].value() or vireo.ask(\"Proceeding will reset the existing camera "
    "matches. Are you sure?\"):\n"
    "  node['executeType'].setValue(0)\n" KEY_EXECUTION_TAIL;
const char* const KnobManager::kMatchNewScript =
    "node = vireo.thisNode()\n"
    "if True:\n"
    "  node['executeType'].setValue(1)\n" KEY_EXECUTION_TAIL;
const char* const KnobManager::kWarpScript =
    "node = vireo.thisNode()\n"
    "if not node['isWarped'].value() or vireo.ask(\"Proceeding will reset existing warp. Are you "
    "sure?\"):\n"
    "  node['executeType'].setValue(2)\n" KEY_EXECUTION_TAIL;
const char* const KnobManager::kTrackScript =
    "node = vireo.thisNode()\n"
    "firstFrame = node.firstFrame()\n"
    "lastFrame = node.lastFrame()\n"
    "trackingStep = int(node['trackingStep'].value())\n"
    "startFrame = int(node['constraintStartFrame'].value())\n"
    "endFrame = int(node['constraintEndFrame'].value())\n"
    "go = True\n"
    "if startFrame == endFrame:\n"
    "  panel = vireo.Panel(\"Enter tracking range\")\n"
    "  panel.addSingleLineInput(\"from:\", firstFrame)\n"
    "  panel.addSingleLineInput(\"to:\", lastFrame)\n"
    "  panel.addSingleLineInput(\"step:\", trackingStep)\n"
    "  go = panel.show()\n"
    "  if go:\n"
    "    try:\n"
    "      values = [int(panel.value(n)) for n in (\"from:\", \"to:\", \"step:\")]\n"
    "    except ValueError:\n"
    "      vireo.message(\"Invalid range values\")\n"
    "      go = False\n"
    "    if go:\n"
    "      node['constraintStartFrame'].setValue(values[0])\n"
    "      node['constraintEndFrame'].setValue(values[1])\n"
    "      node['trackingStep'].setValue(values[2])\n"
    "if go:\n"
    "  node['executeType'].setValue(3)\n"
    "  vireo.execute(node, firstFrame, lastFrame)\n";
const char* const KnobManager::kExportScript =
    "import DizuvaRuviExport2_1; DizuvaRuviExport2_1.exportTracks(vireo.thisNode())";
const char* const KnobManager::kImportScript =
    "import DizuvaRuviExport2_1; DizuvaRuviExport2_1.importTracks(vireo.thisNode())";

KnobManager::KnobManager(Op* node)
    : m_node(node),
      m_viewNavigation(node),
      m_blending(node),
      m_zoomWindow(10),
      m_actions(node, this) {
    const Format* latLong = Format::find("2K_LatLong");
    m_outputFormat = {*latLong, *latLong};
    if (m_node) {
        m_constraintStartFrame = int(m_node->uiContext().frame());  // truncated
        m_constraintEndFrame = m_constraintStartFrame;
    }
    const int main = Views::find("main");
    m_outputView = main >= 0 ? main : std::max(0, Views::find("left"));
}

void KnobManager::knobs(KnobCallback& f) {
    keyingKnobs(f);
    analysisKnobs(f);
    outputKnobs(f);
    f.make<TabKnob>("Line Constraints");
    constraintPropertyKnobs(f);
    constraintActionKnobs(f);
    f.make<TabKnob>("Settings");
    text(f, "Display");
    m_zoomWindow.knobs(f);
    warpingSettingKnobs(f);
    trackingSettingKnobs(f);
    m_viewNavigation.knobs(f);  // hidden
    editToolbarKnobs(f);
    viewToolbarKnobs(f);
    stateKnobs(f);
}

// The first tab: keying, analysis and output.
void KnobManager::keyingKnobs(KnobCallback& f) {
    text(f, "Keying");
    Int_knob(f, &m_analysisKeyframe, "analysisKeyframe", "")->set_flag(0x40000400ull);
    f.add(std::make_unique<DelegateKeyFrameDisplayKnob>(f.node(), "displayAnalysisKeys", this));
    Knob* k = f.make<MetaKeyFrameKnob>("metaAnalysisKeys", "Analysis Keys", this);
    k->set_flag(0x40004300ull);
    k->tooltip("The analysis keys. The input images are matched using the keyed frames.");
    ArrayKnob* step = Int_knob(f, &m_keyStep, "keyStep", "Step");
    step->setRange(1, 100000, true);
    step->set_flag(0xc0004010ull);
    step->tooltip("Set the number of frames between keys for 'Key All'");
    button(f,
           "addAllAnalysisKeys",
           "Key All",
           "Add analysis keys starting at the first frame, separated by the specified 'Step'.");
    button(f, "deleteAllAnalysisKeys", "Delete All", "Delete all analysis keys.");
    button(f,
           "importAllKeys",
           "Import",
           "Import analysis keys from another Vellacam node. Importing will delete any currently "
           "defined key.");
    text(f, " ");
}

void KnobManager::analysisKnobs(KnobCallback& f) {
    text(f, "Analysis");
    pyButton(f,
             "match",
             "Match",
             kMatchScript,
             0x8010000ull,
             "Calculate matches between the input images at the analysis keys.");
    pyButton(f,
             "matchNew",
             "Match New",
             kMatchNewScript,
             0x8010080ull,
             "Calculate matches between the input images only at the new analysis keys.");
    button(f,
           "refineRig",
           "Refine Rig",
           "Refine each camera's rotation (with three or more cameras also its focal length and "
           "optical centre) from the camera matches of every analysis key. Triangulation, Warp and "
           "the renders use the refined "
           "rig; a stored warp, solved on the old rig, is reset (after a question). Undo takes "
           "the refinement back.");
    Text_knob(f, "rigCorrectionDegrees", "Rig Correction", "none")
        ->tooltip("The rotation Refine Rig gave each camera, degrees.");
    pyButton(f,
             "warp",
             "Warp",
             kWarpScript,
             0x8010000ull,
             "Warp all camera views at the analysis keys.");
    pyButton(f,
             "reset",
             "Reset",
             "",
             0x8010080ull,
             "Reset current warp. The camera matches will not be deleted.");
    text(f, " ");
    ArrayKnob* error = Float_knob(f, &m_matchError, "matchError", "Match Error");
    error->clear_flag(0x2);
    error->set_flag(0x8210004100ull);
    error->tooltip("Average RMSE error of all camera matches.");
    text(f, " ");
    withRange(Float_knob(f, &m_warpThreshold, "warpThreshold", "Warp Threshold"), 0, 30)
        ->set_flag(0x4000);
    f.last()->tooltip(
        "Camera matches having RMS error greater than this threshold will not be used during "
        "warping.");
    text(f, " ");
}

void KnobManager::outputKnobs(KnobCallback& f) {
    text(f, "Output");
    Knob* k = f.make<FormatKnob>("outputFormat", "Format", m_outputFormat.format, &m_outputFormat);
    k->set_flag(0x80000000ull);
    k->tooltip("Format.");
    text(f, " ");
    m_blending.knobs(f);
    f.make<EnumerationKnob>("resampleType",
                            "Filter",
                            std::vector<std::string>{"Bilinear", "Cubic", "Lanczos"},
                            &m_resampleType)
        ->tooltip("Select the resampling filter.");
    text(f, " ");
    f.make<EnumerationKnob>("cameraOutputMode",
                            "Cam Warp",
                            std::vector<std::string>{"Unwarped", "Warped"},
                            &m_cameraOutputMode)
        ->tooltip(
            "Set the output mode for the individual camera views.<br />Unwarped - Pass-through "
            "the input on each view, a stitch map layer will be generated in each camera "
            "view.<br /> Warped - Apply global warp deformation on each view.");
    text(f, " ");
    f.make<EnumerationKnob>("cameraProjectionType",
                            "Cam Projection",
                            std::vector<std::string>{"Default (pass-through)", "Latlong"},
                            &m_cameraProjectionType)
        ->tooltip(
            "Set the projection type for the individual camera views.<br />Default - "
            "Pass-through the input on each view.<br /> Spherical - Project each camera to the "
            "output panorama.");
    text(f, " ");
    ArrayKnob* depth =
        withRange(Float_knob(f, &m_convergenceDepth, "convergenceDepth", "Converge"), 0.01, 10000);
    depth->set_flag(0x10);
    depth->tooltip("Set the convergence depth.");
    k = Bool_knob(f, &m_autoConvergenceDepth, "autoConvergenceDepth", "Auto");
    k->set_flag(0x84100);
    k->tooltip("Enable to set convergence automatically from metadata.");
}

// The properties of the selected constraints.
void KnobManager::constraintPropertyKnobs(KnobCallback& f) {
    Knob* k = Bool_knob(f, &m_showLines, "showLines", "Show guide lines");
    k->set_flag(0x84100);
    k->tooltip(
        "When enabled, an overlay of the constraint lines spanning the full output view will be "
        "displayed. Use these lines as a guide to add constraint points in different views.");
    text(f, "");
    k = withRange(Float_knob(f, &m_constraintStrength, "constraintStrength", "Strength"), 0, 10);
    k->set_flag(0x8000084380ull);
    k->tooltip("Set strength of selected constraints.");
    text(f, " ");
    k = withMinimum(Float_knob(f, &m_constraintSampling, "constraintSampling", "Sampling"), 0);
    k->set_flag(0x80000c4380ull);
    k->tooltip("Set sampling of selected constraints.");
    text(f, " ");
    ArrayKnob* colour = Array_knob(f, m_constraintColour, 3, "constraintColour", "Colour");
    colour->setClassName("Color_Knob");
    colour->setRange(0, 1);
    colour->set_flag(0x8000084710ull);
    colour->tooltip("Set colour of selected constraints.");
    text(f, " ");
    k = Int_knob(f, &m_constraintStartFrame, "constraintStartFrame", "Frame Range");
    k->set_flag(0x8000084380ull);
    k->clear_flag(0x2000);
    k->tooltip("Set start frame of selected constraints.");
    k = Int_knob(f, &m_constraintEndFrame, "constraintEndFrame", "");
    k->set_flag(0x8000084380ull);
    k->tooltip("Set end frame of selected constraints.");
    text(f, " ");
    const char* const currentTip =
        "Set frame range of selected constraints equal to current frame.";
    button(f, "constraintFrameRangeToCurrent", "@Roto/VisibleUpTillNow", currentTip)
        ->set_flag(0x8002084380ull);
    button(f, "constraintFrameRangeCurrent", "@Roto/VisibleCurrentFrame", currentTip)
        ->set_flag(0x8002084380ull);
    button(f, "constraintFrameRangeFromCurrent", "@Roto/VisibleFromNowOn", currentTip)
        ->set_flag(0x8002084380ull);
    button(f,
           "constraintFrameRangeInput",
           "@Roto/UnlimitedLife",
           "Set frame range of selected constraints equal to the input frame range.")
        ->set_flag(0x8002084380ull);
    text(f, " ");
}

// The constraints list and what acts on it: editing, tracking and analysis.
void KnobManager::constraintActionKnobs(KnobCallback& f) {
    // Its keys are those of the selected constraints, kept by the constraints knob.
    auto* constraintKeys = f.make<MetaKeyFrameKnob>("constraintKeys", "Keys");
    constraintKeys->set_flag(0x40004380ull);
    constraintKeys->tooltip("The keys for the selected constraint.");
    text(f, " ");
    auto* constraints = f.make<ConstraintsKnob>("constraints");
    constraints->set_flag(0x4100);
    constraintKeys->setDelegate(constraints);
    text(f, " ");
    button(f, "addConstraint", "Add", "Add new constraint.")->set_flag(0x1000);
    button(f, "mergeConstraints", "Merge", "Merge selected constraints into one.")->set_flag(0x80);
    button(f, "deleteConstraints", "Delete", "Remove selected constraints.")->set_flag(0x80);
    button(f, "selectAllConstraints", "Select All", "Select all constraints.");
    text(f, " ");
    text(f, "Tracking");
    pyButton(f,
             "trackConstraints",
             "Track",
             kTrackScript,
             0x8010080ull,
             "Track selected constraints. Tracking will be computed from the start to the end "
             "frame of each constraint. The tracking step can be changed in the 'Settings' tab.");
    pyButton(f,
             "exportConstraints",
             "Export",
             kExportScript,
             0x10080ull,
             "Export all selected constraints into multiple Z_Ivovuva nodes.");
    pyButton(f,
             "importConstraints",
             "Import",
             kImportScript,
             0x10080ull,
             "Import all selected constraints from any Z_Ivovuva nodes with matching track names.");
    text(f, "Analysis");
    button(f,
           "addConstraintKey",
           "Add Key",
           "Set current frame as new analysis key. 'Match New' can be later executed to "
           "calculate the camera matches at this frame (if not already available).")
        ->clear_flag(0x1000);
    button(f,
           "addConstraintKeys",
           "Add Keys",
           "Set the keys of all constraints as analysis keys. If desired, 'Match New' can be "
           "later executed to calculate the camera matches at the newly added keys (if any).")
        ->clear_flag(0x1080);
    link(f, "matchNewLink", "Match New", "matchNew");
    link(f, "constraintsWarpLink", "Warp", "warp");
    link(f, "constraintsResetLink", "Reset", "reset");
}

void KnobManager::warpingSettingKnobs(KnobCallback& f) {
    text(f, "Warping");
    auto* grid = f.make<ArrayKnob>("gridSize",
                                   "Grid Size",
                                   ArrayKnob::Kind::Int,
                                   std::vector<double>{10, 10},
                                   [this](const std::vector<double>& v) {
                                       m_gridSize[0] = int(v[0]);
                                       m_gridSize[1] = int(v[1]);
                                   });
    grid->setClassName("WH_Knob");
    grid->set_flag(0x4000);
    grid->setRange(kMinGridSize, kMaxGridSize);
    grid->tooltip(
        "Use this to control the size of the grid that will be used to warp each camera view. "
        "Decrease the size to generate more regular warps. Increase the size to generate more "
        "detailed warps. This might help to handle scenes with large parallax. Large sizes "
        "should only be used when enough camera matches are available. Size should not be "
        "smaller than 2.");
    text(f, " ");
    withRange(Float_knob(f, &m_matchStrength, "matchStrength", "Match Strength"), 0, 10)
        ->set_flag(0x4000);
    f.last()->tooltip("Use this value to force the camera matches to align in the warped output.");
    text(f, " ");
    withRange(
        Float_knob(f, &m_userMatchStrength, "userMatchStrength", "User Match Strength"), 0, 10)
        ->set_flag(0x4000);
    f.last()->tooltip(
        "Use this value to force the user camera matches to align in the warped output.");
    text(f, " ");
    withMinimum(Float_knob(f, &m_spatialSmoothness, "spatialSmoothness", "Smoothness"), 0)
        ->set_flag(0x4000);
    f.last()->tooltip("Use this value to increase the smoothness of the warped output.");
    text(f, " ");
    withMinimum(Float_knob(f, &m_temporalConsistency, "temporalConsistency", "Consistency"), 0)
        ->set_flag(0x4000);
    f.last()->tooltip(
        "Use this value to increase the consistency of the warped output at different key "
        "frames.");
    withRange(Int_knob(f, &m_temporalWindow, "temporalWindow", "Temporal Window"), 0, 5)
        ->set_flag(0x4000);
    f.last()->tooltip(
        "Number of key frames (forward and backward) used for the temporal consistency.");
    text(f, " ");
    Knob* k = f.make<EnumerationKnob>("kernelType",
                                      "Weight Kernel",
                                      std::vector<std::string>{"None", "Linear", "Gaussian"},
                                      &m_kernelType);
    k->set_flag(0x4000);
    k->tooltip(
        "Use this to adapt the strength to each camera match during thewarp. Camera matches with "
        "lower RMS error will have more impact on the final result.<br /> None - All matches "
        "have same weight.<br />Linear - Set a linear decay as RMS error increases.<br "
        "/>Gaussian - Set a Gaussian decay (less penalising when RMS error is small).");
    text(f, " ");
    withRange(Float_knob(f, &m_vectorDetail, "vectorDetail", "Vector Detail"), 0, 1)
        ->set_flag(0x10);
    f.last()->tooltip(
        "Controls the density of the vector field as in D_Ozoduzez used to generate the final "
        "panorama. Increase for higher resolution vectors, but also longer computation time.");
    text(f, " ");
}

void KnobManager::trackingSettingKnobs(KnobCallback& f) {
    text(f, "Tracking");
    withRange(Int_knob(f, &m_trackingStep, "trackingStep", "Step"), 0, 5)->set_flag(0x84110);
    f.last()->tooltip(
        "Set the step keys for constraint tracking. This will control the number of frames "
        "between constraint keys. Large values will make the tracking faster but less "
        "accurate.");
    text(f, " ");
    Int_knob(f, &m_trackingPatchSize, "trackingPatchSize", "Patch Size")->set_flag(0x84100);
    f.last()->tooltip(
        "Set the size of the image patch to track. Increase this value to create more stable "
        "tracks. Reduce it to ensure that tracks are matched exactly.");
    text(f, " ");
    withRange(Float_knob(f, &m_trackingThreshold, "trackingThreshold", "Error Threshold"), 0, 1)
        ->set_flag(0x84110);
    f.last()->tooltip(
        "Set the threshold to terminate a feature track. Increase this value to make tracking "
        "more tolerant to image changes.");
    text(f, " ");
    text(f, "Analysis");
    f.make<LinkKnob>("settingsWarpLink", "Warp", "warp");
    link(f, "settingsResetLink", "Reset", "reset");
}

// The viewer's toolbars: what the overlay edits and which output it shows...
void KnobManager::editToolbarKnobs(KnobCallback& f) {
    f.make<ToolbarKnob>(false, 0, 0);
    Knob* k = f.make<EnumerationKnob>(
        "interactionMode",
        "",
        std::vector<std::string>{"3\tRoto/SelectCurvesTool.png\tConstraints",
                                 "2\tRoto/SelectPointsTool.png\tCamera Matches"},
        &m_interactionMode);
    k->set_flag(0x22084300ull);
    k->tooltip("Switch the overlay to show either camera matches or constraints.");
    f.make<ToolbarKnob>(true);
    f.make<ToolbarKnob>(false, 16, 0x80012);
    k = Bool_knob(f, &m_addPoint, "addPoint", "@Tracker/AddTrackOff;@Tracker/AddTrackOn");
    k->set_flag(0x85300);
    k->tooltip(
        "Use this to add line constraint points or camera matches. When this is active the "
        "output will show the unwarped image. Camera matches can be added as in Z_IvovudEdoruv. "
        "Constraint points can be added when the output view is not 'full output'. The point "
        "will be added to the the selected constraint. If no constraint is selected, a new one "
        "will be created. Points belonging to the same constraints across several views will be "
        "warped along the same line.<br />Hot key: Command/Ctrl+Shift");
    f.make<SpacerKnob>(6);
    k = f.make<EnumerationKnob>(
        "outputMode", "", std::vector<std::string>{"Unwarped", "Warped"}, &m_outputMode);
    k->clear_flag(0x1000);
    k->tooltip(
        "Show what output to show.<br />Unwarped - Show original unwarped footage.<br />Warped - "
        "Show warped footage.");
    text(f, " ");
    k = f.make<OneViewKnob>("outputView", "", &m_outputView);
    k->clear_flag(0x1000);
    k->set_flag(0x8000080300ull);
    k->tooltip(
        "Select the output to show in the main view. Use this to switch between different "
        "cameras when adding constraint points.");
    button(f, "previousView", "@Tracker/TrackToStart", "Go to previous camera view.")
        ->set_flag(0x84100);
    button(f, "nextView", "@Tracker/TrackToEnd", "Go to next camera view.")->set_flag(0x84100);
}

// ...and how the main view looks at it.
void KnobManager::viewToolbarKnobs(KnobCallback& f) {
    f.make<SpacerKnob>(6);
    Knob* k = Bool_knob(f, &m_rectilinearProjection, "rectilinearProjection", "@Camera");
    k->set_flag(0x85100);
    k->tooltip(
        "Toggle on a rectiliear projection in the main view. Use this to assist marking "
        "constraints on straight lines in different camera views in edit mode. You can also use "
        "this to review the final warp and ensure lines are straight when edit mode is switched "
        "off. The output view can be transformed using Command/Ctrl+Alt in the same way as "
        "D_AvaderazeZividaviv.<br />Hot key: Ctrl+Tab");
    button(f,
           "centerOutputView",
           "@Tracker/CenterViewer",
           "Rotate main view to centre current output view in the panorama. Useful when working "
           "in rectilinear projection. This control has no effect when output view is 'full "
           "output'")
        ->set_flag(0x84100);
    k = button(f, "resetRotation", "@Tracker/ResetTracker", "Reset rotation.");
    k->set_flag(0x84100);
    k->clear_flag(0x1000);
    f.make<SpacerKnob>(6);
    k = Bool_knob(f, &m_showCameras, "showCameras", "@GridBoth");
    k->set_flag(0x84100);
    k->tooltip(
        "When enabled, the camera boundaries will be displayed in the viewer overlay as in "
        "Z_IvovudEdoruv.");
    f.make<SpacerKnob>(0);
    Text_knob(f, "warning", "", "  ")->set_flag(0x80000c4300ull);
    f.make<ToolbarKnob>(true);
}

// Hidden state, the stores, and the names older scripts used.
void KnobManager::stateKnobs(KnobCallback& f) {
    Bool_knob(f, &m_isImported, "isImported", "")->set_flag(0x8000004400ull);
    Bool_knob(f, &m_isMatched, "isMatched", "")->set_flag(0x8000004400ull);
    Bool_knob(f, &m_isWarped, "isWarped", "")->set_flag(0x8000004400ull);
    Int_knob(f, &m_executeType, "executeType", "")->set_flag(0x8000014700ull);
    String_knob(f, &m_rigCorrection, "rigCorrection", "")->set_flag(0x8000004400ull);
    f.make<ControlPointsKnob>("controlPoints")->set_flag(0x80004500ull);
    f.make<GridMapKnob>("gridMap")->set_flag(0x88000500ull);

    Alias_knob(f, "error", "matchError");
    Alias_knob(f, "rmseThreshold", "warpThreshold");
    Alias_knob(f, "isSolved", "isWarped");
    Alias_knob(f, "convergence", "convergenceDepth");
    Alias_knob(f, "trackStrength", "matchStrength");
    Alias_knob(f, "userTrackStrength", "userMatchStrength");
}

int KnobManager::knob_changed(Knob* knob) {
    if (!m_node || !knob) return 1;
    m_viewNavigation.knob_changed(knob);
    m_blending.knob_changed(knob);
    const bool panelOpened = knob == Knob::showPanel;
    if (panelOpened) m_actions.panelOpened();
    const std::string& name = knob->name();
    if (name == "convergenceDepth" || name == "autoConvergenceDepth" || name == "gridMap")
        m_actions.followSolveDepth();
    if (panelOpened || knob == Knob::inputChange || knob->name() == "autoConvergenceDepth") {
        if (Knob* depth = m_node->knob("convergenceDepth")) depth->enable(!autoConvergenceDepth());
        if (knob->name() == "autoConvergenceDepth") return 1;
    }
    if (panelOpened || knob->name() == "projectionType") {
        const bool rectilinear =
            m_viewNavigation.projection() != ViewNavigationKnobs::Projection::Spherical;
        m_rectilinearProjection = rectilinear;
        setNumber("rectilinearProjection", rectilinear);
        if (knob->name() == "projectionType") return 1;
    }
    if (panelOpened || knob == Knob::inputChange) return 1;
    return m_actions.handle(knob);
}

void KnobManager::appendHash(Hash& hash) const {
    if (const GridMapKnob* grids = gridMap()) grids->hashAll(hash);
    m_viewNavigation.appendHash(hash);
    m_blending.appendHash(hash);
}

GridMapKnob* KnobManager::gridMap() const {
    return m_node ? dynamic_cast<GridMapKnob*>(m_node->knob("gridMap")) : nullptr;
}

ConstraintsKnob* KnobManager::constraints() const {
    return m_node ? dynamic_cast<ConstraintsKnob*>(m_node->knob("constraints")) : nullptr;
}

ControlPointsKnob* KnobManager::controlPoints() const {
    return m_node ? dynamic_cast<ControlPointsKnob*>(m_node->knob("controlPoints")) : nullptr;
}

// --- analysis keys ---------------------------------------------------------------------------

ArrayKnob* KnobManager::keysKnob() const {
    return m_node ? dynamic_cast<ArrayKnob*>(m_node->knob("analysisKeyframe")) : nullptr;
}

std::vector<float> KnobManager::getKeys() const {
    std::vector<float> keys;
    if (ArrayKnob* k = keysKnob())
        for (int i = 0; i < k->getNumKeys(); ++i) keys.push_back(float(k->getKeyTime(i)));
    return keys;
}

void KnobManager::addKey(float frame) { m_actions.addKey(int(std::round(frame))); }

void KnobManager::deleteKeys(const std::vector<float>& frames) {
    for (float f : frames) m_actions.deleteKey(int(std::round(f)));
}

bool KnobManager::isAnalysisKey(int frame) const {
    ArrayKnob* k = keysKnob();
    return k && k->is_key(frame);
}

int KnobManager::keyIndex(int frame) const {
    ArrayKnob* k = keysKnob();
    if (!k || !k->is_key(frame)) return -1;
    for (int i = 0; i < k->getNumKeys(); ++i)
        if (k->getKeyTime(i) == frame) return i;
    return -1;
}

// --- typed access ------------------------------------------------------------------------------

double KnobManager::number(const char* name, double stored, bool storedOnly) const {
    if (storedOnly || !m_node) return stored;
    Knob* k = m_node->knob(name);
    if (auto* a = dynamic_cast<ArrayKnob*>(k)) return a->get_value();
    if (auto* e = dynamic_cast<EnumerationKnob*>(k)) return e->value();
    if (auto* v = dynamic_cast<OneViewKnob*>(k)) return v->value();
    return stored;
}

void KnobManager::setNumber(const char* name, double value) {
    Knob* k = m_node ? m_node->knob(name) : nullptr;
    if (auto* a = dynamic_cast<ArrayKnob*>(k)) a->set_value(value);
    if (auto* e = dynamic_cast<EnumerationKnob*>(k)) e->set_value(int(value));
    if (auto* v = dynamic_cast<OneViewKnob*>(k)) v->set_value(int(value));
}

int KnobManager::keyStep(bool s) const { return int(number("keyStep", m_keyStep, s)); }
float KnobManager::warpThreshold(bool s) const {
    return float(number("warpThreshold", m_warpThreshold, s));
}
int KnobManager::resampleType(bool s) const {
    return int(number("resampleType", m_resampleType, s));
}
KnobManager::CameraOutputMode KnobManager::cameraOutputMode(bool s) const {
    return CameraOutputMode(int(number("cameraOutputMode", m_cameraOutputMode, s)));
}
KnobManager::CameraProjection KnobManager::cameraProjectionType(bool s) const {
    return CameraProjection(int(number("cameraProjectionType", m_cameraProjectionType, s)));
}
float KnobManager::convergenceDepth(bool s) const {
    return float(number("convergenceDepth", m_convergenceDepth, s));
}
bool KnobManager::autoConvergenceDepth(bool s) const {
    return number("autoConvergenceDepth", m_autoConvergenceDepth, s) != 0.0;
}
float KnobManager::matchError(bool s) const { return float(number("matchError", m_matchError, s)); }
float KnobManager::matchStrength(bool s) const {
    return float(number("matchStrength", m_matchStrength, s));
}
float KnobManager::userMatchStrength(bool s) const {
    return float(number("userMatchStrength", m_userMatchStrength, s));
}
float KnobManager::spatialSmoothness(bool s) const {
    return float(number("spatialSmoothness", m_spatialSmoothness, s));
}
float KnobManager::temporalConsistency(bool s) const {
    return float(number("temporalConsistency", m_temporalConsistency, s));
}
int KnobManager::temporalWindow(bool s) const {
    return int(number("temporalWindow", m_temporalWindow, s));
}
KnobManager::KernelType KnobManager::kernelType(bool s) const {
    return KernelType(int(number("kernelType", m_kernelType, s)));
}
float KnobManager::vectorDetail(bool s) const {
    return float(number("vectorDetail", m_vectorDetail, s));
}
int KnobManager::trackingStep(bool s) const {
    return int(number("trackingStep", m_trackingStep, s));
}
int KnobManager::trackingPatchSize(bool s) const {
    return int(number("trackingPatchSize", m_trackingPatchSize, s));
}
float KnobManager::trackingThreshold(bool s) const {
    return float(number("trackingThreshold", m_trackingThreshold, s));
}
bool KnobManager::showLines(bool s) const { return number("showLines", m_showLines, s) != 0.0; }
KnobManager::InteractionMode KnobManager::interactionMode(bool s) const {
    return InteractionMode(int(number("interactionMode", m_interactionMode, s)));
}
bool KnobManager::addPoint(bool s) const { return number("addPoint", m_addPoint, s) != 0.0; }
KnobManager::CameraOutputMode KnobManager::outputMode(bool s) const {
    return CameraOutputMode(int(number("outputMode", m_outputMode, s)));
}
int KnobManager::outputView(bool s) const { return int(number("outputView", m_outputView, s)); }
bool KnobManager::rectilinearProjection(bool s) const {
    return number("rectilinearProjection", m_rectilinearProjection, s) != 0.0;
}
bool KnobManager::showCameras(bool s) const {
    return number("showCameras", m_showCameras, s) != 0.0;
}
bool KnobManager::isImported(bool s) const { return number("isImported", m_isImported, s) != 0.0; }
bool KnobManager::isMatched(bool s) const { return number("isMatched", m_isMatched, s) != 0.0; }
bool KnobManager::isWarped(bool s) const { return number("isWarped", m_isWarped, s) != 0.0; }
int KnobManager::executeType(bool s) const { return int(number("executeType", m_executeType, s)); }

std::array<int, 2> KnobManager::gridSize(bool s) const {
    if (!s && m_node)
        if (auto* k = dynamic_cast<ArrayKnob*>(m_node->knob("gridSize")))
            return {int(k->get_value(0)), int(k->get_value(1))};
    return {m_gridSize[0], m_gridSize[1]};
}

FormatPair KnobManager::outputFormat(bool s) const {
    if (!s && m_node)
        if (auto* k = dynamic_cast<FormatKnob*>(m_node->knob("outputFormat")))
            return {k->value(), k->value()};
    return m_outputFormat;
}

void KnobManager::setConvergenceDepth(float depth) {
    m_convergenceDepth = depth;
    setNumber("convergenceDepth", depth);
}
void KnobManager::followRigConvergence(double rigConvergence) {
    if (autoConvergenceDepth() && convergenceDepth() != float(rigConvergence))
        setConvergenceDepth(float(rigConvergence));
}
void KnobManager::setMatchError(float error) {
    m_matchError = error;
    setNumber("matchError", error);
}
void KnobManager::setIsImported(bool on) {
    m_isImported = on;
    setNumber("isImported", on);
}
void KnobManager::setIsMatched(bool on) {
    m_isMatched = on;
    setNumber("isMatched", on);
}
void KnobManager::setIsWarped(bool on) {
    m_isWarped = on;
    setNumber("isWarped", on);
}
void KnobManager::setExecuteType(int type) {
    m_executeType = type;
    setNumber("executeType", type);
}

void KnobManager::attach(const RigContext* rig) {
    m_actions.attach(rig);
    // The mouse navigates the panorama views only.
    m_viewNavigation.setPanoramaViewTest(
        [rig](int view) { return rig && rig->isPanoramaView(view); });
}

void KnobManager::setViewProjection(int type) {
    m_viewNavigation.setProjection(ViewNavigationKnobs::Projection(type));
}
void KnobManager::setViewRotationAngles(double x, double y, double z) {
    m_viewNavigation.setRotationAngles(x, y, z);
}
void KnobManager::centreViewOn(const Eigen::Vector3d& direction) {
    m_viewNavigation.centreOn(direction.x(), direction.y(), direction.z());
}

}  // namespace Research
}  // namespace Korvane

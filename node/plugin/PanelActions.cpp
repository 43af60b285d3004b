// SPDX-License-Identifier: Apache-2.0
#include "plugin/PanelActions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "analysis/ControlPointsKnob.h"
#include "analysis/GridMapKnob.h"
#include "constraints/ConstraintsKnob.h"
#include "external/RigLibrary.h"
#include "plugin/KnobManager.h"
#include "plugin/RigContext.h"
#include "px/image/ArrayKnob.h"
#include "px/image/Host.h"
#include "px/image/Iop.h"
#include "px/image/Knob.h"
#include "px/image/Limits.h"
#include "px/image/Node.h"
#include "px/image/Op.h"
#include "px/image/StringKnob.h"

namespace Korvane {
namespace Research {

using namespace PX::Image;

namespace {

const char* const kResetMatchesQuestion =
    "Proceeding will reset the existing camera matches. Are you sure?";
const char* const kResetWarpQuestion = "Proceeding will reset existing warp. Are you sure?";
const char* const kSolveDepthMessageStart = "The warp was solved at a convergence depth";

// One undo step, open for the life of the object, that records each given knob (missing ones
// are skipped), so that the whole action comes back at once.
class UndoStep {
public:
    UndoStep(Op* node, std::initializer_list<const char*> names) {
        for (const char* name : names)
            if (Knob* k = node->knob(name)) {
                k->add_to_undo();
                m_knobs.push_back(k);
            }
    }
    ~UndoStep() {
        for (auto it = m_knobs.rbegin(); it != m_knobs.rend(); ++it) (*it)->stop_add_to_undo();
    }
    UndoStep(const UndoStep&) = delete;
    UndoStep& operator=(const UndoStep&) = delete;

private:
    std::vector<Knob*> m_knobs;
};

}  // namespace

int PanelActions::handle(Knob* knob) {
    const auto& table = actionTable();
    const auto found = table.find(knob->name());
    if (found != table.end()) found->second(*this, knob);
    return 1;
}

const std::unordered_map<std::string, PanelActions::Action>& PanelActions::actionTable() {
    static const std::unordered_map<std::string, Action> table = [] {
        std::unordered_map<std::string, Action> t;
        auto on = [&t](std::initializer_list<const char*> names, Action action) {
            for (const char* name : names) t.emplace(name, action);
        };
        // Analysis buttons and the stores.
        on({"match", "matchNew"},
           [](PanelActions& p, Knob*) { p.setKnobEnabled("matchNew", false); });
        on({"warp"}, [](PanelActions& p, Knob*) { p.setKnobEnabled("reset", true); });
        on({"reset"}, [](PanelActions& p, Knob*) { p.reset(); });
        on({"refineRig"}, [](PanelActions& p, Knob*) { p.refineRig(); });
        on({"rigCorrection"}, [](PanelActions& p, Knob*) { p.showRigCorrection(); });
        on({"controlPoints"}, [](PanelActions&, Knob* k) {
            if (k->doingUndoRedo()) Knob::undo_state = 1;
        });
        on({"addAllAnalysisKeys"}, [](PanelActions& p, Knob*) { p.keyAll(true); });
        on({"deleteAllAnalysisKeys"}, [](PanelActions& p, Knob*) { p.keyAll(false); });
        // The viewer's toolbars.
        on({"interactionMode"}, [](PanelActions& p, Knob*) {
            if (Knob* warning = p.m_node->knob("warning")) warning->hide();
            p.followSolveDepth();
        });
        on({"addPoint"}, [](PanelActions& p, Knob*) { p.editMode(); });
        on({"outputMode", "cameraOutputMode"},
           [](PanelActions& p, Knob*) { p.m_node->asapUpdate(); });
        on({"rectilinearProjection"}, [](PanelActions& p, Knob*) {
            p.m_knobs->setViewProjection(p.m_knobs->rectilinearProjection() ? 0 : 2);
        });
        on({"previousView"}, [](PanelActions& p, Knob*) { p.stepView(false); });
        on({"nextView"}, [](PanelActions& p, Knob*) { p.stepView(true); });
        on({"centerOutputView"}, [](PanelActions& p, Knob*) { p.centreOutputView(); });
        on({"resetRotation"}, [](PanelActions& p, Knob*) { p.m_knobs->resetViewRotation(); });
        constraintActions(on);
        return t;
    }();
    return table;
}

template <typename On>
void PanelActions::constraintActions(On& on) {
    on({"constraints"}, [](PanelActions& p, Knob*) { p.followConstraintSelection(); });
    on({"addConstraint"}, [](PanelActions& p, Knob*) {
        if (ConstraintsKnob* c = p.m_knobs->constraints())
            c->addConstraint(int(p.value("constraintStartFrame")),
                             int(p.value("constraintEndFrame")));
    });
    on({"mergeConstraints"}, [](PanelActions& p, Knob*) {
        if (ConstraintsKnob* c = p.m_knobs->constraints()) c->mergeSelectedRows();
    });
    on({"deleteConstraints"}, [](PanelActions& p, Knob*) {
        if (ConstraintsKnob* c = p.m_knobs->constraints()) c->removeSelectedRows();
    });
    on({"selectAllConstraints"}, [](PanelActions& p, Knob*) {
        if (ConstraintsKnob* c = p.m_knobs->constraints()) c->selectAllRows();
    });
    on({"addConstraintKeys"}, [](PanelActions& p, Knob*) { p.addConstraintKeys(); });
    on({"addConstraintKey"}, [](PanelActions& p, Knob*) { p.addConstraintKey(); });
    on({"constraintStrength"}, [](PanelActions& p, Knob*) {
        if (ConstraintsKnob* c = p.m_knobs->constraints())
            c->setSelectedStrength(float(p.value("constraintStrength")));
    });
    on({"constraintSampling"}, [](PanelActions& p, Knob*) {
        if (ConstraintsKnob* c = p.m_knobs->constraints())
            c->setSelectedSampling(float(p.value("constraintSampling")));
    });
    on({"constraintColour"}, [](PanelActions& p, Knob*) {
        if (ConstraintsKnob* c = p.m_knobs->constraints())
            c->setSelectedColour(p.value("constraintColour", 0),
                                 p.value("constraintColour", 1),
                                 p.value("constraintColour", 2));
    });
    on({"constraintStartFrame", "constraintEndFrame"}, [](PanelActions& p, Knob*) {
        if (ConstraintsKnob* c = p.m_knobs->constraints())
            c->setSelectedLife(int(p.value("constraintStartFrame")),
                               int(p.value("constraintEndFrame")));
    });
    // The frame-range buttons: the input's range cut at the current frame.
    on({"constraintFrameRangeToCurrent"}, [](PanelActions& p, Knob*) {
        p.frameRangeButton(p.inputFrameRange().first, p.clampToInput(p.currentFrame()));
    });
    on({"constraintFrameRangeCurrent"}, [](PanelActions& p, Knob*) {
        const int f = p.clampToInput(p.currentFrame());
        p.frameRangeButton(f, f);
    });
    on({"constraintFrameRangeFromCurrent"}, [](PanelActions& p, Knob*) {
        p.frameRangeButton(p.clampToInput(p.currentFrame()), p.inputFrameRange().second);
    });
    on({"constraintFrameRangeInput"}, [](PanelActions& p, Knob*) {
        const auto [first, last] = p.inputFrameRange();
        p.frameRangeButton(first, last);
    });
}

void PanelActions::panelOpened() {
    Knob* keys = m_node->knob("analysisKeyframe");
    if (keys && keys->getNumKeys() > 0) {
        setKnobEnabled("matchNew", someKeyLacksMatches());
    } else if (keys) {
        if (!keys->is_animated()) keys->set_animated();
        keys->setKeyAt(clampToInput(int(m_node->outputContext().frame())));  // truncated
    }
    setKnobEnabled("reset", m_knobs->isWarped());
    if (Knob* warning = m_node->knob("warning")) warning->hide();
    if (ConstraintsKnob* c = m_knobs->constraints()) c->clearSelection();
    setKnobEnabled("mergeConstraints", false);
    setKnobEnabled("deleteConstraints", false);
    setKnobEnabled("trackConstraints", false);
    setKnobEnabled("addConstraintKeys", someConstraintKeyIsNoAnalysisKey());
    followSolveDepth();
}

std::string PanelActions::solveDepthWarning() const {
    const GridMapKnob* grids = m_knobs->gridMap();
    const double solved = grids ? grids->solvedDepth() : std::nan("");
    const double now = m_knobs->convergenceDepth();
    if (!DepthsDiffer(solved, now)) return {};
    const bool follows = m_knobs->autoConvergenceDepth();
    return "The warp was solved at a convergence depth of " + DepthText(solved) +
           ", but Converge is now " + DepthText(now) + (follows ? " (Auto follows the rig)" : "") +
           ": the Warped output ghosts at this depth. Run Warp again, or " +
           (follows ? "turn Auto off and " : "") + "set Converge back to " + DepthText(solved) +
           ".";
}

void PanelActions::followSolveDepth() {
    auto* warning = dynamic_cast<TextKnob*>(m_node->knob("warning"));
    if (!warning) return;
    const std::string message = solveDepthWarning();
    if (!message.empty()) {
        warning->set_text(message);
        warning->show();
    } else if (warning->text().rfind(kSolveDepthMessageStart, 0) == 0) {
        warning->set_text("  ");
        warning->hide();
    }
}

void PanelActions::followConstraintSelection() {
    setKnobEnabled("addConstraintKeys", someConstraintKeyIsNoAnalysisKey());
    const ConstraintsKnob* c = m_knobs->constraints();
    std::set<int> rows;
    const int selected = c ? c->collectRows(false, true, rows) : 0;
    setKnobEnabled("mergeConstraints", selected >= 2);
    setKnobEnabled("deleteConstraints", selected >= 1);
    setKnobEnabled("trackConstraints", selected >= 1);
}

bool PanelActions::someConstraintKeyIsNoAnalysisKey() const {
    const ConstraintsKnob* c = m_knobs->constraints();
    if (!c) return false;
    for (int frame : c->allKeyFrames())
        if (!m_knobs->isAnalysisKey(frame)) return true;
    return false;
}

void PanelActions::addConstraintKeys() {
    const ConstraintsKnob* c = m_knobs->constraints();
    Knob* keys = m_node->knob("analysisKeyframe");
    if (!c || !keys) return;
    bool added = false;
    {
        UndoStep step(m_node, {"analysisKeyframe"});
        if (!keys->is_animated()) keys->set_animated();
        for (int frame : c->allKeyFrames())
            if (!keys->is_key(frame)) added = keys->setKeyAt(frame) || added;
    }
    if (added) setKnobEnabled("matchNew", true);
    setKnobEnabled("addConstraintKeys", someConstraintKeyIsNoAnalysisKey());
}

std::pair<int, int> PanelActions::inputFrameRange() const {
    auto* iop = dynamic_cast<Iop*>(m_node);
    int first = 0, last = 0;
    bool any = false;
    // Input 0 is the source in the node's own view, which a multi-view source (a file per
    // camera) need not have; the camera views' inputs stand for it when there are any.
    const int from = iop && iop->inputs() > 1 ? 1 : 0;
    for (int k = from; iop && k < iop->inputs(); ++k) {
        Iop* input = iop->validateInput(k, false);
        if (!input || input->hasError()) continue;
        const Info& info = input->info();
        first = any ? std::max(first, info.first_frame()) : info.first_frame();
        last = any ? std::min(last, info.last_frame()) : info.last_frame();
        any = true;
    }
    return any ? std::make_pair(first, last) : std::make_pair(1, 1);
}

int PanelActions::currentFrame() const { return int(std::round(m_node->uiContext().frame())); }

int PanelActions::clampToInput(int frame) const {
    const auto [first, last] = inputFrameRange();
    return frame < first ? first : frame > last ? last : frame;
}

bool PanelActions::someKeyLacksMatches() const {
    Knob* keys = m_node->knob("analysisKeyframe");
    if (!keys) return false;
    const ControlPointsKnob* store = m_knobs->controlPoints();
    for (int i = 0; i < keys->getNumKeys(); ++i) {
        const CameraTrack* record =
            store ? store->findCameraTrack(int(keys->getKeyTime(i))) : nullptr;
        if (!record || record->getTracks().empty()) return true;
    }
    return false;
}

void PanelActions::beforeAnalysis() {
    Knob* keys = m_node->knob("analysisKeyframe");
    if (!keys || keys->getNumKeys() > 0) return;
    if (!keys->is_animated()) keys->set_animated();
    keys->setKeyAt(clampToInput(currentFrame()));
}

void PanelActions::afterExecution(int executeType) {
    if (executeType == 0 || executeType == 1) {
        ControlPointsKnob* store = m_knobs->controlPoints();
        if (store) store->changed();
        m_knobs->setIsMatched(store && store->hasMatches());
        m_knobs->setNumber("interactionMode", int(KnobManager::InteractionMode::CameraMatches));
        m_knobs->setMatchError(store ? float(store->matchError()) : 0.0f);
    } else if (executeType == 2) {
        GridMapKnob* grids = m_knobs->gridMap();
        if (grids) grids->changed();
        m_knobs->setIsWarped(grids && grids->gridCount() > 0);
        m_knobs->setNumber("addPoint", 0);
        if (m_rig) m_knobs->setNumber("outputView", m_rig->mainOutputView());
        m_knobs->setNumber("outputMode", int(KnobManager::CameraOutputMode::Warped));
        setKnobEnabled("reset", m_knobs->isWarped());
        followSolveDepth();
    } else if (executeType == 3) {
        if (Knob* constraints = m_node->knob("constraints")) constraints->changed();
        m_knobs->setNumber("interactionMode", int(KnobManager::InteractionMode::Constraints));
        m_knobs->setNumber("outputMode", int(KnobManager::CameraOutputMode::Unwarped));
    }
    m_node->asapUpdate();
}

void PanelActions::addKey(int t) {
    Knob* keys = m_node->knob("analysisKeyframe");
    if (!keys) return;
    const bool isNew = !keys->is_key(t);
    {
        UndoStep step(m_node, {"analysisKeyframe"});
        if (!keys->is_animated()) keys->set_animated();
        keys->setKeyAt(t);
    }
    if (m_knobs->isMatched() && isNew) setKnobEnabled("matchNew", true);
}

void PanelActions::deleteKey(int t) {
    Knob* keys = m_node->knob("analysisKeyframe");
    if (!keys) return;
    {
        UndoStep step(m_node, {"analysisKeyframe"});
        keys->deleteKeyAt(t);
    }
    if (m_knobs->isMatched()) setKnobEnabled("matchNew", someKeyLacksMatches());
}

void PanelActions::reset() {
    if (!m_knobs->gridMap()) return;
    if (!Host::current().ask(kResetWarpQuestion)) return;
    {
        UndoStep step(m_node, {"gridMap", "isWarped"});
        dropWarp();
    }
    m_node->asapUpdate();
}

void PanelActions::dropWarp() {
    GridMapKnob* grids = m_knobs->gridMap();
    grids->clear();
    grids->changed();
    m_knobs->setIsWarped(false);
    setKnobEnabled("reset", false);
}

void PanelActions::refineRig() {
    ControlPointsKnob* store = m_knobs->controlPoints();
    auto* knob = dynamic_cast<StringKnob*>(m_node->knob("rigCorrection"));
    if (!store || !knob || !m_rig) return;
    // The stored grids bring the cameras together on the rig they were solved on; on another
    // rig they pull the cameras apart (more ghosting than no warp), so they go with the change.
    const bool warped = m_knobs->isWarped() && m_knobs->gridMap();
    if (warped && !Host::current().ask(kResetWarpQuestion)) return;
    std::vector<const CameraTrack*> frames;
    for (int frame : store->frames())
        if (const CameraTrack* track = store->findCameraTrack(frame)) frames.push_back(track);
    RefineRigOptions options;
    // The lenses too: a rig of two cameras, whose one overlap cannot place a focal length,
    // holds each lens near its calibration.
    options.refineLens = true;
    const std::unique_ptr<ProgressReporter> progress = CreateProgressReporter(m_node);
    const RigCorrection correction = RefineRig(m_rig->inputRig(), frames, options, progress.get());
    if (correction.interrupted) return;  // cancelled: the rig stays as it was
    if (!correction.ok) {
        Host::current().message("Refine Rig: " + correction.message + "; the rig is unchanged.");
        return;
    }
    {
        UndoStep step(m_node, {"rigCorrection", "gridMap", "isWarped"});
        knob->set_text(correction.toText());
        knob->changed();
        if (warped) dropWarp();
    }
    m_node->asapUpdate();
}

void PanelActions::showRigCorrection() {
    auto* readout = dynamic_cast<TextKnob*>(m_node->knob("rigCorrectionDegrees"));
    auto* knob = dynamic_cast<StringKnob*>(m_node->knob("rigCorrection"));
    if (!readout || !knob || !m_rig) return;
    RigCorrection correction;
    if (!RigCorrection::fromText(knob->text(), m_rig->inputRig().getNumberCameras(), &correction)) {
        readout->set_text("none");
        return;
    }
    std::string text;
    char item[64];
    for (size_t c = 0; c < correction.rotations.size(); ++c) {
        std::snprintf(
            item, sizeof item, "%scam%zu %.2f", c ? "  " : "", c + 1, correction.degrees(int(c)));
        text += item;
    }
    readout->set_text(text);
}

void PanelActions::keyAll(bool setKeys) {
    ControlPointsKnob* store = m_knobs->controlPoints();
    Knob* keys = m_node->knob("analysisKeyframe");
    if (!store || !keys) return;
    const int every = std::max(1, m_knobs->keyStep());
    const auto [first, last] = inputFrameRange();
    if (setKeys) {
        if (!m_node->node()->input(0)) {
            Host::current().message(m_node->node()->name() +
                                    ": Key All needs footage: the node has no input.");
            return;
        }
        // Checked before the question: a range that runs backwards (a Read whose first frame
        // was set after its last, cameras whose ranges share no frame) has no frame to key,
        // and the keys and matches there are stay.
        if (first > last) {
            Host::current().message(m_node->node()->name() + ": Key All sets no key: the input's " +
                                    "frame range runs backwards (first frame " +
                                    std::to_string(first) + ", last frame " + std::to_string(last) +
                                    "). Set the input's first and last " +
                                    "frames, then press Key All again.");
            return;
        }
        const long long count = last > first ? (int64_t(last) - first + every - 1) / every : 0;
        if (count > int64_t(PX::Image::Limits::kMaxKeys)) {
            Host::current().message(m_node->node()->name() + ": Key All would set " +
                                    std::to_string(count) + " keys, more than the " +
                                    std::to_string(PX::Image::Limits::kMaxKeys) +
                                    " a knob holds; raise the key step.");
            return;
        }
    }
    if (m_knobs->isMatched() && !Host::current().ask(kResetMatchesQuestion)) return;
    UndoStep step(m_node,
                  {"controlPoints",
                   "analysisKeyframe",
                   "matchError",
                   "isMatched",
                   "selectedWindowIndex",
                   "selectedMatchIndex"});
    while (keys->getNumKeys() > 0) keys->deleteKeyAt(keys->getKeyTime(0));
    store->clearCameraTracks();
    store->changed();
    m_knobs->setMatchError(0.0f);
    m_knobs->setIsMatched(false);
    setKnobEnabled("matchNew", false);
    m_knobs->setNumber("selectedWindowIndex", -1);
    m_knobs->setNumber("selectedMatchIndex", -1);
    if (!setKeys) return;
    if (!keys->is_animated()) keys->set_animated();
    for (long long f = first; f < last; f += every) keys->setKeyAt(double(f));
}

void PanelActions::editMode() {
    if (!m_knobs->addPoint() || !m_rig) return;
    const int view = m_node->uiContext().view();
    if (m_rig->isPanoramaView(view))
        m_knobs->setNumber("outputMode", int(KnobManager::CameraOutputMode::Unwarped));
    else if (m_rig->isCameraView(view))
        m_knobs->setNumber("cameraOutputMode", int(KnobManager::CameraOutputMode::Unwarped));
}

void PanelActions::stepView(bool next) {
    if (!m_rig) return;
    const int n = m_rig->numberOfCameras();
    if (n <= 0) return;
    const int firstView = m_rig->viewOfCamera(0);
    const int lastView = m_rig->viewOfCamera(n - 1);
    const int v = m_knobs->outputView();
    int view;
    if (m_rig->isPanoramaView(v)) {
        view = next ? firstView : lastView;
    } else {
        view = next ? v + 1 : v - 1;
        if (view < firstView || view > lastView) view = m_rig->mainOutputView();
    }
    if (!m_rig->isPanoramaView(view) && !m_rig->isCameraView(view)) return;
    m_knobs->setNumber("outputView", view);
}

void PanelActions::centreOutputView() {
    if (!m_rig) return;
    const int camera = m_rig->cameraIndexOfView(m_knobs->outputView());
    if (camera < 0 || camera >= m_rig->numberOfCameras()) return;
    const Eigen::Vector3d axis =
        m_rig->rig().getCamera(camera).getCameraToWorldRotation() * Eigen::Vector3d::UnitZ();
    m_knobs->centreViewOn(axis);
}

void PanelActions::addConstraintKey() {
    Knob* keys = m_node->knob("analysisKeyframe");
    if (!keys) return;
    const int first = inputFrameRange().first;
    if (keys->is_key(first)) return;
    {
        UndoStep step(m_node, {"analysisKeyframe"});
        if (!keys->is_animated()) keys->set_animated();
        keys->setKeyAt(first);
    }
    setKnobEnabled("matchNew", true);
}

void PanelActions::frameRangeButton(int start, int end) {
    m_knobs->setNumber("constraintStartFrame", start);
    m_knobs->setNumber("constraintEndFrame", end);
    if (ConstraintsKnob* c = m_knobs->constraints()) c->setSelectedLife(start, end);
}

double PanelActions::value(const char* name, int i) const {
    auto* k = dynamic_cast<ArrayKnob*>(m_node->knob(name));
    return k ? k->get_value(i) : 0.0;
}

void PanelActions::setKnobEnabled(const char* name, bool on) const {
    if (Knob* k = m_node->knob(name)) k->enable(on);
}

}  // namespace Research
}  // namespace Korvane

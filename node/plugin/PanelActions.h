// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <unordered_map>
#include <utility>

namespace PX {
namespace Image {
class Knob;
class Op;
}  // namespace Image
}  // namespace PX

namespace Korvane {
namespace Research {

class KnobManager;
class RigContext;

/// What the panel's buttons and knob changes do: keying, the state that follows the stores
/// (which buttons are enabled), reset, stepping through camera views, the view rotation and the
/// frame-range buttons. The Python-script buttons start executions themselves; a press still
/// arrives here so the panel can follow.
///
/// Every question is asked through the host; a no changes nothing. Every action that edits a
/// store runs inside one undo step recorded on that store, state knobs included.
class PanelActions {
public:
    PanelActions(PX::Image::Op* node, KnobManager* knobs) : m_node(node), m_knobs(knobs) {}
    void attach(const RigContext* rig) { m_rig = rig; }

    /// The table of panel knobs: 1 for every knob (a knob without an action is handled with no
    /// effect).
    int handle(PX::Image::Knob* knob);
    /// The node's panel opened.
    void panelOpened();

    /// The frames common to every connected input, (1, 1) without inputs.
    std::pair<int, int> inputFrameRange() const;
    /// The user's frame to the nearest whole frame (halves away from zero).
    int currentFrame() const;
    /// `frame` limited to the input frame range.
    int clampToInput(int frame) const;
    /// True when some analysis key has no camera matches.
    bool someKeyLacksMatches() const;

    /// Before an execution of matching or warping: a node without analysis keys gets one at
    /// the clamped current frame.
    void beforeAnalysis();
    /// The state knobs after an execution of `executeType`.
    void afterExecution(int executeType);

    /// What the node says when a warp is stored and Converge (followed by Auto or set by hand)
    /// is no longer the depth its grids were solved at (relative difference over 1e-3);
    /// empty otherwise, and for a store that does not know its depth.
    std::string solveDepthWarning() const;
    /// The panel's `warning` shows solveDepthWarning() while there is one; once it is empty,
    /// a `warning` showing an earlier depth message is hidden (other messages stay).
    void followSolveDepth();

    // Key edits through the key-frame display knob, at frame t.
    void addKey(int t);
    void deleteKey(int t);

private:
    using Action = void (*)(PanelActions&, PX::Image::Knob*);
    /// What a change of each knob does, by knob name.
    static const std::unordered_map<std::string, Action>& actionTable();
    /// The table's entries for the constraint knobs; `on(names, action)` adds one.
    template <typename On>
    static void constraintActions(On& on);

    void reset();
    /// Clears the stored grids and the warped state, inside the caller's undo step.
    void dropWarp();
    /// Refine Rig: the rig refined from every key's matches, stored in "rigCorrection" in one
    /// undo step; too few matches leave everything as it was and say why. With a stored warp
    /// it asks first, and the grids (solved on the old rig) are dropped in the same step.
    void refineRig();
    /// The per-camera read-out of "rigCorrection".
    void showRigCorrection();
    void keyAll(bool setKeys);
    void editMode();
    void stepView(bool next);
    void centreOutputView();
    void addConstraintKey();
    void frameRangeButton(int start, int end);
    void followConstraintSelection();
    bool someConstraintKeyIsNoAnalysisKey() const;
    void addConstraintKeys();
    double value(const char* name, int i = 0) const;
    void setKnobEnabled(const char* name, bool on) const;

    PX::Image::Op* m_node;
    KnobManager* m_knobs;
    const RigContext* m_rig = nullptr;
};

}  // namespace Research
}  // namespace Korvane

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <set>
#include <string>
#include <vector>

#include "plugin/MultiViewInterface.h"
#include "px/image/OutputContext.h"

namespace PX {
namespace Image {
class Knob;
class KnobCallback;
class Op;
}  // namespace Image
}  // namespace PX

namespace Korvane {
namespace Research {

/// Chooses which host views are the rig's camera views and splits the node's one input into
/// N + 1 inputs: input 0 is the source in the node's own context, input k (1..N) the source
/// in the context of the k-th camera view in ascending view-number order.
///
/// Camera views come from the input's rig metadata ("cam1" .. "camN" as far as the project
/// has them), or, with `manualOverride`, from the user's `rigViews` choice. Presets select
/// views by name.
class MultiViewManager : public MultiViewInterface {
public:
    enum class Preset { Main, Stereo, Cams, LeftCams, RightCams, StereoCams, Custom };

    explicit MultiViewManager(PX::Image::Op* node);

    /// `rigViews`, `knobEnabler`, `viewsPresets`, `manualOverride`, all kept out of the panel.
    void knobs(PX::Image::KnobCallback& f);
    /// Handles the rig-view knobs, panel opening and input changes; 1 when handled.
    int knob_changed(PX::Image::Knob* knob);

    /// Recomputes the camera views from the node's input 0; toggles `knobEnabler` on change.
    void build_splits();
    int split_input(int graphInput) const;
    PX::Image::OutputContext inputContext(int k) const;
    PX::Image::OutputContext inputUIContext(int k) const;

    int inputIndexOfCameraPosition(int position) const override;
    int numberOfCameraViews() const override { return int(m_rigViews.size()); }

    /// The view of input k (k >= 1), -1 outside the set.
    int cameraViewOfInput(int k) const;
    /// Position of `view` in the set plus 1, -1 when not in it.
    int inputIndexOfView(int view) const;
    bool isViewInSet(int view) const { return m_rigViews.count(view) > 0; }
    /// The camera views in ascending view-number order.
    std::vector<int> cameraViews() const { return {m_rigViews.begin(), m_rigViews.end()}; }
    Preset preset() const { return Preset(m_preset); }

    /// The host views a preset selects, in host order (Custom: the current set).
    std::set<int> viewsOfPreset(Preset preset) const;
    /// Recomputes the set from the input; true when it changed.
    bool recompute();

    /// "cam" + whole number + suffix: the number, or -1 when `name` is not a camera name.
    static int cameraNumber(const std::string& name, std::string* suffix = nullptr);

private:
    void setViews(const std::set<int>& views);
    void toggleEnabler();

    PX::Image::Op* m_node;
    int m_preset = int(Preset::Cams);
    bool m_manualOverride = false;
    std::set<int> m_rigViews;
    std::set<int> m_recomputeViews;
    int m_leadingSplits = 1;
    bool m_knobEnabler = false;
};

}  // namespace Research
}  // namespace Korvane

// SPDX-License-Identifier: Apache-2.0
#include "plugin/MultiViewManager.h"

#include <cctype>

#include "external/RigLibrary.h"
#include "px/image/ArrayKnob.h"
#include "px/image/EnumerationKnob.h"
#include "px/image/KnobCallback.h"
#include "px/image/Node.h"
#include "px/image/Op.h"
#include "px/image/ViewsKnob.h"

namespace Korvane {
namespace Research {

using namespace PX::Image;

namespace {
// Flag bits the node adds to every rig-view knob: kept out of the panel.
constexpr uint64_t kExtraFlags = Knob::INVISIBLE;
}  // namespace

MultiViewManager::MultiViewManager(Op* node) : m_node(node) {}

void MultiViewManager::knobs(KnobCallback& f) {
    auto* views = f.make<ViewsKnob>("rigViews", "Rig Views", &m_rigViews);
    views->set_flag(kExtraFlags | 0x80c8010100ull);
    views->clear_flag(0x1000);
    Bool_knob(f, &m_knobEnabler, "knobEnabler", "")->set_flag(0x8048050100ull | kExtraFlags);
    auto* presets = f.make<EnumerationKnob>(
        "viewsPresets",
        "Preset",
        std::vector<std::string>{
            "main", "stereo", "cams", "left cams", "right cams", "stereo cams", "custom"},
        &m_preset);
    presets->set_flag(0x80c8050100ull | kExtraFlags);
    presets->clear_flag(0x1000);
    Bool_knob(f, &m_manualOverride, "manualOverride", "Override")
        ->set_flag(kExtraFlags | 0x80c8010100ull);
}

int MultiViewManager::cameraNumber(const std::string& name, std::string* suffix) {
    if (name.compare(0, 3, "cam") != 0) return -1;
    size_t i = 3;
    long n = 0;
    while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i])) && n < 1000000)
        n = n * 10 + (name[i++] - '0');
    if (i == 3) return -1;
    if (suffix) *suffix = name.substr(i);
    return int(n);
}

std::set<int> MultiViewManager::viewsOfPreset(Preset preset) const {
    std::set<int> views;
    const std::vector<std::string> names = Views::names();
    for (int v = 0; v < int(names.size()); ++v) {
        std::string suffix;
        const bool camera = cameraNumber(names[size_t(v)], &suffix) >= 0;
        bool take = false;
        switch (preset) {
            case Preset::Main:
                take = names[size_t(v)] == "main";
                break;
            case Preset::Stereo:
                take = names[size_t(v)] == "left" || names[size_t(v)] == "right";
                break;
            case Preset::Cams:
                take = camera && suffix.empty();
                break;
            case Preset::LeftCams:
                take = camera && suffix == "_left";
                break;
            case Preset::RightCams:
                take = camera && suffix == "_right";
                break;
            case Preset::StereoCams:
                take = camera && (suffix == "_left" || suffix == "_right");
                break;
            case Preset::Custom:
                return m_rigViews;
        }
        if (take) views.insert(v);
    }
    return views;
}

bool MultiViewManager::recompute() {
    Knob* override = m_node->knob("manualOverride");
    auto* rigViews = dynamic_cast<ViewsKnob*>(m_node->knob("rigViews"));
    if (!override || !rigViews) return false;

    m_recomputeViews.clear();
    if (static_cast<ArrayKnob*>(override)->get_value() != 0.0) {
        m_recomputeViews = rigViews->value();
    } else if (Op* input = m_node->node_input(0)) {
        MetaDataHandler metadata;
        try {
            metadata.updateMetaDataBundle(input->fetchMetaData());
        } catch (const std::exception&) {
            // Bad rig metadata: no cameras, no camera views.
        }
        for (int n = 1; n <= metadata.getNumberCameras(); ++n) {
            const int v = Views::find("cam" + std::to_string(n));
            if (v >= 0) m_recomputeViews.insert(v);
        }
    }
    if (m_recomputeViews == m_rigViews) return false;
    setViews(m_recomputeViews);
    return true;
}

void MultiViewManager::setViews(const std::set<int>& views) {
    m_rigViews = views;
    if (auto* k = dynamic_cast<ViewsKnob*>(m_node->knob("rigViews"))) k->set_value(views);
}

void MultiViewManager::toggleEnabler() {
    m_knobEnabler = !m_knobEnabler;
    if (auto* k = dynamic_cast<ArrayKnob*>(m_node->knob("knobEnabler")))
        k->set_value(m_knobEnabler);
}

void MultiViewManager::build_splits() {
    if (recompute()) toggleEnabler();
}

int MultiViewManager::split_input(int) const { return numberOfCameraViews() + m_leadingSplits; }

OutputContext MultiViewManager::inputContext(int k) const {
    OutputContext c = m_node->outputContext();
    if (k >= m_leadingSplits) c.setView(cameraViewOfInput(k));
    return c;
}

OutputContext MultiViewManager::inputUIContext(int) const { return m_node->uiContext(); }

int MultiViewManager::inputIndexOfCameraPosition(int position) const {
    return position + m_leadingSplits;
}

int MultiViewManager::cameraViewOfInput(int k) const {
    const int position = k - m_leadingSplits;
    if (position < 0 || position >= int(m_rigViews.size())) return -1;
    return *std::next(m_rigViews.begin(), position);
}

int MultiViewManager::inputIndexOfView(int view) const {
    auto it = m_rigViews.find(view);
    return it == m_rigViews.end() ? -1
                                  : int(std::distance(m_rigViews.begin(), it)) + m_leadingSplits;
}

int MultiViewManager::knob_changed(Knob* knob) {
    if (knob == Knob::showPanel || knob == Knob::inputChange) {
        // The rig-view knobs stay hidden in this node; an input change may change the rig.
        if (knob == Knob::inputChange) build_splits();
        return 1;
    }
    const std::string& name = knob->name();
    if (name == "manualOverride") {
        m_manualOverride = static_cast<ArrayKnob*>(knob)->get_value() != 0.0;
        if (!m_manualOverride) {
            recompute();
            toggleEnabler();
        }
        return 1;
    }
    if (name == "viewsPresets") {
        const int preset = static_cast<EnumerationKnob*>(knob)->value();
        m_preset = preset;
        const std::set<int> views = viewsOfPreset(Preset(preset));
        if (Preset(preset) != Preset::Custom && views != m_rigViews) {
            setViews(views);
            toggleEnabler();
        }
        return 1;
    }
    if (name == "rigViews" || name == "knobEnabler") return 1;
    return 0;
}

}  // namespace Research
}  // namespace Korvane

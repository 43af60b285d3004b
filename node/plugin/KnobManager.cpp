// SPDX-License-Identifier: Apache-2.0
#include "plugin/KnobManager.h"

#include "px/image/ArrayKnob.h"
#include "px/image/EnumerationKnob.h"
#include "px/image/FormatKnob.h"
#include "px/image/KnobCallback.h"
#include "px/image/Op.h"

namespace Korvane {
namespace Research {

using namespace PX::Image;

KnobManager::KnobManager(Op* node) : m_node(node) {
    const Format* latLong = Format::find("2K_LatLong");
    m_outputFormat = {*latLong, *latLong};
}

void KnobManager::knobs(KnobCallback& f) {
    Text_knob(f, "Keying");
    Int_knob(f, &m_analysisKeyframe, "analysisKeyframe", "")->set_flag(0x40000400ull);

    Text_knob(f, " ");
    Text_knob(f, "Analysis");
    auto* error = Float_knob(f, &m_matchError, "matchError", "Match Error");
    error->clear_flag(0x2);
    error->set_flag(0x8210004100ull);
    error->tooltip("Average RMSE error of all camera matches.");

    Text_knob(f, " ");
    Text_knob(f, "Output");
    f.make<FormatKnob>("outputFormat", "Format", m_outputFormat.format, &m_outputFormat)
        ->set_flag(0x80000000ull);
    Text_knob(f, " ");
    auto* mode = f.make<EnumerationKnob>("cameraOutputMode",
                                         "Cam Warp",
                                         std::vector<std::string>{"Unwarped", "Warped"},
                                         &m_cameraOutputMode);
    mode->tooltip(
        "Set the output mode for the individual camera views.<br />Unwarped - Pass-through the "
        "input on each view, a stitch map layer will be generated in each camera view.<br /> "
        "Warped - Apply global warp deformation on each view.");
    auto* projection =
        f.make<EnumerationKnob>("cameraProjectionType",
                                "Cam Projection",
                                std::vector<std::string>{"Default (pass-through)", "Latlong"},
                                &m_cameraProjectionType);
    projection->tooltip(
        "Set the projection type for the individual camera views.<br />Default - Pass-through the "
        "input on each view.<br /> Spherical - Project each camera to the output panorama.");
    auto* depth = Float_knob(f, &m_convergenceDepth, "convergenceDepth", "Converge");
    depth->setRange(0.01, 10000);
    depth->set_flag(0x10);
    depth->tooltip("Set the convergence depth.");
    auto* autoDepth = Bool_knob(f, &m_autoConvergenceDepth, "autoConvergenceDepth", "Auto");
    autoDepth->set_flag(0x84100);
    autoDepth->tooltip("Enable to set convergence automatically from metadata.");

    Bool_knob(f, &m_isMatched, "isMatched", "")->set_flag(0x8000004400ull);
    Bool_knob(f, &m_isWarped, "isWarped", "")->set_flag(0x8000004400ull);
    Int_knob(f, &m_executeType, "executeType", "")->set_flag(0x8000014700ull);

    Alias_knob(f, "error", "matchError");
    Alias_knob(f, "isSolved", "isWarped");
    Alias_knob(f, "convergence", "convergenceDepth");
}

int KnobManager::knob_changed(Knob* knob) {
    if (knob->name() == "autoConvergenceDepth") {
        if (Knob* depth = m_node->knob("convergenceDepth"))
            depth->enable(static_cast<ArrayKnob*>(knob)->get_value() == 0.0);
        return 1;
    }
    return 0;
}

double KnobManager::liveValue(const char* name, double stored, bool storedOnly) const {
    if (storedOnly || !m_node) return stored;
    Knob* k = m_node->knob(name);
    if (auto* a = dynamic_cast<ArrayKnob*>(k)) return a->get_value();
    if (auto* e = dynamic_cast<EnumerationKnob*>(k)) return e->value();
    return stored;
}

void KnobManager::setLive(const char* name, double value) {
    if (!m_node) return;
    if (auto* a = dynamic_cast<ArrayKnob*>(m_node->knob(name))) a->set_value(value);
}

FormatPair KnobManager::outputFormat(bool storedOnly) const {
    if (!storedOnly && m_node)
        if (auto* k = dynamic_cast<FormatKnob*>(m_node->knob("outputFormat")))
            return {k->value(), k->value()};
    return m_outputFormat;
}

KnobManager::CameraOutputMode KnobManager::cameraOutputMode(bool storedOnly) const {
    return CameraOutputMode(int(liveValue("cameraOutputMode", m_cameraOutputMode, storedOnly)));
}

KnobManager::CameraProjection KnobManager::cameraProjectionType(bool storedOnly) const {
    return CameraProjection(
        int(liveValue("cameraProjectionType", m_cameraProjectionType, storedOnly)));
}

float KnobManager::convergenceDepth(bool storedOnly) const {
    return float(liveValue("convergenceDepth", m_convergenceDepth, storedOnly));
}

bool KnobManager::autoConvergenceDepth(bool storedOnly) const {
    return liveValue("autoConvergenceDepth", m_autoConvergenceDepth, storedOnly) != 0.0;
}

int KnobManager::executeType(bool storedOnly) const {
    return int(liveValue("executeType", m_executeType, storedOnly));
}

bool KnobManager::isMatched(bool storedOnly) const {
    return liveValue("isMatched", m_isMatched, storedOnly) != 0.0;
}

bool KnobManager::isWarped(bool storedOnly) const {
    return liveValue("isWarped", m_isWarped, storedOnly) != 0.0;
}

float KnobManager::matchError(bool storedOnly) const {
    return float(liveValue("matchError", m_matchError, storedOnly));
}

void KnobManager::setConvergenceDepth(float depth) {
    m_convergenceDepth = depth;
    setLive("convergenceDepth", depth);
}

void KnobManager::setExecuteType(int type) {
    m_executeType = type;
    setLive("executeType", type);
}

void KnobManager::setIsMatched(bool on) {
    m_isMatched = on;
    setLive("isMatched", on);
}

void KnobManager::setIsWarped(bool on) {
    m_isWarped = on;
    setLive("isWarped", on);
}

void KnobManager::setMatchError(float error) {
    m_matchError = error;
    setLive("matchError", error);
}

bool KnobManager::isAnalysisKey(int frame) const {
    if (!m_node) return false;
    Knob* k = m_node->knob("analysisKeyframe");
    return k && k->is_key(frame);
}

}  // namespace Research
}  // namespace Korvane

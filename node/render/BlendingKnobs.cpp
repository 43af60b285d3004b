// SPDX-License-Identifier: Apache-2.0
#include "render/BlendingKnobs.h"

#include <algorithm>

#include "px/image/ArrayKnob.h"
#include "px/image/EnumerationKnob.h"
#include "px/image/KnobCallback.h"
#include "px/image/Op.h"

namespace Korvane {
namespace Research {

using namespace PX::Image;

void BlendingKnobs::knobs(KnobCallback& f) {
    f.make<EnumerationKnob>("blendType",
                            "Blend",
                            std::vector<std::string>{"Alpha", "Multi-Band", "Spherical Multi-Band"},
                            &m_blendType);
    // The two settings enter the hash through appendHash only, under the blend-type rule.
    ArrayKnob* suppression = Float_knob(f, &m_suppression, "blendSuppression", "Suppression");
    suppression->setRange(0, 1);
    suppression->set_flag(Knob::NO_RERENDER);
    Bool_knob(f, &m_expand, "expandBlend", "Expand")->set_flag(Knob::NO_RERENDER);
    // Not one of the node's original knobs: it turns off the per-camera exposure and colour
    // gains that the stitcher estimates from the overlaps.
    Knob* exposure =
        Bool_knob(f, &m_exposureCompensation, "exposureCompensation", "Exposure Compensation");
    exposure->set_flag(Knob::NO_RERENDER);
    exposure->tooltip(
        "Match the cameras' exposure and white balance where they overlap before blending, so "
        "that no seam shows a brightness step.");
    updateVisibility();
}

int BlendingKnobs::knob_changed(Knob* knob) {
    if (knob == Knob::showPanel || knob->name() == "blendType") {
        updateVisibility();
        return knob == Knob::showPanel ? 0 : 1;
    }
    return knob->name() == "blendSuppression" || knob->name() == "expandBlend" ||
                   knob->name() == "exposureCompensation"
               ? 1
               : 0;
}

void BlendingKnobs::updateVisibility() {
    auto* type = dynamic_cast<EnumerationKnob*>(m_node->knob("blendType"));
    const bool multiBand = type ? type->value() != 0 : m_blendType != 0;
    for (const char* name : {"blendSuppression", "expandBlend"})
        if (Knob* k = m_node->knob(name)) k->visible(multiBand);
}

void BlendingKnobs::appendHash(Hash& hash) const {
    auto* type = dynamic_cast<EnumerationKnob*>(m_node->knob("blendType"));
    const int blend = type ? type->value() : m_blendType;
    hash.append(blend);
    hash.append(exposureCompensation());
    if (blend == 0) return;
    auto* suppression = dynamic_cast<ArrayKnob*>(m_node->knob("blendSuppression"));
    auto* expand = dynamic_cast<ArrayKnob*>(m_node->knob("expandBlend"));
    hash.append(float(suppression ? suppression->get_value() : m_suppression));
    hash.append(expand ? expand->get_value() != 0.0 : m_expand);
}

bool BlendingKnobs::exposureCompensation() const {
    // The knob's live value: the stored copy follows it only when the host stores knobs.
    auto* exposure = dynamic_cast<ArrayKnob*>(m_node->knob("exposureCompensation"));
    return exposure ? exposure->get_value() != 0.0 : m_exposureCompensation;
}

int BlendingKnobs::smallestLevelSize(int width, int height, float suppression) {
    const int s = int(float(std::min(width, height)) * suppression * 0.125f);
    return std::max(1, s);
}

}  // namespace Research
}  // namespace Korvane

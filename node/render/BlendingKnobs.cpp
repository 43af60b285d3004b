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
    updateVisibility();
}

int BlendingKnobs::knob_changed(Knob* knob) {
    if (knob == Knob::showPanel || knob->name() == "blendType") {
        updateVisibility();
        return knob == Knob::showPanel ? 0 : 1;
    }
    return knob->name() == "blendSuppression" || knob->name() == "expandBlend" ? 1 : 0;
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
    if (blend == 0) return;
    auto* suppression = dynamic_cast<ArrayKnob*>(m_node->knob("blendSuppression"));
    auto* expand = dynamic_cast<ArrayKnob*>(m_node->knob("expandBlend"));
    hash.append(float(suppression ? suppression->get_value() : m_suppression));
    hash.append(expand ? expand->get_value() != 0.0 : m_expand);
}

int BlendingKnobs::smallestLevelSize(int width, int height, float suppression) {
    const int s = int(float(std::min(width, height)) * suppression * 0.125f);
    return std::max(1, s);
}

}  // namespace Research
}  // namespace Korvane

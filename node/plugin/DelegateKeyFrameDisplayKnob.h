// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cmath>
#include <set>

#include "px/image/MetaKeyFrameKnob.h"

namespace Korvane {
namespace Research {

/// Shows keys kept elsewhere in the host's timeline: its key-list answers are its delegate's
/// keys; without a delegate it answers like a plain knob. Stores nothing.
class DelegateKeyFrameDisplayKnob : public PX::Image::Knob {
public:
    DelegateKeyFrameDisplayKnob(PX::Image::Node* node,
                                std::string name,
                                PX::Image::MetaKeyFrameDelegate* delegate)
        : Knob(node, std::move(name), ""), m_delegate(delegate) {}
    const char* Class() const override { return "DelegateKeyFrameDisplayKnob"; }

    int get_key_list(std::set<int>& keys) const override {
        if (!m_delegate) return Knob::get_key_list(keys);
        for (float k : m_delegate->getKeys()) keys.insert(int(std::lround(k)));
        return int(keys.size());
    }
    bool keyframesDisplayed() const override { return m_showKeys; }

private:
    PX::Image::MetaKeyFrameDelegate* m_delegate;
    bool m_showKeys = true;
};

}  // namespace Research
}  // namespace Korvane

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "px/image/Knob.h"
#include "px/image/Quaternion.h"

namespace Korvane {
namespace Research {

/// The mouse rotation of the panorama view: a rotation quaternion, saved with the script
/// ("{w x y z}") and appended to the node's hash.
class MouseRotateKnob : public PX::Image::Knob {
public:
    explicit MouseRotateKnob(PX::Image::Node* node);
    const char* Class() const override { return "MouseRotationEventHandlerKnob"; }

    const PX::Image::Quaternion& rotation() const { return m_rotation; }
    /// No knob_changed; callers bracket it with add_to_undo() / changed() as an action.
    void setRotation(const PX::Image::Quaternion& q) { m_rotation = q; }

    bool to_script(std::ostream& os, const PX::Image::OutputContext*, bool quote) const override;
    bool from_script(const char* text) override;
    void append(PX::Image::Hash& hash, const PX::Image::OutputContext*) const override;
    bool not_default() const override;
    bool isValueKnob() const override { return true; }

private:
    PX::Image::Quaternion m_rotation;
};

}  // namespace Research
}  // namespace Korvane

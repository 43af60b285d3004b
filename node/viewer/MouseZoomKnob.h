// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "px/image/Knob.h"

namespace Korvane {
namespace Research {

/// The zoom of the panorama view's virtual camera: 0 keeps the focal length, each +1 halves
/// the view angle. Saved with the script and appended to the node's hash.
class MouseZoomKnob : public PX::Image::Knob {
public:
    explicit MouseZoomKnob(PX::Image::Node* node);
    const char* Class() const override { return "MouseZoom"; }

    float zoom() const { return m_zoom; }
    void setZoom(float z) { m_zoom = z; }

    bool to_script(std::ostream& os, const PX::Image::OutputContext*, bool quote) const override;
    bool from_script(const char* text) override;
    void append(PX::Image::Hash& hash, const PX::Image::OutputContext*) const override {
        hash.append(m_zoom);
    }
    bool not_default() const override { return m_zoom != 0.0f; }
    bool isValueKnob() const override { return true; }

private:
    float m_zoom = 0.0f;
};

}  // namespace Research
}  // namespace Korvane

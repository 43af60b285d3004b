// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "viewer/ViewerEventKnob.h"

namespace Korvane {
namespace Research {

/// The zoom of the panorama view's virtual camera: 0 keeps the focal length, each +1 halves
/// the view angle. Saved with the script and appended to the node's hash.
///
/// Viewer events (in the views the filter accepts): a push with Ctrl and Alt held remembers
/// the position and the button; only the right button (3) zooms. Each drag adds the motion
/// since the previous point, the larger of dx and dy (dy when they tie), divided by 1000: a
/// drag of 1000 pixels to the right adds 1. The release, a drag without Ctrl and Alt, or the
/// end of the interaction adds the last motion and ends the drag as one undo step.
class MouseZoomKnob : public ViewerEventKnob {
public:
    static constexpr float kPixelsPerUnit = 1000.0f;

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

protected:
    bool handleEvent(PX::Image::ViewerContext& ctx) override;

private:
    void addMotion(const PX::Image::ViewerContext& ctx);

    float m_previous[2] = {0.0f, 0.0f};
    float m_current[2] = {0.0f, 0.0f};
    int m_button = 0;
    bool m_active = false;
    float m_zoom = 0.0f;
};

}  // namespace Research
}  // namespace Korvane

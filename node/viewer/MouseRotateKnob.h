// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "px/image/Quaternion.h"
#include "viewer/ViewerEventKnob.h"

namespace Korvane {
namespace Research {

/// The mouse rotation of the panorama view: a rotation quaternion, saved with the script
/// ("{w x y z}") and appended to the node's hash.
///
/// Viewer events (in the views the filter accepts; Ctrl and Alt must both be held):
/// - a push of the left button starts a drag (consumed);
/// - each drag turns the rotation by the increment from the last point to the mouse, q <-
///   dq * q (dq on the left); with Shift the motion locks to the axis it leans to by more than
///   kAxisLockMargin pixels from the anchor (0 horizontal, 1 vertical; 2 free);
/// - any other event ends the drag (only a release is consumed): one undo step, changed();
/// - a nudge turns the rotation from the viewport centre to the centre moved by the nudge, as
///   one finished change.
/// A drag with Ctrl but not Alt is not consumed.
class MouseRotateKnob : public ViewerEventKnob {
public:
    enum AxisLock { Horizontal = 0, Vertical = 1, Free = 2 };
    static constexpr float kAxisLockMargin = 5.0f;

    explicit MouseRotateKnob(PX::Image::Node* node);
    const char* Class() const override { return "MouseRotationEventHandlerKnob"; }

    const PX::Image::Quaternion& rotation() const { return m_rotation; }
    /// No knob_changed; callers bracket it with add_to_undo() / changed() as an action.
    void setRotation(const PX::Image::Quaternion& q) { m_rotation = q; }
    int axisLock() const { return m_mode; }

    /// The rotation that a drag from p0 to p1 in a viewport of W x H output pixels adds:
    /// a = p0.x 2 pi / W - (W - 1) pi / W, b = (p1.y - p0.y) pi / H,
    /// c = p1.x 2 pi / W - (W - 1) pi / W, dq = Q(Y, a) Q(X, b) Q(Y, -c), the angles in single
    /// precision.
    static PX::Image::Quaternion increment(
        float x0, float y0, float x1, float y1, int width, int height);

    bool to_script(std::ostream& os, const PX::Image::OutputContext*, bool quote) const override;
    bool from_script(const char* text) override;
    void append(PX::Image::Hash& hash, const PX::Image::OutputContext*) const override;
    bool not_default() const override;
    bool isValueKnob() const override { return true; }

protected:
    bool handleEvent(PX::Image::ViewerContext& ctx) override;

private:
    struct Point {
        float x = 0.0f, y = 0.0f;
    };
    void drag(const PX::Image::ViewerContext& ctx);
    void endDrag();

    bool m_active = false;
    Point m_anchor, m_last, m_current;
    int m_button = 0;
    int m_mode = Free;
    PX::Image::Quaternion m_rotation;
};

}  // namespace Research
}  // namespace Korvane

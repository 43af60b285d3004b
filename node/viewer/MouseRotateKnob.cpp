// SPDX-License-Identifier: Apache-2.0
#include "viewer/MouseRotateKnob.h"

#include <cmath>
#include <cstdio>
#include <ostream>
#include <sstream>

namespace Korvane {
namespace Research {

using namespace PX::Image;

MouseRotateKnob::MouseRotateKnob(Node* node) : ViewerEventKnob(node, "mouseRotate") {}

Quaternion MouseRotateKnob::increment(
    float x0, float y0, float x1, float y1, int width, int height) {
    const float pi = float(M_PI);
    const float w = float(width), h = float(height);
    const float a = x0 * 2.0f * pi / w - (w - 1.0f) * pi / w;
    const float b = (y1 - y0) * pi / h;
    const float c = x1 * 2.0f * pi / w - (w - 1.0f) * pi / w;
    return Quaternion::fromAxisAngle(0, 1, 0, a) * Quaternion::fromAxisAngle(1, 0, 0, b) *
           Quaternion::fromAxisAngle(0, 1, 0, -c);
}

bool MouseRotateKnob::handleEvent(ViewerContext& ctx) {
    const int width = ctx.viewportWidth(), height = ctx.viewportHeight();
    if (width < 1 || height < 1) return false;
    const bool ctrlAlt = ctx.ctrl() && ctx.alt();
    if (ctx.event() == ViewerContext::NUDGE) {
        if (m_active) endDrag();
        beginChange();
        const float cx = float(width) / 2.0f, cy = float(height) / 2.0f;
        m_rotation =
            increment(cx, cy, cx + float(ctx.nudgeX()), cy + float(ctx.nudgeY()), width, height) *
            m_rotation;
        commitChange();
        ctx.requestRedraw();
        return true;
    }
    if (!m_active) {
        if (ctx.event() != ViewerContext::PUSH || ctx.button() != 1 || !ctrlAlt) return false;
        m_active = true;
        m_anchor = m_last = m_current = {ctx.mouseX(), ctx.mouseY()};
        m_button = ctx.button();
        m_mode = Free;
        beginChange();
        return true;
    }
    if (ctx.event() == ViewerContext::DRAG && ctrlAlt) {
        drag(ctx);
        ctx.requestRedraw();
        return true;
    }
    endDrag();
    ctx.requestRedraw();
    return ctx.event() == ViewerContext::RELEASE;
}

void MouseRotateKnob::drag(const ViewerContext& ctx) {
    m_current = {ctx.mouseX(), ctx.mouseY()};
    if (!ctx.shift()) {
        m_mode = Free;
    } else {
        const float dx = std::fabs(m_current.x - m_anchor.x);
        const float dy = std::fabs(m_current.y - m_anchor.y);
        int mode = m_mode;
        if (dx > dy + kAxisLockMargin)
            mode = Horizontal;
        else if (dy > dx + kAxisLockMargin)
            mode = Vertical;
        if (mode != m_mode) {
            m_anchor = m_last;
            m_mode = mode;
        }
    }
    if (m_mode == Horizontal) m_current.y = m_last.y;
    if (m_mode == Vertical) m_current.x = m_last.x;
    m_rotation = increment(m_last.x,
                           m_last.y,
                           m_current.x,
                           m_current.y,
                           ctx.viewportWidth(),
                           ctx.viewportHeight()) *
                 m_rotation;
    m_last = m_current;
}

void MouseRotateKnob::endDrag() {
    m_active = false;
    m_mode = Free;
    commitChange();
}

bool MouseRotateKnob::to_script(std::ostream& os, const OutputContext*, bool) const {
    char text[128];
    std::snprintf(text,
                  sizeof text,
                  "{%.17g %.17g %.17g %.17g}",
                  m_rotation.w,
                  m_rotation.x,
                  m_rotation.y,
                  m_rotation.z);
    os << text;
    return true;
}

bool MouseRotateKnob::from_script(const char* text) {
    std::string t = text ? text : "";
    if (t.find_first_not_of(" \t\n") == std::string::npos) {
        m_rotation = Quaternion();
        return true;
    }
    for (char& c : t)
        if (c == '{' || c == '}') c = ' ';
    std::istringstream in(t);
    Quaternion q;
    std::string rest;
    if (!(in >> q.w >> q.x >> q.y >> q.z) || (in >> rest) || !std::isfinite(q.norm()) ||
        q.norm() < 1e-12) {
        setError("knob 'mouseRotate': '" + std::string(text) + "' is not a rotation {w x y z}");
        return false;
    }
    m_rotation = q;
    return true;
}

void MouseRotateKnob::append(Hash& hash, const OutputContext*) const {
    hash.append(m_rotation.w);
    hash.append(m_rotation.x);
    hash.append(m_rotation.y);
    hash.append(m_rotation.z);
}

bool MouseRotateKnob::not_default() const {
    return m_rotation.w != 1.0 || m_rotation.x != 0.0 || m_rotation.y != 0.0 || m_rotation.z != 0.0;
}

}  // namespace Research
}  // namespace Korvane

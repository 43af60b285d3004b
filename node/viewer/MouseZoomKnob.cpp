// SPDX-License-Identifier: Apache-2.0
#include "viewer/MouseZoomKnob.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>

namespace Korvane {
namespace Research {

using namespace PX::Image;

MouseZoomKnob::MouseZoomKnob(Node* node) : ViewerEventKnob(node, "mouseZoom") {}

bool MouseZoomKnob::handleEvent(ViewerContext& ctx) {
    const bool ctrlAlt = ctx.ctrl() && ctx.alt();
    const ViewerContext::Event event = ctx.event();
    if (!m_active) {
        if (event != ViewerContext::PUSH || !ctrlAlt) return false;
        m_previous[0] = m_current[0] = ctx.mouseX();
        m_previous[1] = m_current[1] = ctx.mouseY();
        m_button = ctx.button();
        if (m_button != 3) return false;
        m_active = true;
        beginChange();
        ctx.requestRedraw();
        return true;
    }
    if (event == ViewerContext::DRAG && ctrlAlt) {
        addMotion(ctx);
        ctx.requestRedraw();
        return true;
    }
    if (event != ViewerContext::RELEASE && event != ViewerContext::DRAG &&
        event != ViewerContext::END_INTERACTION)
        return false;
    addMotion(ctx);
    m_active = false;
    commitChange();
    ctx.requestRedraw();
    return true;
}

void MouseZoomKnob::addMotion(const ViewerContext& ctx) {
    // The end of an interaction comes without a position: the mouse is where it last was.
    if (ctx.event() != ViewerContext::END_INTERACTION) {
        m_current[0] = ctx.mouseX();
        m_current[1] = ctx.mouseY();
    }
    const float dx = m_current[0] - m_previous[0], dy = m_current[1] - m_previous[1];
    m_zoom += (std::fabs(dx) > std::fabs(dy) ? dx : dy) / kPixelsPerUnit;
    m_previous[0] = m_current[0];
    m_previous[1] = m_current[1];
}

bool MouseZoomKnob::to_script(std::ostream& os, const OutputContext*, bool) const {
    // Nine significant digits read back to the same float.
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", double(m_zoom));
    os << text;
    return true;
}

bool MouseZoomKnob::from_script(const char* text) {
    const std::string t = text ? text : "";
    if (t.find_first_not_of(" \t\n") == std::string::npos) {
        m_zoom = 0.0f;
        return true;
    }
    char* end = nullptr;
    const double z = std::strtod(t.c_str(), &end);
    if (end == t.c_str() || *end != '\0' || !std::isfinite(z)) {
        setError("knob 'mouseZoom': '" + t + "' is not a number");
        return false;
    }
    m_zoom = float(z);
    return true;
}

}  // namespace Research
}  // namespace Korvane

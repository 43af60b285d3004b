// SPDX-License-Identifier: Apache-2.0
#include "px/image/ViewerContext.h"

#include <cmath>
#include <stdexcept>

#include "px/image/Knob.h"
#include "px/image/Node.h"
#include "px/image/Op.h"

namespace PX {
namespace Image {

void ViewerContext::beginHandle(
    HandleKind kind, Knob* knob, HandleCallback callback, int index, float x, float y) {
    m_handles.push_back({kind, knob, std::move(callback), index, x, y});
    ++m_open;
}

void ViewerContext::endHandle() {
    if (m_open > 0) --m_open;
}

bool ViewerContext::takes(const Handle& h) const {
    const bool keys = m_event == KEY || m_event == KEYUP || m_event == NUDGE;
    switch (h.kind) {
        case ANYWHERE_KEYS:
            return keys;
        case ANYWHERE:
            return !keys && !drawing();
        case POINT:
            return !keys && !drawing() && std::hypot(m_mouseX - h.x, m_mouseY - h.y) <= m_iconSize;
    }
    return false;
}

bool ViewerContext::deliver(Op& op) {
    m_handles.clear();
    m_open = 0;
    for (const auto& knob : op.node()->knobs())
        if (knob->build_handle(this)) knob->draw_handle(this);
    if (drawing()) return false;
    // Point handles are nearer the mouse than the anywhere ones: they come first.
    for (int pass = 0; pass < 2; ++pass)
        for (Handle& h : m_handles)
            if ((h.kind == POINT) == (pass == 0) && takes(h) && h.callback &&
                h.callback(*this, h.knob, h.index))
                return true;
    return false;
}

ViewerContext::Event viewerEventByName(const std::string& name) {
    static const std::pair<const char*, ViewerContext::Event> kNames[] = {
        {"move", ViewerContext::MOVE},
        {"push", ViewerContext::PUSH},
        {"click", ViewerContext::CLICK},
        {"drag", ViewerContext::DRAG},
        {"release", ViewerContext::RELEASE},
        {"key", ViewerContext::KEY},
        {"keyup", ViewerContext::KEYUP},
        {"nudge", ViewerContext::NUDGE},
        {"end", ViewerContext::END_INTERACTION},
    };
    std::string names;
    for (const auto& [n, e] : kNames) {
        if (name == n) return e;
        names += names.empty() ? n : std::string(", ") + n;
    }
    throw std::invalid_argument("unknown viewer event '" + name + "' (one of " + names + ")");
}

}  // namespace Image
}  // namespace PX

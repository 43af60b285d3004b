// SPDX-License-Identifier: Apache-2.0
#include "viewer/ToggleProjectionEventHandlerKnob.h"

#include "px/image/Node.h"

namespace Korvane {
namespace Research {

using namespace PX::Image;

ToggleProjectionEventHandlerKnob::ToggleProjectionEventHandlerKnob(Node* node)
    : ViewerEventKnob(node, "toggleProjection") {
    set_flag(DO_NOT_WRITE);
}

bool ToggleProjectionEventHandlerKnob::handleEvent(ViewerContext& ctx) {
    if (ctx.event() != ViewerContext::KEY || ctx.key() != ViewerContext::KeyTab || !ctx.ctrl())
        return false;
    Knob* rectilinear = node() ? node()->knob("rectilinearProjection") : nullptr;
    if (!rectilinear) return false;
    const bool on = rectilinear->toScriptText() == "true";
    node()->setKnobFromUser(rectilinear->name(), on ? "false" : "true");
    ctx.requestRedraw();
    return true;
}

}  // namespace Research
}  // namespace Korvane

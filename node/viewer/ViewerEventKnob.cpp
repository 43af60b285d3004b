// SPDX-License-Identifier: Apache-2.0
#include "viewer/ViewerEventKnob.h"

namespace Korvane {
namespace Research {

using namespace PX::Image;

ViewerEventKnob::ViewerEventKnob(Node* node, std::string name) : Knob(node, std::move(name), "") {
    set_flag(INVISIBLE);
}

bool ViewerEventKnob::build_handle(ViewerContext* ctx) {
    return ctx && (!m_viewFilter || m_viewFilter(ctx->view()));
}

void ViewerEventKnob::draw_handle(ViewerContext* ctx) {
    auto callback = [this](ViewerContext& c, Knob*, int) { return handleEvent(c); };
    ctx->beginHandle(ViewerContext::ANYWHERE, this, callback);
    ctx->endHandle();
    ctx->beginHandle(ViewerContext::ANYWHERE_KEYS, this, callback);
    ctx->endHandle();
}

void ViewerEventKnob::commitChange() {
    const std::string after = toScriptText();
    if (after == m_textBefore) return;
    // The drag wrote the value live; the undo step must start from the value before it.
    from_script(m_textBefore.c_str());
    add_to_undo();
    from_script(after.c_str());
    stop_add_to_undo();
    m_textBefore = after;
    changed();
}

}  // namespace Research
}  // namespace Korvane

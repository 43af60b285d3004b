// SPDX-License-Identifier: Apache-2.0
#include "px/image/ButtonKnob.h"

#include "px/image/Host.h"
#include "px/image/Node.h"

namespace PX {
namespace Image {

void PyScriptKnob::press() {
    if (!m_script.empty() && !Host::current().runScript(node(), m_script)) return;
    changed();
}

void LinkKnob::press() {
    auto* target = node() ? dynamic_cast<ButtonKnob*>(node()->knob(m_target)) : nullptr;
    if (target && target != this) target->press();
}

}  // namespace Image
}  // namespace PX

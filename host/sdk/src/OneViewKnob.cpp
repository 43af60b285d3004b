// SPDX-License-Identifier: Apache-2.0
#include "px/image/OneViewKnob.h"

#include <ostream>

#include "px/image/OutputContext.h"

namespace PX {
namespace Image {

OneViewKnob::OneViewKnob(Node* node, std::string name, std::string label, int* storage)
    : Knob(node, std::move(name), std::move(label)),
      m_default(storage ? *storage : 0),
      m_value(m_default),
      m_storage(storage) {}

bool OneViewKnob::to_script(std::ostream& os, const OutputContext*, bool quote) const {
    const std::string name = Views::name(m_value);
    const std::string text = name.empty() ? std::to_string(m_value) : name;
    os << (quote ? quoteScriptText(text) : text);
    return true;
}

bool OneViewKnob::from_script(const char* text) {
    const std::string t = text ? text : "";
    if (t.empty()) return true;
    const int view = Views::find(t);
    if (view < 0) {
        setError("knob '" + name() + "': the project has no view '" + t + "'");
        return false;
    }
    m_value = view;
    return true;
}

void OneViewKnob::store(const OutputContext&) {
    if (m_storage) *m_storage = m_value;
}

}  // namespace Image
}  // namespace PX

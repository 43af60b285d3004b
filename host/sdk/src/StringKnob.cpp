// SPDX-License-Identifier: Apache-2.0
#include "px/image/StringKnob.h"

#include <ostream>

namespace PX {
namespace Image {

StringKnob::StringKnob(
    Node* node, std::string name, std::string label, std::string defaultText, std::string* storage)
    : Knob(node, std::move(name), std::move(label)),
      m_default(defaultText),
      m_text(std::move(defaultText)),
      m_storage(storage) {}

bool StringKnob::to_script(std::ostream& os, const OutputContext*, bool quote) const {
    os << (quote ? quoteScriptText(m_text) : m_text);
    return true;
}

bool StringKnob::from_script(const char* text) {
    m_text = text ? text : "";
    return true;
}

void StringKnob::store(const OutputContext&) {
    if (m_storage) *m_storage = m_text;
}

}  // namespace Image
}  // namespace PX

// SPDX-License-Identifier: Apache-2.0
#include "px/image/FormatKnob.h"

#include <ostream>
#include <sstream>

namespace PX {
namespace Image {

FormatKnob::FormatKnob(
    Node* node, std::string name, std::string label, const Format& initial, FormatPair* storage)
    : Knob(node, std::move(name), std::move(label)),
      m_default(initial),
      m_value(initial),
      m_storage(storage) {}

bool FormatKnob::to_script(std::ostream& os, const OutputContext*, bool quote) const {
    std::ostringstream text;
    if (!m_value.name().empty())
        text << m_value.name();
    else
        text << m_value.width() << ' ' << m_value.height() << ' ' << m_value.pixel_aspect();
    os << (quote ? quoteScriptText(text.str()) : text.str());
    return true;
}

bool FormatKnob::from_script(const char* text) {
    const std::string t = text ? text : "";
    if (t.empty()) return true;
    if (const Format* f = Format::find(t)) return m_value = *f, true;
    std::istringstream in(t);
    int w = 0, h = 0;
    double aspect = 1.0;
    std::string rest;
    if (in >> w >> h) {
        if (!(in >> aspect)) aspect = 1.0;
        if (!(in >> rest) && w > 0 && h > 0 && w <= 65536 && h <= 65536 && aspect > 0) {
            m_value = Format::add(Format(w, h, aspect));
            return true;
        }
    }
    setError("knob '" + name() + "': '" + t +
             "' is neither a known format nor \"width height [aspect]\"");
    return false;
}

void FormatKnob::append(Hash& hash, const OutputContext*) const {
    hash.append(m_value.width());
    hash.append(m_value.height());
    hash.append(m_value.pixel_aspect());
}

void FormatKnob::store(const OutputContext&) {
    if (m_storage) *m_storage = FormatPair{m_value, m_value};
}

}  // namespace Image
}  // namespace PX

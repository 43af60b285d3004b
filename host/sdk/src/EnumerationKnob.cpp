// SPDX-License-Identifier: Apache-2.0
#include "px/image/EnumerationKnob.h"

#include <cstdlib>
#include <ostream>

namespace PX {
namespace Image {

EnumerationKnob::EnumerationKnob(Node* node,
                                 std::string name,
                                 std::string label,
                                 const std::vector<std::string>& entries,
                                 int* storage)
    : Knob(node, std::move(name), std::move(label)), m_storage(storage) {
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string& e = entries[i];
        const size_t tab = e.find('\t');
        const size_t second = tab == std::string::npos ? tab : e.find('\t', tab + 1);
        char* end = nullptr;
        const long index = tab == std::string::npos ? 0 : std::strtol(e.c_str(), &end, 10);
        const bool numbered = tab != std::string::npos && end == e.c_str() + tab;
        if (numbered && second != std::string::npos) {
            // A toolbar entry "number<tab>icon<tab>label": its value is its position.
            m_indices.push_back(int(i));
            m_icons.push_back(e.substr(tab + 1, second - tab - 1));
            m_labels.push_back(e.substr(second + 1));
        } else if (numbered) {
            m_indices.push_back(int(index));
            m_icons.emplace_back();
            m_labels.push_back(e.substr(tab + 1));
        } else {
            m_indices.push_back(int(i));
            m_icons.emplace_back();
            m_labels.push_back(e);
        }
    }
    m_default = storage ? *storage : (m_indices.empty() ? 0 : m_indices.front());
    m_value = m_default;
}

bool EnumerationKnob::set_value(int index) {
    for (int i : m_indices)
        if (i == index) return m_value = index, true;
    return false;
}

std::string EnumerationKnob::valueLabel() const {
    for (size_t i = 0; i < m_indices.size(); ++i)
        if (m_indices[i] == m_value) return m_labels[i];
    return {};
}

bool EnumerationKnob::to_script(std::ostream& os, const OutputContext*, bool quote) const {
    const std::string label = valueLabel();
    const std::string text = label.empty() ? std::to_string(m_value) : label;
    os << (quote ? quoteScriptText(text) : text);
    return true;
}

bool EnumerationKnob::from_script(const char* text) {
    const std::string t = text ? text : "";
    if (t.empty()) return true;
    for (size_t i = 0; i < m_labels.size(); ++i)
        if (m_labels[i] == t) return m_value = m_indices[i], true;
    char* end = nullptr;
    const long index = std::strtol(t.c_str(), &end, 10);
    if (*end == '\0' && set_value(int(index))) return true;
    std::string choices;
    for (const std::string& l : m_labels) choices += (choices.empty() ? "'" : ", '") + l + "'";
    setError("knob '" + name() + "': '" + t + "' is none of " + choices);
    return false;
}

void EnumerationKnob::store(const OutputContext&) {
    if (m_storage) *m_storage = m_value;
}

}  // namespace Image
}  // namespace PX

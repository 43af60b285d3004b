// SPDX-License-Identifier: Apache-2.0
#include "px/image/ViewsKnob.h"

#include <ostream>
#include <sstream>

#include "px/image/OutputContext.h"

namespace PX {
namespace Image {

ViewsKnob::ViewsKnob(Node* node, std::string name, std::string label, std::set<int>* storage)
    : Knob(node, std::move(name), std::move(label)), m_storage(storage) {
    if (storage) m_value = *storage;
}

bool ViewsKnob::to_script(std::ostream& os, const OutputContext*, bool) const {
    os << '{';
    bool first = true;
    for (int v : m_value) {
        os << (first ? "" : " ") << (Views::name(v).empty() ? std::to_string(v) : Views::name(v));
        first = false;
    }
    os << '}';
    return true;
}

bool ViewsKnob::from_script(const char* text) {
    std::string t = text ? text : "";
    const size_t open = t.find('{'), close = t.rfind('}');
    if (open != std::string::npos && close != std::string::npos && close > open)
        t = t.substr(open + 1, close - open - 1);
    std::istringstream in(t);
    std::set<int> views;
    for (std::string word; in >> word;) {
        const int v = Views::find(word);
        if (v < 0) {
            setError("knob '" + name() + "': the project has no view '" + word + "'");
            return false;
        }
        views.insert(v);
    }
    m_value = std::move(views);
    return true;
}

void ViewsKnob::append(Hash& hash, const OutputContext*) const {
    for (int v : m_value) hash.append(v);
}

void ViewsKnob::store(const OutputContext&) {
    if (m_storage) *m_storage = m_value;
}

}  // namespace Image
}  // namespace PX

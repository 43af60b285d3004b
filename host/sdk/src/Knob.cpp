// SPDX-License-Identifier: Apache-2.0
#include "px/image/Knob.h"

#include <cmath>
#include <sstream>

#include "px/image/Host.h"
#include "px/image/Node.h"
#include "px/image/Op.h"
#include "px/image/UndoStack.h"

namespace PX {
namespace Image {

namespace {

class PseudoKnob : public Knob {
public:
    explicit PseudoKnob(const char* name) : Knob(nullptr, name, name) {}
    const char* Class() const override { return "PseudoKnob"; }
};

}  // namespace

Knob& Knob::showPanelKnob() {
    static PseudoKnob k("showPanel");
    return k;
}

Knob& Knob::inputChangeKnob() {
    static PseudoKnob k("inputChange");
    return k;
}

Knob* Knob::showPanel = &Knob::showPanelKnob();
Knob* Knob::inputChange = &Knob::inputChangeKnob();
int Knob::undo_state = 0;

Knob::Knob(Node* node, std::string name, std::string label)
    : m_node(node), m_name(std::move(name)), m_label(std::move(label)) {}

Knob::~Knob() {
    if (m_node) UndoStack::instance().forget(this);
}

Op* Knob::op() const { return m_node ? m_node->op() : nullptr; }

OutputContext Knob::uiContext() const { return m_node ? m_node->uiContext() : OutputContext(); }

bool Knob::to_script(std::ostream&, const OutputContext*, bool) const { return false; }

bool Knob::from_script(const char*) {
    setError("knob '" + m_name + "' holds no value");
    return false;
}

int Knob::get_key_list(std::set<int>& keys) const {
    for (int i = 0; i < getNumKeys(); ++i) keys.insert(int(std::lround(getKeyTime(i))));
    return int(keys.size());
}

std::string Knob::toScriptText() const {
    std::ostringstream os;
    to_script(os, nullptr, false);
    return os.str();
}

void Knob::changed() {
    for (auto& entry : std::map<int, std::function<void(Knob*)>>(m_callbacks)) entry.second(this);
    if (Op* o = op()) o->knob_changed(this);
    if (m_node) Host::current().requestUpdate(m_node);
    redraw();
}

int Knob::addCallback(std::function<void(Knob*)> callback) {
    const int id = m_nextCallbackId++;
    m_callbacks[id] = std::move(callback);
    return id;
}

void Knob::removeCallback(int id) { m_callbacks.erase(id); }

void Knob::redraw() { Host::current().redraw(); }

void Knob::updateWidgets() { Host::current().redraw(); }

void Knob::add_to_undo() {
    UndoStack& stack = UndoStack::instance();
    stack.begin();
    stack.record(this);
}

void Knob::stop_add_to_undo() { UndoStack::instance().end(); }

std::string quoteScriptText(const std::string& text) {
    bool needs = text.empty();
    for (char c : text)
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '"' || c == '\\' || c == '{' ||
            c == '}')
            needs = true;
    if (!needs) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        // Line ends are escaped: a script's lines end at '\n', and a '\r' before it is taken
        // for a CR-LF line end.
        if (c == '\n' || c == '\r') {
            out += c == '\n' ? "\\n" : "\\r";
            continue;
        }
        out += c;
    }
    return out + '"';
}

std::string unquoteScriptText(const std::string& text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return text;
    std::string out;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] == '\\' && i + 2 < text.size()) {
            const char n = text[++i];
            out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace Image
}  // namespace PX

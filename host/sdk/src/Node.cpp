// SPDX-License-Identifier: Apache-2.0
#include "px/image/Node.h"

#include <atomic>
#include <stdexcept>

#include "px/image/ButtonKnob.h"
#include "px/image/Host.h"
#include "px/image/KnobCallback.h"
#include "px/image/Limits.h"
#include "px/image/Op.h"
#include "px/image/Plugin.h"
#include "px/image/UndoStack.h"

namespace PX {
namespace Image {

Node::Node(std::string className, std::string name)
    : m_className(std::move(className)), m_name(std::move(name)) {}

Node::~Node() {
    m_op.reset();  // the operator may still refer to its knobs while it goes
}

std::unique_ptr<Node> Node::create(const std::string& className, const std::string& name) {
    if (!Plugins::validClassName(className) && !Op::Description::find(className))
        throw std::runtime_error("'" + quoteForMessage(className) +
                                 "' is not a node class name (a letter or '_', then letters, "
                                 "digits and '_'; plug-ins are found only on the plug-in path)");
    if (!Plugins::loadFor(className)) {
        std::string path;
        for (const std::string& p : Plugins::searchPath()) path += (path.empty() ? "" : ":") + p;
        throw std::runtime_error("unknown node class '" + className +
                                 "': no plug-in on the plug-in path (" +
                                 (path.empty() ? "empty" : path) + ") registers it");
    }
    const Op::Description* d = Op::Description::find(className);
    std::unique_ptr<Node> node(new Node(className, name));
    node->m_uiContext = newNodeUIContext();
    node->m_op.reset(d->constructor(node.get()));
    if (!node->m_op)
        throw std::runtime_error("the constructor of '" + className + "' made no operator");
    node->m_inputs.assign(size_t(std::max(0, node->m_op->maximum_inputs())), nullptr);
    // Declaring knobs is not a user action: nothing of it goes to the undo history.
    UndoStack::instance().suspend();
    try {
        KnobCallback f(node.get());
        node->m_op->knobs(f);
    } catch (...) {
        UndoStack::instance().resume();
        throw;
    }
    UndoStack::instance().resume();
    node->m_op->build_splits();
    return node;
}

namespace {
std::mutex g_newNodeMutex;
OutputContext g_newNodeUIContext;
}  // namespace

void Node::setNewNodeUIContext(const OutputContext& c) {
    std::lock_guard<std::mutex> lock(g_newNodeMutex);
    g_newNodeUIContext = c;
}

OutputContext Node::newNodeUIContext() {
    std::lock_guard<std::mutex> lock(g_newNodeMutex);
    return g_newNodeUIContext;
}

Knob* Node::knob(const std::string& name) const {
    std::string target = name;
    for (const auto& alias : m_aliases)
        if (alias.first == name) target = alias.second;
    for (const auto& k : m_knobs)
        if (!k->name().empty() && k->name() == target) return k.get();
    return nullptr;
}

Knob* Node::addKnob(std::unique_ptr<Knob> knob) {
    m_knobs.push_back(std::move(knob));
    return m_knobs.back().get();
}

void Node::addAlias(const std::string& alias, const std::string& target) {
    m_aliases.emplace_back(alias, target);
}

void Node::storeKnobs(const OutputContext& context) {
    for (const auto& k : m_knobs) k->store(context);
}

void Node::setKnobFromUser(const std::string& knobName, const std::string& text) {
    Knob* k = knob(knobName);
    if (!k) throw std::invalid_argument("node '" + m_name + "' has no knob '" + knobName + "'");
    UndoStack& undo = UndoStack::instance();
    undo.begin(knobName);
    k->add_to_undo();
    const bool ok = k->from_script(text.c_str());
    k->stop_add_to_undo();
    undo.end();
    if (!ok)
        throw std::invalid_argument(k->error().empty()
                                        ? "knob '" + knobName + "': cannot read '" + text + "'"
                                        : k->error());
    k->changed();
}

void Node::pressKnob(const std::string& knobName) {
    Knob* k = knob(knobName);
    if (!k) throw std::invalid_argument("node '" + m_name + "' has no knob '" + knobName + "'");
    UndoStack& undo = UndoStack::instance();
    undo.begin(k->label().empty() ? knobName : k->label());
    if (auto* button = dynamic_cast<ButtonKnob*>(k))
        button->press();
    else
        k->changed();
    undo.end();
}

void Node::setInput(int n, Node* upstream) {
    if (n < 0 || n >= int(m_inputs.size()))
        throw std::out_of_range("node '" + m_name + "' has no input " + std::to_string(n));
    m_inputs[size_t(n)] = upstream;
    m_op->build_splits();
    m_op->knob_changed(Knob::inputChange);
}

void Node::setPanelOpen(bool open) {
    const bool opening = open && !m_panelOpen;
    m_panelOpen = open;
    if (opening) m_op->knob_changed(Knob::showPanel);
}

void Node::setError(const std::string& message) {
    {
        std::lock_guard<std::mutex> lock(m_errorMutex);
        if (!m_error.empty()) return;  // the first error of a pass is the one that counts
        m_error = message;
    }
    Host::current().nodeError(this, message);
}

namespace {
std::atomic<unsigned long> g_warningsRaised{0};
}  // namespace

void Node::warn(const std::string& message) {
    ++g_warningsRaised;
    Host::current().nodeWarning(this, message);
}

unsigned long Node::warningsRaised() { return g_warningsRaised.load(); }

void Node::clearError() {
    std::lock_guard<std::mutex> lock(m_errorMutex);
    m_error.clear();
}

bool Node::hasError() const {
    std::lock_guard<std::mutex> lock(m_errorMutex);
    return !m_error.empty();
}

std::string Node::errorMessage() const {
    std::lock_guard<std::mutex> lock(m_errorMutex);
    return m_error;
}

}  // namespace Image
}  // namespace PX

// SPDX-License-Identifier: Apache-2.0
#include "Graph.h"

#include <cctype>
#include <stdexcept>

#include "px/image/Format.h"
#include "px/image/OutputContext.h"

namespace Vireo {

using PX::Image::Node;

Graph::~Graph() {
    m_panels.clear();  // their widgets may call into the knobs
    while (!m_nodes.empty()) m_nodes.pop_back();
}

bool Graph::validName(const std::string& name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return true;
}

std::string Graph::freeName(const std::string& className) const {
    std::string base;
    for (char c : className) base += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    if (!validName(base)) base = "_" + base;
    for (int n = 1;; ++n) {
        const std::string name = base + std::to_string(n);
        if (!node(name)) return name;
    }
}

Node* Graph::addNode(const std::string& className, const std::string& name) {
    const std::string chosen = name.empty() ? freeName(className) : name;
    if (!validName(chosen))
        throw std::invalid_argument("'" + chosen +
                                    "' is not a node name (a letter or '_', then letters, "
                                    "digits and '_')");
    if (node(chosen)) throw std::invalid_argument("a node called '" + chosen + "' exists already");
    m_nodes.push_back(Node::create(className, chosen));
    return m_nodes.back().get();
}

void Graph::removeNode(Node* node) {
    if (!owns(node)) throw std::invalid_argument("cannot remove a node of another graph");
    m_panels.erase(node);
    for (const auto& n : m_nodes)
        for (int i = 0; i < n->graphInputCount(); ++i)
            if (n->input(i) == node) n->setInput(i, nullptr);
    for (auto it = m_nodes.begin(); it != m_nodes.end(); ++it)
        if (it->get() == node) {
            m_nodes.erase(it);
            return;
        }
}

ControlPanel& Graph::showControlPanel(Node* node) {
    if (!owns(node)) throw std::invalid_argument("cannot open a panel of a node of another graph");
    std::unique_ptr<ControlPanel>& panel = m_panels[node];
    if (!panel) panel = std::make_unique<ControlPanel>(node);
    return *panel;
}

void Graph::hideControlPanel(Node* node) { m_panels.erase(node); }

ControlPanel* Graph::controlPanel(const Node* node) const {
    auto it = m_panels.find(node);
    return it == m_panels.end() ? nullptr : it->second.get();
}

Node* Graph::node(const std::string& name) const {
    for (const auto& n : m_nodes)
        if (n->name() == name) return n.get();
    return nullptr;
}

bool Graph::owns(const Node* node) const {
    for (const auto& n : m_nodes)
        if (n.get() == node) return true;
    return false;
}

void Graph::connect(Node* from, Node* to, int input) {
    if (!owns(to) || (from && !owns(from)))
        throw std::invalid_argument("cannot connect nodes of another graph");
    to->setInput(input, from);
}

std::vector<std::string> Graph::views() const { return PX::Image::Views::names(); }

void Graph::setViews(const std::vector<std::string>& views) {
    if (views.empty()) throw std::invalid_argument("a project needs at least one view");
    for (size_t i = 0; i < views.size(); ++i) {
        if (views[i].empty() || views[i].find_first_of(" \t\n\"") != std::string::npos)
            throw std::invalid_argument("'" + views[i] + "' is not a view name");
        for (size_t j = 0; j < i; ++j)
            if (views[j] == views[i])
                throw std::invalid_argument("view '" + views[i] + "' is listed twice");
    }
    PX::Image::Views::setNames(views);
}

void Graph::setFrameRange(int first, int last) {
    if (last < first)
        throw std::invalid_argument("the last frame " + std::to_string(last) +
                                    " comes before the first " + std::to_string(first));
    m_settings.firstFrame = first;
    m_settings.lastFrame = last;
}

void Graph::setDefaultFormat(const std::string& name) {
    if (!PX::Image::Format::find(name))
        throw std::invalid_argument("no format is called '" + name + "'");
    m_settings.defaultFormat = name;
}

}  // namespace Vireo

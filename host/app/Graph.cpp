// SPDX-License-Identifier: Apache-2.0
#include "Graph.h"

#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <unordered_set>

#include "px/image/Format.h"
#include "px/image/Limits.h"
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
    m_byName[chosen] = m_nodes.back().get();
    return m_nodes.back().get();
}

void Graph::removeNode(Node* node) {
    if (!owns(node)) throw std::invalid_argument("cannot remove a node of another graph");
    m_panels.erase(node);
    m_keptLines.erase(node);
    for (const auto& n : m_nodes)
        for (int i = 0; i < n->graphInputCount(); ++i)
            if (n->input(i) == node) n->setInput(i, nullptr);
    m_byName.erase(node->name());
    for (auto it = m_nodes.begin(); it != m_nodes.end(); ++it)
        if (it->get() == node) {
            m_nodes.erase(it);
            return;
        }
}

void Graph::keepLine(const Node* node, KeptLine line) {
    m_keptLines[node].push_back(std::move(line));
}

const std::vector<Graph::KeptLine>& Graph::keptLines(const Node* node) const {
    static const std::vector<KeptLine> kNone;
    auto it = m_keptLines.find(node);
    return it == m_keptLines.end() ? kNone : it->second;
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
    auto it = m_byName.find(name);
    return it == m_byName.end() ? nullptr : it->second;
}

bool Graph::owns(const Node* node) const {
    for (const auto& n : m_nodes)
        if (n.get() == node) return true;
    return false;
}

void Graph::connect(Node* from, Node* to, int input, bool checkCycle) {
    if (!owns(to) || (from && !owns(from)))
        throw std::invalid_argument("cannot connect nodes of another graph");
    if (from && checkCycle) {
        // A cycle closes when `to` is `from` or upstream of it; the path found runs from
        // `from` up to `to`, and the new connection closes it.
        std::unordered_map<const Node*, const Node*> reachedFrom{{from, nullptr}};
        std::vector<const Node*> stack{from};
        while (!stack.empty()) {
            const Node* n = stack.back();
            stack.pop_back();
            if (n == to) {
                std::vector<std::string> cycle;  // `from` first, each reading from the next
                for (const Node* m = n; m; m = reachedFrom[m])
                    cycle.insert(cycle.begin(), m->name());
                throw std::invalid_argument("cannot connect '" + from->name() + "' to input " +
                                            std::to_string(input) + " of '" + to->name() +
                                            "': " + cycleMessage(cycle));
            }
            for (int i = 0; i < n->graphInputCount(); ++i)
                if (const Node* up = n->input(i); up && reachedFrom.emplace(up, n).second)
                    stack.push_back(up);
        }
    }
    to->setInput(input, from);
}

std::vector<std::string> Graph::findCycle() const {
    // Depth-first, iterative: 0 unvisited, 1 on the current path, 2 done.
    std::unordered_map<const Node*, int> state;
    for (const auto& start : m_nodes) {
        if (state[start.get()] != 0) continue;
        std::vector<std::pair<const Node*, int>> stack{{start.get(), 0}};
        state[start.get()] = 1;
        while (!stack.empty()) {
            auto& [n, next] = stack.back();
            if (next >= n->graphInputCount()) {
                state[n] = 2;
                stack.pop_back();
                continue;
            }
            const Node* up = n->input(next++);
            if (!up) continue;
            if (state[up] == 1) {
                std::vector<std::string> cycle;
                size_t i = 0;
                while (stack[i].first != up) ++i;
                for (; i < stack.size(); ++i) cycle.push_back(stack[i].first->name());
                return cycle;
            }
            if (state[up] == 0) {
                state[up] = 1;
                stack.emplace_back(up, 0);
            }
        }
    }
    return {};
}

std::string Graph::cycleMessage(const std::vector<std::string>& cycle) {
    std::string text = "the connections would form a cycle:";
    for (const std::string& name : cycle) text += " '" + name + "' reads from";
    return text + " '" + (cycle.empty() ? std::string() : cycle.front()) + "'";
}

std::vector<std::string> Graph::views() const { return PX::Image::Views::names(); }

void Graph::setViews(const std::vector<std::string>& views) {
    if (views.empty()) throw std::invalid_argument("a project needs at least one view");
    if (views.size() > PX::Image::Limits::kMaxViews)
        throw std::invalid_argument(std::to_string(views.size()) +
                                    " views: a project has at most " +
                                    std::to_string(PX::Image::Limits::kMaxViews));
    std::unordered_set<std::string> seen;
    for (const std::string& v : views) {
        if (v.empty() || v.find_first_of(" \t\n\"") != std::string::npos)
            throw std::invalid_argument("'" + PX::Image::quoteForMessage(v) +
                                        "' is not a view name");
        if (!seen.insert(v).second) throw std::invalid_argument("view '" + v + "' is listed twice");
    }
    PX::Image::Views::setNames(views);
}

void Graph::setFrameRange(int first, int last) {
    if (last < first)
        throw std::invalid_argument("the last frame " + std::to_string(last) +
                                    " comes before the first " + std::to_string(first));
    for (int f : {first, last})
        if (std::abs(f) > PX::Image::Limits::kMaxFrame)
            throw std::invalid_argument("frame " + std::to_string(f) + " is outside -" +
                                        std::to_string(PX::Image::Limits::kMaxFrame) + " to " +
                                        std::to_string(PX::Image::Limits::kMaxFrame));
    m_settings.firstFrame = first;
    m_settings.lastFrame = last;
}

void Graph::setDefaultFormat(const std::string& name) {
    if (!PX::Image::Format::find(name))
        throw std::invalid_argument("no format is called '" + name + "'");
    m_settings.defaultFormat = name;
}

}  // namespace Vireo

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "ControlPanel.h"
#include "ProjectSettings.h"
#include "px/image/Node.h"

namespace Vireo {

/// A node graph: the nodes (owned, in the order they were added, each with a unique name),
/// their connections and the project settings.
///
/// Views: the project's views are the process's one list (PX::Image::Views); setViews sets it
/// and views() reads it, so a graph's views are whatever was set last by any graph or node
/// (a Read node that gets a rig adds views).
///
/// Node names are a letter or '_' followed by letters, digits and '_', so that "NODE.KNOB"
/// on a command line is never ambiguous. Main thread only.
class Graph {
public:
    Graph() = default;
    Graph(const Graph&) = delete;
    Graph& operator=(const Graph&) = delete;
    /// Nodes go last first, so that no node outlives a node it reads from.
    ~Graph();

    /// Makes a node of `className` called `name` (ClassN, the first free N, when empty).
    /// Throws std::invalid_argument for a name that is taken or not allowed, and
    /// std::runtime_error (naming the class) when no plug-in registers the class.
    PX::Image::Node* addNode(const std::string& className, const std::string& name = {});
    /// Disconnects every input that reads from `node`, then destroys it. Throws
    /// std::invalid_argument for a node not in this graph.
    void removeNode(PX::Image::Node* node);
    bool owns(const PX::Image::Node* node) const;
    /// Null when no node has this name.
    PX::Image::Node* node(const std::string& name) const;
    const std::vector<std::unique_ptr<PX::Image::Node>>& nodes() const { return m_nodes; }
    /// "Class" followed by the first number that makes a free name.
    std::string freeName(const std::string& className) const;
    static bool validName(const std::string& name);

    /// Input `input` of `to` becomes `from` (null disconnects). Throws std::invalid_argument
    /// for a node not in this graph or a connection that would close a cycle (naming its
    /// nodes), and std::out_of_range for an input the node lacks. The cycle test walks up
    /// from `from`; a loader making many connections passes `checkCycle` false and calls
    /// findCycle once at the end instead.
    void connect(PX::Image::Node* from, PX::Image::Node* to, int input, bool checkCycle = true);
    /// The names of the nodes of a cycle, each reading from the next and the last from the
    /// first; empty when there is none. Linear in nodes and connections.
    std::vector<std::string> findCycle() const;
    /// "the connections form a cycle: A -> B -> A" for findCycle's names.
    static std::string cycleMessage(const std::vector<std::string>& cycle);

    /// Opens the node's control panel (nothing when it is open already); see ControlPanel.
    ControlPanel& showControlPanel(PX::Image::Node* node);
    /// Closes it; nothing when it is not open. A removed node's panel closes first.
    void hideControlPanel(PX::Image::Node* node);
    /// The node's open panel, null when closed.
    ControlPanel* controlPanel(const PX::Image::Node* node) const;

    /// A knob line of a loaded script that the node could not take: a knob this build does
    /// not have (a script from a newer version) or a value the knob refused. Saving writes it
    /// back as it was read, so that opening and saving such a script loses nothing, until
    /// the knob is set (then its own value is written).
    struct KeptLine {
        std::string knob;          // the knob's script name; for a missing knob, as written
        std::string text;          // the line (or braced lines) as read
        bool missingKnob = false;  // the node has no such knob
        std::string refusedState;  // the knob's value as text right after the refusal
    };
    void keepLine(const PX::Image::Node* node, KeptLine line);
    /// The node's kept lines in the order read; empty for most nodes.
    const std::vector<KeptLine>& keptLines(const PX::Image::Node* node) const;

    std::vector<std::string> views() const;
    /// Throws std::invalid_argument for an empty list, a repeated name or a name with blanks.
    /// At most Limits::kMaxViews.
    void setViews(const std::vector<std::string>& views);

    const ProjectSettings& settings() const { return m_settings; }
    /// Throws std::invalid_argument when last < first or a frame is beyond Limits::kMaxFrame.
    void setFrameRange(int first, int last);
    /// Throws std::invalid_argument when no known format has this name.
    void setDefaultFormat(const std::string& name);

private:
    std::vector<std::unique_ptr<PX::Image::Node>> m_nodes;
    std::unordered_map<std::string, PX::Image::Node*> m_byName;
    std::map<const PX::Image::Node*, std::unique_ptr<ControlPanel>> m_panels;
    std::map<const PX::Image::Node*, std::vector<KeptLine>> m_keptLines;
    ProjectSettings m_settings;
};

}  // namespace Vireo

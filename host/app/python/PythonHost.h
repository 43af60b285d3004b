// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "CommandLineHost.h"
#include "Graph.h"

namespace Vireo {

/// The command-line host with the embedded Python module `vireo` (python/PyModule.cpp): it
/// owns the graph that scripts work on, the UI frame, the button scripts' thisNode, and the
/// answers given to panels. Main thread only.
///
/// The interpreter: started on first use when none runs (and then finalised by this host's
/// destructor); one that runs already (a test's) is used and left running.
///
/// Button scripts (runScript) run in a fresh namespace holding `vireo` and `node` (the button's
/// node, which vireo.thisNode() also returns), inside an undo step. A script that raises is
/// reported with its traceback on the log, every knob it wrote is restored (UndoStack's
/// rollback, so a failing press nested in another one takes back only its own writes), and
/// runScript returns false.
///
/// Questions follow CommandLineHost (--yes/--no queue, then the standing answer, then no).
/// Panels are answered from a queue the script fills (vireo.setPanelAnswers); with nothing
/// queued a panel is cancelled. Every answer is logged.
class PythonHost : public CommandLineHost {
public:
    /// Works on `graph` (an empty one when null).
    explicit PythonHost(std::ostream& log, std::unique_ptr<Graph> graph = nullptr);
    ~PythonHost() override;
    PythonHost(const PythonHost&) = delete;
    PythonHost& operator=(const PythonHost&) = delete;

    /// The installed host when it is a PythonHost, else null.
    static PythonHost* active();

    // --- the graph scripts work on --------------------------------------------------------
    Graph& graph() { return *m_graph; }
    /// Replaces the graph; handles to the old nodes go stale. The UI frame becomes the new
    /// graph's first frame.
    void setGraph(std::unique_ptr<Graph> graph);
    /// Gives the graph up, leaving an empty one.
    std::unique_ptr<Graph> takeGraph();
    /// Graph::addNode, with the node's UI frame set to frame().
    PX::Image::Node* addNode(const std::string& className, const std::string& name);
    void removeNode(PX::Image::Node* node);

    /// A number that tells this node from any node that lived at its address before. Throws
    /// std::invalid_argument for a node not in the graph.
    uint64_t serialOf(PX::Image::Node* node);
    /// True while `node` is still the node that got `serial`.
    bool alive(const PX::Image::Node* node, uint64_t serial) const;

    /// The UI frame; setting it sets every node's UI frame.
    double frame() const { return m_frame; }
    void setFrame(double frame);

    /// The node of the innermost running button script; null outside one.
    PX::Image::Node* thisNode() const { return m_thisNodes.empty() ? nullptr : m_thisNodes.back(); }

    // --- panels -----------------------------------------------------------------------------
    using PanelAnswer = std::optional<std::map<std::string, std::string>>;
    /// Queues the answer to the next panel: the inputs to change (then confirmed), or
    /// nullopt (cancelled).
    void queuePanelAnswer(PanelAnswer answer) { m_panelAnswers.push_back(std::move(answer)); }
    /// Answers panel `title` from the queue; true, with `inputs` (name, text) updated, when it
    /// is confirmed. Throws std::invalid_argument (the answer used up) for an answer that names
    /// an input the panel lacks.
    bool answerPanel(const std::string& title,
                     std::vector<std::pair<std::string, std::string>>& inputs);

    // --- scripts ----------------------------------------------------------------------------
    bool runScript(PX::Image::Node* node, const std::string& script) override;
    /// How many button scripts have failed so far.
    int failedScripts() const { return m_failedScripts; }
    /// Whether the button script that finished last failed; a press's own script finishes
    /// after any it pressed in turn. Cleared before a press to ask about it.
    bool lastScriptFailed() const { return m_lastScriptFailed; }
    void clearLastScriptFailed() { m_lastScriptFailed = false; }
    /// Runs the file as __main__ with sys.argv = [path, args...]. Returns 0, SystemExit's
    /// code, or 1 when it raised (traceback logged).
    int runFile(const std::string& path, const std::vector<std::string>& args);

    void log(const std::string& text) { line(text); }

private:
    void ensureInterpreter();

    std::unique_ptr<Graph> m_graph;
    double m_frame = 1.0;
    std::unordered_map<const PX::Image::Node*, uint64_t> m_serials;
    uint64_t m_nextSerial = 1;
    std::vector<PX::Image::Node*> m_thisNodes;
    std::deque<PanelAnswer> m_panelAnswers;
    int m_failedScripts = 0;
    bool m_lastScriptFailed = false;
    bool m_ownsInterpreter = false;
};

}  // namespace Vireo

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "px/image/Knob.h"
#include "px/image/OutputContext.h"

namespace PX {
namespace Image {

class Op;

/// The host's side of one node in the graph: its name, its operator, its knobs, its graph
/// inputs, its UI context, its error and abort state. The operator reaches the host through
/// it. A Node owns its knobs and its operator; the operator is destroyed first.
class Node {
public:
    /// Makes a node of a registered class and lets its operator declare its knobs. Throws
    /// std::runtime_error naming the class when no loaded plug-in registered it.
    static std::unique_ptr<Node> create(const std::string& className, const std::string& name);
    ~Node();

    const std::string& name() const { return m_name; }
    void setName(const std::string& name) { m_name = name; }
    const std::string& className() const { return m_className; }
    Op* op() const { return m_op.get(); }

    // --- knobs ------------------------------------------------------------------------
    const std::vector<std::unique_ptr<Knob>>& knobs() const { return m_knobs; }
    /// A knob by script name, following aliases; null when absent.
    Knob* knob(const std::string& name) const;
    /// Takes ownership; called by KnobCallback while the operator declares its knobs.
    Knob* addKnob(std::unique_ptr<Knob> knob);
    /// Makes `alias` read as `target` in scripts (never written).
    void addAlias(const std::string& alias, const std::string& target);
    /// Copies every knob's value at `context` into the operator's storage.
    void storeKnobs(const OutputContext& context);

    /// A user edit: one undo step, the knob reads `text`, then changed(). On failure throws
    /// std::invalid_argument naming the knob; the knob keeps its value.
    void setKnobFromUser(const std::string& knobName, const std::string& text);
    /// A user's press of the knob, as one undo step: a button does what it does (a script
    /// button reaches knob_changed, a Python-script button runs its script first, a link
    /// presses its target); any other knob just reports changed().
    void pressKnob(const std::string& knobName);

    // --- graph ------------------------------------------------------------------------
    int graphInputCount() const { return int(m_inputs.size()); }
    Node* input(int n) const { return n >= 0 && n < int(m_inputs.size()) ? m_inputs[n] : nullptr; }
    /// Connects (or, with null, disconnects) graph input n; tells the operator with the
    /// Knob::inputChange pseudo-knob.
    void setInput(int n, Node* upstream);

    // --- contexts, panel, state ---------------------------------------------------------
    const OutputContext& uiContext() const { return m_uiContext; }
    /// The UI context new nodes start with (the frame and view the user looks at when the
    /// node is made); frame 1, view 0 until the host sets it.
    static void setNewNodeUIContext(const OutputContext& c);
    static OutputContext newNodeUIContext();
    void setUIContext(const OutputContext& c) { m_uiContext = c; }
    bool panelOpen() const { return m_panelOpen; }
    /// Opening sends Knob::showPanel to knob_changed.
    void setPanelOpen(bool open);
    bool disabled() const { return m_disabled; }
    void setDisabled(bool d) { m_disabled = d; }

    /// Raises a node error (kept until clearError) and tells the host.
    void setError(const std::string& message);
    /// Raises a node warning (Op::warning): tells the host and counts it.
    void warn(const std::string& message);
    /// Node warnings raised in the process so far, by every node: a run compares the count
    /// before and after each frame to know which frames were made with one.
    static unsigned long warningsRaised();
    void clearError();
    bool hasError() const;
    std::string errorMessage() const;

    /// The share of the whole work that the node's own progress reports stand for while an
    /// execution runs one of its frames: a fraction f the node reports shows as
    /// begin + f * width, so the bar of a run over several frames only moves forward.
    void setProgressSpan(float begin, float width) {
        m_progressBegin = begin;
        m_progressWidth = width;
    }
    float progressOfWhole(float fraction) const {
        return m_progressBegin + fraction * m_progressWidth;
    }

    bool aborted() const { return m_aborted.load(); }
    void setAborted(bool a) { m_aborted.store(a); }

    /// Held while the host evaluates the node in a context, so render threads of other
    /// nodes do not change it underneath.
    std::recursive_mutex& evaluationMutex() { return m_evaluationMutex; }

private:
    Node(std::string className, std::string name);

    std::string m_className;
    std::string m_name;
    std::vector<std::unique_ptr<Knob>> m_knobs;
    std::vector<std::pair<std::string, std::string>> m_aliases;
    std::vector<Node*> m_inputs;
    OutputContext m_uiContext;
    bool m_panelOpen = false;
    bool m_disabled = false;
    mutable std::mutex m_errorMutex;
    std::string m_error;
    std::atomic<bool> m_aborted{false};
    float m_progressBegin = 0.0f;
    float m_progressWidth = 1.0f;
    std::recursive_mutex m_evaluationMutex;
    std::unique_ptr<Op> m_op;  // last: destroyed before the knobs it may point to
};

}  // namespace Image
}  // namespace PX

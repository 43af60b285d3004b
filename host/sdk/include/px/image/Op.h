// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "px/image/Hash.h"
#include "px/image/MetaData.h"
#include "px/image/OutputContext.h"

namespace PX {
namespace Image {

class Executable;
class Knob;
class KnobCallback;
class Node;

/// The base of every operator. The host makes one operator per node through the node's
/// registered Description, calls knobs() once to declare the panel, and keeps the declared
/// storage current (store) before each validation and each executed frame.
///
/// Inputs: the graph connects `maximum_inputs()` inputs. An operator may split graph input
/// n into split_input(n) inputs (for example one per view); input k then is the upstream
/// operator evaluated in inputContext(k). inputs() counts the split inputs.
///
/// Threads: knobs, knob_changed and executions run on the main thread. Errors and the abort
/// flag may be touched from render threads.
class Op {
public:
    /// A registration record. Static instances in a plug-in register themselves when the
    /// library loads; the host makes nodes by class name.
    struct Description {
        using Constructor = Op* (*)(Node*);
        Description(const char* name, Constructor constructor, const char* build = "");
        ~Description();
        const char* name;
        Constructor constructor;
        const char* build;
        /// The plug-in file that registered it ("" for ones linked into the host).
        std::string pluginFile;

        /// Null when no loaded plug-in registered `name`.
        static const Description* find(const std::string& name);
        /// Every registered description, in registration order.
        static std::vector<const Description*> all();
    };

    explicit Op(Node* node);
    Op(const Op&) = delete;
    Op& operator=(const Op&) = delete;
    virtual ~Op();

    virtual const char* Class() const = 0;
    virtual const char* displayName() const { return Class(); }
    virtual const char* node_help() const { return ""; }
    virtual const Description* description() const { return nullptr; }

    /// Declares the knobs in panel order.
    virtual void knobs(KnobCallback& f) {}
    /// A knob changed (user edit, button, undo/redo, or a pseudo-knob such as
    /// Knob::showPanel). Returns 1 when handled.
    virtual int knob_changed(Knob* knob) { return 0; }

    virtual int minimum_inputs() const { return 1; }
    virtual int maximum_inputs() const { return 1; }
    virtual std::string input_label(int n) const { return std::string(); }
    /// How many inputs graph input n becomes (1 = not split).
    virtual int split_input(int n) const { return 1; }
    /// Called when inputs or views changed, before split_input is asked again.
    virtual void build_splits() {}
    /// The context in which input k is evaluated; the default is the operator's own.
    virtual OutputContext inputContext(int k) const { return outputContext(); }
    virtual OutputContext inputUIContext(int k) const { return uiContext(); }

    /// Adds what the operator's output depends on beyond its knobs and inputs.
    virtual void append(Hash& hash) {}
    /// The node's hash at the output context: class, every knob, inputs, append().
    Hash hash() const;

    /// What doPreValidate answers when validation may go on.
    static constexpr int kPreValidateGoOn = 0;
    /// Called before a viewer (or a render from the command line) validates the node; any
    /// other answer than kPreValidateGoOn stops that validation.
    virtual int doPreValidate() { return kPreValidateGoOn; }

    virtual Executable* executable() { return nullptr; }
    /// False asks the host not to redraw the panel for this change.
    virtual bool updateUI(const OutputContext& context) { return true; }

    // --- host services ----------------------------------------------------------------
    Node* node() const { return m_node; }
    /// A knob by script name; null when absent.
    Knob* knob(const std::string& name) const;
    /// Number of inputs after splitting.
    int inputs() const;
    /// Input k's operator after splitting; null when unconnected or past the end.
    Op* input(int k) const;
    /// Graph input n before splitting.
    Op* node_input(int n) const;
    /// The graph input that split input k comes from.
    int graphInputOf(int k) const;

    const OutputContext& outputContext() const { return m_outputContext; }
    void setOutputContext(const OutputContext& c) { m_outputContext = c; }
    /// The frame and view the user is looking at.
    OutputContext uiContext() const;

    /// printf-style node error. The output stays unrendered until the error is cleared (at
    /// the next validation).
    void error(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool hasError() const;
    std::string errorMessage() const;
    /// printf-style node warning: the output is made, but short of what the node's knobs and
    /// inputs ask for (a camera left out of a panorama). Raised at every validation or render
    /// it holds for; the host says it once and counts it (Node::warningsRaised).
    void warning(const char* format, ...) __attribute__((format(printf, 2, 3)));

    /// True once the host gave the current render up.
    bool aborted() const;
    /// True once the user cancelled the current long work.
    bool cancelled() const;
    void progressFraction(double fraction);
    void progressMessage(const std::string& message);
    void progressDismiss();
    /// Re-render and redraw soon.
    void asapUpdate();

    /// The metadata of the operator's output; the default passes input 0's bundle on.
    virtual MetaData::Bundle _fetchMetaData(const std::string& key);
    MetaData::Bundle fetchMetaData(const std::string& key = std::string()) {
        return _fetchMetaData(key);
    }

private:
    Node* m_node;
    OutputContext m_outputContext;
};

}  // namespace Image
}  // namespace PX

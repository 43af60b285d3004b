// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace PX {
namespace Image {

class Node;

/// What the application around the SDK does for nodes: show progress, answer questions,
/// show messages, re-render and redraw. The command-line host installs its own; the default
/// writes to the standard error stream and answers every question with no, because a silent
/// yes could destroy the user's work.
class Host {
public:
    virtual ~Host() = default;

    /// `fraction` in [0, 1); the bar goes away on progressDismiss.
    virtual void progress(Node* node, float fraction);
    virtual void progressMessage(Node* node, const std::string& message);
    virtual void progressDismiss(Node* node);
    /// True once the user asked to stop the current long work.
    virtual bool cancelled(Node* node) { return false; }
    /// A yes/no question; true for yes.
    virtual bool ask(const std::string& question);
    virtual void message(const std::string& text);
    /// The node's output changed: render it again soon.
    virtual void requestUpdate(Node* node) {}
    /// Viewers should draw again.
    virtual void redraw() {}
    /// Runs a Python-script button's `script` with the scripting module's thisNode() bound
    /// to `node`. False when it failed (the host has reported why) or when the host has no
    /// scripting; the default reports exactly that.
    virtual bool runScript(Node* node, const std::string& script);
    /// A node error was raised (also kept on the node).
    virtual void nodeError(Node* node, const std::string& message);
    /// A node warning was raised (Op::warning). A node raises it again at every validation it
    /// holds for, so a host that shows it as a line should show each text once.
    virtual void nodeWarning(Node* node, const std::string& message);

    /// The host in charge; never null.
    static Host& current();
    /// Installs `host` (not owned; null restores the default).
    static void install(Host* host);
};

}  // namespace Image
}  // namespace PX

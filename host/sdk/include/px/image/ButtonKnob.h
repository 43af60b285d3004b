// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "px/image/Knob.h"

namespace PX {
namespace Image {

/// A push button. A press (Node::pressKnob, or a user's click) reaches the node's
/// knob_changed through changed(). Labels starting with "@" name an icon. Saves nothing.
class ButtonKnob : public Knob {
public:
    using Knob::Knob;
    const char* Class() const override { return "Script_Knob"; }
    /// What a press does: changed().
    virtual void press() { changed(); }
};

/// A button that runs a Python script in the host's scripting module, with the module's
/// thisNode() bound to the button's node; then the press reaches knob_changed like any
/// button's. A button without a script only reaches knob_changed. Saves nothing.
class PyScriptKnob : public ButtonKnob {
public:
    PyScriptKnob(Node* node, std::string name, std::string label, std::string script)
        : ButtonKnob(node, std::move(name), std::move(label)), m_script(std::move(script)) {}
    const char* Class() const override { return "PyScript_Knob"; }
    const std::string& script() const { return m_script; }
    /// Runs the script through Host::runScript; a script that fails (the host reports it)
    /// does not reach knob_changed.
    void press() override;

private:
    std::string m_script;
};

/// A button that presses another knob of the same node (the "link" of a panel that shows a
/// button again elsewhere under a new name).
class LinkKnob : public ButtonKnob {
public:
    LinkKnob(Node* node, std::string name, std::string label, std::string target)
        : ButtonKnob(node, std::move(name), std::move(label)), m_target(std::move(target)) {}
    const char* Class() const override { return "Link_Knob"; }
    const std::string& target() const { return m_target; }
    void press() override;

private:
    std::string m_target;
};

}  // namespace Image
}  // namespace PX

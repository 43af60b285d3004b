// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "px/image/Hash.h"
#include "px/image/OutputContext.h"

// Knobs with a panel widget of their own hand the host a Qt widget. The SDK itself does not
// link Qt: only a knob that makes a widget, and a host that shows it, need Qt Widgets.
class QWidget;

namespace PX {
namespace Image {

class Node;
class Op;
class ViewerContext;

/// Where the host embeds a knob's own widget: the panel widget that becomes its parent (null
/// when the host reparents it later).
struct WidgetContext {
    QWidget* parent = nullptr;
};

/// A knob is one named, saved parameter of a node (or a button, a label, a custom store).
/// Knobs belong to their Node and die with it. All calls happen on the host's main thread,
/// except store() which the host calls before it validates or executes the node.
///
/// Text: to_script() writes the knob's value as the host saves it, from_script() reads it
/// back (on load and on undo/redo). A failed from_script() returns false, leaves the value
/// as it was and says why in error().
///
/// Change: changed() is what the host calls after a user edit: the node's hash is refreshed,
/// the knob's callbacks run, the node's knob_changed() hears of it and viewers redraw. A value
/// set by the node's own code (set_value and friends) brings no knob_changed.
class Knob {
public:
    // Flag bits whose meaning the host itself uses. Other bits are kept as given.
    static constexpr uint64_t INVISIBLE = 0x400;      ///< never shown in the panel
    static constexpr uint64_t SHOW_MIXED = 0x800000;  ///< shows "mixed values"
    static constexpr uint64_t NO_ANIMATION = 0x100;   ///< cannot be keyed
    static constexpr uint64_t DO_NOT_WRITE = 0x200;   ///< never saved
    /// Left out of the node's default hash: changing it does not re-render by itself (the
    /// operator's append() may still add it when it matters).
    static constexpr uint64_t NO_RERENDER = 1ull << 48;

    /// Pseudo-knobs handed to knob_changed: the node's panel was opened; an input was
    /// connected, disconnected or changed. Compare by identity.
    static Knob& showPanelKnob();
    static Knob& inputChangeKnob();
    static Knob* showPanel;
    static Knob* inputChange;
    /// Free for the node's use; the host does not read it.
    static int undo_state;

    Knob(Node* node, std::string name, std::string label);
    Knob(const Knob&) = delete;
    Knob& operator=(const Knob&) = delete;
    virtual ~Knob();

    virtual const char* Class() const = 0;

    const std::string& name() const { return m_name; }
    const std::string& label() const { return m_label; }
    void label(const std::string& l) { m_label = l; }
    const std::string& tooltip() const { return m_tooltip; }
    void tooltip(const std::string& t) { m_tooltip = t; }

    uint64_t flags() const { return m_flags; }
    bool flag(uint64_t f) const { return (m_flags & f) != 0; }
    void set_flag(uint64_t f) { m_flags |= f; }
    void clear_flag(uint64_t f) { m_flags &= ~f; }
    bool enabled() const { return m_enabled; }
    void enable(bool on = true) { m_enabled = on; }
    void disable() { m_enabled = false; }
    bool visible() const { return m_visible; }
    void visible(bool on) { m_visible = on; }
    void show() { m_visible = true; }
    void hide() { m_visible = false; }

    Node* node() const { return m_node; }
    /// The operator the knob belongs to; null for the pseudo-knobs.
    Op* op() const;
    /// The frame and view the user is looking at.
    OutputContext uiContext() const;

    // --- saved text -------------------------------------------------------------------
    /// Writes the value. With `quote` set the knob writes the quotes a multi-word value needs.
    /// `context` is the frame to write for; null writes the whole animation. False when the
    /// knob has nothing to write.
    virtual bool to_script(std::ostream& os, const OutputContext* context, bool quote) const;
    /// Reads text written by to_script (without outer quotes). Empty text is valid.
    virtual bool from_script(const char* text);
    /// to_script into a string, unquoted, for all frames.
    std::string toScriptText() const;
    /// Why the last from_script failed.
    const std::string& error() const { return m_error; }

    virtual void append(Hash& hash, const OutputContext* context) const {}
    virtual bool not_default() const { return false; }
    virtual void reset_to_default() {}
    /// Copies the value at `context` into the node's storage bound at declaration.
    virtual void store(const OutputContext& context) {}
    /// True for knobs that have a value (not labels, buttons, tabs).
    virtual bool isValueKnob() const { return false; }

    // --- change notification ----------------------------------------------------------
    virtual void changed();
    /// Called on each changed(); returns an id for removeCallback.
    int addCallback(std::function<void(Knob*)> callback);
    void removeCallback(int id);
    void redraw();
    void updateWidgets();

    // --- animation keys (value knobs that allow it) --------------------------------------
    virtual bool isAnimatable() const { return false; }
    virtual bool is_animated() const { return false; }
    virtual void set_animated() {}
    virtual void clear_animated() {}
    virtual bool is_key(double frame) const { return false; }
    virtual int getNumKeys() const { return 0; }
    /// Time of key i in ascending order; 0 outside the range.
    virtual double getKeyTime(int i) const { return 0.0; }
    /// False when a key is there already, or when the key is refused (keyFrameRefusal in
    /// Limits.h; error() then says why).
    virtual bool setKeyAt(double frame) { return false; }
    virtual bool deleteKeyAt(double frame) { return false; }
    /// The frames the timeline shows as keys of this knob; returns their count.
    virtual int get_key_list(std::set<int>& keys) const;
    int get_key_list(std::set<int>& keys, int) const { return get_key_list(keys); }
    /// True when the timeline shows this knob's keys.
    virtual bool keyframesDisplayed() const { return is_animated(); }

    // --- viewer ------------------------------------------------------------------------
    /// True when the knob draws in (or takes events from) the viewer described by `ctx`; the
    /// viewer then calls draw_handle() in every pass and event. The default: never.
    virtual bool build_handle(ViewerContext* /*ctx*/) { return false; }
    /// Draws and opens the knob's handles (ViewerContext::beginHandle).
    virtual void draw_handle(ViewerContext* /*ctx*/) {}

    // --- panel widget -------------------------------------------------------------------
    /// A knob that draws its own panel row returns its widget here; the host owns it (with
    /// `context.parent` or the panel it adds it to) and destroys it when the panel closes.
    /// Called only on a host that has a QApplication. The default has no widget.
    virtual QWidget* make_widget(const WidgetContext& /*context*/) { return nullptr; }

    // --- undo -------------------------------------------------------------------------
    /// Opens (or joins) the current undo step and records this knob's text before the
    /// writes that follow. Pair every call with stop_add_to_undo().
    void add_to_undo();
    void stop_add_to_undo();
    /// True while the host restores this knob from an undo or redo.
    bool doingUndoRedo() const { return m_doingUndoRedo; }

protected:
    void setError(std::string e) { m_error = std::move(e); }

private:
    friend class UndoStack;
    Node* m_node;
    std::string m_name;
    std::string m_label;
    std::string m_tooltip;
    uint64_t m_flags = 0;
    bool m_enabled = true;
    bool m_visible = true;
    bool m_doingUndoRedo = false;
    std::string m_error;
    int m_nextCallbackId = 1;
    std::map<int, std::function<void(Knob*)>> m_callbacks;
};

/// Writes `text` for a script, in double quotes when it is empty or holds blanks, quotes,
/// braces or backslashes, escaping \ " and newlines.
std::string quoteScriptText(const std::string& text);
/// Reverses quoteScriptText; text without quotes comes back as it is.
std::string unquoteScriptText(const std::string& text);

}  // namespace Image
}  // namespace PX

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace PX {
namespace Image {

class Knob;
class Op;

/// What a viewer hands the knobs of a node while it draws them and while the user works in
/// it: the pass or event, the mouse, the keys held, the viewport and the view shown.
///
/// Positions are in output pixels of the image shown (x right, y up, origin at the bottom
/// left); the viewport width and height are the visible area in the same units, so a drag
/// across the whole viewport moves by (viewportWidth, 0).
///
/// Events reach knobs through handles: a knob whose build_handle() answers true gets
/// draw_handle() in every pass, and there it opens handles (beginHandle ... endHandle). For
/// an event, the viewer offers it to the open handles that take it (a point handle only when
/// the mouse lies on its point, "anywhere" handles always), in the order they were opened,
/// until a callback answers true (consumed). Main thread only.
class ViewerContext {
public:
    /// Passes and events. The draw passes come first; 4 is the shadow pass.
    enum Event {
        DRAW_OPAQUE = 0,
        DRAW_TRANSPARENT = 1,
        DRAW_STIPPLED = 2,
        DRAW_LINES = 3,
        DRAW_SHADOW = 4,
        MOVE = 5,              ///< the mouse moved with no button held
        PUSH = 6,              ///< a button went down
        CLICK = 7,             ///< a push and release without motion
        DRAG = 8,              ///< the mouse moved with a button held
        RELEASE = 9,           ///< the button went up
        KEY = 10,              ///< a key went down
        KEYUP = 11,            ///< a key went up
        NUDGE = 12,            ///< the host's nudge: arrow keys, by nudgeX, nudgeY pixels
        END_INTERACTION = 13,  ///< the host ends a drag it took away (focus lost)
        SELECTION = 20,        ///< a rubber-band selection is being drawn
        SELECTION_DONE = 21,
    };
    /// Modifier bits of state().
    static constexpr unsigned kShift = 1, kCtrl = 2, kAlt = 4;
    /// Key codes the node names; other keys come as their character code.
    enum Key {
        KeyTab = 0xff09,
        KeyEscape = 0xff1b,
        KeyBackspace = 0xff08,
        KeyDelete = 0xffff,
        KeyShift = 0xffe1,
        KeyControl = 0xffe3
    };
    /// Handle kinds. A point handle takes events only when the mouse lies within icon size of
    /// its position; the "anywhere" kinds take every mouse event (ANYWHERE) or every key and
    /// nudge (ANYWHERE_KEYS) wherever the mouse is.
    enum HandleKind { POINT = 1, ANYWHERE = 21, ANYWHERE_KEYS = 22 };
    /// Answers true when it consumed the event. `index` is the one given to beginHandle.
    using HandleCallback = std::function<bool(ViewerContext& ctx, Knob* knob, int index)>;

    Event event() const { return m_event; }
    void setEvent(Event e) { m_event = e; }
    bool drawing() const { return m_event <= DRAW_SHADOW; }
    /// The button of a push, drag or release: 1 left, 2 middle, 3 right; 0 for none.
    int button() const { return m_button; }
    void setButton(int b) { m_button = b; }
    unsigned state() const { return m_state; }
    void setState(unsigned modifiers) { m_state = modifiers; }
    bool ctrl() const { return (m_state & kCtrl) != 0; }
    bool shift() const { return (m_state & kShift) != 0; }
    bool alt() const { return (m_state & kAlt) != 0; }
    int key() const { return m_key; }
    void setKey(int key) { m_key = key; }

    float mouseX() const { return m_mouseX; }
    float mouseY() const { return m_mouseY; }
    void setMouse(float x, float y) { m_mouseX = x, m_mouseY = y; }
    double nudgeX() const { return m_nudgeX; }
    double nudgeY() const { return m_nudgeY; }
    void setNudge(double dx, double dy) { m_nudgeX = dx, m_nudgeY = dy; }

    int viewportWidth() const { return m_viewportWidth; }
    int viewportHeight() const { return m_viewportHeight; }
    void setViewport(int width, int height) { m_viewportWidth = width, m_viewportHeight = height; }
    float iconSize() const { return m_iconSize; }
    void setIconSize(float s) { m_iconSize = s; }
    /// The view the viewer shows, and its frame.
    int view() const { return m_view; }
    void setView(int v) { m_view = v; }
    double frame() const { return m_frame; }
    void setFrame(double f) { m_frame = f; }
    /// 0 for the ordinary image viewer; other values are other viewer modes.
    int mode() const { return m_mode; }
    void setMode(int m) { m_mode = m; }
    bool playing() const { return m_playing; }
    void setPlaying(bool p) { m_playing = p; }

    // --- handles (called by knobs inside draw_handle) -----------------------------------
    void beginHandle(HandleKind kind,
                     Knob* knob,
                     HandleCallback callback,
                     int index = 0,
                     float x = 0.0f,
                     float y = 0.0f);
    void endHandle();

    /// Set by a knob that wants the viewer drawn again (during drags).
    void requestRedraw() { m_redrawRequested = true; }
    bool redrawRequested() const { return m_redrawRequested; }

    /// Offers the context's event to the knobs of `op` as a viewer does: the knobs whose
    /// build_handle() answers true draw their handles, then the handles that take the event
    /// get it in order until one consumes it. Returns whether one did.
    bool deliver(Op& op);

private:
    struct Handle {
        HandleKind kind;
        Knob* knob;
        HandleCallback callback;
        int index;
        float x, y;
    };
    bool takes(const Handle& h) const;

    Event m_event = DRAW_OPAQUE;
    int m_button = 0;
    unsigned m_state = 0;
    int m_key = 0;
    float m_mouseX = 0.0f, m_mouseY = 0.0f;
    double m_nudgeX = 0.0, m_nudgeY = 0.0;
    int m_viewportWidth = 0, m_viewportHeight = 0;
    float m_iconSize = 10.0f;
    int m_view = 0;
    double m_frame = 1.0;
    int m_mode = 0;
    bool m_playing = false;
    bool m_redrawRequested = false;
    std::vector<Handle> m_handles;
    int m_open = 0;
};

/// The event named `name` ("push", "drag", "release", "click", "move", "key", "keyup",
/// "nudge", "end"); throws std::invalid_argument listing the names for another.
ViewerContext::Event viewerEventByName(const std::string& name);

}  // namespace Image
}  // namespace PX

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace PX {
namespace Image {

class Knob;

/// The host's undo history, one per process, main thread only.
///
/// A step records, for each knob written during it, the knob's script text before the first
/// write and after the last one. Steps open with begin() (a user action: a button press, an
/// edit, a script command) or with a knob's add_to_undo(); they nest, and the step closes
/// when the outermost one ends. Knobs written inside an open step join it, so one action is
/// one step however many knobs it writes. A step that changed nothing is dropped.
///
/// undo() gives every knob of the last step its earlier text through from_script, last
/// written first, marking the knob as doingUndoRedo, then calls the knob's changed(). redo()
/// does the same with the later texts. Nothing is recorded while a step is being restored or
/// while recording is suspended (script loading).
class UndoStack {
public:
    static UndoStack& instance();

    void begin(const std::string& name = {});
    void end();
    bool inStep() const { return m_depth > 0; }

    /// A place inside the open step that rollback() returns to: how many knobs the step had
    /// recorded, and what those knobs read at that moment. Its knobs must outlive it.
    struct Savepoint {
        size_t entries = 0;
        std::vector<std::pair<Knob*, std::string>> texts;
    };
    Savepoint savepoint() const;
    /// Gives every knob written since `point` its text of that moment, last written first, as
    /// undo() does (doingUndoRedo set, then changed()), and forgets what the open step recorded
    /// after it. For a failed part of a larger action (a button script inside a press), whose
    /// step stays open so that undo() cannot run. Does nothing outside a step.
    void rollback(const Savepoint& point);

    /// Called by Knob::add_to_undo: opens or joins a step and records the knob's text.
    void record(Knob* knob);

    bool undo();
    bool redo();
    size_t undoCount() const { return m_undo.size(); }
    size_t redoCount() const { return m_redo.size(); }
    /// Name of the step undo() would revert; "" when none.
    std::string undoName() const;
    void clear();

    /// While suspended (for example while a script loads) nothing is recorded.
    void suspend() { ++m_suspended; }
    void resume() { --m_suspended; }
    bool recording() const { return m_suspended == 0 && !m_restoring; }

    /// Drops every record of a knob that is going away.
    void forget(Knob* knob);

private:
    struct Entry {
        Knob* knob;
        std::string before;
        std::string after;
    };
    struct Step {
        std::string name;
        std::vector<Entry> entries;
    };
    void restore(Step& step, bool toBefore);

    std::vector<Step> m_undo;
    std::vector<Step> m_redo;
    Step m_open;
    int m_depth = 0;
    int m_suspended = 0;
    bool m_restoring = false;
};

}  // namespace Image
}  // namespace PX

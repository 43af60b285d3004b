// SPDX-License-Identifier: Apache-2.0
#include "px/image/UndoStack.h"

#include <algorithm>

#include "px/image/Knob.h"

namespace PX {
namespace Image {

UndoStack& UndoStack::instance() {
    static UndoStack stack;
    return stack;
}

void UndoStack::begin(const std::string& name) {
    if (m_depth++ == 0)
        m_open = Step{name, {}};
    else if (m_open.name.empty())
        m_open.name = name;
}

void UndoStack::end() {
    if (m_depth == 0 || --m_depth > 0) return;
    Step step = std::move(m_open);
    m_open = Step{};
    for (Entry& e : step.entries) e.after = e.knob->toScriptText();
    step.entries.erase(std::remove_if(step.entries.begin(),
                                      step.entries.end(),
                                      [](const Entry& e) { return e.before == e.after; }),
                       step.entries.end());
    if (step.entries.empty()) return;
    if (step.name.empty()) step.name = step.entries.front().knob->name();
    m_undo.push_back(std::move(step));
    m_redo.clear();
}

void UndoStack::record(Knob* knob) {
    if (!recording() || m_depth == 0) return;
    for (const Entry& e : m_open.entries)
        if (e.knob == knob) return;
    m_open.entries.push_back({knob, knob->toScriptText(), {}});
}

UndoStack::Savepoint UndoStack::savepoint() const {
    Savepoint point;
    point.entries = m_open.entries.size();
    for (const Entry& e : m_open.entries) point.texts.emplace_back(e.knob, e.knob->toScriptText());
    return point;
}

void UndoStack::rollback(const Savepoint& point) {
    if (m_depth == 0) return;
    const size_t kept = std::min(point.entries, m_open.entries.size());
    // Knobs recorded before the savepoint go back to what they read then; the step keeps
    // their records, whose earlier texts still belong to the enclosing action.
    Step back;
    for (const auto& [knob, text] : point.texts)
        if (knob->toScriptText() != text) back.entries.push_back({knob, text, {}});
    back.entries.insert(
        back.entries.end(), m_open.entries.begin() + std::ptrdiff_t(kept), m_open.entries.end());
    m_open.entries.resize(kept);
    restore(back, true);
}

bool UndoStack::undo() {
    if (m_depth > 0 || m_undo.empty()) return false;
    Step step = std::move(m_undo.back());
    m_undo.pop_back();
    restore(step, true);
    m_redo.push_back(std::move(step));
    return true;
}

bool UndoStack::redo() {
    if (m_depth > 0 || m_redo.empty()) return false;
    Step step = std::move(m_redo.back());
    m_redo.pop_back();
    restore(step, false);
    m_undo.push_back(std::move(step));
    return true;
}

void UndoStack::restore(Step& step, bool toBefore) {
    m_restoring = true;
    auto apply = [&](Entry& e) {
        e.knob->m_doingUndoRedo = true;
        e.knob->from_script((toBefore ? e.before : e.after).c_str());
        e.knob->changed();
        e.knob->m_doingUndoRedo = false;
    };
    // Undo reverts the last written knob first; redo replays in the original order.
    if (toBefore)
        for (auto it = step.entries.rbegin(); it != step.entries.rend(); ++it) apply(*it);
    else
        for (Entry& e : step.entries) apply(e);
    m_restoring = false;
}

std::string UndoStack::undoName() const {
    return m_undo.empty() ? std::string() : m_undo.back().name;
}

void UndoStack::clear() {
    m_undo.clear();
    m_redo.clear();
}

void UndoStack::forget(Knob* knob) {
    auto drop = [knob](std::vector<Step>& steps) {
        for (Step& s : steps)
            s.entries.erase(std::remove_if(s.entries.begin(),
                                           s.entries.end(),
                                           [knob](const Entry& e) { return e.knob == knob; }),
                            s.entries.end());
        steps.erase(
            std::remove_if(
                steps.begin(), steps.end(), [](const Step& s) { return s.entries.empty(); }),
            steps.end());
    };
    drop(m_undo);
    drop(m_redo);
    m_open.entries.erase(std::remove_if(m_open.entries.begin(),
                                        m_open.entries.end(),
                                        [knob](const Entry& e) { return e.knob == knob; }),
                         m_open.entries.end());
}

}  // namespace Image
}  // namespace PX

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QList>
#include <QTreeView>

class QAction;
class QMenu;

namespace Korvane {
namespace Research {

class ConstraintsKnob;

/// The constraints panel: the knob's model as a tree with a context menu and shortcuts to add,
/// toggle, merge and delete constraints. Edits that change constraints report the knob's
/// changed(); merges and deletions are one undo step each. The selection is mirrored into the
/// node's per-constraint knobs ("constraintColour", "constraintStrength", "constraintSampling",
/// "constraintStartFrame", "constraintEndFrame"), flagged as mixed when the rows disagree.
///
/// Shortcuts: Add Ctrl+Shift+N, Toggle Ctrl+Shift+H, Merge Ctrl+Shift+M,
/// Delete Ctrl+Shift+Delete, Delete All Ctrl+Shift+Alt+Delete (which asks first).
class TreeView : public QTreeView {
    Q_OBJECT
public:
    /// Sets the knob's model (created when missing) on the view, lays out the columns and
    /// installs the delegate, menu and shortcuts. The knob is not owned.
    explicit TreeView(ConstraintsKnob* knob, QWidget* parent = nullptr);
    ~TreeView() override;

    /// The knob is going away: the view stops calling it.
    void setKnob(ConstraintsKnob* knob) { m_knob = knob; }
    ConstraintsKnob* knob() const { return m_knob; }
    /// The context menu's actions, in menu order.
    const QList<QAction*>& actions() const { return m_actions; }

public Q_SLOTS:
    void update() {}
    void showContextMenu(const QPoint& position);
    void addRow();
    void toggleSelectedRows();
    void mergeSelectedRows();
    void removeSelectedRows();
    void removeAllRows();

protected Q_SLOTS:
    void dataChanged(const QModelIndex& topLeft,
                     const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    QList<int> selectedRows() const;
    void syncSelectionKnobs();
    /// Enables the row actions for a menu opened at `position`.
    void enableActionsAt(const QPoint& position);

    ConstraintsKnob* m_knob;
    QMenu* m_menu;
    QList<QAction*> m_actions;
    int m_callback = 0;
};

}  // namespace Research
}  // namespace Korvane

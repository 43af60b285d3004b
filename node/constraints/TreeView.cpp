// SPDX-License-Identifier: Apache-2.0
#include "constraints/TreeView.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QShortcut>
#include <QVector3D>

#include "constraints/CheckableDelegate.h"
#include "constraints/ConstraintsKnob.h"
#include "constraints/TreeModel.h"
#include "px/image/ArrayKnob.h"
#include "px/image/Host.h"
#include "px/image/Node.h"

namespace Korvane {
namespace Research {

namespace {

// One undo step on the knob around an edit of the panel.
void inUndoStep(ConstraintsKnob& knob, const std::function<void()>& edit) {
    knob.add_to_undo();
    edit();
    knob.stop_add_to_undo();
}

}  // namespace

TreeView::TreeView(ConstraintsKnob* knob, QWidget* parent)
    : QTreeView(parent), m_knob(knob), m_menu(new QMenu(QString(), this)) {
    struct ActionEntry {
        const char* text;
        void (TreeView::*slot)();
        QKeySequence shortcut;
    };
    const std::array<ActionEntry, 5> entries{{
        {"Add", &TreeView::addRow, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N)},
        {"Toggle", &TreeView::toggleSelectedRows, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H)},
        {"Merge", &TreeView::mergeSelectedRows, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M)},
        {"Delete",
         &TreeView::removeSelectedRows,
         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Delete)},
        {"Delete All",
         &TreeView::removeAllRows,
         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::ALT | Qt::Key_Delete)},
    }};
    for (const ActionEntry& entry : entries) {
        QAction* action = m_menu->addAction(QString::fromLatin1(entry.text));
        action->setShortcut(entry.shortcut);
        connect(action, &QAction::triggered, this, entry.slot);
        auto* shortcut = new QShortcut(entry.shortcut, this);
        connect(shortcut, &QShortcut::activated, this, entry.slot);
        m_actions.push_back(action);
    }
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &TreeView::showContextMenu);

    setRootIsDecorated(true);
    setUniformRowHeights(true);
    if (m_knob) {
        TreeModel* model = m_knob->model();
        setModel(model);
        setItemDelegateForColumn(TreeModel::Visible, new CheckableDelegate(model, this));
        m_callback = m_knob->addCallback([this](PX::Image::Knob*) { viewport()->update(); });
    }
    setColumnHidden(TreeModel::Sampling, true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    expandAll();
    header()->setStretchLastSection(false);
    for (int c = 1; c < TreeModel::ColumnCount; ++c)
        header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    header()->setSectionResizeMode(TreeModel::Name, QHeaderView::Stretch);
    header()->setSectionResizeMode(TreeModel::Views, QHeaderView::Interactive);
}

TreeView::~TreeView() {
    if (m_knob) m_knob->removeCallback(m_callback);
}

QList<int> TreeView::selectedRows() const {
    QList<int> rows;
    if (!selectionModel()) return rows;
    const auto* tree = static_cast<const TreeModel*>(model());
    for (const QModelIndex& index : selectionModel()->selectedIndexes()) {
        const int row = tree->constraintRow(index);
        if (row >= 0 && !rows.contains(row)) rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TreeView::addRow() {
    if (m_knob) m_knob->addConstraintAtCurrentFrame();
}

void TreeView::toggleSelectedRows() {
    if (!m_knob) return;
    TreeModel* tree = m_knob->model();
    for (int row : selectedRows()) {
        const QModelIndex at = tree->constraintIndex(row, TreeModel::Visible);
        tree->setData(at, !at.data(Qt::EditRole).toBool(), Qt::EditRole);
    }
    m_knob->changed();
}

void TreeView::mergeSelectedRows() {
    const QList<int> rows = selectedRows();
    if (!m_knob || rows.size() < 2) return;
    TreeModel* tree = m_knob->model();
    const int target = rows.front();
    inUndoStep(*m_knob, [&] {
        ConstraintItem* into = tree->constraint(target);
        int start = into->data(TreeModel::Start).toInt();
        int end = into->data(TreeModel::End).toInt();
        for (int i = int(rows.size()) - 1; i > 0; --i) {
            const ConstraintItem* from = tree->constraint(rows[i]);
            into->tracks().append(from->tracks());
            start = std::min(start, from->data(TreeModel::Start).toInt());
            end = std::max(end, from->data(TreeModel::End).toInt());
            tree->removeRows(rows[i], 1, tree->topIndex());
        }
        tree->refreshViewsText(target);
        tree->setData(tree->constraintIndex(target, TreeModel::Start), start, Qt::EditRole);
        tree->setData(tree->constraintIndex(target, TreeModel::End), end, Qt::EditRole);
        m_knob->selectRow(target, true);
    });
    m_knob->changed();
}

void TreeView::removeSelectedRows() {
    const QList<int> rows = selectedRows();
    if (!m_knob) return;
    TreeModel* tree = m_knob->model();
    inUndoStep(*m_knob, [&] {
        for (auto row = rows.rbegin(); row != rows.rend(); ++row)
            tree->removeRows(*row, 1, tree->topIndex());
    });
    m_knob->changed();
}

void TreeView::removeAllRows() {
    if (!m_knob || !PX::Image::Host::current().ask(
                       "Proceeding will delete all existing constraints. Are you sure?"))
        return;
    inUndoStep(*m_knob, [&] { m_knob->removeAllConstraints(); });
    m_knob->changed();
}

void TreeView::enableActionsAt(const QPoint& position) {
    const auto* tree = static_cast<const TreeModel*>(model());
    const bool onRow = tree && tree->constraintRow(indexAt(position)) >= 0;
    const bool rowActions = onRow && !selectedRows().isEmpty();
    for (QAction* action : m_actions) {
        const QString text = action->text();
        if (text == "Toggle" || text == "Merge" || text == "Delete") action->setEnabled(rowActions);
    }
}

void TreeView::showContextMenu(const QPoint& position) {
    enableActionsAt(position);
    // Shown one item height below the point, so that the pointer does not sit on "Add".
    const int itemHeight = m_menu->sizeHint().height() / std::max<qsizetype>(1, m_actions.size());
    m_menu->exec(viewport()->mapToGlobal(position) + QPoint(0, itemHeight));
}

void TreeView::dataChanged(const QModelIndex& topLeft,
                           const QModelIndex& bottomRight,
                           const QList<int>& roles) {
    QTreeView::dataChanged(topLeft, bottomRight, roles);
    if (m_knob && !m_knob->loading() && topLeft == bottomRight &&
        (topLeft.column() == TreeModel::Name || topLeft.column() == TreeModel::Visible))
        m_knob->changed();
}

void TreeView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTreeView::currentChanged(current, previous);
    if (m_knob && !m_knob->loading()) m_knob->changed();
}

void TreeView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QTreeView::selectionChanged(selected, deselected);
    syncSelectionKnobs();
}

void TreeView::syncSelectionKnobs() {
    if (!m_knob || !m_knob->node()) return;
    std::lock_guard<std::recursive_mutex> hold(m_knob->lock());
    const QList<int> rows = selectedRows();
    if (rows.isEmpty()) return;
    const TreeModel* tree = static_cast<const TreeModel*>(model());
    PX::Image::Node* node = m_knob->node();
    // Each knob shows the first selected row's values; "mixed" when another row differs.
    auto show = [&](const char* name, const std::function<std::vector<double>(int)>& valuesOf) {
        auto* knob = dynamic_cast<PX::Image::ArrayKnob*>(node->knob(name));
        if (!knob) return;
        const std::vector<double> first = valuesOf(rows.front());
        bool mixed = false;
        for (int row : rows) mixed = mixed || valuesOf(row) != first;
        for (size_t i = 0; i < first.size() && int(i) < knob->arraySize(); ++i)
            knob->set_value(first[i], int(i));
        if (mixed)
            knob->set_flag(PX::Image::Knob::SHOW_MIXED);
        else
            knob->clear_flag(PX::Image::Knob::SHOW_MIXED);
        knob->updateWidgets();
    };
    auto column = [tree](int c) {
        return [tree, c](int row) {
            return std::vector<double>{tree->constraint(row)->data(c).toDouble()};
        };
    };
    show("constraintColour", [tree](int row) {
        const QVector3D c = tree->constraint(row)->data(TreeModel::Colour).value<QVector3D>();
        return std::vector<double>{c.x(), c.y(), c.z()};
    });
    show("constraintStrength", column(TreeModel::Strength));
    show("constraintSampling", column(TreeModel::Sampling));
    show("constraintStartFrame", column(TreeModel::Start));
    show("constraintEndFrame", column(TreeModel::End));
    m_knob->redraw();
}

}  // namespace Research
}  // namespace Korvane

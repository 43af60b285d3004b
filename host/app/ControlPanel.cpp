// SPDX-License-Identifier: Apache-2.0
#include "ControlPanel.h"

#include <cstdlib>
#include <stdexcept>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QVBoxLayout>
#include <QWidget>

#include "px/image/Knob.h"

namespace Vireo {

using PX::Image::Knob;

namespace {

QAbstractItemView* listOf(QWidget* widget) {
    if (!widget) return nullptr;
    if (auto* view = qobject_cast<QAbstractItemView*>(widget)) return view;
    return widget->findChild<QAbstractItemView*>();
}

// The selectable items of the model in the order a user sees them.
void selectableRows(const QAbstractItemModel* model,
                    const QModelIndex& parent,
                    std::vector<QModelIndex>& out) {
    for (int r = 0; r < model->rowCount(parent); ++r) {
        const QModelIndex at = model->index(r, 0, parent);
        if (model->flags(at).testFlag(Qt::ItemIsSelectable)) out.push_back(at);
        selectableRows(model, at, out);
    }
}

std::vector<QModelIndex> rowsOf(const QAbstractItemView* view) {
    std::vector<QModelIndex> rows;
    if (view->model()) selectableRows(view->model(), view->rootIndex(), rows);
    return rows;
}

}  // namespace

void ControlPanel::ensureApplication() {
    if (QApplication::instance()) return;
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") &&
        !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "vireo";
    static char* argv[] = {name, nullptr};
    // Lives for the rest of the process, like the host's other process-wide state.
    new QApplication(argc, argv);
}

ControlPanel::ControlPanel(PX::Image::Node* node) : m_node(node) {
    ensureApplication();
    m_window = new QWidget;
    m_window->setWindowTitle(QString::fromStdString(node->name()));
    auto* layout = new QVBoxLayout(m_window);
    for (const auto& knob : node->knobs()) {
        if (QWidget* widget = knob->make_widget({m_window})) {
            layout->addWidget(widget);
            m_widgets.emplace_back(knob.get(), widget);
        }
    }
    node->setPanelOpen(true);
}

ControlPanel::~ControlPanel() {
    delete m_window;
    m_node->setPanelOpen(false);
}

QWidget* ControlPanel::widgetOf(const Knob* knob) const {
    for (const auto& [k, widget] : m_widgets)
        if (k == knob) return widget;
    return nullptr;
}

void ControlPanel::selectRows(const Knob* knob, const std::vector<int>& rows) const {
    QAbstractItemView* view = listOf(widgetOf(knob));
    if (!view || !view->selectionModel())
        throw std::invalid_argument("knob '" + knob->name() + "' has no list in the panel");
    const std::vector<QModelIndex> all = rowsOf(view);
    for (int row : rows)
        if (row < 0 || row >= int(all.size()))
            throw std::out_of_range("knob '" + knob->name() + "' has no row " +
                                    std::to_string(row) + " (it has " + std::to_string(all.size()) +
                                    ")");
    QItemSelectionModel* selection = view->selectionModel();
    selection->clearSelection();
    for (int row : rows)
        selection->select(all[size_t(row)],
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (!rows.empty())
        selection->setCurrentIndex(all[size_t(rows.back())], QItemSelectionModel::NoUpdate);
}

std::vector<int> ControlPanel::selectedRows(const Knob* knob) const {
    std::vector<int> rows;
    QAbstractItemView* view = listOf(widgetOf(knob));
    if (!view || !view->selectionModel()) return rows;
    const std::vector<QModelIndex> all = rowsOf(view);
    for (size_t i = 0; i < all.size(); ++i)
        if (view->selectionModel()->isSelected(all[i])) rows.push_back(int(i));
    return rows;
}

bool ControlPanel::triggerAction(const Knob* knob, const std::string& text) const {
    QWidget* widget = widgetOf(knob);
    if (!widget) return false;
    for (QAction* action : widget->findChildren<QAction*>()) {
        if (action->text().remove('&').toStdString() != text || !action->isEnabled()) continue;
        action->trigger();
        return true;
    }
    return false;
}

}  // namespace Vireo

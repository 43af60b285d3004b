// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QStyledItemDelegate>

namespace Korvane {
namespace Research {

class TreeModel;

/// The delegate of the panel's visibility column: a click (mouse release) flips the item's
/// visible flag through the model and is consumed. On the top item it switches the whole set.
class CheckableDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    CheckableDelegate(TreeModel* model, QObject* parent = nullptr);

    bool editorEvent(QEvent* event,
                     QAbstractItemModel* model,
                     const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

private:
    TreeModel* m_model;
};

}  // namespace Research
}  // namespace Korvane

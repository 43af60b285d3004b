// SPDX-License-Identifier: Apache-2.0
#include "constraints/CheckableDelegate.h"

#include <QEvent>

#include "constraints/TreeModel.h"

namespace Korvane {
namespace Research {

CheckableDelegate::CheckableDelegate(TreeModel* model, QObject* parent)
    : QStyledItemDelegate(parent), m_model(model) {}

bool CheckableDelegate::editorEvent(QEvent* event,
                                    QAbstractItemModel* model,
                                    const QStyleOptionViewItem& option,
                                    const QModelIndex& index) {
    if (event->type() == QEvent::MouseButtonRelease && index.isValid() &&
        index.column() == TreeModel::Visible && m_model) {
        m_model->setData(index, !index.data(Qt::EditRole).toBool(), Qt::EditRole);
        return true;
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

}  // namespace Research
}  // namespace Korvane

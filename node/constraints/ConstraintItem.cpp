// SPDX-License-Identifier: Apache-2.0
#include "constraints/ConstraintItem.h"

namespace Korvane {
namespace Research {

ConstraintItem::ConstraintItem(QVector<QVariant> data, ConstraintItem* parent)
    : m_data(std::move(data)), m_parent(parent) {}

ConstraintItem* ConstraintItem::child(int row) const {
    return row >= 0 && row < childCount() ? m_children[size_t(row)].get() : nullptr;
}

int ConstraintItem::row() const {
    if (!m_parent) return 0;
    for (int i = 0; i < m_parent->childCount(); ++i)
        if (m_parent->m_children[size_t(i)].get() == this) return i;
    return 0;
}

QVariant ConstraintItem::data(int column) const {
    return column >= 0 && column < m_data.size() ? m_data[column] : QVariant();
}

bool ConstraintItem::setData(int column, const QVariant& value) {
    if (column < 0 || column >= m_data.size()) return false;
    m_data[column] = value;
    return true;
}

bool ConstraintItem::insertChildren(int row, int count, int columns) {
    if (row < 0 || row > childCount() || count < 0) return false;
    for (int i = 0; i < count; ++i)
        m_children.insert(m_children.begin() + row + i,
                          std::make_unique<ConstraintItem>(QVector<QVariant>(columns), this));
    return true;
}

bool ConstraintItem::removeChildren(int row, int count) {
    if (row < 0 || count < 0 || row + count > childCount()) return false;
    m_children.erase(m_children.begin() + row, m_children.begin() + row + count);
    return true;
}

}  // namespace Research
}  // namespace Korvane

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <vector>

#include <QVariant>
#include <QVector>

#include "constraints/ConstraintTrackSet.h"

namespace Korvane {
namespace Research {

/// One node of the constraints tree: the model's hidden root (header labels), the top item
/// "root" (the visible flag of the whole set) or a constraint. Holds one value per column and
/// owns its children; a constraint also holds its point tracks.
class ConstraintItem {
public:
    explicit ConstraintItem(QVector<QVariant> data, ConstraintItem* parent = nullptr);

    ConstraintItem* parent() const { return m_parent; }
    ConstraintItem* child(int row) const;
    int childCount() const { return int(m_children.size()); }
    /// This item's row under its parent; 0 for the hidden root.
    int row() const;

    int columnCount() const { return int(m_data.size()); }
    /// The stored value; invalid outside the item's columns.
    QVariant data(int column) const;
    /// False outside the item's columns.
    bool setData(int column, const QVariant& value);

    /// Inserts `count` items of `columns` empty values at `row`; false when `row` is outside
    /// 0..childCount().
    bool insertChildren(int row, int count, int columns);
    /// False unless rows `row`..`row + count - 1` exist.
    bool removeChildren(int row, int count);

    ConstraintTrackSet& tracks() { return m_tracks; }
    const ConstraintTrackSet& tracks() const { return m_tracks; }

private:
    QVector<QVariant> m_data;
    ConstraintItem* m_parent;
    std::vector<std::unique_ptr<ConstraintItem>> m_children;
    ConstraintTrackSet m_tracks;
};

}  // namespace Research
}  // namespace Korvane

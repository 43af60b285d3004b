// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include <QAbstractItemModel>

#include "constraints/ConstraintItem.h"

namespace Korvane {
namespace Research {

/// The item model of the constraints panel and the store of the constraints themselves.
///
/// Three levels: a hidden root holding the 8 header labels; its single child, the top item
/// ("root", visible flag in column 1), whose visible flag switches the whole set; and under it
/// one item per constraint, row 0 first. Constraint columns:
///
///   0 Name (string)   1 visible (bool)   2 colour (QVector3D, r g b in 0..1)
///   3 Views ("0,2": view - 1 of the views holding tracks)   4 Strength   5 Sampling
///   6 Start (int)     7 End (int)
///
/// Strength and Sampling are float for new constraints and double once loaded; read them with
/// toDouble(). Editing the name to one another constraint has is refused silently (setData
/// still answers true, as the view expects); Strength and Sampling accept only numbers, Start
/// and End only integers.
class TreeModel : public QAbstractItemModel {
public:
    enum Column {
        Name = 0,
        Visible = 1,
        Colour = 2,
        Views = 3,
        Strength = 4,
        Sampling = 5,
        Start = 6,
        End = 7,
        ColumnCount = 8
    };

    explicit TreeModel(QObject* parent = nullptr);
    ~TreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool insertRows(int row, int count, const QModelIndex& parent = {}) override;
    bool removeRows(int row, int count, const QModelIndex& parent = {}) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    /// The top item and its index (column 0); the parent of every constraint row.
    ConstraintItem* top() const;
    QModelIndex topIndex(int column = 0) const;
    /// Constraint `row`, null when it does not exist.
    ConstraintItem* constraint(int row) const;
    QModelIndex constraintIndex(int row, int column = 0) const;
    int constraintCount() const;
    /// The constraint row of `index`, -1 for the top item, the hidden root or an invalid index.
    int constraintRow(const QModelIndex& index) const;
    /// Sets column 3 from the row's track set and tells the views.
    void refreshViewsText(int row);

private:
    ConstraintItem* itemOf(const QModelIndex& index) const;

    std::unique_ptr<ConstraintItem> m_root;
};

}  // namespace Research
}  // namespace Korvane

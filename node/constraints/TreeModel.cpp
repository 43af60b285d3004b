// SPDX-License-Identifier: Apache-2.0
#include "constraints/TreeModel.h"

#include <cmath>

#include <QColor>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QVector3D>

namespace Korvane {
namespace Research {

namespace {

// Pixmaps and icons need a GUI application; a host without one (the command line, the tests
// of the store) gets no decorations.
bool canPaint() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

QPixmap swatch(const QVector3D& colour) {
    QPixmap pixmap(14, 14);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    auto byte = [](float c) { return int(std::lround(double(c) * 255.0)); };
    const QColor fill(qBound(0, byte(colour.x()), 255),
                      qBound(0, byte(colour.y()), 255),
                      qBound(0, byte(colour.z()), 255));
    // An 11 x 11 square at (2, 2): fillRect covers it, the 1-pixel outline its edge pixels.
    painter.fillRect(QRect(2, 2, 11, 11), fill);
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRect(QRect(2, 2, 10, 10));
    return pixmap;
}

}  // namespace

TreeModel::TreeModel(QObject* parent) : QAbstractItemModel(parent) {
    m_root = std::make_unique<ConstraintItem>(QVector<QVariant>{QStringLiteral("Name"),
                                                                QString(),
                                                                QString(),
                                                                QStringLiteral("Views"),
                                                                QStringLiteral("Strength"),
                                                                QStringLiteral("Sampling"),
                                                                QStringLiteral("Start"),
                                                                QStringLiteral("End")});
    m_root->insertChildren(0, 1, 2);
    m_root->child(0)->setData(Name, QStringLiteral("root"));
    m_root->child(0)->setData(Visible, true);
}

TreeModel::~TreeModel() = default;

ConstraintItem* TreeModel::itemOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<ConstraintItem*>(index.internalPointer()) : m_root.get();
}

QModelIndex TreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column < 0 || column >= ColumnCount || (parent.isValid() && parent.column() != 0))
        return {};
    ConstraintItem* child = itemOf(parent)->child(row);
    return child ? createIndex(row, column, child) : QModelIndex();
}

QModelIndex TreeModel::parent(const QModelIndex& index) const {
    if (!index.isValid()) return {};
    ConstraintItem* parent = itemOf(index)->parent();
    if (!parent || parent == m_root.get()) return {};
    return createIndex(parent->row(), 0, parent);
}

int TreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) return 0;
    return itemOf(parent)->childCount();
}

int TreeModel::columnCount(const QModelIndex&) const { return ColumnCount; }

QVariant TreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const ConstraintItem* item = itemOf(index);
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            if (column == Visible || column == Colour) return {};
            return item->data(column);
        case Qt::EditRole:
            return item->data(column);
        case Qt::DecorationRole:
            if (!canPaint()) return {};
            if (column == Visible)
                return item->data(Visible).toBool()
                           ? QVariant(QIcon(QStringLiteral(":/qrc/images/Roto/Visible.png")))
                           : QVariant();
            if (column == Colour) {
                const QVariant colour = item->data(Colour);
                if (colour.typeId() == QMetaType::QVector3D)
                    return swatch(colour.value<QVector3D>());
                return QIcon(QStringLiteral(":/qrc/images/Color_Knob.png"));
            }
            return {};
        default:
            return {};
    }
}

bool TreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole) return false;
    ConstraintItem* item = itemOf(index);
    const int column = index.column();
    QVariant stored = value;
    if (column == Strength || column == Sampling) {
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (!ok || !std::isfinite(number)) return false;
        if (value.typeId() == QMetaType::QString) stored = number;
    } else if (column == Start || column == End) {
        bool ok = false;
        const int number = value.toInt(&ok);
        if (!ok) return false;
        stored = number;
    } else if (column == Name && item->parent() == top()) {
        const QString name = value.toString();
        for (int r = 0; r < constraintCount(); ++r)
            if (constraint(r) != item && constraint(r)->data(Name).toString() == name)
                return true;  // the old name stays
    }
    if (!item->setData(column, stored)) return false;
    Q_EMIT dataChanged(index, index);
    return true;
}

QVariant TreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) return m_root->data(section);
    return {};
}

bool TreeModel::insertRows(int row, int count, const QModelIndex& parent) {
    ConstraintItem* item = itemOf(parent);
    if (row < 0 || row > item->childCount() || count < 1) return false;
    beginInsertRows(parent, row, row + count - 1);
    const bool ok = item->insertChildren(row, count, ColumnCount);
    endInsertRows();
    return ok;
}

bool TreeModel::removeRows(int row, int count, const QModelIndex& parent) {
    ConstraintItem* item = itemOf(parent);
    if (row < 0 || count < 1 || row + count > item->childCount()) return false;
    beginRemoveRows(parent, row, row + count - 1);
    const bool ok = item->removeChildren(row, count);
    endRemoveRows();
    return ok;
}

Qt::ItemFlags TreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    if (itemOf(index) == top()) return Qt::ItemIsEnabled;
    if (index.column() == Name)
        return Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

ConstraintItem* TreeModel::top() const { return m_root->child(0); }

QModelIndex TreeModel::topIndex(int column) const { return index(0, column); }

ConstraintItem* TreeModel::constraint(int row) const { return top()->child(row); }

QModelIndex TreeModel::constraintIndex(int row, int column) const {
    return index(row, column, topIndex());
}

int TreeModel::constraintCount() const { return top()->childCount(); }

int TreeModel::constraintRow(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return -1;
    const ConstraintItem* item = itemOf(index);
    return item->parent() == top() ? item->row() : -1;
}

void TreeModel::refreshViewsText(int row) {
    ConstraintItem* item = constraint(row);
    if (!item) return;
    item->setData(Views, QString::fromStdString(item->tracks().viewsText()));
    const QModelIndex at = constraintIndex(row, Views);
    Q_EMIT dataChanged(at, at);
}

}  // namespace Research
}  // namespace Korvane

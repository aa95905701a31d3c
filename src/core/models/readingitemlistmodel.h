#pragma once

#include "formats/booklink.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QStringList>
#include <QVariant>

// The list models of an open book's reading items (bookmarks, notes, search hits): copies of
// the items in the order they came, one row each, found by their ids. Each model names its
// columns and says what a cell shows. GUI thread only.
template <typename Item> class ReadingItemListModel : public QAbstractListModel {
public:
    explicit ReadingItemListModel(const QStringList& headers, QObject* parent = nullptr)
        : QAbstractListModel(parent)
        , m_headers(headers)
    {
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : m_items.size();
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : qMax(1, m_headers.size());
    }

    // Display role: the cell's value; user and tooltip roles: the whole item.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override
    {
        if (!index.isValid() || index.row() < 0 || index.row() >= m_items.size() || index.column() < 0
            || index.column() >= columnCount())
            return QVariant();
        const Item& item = m_items.at(index.row());
        if (role == Qt::DisplayRole)
            return cell(item, index.column());
        if (role == Qt::UserRole || (role == Qt::ToolTipRole && itemAsToolTip()))
            return QVariant::fromValue(item);
        return QVariant();
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_headers.size())
            return m_headers.at(section);
        return QAbstractListModel::headerData(section, orientation, role);
    }

    QList<Item> items() const { return m_items; }

    // Column 0 of the first row with this id; invalid when no row has it.
    QModelIndex findIndexById(const QString& id) const
    {
        const int row = rowOf(id);
        return row < 0 ? QModelIndex() : index(row, 0);
    }

protected:
    virtual QVariant cell(const Item& item, int column) const = 0;
    virtual bool itemAsToolTip() const { return true; }

    // The first three columns every item list shows: id, title and the link's page.
    static QVariant linkItemCell(const BookLinkItem& item, int column)
    {
        switch (column) {
        case 0:
            return item.id;
        case 1:
            return item.title;
        case 2:
            return item.link ? item.link->page : -1;
        default:
            return QVariant();
        }
    }
    static QString linkSource(const BookLinkItem& item) { return item.link ? item.link->source : QString(); }

    int rowOf(const QString& id) const
    {
        for (int row = 0; row < m_items.size(); ++row) {
            if (m_items.at(row).id == id)
                return row;
        }
        return -1;
    }

    void appendItem(const Item& item)
    {
        beginInsertRows(QModelIndex(), m_items.size(), m_items.size());
        m_items.append(item);
        endInsertRows();
    }

    // Removes the first row with the id; nothing (and no notification) for an unknown one.
    void removeItem(const QString& id)
    {
        const int row = rowOf(id);
        if (row < 0)
            return;
        beginRemoveRows(QModelIndex(), row, row);
        m_items.removeAt(row);
        endRemoveRows();
    }

    void replaceItems(const QList<Item>& items)
    {
        beginResetModel();
        m_items = items;
        endResetModel();
    }

    void reportRowChanged(int row, const QVector<int>& roles = {})
    {
        emit dataChanged(index(row, 0), index(row, columnCount() - 1), roles);
    }

    // Hands each row the item with its id (apply(stored, given)), the ids looked up in one pass, then
    // reports every row changed at once: a change of many rows costs no search and no report per row.
    template <typename Apply> void updateItems(const QList<Item>& items, Apply apply, const QVector<int>& roles = {})
    {
        if (m_items.isEmpty())
            return;
        QHash<QString, int> rows;
        rows.reserve(m_items.size());
        // The first row with an id is the one found, as by rowOf.
        for (int row = m_items.size() - 1; row >= 0; --row)
            rows.insert(m_items.at(row).id, row);
        for (const Item& item : items) {
            const auto it = rows.constFind(item.id);
            if (it != rows.constEnd())
                apply(m_items[it.value()], item);
        }
        emit dataChanged(index(0, 0), index(m_items.size() - 1, columnCount() - 1), roles);
    }

    QList<Item> m_items;

private:
    QStringList m_headers;
};

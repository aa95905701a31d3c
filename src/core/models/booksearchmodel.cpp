#include "booksearchmodel.h"

BookSearchModel::BookSearchModel(QObject* parent)
    : ReadingItemListModel(QStringList(), parent)
{
}

void BookSearchModel::setSearchItems(const QList<SearchItem>& items) { replaceItems(items); }

void BookSearchModel::updatePages()
{
    if (!m_items.isEmpty())
        emit dataChanged(index(0, 0), index(m_items.size() - 1, 0), { Qt::DisplayRole });
}

QVariant BookSearchModel::cell(const SearchItem& item, int column) const
{
    return column == 0 && item.link ? QVariant(item.link->page) : QVariant();
}

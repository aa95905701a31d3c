#include "bookmarkmodel.h"

BookmarkModel::BookmarkModel(QObject* parent)
    : ReadingItemListModel({ QStringLiteral("Id"), QStringLiteral("Title"), QStringLiteral("Page"),
                               QStringLiteral("Text"), QStringLiteral("TimestampUtc"), QStringLiteral("Source") },
        parent)
{
}

void BookmarkModel::addBookmark(const BookmarkItem& bookmark) { appendItem(bookmark); }

void BookmarkModel::updateBookmark(const BookmarkItem& bookmark)
{
    const int row = rowOf(bookmark.id);
    if (row < 0)
        return;
    m_items[row] = bookmark;
    reportRowChanged(row);
}

void BookmarkModel::updateBookmarks(const QList<BookmarkItem>& bookmarks)
{
    updateItems(bookmarks, [](BookmarkItem& stored, const BookmarkItem& bookmark) { stored = bookmark; });
}

void BookmarkModel::removeBookmark(const QString& id) { removeItem(id); }

QVariant BookmarkModel::cell(const BookmarkItem& item, int column) const
{
    if (column <= PageColumn)
        return linkItemCell(item, column);
    if (column > SourceColumn)
        return QVariant();
    const QVariant values[] = { item.text, item.date, linkSource(item) };
    return values[column - TextColumn];
}

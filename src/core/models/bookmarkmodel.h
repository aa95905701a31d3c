#pragma once

#include "bookmarkitem.h"
#include "readingitemlistmodel.h"

// The open book's bookmarks for the bookmarks box. Columns: "Id", "Title", "Page" (the link's
// page), "Text", "TimestampUtc" (the date), "Source" (the link's source).
class BookmarkModel : public ReadingItemListModel<BookmarkItem> {
    Q_OBJECT
public:
    enum Columns { IdColumn, TitleColumn, PageColumn, TextColumn, TimestampColumn, SourceColumn };

    explicit BookmarkModel(QObject* parent = nullptr);

    void addBookmark(const BookmarkItem& bookmark);
    // Replaces the row with the bookmark's id; an unknown id changes and reports nothing.
    void updateBookmark(const BookmarkItem& bookmark);
    // The same for many bookmarks, reported as one change of every row.
    void updateBookmarks(const QList<BookmarkItem>& bookmarks);
    void removeBookmark(const QString& id);

protected:
    QVariant cell(const BookmarkItem& item, int column) const override;
};

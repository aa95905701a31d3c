#pragma once

#include <QJsonObject>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>

// The target of a link: a chapter source (relative to the text document's base path,
// optionally with an anchor or a reading position) or other link text, and a page number.
class BookLink {
public:
    BookLink() = default;
    BookLink(const QString& source, int page)
        : source(source)
        , page(page)
    {
    }

    QString source;
    int page = -1;
};

// Contents entries, search hits, bookmarks and notes share one target through this pointer.
using BookLinkPtr = QSharedPointer<BookLink>;

// A new random id: 32 lower-case hex digits, no braces or hyphens.
QString newBookLinkId();

// Common record of every place in a book the reader can jump to. Records are held by value
// and destroyed as their own type, so the destructor is deliberately not virtual.
class BookLinkItem {
public:
    BookLinkItem();
    BookLinkItem(const BookLinkItem& other) = default;
    BookLinkItem& operator=(const BookLinkItem& other) = default;

    // {"Source": link source, "Title": title}; id and page are not written.
    virtual QJsonObject toJson() const;

    BookLinkPtr link;
    QString title;
    QString id;
};

// A search hit: the matching line (or "Go to page %1") and the query that found it.
struct SearchItem : public BookLinkItem {
    SearchItem() = default;

    QString text;
    QString query;
    bool flag = false;
};

// Titles are plain text: the character references of a title taken from HTML become the
// characters they stand for (&lt; gives "<"), once. Unknown references stay as written.
QString decodeCharacterReferences(const QString& html);

Q_DECLARE_METATYPE(BookLinkItem)
Q_DECLARE_METATYPE(SearchItem)
Q_DECLARE_METATYPE(BookLinkPtr)

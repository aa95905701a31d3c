#pragma once

#include "formats/booklink.h"

#include <QDateTime>
#include <QMetaType>
#include <QString>

// A bookmarked page position of a text book. The link's source is the chapter source with a
// "?kelpath=" reading path; its page and the title (of the contents entry holding the page)
// are filled in once the book is paginated.
class BookmarkItem : public BookLinkItem {
public:
    BookmarkItem() = default;

    QString text; // the text at the bookmarked position
    QDateTime date;
    bool flag = false; // carried by copies and the model; not saved
};

Q_DECLARE_METATYPE(BookmarkItem)

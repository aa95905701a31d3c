#pragma once

#include "formats/booklink.h"

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QMetaType>
#include <QString>

// A bookmarked page position of a text book. The link's source is the chapter source with a
// "?kelpath=" reading path; its page and the title (of the contents entry holding the page)
// are filled in once the book is paginated.
class BookmarkItem : public BookLinkItem {
public:
    BookmarkItem() = default;

    // {"Source", "Title", "Text", "Date"}; "Date" is left out for a bookmark without a date.
    QJsonObject toJson() const override;
    // Needs "Source", "Title" and "Text" as strings; *ok tells whether it did. The item read
    // gets a fresh id, page -1 and a cleared flag.
    static BookmarkItem fromJson(const QJsonObject& object, bool* ok);

    QString text; // the text at the bookmarked position
    QDateTime date;
    bool flag = false; // carried by copies and the model; not saved
};

Q_DECLARE_METATYPE(BookmarkItem)

// Dates of the reading items in their JSON: the decimal text of the milliseconds since the
// epoch, "0" for no date. Reading takes that text (or a plain number); "0", anything that is
// not a whole number and a moment the date type cannot hold give a null date.
QString readingItemDateText(const QDateTime& date);
QDateTime readingItemDate(const QJsonValue& value);
// A whole number that fits an int, else the fallback (QJsonValue::toInt converts out-of-range
// numbers from the file without a check).
int jsonToInt(const QJsonValue& value, int fallback);

#include "bookmarkitem.h"

#include <cmath>
#include <limits>

namespace {

const QString kSource = QStringLiteral("Source");
const QString kTitle = QStringLiteral("Title");
const QString kText = QStringLiteral("Text");
const QString kDate = QStringLiteral("Date");

// About 285,000 years either side of 1970: far beyond any real date, and within what QDateTime
// turns into a valid date without overflowing.
constexpr qint64 kMaxDateMsecs = 9'000'000'000'000'000LL;

} // namespace

QString readingItemDateText(const QDateTime& date)
{
    return QString::number(date.isValid() ? date.toMSecsSinceEpoch() : 0);
}

QDateTime readingItemDate(const QJsonValue& value)
{
    qint64 msecs = 0;
    if (value.isString()) {
        bool ok = false;
        msecs = value.toString().toLongLong(&ok, 10);
        if (!ok)
            return QDateTime();
    } else if (value.isDouble()) {
        const double number = value.toDouble();
        if (!std::isfinite(number) || std::fabs(number) > double(kMaxDateMsecs))
            return QDateTime();
        msecs = qint64(number);
    }
    if (msecs == 0 || msecs > kMaxDateMsecs || msecs < -kMaxDateMsecs)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(msecs);
}

int jsonToInt(const QJsonValue& value, int fallback)
{
    if (!value.isDouble())
        return fallback;
    const double number = value.toDouble();
    if (!(number >= double(std::numeric_limits<int>::min()) && number <= double(std::numeric_limits<int>::max())))
        return fallback;
    const int whole = int(number);
    return double(whole) == number ? whole : fallback;
}

QJsonObject BookmarkItem::toJson() const
{
    QJsonObject object = BookLinkItem::toJson();
    object.insert(kText, text);
    if (date.isValid() && date.toMSecsSinceEpoch() != 0)
        object.insert(kDate, readingItemDateText(date));
    return object;
}

BookmarkItem BookmarkItem::fromJson(const QJsonObject& object, bool* ok)
{
    BookmarkItem bookmark;
    const bool complete
        = object.value(kSource).isString() && object.value(kTitle).isString() && object.value(kText).isString();
    if (ok)
        *ok = complete;
    if (!complete)
        return bookmark;
    bookmark.link->source = object.value(kSource).toString();
    bookmark.title = object.value(kTitle).toString();
    bookmark.text = object.value(kText).toString();
    bookmark.date = readingItemDate(object.value(kDate));
    return bookmark;
}

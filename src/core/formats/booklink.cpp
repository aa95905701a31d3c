#include "booklink.h"

#include <QHash>
#include <QRandomGenerator>
#include <QUuid>

#include <cstring>

namespace {

void registerBookLinkTypes()
{
    qRegisterMetaType<BookLinkItem>("BookLinkItem");
    qRegisterMetaType<SearchItem>("SearchItem");
    qRegisterMetaType<BookLinkPtr>("BookLinkPtr");
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(registerBookLinkTypes)

QString newBookLinkId()
{
    // A random (version 4) UUID from the process's seeded generator: a book of hundreds of
    // thousands of contents entries asks for a million, which the system's source would take
    // a second of system calls for.
    quint64 random[2];
    QRandomGenerator::global()->fillRange(random);
    uchar bytes[16];
    memcpy(bytes, random, sizeof(bytes));
    bytes[6] = uchar((bytes[6] & 0x0f) | 0x40);
    bytes[8] = uchar((bytes[8] & 0x3f) | 0x80);
    return QUuid::fromRfc4122(QByteArray::fromRawData(reinterpret_cast<const char*>(bytes), sizeof(bytes)))
        .toString(QUuid::Id128);
}

BookLinkItem::BookLinkItem()
    : link(BookLinkPtr::create())
    , id(newBookLinkId())
{
}

QJsonObject BookLinkItem::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("Source"), link ? link->source : QString());
    object.insert(QStringLiteral("Title"), title);
    return object;
}

QString decodeCharacterReferences(const QString& html)
{
    static const QHash<QString, QChar> named { { QStringLiteral("lt"), QLatin1Char('<') },
        { QStringLiteral("gt"), QLatin1Char('>') }, { QStringLiteral("amp"), QLatin1Char('&') },
        { QStringLiteral("quot"), QLatin1Char('"') }, { QStringLiteral("apos"), QLatin1Char('\'') },
        { QStringLiteral("nbsp"), QChar(0xa0) } };
    QString out;
    out.reserve(html.size());
    int from = 0;
    for (int amp = html.indexOf(QLatin1Char('&')); amp >= 0; amp = html.indexOf(QLatin1Char('&'), from)) {
        out += html.midRef(from, amp - from);
        const int semicolon = html.indexOf(QLatin1Char(';'), amp + 1);
        const QString name
            = semicolon > amp && semicolon - amp <= 10 ? html.mid(amp + 1, semicolon - amp - 1) : QString();
        uint code = 0;
        bool ok = false;
        if (name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive))
            code = name.midRef(2).toUInt(&ok, 16);
        else if (name.startsWith(QLatin1Char('#')))
            code = name.midRef(1).toUInt(&ok, 10);
        if (ok && code > 0 && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff)) {
            out += QString::fromUcs4(&code, 1);
            from = semicolon + 1;
        } else if (named.contains(name)) {
            out += named.value(name);
            from = semicolon + 1;
        } else {
            out += QLatin1Char('&');
            from = amp + 1;
        }
    }
    out += html.midRef(from);
    return out;
}

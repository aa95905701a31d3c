#include "noteitem.h"

#include "bookmarkitem.h"

#include <QJsonValue>
#include <QUrl>

namespace {

struct NoteStyle {
    const char* name;
    QRgb rgba;
};

const NoteStyle kNoteStyles[] = {
    { "", 0x00000000 },
    { "blue", 0xffaed9f1 },
    { "purple", 0xffccb8e4 },
    { "red", 0xfff3a2a2 },
    { "yellow", 0xfff3e3a2 },
    { "green", 0xffb1f3a4 },
    { "underline", 0x00000000 },
};
constexpr int kNoteStyleCount = int(sizeof(kNoteStyles) / sizeof(kNoteStyles[0]));

const QString kStyle = QStringLiteral("Style");
const QString kChapter = QStringLiteral("Chapter");
const QString kColor = QStringLiteral("Color");
const QString kStartPath = QStringLiteral("StartPath");
const QString kEndPath = QStringLiteral("EndPath");
const QString kStartOffset = QStringLiteral("StartOffset");
const QString kEndOffset = QStringLiteral("EndOffset");
const QString kContext = QStringLiteral("Context");
const QString kNote = QStringLiteral("Note");
const QString kDate = QStringLiteral("Date");

// Both records of the reading items, made by the chapter page and passed in its signals. The
// item models hand out whole items as tooltips too; as text they read as what a tooltip shows.
void registerReadingItemTypes()
{
    qRegisterMetaType<BookmarkItem>("BookmarkItem");
    qRegisterMetaType<NoteItem>("NoteItem");
    QMetaType::registerConverter<BookmarkItem, QString>([](const BookmarkItem& item) { return item.text; });
    QMetaType::registerConverter<NoteItem, QString>(
        [](const NoteItem& item) { return item.note.isEmpty() ? item.context : item.note; });
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(registerReadingItemTypes)

QString NoteItem::styleName(int color)
{
    return color >= 0 && color < kNoteStyleCount ? QString::fromLatin1(kNoteStyles[color].name) : QString();
}

QColor NoteItem::styleColor(int color)
{
    return color >= 0 && color < kNoteStyleCount ? QColor::fromRgba(kNoteStyles[color].rgba) : QColor(Qt::transparent);
}

NoteItem::NoteColor NoteItem::colorFromStyleName(const QString& name)
{
    for (int i = 0; i < kNoteStyleCount; ++i) {
        if (name.compare(QLatin1String(kNoteStyles[i].name), Qt::CaseInsensitive) == 0)
            return NoteColor(i);
    }
    return NoColor;
}

QJsonObject NoteItem::toJson() const
{
    QJsonObject object;
    object.insert(kStyle, styleName(color));
    object.insert(kChapter, chapter);
    object.insert(kColor, styleColor(color).name());
    object.insert(kStartPath, startPath);
    object.insert(kEndPath, endPath);
    object.insert(kStartOffset, startOffset);
    object.insert(kEndOffset, endOffset);
    object.insert(kContext, context);
    object.insert(kNote, note);
    object.insert(kDate, readingItemDateText(date));
    return object;
}

NoteItem NoteItem::fromJson(const QJsonObject& object, bool* ok)
{
    NoteItem item;
    if (ok)
        *ok = false;
    const QJsonValue chapter = object.value(kChapter);
    const QJsonValue startPath = object.value(kStartPath);
    const QJsonValue endPath = object.value(kEndPath);
    if (!chapter.isString() || !startPath.isString() || !endPath.isString() || !object.contains(kStartOffset)
        || !object.contains(kEndOffset))
        return item;
    if (startPath.toString().isEmpty() || endPath.toString().isEmpty())
        return item;

    const QJsonValue style = object.value(kStyle);
    if (style.isString()) {
        item.color = colorFromStyleName(style.toString());
    } else {
        const QJsonValue color = object.value(kColor);
        if (!color.isString())
            return item;
        // The two transparent entries share one colour name, so only the coloured ones count.
        for (int i = Blue; i <= Green; ++i) {
            if (styleColor(i).name() == color.toString()) {
                item.color = NoteColor(i);
                break;
            }
        }
    }

    item.chapter = chapter.toString();
    item.startPath = startPath.toString();
    item.endPath = endPath.toString();
    item.startOffset = jsonToInt(object.value(kStartOffset), 0);
    item.endOffset = jsonToInt(object.value(kEndOffset), 0);
    if (object.value(kContext).isString())
        item.context = object.value(kContext).toString();
    if (object.value(kNote).isString())
        item.note = object.value(kNote).toString();
    item.date = readingItemDate(object.value(kDate));
    item.link->source = item.chapter + QStringLiteral("?kelpath=")
        + QString::fromLatin1(QUrl::toPercentEncoding(item.startPath))
        + QStringLiteral("&offset=%1").arg(item.startOffset);
    if (ok)
        *ok = true;
    return item;
}

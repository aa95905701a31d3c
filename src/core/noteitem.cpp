#include "noteitem.h"

#include "bookmarkitem.h"

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

// Both records of the reading items, made by the chapter page and passed in its signals.
void registerReadingItemTypes()
{
    qRegisterMetaType<BookmarkItem>("BookmarkItem");
    qRegisterMetaType<NoteItem>("NoteItem");
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

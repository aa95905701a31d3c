#pragma once

#include "formats/booklink.h"

#include <QColor>
#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QString>

// A stretch of marked text with a colour or underline and an optional comment. The note's id
// is also the id of its marks in the chapter page; the link's source is the chapter, the
// percent-encoded start path and the start offset.
class NoteItem : public BookLinkItem {
    Q_GADGET
public:
    // Index into the note-style table.
    // A fixed underlying type: a colour read from a file or a page may be any number, and the
    // style table answers unknown ones; without it such a value would be undefined.
    enum NoteColor : int {
        NoColor = 0,
        Blue = 1,
        Purple = 2,
        Red = 3,
        Yellow = 4,
        Green = 5,
        Underline = 6,
    };
    Q_ENUM(NoteColor)

    NoteItem() = default;

    // The note-style table: "" transparent, "blue" #aed9f1, "purple" #ccb8e4, "red" #f3a2a2,
    // "yellow" #f3e3a2, "green" #b1f3a4, "underline" transparent. Indexes outside it give the
    // empty name and a transparent colour.
    static QString styleName(int color);
    static QColor styleColor(int color);
    // The class of the marks in the page: the style name with "note" appended.
    static QString styleClass(int color) { return styleName(color) + QStringLiteral("note"); }
    // The index of the first style name equal to the text ignoring case; NoColor when none is.
    static NoteColor colorFromStyleName(const QString& name);

    // The note's own keys only (no "Source" or "Title"): "Style", "Chapter", "Color",
    // "StartPath", "EndPath", "StartOffset", "EndOffset", "Context", "Note", "Date".
    QJsonObject toJson() const override;
    // Needs "Chapter", non-empty "StartPath" and "EndPath", both offsets, and a colour given by
    // "Style" or else by "Color"; *ok tells whether it had them. The note read gets a fresh id
    // and a link to its start (page -1). Texts stay plain data: whoever hands them to the page
    // escapes them.
    static NoteItem fromJson(const QJsonObject& object, bool* ok);

    QString startPath; // engine path of the first marked node
    QString endPath; // engine path of the last marked node
    int startOffset = -1;
    int endOffset = -1;
    QString chapter; // chapter source the note belongs to
    QString context; // the marked text
    QString note; // the user's comment
    QDateTime date;
    NoteColor color = NoColor;
};

Q_DECLARE_METATYPE(NoteItem)

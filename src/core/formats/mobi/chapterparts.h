#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringList>
#include <QVector>

namespace mobi {

// A MOBI book is converted into one chapter. One too large for the reading page to lay out (a
// crafted book of hundreds of thousands of headings: the page takes seconds per screen, and
// columns beyond the web view's widest layout cannot be reached) is cut into parts, each a
// chapter file of its own. Cuts fall only where an element starts right in the body, before a
// heading where there is one near, so every part shows what the whole showed there. A book
// within both bounds stays one chapter, byte for byte, so the positions stored for it hold.
class ChapterParts {
public:
    // A chapter up to this size, and of up to MaxElements elements right in its body, stays whole.
    static constexpr int MaxBytes = 4 * 1024 * 1024;
    static constexpr int MaxElements = 20000;
    // Bounds of each part of a chapter that is cut: the reading page lays one out in well under
    // a second, and the page counter counts it whole.
    static constexpr int PartBytes = 512 * 1024;
    static constexpr int PartElements = 5000;

    struct Bounds {
        int maxBytes = MaxBytes;
        int maxElements = MaxElements;
        int partBytes = PartBytes;
        int partElements = PartElements;
    };

    // Cuts an HTML chapter (UTF-8 or another ASCII-compatible encoding) that exceeds a bound; one
    // part, the chapter as it is, otherwise. Parts after the first begin with head, and with the
    // style sheets of the chapter's own head. starts, when given, are the chapter's body-level
    // starts (HtmlNesting::bodyLevelStarts) already found.
    static QList<QByteArray> cut(
        const QByteArray& chapter, const QByteArray& head, const Bounds& bounds, const QVector<int>* starts = nullptr);
    static QList<QByteArray> cut(const QByteArray& chapter, const QByteArray& head, const QVector<int>* starts)
    {
        return cut(chapter, head, {}, starts);
    }

    // Links to an id or name ("#x") that another part holds are made to lead to that part's file
    // ("file#x"), names[k] naming part k. The part of each id and name that a link names (the
    // first holder of one given twice).
    static QHash<QByteArray, int> resolveLinks(QList<QByteArray>& parts, const QStringList& names);
};

}

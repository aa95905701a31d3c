#pragma once

#include <QString>
#include <QVector>

namespace mobi {

// The passes over a MOBI book's markup that concern its headings: finding them for the
// contents, closing those left open, leaving out those that show nothing.
//
// A book is hostile input. Each pass reads the text once from its start, tags as the parser
// reads them: a tag runs to its ">" (a quoted value may hold one) or to the end of the text. What
// a pass has read (a tag, a comment, the content of a heading) is not read again from a later
// starting point, so its work grows with the length of the text alone. scanned (if given)
// receives the number of characters a pass looked at.
class HeadingMarkup {
public:
    // A heading ends at the first end tag of its level within this many characters; a longer or
    // unclosed one is no heading.
    static constexpr int MaxHeadingContent = 65535;

    struct Heading {
        int start;
        int end; // after the end tag
    };

    // Every level 1 to 4 heading, in order.
    static QVector<Heading> find(const QString& text, qint64* scanned = nullptr);
    // A heading left open (with the text-level elements it opened) is closed where the next
    // block starts: it would hold the rest of the book otherwise.
    static QString closeOpen(const QString& text, qint64* scanned = nullptr);
    // A text of more than maxEmpty headings that show nothing (blanks of every kind, empty
    // text-level elements, line breaks, comments) loses all of them, but for an anchor for each
    // id or name inside that a link of the text leads to. A text with fewer is returned as it is.
    static QString dropEmpty(const QString& text, int maxEmpty, qint64* scanned = nullptr);

    // Characters that leave no mark: blanks of every kind, the no-break space too, and the
    // format characters (zero-width spaces and joiners, the soft hyphen).
    static bool isInvisible(uint code);
};

}

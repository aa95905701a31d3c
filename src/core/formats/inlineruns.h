#pragma once

#include "htmlnesting.h"

#include <QByteArray>

// Gives long runs of bare inline content blocks to be laid out in.
//
// A chapter whose text stands in lines apart by "<br>" only, with no paragraph or other block,
// is one block to the reading page: it lays the whole run out at once, which takes minutes
// and hundreds of megabytes for a few megabytes of text, and the page counter finds no element
// boundary to count it in pieces at. A run of text, line breaks and inline elements between
// two blocks that is longer than a bound is therefore wrapped into "<div>"s of a few kilobytes,
// cut after a line break (or at a sentence's end or a space where a piece has none, or anywhere
// in a word longer than a piece, but never inside a character or a character reference, nor,
// in UTF-8, between a letter and the combining marks after it unless a whole piece holds no
// other place); inside
// a paragraph, which a "<div>" would end, the paragraph itself is closed and opened again.
// Preformatted text ("<pre>", "<listing>") is cut only after a line end, and the HTML parser's
// "<plaintext>" not at all. Inline elements open at a cut are closed before it and opened again
// after it without their id, name and xml:id attributes (every other attribute as written), so
// the formatting spans the cut, ids stay unique and links still land; where dozens are open,
// no cut is made. Text and order are kept. In XML only the body's runs are touched, and tags,
// comments and instructions are read as the XML parser reads them ("<_x>" is a tag there, text
// to the HTML parser).
//
// A chapter without such a run is returned byte for byte: element paths stored for it (notes,
// bookmarks, the reading position) keep their meaning. Works on any ASCII-compatible encoding;
// XML in, well-formed XML out.
class InlineRuns {
public:
    // Longest run left as it is: the reading page lays a run of this size out in about 0.2 s
    // (one word of bare "<" in about 1.2 s), and the page counter takes it in one piece. The time
    // grows with the square of the run: 0.7 s for 1 MB, 3.5 s for 2 MB, minutes for 5 MB.
    static constexpr int MaxRunBytes = 512 * 1024;
    // Size of the blocks a longer run is cut into.
    static constexpr int PieceBytes = 8 * 1024;

    // The text with every run longer than maxRunBytes wrapped into blocks; runs (if given)
    // receives the number of runs rewritten, 0 when the text is returned as it is. The text is
    // read a few times over at most, whatever it holds; scanned (if given) is increased by the
    // bytes read.
    using Syntax = HtmlNesting::Syntax;
    static QByteArray blocked(const QByteArray& text, Syntax syntax, int* runs = nullptr, int maxRunBytes = MaxRunBytes,
        int pieceBytes = PieceBytes, qint64* scanned = nullptr);
};

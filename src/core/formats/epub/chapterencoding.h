#pragma once

#include <QByteArray>

class QTextCodec;

namespace epub {

// The passes that clean a chapter read its markup byte by byte, as ASCII: they find no tag in
// UTF-16 (or UTF-32), where every ASCII character has zero bytes beside it, and would write
// ASCII tags into it; in ISO-2022 and HZ text the two bytes of a letter may read as "<" or ">". Such a
// chapter is read in UTF-8 instead.
//
// The encoding is decided once, by one rule, for the conversion and the served page alike (codecOf).
class ChapterEncoding {
public:
    // The chapter's text in UTF-8, its XML declaration and meta charsets saying UTF-8, when its
    // encoding (codecOf) is one the byte passes cannot read; false (and out left alone) when they
    // can. No mark leads the text, so no pass can write before it: whoever stores the text puts
    // one in front for the HTML parser.
    static bool toUtf8(const QByteArray& data, QByteArray* out);

    // Whether the chapter's encoding (codecOf) is UTF-16.
    static bool isUtf16(const QByteArray& data);

    // The text of a document of the book as a chapter page is served it, in the encoding codecOf
    // decides. Bytes that do not decode are U+FFFD; the XML declaration says UTF-8, and no mark
    // leads it.
    static QString decoded(const QByteArray& data);

    // The chapter's encoding as the view reads it: a byte-order mark (its length in markLength);
    // else the encoding an XML declaration at the very start names; else the one the first meta
    // names that the view's prescan takes; a name counts only when the view knows it
    // (webEncoding) and the encoding writes the ASCII it was read in as ASCII. Else UTF-32 or
    // UTF-16 told by their zero bytes; else, when detect, the encoding the statistics find, and
    // the view's own windows-1252 when they find none (null without detect).
    static QTextCodec* codecOf(const QByteArray& data, int* markLength, bool detect = true);

    // The encoding a label names for the view (a codec's name, "replacement" for an encoding
    // it shows as one replacement character), empty for a label it does not know.
    static QByteArray webEncoding(const QByteArray& label);
};

} // namespace epub

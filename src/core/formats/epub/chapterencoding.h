#pragma once

#include <QByteArray>

namespace epub {

// The passes that clean a chapter read its markup byte by byte, as ASCII: they find no tag in
// UTF-16 (or UTF-32), where every ASCII character has zero bytes beside it, and would write
// ASCII tags into it; in ISO-2022 and HZ text the two bytes of a letter may read as "<" or ">". Such a
// chapter is read in UTF-8 instead.
//
// The encoding is found as the web view finds it: a byte-order mark, UTF-16 by its first
// characters, then the XML declaration, then a meta charset before the body.
class ChapterEncoding {
public:
    // The chapter's text in UTF-8, its XML declaration and meta charsets saying UTF-8, when its
    // encoding is one the byte passes cannot read; false (and out left alone) when they can, or
    // when the encoding is unknown here. No mark leads the text, so no pass can write before
    // it: whoever stores the text puts one in front for the HTML parser.
    static bool toUtf8(const QByteArray& data, QByteArray* out);

    // Whether the chapter starts in UTF-16 (by its mark or its first two characters).
    static bool isUtf16(const QByteArray& data);

    // The text of a document of the book as a chapter page is served it, by one rule: a
    // byte-order mark; else the encoding its XML declaration or a meta charset of its head names,
    // when that encoding writes the declaration's ASCII as ASCII; else UTF-32 or UTF-16 told by
    // their zero bytes; else the encoding the conversion detects. Bytes that do not decode are
    // U+FFFD; the declaration and the meta charsets of the head say UTF-8, and no mark leads it.
    static QString decoded(const QByteArray& data);
};

} // namespace epub

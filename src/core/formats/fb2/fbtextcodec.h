#pragma once

#include <QByteArray>
#include <QString>

class QTextCodec;

namespace fb2 {

// The encoding an XML declaration names (encoding="..." or encoding='...', any letter case)
// in the first line of a file; "UTF-8" when it names none. Only the declaration is looked
// at, not text after it on the same line.
QString encodingFromProlog(const QString& firstLine);

// The first line of raw bytes (at most the first kilobyte) decoded as UTF-8.
QString firstLineOf(const QByteArray& bytes);

// The registry's codec of that name (names and aliases, any letter case), or null.
QTextCodec* codecByName(const QString& name);

// The codec of an FB2 file: the one its prolog declares; when the registry does not know
// that name, the one detectCodec finds.
QTextCodec* fb2Codec(const QByteArray& bytes);

// The Greek DOS code page, registered with Qt's codecs as "IBM737" ("cp737") on first use.
QTextCodec* dosGreekCodec();

// The UTF-16 codec (little- or big-endian) of text without a byte-order mark, told from the
// first 256 KB: the NUL bytes of its ASCII characters on one side of the pairs, the high bytes
// of its characters keeping to a few values, and decoded text with next to no control
// characters. Null for 8-bit text (stray NUL bytes or not), UTF-8 and binary data.
QTextCodec* utf16WithoutMark(const QByteArray& bytes);

// Guesses the encoding of text that names none: a byte-order mark first; then UTF-16 without
// a mark; valid UTF-8 stays UTF-8; then the statistical detector; then Greek DOS text by its
// letters' byte ranges; the locale's codec last.
QTextCodec* detectCodec(const QByteArray& bytes);

// The part of detectCodec after the mark and UTF-16: valid UTF-8, the statistical detector, Greek
// DOS text; fallback when none of them answers.
QTextCodec* detectEightBitCodec(const QByteArray& bytes, QTextCodec* fallback);

// Decodes bytes with codec unless they begin with a byte-order mark, which takes precedence.
// The mark itself is not part of the text.
QString decodeText(const QByteArray& bytes, QTextCodec* codec);

} // namespace fb2

#pragma once

#include <QByteArray>

namespace mobi {

class HuffCdicReader;

// How the text records are compressed, from the PalmDOC header's compression field.
enum class Compression { None = 1, PalmDoc = 2, HuffCdic = 17480 };

// Any value other than 2 and 17480 means no compression.
Compression compressionFromField(int field);

// PalmDoc LZ77. Decompression ends quietly at the first code that points outside the input
// or the output produced so far; what was produced until then is the result. limit, when
// not negative, ends it as soon as the output reaches that many bytes.
QByteArray palmDocDecompress(const QByteArray& record, int limit = -1);

// The number of bytes at the end of a text record that are not compressed text, as the
// MOBI header's extra-data flags describe them: bit 0 is the tail of a multibyte character,
// every higher bit one entry whose size is written backwards at the very end. Never more
// than the record's size.
int trailingEntriesSize(const QByteArray& record, quint16 flags);

// One text record decompressed (trailing entries already removed). reader is the book's
// Huffman decoder and is only used for HuffCdic; limit is the record size of the book.
QByteArray decompressRecord(const QByteArray& record, Compression compression, HuffCdicReader* reader, int limit);

}

#include "mobitext.h"

#include "huffcdicreader.h"

namespace mobi {

Compression compressionFromField(int field)
{
    switch (field) {
    case 2:
        return Compression::PalmDoc;
    case 17480:
        return Compression::HuffCdic;
    default:
        return Compression::None;
    }
}

QByteArray palmDocDecompress(const QByteArray& record, int limit)
{
    const auto* in = reinterpret_cast<const uchar*>(record.constData());
    const qint64 n = record.size();
    // Every code at most quintuples its bytes (a 2-byte pair yields up to 10), so the output
    // fits in one allocation.
    qint64 capacity = n * 5;
    if (limit >= 0)
        capacity = qMin<qint64>(capacity, limit + 10);
    QByteArray result(static_cast<int>(qMax<qint64>(capacity, 0)), Qt::Uninitialized);
    auto* out = reinterpret_cast<uchar*>(result.data());
    qint64 o = 0;
    qint64 i = 0;
    while (i < n && (limit < 0 || o < limit)) {
        const uchar b = in[i];
        if (b == 0 || (b >= 0x09 && b <= 0x7F)) {
            out[o++] = b;
            ++i;
        } else if (b <= 0x08) {
            if (i + b > n - 1)
                break;
            for (int k = 1; k <= b; ++k)
                out[o++] = in[i + k];
            i += 1 + b;
        } else if (b <= 0xBF) {
            if (i + 1 > n - 1)
                break;
            const int word = (b << 8) | in[i + 1];
            const int distance = (word >> 3) & 0x7FF;
            const int length = (word & 7) + 3;
            const qint64 start = o - distance;
            if (distance == 0 || start < 0)
                break;
            // Byte by byte: a distance shorter than the length repeats what was just copied.
            for (int k = 0; k < length; ++k, ++o)
                out[o] = out[start + k];
            i += 2;
        } else {
            out[o++] = ' ';
            out[o++] = b ^ 0x80;
            ++i;
        }
    }
    result.truncate(static_cast<int>(o));
    return result;
}

int trailingEntriesSize(const QByteArray& record, quint16 flags)
{
    const auto* data = reinterpret_cast<const uchar*>(record.constData());
    const qint64 size = record.size();
    qint64 stripped = 0;
    for (quint16 rest = flags >> 1; rest != 0 && stripped < size; rest >>= 1) {
        if (!(rest & 1))
            continue;
        // The entry's size (which counts itself) is written backwards: 7 bits per byte from
        // the last byte on, the byte with the high bit set being the most significant.
        qint64 pos = size - stripped;
        quint32 entrySize = 0;
        int shift = 0;
        while (pos > 0) {
            const uchar v = data[--pos];
            entrySize |= quint32(v & 0x7F) << shift;
            shift += 7;
            if ((v & 0x80) || shift >= 28)
                break;
        }
        stripped += entrySize;
    }
    if ((flags & 1) && stripped < size)
        stripped += (data[size - stripped - 1] & 0x3) + 1;
    return static_cast<int>(qMin(stripped, size));
}

QByteArray decompressRecord(const QByteArray& record, Compression compression, HuffCdicReader* reader, int limit)
{
    switch (compression) {
    case Compression::PalmDoc:
        return palmDocDecompress(record, limit);
    case Compression::HuffCdic:
        return reader ? reader->decodeRecord(record, limit) : QByteArray();
    case Compression::None:
        break;
    }
    return limit >= 0 ? record.left(limit) : record;
}

}

#include "huffcdicreader.h"

#include "mobi.h"

#include <QDebug>
#include <QtEndian>

namespace mobi {

namespace {
    quint32 readBigEndian32(const QByteArray& data, qint64 offset)
    {
        if (offset < 0 || offset + 4 > data.size())
            return 0;
        return qFromBigEndian<quint32>(data.constData() + offset);
    }

    // Bytes past the end read as zero.
    quint32 readBigEndian16(const QByteArray& data, qint64 offset)
    {
        const auto* p = reinterpret_cast<const uchar*>(data.constData());
        const quint32 hi = offset >= 0 && offset < data.size() ? p[offset] : 0;
        const quint32 lo = offset + 1 >= 0 && offset + 1 < data.size() ? p[offset + 1] : 0;
        return (hi << 8) | lo;
    }

    // The 32 bits from bit position pos on, most significant bit of each byte first; bytes
    // past the end count as zero.
    quint32 window(const uchar* data, qint64 length, qint64 pos)
    {
        const qint64 byte = pos >> 3;
        quint64 v = 0;
        if (byte + 5 <= length) {
            v = (quint64(data[byte]) << 32) | (quint64(data[byte + 1]) << 24) | (quint64(data[byte + 2]) << 16)
                | (quint64(data[byte + 3]) << 8) | quint64(data[byte + 4]);
        } else {
            for (qint64 k = 0; k < 5; ++k)
                v = (v << 8) | (byte + k < length ? data[byte + k] : 0);
        }
        return static_cast<quint32>(v >> (8 - (pos & 7)));
    }
}

HuffCdicReader::HuffCdicReader(Mobi& mobi)
{
    const qint64 first = mobi.mobiHead().huffmanRecordIndex();
    const qint64 count = mobi.mobiHead().huffmanRecordCount();
    if (first + count > mobi.recordCount() || first <= 0) {
        qWarning() << "Huffman records" << first << "+" << count << "outside the book's" << mobi.recordCount()
                   << "records";
        return;
    }
    const QByteArray huff = mobi.record(static_cast<int>(first));
    QList<QByteArray> cdics;
    for (qint64 i = first + 1; i < first + count; ++i)
        cdics.append(mobi.record(static_cast<int>(i)));
    m_valid = setUp(huff, cdics);
}

HuffCdicReader::HuffCdicReader(const QByteArray& huff, const QList<QByteArray>& cdics) { m_valid = setUp(huff, cdics); }

bool HuffCdicReader::setUp(const QByteArray& huff, const QList<QByteArray>& cdics)
{
    if (!huff.startsWith("HUFF") || cdics.isEmpty() || !cdics.first().startsWith("CDIC")) {
        qWarning() << "Missing HUFF or CDIC record";
        return false;
    }
    const qint64 codeOffset = readBigEndian32(huff, 16);
    const qint64 limitOffset = readBigEndian32(huff, 20);
    if (codeOffset + 256 * 4 > huff.size() || limitOffset + 64 * 4 > huff.size()) {
        qWarning() << "HUFF tables outside the HUFF record";
        return false;
    }
    for (int i = 0; i < 256; ++i)
        m_codeTable[i] = qFromLittleEndian<quint32>(huff.constData() + codeOffset + 4 * i);
    for (int i = 0; i < 64; ++i)
        m_limitTable[i] = qFromLittleEndian<quint32>(huff.constData() + limitOffset + 4 * i);
    m_codeBits = readBigEndian32(cdics.first(), 12);
    m_cdics = cdics;
    return true;
}

QByteArray HuffCdicReader::decodeRecord(const QByteArray& data, int limit)
{
    m_output.clear();
    m_limit = limit;
    m_budget = qint64(StepsPerByte) * qMax(limit, int(MinBudgetBytes));
    m_steps = 0;
    m_stop = limit == 0;
    m_exhausted = false;
    if (!m_valid)
        return QByteArray();
    if (limit > 0)
        m_output.reserve(limit);
    decode(reinterpret_cast<const uchar*>(data.constData()), data.size(), 0);
    if (m_exhausted) {
        ++m_exhaustedRecords;
        qWarning() << "Huffman dictionary decoding ran out of its budget of" << m_budget << "steps";
    }
    return m_output;
}

void HuffCdicReader::decode(const uchar* data, qint64 byteLength, int depth)
{
    if (depth > MaxDepth)
        return;
    const qint64 bitLength = byteLength * 8;
    qint64 pos = 0;
    while (pos != bitLength && !m_stop) {
        if (++m_steps > m_budget) {
            m_exhausted = m_stop = true;
            return;
        }
        const quint32 w = window(data, byteLength, pos);
        const quint32 entry = m_codeTable[w >> 24];
        int length = entry & 0x1F;
        if (length == 0)
            return;
        quint64 code = w >> (32 - length);
        quint64 maxCode;
        if (entry & 0x80) {
            maxCode = entry >> 8;
        } else {
            while (code < m_limitTable[2 * (length - 1)]) {
                if (++length > 32)
                    return;
                code = quint64(w) >> (32 - length);
            }
            maxCode = m_limitTable[2 * (length - 1) + 1];
        }
        if (code > maxCode)
            return;
        const quint64 index = maxCode - code;
        pos += length;
        if (pos > bitLength)
            return;

        const quint64 record = m_codeBits >= 63 ? 0 : index >> m_codeBits;
        if (record >= quint64(m_cdics.size()))
            return;
        const quint64 number = m_codeBits >= 63 ? index : index & ((quint64(1) << m_codeBits) - 1);
        const QByteArray& dictionary = m_cdics.at(static_cast<int>(record));
        // number < 2^32, so the entry's position cannot overflow.
        const qint64 entryOffset = readBigEndian16(dictionary, 16 + 2 * qint64(number)) + 16;
        const quint32 word = readBigEndian16(dictionary, entryOffset);
        const qint64 start = entryOffset + 2;
        const qint64 size = qBound<qint64>(0, dictionary.size() - start, word & 0x7FFF);
        const char* bytes = dictionary.constData() + qMin<qint64>(start, dictionary.size());
        if (word & 0x8000) {
            const qint64 room = m_limit < 0 ? size : qMin<qint64>(size, m_limit - m_output.size());
            m_output.append(bytes, static_cast<int>(room));
            if (m_limit >= 0 && m_output.size() >= m_limit)
                m_stop = true;
        } else {
            decode(reinterpret_cast<const uchar*>(bytes), size, depth + 1);
        }
    }
}

}

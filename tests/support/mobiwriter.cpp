#include "mobiwriter.h"
#include "byteorder.h"
#include "testfiles.h"

#include <QBuffer>
#include <QImage>
#include <QtEndian>

#include <vector>

namespace {
bool needsEscape(uchar b) { return (b >= 0x01 && b <= 0x08) || b >= 0x80; }

int hash3(const uchar* p) { return ((p[0] << 7) ^ (p[1] << 4) ^ p[2]) & 0xFFF; }

// Bytes of the character that starts at the end of chunk and continues in the next one.
int splitCharacterTail(const QByteArray& chunk)
{
    const auto* data = reinterpret_cast<const uchar*>(chunk.constData());
    for (int back = 1; back <= 4 && back <= chunk.size(); ++back) {
        const uchar b = data[chunk.size() - back];
        if ((b & 0xC0) == 0x80)
            continue;
        const int expected = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        return qMax(0, expected - back);
    }
    return 0;
}

const char flisRecord[] = "FLIS\x00\x00\x00\x08\x00\x41\x00\x00\x00\x00\x00\x00\xff\xff\xff\xff"
                          "\x00\x01\x00\x03\x00\x00\x00\x03\x00\x00\x00\x01\xff\xff\xff\xff";
const char eofRecord[] = "\xe9\x8e\x0d\x0a";
}

void MobiWriter::setCoverOffset(quint32 image)
{
    QByteArray data;
    appendBigEndian(data, image, 4);
    addExth(201, data);
}

QByteArray MobiWriter::trailingEntries(const QList<QByteArray>& chunks, int index) const
{
    QByteArray result;
    if (m_extraFlags & 1) {
        const int tail = m_encoding == 65001 && index + 1 < chunks.size() ? splitCharacterTail(chunks[index]) : 0;
        if (tail > 0)
            result.append(chunks[index + 1].left(tail));
        result.append(char(tail));
    }
    // The entry of the lowest flag bit comes last.
    for (int bit = 15; bit >= 1; --bit) {
        if (!(m_extraFlags & (1 << bit)))
            continue;
        // At most 17 bytes: the size, itself included, fits one byte.
        const QByteArray payload(bit + 2, char(0x10 + bit));
        result.append(payload + backwardSize(payload.size() + 1));
    }
    return result;
}

QByteArray MobiWriter::record0(int textRecords, int firstNonBook, int huffIndex, int huffCount, int firstImage) const
{
    QByteArray record;
    appendBigEndian(record, quint32(m_compression), 2);
    appendBigEndian(record, 0, 2);
    appendBigEndian(record, quint32(m_text.size()), 4);
    appendBigEndian(record, quint32(textRecords), 2);
    appendBigEndian(record, quint32(int(DefaultRecordSize)), 2);
    appendBigEndian(record, m_encryption, 2);
    appendBigEndian(record, 0, 2);

    QByteArray exth;
    if (!m_exth.isEmpty()) {
        QByteArray entries;
        for (const auto& entry : m_exth) {
            appendBigEndian(entries, entry.first, 4);
            appendBigEndian(entries, quint32(entry.second.size() + 8), 4);
            entries.append(entry.second);
        }
        exth = "EXTH";
        appendBigEndian(exth, quint32(12 + entries.size()), 4);
        appendBigEndian(exth, quint32(m_exth.size()), 4);
        exth.append(entries);
        while (exth.size() % 4)
            exth.append('\0');
    }

    QByteArray head;
    head.append(m_identifier.left(4).leftJustified(4, '\0'));
    // Header length, type (a book), encoding, unique id, file version, ten unused indexes, first
    // non-book record, full name offset and length, locale, two languages, minimum version, first
    // image, HUFF record and count, two unused fields, EXTH flags.
    const quint32 none = 0xFFFFFFFF;
    for (quint32 field :
        { quint32(HeaderLength), 2u, m_encoding, 0x12345678u, 6u, none, none, none, none, none, none, none, none, none,
            none, quint32(firstNonBook), quint32(16 + HeaderLength + exth.size()), quint32(m_fullName.size()), 9u, 0u,
            0u, 6u, quint32(firstImage), quint32(huffIndex), quint32(huffCount), 0u, 0u, exth.isEmpty() ? 0u : 0x40u })
        appendBigEndian(head, field, 4);
    head.append(QByteArray(HeaderLength - head.size(), '\0'));
    putBigEndian(head, 0xE2, m_extraFlags, 2);

    record.append(head);
    record.append(exth);
    record.append(m_fullName);
    record.append("\0\0", 2);
    while (record.size() % 4)
        record.append('\0');
    return record;
}

QByteArray MobiWriter::build() const
{
    QList<QByteArray> chunks;
    for (int pos = 0; pos < m_text.size(); pos += DefaultRecordSize)
        chunks.append(m_text.mid(pos, DefaultRecordSize));
    QList<QByteArray> textRecords;
    QList<QByteArray> huffRecords;
    switch (m_compression) {
    case Compression::None:
        textRecords = chunks;
        break;
    case Compression::PalmDoc:
        for (const QByteArray& chunk : chunks)
            textRecords.append(palmDocCompress(chunk));
        break;
    case Compression::HuffCdic: {
        const HuffCdicWriter huff(chunks, m_huffOptions);
        textRecords = huff.encodedRecords();
        huffRecords.append(huff.huffRecord());
        huffRecords.append(huff.cdicRecords());
        break;
    }
    }
    for (int i = 0; i < textRecords.size(); ++i)
        textRecords[i].append(trailingEntries(chunks, i));

    const int firstNonBook = textRecords.size() + 1;
    const int huffIndex = huffRecords.isEmpty() ? 0 : firstNonBook;
    const int firstImage = m_images.isEmpty() ? -1 : firstNonBook + huffRecords.size();
    QList<QByteArray> records;
    records.append(record0(textRecords.size(), firstNonBook, huffIndex, huffRecords.size(), firstImage));
    records.append(textRecords);
    records.append(huffRecords);
    records.append(m_images);
    if (m_trailer) {
        records.append(QByteArray(flisRecord, sizeof(flisRecord) - 1));
        QByteArray fcis("FCIS\x00\x00\x00\x14\x00\x00\x00\x10\x00\x00\x00\x01\x00\x00\x00\x00", 20);
        appendBigEndian(fcis, quint32(m_text.size()), 4);
        fcis.append(QByteArray("\x00\x00\x00\x00\x00\x00\x00\x20\x00\x00\x00\x08\x00\x01\x00\x01\x00\x00\x00\x00", 20));
        records.append(fcis);
        records.append(QByteArray(eofRecord, 4));
    }

    QByteArray book;
    QByteArray name = m_fullName.left(31);
    name.replace(' ', '_');
    book.append(name.leftJustified(32, '\0'));
    appendBigEndian(book, 0, 4); // attributes, version
    appendBigEndian(book, 0x5D2B1F00, 4); // created
    appendBigEndian(book, 0x5D2B1F00, 4); // modified
    book.append(QByteArray(16, '\0')); // backed up, modification number, app info, sort info
    book.append("BOOKMOBI");
    appendBigEndian(book, quint32(2 * records.size() - 1), 4); // unique id seed
    appendBigEndian(book, 0, 4); // next record list
    appendBigEndian(book, quint32(records.size()), 2);
    quint32 offset = 78 + 8 * records.size() + 2;
    for (int i = 0; i < records.size(); ++i) {
        appendBigEndian(book, offset, 4);
        appendBigEndian(book, quint32(2 * i), 4); // attributes 0, unique id 2i
        offset += records[i].size();
    }
    appendBigEndian(book, 0, 2);
    for (const QByteArray& record : records)
        book.append(record);
    return book;
}

bool MobiWriter::write(const QString& path) const { return testfiles::write(path, build()); }

QByteArray MobiWriter::palmDocCompress(const QByteArray& text)
{
    const auto* d = reinterpret_cast<const uchar*>(text.constData());
    const int n = text.size();
    std::vector<int> head(0x1000, -1);
    QByteArray out;
    out.reserve(n);
    int i = 0;
    while (i < n) {
        int length = 0;
        int distance = 0;
        if (i + 3 <= n) {
            const int h = hash3(d + i);
            const int j = head[h];
            if (j >= 0 && i - j <= 2047) {
                while (length < 10 && i + length < n && d[j + length] == d[i + length])
                    ++length;
                distance = i - j;
            }
            head[h] = i;
        }
        if (length >= 3) {
            const int word = 0x8000 | (distance << 3) | (length - 3);
            out.append(char(word >> 8));
            out.append(char(word & 0xFF));
            for (int k = 1; k < length; ++k) {
                if (i + k + 3 <= n)
                    head[hash3(d + i + k)] = i + k;
            }
            i += length;
        } else if (d[i] == ' ' && i + 1 < n && d[i + 1] >= 0x40 && d[i + 1] <= 0x7F) {
            out.append(char(d[i + 1] ^ 0x80));
            i += 2;
        } else if (!needsEscape(d[i])) {
            out.append(char(d[i]));
            ++i;
        } else {
            int run = 1;
            while (run < 8 && i + run < n && needsEscape(d[i + run]))
                ++run;
            out.append(char(run));
            out.append(text.constData() + i, run);
            i += run;
        }
    }
    return out;
}

QByteArray MobiWriter::backwardSize(quint32 size)
{
    QByteArray bytes;
    do {
        bytes.prepend(char(size & 0x7F));
        size >>= 7;
    } while (size);
    bytes[0] = char(bytes[0] | 0x80);
    return bytes;
}

QByteArray MobiWriter::image(const QSize& size, const QColor& color, const char* format)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(color);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, format);
    return data;
}

qint64 MobiWriter::record0Start(const QByteArray& book)
{
    if (book.size() < 78)
        return 0;
    const int count = (uchar(book[76]) << 8) | uchar(book[77]);
    return 78 + 8 * count + 2;
}

void MobiWriter::putBigEndian(QByteArray& book, qint64 pos, quint32 value, int width)
{
    for (int k = 0; k < width; ++k) {
        if (pos + k < book.size())
            book[int(pos + k)] = char((value >> (8 * (width - 1 - k))) & 0xFF);
    }
}

QByteArray MobiWriter::buildWithRepeatedRecords() const
{
    const int count = 2000;
    MobiWriter writer = *this;
    writer.addImage(QByteArray(2 << 20, 'x'));
    for (int i = 0; i < count; ++i)
        writer.addImage(QByteArray(16, 'y'));
    QByteArray book = writer.build();
    const auto offset = [&book](int record) { return qFromBigEndian<quint32>(book.constData() + 78 + 8 * record); };
    const int records = qFromBigEndian<quint16>(book.constData() + 76);
    const quint32 first = offset(records - 1 - count);
    const quint32 last = offset(records - 1);
    for (int i = records - 1 - count; i < records - 1; ++i)
        putBigEndian(book, 78 + 8 * i, (records - i) % 2 ? first : last);
    return book;
}

#include "mobi.h"

#include "huffcdicreader.h"
#include "mobitext.h"

#include <QBuffer>
#include <QDebug>
#include <QImageReader>
#include <QTextCodec>
#include <QtEndian>

#include <memory>

namespace mobi {

namespace {
    // A text whose records keep running out of their decoding budget has a broken dictionary;
    // after this many such records the rest of the book is not decoded.
    const int MaxExhaustedRecords = 4;

    quint32 readU32(QIODevice& device, qint64 end, bool* ok)
    {
        if (device.pos() + 4 > end) {
            *ok = false;
            return 0;
        }
        const QByteArray bytes = device.read(4);
        *ok = bytes.size() == 4;
        return *ok ? qFromBigEndian<quint32>(bytes.constData()) : 0;
    }

    QImage decodeImage(const QByteArray& data)
    {
        if (data.isEmpty())
            return QImage();
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        const QSize size = reader.size();
        if (size.isValid() && qint64(size.width()) * size.height() > Mobi::MaxImagePixels) {
            qWarning() << "Image of" << size << "skipped: too large";
            return QImage();
        }
        return reader.read();
    }
}

Mobi::Mobi(const QString& path)
    : m_file(path)
{
    if (!m_file.open(QIODevice::ReadOnly)) {
        qWarning() << "Cannot open" << path << m_file.errorString();
        return;
    }
    m_fileSize = m_file.size();
    readHeaders();
}

Mobi::~Mobi() = default;

void Mobi::readHeaders()
{
    m_palmDb.readFrom(m_file, PalmDbHeader::Size);
    const int declared = m_palmDb.recordCount();
    const qint64 fitting = qMax<qint64>(0, (m_fileSize - m_file.pos()) / 8);
    const int count = static_cast<int>(qMin<qint64>(declared, fitting));
    if (count < declared)
        qWarning() << "Record list of" << declared << "entries cut to" << count << "by the file's end";
    const QByteArray list = m_file.read(qint64(count) * 8);
    m_records.resize(count);
    for (int i = 0; i < count; ++i) {
        const char* entry = list.constData() + 8 * i;
        m_records[i].offset = qFromBigEndian<quint32>(entry);
        m_records[i].attributes = static_cast<quint8>(entry[4]);
        m_records[i].uniqueId = (quint32(quint8(entry[5])) << 16) | (quint32(quint8(entry[6])) << 8) | quint8(entry[7]);
    }
    m_gap = m_file.read(2);

    // Records lie one after the other. An entry whose offset goes back below an earlier one
    // gets no bytes: otherwise a list that points many entries at one large range has that
    // range read once per entry. The records that keep bytes never overlap, so together they
    // stay within the file.
    m_recordLengths.resize(count);
    qint64 highest = 0;
    for (int i = 0; i < count; ++i) {
        const qint64 offset = m_records.at(i).offset;
        const qint64 next = i + 1 < count ? m_records.at(i + 1).offset : m_fileSize;
        m_recordLengths[i] = offset < highest ? 0 : qMax<qint64>(0, qMin(next, m_fileSize) - offset);
        highest = qMax(highest, offset);
    }

    // Record 0 starts right after the record list; its size comes from the list.
    const qint64 record0Start = m_file.pos();
    const qint64 size0 = firstRecordSize();
    const qint64 record0End = size0 > 0 ? qMin(record0Start + size0, m_fileSize) : m_fileSize;

    m_palmDoc.readFrom(m_file, PalmDocHeader::Size);
    readMobiHead(record0End);
    if (m_mobiHead.exthFlags() & MobiHead::ExthFlag)
        readExth(record0End);

    // The rest of record 0, after the EXTH block, holds the full name.
    const qint64 restStart = record0Start + PalmDocHeader::Size + m_mobiHead.headerLength() + m_mobiHead.exthSize();
    const qint64 restSize = qMin(size0 - (restStart - record0Start), m_fileSize - restStart);
    if (restSize > 0 && m_file.seek(restStart))
        m_mobiHead.m_remainder = m_file.read(restSize);

    const QByteArray& rest = m_mobiHead.m_remainder;
    qint64 pos = qint64(m_mobiHead.fullNameOffset()) - (restStart - record0Start);
    const qint64 length = m_mobiHead.fullNameLength();
    if (pos >= 0 && pos < rest.size() && pos + length <= rest.size() && length > 0) {
        while (pos < rest.size() && rest.at(static_cast<int>(pos)) == 0)
            ++pos;
        if (pos < rest.size() && pos + length <= rest.size())
            m_mobiHead.m_fullName = rest.mid(static_cast<int>(pos), static_cast<int>(length));
    }
}

void Mobi::readMobiHead(qint64 record0End)
{
    m_mobiHead.readFrom(m_file, MobiHead::FixedSize);
    const qint64 rest = qint64(m_mobiHead.headerLength()) - MobiHead::FixedSize;
    if (rest > 0)
        m_mobiHead.readFrom(m_file, qMin(rest, record0End - m_file.pos()));
}

void Mobi::readExth(qint64 record0End)
{
    m_mobiHead.m_exth = std::make_unique<ExthHeader>();
    ExthHeader& exth = *m_mobiHead.m_exth;
    exth.identifier = m_file.read(qBound<qint64>(0, record0End - m_file.pos(), 4));
    if (exth.identifier != "EXTH")
        return;
    bool ok = true;
    exth.headerLength = readU32(m_file, record0End, &ok);
    exth.declaredCount = static_cast<qint32>(readU32(m_file, record0End, &ok));
    // Every record takes at least 8 bytes, so the loop ends at record 0's end whatever the
    // declared count says.
    for (qint32 i = 0; ok && i < exth.declaredCount; ++i) {
        ExthRecord record;
        record.type = readU32(m_file, record0End, &ok);
        const quint32 length = readU32(m_file, record0End, &ok);
        if (!ok)
            break;
        const qint64 dataLength = length >= 8 ? qint64(length) - 8 : 0;
        if (m_file.pos() + dataLength > record0End) {
            qWarning() << "EXTH record" << i << "of" << exth.declaredCount << "runs past record 0";
            break;
        }
        record.data = m_file.read(dataLength);
        exth.records.append(record);
    }
}

qint64 Mobi::recordOffset(int index) const
{
    return index >= 0 && index < m_records.size() ? m_records.at(index).offset : 0;
}

qint64 Mobi::recordLength(int index) const
{
    return index >= 0 && index < m_recordLengths.size() ? m_recordLengths.at(index) : 0;
}

qint64 Mobi::firstRecordSize() const
{
    return m_records.size() < 2 ? 0 : m_records.at(1).offset - m_records.at(0).offset;
}

QByteArray Mobi::record(int index)
{
    if (index < 0 || index >= m_records.size())
        return QByteArray();
    const qint64 length = recordLength(index);
    if (length == 0)
        return QByteArray("");
    if (!m_file.seek(m_records.at(index).offset))
        return QByteArray();
    return m_file.read(length);
}

int Mobi::firstImageRecord()
{
    if (m_firstImageRecord >= 0)
        return m_firstImageRecord;
    const int count = recordCount();
    int index = qBound(qMin(1, count), m_mobiHead.firstNonBookIndex(), count);
    for (; index < count; ++index) {
        QBuffer buffer;
        buffer.setData(record(index));
        buffer.open(QIODevice::ReadOnly);
        if (QImageReader(&buffer).canRead())
            break;
    }
    m_firstImageRecord = index;
    return index;
}

int Mobi::imageCount() { return recordCount() - firstImageRecord(); }

QImage Mobi::image(int n)
{
    const qint64 index = qint64(firstImageRecord()) + n;
    if (n < 0 || index >= recordCount())
        return QImage();
    return decodeImage(record(static_cast<int>(index)));
}

int Mobi::coverRecord()
{
    const int first = firstImageRecord();
    // EXTH 201 names the cover among the images: without it the first image is often a
    // publisher's logo or a list bullet.
    const QByteArray offset = m_mobiHead.exth().data(201);
    if (offset.size() == 4 && first < recordCount()) {
        const qint64 index = qint64(first) + qFromBigEndian<quint32>(offset.constData());
        if (index < recordCount()) {
            QBuffer buffer;
            buffer.setData(record(int(index)));
            buffer.open(QIODevice::ReadOnly);
            if (QImageReader(&buffer).canRead())
                return int(index);
        }
    }
    return first;
}

QImage Mobi::coverImage()
{
    if (isEncrypted())
        return QImage();
    const int index = coverRecord();
    if (index >= recordCount())
        return QImage();
    const QImage cover = image(index - firstImageRecord());
    // A named cover that does not decode after all: the first image, as without one.
    return cover.isNull() && index != firstImageRecord() ? image(0) : cover;
}

int Mobi::textRecordEnd() const
{
    const qint32 first = m_mobiHead.firstNonBookIndex();
    return first <= 0 ? recordCount() : qMin(first, recordCount());
}

QByteArray Mobi::textBytes(bool* ok)
{
    if (ok)
        *ok = true;
    const Compression compression = compressionFromField(m_palmDoc.compression());
    const int recordSize = m_palmDoc.recordSize();
    const quint16 extraFlags = m_mobiHead.extraDataFlags();
    std::unique_ptr<HuffCdicReader> huff;
    if (compression == Compression::HuffCdic) {
        huff = std::make_unique<HuffCdicReader>(*this);
        if (!huff->isValid()) {
            qWarning() << "Cannot decode the text of" << m_file.fileName() << ": no usable Huffman dictionary";
            if (ok)
                *ok = false;
            return QByteArray();
        }
    }

    const int end = textRecordEnd();
    QByteArray text;
    text.reserve(static_cast<int>(qMin(qMax(0, end - 1) * qint64(recordSize), qMin(MaxTextSize, 8 * m_fileSize))));
    for (int i = 1; i < end; ++i) {
        QByteArray data = record(i);
        data.chop(trailingEntriesSize(data, extraFlags));
        const QByteArray part = decompressRecord(data, compression, huff.get(), recordSize);
        if (text.size() + qint64(part.size()) > MaxTextSize) {
            qWarning() << "Text of" << m_file.fileName() << "cut at" << text.size() << "bytes";
            text.append(part.constData(), static_cast<int>(MaxTextSize - text.size()));
            break;
        }
        text.append(part);
        if (huff && huff->exhaustedRecords() >= MaxExhaustedRecords) {
            qWarning() << "Text of" << m_file.fileName() << "cut at record" << i << "of" << end - 1
                       << ": the Huffman dictionary does not end";
            break;
        }
    }
    return text;
}

QString Mobi::text()
{
    QTextCodec* codec = m_mobiHead.textCodec();
    if (!codec)
        return QString();
    return codec->toUnicode(textBytes());
}

}

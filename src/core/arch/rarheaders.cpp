#include "arch/rarheaders.h"

#include "arch/rarreader.h"

#include <QFile>
#include <QTextCodec>

#include <quazip/quacrc32.h>

namespace {
const QByteArray Rar4Signature("Rar!\x1a\x07\x00", 7);
const QByteArray Rar5Signature("Rar!\x1a\x07\x01\x00", 8);
// Self-extracting archives put the signature after their program; libarchive looks as far.
constexpr qint64 SignatureSearchBytes = 1024 * 1024;
// Enough for any real comic; bounds the walk over a hostile file.
constexpr int MaxFileHeaders = 100000;
// RAR 5 allows headers up to 2 MB.
constexpr quint64 MaxRar5HeaderSize = 2 * 1024 * 1024;

constexpr quint8 Rar4MainHead = 0x73;
constexpr quint8 Rar4FileHead = 0x74;
constexpr quint8 Rar4EndHead = 0x7b;
constexpr quint16 Rar4SplitMask = 0x0003;
constexpr quint16 Rar4Password = 0x0004;
constexpr quint16 Rar4LargeFile = 0x0100;
constexpr quint16 Rar4Unicode = 0x0200;
constexpr quint16 Rar4LongBlock = 0x8000;
constexpr quint8 Rar4MethodStore = 0x30;
constexpr int Rar4FileFixedSize = 32; // base header up to the name, without the 64-bit sizes

constexpr quint64 Rar5MainHead = 1;
constexpr quint64 Rar5FileHead = 2;
constexpr quint64 Rar5CryptHead = 4;
constexpr quint64 Rar5EndHead = 5;
constexpr quint64 Rar5HasExtra = 0x0001;
constexpr quint64 Rar5HasData = 0x0002;
constexpr quint64 Rar5SplitMask = 0x0018;
constexpr quint64 Rar5FileHasTime = 0x0002;
constexpr quint64 Rar5FileHasCrc = 0x0004;
constexpr quint64 Rar5ExtraCrypt = 1;

quint16 le16(const QByteArray& data, int at) { return quint16(quint8(data.at(at)) | (quint8(data.at(at + 1)) << 8)); }

quint32 le32(const QByteArray& data, int at) { return quint32(le16(data, at)) | (quint32(le16(data, at + 2)) << 16); }

quint32 crc32(const QByteArray& data) { return QuaCrc32().calculate(data); }

// A RAR 5 header read front to back; every read fails once the data run out.
class VintReader {
public:
    explicit VintReader(const QByteArray& data, int pos = 0)
        : m_data(data)
        , m_pos(pos)
    {
    }

    // Seven bits a byte, low bits first.
    bool vint(quint64& value)
    {
        value = 0;
        for (int shift = 0; shift < 64 && m_pos < m_data.size(); shift += 7) {
            const quint8 byte = quint8(m_data.at(m_pos++));
            value |= quint64(byte & 0x7f) << shift;
            if (!(byte & 0x80))
                return true;
        }
        return false;
    }
    bool u32(quint32& value)
    {
        if (m_pos + 4 > m_data.size())
            return false;
        value = le32(m_data, m_pos);
        m_pos += 4;
        return true;
    }
    bool bytes(quint64 count, QByteArray& value)
    {
        if (count > quint64(m_data.size() - m_pos))
            return false;
        value = m_data.mid(m_pos, int(count));
        m_pos += int(count);
        return true;
    }
    int pos() const { return m_pos; }

private:
    const QByteArray& m_data;
    int m_pos;
};

// The name as libarchive reports it: UTF-8 (flagged, or valid), else IBM866; "\" becomes "/".
// Names in RAR's packed Unicode form are not decoded here.
QString rar4Name(const QByteArray& raw, quint16 flags)
{
    if ((flags & Rar4Unicode) && raw.contains('\0'))
        return QString();
    QTextCodec::ConverterState state;
    QString name = QTextCodec::codecForName("UTF-8")->toUnicode(raw.constData(), raw.size(), &state);
    if (state.invalidChars > 0 && !(flags & Rar4Unicode)) {
        if (QTextCodec* legacy = QTextCodec::codecForName("IBM866"))
            name = legacy->toUnicode(raw);
    }
    return name.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

// Walks the RAR 4 blocks from offset (just after the marker) to the end block.
void readRar4(QFile& file, qint64 offset, RarHeaders& headers)
{
    while (headers.files.size() < MaxFileHeaders && file.seek(offset)) {
        const QByteArray base = file.read(7 + 4);
        if (base.size() < 7)
            return;
        const quint8 type = quint8(base.at(2));
        const quint16 flags = le16(base, 3);
        const quint16 size = le16(base, 5);
        if (size < 7 || !file.seek(offset))
            return;
        const QByteArray header = file.read(size);
        if (header.size() != size || (crc32(header.mid(2)) & 0xffff) != le16(header, 0))
            return;
        if (type == Rar4MainHead && headers.files.isEmpty())
            headers.archiveFlags = flags;
        if (type == Rar4EndHead)
            return;
        quint64 dataSize = 0;
        if (flags & Rar4LongBlock) {
            if (base.size() < 11)
                return;
            dataSize = le32(base, 7);
        }
        if (type == Rar4FileHead) {
            const int nameAt = Rar4FileFixedSize + ((flags & Rar4LargeFile) ? 8 : 0);
            if (size < nameAt)
                return;
            if (flags & Rar4LargeFile)
                dataSize |= quint64(le32(header, 32)) << 32;
            const int nameSize = le16(header, 26);
            RarFileHeader entry;
            entry.split = flags & Rar4SplitMask;
            entry.encrypted = flags & Rar4Password;
            entry.stored = quint8(header.at(25)) == Rar4MethodStore;
            entry.hasCrc = true;
            entry.crc = le32(header, 16);
            if (nameAt + nameSize <= size)
                entry.name = rar4Name(header.mid(nameAt, nameSize), flags);
            headers.files.append(entry);
        }
        const quint64 next = quint64(offset) + size + dataSize;
        if (next > quint64(file.size()))
            return;
        offset = qint64(next);
    }
}

unsigned rar5ArchiveFlags(quint64 flags)
{
    unsigned result = RarReader::NewNaming;
    if (flags & 0x1)
        result |= RarReader::Volume;
    if ((flags & 0x1) && !(flags & 0x2)) // no volume number: the first one
        result |= RarReader::FirstVolume;
    if (flags & 0x4)
        result |= RarReader::Solid;
    if (flags & 0x8)
        result |= RarReader::Recovery;
    if (flags & 0x10)
        result |= RarReader::Locked;
    return result;
}

bool hasCryptRecord(const QByteArray& extra)
{
    VintReader reader(extra);
    quint64 size = 0, type = 0;
    QByteArray record;
    while (reader.vint(size) && reader.bytes(size, record)) {
        if (VintReader(record).vint(type) && type == Rar5ExtraCrypt)
            return true;
    }
    return false;
}

// The fields of a file header after its common part.
bool readRar5File(VintReader& reader, const QByteArray& extra, quint64 headerFlags, RarFileHeader& entry)
{
    quint64 fileFlags = 0, unpackedSize = 0, attributes = 0, compression = 0, host = 0, nameSize = 0;
    quint32 time = 0;
    QByteArray name;
    if (!reader.vint(fileFlags) || !reader.vint(unpackedSize) || !reader.vint(attributes))
        return false;
    if ((fileFlags & Rar5FileHasTime) && !reader.u32(time))
        return false;
    if ((fileFlags & Rar5FileHasCrc) && !reader.u32(entry.crc))
        return false;
    if (!reader.vint(compression) || !reader.vint(host) || !reader.vint(nameSize) || !reader.bytes(nameSize, name))
        return false;
    entry.name = QString::fromUtf8(name);
    entry.hasCrc = fileFlags & Rar5FileHasCrc;
    entry.stored = ((compression >> 7) & 0x7) == 0;
    entry.split = headerFlags & Rar5SplitMask;
    entry.encrypted = hasCryptRecord(extra);
    return true;
}

// Walks the RAR 5 blocks from offset (just after the marker) to the end block.
void readRar5(QFile& file, qint64 offset, RarHeaders& headers)
{
    while (headers.files.size() < MaxFileHeaders && file.seek(offset)) {
        const QByteArray start = file.read(4 + 3);
        quint64 size = 0;
        VintReader sizeReader(start, 4);
        if (!sizeReader.vint(size) || size == 0 || size > MaxRar5HeaderSize || !file.seek(offset + 4))
            return;
        const QByteArray block = file.read(qint64(sizeReader.pos() - 4 + size));
        if (block.size() != sizeReader.pos() - 4 + int(size) || crc32(block) != le32(start, 0))
            return;
        const QByteArray header = block.mid(sizeReader.pos() - 4);
        VintReader reader(header);
        quint64 type = 0, flags = 0, extraSize = 0, dataSize = 0;
        if (!reader.vint(type) || !reader.vint(flags))
            return;
        if (type == Rar5CryptHead) { // everything after it is enciphered
            headers.archiveFlags |= RarReader::EncryptedHeaders | RarReader::NewNaming;
            return;
        }
        if (type == Rar5EndHead)
            return;
        if (((flags & Rar5HasExtra) && !reader.vint(extraSize)) || ((flags & Rar5HasData) && !reader.vint(dataSize)))
            return;
        if (extraSize > size)
            return;
        const QByteArray extra = header.right(int(extraSize));
        if (type == Rar5MainHead) {
            quint64 archiveFlags = 0;
            if (!reader.vint(archiveFlags))
                return;
            headers.archiveFlags = rar5ArchiveFlags(archiveFlags);
        } else if (type == Rar5FileHead) {
            RarFileHeader entry;
            if (!readRar5File(reader, extra, flags, entry))
                return;
            headers.files.append(entry);
        }
        const quint64 next = quint64(offset) + quint64(block.size()) + 4 + dataSize;
        if (dataSize > quint64(file.size()) || next > quint64(file.size()))
            return;
        offset = qint64(next);
    }
}
}

RarHeaders readRarHeaders(const QString& path)
{
    RarHeaders headers;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return headers;
    // The first signature counts: a stored entry may well hold the other one.
    const QByteArray head = file.read(SignatureSearchBytes);
    const int rar5 = head.indexOf(Rar5Signature);
    const int rar4 = head.indexOf(Rar4Signature);
    if (rar5 >= 0 && (rar4 < 0 || rar5 < rar4)) {
        headers.archiveFlags = RarReader::NewNaming;
        readRar5(file, rar5 + Rar5Signature.size(), headers);
    } else if (rar4 >= 0) {
        readRar4(file, rar4 + Rar4Signature.size(), headers);
    }
    return headers;
}

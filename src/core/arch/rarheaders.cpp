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

constexpr quint8 Rar4MainHead = 0x73;
constexpr quint8 Rar4FileHead = 0x74;
constexpr quint8 Rar4EndHead = 0x7b;
constexpr quint16 Rar4LongBlock = 0x8000;
constexpr quint16 Rar4LargeFile = 0x0100;
constexpr quint16 Rar4Unicode = 0x0200;
constexpr int Rar4FileFixedSize = 32; // base header up to the name, without the 64-bit sizes

quint16 le16(const QByteArray& data, int at) { return quint16(quint8(data.at(at)) | (quint8(data.at(at + 1)) << 8)); }

quint32 le32(const QByteArray& data, int at) { return quint32(le16(data, at)) | (quint32(le16(data, at + 2)) << 16); }

// RAR5's variable-length integers: seven bits a byte, low bits first.
bool readVint(const QByteArray& data, int& pos, quint64& value)
{
    value = 0;
    for (int shift = 0; shift < 64 && pos < data.size(); shift += 7) {
        const quint8 byte = quint8(data.at(pos++));
        value |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

unsigned rar5Flags(const QByteArray& header)
{
    int pos = 4; // header CRC32
    quint64 size = 0, type = 0, flags = 0, skipped = 0, archiveFlags = 0;
    if (!readVint(header, pos, size) || !readVint(header, pos, type))
        return 0;
    if (type == 4) // archive encryption header: everything after it is enciphered
        return RarReader::EncryptedHeaders | RarReader::NewNaming;
    if (type != 1 || !readVint(header, pos, flags))
        return 0;
    if ((flags & 0x1) && !readVint(header, pos, skipped)) // extra area size
        return 0;
    if ((flags & 0x2) && !readVint(header, pos, skipped)) // data size
        return 0;
    if (!readVint(header, pos, archiveFlags))
        return 0;
    unsigned result = RarReader::NewNaming;
    if (archiveFlags & 0x1)
        result |= RarReader::Volume;
    if ((archiveFlags & 0x1) && !(archiveFlags & 0x2)) // no volume number: the first one
        result |= RarReader::FirstVolume;
    if (archiveFlags & 0x4)
        result |= RarReader::Solid;
    if (archiveFlags & 0x8)
        result |= RarReader::Recovery;
    if (archiveFlags & 0x10)
        result |= RarReader::Locked;
    return result;
}

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
        if (size < 7)
            return;
        if (!file.seek(offset))
            return;
        const QByteArray header = file.read(size);
        if (header.size() != size || (QuaCrc32().calculate(header.mid(2)) & 0xffff) != le16(header, 0))
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
            const int nameSize = le16(header, 26);
            if (flags & Rar4LargeFile)
                dataSize |= quint64(le32(header, 32)) << 32;
            RarFileHeader entry;
            entry.flags = flags;
            entry.method = quint8(header.at(25));
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
    if (rar5 >= 0 && (rar4 < 0 || rar5 < rar4))
        headers.archiveFlags = rar5Flags(head.mid(rar5 + Rar5Signature.size(), 64));
    else if (rar4 >= 0)
        readRar4(file, rar4 + Rar4Signature.size(), headers);
    return headers;
}

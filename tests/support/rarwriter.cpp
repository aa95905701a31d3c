#include "rarwriter.h"
#include "byteorder.h"
#include "testfiles.h"

#include <QTextCodec>

#include <quazip/quacrc32.h>

namespace {
const quint32 AttrArchive = 0x20;
const quint32 AttrDirectory = 0x10;

quint32 crc32(const QByteArray& data) { return QuaCrc32().calculate(data); }

void putVint(QByteArray& out, quint64 value)
{
    do {
        quint8 byte = quint8(value & 0x7f);
        value >>= 7;
        if (value)
            byte |= 0x80;
        out.append(char(byte));
    } while (value);
}

// RAR 5: every header is CRC32, size (vint), then type, flags and fields as vints.
QByteArray rar5Block(std::initializer_list<quint64> fields, const QByteArray& tail = QByteArray())
{
    QByteArray body;
    for (quint64 field : fields)
        putVint(body, field);
    body.append(tail);
    QByteArray sized;
    putVint(sized, quint64(body.size()));
    sized.append(body);
    QByteArray out;
    appendLittleEndian(out, crc32(sized), 4);
    return out + sized;
}

// RAR 4: the low 16 bits of the CRC32 of everything after the CRC field, then that body.
QByteArray block(const QByteArray& body)
{
    QByteArray out;
    appendLittleEndian(out, quint16(crc32(body) & 0xffff), 2);
    return out + body;
}
}

QByteArray RarWriter::rar4FileHeader(const RarEntry& entry) const
{
    QByteArray name;
    quint16 flags = 0x8000; // long block
    if (!m_codecName.isEmpty()) {
        QTextCodec* codec = QTextCodec::codecForName(m_codecName);
        name = codec ? codec->fromUnicode(entry.name) : entry.name.toLatin1();
    } else {
        name = entry.name.toUtf8();
        if (name.size() != entry.name.size())
            flags |= 0x0200; // Unicode: a name without a NUL byte is UTF-8
    }
    if (entry.folder)
        flags |= 0x00e0;
    if (entry.encrypted)
        flags |= 0x0004;
    if (entry.continuesInNextVolume)
        flags |= 0x0002;

    QByteArray body;
    body.append(char(0x74)); // file header
    appendLittleEndian(body, flags, 2);
    appendLittleEndian(body, quint16(32 + name.size()), 2);
    appendLittleEndian(body, quint32(entry.data.size()), 4); // packed size
    appendLittleEndian(body, quint32(entry.data.size()), 4); // unpacked size
    body.append(char(2)); // host: Windows
    appendLittleEndian(body, crc32(entry.data), 4);
    appendLittleEndian(body, (quint32(2020 - 1980) << 25) | (1u << 21) | (1u << 16), 4); // 2020-01-01 00:00
    body.append(char(29)); // version to unpack
    body.append(char(0x30)); // stored
    appendLittleEndian(body, quint16(name.size()), 2);
    appendLittleEndian(body, entry.folder ? AttrDirectory : AttrArchive, 4);
    body.append(name);
    return block(body);
}

QByteArray RarWriter::rar4() const
{
    QByteArray out("Rar!\x1a\x07\x00", 7);

    QByteArray main;
    main.append(char(0x73)); // main header
    quint16 mainFlags = m_volume ? quint16(0x0101) : quint16(0); // volume, first volume
    if (m_encryptedHeaders)
        mainFlags |= 0x0080;
    appendLittleEndian(main, mainFlags, 2);
    appendLittleEndian(main, 13, 2);
    appendLittleEndian(main, 0, 2);
    appendLittleEndian(main, 0, 4);
    out.append(block(main));

    for (const RarEntry& entry : m_entries) {
        out.append(rar4FileHeader(entry));
        out.append(entry.data);
    }

    QByteArray end;
    end.append(char(0x7b)); // end of archive
    appendLittleEndian(end, m_volume ? quint16(0) : quint16(0x4000), 2); // no next volume
    appendLittleEndian(end, 7, 2);
    out.append(block(end));
    return out;
}

QByteArray RarWriter::rar5FileHeader(const RarEntry& entry) const
{
    QByteArray extra;
    if (entry.encrypted) {
        // Encryption record: version 0, no flags, KDF count, salt and IV (values do not matter).
        QByteArray record;
        for (quint64 field : { 1, 0, 0 })
            putVint(record, field);
        record.append(char(15));
        record.append(QByteArray(32, '\x5a'));
        putVint(extra, quint64(record.size()));
        extra.append(record);
    }
    const QByteArray name = entry.name.toUtf8();
    QByteArray body;
    putVint(body, 2); // file header
    quint64 flags = 0x0002; // has data
    if (!extra.isEmpty())
        flags |= 0x0001;
    if (entry.continuesInNextVolume)
        flags |= 0x0010;
    putVint(body, flags);
    if (!extra.isEmpty())
        putVint(body, quint64(extra.size()));
    putVint(body, quint64(entry.data.size()));
    putVint(body, (entry.folder ? 0x0001 : 0) | 0x0002 | 0x0004); // directory, time, CRC
    putVint(body, quint64(entry.data.size()));
    putVint(body, entry.folder ? AttrDirectory : AttrArchive);
    appendLittleEndian(body, 1577836800, 4); // 2020-01-01
    appendLittleEndian(body, crc32(entry.data), 4);
    putVint(body, 0); // compression: version 0, stored, smallest dictionary
    putVint(body, 0); // host: Windows
    putVint(body, quint64(name.size()));
    body.append(name);
    body.append(extra);
    return rar5Block({}, body);
}

QByteArray RarWriter::rar5() const
{
    QByteArray out("Rar!\x1a\x07\x01\x00", 8);
    // Archive encryption header: version 0, no flags, KDF count, salt.
    if (m_encryptedHeaders)
        out.append(rar5Block({ 4, 0, 0, 0 }, char(15) + QByteArray(16, '\x5a')));
    out.append(rar5Block({ 1, 0, m_volume ? 1u : 0u })); // main header, volume flag
    for (const RarEntry& entry : m_entries) {
        out.append(rar5FileHeader(entry));
        out.append(entry.data);
    }
    out.append(rar5Block({ 5, 0, m_volume ? 1u : 0u })); // end; 1: not the last volume
    return out;
}

bool RarWriter::write() const { return testfiles::write(m_path, toByteArray()); }

bool RarWriter::write(const QString& path, const QList<ZipEntry>& files)
{
    RarWriter writer(path);
    for (const ZipEntry& file : files)
        writer.add(file.name, file.data);
    return writer.write();
}

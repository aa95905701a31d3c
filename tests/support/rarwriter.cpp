#include "rarwriter.h"
#include "byteorder.h"
#include "testfiles.h"

#include <QTextCodec>

#include <quazip/quacrc32.h>

namespace {
const quint8 MainHead = 0x73;
const quint8 FileHead = 0x74;
const quint8 EndHead = 0x7b;

const quint16 MainVolume = 0x0001;
const quint16 MainFirstVolume = 0x0100;
const quint16 MainPassword = 0x0080;
const quint16 FileSplitAfter = 0x0002;
const quint16 FilePassword = 0x0004;
const quint16 FileDirectory = 0x00e0;
const quint16 FileUnicode = 0x0200;
const quint16 LongBlock = 0x8000;
const quint16 EndNoNextVolume = 0x4000;

const quint8 HostWin32 = 2;
const quint8 MethodStore = 0x30;
const quint8 UnpackVersion = 29;
const quint32 AttrArchive = 0x20;
const quint32 AttrDirectory = 0x10;
const quint32 DosTime = (quint32(2020 - 1980) << 25) | (1u << 21) | (1u << 16); // 2020-01-01 00:00

const quint64 Rar5MainHead = 1;
const quint64 Rar5FileHead = 2;
const quint64 Rar5CryptHead = 4;
const quint64 Rar5EndHead = 5;
const quint64 Rar5HasExtra = 0x0001;
const quint64 Rar5HasData = 0x0002;
const quint64 Rar5SplitAfter = 0x0010;
const quint64 Rar5Directory = 0x0001;
const quint64 Rar5HasTime = 0x0002;
const quint64 Rar5HasCrc = 0x0004;
const quint64 Rar5ArchiveVolume = 0x0001;
const quint64 Rar5ExtraCrypt = 1;

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

QByteArray rar5Block(const QByteArray& body)
{
    QByteArray sized;
    putVint(sized, quint64(body.size()));
    sized.append(body);
    QByteArray out;
    appendLittleEndian(out, crc32(sized), 4);
    out.append(sized);
    return out;
}

// A block: the low 16 bits of the CRC32 of everything after the CRC field, then that body.
QByteArray block(const QByteArray& body)
{
    QByteArray out;
    appendLittleEndian(out, quint16(crc32(body) & 0xffff), 2);
    out.append(body);
    return out;
}
}

QByteArray RarWriter::rar4FileHeader(const RarEntry& entry) const
{
    QByteArray name;
    quint16 flags = LongBlock;
    if (!m_codecName.isEmpty()) {
        QTextCodec* codec = QTextCodec::codecForName(m_codecName);
        name = codec ? codec->fromUnicode(entry.name) : entry.name.toLatin1();
    } else {
        name = entry.name.toUtf8();
        if (name.size() != entry.name.size()) // not plain ASCII
            flags |= FileUnicode; // a name without a NUL byte under this flag is UTF-8
    }
    if (entry.folder)
        flags |= FileDirectory;
    if (entry.encrypted)
        flags |= FilePassword;
    if (entry.continuesInNextVolume)
        flags |= FileSplitAfter;

    QByteArray body;
    body.append(char(FileHead));
    appendLittleEndian(body, flags, 2);
    appendLittleEndian(body, quint16(32 + name.size()), 2);
    appendLittleEndian(body, quint32(entry.data.size()), 4); // packed size
    appendLittleEndian(body, quint32(entry.data.size()), 4); // unpacked size
    body.append(char(HostWin32));
    appendLittleEndian(body, crc32(entry.data), 4);
    appendLittleEndian(body, DosTime, 4);
    body.append(char(UnpackVersion));
    body.append(char(MethodStore));
    appendLittleEndian(body, quint16(name.size()), 2);
    appendLittleEndian(body, entry.folder ? AttrDirectory : AttrArchive, 4);
    body.append(name);
    return block(body);
}

QByteArray RarWriter::toByteArray() const { return m_format == Format::Rar5 ? rar5() : rar4(); }

QByteArray RarWriter::rar4() const
{
    QByteArray out("Rar!\x1a\x07\x00", 7);

    QByteArray main;
    main.append(char(MainHead));
    quint16 mainFlags = m_volume ? quint16(MainVolume | MainFirstVolume) : quint16(0);
    if (m_encryptedHeaders)
        mainFlags |= MainPassword;
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
    end.append(char(EndHead));
    appendLittleEndian(end, m_volume ? quint16(0) : EndNoNextVolume, 2);
    appendLittleEndian(end, 7, 2);
    out.append(block(end));
    return out;
}

// RAR 5: every header is CRC32, size (vint), then type, flags and fields as vints.
QByteArray RarWriter::rar5FileHeader(const RarEntry& entry) const
{
    QByteArray extra;
    if (entry.encrypted) {
        // Encryption record: version 0, no flags, KDF count, salt and IV (values do not matter).
        QByteArray record;
        putVint(record, Rar5ExtraCrypt);
        putVint(record, 0);
        putVint(record, 0);
        record.append(char(15));
        record.append(QByteArray(32, '\x5a'));
        putVint(extra, quint64(record.size()));
        extra.append(record);
    }
    const QByteArray name = entry.name.toUtf8();
    QByteArray body;
    putVint(body, Rar5FileHead);
    quint64 flags = Rar5HasData;
    if (!extra.isEmpty())
        flags |= Rar5HasExtra;
    if (entry.continuesInNextVolume)
        flags |= Rar5SplitAfter;
    putVint(body, flags);
    if (!extra.isEmpty())
        putVint(body, quint64(extra.size()));
    putVint(body, quint64(entry.data.size()));
    putVint(body, (entry.folder ? Rar5Directory : 0) | Rar5HasTime | Rar5HasCrc);
    putVint(body, quint64(entry.data.size()));
    putVint(body, entry.folder ? AttrDirectory : AttrArchive);
    appendLittleEndian(body, 1577836800, 4); // 2020-01-01
    appendLittleEndian(body, crc32(entry.data), 4);
    putVint(body, 0); // compression: version 0, stored, smallest dictionary
    putVint(body, 0); // host: Windows
    putVint(body, quint64(name.size()));
    body.append(name);
    body.append(extra);
    return rar5Block(body);
}

QByteArray RarWriter::rar5() const
{
    QByteArray out("Rar!\x1a\x07\x01\x00", 8);
    if (m_encryptedHeaders) {
        // Archive encryption header: version 0, no flags, KDF count, salt.
        QByteArray crypt;
        putVint(crypt, Rar5CryptHead);
        putVint(crypt, 0);
        putVint(crypt, 0);
        putVint(crypt, 0);
        crypt.append(char(15));
        crypt.append(QByteArray(16, '\x5a'));
        out.append(rar5Block(crypt));
    }
    QByteArray main;
    putVint(main, Rar5MainHead);
    putVint(main, 0);
    putVint(main, m_volume ? Rar5ArchiveVolume : 0);
    out.append(rar5Block(main));
    for (const RarEntry& entry : m_entries) {
        out.append(rar5FileHeader(entry));
        out.append(entry.data);
    }
    QByteArray end;
    putVint(end, Rar5EndHead);
    putVint(end, 0);
    putVint(end, m_volume ? 1 : 0); // 1: not the last volume
    out.append(rar5Block(end));
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

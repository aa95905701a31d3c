#include "rarwriter.h"

#include <QDebug>
#include <QSaveFile>
#include <QTextCodec>

#include <quazip/quacrc32.h>

namespace {
const quint8 MainHead = 0x73;
const quint8 FileHead = 0x74;
const quint8 EndHead = 0x7b;

const quint16 MainVolume = 0x0001;
const quint16 MainFirstVolume = 0x0100;
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

void put16(QByteArray& out, quint16 value)
{
    out.append(char(value & 0xff));
    out.append(char(value >> 8));
}

void put32(QByteArray& out, quint32 value)
{
    put16(out, quint16(value & 0xffff));
    put16(out, quint16(value >> 16));
}

quint32 crc32(const QByteArray& data) { return QuaCrc32().calculate(data); }

// A block: the low 16 bits of the CRC32 of everything after the CRC field, then that body.
QByteArray block(const QByteArray& body)
{
    QByteArray out;
    put16(out, quint16(crc32(body) & 0xffff));
    out.append(body);
    return out;
}
}

RarWriter::RarWriter(const QString& path)
    : m_path(path)
{
}

void RarWriter::setNames(Names names, const QByteArray& codecName)
{
    m_names = names;
    m_codecName = codecName;
}

void RarWriter::add(const QString& name, const QByteArray& data)
{
    RarEntry entry;
    entry.name = name;
    entry.data = data;
    m_entries.append(entry);
}

void RarWriter::addFolder(const QString& name)
{
    RarEntry entry;
    entry.name = name;
    entry.folder = true;
    m_entries.append(entry);
}

QByteArray RarWriter::fileHeader(const RarEntry& entry) const
{
    QByteArray name;
    quint16 flags = LongBlock;
    if (m_names == Names::Codec) {
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
    put16(body, flags);
    put16(body, quint16(32 + name.size()));
    put32(body, quint32(entry.data.size())); // packed size
    put32(body, quint32(entry.data.size())); // unpacked size
    body.append(char(HostWin32));
    put32(body, crc32(entry.data));
    put32(body, DosTime);
    body.append(char(UnpackVersion));
    body.append(char(MethodStore));
    put16(body, quint16(name.size()));
    put32(body, entry.folder ? AttrDirectory : AttrArchive);
    body.append(name);
    return block(body);
}

QByteArray RarWriter::toByteArray() const
{
    QByteArray out("Rar!\x1a\x07\x00", 7);

    QByteArray main;
    main.append(char(MainHead));
    put16(main, m_volume ? quint16(MainVolume | MainFirstVolume) : quint16(0));
    put16(main, 13);
    put16(main, 0);
    put32(main, 0);
    out.append(block(main));

    for (const RarEntry& entry : m_entries) {
        out.append(fileHeader(entry));
        out.append(entry.data);
    }

    QByteArray end;
    end.append(char(EndHead));
    put16(end, m_volume ? quint16(0) : EndNoNextVolume);
    put16(end, 7);
    out.append(block(end));
    return out;
}

bool RarWriter::write() const
{
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(toByteArray()) < 0 || !file.commit()) {
        qWarning() << "Cannot write rar" << m_path << file.errorString();
        return false;
    }
    return true;
}

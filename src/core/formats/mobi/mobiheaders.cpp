#include "mobiheaders.h"

#include <QDebug>
#include <QIODevice>
#include <QTextCodec>
#include <QtEndian>
#include <QtGlobal>

namespace mobi {

namespace {
    // The offset of the extra-data flags in the MOBI header and the header length that
    // first includes them.
    const int ExtraDataFlagsOffset = 0xE2;
    const quint32 ExtraDataFlagsMinLength = 0xE4;
    const quint32 ExtraDataFlagsMinVersion = 5;
}

quint32 RawFields::u32(int offset) const
{
    if (offset < 0 || offset + 4 > m_raw.size())
        return 0;
    return qFromBigEndian<quint32>(m_raw.constData() + offset);
}

quint16 RawFields::u16(int offset) const
{
    if (offset < 0 || offset + 2 > m_raw.size())
        return 0;
    return qFromBigEndian<quint16>(m_raw.constData() + offset);
}

QByteArray RawFields::bytes(int offset, int width) const
{
    if (offset < 0 || offset >= m_raw.size())
        return QByteArray();
    return m_raw.mid(offset, width);
}

void RawFields::readFrom(QIODevice& device, qint64 count)
{
    const qint64 available = device.size() - device.pos();
    count = qMin(count, available);
    if (count > 0)
        m_raw.append(device.read(count));
}

QString ExthHeader::value(int type) const { return QString::fromUtf8(data(type)); }

QByteArray ExthHeader::data(int type) const
{
    for (const ExthRecord& record : records) {
        if (record.type == static_cast<quint32>(type))
            return record.data;
    }
    return QByteArray();
}

quint16 MobiHead::extraDataFlags() const
{
    if (headerLength() < ExtraDataFlagsMinLength || fileVersion() < ExtraDataFlagsMinVersion)
        return 0;
    return u16(ExtraDataFlagsOffset);
}

QString MobiHead::encodingName() const
{
    switch (textEncoding()) {
    case 1252:
        return QStringLiteral("Cp1252");
    case 65001:
        return QStringLiteral("UTF-8");
    default:
        return QString();
    }
}

QTextCodec* MobiHead::textCodec() const
{
    QTextCodec* codec = nullptr;
    switch (textEncoding()) {
    case 1252:
        codec = QTextCodec::codecForName("windows-1252");
        break;
    case 65001:
        codec = QTextCodec::codecForMib(106);
        break;
    default:
        break;
    }
    if (!codec)
        qCritical().noquote()
            << QStringLiteral("Can't get text codec for MOBI text - codec value: %1").arg(textEncoding());
    return codec;
}

QString MobiHead::fullName() const
{
    QTextCodec* codec = textCodec();
    return codec ? codec->toUnicode(m_fullName) : QString();
}

int MobiHead::exthSize() const
{
    if (!m_exth)
        return 0;
    qint64 size = 12;
    for (const ExthRecord& record : m_exth->records)
        size += 8 + record.data.size();
    return static_cast<int>((size + 3) / 4 * 4);
}

const ExthHeader& MobiHead::exth() const
{
    static const ExthHeader empty;
    return m_exth ? *m_exth : empty;
}

QString mobiTypeName(const MobiHead& head)
{
    const quint32 type = head.type();
    switch (type) {
    case 2:
        return QStringLiteral("Mobipocket Book");
    case 3:
        return QStringLiteral("PalmDoc Book");
    case 4:
        return QStringLiteral("Audio");
    case 257:
        return QStringLiteral("News");
    case 258:
        return QStringLiteral("News Feed");
    case 259:
        return QStringLiteral("News Magazine");
    case 513:
        return QStringLiteral("PICS");
    case 514:
        return QStringLiteral("WORD");
    case 515:
        return QStringLiteral("XLS");
    case 516:
        return QStringLiteral("PPT");
    case 517:
        return QStringLiteral("TEXT");
    case 518:
        return QStringLiteral("HTML");
    default:
        return QStringLiteral("Unknown (%1)").arg(type);
    }
}

}

#include "fbtesthelpers.h"

#include "formats/fb2/fbxmlreader.h"

#include <QRegularExpression>
#include <QTest>
#include <QtEndian>

QString fbNamespaces()
{
    return QStringLiteral(" xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" "
                          "xmlns:l=\"http://www.w3.org/1999/xlink\" xmlns:xlink=\"http://www.w3.org/1999/xlink\"");
}

QDomElement fbElement(const QString& xml, QDomDocument& keeper)
{
    const int end = xml.indexOf(QRegularExpression(QStringLiteral("[ />]")), 1);
    QString withNamespaces = xml;
    withNamespaces.insert(end, fbNamespaces());
    fbParse(withNamespaces, keeper);
    return keeper.documentElement();
}

bool fbParse(const QString& xml, QDomDocument& document)
{
    QString error;
    if (fb2::parseXml(xml, 1000, &document, &error))
        return true;
    qWarning() << "Does not parse:" << error << xml.left(200);
    document = QDomDocument();
    return false;
}

namespace {

quint32 crc32Of(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray chunk(const char* type, const QByteArray& data)
{
    QByteArray out(4, '\0');
    qToBigEndian<quint32>(quint32(data.size()), out.data());
    const QByteArray body = QByteArray(type) + data;
    out += body;
    QByteArray crc(4, '\0');
    qToBigEndian<quint32>(crc32Of(body), crc.data());
    return out + crc;
}

} // namespace

QByteArray hugeMonochromePng(int width, int height)
{
    QByteArray header(13, '\0');
    qToBigEndian<quint32>(quint32(width), header.data());
    qToBigEndian<quint32>(quint32(height), header.data() + 4);
    header[8] = 1; // bit depth
    header[9] = 0; // greyscale
    // Each row: filter byte 0 and width bits of zeros.
    const QByteArray rows(qsizetype(height) * (1 + (width + 7) / 8), '\0');
    QByteArray compressed = qCompress(rows, 9).mid(4); // drop Qt's length prefix: a zlib stream remains
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", compressed)
        + chunk("IEND", QByteArray());
}

#include "metricencoding.h"

#include <QCryptographicHash>
#include <QUrl>

namespace metrics {

const char* const kDeviceSeed = "maplewood5oak";

QString md5Hex(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString deviceHash(const QString& deviceId) { return md5Hex(deviceId + QLatin1String(kDeviceSeed)); }

QString percentEncoded(const QString& text) { return QString::fromLatin1(QUrl::toPercentEncoding(text)); }

}

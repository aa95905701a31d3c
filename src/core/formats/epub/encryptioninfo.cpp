#include "encryptioninfo.h"

#include "xmlguard.h"

#include <QXmlStreamReader>

namespace epub {

bool EncryptionInfo::isFontObfuscation(const QString& algorithm)
{
    const QString trimmed = algorithm.trimmed();
    return trimmed == QLatin1String("http://www.idpf.org/2008/embedding")
        || trimmed == QLatin1String("http://ns.adobe.com/pdf/enc#RC");
}

EncryptionInfo::Verdict EncryptionInfo::readFile(const QString& path)
{
    QByteArray data;
    QString error;
    if (!XmlGuard::readFile(path, &data, &error))
        return Unreadable;
    return fromData(data);
}

EncryptionInfo::Verdict EncryptionInfo::fromData(const QByteArray& data)
{
    QXmlStreamReader reader(data);
    int enciphered = 0;
    bool inEntry = false;
    QString algorithm;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (reader.name() == QLatin1String("EncryptedData")) {
                inEntry = true;
                algorithm.clear();
            } else if (inEntry && reader.name() == QLatin1String("EncryptionMethod") && algorithm.isEmpty()) {
                algorithm = reader.attributes().value(QLatin1String("Algorithm")).toString();
            }
        } else if (token == QXmlStreamReader::EndElement && reader.name() == QLatin1String("EncryptedData")) {
            // An entry without a method names no known algorithm: it counts as enciphered.
            if (inEntry && !isFontObfuscation(algorithm))
                ++enciphered;
            inEntry = false;
        }
    }
    if (reader.hasError())
        return Unreadable;
    return enciphered > 0 ? Enciphered : NotEnciphered;
}

} // namespace epub

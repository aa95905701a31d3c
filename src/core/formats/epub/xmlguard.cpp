#include "xmlguard.h"

#include "unsafemarkup.h"

#include <QDomDocument>
#include <QFile>
#include <QXmlStreamReader>

namespace epub {

namespace {

    // Qt's DOM parser keeps undeclared entity references; the stream reader would stop at
    // them. A blank stands in for them so that the scan sees the rest of the document.
    class LenientEntities : public QXmlStreamEntityResolver {
    public:
        QString resolveUndeclaredEntity(const QString&) override
        {
            used = true;
            return QStringLiteral(" ");
        }
        bool used = false;
    };

    bool isPrefixed(QStringView name)
    {
        const int colon = name.indexOf(QLatin1Char(':'));
        return colon >= 0 && name.left(colon) != QLatin1String("xml");
    }

    bool hasPrefixedName(const QXmlStreamReader& reader)
    {
        if (isPrefixed(reader.qualifiedName()))
            return true;
        const QXmlStreamAttributes attributes = reader.attributes();
        for (const QXmlStreamAttribute& attribute : attributes) {
            if (isPrefixed(attribute.qualifiedName()))
                return true;
        }
        return false;
    }

    bool isForbiddenControl(uint c, bool iso2022)
    {
        if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r')
            return false;
        return !(iso2022 && (c == 0x0E || c == 0x0F || c == 0x1B));
    }

    bool hasUnsafeAttribute(const QXmlStreamAttributes& attributes)
    {
        for (const QXmlStreamAttribute& attribute : attributes) {
            if (UnsafeMarkup::isUnsafeAttribute(attribute.qualifiedName(), attribute.value()))
                return true;
        }
        return false;
    }

    bool isUnsafeElement(const QXmlStreamReader& reader)
    {
        const QStringView name = UnsafeMarkup::localName(reader.qualifiedName());
        if (!UnsafeMarkup::mayBeUnsafeElement(name))
            return false;
        const QXmlStreamAttributes attributes = reader.attributes();
        return UnsafeMarkup::isUnsafeElement(name, [&attributes](const QString& wanted) {
            for (const QXmlStreamAttribute& attribute : attributes) {
                if (UnsafeMarkup::localName(attribute.qualifiedName()).compare(wanted, Qt::CaseInsensitive) == 0)
                    return attribute.value().toString();
            }
            return QString();
        });
    }

    template <typename Char> bool startsWithAt(const Char* text, int size, int at, const char* prefix)
    {
        for (int k = 0; prefix[k]; ++k) {
            if (at + k >= size || text[at + k] != Char(uchar(prefix[k])))
                return false;
        }
        return true;
    }

    // Where terminator ends after from, or size when it never does.
    template <typename Char> int endOf(const Char* text, int size, int from, const char* terminator)
    {
        for (int i = from; i < size; ++i) {
            if (startsWithAt(text, size, i, terminator))
                return i + int(qstrlen(terminator));
        }
        return size;
    }

    // Attributes are counted by their "=" outside quoted values; comments and CDATA are skipped.
    template <typename Char> bool crowded(const Char* text, int size)
    {
        bool inTag = false;
        Char quote = 0;
        int attributes = 0;
        for (int i = 0; i < size; ++i) {
            const Char c = text[i];
            if (!inTag) {
                if (c != Char('<'))
                    continue;
                if (startsWithAt(text, size, i, "<!--"))
                    i = endOf(text, size, i + 4, "-->") - 1;
                else if (startsWithAt(text, size, i, "<![CDATA["))
                    i = endOf(text, size, i + 9, "]]>") - 1;
                else
                    inTag = true, attributes = 0;
            } else if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == Char('"') || c == Char('\'')) {
                quote = c;
            } else if (c == Char('=')) {
                if (++attributes > XmlGuard::MaxAttributes)
                    return true;
            } else if (c == Char('>')) {
                inTag = false;
            }
        }
        return false;
    }

    XmlGuard::Scan crowdedScan()
    {
        XmlGuard::Scan scan;
        scan.state = XmlGuard::NotWellFormed;
        scan.errorString = XmlGuard::crowdedElementMessage();
        return scan;
    }

    XmlGuard::Scan runScan(QXmlStreamReader& reader, bool inspectMarkup, bool checkNamespaces = false)
    {
        LenientEntities entities;
        reader.setEntityResolver(&entities);
        reader.setNamespaceProcessing(checkNamespaces);
        XmlGuard::Scan scan;
        int depth = 0;
        while (!reader.atEnd()) {
            switch (reader.readNext()) {
            case QXmlStreamReader::StartElement:
                ++scan.elements;
                scan.depth = qMax(scan.depth, ++depth);
                if (depth > XmlGuard::MaxDepth) {
                    scan.state = XmlGuard::TooDeep;
                    scan.errorString = QStringLiteral("nested deeper than %1 levels").arg(XmlGuard::MaxDepth);
                    return scan;
                }
                if (inspectMarkup && !scan.unsafeMarkup)
                    scan.unsafeMarkup = isUnsafeElement(reader) || hasUnsafeAttribute(reader.attributes());
                scan.prefixedNames = scan.prefixedNames || hasPrefixedName(reader);
                break;
            case QXmlStreamReader::EndElement:
                --depth;
                break;
            case QXmlStreamReader::DTD:
                scan.doctypePublicId = reader.dtdPublicId().toString();
                scan.doctypeSystemId = reader.dtdSystemId().toString();
                scan.internalSubset = reader.text().contains(QLatin1Char('['));
                scan.unsafeMarkup = scan.unsafeMarkup || (inspectMarkup && scan.internalSubset);
                break;
            case QXmlStreamReader::ProcessingInstruction:
                if (inspectMarkup && !scan.unsafeMarkup) {
                    scan.unsafeMarkup = UnsafeMarkup::isUnsafeProcessingInstruction(
                        reader.processingInstructionTarget(), reader.processingInstructionData());
                }
                break;
            default:
                break;
            }
        }
        scan.undeclaredEntities = entities.used;
        if (reader.hasError()) {
            scan.state = XmlGuard::NotWellFormed;
            scan.errorString = QStringLiteral("%1 (line %2, column %3)")
                                   .arg(reader.errorString())
                                   .arg(reader.lineNumber())
                                   .arg(reader.columnNumber());
        } else {
            scan.state = XmlGuard::WellFormed;
        }
        return scan;
    }

    template <typename Input>
    bool parseGuarded(QDomDocument* doc, const Input& input, bool namespaceProcessing, QString* error)
    {
        const XmlGuard::Scan scan = XmlGuard::scan(input);
        if (scan.state != XmlGuard::WellFormed) {
            *error = scan.errorString;
            return false;
        }
        QString message;
        int line = 0;
        int column = 0;
        if (!doc->setContent(input, namespaceProcessing, &message, &line, &column)) {
            *error = QStringLiteral("%1 (line %2, column %3)").arg(message).arg(line).arg(column);
            return false;
        }
        return true;
    }

} // namespace

bool XmlGuard::Scan::isXhtmlDoctype() const
{
    return doctypePublicId.contains(QLatin1String("xhtml"), Qt::CaseInsensitive)
        || doctypeSystemId.contains(QLatin1String("xhtml"), Qt::CaseInsensitive);
}

QString XmlGuard::crowdedElementMessage()
{
    return QStringLiteral("an element carries more than %1 attributes").arg(MaxAttributes);
}

bool XmlGuard::hasCrowdedElement(const QByteArray& data) { return crowded(data.constData(), data.size()); }

bool XmlGuard::hasCrowdedElement(const QString& text) { return crowded(text.utf16(), text.size()); }

XmlGuard::Scan XmlGuard::scan(const QByteArray& data, bool inspectMarkup, bool checkNamespaces)
{
    if (hasCrowdedElement(data))
        return crowdedScan();
    QXmlStreamReader reader(data);
    return runScan(reader, inspectMarkup, checkNamespaces);
}

XmlGuard::Scan XmlGuard::scan(const QString& text, bool inspectMarkup)
{
    if (hasCrowdedElement(text))
        return crowdedScan();
    QXmlStreamReader reader(text);
    return runScan(reader, inspectMarkup);
}

int XmlGuard::replaceForbiddenCharacters(const QByteArray& data, QByteArray* out)
{
    const bool littleEndian = data.startsWith("\xFF\xFE") || data.startsWith(QByteArray("<\0", 2));
    const bool bigEndian = data.startsWith("\xFE\xFF") || data.startsWith(QByteArray("\0<", 2));
    const bool iso2022 = data.left(256).toLower().contains("iso-2022");
    const int unit = littleEndian || bigEndian ? 2 : 1;
    const auto at = [&](int i) {
        if (unit == 1)
            return uint(uchar(data.at(i)));
        const uint first = uchar(data.at(i));
        const uint second = uchar(data.at(i + 1));
        return bigEndian ? first << 8 | second : second << 8 | first;
    };
    // The control's own byte becomes the space: the other byte of its UTF-16 unit is zero.
    const int lowByte = bigEndian ? 1 : 0;
    int replaced = 0;
    const int end = data.size() - data.size() % unit;
    for (int i = 0; i < end; i += unit) {
        if (!isForbiddenControl(at(i), iso2022))
            continue;
        if (replaced++ == 0)
            *out = data;
        (*out)[i + lowByte] = ' ';
    }
    return replaced;
}

bool XmlGuard::readFile(const QString& path, QByteArray* data, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    // The size on disk may not be what a read returns (special files): read one byte more
    // than allowed and look.
    if (file.size() > MaxFileSize) {
        *error = QStringLiteral("larger than %1 bytes").arg(MaxFileSize);
        return false;
    }
    *data = file.read(MaxFileSize + 1);
    if (data->size() > MaxFileSize) {
        data->clear();
        *error = QStringLiteral("larger than %1 bytes").arg(MaxFileSize);
        return false;
    }
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    return true;
}

XmlGuard::LoadResult XmlGuard::loadFile(
    const QString& path, bool namespaceProcessing, bool forceUtf8, QDomDocument* doc, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return CannotOpen;
    }
    file.close();
    QByteArray data;
    if (!readFile(path, &data, error))
        return NotXml;
    const bool parsed = forceUtf8 ? setContent(doc, QString::fromUtf8(data), namespaceProcessing, error)
                                  : setContent(doc, data, namespaceProcessing, error);
    return parsed ? Loaded : NotXml;
}

bool XmlGuard::setContent(QDomDocument* doc, const QByteArray& data, bool namespaceProcessing, QString* error)
{
    return parseGuarded(doc, data, namespaceProcessing, error);
}

bool XmlGuard::setContent(QDomDocument* doc, const QString& text, bool namespaceProcessing, QString* error)
{
    return parseGuarded(doc, text, namespaceProcessing, error);
}

} // namespace epub

#include "unsafemarkup.h"

#include <QRegularExpression>

namespace epub {

namespace {

    bool equals(QStringView a, QLatin1String b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

    bool isOneOf(QStringView name, std::initializer_list<const char*> names)
    {
        for (const char* candidate : names) {
            if (equals(name, QLatin1String(candidate)))
                return true;
        }
        return false;
    }

    // Raster images only: an SVG document in an object or embed runs its own scripts.
    bool isRasterImageType(const QString& type)
    {
        const QString t = type.trimmed().toLower();
        return t.startsWith(QLatin1String("image/")) && !t.contains(QLatin1String("svg"));
    }

    bool hasRasterImageSuffix(const QString& url)
    {
        QString path = url.trimmed();
        // Plain searches: a pattern compiled for every element costs more than the rest of the pass.
        for (const QChar mark : { QLatin1Char('?'), QLatin1Char('#') }) {
            const int cut = path.indexOf(mark);
            if (cut >= 0)
                path.truncate(cut);
        }
        path = path.toLower();
        for (const char* suffix : { ".png", ".jpg", ".jpeg", ".gif", ".webp", ".bmp" }) {
            if (path.endsWith(QLatin1String(suffix)))
                return true;
        }
        return false;
    }

    // object and embed stay only when they show an image: by type, or by the file they load
    // when they have no type.
    bool isImageEmbedding(const UnsafeMarkup::AttributeLookup& attribute, const char* urlAttribute)
    {
        const QString type = attribute(QStringLiteral("type"));
        if (!type.trimmed().isEmpty())
            return isRasterImageType(type) && !UnsafeMarkup::isJavascriptUrl(attribute(QLatin1String(urlAttribute)));
        return hasRasterImageSuffix(attribute(QLatin1String(urlAttribute)));
    }

    // Anywhere in the value, blanks and control characters ignored: values that are lists or
    // carry a delay in front of the URL.
    bool containsJavascriptScheme(QStringView value)
    {
        QString compact;
        compact.reserve(value.size());
        for (const QChar c : value) {
            if (c.unicode() > 0x20)
                compact.append(c);
        }
        return compact.contains(QLatin1String("javascript:"), Qt::CaseInsensitive);
    }

    // Pseudo-attribute of a processing instruction: type="text/xsl".
    QString pseudoAttribute(QStringView data, const QString& name)
    {
        static const QRegularExpression pattern(
            QStringLiteral("(?:^|\\s)([A-Za-z_:][-\\w.:]*)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)')"));
        QRegularExpressionMatchIterator it = pattern.globalMatch(data.toString());
        while (it.hasNext()) {
            const QRegularExpressionMatch match = it.next();
            if (match.captured(1).compare(name, Qt::CaseInsensitive) == 0)
                return match.captured(2).isNull() ? match.captured(3) : match.captured(2);
        }
        return QString();
    }

} // namespace

QStringView UnsafeMarkup::localName(QStringView qualifiedName)
{
    const int colon = qualifiedName.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? qualifiedName : qualifiedName.mid(colon + 1);
}

bool UnsafeMarkup::mayBeUnsafeElement(QStringView localName)
{
    return isOneOf(localName, { "script", "iframe", "object", "embed", "meta" });
}

bool UnsafeMarkup::isUnsafeElement(QStringView localName, const AttributeLookup& attribute)
{
    if (equals(localName, QLatin1String("script")) || equals(localName, QLatin1String("iframe")))
        return true;
    if (equals(localName, QLatin1String("object")))
        return !isImageEmbedding(attribute, "data");
    if (equals(localName, QLatin1String("embed")))
        return !isImageEmbedding(attribute, "src");
    if (equals(localName, QLatin1String("meta"))) {
        return attribute(QStringLiteral("http-equiv")).trimmed().compare(QLatin1String("refresh"), Qt::CaseInsensitive)
            == 0
            && containsJavascriptScheme(attribute(QStringLiteral("content")));
    }
    return false;
}

bool UnsafeMarkup::isUnsafeAttribute(QStringView qualifiedName, QStringView value)
{
    // Namespace declarations are never handlers, and an XML parser needs them.
    if (qualifiedName.startsWith(QLatin1String("xmlns"), Qt::CaseInsensitive)
        && (qualifiedName.size() == 5 || qualifiedName.at(5) == QLatin1Char(':')))
        return false;
    const QStringView localName = UnsafeMarkup::localName(qualifiedName);
    // The HTML parser knows no prefixes: "onload:x" is a name of its own there, and goes too.
    for (const QStringView name : { localName, qualifiedName }) {
        if (name.size() > 2 && name.left(2).compare(QLatin1String("on"), Qt::CaseInsensitive) == 0)
            return true;
    }
    if (isOneOf(localName, { "href", "src", "action", "formaction", "data" }))
        return isJavascriptUrl(value);
    // SVG animation can set an href to a javascript: URL after loading.
    if (isOneOf(localName, { "to", "from", "by", "values" }))
        return containsJavascriptScheme(value);
    return false;
}

bool UnsafeMarkup::isUnsafeProcessingInstruction(QStringView target, QStringView data)
{
    if (!equals(target, QLatin1String("xml-stylesheet")))
        return false;
    const QString type = pseudoAttribute(data, QStringLiteral("type")).trimmed();
    // The web engine treats an instruction without type as CSS; everything else is XSLT.
    return !type.isEmpty() && type.compare(QLatin1String("text/css"), Qt::CaseInsensitive) != 0;
}

bool UnsafeMarkup::isJavascriptUrl(QStringView value)
{
    static const QLatin1String scheme("javascript:");
    int matched = 0;
    bool leading = true;
    for (const QChar c : value) {
        const ushort u = c.unicode();
        if (leading && u <= 0x20)
            continue;
        leading = false;
        if (u == '\t' || u == '\n' || u == '\r')
            continue;
        if (c.toLower() != QLatin1Char(scheme.at(matched)))
            return false;
        if (++matched == scheme.size())
            return true;
    }
    return false;
}

bool UnsafeMarkup::isVoidElement(QStringView localName)
{
    return isOneOf(localName,
        { "area", "base", "basefont", "bgsound", "br", "col", "command", "embed", "frame", "hr", "img", "input",
            "keygen", "link", "meta", "param", "source", "track", "wbr" });
}

} // namespace epub

#include "unsafemarkup.h"

#include <QPair>
#include <QSet>
#include <QVector>

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

    bool isXmlSpace(uint c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    // The letters an XML name may start with, and those it may hold after its first.
    bool isXmlNameStart(uint c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || (c >= 0xC0 && c <= 0xD6)
            || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D)
            || (c >= 0x37F && c <= 0x1FFF) || c == 0x200C || c == 0x200D || (c >= 0x2070 && c <= 0x218F)
            || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF)
            || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
    }

    bool isXmlNameChar(uint c)
    {
        return isXmlNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7
            || (c >= 0x300 && c <= 0x36F) || c == 0x203F || c == 0x2040;
    }

    // The code point at i (a surrogate pair read whole); *next receives where the one after starts.
    uint codePointAt(QStringView text, int i, int* next)
    {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            *next = i + 2;
            return QChar::surrogateToUcs4(c, text.at(i + 1));
        }
        *next = i + 1;
        return c.unicode();
    }

    // The value of a pseudo-attribute with its character references and the five predefined
    // entities replaced, as the XML parser reads an attribute value; false for one the parser
    // refuses ("<", a bare "&", an entity it does not know).
    bool decodedValue(QStringView raw, QString* value)
    {
        value->clear();
        for (int i = 0; i < raw.size(); ++i) {
            const QChar c = raw.at(i);
            if (c == QLatin1Char('<'))
                return false;
            if (c != QLatin1Char('&')) {
                value->append(isXmlSpace(c.unicode()) ? QLatin1Char(' ') : c);
                continue;
            }
            const int semicolon = int(raw.indexOf(QLatin1Char(';'), i + 1));
            if (semicolon < 0)
                return false;
            const QStringView reference = raw.mid(i + 1, semicolon - i - 1);
            i = semicolon;
            static const char* const names[][2]
                = { { "lt", "<" }, { "gt", ">" }, { "amp", "&" }, { "quot", "\"" }, { "apos", "'" } };
            bool known = false;
            for (const auto& name : names) {
                if (reference == QLatin1String(name[0])) {
                    value->append(QLatin1String(name[1]));
                    known = true;
                }
            }
            if (known)
                continue;
            if (!reference.startsWith(QLatin1Char('#')) || reference.size() < 2)
                return false;
            const bool hex = reference.at(1) == QLatin1Char('x');
            const QStringView digits = reference.mid(hex ? 2 : 1);
            bool ok = false;
            const uint code = digits.size() <= 8 ? digits.toString().toUInt(&ok, hex ? 16 : 10) : 0;
            // Digits alone: toUInt takes a sign and blanks too.
            for (const QChar digit : digits)
                ok = ok && (digit.isDigit() || (hex && QStringLiteral("abcdefABCDEF").contains(digit)));
            if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                return false;
            value->append(QString::fromUcs4(&code, 1));
        }
        return true;
    }

    // The pseudo-attributes of an instruction's data, read as the XML parser reads the attributes
    // of a tag: name="value" or name='value' pairs apart by whitespace, the names XML names, none
    // twice, the values without their own quote. False for data that is no such list: what the
    // parser would make of it is not guessed.
    bool readPseudoAttributes(QStringView data, QVector<QPair<QString, QString>>* attributes)
    {
        const int size = int(data.size());
        QSet<QString> names;
        int i = 0;
        for (;;) {
            const int blanks = i;
            while (i < size && isXmlSpace(data.at(i).unicode()))
                ++i;
            if (i >= size)
                return true;
            if (!attributes->isEmpty() && i == blanks)
                return false;
            const int nameBegin = i;
            int next = i;
            if (!isXmlNameStart(codePointAt(data, i, &next)))
                return false;
            i = next;
            while (i < size && isXmlNameChar(codePointAt(data, i, &next)))
                i = next;
            const QString name = data.mid(nameBegin, i - nameBegin).toString();
            while (i < size && isXmlSpace(data.at(i).unicode()))
                ++i;
            if (i >= size || data.at(i) != QLatin1Char('='))
                return false;
            ++i;
            while (i < size && isXmlSpace(data.at(i).unicode()))
                ++i;
            if (i >= size || (data.at(i) != QLatin1Char('"') && data.at(i) != QLatin1Char('\'')))
                return false;
            const int close = int(data.indexOf(data.at(i), i + 1));
            QString value;
            if (close < 0 || !decodedValue(data.mid(i + 1, close - i - 1), &value))
                return false;
            // A set, not a walk of the list: an instruction may hold any number of pairs.
            if (names.contains(name))
                return false;
            names.insert(name);
            attributes->append({ name, value });
            i = close + 1;
        }
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
    QVector<QPair<QString, QString>> attributes;
    if (!readPseudoAttributes(data, &attributes))
        return true;
    // The web engine applies an instruction without a type (or an empty one) as CSS, and only
    // "text/css" exactly: everything else may be an XSLT program. A name that is "type" in
    // another letter case is no type to it, but is held to the same rule.
    for (const auto& attribute : qAsConst(attributes)) {
        if (attribute.first.compare(QLatin1String("type"), Qt::CaseInsensitive) == 0 && !attribute.second.isEmpty()
            && attribute.second != QLatin1String("text/css"))
            return true;
    }
    return false;
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

#include "fbplaintext.h"

#include <climits>

namespace {

bool allowedInXml(const QChar* c, const QChar* end)
{
    const ushort u = c->unicode();
    if (u < 0x20)
        return u == '\t' || u == '\n' || u == '\r';
    if (u == 0xFFFE || u == 0xFFFF)
        return false;
    if (c->isHighSurrogate())
        return c + 1 < end && (c + 1)->isLowSurrogate();
    if (c->isLowSurrogate())
        return false; // a pair is copied whole from its high half
    return true;
}

} // namespace

namespace fb2 {

QStringList splitLines(const QString& text)
{
    if (text.isEmpty())
        return {};
    QStringList lines = text.split(QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n')))
        lines.removeLast();
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}

QString escapeXmlText(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    const QChar* end = text.constData() + text.size();
    for (const QChar* c = text.constData(); c < end; ++c) {
        switch (c->unicode()) {
        case '<':
            out += QLatin1String("&lt;");
            continue;
        case '>':
            out += QLatin1String("&gt;");
            continue;
        case '&':
            out += QLatin1String("&amp;");
            continue;
        case '"':
            out += QLatin1String("&quot;");
            continue;
        default:
            break;
        }
        if (!allowedInXml(c, end))
            continue;
        out += *c;
        if (c->isHighSurrogate())
            out += *++c;
    }
    return out;
}

QString textBookXml(const QStringList& lines, const QString& title, bool withDescription, const QString& encoding)
{
    qsizetype size = 512 + title.size();
    for (const QString& line : lines)
        size += line.size() + 8;
    QString xml;
    xml.reserve(int(qMin<qsizetype>(size + size / 8, INT_MAX / 2)));
    xml += QStringLiteral("<?xml version=\"1.0\" encoding=\"%1\"?>").arg(encoding);
    xml += QStringLiteral("<FictionBook xmlns = \"http://www.gribuser.ru/xml/fictionbook/2.0\" "
                          "xmlns:l=\"http://www.w3.org/1999/xlink\">");
    if (withDescription)
        xml += QStringLiteral("<description><title-info><book-title>") + escapeXmlText(title)
            + QStringLiteral("</book-title></title-info></description>");
    xml += QStringLiteral("<body><section>");
    for (const QString& line : lines)
        xml += QStringLiteral("<p>") + escapeXmlText(line) + QStringLiteral("</p>");
    xml += QStringLiteral("</section></body></FictionBook>");
    return xml;
}

} // namespace fb2

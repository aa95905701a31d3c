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

// A line longer than this is cut into paragraphs: a file without line breaks would otherwise be
// one paragraph that neither the reading page nor the page counter can lay out in parts.
constexpr int kMaxLineChars = 16 * 1024;

bool endsSentence(QChar c)
{
    switch (c.unicode()) {
    case '.':
    case '!':
    case '?':
    case 0x3002: // ideographic full stop
    case 0xFF01: // fullwidth exclamation mark
    case 0xFF1F: // fullwidth question mark
        return true;
    default:
        return false;
    }
}

// Where a too long line is cut, within its first kMaxLineChars characters: after the last
// sentence end in the second half, else at the last blank there, else at the limit (never
// between the halves of a surrogate pair). The blanks at a cut are dropped.
int cutPosition(QStringView line)
{
    const int half = kMaxLineChars / 2;
    for (int i = kMaxLineChars - 1; i >= half; --i) {
        if (endsSentence(line.at(i - 1)) && (line.at(i).isSpace() || line.at(i - 1).unicode() > 0x2FFF))
            return i;
    }
    for (int i = kMaxLineChars - 1; i >= half; --i) {
        if (line.at(i).isSpace())
            return i;
    }
    return line.at(kMaxLineChars - 1).isHighSurrogate() ? kMaxLineChars - 1 : kMaxLineChars;
}

void appendLine(QStringList& lines, QStringView line)
{
    while (line.size() > kMaxLineChars) {
        const int cut = cutPosition(line);
        lines.append(line.left(cut).toString());
        line = line.mid(cut);
        while (!line.isEmpty() && line.front().isSpace())
            line = line.mid(1);
    }
    lines.append(line.toString());
}

} // namespace

namespace fb2 {

QStringList splitLines(const QString& text)
{
    QStringList lines;
    const int size = text.size();
    int start = 0;
    while (start < size) {
        int end = start;
        while (end < size && text.at(end) != QLatin1Char('\n') && text.at(end) != QLatin1Char('\r'))
            ++end;
        appendLine(lines, QStringView(text).mid(start, end - start));
        if (end < size && text.at(end) == QLatin1Char('\r') && end + 1 < size && text.at(end + 1) == QLatin1Char('\n'))
            ++end;
        start = end + 1;
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

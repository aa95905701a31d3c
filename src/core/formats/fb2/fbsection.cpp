#include "fbsection.h"

#include "formats/booklink.h"

#include <QUuid>

namespace {

QString newAnchor() { return QUuid::createUuid().toString(QUuid::Id128); }

const QString kPageBreak = QStringLiteral("<p style=\"page-break-after:always\"></p>");

const QLatin1String kLinkOpen("<a href=\"#");

// Parts the gathered words between blocks (paragraphs, lines, cells).
const QChar kBlockBreak = QLatin1Char('\n');

// Tags that stand inside words (emphasis, sub- and superscripts, code, links): no blank for them.
bool isInWordTag(const QStringRef& tag)
{
    int start = tag.startsWith(QLatin1Char('/')) ? 1 : 0;
    int end = start;
    while (end < tag.size() && tag.at(end).isLetter())
        ++end;
    const QStringRef name = tag.mid(start, end - start);
    for (const char* inWord : { "i", "b", "s", "sub", "sup", "code", "a" }) {
        if (name == QLatin1String(inWord))
            return true;
    }
    return false;
}

// Appends a run of text, decoded, with each run of blanks as one blank and none at the start of
// a block: indentation must not count toward the limit. Only as much of it as can be needed is
// read: a reference is at most ten characters long.
void appendText(const QString& html, int from, int to, QString& out, int limit)
{
    const int wanted = 10 * (limit + 1 - out.size()) + 16;
    bool blank = out.isEmpty() || out.endsWith(QLatin1Char(' ')) || out.endsWith(kBlockBreak);
    QString run;
    for (int i = from; i < to && run.size() < wanted; ++i) {
        const QChar c = html.at(i);
        if (c.isSpace()) {
            if (!blank)
                run += QLatin1Char(' ');
            blank = true;
        } else {
            run += c;
            blank = false;
        }
    }
    // A reference to a line break is a blank, not a block.
    out += decodeCharacterReferences(run).replace(kBlockBreak, QLatin1Char(' '));
}

// Appends the words of chapter HTML as plain text until out holds more than limit characters;
// false once it does. A tag that stands between words ends a block (kBlockBreak).
bool appendWords(const QString& html, int from, int to, QString& out, int limit)
{
    int i = from;
    while (i < to) {
        if (out.size() > limit)
            return false;
        if (html.at(i) == QLatin1Char('<')) {
            const int close = html.indexOf(QLatin1Char('>'), i);
            if (close < 0 || close >= to)
                break;
            if (!isInWordTag(html.midRef(i + 1, close - i - 1)) && !out.isEmpty() && !out.endsWith(kBlockBreak)) {
                if (out.endsWith(QLatin1Char(' ')))
                    out.chop(1);
                out += kBlockBreak;
            }
            i = close + 1;
            continue;
        }
        int next = html.indexOf(QLatin1Char('<'), i);
        if (next < 0 || next > to)
            next = to;
        appendText(html, i, next, out, limit);
        i = next;
    }
    return out.size() <= limit;
}

// The blocks of words gathered by appendWords, each simplified, the empty ones left out.
QStringList blocksOf(const QString& words)
{
    QStringList blocks;
    for (const QString& block : words.split(kBlockBreak)) {
        const QString simplified = block.simplified();
        if (!simplified.isEmpty())
            blocks.append(simplified);
    }
    return blocks;
}

// A nested section's heading is among the words its parent shows.
bool appendSectionWords(const fb2::FbSection& section, QString& out, int limit)
{
    if (!appendWords(section.title, 0, section.title.size(), out, limit))
        return false;
    for (const QString& epigraph : section.epigraphs) {
        if (!appendWords(epigraph, 0, epigraph.size(), out, limit))
            return false;
    }
    int done = 0;
    for (const fb2::FbSection& nested : section.sections) {
        const int at = qBound(done, nested.contentOffset, section.content.size());
        if (!appendWords(section.content, done, at, out, limit) || !appendSectionWords(nested, out, limit))
            return false;
        done = at;
    }
    return appendWords(section.content, done, section.content.size(), out, limit);
}

} // namespace

namespace fb2 {

QString FbSection::anchor()
{
    if (m_anchor.isEmpty())
        m_anchor = newAnchor();
    return m_anchor;
}

void FbSection::appendHead(QString& out)
{
    if (!title.isEmpty())
        out += QStringLiteral("<h4 class='section' id='%1'>").arg(anchor()) + title + QStringLiteral("</h4>");
    for (const QString& epigraph : qAsConst(epigraphs))
        out += QStringLiteral("<p>") + epigraph + QStringLiteral("</p>");
    if (!image.isEmpty())
        out += imageTag(image);
}

// Appends into one buffer so that a deeply nested section costs time and memory in
// proportion to its size, not to its size times its depth.
void FbSection::appendHtml(QString& out, bool notes)
{
    appendHead(out);
    int done = 0;
    for (FbSection& nested : sections) {
        const int at = qBound(done, nested.contentOffset, content.size());
        out += content.midRef(done, at - done);
        done = at;
        nested.appendHtml(out, notes);
        if (!notes)
            out += kPageBreak;
    }
    out += content.midRef(done);
}

QString FbSection::toHtml(bool notes)
{
    QString out;
    appendHtml(out, notes);
    return out;
}

QString FbSection::ownHtml() { return headHtml() + content; }

QString FbSection::headHtml()
{
    QString out;
    appendHead(out);
    return out;
}

QStringList FbSection::leadingBlocks(int limit, bool* cut) const
{
    QString out;
    const bool whole = appendSectionWords(*this, out, limit);
    if (cut)
        *cut = !whole;
    return blocksOf(out);
}

QString FbBody::anchor()
{
    if (m_anchor.isEmpty())
        m_anchor = newAnchor();
    return m_anchor;
}

QString FbBody::leadingText(int limit) const
{
    QString out;
    bool room = true;
    for (const QString& epigraph : epigraphs) {
        if (room)
            room = appendWords(epigraph, 0, epigraph.size(), out, limit);
    }
    for (const FbSection& section : sections) {
        if (room)
            room = appendSectionWords(section, out, limit);
    }
    return blocksOf(out).join(QLatin1Char(' '));
}

QString plainTitle(const QString& html)
{
    static const char* const kBlanked[]
        = { "<p>", "</p>", "<i>", "</i>", "<b>", "</b>", "<br/>", "<s>", "</s>", "<p class=\"subtitle\">" };
    // Sub- and superscripts and code sit inside words ("H<sub>2</sub>O"): no blank for them.
    static const char* const kDropped[] = { "<sub>", "</sub>", "<sup>", "</sup>", "<code>", "</code>" };
    QString text = html;
    for (const char* tag : kBlanked)
        text.replace(QLatin1String(tag), QLatin1String(" "));
    for (const char* tag : kDropped)
        text.remove(QLatin1String(tag));
    // A heading that is a link reads as its words.
    if (hasInternalLinks(text))
        text = resolveInternalLinks(text, {});
    // The contents, the window title and the bookmarks show titles as plain text.
    return decodeCharacterReferences(text).trimmed();
}

QString escapeAttribute(const QString& text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QLatin1String("&#39;"));
}

QString imageTag(const QString& ref) { return QStringLiteral("<img src=\"%1\" />").arg(escapeAttribute(ref)); }

QString internalLinkOpen(const QString& id) { return kLinkOpen + escapeAttribute(id) + QStringLiteral("\">"); }

bool hasInternalLinks(const QString& html) { return html.contains(kLinkOpen); }

QString resolveInternalLinks(const QString& html, const QHash<QString, QString>& targets)
{
    QString out;
    out.reserve(html.size());
    int from = 0;
    for (int open = html.indexOf(kLinkOpen); open >= 0; open = html.indexOf(kLinkOpen, from)) {
        const int idStart = open + kLinkOpen.size();
        const int idEnd = html.indexOf(QLatin1Char('"'), idStart);
        const int close = idEnd < 0 ? -1 : html.indexOf(kInternalLinkClose, idEnd);
        if (close < 0)
            break;
        out += html.midRef(from, open - from);
        const QString target = targets.value(html.mid(idStart, idEnd - idStart));
        // The words start after the tag's closing '>', two characters on from the id's end.
        const QStringRef words = html.midRef(idEnd + 2, close - idEnd - 2);
        if (target.isEmpty())
            out += words;
        else
            out += QStringLiteral("<a href=\"%1\">").arg(escapeAttribute(target)) + words + kInternalLinkClose;
        from = close + kInternalLinkClose.size();
    }
    out += html.midRef(from);
    return out;
}

} // namespace fb2

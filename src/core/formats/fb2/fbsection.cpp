#include "fbsection.h"

#include "formats/booklink.h"

#include <QUuid>

namespace {

QString newAnchor() { return QUuid::createUuid().toString(QUuid::Id128); }

const QString kPageBreak = QStringLiteral("<p style=\"page-break-after:always\"></p>");

const QLatin1String kLinkOpen("<a href=\"#");

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

QString FbBody::anchor()
{
    if (m_anchor.isEmpty())
        m_anchor = newAnchor();
    return m_anchor;
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

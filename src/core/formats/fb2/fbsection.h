#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace fb2 {

// One <section> of an FB2 body as read by FbBook::readSection. Value record.
struct FbSection {
    QString image; // binary id of the leading image (before any content), or empty
    QString title; // HTML of the (last) title
    QStringList epigraphs; // HTML of each epigraph
    QList<FbSection> sections; // nested sections
    QString id; // the element's "id" attribute
    QString content; // HTML of the section's own content children, nested sections excluded
    QString fileName; // chapter file that holds the section (set by the document)
    // Length of the parent's content when this section was read: toHtml renders the section
    // at that point of the parent's content, so mixed content keeps its document order.
    int contentOffset = 0;

    // The heading id: a random 32-digit hexadecimal UUID made on the first call and kept
    // (copies made before the first call get ids of their own).
    QString anchor();

    // Chapter HTML of the section with its nested sections, each rendered once. With notes
    // false every nested section is followed by a page break.
    QString toHtml(bool notes);
    // The same without the nested sections: heading, epigraphs, leading image and content.
    QString ownHtml();
    // Only the heading, epigraphs and leading image: what stands before the content.
    QString headHtml();
    // The first words shown below the heading as plain text (epigraphs, content and nested
    // sections with their headings, in reading order), in their blocks (paragraphs, lines,
    // cells), each with its blanks simplified: more than limit characters of them when the
    // section has that many, not the whole of a long section; cut tells whether it has more.
    QStringList leadingBlocks(int limit, bool* cut = nullptr) const;

private:
    void appendHead(QString& out);
    void appendHtml(QString& out, bool notes);
    QString m_anchor;
};

// One <body> of an FB2 book. Value record.
struct FbBody {
    QString image; // binary id of the body's image, or empty
    QString title; // HTML of the title
    QStringList epigraphs;
    QList<FbSection> sections;
    QString name; // "notes" and "comments" mark a notes body
    QString fileName; // chapter file that holds the body (set by the document)

    // The heading id, made on the first call and kept, as for sections.
    QString anchor();
    // The first words of the body page and of its sections, as FbSection::leadingBlocks gives
    // them, joined by blanks.
    QString leadingText(int limit) const;

private:
    QString m_anchor;
};

// The plain text of title HTML, as shown in the table of contents and as a library title:
// paragraph, emphasis, strong, line-break and strike-through tags become one blank each,
// sub-, superscript, code and internal link tags are dropped, and the result is trimmed.
// Character references become the characters they stand for.
QString plainTitle(const QString& html);

// Text escaped for an HTML attribute in either quote style: the four characters of
// QString::toHtmlEscaped and the single quote become character references.
QString escapeAttribute(const QString& text);

// An <img> tag for a binary id; the id is escaped for the attribute.
QString imageTag(const QString& ref);

// A link into the book as the element readers write it: "<a href="#id">", the id escaped for
// the attribute, then the link's words and kInternalLinkClose. Such links never nest. Where it
// leads is known only once every page of the book is named: resolveInternalLinks tells.
QString internalLinkOpen(const QString& id);
const QLatin1String kInternalLinkClose("</a>");
bool hasInternalLinks(const QString& html);
// The internal links of html with the target that targets gives for their escaped id (an href,
// written escaped); a link whose id has none keeps only its words.
QString resolveInternalLinks(const QString& html, const QHash<QString, QString>& targets);

} // namespace fb2

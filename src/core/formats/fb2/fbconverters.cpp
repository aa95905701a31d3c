// The element converters of FbBook: FB2 elements to section records and HTML fragments.
#include "fbbook.h"
#include "fbxmlreader.h"

#include <QBuffer>
#include <QDebug>
#include <QDomElement>
#include <QImageReader>

#include <algorithm>
#include <iterator>

namespace {

const QString kBr = QStringLiteral("<br/>");

// The value of "l:href", or when that is empty of another attribute whose name holds "href"
// (other prefixes bound to the XLink namespace); of several, the smallest name, since the
// attribute map has no stable order.
QString hrefOf(const QDomElement& element)
{
    const QDomNamedNodeMap attributes = element.attributes();
    QString fallbackName;
    QString fallback;
    for (int i = 0; i < attributes.count(); ++i) {
        const QDomNode attribute = attributes.item(i);
        const QString name = attribute.nodeName();
        if (name == QLatin1String("l:href") && !attribute.nodeValue().isEmpty())
            return attribute.nodeValue();
        if (name.contains(QLatin1String("href")) && (fallbackName.isNull() || name < fallbackName)) {
            fallbackName = name;
            fallback = attribute.nodeValue();
        }
    }
    return fallback;
}

// Inline elements and the HTML tag each becomes; without a tag only the text is kept.
struct InlineTag {
    const char* fb2;
    const char* html;
};
const InlineTag kInlineTags[] = { { "emphasis", "i" }, { "strong", "b" }, { "strikethrough", "s" }, { "sub", "sub" },
    { "sup", "sup" }, { "code", "code" }, { "style", nullptr }, { "a", nullptr } };

} // namespace

namespace fb2 {

// Counts the nesting of the recursive readers, so that a document built elsewhere (not by
// our parser, which caps nesting itself) cannot exhaust the stack either.
class FbBook::DepthGuard {
public:
    explicit DepthGuard(int& depth)
        : m_depth(depth)
    {
        ++m_depth;
    }
    ~DepthGuard() { --m_depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

    bool tooDeep() const
    {
        if (m_depth <= kMaxDepth)
            return false;
        qWarning() << "FB2 elements nested deeper than" << kMaxDepth << "levels";
        return true;
    }

private:
    int& m_depth;
};

bool FbBook::appendParagraph(const QDomElement& element, QString& html)
{
    html += QStringLiteral("<p>");
    if (!readInline(element, html))
        return false;
    html += QStringLiteral("</p>");
    return true;
}

// Subtitles are shown as paragraphs of their own class, in sections, stanzas and citations.
bool FbBook::appendSubtitle(const QDomElement& element, QString& html)
{
    html += QStringLiteral("<p class=\"subtitle\">");
    if (!readInline(element, html))
        return false;
    html += QStringLiteral("</p>");
    return true;
}

bool FbBook::appendInline(const QDomElement& element, QString& html) { return readInline(element, html); }

bool FbBook::readSection(const QDomElement& element, FbSection& section)
{
    DepthGuard guard(m_depth);
    if (guard.tooDeep())
        return false;
    if (element.hasAttribute(QStringLiteral("id")))
        section.id = element.attribute(QStringLiteral("id"));

    bool leadingImage = true;
    for (QDomElement child = element.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        if (tag == QLatin1String("title")) {
            QString html;
            if (!readTitle(child, html))
                return false;
            section.title = html;
            continue;
        }
        if (tag == QLatin1String("epigraph")) {
            QString html;
            if (!readEpigraph(child, html))
                return false;
            section.epigraphs.append(html);
            continue;
        }
        bool ok = true;
        if (tag == QLatin1String("image")) {
            QString ref;
            readImageRef(child, ref);
            if (leadingImage)
                section.image = ref;
            else
                section.content += imageTag(ref);
        } else if (tag == QLatin1String("section")) {
            // Nested sections are rendered by toHtml at this point of the content, once.
            FbSection nested;
            nested.contentOffset = section.content.size();
            ok = readSection(child, nested);
            section.sections.append(nested);
        } else if (tag == QLatin1String("p")) {
            ok = appendParagraph(child, section.content);
        } else if (tag == QLatin1String("poem")) {
            ok = readPoem(child, section.content);
        } else if (tag == QLatin1String("subtitle")) {
            ok = appendSubtitle(child, section.content);
        } else if (tag == QLatin1String("cite")) {
            ok = readCite(child, section.content);
        } else if (tag == QLatin1String("empty-line")) {
            section.content += kBr;
        } else {
            continue; // tables, annotations, text authors: not shown
        }
        if (!ok)
            return false;
        leadingImage = false;
    }
    return true;
}

bool FbBook::readChildren(const QDomElement& element, QString& html, std::initializer_list<ChildRule> rules)
{
    DepthGuard guard(m_depth);
    if (guard.tooDeep())
        return false;
    for (QDomElement child = element.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        for (const ChildRule& rule : rules) {
            if (tag != QLatin1String(rule.tag))
                continue;
            if (rule.read && !(this->*rule.read)(child, html))
                return false;
            if (rule.literal)
                html += QLatin1String(rule.literal);
            break;
        }
    }
    return true;
}

bool FbBook::readTitle(const QDomElement& element, QString& html)
{
    return readChildren(
        element, html, { { "p", &FbBook::appendParagraph, nullptr }, { "empty-line", nullptr, "<br/>" } });
}

bool FbBook::readEpigraph(const QDomElement& element, QString& html)
{
    // A text author is left out.
    return readChildren(element, html,
        { { "p", &FbBook::appendParagraph, nullptr }, { "poem", &FbBook::readPoem, nullptr },
            { "cite", &FbBook::readCite, nullptr }, { "empty-line", nullptr, "<br/>" } });
}

bool FbBook::readPoem(const QDomElement& element, QString& html)
{
    // Text author and date are left out.
    return readChildren(element, html,
        { { "title", &FbBook::readTitle, nullptr }, { "epigraph", &FbBook::readEpigraph, nullptr },
            { "empty-line", nullptr, "<br/>" }, { "stanza", &FbBook::readStanza, nullptr } });
}

// A verse, and an empty line of a citation, end in the literal "</br>": the reading engine's
// layout of poems depends on it.
bool FbBook::readStanza(const QDomElement& element, QString& html)
{
    return readChildren(element, html,
        { { "title", &FbBook::readTitle, nullptr }, { "subtitle", &FbBook::appendSubtitle, nullptr },
            { "v", &FbBook::appendInline, "</br>" } });
}

bool FbBook::readCite(const QDomElement& element, QString& html)
{
    // Tables and a text author are left out.
    return readChildren(element, html,
        { { "p", &FbBook::appendParagraph, nullptr }, { "poem", &FbBook::readPoem, nullptr },
            { "subtitle", &FbBook::appendSubtitle, nullptr }, { "empty-line", nullptr, "</br>" } });
}

bool FbBook::readInline(const QDomNode& node, QString& html)
{
    DepthGuard guard(m_depth);
    if (guard.tooDeep())
        return false;
    for (QDomNode child = node.firstChild(); !child.isNull(); child = child.nextSibling()) {
        if (child.isText()) {
            html += child.toText().data().toHtmlEscaped();
            continue;
        }
        if (!child.isElement())
            continue;
        const QDomElement element = child.toElement();
        const QString tag = element.tagName();
        if (tag == QLatin1String("image")) {
            QString ref;
            readImageRef(element, ref);
            html += imageTag(ref);
            continue;
        }
        // A link into the book ("#id", note references too) keeps its words and the id; the document
        // makes it lead to the page that holds its target. A link inside one is only its words.
        const QString href = tag == QLatin1String("a") ? hrefOf(element) : QString();
        if (href.startsWith(QLatin1Char('#')) && !m_inLink) {
            m_inLink = true;
            html += internalLinkOpen(href.mid(1));
            const bool read = readInline(element, html);
            m_inLink = false;
            if (!read)
                return false;
            html += kInternalLinkClose;
            continue;
        }
        const InlineTag* known = std::find_if(std::begin(kInlineTags), std::end(kInlineTags),
            [&tag](const InlineTag& candidate) { return tag == QLatin1String(candidate.fb2); });
        if (known == std::end(kInlineTags))
            continue; // unknown elements are dropped with their text
        const QString open = known->html ? QStringLiteral("<%1>").arg(QLatin1String(known->html)) : QString();
        const QString close = known->html ? QStringLiteral("</%1>").arg(QLatin1String(known->html)) : QString();
        html += open;
        if (!readInline(element, html))
            return false;
        html += close;
    }
    return true;
}

bool FbBook::readImageRef(const QDomElement& element, QString& ref)
{
    ref = hrefOf(element);
    if (ref.startsWith(QLatin1Char('#')))
        ref.remove(0, 1);
    return true;
}

bool FbBook::readBinary(const QDomElement& element)
{
    const QString id = element.attribute(QStringLiteral("id"));
    const QDomNode first = element.firstChild();
    QByteArray data = QByteArray::fromBase64(first.isText() ? first.toText().data().toLatin1() : QByteArray());

    // The header tells the size; a huge image is refused before its pixels are allocated.
    QImage image;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid()) {
        if (!data.isEmpty())
            qWarning() << "Binary" << id << "is not an image of a known format";
    } else if (qint64(size.width()) * size.height() > kMaxImagePixels) {
        qWarning() << "Binary" << id << "not decoded: the image has" << size.width() << "x" << size.height()
                   << "pixels";
    } else {
        image = reader.read();
        if (image.isNull())
            qWarning() << "Binary" << id << "could not be decoded:" << reader.errorString();
    }
    binaries.insert(id, image);
    return true;
}

bool FbBook::readDate(const QDomElement& element, QDate& date)
{
    if (element.hasAttribute(QStringLiteral("value")))
        date = QDate::fromString(element.attribute(QStringLiteral("value")), Qt::ISODate);
    return true;
}

bool FbBook::elementText(const QDomElement& element, QString& text)
{
    // Blank text between child elements is layout, not the element's text.
    for (QDomNode child = element.firstChild(); !child.isNull(); child = child.nextSibling()) {
        if (child.isText() && !isXmlWhitespace(child.toText().data()))
            text = child.toText().data();
    }
    return true;
}

} // namespace fb2

#include "chaptercleaner.h"

#include "chapterencoding.h"
#include "htmltextcleaner.h"
#include "unsafemarkup.h"
#include "xmlguard.h"

#include "arch/entryfile.h"
#include "formats/endrequest.h"
#include "formats/htmlnesting.h"
#include "formats/inlineruns.h"
#include "formats/markupscan.h"
#include "formats/textdocument.h"

#include <QBuffer>
#include <QDomDocument>
#include <QFileInfo>
#include <QTextCodec>
#include <QTextStream>
#include <QVector>
#include <QXmlSimpleReader>
#include <QtDebug>

namespace epub {

namespace {

    const QByteArray Utf8Mark("\xEF\xBB\xBF");

    QString attributeByLocalName(const QDomElement& element, const QString& wanted)
    {
        const QDomNamedNodeMap attributes = element.attributes();
        for (int i = 0; i < attributes.count(); ++i) {
            const QDomAttr attribute = attributes.item(i).toAttr();
            if (UnsafeMarkup::localName(attribute.name()).compare(wanted, Qt::CaseInsensitive) == 0)
                return attribute.value();
        }
        return QString();
    }

    // Removes the unsafe attributes of one element; returns how many.
    int removeUnsafeAttributes(QDomElement& element)
    {
        const QDomNamedNodeMap attributes = element.attributes();
        QStringList doomed;
        for (int i = 0; i < attributes.count(); ++i) {
            const QDomAttr attribute = attributes.item(i).toAttr();
            if (UnsafeMarkup::isUnsafeAttribute(attribute.name(), attribute.value()))
                doomed.append(attribute.name());
        }
        for (const QString& name : doomed)
            element.removeAttribute(name);
        return doomed.size();
    }

    bool isUnsafeNode(const QDomNode& node)
    {
        if (node.isProcessingInstruction()) {
            const QDomProcessingInstruction instruction = node.toProcessingInstruction();
            return UnsafeMarkup::isUnsafeProcessingInstruction(instruction.target(), instruction.data());
        }
        if (!node.isElement())
            return false;
        const QDomElement element = node.toElement();
        const QStringView name = UnsafeMarkup::localName(element.tagName());
        return UnsafeMarkup::mayBeUnsafeElement(name)
            && UnsafeMarkup::isUnsafeElement(
                name, [&element](const QString& wanted) { return attributeByLocalName(element, wanted); });
    }

    // Removes unsafe nodes and attributes below root, without recursion.
    int removeUnsafe(QDomNode root)
    {
        int removed = 0;
        QVector<QDomNode> pending { root };
        QVector<QDomNode> doomed;
        while (!pending.isEmpty()) {
            const QDomNode node = pending.takeLast();
            for (QDomNode child = node.firstChild(); !child.isNull(); child = child.nextSibling()) {
                if (isUnsafeNode(child)) {
                    doomed.append(child);
                    continue;
                }
                if (child.isElement()) {
                    QDomElement element = child.toElement();
                    removed += removeUnsafeAttributes(element);
                }
                if (child.hasChildNodes())
                    pending.append(child);
            }
        }
        for (QDomNode& node : doomed)
            node.parentNode().removeChild(node);
        return removed + doomed.size();
    }

    // "<title/>" reads as an unclosed title to the HTML parser and swallows the page: every
    // empty element that is not void gets an (empty) text child, which is written "<x></x>".
    void closeEmptyElements(QDomDocument& document)
    {
        QVector<QDomNode> pending { document };
        while (!pending.isEmpty()) {
            const QDomNode node = pending.takeLast();
            for (QDomNode child = node.firstChild(); !child.isNull(); child = child.nextSibling()) {
                if (child.hasChildNodes()) {
                    pending.append(child);
                } else if (child.isElement()
                    && !UnsafeMarkup::isVoidElement(UnsafeMarkup::localName(child.toElement().tagName()))) {
                    child.appendChild(document.createTextNode(QString()));
                }
            }
        }
    }

    bool parsePreservingText(const QByteArray& data, QDomDocument* document)
    {
        // The stream and default overloads of setContent drop whitespace-only text and the
        // root's namespace; the SAX reader, set up like this, keeps both.
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        QXmlSimpleReader reader;
        reader.setFeature(QStringLiteral("http://xml.org/sax/features/namespaces"), false);
        reader.setFeature(QStringLiteral("http://xml.org/sax/features/namespace-prefixes"), true);
        reader.setFeature(QStringLiteral("http://qt-project.org/xml/features/report-whitespace-only-CharData"), true);
        QXmlInputSource source;
        source.setData(data);
        const bool parsed = document->setContent(&source, &reader);
        QT_WARNING_POP
        return parsed;
    }

    // The public identifiers under which the web view's XML parser knows HTML's named
    // entities; under any other document type "&nbsp;" is an error to it.
    bool declaresHtmlEntities(const QString& publicId)
    {
        static const QStringList ids { QStringLiteral("-//W3C//DTD XHTML 1.0 Transitional//EN"),
            QStringLiteral("-//W3C//DTD XHTML 1.1//EN"), QStringLiteral("-//W3C//DTD XHTML 1.0 Strict//EN"),
            QStringLiteral("-//W3C//DTD XHTML 1.0 Frameset//EN"), QStringLiteral("-//W3C//DTD XHTML Basic 1.0//EN"),
            QStringLiteral("-//W3C//DTD XHTML 1.1 plus MathML 2.0//EN"),
            QStringLiteral("-//W3C//DTD XHTML 1.1 plus MathML 2.0 plus SVG 1.1//EN"),
            QStringLiteral("-//WAPFORUM//DTD XHTML Mobile 1.0//EN"),
            QStringLiteral("-//WAPFORUM//DTD XHTML Mobile 1.1//EN"),
            QStringLiteral("-//WAPFORUM//DTD XHTML Mobile 1.2//EN") };
        return ids.contains(publicId);
    }

    // Whether the web view's XML parser reads the whole of a document the lenient scan
    // accepted: it also checks namespaces, and entities against the DTDs it knows.
    bool readWholeAsXml(const QByteArray& data, const XmlGuard::Scan& scan)
    {
        if (scan.undeclaredEntities && !declaresHtmlEntities(scan.doctypePublicId))
            return false;
        return !scan.prefixedNames || XmlGuard::scan(data, false, true).state == XmlGuard::WellFormed;
    }

    // "<a id="n1"/>" opens a link to the rest of the page in the HTML parser and "<title/>"
    // swallows the page: self-closed elements that are not void get their end tag. Returns how
    // many; text must be ASCII-compatible.
    int closeSelfClosedElements(QByteArray* text)
    {
        using namespace markupscan;
        const QByteArray& in = *text;
        QByteArray out;
        int copied = 0;
        int closed = 0;
        for (int pos = in.indexOf('<'); pos >= 0 && pos + 1 < in.size(); pos = in.indexOf('<', pos)) {
            const char next = in.at(pos + 1);
            // CDATA is read as HTML reads it: a "<title/>" after its first ">" swallows the page.
            const int hidden = hiddenEnd(in, pos);
            if (hidden >= 0) {
                pos = hidden;
                continue;
            }
            if (next == '/' && pos + 2 < in.size() && isLetter(in.at(pos + 2))) {
                pos = tagEnd(in, pos + 2);
                continue;
            }
            if (!isLetter(next)) {
                ++pos;
                continue;
            }
            int nameEnd = pos + 1;
            while (nameEnd < in.size() && isNameChar(in.at(nameEnd)))
                ++nameEnd;
            const QByteArray name = in.mid(pos + 1, nameEnd - pos - 1);
            const QByteArray lower = name.toLower();
            pos = tagEnd(in, nameEnd);
            if (in.at(pos - 1) == '>' && in.at(pos - 2) == '/' && !voidElements().contains(lower)) {
                out.append(in.constData() + copied, pos - 2 - copied).append("></").append(name).append('>');
                copied = pos;
                ++closed;
            } else if (rawTextElements().contains(lower)) {
                pos = rawTextEnd(in, lower, pos);
            }
        }
        if (closed > 0)
            *text = out.append(in.constData() + copied, in.size() - copied);
        return closed;
    }

    bool isUtf8(const QByteArray& text)
    {
        QTextCodec::ConverterState state;
        QTextCodec::codecForName("UTF-8")->toUnicode(text.constData(), text.size(), &state);
        return state.invalidChars == 0 && state.remainingChars == 0;
    }

    // Without a mark or a declared encoding an XML parser reads UTF-8, the HTML parser Latin-1:
    // the mark says what the XML parser would have read. Bytes that are no UTF-8 stopped the XML
    // parser: the HTML parser's own guess is left then. (UTF-16 was read in UTF-8 before.)
    bool markEncoding(QByteArray* text)
    {
        if (text->startsWith(Utf8Mark) || ChapterEncoding::isUtf16(*text))
            return false;
        if (text->startsWith("<?xml")) {
            const int end = text->indexOf("?>");
            if (end > 0 && text->left(end).contains("encoding"))
                return false;
        }
        if (!isUtf8(*text))
            return false;
        text->prepend(Utf8Mark);
        return true;
    }

} // namespace

bool ChapterCleaner::cleanDom(const QByteArray& data, bool dropInternalSubset, QByteArray* out, int* removed)
{
    QDomDocument document;
    if (!parsePreservingText(data, &document))
        return false;
    // The DOM has expanded the subset's entities and does not write the subset back.
    *removed = removeUnsafe(document) + (dropInternalSubset ? 1 : 0);
    if (*removed == 0) {
        *out = data;
        return true;
    }
    closeEmptyElements(document);
    out->clear();
    QBuffer buffer(out);
    buffer.open(QIODevice::WriteOnly);
    QTextStream stream(&buffer);
    stream.setCodec("UTF-8");
    // No indentation: indenting adds blanks inside words split across elements and in pre.
    document.save(stream, -1, QDomNode::EncodingFromDocument);
    stream.flush();
    return true;
}

bool ChapterCleaner::stops(Result* result)
{
    if (!EndRequest::isRaised())
        return false;
    result->outcome = Stopped;
    result->reason = QStringLiteral("the program ends");
    return true;
}

ChapterCleaner::Result ChapterCleaner::cleanData(
    const QByteArray& data, QByteArray* out, const QString& fileName, bool renamedByKind)
{
    QByteArray utf8;
    const bool converted = ChapterEncoding::toUtf8(data, &utf8);
    Result result = cleanReadable(converted ? utf8 : data, out, fileName, renamedByKind);
    // A pass that stopped early has left its result half made.
    if (stops(&result) || !converted)
        return result;
    // Nothing to change: kept as it is where the parser that shows it knows its encoding (the
    // HTML parser knows UTF-16 by its mark only).
    const bool readsAsIs = !ChapterEncoding::isUtf16(data) || data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF")
        || (result.wellFormed && result.kind == TextDocument::KindXhtml);
    if (result.outcome == Unchanged && readsAsIs) {
        *out = data;
        return result;
    }
    if (result.outcome != Skipped)
        result.outcome = Cleaned;
    ++result.repaired;
    // Without it the HTML parser would read Latin-1.
    if (!out->startsWith(Utf8Mark))
        out->prepend(Utf8Mark);
    qInfo().noquote() << QStringLiteral("Chapter %1 is stored in UTF-8").arg(fileName);
    return result;
}

ChapterCleaner::Result ChapterCleaner::cleanReadable(
    const QByteArray& data, QByteArray* out, const QString& fileName, bool renamedByKind)
{
    Result result;
    const bool xmlName = TextDocument::nameReadsAsXml(fileName);
    XmlGuard::Scan scan = XmlGuard::scan(data, true);
    if (stops(&result))
        return result;
    QByteArray repaired;
    // The XML parser stops at them; the HTML parser shows them, and stored positions count them
    // there: chapters it reads keep them.
    if (scan.state == XmlGuard::NotWellFormed && xmlName) {
        result.repaired = XmlGuard::replaceForbiddenCharacters(data, &repaired);
        if (result.repaired > 0) {
            qInfo().noquote() << QStringLiteral("Chapter %1: %2 characters that XML forbids replaced by spaces")
                                     .arg(fileName)
                                     .arg(result.repaired);
            scan = XmlGuard::scan(repaired, true);
        }
    }
    const bool replaced = result.repaired > 0;
    const QByteArray& input = replaced ? repaired : data;
    result.wellFormed = scan.state == XmlGuard::WellFormed;
    // An XHTML chapter that the web view's XML parser would not read whole is shown as HTML.
    bool toHtml = false;
    if (result.wellFormed) {
        const bool readAsXml = xmlName || scan.isXhtmlDoctype();
        toHtml = readAsXml && !readWholeAsXml(input, scan);
        result.wellFormed = !toHtml;
        result.kind = readAsXml ? TextDocument::KindXhtml : TextDocument::KindHtml;
    }
    // A DOM costs several hundred bytes per element: a chapter beyond these bounds would take
    // gigabytes to clean that way.
    const bool tooLargeForDom = result.wellFormed && (input.size() > MaxDomBytes || scan.elements > MaxDomElements);
    if (result.wellFormed) {
        const Outcome asRead = result.repaired > 0 ? Cleaned : Unchanged;
        if (!scan.unsafeMarkup) {
            *out = input;
            result.outcome = asRead;
            boundNesting(&result, scan.depth, fileName, out);
            return result;
        }
        // Shown by the HTML parser, it is what that parser reads that is to be cleaned, not the XML
        // tree (an SVG script ends at an HTML tag there, not in XML): the text cleaning reads it so.
        const QString shown = renamedByKind ? TextDocument::shownName(fileName, result.kind) : fileName;
        if (!tooLargeForDom && !scan.internalSubset && !TextDocument::nameReadsAsXml(shown)) {
            result.removed = HtmlTextCleaner::clean(input, out, nullptr, true);
            if (stops(&result))
                return result;
            result.outcome = result.removed > 0 ? Cleaned : asRead;
            boundNesting(&result, scan.depth, fileName, out);
            return result;
        }
        if (!tooLargeForDom && cleanDom(input, scan.internalSubset, out, &result.removed)) {
            result.outcome = result.removed > 0 ? Cleaned : asRead;
            boundNesting(&result, scan.depth, fileName, out);
            return result;
        }
        result.wellFormed = false;
    }
    // Shown as HTML from here on: the DOM of a broken chapter would be empty.
    result.kind = TextDocument::KindHtml;
    // Read as XML again only if what is left is well-formed and holds nothing unsafe there.
    result.removed = HtmlTextCleaner::clean(input, out, nullptr, true);
    if (stops(&result))
        return result;
    result.outcome = result.removed > 0 || result.repaired > 0 ? Cleaned : Unchanged;
    if (scan.state == XmlGuard::TooDeep || tooLargeForDom) {
        // Still cleaned, in case something links to it, but never shown as a chapter.
        result.outcome = Skipped;
        result.reason = tooLargeForDom ? QStringLiteral("too large to show (%1 MB, %2 elements)")
                                             .arg(double(input.size()) / (1 << 20), 0, 'f', 1)
                                             .arg(scan.elements)
                                       : scan.errorString;
        return result;
    }
    if (xmlName && scan.state == XmlGuard::NotWellFormed && result.removed > 0) {
        // What the XML parser stopped at may have gone (a script, attributes beyond the bound).
        const XmlGuard::Scan cleaned = XmlGuard::scan(*out, true);
        if (cleaned.state == XmlGuard::WellFormed && !cleaned.unsafeMarkup && readWholeAsXml(*out, cleaned)) {
            result.wellFormed = true;
            result.kind = TextDocument::KindXhtml;
            boundNesting(&result, cleaned.depth, fileName, out);
            return result;
        }
    }
    if (replaced) {
        // The HTML parser reads the characters XML forbids, and a blank in place of a NUL would
        // change what it reads ("<title\0>" is no title): the book's text is cleaned instead.
        qInfo().noquote()
            << QStringLiteral("Chapter %1 is shown as HTML: the characters that XML forbids are kept").arg(fileName);
        result.repaired = 0;
        result.removed = HtmlTextCleaner::clean(data, out, nullptr, true);
        if (stops(&result))
            return result;
        result.outcome = result.removed > 0 ? Cleaned : Unchanged;
    }
    const bool xhtmlAsHtml = xmlName || toHtml;
    int closed = 0;
    if (xhtmlAsHtml) {
        qInfo().noquote() << QStringLiteral("Chapter %1 is not read whole as XML (%2): shown as HTML")
                                 .arg(fileName,
                                     scan.state == XmlGuard::WellFormed ? QStringLiteral("namespaces or entities")
                                                                        : scan.errorString);
        closed = closeSelfClosedElements(out);
        result.repaired += closed;
    }
    boundNesting(&result, -1, fileName, out, closed > 0);
    if (xhtmlAsHtml && markEncoding(out))
        ++result.repaired;
    if (result.repaired > 0)
        result.outcome = Cleaned;
    return result;
}

void ChapterCleaner::boundNesting(
    Result* result, int scannedDepth, const QString& fileName, QByteArray* out, bool rewritten)
{
    // The web view reads a file by its name; an XHTML chapter is renamed to an XHTML name.
    const bool readAsXml
        = result->wellFormed && (result->kind == TextDocument::KindXhtml || TextDocument::nameReadsAsXml(fileName));
    const HtmlNesting::Syntax syntax = readAsXml ? HtmlNesting::Xml : HtmlNesting::Html;
    if (stops(result))
        return;
    // The scan already measured a well-formed chapter.
    if (!readAsXml || scannedDepth < 0 || scannedDepth > HtmlNesting::MaxDepth) {
        const QByteArray bounded = HtmlNesting::bounded(*out, syntax, &result->flattened);
        if (result->flattened > 0) {
            *out = bounded;
            result->outcome = Cleaned;
            qInfo().noquote() << QStringLiteral("Chapter %1 nests deeper than %2 levels: %3 tags closed or dropped")
                                     .arg(fileName)
                                     .arg(HtmlNesting::MaxDepth)
                                     .arg(result->flattened);
        }
    }
    if (stops(result))
        return;
    const QByteArray blocked = InlineRuns::blocked(*out, syntax, &result->runsCut);
    if (result->runsCut > 0) {
        *out = blocked;
        result->outcome = Cleaned;
        qInfo().noquote() << QStringLiteral("Chapter %1 has %2 long runs of text outside blocks: cut into blocks")
                                 .arg(fileName)
                                 .arg(result->runsCut);
    }
    // The unsafe parts were removed before these passes: what they wrote is looked at once more,
    // so that the page gets nothing they may have made, whatever their order.
    if ((!rewritten && result->flattened == 0 && result->runsCut == 0) || stops(result))
        return;
    QByteArray swept;
    const int left = HtmlTextCleaner::clean(*out, &swept, nullptr, !readAsXml);
    if (left > 0) {
        qWarning().noquote()
            << QStringLiteral("Chapter %1: %2 unsafe parts made by its rewriting removed").arg(fileName).arg(left);
        *out = swept;
        result->removed += left;
        result->outcome = Cleaned;
    }
}

ChapterCleaner::Result ChapterCleaner::cleanFile(const QString& path, bool renamedByKind)
{
    Result result;
    QByteArray data;
    if (!XmlGuard::readFile(path, &data, &result.reason))
        return result;
    QByteArray cleaned;
    result = cleanData(data, &cleaned, path, renamedByKind);
    if (result.outcome == Stopped)
        return result;
    if (result.removed > 0 || result.flattened > 0 || result.runsCut > 0 || result.repaired > 0) {
        QString error;
        // Chapters are rebuilt at every opening: replaced atomically, not forced to disk.
        if (!writeUnsynced(path, cleaned, &error)) {
            // The old file still holds what had to go: it must not be shown.
            result.outcome = Skipped;
            result.reason = QStringLiteral("cannot be rewritten: %1").arg(error);
        }
    }
    return result;
}

} // namespace epub

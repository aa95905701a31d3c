#include "chaptercleaner.h"

#include "htmltextcleaner.h"
#include "unsafemarkup.h"
#include "xmlguard.h"

#include "arch/entryfile.h"
#include "formats/htmlnesting.h"
#include "formats/inlineruns.h"
#include "formats/textdocument.h"

#include <QBuffer>
#include <QDomDocument>
#include <QFileInfo>
#include <QTextStream>
#include <QVector>
#include <QXmlSimpleReader>
#include <QtDebug>

namespace epub {

namespace {

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

ChapterCleaner::Result ChapterCleaner::cleanData(const QByteArray& data, QByteArray* out, const QString& fileName)
{
    Result result;
    const XmlGuard::Scan scan = XmlGuard::scan(data, true);
    result.wellFormed = scan.state == XmlGuard::WellFormed;
    // A DOM costs several hundred bytes per element: a chapter beyond these bounds would take
    // gigabytes to clean that way.
    const bool tooLargeForDom = result.wellFormed && (data.size() > MaxDomBytes || scan.elements > MaxDomElements);
    if (result.wellFormed) {
        result.kind = scan.isXhtmlDoctype() ? TextDocument::KindXhtml : TextDocument::KindHtml;
        if (!scan.unsafeMarkup) {
            *out = data;
            result.outcome = Unchanged;
            boundNesting(&result, scan.depth, fileName, out);
            return result;
        }
        if (!tooLargeForDom && cleanDom(data, scan.internalSubset, out, &result.removed)) {
            result.outcome = result.removed > 0 ? Cleaned : Unchanged;
            boundNesting(&result, scan.depth, fileName, out);
            return result;
        }
        result.wellFormed = false;
    }
    // Shown as HTML from here on: the DOM of a broken chapter would be empty.
    result.kind = TextDocument::KindHtml;
    result.removed = HtmlTextCleaner::clean(data, out);
    result.outcome = result.removed > 0 ? Cleaned : Unchanged;
    if (scan.state == XmlGuard::TooDeep || tooLargeForDom) {
        // Still cleaned, in case something links to it, but never shown as a chapter.
        result.outcome = Skipped;
        result.reason = tooLargeForDom
            ? QStringLiteral("too large to clean: %1 bytes, %2 elements").arg(data.size()).arg(scan.elements)
            : scan.errorString;
        return result;
    }
    boundNesting(&result, -1, fileName, out);
    return result;
}

void ChapterCleaner::boundNesting(Result* result, int scannedDepth, const QString& fileName, QByteArray* out)
{
    // The web view reads a file by its name; an XHTML chapter is renamed to an XHTML name.
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    const bool readAsXml = result->wellFormed
        && (result->kind == TextDocument::KindXhtml || suffix == QLatin1String("xhtml")
            || suffix == QLatin1String("xht") || suffix == QLatin1String("xml"));
    const HtmlNesting::Syntax syntax = readAsXml ? HtmlNesting::Xml : HtmlNesting::Html;
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
    const QByteArray blocked = InlineRuns::blocked(*out, syntax, &result->runsCut);
    if (result->runsCut > 0) {
        *out = blocked;
        result->outcome = Cleaned;
        qInfo().noquote() << QStringLiteral("Chapter %1 has %2 long runs of text outside blocks: cut into blocks")
                                 .arg(fileName)
                                 .arg(result->runsCut);
    }
}

ChapterCleaner::Result ChapterCleaner::cleanFile(const QString& path)
{
    Result result;
    QByteArray data;
    if (!XmlGuard::readFile(path, &data, &result.reason))
        return result;
    QByteArray cleaned;
    result = cleanData(data, &cleaned, path);
    if (result.removed > 0 || result.flattened > 0 || result.runsCut > 0) {
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

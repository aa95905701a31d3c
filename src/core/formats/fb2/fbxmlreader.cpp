#include "fbxmlreader.h"

#include "formats/epub/xmlguard.h"

#include <QDomDocument>
#include <QXmlStreamReader>

namespace {

// Adjacent character tokens (the stream reader splits text at references) become one text
// node, as in a DOM built by QDomDocument.
class TextBuffer {
public:
    void add(const QStringRef& text, bool cdata)
    {
        if (!m_text.isEmpty() && cdata != m_cdata)
            flush();
        m_text += text;
        m_cdata = cdata;
    }
    void flush()
    {
        if (m_text.isEmpty() || m_parent.isNull())
            return;
        m_parent.appendChild(
            m_cdata ? QDomNode(m_document.createCDATASection(m_text)) : QDomNode(m_document.createTextNode(m_text)));
        m_text.clear();
    }
    void setTarget(const QDomDocument& document, const QDomNode& parent)
    {
        m_document = document;
        m_parent = parent;
    }

private:
    QDomDocument m_document;
    QDomNode m_parent;
    QString m_text;
    bool m_cdata = false;
};

} // namespace

namespace fb2 {

bool isXmlWhitespace(const QString& text)
{
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            return false;
    }
    return true;
}

// The XML declaration of decoded text: its encoding has been applied already, and the stream
// reader would refuse a name it does not know.
static int declarationEnd(const QString& text)
{
    if (!text.startsWith(QLatin1String("<?xml")) || text.size() < 6 || !text.at(5).isSpace())
        return 0;
    const int end = text.indexOf(QLatin1String("?>"));
    return end < 0 ? 0 : end + 2;
}

bool parseXml(const QString& text, int maxDepth, QDomDocument* document, QString* error)
{
    if (epub::XmlGuard::hasCrowdedElement(text)) {
        if (error)
            *error = epub::XmlGuard::crowdedElementMessage();
        return false;
    }
    QDomDocument doc { QDomDocumentType() };
    QXmlStreamReader reader(text.mid(declarationEnd(text)));
    QDomNode current = doc;
    TextBuffer buffer;
    buffer.setTarget(doc, current);
    int depth = 0;
    QString failure;

    while (failure.isEmpty() && !reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token != QXmlStreamReader::Characters)
            buffer.flush();
        switch (token) {
        case QXmlStreamReader::StartElement: {
            if (++depth > maxDepth) {
                failure = QStringLiteral("elements nested deeper than %1 levels").arg(maxDepth);
                break;
            }
            QDomElement element
                = doc.createElementNS(reader.namespaceUri().toString(), reader.qualifiedName().toString());
            const QXmlStreamAttributes attributes = reader.attributes();
            for (const QXmlStreamAttribute& attribute : attributes) {
                if (attribute.namespaceUri().isEmpty())
                    element.setAttribute(attribute.qualifiedName().toString(), attribute.value().toString());
                else
                    element.setAttributeNS(attribute.namespaceUri().toString(), attribute.qualifiedName().toString(),
                        attribute.value().toString());
            }
            current.appendChild(element);
            current = element;
            buffer.setTarget(doc, current);
            break;
        }
        case QXmlStreamReader::EndElement:
            --depth;
            current = current.parentNode();
            buffer.setTarget(doc, current);
            break;
        case QXmlStreamReader::Characters:
            // Outside the root element only white space is allowed, and it is not kept.
            if (depth > 0)
                buffer.add(reader.text(), reader.isCDATA());
            break;
        case QXmlStreamReader::Comment:
            current.appendChild(doc.createComment(reader.text().toString()));
            break;
        case QXmlStreamReader::ProcessingInstruction:
            current.appendChild(doc.createProcessingInstruction(
                reader.processingInstructionTarget().toString(), reader.processingInstructionData().toString()));
            break;
        case QXmlStreamReader::DTD:
            if (!reader.entityDeclarations().isEmpty())
                failure = QStringLiteral("the document type declares entities");
            break;
        default:
            break;
        }
    }
    if (failure.isEmpty() && reader.hasError())
        failure = reader.errorString();
    if (failure.isEmpty() && doc.documentElement().isNull())
        failure = QStringLiteral("no root element");
    if (!failure.isEmpty()) {
        if (error)
            *error = QStringLiteral("%1 (line %2, column %3)")
                         .arg(failure)
                         .arg(reader.lineNumber())
                         .arg(reader.columnNumber());
        return false;
    }
    *document = doc;
    return true;
}

} // namespace fb2

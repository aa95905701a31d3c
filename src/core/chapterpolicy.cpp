#include "chapterpolicy.h"

#include "formats/documenttype.h"
#include "formats/epub/chapterencoding.h"

#include <QRegularExpression>
#include <QVector>
#include <QXmlStreamReader>
#include <QtDebug>

#include <algorithm>

namespace chapterpolicy {

namespace {

    enum class Markup { Html, Xml };

    // Text replacing removed characters of the decoded chapter at a character offset.
    struct Edit {
        int at = 0;
        int removed = 0;
        QString inserted;
    };

    QString htmlMeta()
    {
        return QStringLiteral("<meta http-equiv=\"Content-Security-Policy\" content=\"%1\">").arg(policy());
    }

    QString xmlMeta()
    {
        return QStringLiteral("<meta xmlns=\"http://www.w3.org/1999/xhtml\" http-equiv=\"Content-Security-Policy\" "
                              "content=\"%1\"/>")
            .arg(policy());
    }

    bool isBlank(QChar c)
    {
        return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r')
            || c == QLatin1Char('\f');
    }

    // Where the HTML parser's tree starts: past blanks, comments, doctypes and bogus comments
    // ("<?...>", "<!...>"), which stay outside the root (a doctype after the meta would turn
    // quirks on). -1 when a comment never ends.
    int htmlStart(const QString& text)
    {
        int at = 0;
        // The next comment ends found so far: each is looked for again only once passed, so a
        // prolog of many comments is read once, not once a comment.
        int plain = -2;
        int bang = -2;
        while (at < text.size()) {
            if (isBlank(text.at(at))) {
                ++at;
                continue;
            }
            if (text.at(at) != QLatin1Char('<'))
                return at;
            if (text.midRef(at, 4) == QLatin1String("<!--")) {
                // "<!-->" and "<!--->" are whole comments.
                if (text.midRef(at + 4, 1) == QLatin1String(">") || text.midRef(at + 4, 2) == QLatin1String("->")) {
                    at = text.indexOf(QLatin1Char('>'), at + 4) + 1;
                    continue;
                }
                if (plain != -1 && plain < at + 4)
                    plain = text.indexOf(QLatin1String("-->"), at + 4);
                if (bang != -1 && bang < at + 4)
                    bang = text.indexOf(QLatin1String("--!>"), at + 4);
                if (plain < 0 && bang < 0)
                    return -1;
                at = (bang < 0 || (plain >= 0 && plain < bang)) ? plain + 3 : bang + 4;
                continue;
            }
            const QStringRef opening = text.midRef(at, 2);
            if (opening != QLatin1String("<!") && opening != QLatin1String("<?"))
                return at;
            const int end = text.indexOf(QLatin1Char('>'), at + 2);
            if (end < 0)
                return -1;
            at = end + 1;
        }
        return at;
    }

    const QString kStylesheetTarget = QStringLiteral("xml-stylesheet");

    // The style sheet of an xml-stylesheet instruction as an element of the chapter: a link to a
    // CSS file of the book (an address without a scheme), with the instruction's media; one that
    // names no type is CSS to the view as well. Empty for any other instruction: an XSL style
    // sheet, an alternate one, an address elsewhere, or pseudo-attributes the view's parser might
    // read otherwise than this one (it reads them as the attributes of a start tag, as this does).
    QString stylesheetLink(const QString& data)
    {
        QXmlStreamReader reader(QStringLiteral("<a ") + data + QStringLiteral("/>"));
        if (reader.readNext() != QXmlStreamReader::StartDocument || reader.readNext() != QXmlStreamReader::StartElement)
            return QString();
        const QXmlStreamAttributes attributes = reader.attributes();
        while (!reader.atEnd())
            reader.readNext();
        if (reader.hasError())
            return QString();
        QString link;
        for (const QXmlStreamAttribute& attribute : attributes) {
            const QStringRef name = attribute.qualifiedName();
            const QString value = attribute.value().toString();
            if (name == QLatin1String("type") && value.trimmed().toLower() != QLatin1String("text/css"))
                return QString();
            if (name == QLatin1String("alternate") && value.trimmed() == QLatin1String("yes"))
                return QString();
            if (name == QLatin1String("href") || name == QLatin1String("media"))
                link += QStringLiteral(" %1=\"%2\"").arg(name, value.toHtmlEscaped());
        }
        static const QRegularExpression relative(QStringLiteral("\\shref=\"[^:\"]*(\"|[/?#])"));
        if (!link.contains(relative))
            return QString();
        return QStringLiteral("<link xmlns=\"http://www.w3.org/1999/xhtml\" rel=\"stylesheet\" type=\"text/css\"%1/>")
            .arg(link);
    }

    // The edits of an XML chapter: the meta and the book's CSS style sheets after the root's
    // start tag, every xml-stylesheet instruction renamed. False, with the reason, when the root's
    // start tag is not found or the meta would not bind there.
    bool xmlEdits(const QString& text, bool policy, QVector<Edit>* edits, QString* refusal)
    {
        QXmlStreamReader reader(text);
        Edit root;
        bool rootFound = false;
        QString links;
        QVector<Edit> instructions;
        while (!reader.atEnd()) {
            const qint64 before = reader.characterOffset();
            const QXmlStreamReader::TokenType token = reader.readNext();
            if (token == QXmlStreamReader::ProcessingInstruction
                && reader.processingInstructionTarget() == kStylesheetTarget) {
                // Only blanks stand between two tokens outside the root.
                const int start = text.indexOf(QLatin1String("<?"), int(before));
                if (start < 0 || text.midRef(start + 2, kStylesheetTarget.size()) != kStylesheetTarget)
                    return false;
                instructions.append({ start + 2, 0, QStringLiteral("refused-") });
                if (!rootFound)
                    links += stylesheetLink(reader.processingInstructionData().toString());
            } else if (token == QXmlStreamReader::StartElement && !rootFound) {
                rootFound = true;
                // The view keeps what a template holds out of the document, the meta with it, while
                // the template's own handlers stay in the document; nothing of a template is shown.
                if (reader.name() == QLatin1String("template")
                    && reader.namespaceUri() == QLatin1String("http://www.w3.org/1999/xhtml")) {
                    *refusal = QStringLiteral("its root element is a template");
                    return false;
                }
                const int end = int(reader.characterOffset());
                if (text.midRef(end - 2, 2) == QLatin1String("/>")) {
                    root = { end - 2, 1, QStringLiteral("></") + reader.qualifiedName() };
                } else if (end > 0 && text.at(end - 1) == QLatin1Char('>')) {
                    root = { end, 0, QString() };
                } else {
                    return false;
                }
            }
        }
        if (!rootFound) {
            *refusal = QStringLiteral("no root element found");
            return false;
        }
        if (reader.hasError()) {
            // The view's parser stops at an error too, but where this one stopped it may read on:
            // whatever could be such an instruction is renamed.
            instructions.clear();
            const QString opening = QStringLiteral("<?") + kStylesheetTarget;
            for (int at = text.indexOf(opening); at >= 0; at = text.indexOf(opening, at + 1))
                instructions.append({ at + 2, 0, QStringLiteral("refused-") });
        }
        // The policy first: it binds only what comes after it.
        root.inserted.insert(root.removed, (policy ? xmlMeta() : QString()) + links);
        *edits = instructions;
        edits->append(root);
        return true;
    }

    // An XML document for one whose root is not found or holds the policy where it does not bind:
    // the policy and nothing of the book.
    QString emptyDocument()
    {
        return QStringLiteral("<html xmlns=\"http://www.w3.org/1999/xhtml\">") + xmlMeta()
            + QStringLiteral("<body/></html>");
    }

} // namespace

QString policy() { return QStringLiteral("script-src 'none'"); }

QByteArray contentType(const QString& fileName) { return documenttype::servedType(fileName) + "; charset=utf-8"; }

bool isDocument(const QString& fileName) { return documenttype::isDocument(fileName); }

QByteArray served(const QByteArray& data, const QString& fileName, bool policy)
{
    const Markup markup = documenttype::readsAsXml(fileName) ? Markup::Xml : Markup::Html;
    const QString text = epub::ChapterEncoding::decoded(data);
    QVector<Edit> edits;
    if (markup == Markup::Html) {
        // A comment that never ends holds the rest of the file: the meta goes before it.
        if (policy)
            edits.append({ qMax(0, htmlStart(text)), 0, htmlMeta() });
    } else if (QString refusal; !xmlEdits(text, policy, &edits, &refusal)) {
        qWarning().noquote() << "The document" << fileName << "is served empty:" << refusal;
        return emptyDocument().toUtf8();
    }
    // In one pass from the first edit to the last, so the work stays linear however many there are.
    std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at < b.at; });
    QString out;
    out.reserve(text.size() + 1024);
    int copied = 0;
    for (const Edit& edit : qAsConst(edits)) {
        out += text.midRef(copied, edit.at - copied);
        out += edit.inserted;
        copied = edit.at + edit.removed;
    }
    out += text.midRef(copied);
    return out.toUtf8();
}

} // namespace chapterpolicy

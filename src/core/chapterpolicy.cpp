#include "chapterpolicy.h"

#include <QRegularExpression>
#include <QTextCodec>
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

    // The codec of the byte-order mark the text starts with, and the mark's length.
    QTextCodec* markCodec(const QByteArray& data, int* length)
    {
        static const struct {
            QByteArray mark;
            const char* codec;
        } marks[] = { { QByteArray("\xFF\xFE\0\0", 4), "UTF-32LE" }, { QByteArray("\0\0\xFE\xFF", 4), "UTF-32BE" },
            { QByteArray("\xEF\xBB\xBF"), "UTF-8" }, { QByteArray("\xFF\xFE"), "UTF-16LE" },
            { QByteArray("\xFE\xFF"), "UTF-16BE" } };
        for (const auto& mark : marks) {
            if (data.startsWith(mark.mark)) {
                *length = mark.mark.size();
                return QTextCodec::codecForName(mark.codec);
            }
        }
        *length = 0;
        return nullptr;
    }

    QByteArray encoded(QTextCodec* codec, const QString& text)
    {
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        return codec->fromUnicode(text.constData(), text.size(), &state);
    }

    QString decoded(QTextCodec* codec, const QByteArray& data)
    {
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        return codec->toUnicode(data.constData(), data.size(), &state);
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

    // The edits of an XML chapter: the meta after the root's start tag, every xml-stylesheet
    // instruction renamed. False when the root's start tag is not found.
    bool xmlEdits(const QString& text, bool policy, QVector<Edit>* edits)
    {
        QXmlStreamReader reader(text);
        Edit root;
        bool rootFound = false;
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
            } else if (token == QXmlStreamReader::StartElement && !rootFound) {
                rootFound = true;
                const int end = int(reader.characterOffset());
                if (text.midRef(end - 2, 2) == QLatin1String("/>")) {
                    root = { end - 2, 1, QLatin1Char('>') + xmlMeta() + QStringLiteral("</") + reader.qualifiedName() };
                } else if (end > 0 && text.at(end - 1) == QLatin1Char('>')) {
                    root = { end, 0, xmlMeta() };
                } else {
                    return false;
                }
            }
        }
        if (!rootFound)
            return false;
        if (reader.hasError()) {
            // The view's parser stops at an error too, but where this one stopped it may read on:
            // whatever could be such an instruction is renamed.
            instructions.clear();
            const QString opening = QStringLiteral("<?") + kStylesheetTarget;
            for (int at = text.indexOf(opening); at >= 0; at = text.indexOf(opening, at + 1))
                instructions.append({ at + 2, 0, QStringLiteral("refused-") });
        }
        *edits = instructions;
        if (policy)
            edits->append(root);
        std::sort(edits->begin(), edits->end(), [](const Edit& a, const Edit& b) { return a.at < b.at; });
        return true;
    }

    // The edits applied to the bytes: each text between edits stays as written, so only what
    // the edits put in is encoded. False when an edit's place is not where its text encodes to.
    bool applied(const QByteArray& data, int mark, QTextCodec* codec, const QString& text, const QVector<Edit>& edits,
        QByteArray* out)
    {
        // Whether the bytes at a place are these; each stretch of the text is encoded once, so
        // the work stays linear however many edits there are.
        const auto holds = [&data](int at, const QByteArray& bytes) {
            return at >= 0 && at + bytes.size() <= data.size()
                && std::equal(bytes.constBegin(), bytes.constEnd(), data.constBegin() + at);
        };
        QByteArray result = data.left(mark);
        int copied = mark; // bytes of data taken over so far
        int read = 0; // characters of text those bytes hold
        for (const Edit& edit : edits) {
            if (edit.at < read)
                return false;
            const QByteArray between = encoded(codec, text.mid(read, edit.at - read));
            const QByteArray removed = encoded(codec, text.mid(edit.at, edit.removed));
            const int at = copied + between.size();
            if (!holds(copied, between) || !holds(at, removed))
                return false;
            result += between;
            result += encoded(codec, edit.inserted);
            copied = at + removed.size();
            read = edit.at + edit.removed;
        }
        result += data.mid(copied);
        *out = result;
        return true;
    }

    QByteArray unchanged(const QByteArray& data, const QString& fileName, const char* why)
    {
        qWarning() << "The chapter is served as written, without its script policy:" << fileName << why;
        return data;
    }

} // namespace

QString policy() { return QStringLiteral("script-src 'none'"); }

QByteArray contentType(const QString& fileName)
{
    const QString suffix = fileName.mid(fileName.lastIndexOf(QLatin1Char('.')) + 1).toLower();
    if (suffix == QLatin1String("xhtml") || suffix == QLatin1String("xht"))
        return QByteArrayLiteral("application/xhtml+xml");
    if (suffix == QLatin1String("xml"))
        return QByteArrayLiteral("application/xml");
    if (suffix == QLatin1String("svg"))
        return QByteArrayLiteral("image/svg+xml");
    return QByteArrayLiteral("text/html");
}

QByteArray served(const QByteArray& data, const QString& fileName, bool policy)
{
    const Markup markup = contentType(fileName) == "text/html" ? Markup::Html : Markup::Xml;
    int mark = 0;
    QTextCodec* codec = markCodec(data, &mark);
    if (!codec) {
        const QByteArray start = data.left(4);
        if (start.contains('\0'))
            return unchanged(data, fileName, "(a wide encoding without a byte-order mark)");
        if (markup == Markup::Html) {
            // The HTML parser reads the prolog in an ASCII-compatible encoding: the bytes are
            // taken one for one, and only a shift into another character set is in the way.
            codec = QTextCodec::codecForName("ISO-8859-1");
        } else {
            static const QRegularExpression declaration(
                QStringLiteral("^<\\?xml\\s[^>]*?encoding\\s*=\\s*[\"']([^\"']+)[\"']"));
            const QRegularExpressionMatch match = declaration.match(QString::fromLatin1(data.left(512)));
            codec = match.hasMatch() ? QTextCodec::codecForName(match.captured(1).toLatin1())
                                     : QTextCodec::codecForName("UTF-8");
            if (!codec)
                return unchanged(data, fileName, "(an encoding not known here)");
        }
    }
    const QString text = decoded(codec, data.mid(mark));
    QVector<Edit> edits;
    if (markup == Markup::Html) {
        if (!policy)
            return data;
        const int at = htmlStart(text);
        if (at < 0)
            return unchanged(data, fileName, "(a comment before the markup never ends)");
        const QStringRef prolog = text.leftRef(at);
        if (mark == 0 && (prolog.contains(QLatin1Char('\x1b')) || prolog.contains(QLatin1String("~{"))))
            return unchanged(data, fileName, "(a shift into another character set before the markup)");
        edits.append({ at, 0, htmlMeta() });
    } else if (!xmlEdits(text, policy, &edits)) {
        return unchanged(data, fileName, "(no root element found)");
    }
    QByteArray out;
    if (!applied(data, mark, codec, text, edits, &out))
        return unchanged(data, fileName, "(its encoding does not keep the markup's places)");
    return out;
}

} // namespace chapterpolicy

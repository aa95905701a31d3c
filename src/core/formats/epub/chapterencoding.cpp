#include "chapterencoding.h"

#include "../fb2/fbtextcodec.h"

#include <QRegularExpression>
#include <QString>
#include <QTextCodec>

namespace epub {

namespace {

    const QByteArray Utf8Mark("\xEF\xBB\xBF");

    // The HTML parser looks for a meta charset in the head; a chapter without a body tag is
    // looked at this far.
    constexpr int MaxHeadBytes = 64 * 1024;

    const QRegularExpression& declarationEncoding()
    {
        static const QRegularExpression pattern(QStringLiteral("(\\bencoding\\s*=\\s*)([\"'])([^\"']*)\\2"));
        return pattern;
    }

    // A meta charset, in either form: charset="x" or content="text/html; charset=x".
    const QRegularExpression& metaCharset()
    {
        static const QRegularExpression pattern(
            QStringLiteral("(<meta\\b[^>]*?\\bcharset\\s*=\\s*[\"']?)([^\"'\\s;/>]+)"),
            QRegularExpression::CaseInsensitiveOption);
        return pattern;
    }

    // Where the XML declaration ends ("?>"), or -1 when the text has none.
    template <typename Text> int declarationEnd(const Text& text, const Text& start, const Text& end)
    {
        return text.startsWith(start) ? text.indexOf(end) : -1;
    }

    // The encoding the chapter names, read as ASCII: its XML declaration's, else a meta charset
    // of its head.
    QByteArray declaredEncoding(const QByteArray& data)
    {
        const QByteArray text
            = data.startsWith(Utf8Mark) ? data.mid(Utf8Mark.size(), MaxHeadBytes) : data.left(MaxHeadBytes);
        const int end = declarationEnd<QByteArray>(text, "<?xml", "?>");
        if (end > 0) {
            const QRegularExpressionMatch match
                = declarationEncoding().match(QString::fromLatin1(text.constData(), end));
            if (match.hasMatch())
                return match.captured(3).trimmed().toLatin1();
        }
        const int body = text.toLower().indexOf("<body");
        const QRegularExpressionMatch meta
            = metaCharset().match(QString::fromLatin1(text.constData(), body < 0 ? text.size() : body));
        return meta.hasMatch() ? meta.captured(2).toLatin1() : QByteArray();
    }

    // Encodings whose bytes look like ASCII where they are not: shifts and escapes switch to
    // letters made of printable bytes.
    bool isShifted(const QTextCodec* codec)
    {
        const QByteArray name = codec->name().toUpper();
        return name.startsWith("ISO-2022") || name.startsWith("HZ");
    }

    // The declaration and the meta charsets of the head say UTF-8. The HTML parser ends the
    // declaration at its first ">" (a broken one may have one before "?>") and shows what
    // follows: only what it hides is rewritten.
    void declareUtf8(QString* text)
    {
        const int end = qMin(declarationEnd<QString>(*text, QStringLiteral("<?xml"), QStringLiteral("?>")),
            int(text->indexOf(QLatin1Char('>'))));
        if (end > 0) {
            QString declaration = text->left(end);
            declaration.replace(declarationEncoding(), QStringLiteral("\\1\\2UTF-8\\2"));
            text->replace(0, end, declaration);
        }
        const int body = text->indexOf(QLatin1String("<body"), 0, Qt::CaseInsensitive);
        const int headEnd = body < 0 ? text->size() : body;
        QString head = text->left(headEnd);
        head.replace(metaCharset(), QStringLiteral("\\1UTF-8"));
        text->replace(0, headEnd, head);
    }

    // The codec of the byte-order mark the data starts with, and the mark's length.
    QTextCodec* markCodec(const QByteArray& data, int* length)
    {
        static const struct {
            QByteArray mark;
            const char* codec;
        } marks[] = { { QByteArray("\xFF\xFE\0\0", 4), "UTF-32LE" }, { QByteArray("\0\0\xFE\xFF", 4), "UTF-32BE" },
            { Utf8Mark, "UTF-8" }, { QByteArray("\xFF\xFE"), "UTF-16LE" }, { QByteArray("\xFE\xFF"), "UTF-16BE" } };
        for (const auto& mark : marks) {
            if (data.startsWith(mark.mark)) {
                *length = mark.mark.size();
                return QTextCodec::codecForName(mark.codec);
            }
        }
        *length = 0;
        return nullptr;
    }

    // Whether an encoding writes the ASCII a declaration is made of as ASCII: one that does not
    // (UTF-16, EBCDIC) cannot be the encoding of a declaration read as ASCII.
    bool writesAsciiAsAscii(QTextCodec* codec)
    {
        const QString probe = QStringLiteral("<?xml version=\"1.0\" encoding='x'?><meta charset=a-Z_09;/>");
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        return codec->fromUnicode(probe.constData(), probe.size(), &state) == probe.toLatin1();
    }

    // UTF-16 without a mark (isUtf16), by the side its zero bytes stand on.
    QTextCodec* utf16WithoutMark(const QByteArray& data)
    {
        return QTextCodec::codecForName(data.startsWith(QByteArray("\0<", 2)) ? "UTF-16BE" : "UTF-16LE");
    }

    // UTF-32 without a mark, by its first character: ASCII beside three zero bytes.
    QTextCodec* utf32WithoutMark(const QByteArray& data)
    {
        if (data.size() < 4 || data.size() % 4 != 0)
            return nullptr;
        const auto ascii = [](char c) { return c > 0; };
        if (ascii(data.at(0)) && data.at(1) == 0 && data.at(2) == 0 && data.at(3) == 0)
            return QTextCodec::codecForName("UTF-32LE");
        if (data.at(0) == 0 && data.at(1) == 0 && data.at(2) == 0 && ascii(data.at(3)))
            return QTextCodec::codecForName("UTF-32BE");
        return nullptr;
    }

} // namespace

QString ChapterEncoding::decoded(const QByteArray& data)
{
    int skipped = 0;
    QTextCodec* codec = markCodec(data, &skipped);
    if (!codec) {
        const QByteArray name = declaredEncoding(data);
        QTextCodec* declared = name.isEmpty() ? nullptr : QTextCodec::codecForName(name);
        if (declared && writesAsciiAsAscii(declared))
            codec = declared;
    }
    if (!codec)
        codec = utf32WithoutMark(data);
    if (!codec && isUtf16(data))
        codec = utf16WithoutMark(data);
    if (!codec)
        codec = fb2::detectCodec(data);
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    QString text = codec->toUnicode(data.constData() + skipped, data.size() - skipped, &state);
    declareUtf8(&text);
    return text;
}

bool ChapterEncoding::isUtf16(const QByteArray& data)
{
    if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF"))
        return true;
    // Without a mark, "<" and the ASCII character after it, each beside a zero byte: a UTF-8
    // chapter with a NUL after its first "<" is no UTF-16.
    if (data.size() < 4)
        return false;
    const auto ascii = [](char c) { return c > 0; };
    return (data.at(0) == '<' && data.at(1) == 0 && ascii(data.at(2)) && data.at(3) == 0)
        || (data.at(0) == 0 && data.at(1) == '<' && data.at(2) == 0 && ascii(data.at(3)));
}

bool ChapterEncoding::toUtf8(const QByteArray& data, QByteArray* out)
{
    int skipped = 0;
    QTextCodec* codec = markCodec(data, &skipped);
    // A chapter marked as UTF-8 is one already.
    if (data.startsWith(Utf8Mark))
        return false;
    if (!codec && isUtf16(data)) {
        codec = utf16WithoutMark(data);
    } else if (!codec) {
        // A declared UTF-16 that was read as ASCII is no UTF-16: only shifted encodings count.
        const QByteArray name = declaredEncoding(data);
        QTextCodec* declared = name.isEmpty() ? nullptr : QTextCodec::codecForName(name);
        codec = declared && isShifted(declared) ? declared : nullptr;
    }
    if (!codec)
        return false;
    QString text = codec->toUnicode(data.constData() + skipped, data.size() - skipped);
    declareUtf8(&text);
    *out = text.toUtf8();
    return true;
}

} // namespace epub

#include "chapterencoding.h"

#include "../fb2/fbtextcodec.h"
#include "formats/markupscan.h"

#include <QHash>
#include <QRegularExpression>
#include <QString>
#include <QTextCodec>

namespace epub {

namespace {

    const QByteArray Utf8Mark("\xEF\xBB\xBF");

    // The head of a chapter before the HTML parser stops looking for a meta charset, once it has
    // read a tag that cannot stand in a head.
    constexpr int PrescanBytes = 1024;

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

    // The web's names of encodings (its standard's table of labels) and the codec each stands for:
    // what a label in a chapter means is what it means to the view. The view knows some of the
    // standard's labels not ("iso_8859-2", "iso88599", "koi8_r", "x-cp1253"...): they are none
    // here either. Its Big5-HKSCS is the standard's Big5 with Hong Kong's letters. "replacement"
    // names no codec: the view shows such a text as one replacement character. Labels the view
    // knows beyond these (its UTF-7, SCSU and BOCU-1 not among them) are none here.
    // clang-format off
    const struct {
        const char* codec;
        const char* labels;
    } WebLabels[] = {
        { "UTF-8", "unicode-1-1-utf-8 unicode11utf8 unicode20utf8 utf-8 utf8 x-unicode20utf8" },
        { "IBM866", "866 cp866 csibm866 ibm866" },
        { "ISO-8859-2", "csisolatin2 iso-8859-2 iso-ir-101 iso8859-2 iso_8859-2:1987 l2 latin2" },
        { "ISO-8859-3", "csisolatin3 iso-8859-3 iso-ir-109 iso8859-3 iso_8859-3:1988 l3 latin3" },
        { "ISO-8859-4", "csisolatin4 iso-8859-4 iso-ir-110 iso8859-4 iso_8859-4:1988 l4 latin4" },
        { "ISO-8859-5", "csisolatincyrillic cyrillic iso-8859-5 iso-ir-144 iso8859-5 iso_8859-5:1988" },
        { "ISO-8859-6", "arabic asmo-708 csisolatinarabic ecma-114 iso-8859-6 iso-8859-6-e iso-8859-6-i iso-ir-127 "
                        "iso8859-6 iso_8859-6:1987" },
        { "ISO-8859-7", "csisolatingreek ecma-118 elot_928 greek greek8 iso-8859-7 iso-ir-126 iso8859-7 "
                        "iso_8859-7:1987 sun_eu_greek" },
        { "ISO-8859-8", "csisolatinhebrew hebrew iso-8859-8 iso-8859-8-e iso-ir-138 iso8859-8 iso_8859-8:1988 visual" },
        { "ISO-8859-8-I", "csiso88598i iso-8859-8-i logical" },
        { "ISO-8859-10", "csisolatin6 iso-8859-10 iso-ir-157 iso8859-10 l6 latin6" },
        { "ISO-8859-13", "iso-8859-13 iso8859-13" },
        { "ISO-8859-14", "iso-8859-14 iso8859-14" },
        { "ISO-8859-15", "csisolatin9 iso-8859-15 iso8859-15 l9" },
        { "KOI8-R", "cskoi8r koi koi8 koi8-r" },
        { "KOI8-U", "koi8-u" },
        { "macintosh", "csmacintosh mac macintosh x-mac-roman" },
        { "windows-874", "dos-874 iso-8859-11 iso8859-11 tis-620 windows-874" },
        { "windows-1250", "cp1250 windows-1250 x-cp1250" },
        { "windows-1251", "cp1251 windows-1251 x-cp1251" },
        { "windows-1252", "ansi_x3.4-1968 ascii cp1252 cp819 csisolatin1 ibm819 iso-8859-1 iso-ir-100 iso8859-1 "
                          "iso88591 iso_8859-1 iso_8859-1:1987 l1 latin1 us-ascii windows-1252 x-cp1252" },
        { "windows-1253", "cp1253 windows-1253" },
        { "windows-1254", "cp1254 csisolatin5 iso-8859-9 iso-ir-148 iso8859-9 iso_8859-9:1989 l5 latin5 windows-1254" },
        { "windows-1255", "cp1255 windows-1255" },
        { "windows-1256", "cp1256 windows-1256" },
        { "windows-1257", "cp1257 windows-1257" },
        { "windows-1258", "cp1258 windows-1258" },
        { "x-mac-cyrillic", "x-mac-cyrillic x-mac-ukrainian" },
        { "GBK", "chinese csgb2312 csiso58gb231280 gb2312 gb_2312-80 gbk iso-ir-58 x-gbk" },
        { "GB18030", "gb18030" },
        { "Big5", "big5 cn-big5 csbig5 x-x-big5" },
        { "Big5-HKSCS", "big5-hkscs" },
        { "EUC-JP", "cseucpkdfmtjapanese euc-jp x-euc-jp" },
        { "ISO-2022-JP", "iso-2022-jp" },
        { "Shift_JIS", "csshiftjis ms932 ms_kanji shift-jis shift_jis sjis windows-31j x-sjis" },
        { "EUC-KR", "cseuckr csksc56011987 euc-kr iso-ir-149 korean ks_c_5601-1987 ks_c_5601-1989 ksc5601 ksc_5601 "
                    "windows-949" },
        { "replacement", "csiso2022kr hz-gb-2312 iso-2022-cn iso-2022-cn-ext iso-2022-kr replacement" },
        { "UTF-16BE", "unicodefffe utf-16be" },
        { "UTF-16LE", "csunicode iso-10646-ucs-2 ucs-2 unicode unicodefeff utf-16 utf-16le" },
        // Read from a meta, the user-defined encoding is windows-1252.
        { "windows-1252", "x-user-defined" },
    };
    // clang-format on

    const QHash<QByteArray, QByteArray>& labelTable()
    {
        static const QHash<QByteArray, QByteArray> table = [] {
            QHash<QByteArray, QByteArray> labels;
            for (const auto& encoding : WebLabels) {
                for (const QByteArray& label : QByteArray(encoding.labels).split(' '))
                    labels.insert(label, encoding.codec);
            }
            return labels;
        }();
        return table;
    }

    // Whether an encoding writes the ASCII a declaration is made of as ASCII: one that does not
    // (UTF-16, EBCDIC) cannot be the encoding of a declaration read as ASCII.
    bool writesAsciiAsAscii(QTextCodec* codec)
    {
        const QString probe = QStringLiteral("<?xml version=\"1.0\" encoding='x'?><meta charset=a-Z_09;/>");
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        return codec->fromUnicode(probe.constData(), probe.size(), &state) == probe.toLatin1();
    }

    // The codec a label in the chapter's head stands for, when the byte passes can read the head
    // in it; null for any other label.
    QTextCodec* labelCodec(const QByteArray& label)
    {
        const QByteArray name = ChapterEncoding::webEncoding(label);
        QTextCodec* codec = name.isEmpty() ? nullptr : QTextCodec::codecForName(name);
        return codec && writesAsciiAsAscii(codec) ? codec : nullptr;
    }

    // The encoding an XML declaration at the very start names, read as the view reads it: up to
    // the first ">".
    QByteArray declarationLabel(const QByteArray& data)
    {
        if (!data.startsWith("<?xml"))
            return QByteArray();
        const int end = data.indexOf('>');
        const int name = end < 0 ? -1 : data.left(end).indexOf("encoding");
        if (name < 0)
            return QByteArray();
        int i = name + 8;
        while (i < end && uchar(data.at(i)) <= ' ')
            ++i;
        if (i >= end || data.at(i) != '=')
            return QByteArray();
        ++i;
        while (i < end && uchar(data.at(i)) <= ' ')
            ++i;
        if (i >= end || (data.at(i) != '"' && data.at(i) != '\''))
            return QByteArray();
        const int close = data.indexOf(data.at(i), i + 1);
        return close < 0 || close >= end ? QByteArray() : data.mid(i + 1, close - i - 1);
    }

    // The encoding named in a content attribute's "charset=", as the view finds it.
    QByteArray contentCharset(const QByteArray& value)
    {
        const QByteArray lower = value.toLower();
        const int size = value.size();
        for (int pos = lower.indexOf("charset"); pos >= 0; pos = lower.indexOf("charset", pos)) {
            pos += 7;
            while (pos < size && uchar(value.at(pos)) <= ' ')
                ++pos;
            if (pos >= size || value.at(pos) != '=')
                continue;
            ++pos;
            while (pos < size && uchar(value.at(pos)) <= ' ')
                ++pos;
            char quote = 0;
            if (pos < size && (value.at(pos) == '"' || value.at(pos) == '\''))
                quote = value.at(pos++);
            if (pos >= size)
                break;
            int end = pos;
            while (end < size
                && (quote ? value.at(end) != quote
                          : uchar(value.at(end)) > ' ' && value.at(end) != '"' && value.at(end) != '\''
                            && value.at(end) != ';'))
                ++end;
            if (quote && end == size)
                break;
            return value.mid(pos, end - pos);
        }
        return QByteArray();
    }

    // The encoding a meta tag's attributes name: charset, or a content's charset with an
    // http-equiv of content-type, each read once, the first of them that has a value.
    QByteArray metaLabel(const QByteArray& data, int from, int to)
    {
        bool pragma = false;
        bool fromContent = false;
        QByteArray charset;
        markupscan::Attribute attribute;
        for (int at = from; markupscan::nextAttribute(data, at, to, &attribute); at = attribute.end) {
            int begin = 0;
            int end = 0;
            markupscan::attributeValue(data, attribute, &begin, &end);
            const QByteArray value = data.mid(begin, end - begin);
            if (markupscan::nameIs(data, attribute, "http-equiv")) {
                pragma = pragma || value.trimmed().toLower() == "content-type";
            } else if (charset.isEmpty() && markupscan::nameIs(data, attribute, "charset")) {
                charset = value;
                fromContent = false;
            } else if (charset.isEmpty() && markupscan::nameIs(data, attribute, "content")) {
                charset = contentCharset(value);
                fromContent = true;
            }
        }
        return fromContent && !pragma ? QByteArray() : charset.trimmed();
    }

    // The label of the first meta the view's prescan takes: the HTML tokenizer's reading of the
    // bytes as Latin-1, comments and the text of title, script, style and the like passed over,
    // up to a tag that cannot stand in a head and the first kilobyte after. A meta whose label
    // the view does not know is passed over too.
    QByteArray prescanLabel(const QByteArray& data)
    {
        static const markupscan::Names headTags { "script", "noscript", "style", "link", "meta", "object", "title",
            "base" };
        const int size = data.size();
        bool inHead = true;
        for (int pos = data.indexOf('<'); pos >= 0 && pos < size && (inHead || pos < PrescanBytes);
             pos = data.indexOf('<', pos)) {
            const int hidden = markupscan::hiddenEnd(data, pos);
            if (hidden >= 0) {
                pos = hidden;
                continue;
            }
            const bool endTag = pos + 1 < size && data.at(pos + 1) == '/';
            const int nameAt = pos + (endTag ? 2 : 1);
            if (nameAt >= size || !markupscan::isLetter(data.at(nameAt))) {
                ++pos;
                continue;
            }
            const int nameEnd = markupscan::tagNameEnd(data, nameAt);
            const int end = markupscan::tagEnd(data, nameEnd);
            // A tag the text ends in is none.
            if (data.at(end - 1) != '>')
                break;
            const QByteArray name = data.mid(nameAt, nameEnd - nameAt).toLower();
            if (!endTag && name == "meta") {
                const QByteArray label = metaLabel(data, nameEnd, end);
                if (!ChapterEncoding::webEncoding(label).isEmpty())
                    return label;
            }
            if (!headTags.contains(name) && (endTag || (name != "html" && name != "head")))
                inHead = false;
            pos = end;
            // The view's tokenizer reads no plug-in: what a noembed holds is markup.
            if (!endTag && name != "noembed" && (markupscan::rawTextElements().contains(name) || name == "plaintext"))
                pos = markupscan::rawTextEnd(data, name, end);
        }
        return QByteArray();
    }

    // Encodings whose bytes look like ASCII where they are not: shifts and escapes switch to
    // letters made of printable bytes.
    bool isShifted(const QTextCodec* codec)
    {
        const QByteArray name = codec->name().toUpper();
        return name.startsWith("ISO-2022") || name.startsWith("HZ");
    }

    // The declaration, and with metas the meta charsets of the head, say UTF-8. The HTML parser
    // ends the declaration at its first ">" (a broken one may have one before "?>") and shows
    // what follows: only what it hides is rewritten.
    void declareUtf8(QString* text, bool metas = true)
    {
        const int end = qMin(declarationEnd<QString>(*text, QStringLiteral("<?xml"), QStringLiteral("?>")),
            int(text->indexOf(QLatin1Char('>'))));
        if (end > 0) {
            QString declaration = text->left(end);
            declaration.replace(declarationEncoding(), QStringLiteral("\\1\\2UTF-8\\2"));
            text->replace(0, end, declaration);
        }
        if (!metas)
            return;
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

    // UTF-16 without a mark, by the side its zero bytes stand on: "<" and the ASCII character
    // after it, after any blanks, each beside a zero byte (a UTF-8 chapter with a NUL after its
    // first "<" is no UTF-16), or zero bytes on one side all through, as in plain text.
    QTextCodec* utf16WithoutMark(const QByteArray& data)
    {
        const auto ascii = [](char c) { return c > 0; };
        const int size = data.size() & ~1;
        for (const int side : { 0, 1 }) {
            int i = 0;
            while (i + 1 < size && data.at(i + 1 - side) == 0 && markupscan::isBlank(data.at(i + side)))
                i += 2;
            if (i + 3 < size && data.at(i + side) == '<' && data.at(i + 1 - side) == 0 && ascii(data.at(i + 2 + side))
                && data.at(i + 3 - side) == 0)
                return QTextCodec::codecForName(side == 0 ? "UTF-16LE" : "UTF-16BE");
        }
        return fb2::utf16WithoutMark(data);
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

QByteArray ChapterEncoding::webEncoding(const QByteArray& label)
{
    // The view strips the blanks of HTML around a label.
    return labelTable().value(label.trimmed().toLower());
}

QTextCodec* ChapterEncoding::codecOf(const QByteArray& data, int* markLength, bool detect)
{
    if (QTextCodec* marked = markCodec(data, markLength))
        return marked;
    if (QTextCodec* declared = labelCodec(declarationLabel(data)))
        return declared;
    if (QTextCodec* meta = labelCodec(prescanLabel(data)))
        return meta;
    if (QTextCodec* wide = utf32WithoutMark(data))
        return wide;
    if (QTextCodec* wide = utf16WithoutMark(data))
        return wide;
    // Where the detector has no answer, the view's own reading of a page that names no encoding.
    return detect ? fb2::detectEightBitCodec(data, QTextCodec::codecForName("windows-1252")) : nullptr;
}

QString ChapterEncoding::decoded(const QByteArray& data)
{
    int skipped = 0;
    QTextCodec* codec = codecOf(data, &skipped);
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    QString text = codec->toUnicode(data.constData() + skipped, data.size() - skipped, &state);
    // The reply says UTF-8, and the view takes that over a meta: a meta's text stays as the book has it.
    declareUtf8(&text, false);
    return text;
}

bool ChapterEncoding::isUtf16(const QByteArray& data)
{
    int skipped = 0;
    const QTextCodec* codec = codecOf(data, &skipped, false);
    return codec && codec->name().startsWith("UTF-16");
}

bool ChapterEncoding::toUtf8(const QByteArray& data, QByteArray* out)
{
    int skipped = 0;
    QTextCodec* codec = codecOf(data, &skipped);
    if (!isShifted(codec) && writesAsciiAsAscii(codec))
        return false;
    QString text = codec->toUnicode(data.constData() + skipped, data.size() - skipped);
    declareUtf8(&text);
    *out = text.toUtf8();
    return true;
}

} // namespace epub

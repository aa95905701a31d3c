#include "headingmarkup.h"

#include "formats/htmlnesting.h"
#include "formats/markupscan.h"

#include <QDebug>
#include <QHash>
#include <QPair>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace mobi {

namespace {

    // Reads the tags of a text for one pass, as the parser reads them: a tag runs to its ">"
    // (quoted values may hold one) or to the end of the text; SVG and MathML are followed, where
    // CDATA is text and no element's content is raw text. The pass goes on after each tag it has
    // read, so no character is read twice.
    class TagReader {
    public:
        TagReader(const QString& text, qint64* scanned)
            : m_text(text)
            , m_scanned(scanned)
            , m_foreign(HtmlNesting::foreignStretches(text))
        {
        }

        void count(qint64 characters)
        {
            if (m_scanned)
                *m_scanned += characters;
        }

        // The first what at or after from (-1 when none).
        int indexOf(QLatin1String what, int from, Qt::CaseSensitivity cs = Qt::CaseSensitive)
        {
            const int at = m_text.indexOf(what, from, cs);
            count((at < 0 ? m_text.size() : at) - from);
            return at;
        }
        // The same for one character, which a search finds several times as fast as a string.
        int indexOf(QLatin1Char what, int from)
        {
            const int at = m_text.indexOf(what, from);
            count((at < 0 ? m_text.size() : at) - from);
            return at;
        }

        // The end of what the parser reads at the "<" at position at as a comment, which hides
        // any tag in it: "<!--" up to its close, "<!", "<?" and "</" without a name up to ">";
        // in SVG and MathML, CDATA up to "]]>" (text there); -1 for anything else.
        int hiddenEnd(int at)
        {
            return markupscan::hiddenEnd(m_text, at, HtmlNesting::foreignAt(m_foreign, at).current, m_scanned);
        }

        // Where the text content of the element of the name (lower case) that starts at from
        // ends: at its end tag, or at the end of the text; from itself for an element whose
        // content is markup, in SVG and MathML too.
        int rawTextEnd(const QString& name, int from)
        {
            // Looked up as it is: a copy of each tag's name would cost more than the rest.
            static const QSet<QString> rawText = [] {
                QSet<QString> names { QStringLiteral("plaintext") };
                for (const QByteArray& element : markupscan::rawTextElements())
                    names.insert(QString::fromLatin1(element));
                return names;
            }();
            if (!rawText.contains(name) || HtmlNesting::foreignAt(m_foreign, from - 1).startsForeign)
                return from;
            const int end = markupscan::rawTextEnd(m_text, name.toLatin1(), from);
            count(end - from);
            return end;
        }

        // The name of the tag at "<" position at, in lower case ("/p" for an end tag), and the end
        // of the tag after its ">"; an empty name for a "<" that starts no tag (its name starts
        // with a letter of the ASCII alphabet). Written into name, whose room serves tag after
        // tag: a string made for each would cost more than the rest of the pass.
        void tagAt(int at, int* end, QString* name)
        {
            int i = at + 1;
            if (i < m_text.size() && m_text.at(i) == QLatin1Char('/'))
                ++i;
            if (i < m_text.size() && markupscan::isLetter(markupscan::latin1(m_text.at(i))))
                i = markupscan::tagNameEnd(m_text, i);
            count(i - at);
            // Known before the end is looked for: a run of "<" costs a step each.
            if (i == at + 1 || (i == at + 2 && m_text.at(at + 1) == QLatin1Char('/'))) {
                name->clear();
                return;
            }
            *end = tagEnd(i);
            const QChar* from = m_text.constData() + at + 1;
            const int length = i - at - 1;
            name->resize(length);
            QChar* to = name->data();
            for (int k = 0; k < length; ++k) {
                const ushort c = from[k].unicode();
                if (c >= 0x80) {
                    // Letter case beyond ASCII as the text has it, pairs of surrogates included.
                    *name = m_text.mid(at + 1, length).toLower();
                    return;
                }
                to[k] = QChar(c >= 'A' && c <= 'Z' ? ushort(c + ('a' - 'A')) : c);
            }
        }

        // The first tag at or after from, past what the parser reads as comments: where it
        // starts (-1 when there is none), its name as tagAt gives it, and its end.
        int nextTag(int from, QString* name, int* end)
        {
            for (int i = indexOf(QLatin1Char('<'), from); i >= 0; i = indexOf(QLatin1Char('<'), i + 1)) {
                const int hidden = hiddenEnd(i);
                if (hidden >= 0) {
                    i = hidden - 1;
                    continue;
                }
                tagAt(i, end, name);
                if (!name->isEmpty())
                    return i;
            }
            return -1;
        }

        // The end of the tag whose attributes start at from.
        int tagEnd(int from)
        {
            const int end = markupscan::tagEnd(m_text, from);
            count(end - from);
            return end;
        }

    private:
        const QString& m_text;
        qint64* m_scanned;
        // Where the text stands in SVG and MathML, as the nesting pass reads it.
        const QVector<HtmlNesting::ForeignStretch> m_foreign;
    };

    // The level of "h1".."h4" (any letter case) at position at; 0 for anything else.
    int headingLevelAt(const QString& text, int at)
    {
        if (at + 1 >= text.size() || (text.at(at) != QLatin1Char('h') && text.at(at) != QLatin1Char('H')))
            return 0;
        const ushort digit = text.at(at + 1).unicode();
        return digit >= '1' && digit <= '4' ? digit - '0' : 0;
    }

    bool isHeadingTag(const QString& name)
    {
        return name.size() == 2 && name.at(0) == QLatin1Char('h') && name.at(1) >= QLatin1Char('1')
            && name.at(1) <= QLatin1Char('6');
    }

    // Text-level elements a heading may hold, to be closed with it.
    bool isInlineTag(const QString& name)
    {
        static const QStringList names { "a", "abbr", "b", "big", "cite", "code", "del", "dfn", "em", "font", "i",
            "ins", "kbd", "q", "s", "samp", "small", "span", "strike", "strong", "sub", "sup", "tt", "u", "var" };
        return names.contains(name);
    }

    // Tags that start or end a block: a heading still open before one of them ends there.
    bool isBlockBoundary(const QString& name)
    {
        static const QStringList names { "p", "div", "blockquote", "table", "ul", "ol", "dl", "li", "dd", "dt",
            "center", "pre", "hr", "address", "section", "article", "body", "html" };
        const QString bare = name.startsWith(QLatin1Char('/')) ? name.mid(1) : name;
        return isHeadingTag(bare) || names.contains(bare);
    }

    // Elements that show nothing while they hold nothing that shows: text-level formatting, line
    // breaks and anchors. Anything else (an image, a control, an element not known) may show.
    bool showsNothingEmpty(const QString& name)
    {
        static const QSet<QString> names { "a", "abbr", "b", "bdi", "bdo", "big", "br", "cite", "code", "del", "dfn",
            "em", "font", "i", "ins", "kbd", "mark", "nobr", "s", "samp", "small", "span", "strike", "strong", "sub",
            "sup", "time", "tt", "u", "var", "wbr" };
        return names.contains(name);
    }

    // The character of the reference at amp ("&nbsp;", "&#160;", "&#xA0;") and the reference's
    // end; 0 for a reference to anything but a blank or format character, or for no reference.
    uint invisibleReferenceAt(const QString& text, int amp, int* end)
    {
        static const QHash<QString, uint> named { { "nbsp", 0xa0 }, { "ensp", 0x2002 }, { "emsp", 0x2003 },
            { "emsp13", 0x2004 }, { "emsp14", 0x2005 }, { "numsp", 0x2007 }, { "puncsp", 0x2008 }, { "thinsp", 0x2009 },
            { "hairsp", 0x200a }, { "ZeroWidthSpace", 0x200b }, { "zwnj", 0x200c }, { "zwj", 0x200d },
            { "lrm", 0x200e }, { "rlm", 0x200f }, { "MediumSpace", 0x205f }, { "NoBreak", 0x2060 }, { "shy", 0xad },
            { "Tab", 0x9 }, { "NewLine", 0xa } };
        int nameEnd = amp + 1;
        while (nameEnd < text.size() && nameEnd - amp <= 32
            && (text.at(nameEnd).isLetterOrNumber() || text.at(nameEnd) == QLatin1Char('#')))
            ++nameEnd;
        const QStringRef name = text.midRef(amp + 1, nameEnd - amp - 1);
        if (nameEnd >= text.size() || text.at(nameEnd) != QLatin1Char(';')) {
            // The parser takes these legacy names without their semicolon too.
            for (const char* legacy : { "nbsp", "shy" }) {
                if (name.startsWith(QLatin1String(legacy))) {
                    *end = amp + 1 + int(qstrlen(legacy));
                    return named.value(QLatin1String(legacy));
                }
            }
            return 0;
        }
        bool ok = false;
        uint code = 0;
        if (name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive))
            code = name.mid(2).toUInt(&ok, 16);
        else if (name.startsWith(QLatin1Char('#')))
            code = name.mid(1).toUInt(&ok, 10);
        else
            code = named.value(name.toString());
        if (code == 0 || code > 0xffff || !HeadingMarkup::isInvisible(code))
            return 0;
        *end = nameEnd + 1;
        return code;
    }

    // The id and name attributes of one tag: as written, and their values.
    struct Attribute {
        QString written;
        QStringList values;
    };

    // The id and name attributes of the tag in [from, to), read as the parser reads them.
    void collectTargetAttributes(const QString& text, int from, int to, QVector<Attribute>* attributes)
    {
        const QStringRef written = text.midRef(from, to - from);
        if (!written.contains(QLatin1String("id"), Qt::CaseInsensitive)
            && !written.contains(QLatin1String("name"), Qt::CaseInsensitive))
            return;
        const QByteArray tag = written.toUtf8();
        int i = 1;
        while (i < tag.size() && (markupscan::isNameChar(tag.at(i)) || tag.at(i) == '/'))
            ++i;
        Attribute ids;
        markupscan::Attribute attribute;
        for (; markupscan::nextAttribute(tag, i, tag.size(), &attribute); i = attribute.end) {
            if (!markupscan::nameIs(tag, attribute, "id") && !markupscan::nameIs(tag, attribute, "name"))
                continue;
            int begin = 0, end = 0;
            markupscan::attributeValue(tag, attribute, &begin, &end);
            ids.written += (ids.written.isEmpty() ? QString() : QStringLiteral(" "))
                + QString::fromUtf8(tag.mid(attribute.nameBegin, attribute.end - attribute.nameBegin));
            ids.values.append(QString::fromUtf8(tag.mid(begin, end - begin)));
        }
        if (!ids.values.isEmpty())
            attributes->append(ids);
    }

    // Whether the heading whose start tag runs from start to contentStart shows nothing up to the
    // end tag of a heading: only blanks of every kind (as they are or as references), comments
    // and elements that show nothing while they hold nothing that shows. end is set after the
    // end tag, or else where the content stops showing nothing (the end of the text, for a
    // comment that is never closed): what lies before it is read. attributes receives the id and
    // name attributes on the way, the heading's own too.
    bool headingShowsNothing(
        TagReader& reader, const QString& text, int start, int contentStart, int* end, QVector<Attribute>* attributes)
    {
        QVector<Attribute> found;
        collectTargetAttributes(text, start, contentStart, &found);
        int i = contentStart;
        *end = text.size();
        QString name;
        while (i < text.size()) {
            const QChar c = text.at(i);
            reader.count(1);
            if (c == QLatin1Char('<')) {
                const int hidden = reader.hiddenEnd(i);
                if (hidden >= 0) {
                    // A comment left open holds the rest of the text.
                    if (hidden >= text.size())
                        return false;
                    i = hidden;
                    continue;
                }
                int tagEnd = -1;
                reader.tagAt(i, &tagEnd, &name);
                const bool endTag = name.startsWith(QLatin1Char('/'));
                if (endTag && isHeadingTag(name.mid(1))) {
                    *end = tagEnd;
                    *attributes += found;
                    return true;
                }
                if (name.isEmpty() || !showsNothingEmpty(endTag ? name.mid(1) : name)) {
                    *end = i;
                    return false;
                }
                if (!endTag)
                    collectTargetAttributes(text, i, tagEnd, &found);
                i = tagEnd;
            } else if (c == QLatin1Char('&')) {
                const int amp = i;
                const bool invisible = invisibleReferenceAt(text, amp, &i);
                reader.count(i - amp);
                if (!invisible) {
                    *end = amp;
                    return false;
                }
            } else if (HeadingMarkup::isInvisible(c.unicode()) && !c.isSurrogate()) {
                ++i;
            } else {
                *end = i;
                return false;
            }
        }
        return false;
    }

    // The fragments that links of the text lead to ("#x" in an href).
    QSet<QString> linkTargets(const QString& text)
    {
        QSet<QString> targets;
        const QRegularExpression href(
            QStringLiteral("\\shref\\s*=\\s*[\"']?#([^\"'\\s>]*)"), QRegularExpression::CaseInsensitiveOption);
        QRegularExpressionMatchIterator it = href.globalMatch(text);
        while (it.hasNext()) {
            const QString fragment = it.next().captured(1);
            targets.insert(fragment);
            targets.insert(QUrl::fromPercentEncoding(fragment.toUtf8()));
        }
        return targets;
    }

} // namespace

bool HeadingMarkup::isInvisible(uint code)
{
    return QChar::isSpace(code) || QChar::category(code) == QChar::Other_Format;
}

QVector<HeadingMarkup::Heading> HeadingMarkup::find(const QString& text, qint64* scanned)
{
    // The closing tags of each level are listed once, and each opening tag looks up the first
    // closing tag after it, so unclosed headings cost nothing.
    TagReader reader(text, scanned);
    QVector<int> closers[5];
    for (int i = reader.indexOf(QLatin1String("</"), 0); i >= 0; i = reader.indexOf(QLatin1String("</"), i + 2)) {
        const int level = headingLevelAt(text, i + 2);
        if (level > 0 && i + 4 < text.size() && text.at(i + 4) == QLatin1Char('>'))
            closers[level].append(i);
    }
    QVector<Heading> headings;
    // From tag to tag as the parser reads them: no heading stands in a comment, a value, another
    // tag's name or the text of a script.
    QString name;
    int end = -1;
    int from = 0;
    for (int i; (i = reader.nextTag(from, &name, &end)) >= 0;) {
        from = reader.rawTextEnd(name, end);
        const int level = isHeadingTag(name) ? name.at(1).digitValue() : 0;
        if (level < 1 || level > 4)
            continue;
        const QVector<int>& list = closers[level];
        const auto closer = std::lower_bound(list.cbegin(), list.cend(), end);
        if (closer == list.cend() || *closer - end > MaxHeadingContent)
            continue;
        headings.append({ i, *closer + 5 });
        from = *closer + 5;
    }
    return headings;
}

QString HeadingMarkup::closeOpen(const QString& text, qint64* scanned)
{
    // A heading left open, with its font and bold, would hold the rest of the book: the next
    // heading opens inside it, so the chapter nests as deep as it has headings and lays out as
    // one block. Such a heading, and what it opened, is closed where the next block starts.
    TagReader reader(text, scanned);
    QString result;
    int copied = 0;
    QString heading;
    QStringList open;
    // What the parser reads as a comment or as the text of a script or the like holds no tag:
    // nothing is put in there, and what it hides stays hidden.
    QString name;
    int end = -1;
    int from = 0;
    for (int i; (i = reader.nextTag(from, &name, &end)) >= 0;) {
        from = reader.rawTextEnd(name, end);
        if (heading.isEmpty()) {
            if (isHeadingTag(name)) {
                heading = name;
                open.clear();
            }
            continue;
        }
        if (name.startsWith(QLatin1Char('/')) && isHeadingTag(name.mid(1))) {
            // The end of any heading ends the open one.
            heading.clear();
        } else if (isBlockBoundary(name)) {
            if (result.isEmpty())
                result.reserve(text.size() + text.size() / 16);
            result.append(text.midRef(copied, i - copied));
            copied = i;
            for (int k = open.size() - 1; k >= 0; --k)
                result.append(QStringLiteral("</%1>").arg(open.at(k)));
            result.append(QStringLiteral("</%1>").arg(heading));
            heading.clear();
            // The boundary may itself open the next heading.
            if (isHeadingTag(name)) {
                heading = name;
                open.clear();
            }
        } else if (name.startsWith(QLatin1Char('/'))) {
            const int at = open.lastIndexOf(name.mid(1));
            if (at >= 0)
                open.erase(open.begin() + at, open.end());
        } else if (isInlineTag(name)
            && !(text.at(end - 1) == QLatin1Char('>') && text.at(end - 2) == QLatin1Char('/'))) {
            open.append(name);
        }
    }
    if (copied == 0)
        return text;
    result.append(text.midRef(copied));
    return result;
}

QString HeadingMarkup::dropEmpty(const QString& text, int maxEmpty, qint64* scanned)
{
    // A heading that shows nothing is no link target of its own, but the web view lays out each
    // one. A real book has a few, and keeps them: dropping one would move the stored element
    // paths of the headings after it.
    struct Empty {
        Heading span;
        QStringList kept; // the id and name attributes, as written, of each element links lead to
    };
    TagReader reader(text, scanned);
    QVector<Empty> empty;
    QVector<QPair<int, Attribute>> ids;
    // The text is read once, tag by tag: an "<h" that stands inside a tag, a comment, the text
    // of a script or the like, or a heading's content is no heading.
    QString name;
    int contentStart = -1;
    int from = 0;
    for (int i; (i = reader.nextTag(from, &name, &contentStart)) >= 0;) {
        if (!isHeadingTag(name)) {
            from = reader.rawTextEnd(name, contentStart);
            continue;
        }
        QVector<Attribute> found;
        int end = -1;
        const bool showsNothing = headingShowsNothing(reader, text, i, contentStart, &end, &found);
        if (showsNothing) {
            for (const Attribute& attribute : qAsConst(found))
                ids.append({ empty.size(), attribute });
            empty.append(Empty { { i, end }, {} });
        }
        from = end;
    }
    if (empty.size() <= maxEmpty)
        return text;
    // An id or name inside stays where a link leads to it, on an anchor that shows nothing.
    if (!ids.isEmpty()) {
        const QSet<QString> targets = linkTargets(text);
        for (const QPair<int, Attribute>& id : qAsConst(ids)) {
            const QStringList& values = id.second.values;
            if (std::any_of(values.cbegin(), values.cend(), [&](const QString& v) { return targets.contains(v); }))
                empty[id.first].kept.append(id.second.written);
        }
    }
    qInfo() << empty.size() << "empty headings left out of the chapter";
    QString result;
    result.reserve(text.size());
    int copied = 0;
    for (const Empty& heading : qAsConst(empty)) {
        result.append(text.midRef(copied, heading.span.start - copied));
        // "x<<h1></h1>script>" stays text.
        markupscan::escapeDanglingLessThan(&result);
        for (const QString& attribute : heading.kept)
            result.append(QStringLiteral("<a %1></a>").arg(attribute));
        copied = heading.span.end;
    }
    result.append(text.midRef(copied));
    return result;
}

}

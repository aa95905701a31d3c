#include "htmltextcleaner.h"

#include "unsafemarkup.h"
#include "xmlguard.h"

#include "formats/markupscan.h"

#include <QList>
#include <QString>
#include <QTextCodec>

#include <algorithm>
#include <cstring>

namespace epub {

namespace {

    bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
    bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    bool isAlphanumeric(char c) { return isLetter(c) || (c >= '0' && c <= '9'); }

    bool startsWithAt(const QByteArray& data, int pos, int end, const char* word, bool ignoreCase)
    {
        const int length = int(std::strlen(word));
        if (pos < 0 || pos + length > end)
            return false;
        return ignoreCase ? qstrnicmp(data.constData() + pos, word, uint(length)) == 0
                          : std::memcmp(data.constData() + pos, word, size_t(length)) == 0;
    }

    // The raw-text elements of HTML: their content is text to the HTML parser only.
    bool isRawTextElement(const QByteArray& name)
    {
        for (const char* element : { "style", "textarea", "title", "xmp", "noembed", "noframes", "noscript" }) {
            if (qstricmp(name.constData(), element) == 0)
                return true;
        }
        return false;
    }

    // Character references that can spell a URL scheme: numeric ones (the ";" optional, as
    // browsers accept) and the named colon, tab and line feed.
    QString decodeReferences(const QByteArray& raw)
    {
        QString text;
        text.reserve(raw.size());
        for (int i = 0; i < raw.size(); ++i) {
            const char c = raw.at(i);
            if (c != '&') {
                text.append(QLatin1Char(c));
                continue;
            }
            int j = i + 1;
            if (j < raw.size() && raw.at(j) == '#') {
                const bool hex = j + 1 < raw.size() && (raw.at(j + 1) == 'x' || raw.at(j + 1) == 'X');
                int k = j + (hex ? 2 : 1);
                uint code = 0;
                int digits = 0;
                for (; k < raw.size() && digits < 8; ++k, ++digits) {
                    const int value = markupscan::digitValue(raw.at(k), hex);
                    if (value < 0)
                        break;
                    code = code * (hex ? 16 : 10) + uint(value);
                }
                if (digits > 0) {
                    text.append(code <= 0xFFFF ? QChar(ushort(code)) : QChar(QChar::ReplacementCharacter));
                    i = (k < raw.size() && raw.at(k) == ';') ? k : k - 1;
                    continue;
                }
            }
            struct Named {
                const char* reference;
                char character;
            };
            static const Named names[]
                = { { "&colon;", ':' }, { "&Tab;", '\t' }, { "&NewLine;", '\n' }, { "&amp;", '&' } };
            bool named = false;
            for (const Named& entity : names) {
                if (startsWithAt(raw, i, raw.size(), entity.reference, false)) {
                    text.append(QLatin1Char(entity.character));
                    i += int(std::strlen(entity.reference)) - 1;
                    named = true;
                    break;
                }
            }
            if (!named)
                text.append(QLatin1Char(c));
        }
        return text;
    }

    QString decodeUtf16(const QByteArray& data, bool bigEndian)
    {
        QString text;
        text.reserve(data.size() / 2);
        for (int i = 2; i + 1 < data.size(); i += 2) {
            const uchar a = uchar(data.at(i));
            const uchar b = uchar(data.at(i + 1));
            text.append(QChar(bigEndian ? ushort(a << 8 | b) : ushort(b << 8 | a)));
        }
        return text;
    }

    QByteArray encodeUtf16(const QString& text, bool bigEndian)
    {
        QByteArray data(bigEndian ? "\xFE\xFF" : "\xFF\xFE", 2);
        data.reserve(2 + text.size() * 2);
        for (const QChar c : text) {
            const char high = char(c.unicode() >> 8);
            const char low = char(c.unicode() & 0xFF);
            data.append(bigEndian ? high : low);
            data.append(bigEndian ? low : high);
        }
        return data;
    }

} // namespace

int HtmlTextCleaner::clean(const QByteArray& data, QByteArray* out, qint64* scanned, bool shownAsHtml)
{
    const bool bigEndian = data.startsWith("\xFE\xFF");
    if (bigEndian || data.startsWith("\xFF\xFE")) {
        QByteArray cleaned;
        const int removed = clean(decodeUtf16(data, bigEndian).toUtf8(), &cleaned, scanned, shownAsHtml);
        *out = removed > 0 ? encodeUtf16(QString::fromUtf8(cleaned), bigEndian) : data;
        return removed;
    }
    HtmlTextCleaner cleaner(data, true, shownAsHtml, scanned);
    cleaner.run(0, data.size());
    *out = cleaner.m_removed > 0 ? cleaner.m_out : data;
    return cleaner.m_removed;
}

HtmlTextCleaner::HtmlTextCleaner(const QByteArray& data, bool rawTextElements, bool shownAsHtml, qint64* scanned)
    : m_in(data)
    , m_end(data.size())
    , m_rawTextElements(rawTextElements)
    , m_shownAsHtml(shownAsHtml)
    , m_scanned(scanned)
{
}

void HtmlTextCleaner::count(qint64 characters) const
{
    if (m_scanned)
        *m_scanned += characters;
}

int HtmlTextCleaner::find(char c, int from) const
{
    if (from >= m_end) {
        return -1;
    }
    const void* at = std::memchr(m_in.constData() + from, c, size_t(m_end - from));
    const int found = at ? int(static_cast<const char*>(at) - m_in.constData()) : -1;
    count((found < 0 ? m_end : found + 1) - from);
    return found;
}

int HtmlTextCleaner::find(const char* what, int from) const
{
    const int length = int(std::strlen(what));
    for (int at = find(what[0], from); at >= 0; at = find(what[0], at + 1)) {
        if (startsWithAt(m_in, at, m_end, what, false)) {
            count(length - 1);
            return at;
        }
    }
    return -1;
}

void HtmlTextCleaner::run(int from, int to)
{
    m_end = to;
    m_out.reserve(m_out.size() + (to - from));
    int pos = from;
    while (pos < m_end) {
        int lt = find('<', pos);
        if (lt < 0)
            lt = m_end;
        m_out.append(m_in.constData() + pos, lt - pos);
        if (lt >= m_end)
            break;
        const char next = lt + 1 < m_end ? m_in.at(lt + 1) : '\0';
        if (startsWithAt(m_in, lt, m_end, "<!--", false))
            pos = handleComment(lt);
        else if (startsWithAt(m_in, lt, m_end, "<!doctype", true))
            pos = handleDoctype(lt);
        else if (m_foreign > 0 && startsWithAt(m_in, lt, m_end, "<![CDATA[", false))
            pos = copyCdata(lt);
        else if (next == '!')
            pos = copyThroughGreater(lt);
        else if (next == '?')
            pos = handleProcessingInstruction(lt);
        else if (next == '/')
            pos = lt + 2 < m_end && isLetter(m_in.at(lt + 2)) ? handleEndTag(lt) : copyThroughGreater(lt);
        else if (isLetter(next))
            pos = handleStartTag(lt);
        else {
            m_out.append('<');
            pos = lt + 1;
        }
    }
}

void HtmlTextCleaner::countRemoval(int resumeAt)
{
    ++m_removed;
    // "<<script>x</script>script>" must not join into a new tag around the removed part.
    markupscan::escapeDanglingLessThan(&m_out);
    // Nor "&n<script>x</script>bsp;" into a reference: the parser ended "&n" at the "<", and an
    // empty comment ends it there again, so that it reads as before ("&amp" too, without ";").
    const char next = resumeAt < m_end ? m_in.at(resumeAt) : '\0';
    if ((isAlphanumeric(next) || next == ';' || next == '#') && endsInReference())
        m_out.append("<!---->");
}

bool HtmlTextCleaner::endsInReference()
{
    // The letters and digits at the end: those written since the last look are read, and the
    // run goes on from where it began then if they all are, so a long run is read once.
    const int size = m_out.size();
    int start = size;
    while (start > m_runCheckedTo && isAlphanumeric(m_out.at(start - 1)))
        --start;
    count(size - start);
    if (start == m_runCheckedTo)
        start = m_runStart;
    m_runCheckedTo = size;
    m_runStart = start;
    if (start > 0 && m_out.at(start - 1) == '#')
        --start;
    return start > 0 && m_out.at(start - 1) == '&';
}

int HtmlTextCleaner::copyThroughGreater(int lt)
{
    const int gt = find('>', lt + 1);
    const int end = gt < 0 ? m_end : gt + 1;
    m_out.append(m_in.constData() + lt, end - lt);
    return end;
}

int HtmlTextCleaner::copyCdata(int lt)
{
    const int close = m_in.indexOf("]]>", lt + 9);
    const int end = close < 0 || close + 3 > m_end ? m_end : close + 3;
    m_out.append(m_in.constData() + lt, end - lt);
    return end;
}

int HtmlTextCleaner::handleComment(int lt)
{
    const int end = markupscan::commentEnd(m_in, lt, m_end, m_scanned);
    m_out.append(m_in.constData() + lt, end - lt);
    return end;
}

int HtmlTextCleaner::handleDoctype(int lt)
{
    // The XML parser takes one document type, before the root: the first alone has a subset.
    // The HTML parser ends any at its first ">", and shows what follows.
    if (m_doctypeSeen || m_shownAsHtml)
        return copyThroughGreater(lt);
    m_doctypeSeen = true;
    int bracket = -1;
    for (int i = lt; i < m_end && m_in.at(i) != '>' && bracket < 0; ++i) {
        if (m_in.at(i) == '[')
            bracket = i;
    }
    count((bracket < 0 ? m_end : bracket) - lt);
    if (bracket < 0)
        return copyThroughGreater(lt);
    // The subset's end as an XML parser finds it: literals and comments may hold "]".
    int pos = bracket + 1;
    int close = -1;
    while (pos < m_end) {
        const char c = m_in.at(pos);
        if (c == '"' || c == '\'') {
            const int quote = find(c, pos + 1);
            pos = quote < 0 ? m_end : quote + 1;
        } else if (startsWithAt(m_in, pos, m_end, "<!--", false)) {
            const int commentEnd = find("-->", pos + 4);
            pos = commentEnd < 0 ? m_end : commentEnd + 3;
        } else if (c == ']') {
            int after = pos + 1;
            while (after < m_end && isSpace(m_in.at(after)))
                ++after;
            if (after < m_end && m_in.at(after) == '>')
                close = after;
            break;
        } else {
            ++pos;
            count(1);
        }
    }
    if (close < 0)
        return copyThroughGreater(lt);
    int keep = bracket;
    while (keep > lt && isSpace(m_in.at(keep - 1)))
        --keep;
    m_out.append(m_in.constData() + lt, keep - lt);
    m_out.append('>');
    ++m_removed;
    return close + 1;
}

int HtmlTextCleaner::handleProcessingInstruction(int lt)
{
    const int gt = find('>', lt + 2);
    const int htmlEnd = gt < 0 ? m_end : gt + 1;
    // Only one target may be unsafe: what follows any other is not read.
    static const char target[] = "xml-stylesheet";
    const int afterTarget = lt + 2 + int(sizeof target) - 1;
    const bool mayBeUnsafe = startsWithAt(m_in, lt + 2, m_end, target, false)
        && (afterTarget >= m_end || isSpace(m_in.at(afterTarget)) || m_in.at(afterTarget) == '?'
            || m_in.at(afterTarget) == '>');
    if (!mayBeUnsafe) {
        m_out.append(m_in.constData() + lt, htmlEnd - lt);
        return htmlEnd;
    }
    // The XML parser ends the instruction at "?>". One that does not end at its first ">",
    // where the HTML parser ends it, is no real style sheet, and reading on to a far "?>" for
    // each would be quadratic: its start goes, and the XML parser finds no instruction in the
    // rest.
    if (gt < lt + 3 || m_in.at(gt - 1) != '?') {
        countRemoval(htmlEnd);
        return htmlEnd;
    }
    // Read in UTF-8 where it is UTF-8: a name of letters beyond ASCII is a name there.
    const QByteArray bytes = QByteArray::fromRawData(m_in.constData() + lt + 2, gt - 1 - lt - 2);
    QTextCodec::ConverterState state;
    QString text = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0)
        text = QString::fromLatin1(bytes);
    int targetEnd = 0;
    while (targetEnd < text.size() && !text.at(targetEnd).isSpace())
        ++targetEnd;
    if (UnsafeMarkup::isUnsafeProcessingInstruction(
            QStringView(text).left(targetEnd), QStringView(text).mid(targetEnd))) {
        countRemoval(htmlEnd);
        return htmlEnd;
    }
    m_out.append(m_in.constData() + lt, htmlEnd - lt);
    return htmlEnd;
}

HtmlTextCleaner::Tag HtmlTextCleaner::parseTag(int lt) const
{
    Tag tag;
    tag.start = lt;
    int p = lt + 1;
    if (p < m_end && m_in.at(p) == '/')
        ++p;
    tag.nameStart = p;
    while (p < m_end && !isSpace(m_in.at(p)) && m_in.at(p) != '/' && m_in.at(p) != '>')
        ++p;
    tag.nameEnd = p;
    // Attributes as the HTML tokenizer splits them; quotes hide ">".
    for (;;) {
        const int rangeStart = p;
        while (p < m_end && (isSpace(m_in.at(p)) || m_in.at(p) == '/'))
            ++p;
        if (p >= m_end) {
            tag.end = m_end;
            return tag;
        }
        if (m_in.at(p) == '>') {
            tag.end = p + 1;
            tag.closed = true;
            return tag;
        }
        Attribute attribute;
        attribute.rangeStart = rangeStart;
        attribute.nameStart = p;
        if (m_in.at(p) == '=')
            ++p;
        while (p < m_end && !isSpace(m_in.at(p)) && m_in.at(p) != '/' && m_in.at(p) != '>' && m_in.at(p) != '=')
            ++p;
        attribute.nameEnd = p;
        int q = p;
        while (q < m_end && isSpace(m_in.at(q)))
            ++q;
        if (q < m_end && m_in.at(q) == '=') {
            ++q;
            while (q < m_end && isSpace(m_in.at(q)))
                ++q;
            if (q < m_end && (m_in.at(q) == '"' || m_in.at(q) == '\'')) {
                const int quote = find(m_in.at(q), q + 1);
                attribute.valueStart = q + 1;
                attribute.valueEnd = quote < 0 ? m_end : quote;
                p = qMin(m_end, attribute.valueEnd + 1);
            } else {
                attribute.valueStart = q;
                while (q < m_end && !isSpace(m_in.at(q)) && m_in.at(q) != '>')
                    ++q;
                attribute.valueEnd = q;
                p = q;
            }
        }
        attribute.rangeEnd = p;
        tag.attributes.append(attribute);
    }
}

QByteArray HtmlTextCleaner::tagName(const Tag& tag) const
{
    return m_in.mid(tag.nameStart, tag.nameEnd - tag.nameStart);
}

QString HtmlTextCleaner::attributeName(const Attribute& attribute) const
{
    return QString::fromLatin1(m_in.constData() + attribute.nameStart, attribute.nameEnd - attribute.nameStart);
}

QString HtmlTextCleaner::attributeValue(const Attribute& attribute) const
{
    if (attribute.valueStart < 0)
        return QString();
    return decodeReferences(m_in.mid(attribute.valueStart, attribute.valueEnd - attribute.valueStart));
}

QString HtmlTextCleaner::lookup(const Tag& tag, const QString& localName) const
{
    for (const Attribute& attribute : tag.attributes) {
        if (UnsafeMarkup::localName(attributeName(attribute)).compare(localName, Qt::CaseInsensitive) == 0)
            return attributeValue(attribute);
    }
    return QString();
}

int HtmlTextCleaner::findEndTag(const QByteArray& name, int from) const
{
    const QByteArray key = name.toLower();
    const auto none = m_noEndTagFrom.constFind(key);
    if (none != m_noEndTagFrom.constEnd() && from >= none.value())
        return -1;
    for (int found = find("</", from); found >= 0; found = find("</", found + 2)) {
        const int after = found + 2 + name.size();
        if (startsWithAt(m_in, found + 2, m_end, name.constData(), true)
            && (after >= m_end || isSpace(m_in.at(after)) || m_in.at(after) == '/' || m_in.at(after) == '>'))
            return found;
    }
    m_noEndTagFrom.insert(key, from);
    return -1;
}

int HtmlTextCleaner::endOfTagAt(int lt) const { return parseTag(lt).end; }

int HtmlTextCleaner::endOfElement(const QByteArray& name, int afterStartTag, bool nested) const
{
    if (!nested) {
        const int close = findEndTag(name, afterStartTag);
        return close < 0 ? -1 : endOfTagAt(close);
    }
    // The tags of the name are found in one pass from the first search on; an element is
    // closed where the depth first falls below the one it opened at.
    const QByteArray key = name.toLower();
    auto known = m_nested.find(key);
    if (known == m_nested.end()) {
        NestedTags tags;
        int depth = 0;
        for (int lt = find('<', afterStartTag); lt >= 0; lt = find('<', lt + 1)) {
            const bool closing = lt + 1 < m_end && m_in.at(lt + 1) == '/';
            const int nameStart = lt + (closing ? 2 : 1);
            const int after = nameStart + name.size();
            if (startsWithAt(m_in, nameStart, m_end, name.constData(), true)
                && (after >= m_end || isSpace(m_in.at(after)) || m_in.at(after) == '/' || m_in.at(after) == '>')) {
                depth += closing ? -1 : 1;
                tags.positions.append(lt);
                tags.depths.append(depth);
            }
        }
        tags.lowestFrom = tags.depths;
        for (int i = tags.depths.size() - 2; i >= 0; --i)
            tags.lowestFrom[i] = qMin(tags.lowestFrom.at(i), tags.lowestFrom.at(i + 1));
        known = m_nested.insert(key, tags);
    }
    const NestedTags& tags = known.value();
    const int first
        = int(std::lower_bound(tags.positions.begin(), tags.positions.end(), afterStartTag) - tags.positions.begin());
    if (first >= tags.positions.size())
        return -1;
    const int opened = first == 0 ? 0 : tags.depths.at(first - 1);
    if (tags.lowestFrom.at(first) >= opened)
        return -1;
    for (int i = first;; ++i) {
        if (tags.depths.at(i) < opened)
            return endOfTagAt(tags.positions.at(i));
    }
}

void HtmlTextCleaner::appendWithoutUnsafeAttributes(const Tag& tag)
{
    int copied = tag.start;
    const int kept = qMin(tag.attributes.size(), XmlGuard::MaxAttributes);
    for (int i = 0; i < kept; ++i) {
        const Attribute& attribute = tag.attributes.at(i);
        // The parser reads a "=" right after a quoted value as the start of a name ("x=''=y"):
        // once that value is gone, it would give the attribute before it a value. Such a name
        // is no attribute of any element: it goes with the one it followed.
        const bool joins = copied == attribute.rangeStart && copied > tag.start && m_in.at(copied) == '=';
        if (!joins && !UnsafeMarkup::isUnsafeAttribute(attributeName(attribute), attributeValue(attribute)))
            continue;
        m_out.append(m_in.constData() + copied, attribute.rangeStart - copied);
        copied = attribute.rangeEnd;
        if (!joins)
            ++m_removed;
        // An attribute that followed a quoted value without a blank would join what stands
        // before ("<p" and "x=1" into "<px=1"): a blank keeps them apart.
        if (copied < tag.end && !isSpace(m_in.at(copied)) && m_in.at(copied) != '/' && m_in.at(copied) != '>')
            m_out.append(' ');
    }
    if (kept < tag.attributes.size()) {
        // The web view takes seconds over a tag of that many: the rest go, as one removal.
        m_out.append(m_in.constData() + copied, tag.attributes.at(kept).rangeStart - copied);
        copied = tag.attributes.last().rangeEnd;
        ++m_removed;
    }
    m_out.append(m_in.constData() + copied, tag.end - copied);
}

int HtmlTextCleaner::handleStartTag(int lt)
{
    const Tag tag = parseTag(lt);
    const QByteArray name = tagName(tag);
    // A name that no XML name can be ("d<svg:script") is read whole by either parser: no prefix.
    const bool xmlName
        = std::all_of(name.begin(), name.end(), [](char c) { return markupscan::isNameChar(c) || uchar(c) >= 0x80; });
    const QString whole = QString::fromLatin1(name);
    const QString local = xmlName ? UnsafeMarkup::localName(whole).toString() : whole;
    // In SVG and MathML a self-closed tag has no content for either parser.
    const bool selfClosed = tag.closed && m_in.at(tag.end - 2) == '/';
    if (UnsafeMarkup::mayBeUnsafeElement(local)
        && UnsafeMarkup::isUnsafeElement(local, [&](const QString& wanted) { return lookup(tag, wanted); })) {
        // Void elements go alone; the others with their content, as far as an end tag is found.
        // Without one only the start tag goes: what follows is scanned like any other text.
        int end = tag.end;
        if (!UnsafeMarkup::isVoidElement(local) && !(selfClosed && m_foreign > 0)) {
            const bool nested = local.compare(QLatin1String("object"), Qt::CaseInsensitive) == 0;
            const int close = endOfElement(name, tag.end, nested);
            if (close >= 0)
                end = m_foreign > 0 ? foreignEnd(tag.end, close) : close;
        }
        countRemoval(end);
        return end;
    }
    const QByteArray lower = local.toLatin1().toLower();
    if (m_foreign > 0 && markupscan::leavesForeignContent().contains(lower))
        leaveForeignContent();
    else if ((lower == "svg" || lower == "math") && !selfClosed)
        ++m_foreign;
    else if (m_foreign > 0 && !selfClosed)
        ++m_foreignOpen[lower];
    if (m_foreign == 0 && !UnsafeMarkup::isVoidElement(local))
        ++m_htmlOpen[lower];
    appendWithoutUnsafeAttributes(tag);
    if (m_shownAsHtml) {
        // Text up to its end tag as the parser finds it, and shown so: nothing in it is markup,
        // and the parser's own pass at the end keeps what it writes safe. In SVG and MathML
        // these names are markup.
        const QByteArray element = name.toLower();
        if (m_foreign > 0 || !markupscan::rawTextElements().contains(element))
            return tag.end;
        const int contentEnd = markupscan::rawTextEnd(m_in, element, tag.end);
        count(contentEnd - tag.end);
        m_out.append(m_in.constData() + tag.end, contentEnd - tag.end);
        return contentEnd;
    }
    if (!m_rawTextElements || !isRawTextElement(name))
        return tag.end;
    // Text to the HTML parser up to its end tag, markup to the XML parser: clean it as markup.
    const int close = findEndTag(name, tag.end);
    const int contentEnd = close < 0 ? m_end : close;
    HtmlTextCleaner inner(m_in, false, false, m_scanned);
    inner.run(tag.end, contentEnd);
    m_out.append(inner.m_out);
    m_removed += inner.m_removed;
    return contentEnd;
}

int HtmlTextCleaner::foreignEnd(int from, int end) const
{
    for (int lt = m_in.indexOf('<', from); lt >= 0 && lt < end; lt = m_in.indexOf('<', lt + 1)) {
        const bool closing = lt + 1 < end && m_in.at(lt + 1) == '/';
        int nameEnd = lt + (closing ? 2 : 1);
        while (nameEnd < end && markupscan::isNameChar(m_in.at(nameEnd)))
            ++nameEnd;
        const QByteArray name = m_in.mid(lt + (closing ? 2 : 1), nameEnd - lt - (closing ? 2 : 1)).toLower();
        if (closing ? name == "svg" || name == "math" : markupscan::leavesForeignContent().contains(name))
            return lt;
    }
    return end;
}

void HtmlTextCleaner::leaveForeignContent()
{
    m_foreign = 0;
    m_foreignOpen.clear();
}

int HtmlTextCleaner::handleEndTag(int lt)
{
    const Tag tag = parseTag(lt);
    const QByteArray name = tagName(tag).toLower();
    if (m_foreign > 0 && (name == "svg" || name == "math")) {
        --m_foreign;
    } else if (m_foreign > 0 && m_foreignOpen.value(name) > 0) {
        --m_foreignOpen[name];
    } else if (m_htmlOpen.value(name) > 0) {
        // Closes the HTML element outside, and the SVG or MathML in it.
        --m_htmlOpen[name];
        leaveForeignContent();
    }
    m_out.append(m_in.constData() + lt, tag.end - lt);
    return tag.end;
}

} // namespace epub

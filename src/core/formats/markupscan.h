#pragma once

#include <QByteArray>
#include <QChar>
#include <QSet>
#include <QString>

// Pieces of reading markup the way the HTML parser does, shared by the passes that rewrite
// chapters byte for byte.
namespace markupscan {

using Names = QSet<QByteArray>;

inline char latin1(char c) { return c; }
inline char latin1(QChar c) { return c.toLatin1(); }

inline bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// The value of a digit of a character reference; -1 for no digit.
inline int digitValue(char c, bool hex)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (hex && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Whether c may start the name of a tag after "<" or "</". The HTML parser takes an ASCII letter
// only ("<_x>" and "<\xC3\xA9>" are text there); the XML parser any first character of a name:
// "_", ":" and the letters beyond ASCII too, whose bytes (in UTF-8, or any ASCII-compatible
// encoding) are 0x80 and up. In a well-formed text such a byte after "<" can only start a name.
inline bool startsTagName(char c, bool xml)
{
    return isLetter(c) || (xml && (c == '_' || c == ':' || uchar(c) >= 0x80));
}

inline bool isNameChar(char c)
{
    return isLetter(c) || (c >= '0' && c <= '9') || c == '-' || c == ':' || c == '_' || c == '.';
}

// Elements that have no content and no end tag.
inline const Names& voidElements()
{
    static const Names names { "area", "base", "basefont", "bgsound", "br", "col", "command", "embed", "frame", "hr",
        "image", "img", "input", "isindex", "keygen", "link", "meta", "param", "source", "track", "wbr" };
    return names;
}

// HTML start tags that end the SVG or MathML they stand in ("font" too, with a colour, face or size).
inline const Names& leavesForeignContent()
{
    static const Names names { "b", "big", "blockquote", "body", "br", "center", "code", "dd", "div", "dl", "dt", "em",
        "embed", "h1", "h2", "h3", "h4", "h5", "h6", "head", "hr", "i", "img", "li", "listing", "menu", "meta", "nobr",
        "ol", "p", "pre", "ruby", "s", "small", "span", "strong", "strike", "sub", "sup", "table", "tt", "u", "ul",
        "var" };
    return names;
}

// Elements whose content is text up to their end tag.
inline const Names& rawTextElements()
{
    static const Names names { "script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes" };
    return names;
}

// Where the name of a tag that starts at from ends, as the HTML parser reads it: at a blank,
// "/" or ">" ("<h1!>" and "<b<i>" name no known element). Works on QByteArray and QString.
template <typename Text> int tagNameEnd(const Text& text, int from)
{
    int i = from;
    while (
        i < int(text.size()) && !isBlank(latin1(text.at(i))) && latin1(text.at(i)) != '/' && latin1(text.at(i)) != '>')
        ++i;
    return i;
}

// The end of a tag (after its ">") whose name runs on at from (or ended just before it), read
// as the HTML tokenizer reads it; the end of the text when it has none. The name runs to a
// blank, "/" or ">"; a quote opens a value only after an attribute's name and its "=" (a "="
// where a name starts is part of that name). Works on QByteArray and QString.
template <typename Text> int tagEnd(const Text& text, int from)
{
    enum { InName, BeforeName, AttributeName, AfterName, BeforeValue, Unquoted } state = InName;
    const int size = int(text.size());
    for (int i = from; i < size; ++i) {
        const char c = latin1(text.at(i));
        if (c == '>')
            return i + 1;
        switch (state) {
        case InName:
        case Unquoted:
            if (isBlank(c) || (state == InName && c == '/'))
                state = BeforeName;
            break;
        case BeforeName:
            if (!isBlank(c) && c != '/')
                state = AttributeName;
            break;
        case AttributeName:
        case AfterName:
            if (c == '=')
                state = BeforeValue;
            else if (c == '/')
                state = BeforeName;
            else if (isBlank(c))
                state = AfterName;
            else
                state = AttributeName;
            break;
        case BeforeValue:
            if (c == '"' || c == '\'') {
                int close = i + 1;
                while (close < size && latin1(text.at(close)) != c)
                    ++close;
                if (close >= size)
                    return size;
                i = close;
                state = BeforeName;
            } else if (!isBlank(c)) {
                state = Unquoted;
            }
            break;
        }
    }
    return size;
}

// The start of the first tag of the name (any letter case; "/name" for an end tag) at or after
// from and before to (the end of the text when -1); -1 when there is none.
inline int indexOfTag(const QByteArray& text, const QByteArray& name, int from = 0, int to = -1)
{
    const int length = name.size();
    const int end = to < 0 ? text.size() : to;
    for (int i = text.indexOf('<', from); i >= 0 && i < end; i = text.indexOf('<', i + 1)) {
        if (i + 1 + length <= text.size() && qstrnicmp(text.constData() + i + 1, name.constData(), uint(length)) == 0
            && (i + 1 + length == text.size() || !isNameChar(text.at(i + 1 + length))))
            return i;
    }
    return -1;
}

inline int indexOfLatin1(const QByteArray& text, const char* what, int from) { return text.indexOf(what, from); }
inline int indexOfLatin1(const QString& text, const char* what, int from)
{
    return text.indexOf(QLatin1String(what), from);
}

// Whether the text holds what (ASCII) at pos; any letter case when ignoreCase.
template <typename Text> bool holdsAt(const Text& text, int pos, const char* what, bool ignoreCase = false)
{
    const int length = int(qstrlen(what));
    if (pos < 0 || pos + length > int(text.size()))
        return false;
    for (int k = 0; k < length; ++k) {
        char c = latin1(text.at(pos + k));
        if (ignoreCase && c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != what[k])
            return false;
    }
    return true;
}

// The end (after its close) of the comment whose "<!--" stands at lt, as the HTML parser reads
// it: "<!-->" and "<!--->" are whole comments, and "--!>" closes one as "-->" does; to (the end
// of the text when -1) for a comment never closed. One pass over the comment alone, so a text
// of many comments is read once; scanned (if given) is increased by the characters read. Works
// on QByteArray and QString.
template <typename Text> int commentEnd(const Text& text, int lt, int to = -1, qint64* scanned = nullptr)
{
    const int end = to < 0 ? int(text.size()) : qMin(to, int(text.size()));
    const auto read = [&](int after) {
        if (scanned)
            *scanned += after - lt;
        return after;
    };
    const int body = lt + 4;
    if (body < end && latin1(text.at(body)) == '>')
        return read(body + 1);
    if (body + 1 < end && latin1(text.at(body)) == '-' && latin1(text.at(body + 1)) == '>')
        return read(body + 2);
    int dashes = 0;
    for (int i = body; i < end; ++i) {
        const char c = latin1(text.at(i));
        if (c == '-') {
            ++dashes;
            continue;
        }
        if (dashes >= 2 && c == '>')
            return read(i + 1);
        if (dashes >= 2 && c == '!' && i + 1 < end && latin1(text.at(i + 1)) == '>')
            return read(i + 2);
        dashes = 0;
    }
    return read(end);
}

// Whether the "<" at lt starts a bogus comment for the HTML parser, one that runs to the next
// ">": "</" followed by anything but a letter or ">" ("</<b>" hides "<b>"; "</>" is dropped).
// In XML (xml), "</" followed by the start of any name is an end tag.
template <typename Text> bool startsBogusEndTag(const Text& text, int lt, bool xml = false)
{
    return lt + 2 < int(text.size()) && latin1(text.at(lt + 1)) == '/' && !startsTagName(latin1(text.at(lt + 2)), xml);
}

// The end of what the HTML parser reads at the "<" at lt as a comment, which hides any tag in
// it: "<!--" up to its close; "<![CDATA[" up to "]]>" in SVG or MathML (foreign), where the
// parser reads it as text; any other "<!", "<?", and "</" without a name up to ">" (the end of
// the text when there is none). -1 for a "<" that starts a tag or is text. A caller that does
// not know whether it stands in foreign content passes what it would rather be wrong about.
// scanned (if given) is increased by the characters read.
template <typename Text> int hiddenEnd(const Text& text, int lt, bool foreign = false, qint64* scanned = nullptr)
{
    const int size = int(text.size());
    if (lt + 1 >= size)
        return -1;
    const char next = latin1(text.at(lt + 1));
    if (next != '!' && next != '?' && !startsBogusEndTag(text, lt))
        return -1;
    if (holdsAt(text, lt, "<!--"))
        return commentEnd(text, lt, -1, scanned);
    int end = size;
    if (foreign && holdsAt(text, lt, "<![CDATA[")) {
        const int close = int(indexOfLatin1(text, "]]>", lt + 9));
        end = close < 0 ? size : close + 3;
    } else {
        for (int i = lt + 2; i < size && end == size; ++i) {
            if (latin1(text.at(i)) == '>')
                end = i + 1;
        }
    }
    if (scanned)
        *scanned += end - lt;
    return end;
}

// The end of what the XML parser reads at the "<" at lt as no tag: a comment up to "-->", a
// processing instruction up to "?>" (each may hold "<" and ">"), CDATA up to "]]>", any other
// "<!" (and a "</" without a name, which no well-formed text holds) up to ">"; the end of the
// text for one never closed. -1 for a "<" that starts a tag. scanned (if given) is increased
// by the characters read.
template <typename Text> int xmlHiddenEnd(const Text& text, int lt, qint64* scanned = nullptr)
{
    const int size = int(text.size());
    if (lt + 1 >= size)
        return -1;
    const char next = latin1(text.at(lt + 1));
    if (next != '!' && next != '?' && !startsBogusEndTag(text, lt, true))
        return -1;
    const auto closedBy = [&](const char* close, int from) {
        const int at = int(indexOfLatin1(text, close, from));
        return at < 0 ? size : at + int(qstrlen(close));
    };
    int end = 0;
    if (holdsAt(text, lt, "<!--"))
        end = closedBy("-->", lt + 4);
    else if (holdsAt(text, lt, "<![CDATA["))
        end = closedBy("]]>", lt + 9);
    else
        end = closedBy(next == '?' ? "?>" : ">", lt + 2);
    if (scanned)
        *scanned += end - lt;
    return end;
}

// For a pass that takes markup out or puts a tag in, with what it has written so far: a "<" at
// its end that was text ("<", "</", "<!", "<?", "<!-") would start a tag or a comment with what
// comes next. It is written as a reference, which shows the same. Works on QByteArray and QString.
template <typename Text> void escapeDanglingLessThan(Text* written)
{
    const int size = int(written->size());
    for (int k = 1; k <= 3 && k <= size; ++k) {
        const char c = latin1(written->at(size - k));
        if (c == '<') {
            written->replace(size - k, 1, "&lt;");
            return;
        }
        if (c != '/' && c != '!' && c != '?' && c != '-')
            return;
    }
}

// Whether an end tag of the name (lower case) that ends the text of a raw-text element stands
// at lt: "</name" followed by a blank, "/" or ">", in any letter case.
template <typename Text> bool rawTextEndTagAt(const Text& text, int lt, const QByteArray& name)
{
    const int after = lt + 2 + name.size();
    if (after >= int(text.size()) || !holdsAt(text, lt, "</") || !holdsAt(text, lt + 2, name.constData(), true))
        return false;
    const char c = latin1(text.at(after));
    return isBlank(c) || c == '/' || c == '>';
}

// Where the content of an element whose content is text (of the name, lower case), starting at
// from, ends: at its end tag, or at the end of the text ("plaintext" has no end). In a script,
// "<!--" hides a "<script>...</script>" written inside it from the end tag search, as the
// parser's escaped script states do. One pass. Works on QByteArray and QString.
template <typename Text> int rawTextEnd(const Text& text, const QByteArray& name, int from)
{
    const int size = int(text.size());
    if (name == "plaintext")
        return size;
    const bool script = name == "script";
    enum { Data, Escaped, DoubleEscaped } state = Data;
    int dashes = 0;
    // Where the letters from at end, and whether they spell "script" ended by a blank, "/" or ">".
    const auto scriptNamed = [&](int at, int* end) {
        int j = at;
        while (j < size && isLetter(latin1(text.at(j))))
            ++j;
        *end = j;
        const char c = j < size ? latin1(text.at(j)) : 'x';
        return j - at == 6 && holdsAt(text, at, "script", true) && (isBlank(c) || c == '/' || c == '>');
    };
    for (int i = from; i < size;) {
        const char c = latin1(text.at(i));
        if (state == Data) {
            if (c == '<' && rawTextEndTagAt(text, i, name))
                return i;
            if (script && c == '<' && holdsAt(text, i, "<!--")) {
                state = Escaped;
                dashes = 2;
                i += 4;
            } else {
                ++i;
            }
            continue;
        }
        if (c == '-') {
            ++dashes;
            ++i;
            continue;
        }
        const bool closes = dashes >= 2 && c == '>';
        dashes = 0;
        if (closes) {
            state = Data;
            ++i;
        } else if (c != '<') {
            ++i;
        } else if (state == Escaped) {
            if (rawTextEndTagAt(text, i, name))
                return i;
            int end = 0;
            if (scriptNamed(i + 1, &end)) {
                state = DoubleEscaped;
                end += 1;
            }
            i = qMax(end, i + 1);
        } else if (i + 1 < size && latin1(text.at(i + 1)) == '/') {
            int end = 0;
            if (scriptNamed(i + 2, &end)) {
                state = Escaped;
                end += 1;
            }
            i = end;
        } else {
            ++i;
        }
    }
    return size;
}

// One attribute of a tag as written: its name in [nameBegin, nameEnd), the whole attribute
// (name, "=" with the blanks around it, and the value with its quotes) ending at end.
struct Attribute {
    int nameBegin = 0;
    int nameEnd = 0;
    int end = 0;
};

// The first attribute at or after from among a tag's attributes, which end at to (the tag's
// ">" or the end of the text), read as the HTML tokenizer does: blanks and "/" stand between
// attributes; a name runs up to a blank, "=", "/" or ">"; a value is quoted with " or ' (and
// may hold ">") or runs bare up to a blank or ">". False when no attribute is left.
inline bool nextAttribute(const QByteArray& text, int from, int to, Attribute* attribute)
{
    int i = from;
    while (i < to && (isBlank(text.at(i)) || text.at(i) == '/'))
        ++i;
    if (i >= to || text.at(i) == '>')
        return false;
    attribute->nameBegin = i;
    // A "=" where a name starts belongs to the name.
    ++i;
    while (i < to && !isBlank(text.at(i)) && text.at(i) != '=' && text.at(i) != '>' && text.at(i) != '/')
        ++i;
    attribute->nameEnd = i;
    attribute->end = i;
    while (i < to && isBlank(text.at(i)))
        ++i;
    if (i >= to || text.at(i) != '=')
        return true;
    ++i;
    while (i < to && isBlank(text.at(i)))
        ++i;
    if (i < to && (text.at(i) == '"' || text.at(i) == '\'')) {
        const int close = text.indexOf(text.at(i), i + 1);
        i = close < 0 || close >= to ? to : close + 1;
    } else {
        while (i < to && !isBlank(text.at(i)) && text.at(i) != '>')
            ++i;
    }
    attribute->end = i;
    return true;
}

// Whether the attribute's name is the name (any letter case).
inline bool nameIs(const QByteArray& text, const Attribute& attribute, const char* name)
{
    const int length = int(qstrlen(name));
    return attribute.nameEnd - attribute.nameBegin == length
        && qstrnicmp(text.constData() + attribute.nameBegin, name, uint(length)) == 0;
}

// The value of an attribute, without its quotes: [*begin, *end) in the text; empty for an
// attribute without one.
inline void attributeValue(const QByteArray& text, const Attribute& attribute, int* begin, int* end)
{
    int i = attribute.nameEnd;
    while (i < attribute.end && isBlank(text.at(i)))
        ++i;
    if (i < attribute.end && text.at(i) == '=')
        ++i;
    while (i < attribute.end && isBlank(text.at(i)))
        ++i;
    *begin = i;
    *end = attribute.end;
    if (i < attribute.end && (text.at(i) == '"' || text.at(i) == '\'')) {
        *begin = i + 1;
        *end = qMax(*begin, attribute.end - (text.at(attribute.end - 1) == text.at(i) ? 1 : 0));
    }
}

} // namespace markupscan

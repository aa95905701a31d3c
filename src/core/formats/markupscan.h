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

// The end of a tag (after its ">") whose attributes start at from; the end of the text when
// it has none. Quotes count where an attribute value starts. Works on QByteArray and QString.
template <typename Text> int tagEnd(const Text& text, int from)
{
    const int size = int(text.size());
    bool afterEquals = false;
    for (int i = from; i < size; ++i) {
        const char c = latin1(text.at(i));
        if (c == '>')
            return i + 1;
        if (afterEquals && (c == '"' || c == '\'')) {
            const int close = int(text.indexOf(text.at(i), i + 1));
            if (close < 0)
                return size;
            i = close;
            afterEquals = false;
        } else if (c == '=') {
            afterEquals = true;
        } else if (!isBlank(c)) {
            afterEquals = false;
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

// The end (after its close) of the comment whose "<!--" stands at lt, as the HTML parser reads
// it: "<!-->" and "<!--->" are whole comments, and "--!>" closes one as "-->" does; to (the end
// of the text when -1) for a comment never closed. Works on QByteArray and QString.
template <typename Text> int commentEnd(const Text& text, int lt, int to = -1)
{
    const int end = to < 0 ? int(text.size()) : to;
    const int body = lt + 4;
    if (body < end && latin1(text.at(body)) == '>')
        return body + 1;
    if (body + 1 < end && latin1(text.at(body)) == '-' && latin1(text.at(body + 1)) == '>')
        return body + 2;
    int close = end;
    for (const char* closing : { "-->", "--!>" }) {
        const int found = indexOfLatin1(text, closing, body);
        const int length = int(qstrlen(closing));
        if (found >= 0 && found + length <= end)
            close = qMin(close, found + length);
    }
    return close;
}

// Whether the "<" at lt starts a bogus comment for the HTML parser, one that runs to the next
// ">": "</" followed by anything but a letter or ">" ("</<b>" hides "<b>"; "</>" is dropped).
template <typename Text> bool startsBogusEndTag(const Text& text, int lt)
{
    return lt + 2 < int(text.size()) && latin1(text.at(lt + 1)) == '/' && !isLetter(latin1(text.at(lt + 2)));
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

// Where the content of an element whose content is text, starting at from, ends: at its end
// tag, or at the end of the text.
inline int rawTextEnd(const QByteArray& text, const QByteArray& name, int from)
{
    const int close = indexOfTag(text, '/' + name, from);
    return close < 0 ? text.size() : close;
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

#pragma once

#include <QByteArray>
#include <QSet>

// Pieces of reading markup the way the HTML parser does, shared by the passes that rewrite
// chapters byte for byte.
namespace markupscan {

using Names = QSet<QByteArray>;

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

// Elements whose content is text up to their end tag.
inline const Names& rawTextElements()
{
    static const Names names { "script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes" };
    return names;
}

// The end of a tag (after its ">") whose attributes start at from; the end of the text when
// it has none. Quotes count where an attribute value starts.
inline int tagEnd(const QByteArray& text, int from)
{
    const int size = text.size();
    bool afterEquals = false;
    for (int i = from; i < size; ++i) {
        const char c = text.at(i);
        if (c == '>')
            return i + 1;
        if (afterEquals && (c == '"' || c == '\'')) {
            const int close = text.indexOf(c, i + 1);
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

} // namespace markupscan

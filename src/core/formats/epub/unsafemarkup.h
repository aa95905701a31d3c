#pragma once

#include <QString>
#include <QStringView>

#include <functional>

namespace epub {

// What a book's chapter may not bring into the chapter page: the page runs the reader's own
// JavaScript engine beside the text, so no book script may ever run there. The same rules
// serve the XML scan, the DOM cleaning and the tolerant text pass, so the three agree.
//
// Names are local names (any "prefix:" removed) compared ignoring case: a chapter may be
// shown by the HTML parser, which ignores case and knows no prefixes.
class UnsafeMarkup {
public:
    // Returns the value of an attribute by lower-case local name, or a null string.
    using AttributeLookup = std::function<QString(const QString& localName)>;

    // "svg:script" -> "script".
    static QStringView localName(QStringView qualifiedName);

    // Elements removed with everything inside: script (any prefix), iframe, object and embed
    // that are not plain images, and a meta refresh to a javascript: URL.
    static bool isUnsafeElement(QStringView localName, const AttributeLookup& attribute);
    // True when the element's local name can be unsafe at all, so callers look at
    // attributes only for those.
    static bool mayBeUnsafeElement(QStringView localName);

    // Event handlers (on*) and javascript: URLs in the attributes that navigate or load
    // (href and xlink:href, src, action, formaction, data, and SVG animation values).
    static bool isUnsafeAttribute(QStringView qualifiedName, QStringView value);

    // An <?xml-stylesheet?> instruction that is not plainly CSS: its pseudo-attributes not
    // well-formed, or its type anything but "text/css" (or none).
    static bool isUnsafeProcessingInstruction(QStringView target, QStringView data);

    // True when the URL runs script once control characters, blanks and the tabs and line
    // breaks that URL parsing drops are taken out.
    static bool isJavascriptUrl(QStringView value);

    // HTML void elements, written as <br/>; every other empty element gets an end tag.
    static bool isVoidElement(QStringView localName);
};

} // namespace epub

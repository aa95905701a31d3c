#pragma once

// Chapter markup as the HTML5 parser (gumbo) reads it, for tests and the chapter fuzz loop: the
// text it shows, so that no pass loses a character the web view would show. Rules of its own,
// kept simple, so that it does not share the mistakes of the code it checks. What could run is
// judged by the web view itself (viewedmarkup.h). Link parsercheck, which brings gumbo.

#include <QByteArray>
#include <QString>
#include <QVector>

#include <gumbo.h>

#include <cstring>

namespace parsedmarkup {

struct Reading {
    QString shown; // the text shown, without blanks
};

inline bool isNamed(const GumboElement& element, const char* name)
{
    if (element.tag != GUMBO_TAG_UNKNOWN)
        return qstricmp(gumbo_normalized_tagname(element.tag), name) == 0;
    GumboStringPiece piece = element.original_tag;
    gumbo_tag_from_original_text(&piece);
    return piece.length == std::strlen(name) && qstrnicmp(piece.data, name, uint(piece.length)) == 0;
}

inline Reading read(const QByteArray& html)
{
    Reading reading;
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;
    GumboOutput* output = gumbo_parse_with_options(&options, html.constData(), size_t(html.size()));
    // Nodes, and whether their text is hidden (script, style, the head and the like).
    QVector<QPair<const GumboNode*, bool>> pending { { output->document, false } };
    while (!pending.isEmpty()) {
        const auto [node, hidden] = pending.takeLast();
        if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_CDATA || node->type == GUMBO_NODE_WHITESPACE) {
            if (!hidden) {
                for (const QChar c : QString::fromUtf8(node->v.text.text)) {
                    if (!c.isSpace())
                        reading.shown += c;
                }
            }
            continue;
        }
        const GumboVector* children = nullptr;
        bool hides = hidden;
        if (node->type == GUMBO_NODE_DOCUMENT) {
            children = &node->v.document.children;
        } else if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
            const GumboElement& element = node->v.element;
            children = &element.children;
            for (const char* name :
                { "script", "style", "head", "title", "template", "iframe", "object", "embed", "noembed", "noframes" })
                hides = hides || isNamed(element, name);
        }
        // In reverse, so that the text comes out in document order.
        for (unsigned i = children ? children->length : 0; i > 0; --i)
            pending.append({ static_cast<const GumboNode*>(children->data[i - 1]), hides });
    }
    gumbo_destroy_output(&options, output);
    return reading;
}

// Whether every character shown in before is still shown in after, in order.
inline bool keepsShownText(const QString& before, const QString& after)
{
    int k = 0;
    for (int i = 0; i < after.size() && k < before.size(); ++i) {
        if (after.at(i) == before.at(k))
            ++k;
    }
    return k == before.size();
}

} // namespace parsedmarkup

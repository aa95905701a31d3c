#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// Keeps the elements of a chapter from nesting deeper than the reading page can lay out.
//
// A book whose blocks are never closed (thousands of "<div>" without "</div>") or nested
// thousands of levels deep makes one element hold the whole rest of the chapter: the web view
// nests it to its parser's limit, and neither the reader nor the page counter can then lay
// the chapter out in parts. Real books stay a few dozen levels deep.
//
// The text is read the way the parser that shows it builds the tree: the HTML parser's
// implied end tags (a paragraph ends where a block starts, a list item at the next one) and
// its ignored "/>" on ordinary elements, or XML's strict nesting. A text no deeper than the
// bound is returned as it is, byte for byte, so element paths stored for it keep their
// meaning. A deeper one is rewritten, its text and its order kept, and so is one whose formatting
// elements left open the parser would reopen in block after block far more often than a book
// does (they are closed where they end):
// - an element that is never closed ends where the next element of its kind starts;
// - an element that would still stand deeper than the bound loses its tags (its content
//   joins its parent's); an id it carried stays on an empty span, so links still land.
// Works on any ASCII-compatible encoding.
class HtmlNesting {
public:
    // Deepest nesting kept, html and body included: far beyond any real book, far below the
    // HTML parser's own limit of 512 levels.
    static constexpr int MaxDepth = 200;

    enum Syntax { Html, Xml };

    // The deepest nesting of elements when the text is parsed with the syntax.
    static int depth(const QByteArray& text, Syntax syntax);
    // The text with no element deeper than maxDepth; changes (if given) receives the number of
    // tags dropped, added or replaced, 0 when the text is returned as it is. bodyLevelStarts (if
    // given, for HTML) receives those of the text returned as it is (see below), from the same
    // pass; it is left empty when the text is rewritten. visited (if given) receives the number of
    // open elements the passes looked at, pushed or popped: a measure of their work.
    static QByteArray bounded(const QByteArray& text, Syntax syntax, int* changes = nullptr, int maxDepth = MaxDepth,
        QVector<int>* bodyLevelStarts = nullptr, qint64* visited = nullptr);
    // Where an HTML text starts an element right in the body: with nothing but html and body open
    // after the parser's implied end tags, and no formatting element left open for the parser to
    // open again inside it. Cut there into files of their own, the text shows the same.
    static QVector<int> bodyLevelStarts(const QByteArray& text);

    // An element of an HTML text: where its tag starts (or the text or tag that made the parser
    // open it), and its name in lower case.
    struct Element {
        int at;
        QByteArray name;
    };
    // Every element the parser puts right in the body of an HTML text, in order, with those it
    // opens itself: the formatting elements it carries on, a "p" for a stray "</p>", a "br" for
    // "</br>". Elements before the body (in the head, or that the parser moves there) are among
    // them: the text is not told apart from its head.
    static QVector<Element> bodyLevelElements(const QByteArray& text);

    // Where an HTML text stands in SVG or MathML, as this pass reads it, from a position on up to
    // the next stretch: whether the current node is an SVG or MathML element (a "<![CDATA[" there
    // is text, not a comment), and whether a start tag there makes one (so an element whose
    // content is text in HTML holds markup there). Before the first stretch the text is HTML.
    struct ForeignStretch {
        int from;
        bool current;
        bool startsForeign;
    };
    // visited (if given) receives the number of open elements the walk looked at, pushed or popped.
    static QVector<ForeignStretch> foreignStretches(const QByteArray& text, qint64* visited = nullptr);
    // The same for a text of UTF-16 units, by their positions.
    static QVector<ForeignStretch> foreignStretches(const QString& text);
    // The stretch that holds position at (one of HTML before the first).
    static ForeignStretch foreignAt(const QVector<ForeignStretch>& stretches, int at);
};

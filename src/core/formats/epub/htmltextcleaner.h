#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>

namespace epub {

// Removes what UnsafeMarkup forbids from a chapter that is not well-formed XML, working on
// the text itself. Everything that is not removed keeps its bytes.
//
// The chapter may reach the screen through the HTML parser (by its name) or through the XML
// parser, which renders up to the first error. The pass therefore follows the HTML tokenizer
// where the two differ in what hides markup (comments end at the first "-->" or "<!-->",
// other "<!" and "<?" constructs at the first ">"), and also looks inside the raw text of
// style, title and the like, which the XML parser reads as markup. A DOCTYPE's internal subset
// is removed: its entities and attribute defaults would add markup in the XML parser. Where only
// the HTML parser reads the text (shownAsHtml), a DOCTYPE ends at its first ">", as there.
//
// Attributes of one tag beyond XmlGuard::MaxAttributes are dropped as well.
//
// Works on any ASCII-compatible encoding; UTF-16 (with a byte-order mark) is converted.
class HtmlTextCleaner {
public:
    // Number of things removed; out receives the cleaned text (the input when none). Every
    // search stops where what it looks for stands, or at the end of the text once for a kind
    // of search, so the work grows with the length of the text alone; scanned (if given) is
    // increased by the characters the searches read. shownAsHtml: only the HTML parser reads
    // the cleaned text, which shows the content of raw-text elements as text; it is kept so.
    static int clean(const QByteArray& data, QByteArray* out, qint64* scanned = nullptr, bool shownAsHtml = false);

private:
    struct Attribute {
        int rangeStart = 0; // the blanks before the name included
        int rangeEnd = 0;
        int nameStart = 0;
        int nameEnd = 0;
        int valueStart = -1;
        int valueEnd = -1;
    };
    struct Tag {
        int start = 0;
        int end = 0; // one past ">", or the end of the input
        int nameStart = 0;
        int nameEnd = 0;
        bool closed = false; // a ">" was found
        QList<Attribute> attributes;
    };

    HtmlTextCleaner(const QByteArray& data, bool rawTextElements, bool shownAsHtml, qint64* scanned);

    void run(int from, int to);
    int handleComment(int lt);
    int handleDoctype(int lt);
    int handleProcessingInstruction(int lt);
    int handleStartTag(int lt);
    int handleEndTag(int lt);
    int copyThroughGreater(int lt);
    // In SVG and MathML, CDATA is text to either parser, up to its "]]>".
    int copyCdata(int lt);
    // Counts a removed element or instruction, keeping the text around it from forming a tag
    // or a character reference with what follows at resumeAt.
    void countRemoval(int resumeAt);
    // Whether what is written ends in "&", "&#" and letters or digits: a reference's start.
    bool endsInReference();

    Tag parseTag(int lt) const;
    QByteArray tagName(const Tag& tag) const;
    QString attributeValue(const Attribute& attribute) const;
    QString attributeName(const Attribute& attribute) const;
    QString lookup(const Tag& tag, const QString& localName) const;
    // Position of "</name" followed by a delimiter, or -1.
    int findEndTag(const QByteArray& name, int from) const;
    int endOfElement(const QByteArray& name, int afterStartTag, bool nested) const;
    int endOfTagAt(int lt) const;
    // In SVG or MathML an element's content is markup: an HTML start tag, or the end of the SVG
    // or MathML, ends it before its end tag at end. Where it ends.
    int foreignEnd(int from, int end) const;
    void appendWithoutUnsafeAttributes(const Tag& tag);
    // The first c, or what, in [from, m_end); -1 when none.
    int find(char c, int from) const;
    int find(const char* what, int from) const;
    void count(qint64 characters) const;

    // The open and end tags of an element that nests (positions in order), and for each the
    // lowest depth from it on, so that whether an element is ever closed is known at once.
    struct NestedTags {
        QList<int> positions;
        QList<int> depths; // after the tag, counted from the first one
        QList<int> lowestFrom;
    };

    const QByteArray& m_in;
    int m_end = 0;
    bool m_rawTextElements;
    bool m_shownAsHtml;
    QByteArray m_out;
    int m_removed = 0;
    qint64* m_scanned;
    // Searches for end tags that found nothing: from where, by name.
    mutable QHash<QByteArray, int> m_noEndTagFrom;
    mutable QHash<QByteArray, NestedTags> m_nested;
    bool m_doctypeSeen = false;
    // The letters and digits that end m_out began at m_runStart when it was m_runCheckedTo long.
    int m_runCheckedTo = 0;
    int m_runStart = 0;
    // SVG and MathML elements open, roughly: the parser ends them all at an HTML start tag.
    int m_foreign = 0;
    // Elements open by name, roughly (no end tags implied): those in SVG and MathML, and the HTML
    // ones around. An end tag there closes an element of its name inside, or else an HTML one
    // outside and all in it, or else nothing.
    QHash<QByteArray, int> m_foreignOpen;
    QHash<QByteArray, int> m_htmlOpen;
    void leaveForeignContent();
};

} // namespace epub

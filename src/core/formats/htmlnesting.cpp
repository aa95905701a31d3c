#include "htmlnesting.h"

#include "markupscan.h"

#include <QHash>
#include <QSet>
#include <QVector>
#include <QtAlgorithms>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

using namespace markupscan;

// Searches of the open elements reach this far from the innermost one: enough for any real book.
constexpr int kSearchLimit = 4096;

// A book leaves a formatting element open across a few paragraphs; a hostile one leaves hundreds
// open, for the parser to reopen in each of thousands of blocks: a tree thousands of times as large
// as the text. Beyond this many reopenings, and one in so many bytes, the text is rewritten, its
// formatting elements closed where they end.
constexpr qint64 kReopenings = 4096;
constexpr qint64 kBytesPerReopening = 16;

// Start tags that end an open paragraph.
const Names& closesParagraph()
{
    static const Names names { "address", "article", "aside", "blockquote", "center", "details", "dialog", "dir", "div",
        "dl", "fieldset", "figcaption", "figure", "footer", "header", "hgroup", "main", "menu", "nav", "ol", "p",
        "section", "summary", "ul", "h1", "h2", "h3", "h4", "h5", "h6", "pre", "listing", "form", "li", "dd", "dt",
        "plaintext", "xmp", "hr" };
    return names;
}

// Elements that stop the search for an open list item, and for the end of an unknown element.
const Names& specialElements()
{
    static const Names names { "address", "applet", "area", "article", "aside", "base", "basefont", "bgsound",
        "blockquote", "body", "br", "button", "caption", "center", "col", "colgroup", "dd", "details", "dir", "div",
        "dl", "dt", "embed", "fieldset", "figcaption", "figure", "footer", "form", "frame", "frameset", "h1", "h2",
        "h3", "h4", "h5", "h6", "head", "header", "hgroup", "hr", "html", "iframe", "img", "input", "li", "link",
        "listing", "main", "marquee", "menu", "meta", "nav", "noembed", "noframes", "noscript", "object", "ol", "p",
        "param", "plaintext", "pre", "script", "section", "select", "source", "style", "summary", "table", "tbody",
        "td", "template", "textarea", "tfoot", "th", "thead", "title", "tr", "track", "ul", "wbr", "xmp" };
    return names;
}

// SVG and MathML elements whose content the parser reads as HTML again.
const Names& svgIntegrationPoints()
{
    static const Names names { "foreignobject", "desc", "title" };
    return names;
}

const Names& mathTextIntegrationPoints()
{
    static const Names names { "mi", "mo", "mn", "ms", "mtext" };
    return names;
}

// Elements that end the reach of the formatting elements opened before them.
const Names& formattingMarkers()
{
    static const Names names { "applet", "caption", "marquee", "object", "td", "th", "template" };
    return names;
}

// Start tags before which the parser does not reopen the formatting elements left open.
const Names& keepsFormattingClosed()
{
    static const Names names { "base", "basefont", "bgsound", "caption", "col", "colgroup", "frame", "frameset", "link",
        "meta", "noframes", "script", "style", "table", "tbody", "td", "template", "textarea", "tfoot", "th", "thead",
        "title", "tr" };
    return names;
}

const Names& defaultScope()
{
    static const Names names { "applet", "caption", "html", "table", "td", "th", "marquee", "object", "template" };
    return names;
}

const Names& buttonScope()
{
    static const Names names = defaultScope() + Names { "button" };
    return names;
}

const Names& listItemScope()
{
    static const Names names = defaultScope() + Names { "ol", "ul" };
    return names;
}

const Names& tableScope()
{
    static const Names names { "html", "table", "template" };
    return names;
}

const Names& headings()
{
    static const Names names { "h1", "h2", "h3", "h4", "h5", "h6" };
    return names;
}

const Names& tableSections()
{
    static const Names names { "tbody", "thead", "tfoot" };
    return names;
}

const Names& cells()
{
    static const Names names { "td", "th" };
    return names;
}

const Names& formattingElements()
{
    static const Names names { "a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike", "strong",
        "tt", "u" };
    return names;
}

// End tags of these close the nearest open element of the name within the default scope.
const Names& scopedEndTags()
{
    static const Names names { "address", "article", "aside", "blockquote", "button", "center", "details", "dialog",
        "dir", "div", "dl", "fieldset", "figcaption", "figure", "footer", "header", "hgroup", "listing", "main", "menu",
        "nav", "ol", "pre", "section", "summary", "ul", "form", "applet", "marquee", "object", "dd", "dt" };
    return names;
}

// The id attribute of the tag's attributes in [from, to) as written ("id='x'"); empty when none.
QByteArray idAttribute(const QByteArray& text, int from, int to)
{
    Attribute attribute;
    for (int i = from; nextAttribute(text, i, to, &attribute); i = attribute.end) {
        if (nameIs(text, attribute, "id") && attribute.end > attribute.nameEnd)
            return text.mid(attribute.nameBegin, attribute.end - attribute.nameBegin);
    }
    return QByteArray();
}

// The parser's list of the formatting elements left open, with markers (a table cell) that end
// the reach of those before them. Every question is answered without walking the list (each
// removed entry is passed over once): a hostile text opens formatting elements by the thousand,
// each with attributes of its own, so that none falls to the parser's limit of three alike.
class FormattingList {
public:
    struct Entry {
        QByteArray name; // empty for a marker
        QByteArray attributes;
        int id; // of the open element made for it
        qint64 serial;
        bool removed;
    };

    explicit FormattingList(qint64* visited)
        : m_visited(visited)
    {
    }

    bool isEmpty() const { return m_entries.empty(); }
    int size() const { return int(m_entries.size()); }
    const Entry& at(int k) const { return m_entries[k]; }
    void setId(int k, int id) { m_entries[k].id = id; }
    bool isMarker(int k) const { return m_entries[k].name.isEmpty() && !m_entries[k].removed; }

    void appendMarker()
    {
        m_markers.push_back(size());
        m_entries.push_back({ QByteArray(), QByteArray(), 0, ++m_serials, false });
    }

    // The last entry of the name since the last marker; -1 when none.
    int last(const QByteArray& name)
    {
        auto found = m_byName.find(name);
        if (found == m_byName.end())
            return -1;
        std::vector<Record>& records = *found;
        while (!records.empty() && !holds(records.back()))
            records.pop_back();
        return !records.empty() && records.back().at > lastMarker() ? records.back().at : -1;
    }

    // At most three alike (name and attributes) since the last marker, as the parser keeps.
    void add(const QByteArray& name, const QByteArray& attributes, int id)
    {
        const QByteArray kind = name + '\0' + attributes;
        std::vector<Record>& alike = m_byKind[kind];
        int count = 0;
        for (int k = int(alike.size()) - 1; k >= 0 && count < 3; --k) {
            ++*m_visited;
            if (!holds(alike[k])) {
                alike.erase(alike.begin() + k);
                continue;
            }
            if (alike[k].at < lastMarker())
                break;
            if (++count == 3)
                remove(alike[k].at);
        }
        const Record record { size(), ++m_serials };
        m_entries.push_back({ name, attributes, id, record.serial, false });
        m_byName[name].push_back(record);
        // Looked up again: the removal above may have compacted the lists.
        m_byKind[kind].push_back(record);
    }

    void remove(int k)
    {
        m_entries[k].removed = true;
        ++m_removed;
        while (!m_entries.empty() && m_entries.back().removed) {
            ++*m_visited;
            m_entries.pop_back();
            --m_removed;
        }
        if (m_entries.empty())
            forgetAll();
        else if (m_removed > 64 && 2 * m_removed > size())
            compact();
    }

    // Removes the entries since the last marker, and the marker (all when there is none).
    void clearToMarker()
    {
        const int to = m_markers.empty() ? 0 : m_markers.back();
        if (!m_markers.empty())
            m_markers.pop_back();
        for (int k = to; k < size(); ++k) {
            ++*m_visited;
            if (m_entries[k].removed)
                --m_removed;
        }
        m_entries.resize(to);
        if (m_entries.empty())
            forgetAll();
    }

private:
    // Where an entry stood when made; it holds while the entry is there.
    struct Record {
        int at;
        qint64 serial;
    };

    bool holds(const Record& record) const
    {
        return record.at < size() && m_entries[record.at].serial == record.serial && !m_entries[record.at].removed;
    }

    int lastMarker() const { return m_markers.empty() ? -1 : m_markers.back(); }

    // An empty list forgets where its entries stood: a book closes most of its formatting
    // elements (links, bold words) soon after it opens them, each with attributes of its own, and
    // the records of hundreds of thousands would otherwise be kept to the end. A few kinds are
    // kept, for the next entries to use again: a table made anew for each would cost more.
    void forgetAll()
    {
        m_markers.clear();
        if (m_byKind.size() > 64)
            m_byKind.clear();
        m_removed = 0;
    }

    // Drops the removed entries, once they are half the list, and notes where the others now stand.
    void compact()
    {
        std::vector<Entry> kept;
        m_markers.clear();
        m_byName.clear();
        m_byKind.clear();
        for (const Entry& entry : m_entries) {
            ++*m_visited;
            if (entry.removed)
                continue;
            const Record record { int(kept.size()), entry.serial };
            if (entry.name.isEmpty()) {
                m_markers.push_back(record.at);
            } else {
                m_byName[entry.name].push_back(record);
                m_byKind[entry.name + '\0' + entry.attributes].push_back(record);
            }
            kept.push_back(entry);
        }
        m_entries.swap(kept);
        m_removed = 0;
    }

    std::vector<Entry> m_entries;
    std::vector<int> m_markers;
    QHash<QByteArray, std::vector<Record>> m_byName;
    QHash<QByteArray, std::vector<Record>> m_byKind; // by name and attributes
    qint64 m_serials = 0;
    int m_removed = 0;
    qint64* m_visited;
};

// One pass over the text with a model of the parser's open elements. The first pass measures
// and finds the elements that are never closed; the second rewrites.
class Walker {
public:
    Walker(const QByteArray& text, HtmlNesting::Syntax syntax, int maxDepth)
        : m_text(text)
        , m_html(syntax == HtmlNesting::Html)
        , m_base(m_html ? 2 : 0)
        , m_maxDepth(maxDepth)
    {
    }

    // Measures, and marks which elements stay open until the end or an ancestor's end tag.
    void measure()
    {
        run();
        for (const Open& open : qAsConst(m_stack)) {
            if (open.ordinal >= 0)
                m_unclosed[open.ordinal] = true;
        }
    }

    // The start tags of those marked are known by where they stand: the rewriting walk may take
    // a tag the measure ignored (in a list box it closed early), so their counts part.
    QByteArray rewrite(const std::vector<int>& unclosedStarts)
    {
        m_rewriting = true;
        m_unclosedStarts = unclosedStarts;
        m_out.reserve(m_text.size() + m_text.size() / 8);
        run();
        m_out.append(m_text.constData() + m_copied, m_text.size() - m_copied);
        return m_out;
    }

    // Where measure() is to note the start of every element opened right in the body.
    void recordBodyLevelStarts(QVector<int>* starts) { m_bodyLevelStarts = starts; }
    // Where measure() is to note every element the parser puts right in the body.
    void recordBodyLevelElements(QVector<HtmlNesting::Element>* elements) { m_bodyLevelElements = elements; }
    // Where measure() is to note where the text stands in SVG or MathML.
    void recordForeignStretches(QVector<HtmlNesting::ForeignStretch>* stretches) { m_foreignStretches = stretches; }

    int deepest() const { return m_deepest; }
    // Whether the text is to be rewritten: too deep, or with formatting reopened far too often.
    bool rewrites() const { return m_deepest > m_maxDepth || reopensTooOften(); }
    bool reopensTooOften() const { return m_reopened > kReopenings + m_text.size() / kBytesPerReopening; }
    int changes() const { return m_changes; }
    // Open elements and formatting entries looked at, pushed or popped: about the number of tags.
    qint64 visited() const { return m_visited; }
    // Where the start tags of the elements measure() marked stand, in order.
    std::vector<int> unclosedStarts() const
    {
        std::vector<int> starts;
        for (size_t ordinal = 0; ordinal < m_unclosed.size(); ++ordinal) {
            if (m_unclosed[ordinal])
                starts.push_back(m_startAt[ordinal]);
        }
        return starts;
    }

private:
    struct Open {
        QByteArray name;
        int ordinal; // of the start tag; -1 for an element the parser makes itself
        bool dropped;
        bool unclosed;
        bool foreign; // an SVG or MathML element
        char space; // 'h' HTML, 's' SVG, 'm' MathML
        bool integration; // foreign, but the parser reads its content as HTML
        int id;
        unsigned marks = 0; // the kinds (Mark) it counts among while open
    };
    // Kinds of open elements whose innermost one a tag asks for: each has a stack of the
    // positions of those open, so that a tag finds the element it acts on without walking the
    // open elements (a hostile text opens them by the thousand and ends none).
    enum Mark {
        // The elements that bound the scopes: HTML elements of the scope's names, and but for a
        // table's, the foreign elements whose content is HTML.
        DefaultScope,
        ButtonScope,
        ListItemScope,
        TableScope,
        // Elements of these names, HTML or foreign alike.
        TableScopeName,
        Heading,
        DefaultScopeName,
        ListItemStop, // special elements but address, div and p: they stop the search for a list item
        TableStart, // what a table started in a table looks for: table, td, th, caption
        Cell,
        TableSection,
        SpecialKept, // special and kept in the rewritten text
        // What stops the search for the end of any other element: special HTML elements, and
        // the foreign elements whose content is HTML but for the SVG title.
        OtherEndStop,
        // Elements by namespace.
        HtmlElement,
        SvgElement,
        MathElement,
        MarkCount
    };

    void run()
    {
        const int size = m_text.size();
        int i = 0;
        while (i < size) {
            const int lt = m_text.indexOf('<', i);
            if (lt != i)
                reopenFormatting();
            if (lt < 0 || lt + 1 >= size)
                break;
            const char next = m_text.at(lt + 1);
            m_tokenStart = lt;
            if (!m_html && (next == '!' || next == '?')) {
                // XML ends a comment or an instruction at its own close, past any ">" in it.
                i = xmlHiddenEnd(m_text, lt);
            } else if (next == '!' && qstrncmp(m_text.constData() + lt, "<!--", 4) == 0) {
                i = commentEnd(m_text, lt);
            } else if (next == '!' && qstrncmp(m_text.constData() + lt, "<![CDATA[", 9) == 0 && !m_stack.isEmpty()
                && m_stack.last().foreign) {
                // Text in SVG and MathML; elsewhere the HTML parser reads a comment up to ">".
                const int close = m_text.indexOf("]]>", lt + 9);
                i = close < 0 ? size : close + 3;
            } else if (next == '!' || next == '?' || startsBogusEndTag(m_text, lt, !m_html)) {
                const int close = m_text.indexOf('>', lt + 2);
                i = close < 0 ? size : close + 1;
            } else if (next == '/' && lt + 2 < size && startsTagName(m_text.at(lt + 2), !m_html)) {
                const int nameEnd = tagNameEnd(m_text, lt + 2);
                i = tagEnd(m_text, nameEnd);
                endTag(m_text.mid(lt + 2, nameEnd - lt - 2).toLower(), lt, i);
            } else if (startsTagName(next, !m_html)) {
                const int nameEnd = tagNameEnd(m_text, lt + 1);
                i = tagEnd(m_text, nameEnd);
                const bool selfClosing = i >= 2 && m_text.at(i - 1) == '>' && m_text.at(i - 2) == '/';
                i = startTag(m_text.mid(lt + 1, nameEnd - lt - 1).toLower(), lt, nameEnd, i, selfClosing);
            } else {
                i = lt + 1;
            }
            if (m_foreignStretches)
                recordForeign(i);
        }
    }

    // Notes where what the parser reads as foreign changes, from the end of a token on.
    void recordForeign(int at)
    {
        const bool current = m_html && !m_stack.isEmpty() && m_stack.last().foreign;
        const bool startsForeign = foreignContext();
        const bool changed = m_foreignStretches->isEmpty() ? current || startsForeign
                                                           : m_foreignStretches->last().current != current
                || m_foreignStretches->last().startsForeign != startsForeign;
        if (changed)
            m_foreignStretches->append({ at, current, startsForeign });
    }

    // Handles a start tag in [lt, end); where the walk goes on.
    int startTag(const QByteArray& name, int lt, int nameEnd, int end, bool selfClosing)
    {
        // In SVG or MathML, an HTML start tag ends the foreign elements open, up to an HTML
        // element or one whose content is HTML.
        if (foreignContext()
            && (leavesForeignContent().contains(name)
                || (name == "font" && hasAttribute(nameEnd, end, { "color", "face", "size" })))) {
            int at = m_stack.size();
            while (at > 0 && m_stack.at(at - 1).foreign && !m_stack.at(at - 1).integration) {
                ++m_visited;
                --at;
            }
            replace(lt, lt, popTo(at));
        }
        const char space = namespaceOf(name);
        const bool foreign = space != 'h';
        if (m_html && !foreign && (name == "html" || name == "head" || name == "body"))
            return end;
        // Tags the parser ignores are left out of a rewritten text, where the element that made
        // the parser ignore them may be gone: table parts outside a table, and all but options
        // in a list box.
        if (m_html && !foreign && innermostNamed("table") < 0
            && (cells().contains(name) || tableSections().contains(name) || name == "tr" || name == "caption"
                || name == "col" || name == "colgroup")) {
            replace(lt, end, QByteArray());
            return end;
        }
        if (m_html && !foreign && innermostNamed("select") >= 0) {
            if (name == "select" || name == "input" || name == "keygen" || name == "textarea") {
                // These end the list box ("<select>" only that).
                const int at = innermostNamed("select");
                if (inReach(at))
                    replace(lt, lt, popTo(at));
                if (name == "select") {
                    replace(lt, end, QByteArray());
                    return end;
                }
            } else if (name != "option" && name != "optgroup" && name != "hr" && name != "script"
                && name != "template") {
                replace(lt, end, QByteArray());
                return end;
            }
        }
        const int ordinal = m_ordinals++;
        if (!m_rewriting) {
            m_unclosed.push_back(false);
            m_startAt.push_back(lt);
        }
        // An element never closed ends where the next of its kind starts, in the same namespace
        // and with no element of another open inside it: ended across SVG or MathML, what follows
        // would be read in another (an SVG "iframe" made an HTML one, a MathML "a" an SVG one).
        if (m_rewriting) {
            const int at = innermost(m_unclosedAt, name);
            if (inReach(at) && m_stack.at(at).space == space && innermostOutside(space) < at)
                replace(lt, lt, popTo(at));
        }
        const bool empty = m_html ? (foreign ? selfClosing : voidElements().contains(name)) : selfClosing;
        if (m_html && !foreign) {
            impliedEnds(name);
            if (!closesParagraph().contains(name) && !keepsFormattingClosed().contains(name))
                reopenFormatting();
            // Nothing open but html and body, and no formatting element for the parser to carry on.
            if (m_bodyLevelStarts && m_stack.isEmpty() && m_formatting.isEmpty())
                m_bodyLevelStarts->append(lt);
        }
        if (m_bodyLevelElements && m_html && m_stack.isEmpty())
            m_bodyLevelElements->append({ lt, name == "image" ? QByteArray("img") : name });
        if (empty)
            return end;

        const bool raw = !(m_html && foreign) && (rawTextElements().contains(name) || name == "plaintext");
        // Text-only elements stay: without their tags their content would show as text. Like
        // the span that keeps an id, they are leaves: kept elements stop a level short of the
        // bound to leave them room. SVG and MathML stay whole, and so does an HTML element right
        // in them: without its tags its content would be read in another namespace (CDATA as
        // text or as a comment, a title as text or as markup).
        const bool inForeign = !m_stack.isEmpty() && m_stack.last().foreign;
        const bool drop = m_rewriting && !raw && !foreign && !inForeign && m_base + m_kept >= m_maxDepth - 1;
        const bool integration = space == 's' ? svgIntegrationPoints().contains(name)
                                              : space == 'm'
                && (mathTextIntegrationPoints().contains(name)
                    || (name == "annotation-xml" && htmlEncoding(nameEnd, end)));
        push({ name, ordinal, drop, m_rewriting && measuredUnclosed(lt), foreign, space, integration, ++m_ids });
        if (tracksFormatting()) {
            if (formattingElements().contains(name) && !foreign)
                m_formatting.add(name, m_text.mid(nameEnd, end - nameEnd).trimmed(), m_ids);
            else if (formattingMarkers().contains(name))
                m_formatting.appendMarker();
        }
        if (!drop)
            ++m_kept;
        if (foreign)
            ++m_foreign;
        m_deepest = qMax(m_deepest, m_base + (m_rewriting ? m_kept : m_stack.size()));
        if (drop) {
            const QByteArray id = idAttribute(m_text, nameEnd, end);
            replace(lt, end, id.isEmpty() ? QByteArray() : "<span " + id + "></span>");
        }
        if (!raw || (selfClosing && !m_html))
            return end;
        if (name == "plaintext")
            return m_text.size();
        // The element's text runs to its end tag, which the walk then takes.
        return rawTextEnd(m_text, name, end);
    }

    void endTag(const QByteArray& name, int lt, int end)
    {
        int at = -1;
        bool html = m_html;
        if (!m_html) {
            at = innermostNamed(name);
            if (!inReach(at))
                at = -1;
        } else if (m_foreign > 0 && m_stack.last().foreign) {
            // The foreign element of the name from the innermost on, integration points too (the
            // parser reads an end tag as HTML only where an HTML element is the current node);
            // reaching an HTML element, the tag is read as HTML, and may close that element and
            // all in it.
            const int found = innermost(m_foreignAt, name);
            if (found > innermost(HtmlElement))
                at = found;
            html = at < 0;
        }
        if (!html) {
            // Read as XML, or it closes the foreign element found.
        } else if (name == "html" || name == "head" || name == "body") {
            return;
        } else if (name == "br") {
            // The parser takes "</br>" for "<br>"; only the elements found in the body heed it.
            if (m_bodyLevelElements) {
                reopenFormatting();
                if (m_stack.isEmpty())
                    m_bodyLevelElements->append({ lt, name });
            }
            return;
        } else if (name == "p") {
            at = findInScope(name, ButtonScope);
        } else if (name == "li") {
            at = findInScope(name, ListItemScope);
        } else if (headings().contains(name)) {
            // The innermost heading, unless an element of the scope comes first.
            at = innermost(Heading);
            if (!inReach(at) || at < innermost(DefaultScopeName))
                at = -1;
        } else if (name == "table" || name == "caption" || name == "colgroup" || cells().contains(name) || name == "tr"
            || tableSections().contains(name)) {
            at = findInScope(name, TableScope);
        } else if (formattingElements().contains(name)) {
            const int entry = tracksFormatting() ? m_formatting.last(name) : -1;
            // One left open but no longer open here is only forgotten.
            if (entry >= 0 && !m_inStack.contains(m_formatting.at(entry).id)) {
                m_formatting.remove(entry);
                return;
            }
            at = findInScope(name, DefaultScope);
            // With a block opened inside it, the parser moves the block's content into a copy
            // of the element: the nesting stays as deep, as if the tag were not there.
            if (at >= 0 && innermost(SpecialKept) > at)
                at = -1;
            if (at >= 0 && entry >= 0)
                m_formatting.remove(entry);
        } else if (scopedEndTags().contains(name)) {
            at = findInScope(name, DefaultScope);
        } else {
            // The SVG and MathML elements whose content is HTML are special too, but for the SVG
            // title, which the parser passes over.
            at = findInScope(name, OtherEndStop);
        }
        // A paragraph end without a paragraph makes an empty one.
        if (at < 0 && name == "p" && m_bodyLevelElements && m_stack.isEmpty())
            m_bodyLevelElements->append({ lt, name });
        if (at < 0) {
            // Ignored by the parser. A rewritten text loses it: with an element dropped, it
            // could close one that stays open here.
            if (m_rewriting && name != "p" && name != "br")
                replace(lt, end, QByteArray());
            return;
        }
        if (!m_rewriting) {
            for (int k = at + 1; k < m_stack.size(); ++k) {
                ++m_visited;
                if (m_stack.at(k).ordinal >= 0)
                    m_unclosed[m_stack.at(k).ordinal] = true;
            }
            popTo(at);
            return;
        }
        // The tag as written when it closes just the innermost element kept; otherwise the
        // end tags of exactly the elements kept that it closes, so that the parser of the
        // rewritten text, which does not see the dropped ones, closes the same.
        bool alone = !m_stack.at(at).dropped;
        for (int k = at + 1; alone && k < m_stack.size(); ++k) {
            ++m_visited;
            alone = m_stack.at(k).dropped;
        }
        const QByteArray ends = popTo(at);
        if (!alone)
            replace(lt, end, ends);
    }

    // The parser's implied end tags before a start tag of an HTML element.
    void impliedEnds(const QByteArray& name)
    {
        if (closesParagraph().contains(name)) {
            const int at = findInScope("p", ButtonScope);
            if (at >= 0)
                replace(m_tokenStart, m_tokenStart, popTo(at));
        }
        if (headings().contains(name) && !m_stack.isEmpty() && headings().contains(m_stack.last().name)) {
            replace(m_tokenStart, m_tokenStart, popTo(m_stack.size() - 1));
        } else if (name == "li" || name == "dd" || name == "dt") {
            // The innermost item, unless a special element but address, div and p comes first.
            const bool item = name == "li";
            const int at = innermost(ListItemStop);
            const QByteArray found = inReach(at) ? m_stack.at(at).name : QByteArray();
            if (item ? found == "li" : (found == "dd" || found == "dt"))
                replace(m_tokenStart, m_tokenStart, popTo(at));
        } else if (name == "a" || name == "nobr" || name == "button") {
            if (tracksFormatting()) {
                const int entry = m_formatting.last(name);
                if (entry >= 0)
                    m_formatting.remove(entry);
            }
            const int at = findInScope(name, DefaultScope);
            if (at >= 0)
                replace(m_tokenStart, m_tokenStart, popTo(at));
        } else if (cells().contains(name)) {
            popToInTable(innermost(Cell));
            // The parser puts a cell in a row of a row group of its own making when the table
            // has none open.
            if (topIs("table"))
                pushImplied("tbody");
            if (topIs("tbody") || topIs("thead") || topIs("tfoot"))
                pushImplied("tr");
        } else if (name == "tr") {
            popToInTable(innermostNamed("tr"));
            if (topIs("table"))
                pushImplied("tbody");
        } else if (tableSections().contains(name)) {
            popToInTable(innermost(TableSection));
        } else if (name == "table") {
            // A table started right in a table (not in a cell) ends the one open.
            const int at = innermost(TableStart);
            if (inReach(at) && m_stack.at(at).name == "table")
                replace(m_tokenStart, m_tokenStart, popTo(at));
        } else if ((name == "option" || name == "optgroup") && !m_stack.isEmpty() && m_stack.last().name == "option") {
            replace(m_tokenStart, m_tokenStart, popTo(m_stack.size() - 1));
        }
    }

    // Whether the parser reads what comes now as SVG or MathML: the innermost element is one,
    // and not one whose content is HTML.
    bool foreignContext() const
    {
        return m_html && m_foreign > 0 && m_stack.last().foreign && !m_stack.last().integration;
    }

    // The namespace the parser puts an element of the name in, here: 'h', 's' or 'm'.
    char namespaceOf(const QByteArray& name) const
    {
        if (!m_html)
            return 'h';
        // In an annotation, SVG starts, whatever its encoding says.
        if (m_foreign > 0 && m_stack.last().space == 'm' && name == "svg" && m_stack.last().name == "annotation-xml")
            return 's';
        if (foreignContext())
            return m_stack.last().space;
        // In MathML text, these two stay MathML.
        if (m_foreign > 0 && m_stack.last().space == 'm' && (name == "mglyph" || name == "malignmark")
            && mathTextIntegrationPoints().contains(m_stack.last().name))
            return 'm';
        return name == "svg" ? 's' : name == "math" ? 'm' : 'h';
    }

    bool hasAttribute(int from, int to, std::initializer_list<const char*> names) const
    {
        Attribute attribute;
        for (int i = from; nextAttribute(m_text, i, to, &attribute); i = attribute.end) {
            for (const char* name : names) {
                if (nameIs(m_text, attribute, name))
                    return true;
            }
        }
        return false;
    }

    // An annotation whose encoding makes its content HTML.
    bool htmlEncoding(int from, int to) const
    {
        Attribute attribute;
        for (int i = from; nextAttribute(m_text, i, to, &attribute); i = attribute.end) {
            if (!nameIs(m_text, attribute, "encoding"))
                continue;
            int begin = 0;
            int valueEnd = 0;
            attributeValue(m_text, attribute, &begin, &valueEnd);
            const QByteArray value = m_text.mid(begin, valueEnd - begin).toLower();
            return value == "text/html" || value == "application/xhtml+xml";
        }
        return false;
    }

    bool topIs(const char* name) const
    {
        return !m_stack.isEmpty() && !m_stack.last().dropped && m_stack.last().name == name;
    }

    void pushImplied(const QByteArray& name)
    {
        push({ name, -1, false, false, false, 'h', false, ++m_ids });
        ++m_kept;
        m_deepest = qMax(m_deepest, m_base + (m_rewriting ? m_kept : m_stack.size()));
    }

    // The rewritten text closes every formatting element it keeps with an end tag, so none is
    // reopened there: only the measure follows them, and once the text is known to be rewritten
    // only for a caller that notes where the parser puts elements or where SVG stands. A hostile
    // text leaves thousands open, for the parser to reopen in each of thousands of blocks: such a
    // caller stops following them too once they are reopened far too often, and reads the rest
    // of that text as if they were closed, as the chapter stored from it has them.
    bool tracksFormatting() const { return m_html && !m_rewriting && !m_formattingLeft; }

    // Text and most start tags reopen the formatting elements that were left open in an
    // element closed since: each reopening nests one level deeper.
    void reopenFormatting()
    {
        if (m_bodyLevelElements || m_foreignStretches ? reopensTooOften() : rewrites())
            m_formattingLeft = true;
        if (!tracksFormatting() || foreignContext() || m_formatting.isEmpty())
            return;
        int k = m_formatting.size() - 1;
        while (k >= 0 && !m_formatting.isMarker(k)
            && (m_formatting.at(k).removed || !m_inStack.contains(m_formatting.at(k).id))) {
            ++m_visited;
            --k;
        }
        for (++k; k < m_formatting.size(); ++k) {
            if (m_formatting.at(k).removed)
                continue;
            const QByteArray name = m_formatting.at(k).name;
            if (m_bodyLevelElements && m_stack.isEmpty())
                m_bodyLevelElements->append({ m_tokenStart, name });
            push({ name, -1, false, false, false, 'h', false, ++m_ids });
            m_formatting.setId(k, m_ids);
            ++m_reopened;
        }
        m_deepest = qMax(m_deepest, m_base + int(m_stack.size()));
    }

    // Whether the measure marked the start tag at lt; the rewriting walk asks in the text's order.
    bool measuredUnclosed(int lt)
    {
        while (m_nextUnclosed < m_unclosedStarts.size() && m_unclosedStarts[m_nextUnclosed] < lt)
            ++m_nextUnclosed;
        return m_nextUnclosed < m_unclosedStarts.size() && m_unclosedStarts[m_nextUnclosed] == lt;
    }

    // Whether a search from the innermost open element reaches index at.
    bool inReach(int at) const { return at >= 0 && at >= m_stack.size() - kSearchLimit; }

    int innermost(Mark mark) const { return m_marks[mark].empty() ? -1 : m_marks[mark].back(); }

    // The innermost open element of a namespace other than space ('h', 's' or 'm').
    int innermostOutside(char space) const
    {
        int at = -1;
        for (const auto& [kind, of] :
            { std::pair<Mark, char> { HtmlElement, 'h' }, { SvgElement, 's' }, { MathElement, 'm' } }) {
            if (of != space)
                at = qMax(at, innermost(kind));
        }
        return at;
    }

    int innermost(const QHash<QByteArray, std::vector<int>>& open, const QByteArray& name) const
    {
        const auto found = open.constFind(name);
        return found == open.cend() || found->empty() ? -1 : found->back();
    }

    // The innermost open element of the name, HTML or foreign.
    int innermostNamed(const QByteArray& name) const
    {
        return qMax(innermost(m_htmlAt, name), innermost(m_foreignAt, name));
    }

    // The innermost open HTML element of the name, unless an element that bounds the scope
    // comes first.
    int findInScope(const QByteArray& name, Mark scope) const
    {
        const int at = innermost(m_htmlAt, name);
        return inReach(at) && at >= innermost(scope) ? at : -1;
    }

    // Closes the table part at (the innermost of its kind), unless a table or template comes first.
    void popToInTable(int at)
    {
        if (inReach(at) && at > innermost(TableScopeName))
            replace(m_tokenStart, m_tokenStart, popTo(at));
    }

    // The kinds an element counts among: by its name (looked up once per name), its namespace
    // and whether it is kept.
    unsigned marksOf(const Open& open)
    {
        auto cached = m_nameMarks.constFind(open.name);
        if (cached == m_nameMarks.cend()) {
            const QByteArray& name = open.name;
            unsigned bits = 0;
            const auto mark = [&bits](bool holds, Mark kind) {
                if (holds)
                    bits |= 1u << kind;
            };
            const bool special = specialElements().contains(name);
            mark(defaultScope().contains(name), DefaultScope);
            mark(buttonScope().contains(name), ButtonScope);
            mark(listItemScope().contains(name), ListItemScope);
            mark(tableScope().contains(name), TableScope);
            mark(tableScope().contains(name), TableScopeName);
            mark(headings().contains(name), Heading);
            mark(defaultScope().contains(name), DefaultScopeName);
            mark(special && name != "address" && name != "div" && name != "p", ListItemStop);
            mark(name == "table" || cells().contains(name) || name == "caption", TableStart);
            mark(cells().contains(name), Cell);
            mark(tableSections().contains(name), TableSection);
            mark(special, SpecialKept);
            mark(special, OtherEndStop);
            mark(true, HtmlElement);
            cached = m_nameMarks.insert(name, bits);
        }
        const unsigned htmlOnly = 1u << DefaultScope | 1u << ButtonScope | 1u << ListItemScope | 1u << TableScope
            | 1u << OtherEndStop | 1u << HtmlElement;
        unsigned bits = *cached;
        if (open.dropped)
            bits &= ~(1u << SpecialKept);
        if (!open.foreign)
            return bits;
        bits &= ~htmlOnly;
        bits |= 1u << (open.space == 'm' ? MathElement : SvgElement);
        const bool annotation = open.space == 'm' && open.name == "annotation-xml";
        if (open.integration || annotation)
            bits |= 1u << DefaultScope | 1u << ButtonScope | 1u << ListItemScope;
        if ((open.integration && !(open.space == 's' && open.name == "title")) || annotation)
            bits |= 1u << OtherEndStop;
        return bits;
    }

    // Opens an element: the one place where the stacks of the kinds grow with the open elements.
    void push(Open open)
    {
        ++m_visited;
        const int at = m_stack.size();
        open.marks = marksOf(open);
        for (unsigned kinds = open.marks; kinds != 0; kinds &= kinds - 1)
            m_marks[qCountTrailingZeroBits(kinds)].push_back(at);
        (open.foreign ? m_foreignAt : m_htmlAt)[open.name].push_back(at);
        if (open.unclosed)
            m_unclosedAt[open.name].push_back(at);
        if (tracksFormatting())
            m_inStack.insert(open.id);
        m_stack.append(open);
    }

    // Closes the open elements from the innermost down to index at; the end tags of those kept.
    QByteArray popTo(int at)
    {
        QByteArray ends;
        for (int k = m_stack.size() - 1; k >= at; --k) {
            ++m_visited;
            const Open& open = m_stack.at(k);
            // Each stack of a kind holds the element last: positions only grow.
            for (unsigned kinds = open.marks; kinds != 0; kinds &= kinds - 1)
                m_marks[qCountTrailingZeroBits(kinds)].pop_back();
            (open.foreign ? m_foreignAt : m_htmlAt)[open.name].pop_back();
            if (open.unclosed)
                m_unclosedAt[open.name].pop_back();
            if (tracksFormatting()) {
                m_inStack.remove(open.id);
                if (formattingMarkers().contains(open.name))
                    m_formatting.clearToMarker();
            }
            if (!open.dropped) {
                --m_kept;
                if (m_rewriting)
                    ends += "</" + open.name + '>';
                if (open.foreign)
                    --m_foreign;
            }
        }
        m_stack.resize(at);
        return ends;
    }

    // Puts with in place of [from, to) in the rewritten text. Text on either side of a tag taken
    // out never joins into a tag of its own: "x<<span>script>" stays text.
    void replace(int from, int to, const QByteArray& with)
    {
        if (!m_rewriting || (from == to && with.isEmpty()))
            return;
        m_out.append(m_text.constData() + m_copied, from - m_copied);
        escapeDanglingLessThan(&m_out);
        m_out.append(with);
        m_copied = to;
        ++m_changes;
    }

    const QByteArray& m_text;
    const bool m_html;
    const int m_base;
    const int m_maxDepth;
    bool m_rewriting = false;
    bool m_formattingLeft = false;
    qint64 m_reopened = 0;
    QVector<Open> m_stack;
    // Where the open elements of each name stand, by namespace, and those never closed.
    QHash<QByteArray, std::vector<int>> m_htmlAt;
    QHash<QByteArray, std::vector<int>> m_foreignAt;
    QHash<QByteArray, std::vector<int>> m_unclosedAt;
    std::vector<int> m_marks[MarkCount];
    QHash<QByteArray, unsigned> m_nameMarks;
    std::vector<bool> m_unclosed; // by ordinal, in the measure
    std::vector<int> m_startAt; // by ordinal, in the measure
    std::vector<int> m_unclosedStarts; // in the rewriting
    size_t m_nextUnclosed = 0;
    FormattingList m_formatting { &m_visited };
    QSet<int> m_inStack;
    int m_ids = 0;
    int m_ordinals = 0;
    int m_kept = 0;
    int m_foreign = 0;
    int m_deepest = 0;
    QByteArray m_out;
    int m_copied = 0;
    int m_tokenStart = 0;
    int m_changes = 0;
    mutable qint64 m_visited = 0;
    QVector<int>* m_bodyLevelStarts = nullptr;
    QVector<HtmlNesting::Element>* m_bodyLevelElements = nullptr;
    QVector<HtmlNesting::ForeignStretch>* m_foreignStretches = nullptr;
};

} // namespace

int HtmlNesting::depth(const QByteArray& text, Syntax syntax)
{
    Walker walker(text, syntax, MaxDepth);
    walker.measure();
    return walker.deepest();
}

QByteArray HtmlNesting::bounded(
    const QByteArray& text, Syntax syntax, int* changes, int maxDepth, QVector<int>* bodyLevelStarts, qint64* visited)
{
    if (changes)
        *changes = 0;
    Walker measured(text, syntax, maxDepth);
    if (bodyLevelStarts && syntax == Html)
        measured.recordBodyLevelStarts(bodyLevelStarts);
    measured.measure();
    if (visited)
        *visited = measured.visited();
    if (!measured.rewrites())
        return text;
    if (bodyLevelStarts)
        bodyLevelStarts->clear();
    Walker rewriter(text, syntax, maxDepth);
    const QByteArray out = rewriter.rewrite(measured.unclosedStarts());
    if (changes)
        *changes = rewriter.changes();
    if (visited)
        *visited += rewriter.visited();
    return out;
}

namespace {

// What one measuring walk over an HTML text notes with the record function.
template <typename Noted>
QVector<Noted> noted(const QByteArray& text, void (Walker::*record)(QVector<Noted>*), qint64* visited = nullptr)
{
    QVector<Noted> found;
    Walker walker(text, HtmlNesting::Html, HtmlNesting::MaxDepth);
    (walker.*record)(&found);
    walker.measure();
    if (visited)
        *visited = walker.visited();
    return found;
}

} // namespace

QVector<int> HtmlNesting::bodyLevelStarts(const QByteArray& text)
{
    return noted(text, &Walker::recordBodyLevelStarts);
}

QVector<HtmlNesting::Element> HtmlNesting::bodyLevelElements(const QByteArray& text)
{
    return noted(text, &Walker::recordBodyLevelElements);
}

QVector<HtmlNesting::ForeignStretch> HtmlNesting::foreignStretches(const QByteArray& text, qint64* visited)
{
    return noted(text, &Walker::recordForeignStretches, visited);
}

QVector<HtmlNesting::ForeignStretch> HtmlNesting::foreignStretches(const QString& text)
{
    // Only an svg or math tag starts foreign content: most books have neither, and need no walk.
    // Each "<" is found by the search for one character, the fastest there is, and the name after
    // it looked at: a search in any letter case takes several times as long, a loop over every
    // character twice as long as all the rest.
    const ushort* units = text.utf16();
    const int size = text.size();
    const auto holds = [&](int at, const char* lower) {
        for (int k = 0; lower[k]; ++k) {
            if (at + k >= size || (units[at + k] | 0x20) != lower[k])
                return false;
        }
        return true;
    };
    int lt = text.indexOf(QLatin1Char('<'));
    while (lt >= 0 && !holds(lt + 1, "svg") && !holds(lt + 1, "math"))
        lt = text.indexOf(QLatin1Char('<'), lt + 1);
    if (lt < 0)
        return {};
    // Markup is ASCII: every other unit stands for one byte that is no part of it, so positions
    // stay as they are.
    QByteArray bytes(size, '\x80');
    for (int i = 0; i < size; ++i) {
        if (units[i] < 0x80)
            bytes[i] = char(units[i]);
    }
    return foreignStretches(bytes);
}

HtmlNesting::ForeignStretch HtmlNesting::foreignAt(const QVector<ForeignStretch>& stretches, int at)
{
    const auto after = std::upper_bound(stretches.cbegin(), stretches.cend(), at,
        [](int position, const ForeignStretch& stretch) { return position < stretch.from; });
    return after == stretches.cbegin() ? ForeignStretch { 0, false, false } : *(after - 1);
}

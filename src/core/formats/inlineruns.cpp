#include "inlineruns.h"

#include "markupscan.h"

#include <QSet>
#include <QVector>

#include <algorithm>
#include <cstring>

namespace {

using namespace markupscan;

// Most inline elements closed and opened again at a cut.
constexpr int kMaxReopened = 32;
// Letters and digits of the longest reference name the HTML parser knows, with its ";".
constexpr int kLongestReferenceName = 32;

// Elements that start or end a block: a run of inline content ends at any of their tags.
const Names& blockElements()
{
    static const Names names { "address", "applet", "article", "aside", "blockquote", "body", "caption", "center",
        "col", "colgroup", "dd", "details", "dialog", "dir", "div", "dl", "dt", "fieldset", "figcaption", "figure",
        "footer", "form", "frameset", "h1", "h2", "h3", "h4", "h5", "h6", "head", "header", "hgroup", "hr", "html",
        "li", "listing", "main", "marquee", "menu", "nav", "object", "ol", "optgroup", "option", "p", "plaintext",
        "pre", "section", "select", "summary", "table", "tbody", "td", "template", "tfoot", "th", "thead", "tr", "ul" };
    return names;
}

// Blocks whose runs are left alone: text there is moved or dropped by the parser anyway.
const Names& untouchedContainers()
{
    static const Names names { "applet", "colgroup", "frameset", "head", "marquee", "object", "optgroup", "option",
        "select", "table", "tbody", "template", "tfoot", "thead", "tr" };
    return names;
}

// Blocks whose lines end with a line end rather than a line break: a cut anywhere else would
// break a line in two.
const Names& preformattedElements()
{
    static const Names names { "pre", "listing", "plaintext" };
    return names;
}

// Elements taken whole, as one piece of inline content: their content is no markup of ours.
const Names& opaqueElements()
{
    static const Names names = rawTextElements() + Names { "svg", "math" };
    return names;
}

bool isSpaceOrEnd(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '/' || c == '>';
}

struct Token {
    enum Kind { Text, Start, End, Other };
    Kind kind = Text;
    int begin = 0;
    int end = 0;
    QByteArray name;
    // A start tag that also ends its element: a void element, or "/>" in XML.
    bool empty = false;
};

class Tokenizer {
public:
    Tokenizer(const QByteArray& text, bool xml, qint64* scanned)
        : m_text(text)
        , m_xml(xml)
        , m_scanned(scanned)
    {
    }

    // The token at pos; pos must be before the end of the text. Counts the bytes it spans as read.
    Token at(int pos) const
    {
        const Token token = read(pos);
        if (m_scanned)
            *m_scanned += token.end - token.begin;
        return token;
    }

private:
    Token read(int pos) const
    {
        Token token;
        token.begin = pos;
        const int size = m_text.size();
        if (!opensTag(pos)) {
            int next = pos + 1;
            while (next < size && !((next = m_text.indexOf('<', next)) < 0) && !opensTag(next))
                ++next;
            token.end = next < 0 || next > size ? size : next;
            return token;
        }
        const char c = m_text.at(pos + 1);
        if (c == '!' || c == '?' || startsBogusEndTag(m_text, pos, m_xml)) {
            token.kind = Token::Other;
            // SVG and MathML are taken whole below: out here CDATA is a section to XML alone,
            // and to the HTML parser a comment that ends at the first ">". XML ends a comment
            // or an instruction at its own close only, past any ">" in it.
            token.end = m_xml ? xmlHiddenEnd(m_text, pos) : hiddenEnd(m_text, pos);
            return token;
        }
        const bool endTag = c == '/';
        int nameEnd = pos + (endTag ? 2 : 1);
        while (nameEnd < size && !isSpaceOrEnd(m_text.at(nameEnd)))
            ++nameEnd;
        const int nameStart = pos + (endTag ? 2 : 1);
        token.name = m_text.mid(nameStart, nameEnd - nameStart).toLower();
        token.kind = endTag ? Token::End : Token::Start;
        token.end = tagEnd(m_text, nameEnd);
        // HTML reads "</br>" as a line break.
        if (endTag && !m_xml && token.name == "br")
            token.kind = Token::Start;
        if (token.kind != Token::Start)
            return token;
        // HTML ignores "/>" on any element that is not void.
        token.empty = voidElements().contains(token.name) || (m_xml && m_text.at(token.end - 2) == '/');
        if (!token.empty && opaqueElements().contains(token.name)) {
            // Up to and with the end tag: nothing inside is read as markup.
            const QByteArray close = "</" + token.name;
            int end = token.end;
            for (;;) {
                end = m_text.indexOf('<', end);
                if (end < 0) {
                    end = size;
                    break;
                }
                if (m_text.mid(end, close.size()).toLower() == close) {
                    end = tagEnd(m_text, end + close.size());
                    break;
                }
                ++end;
            }
            token.kind = Token::Other;
            token.end = end;
        }
        return token;
    }

    bool opensTag(int pos) const
    {
        if (pos + 1 >= m_text.size() || m_text.at(pos) != '<')
            return false;
        const char c = m_text.at(pos + 1);
        return isLetter(c) || c == '!' || c == '?' || (c == '/' && pos + 2 < m_text.size())
            || (m_xml && startsTagName(c, true));
    }

    const QByteArray& m_text;
    const bool m_xml;
    qint64* const m_scanned;
};

// Whether an attribute names its element: copies of a start tag must not repeat an id, nor an
// anchor's name. HTML reads attribute names in any letter case, XML as written.
bool isNaming(const QByteArray& tag, const Attribute& attribute, bool xml)
{
    QByteArray name = tag.mid(attribute.nameBegin, attribute.nameEnd - attribute.nameBegin);
    if (!xml)
        name = name.toLower();
    return name == "id" || name == "name" || name == "xml:id";
}

// The start tag again, without the attributes that name the element; every other byte as it
// was, values included, whatever they hold.
QByteArray reopened(const QByteArray& tag, bool xml)
{
    int nameEnd = 1;
    while (nameEnd < tag.size() && !isSpaceOrEnd(tag.at(nameEnd)))
        ++nameEnd;
    const int to = tag.endsWith('>') ? tag.size() - 1 : tag.size();
    QByteArray out;
    int copied = 0;
    // The blanks in front of a dropped attribute go with it.
    int previousEnd = nameEnd;
    Attribute attribute;
    for (int i = nameEnd; nextAttribute(tag, i, to, &attribute); i = attribute.end) {
        if (isNaming(tag, attribute, xml)) {
            out.append(tag.constData() + copied, previousEnd - copied);
            copied = attribute.end;
        }
        previousEnd = attribute.end;
    }
    if (copied == 0)
        return tag;
    out.append(tag.constData() + copied, tag.size() - copied);
    return out;
}

struct Run {
    int begin = 0;
    int end = 0;
    // The start tag of the paragraph the run stands in; empty when it stands in another block.
    QByteArray paragraph;
    // Cut only after a line end.
    bool preformatted = false;
    // Bytes of a line end right after "<pre>" or "<listing>", which the HTML parser drops: they
    // stay in front of the first block.
    int lead = 0;
};

// The long runs of inline content, in order.
QVector<Run> longRuns(const QByteArray& text, bool xml, int maxRunBytes, qint64* scanned)
{
    QVector<Run> runs;
    const Tokenizer tokens(text, xml, scanned);
    struct Block {
        QByteArray name;
        int begin;
        int end;
    };
    QVector<Block> blocks;
    QVector<QByteArray> inlines;
    int runBegin = -1;
    const auto endRun = [&](int at) {
        if (runBegin >= 0 && at - runBegin > maxRunBytes) {
            const QByteArray container = blocks.isEmpty() ? QByteArray() : blocks.last().name;
            const auto inside = [&blocks](const auto& isName) {
                return std::any_of(blocks.cbegin(), blocks.cend(), [&](const Block& b) { return isName(b.name); });
            };
            // In XML only what stands in the body: an element of another namespace must not
            // end up inside one of ours, nor a second root be made.
            const bool inBody = inside([](const QByteArray& name) { return name == "body"; });
            // HTML reads everything after "<plaintext>" as text, tags of ours too.
            const bool plainText = !xml && inside([](const QByteArray& name) { return name == "plaintext"; });
            if (!untouchedContainers().contains(container) && (!xml || inBody) && !plainText) {
                Run run { runBegin, at, QByteArray() };
                if (container == "p")
                    run.paragraph
                        = reopened(text.mid(blocks.last().begin, blocks.last().end - blocks.last().begin), xml);
                run.preformatted = inside([](const QByteArray& name) { return preformattedElements().contains(name); });
                if (!xml && (container == "pre" || container == "listing") && blocks.last().end == runBegin) {
                    const QByteArray head = text.mid(runBegin, 2);
                    run.lead = head == "\r\n" ? 2 : head.startsWith('\n') || head.startsWith('\r') ? 1 : 0;
                }
                runs.append(run);
            }
        }
        runBegin = -1;
        inlines.clear();
    };
    for (int pos = 0; pos < text.size();) {
        const Token token = tokens.at(pos);
        pos = token.end;
        if ((token.kind == Token::Start || token.kind == Token::End) && blockElements().contains(token.name)) {
            endRun(token.begin);
            if (token.kind == Token::Start) {
                // In HTML a block ends an open paragraph.
                if (!xml && !blocks.isEmpty() && blocks.last().name == "p")
                    blocks.removeLast();
                if (!token.empty)
                    blocks.append({ token.name, token.begin, token.end });
            } else {
                for (int k = blocks.size() - 1; k >= 0; --k) {
                    if (blocks.at(k).name == token.name) {
                        blocks.resize(k);
                        break;
                    }
                }
            }
            continue;
        }
        if (token.kind == Token::End) {
            const int k = inlines.lastIndexOf(token.name);
            if (k < 0) {
                // Ends an element opened before the run: a wrapper must not stand across it.
                endRun(token.begin);
                continue;
            }
            inlines.resize(k);
        }
        if (runBegin < 0)
            runBegin = token.begin;
        if (token.kind == Token::Start && !token.empty)
            inlines.append(token.name);
    }
    endRun(text.size());
    return runs;
}

// Writes one run cut into blocks of about pieceBytes.
class RunWriter {
public:
    RunWriter(const QByteArray& text, bool xml, const Run& run, int pieceBytes, QByteArray* out, qint64* scanned)
        : m_text(text)
        , m_xml(xml)
        , m_run(run)
        , m_piece(pieceBytes)
        , m_out(out)
        , m_scanned(scanned)
    {
    }

    void write()
    {
        const bool inParagraph = !m_run.paragraph.isEmpty();
        int pos = m_run.begin;
        if (!inParagraph) {
            m_out->append(m_text.constData() + pos, m_run.lead);
            pos += m_run.lead;
            *m_out += "<div>";
        }
        const Tokenizer tokens(m_text, m_xml, m_scanned);
        while (pos < m_run.end) {
            const Token token = tokens.at(pos);
            pos = token.end;
            if (token.kind == Token::Text) {
                writeText(token.begin, token.end);
                continue;
            }
            put(token.begin, token.end);
            if (token.kind == Token::Start && token.name == "br") {
                if (m_filled >= m_piece && canCut())
                    m_cutPending = true;
            } else if (token.kind == Token::Start && !token.empty) {
                const QByteArray tag = m_text.mid(token.begin, token.end - token.begin);
                // Closed as written: XML names keep their letter case.
                m_open.append({ token.name, reopened(tag, m_xml), "</" + tag.mid(1, token.name.size()) + '>' });
            } else if (token.kind == Token::End) {
                for (int k = m_open.size() - 1; k >= 0; --k) {
                    if (m_open.at(k).name == token.name) {
                        m_open.resize(k);
                        break;
                    }
                }
            }
        }
        if (!inParagraph) {
            // A run that ends the text may end in what the parser shows as text ("</").
            escapeDanglingLessThan(m_out);
            closeOpen();
            *m_out += "</div>";
            reopenOpen();
        }
    }

private:
    struct Open {
        QByteArray name;
        QByteArray tag;
        QByteArray endTag;
    };

    void writeText(int begin, int end)
    {
        // Without a line break, a piece is cut at a sentence's end or else at a space, or
        // anywhere where a word is longer than a piece; preformatted text only after a line end.
        // Each search stays within the text's own bytes: one that ran on to the end of the
        // chapter, for each of the thousands of texts of a run that cannot be cut, made the pass
        // grow with the square of the run.
        m_scan = begin;
        m_reference = -1;
        m_wholeBefore = false;
        for (;;) {
            const int filled = m_cutPending ? 0 : m_filled;
            if (filled + (end - begin) <= 2 * m_piece || !canCut())
                break;
            const int from = begin + qMax(0, m_piece - filled);
            const int cut = m_run.preformatted ? find('\n', from, end) : cutPlace(begin, from, end);
            if (cut < 0)
                break;
            put(begin, cut + 1);
            m_cutPending = true;
            begin = cut + 1;
        }
        if (begin < end)
            put(begin, end);
    }

    // The last byte of a piece that is full at from, in text of no line break that starts at
    // start: a sentence's end or a space within a piece's length, or else any character that
    // leaves every character and reference whole. The web view lays a block out in a time that
    // grows with the square of the pages it spans: a word of a megabyte (of "<", say) took
    // seconds as one block.
    int cutPlace(int start, int from, int end)
    {
        m_parting = -1;
        for (int at = from; at < end; at += m_piece) {
            const int to = qMin(end, at + m_piece);
            for (int dot = find('.', at, to); dot >= 0; dot = find('.', dot + 1, to)) {
                if (dot + 1 < end && m_text.at(dot + 1) == ' ' && !markAfter(dot + 1, end))
                    return dot + 1;
            }
            int cut = find(' ', at, to);
            while (cut >= 0 && markAfter(cut, end))
                cut = find(' ', cut + 1, to);
            // A word that ends within the piece stays whole.
            if (cut < 0 && to - at == m_piece) {
                cut = wholeCharacter(start, at, to, end);
                // A whole piece after a letter with marks has no other place: marks alone, cut anyway.
                if (cut < 0 && m_parting >= 0 && to - m_parting > m_piece)
                    cut = m_parting;
            }
            if (cut >= 0)
                return cut;
        }
        return -1;
    }

    // The first byte in [from, to) after which a cut splits no character and no character
    // reference: an ASCII byte after another is a character of its own in any ASCII-compatible
    // encoding. Nor does it part a letter from a combining mark after it, which would stand
    // alone at the start of the next block: the cut goes before that letter (when that place
    // is whole and after start), or on to the next place; the first place that parts them is
    // kept in m_parting. References are followed from the text's start on, each byte once.
    int wholeCharacter(int start, int from, int to, int end)
    {
        for (; m_scan < to; ++m_scan) {
            if (m_scanned)
                ++*m_scanned;
            const char c = m_text.at(m_scan);
            followReference(c);
            const bool whole = m_reference < 0 && uchar(c) < 0x80 && uchar(m_text.at(qMax(0, m_scan - 1))) < 0x80;
            const bool wholeBefore = m_wholeBefore;
            m_wholeBefore = whole;
            if (m_scan < from || !whole)
                continue;
            if (!markAfter(m_scan, end))
                return m_scan++;
            if (wholeBefore && m_scan - 1 >= start) {
                ++m_scan;
                return m_scan - 2;
            }
            if (m_parting < 0)
                m_parting = m_scan;
        }
        return -1;
    }

    // Whether the character after the byte at pos (and before end) joins the one before it: a
    // combining mark, a variation selector or a zero-width joiner, in UTF-8. In another
    // encoding its bytes seldom read as one, and then a cut is only made elsewhere.
    bool markAfter(int pos, int end) const
    {
        const int at = pos + 1;
        if (at >= end || uchar(m_text.at(at)) < 0xC2)
            return false;
        const uchar lead = uchar(m_text.at(at));
        const int length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
        if (length == 0 || at + length > end)
            return false;
        uint code = lead & (0xFF >> (length + 1));
        for (int k = 1; k < length; ++k) {
            const uchar next = uchar(m_text.at(at + k));
            if ((next & 0xC0) != 0x80)
                return false;
            code = code << 6 | (next & 0x3F);
        }
        const QChar::Category category = QChar::category(code);
        return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
            || category == QChar::Mark_Enclosing || code == 0x200D;
    }

    // Where the reference that the byte at m_scan may belong to starts, in m_reference.
    void followReference(char c)
    {
        if (c == '&') {
            m_reference = m_scan;
        } else if (m_reference >= 0) {
            const bool named = m_text.at(m_reference + 1) != '#';
            // XML names hold other characters, and always end with ";"; the HTML parser takes
            // letters and digits, a name up to the longest it knows.
            if (c == ';' || (!m_xml && !(isLetter(c) || (c >= '0' && c <= '9') || c == '#'))
                || (!m_xml && named && m_scan - m_reference > kLongestReferenceName))
                m_reference = -1;
        }
    }

    // The first c in [from, to), or -1; counts the bytes looked at as read.
    int find(char c, int from, int to) const
    {
        const char* start = m_text.constData() + from;
        const auto* at = static_cast<const char*>(memchr(start, c, size_t(qMax(0, to - from))));
        if (m_scanned)
            *m_scanned += at ? at - start + 1 : qMax(0, to - from);
        return at ? int(at - m_text.constData()) : -1;
    }

    // Each cut closes and opens again every inline element open at it: where hundreds are
    // open, cutting would multiply the text, so the run stays whole there.
    bool canCut() const { return m_open.size() <= kMaxReopened; }

    void put(int begin, int end)
    {
        if (m_cutPending) {
            m_cutPending = false;
            closeOpen();
            *m_out += m_run.paragraph.isEmpty() ? QByteArray("</div><div>") : "</p>" + m_run.paragraph;
            reopenOpen();
            m_filled = 0;
        }
        m_out->append(m_text.constData() + begin, end - begin);
        m_filled += end - begin;
    }

    void closeOpen()
    {
        for (int k = m_open.size() - 1; k >= 0; --k)
            *m_out += m_open.at(k).endTag;
    }

    void reopenOpen()
    {
        for (const Open& open : qAsConst(m_open))
            *m_out += open.tag;
    }

    const QByteArray& m_text;
    const bool m_xml;
    const Run& m_run;
    const int m_piece;
    QByteArray* m_out;
    qint64* const m_scanned;
    // How far references are followed in the text being written, and where the one open there
    // starts (-1: none).
    int m_scan = 0;
    int m_reference = -1;
    // Whether a cut after the byte before m_scan would split nothing; the first place in a search
    // for a cut that would part a letter from its marks (-1: none).
    bool m_wholeBefore = false;
    int m_parting = -1;
    QVector<Open> m_open;
    int m_filled = 0;
    bool m_cutPending = false;
};

} // namespace

QByteArray InlineRuns::blocked(
    const QByteArray& text, Syntax syntax, int* runs, int maxRunBytes, int pieceBytes, qint64* scanned)
{
    const bool xml = syntax == HtmlNesting::Xml;
    const QVector<Run> found = longRuns(text, xml, maxRunBytes, scanned);
    if (runs)
        *runs = found.size();
    if (found.isEmpty())
        return text;
    QByteArray out;
    out.reserve(text.size() + text.size() / 16);
    int copied = 0;
    for (const Run& run : found) {
        out.append(text.constData() + copied, run.begin - copied);
        RunWriter(text, xml, run, qMax(1, pieceBytes), &out, scanned).write();
        copied = run.end;
    }
    out.append(text.constData() + copied, text.size() - copied);
    return out;
}

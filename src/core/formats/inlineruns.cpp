#include "inlineruns.h"

#include "markupscan.h"

#include <QRegularExpression>
#include <QSet>
#include <QVector>

#include <algorithm>

namespace {

using namespace markupscan;

// Most inline elements closed and opened again at a cut.
constexpr int kMaxReopened = 32;

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

// Elements taken whole, as one piece of inline content: their content is no markup of ours.
const Names& opaqueElements()
{
    static const Names names = rawTextElements() + Names { "svg", "math" };
    return names;
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
    Tokenizer(const QByteArray& text, bool xml)
        : m_text(text)
        , m_xml(xml)
    {
    }

    // The token at pos; pos must be before the end of the text.
    Token at(int pos) const
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
        if (c == '!' || c == '?') {
            token.kind = Token::Other;
            const bool comment = m_text.mid(pos, 4) == "<!--";
            const bool cdata = !comment && m_text.mid(pos, 9) == "<![CDATA[";
            const QByteArray close = comment ? "-->" : cdata ? "]]>" : ">";
            const int at = m_text.indexOf(close, pos + 2);
            token.end = at < 0 ? size : at + close.size();
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

private:
    bool opensTag(int pos) const
    {
        if (pos + 1 >= m_text.size() || m_text.at(pos) != '<')
            return false;
        const char c = m_text.at(pos + 1);
        return isLetter(c) || c == '!' || c == '?'
            || (c == '/' && pos + 2 < m_text.size() && isLetter(m_text.at(pos + 2)));
    }

    static bool isSpaceOrEnd(char c)
    {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '/' || c == '>';
    }

    const QByteArray& m_text;
    const bool m_xml;
};

// The start tag again, without the attributes that name the element.
QByteArray reopened(const QByteArray& tag)
{
    static const QRegularExpression naming(QStringLiteral("\\s(?:id|name)\\s*=\\s*(?:\"[^\"]*\"|'[^']*'|[^\\s>]*)"),
        QRegularExpression::CaseInsensitiveOption);
    QString text = QString::fromLatin1(tag);
    text.remove(naming);
    return text.toLatin1();
}

struct Run {
    int begin = 0;
    int end = 0;
    // The start tag of the paragraph the run stands in; empty when it stands in another block.
    QByteArray paragraph;
};

// The long runs of inline content, in order.
QVector<Run> longRuns(const QByteArray& text, bool xml, int maxRunBytes)
{
    QVector<Run> runs;
    const Tokenizer tokens(text, xml);
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
            // In XML only what stands in the body: an element of another namespace must not
            // end up inside one of ours, nor a second root be made.
            const bool inBody
                = std::any_of(blocks.cbegin(), blocks.cend(), [](const Block& b) { return b.name == "body"; });
            if (!untouchedContainers().contains(container) && (!xml || inBody)) {
                Run run { runBegin, at, QByteArray() };
                if (container == "p")
                    run.paragraph = reopened(text.mid(blocks.last().begin, blocks.last().end - blocks.last().begin));
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
    RunWriter(const QByteArray& text, bool xml, const Run& run, int pieceBytes, QByteArray* out)
        : m_text(text)
        , m_xml(xml)
        , m_run(run)
        , m_piece(pieceBytes)
        , m_out(out)
    {
    }

    void write()
    {
        const bool inParagraph = !m_run.paragraph.isEmpty();
        if (!inParagraph)
            *m_out += "<div>";
        const Tokenizer tokens(m_text, m_xml);
        for (int pos = m_run.begin; pos < m_run.end;) {
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
                m_open.append({ token.name, reopened(m_text.mid(token.begin, token.end - token.begin)) });
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
            closeOpen();
            *m_out += "</div>";
            reopenOpen();
        }
    }

private:
    struct Open {
        QByteArray name;
        QByteArray tag;
    };

    void writeText(int begin, int end)
    {
        // Without a line break, a piece is cut at a sentence's end or else at a space.
        for (;;) {
            const int filled = m_cutPending ? 0 : m_filled;
            if (filled + (end - begin) <= 2 * m_piece)
                break;
            const int from = begin + qMax(0, m_piece - filled);
            const int limit = qMin(end, from + m_piece);
            int cut = m_text.indexOf(". ", from);
            cut = cut >= 0 && cut < limit ? cut + 2 : -1;
            if (cut < 0) {
                cut = m_text.indexOf(' ', from);
                cut = cut >= 0 && cut < end ? cut + 1 : -1;
            }
            if (cut < 0 || !canCut())
                break;
            put(begin, cut);
            m_cutPending = true;
            begin = cut;
        }
        if (begin < end)
            put(begin, end);
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
            *m_out += "</" + m_open.at(k).name + '>';
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
    QVector<Open> m_open;
    int m_filled = 0;
    bool m_cutPending = false;
};

} // namespace

QByteArray InlineRuns::blocked(const QByteArray& text, Syntax syntax, int* runs, int maxRunBytes, int pieceBytes)
{
    const bool xml = syntax == HtmlNesting::Xml;
    const QVector<Run> found = longRuns(text, xml, maxRunBytes);
    if (runs)
        *runs = found.size();
    if (found.isEmpty())
        return text;
    QByteArray out;
    out.reserve(text.size() + text.size() / 16);
    int copied = 0;
    for (const Run& run : found) {
        out.append(text.constData() + copied, run.begin - copied);
        RunWriter(text, xml, run, qMax(1, pieceBytes), &out).write();
        copied = run.end;
    }
    out.append(text.constData() + copied, text.size() - copied);
    return out;
}

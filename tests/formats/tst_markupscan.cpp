// The tag reader the chapter passes share, held to the HTML parser: on generated markup, every
// tag, comment and run of raw text the parser finds is found by the reader with the same bounds,
// and the reader finds none where the parser reads text.

#include "formats/htmlnesting.h"
#include "formats/markupscan.h"
#include "formats/mobi/headingmarkup.h"

#include <gumbo.h>

#include <QHash>
#include <QRandomGenerator>
#include <QSet>
#include <QStringList>
#include <QtTest>

#include <algorithm>

using namespace markupscan;

namespace {

// Pieces that meet at every state of the tokenizer: names, "=", quotes, the starts of tags,
// comments and declarations, CDATA, raw-text and foreign elements with their integration points.
QByteArray generated(QRandomGenerator* random)
{
    static const QList<QByteArray> names { "p", "b", "span", "h1", "h2", "div", "a", "i", "table", "td", "select",
        "option", "object", "br", "img", "script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes",
        "svg", "math", "mi", "mtext", "foreignObject", "desc", "SCRIPT", "Style" };
    static const QList<QByteArray> pieces { "<", "</", "<!", "<?", "<!--", "-->", "--!>", "-", "--", ">", "=", "\"",
        "'", " ", "/", "<![CDATA[", "]]>", QByteArray("\0", 1), "x", "words", "\n", "<!doctype html>", "&amp;", "<!-->",
        "<!--->", "</>", "=\">", "<script><!--<script>", "</script>", "-->" };
    QByteArray text;
    const int count = 4 + int(random->bounded(40));
    for (int i = 0; i < count; ++i) {
        const quint32 kind = random->bounded(10);
        const QByteArray name = names.at(int(random->bounded(names.size())));
        if (kind < 3)
            text += "<" + name;
        else if (kind < 4)
            text += "</" + name;
        else if (kind < 5)
            text += " " + name.toLower().left(3) + (random->bounded(2) ? "=" : "");
        else
            text += pieces.at(int(random->bounded(pieces.size())));
    }
    // A rare "<plaintext>" would hide everything after it.
    if (random->bounded(50) == 0)
        text += "<plaintext>x<b>";
    return text;
}

// SVG and MathML with their integration points, end tags of each, paragraphs and CDATA: no
// formatting elements or tables, whose moves would hide where the nesting pass goes wrong.
QByteArray generatedForeign(QRandomGenerator* random)
{
    static const QList<QByteArray> names { "svg", "math", "mi", "mtext", "title", "desc", "foreignObject",
        "annotation-xml", "g", "p", "div" };
    QByteArray text;
    const int count = 2 + int(random->bounded(10));
    for (int i = 0; i < count; ++i) {
        const quint32 kind = random->bounded(5);
        const QByteArray name = names.at(int(random->bounded(names.size())));
        text += kind < 2 ? "<" + name + ">" : kind < 4 ? "</" + name + ">" : QByteArray("<![CDATA[ a > <p>x ]]>w");
    }
    return text + "<p>end";
}

// Where the parser starts paragraphs right in the body.
QList<int> bodyLevelParagraphs(const QByteArray& text)
{
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, text.constData(), size_t(text.size()));
    QList<int> starts;
    const GumboVector& parts = output->root->v.element.children;
    for (unsigned i = 0; i < parts.length; ++i) {
        const GumboNode* body = static_cast<const GumboNode*>(parts.data[i]);
        if (body->type != GUMBO_NODE_ELEMENT || body->v.element.tag != GUMBO_TAG_BODY)
            continue;
        for (unsigned k = 0; k < body->v.element.children.length; ++k) {
            const GumboNode* child = static_cast<const GumboNode*>(body->v.element.children.data[k]);
            const GumboStringPiece& tag = child->v.element.original_tag;
            if (child->type == GUMBO_NODE_ELEMENT && child->v.element.tag == GUMBO_TAG_P && tag.length > 1
                && tag.data[1] != '/')
                starts << int(tag.data - text.constData());
        }
    }
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return starts;
}

struct Span {
    int start;
    int end;
    bool operator==(const Span& other) const { return start == other.start && end == other.end; }
};

inline uint qHash(const Span& span) { return ::qHash(span.start) ^ ::qHash(span.end) * 31; }

// What the parser read where, from its tree: tags, comments, CDATA, text, and the raw text of
// elements; and what the reader cannot know, the namespace around a position.
class ParserView {
public:
    explicit ParserView(const QByteArray& text)
        : m_text(text)
    {
        m_output = gumbo_parse_with_options(&kGumboDefaultOptions, text.constData(), size_t(text.size()));
        visit(m_output->document, false);
    }
    ~ParserView() { gumbo_destroy_output(&kGumboDefaultOptions, m_output); }

    QSet<Span> tags;
    QSet<Span> hidden; // comments
    // Text as written, and how many "<" the parser shows in it: a span of text also holds the
    // tags the parser ignored.
    QList<QPair<Span, int>> texts;
    QHash<int, int> rawTextEnds; // from the end of a raw-text element's start tag
    QHash<int, QByteArray> htmlElements; // start tag position: name, for elements in HTML
    QList<Span> foreignSpans; // of nodes whose parent is not in HTML
    QSet<int> commentStarts;

    // Where the parser made a comment it read no CDATA; elsewhere the text around tells.
    bool inForeignContent(int at) const
    {
        if (commentStarts.contains(at))
            return false;
        return std::any_of(foreignSpans.cbegin(), foreignSpans.cend(),
            [at](const Span& span) { return at >= span.start && at < span.end; });
    }
    QSet<int> headings;

private:
    int offset(const char* at) const { return int(at - m_text.constData()); }

    // The parser counts a "</>" it dropped into the token after it.
    Span withoutDropped(Span span) const
    {
        while (m_text.mid(span.start, 3) == "</>" && span.start + 3 < span.end)
            span.start += 3;
        return span;
    }

    void visit(const GumboNode* node, bool foreignParent)
    {
        if (node->type == GUMBO_NODE_DOCUMENT) {
            for (unsigned i = 0; i < node->v.document.children.length; ++i)
                visit(static_cast<const GumboNode*>(node->v.document.children.data[i]), false);
            return;
        }
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE) {
            const GumboText& text = node->v.text;
            if (!text.original_text.data || text.original_text.length == 0)
                return;
            Span span { offset(text.original_text.data),
                offset(text.original_text.data) + int(text.original_text.length) };
            // The parser counts the text before a CDATA section into it.
            // A CDATA section is text; the parser counts the text around it, and the next
            // sections, into it, so it is compared as text.
            if (node->type == GUMBO_NODE_COMMENT) {
                hidden.insert(withoutDropped(span));
                commentStarts.insert(withoutDropped(span).start);
            } else {
                texts.append({ span, int(QByteArray(text.text).count('<')) });
            }
            // The parser may count a CDATA section into the text around it, and leaves out the
            // start of one that begins with NULs.
            if (foreignParent) {
                int start = offset(text.original_text.data);
                while (start > 0 && m_text.at(start - 1) == '\0')
                    --start;
                if (node->type == GUMBO_NODE_CDATA && start >= 9 && m_text.mid(start - 9, 9) == "<![CDATA[")
                    start -= 9;
                foreignSpans.append({ start, offset(text.original_text.data) + int(text.original_text.length) });
            }
            return;
        }
        const GumboElement& element = node->v.element;
        const unsigned made = GUMBO_INSERTION_BY_PARSER | GUMBO_INSERTION_IMPLIED
            | GUMBO_INSERTION_RECONSTRUCTED_FORMATTING_ELEMENT | GUMBO_INSERTION_ADOPTION_AGENCY_CLONED
            | GUMBO_INSERTION_CONVERTED_FROM_END_TAG;
        const bool html = element.tag_namespace == GUMBO_NAMESPACE_HTML;
        if (element.original_tag.length > 0 && !(node->parse_flags & made)) {
            const Span tag = withoutDropped({ offset(element.original_tag.data),
                offset(element.original_tag.data) + int(element.original_tag.length) });
            const int start = tag.start;
            const int end = tag.end;
            tags.insert(tag);
            const QByteArray lower = gumbo_normalized_tagname(element.tag);
            if (html) {
                htmlElements.insert(start, lower);
                if (lower == "plaintext" || rawTextElements().contains(lower)) {
                    // Up to the end tag. The parser does not always keep an end tag with
                    // attributes, but its text ends there too; without either, an end tag cut
                    // off by the end of the text, or a first line end left out, leaves it open.
                    int rawEnd = -1;
                    for (unsigned i = 0; i < element.children.length; ++i) {
                        const GumboNode* child = static_cast<const GumboNode*>(element.children.data[i]);
                        if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE)
                            rawEnd = offset(child->v.text.original_text.data) + int(child->v.text.original_text.length);
                    }
                    if (element.original_end_tag.length > 0)
                        rawEnd = offset(element.original_end_tag.data);
                    if (rawEnd >= 0)
                        rawTextEnds.insert(end, rawEnd);
                }
                if (element.tag >= GUMBO_TAG_H1 && element.tag <= GUMBO_TAG_H4)
                    headings.insert(start);
            }
        }
        if (element.original_end_tag.length > 0) {
            const int start = offset(element.original_end_tag.data);
            tags.insert(withoutDropped({ start, start + int(element.original_end_tag.length) }));
        }
        for (unsigned i = 0; i < element.children.length; ++i)
            visit(static_cast<const GumboNode*>(element.children.data[i]), !html);
    }

    const QByteArray& m_text;
    GumboOutput* m_output;
};

// What the reader finds walking from tag to tag as the passes do, told by the parser only what
// it cannot know: whether a "<![CDATA[" stands in foreign content, and whether an element
// whose content is text was made in HTML (not in SVG, not ignored in a list box).
struct ReaderView {
    QSet<Span> tags;
    QSet<Span> hidden;
    QHash<int, int> rawTextEnds;
    QVector<bool> read; // characters the reader takes for part of a tag or a comment

    ReaderView(const QByteArray& text, const ParserView& parser)
    {
        const int size = text.size();
        read.fill(false, size);
        for (int lt = text.indexOf('<'); lt >= 0; lt = text.indexOf('<', lt)) {
            const bool foreign = parser.inForeignContent(lt);
            const int end = hiddenEnd(text, lt, foreign);
            if (end >= 0) {
                hidden.insert({ lt, end });
                std::fill(read.begin() + lt, read.begin() + end, true);
                // What a CDATA section holds is text.
                if (foreign && text.mid(lt, 9) == "<![CDATA[")
                    std::fill(read.begin() + lt + 9,
                        read.begin() + qMax(lt + 9, end - (text.mid(end - 3, 3) == "]]>" ? 3 : 0)), false);
                lt = end;
                continue;
            }
            const bool endTag = lt + 1 < size && text.at(lt + 1) == '/';
            const int nameStart = lt + (endTag ? 2 : 1);
            if (nameStart >= size || !startsTagName(text.at(nameStart), false)) {
                ++lt;
                continue;
            }
            const int nameEnd = tagNameEnd(text, nameStart);
            const int tagEnd = markupscan::tagEnd(text, nameEnd);
            tags.insert({ lt, tagEnd });
            std::fill(read.begin() + lt, read.begin() + tagEnd, true);
            lt = tagEnd;
            const QByteArray name = parser.htmlElements.value(nameStart - 1);
            if (!endTag && (name == "plaintext" || rawTextElements().contains(name))) {
                lt = rawTextEnd(text, name, tagEnd);
                rawTextEnds.insert(tagEnd, lt);
            }
        }
    }
};

QString shown(const QByteArray& text)
{
    QString out;
    for (const char c : text)
        out += c == '\0' ? QStringLiteral("\\0") : QString(QLatin1Char(c));
    return out;
}

} // namespace

class TestMarkupScan : public QObject {
    Q_OBJECT

private slots:
    // Shapes the parser reads otherwise than a hand-written reader would, one by one.
    void readerAgreesWithTheParser_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("= where a name starts") << QByteArray("<span =\">words\" x>after");
        QTest::newRow("= opens a name, not a value")
            << QByteArray("<span =\"><a title=\" x><script>alert(1)</script>\">link</a>");
        QTest::newRow("= in the tag name") << QByteArray("<a=\"b>c\">d");
        QTest::newRow("quote after a name without =") << QByteArray("<p a\"b>c\">d");
        QTest::newRow("blanks around =") << QByteArray("<p a = \"x>y\">z");
        QTest::newRow("slash then =") << QByteArray("<p/=\"x>y\">z");
        QTest::newRow("unquoted value holding a quote") << QByteArray("<p a=b\"c>d\">e");
        QTest::newRow("end tag with a quoted value") << QByteArray("<p>a</p x=\"</p>\">b");
        QTest::newRow("comment closes") << QByteArray("<!-- a --!> b <!----> c <!--->d<!-->e<!-- -- --->f");
        QTest::newRow("script end tag needs a delimiter") << QByteArray("<script>a</script!>b</scriptx>c</script >d");
        QTest::newRow("script escaped") << QByteArray("<script><!--<script>a</script>b</script>c-->d</script>e");
        QTest::newRow("script escaped, closed before") << QByteArray("<script><!-- a --><script>x</script>y");
        QTest::newRow("script escape ended by -->") << QByteArray("<script><!--<script>--></script>z");
        QTest::newRow("title and style") << QByteArray(
            "<title>a<b></title >c<style>d</style/>e<textarea></textareax>f");
        QTest::newRow("CDATA in HTML") << QByteArray("<![CDATA[ a > <b>b</b> ]]>");
        QTest::newRow("CDATA in SVG") << QByteArray("<svg><![CDATA[ a > <img src=x> ]]></svg>b");
        QTest::newRow("style in SVG") << QByteArray("<svg><style><i>x</i></style></svg><svg><title><style><b>");
        QTest::newRow("bogus comments") << QByteArray("<? a <b> ><! c <d> ></ e <f> ></>g<!doctype html a='>'>h");
        // A NUL in a tag name: the text's length is the literal's, less its terminator.
        static const char tagNames[] = "<h1!>a</h1!><b<i>c</b<i><h2\0x>d";
        QTest::newRow("tag names") << QByteArray(tagNames, sizeof(tagNames) - 1);
        QTest::newRow("script after a dropped end tag") << QByteArray("</><script><!--<script>a</script>b</script>c");
        QTest::newRow("headings named otherwise") << QByteArray("<h1!>a</h1><h2<b>b</h2><h3--!>c</h3>");
        QTest::newRow("headings in values, tags and scripts")
            << QByteArray("<p title=\"<h1>a</h1>\">b</p><script>\"<h2>c</h2>\"</script></h3 <h3>d</h3>>");
        QTest::newRow("never closed") << QByteArray("<p a='b>c");
        // Names XML would read start no tag here: text up to the next "<".
        QTest::newRow("names of _ and letters beyond ASCII")
            << QByteArray("<_x a=\"b>c\">d<\xC3\xA9 e='<b>f'>g</_x>h</\xC3\xA9 i='</p>'>j<:k l=\"<i>\">m");
    }

    void readerAgreesWithTheParser()
    {
        QFETCH(QByteArray, text);
        QString disagreement;
        QVERIFY2(agrees(text, &disagreement), qPrintable(disagreement));
    }

    // A few thousand generated texts, the same on every run.
    void generatedTextsAgree()
    {
        QRandomGenerator random(qEnvironmentVariableIsSet("MARKUPSCAN_SEED")
                ? quint32(qEnvironmentVariableIntValue("MARKUPSCAN_SEED"))
                : 67u);
        int disagreements = 0;
        QStringList first;
        for (int run = 0; run < (qEnvironmentVariableIsSet("MARKUPSCAN_SEED") ? 100000 : 4000); ++run) {
            const QByteArray text = generated(&random);
            QString disagreement;
            // And the nesting pass on SVG and MathML, and what it tells of them.
            const QByteArray foreign = generatedForeign(&random);
            if (!agrees(text, &disagreement) || !paragraphsAgree(foreign, &disagreement)
                || !foreignAgrees(foreign, &disagreement)) {
                ++disagreements;
                if (first.size() < 5)
                    first << disagreement;
            }
        }
        QVERIFY2(disagreements == 0,
            qPrintable(QStringLiteral("%1 disagreements, first:\n%2").arg(disagreements).arg(first.join('\n'))));
    }

    // The nesting pass follows SVG and MathML out and back in as the parser does, and tells the
    // passes that ask where the text stands in them: a paragraph is right in the body for both or for
    // neither, and a CDATA section after an end tag is text or a comment for both.
    void nestingFollowsForeignContent_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("end tag in an SVG title, then CDATA") << QByteArray("<svg><title></svg><![CDATA[ a > <p>x ]]>");
        QTest::newRow("MathML text bounds an end tag") << QByteArray("<math><mi><annotation-xml><g></mi><p>end");
        QTest::newRow("an SVG annotation-xml bounds no scope") << QByteArray("<div><svg><annotation-xml></div><p>end");
        QTest::newRow("SVG in a MathML annotation") << QByteArray("<math><annotation-xml><svg><foreignObject><p>end");
        QTest::newRow("an SVG title bounds no end tag") << QByteArray("<mi><svg><title></mi></title><p>end");
        QTest::newRow("an HTML end tag ends the SVG in its element")
            << QByteArray("<div><svg><g></div><![CDATA[ a > <p>x ]]><p>end");
        QTest::newRow("an HTML end tag of no open element") << QByteArray("<svg><g></div><![CDATA[ a > <p>x ]]>");
        QTest::newRow("a foreignObject bounds an HTML end tag")
            << QByteArray("<div><svg><foreignObject><b></div><![CDATA[ a > <p>x ]]></svg><![CDATA[ a > <p>y ]]>");
        QTest::newRow("HTML again after a leaving tag and a font")
            << QByteArray("<math><mi><b></b><![CDATA[ a > ]]></mi><font color=red><![CDATA[ a > <p>x ]]>");
        // Formatting elements each with attributes of its own, which the parser keeps all, and
        // their end tags or links after them: the walk looks at about one open element a tag.
        QByteArray formatting = "<svg></svg>";
        for (int k = 0; k < 3000; ++k)
            formatting += "<b x=" + QByteArray::number(k) + ">";
        QTest::newRow("formatting ends of none left open after SVG") << formatting + QByteArray("</i>").repeated(3000);
        QTest::newRow("links past formatting elements after SVG") << formatting + QByteArray("<a>").repeated(3000);
        QTest::newRow("raw text in SVG and in its title")
            << QByteArray("<svg><style><![CDATA[ a > <p>x ]]></style><title><style><![CDATA[ y ]]></style></title>"
                          "<![CDATA[ z > <p>w ]]>");
    }

    void nestingFollowsForeignContent()
    {
        QFETCH(QByteArray, text);
        QString disagreement;
        QVERIFY2(paragraphsAgree(text, &disagreement), qPrintable(disagreement));
        QVERIFY2(foreignAgrees(text, &disagreement), qPrintable(disagreement));
        qint64 visited = 0;
        HtmlNesting::foreignStretches(text, &visited);
        QVERIFY2(visited <= 4 * text.size(),
            qPrintable(QStringLiteral("%1 open elements visited for %2 characters").arg(visited).arg(text.size())));
    }

private:
    // Walking from tag to tag, the shared following of SVG and MathML takes every "<![CDATA["
    // for text where the parser does, and no other, and an element's content for raw text where
    // the parser does.
    static bool foreignAgrees(const QByteArray& text, QString* disagreement)
    {
        const ParserView parser(text);
        const QVector<HtmlNesting::ForeignStretch> foreign = HtmlNesting::foreignStretches(text);
        const int size = text.size();
        for (int lt = text.indexOf('<'); lt >= 0; lt = text.indexOf('<', lt)) {
            const HtmlNesting::ForeignStretch here = HtmlNesting::foreignAt(foreign, lt);
            if (holdsAt(text, lt, "<![CDATA[") && here.current != parser.inForeignContent(lt)) {
                *disagreement = QStringLiteral("CDATA at %1 read as %2 in \"%3\"")
                                    .arg(lt)
                                    .arg(here.current ? "text" : "a comment", shown(text));
                return false;
            }
            const int hidden = hiddenEnd(text, lt, here.current);
            const bool endTag = lt + 1 < size && text.at(lt + 1) == '/';
            const int nameStart = lt + (endTag ? 2 : 1);
            if (hidden >= 0 || nameStart >= size || !isLetter(text.at(nameStart))) {
                lt = hidden >= 0 ? hidden : lt + 1;
                continue;
            }
            const int nameEnd = tagNameEnd(text, nameStart);
            const QByteArray name = text.mid(nameStart, nameEnd - nameStart).toLower();
            lt = markupscan::tagEnd(text, nameEnd);
            if (endTag || !rawTextElements().contains(name))
                continue;
            if (here.startsForeign == (parser.htmlElements.value(nameStart - 1) == name)) {
                *disagreement = QStringLiteral("raw text after %1 read as %2 in \"%3\"")
                                    .arg(lt)
                                    .arg(here.startsForeign ? "markup" : "text", shown(text));
                return false;
            }
            if (!here.startsForeign)
                lt = rawTextEnd(text, name, lt);
        }
        return true;
    }

    static bool paragraphsAgree(const QByteArray& text, QString* disagreement)
    {
        QList<int> read;
        for (const HtmlNesting::Element& element : HtmlNesting::bodyLevelElements(text)) {
            // A "</p>" makes one too, but that is not the reading of foreign content.
            if (element.name == "p" && text.at(element.at + 1) != '/')
                read << element.at;
        }
        const QList<int> parsed = bodyLevelParagraphs(text);
        const auto shownList = [](const QList<int>& starts) {
            QStringList out;
            for (const int start : starts)
                out << QString::number(start);
            return out.join(',');
        };
        *disagreement = QStringLiteral("paragraphs in the body at %1, the parser's at %2 in \"%3\"")
                            .arg(shownList(read), shownList(parsed), shown(text));
        return read == parsed;
    }

    static bool agrees(const QByteArray& text, QString* disagreement)
    {
        const ParserView parser(text);
        const ReaderView reader(text, parser);
        const auto textAt = [&text](int i) { return text.at(i); };
        const auto fail = [&](const QString& what, int at) {
            *disagreement = QStringLiteral("%1 at %2 in \"%3\"").arg(what).arg(at).arg(shown(text));
            return false;
        };
        for (const Span& tag : parser.tags) {
            if (!reader.tags.contains(tag))
                return fail(QStringLiteral("tag to %1 not read").arg(tag.end), tag.start);
        }
        for (const Span& comment : parser.hidden) {
            if (!reader.hidden.contains(comment))
                return fail(QStringLiteral("comment to %1 not read").arg(comment.end), comment.start);
        }
        for (auto raw = parser.rawTextEnds.cbegin(); raw != parser.rawTextEnds.cend(); ++raw) {
            if (reader.rawTextEnds.value(raw.key(), -1) != raw.value())
                return fail(QStringLiteral("raw text to %1 read to %2")
                                .arg(raw.value())
                                .arg(reader.rawTextEnds.value(raw.key(), -1)),
                    raw.key());
        }
        for (const auto& text : parser.texts) {
            int shown = 0;
            for (int i = text.first.start; i < text.first.end; ++i)
                shown += !reader.read.at(i) && textAt(i) == '<';
            if (shown != text.second)
                return fail(
                    QStringLiteral("%1 \"<\" shown as text, %2 read").arg(text.second).arg(shown), text.first.start);
        }
        // The heading passes' own walk finds headings where the parser made them; foreign
        // content, which it does not model, aside.
        if (!text.contains("<svg") && !text.contains("<math") && !text.contains("<select")) {
            for (const auto& heading : mobi::HeadingMarkup::find(QString::fromLatin1(text))) {
                if (!parser.headings.contains(heading.start))
                    return fail(QStringLiteral("heading read"), heading.start);
            }
        }
        return true;
    }
};

QTEST_GUILESS_MAIN(TestMarkupScan)
#include "tst_markupscan.moc"

// Chapter cleaning: what is removed, what must stay byte for byte, and hostile input.

#include "formats/epub/chaptercleaner.h"
#include "formats/epub/htmltextcleaner.h"
#include "formats/epub/unsafemarkup.h"
#include "formats/textdocument.h"
#include "testfiles.h"
#include "testpaths.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

using epub::ChapterCleaner;

namespace {

const QByteArray XhtmlDoctype = "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
                                "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n";

QByteArray page(
    const QByteArray& body, const QByteArray& head = "<title>T</title>", const QByteArray& doctype = XhtmlDoctype)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + doctype
        + "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:svg=\"http://www.w3.org/2000/svg\" "
          "xmlns:xlink=\"http://www.w3.org/1999/xlink\">\n<head>"
        + head + "</head>\n<body>" + body + "</body>\n</html>\n";
}

// The character data of the body as an XML parser reads it, in document order.
QString bodyText(const QByteArray& xml)
{
    QXmlStreamReader reader(xml);
    QString text;
    bool inBody = false;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("body"))
            inBody = true;
        else if (inBody && reader.isCharacters())
            text += reader.text();
    }
    return reader.hasError() ? QStringLiteral("<error: %1>").arg(reader.errorString()) : text;
}

ChapterCleaner::Result clean(const QByteArray& data, QByteArray* out) { return ChapterCleaner::cleanData(data, out); }

} // namespace

class TestChapterCleaner : public QObject {
    Q_OBJECT

private slots:
    void removesUnsafeMarkup_data();
    void removesUnsafeMarkup();
    void keepsSafeMarkup_data();
    void keepsSafeMarkup();
    void keepsTextByteForByte();
    void writesEmptyElementsWithEndTags();
    void keepsDeclaredEncoding();
    void expandsInternalSubset();
    void chapterKinds_data();
    void chapterKinds();
    void refusesDeepNesting();
    void textPass_data();
    void textPass();
    void textPassKeepsUntouchedBytes();
    void textPassUtf16();
    void textPassDoesNotJoinTags();
    void mutatedChaptersStayClean();
    void malformedChapters();
    void cleanFileRewritesAtomically();
    void cleanFileSkipsUnreadable();
};

void TestChapterCleaner::removesUnsafeMarkup_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("removed");
    QTest::addColumn<QStringList>("gone"); // texts that must not be in the output
    QTest::addColumn<QStringList>("kept"); // texts that must be

    QTest::newRow("three scripts") << QByteArray("<script>a()</script><p>x<script src=\"b.js\"/></p>"
                                                 "<div><script type=\"text/javascript\">c()</script></div>")
                                   << 3 << QStringList { "script", "a()", "c()" } << QStringList { "<p>x</p>" };
    QTest::newRow("prefixed and upper-case script")
        << QByteArray("<svg:svg><svg:script>s()</svg:script><svg:rect/></svg:svg><SCRIPT>u()</SCRIPT>") << 2
        << QStringList { "s()", "u()" } << QStringList { "<svg:rect" };
    QTest::newRow("handlers") << QByteArray("<p onclick=\"a()\" OnMouseOver='b()' class=\"c\">x</p>"
                                            "<svg:svg onload=\"d()\"/>")
                              << 3 << QStringList { "a()", "b()", "d()" } << QStringList { "class=\"c\"" };
    QTest::newRow("javascript links") << QByteArray(
        "<a href=\"javascript:a()\">1</a><a href=\" \t JavaScript:b()\">2</a>"
        "<a href=\"java&#x9;script:c()\">3</a><svg:a xlink:href=\"javascript:d()\">4</svg:a>"
        "<form action=\"javascript:e()\"><button formaction=\"javascript:f()\">g</button></form>"
        "<img src=\"javascript:h()\"/><a href=\"chapter2.xhtml\">ok</a>")
                                      << 7 << QStringList { "a()", "b()", "c()", "d()", "e()", "f()", "h()" }
                                      << QStringList { "href=\"chapter2.xhtml\"", ">1</a>", "<img" };
    QTest::newRow("frames and plugins") << QByteArray(
        "<iframe src=\"x.html\">f</iframe><object data=\"x.swf\" type=\"application/x-shockwave-flash\">"
        "<p>fallback</p></object><embed src=\"x.svg\" type=\"image/svg+xml\"/>"
        "<object data=\"d.html\"/><embed src=\"e.html\"/>")
                                        << 5
                                        << QStringList { "iframe", "x.swf", "fallback", "x.svg", "d.html", "e.html" }
                                        << QStringList {};
    QTest::newRow("svg animation to a javascript url")
        << QByteArray("<svg:svg><svg:a><svg:set attributeName=\"href\" to=\"javascript:a()\"/>x</svg:a></svg:svg>") << 1
        << QStringList { "a()" } << QStringList { "svg:set" };
}

void TestChapterCleaner::removesUnsafeMarkup()
{
    QFETCH(QByteArray, body);
    QFETCH(int, removed);
    QFETCH(QStringList, gone);
    QFETCH(QStringList, kept);

    QByteArray out;
    const ChapterCleaner::Result result = clean(page(body), &out);
    QCOMPARE(result.removed, removed);
    QCOMPARE(result.outcome, removed > 0 ? ChapterCleaner::Cleaned : ChapterCleaner::Unchanged);
    QVERIFY(result.wellFormed);
    for (const QString& text : gone)
        QVERIFY2(!out.contains(text.toUtf8()), qPrintable(text + QStringLiteral(" in ") + QString::fromUtf8(out)));
    for (const QString& text : kept)
        QVERIFY2(out.contains(text.toUtf8()), qPrintable(text + QStringLiteral(" not in ") + QString::fromUtf8(out)));
    // The rewritten chapter is still well-formed XML with its namespace.
    QVERIFY(!bodyText(out).startsWith(QLatin1String("<error")));
    QVERIFY(out.contains("xmlns=\"http://www.w3.org/1999/xhtml\""));

    // Other ways in: a refresh in the head and an XSLT instruction before the root.
    const QByteArray refresh = page("<p>x</p>", "<meta http-equiv=\"Refresh\" content=\"0; url=javascript:a()\"/>");
    QCOMPARE(clean(refresh, &out).removed, 1);
    QVERIFY(!out.contains("a()"));
    const QByteArray xslt = "<?xml version=\"1.0\"?>\n<?xml-stylesheet type=\"text/xsl\" href=\"s.xsl\"?>\n"
                            "<?xml-stylesheet type=\"text/css\" href=\"s.css\"?>\n<html><body>x</body></html>";
    QCOMPARE(clean(xslt, &out).removed, 1);
    QVERIFY(!out.contains("s.xsl"));
    QVERIFY(out.contains("s.css"));
}

void TestChapterCleaner::keepsSafeMarkup_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("plain") << page("<p>Hello <b>bold</b> <i>it</i></p>");
    QTest::newRow("images in object and embed") << page(
        "<object data=\"i.png\" type=\"image/png\">alt</object><embed src=\"pic.JPG\"/><object data=\"p.gif\"/>");
    QTest::newRow("words starting with on") << page("<p class=\"onward\" title=\"online\">one</p>");
    QTest::newRow("self-closing title and css instruction")
        << QByteArray("<?xml-stylesheet href=\"a.css\" type=\"text/css\"?>\n<html><head><title/></head><body/></html>");
    QTest::newRow("namespace declaration named on") << QByteArray("<html xmlns:onx=\"urn:x\"><onx:p>a</onx:p></html>");
}

void TestChapterCleaner::keepsSafeMarkup()
{
    QFETCH(QByteArray, data);
    QByteArray out;
    const ChapterCleaner::Result result = clean(data, &out);
    QCOMPARE(result.outcome, ChapterCleaner::Unchanged);
    QCOMPARE(result.removed, 0);
    QCOMPARE(out, data);
}

void TestChapterCleaner::keepsTextByteForByte()
{
    const QByteArray body = "<p><b>one</b> <i>two</i> &amp; <span>thr</span><span>ee</span></p>\n"
                            "<pre>  line one\n    line   two\n\tend  </pre>\n"
                            "<p>a\xc2\xa0"
                            "b &#8212; \xe2\x80\x94 &nbsp;</p>";
    const QByteArray data = page(body, "<title>T</title><script>x()</script>");
    QByteArray out;
    QCOMPARE(clean(data, &out).removed, 1);
    QCOMPARE(bodyText(out), bodyText(data));
    QVERIFY(out.contains("<b>one</b> <i>two</i>"));
    QVERIFY(out.contains("<span>thr</span><span>ee</span>"));
    QVERIFY(out.contains("<pre>  line one\n    line   two\n\tend  </pre>"));
    // Undeclared entities survive as references; nothing was indented.
    QVERIFY(out.contains("&nbsp;"));
    QVERIFY(!out.contains("\n <"));
}

void TestChapterCleaner::writesEmptyElementsWithEndTags()
{
    const QByteArray data = page("<p/><div></div><br/><img src=\"a.png\"/><hr/><a id=\"x\"/><script/>",
        "<title/><link href=\"s.css\"/><style/>");
    QByteArray out;
    QCOMPARE(clean(data, &out).removed, 1);
    for (const char* element : { "<title></title>", "<p></p>", "<div></div>", "<a id=\"x\"></a>", "<style></style>" })
        QVERIFY2(out.contains(element), element);
    for (const char* element : { "<br/>", "<img src=\"a.png\"/>", "<hr/>", "<link href=\"s.css\"/>" })
        QVERIFY2(out.contains(element), element);
}

void TestChapterCleaner::keepsDeclaredEncoding()
{
    const QByteArray data = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                            "<html><body><p>caf\xe9</p><script>x()</script></body></html>";
    QByteArray out;
    QCOMPARE(clean(data, &out).removed, 1);
    QVERIFY(out.contains("caf\xe9"));
    QVERIFY(out.contains("ISO-8859-1"));
}

void TestChapterCleaner::expandsInternalSubset()
{
    // Entities and attribute defaults of an internal subset add markup in an XML parser.
    const QByteArray entity = "<!DOCTYPE html [<!ENTITY x \"<script>alert(1)</script>\">]>\n"
                              "<html><body><p>&x;</p></body></html>";
    QByteArray out;
    ChapterCleaner::Result result = clean(entity, &out);
    QCOMPARE(result.outcome, ChapterCleaner::Cleaned);
    QVERIFY(!out.contains("alert"));
    QVERIFY(!out.contains("ENTITY"));

    const QByteArray defaults = "<!DOCTYPE html [<!ATTLIST body onload CDATA \"alert(1)\">]>\n"
                                "<html><body><p>x</p></body></html>";
    result = clean(defaults, &out);
    QCOMPARE(result.outcome, ChapterCleaner::Cleaned);
    QVERIFY(!out.contains("alert"));
    QCOMPARE(bodyText(out), QStringLiteral("x"));
}

void TestChapterCleaner::chapterKinds_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("kind");
    QTest::newRow("xhtml 1.1") << page("<p>x</p>") << int(TextDocument::KindXhtml);
    QTest::newRow("xhtml 1.0 strict") << page("<p>x</p>", "<title>T</title>",
        "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" \"DTD/xhtml1-strict.dtd\">\n")
                                      << int(TextDocument::KindXhtml);
    QTest::newRow("html5 doctype") << page("<p>x</p>", "<title>T</title>", "<!DOCTYPE html>\n")
                                   << int(TextDocument::KindHtml);
    QTest::newRow("no doctype") << page("<p>x</p>", "<title>T</title>", "") << int(TextDocument::KindHtml);
    QTest::newRow("xhtml doctype but broken") << page("<p>x</b>") << int(TextDocument::KindHtml);
}

void TestChapterCleaner::chapterKinds()
{
    QFETCH(QByteArray, data);
    QFETCH(int, kind);
    QByteArray out;
    QCOMPARE(clean(data, &out).kind, kind);
}

void TestChapterCleaner::refusesDeepNesting()
{
    // Qt's DOM parser recurses per level and overflows the stack near 30,000 levels.
    const int levels = 40000;
    QByteArray deep = "<html><body>";
    deep.reserve(levels * 12);
    for (int i = 0; i < levels; ++i)
        deep += "<div>";
    deep += "<script>x()</script>";
    for (int i = 0; i < levels; ++i)
        deep += "</div>";
    deep += "</body></html>";
    QByteArray out;
    const ChapterCleaner::Result result = clean(deep, &out);
    QCOMPARE(result.outcome, ChapterCleaner::Skipped);
    QVERIFY(result.reason.contains(QLatin1String("1000")));
    // Cleaned all the same, in case a link leads there.
    QVERIFY(!out.contains("x()"));

    // Just inside the limit: cleaned through the DOM.
    QByteArray limit = "<html>";
    for (int i = 0; i < 998; ++i)
        limit += "<div>";
    limit += "<script>x()</script>";
    for (int i = 0; i < 998; ++i)
        limit += "</div>";
    limit += "</html>";
    const ChapterCleaner::Result inside = clean(limit, &out);
    QCOMPARE(inside.outcome, ChapterCleaner::Cleaned);
    QVERIFY(inside.wellFormed);
}

void TestChapterCleaner::textPass_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("script and handler in html")
        << QByteArray("<html><body onload=\"a()\"><p>x&nbsp;y<br></p><script>if (a < b) c();</script></body></html>")
        << QByteArray("<html><body><p>x&nbsp;y<br></p></body></html>");
    QTest::newRow("quoted greater-than in an attribute")
        << QByteArray("<p title=\"a>b\" onclick='x()'>t<br></p>") << QByteArray("<p title=\"a>b\">t<br></p>");
    QTest::newRow("unquoted handler and entity-spelled javascript")
        << QByteArray("<a onclick=x() href=\"&#106;avascript&colon;y()\" id=k>l</a><br>")
        << QByteArray("<a id=k>l</a><br>");
    QTest::newRow("comment closed by <!-->")
        << QByteArray("<p><!--><script>x()</script>--><br>") << QByteArray("<p><!-->--><br>");
    QTest::newRow("processing instruction ends at >")
        << QByteArray("<p><?x a><script>x()</script>?><br>") << QByteArray("<p><?x a>?><br>");
    QTest::newRow("xslt instruction") << QByteArray("<?xml-stylesheet type=\"text/xsl\" href=\"a.xsl\"?><p>t<br>")
                                      << QByteArray("<p>t<br>");
    QTest::newRow("script inside title raw text")
        << QByteArray("<title>T<script>x()</script></title><p>a<br>") << QByteArray("<title>T</title><p>a<br>");
    QTest::newRow("script after title raw text")
        << QByteArray("<title><a title=\"</title><script>x()</script>\"></title>")
        << QByteArray("<title><a title=\"</title>\"></title>");
    QTest::newRow("nested objects") << QByteArray(
        "<object data=\"a.swf\"><object data=\"b.swf\">i</object>j</object>k<br>")
                                    << QByteArray("k<br>");
    QTest::newRow("script without end tag") << QByteArray("<p>a<script>b()<br>") << QByteArray("<p>ab()<br>");
    QTest::newRow("iframe and embed") << QByteArray("<iframe src=x>t</iframe><embed src=\"m.swf\"><p>z<br>")
                                      << QByteArray("<p>z<br>");
    QTest::newRow("internal subset dropped")
        << QByteArray("<!DOCTYPE html [ <!ENTITY a \"x>\"> <script>x()</script> ]><p>&a;<br>")
        << QByteArray("<!DOCTYPE html><p>&a;<br>");
    QTest::newRow("prefixed script") << QByteArray("<svg:script>x()</svg:script><p>t<br>") << QByteArray("<p>t<br>");
}

void TestChapterCleaner::textPass()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, expected);
    QByteArray out;
    const ChapterCleaner::Result result = clean(data, &out);
    QVERIFY(!result.wellFormed);
    QCOMPARE(result.kind, int(TextDocument::KindHtml));
    QCOMPARE(result.outcome, ChapterCleaner::Cleaned);
    QCOMPARE(out, expected);
}

void TestChapterCleaner::textPassKeepsUntouchedBytes()
{
    // A broken chapter without anything unsafe stays exactly as it was.
    const QByteArray broken = "<html><body><p>caf\xc3\xa9 &nbsp; <b>bold</i><br><!-- c --></body></html>\r\n";
    QByteArray out;
    const ChapterCleaner::Result result = clean(broken, &out);
    QCOMPARE(result.outcome, ChapterCleaner::Unchanged);
    QCOMPARE(out, broken);
}

void TestChapterCleaner::textPassUtf16()
{
    const QString text = QStringLiteral("<html><body><p>\u0416 <br></p><script>x()</script></body></html>");
    QByteArray little("\xFF\xFE", 2);
    for (const QChar c : text) {
        little.append(char(c.unicode() & 0xFF));
        little.append(char(c.unicode() >> 8));
    }
    QByteArray out;
    QCOMPARE(epub::HtmlTextCleaner::clean(little, &out), 1);
    QVERIFY(out.startsWith("\xFF\xFE"));
    const QString decoded
        = QString::fromUtf16(reinterpret_cast<const char16_t*>(out.constData() + 2), (out.size() - 2) / 2);
    QCOMPARE(decoded, QStringLiteral("<html><body><p>\u0416 <br></p></body></html>"));
}

void TestChapterCleaner::textPassDoesNotJoinTags()
{
    QByteArray out;
    QCOMPARE(clean("<p><<script>x</script>script>y()</script><br>", &out).removed, 1);
    QCOMPARE(out, QByteArray("<p>&lt;script>y()</script><br>"));
    QCOMPARE(clean(out, &out).removed, 0);
}

void TestChapterCleaner::mutatedChaptersStayClean()
{
    // Random edits with markup fragments: cleaning never crashes, and what it leaves holds
    // nothing that a second cleaning would still find.
    static const char* const pieces[] = { "<", ">", "/", "\"", "'", "=", " ", "script", "<script>", "</script>", "on",
        "onclick=", "javascript:", "&#106;", "<!--", "-->", "<?", "?>", "<![CDATA[", "]]>", "<iframe>",
        "<object data=x.html>", "</object>", "<title>", "</title>", "<!DOCTYPE html [", "]>", "<!ENTITY e \"<b>\">",
        "&e;", "<svg:script>", "xlink:href=", "<?xml-stylesheet type='text/xsl'?>", "\n", "<p>", "</p>" };
    const int pieceCount = int(sizeof(pieces) / sizeof(pieces[0]));
    const QList<QByteArray> seeds = { page("<p onclick=\"a()\">x <b>y</b></p><script>z()</script><a href=\"q\">l</a>"),
        QByteArray("<html><body><p>a<br><script>b()</script><title>t</title></body></html>") };
    QRandomGenerator random(20240601);
    for (int round = 0; round < 3000; ++round) {
        QByteArray data = seeds.at(round % seeds.size());
        const int edits = 1 + random.bounded(6);
        for (int e = 0; e < edits; ++e) {
            const int at = random.bounded(data.size() + 1);
            if (random.bounded(3) == 0)
                data.remove(at, random.bounded(8));
            else
                data.insert(at, pieces[random.bounded(pieceCount)]);
        }
        QByteArray once;
        const ChapterCleaner::Result first = ChapterCleaner::cleanData(data, &once);
        QByteArray twice;
        const ChapterCleaner::Result second = ChapterCleaner::cleanData(once, &twice);
        if (second.removed != 0) {
            QFAIL(qPrintable(QStringLiteral("round %1: %2 left after cleaning\ninput: %3\nonce: %4")
                                 .arg(round)
                                 .arg(second.removed)
                                 .arg(QString::fromLatin1(data), QString::fromLatin1(once))));
        }
        QVERIFY(first.outcome != ChapterCleaner::Skipped);
    }
}

void TestChapterCleaner::malformedChapters()
{
    // Chapters that once got through: nothing that runs may be left.
    const QDir dir(testpaths::malformedDir(QStringLiteral("epub")));
    const QStringList names = dir.entryList(QDir::Files);
    QVERIFY(!names.isEmpty());
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray once;
        const ChapterCleaner::Result first = ChapterCleaner::cleanData(file.readAll(), &once);
        QVERIFY2(first.removed > 0, qPrintable(name));
        QVERIFY2(!once.contains("alert"), qPrintable(name + QStringLiteral(": ") + QString::fromUtf8(once)));
        QByteArray twice;
        QCOMPARE(ChapterCleaner::cleanData(once, &twice).removed, 0);
    }
}

void TestChapterCleaner::cleanFileRewritesAtomically()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ch.xhtml"));
    QVERIFY(testfiles::write(path, page("<p>a</p><script>x()</script>")));

    ChapterCleaner::Result result = ChapterCleaner::cleanFile(path);
    QCOMPARE(result.outcome, ChapterCleaner::Cleaned);
    const QByteArray cleaned = testfiles::read(path);
    QVERIFY(!cleaned.contains("x()"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { "ch.xhtml" });

    // A second run finds nothing more and leaves the file alone.
    result = ChapterCleaner::cleanFile(path);
    QCOMPARE(result.outcome, ChapterCleaner::Unchanged);
    QCOMPARE(testfiles::read(path), cleaned);
}

void TestChapterCleaner::cleanFileSkipsUnreadable()
{
    QTemporaryDir dir;
    ChapterCleaner::Result result = ChapterCleaner::cleanFile(dir.filePath(QStringLiteral("missing.xhtml")));
    QCOMPARE(result.outcome, ChapterCleaner::Skipped);
    QVERIFY(!result.reason.isEmpty());
    // A folder where a chapter should be.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.xhtml")));
    result = ChapterCleaner::cleanFile(dir.filePath(QStringLiteral("folder.xhtml")));
    QCOMPARE(result.outcome, ChapterCleaner::Skipped);
}

QTEST_GUILESS_MAIN(TestChapterCleaner)
#include "tst_chaptercleaner.moc"

#include "epubbuilder.h"
#include "fb2builder.h"
#include "fbtesthelpers.h"
#include "formats/fb2/fbbook.h"
#include "textrows.h"

#include <QRegularExpression>
#include <QTest>

using fb2::FbBook;
using fb2::FbSection;

namespace {

FbSection readSectionXml(const QString& xml, bool* ok = nullptr)
{
    QDomDocument keeper;
    FbBook book;
    FbSection section;
    const bool read = book.readSection(fbElement(xml, keeper), section);
    if (ok)
        *ok = read;
    return section;
}

QString inlineHtml(const QString& paragraphXml)
{
    QDomDocument keeper;
    FbBook book;
    QString html;
    book.readInline(fbElement(QStringLiteral("<p>%1</p>").arg(paragraphXml), keeper), html);
    return html;
}

int count(const QString& haystack, const QString& needle) { return haystack.count(needle); }

} // namespace

class TestFbConverters : public QObject {
    Q_OBJECT

private slots:
    void sectionContent_data();
    void sectionContent();
    void inlineText_data();
    void inlineText();
    void imageReferences_data();
    void imageReferences();
    void sectionFields();
    void toHtmlHeadingAndAnchors();
    void nestedSectionsRenderedOnce();
    void mixedContentKeepsDocumentOrder();
    void deepNestingIsLinear();
    void readersRefuseTooDeepDom();
    void plainTitle_data();
    void plainTitle();
    void binaries();
    void hugeImageNotDecoded();
    void readDocumentRoot();
};

void TestFbConverters::sectionContent_data()
{
    QTest::addColumn<QString>("children");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("content");

    addTextRows({
        { "title, image, p: leading image", "<title><p>T</p></title><image l:href=\"#a.png\"/><p>x</p>", "a.png",
            "<p>x</p>" },
        { "p, image: image in content", "<p>x</p><image l:href=\"#a.png\"/>", nullptr,
            "<p>x</p><img src=\"a.png\" />" },
        { "two leading images", "<image l:href=\"#a.png\"/><image l:href=\"#b.png\"/>", "a.png",
            "<img src=\"b.png\" />" },
        { "table skipped, flag kept", "<table><tr><td>cell</td></tr></table><image l:href=\"#a.png\"/>", "a.png",
            nullptr },
        { "subtitle as a paragraph", "<subtitle>S <emphasis>s</emphasis></subtitle>", nullptr,
            "<p class=\"subtitle\">S <i>s</i></p>" },
        { "empty line in a section", "<p>a</p><empty-line/>", nullptr, "<p>a</p><br/>" },
        { "cite: paragraph, empty line, subtitle, author skipped",
            "<cite><p>c</p><empty-line/><subtitle>s</subtitle><text-author>Who</text-author></cite>", nullptr,
            "<p>c</p></br><p class=\"subtitle\">s</p>" },
        { "poem in a cite, with epigraph and date",
            "<cite><poem><epigraph><p>e</p></epigraph><stanza><title><p>I</p></title><subtitle>s</subtitle>"
            "<v>a</v></stanza><date>1900</date><text-author>X</text-author></poem></cite>",
            nullptr, "<p>e</p><p>I</p><p class=\"subtitle\">s</p>a</br>" },
        { "annotation and unknown children skipped", "<annotation><p>n</p></annotation><foo>x</foo><p>y</p>", nullptr,
            "<p>y</p>" },
        { "text between elements ignored", "loose <p>y</p> text", nullptr, "<p>y</p>" },
    });
    QTest::newRow("poem in a section") << Fb2Builder::poem({ { "a", "b" } }, "Ode") << QString()
                                       << "<p>Ode</p>a</br>b</br>";
}

void TestFbConverters::sectionContent()
{
    QFETCH(QString, children);
    QFETCH(QString, image);
    QFETCH(QString, content);
    const FbSection section = readSectionXml(QStringLiteral("<section>%1</section>").arg(children));
    QCOMPARE(section.image, image);
    QCOMPARE(section.content, content);
}

void TestFbConverters::inlineText_data()
{
    QTest::addColumn<QString>("xml");
    QTest::addColumn<QString>("html");

    addTextRows({
        { "ampersand escaped again", "Tom &amp; <emphasis>Jerry</emphasis>", "Tom &amp; <i>Jerry</i>" },
        { "quotes and brackets", "a &lt;b&gt; \"c\" 'd'", "a &lt;b&gt; &quot;c&quot; 'd'" },
        { "note reference dropped with its number", "Text<a l:href=\"#n1\" type=\"note\">[1]</a>.", "Text." },
        { "other link keeps its text", "see <a l:href=\"http://example.org/\">the <strong>site</strong></a>",
            "see the <b>site</b>" },
        { "link with another prefix", "<a xlink:href=\"#n2\">2</a>x", "x" },
        { "formatting", "<strong>b</strong><strikethrough>s</strikethrough><style name=\"x\">st</style>",
            "<b>b</b><s>s</s>st" },
        { "sub, sup, code", "H<sub>2</sub>O x<sup>2</sup> <code>a&lt;b</code>",
            "H<sub>2</sub>O x<sup>2</sup> <code>a&lt;b</code>" },
        { "blank between inline elements kept", "<strong>a</strong> <emphasis>b</emphasis>", "<b>a</b> <i>b</i>" },
        { "nested formatting", "<emphasis>a<strong>b</strong></emphasis>", "<i>a<b>b</b></i>" },
        { "unknown element dropped with its text", "a<foo>hidden</foo>b", "ab" },
        { "CDATA escaped", "<![CDATA[x<y & z]]>", "x&lt;y &amp; z" },
        { "comment and instruction dropped", "a<!-- c --><?pi data?>b", "ab" },
        { "inline image", "x<image l:href=\"#i.png\"/>", "x<img src=\"i.png\" />" },
    });
}

void TestFbConverters::inlineText()
{
    QFETCH(QString, xml);
    QFETCH(QString, html);
    QCOMPARE(inlineHtml(xml), html);
}

void TestFbConverters::imageReferences_data()
{
    QTest::addColumn<QString>("xml");
    QTest::addColumn<QString>("ref");
    QTest::addColumn<QString>("tag");

    addTextRows({
        { "l:href", "<image l:href=\"#pic.jpg\"/>", "pic.jpg", "<img src=\"pic.jpg\" />" },
        { "other prefix", "<image xlink:href=\"#pic.jpg\"/>", "pic.jpg", "<img src=\"pic.jpg\" />" },
        { "without #", "<image l:href=\"pic.jpg\"/>", "pic.jpg", "<img src=\"pic.jpg\" />" },
        { "no reference", "<image alt=\"x\"/>", nullptr, "<img src=\"\" />" },
        { "quote in the reference is escaped", "<image l:href=\"#a&quot; onerror=&quot;x\"/>", "a\" onerror=\"x",
            "<img src=\"a&quot; onerror=&quot;x\" />" },
    });
}

void TestFbConverters::imageReferences()
{
    QFETCH(QString, xml);
    QFETCH(QString, ref);
    QFETCH(QString, tag);
    QDomDocument keeper;
    const QDomElement element = fbElement(xml, keeper);
    QString read = QStringLiteral("stale");
    QVERIFY(FbBook::readImageRef(element, read));
    QCOMPARE(read, ref);
    QCOMPARE(inlineHtml(xml), tag);
}

void TestFbConverters::sectionFields()
{
    const FbSection section
        = readSectionXml(QStringLiteral("<section id=\"ch1\"><title><p>First</p></title>"
                                        "<epigraph><p>e1</p><text-author>A</text-author></epigraph>"
                                        "<epigraph><poem><stanza><v>v</v></stanza></poem></epigraph>"
                                        "<title><p>Second</p><empty-line/></title><p>body</p>"
                                        "</section>"));
    QCOMPARE(section.id, QStringLiteral("ch1"));
    QCOMPARE(section.title, QStringLiteral("<p>Second</p><br/>"));
    QCOMPARE(section.epigraphs, QStringList({ "<p>e1</p>", "v</br>" }));
    QCOMPARE(section.content, QStringLiteral("<p>body</p>"));
    QVERIFY(section.sections.isEmpty());

    const FbSection onlySubtitleless = readSectionXml(QStringLiteral("<section><empty-line/></section>"));
    QVERIFY(onlySubtitleless.id.isNull());
}

void TestFbConverters::toHtmlHeadingAndAnchors()
{
    FbSection plain = readSectionXml(QStringLiteral("<section><p>only</p></section>"));
    QCOMPARE(plain.toHtml(false), QStringLiteral("<p>only</p>"));

    FbSection titled = readSectionXml(QStringLiteral("<section><title><p>T</p></title><epigraph><p>E</p></epigraph>"
                                                     "<image l:href=\"#lead.png\"/><p>c</p></section>"));
    FbSection copyBefore = titled; // a copy made before the first call gets an anchor of its own
    const QString html = titled.toHtml(false);
    const QString anchor = titled.anchor();
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(anchor).hasMatch());
    QCOMPARE(html,
        QStringLiteral("<h4 class='section' id='%1'><p>T</p></h4><p><p>E</p></p><img src=\"lead.png\" /><p>c</p>")
            .arg(anchor));
    QCOMPARE(titled.toHtml(true), html);
    FbSection copyAfter = titled;
    QCOMPARE(copyAfter.anchor(), anchor);
    QVERIFY(copyBefore.anchor() != anchor);
    QCOMPARE(titled.ownHtml(), html);
}

void TestFbConverters::nestedSectionsRenderedOnce()
{
    FbSection part = readSectionXml(Fb2Builder::section(
        Fb2Builder::section(Fb2Builder::p("one"), "Chapter 1") + Fb2Builder::section(Fb2Builder::p("two"), "Chapter 2"),
        "Part"));
    QCOMPARE(part.sections.size(), 2);
    QVERIFY(part.content.isEmpty());

    const QString reading = part.toHtml(false);
    QCOMPARE(count(reading, "<p>one</p>"), 1);
    QCOMPARE(count(reading, "<p>two</p>"), 1);
    QCOMPARE(count(reading, "page-break-after:always"), 2);
    QVERIFY(reading.indexOf("Part") < reading.indexOf("Chapter 1"));
    QVERIFY(reading.indexOf("<p>one</p>") < reading.indexOf("Chapter 2"));
    // The nested headings carry the anchors of the records in the list, so contents links agree.
    QVERIFY(reading.contains(QStringLiteral("id='%1'").arg(part.sections[0].anchor())));
    QVERIFY(reading.contains(QStringLiteral("id='%1'").arg(part.sections[1].anchor())));

    const QString notes = part.toHtml(true);
    QCOMPARE(count(notes, "<p>one</p>"), 1);
    QCOMPARE(count(notes, "page-break"), 0);
    QCOMPARE(part.ownHtml(), QStringLiteral("<h4 class='section' id='%1'><p>Part</p></h4>").arg(part.anchor()));
}

void TestFbConverters::mixedContentKeepsDocumentOrder()
{
    FbSection section = readSectionXml(QStringLiteral("<section><p>intro</p><section><p>inner</p></section>"
                                                      "<p>outro</p></section>"));
    QCOMPARE(section.content, QStringLiteral("<p>intro</p><p>outro</p>"));
    QCOMPARE(section.toHtml(true), QStringLiteral("<p>intro</p><p>inner</p><p>outro</p>"));
}

void TestFbConverters::deepNestingIsLinear()
{
    // Rendering nested sections inside their parents' content as well doubled the output at
    // every level; 40 levels would need terabytes.
    const int depth = 40;
    const QString leaf = Fb2Builder::p("leaf");
    bool ok = false;
    FbSection top
        = readSectionXml(QStringLiteral("<section>%1</section>").arg(Fb2Builder::nestedSections(depth - 1, leaf)), &ok);
    QVERIFY(ok);
    const QString html = top.toHtml(false);
    QCOMPARE(count(html, "<p>leaf</p>"), 1);
    for (int level = 1; level < depth; ++level)
        QCOMPARE(count(html, QStringLiteral(">Level %1<").arg(level)), 1);
    QVERIFY2(html.size() < depth * 200, qPrintable(QString::number(html.size())));

    const FbSection* innermost = &top;
    for (int level = 1; level < depth; ++level)
        innermost = &innermost->sections.first();
    QCOMPARE(innermost->content, leaf);
}

void TestFbConverters::readersRefuseTooDeepDom()
{
    // A DOM built by other code has no nesting limit: the readers keep their own.
    QDomDocument document;
    QDomElement parent = document.createElement(QStringLiteral("section"));
    document.appendChild(parent);
    const QDomElement top = parent;
    for (int i = 0; i < FbBook::kMaxDepth + 5; ++i) {
        QDomElement child = document.createElement(QStringLiteral("section"));
        parent.appendChild(child);
        parent = child;
    }
    FbBook book;
    FbSection section;
    QVERIFY(!book.readSection(top, section));

    QDomElement p = document.createElement(QStringLiteral("p"));
    QDomElement inner = p;
    for (int i = 0; i < FbBook::kMaxDepth + 5; ++i) {
        QDomElement child = document.createElement(QStringLiteral("emphasis"));
        inner.appendChild(child);
        inner = child;
    }
    QString html;
    QVERIFY(!book.readInline(p, html));
    // The counter is balanced after a refusal: a shallow section still reads.
    FbSection shallow;
    QVERIFY(book.readSection(top.ownerDocument().createElement(QStringLiteral("section")), shallow));
}

void TestFbConverters::plainTitle_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("text");

    addTextRows({
        { "two paragraphs", "<p>Part</p><p>One</p>", "Part  One" },
        { "formatting", "<p><i>A</i> <b>B</b> <s>C</s></p><br/>", "A   B   C" },
        { "sub, sup and code inside words", "<p>H<sub>2</sub>O, E=mc<sup>2</sup>, <code>x</code></p>",
            "H2O, E=mc2, x" },
        { "subtitle paragraph", "<p class=\"subtitle\">S</p>", "S" },
        { "references and other markup stay", "<p>A &amp; B</p></br><img src=\"x\" />",
            "A &amp; B </br><img src=\"x\" />" },
    });
}

void TestFbConverters::plainTitle()
{
    QFETCH(QString, html);
    QFETCH(QString, text);
    QCOMPARE(fb2::plainTitle(html), text);
}

void TestFbConverters::binaries()
{
    const QByteArray png = EpubBuilder::png(3, 2);
    const QString base64 = QString::fromLatin1(png.toBase64());
    const QString split = base64.left(8) + QStringLiteral("<!-- cut -->") + base64.mid(8);
    QDomDocument keeper;
    const QDomElement root
        = fbElement(QStringLiteral("<FictionBook><binary id=\"a.png\">%1</binary><binary id=\"b.png\">%2</binary>"
                                   "<binary id=\"a.png\">%3</binary><binary id=\"junk\">bm90IGFuIGltYWdl</binary>"
                                   "<binary>%3</binary></FictionBook>")
                        .arg(QString(base64).replace(QStringLiteral("A"), QStringLiteral("A\n")), split,
                            QString::fromLatin1(EpubBuilder::png(5, 5).toBase64())),
            keeper);
    FbBook book;
    for (QDomElement binary = root.firstChildElement(); !binary.isNull(); binary = binary.nextSiblingElement())
        QVERIFY(book.readBinary(binary));
    QCOMPARE(book.binaries.keys(), QStringList({ "", "a.png", "b.png", "junk" }));
    QCOMPARE(book.binaries.value("a.png").size(), QSize(5, 5)); // the later one of the same id
    QVERIFY(book.binaries.value("b.png").isNull()); // only the text before the comment
    QVERIFY(book.binaries.value("junk").isNull());
    QCOMPARE(book.binaries.value("").size(), QSize(5, 5));
}

void TestFbConverters::hugeImageNotDecoded()
{
    // The fixture is a real image: only the size check keeps it from being decoded.
    QCOMPARE(QImage::fromData(hugeMonochromePng(12000, 9000)).size(), QSize(12000, 9000));
    QDomDocument keeper;
    const QDomElement root
        = fbElement(QStringLiteral("<FictionBook><binary id=\"huge.png\">%1</binary><binary id=\"fine.png\">%2</binary>"
                                   "</FictionBook>")
                        .arg(QString::fromLatin1(hugeMonochromePng(12000, 9000).toBase64()),
                            QString::fromLatin1(hugeMonochromePng(1000, 1000).toBase64())),
            keeper);
    FbBook book;
    QVERIFY(book.readDocument(keeper));
    QVERIFY(book.binaries.contains("huge.png"));
    QVERIFY(book.binaries.value("huge.png").isNull());
    QCOMPARE(book.binaries.value("fine.png").size(), QSize(1000, 1000));
    Q_UNUSED(root)
}

void TestFbConverters::readDocumentRoot()
{
    QDomDocument keeper;
    fbElement(QStringLiteral("<Fictionbook><body><section><p>x</p></section></body></Fictionbook>"), keeper);
    FbBook book;
    QVERIFY(!book.readDocument(keeper));
    QVERIFY(book.bodies.isEmpty());

    fbElement(QStringLiteral("<FictionBook/>"), keeper);
    QVERIFY(book.readDocument(keeper));
    QVERIFY(book.bodies.isEmpty());
    QVERIFY(book.binaries.isEmpty());
    QVERIFY(book.title().isEmpty());

    // Binaries after the bodies are known to the bodies; bodies keep name, title, epigraphs, image.
    Fb2Builder builder;
    builder.addBody(Fb2Builder::image("cover.png") + Fb2Builder::title({ "Main" })
        + Fb2Builder::epigraph(Fb2Builder::p("ep")) + Fb2Builder::section(Fb2Builder::p("s")));
    builder.addBody(Fb2Builder::section(Fb2Builder::p("note"), "1", "n1"), "notes");
    builder.addBinary("cover.png", EpubBuilder::png(4, 4));
    QVERIFY(fbParse(builder.xml(), keeper));
    QVERIFY(book.readDocument(keeper));
    QCOMPARE(book.bodies.size(), 2);
    QCOMPARE(book.bodies[0].image, QStringLiteral("cover.png"));
    QCOMPARE(book.bodies[0].title, QStringLiteral("<p>Main</p>"));
    QCOMPARE(book.bodies[0].epigraphs, QStringList({ "<p>ep</p>" }));
    QCOMPARE(book.bodies[0].name, QString());
    QCOMPARE(book.bodies[1].name, QStringLiteral("notes"));
    QCOMPARE(book.bodies[1].sections[0].id, QStringLiteral("n1"));
    QCOMPARE(book.binaries.value("cover.png").size(), QSize(4, 4));
    QVERIFY(book.readDocument(keeper));
    QCOMPARE(book.bodies.size(), 2); // bodies are emptied before a new read
}

QTEST_GUILESS_MAIN(TestFbConverters)
#include "tst_fbconverters.moc"

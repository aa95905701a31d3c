// Full and fast conversion of generated EPUB books.

#include "epubfixture.h"
#include "testfiles.h"
#include "zipwriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

using epub::EpubError;

namespace {

const QByteArray ObfuscatedFonts = "<?xml version=\"1.0\"?>\n"
                                   "<encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\" "
                                   "xmlns:enc=\"http://www.w3.org/2001/04/xmlenc#\">\n"
                                   "<enc:EncryptedData><enc:EncryptionMethod "
                                   "Algorithm=\"http://www.idpf.org/2008/embedding\"/>"
                                   "<enc:CipherData><enc:CipherReference URI=\"OEBPS/fonts/a.otf\"/></enc:CipherData>"
                                   "</enc:EncryptedData>\n"
                                   "<enc:EncryptedData><enc:EncryptionMethod "
                                   "Algorithm=\"http://ns.adobe.com/pdf/enc#RC\"/>"
                                   "<enc:CipherData><enc:CipherReference URI=\"OEBPS/fonts/b.otf\"/></enc:CipherData>"
                                   "</enc:EncryptedData>\n</encryption>\n";

QByteArray encipheredContent()
{
    QByteArray xml = ObfuscatedFonts;
    xml.replace("http://ns.adobe.com/pdf/enc#RC", "http://www.w3.org/2001/04/xmlenc#aes256-cbc");
    return xml;
}

// Bytes as an enciphered chapter looks: no XML at all.
const QByteArray NotXml("\x8f\x03\xa1<\x00\xfe garbage \x11", 17);

QStringList noDots(const QStringList& names)
{
    QStringList result = names;
    result.removeAll(QStringLiteral("."));
    result.removeAll(QStringLiteral(".."));
    return result;
}

using BookSetup = void (*)(EpubBuilder&);

} // namespace
Q_DECLARE_METATYPE(BookSetup)

class TestEpubParser : public QObject {
    Q_OBJECT

private slots:
    void epub2Package();
    void spineAndContents_data();
    void spineAndContents();
    void chaptersAreCleaned();
    void pathsOutsideTheBookAreRefused();
    void hostileContainer();
    void protection_data();
    void protection();
    void chapterKindsAndRenaming();
    void cover_data();
    void cover();
    void unreadableBooks();
    void fastConversion();
};

void TestEpubParser::epub2Package()
{
    EpubBuilder builder;
    builder.setTitle(QStringLiteral("Two & Three"));
    builder.setAuthor(QStringLiteral("A. Writer"));
    builder.addMetadata(QStringLiteral("dc:publisher"), QStringLiteral("House"));
    builder.addChapter(
        QStringLiteral("c1"), QStringLiteral("Text/ch1.xhtml"), QStringLiteral("One"), QStringLiteral("<p>First</p>"));
    builder.addChapter(
        QStringLiteral("c2"), QStringLiteral("Text/ch2.xhtml"), QStringLiteral("Two"), QStringLiteral("<p>Second</p>"));
    builder.setCover(QStringLiteral("images/cover.png"), EpubBuilder::png(8, 12));
    EpubFixture fixture;
    QVERIFY(fixture.write(builder));
    QCOMPARE(fixture.convert(), epub::NoError);

    const epub::EpubPackage& package = fixture.parser().package();
    QCOMPARE(
        QStringList({ package.title(), package.author(), package.publishers.join('|'), package.languages.join('|') }),
        QStringList({ "Two & Three", "A. Writer", "House", "en" }));
    QCOMPARE(package.spine, (QStringList { "c1", "c2" }));
    QCOMPARE(package.tocId, QStringLiteral("ncx"));
    QVERIFY(!package.isProtected);
    QCOMPARE(package.packageDir(), fixture.outputDir() + QStringLiteral("/OEBPS"));
    QCOMPARE(package.coverPath(), fixture.outputFile(QStringLiteral("OEBPS/images/cover.png")));
    QVERIFY(QFileInfo(package.coverPath()).isFile());

    epub::EpubDocument& document = fixture.document();
    QCOMPARE(document.basePath(), package.packageDir());
    QCOMPARE(document.chapters(), (QStringList { "Text/ch1.xhtml", "Text/ch2.xhtml" }));
    // The builder's chapters declare the HTML5 document type: HTML kind, names unchanged.
    QCOMPARE(document.chapterKind(QStringLiteral("Text/ch1.xhtml")), int(TextDocument::KindHtml));
    QVERIFY(QFileInfo(document.chapterFilePath(QStringLiteral("Text/ch2.xhtml"))).isFile());

    QCOMPARE(tocText(fixture.parser().toc()), QStringLiteral("=(One=Text/ch1.xhtml Two=Text/ch2.xhtml)"));
}

void TestEpubParser::spineAndContents_data()
{
    QTest::addColumn<BookSetup>("setup");
    QTest::addColumn<QString>("packageFolder");
    QTest::addColumn<QStringList>("chapters");
    QTest::addColumn<QString>("contents");

    // Nesting and document order decide, whatever the play order; the EPUB 3 navigation
    // document is in the manifest, not in the spine: not a chapter.
    QTest::newRow("epub 3, nested contents")
        << BookSetup([](EpubBuilder& b) {
               b.setVersion(3);
               b.addChapter("c1", "c1.xhtml", "One", "<p/>");
               b.addChapter("c2", "c2.xhtml", "Two", "<p/>");
               b.setNavPoints({ { "Part I", "c1.xhtml",
                                    { { "1.1", "c1.xhtml#s1", {} },
                                        { "1.2", "c1.xhtml#s2", { { "1.2.1", "c2.xhtml#deep", {} } } } } },
                   { "Part II", "c2.xhtml", {} } });
           })
        << "OEBPS" << QStringList { "c1.xhtml", "c2.xhtml" }
        << "=(Part I=c1.xhtml(1.1=c1.xhtml#s1 1.2=c1.xhtml#s2(1.2.1=c2.xhtml#deep)) Part II=c2.xhtml)";
    QTest::newRow("package at the top of the archive") << BookSetup([](EpubBuilder& b) {
        b.setOpfFolder(QString());
        b.addChapter("c1", "ch1.xhtml", "One", "<p/>");
    }) << QString() << QStringList { "ch1.xhtml" } << "=(One=ch1.xhtml)";
    QTest::newRow("fragments and percent-encoded hrefs") << BookSetup([](EpubBuilder& b) {
        b.addMissingItem("c1", "Text/chapter%201.xhtml");
        b.addArchiveFile("OEBPS/Text/chapter 1.xhtml", EpubFixture::chapter("<p>one</p>"));
        b.addMissingItem("c2", "Text/ch2.xhtml#part2");
        b.addArchiveFile("OEBPS/Text/ch2.xhtml", EpubFixture::chapter("<p>two</p>"));
        b.setNavPoints({ { "One", "Text/chapter%201.xhtml#p3", {} }, { "Two", "Text/ch2.xhtml#part2", {} } });
    }) << "OEBPS" << QStringList { "Text/chapter 1.xhtml", "Text/ch2.xhtml" }
                                                         << "=(One=Text/chapter 1.xhtml#p3 Two=Text/ch2.xhtml#part2)";
    // Missing files, documents too deep for the DOM and plain HTML items are no chapters; a
    // second spine entry for the first chapter's file lists it twice.
    QTest::newRow("missing and broken chapters") << BookSetup([](EpubBuilder& b) {
        QByteArray deep = "<html><body>" + QByteArray("<div>").repeated(40000) + QByteArray("</div>").repeated(40000)
            + "</body></html>";
        b.addChapter("c1", "c1.xhtml", "One", "<p/>");
        b.addMissingItem("gone", "gone.xhtml");
        b.addItem("deep", "deep.xhtml", deep);
        b.addItem("html", "plain.html", "<p>x</p>", "text/html");
        b.addChapter("c2", "c2.xhtml", "Two", "<p/>");
        b.addMissingItem("again", "c1.xhtml#again");
    }) << "OEBPS" << QStringList { "c1.xhtml", "c2.xhtml", "c1.xhtml" }
                                                 << "=(One=c1.xhtml Two=c2.xhtml)";
}

void TestEpubParser::spineAndContents()
{
    QFETCH(BookSetup, setup);
    QFETCH(QString, packageFolder);
    QFETCH(QStringList, chapters);
    QFETCH(QString, contents);
    EpubBuilder builder;
    setup(builder);
    EpubFixture fixture;
    QVERIFY(fixture.write(builder));
    QCOMPARE(fixture.convert(), epub::NoError);

    QCOMPARE(fixture.parser().package().packageDir(),
        packageFolder.isEmpty() ? fixture.outputDir() : fixture.outputFile(packageFolder));
    QCOMPARE(fixture.document().chapters(), chapters);
    for (const QString& chapter : chapters)
        QVERIFY2(QFileInfo(fixture.document().chapterFilePath(chapter)).isFile(), qPrintable(chapter));
    QCOMPARE(tocText(fixture.parser().toc()), contents);
}

void TestEpubParser::chaptersAreCleaned()
{
    const QByteArray clean = EpubFixture::chapter("<p><b>one</b> <i>two</i></p><pre>  a\n   b</pre>");
    const QByteArray scripted
        = EpubFixture::chapter("<p onclick=\"steal()\"><b>one</b> <i>two</i></p><script>steal()</script>"
                               "<a href=\" javascript:steal()\">link</a><pre>  a\n   b</pre><iframe src=\"x.html\"/>");
    const QByteArray xslt = "<?xml version=\"1.0\"?>\n<?xml-stylesheet type=\"text/xsl\" href=\"t.xsl\"?>\n"
                            "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>x</p></body></html>\n";
    const QByteArray broken = "<html><body><p>a&nbsp;b<br><script>steal()</script></body></html>";
    const QByteArray notInSpine = EpubFixture::chapter("<p onmouseover=\"steal()\">note</p>");

    EpubBuilder builder;
    builder.addItem(QStringLiteral("c1"), QStringLiteral("clean.xhtml"), clean);
    builder.addItem(QStringLiteral("c2"), QStringLiteral("scripted.xhtml"), scripted);
    builder.addItem(QStringLiteral("c3"), QStringLiteral("xslt.xhtml"), xslt);
    builder.addItem(QStringLiteral("c4"), QStringLiteral("broken.html"), broken);
    builder.addItem(QStringLiteral("n1"), QStringLiteral("notes.xhtml"), notInSpine,
        QStringLiteral("application/xhtml+xml"), false);
    EpubFixture fixture;
    QVERIFY(fixture.write(builder));
    QCOMPARE(fixture.convert(), epub::NoError);

    const QStringList chapters = fixture.document().chapters();
    QCOMPARE(chapters, (QStringList { "clean.xhtml", "scripted.xhtml", "xslt.xhtml", "broken.html" }));
    // Untouched chapters keep their bytes.
    QCOMPARE(fixture.readOutput(QStringLiteral("OEBPS/clean.xhtml")), clean);
    const QByteArray cleaned = fixture.readOutput(QStringLiteral("OEBPS/scripted.xhtml"));
    QVERIFY(!cleaned.contains("steal"));
    QVERIFY(!cleaned.contains("iframe"));
    QVERIFY(cleaned.contains("<b>one</b> <i>two</i>"));
    QVERIFY(cleaned.contains("<pre>  a\n   b</pre>"));
    QVERIFY(cleaned.contains(">link</a>"));
    QVERIFY(!fixture.readOutput(QStringLiteral("OEBPS/xslt.xhtml")).contains("t.xsl"));
    QCOMPARE(fixture.readOutput(QStringLiteral("OEBPS/broken.html")),
        QByteArray("<html><body><p>a&nbsp;b<br></body></html>"));
    QCOMPARE(fixture.document().chapterKind(QStringLiteral("broken.html")), int(TextDocument::KindHtml));
    // A document outside the spine is cleaned too: a link may lead there.
    QVERIFY(!fixture.readOutput(QStringLiteral("OEBPS/notes.xhtml")).contains("steal"));
    // Rewrites leave no temporary files behind.
    QCOMPARE(noDots(QDir(fixture.outputFile(QStringLiteral("OEBPS"))).entryList(QDir::Files)).size(), 7);
}

void TestEpubParser::pathsOutsideTheBookAreRefused()
{
    EpubFixture fixture;
    // A file beside the output folder that a hostile manifest points at.
    const QString victim = fixture.tempPath(QStringLiteral("victim.html"));
    const QByteArray victimBytes = "<html><body><script>mine()</script></body></html>";
    QVERIFY(testfiles::write(victim, victimBytes));
    EpubBuilder builder;
    builder.addChapter(QStringLiteral("c1"), QStringLiteral("c1.xhtml"), QStringLiteral("One"), QStringLiteral("<p/>"));
    builder.addMissingItem(QStringLiteral("up"), QStringLiteral("../../victim.html"));
    builder.addMissingItem(QStringLiteral("encoded"), QStringLiteral("%2e%2e/%2E%2E/victim.html"));
    builder.addMissingItem(QStringLiteral("absolute"), victim);
    builder.addMissingItem(QStringLiteral("backslash"), QStringLiteral("..\\..\\victim.html"));
    // Inside after cleaning: the OPF folder and back.
    builder.addMissingItem(QStringLiteral("roundabout"), QStringLiteral("../OEBPS/c1.xhtml"));
    QVERIFY(fixture.write(builder));
    QCOMPARE(fixture.convert(), epub::NoError);

    QCOMPARE(fixture.document().chapters(), (QStringList { "c1.xhtml", "../OEBPS/c1.xhtml" }));
    QCOMPARE(testfiles::read(victim), victimBytes);
    QVERIFY(!QFileInfo::exists(victim + QStringLiteral(".xhtml")));
}

void TestEpubParser::hostileContainer()
{
    // A package document outside the book is not read.
    EpubBuilder outside;
    outside.setContainerXml("<container><rootfiles><rootfile full-path=\"../../content.opf\" "
                            "media-type=\"application/oebps-package+xml\"/></rootfiles></container>");
    EpubFixture fixture;
    QVERIFY(fixture.write(outside));
    QCOMPARE(fixture.convert(), epub::ReadError);

    // Two rootfiles: the first with the package media type (any letter case) is taken.
    EpubBuilder two;
    two.setContainerXml("<container><rootfiles>"
                        "<rootfile full-path=\"other.pdf\" media-type=\"application/pdf\"/>"
                        "<rootfile full-path=\"OEBPS/content.opf\" media-type=\"Application/OEBPS-Package+XML\"/>"
                        "</rootfiles></container>");
    two.addChapter(QStringLiteral("c1"), QStringLiteral("c1.xhtml"), QStringLiteral("One"), QStringLiteral("<p/>"));
    EpubFixture second;
    QVERIFY(second.write(two));
    QCOMPARE(second.convert(), epub::NoError);
    QCOMPARE(second.document().chapters(), QStringList { "c1.xhtml" });

    // A container nested too deeply for the DOM is refused, not parsed.
    QByteArray deep = "<container>";
    for (int i = 0; i < 40000; ++i)
        deep += "<x>";
    EpubBuilder deepBuilder;
    deepBuilder.setContainerXml(deep);
    EpubFixture third;
    QVERIFY(third.write(deepBuilder));
    QCOMPARE(third.convert(), epub::ReadError);
}

void TestEpubParser::protection_data()
{
    QTest::addColumn<QByteArray>("encryption"); // empty: no encryption.xml
    QTest::addColumn<QByteArray>("firstChapter");
    QTest::addColumn<int>("result");

    const QByteArray good = EpubFixture::chapter("<p>x</p>");
    QTest::newRow("enciphered content") << encipheredContent() << good << int(epub::ProtectedError);
    QTest::newRow("obfuscated fonts and a sloppy first chapter") << ObfuscatedFonts << NotXml << int(epub::NoError);
    QTest::newRow("no entries") << QByteArray("<encryption/>") << NotXml << int(epub::NoError);
    QTest::newRow("unreadable list and a chapter that is not XML")
        << QByteArray("<enc") << NotXml << int(epub::ProtectedError);
    QTest::newRow("unreadable list and a good chapter") << QByteArray("<enc") << good << int(epub::NoError);
    QTest::newRow("no list and a chapter that is not XML") << QByteArray() << NotXml << int(epub::NoError);
}

void TestEpubParser::protection()
{
    QFETCH(QByteArray, encryption);
    QFETCH(QByteArray, firstChapter);
    QFETCH(int, result);

    EpubBuilder builder;
    // A missing first chapter is passed over by the test.
    builder.addMissingItem(QStringLiteral("m"), QStringLiteral("missing.xhtml"));
    builder.addItem(QStringLiteral("c1"), QStringLiteral("c1.xhtml"), firstChapter);
    builder.addChapter(QStringLiteral("c2"), QStringLiteral("c2.xhtml"), QStringLiteral("Two"), QStringLiteral("<p/>"));
    if (!encryption.isEmpty())
        builder.addArchiveFile(QStringLiteral("META-INF/encryption.xml"), encryption);
    EpubFixture fixture;
    QVERIFY(fixture.write(builder));
    QCOMPARE(int(fixture.convert()), result);
    const bool isProtected = result == epub::ProtectedError;
    QCOMPARE(fixture.parser().package().isProtected, isProtected);
    if (isProtected) {
        QVERIFY(fixture.document().chapters().isEmpty());
        QVERIFY(fixture.parser().toc().isEmpty());
        QVERIFY(fixture.parser().package().coverPath().isEmpty());
    } else {
        QCOMPARE(fixture.document().chapters(), (QStringList { "c1.xhtml", "c2.xhtml" }));
    }
}

void TestEpubParser::chapterKindsAndRenaming()
{
    EpubBuilder builder;
    builder.addItem(QStringLiteral("a"), QStringLiteral("ch1.html"), EpubFixture::chapter("<p>1</p>"));
    builder.addItem(QStringLiteral("b"), QStringLiteral("ch2.xhtml"), EpubFixture::chapter("<p>2</p>"));
    builder.addItem(QStringLiteral("c"), QStringLiteral("ch3.XHTML"), EpubFixture::chapter("<p>3</p>"));
    builder.addItem(QStringLiteral("d"), QStringLiteral("ch4.html"), EpubFixture::chapter("<p>4</p>", ""));
    EpubFixture fixture;
    QVERIFY(fixture.write(builder));

    for (int run = 0; run < 2; ++run) {
        // The second run finds the earlier files in place and must end the same.
        QCOMPARE(fixture.convert(), epub::NoError);
        epub::EpubDocument& document = fixture.document();
        QCOMPARE(document.chapters(), (QStringList { "ch1.html", "ch2.xhtml", "ch3.XHTML", "ch4.html" }));
        QCOMPARE(document.chapterKind(QStringLiteral("ch1.html")), int(TextDocument::KindXhtml));
        QCOMPARE(document.chapterKind(QStringLiteral("ch2.xhtml")), int(TextDocument::KindXhtml));
        QCOMPARE(document.chapterKind(QStringLiteral("ch3.XHTML")), int(TextDocument::KindXhtml));
        QCOMPARE(document.chapterKind(QStringLiteral("ch4.html")), int(TextDocument::KindHtml));
        const QStringList files = noDots(QDir(fixture.outputFile(QStringLiteral("OEBPS"))).entryList(QDir::Files));
        QVERIFY2(files.contains(QStringLiteral("ch1.html.xhtml")), qPrintable(files.join(' ')));
        QVERIFY(files.contains(QStringLiteral("ch2.xhtml")));
        QVERIFY(files.contains(QStringLiteral("ch3.XHTML.xhtml")));
        QVERIFY(files.contains(QStringLiteral("ch4.html")));
        QVERIFY(!files.contains(QStringLiteral("ch1.html")));
        QVERIFY(!files.contains(QStringLiteral("ch2.xhtml.xhtml")));
        for (const QString& chapter : document.chapters())
            QVERIFY2(QFileInfo(document.chapterFilePath(chapter)).isFile(), qPrintable(chapter));
    }
}

void TestEpubParser::cover_data()
{
    QTest::addColumn<QString>("candidate"); // a dc:coverage value, or "" for none
    QTest::addColumn<bool>("manifestCover"); // meta cover naming a manifest image
    QTest::addColumn<QStringList>("entries"); // images in archive order
    QTest::addColumn<QString>("expected"); // relative to the output folder, or ""

    QTest::newRow("manifest image, exact entry")
        << QString() << true << QStringList { "OEBPS/images/cover.jpg", "OEBPS/images/back-cover.jpg" }
        << QStringLiteral("OEBPS/images/cover.jpg");
    QTest::newRow("file name as candidate") << QStringLiteral("cover.jpg") << false
                                            << QStringList { "OEBPS/images/cover.jpg", "OEBPS/images/back-cover.jpg" }
                                            << QStringLiteral("OEBPS/images/cover.jpg");
    QTest::newRow("name does not match back-cover")
        << QStringLiteral("cover.jpg") << false << QStringList { "OEBPS/cover.jpg", "OEBPS/images/back-cover.jpg" }
        << QStringLiteral("OEBPS/cover.jpg");
    QTest::newRow("id text with an image suffix")
        << QStringLiteral("frontpage") << false << QStringList { "OEBPS/frontpage.xhtml", "OEBPS/img/frontpage.png" }
        << QStringLiteral("OEBPS/img/frontpage.png");
    QTest::newRow("regular expression text is plain text")
        << QStringLiteral("(a+)+$") << false << QStringList { "OEBPS/Images/Cover.PNG" }
        << QStringLiteral("OEBPS/Images/Cover.PNG");
    QTest::newRow("no candidates: last cover-like name")
        << QString() << false << QStringList { "OEBPS/Images/Cover.PNG", "OEBPS/images/back-cover.jpg" }
        << QStringLiteral("OEBPS/images/back-cover.jpg");
    QTest::newRow("no image at all") << QString() << false << QStringList { "OEBPS/images/photo.jpg" } << QString();
}

void TestEpubParser::cover()
{
    QFETCH(QString, candidate);
    QFETCH(bool, manifestCover);
    QFETCH(QStringList, entries);
    QFETCH(QString, expected);

    EpubBuilder builder;
    builder.addChapter(QStringLiteral("c1"), QStringLiteral("c1.xhtml"), QStringLiteral("One"), QStringLiteral("<p/>"));
    if (!candidate.isEmpty())
        builder.addMetadata(QStringLiteral("dc:coverage"), candidate);
    const QByteArray image = EpubBuilder::png(4, 4);
    for (const QString& entry : entries) {
        if (manifestCover && entry.endsWith(QLatin1String("/cover.jpg")))
            builder.setCover(entry.mid(6), image, QStringLiteral("image/jpeg"));
        else
            builder.addArchiveFile(entry, image);
    }
    EpubFixture fixture;
    QVERIFY(fixture.write(builder));
    QCOMPARE(fixture.convert(), epub::NoError);
    const QString cover = fixture.parser().package().coverPath();
    QCOMPARE(cover, expected.isEmpty() ? QString() : fixture.outputFile(expected));
    if (!cover.isEmpty())
        QVERIFY(QFileInfo(cover).isFile());
}

void TestEpubParser::unreadableBooks()
{
    EpubFixture fixture;
    QVERIFY(testfiles::write(fixture.bookPath(), "this is not a zip archive"));
    QCOMPARE(fixture.convert(), epub::ReadError);
    QVERIFY(fixture.document().chapters().isEmpty());

    // An archive without a container.
    QVERIFY(ZipWriter::write(fixture.bookPath(), { { QStringLiteral("mimetype"), "application/epub+zip", false } }));
    QCOMPARE(fixture.convert(), epub::ReadError);

    // A package document that is not XML: nothing to show, but no failure.
    EpubBuilder builder;
    builder.setOpfName(QStringLiteral("missing.opf"));
    builder.setContainerXml("<container><rootfiles><rootfile full-path=\"OEBPS/content.opf\" "
                            "media-type=\"application/oebps-package+xml\"/></rootfiles></container>");
    builder.addArchiveFile(QStringLiteral("OEBPS/content.opf"), "<package><manifest>");
    EpubFixture broken;
    QVERIFY(broken.write(builder));
    QCOMPARE(broken.convert(), epub::NoError);
    QVERIFY(broken.document().chapters().isEmpty());
}

void TestEpubParser::fastConversion()
{
    EpubBuilder builder;
    builder.setTitle(QStringLiteral("Fast"));
    builder.addChapter(QStringLiteral("c1"), QStringLiteral("c1.xhtml"), QStringLiteral("One"), QStringLiteral("<p/>"));
    builder.setCover(QStringLiteral("images/cover.png"), EpubBuilder::png(4, 4));
    EpubFixture fixture;
    QVERIFY(fixture.write(builder));
    QCOMPARE(fixture.convert(true), epub::NoError);
    QCOMPARE(fixture.parser().package().title(), QStringLiteral("Fast"));
    QCOMPARE(fixture.parser().package().coverPath(), fixture.outputFile(QStringLiteral("OEBPS/images/cover.png")));
    QVERIFY(fixture.parser().package().packageDir().isEmpty());
    QVERIFY(fixture.parser().toc().isEmpty());
    QVERIFY(fixture.document().chapters().isEmpty());
    // Only what was asked for was unpacked.
    QVERIFY(!QFileInfo::exists(fixture.outputFile(QStringLiteral("OEBPS/c1.xhtml"))));
    QVERIFY(QFileInfo::exists(fixture.outputFile(QStringLiteral("OEBPS/content.opf"))));

    // With an unreadable encryption list the first chapter is unpacked and tested.
    EpubBuilder enciphered;
    enciphered.addItem(QStringLiteral("c1"), QStringLiteral("c1.xhtml"), NotXml);
    enciphered.addArchiveFile(QStringLiteral("META-INF/encryption.xml"), "not xml");
    EpubFixture second;
    QVERIFY(second.write(enciphered));
    QCOMPARE(second.convert(true), epub::ProtectedError);
    QVERIFY(second.parser().package().isProtected);
}

QTEST_GUILESS_MAIN(TestEpubParser)
#include "tst_epubparser.moc"

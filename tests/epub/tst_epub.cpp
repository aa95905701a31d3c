// EPUB books: the package record, full and fast conversion of generated books, chapter cleaning
// (what is removed, what must stay byte for byte, hostile input) and the text document.

#include "chapterbuilder.h"
#include "epubbuilder.h"
#include "htmlparsercleaner.h"
#include "parsedmarkup.h"
#include "testfiles.h"
#include "testpaths.h"
#include "viewedmarkup.h"

#include "formats/endrequest.h"
#include "formats/epub/chaptercleaner.h"
#include "formats/epub/chapterencoding.h"
#include "formats/epub/epubconversion.h"
#include "formats/epub/epubdocument.h"
#include "formats/epub/epubpackage.h"
#include "formats/epub/epubparser.h"
#include "formats/epub/htmltextcleaner.h"
#include "formats/epub/xmlguard.h"
#include "formats/fb2/fbtextcodec.h"
#include "formats/htmlnesting.h"
#include "formats/inlineruns.h"
#include "formats/textdocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopedPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QWebFrame>
#include <QWebPage>
#include <QWebSettings>
#include <QXmlStreamReader>
#include <QtConcurrent>
#include <QtTest>

using epub::ChapterCleaner;
using epub::EpubError;
using epub::EpubPackage;
using epub::XmlGuard;

namespace {

const QByteArray Xhtml11Doctype = "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
                                  "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n";

// A chapter document with the given head and doctype line (may be empty) around a body.
QByteArray page(
    const QByteArray& body, const QByteArray& head = "<title>T</title>", const QByteArray& doctype = Xhtml11Doctype)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + doctype
        + "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:svg=\"http://www.w3.org/2000/svg\" "
          "xmlns:xlink=\"http://www.w3.org/1999/xlink\">\n<head>"
        + head + "</head>\n<body>" + body + "</body>\n</html>\n";
}

// One generated book converted into a fresh output folder, with the document and parser kept
// for inspection.
class EpubFixture {
public:
    bool write(const EpubBuilder& builder) { return m_dir.isValid() && builder.write(bookPath()); }
    // Full (or fast) conversion into <temp>/out with a new document and parser.
    EpubError convert(bool fast = false)
    {
        m_parser.reset();
        m_document.reset(new epub::EpubDocument(bookPath()));
        m_parser.reset(new epub::EpubParser(m_document.data()));
        return m_parser->parse(bookPath(), outputDir(), fast);
    }
    QString bookPath() const { return m_dir.filePath(QStringLiteral("book.epub")); }
    QString outputDir() const { return m_dir.filePath(QStringLiteral("out")); }
    QString tempPath(const QString& relative) const { return m_dir.filePath(relative); }
    QString outputFile(const QString& relative) const { return outputDir() + QLatin1Char('/') + relative; }
    QByteArray readOutput(const QString& relative) const { return testfiles::read(outputFile(relative)); }
    epub::EpubDocument& document() { return *m_document; }
    epub::EpubParser& parser() { return *m_parser; }

private:
    QTemporaryDir m_dir;
    QScopedPointer<epub::EpubDocument> m_document;
    QScopedPointer<epub::EpubParser> m_parser;
};

// A contents tree in one line: "label=src(children)", siblings apart by blanks.
QString tocText(const QList<epub::NavPoint>& points)
{
    QStringList parts;
    for (const epub::NavPoint& point : points)
        parts.append(point.label + '=' + point.src
            + (point.children.isEmpty() ? QString() : '(' + tocText(point.children) + ')'));
    return parts.join(' ');
}

// Runs the package reading of a parser over a package document with these parts.
class OpfFixture {
public:
    explicit OpfFixture(
        const QByteArray& metadata, const QByteArray& manifest = QByteArray(), const QByteArray& spine = "<spine/>")
        : m_parser(nullptr)
    {
        const QByteArray opf = "<?xml version=\"1.0\"?>\n<package xmlns=\"http://www.idpf.org/2007/opf\" "
                               "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                               "xmlns:opf=\"http://www.idpf.org/2007/opf\" version=\"2.0\">\n"
                               "<metadata>"
            + metadata + "</metadata>\n<manifest>" + manifest + "</manifest>\n" + spine + "\n</package>\n";
        testfiles::write(m_dir.filePath(QStringLiteral("content.opf")), opf);
        m_parser.loadMetaData(m_dir.filePath(QStringLiteral("content.opf")));
    }

    const EpubPackage& package() const { return m_parser.package(); }
    epub::EpubParser& parser() { return m_parser; }

private:
    QTemporaryDir m_dir;
    epub::EpubParser m_parser;
};

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

// Bytes as an enciphered chapter looks: no XML at all.
const QByteArray NotXml("\x8f\x03\xa1<\x00\xfe garbage \x11", 17);

// The text of the document a bare web view makes of the bytes served as the type, scripts off.
QString viewedText(const QByteArray& bytes, const QString& type)
{
    QWebPage page;
    page.settings()->setAttribute(QWebSettings::JavascriptEnabled, false);
    QSignalSpy loaded(&page, &QWebPage::loadFinished);
    page.mainFrame()->setContent(bytes, type);
    if (loaded.isEmpty() && !loaded.wait(30000))
        return QString();
    // The host's own script, once the document is made.
    page.settings()->setAttribute(QWebSettings::JavascriptEnabled, true);
    return page.mainFrame()->evaluateJavaScript(QStringLiteral("document.documentElement.textContent")).toString();
}

using BookSetup = void (*)(EpubBuilder&);

EpubBuilder twoPartBook()
{
    EpubBuilder builder;
    builder.addChapter("c1", "chapter 1.xhtml", "One", "<p id=\"p3\">x</p>");
    builder.addChapter("c2", "c2.xhtml", "Two", "<p/>");
    builder.setNavPoints({ { QStringLiteral("  Part I "), QStringLiteral("chapter%201.xhtml"),
                               { { QStringLiteral("A"), QStringLiteral("chapter%201.xhtml#p3"), {} },
                                   { QString(), QStringLiteral("c2.xhtml#b"), {} } } },
        { QStringLiteral("Part II"), QStringLiteral("c2.xhtml"), {} } });
    return builder;
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

QByteArray tail() { return "</body></html>"; }

// The text in the codec, without a byte-order mark.
QByteArray unmarked(const char* codec, const QString& text)
{
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    return QTextCodec::codecForName(codec)->fromUnicode(text.constData(), text.size(), &state);
}

QByteArray utf32(const QString& text) { return unmarked("UTF-32LE", text); }

// A chapter's text in UTF-8, as the parser reads it from the book: UTF-32 and UTF-16 by their
// mark, UTF-16 without one where its first four characters are ASCII.
QByteArray bookText(const QByteArray& data)
{
    const bool utf32 = data.startsWith(QByteArray("\xFF\xFE\0\0", 4));
    bool wide = data.size() >= 8;
    for (int i = 0; i < 8 && wide; i += 2)
        wide = data.at(i) > 0 && data.at(i + 1) == 0;
    if (!utf32 && !data.startsWith("\xFF\xFE") && !wide)
        return data;
    const int mark = utf32 ? 4 : data.startsWith("\xFF") ? 2 : 0;
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    return QTextCodec::codecForName(utf32 ? "UTF-32LE" : "UTF-16LE")
        ->toUnicode(data.constData() + mark, data.size() - mark, &state)
        .toUtf8();
}

} // namespace
Q_DECLARE_METATYPE(BookSetup)

class TestEpub : public QObject {
    Q_OBJECT

private slots:
    void metadataLists()
    {
        OpfFixture fixture(
            "<dc:title>A</dc:title><dc:title>B</dc:title><dc:creator>Ann <i>Lee</i></dc:creator>"
            "<dc:date>2020</dc:date><dc:coverage>World</dc:coverage><meta name=\"cover\" content=\"img1\"/>"
            "<dc:subject>S1</dc:subject><dc:subject>S2</dc:subject><dc:rights>R</dc:rights>"
            "<dc:language>de</dc:language><dc:publisher>P</dc:publisher><dc:description>D</dc:description>"
            "<dc:contributor>C</dc:contributor><dc:type>T</dc:type><dc:format>F</dc:format>"
            "<dc:source>So</dc:source><dc:identifier>urn:x</dc:identifier>"
            "<title>unprefixed</title><opf:meta name=\"x\">prefixed meta</opf:meta>"
            "<x><dc:title>nested</dc:title></x><meta name=\"generator\" content=\"Tool 1.0\"/>"
            "<meta name=\"series:index\" content=\"X\"/><meta name=\"empty\" content=\"\"/><meta content=\"no name\"/>"
            "<meta property=\"dcterms:modified\">2024-01-01</meta><META name=\"dc:title\" content=\"M\"/>");
        const EpubPackage& package = fixture.package();
        QCOMPARE(package.title(), QStringLiteral("A"));
        QCOMPARE(package.author(), QStringLiteral("Ann Lee"));
        // Coverage values and cover metas share one list, in document order. Names are compared
        // with their prefix: unknown ones are identifiers; children of an unknown element are only
        // its text. A meta with a name and content is that element.
        const QList<QStringList> lists { package.titles, package.creators, package.coverages, package.subjects,
            package.rights, package.languages, package.publishers, package.descriptions, package.contributors,
            package.types, package.formats, package.sources, package.identifiers };
        QCOMPARE(lists,
            QList<QStringList>({ { "A", "B", "M" }, { "Ann Lee" }, { "World", "img1" }, { "S1", "S2" }, { "R" },
                { "de" }, { "P" }, { "D" }, { "C" }, { "T" }, { "F" }, { "So" },
                { "urn:x", "unprefixed", "prefixed meta", "nested", "X" } }));
    }

    void ncxChoice_data()
    {
        QTest::addColumn<QByteArray>("manifest");
        QTest::addColumn<QByteArray>("spine");
        QTest::addColumn<QString>("expected");

        const QByteArray both = "<item id=\"ncx\" href=\"a.ncx\" media-type=\"application/x-dtbncx+xml\"/>"
                                "<item id=\"toc1\" href=\"b.ncx\" media-type=\"application/x-dtbncx+xml\"/>";
        QTest::newRow("spine toc wins") << both << QByteArray("<spine toc=\"toc1\"/>") << QStringLiteral("b.ncx");
        QTest::newRow("unknown toc id falls back to ncx")
            << both << QByteArray("<spine toc=\"zzz\"/>") << QStringLiteral("a.ncx");
        QTest::newRow("by media type") << QByteArray("<item id=\"x\" href=\"nav/Contents.NCX\" "
                                                     "media-type=\"Application/X-DTBNCX+XML\"/>")
                                       << QByteArray("<spine/>") << QStringLiteral("nav/Contents.NCX");
        QTest::newRow("media type needs the suffix")
            << QByteArray("<item id=\"x\" href=\"contents.xml\" media-type=\"application/x-dtbncx+xml\"/>")
            << QByteArray("<spine/>") << QStringLiteral("toc.ncx");
    }

    void ncxChoice()
    {
        QFETCH(QByteArray, manifest);
        QFETCH(QByteArray, spine);
        QFETCH(QString, expected);
        OpfFixture fixture("", manifest, spine);
        QCOMPARE(fixture.parser().ncxFilePath(), expected);
    }

    void unreadablePackage()
    {
        epub::EpubParser parser(nullptr);
        parser.loadMetaData(QStringLiteral("/nonexistent/content.opf"));
        QVERIFY(parser.package().manifest.isEmpty());

        QTemporaryDir dir;
        QVERIFY(testfiles::write(dir.filePath(QStringLiteral("bad.opf")), "<package><metadata><dc:title>T</metadata>"));
        parser.loadMetaData(dir.filePath(QStringLiteral("bad.opf")));
        QVERIFY(parser.package().titles.isEmpty());
    }

    void spineAndContents_data()
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
            b.addArchiveFile("OEBPS/Text/chapter 1.xhtml", page("<p>one</p>"));
            b.addMissingItem("c2", "Text/ch2.xhtml#part2");
            b.addArchiveFile("OEBPS/Text/ch2.xhtml", page("<p>two</p>"));
            b.setNavPoints({ { "One", "Text/chapter%201.xhtml#p3", {} }, { "Two", "Text/ch2.xhtml#part2", {} } });
        }) << "OEBPS" << QStringList { "Text/chapter 1.xhtml", "Text/ch2.xhtml" }
                                                             << "=(One=Text/chapter 1.xhtml#p3 "
                                                                "Two=Text/ch2.xhtml#part2)";
        // An address is decoded once, as the address it is: "%23", "%25", "%3F" and "%20" are part
        // of the file's name; the manifest names files beside the package's folder too.
        QTest::newRow("addresses decoded once") << BookSetup([](EpubBuilder& b) {
            b.addChapter("c1", "c%231.xhtml", "One", "<p>one</p>");
            b.addChapter("c2", "c%2541.xhtml", "Two", "<p>two</p>");
            b.addChapter("c3", "c%3F1.xhtml", "Three", "<p>three</p>");
            b.addChapter("c4", "c%201.xhtml", "Four", "<p>four</p>");
            b.addChapter("c5", "../Text/c5.xhtml", "Five", "<p>five</p>");
            b.setNavPoints({ { "One", "c%231.xhtml#p%231", {} }, { "Two", "c%2541.xhtml", {} },
                { "Five", "../Text/c5.xhtml#f", {} } });
        }) << "OEBPS" << QStringList { "c#1.xhtml", "c%41.xhtml", "c?1.xhtml", "c 1.xhtml", "../Text/c5.xhtml" }
                                                << "=(One=c#1.xhtml#p#1 Two=c%41.xhtml Five=../Text/c5.xhtml#f)";
        // Missing files and plain HTML items are no chapters, a document too deep for the DOM is
        // a page that says so; a second spine entry for the first chapter's file lists it no
        // second time.
        QTest::newRow("missing and broken chapters") << BookSetup([](EpubBuilder& b) {
            QByteArray deep = "<html><body>" + QByteArray("<div>").repeated(40000)
                + QByteArray("</div>").repeated(40000) + "</body></html>";
            b.addChapter("c1", "c1.xhtml", "One", "<p/>");
            b.addMissingItem("gone", "gone.xhtml");
            b.addItem("deep", "deep.xhtml", deep);
            b.addItem("html", "plain.html", "<p>x</p>", "text/html");
            b.addChapter("c2", "c2.xhtml", "Two", "<p/>");
            b.addMissingItem("again", "c1.xhtml#again");
        }) << "OEBPS" << QStringList { "c1.xhtml", "deep.xhtml", "c2.xhtml" }
                                                     << "=(One=c1.xhtml Two=c2.xhtml)";
        // A generated manual whose manifest names one file by many items with fragments, each in
        // the spine: one chapter where the file first comes, however it is spelt; the contents
        // keep their fragments.
        QTest::newRow("one file named again and again") << BookSetup([](EpubBuilder& b) {
            b.addChapter("intro", "intro.xhtml", "Intro", "<p>intro</p>");
            QByteArray about = "<p>about</p>";
            for (int i = 1; i <= 50; ++i)
                about += "<h2 id=\"o" + QByteArray::number(i) + "\">Part</h2><p>text</p>";
            b.addArchiveFile("OEBPS/about.xhtml", page(about));
            b.addArchiveFile("OEBPS/ABOUT.xhtml", page("<p>shouting</p>"));
            for (int i = 1; i <= 50; ++i) {
                b.addMissingItem(QStringLiteral("a%1").arg(i), QStringLiteral("about.xhtml#o%1").arg(i));
                if (i == 20)
                    b.addChapter("c2", "c2.xhtml", "Two", "<p>two</p>");
                if (i == 30)
                    b.addMissingItem("upper", "ABOUT.xhtml");
                if (i == 40)
                    b.addMissingItem("roundabout", "sub/../about.xhtml#o40");
            }
            b.addChapter("c3", "c3.xhtml", "Three", "<p>three</p>");
            b.setNavPoints({ { "Intro", "intro.xhtml", {} }, { "About", "about.xhtml#o1", {} },
                { "Eight", "about.xhtml#o8", {} }, { "Two", "c2.xhtml", {} }, { "Three", "c3.xhtml", {} } });
        }) << "OEBPS" << QStringList { "intro.xhtml", "about.xhtml", "c2.xhtml", "c3.xhtml" }
                                                        << "=(Intro=intro.xhtml About=about.xhtml#o1 "
                                                           "Eight=about.xhtml#o8 Two=c2.xhtml Three=c3.xhtml)";
        // Chapters are prepared several at a time: the list keeps the spine's order, with the
        // missing and unsafe ones where they belong and a repeated file not listed again.
        QStringList many;
        QStringList manyContents;
        for (int i = 0; i < 60; ++i) {
            if (i % 5 != 2) {
                many << QStringLiteral("c%1.xhtml").arg(i);
                manyContents << QStringLiteral("c%1=c%1.xhtml").arg(i);
            }
        }
        QTest::newRow("many chapters") << BookSetup([](EpubBuilder& b) {
            for (int i = 0; i < 60; ++i) {
                const QString id = QStringLiteral("c%1").arg(i);
                const QString file = id + QStringLiteral(".xhtml");
                if (i % 5 == 2)
                    b.addMissingItem(id, file);
                else
                    b.addChapter(id, file, id, i % 7 == 3 ? "<p>x</p><script>go()</script>" : "<p>x</p>");
            }
            b.addMissingItem("again", "c0.xhtml");
        }) << "OEBPS" << many << "=(" + manyContents.join(' ') + ")";
        // Without an NCX, or with one that is not XML, the book has no contents.
        QTest::newRow("no NCX") << BookSetup([](EpubBuilder& b) {
            b = twoPartBook();
            b.setWriteNcx(false);
        }) << "OEBPS" << QStringList { "chapter 1.xhtml", "c2.xhtml" }
                                << QString();
        QTest::newRow("NCX not XML") << BookSetup([](EpubBuilder& b) {
            b = twoPartBook();
            b.setWriteNcx(false);
            b.addResource("ncx", "toc.ncx", "<ncx><navMap>", "application/x-dtbncx+xml");
        }) << "OEBPS" << QStringList { "chapter 1.xhtml", "c2.xhtml" }
                                     << QString();
        // An EPUB 3 book without an NCX has the contents of its navigation document, whose links
        // are relative to its own folder; a link out of the package leads nowhere.
        QTest::newRow("navigation document in its own folder") << BookSetup([](EpubBuilder& b) {
            b = twoPartBook();
            b.setVersion(3);
            b.setWriteNcx(false);
            b.setNavHref("nav/toc.xhtml");
            b.setNavPoints({ { "Part I", "../chapter%201.xhtml",
                                 { { "A", "../chapter%201.xhtml#p3", {} }, { " B ", "../c2.xhtml#b", {} } } },
                { "Part II", "../c2.xhtml", {} } });
        }) << "OEBPS" << QStringList { "chapter 1.xhtml", "c2.xhtml" }
                                                               << "=(Part I=chapter 1.xhtml(A=chapter 1.xhtml#p3 "
                                                                  "B=c2.xhtml#b) Part II=c2.xhtml)";
        QTest::newRow("navigation link outside the package") << BookSetup([](EpubBuilder& b) {
            b = twoPartBook();
            b.setVersion(3);
            b.setWriteNcx(false);
            b.setNavPoints({ { "Part II", "c2.xhtml", {} }, { "Escape", "../META-INF/container.xml", {} } });
        }) << "OEBPS" << QStringList { "chapter 1.xhtml", "c2.xhtml" }
                                                             << "=(Part II=c2.xhtml Escape=)";
    }

    void spineAndContents()
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
        for (const QString& chapter : chapters) {
            QFile file(fixture.document().chapterFilePath(chapter));
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(chapter));
            QVERIFY2(!file.readAll().contains("<script"), qPrintable(chapter));
        }
        QCOMPARE(tocText(fixture.parser().toc()), contents);
    }

    // The contents come from one source: the NCX when the book has one, its EPUB 3 navigation
    // document otherwise; an entry's title is its own label, never the text of its sub-list.
    void contentsOfOneSourceWithOwnTitles_data()
    {
        QTest::addColumn<bool>("withNcx");
        QTest::addColumn<QString>("contents");
        QTest::newRow("NCX and navigation document") << true << "=(Ch 1=c1.xhtml Ch 2=c2.xhtml(Ch 2.1=c2.xhtml#s1))";
        QTest::newRow("navigation document only")
            << false
            << "=(Chapter 1. Start=c1.xhtml Chapter 2. Presenting the Case=c2.xhtml(2.1. Fast Growing=c2.xhtml#s1 "
               "2.2. Other=c2.xhtml#s2) Part III=(3.1. Inside a label=c2.xhtml#s3))";
    }
    void contentsOfOneSourceWithOwnTitles()
    {
        QFETCH(bool, withNcx);
        QFETCH(QString, contents);
        EpubBuilder builder;
        builder.setVersion(3);
        builder.setWriteNcx(withNcx);
        builder.addChapter("c1", "c1.xhtml", "One", "<p/>");
        builder.addChapter("c2", "c2.xhtml", "Two", "<p id=\"s1\"/><p id=\"s2\"/><p id=\"s3\"/>");
        builder.setNavPoints(
            { { "Ch 1", "c1.xhtml", {} }, { "Ch 2", "c2.xhtml", { { "Ch 2.1", "c2.xhtml#s1", {} } } } });
        // Nested lists, with the label's text split over elements, and a sub-list written inside
        // a label.
        builder.setNavBody(QStringLiteral(
            "<nav xmlns:epub=\"http://www.idpf.org/2007/ops\" epub:type=\"toc\"><h1>Contents</h1><ol>"
            "<li><a href=\"c1.xhtml\">Chapter 1. <em>Start</em></a></li>"
            "<li><a href=\"c2.xhtml\">Chapter 2. Presenting the Case</a>\n<ol>"
            "<li><a href=\"c2.xhtml#s1\">2.1. Fast Growing</a></li><li><a href=\"c2.xhtml#s2\">2.2. Other</a></li>"
            "</ol></li>"
            "<li><span>Part III<ol><li><a href=\"c2.xhtml#s3\">3.1. Inside a label</a></li></ol></span></li>"
            "</ol></nav>"));
        EpubFixture fixture;
        QVERIFY(fixture.write(builder));
        QCOMPARE(fixture.convert(), epub::NoError);
        QCOMPARE(tocText(fixture.parser().toc()), contents);
    }

    // Contents links that leave out the chapters' folder lead to the chapter of that name, the
    // first in reading order when several folders have one; one that still names no chapter
    // leads nowhere (an empty link) instead of a dead one.
    void contentsLinksWithoutTheirFolder()
    {
        EpubBuilder builder;
        builder.addChapter("c1", "guide/getting-set-up.xhtml", "Set up", "<p id=\"a\"/>");
        builder.addChapter("c2", "guide/Using-It.xhtml", "Use", "<p/>");
        builder.addChapter("c3", "ref/index.xhtml", "Index", "<p/>");
        builder.addChapter("c4", "guide/index.xhtml", "Guide index", "<p/>");
        builder.setNavPoints({ { "Set up", "getting-set-up.xhtml#a", { { "Use", "using-it.xhtml", {} } } },
            { "Index", "index.xhtml", {} }, { "Full", "ref/index.xhtml", {} }, { "Gone", "gone.xhtml", {} } });
        EpubFixture fixture;
        QVERIFY(fixture.write(builder));
        epub::EpubDocument document(fixture.bookPath());
        QVERIFY(document.load(fixture.outputDir()));
        QStringList sources;
        std::function<void(const QList<TocPoint>&)> collect = [&](const QList<TocPoint>& points) {
            for (const TocPoint& point : points) {
                sources.append(point.title + '=' + point.link->source);
                collect(point.children);
            }
        };
        collect(document.toc());
        QCOMPARE(sources,
            QStringList({ "Set up=guide/getting-set-up.xhtml#a", "Use=guide/Using-It.xhtml", "Index=ref/index.xhtml",
                "Full=ref/index.xhtml", "Gone=" }));
    }

    void chaptersAreCleaned()
    {
        const QByteArray clean = page("<p><b>one</b> <i>two</i></p><pre>  a\n   b</pre>");
        const QByteArray scripted
            = page("<p onclick=\"steal()\"><b>one</b> <i>two</i></p><script>steal()</script>"
                   "<a href=\" javascript:steal()\">link</a><pre>  a\n   b</pre><iframe src=\"x.html\"/>");
        const QByteArray xslt = "<?xml version=\"1.0\"?>\n<?xml-stylesheet type=\"text/xsl\" href=\"t.xsl\"?>\n"
                                "<?xml-stylesheet \xC3\xBC=\" type='text/css'\" type=\"text/xsl\" href=\"s.xsl\"?>\n"
                                "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>x</p></body></html>\n";
        const QByteArray broken = "<html><body><p>a&nbsp;b<br><script>steal()</script></body></html>";
        const QByteArray notInSpine = page("<p onmouseover=\"steal()\">note</p>");

        EpubBuilder builder;
        builder.addItem("c1", "clean.xhtml", clean);
        builder.addItem("c2", "scripted.xhtml", scripted);
        builder.addItem("c3", "xslt.xhtml", xslt);
        builder.addItem("c4", "broken.html", broken);
        builder.addItem("n1", "notes.xhtml", notInSpine, "application/xhtml+xml", false);
        EpubFixture fixture;
        QVERIFY(fixture.write(builder));
        QCOMPARE(fixture.convert(), epub::NoError);

        const QStringList chapters = fixture.document().chapters();
        QCOMPARE(chapters, (QStringList { "clean.xhtml", "scripted.xhtml", "xslt.xhtml", "broken.html" }));
        // Untouched chapters keep their bytes.
        QCOMPARE(fixture.readOutput("OEBPS/clean.xhtml"), clean);
        const QByteArray cleaned = fixture.readOutput("OEBPS/scripted.xhtml");
        QVERIFY(!cleaned.contains("steal"));
        QVERIFY(cleaned.contains("<pre>  a\n   b</pre>"));
        QVERIFY(!fixture.readOutput("OEBPS/xslt.xhtml").contains("t.xsl"));
        QVERIFY(!fixture.readOutput("OEBPS/xslt.xhtml").contains("s.xsl"));
        QCOMPARE(fixture.readOutput("OEBPS/broken.html"), QByteArray("<html><body><p>a&nbsp;b<br></body></html>"));
        QCOMPARE(fixture.document().chapterKind("broken.html"), int(TextDocument::KindHtml));
        // A document outside the spine is cleaned too: a link may lead there.
        QVERIFY(!fixture.readOutput("OEBPS/notes.xhtml").contains("steal"));
        // Rewrites leave no temporary files behind.
        QCOMPARE(QDir(fixture.outputFile("OEBPS")).entryList(QDir::Files | QDir::Hidden).size(), 7);
    }

    void pathsOutsideTheBookAreRefused()
    {
        EpubFixture fixture;
        // A file beside the output folder that a hostile manifest points at.
        const QString victim = fixture.tempPath("victim.html");
        const QByteArray victimBytes = "<html><body><script>mine()</script></body></html>";
        QVERIFY(testfiles::write(victim, victimBytes));
        EpubBuilder builder;
        builder.addChapter("c1", "c1.xhtml", "One", "<p/>");
        builder.addMissingItem("up", "../../victim.html");
        builder.addMissingItem("encoded", "%2e%2e/%2E%2E/victim.html");
        builder.addMissingItem("absolute", victim);
        builder.addMissingItem("backslash", "..\\..\\victim.html");
        // Inside after cleaning: the OPF folder and back.
        builder.addItem("c2", "c2.xhtml", page("<p>2</p>"), QStringLiteral("application/xhtml+xml"), false);
        builder.addMissingItem("roundabout", "../OEBPS/c2.xhtml");
        QVERIFY(fixture.write(builder));
        QCOMPARE(fixture.convert(), epub::NoError);

        QCOMPARE(fixture.document().chapters(), (QStringList { "c1.xhtml", "../OEBPS/c2.xhtml" }));
        QCOMPARE(testfiles::read(victim), victimBytes);
        QVERIFY(!QFileInfo::exists(victim + QStringLiteral(".xhtml")));
    }

    void hostileContainer()
    {
        EpubFixture notZip;
        QVERIFY(testfiles::write(notZip.bookPath(), "this is not a zip archive"));
        QCOMPARE(notZip.convert(), epub::ReadError);

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
        two.addChapter("c1", "c1.xhtml", "One", "<p/>");
        EpubFixture second;
        QVERIFY(second.write(two));
        QCOMPARE(second.convert(), epub::NoError);
        QCOMPARE(second.document().chapters(), QStringList { "c1.xhtml" });

        // A container nested too deeply for the DOM is refused, not parsed.
        EpubBuilder deepBuilder;
        deepBuilder.setContainerXml("<container>" + QByteArray("<x>").repeated(40000));
        EpubFixture third;
        QVERIFY(third.write(deepBuilder));
        QCOMPARE(third.convert(), epub::ReadError);
    }

    void protection_data()
    {
        QTest::addColumn<QByteArray>("encryption"); // empty: no encryption.xml
        QTest::addColumn<QByteArray>("firstChapter");
        QTest::addColumn<int>("result");

        const QByteArray good = page("<p>x</p>");
        QTest::newRow("obfuscated fonts and a sloppy first chapter") << ObfuscatedFonts << NotXml << int(epub::NoError);
        QTest::newRow("unreadable list and a chapter that is not XML")
            << QByteArray("<enc") << NotXml << int(epub::ProtectedError);
        QTest::newRow("unreadable list and a good chapter") << QByteArray("<enc") << good << int(epub::NoError);
        QTest::newRow("no list and a chapter that is not XML") << QByteArray() << NotXml << int(epub::NoError);
    }

    void protection()
    {
        QFETCH(QByteArray, encryption);
        QFETCH(QByteArray, firstChapter);
        QFETCH(int, result);

        EpubBuilder builder;
        // A missing first chapter is passed over by the test.
        builder.addMissingItem("m", "missing.xhtml");
        builder.addItem("c1", "c1.xhtml", firstChapter);
        builder.addChapter("c2", "c2.xhtml", "Two", "<p/>");
        if (!encryption.isEmpty())
            builder.addArchiveFile("META-INF/encryption.xml", encryption);
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

    // A second load, into the folder the first one filled, starts afresh and ends the same: no
    // doubled chapters or contents. Contents entries keep their ids until then.
    void chapterKindsAndRenaming()
    {
        EpubBuilder builder;
        builder.addItem("a", "ch1.html", page("<p>1</p>"));
        builder.addItem("b", "ch2.xhtml", page("<p>2</p>"));
        builder.addItem("c", "ch3.XHTML", page("<p>3</p>"));
        builder.addItem("d", "ch4.html", page("<p>4</p>", "<title>T</title>", ""));
        builder.setNavPoints(
            { { "Part I", "ch1.html", { { "A", "ch2.xhtml", {} } } }, { "Part II", "ch3.XHTML", {} } });
        EpubFixture fixture;
        QVERIFY(fixture.write(builder));
        epub::EpubDocument document(fixture.bookPath());
        QVERIFY(document.toc().isEmpty());
        QString earlierId;
        for (int run = 0; run < 2; ++run) {
            QVERIFY(document.load(fixture.outputDir()));
            QCOMPARE(document.chapters(), (QStringList { "ch1.html", "ch2.xhtml", "ch3.XHTML", "ch4.html" }));
            // XHTML under another suffix is renamed so that the engine reads it as XHTML.
            const QStringList files = QDir(fixture.outputFile("OEBPS")).entryList(QDir::Files);
            QCOMPARE(files.filter(QRegularExpression(QStringLiteral("^ch"))),
                QStringList({ "ch1.html.xhtml", "ch2.xhtml", "ch3.XHTML.xhtml", "ch4.html" }));
            QList<int> kinds;
            for (const QString& chapter : document.chapters()) {
                kinds.append(document.chapterKind(chapter));
                QVERIFY2(QFileInfo(document.chapterFilePath(chapter)).isFile(), qPrintable(chapter));
            }
            QCOMPARE(kinds,
                QList<int>({ TextDocument::KindXhtml, TextDocument::KindXhtml, TextDocument::KindXhtml,
                    TextDocument::KindHtml }));
            const QList<TocPoint> toc = document.toc();
            QCOMPARE(toc.size(), 2);
            QCOMPARE(document.toc().at(0).children.at(0).id, toc.at(0).children.at(0).id);
            QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(toc.at(0).id).hasMatch());
            QVERIFY(toc.at(0).id != toc.at(1).id && toc.at(0).id != toc.at(0).children.at(0).id);
            QVERIFY(toc.at(0).id != earlierId);
            earlierId = toc.at(0).id;
        }
    }

    // The structure first, with no chapter unpacked; then one chapter and one style sheet on
    // demand; the rest of the conversion passes over what was done and cleans everything else.
    void stagedConversion()
    {
        const QByteArray nested
            = "<html>" + QByteArray("<div>").repeated(40000) + QByteArray("</div>").repeated(40000) + "</html>";
        EpubBuilder builder;
        builder.addItem("a", "ch1.html", page("<p onclick=\"steal()\">1</p>"));
        builder.addItem("b", "ch2.xhtml", page("<p>2</p><script>steal()</script>"));
        builder.addItem("c", "deep.xhtml", nested);
        builder.addItem("d", "ch3.xhtml", page("<p>3</p>"));
        builder.addMissingItem("gone", "gone.xhtml");
        builder.addResource("css", "style.css", "p { color: red }", "text/css");
        builder.addItem("n", "notes.xhtml", page("<p onmouseover=\"steal()\">n</p>"), "application/xhtml+xml", false);
        builder.setNavPoints({ { "One", "ch1.html", {} }, { "Three", "ch3.xhtml", {} } });
        EpubFixture fixture;
        QVERIFY(fixture.write(builder));
        epub::EpubDocument document(fixture.bookPath());
        epub::EpubParser parser(&document);
        QCOMPARE(parser.parseStructure(fixture.bookPath(), fixture.outputDir()), epub::NoError);
        // A chapter the book lacks is left out at once; the others wait for their conversion.
        QCOMPARE(document.chapters(), (QStringList { "ch1.html", "ch2.xhtml", "deep.xhtml", "ch3.xhtml" }));
        QCOMPARE(tocText(parser.toc()), QStringLiteral("=(One=ch1.html Three=ch3.xhtml)"));
        for (const char* name : { "ch1.html", "ch2.xhtml", "ch3.xhtml", "style.css", "notes.xhtml" })
            QVERIFY2(!QFileInfo::exists(fixture.outputFile(QStringLiteral("OEBPS/") + name)), name);

        QVERIFY(parser.prepareChapter("ch2.xhtml"));
        QVERIFY(!fixture.readOutput("OEBPS/ch2.xhtml").contains("steal"));
        QVERIFY(!QFileInfo::exists(fixture.outputFile("OEBPS/ch3.xhtml")));
        parser.prepareFile(fixture.outputFile("OEBPS/sub/../style.css"));
        QCOMPARE(fixture.readOutput("OEBPS/style.css"), QByteArray("p { color: red }"));
        // Files outside the book folder are none of its business.
        parser.prepareFile(fixture.bookPath());
        // A chapter that cannot be cleaned is a page that says so when it is asked for.
        QVERIFY(parser.prepareChapter("deep.xhtml"));
        QCOMPARE(document.chapterKind("deep.xhtml"), int(TextDocument::KindLeftOut));
        QCOMPARE(document.chapters(), (QStringList { "ch1.html", "ch2.xhtml", "deep.xhtml", "ch3.xhtml" }));

        // What is done is not written again: not unpacked, not cleaned.
        const QByteArray mark = page("<p>mark</p><script>kept()</script>");
        QVERIFY(testfiles::write(fixture.outputFile("OEBPS/ch2.xhtml"), mark));
        QVERIFY(parser.convertRest());
        parser.applyChapterOutcomes();
        QCOMPARE(fixture.readOutput("OEBPS/ch2.xhtml"), mark);
        QCOMPARE(document.chapters(), (QStringList { "ch1.html", "ch2.xhtml", "deep.xhtml", "ch3.xhtml" }));
        QCOMPARE(document.chapterKind("ch1.html"), int(TextDocument::KindXhtml));
        QVERIFY(!fixture.readOutput("OEBPS/ch1.html.xhtml").contains("steal"));
        QVERIFY(!fixture.readOutput("OEBPS/notes.xhtml").contains("steal"));
        QVERIFY(QFileInfo::exists(fixture.outputFile("OEBPS/ch3.xhtml")));
    }

    // The worker and the thread that shows chapters side by side, on many chapters: each chapter
    // is converted once and whole, whoever gets there first, and the document completes.
    void chaptersAskedForWhileTheRestConverts()
    {
        EpubBuilder builder;
        QStringList names;
        for (int i = 1; i <= 60; ++i) {
            const QString name = QStringLiteral("ch%1.html").arg(i);
            names.append(name);
            builder.addItem(QStringLiteral("c%1").arg(i), name,
                page("<p onclick=\"steal()\">Chapter " + QByteArray::number(i) + "</p>"
                    + QByteArray("<p>Some prose to clean.</p>").repeated(300) + "<script>steal()</script><p>end</p>"));
        }
        EpubFixture fixture;
        QVERIFY(fixture.write(builder));
        for (int round = 0; round < 3; ++round) {
            QTemporaryDir output;
            epub::EpubDocument document(fixture.bookPath());
            QSignalSpy completed(&document, &TextDocument::completed);
            QVERIFY(document.loadStaged(output.path()));
            for (int i = names.size() - 1; i >= 0; i -= 1 + round) {
                QVERIFY(document.prepareChapter(names.at(i)));
                const QByteArray shown = testfiles::read(document.chapterFilePath(names.at(i)));
                QVERIFY2(shown.contains("Chapter " + QByteArray::number(i + 1) + "</p>") && shown.contains("end</p>")
                        && !shown.contains("steal"),
                    qPrintable(names.at(i)));
            }
            QTRY_VERIFY_WITH_TIMEOUT(document.isComplete(), 20000);
            QCOMPARE(completed.count(), 1);
            QCOMPARE(document.chapters(), names);
            for (const QString& name : names) {
                QCOMPARE(document.chapterKind(name), int(TextDocument::KindXhtml));
                QVERIFY2(!testfiles::read(document.chapterFilePath(name)).contains("steal"), qPrintable(name));
            }
            // Nothing half-made is left behind.
            const QDir folder(output.filePath(QStringLiteral("OEBPS")));
            QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden).size(), names.size() + 2);
        }
    }

    // An entry whose data are damaged: the whole conversion fails as before, while a book read
    // in stages leaves that chapter out, whether it is asked for first or the worker meets it.
    void damagedChapter_data()
    {
        QTest::addColumn<bool>("askedFirst");
        QTest::newRow("asked for") << true;
        QTest::newRow("met by the worker") << false;
    }

    void damagedChapter()
    {
        QFETCH(bool, askedFirst);
        EpubBuilder builder;
        for (int i = 1; i <= 4; ++i)
            builder.addChapter(QStringLiteral("c%1").arg(i), QStringLiteral("c%1.xhtml").arg(i),
                QStringLiteral("Part %1").arg(i),
                QStringLiteral("<p>%1</p>").arg(QStringLiteral("Words. ").repeated(2000)));
        EpubFixture fixture;
        QVERIFY(fixture.write(builder));
        QByteArray bytes = testfiles::read(fixture.bookPath());
        const int data = bytes.indexOf("OEBPS/c2.xhtml") + 14 + 100;
        QVERIFY(data > 200);
        for (int i = 0; i < 8; ++i)
            bytes[data + i] = char(bytes[data + i] ^ 0x5a);
        QVERIFY(testfiles::write(fixture.bookPath(), bytes));
        QCOMPARE(fixture.convert(), epub::ReadError);

        QTemporaryDir output;
        epub::EpubDocument document(fixture.bookPath());
        QVERIFY(document.loadStaged(output.path()));
        if (askedFirst)
            QVERIFY(!document.prepareChapter("c2.xhtml"));
        QTRY_VERIFY_WITH_TIMEOUT(document.isComplete(), 20000);
        QCOMPARE(document.chapters(), (QStringList { "c1.xhtml", "c3.xhtml", "c4.xhtml" }));
        QVERIFY(!QFileInfo::exists(output.filePath("OEBPS/c2.xhtml")));
        QVERIFY(testfiles::read(document.chapterFilePath("c4.xhtml")).contains("Words."));
    }

    // A document closed while its worker is held back ends without waiting for it; the book
    // then converts whole into the same folder. A stopped document completed after all (to be
    // printed) converts what is left, or is partial when a newer opening owns its folder.
    void closedWhileTheRestIsHeld()
    {
        EpubBuilder builder;
        builder.addChapter("c1", "c1.xhtml", "One", "<p>1</p>");
        builder.addChapter("c2", "c2.xhtml", "Two", "<p>2</p><script>x()</script>");
        EpubFixture fixture;
        QVERIFY(fixture.write(builder));
        struct Release {
            ~Release() { epub::EpubConversion::holdBackgroundWork(false); }
        } release;
        epub::EpubConversion::holdBackgroundWork(true);
        {
            epub::EpubDocument document(fixture.bookPath());
            QVERIFY(document.loadStaged(fixture.outputDir()));
            QVERIFY(document.prepareChapter("c1.xhtml"));
            QVERIFY(!document.isComplete());
            QVERIFY(!QFileInfo::exists(fixture.outputFile("OEBPS/c2.xhtml")));
        }
        const QStringList both { "c1.xhtml", "c2.xhtml" };
        QTemporaryDir output;
        epub::EpubDocument stopped(fixture.bookPath());
        QSignalSpy completed(&stopped, &TextDocument::completed);
        QVERIFY(stopped.loadStaged(output.path()));
        QVERIFY(stopped.prepareChapter("c1.xhtml"));
        stopped.stopConversion();
        stopped.completeNow();
        QVERIFY(stopped.isComplete() && !stopped.isPartial());
        QCOMPARE(completed.count(), 1);
        QCOMPARE(stopped.chapters(), both);
        QVERIFY(!testfiles::read(output.filePath("OEBPS/c2.xhtml")).contains("x()"));
        QTemporaryDir shared;
        epub::EpubDocument overtaken(fixture.bookPath());
        QVERIFY(overtaken.loadStaged(shared.path()));
        QVERIFY(overtaken.prepareChapter("c1.xhtml"));
        epub::EpubDocument newer(fixture.bookPath());
        QVERIFY(newer.loadStaged(shared.path()));
        overtaken.completeNow();
        QVERIFY(overtaken.isComplete() && overtaken.isPartial());
        QCOMPARE(overtaken.chapters(), QStringList { "c1.xhtml" });
        newer.completeNow();
        QVERIFY(newer.isComplete() && !newer.isPartial());
        QCOMPARE(newer.chapters(), both);
        epub::EpubConversion::holdBackgroundWork(false);
        epub::EpubDocument reopened(fixture.bookPath());
        QVERIFY(reopened.load(fixture.outputDir()));
        QCOMPARE(reopened.chapters(), (QStringList { "c1.xhtml", "c2.xhtml" }));
        QVERIFY(!fixture.readOutput("OEBPS/c2.xhtml").contains("x()"));
    }

    void cover_data()
    {
        QTest::addColumn<QString>("candidate"); // a dc:coverage value, or "" for none
        QTest::addColumn<bool>("manifestCover"); // meta cover naming a manifest image
        QTest::addColumn<QStringList>("entries"); // images in archive order
        QTest::addColumn<QString>("expected"); // relative to the output folder, or ""

        QTest::newRow("manifest image, exact entry")
            << QString() << true << QStringList { "OEBPS/images/cover.jpg", "OEBPS/images/back-cover.jpg" }
            << QStringLiteral("OEBPS/images/cover.jpg");
        QTest::newRow("name does not match back-cover")
            << QStringLiteral("cover.jpg") << false << QStringList { "OEBPS/cover.jpg", "OEBPS/images/back-cover.jpg" }
            << QStringLiteral("OEBPS/cover.jpg");
        QTest::newRow("id text with an image suffix")
            << QStringLiteral("frontpage") << false
            << QStringList { "OEBPS/frontpage.xhtml", "OEBPS/img/frontpage.png" }
            << QStringLiteral("OEBPS/img/frontpage.png");
        QTest::newRow("regular expression text is plain text")
            << QStringLiteral("(a+)+$") << false << QStringList { "OEBPS/Images/Cover.PNG" }
            << QStringLiteral("OEBPS/Images/Cover.PNG");
        QTest::newRow("no candidates: last cover-like name")
            << QString() << false << QStringList { "OEBPS/Images/Cover.PNG", "OEBPS/images/back-cover.jpg" }
            << QStringLiteral("OEBPS/images/back-cover.jpg");
        QTest::newRow("no image at all") << QString() << false << QStringList { "OEBPS/images/photo.jpg" } << QString();
    }

    void cover()
    {
        QFETCH(QString, candidate);
        QFETCH(bool, manifestCover);
        QFETCH(QStringList, entries);
        QFETCH(QString, expected);

        EpubBuilder builder;
        builder.addChapter("c1", "c1.xhtml", "One", "<p/>");
        if (!candidate.isEmpty())
            builder.addMetadata("dc:coverage", candidate);
        const QByteArray image = EpubBuilder::png(4, 4);
        for (const QString& entry : entries) {
            if (manifestCover && entry.endsWith(QLatin1String("/cover.jpg")))
                builder.setCover(entry.mid(6), image, "image/jpeg");
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

    void fastConversion()
    {
        EpubBuilder builder;
        builder.addChapter("c1", "c1.xhtml", "One", "<p/>");
        builder.setCover("images/cover.png", EpubBuilder::png(4, 4));
        EpubFixture fixture;
        QVERIFY(fixture.write(builder));
        QCOMPARE(fixture.convert(true), epub::NoError);
        QCOMPARE(fixture.parser().package().coverPath(), fixture.outputFile("OEBPS/images/cover.png"));
        QVERIFY(fixture.parser().package().packageDir().isEmpty());
        QVERIFY(fixture.parser().toc().isEmpty());
        QVERIFY(fixture.document().chapters().isEmpty());
        // Only what was asked for was unpacked.
        QVERIFY(!QFileInfo::exists(fixture.outputFile("OEBPS/c1.xhtml")));
        QVERIFY(QFileInfo::exists(fixture.outputFile("OEBPS/content.opf")));

        // With an unreadable encryption list the first chapter is unpacked and tested.
        EpubBuilder enciphered;
        enciphered.addItem("c1", "c1.xhtml", NotXml);
        enciphered.addArchiveFile("META-INF/encryption.xml", "not xml");
        EpubFixture second;
        QVERIFY(second.write(enciphered));
        QCOMPARE(second.convert(true), epub::ProtectedError);
        QVERIFY(second.parser().package().isProtected);
    }

    void removesUnsafeMarkup_data()
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
        QTest::newRow("javascript links")
            << QByteArray("<a href=\"javascript:a()\">1</a><a href=\" \t JavaScript:b()\">2</a>"
                          "<a href=\"java&#x9;script:c()\">3</a><svg:a xlink:href=\"javascript:d()\">4</svg:a>"
                          "<form action=\"javascript:e()\"><button formaction=\"javascript:f()\">g</button></form>"
                          "<img src=\"javascript:h()\"/><a href=\"chapter2.xhtml\">ok</a>")
            << 7 << QStringList { "a()", "b()", "c()", "d()", "e()", "f()", "h()" }
            << QStringList { "href=\"chapter2.xhtml\"", ">1</a>", "<img" };
        QTest::newRow("frames and plugins")
            << QByteArray(
                   "<iframe src=\"x.html\">f</iframe><object data=\"x.swf\" type=\"application/x-shockwave-flash\">"
                   "<p>fallback</p></object><embed src=\"x.svg\" type=\"image/svg+xml\"/>"
                   "<object data=\"d.html\"/><embed src=\"e.html\"/>")
            << 5 << QStringList { "iframe", "x.swf", "fallback", "x.svg", "d.html", "e.html" } << QStringList {};
        QTest::newRow("svg animation to a javascript url")
            << QByteArray("<svg:svg><svg:a><svg:set attributeName=\"href\" to=\"javascript:a()\"/>x</svg:a></svg:svg>")
            << 1 << QStringList { "a()" } << QStringList { "svg:set" };
    }

    void removesUnsafeMarkup()
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
            QVERIFY2(
                out.contains(text.toUtf8()), qPrintable(text + QStringLiteral(" not in ") + QString::fromUtf8(out)));
        // The rewritten chapter is still well-formed XML with its namespace.
        QVERIFY(!bodyText(out).startsWith(QLatin1String("<error")));
        QVERIFY(out.contains("xmlns=\"http://www.w3.org/1999/xhtml\""));

        // Another way in: a refresh in the head.
        const QByteArray refresh = page("<p>x</p>", "<meta http-equiv=\"Refresh\" content=\"0; url=javascript:a()\"/>");
        QCOMPARE(clean(refresh, &out).removed, 1);
        QVERIFY(!out.contains("a()"));
    }

    void keepsSafeMarkup_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("images in object and embed") << page(
            "<object data=\"i.png\" type=\"image/png\">alt</object><embed src=\"pic.JPG\"/><object data=\"p.gif\"/>");
        QTest::newRow("words starting with on") << page("<p class=\"onward\" title=\"online\">one</p>");
        QTest::newRow("self-closing title and css instruction") << QByteArray(
            "<?xml-stylesheet href=\"a.css\" type=\"text/css\"?>\n<html><head><title/></head><body/></html>");
        QTest::newRow("namespace declaration named on")
            << QByteArray("<html xmlns:onx=\"urn:x\"><onx:p>a</onx:p></html>");
        // No address to the cleaning, which looks at the attributes that lead somewhere; the web
        // view takes out a javascript: value from any.
        QTest::newRow("javascript: in an attribute of the book's own namespace")
            << page("<p xmlns:e=\"urn:e\" e:title=\"javascript:a()\">x</p>");
        // A broken chapter without anything unsafe stays exactly as it was.
        QTest::newRow("broken, nothing unsafe")
            << QByteArray("<html><body><p>caf\xc3\xa9 &nbsp; <b>bold</i><br><!-- c --></body></html>\r\n");
    }

    void keepsSafeMarkup()
    {
        QFETCH(QByteArray, data);
        QByteArray out;
        const ChapterCleaner::Result result = clean(data, &out);
        QCOMPARE(result.outcome, ChapterCleaner::Unchanged);
        QCOMPARE(result.removed, 0);
        QCOMPARE(out, data);
        // What the reader's web view holds of it runs nothing.
        const QString name
            = result.kind == TextDocument::KindXhtml ? QStringLiteral("c.xhtml") : QStringLiteral("c.html");
        QCOMPARE(viewedmarkup::runnable(out, name), QStringList());
    }

    // Chapters with one thing to remove: everything else is written back as it was.
    void rewritesOnlyWhatIsUnsafe_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArrayList>("kept");
        QTest::addColumn<QByteArrayList>("gone");
        QTest::addColumn<bool>("sameText");

        QTest::newRow("text byte for byte")
            << page("<p><b>one</b> <i>two</i> &amp; <span>thr</span><span>ee</span></p>\n"
                    "<pre>  line one\n    line   two\n\tend  </pre>\n<p>a\xc2\xa0"
                    "b &#8212; \xe2\x80\x94 &nbsp;</p>",
                   "<title>T</title><script>x()</script>")
            << QByteArrayList { "<b>one</b> <i>two</i>", "<span>thr</span><span>ee</span>",
                   "<pre>  line one\n    line   two\n\tend  </pre>", "&nbsp;" }
            << QByteArrayList { "\n <", "x()" } << true;
        QTest::newRow("empty elements with end tags")
            << page("<p/><div></div><br/><img src=\"a.png\"/><hr/><a id=\"x\"/><script/>",
                   "<title/><link href=\"s.css\"/><style/>")
            << QByteArrayList { "<title></title>", "<p></p>", "<div></div>", "<a id=\"x\"></a>", "<style></style>",
                   "<br/>", "<img src=\"a.png\"/>", "<hr/>", "<link href=\"s.css\"/>" }
            << QByteArrayList { "script" } << true;
        // A generated title page: an author with angle brackets stays escaped once.
        QTest::newRow("title page") << page(
            "<h1 title=\"Project &lt;list@example.org&gt;\">Project &lt;list@example.org&gt;</h1>"
            "<p><![CDATA[x <y> & z]]></p>",
            "<title>Project &lt;list@example.org&gt;</title><script>x()</script>")
                                    << QByteArrayList { "<title>Project &lt;list@example.org>",
                                           ">Project &lt;list@example.org>" }
                                    << QByteArrayList { "&amp;lt;", "x()" } << true;
        QTest::newRow("declared encoding")
            << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                          "<html><body><p>caf\xe9</p><script>x()</script></body></html>")
            << QByteArrayList { "caf\xe9", "ISO-8859-1" } << QByteArrayList { "x()" } << false;
        // Entities and attribute defaults of an internal subset add markup in an XML parser.
        QTest::newRow("entity of the internal subset")
            << QByteArray("<!DOCTYPE html [<!ENTITY x \"<script>alert(1)</script>\">]>\n"
                          "<html><body><p>&x;</p></body></html>")
            << QByteArrayList() << QByteArrayList { "alert", "ENTITY" } << false;
        QTest::newRow("attribute default of the internal subset")
            << QByteArray("<!DOCTYPE html [<!ATTLIST body onload CDATA \"alert(1)\">]>\n"
                          "<html><body><p>x</p></body></html>")
            << QByteArrayList { "<p>x</p>" } << QByteArrayList { "alert" } << true;
    }

    void rewritesOnlyWhatIsUnsafe()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArrayList, kept);
        QFETCH(QByteArrayList, gone);
        QFETCH(bool, sameText);
        QByteArray out;
        QCOMPARE(clean(data, &out).outcome, ChapterCleaner::Cleaned);
        if (sameText)
            QCOMPARE(bodyText(out), bodyText(data));
        for (const QByteArray& text : kept)
            QVERIFY2(out.contains(text), text.constData());
        for (const QByteArray& text : gone)
            QVERIFY2(!out.contains(text), text.constData());
    }

    // Chapters the web view's XML parser would stop in, showing the text up to there under an
    // error box: characters XML forbids are dropped, attributes beyond the bound too, and an
    // XHTML chapter still not read whole is stored to be shown as HTML, closed and with its
    // encoding. Well-formed chapters keep their name, kind and bytes.
    void chaptersTheXmlParserWouldStopIn_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("chapter");
        QTest::addColumn<QString>("shownName");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("stored");
        const int xhtml = TextDocument::KindXhtml;
        const int html = TextDocument::KindHtml;

        ChapterBuilder prose(41);
        prose.addRealisticContent(2 << 20);
        const QByteArray clean = prose.xhtml();
        QByteArray controls = clean;
        controls.replace("</p>", "\x12</p>")
            .replace("</h2>", "\x01\x1f</h2>")
            .replace("</li>", QByteArray("\0</li>", 6));
        // Spaces in their place: offsets into the text count the same characters.
        QByteArray spaced = clean;
        spaced.replace("</p>", " </p>").replace("</h2>", "  </h2>").replace("</li>", " </li>");
        QTest::newRow("control characters in a 2 MB chapter")
            << "big.xhtml" << controls << "big.xhtml" << xhtml << spaced;
        // The HTML parser shows them, and stored positions count them.
        const QByteArray htmlControls = "<html><body><p>Form\x0c feed\x01 and" + QByteArray("\0", 1)
            + " null</p><p>noted words</p></body></html>";
        QTest::newRow("control characters, HTML name")
            << "controls.html" << htmlControls << "controls.html" << html << htmlControls;
        const auto inUtf16
            = [](const QString& text, const char* codec) { return QTextCodec::codecForName(codec)->fromUnicode(text); };
        const QByteArray utf8Mark = "\xEF\xBB\xBF";
        const QString wide
            = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
                             "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>\u0416%1</p></body></html>");
        QTest::newRow("control character in UTF-16")
            << "wide.xhtml" << inUtf16(wide.arg(QChar(0x12)), "UTF-16LE") << "wide.xhtml" << xhtml
            << utf8Mark + wide.arg(QLatin1Char(' ')).replace("UTF-16", "UTF-8").toUtf8();
        // Longer than the run cutter's bound, read by every pass as text: kept as they are when
        // nothing is to change, else stored in UTF-8 saying so.
        ChapterBuilder wideProse(43);
        while (wideProse.bodyHtml().size() < 410 << 10)
            wideProse.addProse(50);
        wideProse.addParagraph(QStringLiteral("\u0416\u0438\u0437\u043d\u044c, the last paragraph."));
        const QString wideHtml = "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-16\"/>"
                                 "<title>Wide</title></head><body>\n"
            + wideProse.bodyHtml() + "</body></html>\n";
        QTest::newRow("UTF-16 chapter of 800 KB, HTML name")
            << "wide.html" << inUtf16(wideHtml, "UTF-16") << "wide.html" << html << inUtf16(wideHtml, "UTF-16");
        const QString brokenWide
            = QStringLiteral("<?xml version='1.0' encoding='utf-16'?>\n"
                             "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head>"
                             "<meta charset=\"utf-16\"/></head><body>\n<p><a id=\"n1\"/>Open<br>\n")
            + wideProse.bodyHtml() + "</body></html>\n";
        QString brokenStored = brokenWide;
        brokenStored.replace(QLatin1String("utf-16"), QLatin1String("UTF-8"))
            .replace("<a id=\"n1\"/>", "<a id=\"n1\"></a>");
        QTest::newRow("UTF-16 chapter of 800 KB, XHTML name, not well-formed")
            << "broken-wide.xhtml" << inUtf16(brokenWide, "UTF-16BE").prepend("\xFE\xFF") << "broken-wide.xhtml.html"
            << html << utf8Mark + brokenStored.toUtf8();
        // The two bytes of a letter of ISO-2022-JP may read as "<B".
        const QString shifted = QStringLiteral("<html><head><meta charset=\"%1\"></head><body><p>\u5b9f\u3068\u6f06"
                                               "%2</p></body></html>");
        QTest::newRow("ISO-2022-JP, cleaned")
            << "shifted.html"
            << QTextCodec::codecForName("ISO-2022-JP")->fromUnicode(shifted.arg("ISO-2022-JP", "<script>x()</script>"))
            << "shifted.html" << html << utf8Mark + shifted.arg("UTF-8", QString()).toUtf8();
        const QString scripted = "<html><body><script>go()</script><br>\n" + wideProse.bodyHtml() + "</body></html>";
        QTest::newRow("UTF-16 chapter of 800 KB without a mark, HTML name, cleaned")
            << "scripted.html" << inUtf16(scripted, "UTF-16LE") << "scripted.html" << html
            << utf8Mark + QString(scripted).remove(QStringLiteral("<script>go()</script>")).toUtf8();

        // A UTF-8 chapter with a NUL after its first "<" is no UTF-16.
        const QByteArray nulAfterLessThan("<\0html><body><p>a</p></body></html>", 35);
        QTest::newRow("NUL after the first <")
            << "nul.html" << nulAfterLessThan << "nul.html" << html << nulAfterLessThan;
        const QByteArray nulBeforeLessThan("\0<html><body><p>a</p></body></html>", 35);
        QTest::newRow("NUL before the first <")
            << "nul.html" << nulBeforeLessThan << "nul.html" << html << nulBeforeLessThan;
        // Shown as HTML all the same, the chapter keeps them: a blank would make "<title\0>" a title.
        const QByteArray brokenControls = "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><title"
            + QByteArray("\0", 1) + ">T</title><p>a\x01<br>b</p></body></html>";
        QTest::newRow("control characters, XHTML name, shown as HTML")
            << "controls.xhtml" << brokenControls << "controls.xhtml.html" << html << utf8Mark + brokenControls;

        const QByteArray prefixed = page("<p epub:type=\"note\">one</p>");
        QTest::newRow("attribute of an undeclared prefix")
            << "prefixed.xhtml" << prefixed << "prefixed.xhtml.html" << html << prefixed;
        QTest::newRow("attribute without a value")
            << "bare.xhtml"
            << QByteArray("<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title/></head><body><p hidden>"
                          "caf\xc3\xa9<a id=\"n1\"/> one<br/></p><svg:svg><svg:rect width=\"1\"/></svg:svg>"
                          "<!-- <b/> --><style>p/>x{}</style></body></html>")
            << "bare.xhtml.html" << html
            << QByteArray(
                   "\xEF\xBB\xBF<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title></title></head><body>"
                   "<p hidden>caf\xc3\xa9<a id=\"n1\"></a> one<br/></p><svg:svg><svg:rect width=\"1\"></svg:rect>"
                   "</svg:svg><!-- <b/> --><style>p/>x{}</style></body></html>");
        // Bytes that are no UTF-8 are left to the HTML parser's reading of the chapter.
        const QByteArray cyrillic = "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                                    "charset=windows-1251\"/></head><body><p>\xcf\xf0\xe8</p></body></html>";
        QTest::newRow("no UTF-8, no declaration")
            << "cyrillic.xhtml" << cyrillic << "cyrillic.xhtml.html" << html << cyrillic;
        const QByteArray entity = page("<p>a&nbsp;b</p>", "<title>T</title>", "<!DOCTYPE html>\n");
        QTest::newRow("entity without a DTD") << "entity.xhtml" << entity << "entity.xhtml.html" << html << entity;
        const QByteArray basic = page("<p>a&nbsp;b</p>", "<title>T</title>",
            "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML Basic 1.1//EN\" \"xhtml-basic11.dtd\">\n");
        QTest::newRow("entity of a DTD the web view lacks")
            << "basic.xhtml" << basic << "basic.xhtml.html" << html << basic;
        const QByteArray known = page("<p>a&nbsp;b<a id=\"x\"/></p>");
        QTest::newRow("entity of the XHTML DTD") << "known.xhtml" << known << "known.xhtml" << xhtml << known;
        const QByteArray word = page("<o:p>one</o:p>");
        QTest::newRow("XHTML under an HTML name, undeclared prefix")
            << "word.html" << word << "word.html" << html << word;
        const QByteArray script = page("<p>x</p><script>if (a < b) go();</script>");
        QTest::newRow("cleaned into well-formed XML")
            << "script.xhtml" << script << "script.xhtml" << xhtml << page("<p>x</p>");

        const auto attributes = [](int count, const char* form) {
            QByteArray list;
            for (int i = 0; i < count; ++i)
                list += QByteArray(" ") + QByteArray(form).replace("%", QByteArray::number(i));
            return list;
        };
        QTest::newRow("200,000 attributes")
            << "crowded.xhtml" << page("<p" + attributes(200000, "a%=\"1\"") + ">kept text</p>") << "crowded.xhtml"
            << xhtml << page("<p" + attributes(XmlGuard::MaxAttributes, "a%=\"1\"") + ">kept text</p>");
        QTest::newRow("200,000 attributes without values, HTML")
            << "crowded.html"
            << "<html><body><p" + attributes(200000, "b%") + ">kept text<br></p></body></html>"
            << "crowded.html" << html
            << "<html><body><p" + attributes(XmlGuard::MaxAttributes, "b%") + ">kept text<br></p></body></html>";
    }

    void chaptersTheXmlParserWouldStopIn()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, chapter);
        QFETCH(QString, shownName);
        QFETCH(int, kind);
        QFETCH(QByteArray, stored);
        EpubBuilder builder;
        builder.addItem("c", fileName, chapter);
        EpubFixture fixture;
        QVERIFY(fixture.write(builder));
        QCOMPARE(fixture.convert(), epub::NoError);
        QCOMPARE(fixture.document().chapters(), QStringList { fileName });
        QCOMPARE(fixture.document().chapterKind(fileName), kind);
        const QString file = fixture.document().chapterFilePath(fileName);
        QCOMPARE(QFileInfo(file).fileName(), shownName);
        const QByteArray shown = testfiles::read(file);
        QVERIFY2(shown == stored, shown.left(400).constData());
        QCOMPARE(QFileInfo::exists(fixture.outputFile("OEBPS/" + fileName)), shownName == fileName);
    }

    // Chapters of thousands of unclosed or nested blocks, as the book gives them: the stored
    // chapter nests no deeper than the bound, as the parser that shows it reads it, and keeps
    // its text and its ids; an ordinary chapter keeps its bytes, so stored paths still hold.
    void deepChaptersNestShallow_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("chapter");
        QTest::addColumn<bool>("kept");
        // Fewer than the scan's limit: a deeper one is no chapter at all.
        QByteArray unclosed = "<html><body>";
        QByteArray selfClosed = "<html><body>";
        for (int i = 0; i < 3000; ++i) {
            if (i < 450)
                unclosed += "<div><p>The shuttle flew " + QByteArray::number(i) + ".</p><blockquote>Reed &amp; warp";
            selfClosed += "<div/><p>The warp rose " + QByteArray::number(i) + ".</p>";
        }
        QTest::newRow("unclosed blocks, HTML chapter") << "deep.html" << unclosed + "</body></html>" << false;
        // Well-formed, but the HTML parser opens "<div/>" and never closes it.
        QTest::newRow("self-closed divs read as HTML") << "deep.htm" << selfClosed + "</body></html>" << false;
        QTest::newRow("nested 600 deep, XHTML chapter")
            << "deep.xhtml"
            << page(QByteArray("<div>x").repeated(400) + "<div id=\"deep\">Deep</div>"
                   + QByteArray("<div>y").repeated(200) + QByteArray("</div>").repeated(600))
            << false;
        // XML names start with "_" and letters beyond ASCII too: such elements count, and go; a
        // comment and an instruction hold any "<" and ">" up to their own close.
        QTest::newRow("elements named beyond ASCII letters, 600 deep, XHTML chapter")
            << "names.xhtml"
            << page("<!---> <div> --><?pi <div> ?>" + QByteArray("<_x t=\"a>b\">x").repeated(300)
                   + QByteArray("<\xC3\xA9:y xmlns:\xC3\xA9=\"urn:e\">y").repeated(300) + "<div id=\"deep\">Deep</div>"
                   + QByteArray("</\xC3\xA9:y>").repeated(300) + QByteArray("</_x>").repeated(300))
            << false;
        ChapterBuilder ordinary(7);
        ordinary.addRealisticContent(40000);
        ordinary.addRaw(QByteArray("<div>").repeated(150) + "Nested" + QByteArray("</div>").repeated(150));
        // Tags dropped down there take nothing with them: the text around them stays text.
        QTest::newRow("split tags, 300 deep, HTML chapter") << "split.html"
                                                            << "<html><body>" + QByteArray("<div>").repeated(300)
                + "<p>x<<span>script>var words = 'the words'<</span>/script>y</p><p></<hh2>calibre7\">Home</p>"
                + QByteArray("</div>").repeated(300)
                // What the HTML parser reads as comments stays comments: "</<x>", "<!-->".
                + "<p>a</<svg:script>b></<svg:script>c</p><p>d<!--> <h2>e</h2> -->f</p></body></html>"
                                                            << false;
        // A quote after "=" where a name starts opens no value: the span ends at its first ">".
        QTest::newRow("a = where an attribute name starts, 300 deep")
            << "eq.html"
            << "<html><body>" + QByteArray("<div>").repeated(300)
                + "<p><span =\">words\" x>after</span></p><p><b =\">x\" y>shown</b></p>"
                + QByteArray("</div>").repeated(300) + "</body></html>"
            << false;
        // SVG and MathML as the parser reads them: CDATA is text there, a title in MathML text is
        // HTML, and an SVG script ends at an HTML tag. Read as XML (well-formed) by the cleaning
        // before, or as text (not well-formed).
        const QByteArray foreign = QByteArray("<div>").repeated(300)
            + "<p>a<svg><![CDATA[ b > <img src=x onerror=y()> ]]></svg> c</p>"
              "<p>d<math><mi><title><b><script>w()</script></b></title></mi></math> e</p>"
              "<p>f<svg><desc><![CDATA[<i>g</i>]]></desc><g><script>s()<em>h</em></script></g></svg> i</p>"
              "<p>j<svg><foreignObject><div><![CDATA[ k > <b>l</b> ]]></div></foreignObject></svg></p>"
              "<p>m<math><mi><textarea>n <b>o</b></textarea></mi></math></p>"
            + QByteArray("</div>").repeated(300);
        QTest::newRow("foreign content, 300 deep, well-formed HTML chapter")
            << "foreign.html"
            << "<html><body>" + foreign + "</body></html>" << false;
        QTest::newRow("foreign content, 300 deep, HTML chapter")
            << "foreign.html"
            << "<html><body><br>" + foreign + "</body></html>" << false;
        QTest::newRow("ordinary chapter") << "ordinary.xhtml" << ordinary.xhtml() << true;
        QTest::newRow("ordinary chapter with unclosed blocks")
            << "ordinary.html" << ordinary.html().replace("</div>", "") << true;
    }

    void deepChaptersNestShallow()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, chapter);
        QFETCH(bool, kept);
        EpubBuilder builder;
        builder.addItem("deep", fileName, chapter);
        builder.addChapter("c2", "c2.xhtml", "Two", "<p>After</p>");
        EpubFixture fixture;
        QVERIFY(fixture.write(builder));
        QCOMPARE(fixture.convert(), epub::NoError);
        QCOMPARE(fixture.document().chapters(), QStringList({ fileName, "c2.xhtml" }));
        const QByteArray stored = testfiles::read(fixture.document().chapterFilePath(fileName));
        // Nothing that could run, as the reader's web view holds the stored chapter.
        QCOMPARE(viewedmarkup::runnableInFile(fixture.document().chapterFilePath(fileName)), QStringList());
        if (kept) {
            QCOMPARE(stored, chapter);
            return;
        }
        const bool xml = fileName.endsWith(QLatin1String(".xhtml"));
        if (xml) {
            const epub::XmlGuard::Scan scan = epub::XmlGuard::scan(stored);
            QCOMPARE(scan.state, epub::XmlGuard::WellFormed);
            QVERIFY2(scan.depth <= HtmlNesting::MaxDepth, qPrintable(QString::number(scan.depth)));
            QCOMPARE(bodyText(stored), bodyText(chapter));
            QVERIFY(stored.contains("<span id=\"deep\"></span>Deep"));
        } else {
            // SVG and MathML stay whole, a few levels beyond the bound here.
            const int depth = HtmlNesting::depth(stored, HtmlNesting::Html);
            QVERIFY2(depth <= HtmlNesting::MaxDepth + (chapter.contains("<svg>") ? 3 : 0),
                qPrintable(QString::number(depth)));
            // The words the parser shows, none lost and none made markup.
            QCOMPARE(parsedmarkup::read(stored).shown, parsedmarkup::read(chapter).shown);
            // Without SVG and MathML, that is the text between the tags.
            const QRegularExpression tags(QStringLiteral("</?[A-Za-z][^>]*>"));
            if (!chapter.contains("<svg>"))
                QCOMPARE(QString::fromUtf8(stored).remove(tags).replace(QLatin1String("&lt;"), QLatin1String("<")),
                    QString::fromUtf8(chapter).remove(tags));
        }
        // Nothing the removal of unsafe parts would still find.
        QByteArray again;
        QCOMPARE(epub::HtmlTextCleaner::clean(stored, &again), 0);
    }

    // Crafted chapters: the removal of unsafe parts reads the text about once, however many
    // comments, scripts or instructions are left open or close far away.
    void cleanerReadsTheTextOnce_data()
    {
        QTest::addColumn<QByteArray>("unit");
        QTest::newRow("closed comments") << QByteArray("<!-- a -->b");
        QTest::newRow("comments never closed in a style") << QByteArray("<style><!--<p>");
        QTest::newRow("unclosed scripts") << QByteArray("<script>x<p>");
        QTest::newRow("instructions") << QByteArray("<?<h1>");
        QTest::newRow("style sheet instructions") << QByteArray("<?xml-stylesheet a>");
        QTest::newRow("unclosed objects") << QByteArray("<object data=\"javascript:a()\">x");
        QTest::newRow("document types") << QByteArray("<!doctype a>");
        QTest::newRow("unclosed values in a style") << QByteArray("<style><p a='");
        QTest::newRow("unclosed text areas") << QByteArray("<textarea>x<p>");
        QTest::newRow("letters joined by removals") << QByteArray("a<script>x</script>");
    }

    void cleanerReadsTheTextOnce()
    {
        QFETCH(QByteArray, unit);
        QByteArray text = "<html><body><p>Text</p>";
        while (text.size() < 64 * 1024)
            text += unit;
        text += "</style></object>?>";
        // Whether or not the XML parser may read the result.
        for (const bool shownAsHtml : { false, true }) {
            QByteArray out;
            qint64 scanned = 0;
            epub::HtmlTextCleaner::clean(text, &out, &scanned, shownAsHtml);
            QVERIFY2(scanned > 0 && scanned <= 4 * text.size(),
                qPrintable(QStringLiteral("%1 characters read for %2").arg(scanned).arg(text.size())));
        }
    }

    // A chapter of lines apart by line breaks only is stored with blocks to lay out one by one,
    // still well-formed where it is read as XML, with its text and ids; a chapter whose runs
    // are short keeps its bytes. So is one of a word of hundreds of kilobytes, which the web
    // view took seconds to lay out as one block.
    void bareLinesStoredInBlocks_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<int>("kilobytes");
        // The text repeated, or else lines of words.
        QTest::addColumn<QByteArray>("unit");
        QTest::newRow("XHTML chapter") << "lines.xhtml" << 600 << QByteArray();
        QTest::newRow("HTML chapter") << "lines.html" << 600 << QByteArray();
        QTest::newRow("short chapter") << "lines.xhtml" << 100 << QByteArray();
        QTest::newRow("XHTML chapter of one word") << "word.xhtml" << 600 << QByteArray("&lt;");
        // Not XML: shown as HTML.
        QTest::newRow("chapter of bare <") << "less.xhtml" << 1024 << QByteArray("<");
    }

    void bareLinesStoredInBlocks()
    {
        QFETCH(QString, fileName);
        QFETCH(int, kilobytes);
        QFETCH(QByteArray, unit);
        QByteArray body;
        for (int i = 0; body.size() < kilobytes * 1024; ++i) {
            if (i == 300)
                body += "<em><span id=\"mid\">";
            body += !unit.isEmpty() ? unit
                                    : "The weaver sat at the loom from morning to night &amp; the shuttle flew "
                    + QByteArray::number(i) + ".<br/>\n";
            if (i == 800)
                body += "</span></em>";
        }
        const QByteArray chapter = page(body);
        EpubBuilder builder;
        builder.addItem("lines", fileName, chapter);
        EpubFixture fixture;
        QVERIFY(fixture.write(builder));
        QCOMPARE(fixture.convert(), epub::NoError);
        const QByteArray stored = testfiles::read(fixture.document().chapterFilePath(fileName));
        if (kilobytes * 1024 < InlineRuns::MaxRunBytes) {
            QCOMPARE(stored, chapter);
            return;
        }
        if (epub::XmlGuard::scan(chapter).state == epub::XmlGuard::WellFormed) {
            QCOMPARE(epub::XmlGuard::scan(stored).state, epub::XmlGuard::WellFormed);
            QCOMPARE(bodyText(stored), bodyText(chapter));
        } else {
            QCOMPARE(parsedmarkup::read(stored).shown, parsedmarkup::read(chapter).shown);
        }
        QCOMPARE(stored.count("id=\"mid\""), 1);
        QVERIFY2(stored.count("<div>") > 50, qPrintable(QString::number(stored.count("<div>"))));
    }

    // A chapter left out (too large to clean, larger than the readers read, nested too deep)
    // keeps its place as a page that names it and says why; the chapters around it read on.
    void chapterLeftOutStandsAsAPage_data()
    {
        QTest::addColumn<QByteArray>("chapter");
        QTest::addColumn<QString>("reason");
        QByteArray big = "<html><body><script>x()</script>";
        const QByteArray paragraph = "<p>The loom ran on through the night.</p>\n";
        big += paragraph.repeated(ChapterCleaner::MaxDomBytes / paragraph.size() + 1) + "</body></html>";
        QTest::newRow("too large to clean") << big << "too large to show";
        QByteArray huge = "<html><body>";
        huge += paragraph.repeated(int(XmlGuard::MaxFileSize / paragraph.size()) + 1) + "</body></html>";
        QTest::newRow("larger than the readers read") << huge << QString::number(XmlGuard::MaxFileSize);
        QTest::newRow("nested too deep") << "<html>" + QByteArray("<div>").repeated(40000)
                + QByteArray("</div>").repeated(40000) + "</html>"
                                         << "1000";
    }

    void chapterLeftOutStandsAsAPage()
    {
        QFETCH(QByteArray, chapter);
        QFETCH(QString, reason);
        EpubBuilder builder;
        builder.addChapter("c1", "c1.xhtml", "One", "<p>Before the gap.</p>");
        builder.addItem("big", "R&D.xhtml", chapter);
        builder.addChapter("c3", "c3.xhtml", "Three", "<p>After the gap.</p>");
        chapter.clear();
        EpubFixture fixture;
        QVERIFY(fixture.write(builder));
        QCOMPARE(fixture.convert(), epub::NoError);
        epub::EpubDocument& document = fixture.document();
        QCOMPARE(document.chapters(), (QStringList { "c1.xhtml", "R&D.xhtml", "c3.xhtml" }));
        QCOMPARE(document.chapterKind("R&D.xhtml"), int(TextDocument::KindLeftOut));
        QCOMPARE(document.nextChapter("c1.xhtml"), QStringLiteral("R&D.xhtml"));
        QCOMPARE(document.nextChapter("R&D.xhtml"), QStringLiteral("c3.xhtml"));
        const QString shown = document.chapterFilePath("R&D.xhtml");
        QVERIFY(TextDocument::nameReadsAsXml(fixture.outputFile("OEBPS/R&D.xhtml")));
        QVERIFY2(!TextDocument::nameReadsAsXml(shown), qPrintable(shown));
        const QString page = QString::fromUtf8(testfiles::read(shown));
        QVERIFY2(page.contains("OEBPS/R&amp;D.xhtml") && page.contains(reason) && page.size() < 1000, qPrintable(page));
        QVERIFY(testfiles::read(document.chapterFilePath("c1.xhtml")).contains("Before the gap."));
        QVERIFY(testfiles::read(document.chapterFilePath("c3.xhtml")).contains("After the gap."));
    }

    void refusesDeepNesting()
    {
        const auto nested = [](int levels) {
            return "<html>" + QByteArray("<div>").repeated(levels) + "<script>x()</script>"
                + QByteArray("</div>").repeated(levels) + "</html>";
        };
        // Qt's DOM parser recurses per level and overflows the stack near 30,000 levels.
        QByteArray out;
        const ChapterCleaner::Result result = clean(nested(40000), &out);
        QCOMPARE(result.outcome, ChapterCleaner::Skipped);
        QVERIFY(result.reason.contains(QLatin1String("1000")));
        // Cleaned all the same, in case a link leads there.
        QVERIFY(!out.contains("x()"));
        // Just inside the limit: cleaned through the DOM.
        const ChapterCleaner::Result inside = clean(nested(998), &out);
        QCOMPARE(inside.outcome, ChapterCleaner::Cleaned);
        QVERIFY(inside.wellFormed);
        // The program's end stops the cleaning between its passes, and the file is not written.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("nested.xhtml"));
        QVERIFY(testfiles::write(path, nested(998)));
        EndRequest::raise();
        const ChapterCleaner::Result stopped = ChapterCleaner::cleanFile(path);
        EndRequest::clear();
        QCOMPARE(stopped.outcome, ChapterCleaner::Stopped);
        QCOMPARE(testfiles::read(path), nested(998));
    }

    void textPass_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("script and handler in html") << QByteArray(
            "<html><body onload=\"a()\"><p>x&nbsp;y<br></p><script>if (a < b) c();</script></body></html>")
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
        QTest::newRow("xslt instruction")
            << QByteArray("<?xml-stylesheet type=\"text/xsl\" href=\"a.xsl\"?><p>t<br>") << QByteArray("<p>t<br>");
        // A style sheet instruction stays only when the XML parser reads its pseudo-attributes
        // (name="value" pairs apart by whitespace, names of any letters) to a type of CSS or none.
        const QByteArray removed = "<p>t<br>";
        const QList<QPair<QByteArray, bool>> instructions {
            { "\xC3\xBC=\" type='text/css'\" type=\"text/xsl\" href=\"s.xsl\"", false },
            { "_\xC3\xA9:x=\"1\" href=\"a.css\" type='text/css'", true },
            { "type=\"text/css\" type=\"text/xsl\"", false },
            { "type=text/xsl href=\"s.xsl\"", false },
            { "title=\"it's\" href='a \"b\".css'", true },
            { "title='a \"type=\"text/css\"' type=\"text/xsl\"", false },
            { "type=\"text/xsl; charset=utf-8\"", false },
            { "type=\"Text/CSS\"", false },
            { "TYPE=\"text/xsl\"", false },
            { "type=\" text/css\"", false },
            { "\n type\t=\r'text/css' \n", true },
            { "href=\"a.css\"type=\"text/xsl\"", false },
            { "href=\"a.css\" type=\"text&#47;xsl\"", false },
            { "href=\"a&b.css\"", false },
        };
        for (const auto& instruction : instructions) {
            const QByteArray data = "<?xml-stylesheet " + instruction.first + "?>" + removed;
            QTest::newRow(("style sheet " + instruction.first).constData())
                << data << (instruction.second ? QByteArray() : removed);
        }
        // Raw text and RCDATA are text to the HTML parser, which shows them as written; in SVG and
        // MathML the same names are markup.
        QTest::newRow("script inside title raw text")
            << QByteArray("<title>T<script>x()</script></title><p onclick=a()>a<br>")
            << QByteArray("<title>T<script>x()</script></title><p>a<br>");
        QTest::newRow("markup in textarea and xmp shown as text")
            << QByteArray("<p onclick=a()>a<textarea><b>t</b><script>x()</script><!--c--></TEXTAREA >"
                          "<xmp><i onclick=y()>u<?x?></i></xmp><br>")
            << QByteArray("<p>a<textarea><b>t</b><script>x()</script><!--c--></TEXTAREA ><xmp><i onclick=y()>"
                          "u<?x?></i></xmp><br>");
        QTest::newRow("title in svg is markup") << QByteArray("<svg><title><script>x()</script>t</title></svg><br>")
                                                << QByteArray("<svg><title>t</title></svg><br>");
        QTest::newRow("script after title raw text")
            << QByteArray("<title><a title=\"</title><script>x()</script>\"></title>")
            << QByteArray("<title><a title=\"</title>\"></title>");
        QTest::newRow("nested objects") << QByteArray(
            "<object data=\"a.swf\"><object data=\"b.swf\">i</object>j</object>k<br>")
                                        << QByteArray("k<br>");
        QTest::newRow("script without end tag") << QByteArray("<p>a<script>b()<br>") << QByteArray("<p>ab()<br>");
        QTest::newRow("iframe and embed")
            << QByteArray("<iframe src=x>t</iframe><embed src=\"m.swf\"><p>z<br>") << QByteArray("<p>z<br>");
        // An end tag in MathML leaves it only where it closes an HTML element outside.
        QTest::newRow("end tags in mathml")
            << QByteArray("<p><math></b><![CDATA[ a > <i onclick=x()> ]]></math><b><math></b><![CDATA[ a > "
                          "<i onclick=x()> ]]><br>")
            << QByteArray("<p><math></b><![CDATA[ a > <i onclick=x()> ]]></math><b><math></b><![CDATA[ a > <i> ]]><br>");
        QTest::newRow("name of = after a removed value")
            << QByteArray("<p p onk=\"\"=\">b<i x onclick=''='y>c<br>") << QByteArray("<p p >b<i x >c<br>");
        QTest::newRow("self-closed in svg")
            << QByteArray("<svg><iframe/>></iframe><script/>t</script></svg><p>z<br>")
            << QByteArray("<svg>></iframe>t</script></svg><p>z<br>");
        // The HTML parser ends a document type at its first ">", subset or not, and shows the rest.
        QTest::newRow("document types end at their first >")
            << QByteArray("<!DOCTYPE html [ <!ENTITY a \"x>\"> <script>x()</script> ]><p>&a;<!DOCTYPE html [</p>"
                          "<p>b</p>]>c<br>")
            << QByteArray("<!DOCTYPE html [ <!ENTITY a \"x>\">  ]><p>&a;<!DOCTYPE html [</p><p>b</p>]>c<br>");
        QTest::newRow("prefixed script") << QByteArray("<svg:script>x()</svg:script><p>t<br>")
                                         << QByteArray("<p>t<br>");
        // No XML name: read whole by either parser, it is no script.
        QTest::newRow("name with a prefix and a <")
            << QByteArray("<p>a<d<svg:script>b</d<svg:script>c<script>x()</script><br>")
            << QByteArray("<p>a<d<svg:script>b</d<svg:script>c<br>");
        QTest::newRow("tags not joined by a removal") << QByteArray("<p><<script>x</script>script>y()</script><br>")
                                                      << QByteArray("<p>&lt;script>y()</script><br>");
        // Nor a reference: each is read as before, ended by "<", whether or not it is one.
        QTest::newRow("references not joined by a removal")
            << QByteArray("<p>&<script>x</script>nbsp;&amp<script>x</script>;&not<?xml-stylesheet a>in; "
                          "&#12<script>x</script>3;&n<script>x</script><script>x</script>bsp;&x<script>x</script> &"
                          "<script>x</script>#106;<br>")
            << QByteArray("<p>&<!---->nbsp;&amp<!---->;&not<!---->in; &#12<!---->3;&n<!---->bsp;&x &<!---->#106;<br>");
        QTest::newRow("name and attribute not joined by a removal")
            << QByteArray("<p onclick=\"a()\"<svg:script>>t<br>") << QByteArray("<p <svg:script>>t<br>");
        // More digits than the text pass reads: it keeps the address, which the view reads as
        // javascript: and takes out itself.
        QTest::newRow("long reference spelling javascript:")
            << QByteArray("<p>a<a href=\"&#0000000106;avascript:x()\" id=k>l</a><br>") << QByteArray();
        // UTF-16 is read, and once rewritten stored, in UTF-8.
        QTextCodec* utf16 = QTextCodec::codecForName("UTF-16LE");
        QTest::newRow("UTF-16") << utf16->fromUnicode(
            QStringLiteral("<html><body><p>\u0416 <br></p><script>x()</script></body></html>"))
                                << QStringLiteral("\uFEFF<html><body><p>\u0416 <br></p></body></html>").toUtf8();
        // Without a mark, after a line break: the passes read it as the page does.
        QTest::newRow("UTF-16 without a mark after a line break")
            << utf16->fromUnicode(QStringLiteral("\n<html><body><p>\u0416 <br></p><script>x()</script></body></html>"))
                   .mid(2)
            << QStringLiteral("\uFEFF\n<html><body><p>\u0416 <br></p></body></html>").toUtf8();
        // The parser ends a broken declaration at its first ">": the encoding written after it
        // is shown text, kept as it was.
        QTest::newRow("UTF-32 with a broken declaration")
            << QByteArray("\xFF\xFE\0\0", 4)
                + utf32(QStringLiteral(
                    "<?xml version=\"1.0\" encoding=\"UTF-32</p>LE\"?><p>\u0416<script>x()</script><br>"))
            << QStringLiteral("\uFEFF<?xml version=\"1.0\" encoding=\"UTF-32</p>LE\"?><p>\u0416<br>").toUtf8();
    }

    void textPass()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, expected); // empty: nothing the pass finds
        QByteArray out;
        const ChapterCleaner::Result result = clean(data, &out);
        QVERIFY(!result.wellFormed);
        QCOMPARE(result.kind, int(TextDocument::KindHtml));
        QCOMPARE(result.outcome, expected.isEmpty() ? ChapterCleaner::Unchanged : ChapterCleaner::Cleaned);
        QCOMPARE(out, expected.isEmpty() ? data : expected);
        // Nothing that could run once the reader's web view has read it.
        QCOMPARE(viewedmarkup::runnable(out), QStringList());
        // No character the parser shows in the book is lost (a prefixed script goes with its
        // text, a script to the XML parser).
        QVERIFY(data.startsWith("<svg:script>")
            || parsedmarkup::keepsShownText(parsedmarkup::read(bookText(data)).shown,
                parsedmarkup::read(out.startsWith("\xEF\xBB\xBF") ? out.mid(3) : out).shown));
        QCOMPARE(clean(out, &out).removed, 0);
    }

    // The view is the judge of a chapter's encoding. For the labels it knows, the Latin-1 and
    // ASCII ones above all, and the places a meta stands in, the text the reader decodes is the
    // text a bare view shows for the same bytes served without a charset, scripts off; each
    // chapter holds every byte from 0x80 up. Where the reader reads otherwise on purpose (a label
    // of an encoding that does not write ASCII as ASCII, or one the view does not decode: the
    // statistics decide), the row names the encoding the reader reads. The conversion decides
    // the same: a chapter it converts reads as the page does, and it converts what its passes
    // could not read as ASCII.
    void chapterEncodingAsTheViewReadsIt_data()
    {
        QTest::addColumn<QByteArray>("chapter");
        QTest::addColumn<QByteArray>("reader"); // empty: as the view reads it
        QTest::addColumn<bool>("converted");
        QByteArray everyHighByte;
        for (int byte = 0x80; byte <= 0xFF; ++byte)
            everyHighByte += char(byte);
        const QString russian
            = QStringLiteral("Съешь же ещё этих мягких французских булок, да выпей чаю. ").repeated(16);
        const QByteArray body = "<body><p>" + QTextCodec::codecForName("windows-1251")->fromUnicode(russian) + "</p><p>"
            + everyHighByte + "</p></body></html>";
        const auto chapter = [&](const QByteArray& head) { return "<html><head>" + head + "</head>" + body; };
        const auto row
            = [&](const QByteArray& name, const QByteArray& data, const QByteArray& reader = QByteArray(),
                  bool converted = false) { QTest::newRow(name.constData()) << data << reader << converted; };
        // The reader's statistics decide.
        const QByteArray detected = "detected";
        // Labels of the web's table the view knows, the Latin-1, ASCII and Turkish ones all.
        const QList<QByteArray> labels { "ansi_x3.4-1968", "ascii", "cp1252", "cp819", "csisolatin1", "ibm819",
            "iso-8859-1", "ISO-8859-1", "iso-ir-100", "iso8859-1", "iso88591", "iso_8859-1", "iso_8859-1:1987", "l1",
            "latin1", "us-ascii", "US-ASCII", "windows-1252", "x-cp1252", "cp1254", "csisolatin5", "iso-8859-9",
            "ISO-8859-9", "iso-ir-148", "iso8859-9", "iso_8859-9:1989", "l5", "latin5", "windows-1254", "utf-8", "utf8",
            "unicode-1-1-utf-8", "866", "ibm866", "iso-8859-2", "iso_8859-2:1987", "latin2", "iso-8859-3", "l3",
            "iso-8859-4", "iso-ir-110", "iso-8859-5", "cyrillic", "iso-8859-6", "arabic", "iso-8859-6-i", "iso-8859-7",
            "greek", "sun_eu_greek", "iso-8859-8", "hebrew", "visual", "iso-8859-8-i", "logical", "iso-8859-10",
            "latin6", "iso-8859-13", "iso-8859-14", "iso-8859-15", "l9", "koi8-r", "koi", "koi8-u", "macintosh", "mac",
            "x-mac-roman", "x-mac-cyrillic", "x-mac-ukrainian", "windows-874", "tis-620", "iso-8859-11", "windows-1250",
            "x-cp1250", "windows-1251", "cp1251", "x-cp1251", "windows-1253", "windows-1255", "windows-1256",
            "windows-1257", "windows-1258", "gbk", "gb2312", "chinese", "x-gbk", "gb18030", "big5", "big5-hkscs",
            "cn-big5", "euc-kr", "korean", "windows-949", "ks_c_5601-1987", "x-user-defined" };
        for (const QByteArray& label : labels)
            row("charset=" + label, chapter("<meta charset=\"" + label + "\">"));
        // For a sequence of bytes that is no letter the view shows U+001A, the reader U+FFFD.
        for (const char* label : { "euc-jp", "x-euc-jp", "shift_jis", "sjis", "ms932", "windows-31j" })
            row(QByteArray("charset=") + label, chapter(QByteArray("<meta charset=\"") + label + "\">"),
                epub::ChapterEncoding::webEncoding(label));
        // The view takes ISO-2022-JP as named; the passes read it in UTF-8.
        row("charset=iso-2022-jp", chapter("<meta charset=\"iso-2022-jp\">"), QByteArray(), true);
        // Labels the reader does not take: ones of the web's table the view does not know,
        // others it knows beyond them, encodings it does not decode or shows as one replacement
        // character, and those that do not write ASCII as ASCII (EBCDIC, UTF-16 and UTF-32).
        for (const char* label : { "iso_8859-2", "iso88592", "iso_8859-5", "iso885915", "iso-8859-16", "koi8_r",
                 "koi8-ru", "x-cp1253", "iso88599", "iso_8859-9", "x-cp1254", "gb_2312", "csiso2022jp", "Latin-1",
                 "windows1251", "cp437", "ibm850", "x-mac-greek", "EUC-TW", "cesu-8", "utf-7", "UTF-7", "scsu",
                 "bocu-1", "x-no-such-encoding", "iso-2022-kr", "hz-gb-2312", "iso-2022-cn", "replacement", "utf-16",
                 "utf-16le", "utf-16be", "ucs-2", "unicode", "utf-32", "utf-32le", "IBM037", "ebcdic-cp-us", "cp500" })
            row(QByteArray("charset=") + label, chapter(QByteArray("<meta charset=\"") + label + "\">"), detected);
        // Where a meta stands, and what it says.
        row("http-equiv and content",
            chapter("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=koi8-r\">"));
        row("content without http-equiv", chapter("<meta content=\"text/html; charset=koi8-r\">"), detected);
        row("unquoted, blanks around", chapter("<meta charset= \" koi8-r \" ><meta charset=latin1>"));
        row("meta in a comment", chapter("<!-- <meta charset=\"utf-8\"> --><meta charset=\"iso-8859-1\">"));
        row("meta in a comment alone", chapter("<!-- <meta charset=\"utf-8\"> -->"), detected);
        row("meta in a comment of dashes",
            chapter("<!--> <meta charset=\"koi8-r\"><!-- -- --!><meta charset=\"latin1\">"));
        row("meta in a title", chapter("<title><meta charset=\"utf-8\"></title><meta charset=\"latin1\">"));
        row("meta in a script", chapter("<script><meta charset=\"utf-8\"></script><meta charset=\"latin1\">"));
        row("meta in a style", chapter("<style><meta charset=\"utf-8\"></style><meta charset=\"latin1\">"));
        row("meta in a noscript", chapter("<noscript><meta charset=\"koi8-r\"></noscript>"));
        row("meta in an attribute", chapter("<link title='<meta charset=utf-8>'><meta charset=\"latin1\">"));
        row("two metas", chapter("<meta charset=\"koi8-r\"><meta charset=\"windows-1251\">"));
        // Read in UTF-7 these would be tags the cleaner never saw.
        row("UTF-7 spelling tags",
            "<html><head><meta charset=\"utf-7\"></head><body><p>+ADw-b onclick=x()+AD4-bold+ADw-/b+AD4-" + body.mid(9),
            detected);
        row("UTF-7 before a meta", chapter("<meta charset=\"utf-7\"><meta charset=\"iso-8859-9\">"));
        const QByteArray filler = QByteArray("filler words ").repeated(90);
        row("meta after 1,024 bytes of a body", "<html><body><p>" + filler + "</p><meta charset=\"koi8-r\">" + body,
            detected);
        row("meta after 1,024 bytes of the head", chapter("<!-- " + filler + "--><meta charset=\"koi8-r\">"));
        row("meta in the body before 1,024 bytes", "<html><body><p>words</p><meta charset=\"koi8-r\">" + body);
        // A declaration, a mark.
        row("declaration", "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>" + chapter(QByteArray()));
        // The view's HTML parser takes the meta; the reader, as the XML parser, the declaration.
        row("declaration against a meta",
            "<?xml version=\"1.0\" encoding=\"koi8-r\"?>" + chapter("<meta charset=\"iso-8859-1\">"), "KOI8-R");
        row("declaration of UTF-16", "<?xml version=\"1.0\" encoding=\"utf-16\"?>" + chapter(QByteArray()), detected);
        row("mark against a declaration",
            "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"koi8-r\"?>" + chapter("<meta charset=\"latin1\">"));
        row("no label", chapter(QByteArray()), detected);
        // UTF-16 and UTF-32 without a mark, as the page and the conversion read them.
        const QString wide = "\n<html><head><meta charset=\"utf-16\"></head><body><p>" + russian + "</p></body></html>";
        row("UTF-16LE without a mark after a line break", unmarked("UTF-16LE", wide), "UTF-16LE", true);
        row("UTF-16BE without a mark after a line break", unmarked("UTF-16BE", wide), "UTF-16BE", true);
        row("UTF-32LE without a mark", unmarked("UTF-32LE", wide.mid(1)), "UTF-32LE", true);
    }

    void chapterEncodingAsTheViewReadsIt()
    {
        QFETCH(QByteArray, chapter);
        QFETCH(QByteArray, reader);
        QFETCH(bool, converted);
        const QString read = epub::ChapterEncoding::decoded(chapter);
        const QString shown = viewedText(read.toUtf8(), QStringLiteral("text/html; charset=utf-8"));
        QTextCodec* named = reader == "detected" ? fb2::detectCodec(chapter) : QTextCodec::codecForName(reader);
        const QString judged = reader.isEmpty()
            ? viewedText(chapter, QStringLiteral("text/html"))
            : viewedText(named->toUnicode(chapter).toUtf8(), QStringLiteral("text/html; charset=utf-8"));
        QVERIFY(!judged.isEmpty());
        QCOMPARE(shown, judged);
        QByteArray utf8;
        QCOMPARE(epub::ChapterEncoding::toUtf8(chapter, &utf8), converted);
        // Stored with a mark, as the cleaner stores what it converts.
        if (converted) {
            const QString stored = epub::ChapterEncoding::decoded("\xEF\xBB\xBF" + utf8);
            QCOMPARE(viewedText(stored.toUtf8(), QStringLiteral("text/html; charset=utf-8")), shown);
        }
    }

    // The parser's check of the tests' support (HtmlParserCleaner): what the parser reads as a
    // script, a handler or a javascript: address goes, whatever made the markup; the rest is
    // written so that the parser builds the same tree from it (checked by parsing it once more).
    void parserHasTheLastWord_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("expected"); // empty: kept byte for byte
        const QByteArray head = "<!DOCTYPE html><html><head></head><body>";
        QTest::newRow("nothing to remove: bytes kept")
            << QByteArray("<p title=x>caf\xe9 <b>bold</i><br><!-- c --><noscript>on</p>") << QByteArray();
        // A reference of more digits than the text pass reads spells the scheme all the same.
        QTest::newRow("long reference spelling javascript:")
            << QByteArray("<a href=\"&#0000000106;avascript:x()\" title='t&amp;\"'>l</a>")
            << QByteArray("<html><head></head><body><a title=\"t&amp;&quot;\">l</a>" + tail());
        // The HTML parser knows no prefixes: a name that starts with "on" goes whatever its colon.
        QTest::newRow("handler names with a colon")
            << QByteArray("<p onx:y=1 svg:onload=2 class=c>t</p>")
            << QByteArray("<html><head></head><body><p class=\"c\">t</p>" + tail());
        QTest::newRow("document type, head and comment before it")
            << QByteArray(
                   "\xEF\xBB\xBF<!-- c --><!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01//EN\"><title>a&lt;b</title>"
                   "<p onclick=x()>\xc3\xa9&eacute;&#x1F600;&nbsp;&lt;p&gt; &amp;amp;\r\n</p>")
            << QByteArray(
                   "\xEF\xBB\xBF<!-- c --><!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01//EN\"><html><head><title>"
                   "a&lt;b</title></head><body><p>\xc3\xa9&#xe9;&#x1f600;&#xa0;&lt;p&gt; &amp;amp;\n</p>"
                   + tail());
        // Written bare, the parser would read a replacement character.
        QTest::newRow("control characters from references")
            << QByteArray("<p onclick=x()>&#1;a&#x1f;&#127;\t</p>")
            << QByteArray("<html><head></head><body><p>&#1;a&#31;&#127;\t</p>" + tail());
        QTest::newRow("raw text, void elements, leading line of pre")
            << head + "<style>p > b { x: '&amp;' }</style><pre>\n\nx</pre><br><img src=a.png onerror=x()><xmp><b></xmp>"
            << head + "<style>p > b { x: '&amp;' }</style><pre>\n\nx</pre><br><img src=\"a.png\"><xmp><b></xmp>"
                + tail();
        // Foreign content: names in their case, CDATA read as text, the script of SVG and the HTML
        // that ends it.
        QTest::newRow("svg and mathml") << head
                + "<svg viewbox='0 0 1 1'><foreignobject><p>in</p></foreignobject><a xlink:href='javascript:x()'>"
                  "<![CDATA[ a > <img src=x onerror=y()> ]]></a><script>z()<em>shown</em></svg>"
                  "<math><mi><title><b><script>w()</script></title></mi><style>&lt;i&gt;</style></math>"
                                        << head
                + "<svg viewBox=\"0 0 1 1\"><foreignObject><p>in</p></foreignObject><a> a &gt; &lt;img src=x "
                  "onerror=y()&gt; </a></svg><em>shown</em><math><mi><title>&lt;b&gt;&lt;script&gt;w()&lt;/script&gt;"
                  "</title></mi><style>&lt;i&gt;</style></math>"
                + tail();
        QTest::newRow("template, noscript read as markup, plaintext")
            << head + "<template><b onmouseover=x()>t</b></template><noscript><i>n</i></noscript><plaintext></p><b>"
            << head + "<template><b>t</b></template><noscript><i>n</i></noscript><plaintext></p><b>";
        // A NUL in a name is part of it: no script, and written whole.
        QTest::newRow("NUL in a name") << QByteArray("<script\0>b()</script><i onclick=x()>t</i>",
            41) << QByteArray("<html><head></head><body><script\0>b()<i>t</i></script\0>", 55) + tail();
        // Deeper than the parser frees its tree in one go, deeper than the nesting pass leaves it.
        QTest::newRow("3000 deep") << QByteArray("<div>").repeated(3000) + "<i onclick=x()>t</i>"
                                   << "<html><head></head><body>" + QByteArray("<div>").repeated(3000) + "<i>t</i>"
                + QByteArray("</div>").repeated(3000) + tail();
        QTest::newRow("comments that would end early")
            << QByteArray("<p onclick=x()><!---><?a--b-><!-x-->")
            << QByteArray("<html><head></head><body><p><!----><!--?a- -b- --><!-- -x- - --></p>" + tail());
    }

    void parserHasTheLastWord()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, expected);
        QByteArray out;
        const int removed = HtmlParserCleaner::clean(data, &out);
        QCOMPARE(out, expected.isEmpty() ? data : expected);
        QCOMPARE(removed > 0, !expected.isEmpty());
        // Parsed once more, the tree is the same: one more handler, at the end of the body, is
        // all that changes.
        if (!out.endsWith(tail()))
            return;
        QByteArray again;
        QCOMPARE(HtmlParserCleaner::clean(out + "<i onclick=x()></i>", &again), 1);
        QCOMPARE(again, out.left(out.size() - tail().size()) + "<i></i>" + tail());
    }

    // The program's end while the parser checks a chapter: the check answers at once, while the
    // parse it leaves behind is still held at its start, and that parse ends and frees what it made
    // once let go. A chapter whose conversion the end stops is left as it was, and the next
    // conversion cleans it.
    void parserCheckStopsAtTheEnd()
    {
        static QSemaphore started;
        static QSemaphore letGo;
        HtmlParserCleaner::setParseStartHook([] {
            started.release();
            letGo.acquire();
        });
        const QByteArray chapter = "<html><body>" + QByteArray("<p>Words <i onclick=x()>here</i>.</p>").repeated(20000);
        QByteArray out = "before";
        QFuture<int> checking = QtConcurrent::run([&chapter, &out] { return HtmlParserCleaner::clean(chapter, &out); });
        bool held = true;
        const auto finish = qScopeGuard([&checking, &held] {
            if (held)
                letGo.release();
            checking.waitForFinished();
            HtmlParserCleaner::setParseStartHook(nullptr);
            EndRequest::clear();
        });
        started.acquire();
        EndRequest::raise();
        // Bounded by the held parse, not by time: only a check that stops waiting can answer.
        QTRY_VERIFY_WITH_TIMEOUT(checking.isFinished(), 10000);
        QCOMPARE(checking.result(), HtmlParserCleaner::Stopped);
        QVERIFY(out.isEmpty());
        QVERIFY(HtmlParserCleaner::parsesRunning() > 0);
        letGo.release();
        held = false;
        QTRY_COMPARE(HtmlParserCleaner::parsesRunning(), 0);
        EndRequest::clear();

        // A conversion stopped so: the file keeps its bytes, and is cleaned the next time.
        EndRequest::raise();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("c.html"));
        QVERIFY(testfiles::write(path, chapter));
        const ChapterCleaner::Result stopped = ChapterCleaner::cleanFile(path);
        QCOMPARE(stopped.outcome, ChapterCleaner::Stopped);
        QCOMPARE(testfiles::read(path), chapter);
        EndRequest::clear();
        const ChapterCleaner::Result again = ChapterCleaner::cleanFile(path);
        QCOMPARE(again.outcome, ChapterCleaner::Cleaned);
        QCOMPARE(again.removed, 20000);
        QVERIFY(!testfiles::read(path).contains("onclick"));
    }

    void mutatedChaptersStayClean()
    {
        // Random edits with markup fragments: cleaning never crashes, and what it leaves holds
        // nothing that a second cleaning would still find.
        static const char* const pieces[] = { "<", ">", "/", "\"", "'", "=", " ", "script", "<script>", "</script>",
            "on", "onclick=", "javascript:", "&#106;", "<!--", "-->", "<?", "?>", "<![CDATA[", "]]>", "<iframe>",
            "<object data=x.html>", "</object>", "<title>", "</title>", "<!DOCTYPE html [", "]>", "<!ENTITY e \"<b>\">",
            "&e;", "<svg:script>", "xlink:href=", "<?xml-stylesheet type='text/xsl'?>", "\n", "<p>", "</p>" };
        const int pieceCount = int(sizeof(pieces) / sizeof(pieces[0]));
        const QList<QByteArray> seeds
            = { page("<p onclick=\"a()\">x <b>y</b></p><script>z()</script><a href=\"q\">l</a>"),
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
            QVERIFY2(second.removed == 0,
                qPrintable(QStringLiteral("round %1\ninput: %2\nonce: %3").arg(round).arg(data, once)));
            QVERIFY(first.outcome != ChapterCleaner::Skipped);
        }
    }

    void malformedChapters()
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
};

QTEST_MAIN(TestEpub)
#include "tst_epub.moc"

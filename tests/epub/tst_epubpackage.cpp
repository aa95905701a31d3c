// The package record: metadata, manifest, spine and NCX choice read from package documents.

#include "epubfixture.h"
#include "formats/epub/epubpackage.h"
#include "formats/epub/epubparser.h"
#include "testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtTest>

using epub::EpubPackage;

namespace {

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

} // namespace

class TestEpubPackage : public QObject {
    Q_OBJECT

private slots:
    void metadataLists();
    void metaElements();
    void setValueKinds();
    void metadataKindTable();
    void manifestAndSpine();
    void prefixedPackage();
    void ncxChoice_data();
    void ncxChoice();
    void unreadablePackage();
    void navigationTree();
};

void TestEpubPackage::metadataLists()
{
    OpfFixture fixture("<dc:title>A</dc:title><dc:title>B</dc:title><dc:creator>Ann <i>Lee</i></dc:creator>"
                       "<dc:date>2020</dc:date><dc:coverage>World</dc:coverage><meta name=\"cover\" content=\"img1\"/>"
                       "<dc:subject>S1</dc:subject><dc:subject>S2</dc:subject><dc:rights>R</dc:rights>"
                       "<dc:language>de</dc:language><dc:publisher>P</dc:publisher><dc:description>D</dc:description>"
                       "<dc:contributor>C</dc:contributor><dc:type>T</dc:type><dc:format>F</dc:format>"
                       "<dc:source>So</dc:source><dc:identifier>urn:x</dc:identifier>"
                       "<title>unprefixed</title><opf:meta name=\"x\">prefixed meta</opf:meta>"
                       "<x><dc:title>nested</dc:title></x>");
    const EpubPackage& package = fixture.package();
    QCOMPARE(package.title(), QStringLiteral("A"));
    QCOMPARE(package.author(), QStringLiteral("Ann Lee"));
    // Coverage values and cover metas share one list, in document order. Names are compared
    // with their prefix: unknown ones are identifiers; children of an unknown element are only
    // its text.
    const QList<QStringList> lists { package.titles, package.creators, package.coverages, package.subjects,
        package.rights, package.languages, package.publishers, package.descriptions, package.contributors,
        package.types, package.formats, package.sources, package.identifiers };
    QCOMPARE(lists,
        QList<QStringList>(
            { { "A", "B" }, { "Ann Lee" }, { "World", "img1" }, { "S1", "S2" }, { "R" }, { "de" }, { "P" }, { "D" },
                { "C" }, { "T" }, { "F" }, { "So" }, { "urn:x", "unprefixed", "prefixed meta", "nested" } }));

    OpfFixture empty("");
    QVERIFY(empty.package().title().isEmpty());
    QVERIFY(empty.package().author().isEmpty());
}

void TestEpubPackage::metaElements()
{
    OpfFixture fixture("<meta name=\"generator\" content=\"Tool 1.0\"/><meta name=\"series:index\" content=\"X\"/>"
                       "<meta name=\"empty\" content=\"\"/><meta content=\"no name\"/>"
                       "<meta property=\"dcterms:modified\">2024-01-01</meta><META name=\"dc:title\" content=\"M\"/>");
    const EpubPackage& package = fixture.package();
    QCOMPARE(package.identifiers, QStringList { "X" });
    QCOMPARE(package.titles, QStringList { "M" });
    QVERIFY(package.coverages.isEmpty());
}

void TestEpubPackage::setValueKinds()
{
    EpubPackage package;
    package.setValue(epub::MetaDate, QStringLiteral("2020"));
    package.setValue(20, QStringLiteral("x"));
    package.setValue(epub::MetaGenerator, QStringLiteral("g"));
    package.setValue(12, QStringLiteral("twelve"));
    for (const QStringList* list : { &package.identifiers, &package.titles, &package.languages, &package.creators,
             &package.descriptions, &package.publishers, &package.contributors, &package.types, &package.formats,
             &package.subjects, &package.sources, &package.coverages, &package.rights })
        QVERIFY(list->isEmpty());
    package.setValue(epub::MetaCover, QStringLiteral("c"));
    package.setValue(epub::MetaCoverage, 42);
    QCOMPARE(package.coverages, (QStringList { "c", "42" }));
}

void TestEpubPackage::metadataKindTable()
{
    QCOMPARE(epub::metadataKind(QStringLiteral("dc:title")), int(epub::MetaTitle));
    QCOMPARE(epub::metadataKind(QStringLiteral("DC:TITLE")), int(epub::MetaIdentifier));
    QCOMPARE(epub::metadataKind(QStringLiteral("cover")), int(epub::MetaCover));
    QCOMPARE(epub::metadataKind(QString()), int(epub::MetaIdentifier));
    // Conversions on several threads may meet the table first at the same time.
    QList<QFuture<int>> futures;
    for (int i = 0; i < 16; ++i)
        futures.append(QtConcurrent::run([] { return epub::metadataKind(QStringLiteral("dc:rights")); }));
    for (QFuture<int>& future : futures)
        QCOMPARE(future.result(), int(epub::MetaRights));
}

void TestEpubPackage::manifestAndSpine()
{
    OpfFixture fixture("",
        "<item id=\"a\" href=\"Text/chapter%201.xhtml\" media-type=\"application/xhtml+xml\"/>"
        "<item id=\"b\" href=\"first.xhtml\" media-type=\"text/html\"/>"
        "<item id=\"b\" href=\"second.xhtml\" media-type=\"application/xhtml+xml\"/>"
        "<item id=\"u\" href=\"%D0%96.xhtml\" media-type=\"application/xhtml+xml\"/>",
        "<spine toc=\"ncx\"><itemref idref=\"a\"/><itemref idref=\"\"/><itemref idref=\"b\"/></spine>"
        "<spine toc=\"second\"><itemref idref=\"a\"/></spine>");
    const EpubPackage& package = fixture.package();
    QCOMPARE(package.item(QStringLiteral("a")).href, QStringLiteral("Text/chapter 1.xhtml"));
    QCOMPARE(package.item(QStringLiteral("u")).href, QStringLiteral("\u0416.xhtml"));
    // A later item of the same id replaces the earlier one.
    QCOMPARE(package.item(QStringLiteral("b")).href, QStringLiteral("second.xhtml"));
    QCOMPARE(package.manifest.size(), 3);
    const epub::ManifestItem unknown = package.item(QStringLiteral("nothing"));
    QVERIFY(unknown.id.isEmpty() && unknown.href.isEmpty() && unknown.mediaType.isEmpty());
    QCOMPARE(package.manifest.size(), 3);
    QCOMPARE(package.spine, (QStringList { "a", "", "b", "a" }));
    QCOMPARE(package.tocId, QStringLiteral("second"));
}

void TestEpubPackage::prefixedPackage()
{
    // The package namespace written with a prefix throughout.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("p.opf"));
    QVERIFY(testfiles::write(file,
        "<opf:package xmlns:opf=\"http://www.idpf.org/2007/opf\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
        "<opf:metadata><dc:title>T</dc:title></opf:metadata>"
        "<opf:manifest><opf:item id=\"c\" href=\"c.xhtml\" media-type=\"application/xhtml+xml\"/></opf:manifest>"
        "<opf:spine><opf:itemref idref=\"c\"/></opf:spine></opf:package>"));
    epub::EpubParser parser(nullptr);
    parser.loadMetaData(file);
    QCOMPARE(parser.package().title(), QStringLiteral("T"));
    QCOMPARE(parser.package().spine, QStringList { "c" });
    QCOMPARE(parser.package().item(QStringLiteral("c")).href, QStringLiteral("c.xhtml"));
}

void TestEpubPackage::ncxChoice_data()
{
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<QByteArray>("spine");
    QTest::addColumn<QString>("expected");

    const QByteArray both = "<item id=\"ncx\" href=\"a.ncx\" media-type=\"application/x-dtbncx+xml\"/>"
                            "<item id=\"toc1\" href=\"b.ncx\" media-type=\"application/x-dtbncx+xml\"/>";
    QTest::newRow("spine toc wins") << both << QByteArray("<spine toc=\"toc1\"/>") << QStringLiteral("b.ncx");
    QTest::newRow("id ncx") << both << QByteArray("<spine/>") << QStringLiteral("a.ncx");
    QTest::newRow("unknown toc id falls back to ncx")
        << both << QByteArray("<spine toc=\"zzz\"/>") << QStringLiteral("a.ncx");
    QTest::newRow("by media type") << QByteArray("<item id=\"x\" href=\"nav/Contents.NCX\" "
                                                 "media-type=\"Application/X-DTBNCX+XML\"/>")
                                   << QByteArray("<spine/>") << QStringLiteral("nav/Contents.NCX");
    QTest::newRow("media type needs the suffix")
        << QByteArray("<item id=\"x\" href=\"contents.xml\" media-type=\"application/x-dtbncx+xml\"/>")
        << QByteArray("<spine/>") << QStringLiteral("toc.ncx");
    QTest::newRow("nothing suitable") << QByteArray() << QByteArray("<spine/>") << QStringLiteral("toc.ncx");
}

void TestEpubPackage::ncxChoice()
{
    QFETCH(QByteArray, manifest);
    QFETCH(QByteArray, spine);
    QFETCH(QString, expected);
    OpfFixture fixture("", manifest, spine);
    QCOMPARE(fixture.parser().ncxFilePath(), expected);
}

void TestEpubPackage::unreadablePackage()
{
    epub::EpubParser parser(nullptr);
    parser.loadMetaData(QStringLiteral("/nonexistent/content.opf"));
    QVERIFY(parser.package().manifest.isEmpty());

    QTemporaryDir dir;
    QVERIFY(testfiles::write(dir.filePath(QStringLiteral("bad.opf")), "<package><metadata><dc:title>T</metadata>"));
    parser.loadMetaData(dir.filePath(QStringLiteral("bad.opf")));
    QVERIFY(parser.package().titles.isEmpty());
}

void TestEpubPackage::navigationTree()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("toc.ncx"));
    // Declared Latin-1 but read as UTF-8; two navMaps; play order ignored.
    QVERIFY(testfiles::write(file,
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
        "<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\"><navMap>"
        "<navPoint playOrder=\"9\"><navLabel><text> \xc3\x89t\xc3\xa9 </text></navLabel>"
        "<content src=\"a%20b.xhtml#x\"/>"
        "<navPoint playOrder=\"1\"><content src=\"c.xhtml\"/></navPoint>"
        "<NAVPOINT><navLabel><text>first</text></navLabel><navLabel><text>second</text></navLabel>"
        "<navLabel><text></text></navLabel></NAVPOINT>"
        "</navPoint></navMap><navMap><navPoint><navLabel><text>Last</text></navLabel></navPoint></navMap>"
        "</ncx>"));
    epub::EpubParser parser(nullptr);
    parser.loadTOC(file);
    // A later label wins, an empty one does not.
    QCOMPARE(tocText(parser.toc()), QStringLiteral("=( \u00c9t\u00e9 =a b.xhtml#x(=c.xhtml second=) Last=)"));

    // Nesting beyond what the DOM can take is refused, not parsed.
    QByteArray deep = "<ncx><navMap>";
    for (int i = 0; i < 40000; ++i)
        deep += "<navPoint>";
    for (int i = 0; i < 40000; ++i)
        deep += "</navPoint>";
    deep += "</navMap></ncx>";
    QVERIFY(testfiles::write(file, deep));
    epub::EpubParser other(nullptr);
    other.loadTOC(file);
    QVERIFY(other.toc().isEmpty());
}

QTEST_GUILESS_MAIN(TestEpubPackage)
#include "tst_epubpackage.moc"

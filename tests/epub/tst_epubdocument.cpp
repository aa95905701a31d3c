// The EPUB text document: loading and the table of contents it builds.

#include "epubfixture.h"
#include "testfiles.h"

#include "formats/epub/epubdocument.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

namespace {

EpubBuilder twoPartBook()
{
    EpubBuilder builder;
    builder.addChapter(QStringLiteral("c1"), QStringLiteral("chapter 1.xhtml"), QStringLiteral("One"),
        QStringLiteral("<p id=\"p3\">x</p>"));
    builder.addChapter(QStringLiteral("c2"), QStringLiteral("c2.xhtml"), QStringLiteral("Two"), QStringLiteral("<p/>"));
    builder.setNavPoints({ { QStringLiteral("  Part I "), QStringLiteral("chapter%201.xhtml"),
                               { { QStringLiteral("A"), QStringLiteral("chapter%201.xhtml#p3"), {} },
                                   { QString(), QStringLiteral("c2.xhtml#b"), {} } } },
        { QStringLiteral("Part II"), QStringLiteral("c2.xhtml"), {} } });
    return builder;
}

} // namespace

class TestEpubDocument : public QObject {
    Q_OBJECT

private slots:
    void loadsChaptersAndContents();
    void contentsAreBuiltOnce();
    void failedLoads();
    void bookWithoutNavigation();
    void navigationDocument_data();
    void navigationDocument();
    void loadingAgain();
};

void TestEpubDocument::loadsChaptersAndContents()
{
    EpubFixture fixture;
    QVERIFY(fixture.write(twoPartBook()));
    epub::EpubDocument document(fixture.bookPath());
    QCOMPARE(document.metaObject()->className(), "epub::EpubDocument");
    QVERIFY(document.load(fixture.outputDir()));
    QCOMPARE(document.chapters(), (QStringList { "chapter 1.xhtml", "c2.xhtml" }));
    QCOMPARE(document.basePath(), fixture.outputFile(QStringLiteral("OEBPS")));
    // The base class's output folder is not used for EPUB books.
    QVERIFY(document.outputFolder().isEmpty());

    const QList<TocPoint> toc = document.toc();
    QCOMPARE(toc.size(), 2);
    QCOMPARE(toc.at(0).title, QStringLiteral("  Part I "));
    QCOMPARE(toc.at(0).link->source, QStringLiteral("chapter 1.xhtml"));
    QCOMPARE(toc.at(0).link->page, -1);
    QCOMPARE(toc.at(0).children.size(), 2);
    QCOMPARE(toc.at(0).children.at(0).link->source, QStringLiteral("chapter 1.xhtml#p3"));
    QVERIFY(toc.at(0).children.at(1).title.isEmpty());
    QCOMPARE(toc.at(1).title, QStringLiteral("Part II"));
    QVERIFY(toc.at(1).children.isEmpty());
    QSet<QString> ids;
    for (const TocPoint& point : { toc.at(0), toc.at(0).children.at(0), toc.at(0).children.at(1), toc.at(1) }) {
        QCOMPARE(point.index, 0);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(point.id).hasMatch());
        ids.insert(point.id);
    }
    QCOMPARE(ids.size(), 4);

    const QJsonArray json = document.tocToJson().toArray();
    QCOMPARE(json.size(), 2);
    QCOMPARE(json.at(0).toObject().value(QStringLiteral("Childs")).toArray().size(), 2);
    QCOMPARE(json.at(1).toObject().value(QStringLiteral("Source")).toString(), QStringLiteral("c2.xhtml"));
}

void TestEpubDocument::contentsAreBuiltOnce()
{
    epub::EpubDocument unloaded(QStringLiteral("/nonexistent.epub"));
    QVERIFY(unloaded.toc().isEmpty());

    EpubFixture fixture;
    QVERIFY(fixture.write(twoPartBook()));
    epub::EpubDocument document(fixture.bookPath());
    QVERIFY(document.load(fixture.outputDir()));
    const QList<TocPoint> first = document.toc();
    const QList<TocPoint> second = document.toc();
    QCOMPARE(second.size(), first.size());
    QCOMPARE(second.at(0).id, first.at(0).id);
    QCOMPARE(second.at(0).children.at(1).id, first.at(0).children.at(1).id);
}

void TestEpubDocument::failedLoads()
{
    EpubFixture fixture;
    QVERIFY(testfiles::write(fixture.bookPath(), "not an archive"));
    epub::EpubDocument broken(fixture.bookPath());
    QVERIFY(!broken.load(fixture.outputDir()));
    QVERIFY(broken.toc().isEmpty());
    QVERIFY(broken.chapters().isEmpty());

    EpubBuilder builder = twoPartBook();
    builder.addArchiveFile(QStringLiteral("META-INF/encryption.xml"),
        "<encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">"
        "<EncryptedData xmlns=\"http://www.w3.org/2001/04/xmlenc#\"><EncryptionMethod "
        "Algorithm=\"http://www.w3.org/2001/04/xmlenc#aes128-cbc\"/></EncryptedData></encryption>");
    EpubFixture protectedBook;
    QVERIFY(protectedBook.write(builder));
    epub::EpubDocument document(protectedBook.bookPath());
    QVERIFY(!document.load(protectedBook.outputDir()));
    QVERIFY(document.chapters().isEmpty());
    QVERIFY(document.toc().isEmpty());
}

void TestEpubDocument::bookWithoutNavigation()
{
    EpubBuilder builder = twoPartBook();
    builder.setWriteNcx(false);
    EpubFixture fixture;
    QVERIFY(fixture.write(builder));
    epub::EpubDocument document(fixture.bookPath());
    QVERIFY(document.load(fixture.outputDir()));
    QCOMPARE(document.chapters().size(), 2);
    QVERIFY(document.toc().isEmpty());

    // An NCX that is not XML.
    EpubBuilder broken = twoPartBook();
    broken.setWriteNcx(false);
    broken.addResource(
        QStringLiteral("ncx"), QStringLiteral("toc.ncx"), "<ncx><navMap>", QStringLiteral("application/x-dtbncx+xml"));
    EpubFixture second;
    QVERIFY(second.write(broken));
    epub::EpubDocument other(second.bookPath());
    QVERIFY(other.load(second.outputDir()));
    QVERIFY(other.toc().isEmpty());
}

void TestEpubDocument::navigationDocument_data()
{
    QTest::addColumn<QString>("navHref");
    QTest::addColumn<QString>("prefix"); // from the navigation document's folder to the package's
    QTest::addColumn<QString>("hostile"); // a further link, which must lead nowhere

    QTest::newRow("beside the package") << "nav.xhtml" << QString() << QString();
    QTest::newRow("in its own folder") << "nav/toc.xhtml"
                                       << "../" << QString();
    QTest::newRow("a link leaving the book") << "nav.xhtml" << QString() << "../../etc/passwd";
    QTest::newRow("a link outside the package") << "nav.xhtml" << QString() << "../META-INF/container.xml";
}

// An EPUB 3 book without an NCX has the contents of its navigation document.
void TestEpubDocument::navigationDocument()
{
    QFETCH(QString, navHref);
    QFETCH(QString, prefix);
    QFETCH(QString, hostile);
    EpubBuilder builder = twoPartBook();
    builder.setVersion(3);
    builder.setWriteNcx(false);
    builder.setNavHref(navHref);
    QList<EpubBuilder::NavPoint> points {
        { "Part I", prefix + "chapter%201.xhtml",
            { { "A", prefix + "chapter%201.xhtml#p3", {} }, { " B ", prefix + "c2.xhtml#b", {} } } },
        { "Part II", prefix + "c2.xhtml", {} }
    };
    QStringList expected { "0 Part I chapter 1.xhtml", "1 A chapter 1.xhtml#p3", "1 B c2.xhtml#b",
        "0 Part II c2.xhtml" };
    if (!hostile.isEmpty()) {
        points.append({ "Escape", hostile, {} });
        expected.append("0 Escape ");
    }
    builder.setNavPoints(points);
    EpubFixture fixture;
    QVERIFY(fixture.write(builder));
    epub::EpubDocument document(fixture.bookPath());
    QVERIFY(document.load(fixture.outputDir()));

    QStringList entries;
    const std::function<void(const QList<TocPoint>&, int)> walk = [&](const QList<TocPoint>& list, int depth) {
        for (const TocPoint& point : list) {
            entries.append(QStringLiteral("%1 %2 %3").arg(depth).arg(point.title, point.link->source));
            walk(point.children, depth + 1);
        }
    };
    walk(document.toc(), 0);
    QCOMPARE(entries, expected);
}

void TestEpubDocument::loadingAgain()
{
    EpubFixture fixture;
    QVERIFY(fixture.write(twoPartBook()));
    epub::EpubDocument document(fixture.bookPath());
    QVERIFY(document.load(fixture.outputDir()));
    const QString firstId = document.toc().at(0).id;
    // A second load starts afresh: no doubled chapters or contents.
    QVERIFY(document.load(fixture.outputDir()));
    QCOMPARE(document.chapters().size(), 2);
    QCOMPARE(document.toc().size(), 2);
    QVERIFY(document.toc().at(0).id != firstId);
}

QTEST_GUILESS_MAIN(TestEpubDocument)
#include "tst_epubdocument.moc"

#include "formats/imagedocument.h"
#include "formats/textdocument.h"
#include "formats/toctree.h"
#include "temphome.h"
#include "testfiles.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

namespace {

class FakeImageDocument : public ImageDocument {
public:
    int pages = 0;
    void load(const QString&) override { }
    QString title() const override { return QStringLiteral("fake"); }
    int pageCount() const override { return pages; }
    QList<TocPoint> toc() const override { return {}; }
    QList<SearchItem> search(const QString& query) override { return pageNumberHit(query); }
    QImage requestImage(int page, double) override
    {
        if (page < 1 || page > pages)
            return QImage();
        QImage image(10 * page, 10, QImage::Format_RGB32);
        image.fill(Qt::white);
        return image;
    }
    double scaleFactor() const override { return 1.0; }
};

TocPoint point(const QString& title, int page, const QString& source = QString(), const QList<TocPoint>& children = {})
{
    TocPoint p;
    p.title = title;
    p.link->page = page;
    p.link->source = source.isEmpty() ? title : source;
    p.children = children;
    return p;
}

} // namespace

class TestFormatRecords : public QObject {
    Q_OBJECT

private slots:
    void chapterNavigation()
    {
        TextDocument doc(QStringLiteral("/books/fake.epub"));
        QCOMPARE(doc.nextChapter(QString()), QString());
        QVERIFY(!doc.load(QStringLiteral("/tmp/out")));
        QCOMPARE(doc.outputFolder(), QStringLiteral("/tmp/out"));
        QCOMPARE(doc.tocToJson().toArray().size(), 0);

        doc.addChapter(QStringLiteral("ch1.xhtml"));
        doc.addChapter(QStringLiteral("Ch2.xhtml"));
        doc.addChapter(QStringLiteral("ch3.html"));
        // Names match in any letter case; the ends and unknown names have no neighbour.
        QStringList neighbours;
        for (const char* name : { "", "CH1.XHTML", "ch2.xhtml", "ch3.html", "missing" })
            neighbours.append(doc.nextChapter(QString::fromLatin1(name)));
        neighbours << doc.previousChapter(QStringLiteral("ch1.xhtml"))
                   << doc.previousChapter(QStringLiteral("CH3.html"));
        QCOMPARE(neighbours, QStringList({ "ch1.xhtml", "Ch2.xhtml", "ch3.html", "", "", "", "Ch2.xhtml" }));
        QVERIFY(doc.hasChapter(QStringLiteral("CH2.XHTML")));
        QVERIFY(!doc.hasChapter(QStringLiteral("ch4.html")));

        // A chapter listed twice: the scan passes over a match at the last index.
        doc.addChapter(QStringLiteral("ch1.xhtml"));
        QCOMPARE(doc.nextChapter(QStringLiteral("ch1.xhtml")), QStringLiteral("Ch2.xhtml"));
    }

    void tocLoadFailures()
    {
        TempHome home;
        TocTree tree;
        tree.points = { point(QStringLiteral("kept"), 1) };
        tree.load(home.filePath(QStringLiteral("missing.toc")), QString());
        QCOMPARE(tree.points.size(), 1);

        const QString object = home.filePath(QStringLiteral("object.toc"));
        QVERIFY(testfiles::write(object, "{\"Source\": \"a\"}"));
        tree.load(object, QString());
        QVERIFY(tree.points.isEmpty());

        const QString strings = home.filePath(QStringLiteral("strings.toc"));
        QVERIFY(testfiles::write(strings, "[\"a\", \"b\", {\"Source\": \"c.html\", \"Title\": \"C\"}]"));
        tree.load(strings, QString());
        QCOMPARE(tree.points.size(), 3);
        QCOMPARE(tree.points.at(0).title, QString());
        QCOMPARE(tree.points.at(1).index, 0);
        QCOMPARE(tree.points.at(2).index, 0);
        QCOMPARE(tree.points.at(2).link->source, QStringLiteral("c.html"));

        // A base path only strips whole leading folders, and an empty one strips nothing.
        const QString prefixed = home.filePath(QStringLiteral("prefixed.toc"));
        QVERIFY(testfiles::write(prefixed, R"([{"Source": "/b/OEBPSX/c.html"}, {"Source": "/B/oebps/d.html"}])"));
        tree.load(prefixed, QStringLiteral("/b/OEBPS"));
        QCOMPARE(tree.points.at(0).link->source, QStringLiteral("/b/OEBPSX/c.html"));
        QCOMPARE(tree.points.at(1).link->source, QStringLiteral("d.html"));
        tree.load(prefixed, QString());
        QCOMPARE(tree.points.at(1).link->source, QStringLiteral("/B/oebps/d.html"));
    }

    void tocPageLookup_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("title");
        QTest::newRow("exact parent") << 5 << QStringLiteral("T2");
        QTest::newRow("after last") << 20 << QStringLiteral("T3");
        QTest::newRow("before first") << 0 << QStringLiteral("T1");
        QTest::newRow("second child") << 10 << QStringLiteral("T2b");
        // Children that all start after the wanted page: the descent ends on the first child.
        QTest::newRow("before the first child") << 6 << QStringLiteral("T2a");
    }

    void tocPageLookup()
    {
        QFETCH(int, page);
        QFETCH(QString, title);
        const QList<TocPoint> toc { point(QStringLiteral("T1"), 1),
            point(QStringLiteral("T2"), 5, QString(),
                { point(QStringLiteral("T2a"), 7), point(QStringLiteral("T2b"), 9) }),
            point(QStringLiteral("T3"), 12) };
        QCOMPARE(tocTitleAt(toc, page), title);
        QCOMPARE(tocIdAt(toc, page), tocPointAt(toc, page).id);
    }

    void tocLinksAndSources()
    {
        QCOMPARE(tocTitleAt({}, 3), QString());
        QCOMPARE(tocIdAt({}, 3).size(), 32);
        TocPoint shared = point(QStringLiteral("A"), 1, QStringLiteral("a.html"),
            { point(QStringLiteral("A1"), 2, QStringLiteral("a.html#x")) });
        TocPoint again = shared; // same link: skipped with its subtree
        again.children = { point(QStringLiteral("hidden"), 3, QStringLiteral("hidden.html")) };
        const QList<TocPoint> toc { shared, again, point(QStringLiteral("B"), 4, QStringLiteral("b.html")) };
        QCOMPARE(tocLinks(toc).size(), 3);

        const QList<TocPoint> dup { point(QStringLiteral("A"), 1, QStringLiteral("same.html")),
            point(QStringLiteral("A again"), 2, QStringLiteral("same.html"),
                { point(QStringLiteral("x"), 3, QStringLiteral("never.html")) }),
            point(QStringLiteral("Space"), 4, QStringLiteral("/books/my%20book/c d.html")) };
        QCOMPARE(tocChapterSources(dup, false),
            QList<QString>({ QStringLiteral("same.html"), QStringLiteral("/books/my%20book/c d.html") }));
        QCOMPARE(tocChapterSources(dup, true).last(), QStringLiteral("/books/my%20book/c d.html"));
    }

    void imageDocumentClampsAndSignals()
    {
        FakeImageDocument doc;
        QSignalSpy pageSpy(&doc, &ImageDocument::pageNumberChanged);
        QSignalSpy columnSpy(&doc, &ImageDocument::columnCountChanged);
        doc.setPageNumber(5); // no pages: clamps to 1, which is the current value
        QCOMPARE(pageSpy.count(), 0);
        doc.pages = 10;
        doc.setPageNumber(42);
        QCOMPARE(doc.pageNumber(), 10);
        doc.setPageNumber(10);
        doc.setPageNumber(-4);
        QCOMPARE(doc.pageNumber(), 1);
        QCOMPARE(pageSpy.count(), 2);
        doc.setColumnCount(7);
        doc.setColumnCount(2);
        doc.setColumnCount(0);
        QCOMPARE(doc.columnCount(), 1);
        QCOMPARE(columnSpy.count(), 2);

        QCOMPARE(doc.coverImage().width(), 10);
        const auto spread = doc.requestImages(10, 11, 1.0);
        QCOMPARE(spread.first.width(), 100);
        QVERIFY(spread.second.isNull());

        QCOMPARE(doc.search(QStringLiteral("11")).size(), 0);
        const QList<SearchItem> hits = doc.search(QStringLiteral("4"));
        QCOMPARE(hits.size(), 1);
        QCOMPARE(hits.first().text, QStringLiteral("Go to page 4"));
        QCOMPARE(hits.first().link->page, 4);
        QVERIFY(!hits.first().flag);
    }
};

QTEST_GUILESS_MAIN(TestFormatRecords)
#include "tst_formatrecords.moc"

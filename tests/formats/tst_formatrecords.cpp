#include "formats/textdocument.h"
#include "formats/toctree.h"
#include "temphome.h"
#include "testfiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <functional>

namespace {

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

        // Contents taken from the document as they are gives what reading their cache gives:
        // sources cleaned and relative to the base path, titles simplified, indexes in
        // pre-order, entries with links and ids of their own.
        const QList<TocPoint> made { point(
                                         QStringLiteral(" One\n two "), 1, QStringLiteral("/b/OEBPS/./x/../c.html#a")),
            point(QStringLiteral("Two"), 2, QStringLiteral("/b/OEBPSX/d.html"),
                { point(QStringLiteral("2a"), 3, QStringLiteral("e.html?kelpath=%2FHTML")),
                    point(QStringLiteral("2b"), 4, QString(), { point(QStringLiteral("2b1"), 5) }) }) };
        TocTree fromFile;
        fromFile.read(QJsonDocument(TextDocument::tocToJson(made).toArray()).toJson(), QStringLiteral("/b/OEBPS"));
        TocTree assigned;
        assigned.points = { point(QStringLiteral("old"), 1) };
        assigned.assign(made, QStringLiteral("/b/OEBPS"));
        QCOMPARE(assigned.nextIndex, fromFile.nextIndex);
        const std::function<void(const QList<TocPoint>&, const QList<TocPoint>&, const QList<TocPoint>&)> same
            = [&same](const QList<TocPoint>& got, const QList<TocPoint>& read, const QList<TocPoint>& from) {
                  QCOMPARE(got.size(), read.size());
                  for (int i = 0; i < got.size(); ++i) {
                      QCOMPARE(got.at(i).title, read.at(i).title);
                      QCOMPARE(got.at(i).link->source, read.at(i).link->source);
                      QCOMPARE(got.at(i).index, read.at(i).index);
                      QVERIFY(got.at(i).link != from.at(i).link && got.at(i).id != from.at(i).id);
                      same(got.at(i).children, read.at(i).children, from.at(i).children);
                  }
              };
        same(assigned.points, fromFile.points, made);
        QCOMPARE(assigned.points.first().link->source, QStringLiteral("c.html#a"));
        QCOMPARE(assigned.points.first().title, QStringLiteral("One two"));
        QCOMPARE(assigned.points.last().children.last().children.first().index, 4);
    }

    void tocPageLookup_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("title");
        QTest::newRow("exact parent") << 5 << QStringLiteral("T2");
        QTest::newRow("after last") << 20 << QStringLiteral("T3");
        QTest::newRow("before first") << 0 << QStringLiteral("T1");
        QTest::newRow("second child") << 10 << QStringLiteral("T2b");
        // A parent covers the pages before its first child.
        QTest::newRow("before the first child") << 6 << QStringLiteral("T2");
        QTest::newRow("inside a child") << 8 << QStringLiteral("T2a");
        // The unknown pages of the last entries (links that resolved nowhere) cover nothing.
        QTest::newRow("unknown pages after") << 13 << QStringLiteral("T3");
        // An entry listed late but pointing back into the book does not take the last pages.
        QTest::newRow("late entry pointing back") << 4 << QStringLiteral("Back");
        QTest::newRow("last pages") << 30 << QStringLiteral("T3");
    }

    void tocPageLookup()
    {
        QFETCH(int, page);
        QFETCH(QString, title);
        const QList<TocPoint> toc { point(QStringLiteral("T1"), 1),
            point(QStringLiteral("T2"), 5, QString(),
                { point(QStringLiteral("T2a"), 7), point(QStringLiteral("T2b"), 9) }),
            point(QStringLiteral("T3"), 12), point(QStringLiteral("Back"), 3),
            point(QStringLiteral("Unknown"), -1, QString(), { point(QStringLiteral("Unknown child"), -1) }) };
        QCOMPARE(tocTitleAt(toc, page), title);
        QCOMPARE(tocIdAt(toc, page), tocPointAt(toc, page).id);
        // The titles of many pages at once give the same answers.
        QCOMPARE(TocPageTitles(toc).titleAt(page), title);
    }

    void tocLinksAndSources()
    {
        QCOMPARE(tocTitleAt({}, 3), QString());
        QCOMPARE(TocPageTitles({}).titleAt(3), QString());
        // Two entries starting on one page: the later in reading order holds it.
        const QList<TocPoint> tied { point(QStringLiteral("A"), 2, QString(), { point(QStringLiteral("A1"), 2) }),
            point(QStringLiteral("B"), 4) };
        QCOMPARE(tocTitleAt(tied, 3), QStringLiteral("A1"));
        QCOMPARE(TocPageTitles(tied).titleAt(3), QStringLiteral("A1"));
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
};

QTEST_GUILESS_MAIN(TestFormatRecords)
#include "tst_formatrecords.moc"

#include "arch/safepath.h"

#include <QtTest>

class TestSafePath : public QObject {
    Q_OBJECT

private slots:
    void join_data();
    void join();
    void emptyFolderRefusesEverything();
};

void TestSafePath::join_data()
{
    QTest::addColumn<QString>("destDir");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected"); // empty: refused

    QTest::newRow("plain") << "/data/book"
                           << "page.jpg"
                           << "/data/book/page.jpg";
    QTest::newRow("inner folders") << "/data/book"
                                   << "OEBPS/images/p1.png"
                                   << "/data/book/OEBPS/images/p1.png";
    QTest::newRow("folder entry") << "/data/book"
                                  << "OEBPS/"
                                  << "/data/book/OEBPS";
    QTest::newRow("dest with slash") << "/data/book/"
                                     << "a.txt"
                                     << "/data/book/a.txt";
    QTest::newRow("relative dest") << "out"
                                   << "a.txt"
                                   << "out/a.txt";
    QTest::newRow("backslashes") << "/data/book"
                                 << "images\\p1.png"
                                 << "/data/book/images/p1.png";
    QTest::newRow("dot parts cleaned") << "/data/book"
                                       << "./a/./b//c.txt"
                                       << "/data/book/a/b/c.txt";
    QTest::newRow("dotdot inside") << "/data/book"
                                   << "a/../b.txt"
                                   << "/data/book/b.txt";
    QTest::newRow("dots in names") << "/data/book"
                                   << "..hidden/...txt"
                                   << "/data/book/..hidden/...txt";
    QTest::newRow("unicode") << "/data/book" << QString::fromUtf8("Книга/глава 1.fb2")
                             << QString::fromUtf8("/data/book/Книга/глава 1.fb2");

    QTest::newRow("parent") << "/data/book"
                            << "../evil.txt" << QString();
    QTest::newRow("parent only") << "/data/book"
                                 << ".." << QString();
    QTest::newRow("parent after cleaning") << "/data/book"
                                           << "a/../../evil.txt" << QString();
    QTest::newRow("parent backslash") << "/data/book"
                                      << "..\\evil.txt" << QString();
    QTest::newRow("deep parent") << "/data/book"
                                 << "a/b/../../../../etc/passwd" << QString();
    QTest::newRow("absolute") << "/data/book"
                              << "/etc/passwd" << QString();
    QTest::newRow("absolute backslash") << "/data/book"
                                        << "\\etc\\passwd" << QString();
    QTest::newRow("network name") << "/data/book"
                                  << "//server/share/x" << QString();
    QTest::newRow("drive") << "/data/book"
                           << "C:/Windows/x.dll" << QString();
    QTest::newRow("drive relative") << "/data/book"
                                    << "c:x.dll" << QString();
    QTest::newRow("drive backslash") << "/data/book"
                                     << "D:\\x.dll" << QString();
    QTest::newRow("empty") << "/data/book" << QStringLiteral("") << QString();
    QTest::newRow("dot") << "/data/book"
                         << "." << QString();
    QTest::newRow("dot slash") << "/data/book"
                               << "./" << QString();
    QTest::newRow("nul") << "/data/book" << QString::fromLatin1("a\0b.txt", 7) << QString();
}

void TestSafePath::join()
{
    QFETCH(QString, destDir);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(safeEntryPath(destDir, name), expected);
    if (expected.isEmpty()) {
        QVERIFY(safeEntryName(name).isEmpty());
    } else {
        const QString relative = safeEntryName(name);
        QVERIFY(!relative.startsWith(QLatin1Char('/')) && !relative.endsWith(QLatin1Char('/')));
        QVERIFY(expected.endsWith(QLatin1Char('/') + relative));
    }
}

void TestSafePath::emptyFolderRefusesEverything()
{
    // An empty folder would turn every name into a path below the root.
    QVERIFY(safeEntryPath(QString(), QStringLiteral("a.txt")).isEmpty());
}

QTEST_GUILESS_MAIN(TestSafePath)
#include "tst_safepath.moc"

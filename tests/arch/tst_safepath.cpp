#include "arch/safepath.h"

#include <QtTest>

class TestSafePath : public QObject {
    Q_OBJECT

private slots:
    void join_data();
    void join();
};

// A name joined to a folder; an empty expected path means refused.
static void row(const char* tag, const QString& destDir, const QString& name, const QString& expected = QString())
{
    QTest::newRow(tag) << destDir << name << expected;
}

void TestSafePath::join_data()
{
    QTest::addColumn<QString>("destDir");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    const QString book = QStringLiteral("/data/book");

    row("plain", book, "page.jpg", "/data/book/page.jpg");
    row("inner folders", book, "OEBPS/images/p1.png", "/data/book/OEBPS/images/p1.png");
    row("folder entry", book, "OEBPS/", "/data/book/OEBPS");
    row("dest with slash", "/data/book/", "a.txt", "/data/book/a.txt");
    row("relative dest", "out", "a.txt", "out/a.txt");
    row("backslashes", book, "images\\p1.png", "/data/book/images/p1.png");
    row("dot parts cleaned", book, "./a/./b//c.txt", "/data/book/a/b/c.txt");
    row("dotdot inside", book, "a/../b.txt", "/data/book/b.txt");
    row("dots in names", book, "..hidden/...txt", "/data/book/..hidden/...txt");
    row("unicode", book, QString::fromUtf8("Книга/глава 1.fb2"), QString::fromUtf8("/data/book/Книга/глава 1.fb2"));

    row("parent", book, "../evil.txt");
    row("parent only", book, "..");
    row("parent after cleaning", book, "a/../../evil.txt");
    row("parent backslash", book, "..\\evil.txt");
    row("deep parent", book, "a/b/../../../../etc/passwd");
    row("absolute", book, "/etc/passwd");
    row("absolute backslash", book, "\\etc\\passwd");
    row("network name", book, "//server/share/x");
    row("drive", book, "C:/Windows/x.dll");
    row("drive relative", book, "c:x.dll");
    row("drive backslash", book, "D:\\x.dll");
    row("empty", book, QStringLiteral(""));
    row("dot", book, ".");
    row("dot slash", book, "./");
    row("nul", book, QString::fromLatin1("a\0b.txt", 7));
    // An empty folder would turn every name into a path below the root.
    row("no folder", QString(), "a.txt");
}

void TestSafePath::join()
{
    QFETCH(QString, destDir);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(safeEntryPath(destDir, name), expected);
    if (destDir.isEmpty())
        return; // the name itself is fine
    if (expected.isEmpty()) {
        QVERIFY(safeEntryName(name).isEmpty());
    } else {
        const QString relative = safeEntryName(name);
        QVERIFY(!relative.startsWith(QLatin1Char('/')) && !relative.endsWith(QLatin1Char('/')));
        QVERIFY(expected.endsWith(QLatin1Char('/') + relative));
    }
}

QTEST_GUILESS_MAIN(TestSafePath)
#include "tst_safepath.moc"

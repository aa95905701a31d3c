#include "appdirs.h"
#include "displayformats.h"
#include "temphome.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>

class TestAppDirs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Brindle Folvane")); }

    void foldersLiveUnderTheHiddenAppFolder()
    {
        TempHome home;
        QVERIFY(home.isValid());
        const QString root = home.path() + QStringLiteral("/.Brindle Folvane");
        const QString book = QStringLiteral("/books/Война и мир.epub");

        QCOMPARE(booksDir(), root + QStringLiteral("/books"));
        // Named by the MD5 of the path's UTF-8 bytes, not of its Latin-1 form.
        QCOMPARE(md5Hex(book), QStringLiteral("251e3764cc10b438ac438237c4c2e1ae"));
        QCOMPARE(bookDataDir(book), root + QStringLiteral("/books/") + md5Hex(book));
        QVERIFY(QDir(bookDataDir(book)).exists());
        QCOMPARE(databasePath(), root + QStringLiteral("/data/ebooklib.sqlite3"));
        QVERIFY(QDir(root + QStringLiteral("/data")).exists());
        QVERIFY(!QFile::exists(databasePath()));
        QCOMPARE(importDir(), root + QStringLiteral("/Import"));
        QVERIFY(QDir(importDir()).exists());
        QCOMPARE(coverFilePath(book), root + QStringLiteral("/covers/") + md5Hex(book) + QStringLiteral(".jpg"));
        QVERIFY(QDir(root + QStringLiteral("/covers")).exists());

        QCOMPARE(legacyBookDataDir(book), home.path() + QStringLiteral("/.folvane/books/") + md5Hex(book));
        QVERIFY(!QDir(legacyBookDataDir(book)).exists());
        QCOMPARE(legacyDatabasePath(), home.path() + QStringLiteral("/.folvane/data/ebooklib.sqlite3"));
    }

    // Filters ignore case, results are appended, and links looping back end the walk.
    void findFilesRecursively()
    {
        TempHome home;
        QDir root(home.path());
        for (const char* name : { "lib/one.epub", "lib/sub/two.FB2", "lib/sub/notes.doc" })
            QVERIFY(testfiles::write(root.filePath(name), QByteArray()));
        QVERIFY(QFile::link(root.filePath(QStringLiteral("lib")), root.filePath(QStringLiteral("lib/sub/up"))));
        QVERIFY(QFile::link(root.filePath(QStringLiteral("lib/sub")), root.filePath(QStringLiteral("lib/self"))));
        QStringList found { QStringLiteral("already-there") };
        ::findFilesRecursively(found, root.filePath(QStringLiteral("lib")), { "*.epub", "*.fb2" });
        QCOMPARE(found.takeFirst(), QStringLiteral("already-there"));
        for (QString& path : found)
            path = QFileInfo(path).canonicalFilePath(); // reached through a link or not
        found.sort();
        QCOMPARE(found,
            QStringList(
                { root.filePath(QStringLiteral("lib/one.epub")), root.filePath(QStringLiteral("lib/sub/two.FB2")) }));
    }

    void dates()
    {
        const QDateTime midnight(QDate::currentDate(), QTime(0, 0));
        QCOMPARE(formatDate(QDateTime()), QString());
        QCOMPARE(formatDate(midnight.addSecs(1)), QStringLiteral("Today"));
        QVERIFY(formatDate(midnight) != QStringLiteral("Today"));
        const QDateTime older(QDate(2001, 3, 4), QTime(9, 5));
        QCOMPARE(formatDate(older), older.toString(QStringLiteral("d MMM yyyy")));
        QVERIFY(formatDate(older).endsWith(QStringLiteral("2001")));
        const QDate thisYear(QDate::currentDate().year(), 1, 1);
        if (QDateTime(thisYear, QTime(0, 0)) < midnight)
            QCOMPARE(formatDate(QDateTime(thisYear, QTime(12, 0))),
                QDateTime(thisYear, QTime(12, 0)).toString(QStringLiteral("d MMM")));
        QCOMPARE(formatDateTime(midnight.addSecs(9 * 3600 + 5 * 60)), QStringLiteral("'Today,' 09:05"));
        QCOMPARE(formatDateTime(QDateTime()), QString());
    }

    void pagesAndSizes_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("below KB") << qint64(1023) << QStringLiteral("1023.0B");
        QTest::newRow("one KB") << qint64(1024) << QStringLiteral("1.0KB");
        QTest::newRow("GB") << qint64(5) * 1024 * 1024 * 1024 << QStringLiteral("5.0GB");
        QTest::newRow("past TB stays TB") << qint64(2048) * 1024 * 1024 * 1024 * 1024 << QStringLiteral("2048.0TB");
    }

    void pagesAndSizes()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(formatFileSize(bytes), text);
        QCOMPARE(formatPageNumber(0), QString());
        QCOMPARE(formatPageNumber(-3), QString());
        QCOMPARE(formatPageNumber(12), QStringLiteral("p.12"));
    }
};

QTEST_GUILESS_MAIN(TestAppDirs)
#include "tst_appdirs.moc"

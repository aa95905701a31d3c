#include "librarytestdb.h"
#include "testfiles.h"

#include "appdirs.h"
#include "models/bookprovider.h"
#include "models/librarydatabase.h"
#include "models/librarymessagebox.h"
#include "temphome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {

const QStringList kBookColumns { "id", "cover", "full_path", "author", "title", "format", "time_added",
    "time_last_view", "position", "max_position", "is_favorite", "is_deleted", "notes_count", "book_hash",
    "use_user_cover" };

const QString kBooksBeforeHash = QStringLiteral(
    "create table books (id INTEGER primary key,cover TEXT,full_path TEXT,author TEXT,title TEXT,format "
    "INTEGER,time_added INTEGER,time_last_view INTEGER,position INTEGER,max_position INTEGER,is_favorite "
    "INTEGER,is_deleted INTEGER");

const QStringList kObsoleteBookmarks {
    QStringLiteral("create table bookmarks (id INTEGER primary key, book_id INTEGER, position INTEGER, title TEXT)"),
    QStringLiteral("CREATE TRIGGER delete_book_bookmarks BEFORE DELETE ON books BEGIN delete from bookmarks "
                   "where book_id=old.id; END;"),
};

QString insertOldBook(int id, const QString& path, const QString& title, int notes)
{
    return QStringLiteral(
        "insert into books values (%1, '', '%2', 'Bulgakov', '%3', 2, 1600000000, 0, 5, 90, 1, 0, %4)")
        .arg(id)
        .arg(BookProvider::encodeText(path), title)
        .arg(notes);
}

} // namespace

class TestLibraryDbSchema : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Brindle Folvane")); }

    void cleanup() { closeLibrary(); }

    void newFileGetsTheWholeSchema()
    {
        TempHome home;
        BoxRecorder recorder;
        const QString path = databasePath();
        QVERIFY(!QFile::exists(path));

        QVERIFY(BookProvider::instance()->createConnection(path));
        QVERIFY(QFile::exists(path));
        QCOMPARE(schemaNames(QStringLiteral("table")),
            QStringList({ "book_folder_binder", "book_metadata", "books", "folders" }));
        QCOMPARE(schemaNames(QStringLiteral("trigger")),
            QStringList(
                { "delete_book_folder_bind_books", "delete_book_folder_bind_folders", "delete_book_metadata" }));
        QCOMPARE(schemaNames(QStringLiteral("index")), QStringList({ "book_metadata_book_id_meta_type" }));
        QCOMPARE(columnsOf(QStringLiteral("books")), kBookColumns);
        QCOMPARE(columnsOf(QStringLiteral("folders")), QStringList({ "id", "parent_id", "title" }));
        QCOMPARE(
            columnsOf(QStringLiteral("book_metadata")), QStringList({ "id", "book_id", "meta_type", "meta_value" }));
        QVERIFY(recorder.boxes.isEmpty());
        QVERIFY2(!QFile::exists(LibraryDatabase::backupPath(path)), "a new file needs no backup");
    }

    void olderFileIsUpgradedKeepingItsRowsAndBookmarks()
    {
        TempHome home;
        BoxRecorder recorder;
        const QString path = databasePath();
        const QString book = QStringLiteral("/home/reader/Книги/Мастер и Маргарита.fb2");
        QStringList statements { kBooksBeforeHash + QStringLiteral(",notes_count INTEGER)"),
            insertOldBook(1, book, QStringLiteral("Master"), 3),
            insertOldBook(2, QStringLiteral("/b/other.epub"), QStringLiteral("Other"), 0),
            QStringLiteral("create table folders (id INTEGER primary key,parent_id INTEGER,title TEXT UNIQUE)"),
            QStringLiteral("insert into folders values (7, 0, 'Classics')"),
            QStringLiteral("create table book_folder_binder(book_id INTEGER NOT NULL,folder_id INTEGER NOT "
                           "NULL,PRIMARY KEY(book_id))"),
            QStringLiteral("insert into book_folder_binder values (1, 7)") };
        statements << kObsoleteBookmarks << QStringLiteral("insert into bookmarks values (1, 1, 40, 'Ch 2')")
                   << QStringLiteral("insert into bookmarks values (2, 2, 10, 'Ch 1')");
        QVERIFY(writeDatabaseFile(path, statements));
        const QByteArray original = fileHash(path);

        QVERIFY(BookProvider::instance()->createConnection(path));
        QVERIFY(recorder.boxes.isEmpty());
        // Exactly the two missing columns, appended in order.
        QCOMPARE(columnsOf(QStringLiteral("books")), kBookColumns);
        QCOMPARE(fileHash(LibraryDatabase::backupPath(path)), original);

        const BookDto master = BookProvider::instance()->bookById(1);
        QCOMPARE(master.full_path, book);
        QCOMPARE(master.title, QStringLiteral("Master"));
        QCOMPARE(master.notes_count, 3);
        QCOMPARE(master.max_position, 90);
        QCOMPARE(master.is_favorite, 1);
        QVERIFY(master.book_hash.isNull());
        QVERIFY(!master.use_user_cover);
        QCOMPARE(BookProvider::instance()->findCategoryByBook(1), 7);

        // The bookmarks were never moved anywhere else: the table stays, its trigger goes.
        QCOMPARE(scalar(QStringLiteral("select count(*) from bookmarks")), QStringLiteral("2"));
        QVERIFY(!schemaNames(QStringLiteral("trigger")).contains(QStringLiteral("delete_book_bookmarks")));
        QVERIFY(schemaNames(QStringLiteral("index")).contains(QStringLiteral("book_metadata_book_id_meta_type")));
        QCOMPARE(BookProvider::instance()->deleteFromLibrary(2), QStringLiteral("/b/other.epub"));
        QCOMPARE(scalar(QStringLiteral("select count(*) from bookmarks")), QStringLiteral("2"));

        // A second start finds nothing to change: the file stays byte for byte, no new backup.
        closeLibrary();
        QVERIFY(QFile::remove(LibraryDatabase::backupPath(path)));
        const QByteArray upgraded = fileHash(path);
        QVERIFY(BookProvider::instance()->createConnection(path));
        QCOMPARE(fileHash(path), upgraded);
        QVERIFY(!QFile::exists(LibraryDatabase::backupPath(path)));
        QVERIFY(recorder.boxes.isEmpty());
    }

    void emptyObsoleteBookmarksAreDroppedAndAnOldBackupIsKept()
    {
        TempHome home;
        BoxRecorder recorder;
        const QString path = databasePath();
        QVERIFY(writeDatabaseFile(path,
            QStringList { kBooksBeforeHash + QLatin1Char(')'),
                QStringLiteral("insert into books values (4, '', '', 'A', 'T', 0, 1, 0, 0, 0, 0, 0)") }
                + kObsoleteBookmarks));
        QVERIFY(testfiles::write(LibraryDatabase::backupPath(path), "the first backup"));

        QVERIFY(BookProvider::instance()->createConnection(path));
        QCOMPARE(columnsOf(QStringLiteral("books")), kBookColumns);
        QVERIFY(!schemaNames(QStringLiteral("table")).contains(QStringLiteral("bookmarks")));
        QVERIFY(!schemaNames(QStringLiteral("trigger")).contains(QStringLiteral("delete_book_bookmarks")));
        QCOMPARE(testfiles::read(LibraryDatabase::backupPath(path)), QByteArray("the first backup"));
        QCOMPARE(BookProvider::instance()->bookById(4).notes_count, 0);
        QVERIFY(recorder.boxes.isEmpty());
    }

    // Rows are read by column name order, not by the table's column positions.
    void lateColumnsAddedInAnotherOrderReadCorrectly()
    {
        TempHome home;
        const QString path = databasePath();
        QVERIFY(writeDatabaseFile(path,
            { kBooksBeforeHash + QStringLiteral(",use_user_cover INTEGER,book_hash TEXT,notes_count INTEGER)"),
                QStringLiteral("insert into books values (3, '', '%1', 'Author', 'Title', 3, 1700000000, 1700000500, "
                               "12, 40, 0, 0, 1, 'feedbeef', 6)")
                    .arg(BookProvider::encodeText(QStringLiteral("/pdfs/a.pdf"))) }));
        const QByteArray original = fileHash(path);
        QVERIFY(BookProvider::instance()->createConnection(path));

        const auto check = [](const BookDto& book) {
            QCOMPARE(book.id, 3);
            QCOMPARE(book.full_path, QStringLiteral("/pdfs/a.pdf"));
            QCOMPARE(book.format, 3);
            QCOMPARE(book.time_last_view, 1700000500u);
            QCOMPARE(book.notes_count, 6);
            QCOMPARE(book.book_hash, QStringLiteral("feedbeef"));
            QVERIFY(book.use_user_cover);
        };
        check(BookProvider::instance()->bookById(3));
        check(BookProvider::instance()->bookByPath(QStringLiteral("/pdfs/a.pdf")));
        QCOMPARE(BookProvider::instance()->allBooks().size(), 1);
        check(BookProvider::instance()->allBooks().first());
        check(BookProvider::instance()->allBooksWithFolderTitle().first());
        // Only tables, triggers and the index were added: no ALTER or DROP, so no backup.
        QVERIFY(fileHash(path) != original);
        QVERIFY(!QFile::exists(LibraryDatabase::backupPath(path)));
    }

    void garbageFileFailsAtTheFirstStatement()
    {
        TempHome home;
        BoxRecorder recorder;
        const QString path = databasePath();
        QVERIFY(testfiles::write(path, QByteArray("not a library!\n").repeated(512)));
        const QByteArray original = fileHash(path);

        QVERIFY(!BookProvider::instance()->createConnection(path));
        QCOMPARE(recorder.boxes.size(), 1);
        QCOMPARE(recorder.boxes.first().first, QStringLiteral("Creation table failed"));
        QVERIFY2(recorder.boxes.first().second.contains(QStringLiteral("not a database")),
            qPrintable(recorder.boxes.first().second));
        QCOMPARE(fileHash(path), original);
        QVERIFY(!QFile::exists(LibraryDatabase::backupPath(path)));
    }

    void folderCannotBeOpened()
    {
        TempHome home;
        BoxRecorder recorder;
        const QString path = home.filePath(QStringLiteral("a-folder.sqlite3"));
        QVERIFY(QDir().mkpath(path));

        QVERIFY(!BookProvider::instance()->createConnection(path));
        QCOMPARE(recorder.boxes.size(), 1);
        QCOMPARE(recorder.boxes.first(),
            std::make_pair(QStringLiteral("Failed to open database"), QStringLiteral("Unable to connect to database")));
    }

    void withoutAnOpenLibraryOperationsReturnTheirFailureValues()
    {
        BookProvider* provider = BookProvider::instance();
        BookDto book;
        book.full_path = QStringLiteral("/b/x.epub");
        QCOMPARE(provider->add(book), -1);
        QVERIFY(!provider->lastError().isEmpty());
        QCOMPARE(provider->bookById(1).id, -1);
        QVERIFY(provider->allBooks().isEmpty());
        QCOMPARE(provider->addCategory(QStringLiteral("F"), 0), -1);
        QVERIFY(provider->deleteFromLibrary(1).isNull());
        QCOMPARE(provider->categoryCounts().all_count, 0);
    }

    void defaultMessageBoxOnlyLogsAndAnswersCancel()
    {
        LibraryMessageBox::setHandler(nullptr);
        QCOMPARE(LibraryMessageBox::critical(QStringLiteral("Title"), QStringLiteral("Text")), QMessageBox::Cancel);
    }
};

QTEST_GUILESS_MAIN(TestLibraryDbSchema)
#include "tst_librarydb_schema.moc"

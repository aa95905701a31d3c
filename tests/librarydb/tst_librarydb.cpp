// The library database: the file's schema and its upgrade, then the operations on an open library.

#include "hotjournal.h"
#include "librarytestdb.h"
#include "ordinaryuser.h"
#include "smalldisk.h"
#include "sqlitepages.h"
#include "testfiles.h"

#include "appdirs.h"
#include "formats/bookformat.h"
#include "models/bookprovider.h"
#include "models/librarycheck.h"
#include "models/librarydatabase.h"
#include "models/librarymessagebox.h"
#include "models/librarysalvage.h"
#include "models/sqlitepagereader.h"
#include "temphome.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <limits>
#include <memory>

#include <sys/inotify.h>
#include <unistd.h>

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

using sqlitepages::damagePage;

int count(const QString& sql) { return scalar(sql).toInt(); }

// A library of 200 books with long metadata: many pages of both tables.
bool fillLibrary(BookProvider* db)
{
    QList<BookDto> books;
    for (int i = 0; i < 200; ++i) {
        BookDto book
            = makeBook(QStringLiteral("/b/%1.epub").arg(i), QStringLiteral("Book %1").arg(i), BookFormat::Epub);
        book.metadata = { { 6, QStringLiteral("A description as long as publishers write them. ").repeated(8) } };
        books.append(book);
    }
    QList<int> ids;
    return db->addAll(books, ids);
}

// Every book of the open library as the program reads it back: its row, its folder and its
// metadata. The fields after kRowFields come from other tables than books.
const int kFolderField = 8;
const int kPublisherField = 9;
const int kDescriptionField = 10;
QMap<int, QStringList> libraryContents(BookProvider* db)
{
    QMap<int, QStringList> contents;
    for (const BookDto& book : db->allBooks()) {
        contents.insert(book.id,
            QStringList { book.title, book.full_path, book.author, book.cover, QString::number(book.is_favorite),
                QString::number(book.is_deleted), QString::number(book.notes_count), QString::number(book.max_position),
                QString::number(db->findCategoryByBook(book.id)), db->getMetaData(book.id, 2),
                db->getMetaData(book.id, 6) });
    }
    return contents;
}

// The root page of a table or index of the open library.
int rootPage(const QString& name)
{
    return scalar(QStringLiteral("select rootpage from sqlite_master where name = '%1'").arg(name)).toInt();
}

// The rows of a table of the open library: rowid and the given column.
QMap<qint64, QString> tableColumn(const QString& table, const QString& column)
{
    QMap<qint64, QString> rows;
    QSqlQuery query;
    if (query.exec(QStringLiteral("select rowid, %1 from %2").arg(column, table))) {
        while (query.next())
            rows.insert(query.value(0).toLongLong(), query.value(1).toString());
    }
    return rows;
}

// Whether a file's name was gone from its folder at some moment (moved away or deleted) while the
// watch lives.
class NameWatch {
public:
    explicit NameWatch(const QString& path)
        : m_name(QFile::encodeName(QFileInfo(path).fileName()))
        , m_fd(::inotify_init1(IN_NONBLOCK))
    {
        m_watching = m_fd >= 0
            && ::inotify_add_watch(
                   m_fd, QFile::encodeName(QFileInfo(path).path()).constData(), IN_DELETE | IN_MOVED_FROM)
                >= 0;
    }
    ~NameWatch()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    NameWatch(const NameWatch&) = delete;
    NameWatch& operator=(const NameWatch&) = delete;

    bool isWatching() const { return m_watching; }
    bool wasGone()
    {
        alignas(inotify_event) char buffer[64 * 1024];
        ssize_t size = 0;
        while ((size = ::read(m_fd, buffer, sizeof buffer)) > 0) {
            for (const char* at = buffer; at < buffer + size;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                m_gone = m_gone || (event->len > 0 && QByteArray(event->name) == m_name);
                at += sizeof(inotify_event) + event->len;
            }
        }
        return m_gone;
    }

private:
    QByteArray m_name;
    int m_fd = -1;
    bool m_watching = false;
    bool m_gone = false;
};

// A library of the given books made through a private connection: today's tables, with a detail
// of each book when asked, or the books table of the oldest version alone. Paths long enough that
// the books fill several leaves.
bool writeLibraryFile(const QString& path, int books, bool olderVersion, bool details = false)
{
    QStringList statements
        = olderVersion ? QStringList { kBooksBeforeHash + QLatin1Char(')') } : LibraryDatabase::tableStatements();
    for (int i = 1; i <= books; ++i) {
        statements << QStringLiteral("insert into books values (%1, '', '%2', 'Author', 'Book %1', 2, 1600000000, 0, "
                                     "0, 0, 0, 0%3)")
                          .arg(i)
                          .arg(BookProvider::encodeText(
                              QStringLiteral("/b/%1/").arg(i) + QString(200, QLatin1Char('p'))))
                          .arg(olderVersion ? QString() : QStringLiteral(", 0, NULL, 0"));
        if (details && !olderVersion)
            statements << QStringLiteral("insert into book_metadata values (%1, %1, 2, 'Publisher %1')").arg(i);
    }
    return QDir().mkpath(QFileInfo(path).path()) && writeDatabaseFile(path, statements);
}

// What the sqlite3 program says of a copy of the file with its journal, which it rolls back there.
QString sqliteSays(const QString& path, const QString& sql)
{
    QTemporaryDir copies;
    const QString copy = copies.filePath(QStringLiteral("copy.sqlite3"));
    if (!QFile::copy(path, copy)
        || (QFile::exists(path + QStringLiteral("-journal"))
            && !QFile::copy(path + QStringLiteral("-journal"), copy + QStringLiteral("-journal"))))
        return QString();
    const QString program = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (program.isEmpty()) {
        // Without the program, SQLite through a connection of its own.
        QString result;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("independent"));
            db.setDatabaseName(copy);
            QSqlQuery query(db);
            QStringList rows;
            if (db.open() && query.exec(sql)) {
                while (query.next())
                    rows << query.value(0).toString() + QLatin1Char('|') + query.value(1).toString();
            }
            result = rows.join(QLatin1Char('\n'));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("independent"));
        return result;
    }
    QProcess sqlite;
    sqlite.start(program, { copy, sql });
    if (!sqlite.waitForFinished(60000) || sqlite.exitCode() != 0)
        return QString();
    return QString::fromUtf8(sqlite.readAllStandardOutput()).trimmed();
}
} // namespace

class TestLibraryDb : public QObject {
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;
    BookProvider* db = BookProvider::instance();
    // Libraries that buildLibrary() made once, by page size, for the tests that damage a copy.
    QTemporaryDir m_libraries;

    QString libraryBeforeRemovals(int pageSize) const
    {
        return m_libraries.filePath(QStringLiteral("library-%1-before.sqlite3").arg(pageSize));
    }

    bool copyOfLibrary(int pageSize, const QString& path)
    {
        const QString made = m_libraries.filePath(QStringLiteral("library-%1.sqlite3").arg(pageSize));
        if (!QFile::exists(made)) {
            if (!writeDatabaseFile(made,
                    { QStringLiteral("PRAGMA page_size = %1").arg(pageSize), QStringLiteral("CREATE TABLE sized (x)"),
                        QStringLiteral("DROP TABLE sized") })
                || !db->createConnection(made) || !buildLibrary(db, 300, libraryBeforeRemovals(pageSize)))
                return false;
            closeLibrary();
        }
        return QDir().mkpath(QFileInfo(path).path()) && QFile::copy(made, path);
    }

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Brindle Folvane")); }
    void init() { m_home = std::make_unique<TempHome>(); }

    void cleanup()
    {
        closeLibrary();
        m_home.reset();
    }

    void olderFileIsUpgradedKeepingItsRowsAndBookmarks()
    {
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

        QVERIFY(db->createConnection(path));
        QVERIFY(recorder.boxes.isEmpty());
        // Exactly the two missing columns, appended in order.
        QCOMPARE(columnsOf(QStringLiteral("books")), kBookColumns);
        QCOMPARE(fileHash(LibraryDatabase::backupPath(path)), original);

        const BookDto master = db->bookById(1);
        QCOMPARE(master.full_path, book);
        QCOMPARE(master.title, QStringLiteral("Master"));
        QCOMPARE(master.notes_count, 3);
        QCOMPARE(master.max_position, 90);
        QCOMPARE(master.is_favorite, 1);
        QVERIFY(master.book_hash.isNull());
        QVERIFY(!master.use_user_cover);
        QCOMPARE(db->findCategoryByBook(1), 7);

        // The bookmarks were never moved anywhere else: the table stays, its trigger goes.
        QCOMPARE(scalar(QStringLiteral("select count(*) from bookmarks")), QStringLiteral("2"));
        QVERIFY(!schemaNames(QStringLiteral("trigger")).contains(QStringLiteral("delete_book_bookmarks")));
        QVERIFY(schemaNames(QStringLiteral("index")).contains(QStringLiteral("book_metadata_book_id_meta_type")));
        QVERIFY(schemaNames(QStringLiteral("index")).contains(QStringLiteral("books_full_path")));
        QCOMPARE(db->deleteFromLibrary(2), QStringLiteral("/b/other.epub"));
        QCOMPARE(scalar(QStringLiteral("select count(*) from bookmarks")), QStringLiteral("2"));

        // A second start finds nothing to change: the file stays byte for byte, no new backup.
        closeLibrary();
        QVERIFY(QFile::remove(LibraryDatabase::backupPath(path)));
        const QByteArray upgraded = fileHash(path);
        QVERIFY(db->createConnection(path));
        QCOMPARE(fileHash(path), upgraded);
        QVERIFY(!QFile::exists(LibraryDatabase::backupPath(path)));
        QVERIFY(recorder.boxes.isEmpty());
    }

    void emptyObsoleteBookmarksAreDroppedAndAnOldBackupIsKept()
    {
        BoxRecorder recorder;
        const QString path = databasePath();
        QVERIFY(writeDatabaseFile(path,
            QStringList { kBooksBeforeHash + QLatin1Char(')'),
                QStringLiteral("insert into books values (4, '', '', 'A', 'T', 0, 1, 0, 0, 0, 0, 0)") }
                + kObsoleteBookmarks));
        QVERIFY(testfiles::write(LibraryDatabase::backupPath(path), "the first backup"));

        QVERIFY(db->createConnection(path));
        QCOMPARE(columnsOf(QStringLiteral("books")), kBookColumns);
        QVERIFY(!schemaNames(QStringLiteral("table")).contains(QStringLiteral("bookmarks")));
        QVERIFY(!schemaNames(QStringLiteral("trigger")).contains(QStringLiteral("delete_book_bookmarks")));
        QCOMPARE(testfiles::read(LibraryDatabase::backupPath(path)), QByteArray("the first backup"));
        QCOMPARE(db->bookById(4).notes_count, 0);
        QVERIFY(recorder.boxes.isEmpty());
    }

    // Rows are read by column name order, not by the table's column positions.
    void lateColumnsAddedInAnotherOrderReadCorrectly()
    {
        const QString path = databasePath();
        QVERIFY(writeDatabaseFile(path,
            { kBooksBeforeHash + QStringLiteral(",use_user_cover INTEGER,book_hash TEXT,notes_count INTEGER)"),
                QStringLiteral("insert into books values (3, '', '%1', 'Author', 'Title', 3, 1700000000, 1700000500, "
                               "12, 40, 0, 0, 1, 'feedbeef', 6)")
                    .arg(BookProvider::encodeText(QStringLiteral("/pdfs/a.pdf"))) }));
        const QByteArray original = fileHash(path);
        QVERIFY(db->createConnection(path));

        const auto check = [](const BookDto& book) {
            QCOMPARE(book.id, 3);
            QCOMPARE(book.full_path, QStringLiteral("/pdfs/a.pdf"));
            QCOMPARE(book.format, 3);
            QCOMPARE(book.time_last_view, 1700000500u);
            QCOMPARE(book.notes_count, 6);
            QCOMPARE(book.book_hash, QStringLiteral("feedbeef"));
            QVERIFY(book.use_user_cover);
        };
        check(db->bookById(3));
        check(db->allBooksWithFolderTitle().value(0));
        // Only tables, triggers and the index were added: no ALTER or DROP, so no backup.
        QVERIFY(fileHash(path) != original);
        QVERIFY(!QFile::exists(LibraryDatabase::backupPath(path)));
    }

    // A file that is no database, or one whose pages are damaged, is moved aside under a dated
    // name, never deleted, and the user is told where it is; a sound backup is offered, otherwise
    // (or when declined) a new library starts.
    void damagedFileIsKeptAsideAndReplaced_data()
    {
        QTest::addColumn<QByteArray>("damage"); // empty: a real library with a page overwritten
        QTest::addColumn<bool>("backup");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("books"); // in the library afterwards
        const QByteArray garbage = QByteArray("not a library!\n").repeated(512);
        QTest::newRow("garbage, no backup") << garbage << false << int(QMessageBox::Ok) << 0;
        QTest::newRow("garbage, backup restored") << garbage << true << int(QMessageBox::Ok) << 1;
        QTest::newRow("garbage, backup declined") << garbage << true << int(QMessageBox::Cancel) << 0;
        QTest::newRow("damaged page, backup restored") << QByteArray() << true << int(QMessageBox::Ok) << 1;
    }

    void damagedFileIsKeptAsideAndReplaced()
    {
        QFETCH(QByteArray, damage);
        QFETCH(bool, backup);
        QFETCH(int, answer);
        QFETCH(int, books);
        const QString path = databasePath();
        if (damage.isEmpty()) {
            // A library of many rows whose pages after the first (the books table) are overwritten.
            QStringList statements { kBooksBeforeHash + QStringLiteral(")") };
            for (int i = 1; i <= 200; ++i)
                statements << QStringLiteral("insert into books values (%1, '', '%2', 'A', '%3', 2, 0, 0, 0, 0, 0, 0)")
                                  .arg(i)
                                  .arg(
                                      QString(QLatin1Char('p')).repeated(100), QString(QLatin1Char('t')).repeated(100));
            QVERIFY(writeDatabaseFile(path, statements));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek(4096 + 8));
            const QByteArray overwritten(int(file.size() - 4096 - 8), '\xff');
            QVERIFY(file.write(overwritten) == overwritten.size());
            file.close();
        } else {
            QVERIFY(testfiles::write(path, damage));
        }
        const QByteArray original = fileHash(path);
        if (backup) {
            QVERIFY(writeDatabaseFile(LibraryDatabase::backupPath(path),
                { kBooksBeforeHash + QStringLiteral(",notes_count INTEGER)"),
                    insertOldBook(1, QStringLiteral("/b/kept.fb2"), QStringLiteral("Kept"), 2) }));
        }
        QList<std::pair<QString, QString>> boxes;
        LibraryMessageBox::setHandler([&](const QString& title, const QString& text, QMessageBox::StandardButtons) {
            boxes.append({ title, text });
            return QMessageBox::StandardButton(answer);
        });
        const auto restore = qScopeGuard([] { LibraryMessageBox::setHandler({}); });

        // The new library takes the damaged file's place in one step: the name is never empty.
        NameWatch watch(path);
        QVERIFY(watch.isWatching());
        QVERIFY(db->createConnection(path));
        QVERIFY(!watch.wasGone());
        QCOMPARE(db->allBooks().size(), books);
        if (books > 0)
            QCOMPARE(db->bookById(1).title, QStringLiteral("Kept"));
        // One box, which names the cause and where the damaged file is; the file is there as it was.
        QCOMPARE(boxes.size(), 1);
        const QStringList kept
            = QDir(QFileInfo(path).path()).entryList({ QFileInfo(path).fileName() + QStringLiteral(".damaged-*") });
        QCOMPARE(kept.size(), 1);
        const QString keptPath = QFileInfo(path).dir().filePath(kept.first());
        QCOMPARE(fileHash(keptPath), original);
        QVERIFY2(boxes.first().second.contains(keptPath), qPrintable(boxes.first().second));
        QVERIFY2(boxes.first().second.contains(QStringLiteral("damaged")), qPrintable(boxes.first().second));
        QCOMPARE(QFile::exists(LibraryDatabase::backupPath(path)), backup);
        QVERIFY(kept.first().contains(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));

        // A run that stopped once a salvage had finished its new file, where the library file is
        // gone: the next start takes the new file as the library.
        const int added = db->add(makeBook(QStringLiteral("/b/added.epub"), QStringLiteral("Added"), BookFormat::Epub));
        QVERIFY(added > 0);
        closeLibrary();
        QVERIFY(QFile::rename(path, path + QStringLiteral(".rebuilt")));
        boxes.clear();
        QVERIFY(db->createConnection(path));
        QCOMPARE(db->bookById(added).title, QStringLiteral("Added"));
        QCOMPARE(db->allBooks().size(), books + 1);
        QVERIFY(boxes.isEmpty());
        QVERIFY(!QFile::exists(path + QStringLiteral(".rebuilt")));
    }

    // The rows of a damaged library that still read are carried into the new one: with pages
    // overwritten, the way to them broken or the file cut short, the start keeps every book whose
    // row lies on intact bytes, with its metadata, folder and favourite under its id, and one box
    // says how many books came back, of how many where the file can tell, and where the damaged
    // file is. A backup is offered only when it holds more books. What must come back is worked
    // out from the sound file's own pages before the damage.
    void damagedLibraryKeepsEveryReadableRow_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("pageSize");
        QTest::addColumn<int>("backup"); // books in a sound backup; 0: none
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("counted"); // the box can say how many books the file held
        QTest::addColumn<bool>("diskFull"); // at a first start, on a full disk
        const int ok = QMessageBox::Ok;
        // Most rows have no backup beside the damaged file.
        const auto row = [ok](const char* name, const char* damage, int pageSize, bool counted) {
            QTest::newRow(name) << damage << pageSize << 0 << ok << counted << false;
        };
        row("index", "index", 4096, true);
        QTest::newRow("index, smaller backup") << "index" << 4096 << 1 << ok << true << false;
        row("books leaf", "leaf", 4096, true);
        QTest::newRow("books leaf, fuller backup declined")
            << "leaf" << 4096 << 280 << int(QMessageBox::Cancel) << true << false;
        QTest::newRow("books leaf, fuller backup restored") << "leaf" << 4096 << 280 << ok << true << false;
        QTest::newRow("books leaf, the disk full at first") << "leaf" << 4096 << 0 << ok << true << true;
        // Cell pointers that lead to one made-up cell: SQLite reads the leaf without an error, each
        // of its rows as the same rowid, beyond the table, inside the leaf's own range, or a later
        // book's; or the same pointers in another order.
        row("books leaf read as a rowid beyond the table", "misread beyond", 4096, true);
        row("books leaf read as one of its rowids", "misread own", 4096, true);
        row("books leaf read as a later book's rowid", "misread later", 4096, true);
        row("pointers of a leaf in another order", "pointer order", 4096, true);
        row("two damaged stretches of leaves, a sound one between", "two stretches", 4096, true);
        // A pointer that names a leaf of another table: each leaf is read with its own table.
        row("a pointer of the books root turned to a metadata leaf", "pointer to a metadata leaf", 4096, true);
        row("a pointer of the metadata root turned to a books leaf", "pointer to a books leaf", 4096, true);
        row("a cell turned into a copy of another's rowid", "noisy neighbour", 4096, true);
        row("leaves of the folder bindings and of the metadata", "bindings and metadata", 4096, true);
        // Every few bytes of a leaf start a false cell whose overflow chain is a real record's.
        row("false cells over a leaf, 64 KB pages", "false cells", 65536, true);
        row("false cells of their own text over a leaf, 64 KB pages", "false text cells", 65536, true);
        // Where the pages still tell every leaf (broken pointers led to interior pages), the box
        // says how many books the file held.
        row("books root", "root", 4096, true);
        row("interior page of a three-level tree", "interior", 512, true);
        row("both ends of a three-level tree", "both ends", 512, true);
        row("schema page", "schema", 4096, true);
        row("schema page, three-level tree", "schema", 512, true);
        row("cut short in a page", "cut", 4096, false);
        row("cut short in a page, three-level tree", "cut", 512, false);
        row("overflow chain and tree that loop", "cycle", 512, false);
        row("random bytes in leaves", "random", 4096, false);
        row("random bytes in leaves, small pages", "random", 512, false);
        row("hot journal beside it", "journal", 4096, true);
        // A leaf as it was before books were removed, on a free page: its rows are old copies.
        row("old copies on a free page, books root", "old copies, root", 4096, true);
        row("old copies on a free page, the free list lost", "old copies, free list lost", 4096, true);
        row("old copies on a free page, the free list and an interior page lost",
            "old copies, free list lost, interior", 512, false);
        row("old copies that differ, the free list and the books root lost", "old copies that differ", 4096, false);
    }

    void damagedLibraryKeepsEveryReadableRow()
    {
        QFETCH(QString, damage);
        QFETCH(int, pageSize);
        QFETCH(int, backup);
        QFETCH(int, answer);
        QFETCH(bool, counted);
        QFETCH(bool, diskFull);
        std::unique_ptr<SmallDisk> disk;
        if (diskFull) {
            disk = std::make_unique<SmallDisk>();
            if (!disk->isMounted())
                QSKIP("no tmpfs can be mounted here (not root)");
        }
        const QString path = diskFull ? disk->filePath(QStringLiteral("ebooklib.sqlite3")) : databasePath();
        QVERIFY(copyOfLibrary(pageSize, path));
        QVERIFY(db->createConnection(path));
        if (damage == QLatin1String("false cells")) {
            // A record that goes on over 120 pages, of a size whose cell keeps the least of it
            // on its leaf.
            const int least = (pageSize - 12) * 32 / 255 - 23;
            const QString text = QStringLiteral("A description that goes on and on. ").repeated(240000);
            QVERIFY(db->setMetaData(3, 6, text.left(least + 120 * (pageSize - 4) + 61000)));
        }
        const QMap<int, QStringList> before = libraryContents(db);
        QCOMPARE(before.size(), 280);
        QCOMPARE(scalar(QStringLiteral("PRAGMA page_size")).toInt(), pageSize);
        // books, the bindings, the metadata and the folders
        const QList<int> roots { rootPage("books"), rootPage("book_folder_binder"), rootPage("book_metadata"),
            rootPage("folders") };
        const int indexRoot = rootPage("book_metadata_book_id_meta_type");
        const QMap<qint64, QString> folderOf
            = tableColumn(QStringLiteral("book_folder_binder"), QStringLiteral("folder_id"));
        const QMap<qint64, QString> bookOfMeta
            = tableColumn(QStringLiteral("book_metadata"), QStringLiteral("book_id"));
        const QMap<qint64, QString> typeOfMeta
            = tableColumn(QStringLiteral("book_metadata"), QStringLiteral("meta_type"));
        closeLibrary();

        using sqlitepages::RowPlace;
        const QByteArray sound = testfiles::read(path);
        QList<QMap<qint64, RowPlace>> places;
        for (const int table : roots)
            places.append(sqlitepages::rowPlaces(sound, table));
        QCOMPARE(places.first().size(), before.size());
        QList<int> leaves;
        QList<int> middle; // interior pages below the root
        for (const sqlitepages::TreePage& page : sqlitepages::treePages(sound, roots.first())) {
            if (page.leaf)
                leaves << page.page;
            else if (page.depth == 1)
                middle << page.page;
        }
        QVERIFY(leaves.size() > (pageSize > 4096 ? 1 : 12));
        QVERIFY(pageSize > 1024 || middle.size() >= 3); // small pages: a tree of three levels
        if (backup == 280)
            QVERIFY(QFile::copy(path, LibraryDatabase::backupPath(path)));
        if (backup == 1)
            QVERIFY(writeDatabaseFile(LibraryDatabase::backupPath(path),
                { kBooksBeforeHash + QStringLiteral(",notes_count INTEGER)"),
                    insertOldBook(1, QStringLiteral("/b/kept.fb2"), QStringLiteral("Kept"), 2) }));

        QList<QPair<qint64, qint64>> damaged; // the bytes the damage reaches
        qint64 length = sound.size();
        const auto at = [pageSize](int page) { return qint64(page - 1) * pageSize; };
        const auto write = [&](qint64 offset, const QByteArray& bytes) {
            damaged.append({ offset, offset + bytes.size() });
            return sqlitepages::overwrite(path, offset, bytes);
        };
        const auto wipe
            = [&](int page, int from) { return write(at(page) + from, QByteArray(pageSize - from, '\xff')); };
        const auto pageNumber = [](int page) {
            return QByteArray(1, char(page >> 24)) + char(page >> 16) + char(page >> 8) + char(page);
        };
        const int leaf = leaves.at(leaves.size() / 2);
        const int changed = 10; // a favourite since the file before removals
        QList<qint64> onLeaf;
        for (auto it = places.first().cbegin(); it != places.first().cend(); ++it) {
            if (it->leaf == leaf)
                onLeaf << it.key();
        }
        if (damage == QLatin1String("index")) {
            QVERIFY(damagePage(path, indexRoot, false));
            damaged.append({ at(indexRoot), at(indexRoot + 1) });
        } else if (damage == QLatin1String("leaf")) {
            QVERIFY(damagePage(path, leaf, false));
            damaged.append({ at(leaf) + 8, at(leaf) + 2008 });
        } else if (damage.startsWith(QLatin1String("misread"))) {
            const quint32 rowid = damage.endsWith(QLatin1String("beyond")) ? 237983317
                : damage.endsWith(QLatin1String("own"))                    ? quint32(onLeaf.at(onLeaf.size() / 2))
                                                                           : 290;
            QVERIFY(sqlitepages::misreadLeaf(path, leaf, rowid));
            damaged.append({ at(leaf) + 8, at(leaf) + 8 + 2 * onLeaf.size() + 10 });
        } else if (damage.startsWith(QLatin1String("pointer to"))) {
            // The third pointer of one table's root leads to a leaf of the other.
            const bool toMetadata = damage.endsWith(QLatin1String("metadata leaf"));
            const int from = roots.at(toMetadata ? 0 : 2);
            QList<int> targets;
            for (const sqlitepages::TreePage& page : sqlitepages::treePages(sound, roots.at(toMetadata ? 2 : 0))) {
                if (page.leaf)
                    targets << page.page;
            }
            const qint64 cell = sqlitepages::bigEndian(sqlitepages::pageOf(sound, from), 12 + 2 * 2, 2);
            QVERIFY(write(at(from) + cell, pageNumber(targets.at(targets.size() / 2))));
        } else if (damage == QLatin1String("noisy neighbour")) {
            // A cell of a later book (SQLite puts it nearer the page's start) gets the rowid of an
            // intact one; its record still reads.
            int i = 1;
            while (onLeaf.at(i) < 128 && onLeaf.at(i + 3) >= 128)
                ++i;
            const qint64 cell = places.first().value(onLeaf.at(i + 3)).bytes.first().first;
            int rowid = int(cell - at(leaf));
            sqlitepages::varint(sqlitepages::pageOf(sound, leaf), &rowid);
            QVERIFY(write(at(leaf) + rowid, sqlitepages::varintBytes(quint64(onLeaf.at(i)))));
        } else if (damage == QLatin1String("bindings and metadata")) {
            const QList<sqlitepages::TreePage> metadata = sqlitepages::treePages(sound, roots.at(2));
            for (const int page : { roots.at(1), metadata.at(metadata.size() / 2).page }) {
                QVERIFY(damagePage(path, page, false));
                damaged.append({ at(page) + 8, at(page) + 2008 });
            }
        } else if (damage.startsWith(QLatin1String("false"))) {
            // Like the long record's cell, or like the longest one that its leaf holds whole.
            const bool whole = damage.contains(QLatin1String("text"));
            RowPlace record;
            qint64 longest = 0;
            for (const RowPlace& place : qAsConst(places.at(2))) {
                const qint64 length = place.bytes.first().second - place.bytes.first().first;
                if (whole ? place.overflow.isEmpty() && length > longest : place.overflow.size() > 8) {
                    record = place;
                    longest = length;
                }
            }
            QVERIFY(!record.bytes.isEmpty());
            int fullest = leaves.first();
            for (const int page : qAsConst(leaves)) {
                if (sqlitepages::bigEndian(sqlitepages::pageOf(sound, page), 5, 2)
                    < sqlitepages::bigEndian(sqlitepages::pageOf(sound, fullest), 5, 2))
                    fullest = page;
            }
            const QPair<qint64, QByteArray> cells = sqlitepages::falseCells(sound, record, fullest);
            QVERIFY(write(cells.first, cells.second));
        } else if (damage == QLatin1String("pointer order")) {
            QVERIFY(sqlitepages::reversePointers(path, leaf));
        } else if (damage == QLatin1String("two stretches")) {
            for (const int k : { 0, 1, 3, 4 })
                QVERIFY(wipe(leaves.at(leaves.size() / 3 + k), 8));
        } else if (damage == QLatin1String("root")) {
            QVERIFY(wipe(roots.first(), 8));
        } else if (damage == QLatin1String("interior")) {
            QVERIFY(wipe(middle.at(middle.size() / 2), 8));
        } else if (damage == QLatin1String("both ends")) {
            QVERIFY(wipe(middle.first(), 8));
            QVERIFY(wipe(leaves.last(), 8));
        } else if (damage == QLatin1String("schema")) {
            QVERIFY(wipe(1, 0));
        } else if (damage == QLatin1String("cut")) {
            length = at(leaves.at(leaves.size() * 2 / 3)) + pageSize / 2;
            QVERIFY(QFile::resize(path, length));
        } else if (damage == QLatin1String("cycle")) {
            // A record whose overflow chain turns back to its start, and an interior page that
            // names the root as its first child.
            QList<int> chain;
            for (const RowPlace& place : qAsConst(places.first())) {
                if (chain.isEmpty() && place.overflow.size() > 1)
                    chain = place.overflow;
            }
            QVERIFY(!chain.isEmpty());
            QVERIFY(write(at(chain.at(1)), pageNumber(chain.first())));
            const int interior = middle.at(middle.size() / 2);
            const qint64 cell = sqlitepages::bigEndian(sqlitepages::pageOf(sound, interior), 12, 2);
            QVERIFY(write(at(interior) + cell, pageNumber(roots.first())));
        } else if (damage == QLatin1String("random")) {
            // Noise over a whole leaf, header and all, and over a stretch of another's cells.
            QRandomGenerator random { quint32(pageSize) };
            QByteArray noise(pageSize, '\0');
            for (char& byte : noise)
                byte = char(random.bounded(256));
            QVERIFY(write(at(leaf), noise));
            QVERIFY(write(at(leaves.at(leaves.size() / 4)) + pageSize / 2, noise.left(pageSize / 8)));
            // Noise anywhere, over page headers and the file's header too: each salvage ends, with
            // no more books than there were.
            const QString noisy = m_home->filePath(QStringLiteral("noisy.sqlite3"));
            for (int round = 0; round < 20; ++round) {
                QByteArray bytes = sound;
                for (int stretch = 0; stretch < 8; ++stretch) {
                    const int from = int(random.bounded(bytes.size() - 64));
                    for (int i = 0; i < 64; ++i)
                        bytes[from + i] = char(random.bounded(256));
                }
                QVERIFY(testfiles::write(noisy, bytes.left(int(random.bounded(bytes.size() / 2, bytes.size())))));
                QVERIFY(LibrarySalvage::rebuild(noisy, noisy + QStringLiteral(".new")).books <= before.size());
            }
        } else if (damage.startsWith(QLatin1String("old copies"))) {
            const QByteArray old = testfiles::read(libraryBeforeRemovals(pageSize));
            const QMap<qint64, RowPlace> oldPlaces = sqlitepages::rowPlaces(old, roots.first());
            const qint64 removed = 151; // the first book removed
            QVERIFY(oldPlaces.contains(removed) && !places.first().contains(removed));
            const QList<int> free = sqlitepages::freePages(sound);
            QVERIFY(!free.isEmpty());
            const qint64 copied = damage.endsWith(QLatin1String("differ")) ? changed : removed;
            QVERIFY(sqlitepages::overwrite(path, at(free.last()), sqlitepages::pageOf(old, oldPlaces[copied].leaf)));
            if (damage.endsWith(QLatin1String("differ"))) {
                QVERIFY(write(32, QByteArray(8, '\0')));
                QVERIFY(wipe(roots.first(), 8));
            } else if (damage.endsWith(QLatin1String("root"))) {
                QVERIFY(wipe(roots.first(), 8));
            } else if (damage.endsWith(QLatin1String("lost"))) {
                QVERIFY(write(32, QByteArray(8, '\0')));
                QVERIFY(wipe(leaf, 8));
            } else {
                // An interior page away from the live leaf where the removed books were.
                QVERIFY(write(32, QByteArray(8, '\0')));
                int above = 0;
                for (const sqlitepages::TreePage& page : sqlitepages::treePages(sound, roots.first())) {
                    if (page.page == places.first().value(removed - 1).leaf)
                        break;
                    if (page.depth == 1)
                        above = page.page;
                }
                QVERIFY(wipe(middle.first() == above ? middle.last() : middle.first(), 8));
            }
        } else if (damage == QLatin1String("journal")) {
            QVERIFY(sqlitepages::leaveHotJournal(path,
                { QStringLiteral("update books set title = 'Not committed ' || id"),
                    QStringLiteral("delete from book_metadata where id % 3 = 0"),
                    QStringLiteral("delete from books where id % 4 = 0") }));
            // SQLite rolls a hot journal back when it opens the file, which a folder that cannot
            // be written refuses: the salvage reads the file and journal as they are.
            const QString salvaged = path + QStringLiteral(".salvaged");
            const LibrarySalvage::Result result = LibrarySalvage::rebuild(path, salvaged);
            QVERIFY(result.stored);
            QCOMPARE(QList<int>({ result.books, result.held }), QList<int>({ before.size(), before.size() }));
            QVERIFY(QFile::remove(path) && QFile::remove(path + QStringLiteral("-journal")));
            QVERIFY(QFile::rename(salvaged, path));
            QVERIFY(db->createConnection(path));
            QCOMPARE(libraryContents(db), before);
            return;
        }
        const QByteArray original = fileHash(path);
        {
            // However its pages are damaged, reading each of them as a leaf, as the salvage may,
            // costs the page reader a few times the bytes of the file.
            SqlitePageReader pages(path);
            pages.setColumnLimit(kBookColumns.size());
            for (quint32 page = 1; page <= pages.pageCount(); ++page)
                pages.leaf(page, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max());
            QVERIFY2(pages.work() < 8 * quint64(length), qPrintable(QString::number(pages.work())));
        }
        int shownWhileFull = -1;
        if (diskFull) {
            // No new file fits beside the damaged one: it stays as it is, its books are shown from a
            // new file in the run's own folder, one box on this thread gives the true cause, and the
            // next start tries again.
            QVERIFY(disk->fill());
            BoxRecorder full;
            QVERIFY(db->createConnection(path));
            shownWhileFull = db->allBooks().size();
            QVERIFY(!full.offGuiThread);
            QCOMPARE(full.boxes.size(), 1);
            QVERIFY2(full.boxes.first().second.contains(
                         QStringLiteral("could not be carried into a new library file: The disk is full.")),
                qPrintable(full.boxes.first().second));
            QVERIFY(!db->setFavorite(1, 0));
            QCoreApplication::processEvents();
            QCOMPARE(full.boxes.size(), 1);
            closeLibrary();
            QCOMPARE(fileHash(path), original);
            QCOMPARE(QDir(disk->path()).entryList(QDir::Files), QStringList { QFileInfo(path).fileName() });
            disk->release();
        }

        // Back: the books whose rows are untouched, each with the folder and metadata whose rows
        // are untouched too.
        const auto intact = [&](int table, qint64 rowid) {
            return places.at(table).contains(rowid)
                && !sqlitepages::touched(places.at(table).value(rowid), damaged, length);
        };
        QMap<int, QStringList> expected;
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (!intact(0, it.key()))
                continue;
            QStringList fields = it.value();
            if (!intact(1, it.key()) || !intact(3, folderOf.value(it.key()).toLongLong()))
                fields[kFolderField] = QStringLiteral("0");
            for (auto meta = bookOfMeta.cbegin(); meta != bookOfMeta.cend(); ++meta) {
                if (meta.value().toInt() == it.key() && !intact(2, meta.key()))
                    fields[typeOfMeta.value(meta.key()) == QLatin1String("2") ? kPublisherField : kDescriptionField]
                        = QString();
            }
            expected.insert(it.key(), fields);
        }
        // Two copies of a row off the tree that differ: which is the live one cannot be told.
        if (damage == QLatin1String("old copies that differ"))
            expected.remove(changed);
        if (diskFull)
            QCOMPARE(shownWhileFull, expected.size());

        BoxRecorder recorder;
        recorder.answer = QMessageBox::StandardButton(answer);
        // The salvage runs off this thread and tells here how far it has come, then ends its text.
        QStringList progress;
        LibraryMessageBox::setProgressHandler([&progress](const QString& text) {
            if (QThread::currentThread() == QCoreApplication::instance()->thread())
                progress << text;
        });
        const auto noProgress = qScopeGuard([] { LibraryMessageBox::setProgressHandler({}); });
        NameWatch watch(path);
        QVERIFY(watch.isWatching());
        QVERIFY(db->createConnection(path));
        QVERIFY(!watch.wasGone());
        QVERIFY(!recorder.offGuiThread);
        QVERIFY(progress.size() >= 3);
        QCOMPARE(progress.first(), QStringLiteral("Reading the damaged library: 0%"));
        QCOMPARE(progress.mid(progress.size() - 2), QStringList({ "Reading the damaged library: 100%", QString() }));
        for (int i = 1; i < progress.size() - 1; ++i)
            QVERIFY(progress.at(i).section(' ', -1).chopped(1).toInt()
                > progress.at(i - 1).section(' ', -1).chopped(1).toInt());
        const QMap<int, QStringList> after = libraryContents(db);
        const bool restored = backup == 280 && answer == QMessageBox::Ok;
        int back = expected.size();
        if (restored) {
            QCOMPARE(after, before);
        } else if (damage == QLatin1String("random")) {
            // Rows the noise reached may come back too (noise over a record's numbers cannot be
            // told from them), but no row that was not there.
            for (auto it = expected.cbegin(); it != expected.cend(); ++it)
                QCOMPARE(after.value(it.key()), it.value());
            for (auto it = after.cbegin(); it != after.cend(); ++it)
                QVERIFY(before.contains(it.key()));
            back = after.size();
        } else {
            QCOMPARE(after, expected);
        }
        QCOMPARE(scalar(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        QCOMPARE(db->allCategories().size(), 3);

        QCOMPARE(recorder.boxes.size(), 1);
        const QStringList kept
            = QDir(QFileInfo(path).path()).entryList({ QFileInfo(path).fileName() + QStringLiteral(".damaged-*") });
        QCOMPARE(kept.size(), 1);
        const QString keptPath = QFileInfo(path).dir().filePath(kept.first());
        QCOMPARE(fileHash(keptPath), original);
        const QString text = recorder.boxes.first().second;
        // In the user's words: what SQLite found is in the log only.
        QVERIFY2(text.startsWith(QLatin1String("The library file is damaged. It was kept as ")), qPrintable(text));
        QString ending = QStringLiteral(" It was kept as %1. Books read from it and back in the library: %2")
                             .arg(keptPath)
                             .arg(back)
            + (counted ? QStringLiteral(" of %1.").arg(before.size())
                       : QStringLiteral("; how many it held is not known."));
        // The user's other rows on damaged bytes, in one line, with how many where the file tells.
        QStringList lost;
        const QList<QPair<int, QString>> userRows { { 3, "folders" }, { 1, "folder memberships" },
            { 2, "book details" } };
        for (const auto& rows : userRows) {
            int count = 0;
            for (auto it = places.at(rows.first).cbegin(); it != places.at(rows.first).cend(); ++it)
                count += intact(rows.first, it.key()) ? 0 : 1;
            if (count > 0) {
                lost << QStringLiteral("%1 (%2)").arg(
                    rows.second, counted ? QString::number(count) : QStringLiteral("how many is not known"));
            }
        }
        if (!lost.isEmpty())
            ending += QStringLiteral(" Also not brought back: %1.").arg(lost.join(QStringLiteral(", ")));
        if (backup == 280) {
            ending += QStringLiteral(" The backup of %1 holds more books (280). Restore the library from the backup? "
                                     "Cancel keeps the books read from the damaged file.")
                          .arg(QFileInfo(LibraryDatabase::backupPath(path)).lastModified().toString(Qt::ISODate));
        }
        QVERIFY2(text.endsWith(ending), qPrintable(text + QStringLiteral("\n") + ending));
        QCOMPARE(recorder.buttons.first(), backup == 280 ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok);
        // The new library is whole: a book added now gets the next id.
        QCOMPARE(db->add(makeBook(QStringLiteral("/b/new.epub"), QStringLiteral("New"), BookFormat::Epub)),
            (restored ? before : after).lastKey() + 1);
    }

    // A library file of 0 bytes has lost the library it held, and a database of another program in
    // its place holds none: either is set aside as it is and the user is told where, the books' data
    // folders stay and a backup is offered. A first start, with no library file and no book folders,
    // says nothing; nor does a database that holds no table at all (a first start that stopped
    // before it made the library's tables).
    void emptyLibraryFileIsKeptAndReported_data()
    {
        QTest::addColumn<QString>("file"); // what is in the library's place; empty: nothing
        QTest::addColumn<bool>("backup");
        QTest::addColumn<int>("books"); // in the library afterwards
        QTest::addColumn<QString>("message"); // %1 the kept file, %2 the backup's time; empty: no box
        QTest::newRow("first start") << QString() << false << 0 << QString();
        QTest::newRow("empty file")
            << "empty" << false << 0
            << "The library file was empty. It was kept as %1. A new, empty library is started.";
        QTest::newRow("empty file, backup restored")
            << "empty" << true << 1
            << "The library file was empty. It was kept as %1. The backup of %2 holds more books (1). Restore the "
               "library from the backup? Cancel starts a new, empty library.";
        QTest::newRow("another program's database")
            << "foreign" << false << 0
            << "The library file is no library of this program. It was kept as %1. A new, empty library is started.";
        QTest::newRow("another program's database, backup restored")
            << "foreign" << true << 1
            << "The library file is no library of this program. It was kept as %1. The backup of %2 holds more "
               "books (1). Restore the library from the backup? Cancel starts a new, empty library.";
        QTest::newRow("database of no tables") << "no tables" << false << 0 << QString();
    }

    void emptyLibraryFileIsKeptAndReported()
    {
        QFETCH(QString, file);
        QFETCH(bool, backup);
        QFETCH(int, books);
        QFETCH(QString, message);
        const QString path = databasePath();
        QStringList bookFolders;
        if (file == QLatin1String("no tables")) {
            QVERIFY(writeDatabaseFile(path, { QStringLiteral("create table t (x)"), QStringLiteral("drop table t") }));
        } else if (!file.isEmpty()) {
            QVERIFY(file == QLatin1String("empty")
                    ? testfiles::write(path, QByteArray())
                    : writeDatabaseFile(path,
                        { QStringLiteral("create table notes (id INTEGER primary key, text TEXT)"),
                            QStringLiteral("insert into notes values (1, 'not a book')") }));
            for (const QString& book : { QStringLiteral("/b/one.epub"), QStringLiteral("/b/two.fb2") }) {
                bookFolders << bookDataDir(book);
                QVERIFY(testfiles::write(bookFolders.last() + QStringLiteral("/reading.settings"), "notes"));
            }
        }
        const QByteArray original = fileHash(path);
        if (backup) {
            QVERIFY(writeDatabaseFile(LibraryDatabase::backupPath(path),
                { kBooksBeforeHash + QStringLiteral(",notes_count INTEGER)"),
                    insertOldBook(1, QStringLiteral("/b/one.epub"), QStringLiteral("One"), 2) }));
        }

        BoxRecorder recorder;
        recorder.answer = QMessageBox::Ok;
        QVERIFY(db->createConnection(path));
        QCOMPARE(db->allBooks().size(), books);
        QVERIFY(db->add(makeBook(QStringLiteral("/b/new.epub"), QStringLiteral("New"), BookFormat::Epub)) > 0);
        QVERIFY(!schemaNames(QStringLiteral("table")).contains(QStringLiteral("notes")));
        const QStringList kept = QDir(QFileInfo(path).path())
                                     .entryList({ QFileInfo(path).fileName() + QStringLiteral(".empty-*"),
                                         QFileInfo(path).fileName() + QStringLiteral(".foreign-*") });
        QCOMPARE(kept.size(), message.isEmpty() ? 0 : 1);
        QCOMPARE(recorder.boxes.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            const QString keptPath = QFileInfo(path).dir().filePath(kept.first());
            QVERIFY(kept.first().contains(QLatin1Char('.') + file + QLatin1Char('-')));
            QCOMPARE(fileHash(keptPath), original);
            QCOMPARE(recorder.boxes.first().second,
                message.arg(
                    keptPath, QFileInfo(LibraryDatabase::backupPath(path)).lastModified().toString(Qt::ISODate)));
        }
        for (const QString& folder : bookFolders)
            QVERIFY(QFile::exists(folder + QStringLiteral("/reading.settings")));
    }

    // Every start checks the header, the schema and the books table; the whole file is checked
    // only when it may have been damaged since it was last checked in full.
    void fullCheckWhenTheFileMayHaveChanged_data()
    {
        QTest::addColumn<bool>("closed"); // the run closed the library at its end
        QTest::addColumn<int>("checkedDaysAgo"); // the last full check, as the record says
        QTest::addColumn<QString>("table"); // the damaged page: the table's root, or the header
        QTest::addColumn<bool>("keepTime");
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("books"); // read back: the books table's leaves are intact
        QTest::newRow("not closed") << false << 0 << "book_metadata" << true << true << 200;
        QTest::newRow("closed, then changed") << true << 0 << "book_metadata" << false << true << 200;
        QTest::newRow("closed, full check a week old") << true << 8 << "book_metadata" << true << true << 200;
        QTest::newRow("closed, header") << true << 0 << "" << true << true << 200;
        QTest::newRow("closed, books table") << true << 0 << "books" << true << true << 200;
        // The price of a fast start: a page that the start does not read, damaged behind the
        // program's back with the file's time kept, waits for the next full check.
        QTest::newRow("closed, metadata page unread") << true << 0 << "book_metadata" << true << false << 200;
    }

    void fullCheckWhenTheFileMayHaveChanged()
    {
        QFETCH(bool, closed);
        QFETCH(int, checkedDaysAgo);
        QFETCH(QString, table);
        QFETCH(bool, keepTime);
        QFETCH(bool, found);
        QFETCH(int, books);
        const QString path = databasePath();
        const QString record = LibraryCheck::closeRecordPath(path);
        QVERIFY(db->createConnection(path));
        QVERIFY(fillLibrary(db));
        const int page = table.isEmpty() ? 1 : rootPage(table);
        QVERIFY(page > 1 || table.isEmpty());
        if (closed) {
            db->closeConnection();
            QVERIFY(QFile::exists(record));
        } else {
            closeLibrary();
            QVERIFY(!QFile::exists(record));
        }
        if (checkedDaysAgo) {
            QByteArray text = testfiles::read(record);
            const int at = text.indexOf("checked=");
            QVERIFY(at >= 0);
            text.truncate(at);
            text += "checked=" + QByteArray::number(QDateTime::currentSecsSinceEpoch() - checkedDaysAgo * 86400) + '\n';
            QVERIFY(testfiles::write(record, text));
        }
        QVERIFY(damagePage(path, page, keepTime));

        BoxRecorder recorder;
        QVERIFY(db->createConnection(path));
        QCOMPARE(recorder.boxes.size(), found ? 1 : 0);
        QCOMPARE(db->allBooks().size(), books);
        // Opened again: no record until this run closes the library.
        QVERIFY(!QFile::exists(record));
    }

    // A run in which SQLite met a damaged page leaves no record: the next start checks in full.
    void damageMetDuringTheRunIsCheckedAtTheNextStart()
    {
        const QString path = databasePath();
        QVERIFY(db->createConnection(path));
        QVERIFY(fillLibrary(db));
        const int page = rootPage(QStringLiteral("book_metadata"));
        db->closeConnection();
        QVERIFY(damagePage(path, page, true));
        QVERIFY(db->createConnection(path));
        QVERIFY(db->getMetaData(db->allBooks().value(0).id, 6).isNull());
        QVERIFY2(db->lastError().contains(QStringLiteral("malformed")), qPrintable(db->lastError()));
        db->closeConnection();
        QVERIFY(!QFile::exists(LibraryCheck::closeRecordPath(path)));

        BoxRecorder recorder;
        QVERIFY(db->createConnection(path));
        QCOMPARE(recorder.boxes.size(), 1);
        // The metadata's leaves are intact: nothing is lost.
        QCOMPARE(db->allBooks().size(), 200);
        QVERIFY(!db->getMetaData(db->allBooks().value(0).id, 6).isNull());
    }

    // A path the library holds outside the trash keeps its one row, however often it is added; a
    // trashed one may come back as a new row.
    void addingAHeldPathMakesNoSecondRow()
    {
        QVERIFY(db->createConnection(databasePath()));
        const BookDto book = makeBook(QStringLiteral("/b/twice.epub"), QStringLiteral("Twice"), BookFormat::Epub);
        const int id = db->add(book);
        QVERIFY(id > 0);
        QCOMPARE(db->add(book), id);
        QCOMPARE(count(QStringLiteral("select count(*) from books")), 1);
        QVERIFY(db->setDeleted(id, 1));
        const int again = db->add(book);
        QVERIFY(again > 0 && again != id);
        QCOMPARE(count(QStringLiteral("select count(*) from books")), 2);
        QCOMPARE(db->add(book), again);
        QCOMPARE(count(QStringLiteral("select count(*) from books")), 2);
    }

    void withoutAnOpenLibraryOperationsReturnTheirFailureValues()
    {
        BookDto book;
        book.full_path = QStringLiteral("/b/x.epub");
        QCOMPARE(db->add(book), -1);
        QVERIFY(!db->lastError().isEmpty());
        QCOMPARE(db->bookById(1).id, -1);
        QVERIFY(db->allBooks().isEmpty());
        QCOMPARE(db->addCategory(QStringLiteral("F"), 0), -1);
        QVERIFY(db->deleteFromLibrary(1).isNull());
        QCOMPARE(db->categoryCounts().all_count, 0);
    }

    void pathsRoundTripThroughTheirStoredForm_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("cyrillic") << QStringLiteral("/home/читатель/Книги/Мастер и Маргарита.fb2");
        QTest::newRow("quotes") << QStringLiteral("/home/u/it's \"quoted\"; drop table books;--.txt");
        QTest::newRow("backslashes") << QStringLiteral("C:\\Books\\a.pdf");
    }

    void pathsRoundTripThroughTheirStoredForm()
    {
        QVERIFY(db->createConnection(databasePath()));
        QFETCH(QString, path);
        QCOMPARE(BookProvider::decodeText(BookProvider::encodeText(path)), path);
        BookDto book = makeBook(path, QStringLiteral("T"), BookFormat::Fb2);
        const int id = db->add(book);
        QVERIFY(id > 0);
        QCOMPARE(db->bookById(id).full_path, path);
        QCOMPARE(db->bookById(id).cover, book.cover);
        // Stored as Base64 of the UTF-8 text, as existing library files hold it.
        QCOMPARE(scalar(QStringLiteral("select full_path from books where id = %1").arg(id)),
            QString::fromLatin1(path.toUtf8().toBase64()));
        QCOMPARE(db->bookByPath(path).id, id);
        QCOMPARE(db->bookByPath(path.toUpper()).id, path.toUpper() == path ? id : -1);
        QCOMPARE(db->deleteFromLibrary(id), path);
    }

    // An add is one savepoint: a refused row writes nothing and leaves no transaction open, a refused
    // metadata value keeps the book, and inside a caller's transaction the caller decides.
    void addRunsInItsOwnSavepoint()
    {
        QVERIFY(db->createConnection(databasePath()));
        QSqlDatabase connection = QSqlDatabase::database();
        QSqlQuery trigger;
        QVERIFY(trigger.exec(QStringLiteral(
            "CREATE TRIGGER refuse BEFORE INSERT ON books BEGIN SELECT RAISE(ABORT, 'library is read only'); END")));
        BookDto book = makeBook(QStringLiteral("/b/refused.epub"), QStringLiteral("Refused"), BookFormat::Epub);
        book.metadata
            = { { 2, QStringLiteral("Author") }, { 4, QStringLiteral("Subject") }, { 5, QStringLiteral("Publisher") } };
        QCOMPARE(db->add(book), -1);
        QVERIFY2(db->lastError().contains(QStringLiteral("library is read only")), qPrintable(db->lastError()));
        QCOMPARE(count(QStringLiteral("select count(*) from books")), 0);
        QCOMPARE(count(QStringLiteral("select count(*) from book_metadata")), 0);

        QVERIFY(trigger.exec(QStringLiteral("DROP TRIGGER refuse")));
        QVERIFY(trigger.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON book_metadata WHEN new.meta_type = "
                                            "4 BEGIN SELECT RAISE(ABORT, 'no subjects'); END")));
        const int id = db->add(book);
        QVERIFY(id > 0);
        QVERIFY(db->lastError().contains(QStringLiteral("no subjects")));
        QCOMPARE(db->bookById(id).title, QStringLiteral("Refused"));
        QCOMPARE(db->getMetaData(id, 2), QStringLiteral("Author"));
        QVERIFY(db->getMetaData(id, 4).isNull());
        QCOMPARE(db->getMetaData(id, 5), QStringLiteral("Publisher"));

        book.full_path = QStringLiteral("/b/nested.fb2");
        QVERIFY(connection.transaction());
        const int dropped = db->add(book);
        QVERIFY(dropped > 0);
        QVERIFY(connection.rollback());
        QCOMPARE(db->bookById(dropped).id, -1);
        QCOMPARE(count(QStringLiteral("select count(*) from book_metadata")), 2);
        QVERIFY(connection.transaction());
        const int kept = db->add(book);
        QVERIFY(connection.commit());
        QCOMPARE(db->getMetaData(kept, 5), QStringLiteral("Publisher"));
    }

    // The record of hand-overs is the work list: a book stored leaves it in the same unit, and a unit
    // that cannot be committed keeps the file recorded and the book out: never both, never neither.
    // Names arrive as they were; what earlier runs left becomes one act.
    void handOverRecordIsTheWorkList()
    {
        QVERIFY(db->createConnection(databasePath()));
        const auto recorded = [this] {
            QStringList files;
            for (const HandedOverFile& file : db->handedOverFiles())
                files << QStringLiteral("%1 %2").arg(file.act).arg(file.path);
            return files;
        };
        const QString one = QStringLiteral("/b/one.epub"), pipe = QStringLiteral("/b/two|pipe.epub"),
                      newline = QStringLiteral("/b/-new\nline.epub");
        QString reason;
        QVERIFY(db->recordHandOver(1, { one, pipe }, &reason));
        QVERIFY(db->recordHandOver(2, { newline }, &reason));
        QCOMPARE(db->lastHandOverAct(), 2);
        QList<int> ids;
        QVERIFY(db->addAll({ makeBook(one, QStringLiteral("One"), BookFormat::Epub) }, ids, 1));
        QVERIFY(ids.first() > 0);
        QCOMPARE(recorded(), QStringList({ "1 " + pipe, "2 " + newline }));

        QSqlQuery trigger;
        for (const char* refusal :
            { "CREATE TRIGGER refuse BEFORE INSERT ON books BEGIN SELECT RAISE(ABORT, 'no'); END",
                "CREATE TRIGGER refuse BEFORE DELETE ON handed_over BEGIN SELECT RAISE(ABORT, 'no'); END" }) {
            QVERIFY(trigger.exec(QString::fromLatin1(refusal)));
            db->addAll({ makeBook(pipe, QStringLiteral("Pipe"), BookFormat::Epub) }, ids, 1);
            QCOMPARE(ids, QList<int> { -1 });
            QCOMPARE(db->bookByPath(pipe).id, -1);
            QCOMPARE(recorded(), QStringList({ "1 " + pipe, "2 " + newline }));
            QVERIFY(trigger.exec(QStringLiteral("DROP TRIGGER refuse")));
        }
        // A hand-over that cannot be written whole is refused with its reason, and none of it is kept.
        QVERIFY(trigger.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON handed_over WHEN new.path = "
                                            "'/b/second.epub' BEGIN SELECT RAISE(ABORT, 'no'); END")));
        reason.clear();
        QVERIFY(!db->recordHandOver(3, { QStringLiteral("/b/first.epub"), QStringLiteral("/b/second.epub") }, &reason));
        QVERIFY(!reason.isEmpty());
        QCOMPARE(recorded(), QStringList({ "1 " + pipe, "2 " + newline }));
        QVERIFY(trigger.exec(QStringLiteral("DROP TRIGGER refuse")));
        QVERIFY(db->mergeHandOvers(db->lastHandOverAct()));
        QCOMPARE(recorded(), QStringList({ "2 " + pipe, "2 " + newline }));
        QVERIFY(db->forgetHandedOver(2, { newline }));
        QCOMPARE(recorded(), QStringList({ "2 " + pipe }));
        QVERIFY(db->forgetHandedOver(2));
        QVERIFY(recorded().isEmpty());
    }

    // A library whose folder or file cannot be written opens, tells so once at the start naming
    // it, and keeps the book as stored: the failing writes of the same cause add no box. A journal
    // that a killed writer left is rolled back in a copy: the library reads as last committed, and
    // neither the file nor the journal changes. A library of an older version is brought up to date
    // in the copy. Where no copy can be made (the run's own folder cannot be written either), a
    // library without a journal is read as it is, and one with a journal is not read at all: one box
    // says why and that nothing was changed. Every row runs as an ordinary user too, whom the modes
    // of the files bind.
    void readOnlyLibraryIsToldAtTheStart_data()
    {
        QTest::addColumn<bool>("wholeFolder"); // the folder and the files in it, as "chmod -R a-w" leaves them
        QTest::addColumn<bool>("newLibrary");
        QTest::addColumn<bool>("hotJournal");
        QTest::addColumn<bool>("noCopy");
        QTest::addColumn<bool>("older");
        QTest::newRow("read-only folder") << true << false << false << false << false;
        QTest::newRow("read-only file") << false << false << false << false << false;
        QTest::newRow("new library in a read-only folder") << true << true << false << false << false;
        QTest::newRow("read-only folder, journal left") << true << false << true << false << false;
        QTest::newRow("read-only file, journal left") << false << false << true << false << false;
        QTest::newRow("read-only folder, no copy") << true << false << false << true << false;
        QTest::newRow("read-only folder, journal left, no copy") << true << false << true << true << false;
        QTest::newRow("older library in a read-only folder") << true << false << false << false << true;
    }
    void readOnlyLibraryIsToldAtTheStart()
    {
        QFETCH(bool, wholeFolder);
        QFETCH(bool, newLibrary);
        QFETCH(bool, hotJournal);
        QFETCH(bool, noCopy);
        QFETCH(bool, older);
        QString asUser;
        QVERIFY2(ordinaryuser::runAsOrdinaryUser(&asUser), qPrintable(asUser));
        const QString folder = m_home->filePath(QStringLiteral("library"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/ebooklib.sqlite3");
        int id = -1;
        if (older) {
            id = 1;
            QVERIFY(writeDatabaseFile(path,
                { kBooksBeforeHash + QLatin1Char(')'),
                    QStringLiteral("insert into books values (1, '', '', 'A', 'Kept', 0, 1, 0, 0, 0, 0, 0)") }));
        } else if (!newLibrary) {
            QVERIFY(db->createConnection(path));
            id = db->add(makeBook(QStringLiteral("/b/kept.epub"), QStringLiteral("Kept"), BookFormat::Epub));
            QVERIFY(id > 0);
            closeLibrary();
        }
        if (hotJournal) {
            QStringList changes { QStringLiteral("update books set title = 'Lost', is_favorite = 1") };
            for (int i = 0; i < 40; ++i)
                changes << QStringLiteral("insert into books (title, full_path) values ('Uncommitted', '%1')").arg(i);
            QVERIFY(leaveHotJournal(path, changes));
        }
        const QByteArray file = testfiles::read(path);
        const QByteArray journal = testfiles::read(path + QStringLiteral("-journal"));
        for (const QString& written : { path, path + QStringLiteral("-journal") }) {
            if (wholeFolder && QFile::exists(written))
                QVERIFY(QFile::setPermissions(written, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        }
        ReadOnlyPlace readOnly(wholeFolder ? folder : path);
        if (!readOnly.isReadOnly())
            QSKIP("the place cannot be made read-only here");
        std::unique_ptr<ReadOnlyPlace> readOnlyRun;
        if (noCopy) {
            QVERIFY(!runTempDir().isEmpty());
            readOnlyRun = std::make_unique<ReadOnlyPlace>(runTempDir());
            QVERIFY(readOnlyRun->isReadOnly());
        }
        BoxRecorder boxes;
        if (noCopy && hotJournal) {
            QVERIFY(!db->createConnection(path));
            QCOMPARE(boxes.boxes.size(), 1);
            QCOMPARE(boxes.boxes.first().first, QStringLiteral("Library not read"));
            const QString told = boxes.boxes.first().second;
            QVERIFY2(told.startsWith(QStringLiteral("The library %1 cannot be read: a program stopped while changing "
                                                    "it, its folder cannot be written, and no copy could be made to "
                                                    "read it from (")
                                         .arg(path))
                    && told.contains(runTempDir()) && told.endsWith(QStringLiteral("). Nothing was changed.")),
                qPrintable(told));
            QCOMPARE(testfiles::read(path), file);
            QCOMPARE(testfiles::read(path + QStringLiteral("-journal")), journal);
            return;
        }
        const QString cause
            = QStringLiteral("The %1 %2 cannot be written")
                  .arg(wholeFolder ? QStringLiteral("folder") : QStringLiteral("file"), wholeFolder ? folder : path);
        if (newLibrary) {
            QVERIFY(!db->createConnection(path));
            QCOMPARE(boxes.boxes,
                (QList<std::pair<QString, QString>> {
                    { QStringLiteral("Failed to open database"), "Unable to connect to database: " + cause + "." } }));
            QVERIFY(!db->setFavorite(1, 1));
            QCoreApplication::processEvents();
            QCOMPARE(boxes.boxes.size(), 1);
            return;
        }
        QVERIFY(db->createConnection(path));
        const QString expected = QStringLiteral("Changes to the library cannot be saved: %1. Books can be read, but "
                                                "favourites, folders, the trash and added books stay as they are.")
                                     .arg(cause);
        QCOMPARE(
            boxes.boxes, (QList<std::pair<QString, QString>> { { QStringLiteral("Library not saved"), expected } }));
        QVERIFY(!db->setFavorite(id, 1));
        QVERIFY(!db->setDeleted(id, 1));
        QCOMPARE(db->add(makeBook(QStringLiteral("/b/new.epub"), QStringLiteral("New"), BookFormat::Epub)), -1);
        // A unit that ends without a change goes through; the cause still holds, and is not told again.
        QList<int> ids;
        db->addAll({ makeBook(QStringLiteral("/b/more.epub"), QStringLiteral("More"), BookFormat::Epub) }, ids);
        QCOMPARE(ids, QList<int> { -1 });
        QVERIFY(!db->setFavorite(id, 1));
        // A hand-over cannot be kept: refused with the reason, so that its sender is told.
        QString reason;
        QVERIFY(!db->recordHandOver(1, { QStringLiteral("/b/handed.epub") }, &reason));
        QVERIFY(!reason.isEmpty());
        QVERIFY(db->handedOverFiles().isEmpty());
        QCoreApplication::processEvents();
        QCOMPARE(boxes.boxes.size(), 1);
        const BookDto stored = db->bookById(id);
        QCOMPARE(QList<int>({ stored.is_favorite, stored.is_deleted }), QList<int>({ 0, 0 }));
        QCOMPARE(stored.title, QStringLiteral("Kept"));
        QCOMPARE(db->allBooks().size(), 1);
        closeLibrary();
        QCOMPARE(testfiles::read(path), file);
        QCOMPARE(testfiles::read(path + QStringLiteral("-journal")), journal);
    }

    // However a library file comes into use (as it is, of an older version, with a journal a killed
    // writer left, damaged, another program's file in its place, only in the older folder, with
    // a journal there or read-only there, as the finished file of a salvage that stopped, or made
    // new), and
    // wherever it lies (a folder that can be written, one that cannot, a full disk): the books shown
    // are those SQLite itself reads from a rolled-back copy, the user is told at most once, and
    // what could not be written is as it was. Rows run as an ordinary user, whom file modes bind;
    // a full disk binds root as well.
    void everyLibraryFileComesIntoUseWhole_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("place");
        for (const char* state : { "current", "older version", "journal left", "damaged leaf",
                 "damaged leaf and details", "another program's file", "only in the older folder",
                 "older folder with a journal", "older file read-only", "finished rebuilt file", "first start" }) {
            for (const char* place : { "writable", "read-only folder", "full disk" })
                QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(state, place))) << state << place;
        }
    }

    void everyLibraryFileComesIntoUseWhole()
    {
        QFETCH(QString, state);
        QFETCH(QString, place);
        const bool full = place == QLatin1String("full disk");
        const bool writable = place == QLatin1String("writable");
        const bool details = state == QLatin1String("damaged leaf and details");
        if (!full) {
            QString asUser;
            QVERIFY2(ordinaryuser::runAsOrdinaryUser(&asUser), qPrintable(asUser));
        }
        const QString folder = m_home->filePath(QStringLiteral("library"));
        QVERIFY(QDir().mkpath(folder));
        std::unique_ptr<SmallDisk> disk;
        if (full) {
            disk = std::make_unique<SmallDisk>(folder);
            if (!disk->isMounted())
                QSKIP("no tmpfs can be mounted here (not root)");
        }
        const QString path = folder + QStringLiteral("/ebooklib.sqlite3");
        const QString older = m_home->filePath(QStringLiteral(".folvane/data/ebooklib.sqlite3"));
        const QString rebuilt = path + QStringLiteral(".rebuilt");
        const QString booksCount = QStringLiteral("select count(*) from books");
        QString counted = path; // the file whose books the library shows
        int expected = -1; // books SQLite reads, where the file cannot say once damaged
        if (state == QLatin1String("current") || state == QLatin1String("journal left")) {
            QVERIFY(writeLibraryFile(path, 60, false));
        } else if (state == QLatin1String("older version")) {
            QVERIFY(writeLibraryFile(path, 60, true));
        } else if (state.startsWith(QLatin1String("damaged leaf"))) {
            // Of the oldest version: the books come back in today's columns even where they cannot
            // be written back. Of today's, its details' one page is damaged too.
            QVERIFY(writeLibraryFile(path, 60, !details, details));
            const QStringList leaves = sqliteSays(path,
                QStringLiteral("select pageno, ncell from dbstat where name = 'books' and "
                               "pagetype = 'leaf'"))
                                           .split(QLatin1Char('\n'));
            QVERIFY2(leaves.size() >= 3, qPrintable(leaves.join(' ')));
            const QStringList leaf = leaves.at(1).split(QLatin1Char('|'));
            // The rows of a leaf lost, every other row as SQLite read the sound file.
            expected = sqliteSays(path, booksCount).toInt() - leaf.value(1).toInt();
            QVERIFY(expected > 0 && expected < 60);
            const qint64 pageSize = sqlitepages::pageSizeOf(testfiles::read(path));
            QVERIFY(sqlitepages::overwrite(path, (leaf.value(0).toInt() - 1) * pageSize, QByteArray(pageSize, '\xff')));
            if (details) {
                const QString root = QStringLiteral("select rootpage from sqlite_master where name = 'book_metadata'");
                const int page = sqliteSays(path, root).toInt();
                QVERIFY(page > 1);
                QVERIFY(sqlitepages::overwrite(path, (page - 1) * pageSize, QByteArray(pageSize, '\xff')));
            }
        } else if (state == QLatin1String("another program's file")) {
            QStringList statements { QStringLiteral("create table books (isbn TEXT, name TEXT, price REAL)"),
                QStringLiteral("create table authors (id INTEGER primary key, name TEXT)") };
            for (int i = 0; i < 200; ++i)
                statements << QStringLiteral("insert into books values ('978%1', 'Title %1', 9.5)").arg(i);
            QVERIFY(writeDatabaseFile(path, statements));
            counted.clear();
        } else if (state == QLatin1String("first start")) {
            counted.clear();
        } else if (state == QLatin1String("finished rebuilt file")) {
            QVERIFY(writeLibraryFile(rebuilt, 80, false));
            QVERIFY(writeLibraryFile(older, 30, false));
            counted = rebuilt;
        } else {
            QVERIFY(writeLibraryFile(older, 60, state == QLatin1String("older file read-only")));
            counted = older;
        }
        if (state.endsWith(QLatin1String("journal left")) || state.endsWith(QLatin1String("with a journal"))) {
            QStringList changes { QStringLiteral("update books set title = 'Lost'") };
            for (int i = 0; i < 40; ++i)
                changes << QStringLiteral("insert into books (title, full_path) values ('Uncommitted', '%1')").arg(i);
            QVERIFY(leaveHotJournal(counted, changes));
        }
        if (state == QLatin1String("older file read-only"))
            QVERIFY(QFile::setPermissions(older, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        if (expected < 0)
            expected = counted.isEmpty() ? 0 : sqliteSays(counted, booksCount).toInt();
        QVERIFY(counted.isEmpty() || expected > 0);
        QMap<QString, QByteArray> files;
        for (const QString& file : { path, rebuilt, older }) {
            for (const QString& name : { file, file + QStringLiteral("-journal") }) {
                if (QFile::exists(name))
                    files.insert(name, fileHash(name));
            }
        }
        std::unique_ptr<ReadOnlyPlace> readOnly;
        if (!writable && !full) {
            readOnly = std::make_unique<ReadOnlyPlace>(folder);
            if (!readOnly->isReadOnly())
                QSKIP("the folder cannot be made read-only here");
        }
        if (full)
            QVERIFY(disk->fill());

        BoxRecorder boxes;
        boxes.answer = QMessageBox::Ok;
        const bool opened = db->createConnection(path, older);
        const bool told = !writable || state.startsWith(QLatin1String("damaged leaf"))
            || state == QLatin1String("another program's file");
        QVERIFY(opened || !counted.isEmpty() || !writable);
        QCOMPARE(db->allBooks().size(), expected);
        const int added = db->add(makeBook(QStringLiteral("/b/new.epub"), QStringLiteral("New"), BookFormat::Epub));
        QCOMPARE(added > 0, writable);
        QCoreApplication::processEvents();
        QStringList texts;
        for (const auto& box : qAsConst(boxes.boxes))
            texts << box.first + QStringLiteral(": ") + box.second;
        QVERIFY2(boxes.boxes.size() == (told ? 1 : 0), qPrintable(texts.join(QLatin1Char('\n'))));
        // Causes in the user's words: what SQLite said is in the log. Of the user's other rows, only
        // those of a table the file had are told lost: today's details, not tables the oldest
        // version never had.
        for (const QString& text : qAsConst(texts)) {
            QVERIFY2(!text.contains(QLatin1String("error code")) && !text.contains(QLatin1String("SQL"))
                    && !text.contains(QLatin1String("()")) && !text.contains(QLatin1String(": :")),
                qPrintable(text));
            if (text.contains(QLatin1String("Books read from it"))) {
                QVERIFY2(details ? text.contains(QLatin1String(" Also not brought back: book details (how many is "
                                                               "not known)."))
                                 : !text.contains(QLatin1String(" Also not brought back")),
                    qPrintable(text));
            }
        }
        closeLibrary();
        if (writable) {
            // A library made from a copy is its owner's to write.
            QVERIFY(QFileInfo(path).permissions() & QFile::WriteOwner);
        } else if (state == QLatin1String("first start")) {
            // A library that could not be made leaves no file the next start would take for one
            // that lost its books.
            QVERIFY(!QFile::exists(path));
        }
        // The older folder is only ever read; the library's own folder is changed only where it
        // can be written, and another program's file is never changed.
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            const bool ownFolder = !it.key().startsWith(QFileInfo(older).path());
            if (ownFolder && writable && state != QLatin1String("another program's file"))
                continue;
            if (ownFolder && full && (state == QLatin1String("journal left") || it.key().startsWith(rebuilt)))
                continue;
            QString now = it.key();
            if (ownFolder && state == QLatin1String("another program's file") && writable) {
                const QStringList kept = QDir(folder).entryList({ QStringLiteral("ebooklib.sqlite3.foreign-*") });
                QCOMPARE(kept.size(), 1);
                now = QDir(folder).filePath(kept.first());
            }
            QVERIFY2(fileHash(now) == it.value(), qPrintable(now));
        }
    }

    // The run as an ordinary user does not depend on where the checkout lies: from a build tree in a
    // folder only root can enter it passes; with a temporary folder closed to that user it says so
    // and is skipped, never failed.
    void ordinaryUserRunsWhereverTheTestLies_data()
    {
        QTest::addColumn<bool>("privateTest");
        QTest::addColumn<bool>("privateTemp");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("test in a private folder") << true << false << QStringLiteral("PASS");
        QTest::newRow("private temporary folder") << false << true << QStringLiteral("SKIP");
    }
    void ordinaryUserRunsWhereverTheTestLies()
    {
        if (::geteuid() != 0)
            QSKIP("only root runs rows again as an ordinary user");
        QFETCH(bool, privateTest);
        QFETCH(bool, privateTemp);
        QFETCH(QString, outcome);
        QTemporaryDir closed; // mode 0700, root's
        QVERIFY(closed.isValid());
        QString test = QCoreApplication::applicationFilePath();
        if (privateTest) {
            const QString copy = closed.filePath(QStringLiteral("tst_librarydb"));
            QVERIFY(QFile::copy(test, copy));
            test = copy;
        }
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (privateTemp)
            env.insert(QStringLiteral("TMPDIR"), closed.path());
        run.setProcessEnvironment(env);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(test, { QStringLiteral("readOnlyLibraryIsToldAtTheStart:read-only file") });
        QVERIFY(run.waitForFinished(180000));
        const QString output = QString::fromLocal8Bit(run.readAll());
        QVERIFY2(run.exitCode() == 0 && !output.contains(QLatin1String("FAIL!"))
                && output.contains(QRegularExpression(
                    QStringLiteral("^%1 +: \\w+::readOnlyLibraryIsToldAtTheStart\\(read-only file\\)( |$)")
                        .arg(outcome),
                    QRegularExpression::MultilineOption)),
            qPrintable(output));
        if (privateTemp)
            QVERIFY2(output.contains(QStringLiteral("the temporary folder %1 is closed to it").arg(closed.path())),
                qPrintable(output));
    }

    // Writes refused by a full disk, then by a folder that cannot be written, then by a full disk
    // again after a write that went through: each cause is told once, and again after the success.
    void failedWritesAreToldOncePerCause()
    {
        SmallDisk disk;
        if (!disk.isMounted())
            QSKIP("no tmpfs can be mounted here (not root)");
        QVERIFY(db->createConnection(disk.filePath(QStringLiteral("ebooklib.sqlite3"))));
        const int id = db->add(makeBook(QStringLiteral("/b/one.epub"), QStringLiteral("One"), BookFormat::Epub));
        QVERIFY(id > 0);
        BoxRecorder boxes;
        const auto told = [&boxes] {
            QCoreApplication::processEvents();
            QStringList texts;
            for (const auto& box : qAsConst(boxes.boxes))
                texts << box.first + QStringLiteral(": ") + box.second;
            return texts;
        };
        const QString full
            = QStringLiteral("Library not saved: A change to the library was not saved: The disk is full.");
        const QString folder = QStringLiteral(
            "Library not saved: A change to the library was not saved: The folder %1 cannot be written.")
                                   .arg(disk.path());
        QVERIFY(disk.fill());
        QVERIFY(!db->setFavorite(id, 1));
        QVERIFY(!db->setDeleted(id, 1));
        QCOMPARE(told(), QStringList { full });
        {
            ReadOnlyPlace readOnly(disk.path());
            QVERIFY(readOnly.isReadOnly());
            QVERIFY(!db->setFavorite(id, 1));
            QVERIFY(db->addCategory(QStringLiteral("Refused"), 0) < 0);
            QCOMPARE(told(), QStringList({ full, folder }));
        }
        disk.release();
        QVERIFY(db->setFavorite(id, 1));
        QVERIFY(disk.fill());
        QVERIFY(!db->setFavorite(id, 0));
        QCOMPARE(told(), QStringList({ full, folder, full }));
        QCOMPARE(db->bookById(id).is_favorite, 1);
        disk.release();
        closeLibrary();
    }
};

QTEST_GUILESS_MAIN(TestLibraryDb)
#include "tst_librarydb.moc"

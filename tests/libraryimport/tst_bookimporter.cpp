#include "importtesthelpers.h"

#include "fb2builder.h"
#include "librarytestdb.h"
#include "temphome.h"
#include "zipwriter.h"

#include "appdirs.h"
#include "formats/bookformat.h"
#include "import/bookimporter.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "models/foldermodel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace {

bookimporter* importer() { return bookimporter::instance(); }

// A library of its own in a temporary HOME: the database and the two models, loaded as the
// application loads them.
struct TestLibrary {
    TestLibrary()
        : home(std::make_unique<TempHome>())
    {
        open = BookProvider::instance()->createConnection(databasePath());
        folders = std::make_unique<FolderModel>();
        folders->reload();
        books = std::make_unique<BookModel>();
        books->setFolderModel(folders.get());
        books->selectAll();
        adder = std::make_unique<LibraryAdder>(*books, *folders);
    }
    ~TestLibrary()
    {
        adder.reset();
        books.reset();
        folders.reset();
        closeLibrary();
        home.reset();
    }
    QString path(const QString& relative) const { return home->filePath(relative); }
    // Adds the files through the task and waits until every book read is in the library.
    bool addNow(const QStringList& files)
    {
        const int before = adder->addedIds.size();
        ImportRecorder recorder;
        bookimporter::instance()->start(QString(), files);
        if (!recorder.waitFinished())
            return false;
        int added = 0;
        for (const auto& item : recorder.items)
            added += item.first == ItemAdded ? 1 : 0;
        return QTest::qWaitFor([&] { return adder->addedIds.size() == before + added; });
    }
    // The stored record of a book file, read back from the database.
    BookDto stored(const QString& file) const { return BookProvider::instance()->bookByPath(file); }

    std::unique_ptr<TempHome> home;
    bool open = false;
    std::unique_ptr<FolderModel> folders;
    std::unique_ptr<BookModel> books;
    std::unique_ptr<LibraryAdder> adder;
};

// A book file that holds the task at its item: a FIFO, which the task's read blocks on until the
// test opens it for writing and closes it again.
class FifoGate {
public:
    explicit FifoGate(const QString& path)
        : m_path(path)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        m_made = ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    }
    ~FifoGate() { release(); }
    bool isValid() const { return m_made; }

    // Waits until the task has the file open, that is, works on this item.
    bool waitForReader(int timeoutMs = 10000)
    {
        return QTest::qWaitFor(
            [this] {
                m_fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_NONBLOCK);
                return m_fd >= 0;
            },
            timeoutMs);
    }

    // Gives the task the book's bytes and lets it go on.
    void release(const QByteArray& bytes = QByteArray())
    {
        if (m_fd < 0)
            m_fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_NONBLOCK);
        if (m_fd < 0)
            return;
        if (!bytes.isEmpty() && ::write(m_fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
            qWarning() << "Short write into" << m_path;
        ::close(m_fd);
        m_fd = -1;
    }

private:
    QString m_path;
    bool m_made = false;
    int m_fd = -1;
};

QByteArray smallFb2(const QString& title)
{
    Fb2Builder book;
    book.setBookTitle(title);
    book.addBody(Fb2Builder::section(Fb2Builder::p(QStringLiteral("Text."))));
    return book.bytes();
}

QStringList titlesOf(const QList<QPair<ItemStatus, BookDto>>& items)
{
    QStringList titles;
    for (const auto& item : items)
        titles.append(item.second.title);
    return titles;
}

QList<int> statusesOf(const QList<QPair<ItemStatus, BookDto>>& items)
{
    QList<int> statuses;
    for (const auto& item : items)
        statuses.append(int(item.first));
    return statuses;
}

librarybooks::BookSpec titled(const QString& title)
{
    librarybooks::BookSpec recipe;
    recipe.title = title;
    return recipe;
}

} // namespace

class TestBookImporter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { usePdfEngine(); }
    void init();
    void cleanup();

    void oneFileAddsOneBook();
    void progressCountsEveryItem();
    void knownBooksAndRepeats();
    void folderTreeAddsItsBooks();
    void appendWhileBusy();
    void pauseHoldsBetweenItems();
    void cancelWhilePausedDropsTheQueue();
    void filesAddedAfterCancelGetTheirOwnRun();
    void archiveBooksComeFirst();
    void libraryArchiveRoundTrip();
    void exportReportsWhatItWrote();
    void cancelledExportLeavesNoArchive();
    void hostileLibraryArchive();
    void unreadableLibraryArchive();

private:
    std::unique_ptr<TestLibrary> m_library;
};

void TestBookImporter::init()
{
    m_library = std::make_unique<TestLibrary>();
    QVERIFY(m_library->open);
    importer()->toggleProcessing(false);
}

void TestBookImporter::cleanup()
{
    importer()->toggleProcessing(false);
    QVERIFY(QTest::qWaitFor([] { return !importer()->isRunning(); }, 30000));
    // Signals still posted by the last task reach nobody's library.
    QCoreApplication::processEvents();
    m_library.reset();
}

void TestBookImporter::oneFileAddsOneBook()
{
    const QString path = writeBook(m_library->path("Books"), QStringLiteral("one.epub"), titled("Only One"));
    ImportRecorder recorder;
    QVERIFY(importer()->start(QString(), { path }));
    QVERIFY(importer()->isRunning());
    QVERIFY(recorder.waitFinished());
    QCOMPARE(recorder.events, (QStringList { "importStarted", "item 0", "finished 1/1" }));
    // Every signal arrives on the GUI thread, whichever connection the receiver made.
    QCOMPARE(recorder.threads, QSet<QThread*> { QThread::currentThread() });
    const BookDto& item = recorder.items.at(0).second;
    QCOMPARE(item.full_path, path);
    QCOMPARE(item.title, QStringLiteral("Only One"));
    QTRY_COMPARE(m_library->adder->addedIds.size(), 1);
    QCOMPARE(m_library->stored(path).title, QStringLiteral("Only One"));
    QTRY_VERIFY(!importer()->isRunning());
}

void TestBookImporter::progressCountsEveryItem()
{
    QStringList files;
    for (int i = 1; i <= 3; ++i)
        files.append(writeBook(m_library->path("Books"), QStringLiteral("%1.fb2").arg(i)));
    ImportRecorder recorder;
    QVERIFY(importer()->start(QString(), files));
    QVERIFY(recorder.waitFinished());
    QCOMPARE(recorder.events,
        (QStringList { "importStarted", "progress 0/3", "item 0", "progress 1/3", "item 0", "progress 2/3", "item 0",
            "progress 3/3", "finished 3/3" }));
}

void TestBookImporter::knownBooksAndRepeats()
{
    const QString inLibrary = writeBook(m_library->path("Books"), QStringLiteral("kept.epub"), titled("Kept"));
    const QString trashed = writeBook(m_library->path("Books"), QStringLiteral("trashed.epub"), titled("Trashed"));
    const QString fresh = writeBook(m_library->path("Books"), QStringLiteral("fresh.epub"), titled("Fresh"));
    QVERIFY(m_library->addNow({ inLibrary, trashed }));
    QVERIFY(BookProvider::instance()->setDeleted(m_library->stored(trashed).id, 1));

    ImportRecorder recorder;
    // The same file twice in one list is one book; a relative spelling is the same file.
    const QString relative = QDir::current().relativeFilePath(fresh);
    importer()->start(QString(), { inLibrary, trashed, fresh, relative, m_library->path("Books/missing.epub") });
    QVERIFY(recorder.waitFinished());
    QCOMPARE(statusesOf(recorder.items),
        (QList<int> { ItemAlreadyInLibrary, ItemAdded, ItemAdded, ItemAlreadyInLibrary, ItemFileMissing }));
    // A known book is not read: the record carries only its path.
    QCOMPARE(recorder.items.at(0).second.full_path, inLibrary);
    QVERIFY(recorder.items.at(0).second.title.isEmpty());
    QCOMPARE(recorder.items.at(3).second.full_path, fresh);
    QCOMPARE(recorder.events.last(), QStringLiteral("finished 2/5"));
}

void TestBookImporter::folderTreeAddsItsBooks()
{
    const QString root = m_library->path("Shelf");
    writeBook(root, QStringLiteral("b.fb2"), titled("B"));
    writeBook(root + "/deep/deeper", QStringLiteral("c.mobi"), titled("C"));
    writeBook(root + "/deep", QStringLiteral("a.EPUB"), titled("A"));
    writeBook(root + "/comics", QStringLiteral("d.cbz"));
    QVERIFY(testfiles::write(root + "/notes.md", "not a book"));
    // A link back up the tree is entered once.
    QVERIFY(QFile::link(root, root + "/deep/loop"));
    const QString already = writeBook(root, QStringLiteral("old.fb2"), titled("Old"));
    QVERIFY(m_library->addNow({ already }));

    ImportRecorder recorder;
    importer()->start(QString(), { root });
    QVERIFY(recorder.waitFinished());
    QStringList names;
    for (const auto& item : recorder.items)
        names.append(QDir(root).relativeFilePath(item.second.full_path));
    QCOMPARE(names, (QStringList { "b.fb2", "comics/d.cbz", "deep/a.EPUB", "deep/deeper/c.mobi", "old.fb2" }));
    QCOMPARE(
        statusesOf(recorder.items), (QList<int> { ItemAdded, ItemAdded, ItemAdded, ItemAdded, ItemAlreadyInLibrary }));
    // The folder counts as nothing itself; its books are the run's items.
    QCOMPARE(recorder.progress.last(), qMakePair(5, 5));
}

void TestBookImporter::appendWhileBusy()
{
    FifoGate gate(m_library->path("Books/gate.fb2"));
    QVERIFY(gate.isValid());
    const QString books = m_library->path("Books");
    const QString a = writeBook(books, QStringLiteral("a.fb2"), titled("A"));
    const QString b = writeBook(books, QStringLiteral("b.fb2"), titled("B"));
    const QString c = writeBook(books, QStringLiteral("c.fb2"), titled("C"));
    const QString known = writeBook(books, QStringLiteral("known.fb2"), titled("Known"));
    QVERIFY(m_library->addNow({ known }));

    ImportRecorder recorder;
    QVERIFY(importer()->start(QString(), { books + "/gate.fb2", a }));
    QVERIFY(gate.waitForReader());
    // Appended: the book already in the library is known to this run as well.
    QCOMPARE(importer()->start(QString(), { b, known, c }), false);
    gate.release(smallFb2(QStringLiteral("Gate")));
    QVERIFY(recorder.waitFinished());
    QCOMPARE(titlesOf(recorder.items), (QStringList { "Gate", "A", "B", "", "C" }));
    QCOMPARE(statusesOf(recorder.items).at(3), int(ItemAlreadyInLibrary));
    QCOMPARE(recorder.progress,
        (QList<QPair<int, int>> { { 0, 2 }, { 0, 5 }, { 1, 5 }, { 2, 5 }, { 3, 5 }, { 4, 5 }, { 5, 5 } }));
}

void TestBookImporter::pauseHoldsBetweenItems()
{
    FifoGate gate(m_library->path("Books/gate.fb2"));
    QVERIFY(gate.isValid());
    const QString books = m_library->path("Books");
    QStringList files { books + "/gate.fb2" };
    for (int i = 1; i <= 3; ++i)
        files.append(writeBook(books, QStringLiteral("%1.fb2").arg(i), titled(QString::number(i))));

    ImportRecorder recorder;
    QVERIFY(importer()->start(QString(), files));
    QVERIFY(gate.waitForReader());
    importer()->toggleProcessing(true);
    QVERIFY(importer()->isPaused());
    gate.release(smallFb2(QStringLiteral("Gate")));
    // The item in hand is finished; the next waits.
    QVERIFY(recorder.waitItems(1));
    QTest::qWait(3 * bookimporter::kPauseStepMs);
    QCOMPARE(recorder.items.size(), 1);
    QVERIFY(importer()->isRunning());
    QCOMPARE(recorder.finishedCount, 0);

    importer()->toggleProcessing(false);
    QVERIFY(recorder.waitFinished());
    QCOMPARE(titlesOf(recorder.items), (QStringList { "Gate", "1", "2", "3" }));
}

void TestBookImporter::cancelWhilePausedDropsTheQueue()
{
    QStringList files;
    for (int i = 1; i <= 3; ++i)
        files.append(writeBook(m_library->path("Books"), QStringLiteral("%1.fb2").arg(i)));
    importer()->toggleProcessing(true);
    ImportRecorder recorder;
    QVERIFY(importer()->start(QString(), files));
    QTest::qWait(2 * bookimporter::kPauseStepMs);
    QCOMPARE(recorder.events, QStringList({ "importStarted", "progress 0/3" }));
    importer()->cancel();
    QVERIFY(recorder.waitFinished());
    QCOMPARE(recorder.items.size(), 0);
    QTRY_VERIFY(!importer()->isRunning());

    // The pause outlives the run; once lifted, the next run works through its files.
    importer()->toggleProcessing(false);
    ImportRecorder next;
    QVERIFY(importer()->start(QString(), files));
    QVERIFY(next.waitFinished());
    QCOMPARE(next.items.size(), 3);
}

void TestBookImporter::filesAddedAfterCancelGetTheirOwnRun()
{
    FifoGate gate(m_library->path("Books/gate.fb2"));
    QVERIFY(gate.isValid());
    const QString books = m_library->path("Books");
    const QString dropped = writeBook(books, QStringLiteral("dropped.fb2"), titled("Dropped"));
    const QString later = writeBook(books, QStringLiteral("later.fb2"), titled("Later"));

    ImportRecorder recorder;
    QVERIFY(importer()->start(QString(), { books + "/gate.fb2", dropped }));
    QVERIFY(gate.waitForReader());
    importer()->cancel();
    // The task still finishes its item; what is added now is not lost with the cancelled queue.
    QCOMPARE(importer()->start(QString(), { later }), false);
    gate.release(smallFb2(QStringLiteral("Gate")));
    QVERIFY(recorder.waitFinished(2));
    QCOMPARE(titlesOf(recorder.items), (QStringList { "Gate", "Later" }));
    QCOMPARE(recorder.events.filter(QStringLiteral("finished")).size(), 2);
    QCOMPARE(recorder.events.filter(QStringLiteral("importStarted")).size(), 2);
    QVERIFY(recorder.events.indexOf(QStringLiteral("finished 1/1")) < recorder.events.lastIndexOf("importStarted"));
}

void TestBookImporter::archiveBooksComeFirst()
{
    QList<BookDto> books;
    for (int i = 1; i <= 5; ++i) {
        BookDto book;
        book.full_path = writeBook(m_library->path("Old"), QStringLiteral("%1.fb2").arg(i), titled(QString::number(i)));
        book.title = QStringLiteral("Archived %1").arg(i);
        book.folder_title = i % 2 ? QStringLiteral("Odd") : QString();
        books.append(book);
    }
    QTemporaryDir outside;
    const QString archive = outside.filePath(QStringLiteral("five.olv"));
    {
        ImportRecorder exporting;
        QVERIFY(importer()->exportToArchive(archive, books));
        QVERIFY(exporting.waitFinished());
        QCOMPARE(exporting.exported, (QList<QPair<int, int>> { { 5, 5 } }));
    }
    const QString after = writeBook(m_library->path("Books"), QStringLiteral("after.fb2"), titled("After"));

    ImportRecorder recorder;
    QVERIFY(importer()->start(QString(), { bookimporter::ArchivePrefix + archive, after }));
    QVERIFY(recorder.waitFinished());
    QCOMPARE(titlesOf(recorder.items),
        (QStringList { "Archived 1", "Archived 2", "Archived 3", "Archived 4", "Archived 5", "After" }));
    // The archive counts as nothing itself; its five books do.
    QCOMPARE(recorder.progress.first(), qMakePair(0, 2));
    QCOMPARE(recorder.progress.last(), qMakePair(6, 6));
    for (int i = 0; i < 5; ++i) {
        const BookDto& item = recorder.items.at(i).second;
        QCOMPARE(QFileInfo(item.full_path).absolutePath(), importDir());
        QCOMPARE(item.folder_title, books.at(i).folder_title);
    }
}

void TestBookImporter::libraryArchiveRoundTrip()
{
    QTemporaryDir outside;
    const QString archive = outside.filePath(QStringLiteral("library.olv"));
    QStringList suffixes = librarybooks::suffixes();
    {
        // The first library: every format, folders, a favourite, reading progress.
        QStringList files;
        for (const QString& suffix : suffixes)
            files.append(writeBook(m_library->path("Books"), QStringLiteral("book.") + suffix, titled(suffix)));
        // The task must never use the database: Qt complains when a connection is used on another thread.
        const MessageCatcher foreignThread(QStringLiteral("does not belong to the calling thread"));
        ImportRecorder recorder;
        QVERIFY(importer()->start(QString(), files));
        QVERIFY(recorder.waitFinished());
        QCOMPARE(statusesOf(recorder.items), QVector<int>(files.size(), ItemAdded).toList());
        QCOMPARE(recorder.threads, QSet<QThread*> { QThread::currentThread() });
        QCOMPARE(foreignThread.messages(), QStringList());
        QTRY_COMPARE(m_library->adder->addedIds.size(), files.size());
        QCOMPARE(m_library->books->rowCount(), files.size());
        // The description went into the database with the book.
        QCOMPARE(BookProvider::instance()->getMetaData(m_library->stored(files.at(0)).id, BookMetaDescription),
            QStringLiteral("A short book for tests."));
        for (int i = 0; i < files.size(); ++i) {
            BookDto book = m_library->stored(files.at(i));
            book.position = 10 + i;
            book.max_position = 100 + i;
            book.is_favorite = i % 2;
            // Books that name themselves after their file, retitled in the library.
            if (book.format == BookFormat::Pdf || book.format == BookFormat::Cbz || book.format == BookFormat::Cbr) {
                book.title = QStringLiteral("Edited ") + suffixes.at(i);
                book.author = QStringLiteral("Edited Author");
            }
            QVERIFY(BookProvider::instance()->update(book));
            if (i < 4) {
                const int folder = m_library->folders->findOrAddCategory(i < 2 ? "Novels" : "Comics");
                QVERIFY(m_library->folders->addBookToCategory(book.id, folder));
            }
        }
        ImportRecorder exporting;
        QVERIFY(importer()->exportToArchive(archive, BookProvider::instance()->allBooksWithFolderTitle()));
        QVERIFY(exporting.waitFinished());
        QCOMPARE(exporting.events.first(), QStringLiteral("exportStarted"));
        QCOMPARE(exporting.exported, (QList<QPair<int, int>> { { 10, 10 } }));
    }

    // A fresh library in another home.
    m_library.reset();
    m_library = std::make_unique<TestLibrary>();
    QVERIFY(m_library->open);
    ImportRecorder importing;
    QVERIFY(importer()->importFromArchive(archive));
    QVERIFY(importing.waitFinished());
    QCOMPARE(importing.items.size(), suffixes.size());
    QTRY_COMPARE(m_library->adder->addedIds.size(), suffixes.size());

    const QList<BookDto> imported = BookProvider::instance()->allBooksWithFolderTitle();
    QCOMPARE(imported.size(), suffixes.size());
    for (int i = 0; i < suffixes.size(); ++i) {
        const QString& suffix = suffixes.at(i);
        // Titles and authors edited in the library stay; plain text is named after its file.
        const bool edited = suffix == "cbz" || suffix == "cbr" || suffix == "pdf";
        const QString title = edited ? QStringLiteral("Edited ") + suffix
            : suffix == "txt"        ? QStringLiteral("book")
                                     : suffix;
        BookDto book;
        for (const BookDto& candidate : imported) {
            if (QFileInfo(candidate.full_path).suffix() == suffix)
                book = candidate;
        }
        QVERIFY2(book.id > 0, qPrintable(suffix));
        QCOMPARE(book.title, title);
        if (edited)
            QCOMPARE(book.author, QStringLiteral("Edited Author"));
        QCOMPARE(book.format, bookFormatFromName(suffix));
        QCOMPARE(book.position, 10 + i);
        QCOMPARE(book.max_position, 100 + i);
        QCOMPARE(book.is_favorite, i % 2);
        QCOMPARE(book.folder_title, i < 2 ? QStringLiteral("Novels") : i < 4 ? QStringLiteral("Comics") : QString());
        QVERIFY(book.full_path.startsWith(importDir() + QLatin1Char('/')));
        if (suffix != "txt")
            QCOMPARE(QImage(book.cover).height(), 300);
    }
    QCOMPARE(m_library->folders->rowCount(), 2);
}

void TestBookImporter::exportReportsWhatItWrote()
{
    QList<BookDto> books;
    for (const QString name : { "one.epub", "two.fb2", "three.pdf" }) {
        BookDto book;
        book.full_path = writeBook(m_library->path("Books"), name);
        books.append(book);
    }
    QVERIFY(QFile::remove(books.at(1).full_path));
    QTemporaryDir outside;
    const QString archive = outside.filePath(QStringLiteral("export.olv"));
    ImportRecorder recorder;
    QVERIFY(importer()->exportToArchive(archive, books));
    // One task at a time: a second export is refused while this one runs.
    QCOMPARE(importer()->exportToArchive(outside.filePath(QStringLiteral("second.olv")), books), false);
    QVERIFY(recorder.waitFinished());
    QCOMPARE(recorder.events, (QStringList { "exportStarted", "progress 0/3", "progress 1/3", "exported 2/3" }));
    QCOMPARE(recorder.threads, QSet<QThread*> { QThread::currentThread() });
    QTRY_VERIFY(!importer()->isRunning());
    QVERIFY(QFile::exists(archive));
    QVERIFY(!QFile::exists(outside.filePath(QStringLiteral("second.olv"))));

    // An archive that cannot be made is a failed export, not an import.
    ImportRecorder failing;
    QVERIFY(importer()->exportToArchive(outside.filePath(QStringLiteral("absent/export.olv")), books));
    QVERIFY(failing.waitFinished());
    QCOMPARE(failing.events, (QStringList { "exportStarted", "exported 0/3" }));
}

void TestBookImporter::cancelledExportLeavesNoArchive()
{
    QList<BookDto> books;
    for (int i = 0; i < 3; ++i) {
        BookDto book;
        book.full_path = writeBook(m_library->path("Books"), QStringLiteral("%1.epub").arg(i));
        books.append(book);
    }
    QTemporaryDir outside;
    const QString archive = outside.filePath(QStringLiteral("export.olv"));
    importer()->toggleProcessing(true);
    ImportRecorder recorder;
    QVERIFY(importer()->exportToArchive(archive, books));
    QTest::qWait(2 * bookimporter::kPauseStepMs);
    importer()->cancel();
    QVERIFY(recorder.waitFinished());
    QCOMPARE(recorder.events, (QStringList { "exportStarted", "exported 0/0" }));
    QTRY_VERIFY(!importer()->isRunning());
    QCOMPARE(QDir(outside.path()).entryList(QDir::Files), QStringList());

    // Files added while an export runs are added when it ends.
    importer()->toggleProcessing(false);
    const QString added = writeBook(m_library->path("Books"), QStringLiteral("added.fb2"), titled("Added"));
    ImportRecorder both;
    importer()->toggleProcessing(true);
    QVERIFY(importer()->exportToArchive(archive, books));
    QCOMPARE(importer()->start(QString(), { added }), false);
    importer()->toggleProcessing(false);
    QVERIFY(both.waitFinished(2));
    QCOMPARE(both.exported, (QList<QPair<int, int>> { { 3, 3 } }));
    QCOMPARE(titlesOf(both.items), QStringList { "Added" });
    QVERIFY(both.events.indexOf(QStringLiteral("exported 3/3")) < both.events.indexOf(QStringLiteral("importStarted")));
}

void TestBookImporter::hostileLibraryArchive()
{
    QTemporaryDir outside;
    const QString archive = outside.filePath(QStringLiteral("hostile.olv"));
    const QByteArray book = smallFb2(QStringLiteral("Fine"));
    QJsonArray books {
        QJsonObject { { "rel_path", "../../escape.fb2" }, { "file_name", "escape.fb2" }, { "title", "Escape" } },
        QJsonObject { { "rel_path", "x/fine.fb2" }, { "file_name", "../../../fine.fb2" }, { "title", "Climb" } },
        QJsonObject { { "rel_path", "x/fine.fb2" }, { "file_name", "fine.fb2" }, { "title", "Fine" } },
        QJsonObject { { "rel_path", "x/absent.fb2" }, { "file_name", "absent.fb2" }, { "title", "Absent" } },
    };
    ZipWriter zip(archive);
    zip.add(QStringLiteral("container.json"), QJsonDocument(QJsonObject { { "books", books } }).toJson());
    zip.add(QStringLiteral("../../escape.fb2"), book);
    zip.add(QStringLiteral("x/fine.fb2"), book);
    QVERIFY(zip.write());

    ImportRecorder recorder;
    importer()->importFromArchive(archive);
    QVERIFY(recorder.waitFinished());
    QCOMPARE(titlesOf(recorder.items), (QStringList { "Fine", "Absent" }));
    QCOMPARE(statusesOf(recorder.items), (QList<int> { ItemAdded, ItemFileMissing }));
    QCOMPARE(QDir(importDir()).entryList(QDir::Files), QStringList { "fine.fb2" });
    QVERIFY(!QFile::exists(m_library->path("escape.fb2")));
    QVERIFY(!QFile::exists(QDir(m_library->home->path()).absoluteFilePath("../escape.fb2")));
}

// A damaged or foreign archive is one book that could not be read, not a silent empty run.
void TestBookImporter::unreadableLibraryArchive()
{
    QTemporaryDir outside;
    const QString notZip = outside.filePath(QStringLiteral("text.olv"));
    QVERIFY(testfiles::write(notZip, QByteArray("These are not the books you are looking for.")));
    const QString noIndex = outside.filePath(QStringLiteral("noindex.olv"));
    ZipWriter zip(noIndex);
    zip.add(QStringLiteral("x/book.fb2"), smallFb2(QStringLiteral("Book")));
    QVERIFY(zip.write());
    for (const QString& archive : { notZip, noIndex }) {
        ImportRecorder recorder;
        QVERIFY(importer()->importFromArchive(archive));
        QVERIFY(recorder.waitFinished());
        QCOMPARE(statusesOf(recorder.items), QList<int> { ItemReadFailed });
        QCOMPARE(recorder.items.first().second.full_path, archive);
    }
}

QTEST_MAIN(TestBookImporter)
#include "tst_bookimporter.moc"

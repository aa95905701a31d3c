#include "bookprovider.h"

#include "checkedsave.h"
#include "eventloops/nestedloop.h"
#include "librarycheck.h"
#include "librarydatabase.h"
#include "librarymessagebox.h"
#include "libraryreadcopy.h"
#include "librarysalvage.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

// Rows are read by position from explicit column lists, so a file whose late columns were
// appended in another order reads the same as a current one.
#define BOOK_COLUMNS                                                                                                   \
    "id, cover, full_path, author, title, format, time_added, time_last_view, position, max_position, is_favorite, "   \
    "is_deleted, notes_count, book_hash, use_user_cover"

const char* const kSelectBookById = "select " BOOK_COLUMNS " from books where id=:id";
const char* const kSelectBookByPath
    = "select " BOOK_COLUMNS " from books where full_path=:full_path AND is_deleted = 0";
const char* const kSelectAllBooks = "select " BOOK_COLUMNS " from books ORDER BY time_added DESC";
#undef BOOK_COLUMNS

const char* const kInsertBook
    = "INSERT INTO books (cover, full_path, author, title, format, time_added, time_last_view, position, "
      "max_position, is_favorite, is_deleted, notes_count, book_hash, use_user_cover) VALUES (:cover, :full_path, "
      ":author, :title, :format, :time_added, :time_last_view, :position, :max_position, :is_favorite, :is_deleted, "
      ":notes_count, :book_hash, :use_user_cover)";
const char* const kUpdateBook
    = "UPDATE books SET cover=:cover, full_path=:full_path,author=:author, title=:title, format=:format, "
      "time_added=:time_added, time_last_view=:time_last_view, position=:position, max_position=:max_position, "
      "is_favorite=:is_favorite,is_deleted=:is_deleted, notes_count=:notes_count, "
      "book_hash=:book_hash,use_user_cover=:use_user_cover WHERE id = :id;";
const char* const kSetMetaData
    = "INSERT OR REPLACE INTO book_metadata (id, book_id, meta_type, meta_value) VALUES ((SELECT ID FROM "
      "book_metadata WHERE book_id = :book_id AND meta_type=:meta_type), :book_id, :meta_type, :meta_value)";
const char* const kAllCategories
    = "select f.id, f.parent_id, f.title, (SELECT COUNT(*) from book_folder_binder bfb join books on bfb.book_id = "
      "books.id where bfb.folder_id = f.id and books.is_deleted = 0 ) as book_count from folders as f order by "
      "f.title";
const char* const kCategoryCounts
    = "select (SELECT COUNT(*) from books where (is_deleted = 0) ) as all_count, (select COUNT(*) from books where "
      "(is_deleted = 0) ORDER BY time_added DESC limit :max_last_added_book_count) as last_added_count, (select "
      "COUNT(*) from books where (is_deleted = 0) and (time_last_view >= :recently_read_time_last_view) ORDER BY "
      "time_last_view DESC limit :recently_read_max_book_count) as recently_read_count, (select COUNT(*) from books "
      "where (is_favorite = 1) AND (is_deleted = 0)) as favorites_read_count, (select COUNT(*) from books where "
      "(is_deleted = 1)) as deleted_count";
const char* const kAllBooksWithFolderTitle
    = "select b.id, b.cover, b.full_path, b.author, b.title, b.format, b.time_added, b.time_last_view, b.position, "
      "b.max_position, b.is_favorite, b.is_deleted, b.notes_count, b.book_hash, folders.title as folder_title, "
      "b.use_user_cover from books as b left outer join book_folder_binder on b.id = book_folder_binder.book_id left "
      "outer join folders on book_folder_binder.folder_id = folders.id where is_deleted = 0";

const int kRecentlyReadMaxBookCount = 20;
const int kMaxLastAddedBookCount = 8;
const quint32 kRecentlyReadSeconds = 5184000; // 60 days

QSqlQuery prepared(const char* sql)
{
    QSqlQuery query;
    query.prepare(QString::fromLatin1(sql));
    return query;
}

void bind(QSqlQuery& query, const char* name, const QVariant& value)
{
    query.bindValue(QString::fromLatin1(name), value);
}

void bindBook(QSqlQuery& query, const BookDto& book)
{
    bind(query, ":cover", BookProvider::encodeText(book.cover));
    bind(query, ":full_path", BookProvider::encodeText(book.full_path));
    bind(query, ":author", book.author);
    bind(query, ":title", book.title);
    bind(query, ":format", book.format);
    bind(query, ":time_added", book.time_added);
    bind(query, ":time_last_view", book.time_last_view);
    bind(query, ":position", book.position);
    bind(query, ":max_position", book.max_position);
    bind(query, ":is_favorite", book.is_favorite);
    bind(query, ":is_deleted", book.is_deleted);
    bind(query, ":notes_count", book.notes_count);
    bind(query, ":book_hash", book.book_hash);
    bind(query, ":use_user_cover", book.use_user_cover ? 1 : 0);
}

// The default record when the statement fails or yields nothing; with several rows the last wins.
BookDto lastBookRow(QSqlQuery& query)
{
    BookDto book;
    if (query.exec()) {
        while (query.next())
            BookProvider::readBookRow(query, book);
    }
    return book;
}

// Every row of a statement run directly, in statement order; empty when it fails.
QList<BookDto> selectBooks(const char* sql, void (*readRow)(const QSqlQuery&, BookDto&))
{
    QSqlQuery query;
    query.setForwardOnly(true);
    QList<BookDto> books;
    if (!query.exec(QString::fromLatin1(sql)))
        return books;
    while (query.next()) {
        books.append(BookDto());
        readRow(query, books.last());
    }
    return books;
}

} // namespace

BookProvider::BookProvider() { qRegisterMetaType<BookDto>("BookDto"); }

BookProvider* BookProvider::instance()
{
    static BookProvider provider;
    return &provider;
}

namespace {

QString providerText(const char* source) { return QCoreApplication::translate("BookProvider", source); }

const char* const kNotSavedTitle = QT_TRANSLATE_NOOP("BookProvider", "Library not saved");

bool isWritable(const QString& path) { return ::access(QFile::encodeName(path).constData(), W_OK) == 0; }

// Why the library file did not take a write, naming what the user can change; empty when the
// failure is no matter of storage (a statement refused, a damaged file, a busy lock).
QString storageCause(const QString& databasePath, const QSqlError& error)
{
    // SQLite's primary result codes: PERM 3, READONLY 8, IOERR 10, FULL 13, CANTOPEN 14 (a
    // journal that cannot be made beside the file).
    const int code = error.nativeErrorCode().toInt() & 0xff;
    if (code == 13)
        return providerText("The disk is full");
    if (code != 3 && code != 8 && code != 10 && code != 14)
        return QString();
    const QFileInfo file(databasePath);
    if (!isWritable(file.absolutePath()))
        return providerText("The folder %1 cannot be written").arg(QDir::toNativeSeparators(file.absolutePath()));
    if (code == 10 && checkedsave::classifyFolder(databasePath) == checkedsave::Failure::DiskFull)
        return providerText("The disk is full");
    return providerText("The file %1 cannot be written").arg(QDir::toNativeSeparators(file.absoluteFilePath()));
}

const char* const kCompanions[] = { "-journal", "-wal", "-shm" };

// A name beside the file that says why and when it was kept.
QString keptName(const QString& path, const char* why)
{
    return path + QLatin1Char('.') + QLatin1String(why) + QLatin1Char('-')
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

// The journal files SQLite may have left beside a file go with it: beside another file they would
// be rolled back into that one.
void moveCompanions(const QString& from, const QString& to)
{
    for (const char* suffix : kCompanions) {
        const QString companion = from + QLatin1String(suffix);
        if (QFile::exists(companion))
            QFile::rename(companion, to + QLatin1String(suffix));
    }
}

// Renames over an existing file in one step.
bool replaceFile(const QString& from, const QString& to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// Why a file beside the library could not be written: the storage's cause where it tells one,
// else the error itself.
QString writeCause(const QString& path, const QString& errorText, const QSqlError& error = QSqlError())
{
    QString cause = storageCause(path, error);
    if (cause.isEmpty())
        cause = checkedsave::failureText(checkedsave::classifyFolder(path), path);
    return cause.isEmpty() ? errorText : cause;
}

// Moves the file (and its journal files) out of the way under a name that says why and when; the
// user's data is never deleted. The new name, or empty with the cause.
QString keepAside(const QString& path, const char* why, QString* cause)
{
    const QString kept = keptName(path, why);
    if (!QFile::rename(path, kept)) {
        *cause = writeCause(path, providerText("it cannot be renamed"));
        qCritical() << "Cannot move the library database" << path << "to" << kept << *cause;
        return QString();
    }
    moveCompanions(path, kept);
    qCritical() << "The library database is kept as" << kept;
    return kept;
}

// Keeps the file under a second name while it stays in place: a second link where the file system
// has them, else a copy made under a temporary name. The name, or empty with the cause.
QString keepBeside(const QString& path, const char* why, QString* cause)
{
    const QString kept = keptName(path, why);
    if (::link(QFile::encodeName(path).constData(), QFile::encodeName(kept).constData()) == 0)
        return kept;
    const QString part = kept + QStringLiteral(".part");
    QFile::remove(part);
    QFile file(path);
    // Never over a file kept before.
    if (file.copy(part) && QFile::rename(part, kept))
        return kept;
    *cause = writeCause(part, file.errorString());
    QFile::remove(part);
    qCritical() << "Cannot keep the library database" << path << "as" << kept << *cause;
    return QString();
}

// The finished new file of a salvage, before it takes the library's place.
QString rebuiltPath(const QString& path) { return path + QStringLiteral(".rebuilt"); }

// Puts a copy of the backup in the library's place, in one step: a failed copy leaves the
// library as it was.
bool restoreBackup(const QString& backup, const QString& path, const QString& title)
{
    const QString part = path + QStringLiteral(".part");
    QString error;
    if (LibraryReadCopy::copyWhole(backup, part, false, &error) && LibraryReadCopy::putInPlace(part, path, &error)) {
        qWarning() << "The library database was restored from" << backup;
        return true;
    }
    qCritical() << "Cannot restore the library database from" << backup << error;
    LibraryMessageBox::critical(title,
        providerText("The backup %1 could not be restored.").arg(QDir::toNativeSeparators(backup)), QMessageBox::Ok);
    return false;
}

// The salvage of the damaged library at path into part, on a thread of its own; meanwhile the
// calling thread keeps handling its events (the start-up splash stays alive) and shows how far
// the salvage has come.
LibrarySalvage::Result salvageLibrary(const QString& path, const QString& part)
{
    const auto tell = [](int percent) {
        LibraryMessageBox::progress(providerText("Reading the damaged library: %1%").arg(percent));
        NestedLoop::processEvents();
    };
    std::atomic<int> percent { 0 };
    LibrarySalvage::Result result;
    std::unique_ptr<QThread> worker(QThread::create(
        [&] { result = LibrarySalvage::rebuild(path, part, [&percent](int done) { percent = done; }); }));
    int shown = 0;
    tell(shown);
    worker->start();
    while (!worker->wait(40)) {
        if (percent != shown)
            tell(shown = percent);
        else
            NestedLoop::processEvents();
    }
    if (shown != 100)
        tell(100);
    LibraryMessageBox::progress(QString());
    return result;
}

// Carries the rows that still read from the damaged file at path into a new file that then takes
// its place; the damaged file is kept under a second name first, so that there is no moment without
// a library file: a run that stops on the way leaves the damaged file in place, or the finished new
// file where the library file is gone. The name the damaged file is kept as; empty, with the cause,
// when the new file could not be written (the damaged file stays as it is).
QString salvageInPlace(const QString& path, LibrarySalvage::Result* salvage, QString* cause)
{
    // Beside the damaged file, so that the rename that puts it in place stays on one file system.
    const QString part = path + QStringLiteral(".part");
    const QString rebuilt = rebuiltPath(path);
    *salvage = salvageLibrary(path, part);
    if (!salvage->stored) {
        *cause = writeCause(part, salvage->writeError.text(), salvage->writeError);
        QFile::remove(part);
        return QString();
    }
    QString error;
    if (!LibraryReadCopy::putInPlace(part, rebuilt, &error)) {
        *cause = writeCause(part, error);
        return QString();
    }
    const QString kept = keepBeside(path, "damaged", cause);
    if (kept.isEmpty()) {
        QFile::remove(rebuilt);
        return QString();
    }
    moveCompanions(path, kept);
    if (!replaceFile(rebuilt, path)) {
        *cause = writeCause(path, QString::fromLocal8Bit(std::strerror(errno)));
        moveCompanions(kept, path);
        QFile::remove(kept);
        QFile::remove(rebuilt);
        return QString();
    }
    qCritical() << "The library database is kept as" << kept;
    return kept;
}

enum class Trouble { Damaged, Empty, Foreign };

// Where the library is read from, and how.
struct Source {
    QString path; // empty: no library is opened
    bool readOnly = false;
    QString heldCause; // why no change is saved in this run, told to the user already
    bool salvaged = false; // read from what could be salvaged of a damaged file that stays as it is
};

QString troubleTitle(Trouble trouble)
{
    return trouble == Trouble::Damaged ? providerText("Damaged library")
        : trouble == Trouble::Empty    ? providerText("Empty library file")
                                       : providerText("Library file of another program");
}

// What is wrong with the file, in the user's words: SQLite's findings stay in the log.
QString troubleText(Trouble trouble)
{
    return trouble == Trouble::Damaged ? providerText("The library file is damaged.")
        : trouble == Trouble::Empty    ? providerText("The library file was empty.")
                                       : providerText("The library file is no library of this program.");
}

QString notMovedText(Trouble trouble, const QString& path, const QString& cause)
{
    return (trouble == Trouble::Empty
                   ? providerText("The library file %1 is empty and could not be moved aside: %2.")
                   : providerText("The file %1 is no library of this program and could not be moved aside: %2."))
               .arg(QDir::toNativeSeparators(path), cause)
        + QLatin1Char(' ') + providerText("It was not changed, and no library is opened.");
}

// Why the file at path or its folder cannot be written, naming which.
QString unwritableCause(const QString& path)
{
    const QFileInfo file(path);
    if (!isWritable(file.absolutePath()))
        return providerText("The folder %1 cannot be written").arg(QDir::toNativeSeparators(file.absolutePath()));
    return providerText("The file %1 cannot be written").arg(QDir::toNativeSeparators(file.absoluteFilePath()));
}

void tellNotSaved(const QString& before, const QString& cause)
{
    QStringList text;
    if (!before.isEmpty())
        text << before;
    text << providerText("Changes to the library cannot be saved: %1. Books can be read, but favourites, folders, the "
                         "trash and added books stay as they are.")
                .arg(cause);
    qWarning().noquote() << "The user is told:" << text.join(QLatin1Char(' '));
    LibraryMessageBox::critical(providerText(kNotSavedTitle), text.join(QLatin1Char(' ')), QMessageBox::Ok);
}

// A new, empty library beside the file, finished before anything of the file is moved: a file set
// aside always has a library to take its place. Empty, with the cause, when none can be made.
QString newLibraryBeside(const QString& path, QString* cause)
{
    const QString part = path + QStringLiteral(".part");
    LibraryReadCopy::removeWithJournal(part);
    const QString connection = QStringLiteral("pl_library_new");
    QSqlError error;
    bool made = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(part);
        if (db.open())
            made = LibraryDatabase::createOrUpgrade(connection, &error);
        else
            error = db.lastError();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    if (made)
        return part;
    qCritical() << "Cannot make a new library beside" << path << error.text();
    *cause = writeCause(part, LibraryDatabase::plainText(error), error);
    LibraryReadCopy::removeWithJournal(part);
    return QString();
}

// The rows of a damaged file that cannot be rebuilt in its folder are carried into a new file in the
// run's private folder and read from there; one box says what is shown and that changes are not
// saved. The file itself is only read.
void salvageAside(const QString& from, const QString& cause, Source* source)
{
    const QString title = troubleTitle(Trouble::Damaged);
    QStringList message { troubleText(Trouble::Damaged),
        providerText("Its books could not be carried into a new library file: %1.").arg(cause) };
    QString error;
    const QString rebuilt = LibraryReadCopy::privatePath(from, QStringLiteral(".rebuilt"), &error);
    const LibrarySalvage::Result salvage = rebuilt.isEmpty() ? LibrarySalvage::Result() : salvageLibrary(from, rebuilt);
    source->path.clear();
    if (!salvage.stored) {
        qCritical().noquote() << "No copy of the damaged library could be written:" << error
                              << salvage.writeError.text();
        message << providerText("Nothing was changed, and no library is opened.");
        LibraryMessageBox::critical(title, message.join(QLatin1Char(' ')), QMessageBox::Ok);
        return;
    }
    message << LibrarySalvage::told(salvage)
            << providerText("They are shown from a copy; changes are not saved until the library file can be "
                            "written, which the next start tries again.");
    qWarning().noquote() << "The user is told:" << message.join(QLatin1Char(' '));
    LibraryMessageBox::critical(title, message.join(QLatin1Char(' ')), QMessageBox::Ok);
    *source = { rebuilt, true, cause, true };
}

// A damaged or empty library file, or another program's file in its place, is set aside. The rows of
// a damaged file that still read are carried into a new library in its place, and a sound backup that
// holds more books is offered instead. One box tells the user how many books came back and where the
// old file is. Where the file cannot be moved, it is not changed: a damaged one is read from a
// salvage in the private folder, any other is not opened; the box says so.
void replaceLibraryFile(const QString& path, Trouble trouble, const QString& error, Source* source)
{
    const bool empty = trouble == Trouble::Empty;
    const QString title = troubleTitle(trouble);
    if (trouble == Trouble::Damaged)
        qCritical() << "The library database" << path << "is damaged:" << error;
    else
        qCritical() << "The library database" << path << (empty ? "is empty" : "is no library of this program");
    LibrarySalvage::Result salvage;
    QString cause;
    QString kept;
    if (trouble == Trouble::Damaged) {
        kept = salvageInPlace(path, &salvage, &cause);
        if (kept.isEmpty()) {
            qCritical().noquote() << "The damaged library cannot be rebuilt in its folder:" << cause;
            salvageAside(path, cause, source);
            return;
        }
    } else {
        const QString part = newLibraryBeside(path, &cause);
        kept = part.isEmpty() ? QString() : keepAside(path, empty ? "empty" : "foreign", &cause);
        if (!kept.isEmpty() && !LibraryReadCopy::putInPlace(part, path, &cause)) {
            cause = writeCause(path, cause);
            moveCompanions(kept, path);
            QFile::rename(kept, path);
            kept.clear();
        }
        if (kept.isEmpty()) {
            LibraryReadCopy::removeWithJournal(part);
            LibraryMessageBox::critical(title, notMovedText(trouble, path, cause), QMessageBox::Ok);
            source->path.clear();
            return;
        }
    }
    const int books = salvage.books;

    QStringList message { troubleText(trouble),
        providerText("It was kept as %1.").arg(QDir::toNativeSeparators(kept)) };
    if (trouble == Trouble::Damaged)
        message << LibrarySalvage::told(salvage);
    const QString backup = LibraryDatabase::backupPath(path);
    QString backupError;
    int backupBooks = -1;
    if (QFile::exists(backup)) {
        if (LibraryCheck::check(backup, LibraryCheck::Depth::Full, &backupError) == LibraryCheck::Verdict::Sound)
            backupBooks = LibrarySalvage::bookCount(backup);
        else
            qWarning() << "The library backup" << backup << "is damaged too:" << backupError;
    }
    qWarning().noquote() << "The user is told:" << message.join(QLatin1Char(' '));
    if (backupBooks > books) {
        const QString when = QFileInfo(backup).lastModified().toString(Qt::ISODate);
        message << providerText("The backup of %1 holds more books (%2). Restore the library from the backup?")
                       .arg(when)
                       .arg(backupBooks)
                << (books > 0 ? providerText("Cancel keeps the books read from the damaged file.")
                              : providerText("Cancel starts a new, empty library."));
        const auto answer
            = LibraryMessageBox::critical(title, message.join(QLatin1Char(' ')), QMessageBox::Ok | QMessageBox::Cancel);
        if (answer == QMessageBox::Ok && restoreBackup(backup, path, title))
            return;
    } else {
        if (books == 0)
            message << providerText("A new, empty library is started.");
        LibraryMessageBox::critical(title, message.join(QLatin1Char(' ')), QMessageBox::Ok);
    }
    qWarning() << "The library in" << path << "starts with" << books << "books";
}

// A library that cannot be used in its place (its folder or file cannot be written, or it could not
// be copied there from the older folder) is read from a copy of the file at from, rolled back,
// checked and brought up to date in the run's private folder. One box says what is shown and why
// changes are not saved. Where no copy can be made, a file without a journal is read as it is; one
// with a journal cannot be read at all.
Source readFromCopy(const QString& from, const QString& cause, const QString& before)
{
    Source source { QString(), true, cause };
    QString error;
    const QString copy = LibraryReadCopy::privatePath(from, QString(), &error);
    if (copy.isEmpty() || !LibraryReadCopy::copyWhole(from, copy, false, &error)) {
        qCritical().noquote() << "No copy of the library" << from << "could be made to read it from:" << error;
        if (LibraryReadCopy::hasJournal(from)) {
            LibraryMessageBox::critical(providerText("Library not read"),
                providerText("The library %1 cannot be read: a program stopped while changing it, its folder cannot "
                             "be written, and no copy could be made to read it from (%2). Nothing was changed.")
                    .arg(QDir::toNativeSeparators(from), error),
                QMessageBox::Ok);
            return source;
        }
        source.path = from;
        tellNotSaved(before, cause);
        return source;
    }
    QString damage;
    const LibraryCheck::Verdict verdict = LibraryCheck::check(copy, LibraryCheck::Depth::Full, &damage);
    if (verdict == LibraryCheck::Verdict::Damaged) {
        qCritical() << "The library database" << from << "is damaged:" << damage;
        salvageAside(copy, cause, &source);
    } else if (verdict == LibraryCheck::Verdict::Empty || verdict == LibraryCheck::Verdict::Foreign) {
        const Trouble trouble = verdict == LibraryCheck::Verdict::Empty ? Trouble::Empty : Trouble::Foreign;
        LibraryMessageBox::critical(troubleTitle(trouble), notMovedText(trouble, from, cause), QMessageBox::Ok);
    } else {
        if (!LibraryReadCopy::bringUpToDate(copy, &error))
            qWarning().noquote() << "The copy of the library" << from << "is read as it is:" << error;
        qInfo().noquote() << "The library" << from << "is read from the copy" << copy;
        source.path = copy;
        tellNotSaved(before, cause);
        return source;
    }
    LibraryReadCopy::removeWithJournal(copy);
    return source;
}

// Opens the library on the default connection; false after a box that says why.
bool openSource(const Source& source, const QString& path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(source.path);
    if (source.readOnly)
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (db.open())
        return true;
    // A new library in a folder that cannot be written: the box names the folder.
    const QString cause = storageCause(path, db.lastError());
    LibraryMessageBox::critical(providerText("Failed to open database"),
        cause.isEmpty() ? providerText("Unable to connect to database")
                        : providerText("Unable to connect to database: %1.").arg(cause));
    qWarning() << db.lastError().text();
    return false;
}

void closeDefault()
{
    {
        QSqlDatabase db = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
}

// The library of the older folder, copied into the library's place whole: with its journal rolled
// back in the copy, as a file its owner can write. The older folder is only read.
bool adoptOlderLibrary(const QString& older, const QString& path, QString* cause)
{
    const QString part = path + QStringLiteral(".part");
    QString error;
    if (LibraryReadCopy::copyWhole(older, part, false, &error) && LibraryReadCopy::putInPlace(part, path, &error)) {
        qWarning() << "The library of the older folder" << older << "was copied to" << path;
        return true;
    }
    *cause = writeCause(part, error);
    qCritical().noquote() << "Cannot copy the old library" << older << "to" << path << error << *cause;
    LibraryReadCopy::removeWithJournal(part);
    return false;
}

} // namespace

bool BookProvider::createConnection(const QString& path, const QString& olderPath)
{
    m_path = path;
    m_open = false;
    m_damageSeen = false;
    m_heldCause.clear();
    m_toldCauses.clear();
    // A library that cannot be used in its place is read from a copy of this file, for this cause.
    QString from;
    QString cause;
    QString before;
    // A salvage that stopped after its new file was finished, where the library file is gone: the new
    // file is the library (and is checked in full, as no run closed it), before any older library.
    const QString rebuilt = rebuiltPath(path);
    if (!QFile::exists(path) && QFile::exists(rebuilt)) {
        if (replaceFile(rebuilt, path)) {
            qWarning() << "The library database" << path << "was missing: the finished rebuilt file takes its place";
        } else {
            from = rebuilt;
            cause = writeCause(path, QString::fromLocal8Bit(std::strerror(errno)));
            qCritical() << "Cannot put the rebuilt library" << rebuilt << "in the place of" << path << cause;
        }
    } else if (!QFile::exists(path) && !olderPath.isEmpty() && QFile::exists(olderPath)
        && !adoptOlderLibrary(olderPath, path, &cause)) {
        from = olderPath;
        before = providerText("The library of the older folder %1 could not be copied into %2; it is read from a copy.")
                     .arg(QDir::toNativeSeparators(olderPath), QDir::toNativeSeparators(QFileInfo(path).path()));
    }
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const LibraryCheck::Plan plan = LibraryCheck::plan(path, now);
    qInfo().noquote() << "Library check:" << (plan.depth == LibraryCheck::Depth::Full ? "full," : "at start,")
                      << plan.reason;
    // From here on the file may change: a run that does not close the library leaves no record,
    // and the next start checks the whole file.
    LibraryCheck::forgetClose(path);
    m_lastFullCheck = plan.lastFullCheck;

    // Nothing is written to a library that cannot be written, not even its schema.
    if (from.isEmpty() && LibraryReadCopy::needed(path)) {
        from = path;
        cause = unwritableCause(path);
    }
    Source source;
    source.path = path;
    if (!from.isEmpty()) {
        source = readFromCopy(from, cause, before);
    } else {
        QString damage;
        const LibraryCheck::Verdict verdict = LibraryCheck::check(path, plan.depth, &damage);
        if (verdict == LibraryCheck::Verdict::Damaged || verdict == LibraryCheck::Verdict::Empty
            || verdict == LibraryCheck::Verdict::Foreign) {
            const Trouble trouble = verdict == LibraryCheck::Verdict::Damaged ? Trouble::Damaged
                : verdict == LibraryCheck::Verdict::Empty                     ? Trouble::Empty
                                                                              : Trouble::Foreign;
            replaceLibraryFile(path, trouble, damage, &source);
            // What takes its place is a new file or a sound backup, checked in full.
            m_lastFullCheck = now;
        } else if (verdict == LibraryCheck::Verdict::Sound && plan.depth == LibraryCheck::Depth::Full) {
            m_lastFullCheck = now;
        }
    }
    // A damaged file that stays as it is is checked in full again at the next start.
    m_damageSeen = source.salvaged;
    if (source.path.isEmpty())
        return false;
    const bool fresh = !QFile::exists(source.path);
    if (!openSource(source, path))
        return false;
    if (!source.readOnly) {
        QSqlError error;
        if (!LibraryDatabase::createOrUpgrade(QLatin1String(QSqlDatabase::defaultConnection), &error)) {
            // A library that cannot be brought up to date where it lies (a full disk) is read from a
            // copy brought up to date elsewhere; a new one that cannot be made leaves no file that
            // the next start would take for a library that lost its books.
            const QString upgradeCause = storageCause(path, error);
            if (upgradeCause.isEmpty() || fresh) {
                if (fresh) {
                    closeDefault();
                    LibraryReadCopy::removeWithJournal(path);
                }
                LibraryMessageBox::critical(providerText("Failed to open database"),
                    fresh ? providerText("The library could not be made: %1.")
                                .arg(upgradeCause.isEmpty() ? LibraryDatabase::plainText(error) : upgradeCause)
                          : providerText("The library could not be brought up to date: %1.")
                                .arg(LibraryDatabase::plainText(error)),
                    QMessageBox::Ok);
                return false;
            }
            closeDefault();
            source = readFromCopy(path, upgradeCause, QString());
            if (source.path.isEmpty() || !openSource(source, path))
                return false;
        }
    }
    m_open = true;
    m_heldCause = source.heldCause;
    if (!m_heldCause.isEmpty())
        m_toldCauses = { m_heldCause };
    else
        checkWritable();
    return m_open;
}

void BookProvider::checkWritable()
{
    m_toldCauses.clear();
    QSqlQuery probe;
    if (!probe.exec(QStringLiteral("BEGIN"))) {
        qWarning().noquote() << "Cannot check whether the library can be written:" << probe.lastError().text();
        return;
    }
    // A change to the schema needs the journal beside the file and write access to the file. It is
    // rolled back whole, so the file stays byte for byte as it was.
    const bool written = probe.exec(QStringLiteral("CREATE TABLE write_check_table (id INTEGER)"));
    const QSqlError error = probe.lastError();
    QSqlQuery end;
    if (!end.exec(QStringLiteral("ROLLBACK")))
        qWarning().noquote() << "Cannot end the library's write check:" << end.lastError().text();
    if (written)
        return;
    const QString cause = storageCause(m_path, error);
    qCritical().noquote() << "The library" << m_path << "cannot be written:" << error.text() << cause;
    if (cause.isEmpty())
        return;
    m_toldCauses.insert(cause);
    LibraryMessageBox::critical(providerText(kNotSavedTitle),
        providerText(
            "Changes to the library cannot be saved: %1. Books can be read, but favourites, folders, the trash "
            "and added books stay as they are.")
            .arg(cause),
        QMessageBox::Ok);
}

void BookProvider::closeConnection()
{
    if (m_path.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    // A library that failed to open, or in which SQLite met damage, is checked in full next time.
    if (m_open && !m_damageSeen)
        LibraryCheck::recordClose(m_path, m_lastFullCheck);
    else
        qWarning() << "The library" << m_path << "is closed without a record: the next start checks it in full";
    m_path.clear();
    m_open = false;
}

void BookProvider::fail(
    const QSqlQuery& query, const char* function, const char* operation, Trace trace, const char* message, bool quoted)
{
    m_lastError = query.lastError().text();
    if (LibraryCheck::isDamageCode(query.lastError().nativeErrorCode()))
        m_damageSeen = true;
    const QMessageLogger logger(__FILE__, 0, function);
    if (trace == Trace::Debug)
        logger.debug() << operation << "error:" << m_lastError;
    else if (trace == Trace::Critical)
        logger.critical() << operation << "error:" << m_lastError;
    if (!message)
        return;
    const QString text = QString::fromLatin1(message).arg(m_lastError);
    if (quoted)
        logger.critical() << text;
    else
        logger.critical().noquote() << text;
}

void BookProvider::failWrite(
    const QSqlQuery& query, const char* function, const char* operation, Trace trace, const char* message, bool quoted)
{
    fail(query, function, operation, trace, message, quoted);
    QString cause = storageCause(m_path, query.lastError());
    // The library is held read-only for the cause told at the start.
    if (!cause.isEmpty() && !m_heldCause.isEmpty())
        cause = m_heldCause;
    if (cause.isEmpty() || m_toldCauses.contains(cause))
        return;
    m_toldCauses.insert(cause);
    qCritical().noquote() << "The library cannot be saved:" << cause;
    const auto tell = [cause] {
        LibraryMessageBox::critical(providerText(kNotSavedTitle),
            providerText("A change to the library was not saved: %1.").arg(cause), QMessageBox::Ok);
    };
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, tell, Qt::QueuedConnection);
    else
        tell();
}

bool BookProvider::toldStorageFailure(checkedsave::Failure failure, const QString& path) const
{
    // In the words of the library's own box, so that the same cause compares equal.
    const QString cause = failure == checkedsave::Failure::DiskFull ? providerText("The disk is full")
                                                                    : checkedsave::failureText(failure, path);
    return !cause.isEmpty() && m_toldCauses.contains(cause);
}

void BookProvider::writeSucceeded()
{
    if (m_toldCauses.isEmpty() || !m_heldCause.isEmpty())
        return;
    const QFileInfo file(m_path);
    if (isWritable(file.absolutePath()) && (!file.exists() || isWritable(file.absoluteFilePath()))
        && checkedsave::classifyFolder(m_path) == checkedsave::Failure::None)
        m_toldCauses.clear();
}

bool BookProvider::runWrite(
    QSqlQuery& query, const char* function, const char* operation, Trace trace, const char* message)
{
    if (query.exec()) {
        writeSucceeded();
        return true;
    }
    failWrite(query, function, operation, trace, message);
    return false;
}

QVariant BookProvider::lastValue(
    QSqlQuery& query, const char* function, const char* operation, Trace trace, const char* message)
{
    QVariant value;
    if (!query.exec()) {
        fail(query, function, operation, trace, message);
        return value;
    }
    while (query.next())
        value = query.value(0);
    return value;
}

// ---- books ----

int BookProvider::add(const BookDto& book)
{
    // The row and its metadata form one unit: one commit instead of one per statement, and
    // never half a book after a crash. A savepoint nests inside a caller's transaction.
    QSqlQuery savepoint;
    const bool inUnit = savepoint.exec(QStringLiteral("SAVEPOINT add_book"));
    if (!inUnit)
        qWarning().noquote() << "Adding a book outside a transaction:" << savepoint.lastError().text();

    // A path already in the library (outside the trash) keeps its one row, whoever adds it again:
    // a second import of the same file, or an import racing another.
    QSqlQuery existing = prepared("select id from books where full_path=:full_path AND is_deleted = 0 limit 1");
    bind(existing, ":full_path", encodeText(book.full_path));
    if (existing.exec() && existing.next()) {
        const int id = existing.value(0).toInt();
        existing.finish();
        qInfo() << "The book is already in the library:" << book.full_path << "id" << id;
        if (inUnit)
            endSavepoint(false);
        return id;
    }
    existing.finish();

    QSqlQuery query = prepared(kInsertBook);
    bindBook(query, book);
    if (!query.exec()) {
        failWrite(query, Q_FUNC_INFO, "BookProvider::add", Trace::None, "Add book. Error db:%1");
        if (inUnit)
            endSavepoint(true);
        return -1;
    }
    bool isInt = false;
    const int newId = query.lastInsertId().toInt(&isInt);
    query.finish();
    if (isInt) {
        for (auto it = book.metadata.cbegin(); it != book.metadata.cend(); ++it)
            setMetaData(newId, it.key(), it.value());
    }
    if (inUnit && !endSavepoint(false))
        return -1;
    writeSucceeded();
    return isInt ? newId : 0;
}

bool BookProvider::addAll(const QList<BookDto>& books, QList<int>& ids, int handOverAct)
{
    ids.clear();
    // One commit (one write to the disk) for all of them instead of one per book.
    QSqlQuery unit;
    const bool inUnit = unit.exec(QStringLiteral("SAVEPOINT add_books"));
    QStringList settled;
    for (const BookDto& book : books) {
        ids.append(add(book));
        if (ids.last() >= 0)
            settled.append(book.full_path);
    }
    // A book is stored exactly when its file leaves the record: never both, never neither.
    const bool recordKept = !handOverAct || settled.isEmpty() || forgetHandedOver(handOverAct, settled);
    if (!inUnit)
        return recordKept;
    if (recordKept && unit.exec(QStringLiteral("RELEASE SAVEPOINT add_books"))) {
        writeSucceeded();
        return true;
    }
    failWrite(unit, Q_FUNC_INFO, "BookProvider::addAll", Trace::None, "Add books. Error db:%1");
    if (!unit.exec(QStringLiteral("ROLLBACK TO SAVEPOINT add_books"))
        || !unit.exec(QStringLiteral("RELEASE SAVEPOINT add_books")))
        qCritical().noquote() << "Cannot end the books' savepoint:" << unit.lastError().text();
    for (int& id : ids)
        id = -1;
    return false;
}

bool BookProvider::endSavepoint(bool rollback)
{
    QSqlQuery query;
    if (!rollback && query.exec(QStringLiteral("RELEASE SAVEPOINT add_book")))
        return true;
    if (!rollback) {
        // The commit failed, so the book is not stored: report it as a failed add.
        failWrite(query, Q_FUNC_INFO, "BookProvider::add", Trace::None, "Add book. Error db:%1");
    }
    if (!query.exec(QStringLiteral("ROLLBACK TO SAVEPOINT add_book"))
        || !query.exec(QStringLiteral("RELEASE SAVEPOINT add_book")))
        qCritical().noquote() << "Cannot end the book's savepoint:" << query.lastError().text();
    return false;
}

bool BookProvider::update(const BookDto& book)
{
    QSqlQuery query = prepared(kUpdateBook);
    bindBook(query, book);
    bind(query, ":id", book.id);
    return runWrite(query, Q_FUNC_INFO, "BookProvider::update", Trace::None, nullptr);
}

bool BookProvider::setFavorite(int id, int isFavorite)
{
    QSqlQuery query = prepared("UPDATE books SET is_favorite=:is_favorite WHERE id = :id");
    bind(query, ":id", id);
    bind(query, ":is_favorite", isFavorite);
    return runWrite(query, Q_FUNC_INFO, "BookProvider::setFavorite", Trace::Critical, "Set favorite error db:%1");
}

bool BookProvider::setDeleted(int id, int isDeleted)
{
    QSqlQuery query = prepared("UPDATE books SET is_deleted=:is_deleted WHERE id = :id");
    bind(query, ":id", id);
    bind(query, ":is_deleted", isDeleted);
    return runWrite(query, Q_FUNC_INFO, "BookProvider::setDeleted", Trace::None, nullptr);
}

bool BookProvider::setLastViewTime(int id, int time)
{
    QSqlQuery query = prepared("UPDATE books SET time_last_view=:time_last_view WHERE id = :id");
    bind(query, ":id", id);
    // Stored as the unsigned second count it is read back as.
    bind(query, ":time_last_view", static_cast<quint32>(time));
    return runWrite(query, Q_FUNC_INFO, "BookProvider::setLastViewTime", Trace::None, nullptr);
}

bool BookProvider::clearLibrary(int upToId)
{
    QSqlQuery query = prepared("UPDATE books SET is_deleted=1 WHERE is_deleted=0 AND id<=:up_to");
    bind(query, ":up_to", upToId);
    return runWrite(query, Q_FUNC_INFO, "BookProvider::clearLibrary", Trace::None, "Clear library error:%1");
}

bool BookProvider::restoreAllFromTrash()
{
    QSqlQuery query = prepared("UPDATE books SET is_deleted=:is_restore WHERE is_deleted = :is_delete");
    bind(query, ":is_delete", 1);
    bind(query, ":is_restore", 0);
    return runWrite(
        query, Q_FUNC_INFO, "BookProvider::restoreAllFromTrash", Trace::None, "Restore all from trash error:%1");
}

QString BookProvider::deleteFromLibrary(int id)
{
    QString path;
    {
        QSqlQuery select = prepared("select b.full_path from books as b where b.id = :to_delete_id");
        bind(select, ":to_delete_id", id);
        if (select.exec() && select.next())
            path = decodeText(select.value(0).toString());
    }
    QSqlQuery query = prepared("delete from books where books.id=:id;");
    bind(query, ":id", id);
    if (!runWrite(query, Q_FUNC_INFO, "BookProvider::deleteFromLibrary", Trace::Debug, nullptr))
        return QString();
    return path;
}

QList<QString> BookProvider::removeAllFromTrash()
{
    const QList<QString> paths = trashedBookPaths();
    QSqlQuery query = prepared("delete from books where is_deleted=:is_deleted;");
    bind(query, ":is_deleted", 1);
    if (query.exec()) {
        writeSucceeded();
        return paths;
    }
    failWrite(query, Q_FUNC_INFO, "BookProvider::removeAllFromTrash", Trace::None, "Remove from trash error:%1", false);
    return {};
}

// ---- metadata ----

bool BookProvider::setMetaData(const int bookId, const int metaType, const QString& value)
{
    QSqlQuery query = prepared(kSetMetaData);
    bind(query, ":book_id", bookId);
    bind(query, ":meta_type", metaType);
    bind(query, ":meta_value", value);
    return runWrite(query, Q_FUNC_INFO, "BookProvider::setMetaData", Trace::Debug, "Add metadata. Error db:%1");
}

QString BookProvider::getMetaData(const int bookId, const int metaType)
{
    QSqlQuery query
        = prepared("select meta_value from book_metadata where book_id = :book_id and meta_type = :meta_type;");
    bind(query, ":book_id", bookId);
    bind(query, ":meta_type", metaType);
    return lastValue(query, Q_FUNC_INFO, "BookProvider::getMetaData", Trace::Critical,
        "Select meta_value by book id and meta type. Error db:%1")
        .toString();
}

// ---- folders ----

int BookProvider::addCategory(const QString& title, const int parentId)
{
    QSqlQuery query = prepared("INSERT INTO folders (parent_id, title) VALUES (:parent_id, :title)");
    bind(query, ":parent_id", parentId);
    bind(query, ":title", title);
    if (!runWrite(query, Q_FUNC_INFO, "BookProvider::addCategory", Trace::Debug, "Add folder. Error db:%1"))
        return -1;
    bool isInt = false;
    const int id = query.lastInsertId().toInt(&isInt);
    return isInt ? id : -1;
}

bool BookProvider::renameCategory(const int id, const QString& title)
{
    if (id <= 0 || title.isEmpty())
        return false;
    QSqlQuery query = prepared("UPDATE folders SET title=:title WHERE id = :id;");
    bind(query, ":id", id);
    bind(query, ":title", title);
    return runWrite(query, Q_FUNC_INFO, "BookProvider::renameCategory", Trace::Critical, "Rename folder. Error db:%1");
}

bool BookProvider::removeCategory(const int folderId)
{
    QSqlQuery query = prepared("delete from folders where id=:folder_id");
    bind(query, ":folder_id", folderId);
    return runWrite(query, Q_FUNC_INFO, "BookProvider::removeCategory", Trace::Debug, "Remove folder. Error db:%1");
}

bool BookProvider::addBookToCategory(const int bookId, const int folderId)
{
    QSqlQuery query
        = prepared("INSERT or REPLACE INTO book_folder_binder (book_id, folder_id) VALUES (:book_id, :folder_id)");
    bind(query, ":book_id", bookId);
    bind(query, ":folder_id", folderId);
    return runWrite(
        query, Q_FUNC_INFO, "BookProvider::addBookToCategory", Trace::Debug, "Add book to folder. Error db:%1");
}

bool BookProvider::removeFromCategory(const int bookId, const int folderId)
{
    QSqlQuery query = prepared("DELETE FROM book_folder_binder WHERE book_id=:book_id AND folder_id=:folder_id");
    bind(query, ":book_id", bookId);
    bind(query, ":folder_id", folderId);
    return runWrite(
        query, Q_FUNC_INFO, "BookProvider::removeFromCategory", Trace::None, "Remove book from category. Error db:%1");
}

int BookProvider::findCategoryByBook(const int bookId)
{
    QSqlQuery query = prepared("select folder_id from book_folder_binder where book_id=:book_id");
    bind(query, ":book_id", bookId);
    return lastValue(query, Q_FUNC_INFO, "BookProvider::findCategoryByBook", Trace::None,
        "Select category by folder id. Error db:%1")
        .toInt();
}

bool BookProvider::allBookFolders(QHash<int, int>& folderOfBook)
{
    QSqlQuery query;
    query.setForwardOnly(true);
    folderOfBook.clear();
    // In insertion order, so that a book filed twice ends in the folder the single look-up gives.
    if (!query.exec(QStringLiteral("select book_id, folder_id from book_folder_binder order by rowid"))) {
        fail(query, Q_FUNC_INFO, "BookProvider::allBookFolders", Trace::None,
            "Select the folders of the books. Error db:%1");
        return false;
    }
    while (query.next())
        folderOfBook.insert(query.value(0).toInt(), query.value(1).toInt());
    return true;
}

QList<CategoryDto> BookProvider::allCategories()
{
    QSqlQuery query = prepared(kAllCategories);
    if (!query.exec()) {
        fail(query, Q_FUNC_INFO, "BookProvider::allCategories", Trace::Critical, "Select all folder. Error db:%1");
        return {};
    }
    QList<CategoryDto> categories;
    while (query.next()) {
        CategoryDto category;
        readCategoryRow(query, category);
        categories.append(category);
    }
    return categories;
}

// ---- counts and lists ----

int BookProvider::bookCountByFormat(int format)
{
    QSqlQuery query = prepared("select COUNT(*) from books where is_deleted = 0 and format=:format");
    bind(query, ":format", format);
    return lastValue(query, Q_FUNC_INFO, "BookProvider::bookCountByFormat", Trace::Critical,
        "Select book count by format. Error db:%1")
        .toInt();
}

CategoryCountsDto BookProvider::categoryCounts()
{
    QSqlQuery query = prepared(kCategoryCounts);
    bind(query, ":max_last_added_book_count", kMaxLastAddedBookCount);
    bind(query, ":recently_read_time_last_view", recentlyReadTimeLastView());
    bind(query, ":recently_read_max_book_count", kRecentlyReadMaxBookCount);
    CategoryCountsDto counts;
    if (!query.exec()) {
        fail(query, Q_FUNC_INFO, "BookProvider::categoryCounts", Trace::None, "Select category counts error:%1");
        return counts;
    }
    while (query.next())
        readCategoryCounts(query, counts);
    return counts;
}

BookDto BookProvider::bookById(int id)
{
    QSqlQuery query = prepared(kSelectBookById);
    bind(query, ":id", id);
    return lastBookRow(query);
}

BookDto BookProvider::bookByPath(const QString& path)
{
    QSqlQuery query = prepared(kSelectBookByPath);
    bind(query, ":full_path", encodeText(path));
    return lastBookRow(query);
}

QSet<QString> BookProvider::libraryFilePaths()
{
    QSqlQuery query;
    query.setForwardOnly(true);
    QSet<QString> paths;
    if (!query.exec(QStringLiteral("select full_path from books where is_deleted = 0"))) {
        fail(query, Q_FUNC_INFO, "BookProvider::libraryFilePaths", Trace::None, "Select book paths. Error db:%1");
        return paths;
    }
    while (query.next())
        paths.insert(decodeText(query.value(0).toString()));
    return paths;
}

QSet<QString> BookProvider::libraryFilePaths(const QStringList& paths)
{
    // A few hundred paths a statement, each found through the index of the paths.
    constexpr int kPathsPerStatement = 500;
    QSet<QString> found;
    for (int first = 0; first < paths.size(); first += kPathsPerStatement) {
        const QStringList some = paths.mid(first, kPathsPerStatement);
        QStringList names;
        for (int i = 0; i < some.size(); ++i)
            names << QStringLiteral(":path%1").arg(i);
        QSqlQuery query;
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("select full_path from books where is_deleted = 0 and full_path in (%1)")
                          .arg(names.join(QLatin1Char(','))));
        for (int i = 0; i < some.size(); ++i)
            query.bindValue(names.at(i), encodeText(some.at(i)));
        if (!query.exec()) {
            fail(query, Q_FUNC_INFO, "BookProvider::libraryFilePaths", Trace::None, "Select book paths. Error db:%1");
            return QSet<QString>();
        }
        while (query.next())
            found.insert(decodeText(query.value(0).toString()));
    }
    return found;
}

QList<QString> BookProvider::trashedBookPaths()
{
    QSqlQuery query = prepared("select b.full_path from books as b where b.is_deleted = :deleted_id");
    bind(query, ":deleted_id", 1);
    QList<QString> paths;
    if (query.exec()) {
        while (query.next())
            paths.append(decodeText(query.value(0).toString()));
    }
    return paths;
}

QList<BookDto> BookProvider::allBooks() { return selectBooks(kSelectAllBooks, &BookProvider::readBookRow); }

QList<BookDto> BookProvider::allBooksWithFolderTitle()
{
    return selectBooks(kAllBooksWithFolderTitle, &BookProvider::readBookRowWithFolderTitle);
}

// ---- limits, stored form and row readers ----

int BookProvider::recentlyReadMaxBookCount() { return kRecentlyReadMaxBookCount; }

quint32 BookProvider::recentlyReadTimeLastView()
{
    return static_cast<quint32>(QDateTime::currentSecsSinceEpoch()) - kRecentlyReadSeconds;
}

QString BookProvider::encodeText(const QString& text)
{
    if (text.isEmpty())
        return QLatin1String("");
    return QString::fromLatin1(text.toUtf8().toBase64());
}

QString BookProvider::decodeText(const QString& stored)
{
    if (stored.isEmpty())
        return QLatin1String("");
    return QString::fromUtf8(QByteArray::fromBase64(stored.toLatin1()));
}

namespace {

// Columns 0-13, shared by both book row shapes.
void readBookColumns(const QSqlQuery& query, BookDto& book)
{
    book.id = query.value(0).toInt();
    book.cover = BookProvider::decodeText(query.value(1).toString());
    book.full_path = BookProvider::decodeText(query.value(2).toString());
    book.author = query.value(3).toString();
    book.title = query.value(4).toString();
    book.format = query.value(5).toInt();
    book.time_added = query.value(6).toUInt();
    book.time_last_view = query.value(7).toUInt();
    book.position = query.value(8).toInt();
    book.max_position = query.value(9).toInt();
    book.is_favorite = query.value(10).toInt();
    book.is_deleted = query.value(11).toInt();
    book.notes_count = query.value(12).toInt();
    book.book_hash = query.value(13).toString();
}

} // namespace

void BookProvider::readBookRow(const QSqlQuery& query, BookDto& book)
{
    readBookColumns(query, book);
    book.use_user_cover = query.value(14).toUInt() != 0;
}

void BookProvider::readBookRowWithFolderTitle(const QSqlQuery& query, BookDto& book)
{
    readBookColumns(query, book);
    book.folder_title = query.value(14).toString();
    book.use_user_cover = query.value(15).toUInt() != 0;
}

void BookProvider::readCategoryRow(const QSqlQuery& query, CategoryDto& category)
{
    category.id = query.value(0).toInt();
    category.parent_id = query.value(1).toInt();
    category.title = query.value(2).toString();
    category.book_count = query.value(3).toInt();
}

void BookProvider::readCategoryCounts(const QSqlQuery& query, CategoryCountsDto& counts)
{
    counts.all_count = query.value(QStringLiteral("all_count")).toInt();
    counts.deleted_count = query.value(QStringLiteral("deleted_count")).toInt();
    counts.favorites_count = query.value(QStringLiteral("favorites_read_count")).toInt();
    counts.last_added_count = query.value(QStringLiteral("last_added_count")).toInt();
    counts.recently_read_count = query.value(QStringLiteral("recently_read_count")).toInt();
}

// ---- hand-overs ----

bool BookProvider::recordHandOver(int act, const QStringList& paths, QString* reason)
{
    if (paths.isEmpty())
        return true;
    // A library read from a copy keeps nothing beyond this run.
    if (!m_heldCause.isEmpty()) {
        qCritical().noquote() << "Hand-over not recorded: the library is read from a copy:" << m_heldCause;
        *reason = m_heldCause;
        return false;
    }
    // A transaction of its own, never a savepoint inside another: committed before it returns.
    QSqlQuery unit;
    const auto failed = [&](QSqlQuery& query, bool rollBack) {
        failWrite(query, Q_FUNC_INFO, "BookProvider::recordHandOver", Trace::Critical, "Record hand-over error:%1");
        *reason = LibraryDatabase::plainText(query.lastError());
        query.finish();
        if (rollBack)
            unit.exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    if (!unit.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return failed(unit, false);
    QSqlQuery insert = prepared("INSERT INTO handed_over (act, path) VALUES (:act, :path)");
    for (const QString& path : paths) {
        bind(insert, ":act", act);
        bind(insert, ":path", path);
        if (!insert.exec())
            return failed(insert, true);
    }
    insert.finish();
    if (!unit.exec(QStringLiteral("COMMIT")))
        return failed(unit, true);
    writeSucceeded();
    return true;
}

QList<HandedOverFile> BookProvider::handedOverFiles()
{
    QList<HandedOverFile> files;
    QSqlQuery query = prepared("SELECT id, act, path FROM handed_over ORDER BY id");
    if (!query.exec()) {
        fail(query, Q_FUNC_INFO, "BookProvider::handedOverFiles", Trace::Critical, "Read hand-overs error:%1");
        return files;
    }
    while (query.next())
        files.append({ query.value(0).toLongLong(), query.value(1).toInt(), query.value(2).toString() });
    return files;
}

int BookProvider::lastHandOverAct()
{
    QSqlQuery query = prepared("SELECT MAX(act) FROM handed_over");
    return lastValue(query, Q_FUNC_INFO, "BookProvider::lastHandOverAct", Trace::None, nullptr).toInt();
}

bool BookProvider::mergeHandOvers(int act)
{
    QSqlQuery query = prepared("UPDATE handed_over SET act = :act WHERE act < :act2");
    bind(query, ":act", act);
    bind(query, ":act2", act);
    return runWrite(query, Q_FUNC_INFO, "BookProvider::mergeHandOvers", Trace::Critical, "Merge hand-overs error:%1");
}

bool BookProvider::forgetHandedOver(int act, const QStringList& paths)
{
    if (paths.isEmpty()) {
        QSqlQuery query = prepared("DELETE FROM handed_over WHERE act = :act");
        bind(query, ":act", act);
        return runWrite(
            query, Q_FUNC_INFO, "BookProvider::forgetHandedOver", Trace::Critical, "Forget hand-over error:%1");
    }
    QSqlQuery query = prepared("DELETE FROM handed_over WHERE act = :act AND path = :path");
    for (const QString& path : paths) {
        bind(query, ":act", act);
        bind(query, ":path", path);
        if (!runWrite(
                query, Q_FUNC_INFO, "BookProvider::forgetHandedOver", Trace::Critical, "Forget hand-over error:%1"))
            return false;
    }
    return true;
}

#pragma once

#include "bookdto.h"
#include "checkedsave.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <limits>

class QSqlQuery;

// One file of a hand-over from another start of the program, kept until its book is stored.
struct HandedOverFile {
    qint64 id = 0;
    int act = 0; // the hand-over it came with
    QString path; // absolute and clean, as the importer names it
};

// The library's data access: every read and write of the library database goes through one
// of these operations, each running its statements on Qt's default connection and turning
// rows into the row types. No cache: every call goes to the database. GUI thread only (the
// connection belongs to the thread that opened it).
//
// Failures are return values (false, -1, 0, a null string, an empty list or a default
// record); the operations that keep the error store the driver's text in lastError() and log.
// A write the file system refused (a read-only folder or file, a full disk) is also told in a
// box, once per cause until a write succeeds; the box waits for the event loop, so that the
// caller has put its window back to what is stored first.
class BookProvider {
public:
    // The process-wide instance, made on first use (which registers the meta-type "BookDto").
    static BookProvider* instance();

    // Opens the database file at path on the default connection and creates or upgrades its
    // schema. False (after a critical box) when the file cannot be opened or a required
    // statement fails. Where there is no library file yet, a finished rebuilt one takes its place,
    // else the library of olderPath (the older folder) is copied there. A library that opens but
    // cannot be written is told in a box at once. A damaged file gives way to a new one with what
    // still reads of it; where none can be written in its folder, that new file is made in the
    // run's private folder and read from there until the next start tries again.
    bool createConnection(const QString& path, const QString& olderPath = QString());
    // Closes the library at the end of a run that ends normally and records the file as it was
    // left, so that the next start can skip the full check for damage. No query may be alive.
    void closeConnection();

    // Whether the library told the user of this storage failure (the disk is full) since its last
    // write that succeeded: the box of another part for the same cause (an import's answer, after
    // the library could not store its books) would tell it twice.
    bool toldStorageFailure(checkedsave::Failure failure, const QString& path) const;

    // The error text kept by the last operation that failed and keeps its error; never cleared.
    const QString& lastError() const { return m_lastError; }

    // Books. add() writes the row and its metadata as one unit and returns the new id (-1 on
    // failure, 0 when the new id cannot be read); a failing metadata entry is logged and kept
    // in lastError() without changing the result. A path the library holds outside the trash
    // gets no second row: its existing id is returned.
    int add(const BookDto& book);
    // Several books as one unit: false (nothing stored) when the unit could not be committed.
    // The ids are those add() gives, in order. With a hand-over act, the files of the books that
    // the library now holds leave that act's record in the same unit.
    bool addAll(const QList<BookDto>& books, QList<int>& ids, int handOverAct = 0);

    // Hand-overs: the files another start asked to add are kept here, committed, before that start
    // is answered; the record is the work list of their import. False (with the reason) when the
    // files could not be kept; nothing of them is then.
    bool recordHandOver(int act, const QStringList& paths, QString* reason);
    // Every file still to be added, oldest first; empty when the record cannot be read.
    QList<HandedOverFile> handedOverFiles();
    // The highest act the record holds, 0 when none.
    int lastHandOverAct();
    // Makes every act up to that one that act: what earlier runs left is imported as one.
    bool mergeHandOvers(int act);
    // Drops the files of the act from the record (all of them when paths is empty).
    bool forgetHandedOver(int act, const QStringList& paths = {});
    bool update(const BookDto& book);
    bool setFavorite(int id, int isFavorite);
    bool setDeleted(int id, int isDeleted);
    bool setLastViewTime(int id, int time);
    // Moves the books up to that id (all by default) to the trash; new rows get higher ids.
    bool clearLibrary(int upToId = std::numeric_limits<int>::max());
    bool restoreAllFromTrash();
    // The deleted book's file path: null when the delete failed or the id is unknown.
    QString deleteFromLibrary(int id);
    // The file paths of the books deleted from the trash; empty on failure.
    QList<QString> removeAllFromTrash();

    // Metadata: one value per book and meta type.
    bool setMetaData(const int bookId, const int metaType, const QString& value);
    QString getMetaData(const int bookId, const int metaType);

    // The user's folders ("categories"); a book is in at most one.
    int addCategory(const QString& title, const int parentId);
    bool renameCategory(const int id, const QString& title);
    bool removeCategory(const int folderId);
    bool addBookToCategory(const int bookId, const int folderId);
    bool removeFromCategory(const int bookId, const int folderId);
    int findCategoryByBook(const int bookId);
    // Book id -> folder id of every filed book, in one statement; false (and empty) on failure.
    bool allBookFolders(QHash<int, int>& folderOfBook);
    QList<CategoryDto> allCategories();

    // Counts and lists.
    int bookCountByFormat(int format);
    CategoryCountsDto categoryCounts();
    BookDto bookById(int id);
    BookDto bookByPath(const QString& path);
    // The file paths of the books not in the trash, as stored: one statement for many look-ups.
    QSet<QString> libraryFilePaths();
    // Those of the paths that books not in the trash have; empty when the library cannot be read.
    QSet<QString> libraryFilePaths(const QStringList& paths);
    QList<QString> trashedBookPaths();
    QList<BookDto> allBooks();
    QList<BookDto> allBooksWithFolderTitle();

    // Limits of the recently-read category.
    static int recentlyReadMaxBookCount();
    static quint32 recentlyReadTimeLastView();

    // Stored form of the two path columns: Base64 of the UTF-8 bytes; empty stays empty.
    static QString encodeText(const QString& text);
    static QString decodeText(const QString& stored);

    // Row readers: each fills the fields its row holds and leaves the others as they were.
    static void readBookRow(const QSqlQuery& query, BookDto& book);
    static void readBookRowWithFolderTitle(const QSqlQuery& query, BookDto& book);
    static void readCategoryRow(const QSqlQuery& query, CategoryDto& category);
    static void readCategoryCounts(const QSqlQuery& query, CategoryCountsDto& counts);

    BookProvider(const BookProvider&) = delete;
    BookProvider& operator=(const BookProvider&) = delete;

private:
    BookProvider();

    enum class Trace { None, Debug, Critical };
    // Keeps the query's error and writes the operation's trace and message.
    void fail(const QSqlQuery& query, const char* function, const char* operation, Trace trace, const char* message,
        bool quoted = true);
    bool runWrite(QSqlQuery& query, const char* function, const char* operation, Trace trace, const char* message);
    // fail() for a write, which the user hears of when the file system refused it.
    void failWrite(const QSqlQuery& query, const char* function, const char* operation, Trace trace,
        const char* message, bool quoted = true);
    // A write went through: a cause told is news again once it no longer holds (a statement that
    // changes nothing goes through in a library that cannot be written, too).
    void writeSucceeded();
    // Tries a write that is rolled back: one that fails for want of a writable file is told now,
    // before the user loses a change to it.
    void checkWritable();
    // Runs a one-column read; the last row's value, or an invalid value when there is none or
    // the statement fails (then kept and logged like a write).
    QVariant lastValue(QSqlQuery& query, const char* function, const char* operation, Trace trace, const char* message);
    // Ends the savepoint of add(); false when the book is not stored (rolled back or not committed).
    bool endSavepoint(bool rollback);

    QString m_lastError;
    // The library opened by createConnection(), and what closeConnection() records of it.
    QString m_path;
    bool m_open = false;
    bool m_damageSeen = false;
    qint64 m_lastFullCheck = 0;
    // Why writes failed since the last one that succeeded, as told to the user.
    QSet<QString> m_toldCauses;
    // Why a damaged library is read as it is, read-only, until the next start: no new file could be
    // written for it. Told at the start, and the cause of every write refused in this run.
    QString m_heldCause;
};

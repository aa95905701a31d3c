#pragma once

#include "itemstatus.h"
#include "models/bookdto.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWaitCondition>

#include <atomic>
#include <functional>

class importbooks;

// Adds books to the library in the background, and writes the library archive.
//
// start() hands a list of items to one task on the global thread pool, which takes them one by
// one from a queue: book files, folders (their book files, found below them) and library
// archives ("olvarch://" + path, whose books become "olv://" items at the front of the queue).
// Every book is read by readBookFile() and reported by itemProcessed(); the library page adds
// the record on the GUI thread. The task never touches the database or the models, and never
// asks the user anything, so the GUI thread can wait for it without a deadlock.
//
// Every signal is emitted on the GUI thread (the importer's thread), posted in the order the
// task raised it, so any connection runs its receiver there.
//
// One task at a time: an import or an export. start() while a task runs appends to the queue
// (also during an export: the items are added when it ends); a second export is refused.
// toggleProcessing() holds the task between two items; cancel() ends it before the next one,
// also while paused, and drops what was queued.
//
// The object that stores the added books (the library page) may take part through setStore():
// a book reported as added is then done only once the store has settled it (booksSettled), so
// that progress counts stored books and a run (with its bar, pause and stop) lasts until the last
// one is stored; the task reads at most kMaxUnsettled books ahead of the store.
class bookimporter : public QObject {
    Q_OBJECT

public:
    // The process-wide importer, made on first use on the application's thread.
    static bookimporter* instance();

    // How often a paused task looks at its flags.
    static constexpr int kPauseStepMs = 200;
    // Books read and not yet settled by the store, at most: the task waits for the store beyond.
    static constexpr int kMaxUnsettled = 64;
    // Queue items: a library archive, and the next book of the open archive.
    static const QString ArchivePrefix; // "olvarch://" + path
    static const QString ArchiveBookItem; // "olv://"

    // Reads one book file into the record, with the ignoreExisting flag of the current run.
    // notInLibrary: the library was asked and holds no such book, so a reading state left in its
    // data folder (a record lost with a damaged or emptied library file) does not refuse it.
    ItemStatus readBookFile(BookDto& record, bool notInLibrary = false) const;
    bool isRunning() const;
    bool isPaused() const { return m_paused; }

public slots:
    // Queues the items (baseDir is not used). True when a new task was started; false when
    // one was running and the items were appended. Items already in the library (not in the
    // trash) are reported as ItemAlreadyInLibrary without being read; ignoreExisting reads a
    // book even when it has a reading state of an earlier library.
    bool start(const QString& baseDir, const QStringList& filesList, bool ignoreExisting = false);
    // Queues a library archive as one item.
    bool importFromArchive(const QString& archive);
    // Writes the books into a library archive on a pool task. False (with a warning) when a
    // task is running already.
    bool exportToArchive(const QString& archive, const QList<BookDto>& books);
    void toggleProcessing(bool paused);
    void cancel();
    // The program ends: the task stops after the item in hand and takes no other; no stop of the
    // user's (nothing is cancelled). Also done when the application is about to quit.
    void endWithProgram();
    // Whether the last task was ended by endWithProgram(): what it left is no act's end.
    bool isEnding() const { return m_ending; }
    // The receiver of itemProcessed that stores the added books; null (or its destruction)
    // counts a book as done when it is read.
    void setStore(QObject* store);
    // GUI thread: the store has stored or refused count more of the books reported as added.
    void booksSettled(int count);

signals:
    // Stop was given while a task ran: books already reported are not to be stored any more.
    void cancelled();
    void importStarted();
    void exportStarted();
    void itemProcessed(ItemStatus status, BookDto item);
    // ok: books read successfully; total: items processed.
    void finished(int ok, int total);
    // failure: a checkedsave::Failure, why the archive could not be written (at path); 0 (None) when
    // it was, or when no cause of storage is known.
    void exported(int ok, int total, int failure, const QString& path);
    void progress(int current, int total);

private:
    bookimporter();

    struct RunResult {
        int ok = 0;
        int total = 0;
    };
    // A run's counts for its progress: items done (settled by the store when there is one) of all
    // known so far.
    struct Counts {
        int run = 0;
        bool storing = false;
        int processed = 0;
        int done = 0;
        int total = 0;
    };

    // Task bodies, on a pool thread.
    void importTask();
    RunResult importRun();
    void exportTask(const QString& archive, const QList<BookDto>& books);
    // Under the lock: announces the end of the task (announce posts its signal) and then
    // either marks the importer idle (false) or, when items were queued meanwhile, starts the
    // next import run (true).
    bool endTask(const std::function<void()>& announce);
    // Waits while paused; false when cancelled.
    bool waitWhilePaused() const;
    // Waits while the store has more than limit books to settle; false when cancelled.
    bool waitForStore(int limit);
    // The next item, once not paused and the store has caught up; when the queue is empty, the
    // store settles every book first, so that what is appended meanwhile joins this run.
    bool nextItem(QString& item, QString& importFolder);
    // Takes the next item into hand; false when the queue is empty.
    bool takeItem(QString& item, QString& importFolder);
    // Puts the items the one in hand stands for (an archive's books, a folder's files) at the
    // front of the queue; the item itself is not counted.
    void queueFront(const QStringList& items);
    // Counts the item in hand as processed; an added book waits for the store when there is one.
    Counts countItem(bool added);
    // Under the lock: the current counts.
    Counts countsLocked() const;
    // Raises progress for the counts: as they are without a store, else as the store has them
    // when the signal is delivered.
    void postProgress(const Counts& counts);
    // GUI thread: raises progress with the store's counts of the run, when they changed.
    void reportProgress(int run);
    // GUI thread: raises progress with the counts, when a store settles the run's books and they changed.
    void showProgress(const Counts& counts);
    // Under the lock: starts counting a new run.
    void beginRunLocked();
    // Ends the task before its next item and drops the queue and the pause.
    void halt();
    bool isKnown(const QString& path) const;
    bool libraryAsked() const;
    // The next book of the open archive, unpacked into importFolder; false when it has none.
    bool readArchiveBook(importbooks& archive, const QString& importFolder, BookDto& record, ItemStatus& status);

    // GUI thread: the items' paths the library holds (not in the trash); asked says whether it could be asked.
    static QSet<QString> libraryPaths(const QStringList& items, bool* asked);

    // Emits a signal on the importer's thread, after whatever was posted before.
    void post(std::function<void()> emitSignal);

    mutable QMutex m_mutex; // guards everything below but the two flags and the shown counts
    QWaitCondition m_storeChanged; // the store settled books, went away, or the task was cancelled
    QStringList m_queue;
    int m_run = 0;
    int m_processed = 0;
    bool m_storing = false; // a store settles the added books
    int m_unsettled = 0; // books of this run reported as added and not settled by the store
    bool m_inHand = false; // an item is being read
    bool m_running = false;
    bool m_ignoreExisting = false;
    bool m_libraryAsked = false;
    QSet<QString> m_known; // absolute paths of books already in the library
    QString m_importFolder;
    std::atomic<bool> m_paused { false };
    std::atomic<bool> m_cancelled { false };
    std::atomic<bool> m_ending { false };
    QMetaObject::Connection m_storeGone;
    Counts m_shown; // GUI thread: the last progress raised for a store
};

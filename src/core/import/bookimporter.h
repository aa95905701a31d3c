#pragma once

#include "itemstatus.h"
#include "models/bookdto.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

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
class bookimporter : public QObject {
    Q_OBJECT

public:
    // The process-wide importer, made on first use on the application's thread.
    static bookimporter* instance();

    // How often a paused task looks at its flags.
    static constexpr int kPauseStepMs = 200;
    // Queue items: a library archive, and the next book of the open archive.
    static const QString ArchivePrefix; // "olvarch://" + path
    static const QString ArchiveBookItem; // "olv://"

    // Reads one book file into the record, with the ignoreExisting flag of the current run.
    ItemStatus readBookFile(BookDto& record) const;
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

signals:
    void importStarted();
    void exportStarted();
    void itemProcessed(ItemStatus status, BookDto item);
    // ok: books read successfully; total: items processed.
    void finished(int ok, int total);
    void exported(int ok, int total);
    void progress(int current, int total);

private:
    bookimporter();

    struct RunResult {
        int ok = 0;
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
    // Takes the next item into hand; false when the queue is empty.
    bool takeItem(QString& item, QString& importFolder);
    // Puts the items the one in hand stands for (an archive's books, a folder's files) at the
    // front of the queue; the item itself is not counted.
    void queueFront(const QStringList& items);
    // Counts the item in hand as processed: (processed, processed + still queued).
    QPair<int, int> countItem();
    bool isKnown(const QString& path) const;
    // The next book of the open archive, unpacked into importFolder; false when it has none.
    bool readArchiveBook(importbooks& archive, const QString& importFolder, BookDto& record, ItemStatus& status);

    // GUI thread: the given paths that are books of the library (not in the trash).
    static QSet<QString> libraryPaths(const QStringList& items);

    // Emits a signal on the importer's thread, after whatever was posted before.
    void post(std::function<void()> emitSignal);

    mutable QMutex m_mutex; // guards everything below but the two flags
    QStringList m_queue;
    int m_processed = 0;
    bool m_inHand = false; // an item is being read
    bool m_running = false;
    bool m_ignoreExisting = false;
    QSet<QString> m_known; // absolute paths of books already in the library
    QString m_importFolder;
    std::atomic<bool> m_paused { false };
    std::atomic<bool> m_cancelled { false };
};

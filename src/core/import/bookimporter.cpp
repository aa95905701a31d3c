#include "bookimporter.h"

#include "bookcover.h"
#include "bookfilereader.h"
#include "exportbooks.h"
#include "importbooks.h"

#include "appdirs.h"
#include "checkedsave.h"
#include "models/bookprovider.h"
#include "settingsprovider.h"
#include "supportedextensions.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QThread>
#include <QThreadPool>

const QString bookimporter::ArchivePrefix = QStringLiteral("olvarch://");
const QString bookimporter::ArchiveBookItem = QStringLiteral("olv://");

namespace {

QString absolutePath(const QString& path) { return QDir::cleanPath(QFileInfo(path).absoluteFilePath()); }

bool isFolderItem(const QString& item)
{
    return !item.startsWith(bookimporter::ArchivePrefix) && item != bookimporter::ArchiveBookItem
        && QFileInfo(item).isDir();
}

// The book files below a folder, in a stable order.
QStringList booksInFolder(const QString& folder)
{
    QStringList filters;
    for (const QString& suffix : supportedExtensions())
        filters.append(QStringLiteral("*.") + suffix);
    QStringList files;
    findFilesRecursively(files, folder, filters);
    files.sort();
    return files;
}

QString importFolderSetting()
{
    const SettingsProvider* settings = SettingsProvider::instance();
    return settings ? settings->import_folder() : importDir();
}

} // namespace

bookimporter* bookimporter::instance()
{
    static bookimporter* const importer = [] {
        qRegisterMetaType<ItemStatus>("ItemStatus");
        qRegisterMetaType<BookDto>("BookDto");
        auto* created = new bookimporter;
        if (QCoreApplication* application = QCoreApplication::instance()) {
            if (created->thread() != application->thread())
                created->moveToThread(application->thread());
            // The pool waits for its tasks when the application ends: a running task stops at
            // its next item instead of working through its whole queue. The books read so far
            // are still stored, so this is no stop of the user's.
            connect(
                application, &QCoreApplication::aboutToQuit, created, [created] { created->endWithProgram(); },
                Qt::DirectConnection);
        }
        return created;
    }();
    return importer;
}

bookimporter::bookimporter() = default;

ItemStatus bookimporter::readBookFile(BookDto& record, bool notInLibrary) const
{
    bool ignoreExisting = notInLibrary;
    {
        QMutexLocker lock(&m_mutex);
        ignoreExisting = ignoreExisting || m_ignoreExisting;
    }
    return ::readBookFile(record, ignoreExisting);
}

bool bookimporter::isRunning() const
{
    QMutexLocker lock(&m_mutex);
    return m_running;
}

void bookimporter::post(std::function<void()> emitSignal)
{
    QMetaObject::invokeMethod(this, std::move(emitSignal), Qt::QueuedConnection);
}

QSet<QString> bookimporter::libraryPaths(const QStringList& items, bool* asked)
{
    QSet<QString> known;
    *asked = QSqlDatabase::database(QSqlDatabase::defaultConnection, false).isOpen();
    if (!*asked)
        return known;
    BookProvider* library = BookProvider::instance();
    bool hasFolder = false;
    QStringList files;
    for (const QString& item : items) {
        if (isFolderItem(item))
            hasFolder = true;
        else
            files.append(absolutePath(item));
    }
    // Files are looked up by their paths, through the library's index; for the files of a folder
    // (found on the task, which cannot ask the database) every path of the library is read.
    if (!hasFolder)
        return library->libraryFilePaths(files);
    for (const QString& path : library->libraryFilePaths())
        known.insert(absolutePath(path));
    return known;
}

bool bookimporter::start(const QString& /*baseDir*/, const QStringList& filesList, bool ignoreExisting)
{
    bool asked = false;
    const QSet<QString> known = libraryPaths(filesList, &asked);
    const QString importFolder = importFolderSetting();

    QMutexLocker lock(&m_mutex);
    m_importFolder = importFolder;
    if (m_running) {
        // Checked against the library like the first list, so a busy task adds no duplicates.
        m_known.unite(known);
        m_libraryAsked = m_libraryAsked && asked;
        m_queue.append(filesList);
        postProgress(countsLocked());
        return false;
    }
    m_queue = filesList;
    m_known = known;
    m_libraryAsked = asked;
    m_ignoreExisting = ignoreExisting;
    beginRunLocked();
    m_running = true;
    m_cancelled = false;
    m_ending = false;
    // A pause belongs to the run it was given to: a new run starts working.
    m_paused = false;
    post([this] { emit importStarted(); });
    QThreadPool::globalInstance()->start([this] { importTask(); });
    return true;
}

bool bookimporter::importFromArchive(const QString& archive)
{
    start(QString(), { ArchivePrefix + archive });
    return true;
}

bool bookimporter::exportToArchive(const QString& archive, const QList<BookDto>& books)
{
    QMutexLocker lock(&m_mutex);
    if (m_running) {
        qWarning() << "Cannot export the library into" << archive << "while books are being added or exported";
        return false;
    }
    m_running = true;
    m_cancelled = false;
    m_processed = 0;
    QThreadPool::globalInstance()->start([this, archive, books] { exportTask(archive, books); });
    return true;
}

void bookimporter::toggleProcessing(bool paused) { m_paused = paused; }

void bookimporter::cancel()
{
    const bool running = isRunning();
    halt();
    if (running)
        emit cancelled();
}

void bookimporter::endWithProgram()
{
    {
        QMutexLocker lock(&m_mutex);
        // Under the lock that every item is taken under: no item is taken after this line.
        if (m_running && !m_cancelled)
            qInfo() << "Import ends with the program;" << m_queue.size() << "items not taken";
        m_ending = true;
    }
    halt();
}

void bookimporter::halt()
{
    QMutexLocker lock(&m_mutex);
    m_cancelled = true;
    // Stopping ends the pause too, or the next run would wait for a resume nobody can give.
    m_paused = false;
    m_queue.clear();
    m_storeChanged.wakeAll();
}

void bookimporter::setStore(QObject* store)
{
    disconnect(m_storeGone);
    if (store)
        m_storeGone = connect(store, &QObject::destroyed, this, [this] { setStore(nullptr); });
    QMutexLocker lock(&m_mutex);
    m_storing = store != nullptr;
    // A new store has seen none of the books reported so far.
    m_unsettled = 0;
    m_storeChanged.wakeAll();
}

void bookimporter::booksSettled(int count)
{
    Counts counts;
    {
        QMutexLocker lock(&m_mutex);
        m_unsettled = qMax(0, m_unsettled - count);
        // Counted with the settling: the task may end the run as soon as the lock is free, and the
        // last books stored must reach the progress before the run's end does.
        counts = countsLocked();
        m_storeChanged.wakeAll();
    }
    showProgress(counts);
}

bookimporter::Counts bookimporter::countsLocked() const
{
    Counts counts;
    counts.run = m_run;
    counts.storing = m_storing;
    counts.processed = m_processed;
    counts.done = m_processed - m_unsettled;
    counts.total = m_processed + (m_inHand ? 1 : 0) + m_queue.size();
    return counts;
}

void bookimporter::postProgress(const Counts& counts)
{
    if (counts.storing) {
        // Counted when delivered, after the books the store settled meanwhile: never ahead of it.
        const int run = counts.run;
        post([this, run] { reportProgress(run); });
    } else if (counts.total > 1) {
        post([this, counts] { emit progress(counts.done, counts.total); });
    }
}

void bookimporter::reportProgress(int run)
{
    Counts counts;
    {
        QMutexLocker lock(&m_mutex);
        if (run != m_run || !m_storing)
            return;
        counts = countsLocked();
    }
    showProgress(counts);
}

void bookimporter::showProgress(const Counts& counts)
{
    if (!counts.storing || counts.total <= 1
        || (counts.run == m_shown.run && counts.done == m_shown.done && counts.total == m_shown.total))
        return;
    m_shown = counts;
    emit progress(counts.done, counts.total);
}

void bookimporter::beginRunLocked()
{
    ++m_run;
    m_processed = 0;
    m_unsettled = 0;
    m_inHand = false;
}

bool bookimporter::waitWhilePaused() const
{
    while (m_paused && !m_cancelled)
        QThread::msleep(kPauseStepMs);
    return !m_cancelled;
}

bool bookimporter::waitForStore(int limit)
{
    QMutexLocker lock(&m_mutex);
    while (m_storing && m_unsettled > limit && !m_cancelled)
        m_storeChanged.wait(&m_mutex, kPauseStepMs);
    return !m_cancelled;
}

bool bookimporter::nextItem(QString& item, QString& importFolder)
{
    if (!waitWhilePaused() || !waitForStore(kMaxUnsettled - 1))
        return false;
    if (takeItem(item, importFolder))
        return true;
    return waitForStore(0) && takeItem(item, importFolder);
}

bool bookimporter::takeItem(QString& item, QString& importFolder)
{
    QMutexLocker lock(&m_mutex);
    if (m_queue.isEmpty())
        return false;
    item = m_queue.takeFirst();
    m_inHand = true;
    // Logged under the lock, so that the log orders it against the end of the program.
    qInfo().noquote() << "Import takes" << item;
    importFolder = m_importFolder;
    return true;
}

void bookimporter::queueFront(const QStringList& items)
{
    QMutexLocker lock(&m_mutex);
    m_queue = items + m_queue;
    m_inHand = false;
}

bookimporter::Counts bookimporter::countItem(bool added)
{
    QMutexLocker lock(&m_mutex);
    m_inHand = false;
    ++m_processed;
    if (added && m_storing)
        ++m_unsettled;
    return countsLocked();
}

bool bookimporter::isKnown(const QString& path) const
{
    QMutexLocker lock(&m_mutex);
    return m_known.contains(path);
}

bool bookimporter::libraryAsked() const
{
    QMutexLocker lock(&m_mutex);
    return m_libraryAsked;
}

bool bookimporter::endTask(const std::function<void()>& announce)
{
    QMutexLocker lock(&m_mutex);
    announce();
    if (m_queue.isEmpty()) {
        // The counts stay as the run left them until the next one starts: a progress posted before
        // the end and delivered after it still counts the whole run.
        m_running = false;
        return false;
    }
    // Queued after a cancel, or while an export ran: a run of their own.
    beginRunLocked();
    m_cancelled = false;
    m_paused = false;
    post([this] { emit importStarted(); });
    return true;
}

void bookimporter::importTask()
{
    bool more = true;
    while (more) {
        const RunResult result = importRun();
        more = endTask([this, result] { post([this, result] { emit finished(result.ok, result.total); }); });
    }
}

bookimporter::RunResult bookimporter::importRun()
{
    qInfo() << "start import";
    {
        QMutexLocker lock(&m_mutex);
        postProgress(countsLocked());
    }

    importbooks archive;
    // Books read in this run: the same file twice becomes one book.
    QSet<QString> added;
    RunResult result;
    QString item;
    QString importFolder;
    while (nextItem(item, importFolder)) {
        if (isFolderItem(item)) {
            queueFront(booksInFolder(item));
            continue;
        }

        BookDto record;
        ItemStatus status = ItemAdded;
        bool report = true;
        if (item.startsWith(ArchivePrefix)) {
            // One archive at a time: its books come first, so the previous one is done.
            archive.close();
            record.full_path = absolutePath(item.mid(ArchivePrefix.size()));
            if (archive.open(record.full_path)) {
                QStringList books;
                for (int i = 0; i < archive.count(); ++i)
                    books.append(ArchiveBookItem);
                queueFront(books);
                continue;
            }
            // A damaged or foreign archive is reported as one book that could not be read.
            status = ItemReadFailed;
        } else if (item == ArchiveBookItem) {
            report = readArchiveBook(archive, importFolder, record, status);
        } else {
            record.full_path = absolutePath(item);
            const bool known = isKnown(record.full_path) || added.contains(record.full_path);
            status = known ? ItemAlreadyInLibrary : readBookFile(record, libraryAsked());
        }
        // Counted before it is reported: the store may settle it before the task goes on.
        // The total counts what is still queued now, items appended meanwhile included.
        const Counts counts = countItem(report && status == ItemAdded);
        if (report) {
            if (status == ItemAdded) {
                ++result.ok;
                added.insert(record.full_path);
            }
            post([this, status, record] { emit itemProcessed(status, record); });
        }
        result.total = counts.processed;
        postProgress(counts);
    }
    archive.close();
    return result;
}

bool bookimporter::readArchiveBook(
    importbooks& archive, const QString& importFolder, BookDto& record, ItemStatus& status)
{
    if (!archive.next())
        return false;
    const ArchiveEntry entry = archive.current();
    record.author = entry.author;
    record.title = entry.title;
    record.position = entry.position;
    record.max_position = entry.progress;
    record.is_favorite = entry.isFavorite ? 1 : 0;
    record.folder_title = entry.folderTitle;
    const QString extracted = archive.extractBook(importFolder);
    if (extracted.isEmpty()) {
        // A book that cannot be unpacked is named by the file it would have been, with the cause: a
        // full disk or a folder that cannot be written is no missing book.
        record.full_path = absolutePath(QDir(importFolder).filePath(entry.fileName));
        const checkedsave::Failure failure = checkedsave::classifyFolder(record.full_path);
        status = failure == checkedsave::Failure::DiskFull ? ItemDiskFull
            : failure == checkedsave::Failure::NotWritable ? ItemFolderNotWritable
                                                           : ItemFileMissing;
        return true;
    }
    record.full_path = absolutePath(extracted);
    status = readBookFile(record);
    // The user's own cover comes back with the book; the book's own is made again from its file.
    if (status == ItemAdded && entry.hasCustomCover)
        record.use_user_cover = writeUserCover(record.full_path, archive.readCover());
    if (status == ItemAdded && !entry.restoreReadingPlace(record.full_path))
        qWarning() << "The reading place of" << record.full_path << "could not be restored";
    return true;
}

void bookimporter::exportTask(const QString& archive, const QList<BookDto>& books)
{
    const int total = books.size();
    post([this] { emit exportStarted(); });
    std::function<void()> announce;
    {
        exportbooks writer;
        if (!writer.open(archive)) {
            // Reported as the export it was: an import's report would show the last import's
            // messages instead of this failure.
            const int failure = int(writer.failure());
            announce = [this, total, failure, archive] {
                post([this, total, failure, archive] { emit exported(0, total, failure, archive); });
            };
        } else {
            for (const BookDto& book : books) {
                if (writer.addBook(book))
                    qInfo().noquote() << QFileInfo(book.full_path).fileName();
            }
            int ok = 0;
            bool cancelled = false;
            for (;;) {
                if (!waitWhilePaused()) {
                    cancelled = true;
                    break;
                }
                if (!writer.hasNext())
                    break;
                if (writer.writeNext())
                    ++ok;
                if (writer.count() > 1) {
                    const int index = writer.index();
                    post([this, index, total] { emit progress(index, total); });
                }
            }
            // A cancelled export reports nothing at all, a failed one none of its books.
            if (cancelled || !writer.writeContainer() || !writer.commit()) {
                writer.close();
                ok = 0;
            }
            const int reportedOk = ok;
            const int reportedTotal = cancelled ? 0 : total;
            // A failure is told by its cause; a cancel is no failure.
            const int failure = cancelled ? 0 : int(writer.failure());
            announce = [this, reportedOk, reportedTotal, failure, archive] {
                post([this, reportedOk, reportedTotal, failure, archive] {
                    emit exported(reportedOk, reportedTotal, failure, archive);
                });
            };
        }
    }
    if (endTask(announce))
        importTask();
}

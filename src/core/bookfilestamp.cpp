#include "bookfilestamp.h"

#include "checkedsave.h"
#include "eventloops/nestedloop.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QThread>
#include <QtConcurrent>
#include <QtDebug>

#include <atomic>
#include <memory>

namespace {

// "<size> <modification time in ms> <hash>\n"; the hash is missing from stamps of older versions.
struct Stamp {
    qint64 size = -1;
    qint64 modified = -1;
    QByteArray hash;

    bool sameFile(const Stamp& other) const { return size == other.size && modified == other.modified; }
};

Stamp fileStamp(const QString& path)
{
    const QFileInfo file(path);
    Stamp stamp;
    if (file.isFile()) {
        stamp.size = file.size();
        stamp.modified = file.lastModified().toMSecsSinceEpoch();
    }
    return stamp;
}

// False when there is no stamp; a stamp that does not read matches no file.
bool readStamp(const QString& path, Stamp* stamp)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> fields = file.read(256).trimmed().split(' ');
    bool sized = false;
    bool timed = false;
    stamp->size = fields.value(0).toLongLong(&sized);
    stamp->modified = fields.value(1).toLongLong(&timed);
    if (!sized || !timed)
        *stamp = Stamp();
    stamp->hash = fields.value(2);
    return true;
}

bool writeStamp(const QString& path, const Stamp& stamp)
{
    QByteArray text = QByteArray::number(stamp.size) + ' ' + QByteArray::number(stamp.modified);
    if (!stamp.hash.isEmpty())
        text += ' ' + stamp.hash;
    const checkedsave::Result result = checkedsave::writeFile(path, text + '\n');
    if (!result)
        qWarning() << "Can't write" << path << result.errorText;
    return result.ok();
}

// Set when the program ends, so that no hash of a large file holds up the exit.
std::atomic_bool& quitting()
{
    static std::atomic_bool flag { false };
    return flag;
}

void watchQuit()
{
    static bool watching = false;
    QCoreApplication* app = QCoreApplication::instance();
    if (watching || !app)
        return;
    watching = true;
    QObject::connect(app, &QCoreApplication::aboutToQuit, [] { quitting() = true; });
}

// The SHA-1 of the file's bytes in hex; empty when it cannot be read or the reading was stopped.
QByteArray hashFile(const QString& path, const std::atomic_bool* stop)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (;;) {
        const QByteArray block = file.read(1 << 20);
        if (block.isEmpty())
            break;
        if ((stop && *stop) || quitting())
            return QByteArray();
        hash.addData(block);
    }
    if (file.error() != QFileDevice::NoError)
        return QByteArray();
    return hash.result().toHex();
}

// A large file is hashed on a pool thread while the window goes on painting (user input waits);
// empty when the program ends meanwhile.
QByteArray hashWaiting(const QString& path, qint64 size)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (size <= BookFileStamp::kHashAtOnceBytes || !app || QThread::currentThread() != app->thread())
        return hashFile(path, nullptr);
    qInfo() << "Hashing the book file to tell whether it changed:" << path << size << "bytes";
    const auto stop = std::make_shared<std::atomic_bool>(false);
    QFutureWatcher<QByteArray> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run([path, stop] { return hashFile(path, stop.get()); }));
    if (!watcher.isFinished()) {
        // The book being opened is the caller: a hand-over must not open another meanwhile.
        NestedLoop::Scope scope;
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (!watcher.isFinished()) {
        *stop = true;
        watcher.waitForFinished();
        return QByteArray();
    }
    return watcher.result();
}

// Adds the hash to a stamp written without one, unless the file or the stamp changed meanwhile.
void completeStamp(const QString& bookPath, const QString& stampPath, const Stamp& stamp)
{
    const auto complete = [bookPath, stampPath, stamp] {
        Stamp hashed = stamp;
        hashed.hash = hashFile(bookPath, nullptr);
        Stamp stored;
        if (hashed.hash.isEmpty() || !fileStamp(bookPath).sameFile(stamp) || !readStamp(stampPath, &stored)
            || !stored.sameFile(stamp) || !stored.hash.isEmpty())
            return;
        writeStamp(stampPath, hashed);
    };
    if (stamp.size <= BookFileStamp::kHashAtOnceBytes)
        complete();
    else
        QtConcurrent::run(complete);
}

} // namespace

BookFileStamp::Verdict BookFileStamp::check(const QString& bookPath, const QString& stampPath)
{
    watchQuit();
    Stamp stored;
    if (!readStamp(stampPath, &stored))
        return Verdict::NotStamped;
    Stamp now = fileStamp(bookPath);
    if (stored.size != now.size)
        return Verdict::Replaced;
    if (stored.modified == now.modified) {
        if (stored.hash.isEmpty())
            completeStamp(bookPath, stampPath, now);
        return Verdict::Same;
    }
    // Stamped before hashes were kept: only the time can tell.
    if (stored.hash.isEmpty())
        return Verdict::Replaced;
    now.hash = hashWaiting(bookPath, now.size);
    if (now.hash.isEmpty()) {
        qWarning() << "The book file could not be hashed; it is taken for the one last opened:" << bookPath;
        return Verdict::Same;
    }
    if (now.hash != stored.hash)
        return Verdict::Replaced;
    qInfo() << "The book file has a new time but the same bytes:" << bookPath;
    writeStamp(stampPath, now);
    return Verdict::Same;
}

bool BookFileStamp::write(const QString& bookPath, const QString& stampPath)
{
    watchQuit();
    Stamp now = fileStamp(bookPath);
    if (now.size <= kHashAtOnceBytes)
        now.hash = hashFile(bookPath, nullptr);
    if (!writeStamp(stampPath, now))
        return false;
    if (now.hash.isEmpty())
        completeStamp(bookPath, stampPath, now);
    return true;
}

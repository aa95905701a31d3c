#include "libraryreadcopy.h"

#include "appdirs.h"
#include "librarydatabase.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// What SQLite reads beside a file as part of it: copied with the file.
const char* const kCompanions[] = { "-journal", "-wal" };
// What SQLite may leave beside a file: removed with it.
const char* const kLeftovers[] = { "-journal", "-wal", "-shm" };

bool isWritable(const QString& path) { return ::access(QFile::encodeName(path).constData(), W_OK) == 0; }

bool copyFile(const QString& from, const QString& to, QString* error)
{
    // A copy left by an earlier opening is replaced; where it cannot be, that is the cause.
    QFile old(to);
    if (old.exists() && !old.remove()) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(to), old.errorString());
        return false;
    }
    QFile source(from);
    if (!source.copy(to)) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(to), source.errorString());
        QFile::remove(to);
        return false;
    }
    // The copy keeps the source's mode, and SQLite writes to the copy and its journal to roll back
    // and to upgrade: a read-only mode refuses that to everyone but root, and a library copied so
    // could never be saved.
    QFile copy(to);
    if (copy.setPermissions(copy.permissions() | QFile::ReadOwner | QFile::WriteOwner))
        return true;
    *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(to), copy.errorString());
    return false;
}

bool syncPath(const QString& path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    return synced;
}

// Opens the copy, which rolls its journal back, and brings its schema up to date when asked.
bool rollBack(const QString& copy, bool upgrade, QString* error)
{
    const QString connection = QStringLiteral("pl_library_copy");
    bool ready = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(copy);
        QSqlError failure;
        if (db.open()) {
            {
                QSqlQuery read(db);
                ready = read.exec(QStringLiteral("select count(*) from sqlite_master")) && read.next();
                failure = read.lastError();
            }
            // What fails here is told once, by the caller, with the library's folder named.
            QSqlError upgraded;
            ready = ready && (!upgrade || LibraryDatabase::createOrUpgrade(connection, &upgraded));
            if (upgraded.isValid())
                failure = upgraded;
        } else {
            failure = db.lastError();
        }
        db.close();
        if (!ready) {
            qWarning().noquote() << "The copy" << copy
                                 << "could not be rolled back or brought up to date:" << failure.text();
            *error = LibraryDatabase::plainText(failure);
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return ready;
}

} // namespace

bool LibraryReadCopy::needed(const QString& path)
{
    const QFileInfo file(path);
    return file.isFile() && (!isWritable(file.absoluteFilePath()) || !isWritable(file.absolutePath()));
}

bool LibraryReadCopy::hasJournal(const QString& path)
{
    for (const char* suffix : kCompanions) {
        if (QFileInfo(path + QLatin1String(suffix)).size() > 0)
            return true;
    }
    return false;
}

bool LibraryReadCopy::copyWhole(const QString& from, const QString& to, bool upgrade, QString* error)
{
    removeWithJournal(to);
    bool copied = copyFile(from, to, error);
    for (const char* suffix : kCompanions) {
        const QString companion = from + QLatin1String(suffix);
        if (copied && QFile::exists(companion))
            copied = copyFile(companion, to + QLatin1String(suffix), error);
    }
    if (!copied || !rollBack(to, upgrade, error)) {
        removeWithJournal(to);
        return false;
    }
    // A journal SQLite kept (another journal mode) belongs to the copy only while it is in use.
    for (const char* suffix : kLeftovers)
        QFile::remove(to + QLatin1String(suffix));
    return true;
}

bool LibraryReadCopy::bringUpToDate(const QString& copy, QString* error) { return rollBack(copy, true, error); }

QString LibraryReadCopy::privatePath(const QString& path, const QString& suffix, QString* error)
{
    const QString root = runTempDir();
    const QString folder = root + QStringLiteral("/library");
    if (root.isEmpty() || !QDir().mkpath(folder)) {
        *error = root.isEmpty() ? QStringLiteral("no temporary folder")
                                : QStringLiteral("%1 cannot be made").arg(QDir::toNativeSeparators(folder));
        return QString();
    }
    return folder + QLatin1Char('/') + QFileInfo(path).fileName() + suffix;
}

QString LibraryReadCopy::make(const QString& path, QString* error)
{
    const QString copy = privatePath(path, QString(), error);
    if (copy.isEmpty() || !copyWhole(path, copy, true, error))
        return QString();
    qInfo().noquote() << "The library" << path << "is read from the copy" << copy;
    return copy;
}

bool LibraryReadCopy::putInPlace(const QString& finished, const QString& path, QString* error)
{
    if (syncPath(finished, O_RDONLY)
        && std::rename(QFile::encodeName(finished).constData(), QFile::encodeName(path).constData()) == 0) {
        syncPath(QFileInfo(path).absolutePath(), O_RDONLY | O_DIRECTORY);
        return true;
    }
    *error = QString::fromLocal8Bit(std::strerror(errno));
    removeWithJournal(finished);
    return false;
}

void LibraryReadCopy::removeWithJournal(const QString& path)
{
    QFile::remove(path);
    for (const char* suffix : kLeftovers)
        QFile::remove(path + QLatin1String(suffix));
}

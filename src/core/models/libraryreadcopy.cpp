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

#include <unistd.h>

namespace {

const char* const kCompanions[] = { "-journal", "-wal" };

bool isWritable(const QString& path) { return ::access(QFile::encodeName(path).constData(), W_OK) == 0; }

bool copyFile(const QString& from, const QString& to, QString* error)
{
    // A copy left by an earlier opening in this run is replaced; where it cannot be, that is the cause.
    QFile old(to);
    if (old.exists() && !old.remove()) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(to), old.errorString());
        return false;
    }
    QFile source(from);
    if (!source.copy(to)) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(from), source.errorString());
        return false;
    }
    // The copy keeps the source's mode, and SQLite writes to the copy and its journal to roll back
    // and to upgrade: a read-only mode refuses that to everyone but root.
    QFile copy(to);
    if (copy.setPermissions(copy.permissions() | QFile::WriteOwner))
        return true;
    *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(to), copy.errorString());
    return false;
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

QString LibraryReadCopy::make(const QString& path, QString* error)
{
    const QString root = runTempDir();
    const QString folder = root + QStringLiteral("/library");
    if (root.isEmpty() || !QDir().mkpath(folder)) {
        *error = root.isEmpty() ? QStringLiteral("no temporary folder")
                                : QStringLiteral("%1 cannot be made").arg(QDir::toNativeSeparators(folder));
        return QString();
    }
    const QString copy = folder + QLatin1Char('/') + QFileInfo(path).fileName();
    bool copied = copyFile(path, copy, error);
    for (const char* suffix : kCompanions) {
        const QString companion = path + QLatin1String(suffix);
        QFile::remove(copy + QLatin1String(suffix));
        if (copied && QFile::exists(companion))
            copied = copyFile(companion, copy + QLatin1String(suffix), error);
    }
    if (!copied) {
        QFile::remove(copy);
        return QString();
    }

    // The first statement rolls the journal back; the upgrade runs on the copy as on the file.
    const QString connection = QStringLiteral("pl_library_read_copy");
    bool ready = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(copy);
        if (db.open()) {
            {
                QSqlQuery read(db);
                ready = read.exec(QStringLiteral("select count(*) from sqlite_master")) && read.next();
                *error = read.lastError().text();
            }
            // What fails here is told once, by the caller, with the library's folder named.
            QSqlError upgrade;
            ready = ready && LibraryDatabase::createOrUpgrade(connection, &upgrade);
            if (upgrade.isValid())
                *error = upgrade.text();
        } else {
            *error = db.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    if (!ready) {
        if (error->trimmed().isEmpty())
            *error = QStringLiteral("the copy could not be brought up to date");
        QFile::remove(copy);
        for (const char* suffix : kCompanions)
            QFile::remove(copy + QLatin1String(suffix));
        return QString();
    }
    qInfo().noquote() << "The library" << path << "cannot be written: it is read from the copy" << copy;
    return copy;
}

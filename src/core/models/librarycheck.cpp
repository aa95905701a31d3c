#include "librarycheck.h"

#include "checkedsave.h"
#include "librarydatabase.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sys/stat.h>

namespace {

// What identifies the file as it was left: a change of any of these means someone wrote it.
struct FileState {
    qint64 size = -1;
    qint64 modifiedNs = -1;
    qint64 inode = -1;

    bool operator==(const FileState& other) const
    {
        return size == other.size && modifiedNs == other.modifiedNs && inode == other.inode;
    }
};

bool fileState(const QString& path, FileState* state)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    state->size = qint64(status.st_size);
    state->modifiedNs = qint64(status.st_mtim.tv_sec) * 1000000000 + qint64(status.st_mtim.tv_nsec);
    state->inode = qint64(status.st_ino);
    return true;
}

// "key=value" lines; false when a key is missing or not a number.
bool readRecord(const QString& recordPath, FileState* state, qint64* checked)
{
    QFile file(recordPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QHash<QByteArray, qint64> values;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const int equals = line.indexOf('=');
        bool ok = false;
        const qint64 value = line.mid(equals + 1).toLongLong(&ok);
        if (equals > 0 && ok)
            values.insert(line.left(equals), value);
    }
    for (const char* key : { "size", "modified", "inode", "checked" }) {
        if (!values.contains(key))
            return false;
    }
    state->size = values.value("size");
    state->modifiedNs = values.value("modified");
    state->inode = values.value("inode");
    *checked = values.value("checked");
    return true;
}

// Whether the file is a library: the tables it holds under the program's names are the program's
// by their columns, in a version the upgrade knows, and it holds one at least, or no table at all (a
// first start that stopped before it made them). A name alone proves nothing: another program's
// file may well hold a table named "books".
bool holdsLibrary(const QSqlDatabase& db)
{
    QStringList names;
    {
        QSqlQuery tables(db);
        if (!tables.exec(QStringLiteral("select name from sqlite_master where type = 'table'")))
            return true; // not known: the normal opening tells
        while (tables.next())
            names.append(tables.value(0).toString());
    }
    const QStringList library = LibraryDatabase::tableNames();
    bool own = false;
    bool other = false;
    for (const QString& name : qAsConst(names)) {
        if (!library.contains(name, Qt::CaseInsensitive)) {
            other = other || !name.startsWith(QLatin1String("sqlite_"), Qt::CaseInsensitive);
            continue;
        }
        QStringList columns;
        QSqlQuery info(db);
        if (!info.exec(QStringLiteral("PRAGMA table_info(\"%1\")").arg(name)))
            return true;
        while (info.next())
            columns.append(info.value(1).toString());
        if (!LibraryDatabase::isOwnTable(name, columns)) {
            qWarning().noquote() << "The table" << name << "of the library file has columns the library never had:"
                                 << columns.join(QStringLiteral(", "));
            return false;
        }
        own = true;
    }
    return own || !other;
}

} // namespace

LibraryCheck::Plan LibraryCheck::plan(const QString& path, qint64 now)
{
    Plan plan;
    FileState recorded;
    FileState current;
    if (!fileState(path, &current)) {
        plan.reason = QStringLiteral("no library file yet");
    } else if (!readRecord(closeRecordPath(path), &recorded, &plan.lastFullCheck)) {
        plan.reason = QStringLiteral("no record that the last run closed the library");
        plan.lastFullCheck = 0;
    } else if (!(current == recorded)) {
        plan.reason = QStringLiteral("the file changed since the library was closed");
    } else if (qAbs(now - plan.lastFullCheck) > kFullCheckPeriodSecs) {
        // Also a check time in the future: the clock was changed.
        plan.reason = QStringLiteral("the last full check is too old");
    } else {
        plan.depth = Depth::Start;
        plan.reason = QStringLiteral("the file is as the last run closed it");
    }
    return plan;
}

LibraryCheck::Verdict LibraryCheck::check(const QString& path, Depth depth, QString* error)
{
    const QFileInfo file(path);
    if (!file.exists())
        return Verdict::Sound;
    if (file.isFile() && file.size() == 0)
        return Verdict::Empty;
    const QString connection = QStringLiteral("pl_library_check");
    Verdict verdict = Verdict::Unknown;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        if (db.open()) {
            // Any statement reads the header and the schema first; a file that is no database,
            // or one whose first page is damaged, fails here either way.
            QSqlQuery check(db);
            if (check.exec(depth == Depth::Full ? QStringLiteral("PRAGMA quick_check(1)")
                                                : QStringLiteral("PRAGMA quick_check(books)"))) {
                if (check.next()) {
                    const QString result = check.value(0).toString();
                    verdict = result != QLatin1String("ok") ? Verdict::Damaged
                        : holdsLibrary(db)                  ? Verdict::Sound
                                                            : Verdict::Foreign;
                    // The findings come under a heading that names SQLite's database ("*** in
                    // database main ***"), which tells the user nothing.
                    if (verdict == Verdict::Damaged)
                        *error = result.section(QLatin1String("***\n"), -1).simplified();
                }
            } else if (isDamageCode(check.lastError().nativeErrorCode())) {
                verdict = Verdict::Damaged;
                *error = check.lastError().text();
            } else {
                *error = check.lastError().text();
            }
        } else {
            *error = db.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    if (verdict == Verdict::Unknown)
        qWarning() << "The library database" << path << "could not be checked:" << *error;
    return verdict;
}

QString LibraryCheck::closeRecordPath(const QString& path) { return path + QStringLiteral(".closed"); }

bool LibraryCheck::recordClose(const QString& path, qint64 lastFullCheck)
{
    FileState state;
    if (!fileState(path, &state))
        return false;
    const QByteArray record = "size=" + QByteArray::number(state.size)
        + "\nmodified=" + QByteArray::number(state.modifiedNs) + "\ninode=" + QByteArray::number(state.inode)
        + "\nchecked=" + QByteArray::number(lastFullCheck) + '\n';
    const checkedsave::Result result = checkedsave::writeFile(closeRecordPath(path), record);
    if (!result)
        qWarning() << "Cannot record the clean close of the library" << path << result.errorText;
    return result.ok();
}

void LibraryCheck::forgetClose(const QString& path)
{
    const QString record = closeRecordPath(path);
    if (QFile::exists(record) && !QFile::remove(record))
        qWarning() << "Cannot remove" << record << "- the next start may skip the full check of the library";
}

bool LibraryCheck::isDamageCode(const QString& nativeErrorCode)
{
    // SQLITE_CORRUPT and SQLITE_NOTADB, with their extended codes.
    const int code = nativeErrorCode.toInt() & 0xff;
    return code == 11 || code == 26;
}

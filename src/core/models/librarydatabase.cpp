#include "librarydatabase.h"

#include "librarymessagebox.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

// A statement of the start-up with its log text (%1: the error) and the title of the box
// shown when it fails; no title: a failure is logged only.
struct Statement {
    const char* sql;
    const char* failure;
    const char* boxTitle;
};

const char* const kCreationFailed = QT_TRANSLATE_NOOP("BookProvider", "Creation table failed");

const Statement kCreateBooks { "create table if not exists books (id INTEGER primary key,cover TEXT,full_path "
                               "TEXT,author TEXT,title TEXT,format INTEGER,time_added INTEGER,time_last_view "
                               "INTEGER,position INTEGER,max_position INTEGER,is_favorite INTEGER,is_deleted "
                               "INTEGER,notes_count INTEGER,book_hash TEXT,use_user_cover INTEGER);",
    "Cannot create books table. Error:%1", kCreationFailed };

const Statement kTableInfo { "PRAGMA table_info(books);", "Can't get books table info. Error:%1",
    QT_TRANSLATE_NOOP("BookProvider", "Checking table failed") };

// Columns that older versions did not have, in the order they are appended.
const struct {
    const char* name;
    const char* sql;
} kLateColumns[] = {
    { "notes_count", "alter table books add column notes_count INTEGER;" },
    { "book_hash", "alter table books add column book_hash TEXT;" },
    { "use_user_cover", "alter table books add column use_user_cover INTEGER;" },
};

const char* const kAlterFailure = "Can't alter books table. Error:%1";
const char* const kAlterFailed = QT_TRANSLATE_NOOP("BookProvider", "Altering table failed");

const Statement kCreateRest[] = {
    { "create table if not exists folders (id INTEGER primary key,parent_id INTEGER,title TEXT UNIQUE);",
        "Cannot create folders table. Error:%1", kCreationFailed },
    { "create table if not exists book_folder_binder(book_id INTEGER NOT NULL,folder_id INTEGER NOT "
      "NULL,PRIMARY KEY(book_id),foreign key(book_id) references books(id),foreign key(folder_id) references "
      "folders(id));",
        "Cannot create folder and book binder table. Error:%1", kCreationFailed },
    { "create table if not exists book_metadata (id INTEGER PRIMARY KEY, book_id INTEGER NOT NULL, meta_type "
      "INTEGER NOT NULL, meta_value TEXT);",
        "Cannot create metadata table. Error:%1", kCreationFailed },
    // Without this index every metadata write, read and delete trigger scans the whole table.
    // Older versions ignore it, and the start-up goes on without it when it cannot be made.
    { "CREATE INDEX IF NOT EXISTS book_metadata_book_id_meta_type ON book_metadata (book_id, meta_type);",
        "Cannot create metadata index. Error:%1", nullptr },
    // Every add looks its path up first: without the index that reads the whole table.
    { "CREATE INDEX IF NOT EXISTS books_full_path ON books (full_path);", "Cannot create book path index. Error:%1",
        nullptr },
    { "CREATE TRIGGER if not exists delete_book_folder_bind_books BEFORE DELETE ON books BEGIN DELETE FROM "
      "book_folder_binder where book_id = old.id; END;",
        "Cannot create folder and book trigger on delete (books). Error:%1", kCreationFailed },
    { "CREATE TRIGGER if not exists delete_book_folder_bind_folders BEFORE DELETE ON folders BEGIN DELETE FROM "
      "book_folder_binder where folder_id = old.id; END;",
        "Cannot create folder and book trigger on delete (folders). Error:%1", kCreationFailed },
    { "CREATE TRIGGER if not exists delete_book_metadata BEFORE DELETE ON books BEGIN delete from book_metadata "
      "where book_id=old.id;END;",
        "Can't create book and metadata trigger on delete. Error:%1", kCreationFailed },
    // Files handed over by other starts and not yet added. Older versions ignore it; without it
    // hand-overs are refused, the rest of the library works.
    { "create table if not exists handed_over (id INTEGER PRIMARY KEY, act INTEGER NOT NULL, path TEXT NOT NULL);",
        "Cannot create hand-over table. Error:%1", nullptr },
};

const Statement kDropTrigger { "DROP TRIGGER if exists delete_book_bookmarks;",
    "Can't drop obsolete trigger delete_book_bookmarks. Error:%1", nullptr };
const Statement kDropBookmarks { "DROP TABLE IF EXISTS bookmarks;", "Can't drop obsolete table bookmarks. Error:%1",
    nullptr };

// A required statement's failure goes to the caller's error when it takes one, else into a box.
void reportFailure(const char* failure, const char* boxTitle, const QSqlQuery& query, QSqlError* taken)
{
    const QString error = query.lastError().text();
    qCritical().noquote() << QString::fromLatin1(failure).arg(error);
    if (boxTitle && taken)
        *taken = query.lastError();
    else if (boxTitle)
        LibraryMessageBox::critical(
            QCoreApplication::translate("BookProvider", boxTitle), LibraryDatabase::plainText(query.lastError()));
}

bool run(const QSqlDatabase& db, const char* sql, const char* failure, const char* boxTitle, QSqlError* taken)
{
    QSqlQuery query(db);
    if (query.exec(QString::fromLatin1(sql)))
        return true;
    reportFailure(failure, boxTitle, query, taken);
    return false;
}

bool run(const QSqlDatabase& db, const Statement& statement, QSqlError* taken = nullptr)
{
    return run(db, statement.sql, statement.failure, statement.boxTitle, taken);
}

// Copies the database file once, just before the first statement that changes an existing
// file, so that an upgrade never leaves the user without the file as it was. An existing
// copy is kept: it is the oldest state and the most valuable one.
class UpgradeBackup {
public:
    explicit UpgradeBackup(const QString& databasePath)
        : m_databasePath(databasePath)
    {
    }

    // Call only while no statement is active: closing the copy's file descriptor drops every
    // POSIX lock this process holds on the file.
    void ensure()
    {
        if (m_done)
            return;
        m_done = true;
        const QString target = LibraryDatabase::backupPath(m_databasePath);
        if (!QFile::exists(m_databasePath))
            return;
        if (QFile::exists(target)) {
            qInfo().noquote() << "Library backup already exists, kept:" << target;
            return;
        }
        QFile source(m_databasePath);
        if (source.copy(target))
            qInfo().noquote() << "Library database copied before upgrade to" << target;
        else
            qCritical().noquote() << "Cannot back up the library database to" << target
                                  << "Error:" << source.errorString();
    }

private:
    QString m_databasePath;
    bool m_done = false;
};

// Whether the schema holds an object of that type and name; false (logged) when the lookup fails.
bool schemaHas(const QSqlDatabase& db, const QString& type, const QString& name, bool* ok)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("select count(*) from sqlite_master where type = :type and name = :name"));
    query.bindValue(QStringLiteral(":type"), type);
    query.bindValue(QStringLiteral(":name"), name);
    *ok = query.exec() && query.next();
    if (!*ok) {
        qCritical().noquote() << "Cannot look up" << type << name << "Error:" << query.lastError().text();
        return false;
    }
    return query.value(0).toInt() > 0;
}

// Drops the obsolete bookmark trigger, and the obsolete bookmarks table only when it holds
// no rows: bookmarks now live in the per-book reading state, but a file may still carry ones
// that were never moved there.
void dropObsoleteBookmarks(const QSqlDatabase& db, UpgradeBackup& backup)
{
    bool ok = false;
    bool triggerGone = !schemaHas(db, QStringLiteral("trigger"), QStringLiteral("delete_book_bookmarks"), &ok) && ok;
    if (!triggerGone && ok) {
        backup.ensure();
        triggerGone = run(db, kDropTrigger);
    }

    if (!schemaHas(db, QStringLiteral("table"), QStringLiteral("bookmarks"), &ok))
        return;
    if (!triggerGone) {
        // The trigger would point at a missing table and make every book deletion fail.
        qWarning() << "Obsolete table bookmarks kept: its trigger could not be dropped";
        return;
    }
    qint64 rows = -1;
    {
        QSqlQuery count(db);
        if (count.exec(QStringLiteral("select count(*) from bookmarks")) && count.next())
            rows = count.value(0).toLongLong();
        else
            qCritical().noquote() << "Cannot count obsolete bookmarks. Error:" << count.lastError().text();
    }
    if (rows != 0) {
        if (rows > 0)
            qWarning().noquote() << QStringLiteral("Obsolete table bookmarks kept: it holds %1 rows").arg(rows);
        return;
    }
    backup.ensure();
    run(db, kDropBookmarks);
}

} // namespace

QStringList LibraryDatabase::tableStatements()
{
    // A late column missing from the statement that creates books is added the way ALTER adds it.
    QString books = QString::fromLatin1(kCreateBooks.sql);
    for (const auto& column : kLateColumns) {
        if (!books.contains(QLatin1Char(',') + QLatin1String(column.name) + QLatin1Char(' ')))
            books.insert(books.lastIndexOf(QLatin1Char(')')),
                QLatin1Char(',') + QString::fromLatin1(column.sql).section(QLatin1String(" column "), 1).chopped(1));
    }
    QStringList statements { books };
    for (int i = 0; i < 3; ++i)
        statements.append(QString::fromLatin1(kCreateRest[i].sql));
    return statements;
}

QStringList LibraryDatabase::tableNames()
{
    QStringList names;
    for (const QString& statement : tableStatements())
        names.append(statement.section(QLatin1Char('('), 0, 0).simplified().section(QLatin1Char(' '), -1));
    return names;
}

bool LibraryDatabase::isOwnTable(const QString& name, const QStringList& columns)
{
    const QStringList names = tableNames();
    const int table = names.indexOf(QRegularExpression(
        QStringLiteral("^%1$").arg(QRegularExpression::escape(name)), QRegularExpression::CaseInsensitiveOption));
    if (table < 0)
        return false;
    // The column definitions of today's statement: its first word each, constraints left out.
    const QString statement = tableStatements().at(table);
    const QStringList parts = statement.mid(statement.indexOf(QLatin1Char('(')) + 1).split(QLatin1Char(','));
    QSet<QString> known;
    for (const QString& part : parts) {
        const QString word = part.trimmed().section(QLatin1Char(' '), 0, 0).section(QLatin1Char('('), 0, 0).toLower();
        if (!word.isEmpty() && word != QLatin1String("primary") && word != QLatin1String("foreign"))
            known.insert(word);
    }
    QSet<QString> held;
    for (const QString& column : columns)
        held.insert(column.toLower());
    QSet<QString> always = known;
    if (table == 0) {
        for (const auto& column : kLateColumns)
            always.remove(QLatin1String(column.name));
    }
    return held.contains(always) && known.contains(held);
}

QString LibraryDatabase::plainText(const QSqlError& error)
{
    const auto text = [](const char* source) { return QCoreApplication::translate("BookProvider", source); };
    // SQLite's primary result codes.
    switch (error.nativeErrorCode().toInt() & 0xff) {
    case 11: // CORRUPT
    case 26: // NOTADB
        return text("the file is damaged");
    case 13: // FULL
        return text("the disk is full");
    case 3: // PERM
    case 8: // READONLY
    case 10: // IOERR
    case 14: // CANTOPEN
        return text("the file cannot be written");
    case 5: // BUSY
    case 6: // LOCKED
        return text("the file is in use by another program");
    default:
        return text("the file could not be read as a library");
    }
}

QString LibraryDatabase::backupPath(const QString& databasePath) { return databasePath + QStringLiteral(".bak"); }

bool LibraryDatabase::createOrUpgrade(const QString& connection, QSqlError* error)
{
    const QSqlDatabase db = QSqlDatabase::database(connection, false);
    UpgradeBackup backup(db.databaseName());
    if (!run(db, kCreateBooks, error))
        return false;

    QSet<QString> columns;
    {
        QSqlQuery info(db);
        if (!info.exec(QString::fromLatin1(kTableInfo.sql))) {
            reportFailure(kTableInfo.failure, kTableInfo.boxTitle, info, error);
            return false;
        }
        while (info.next())
            columns.insert(info.value(1).toString());
    }
    for (const auto& column : kLateColumns) {
        if (columns.contains(QLatin1String(column.name)))
            continue;
        backup.ensure();
        if (!run(db, column.sql, kAlterFailure, kAlterFailed, error))
            return false;
    }

    for (const Statement& statement : kCreateRest) {
        if (!run(db, statement, error) && statement.boxTitle)
            return false;
    }

    dropObsoleteBookmarks(db, backup);
    return true;
}

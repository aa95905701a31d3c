#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>

// The schema of the library database file ("ebooklib.sqlite3"): the tables `books`,
// `folders`, `book_folder_binder` and `book_metadata`, their delete triggers and the index
// on the metadata's book and type. One routine serves a new file, a file of an older version
// and a file that is already current.
class LibraryDatabase {
public:
    // Creates what is missing on the open connection (the default one unless named) and upgrades
    // an older `books` table. Before the first statement that changes an existing file the file is copied to
    // backupPath() (unless that copy already exists). A required statement that fails is
    // logged and shown in a critical box, or handed to the caller in error when it gives one (a
    // caller off the GUI thread, or one that tells the user itself); the rest are not run and the
    // result is false.
    static bool createOrUpgrade(
        const QString& connection = QLatin1String(QSqlDatabase::defaultConnection), QSqlError* error = nullptr);

    // The statements that create the program's tables as it makes them now (books, folders,
    // book_folder_binder, book_metadata): what their rows look like where a file cannot say.
    static QStringList tableStatements();
    // The names of those tables, in the same order.
    static QStringList tableNames();

    // Whether a table of the file is the program's table of that name in a version the upgrade knows,
    // by its columns: every column the table has always had, and no column the program never made.
    static bool isOwnTable(const QString& name, const QStringList& columns);

    // What an SQLite error means to the user, in plain words ("the file is damaged"); SQLite's own
    // text belongs in the log.
    static QString plainText(const QSqlError& error);

    // "<database file>.bak", beside the database file.
    static QString backupPath(const QString& databasePath);
};

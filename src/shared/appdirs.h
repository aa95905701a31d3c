#pragma once

#include <QString>
#include <QStringList>

// Where the library keeps its data: a hidden folder in the home folder named after the
// application ("~/.<application name>"). Paths use "/" as separator.

// MD5 of the text's UTF-8 bytes as 32 lower-case hex digits.
QString md5Hex(const QString& text);

// "<home>/.<app>/books", created when missing.
QString booksDir();
// "<home>/.<app>/books/<md5Hex(bookPath)>", created when missing.
QString bookDataDir(const QString& bookPath);
// "<home>/.<app>/data/ebooklib.sqlite3"; the folder is created when missing.
QString databasePath();
// "<home>/.<app>/Import", created when missing.
QString importDir();
// "<home>/.<app>/covers/<md5Hex(bookPath)>.jpg"; the folder is created when missing.
QString coverFilePath(const QString& bookPath);

// The older layout, read only for migration; nothing is created.
QString legacyBookDataDir(const QString& bookPath);
QString legacyDatabasePath();

// A folder of this run's own under the system's temporary folder, made on first use and removed
// with what it holds when the program ends normally; empty when it cannot be made. What cannot be
// written where it belongs (a read-only data folder) is read from a copy there.
QString runTempDir();

// Deletes the data folder of each book (recursively) when it exists; failures are ignored.
void removeBookDataDirs(const QStringList& bookPaths);

// Appends the absolute paths of the files below dir whose names match nameFilters, depth
// first. Symbolic links are followed, but a folder already visited (by canonical path) is
// not entered again, so link loops end.
void findFilesRecursively(QStringList& result, const QString& dir, const QStringList& nameFilters);

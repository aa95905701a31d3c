#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <utility>

class BookProvider;
struct BookDto;

// The library runs on Qt's default connection: one file at a time, closed with closeLibrary()
// (no query may be alive).
void closeLibrary();

// A database file made of these statements through a private connection (an older version's file).
bool writeDatabaseFile(const QString& path, const QStringList& statements);

// Column names of a table of the open library, in table order.
QStringList columnsOf(const QString& table);
// Sorted names of the schema objects of a type ("table", "trigger", "index"), SQLite's own left out.
QStringList schemaNames(const QString& type);
// A one-value statement's result (null when it fails).
QString scalar(const QString& sql);

QByteArray fileHash(const QString& path);

// A book row as the library stores one, with a cover path beside the book.
BookDto makeBook(const QString& path, const QString& title, int format);

// A library of a few hundred books built through the program's storage on the open library:
// favourites, notes counts, books in the trash, three folders holding most of the books, two
// metadata entries each. Every twentieth book has a long path and description, whose records
// continue on overflow pages, and a run of books was removed from the library, which leaves free
// pages that held them, and the tenth book became a favourite; the file as it was before goes to
// snapshot, when one is named.
bool buildLibrary(BookProvider* db, int count, const QString& snapshot = QString());

// Records the boxes the library would show, while it lives, and answers each with answer.
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    QList<std::pair<QString, QString>> boxes; // title, text
    QList<QMessageBox::StandardButtons> buttons;
    QMessageBox::StandardButton answer = QMessageBox::Cancel;
    bool offGuiThread = false; // a box was asked for off the application's thread
};

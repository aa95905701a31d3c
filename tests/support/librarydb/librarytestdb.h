#pragma once

#include <QString>
#include <QStringList>

#include <utility>

// Helpers shared by the library database tests. Every library statement runs on Qt's default
// connection, so a test opens one file at a time and closes it with closeLibrary().

// Closes and unregisters the default connection (no query may be alive).
void closeLibrary();

// Writes a database file with the given statements through a private connection, as an
// older version of the program (or a test) would have left it.
bool writeDatabaseFile(const QString& path, const QStringList& statements);

// Column names of a table of the open library, in table order.
QStringList columnsOf(const QString& table);
// Names of the schema objects of a type ("table", "trigger", "index") of the open library,
// sorted; SQLite's own objects are left out.
QStringList schemaNames(const QString& type);
// Result of a one-value statement on the open library, as text (null when it fails).
QString scalar(const QString& sql);

// MD5 of a file's bytes (empty when it cannot be read).
QByteArray fileHash(const QString& path);

// Records the boxes the library shows instead of showing them; restores the default handler
// when destroyed.
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    QList<std::pair<QString, QString>> boxes; // title, text
};

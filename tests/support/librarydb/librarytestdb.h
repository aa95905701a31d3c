#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <utility>

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

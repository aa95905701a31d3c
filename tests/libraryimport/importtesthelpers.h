#pragma once

#include "import/itemstatus.h"
#include "librarybooks.h"
#include "models/bookdto.h"
#include "testfiles.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QMetaObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>

class BookModel;
class FolderModel;

// Points the PDF documents at the engine library of the build.
void usePdfEngine();

// Writes a library book (see librarybooks::write) into dir; its absolute path, or an empty
// string when it cannot be written.
QString writeBook(const QString& dir, const QString& fileName, const librarybooks::BookSpec& recipe = {});

// True when the pixel at the image's centre is within a few steps of the colour.
bool centreHasColour(const QImage& image, const QColor& colour);

// A PNG whose header claims width x height pixels; its data are those of a 1x1 picture.
QByteArray claimedSizePng(quint32 width, quint32 height);

// Everything the importer emits, in order, with the thread each signal arrived on.
class ImportRecorder {
public:
    ImportRecorder();
    ~ImportRecorder();
    ImportRecorder(const ImportRecorder&) = delete;
    ImportRecorder& operator=(const ImportRecorder&) = delete;

    // Waits until finished (or exported) has come count times in all.
    bool waitFinished(int count = 1, int timeoutMs = 30000) const;
    bool waitItems(int count, int timeoutMs = 30000) const;

    QStringList events; // "importStarted", "item 0", "progress 1/3", "finished", ...
    QList<QPair<ItemStatus, BookDto>> items;
    QList<QPair<int, int>> progress;
    QList<QPair<int, int>> exported;
    QSet<QThread*> threads;
    int finishedCount = 0;

private:
    void record(const QString& event);
    QList<QMetaObject::Connection> m_connections;
};

// The library page's part of adding: every book read successfully is stored through the book
// model and filed in its folder, on the GUI thread.
class LibraryAdder {
public:
    LibraryAdder(BookModel& books, FolderModel& folders);
    ~LibraryAdder();
    QList<int> addedIds;

private:
    QMetaObject::Connection m_connection;
};

// Collects the log messages that contain a text while it lives.
class MessageCatcher {
public:
    explicit MessageCatcher(const QString& text);
    ~MessageCatcher();
    QStringList messages() const;
};

#pragma once

#include <QJsonObject>
#include <QString>

// One book of a library archive, as "container.json" lists it. The writing side also knows
// where the book file and its cover come from.
struct ArchiveEntry {
    QString bookId; // 32 lower-case hex digits, the book's folder in the archive
    QString fileName; // the book file's name on disk
    QString relPath; // the member holding the book: bookId + "/" + fileName
    QString author;
    QString title;
    // Where reading stopped: the page of an image book (PDF, DjVu, comics), otherwise the record's
    // position. An integer, as every reader of the format takes it.
    int position = 0;
    // Where reading stopped in a text book: the chapter link its state file gives; empty for none.
    QString readingSource;
    int progress = 0; // the record's max_position
    int bookFormat = 0;
    bool isFavorite = false;
    QString coverPath; // the cover's member, empty when the book has none
    bool hasCustomCover = false;
    QString folderTitle; // empty when the book is in no folder

    // Writing side only.
    QString bookSource; // absolute path of the book file
    QString coverSource; // the cover image file

    // Takes the reading place from the state file of the book at bookPath, where it has one: the
    // library's record does not hold it.
    void takeReadingPlace(const QString& bookPath);
    // Gives the book at bookPath, in its state file, the reading place of the entry, so that it opens
    // where it was left; a state file the book has already is kept. False when it cannot be written.
    bool restoreReadingPlace(const QString& bookPath) const;

    // The container's object for this entry.
    QJsonObject toJson() const;
    // Missing values read as empty strings, 0 and false; a missing or empty "folders" array
    // gives no folder.
    static ArchiveEntry fromJson(const QJsonObject& object);
};

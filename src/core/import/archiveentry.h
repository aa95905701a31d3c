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
    int position = 0;
    int progress = 0; // the record's max_position
    int bookFormat = 0;
    bool isFavorite = false;
    QString coverPath; // the cover's member, empty when the book has none
    bool hasCustomCover = false;
    QString folderTitle; // empty when the book is in no folder

    // Writing side only.
    QString bookSource; // absolute path of the book file
    QString coverSource; // the cover image file

    // The container's object for this entry.
    QJsonObject toJson() const;
    // Missing values read as empty strings, 0 and false; a missing or empty "folders" array
    // gives no folder.
    static ArchiveEntry fromJson(const QJsonObject& object);
};

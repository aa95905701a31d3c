#pragma once

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>

// One library book: its row of the `books` table plus its metadata and the title of its
// folder. Field names mirror the table's columns. Times are seconds since 1970-01-01 UTC.
struct BookDto {
    int id = -1; // -1: not (yet) a library row
    QString cover = QLatin1String(""); // plain (decoded) path of the cover image
    QString full_path = QLatin1String(""); // plain (decoded) path of the book file
    QString author = QLatin1String("");
    QString title = QLatin1String("");
    int format = 0; // BookFormat code
    quint32 time_added = 0;
    quint32 time_last_view = 0; // 0: never opened
    int position = 0;
    int max_position = 0;
    int is_favorite = 0;
    int is_deleted = 0;
    // Extra texts by metadata key; written to the database only when the book is added.
    QMap<int, QString> metadata;
    int notes_count = 0;
    QString book_hash;
    // Filled only by the joined read of all books with their folder titles.
    QString folder_title;
    bool use_user_cover = false;
};

Q_DECLARE_METATYPE(BookDto)

// One of the user's folders with the number of its books that are not in the trash.
struct CategoryDto {
    int id = 0;
    int parent_id = 0;
    QString title;
    int book_count = 0;
};

Q_DECLARE_METATYPE(CategoryDto)

// Counts of the fixed library categories.
struct CategoryCountsDto {
    int all_count = 0; // books not in the trash
    int last_added_count = 0;
    int recently_read_count = 0;
    int favorites_count = 0; // favourites not in the trash
    int deleted_count = 0; // books in the trash
};

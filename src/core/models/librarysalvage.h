#pragma once

#include <QSqlError>
#include <QString>
#include <QStringList>

#include <functional>

// Carries what can still be read of a damaged library file into a new one. The damaged file is
// read by its own pages, never through SQLite's way in (which a damaged page on the way, or a file
// shorter than its header says, closes to every row behind it): rows are reached from each table's
// root while the pages on the way are sound, a leaf a pointer leads to being the table's only when
// its rows fit the table and the rowids the pointer gives; every other table leaf of the file goes
// to the table whose columns its rows fit, as the schema gives them, or as the program makes its
// tables where the schema cannot be read. So only the rows on damaged pages are lost. How many rows
// a table held is told where every leaf of it was found.
//
// A rowid found twice keeps the copy reached from the table's root. A row found only off the tree
// (on a leaf whose way in is damaged) comes back unless a sound leaf of the tree covers its rowid
// (the live tree says it is gone: an old copy on a page that is no longer used) or its copies
// disagree (which is the live one cannot be told). Pages on the free list are never read for rows.
class LibrarySalvage {
public:
    struct Result {
        bool stored = false; // the new file holds the rows carried
        int books = 0; // rows of the books table carried
        int held = -1; // rows the damaged books table held, where its pages tell; -1 unknown
        // Rows of the user's folders, folder memberships and book details that the file held and
        // that did not read; -1 some, how many is not known.
        int lostFolders = 0;
        int lostMemberships = 0;
        int lostDetails = 0;
        QSqlError writeError; // why the new file could not be written; no error when it was
    };

    // Called on the calling thread with the share of the work done, 0 to 100.
    using Progress = std::function<void(int percent)>;

    // Writes a new library file at target (replacing one there) with the program's schema and
    // the rows of source that read: folders, books, then the folder bindings and metadata of the
    // books that came back (none when source cannot be read at all). Ids are kept, so bindings,
    // metadata and each book's data folder still match. Nothing is written to source, and nothing
    // is shown: the result carries a failure to write target back to the caller.
    static Result rebuild(const QString& source, const QString& target, const Progress& progress = {});

    // What the user is told of the salvage stored in the library's place: the books that came
    // back, of how many, and what else of the user's did not.
    static QStringList told(const Result& result);

    // The number of rows of the books table of the file; -1 when it cannot be read.
    static int bookCount(const QString& path);
};

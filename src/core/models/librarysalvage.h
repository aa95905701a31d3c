#pragma once

#include <QString>

// Carries what can still be read of a damaged library file into a new one. The SQLite of the
// platform has no recovery interface, so the damaged file is opened read-only and read table by
// table in rowid order, never through an index: a damaged index loses nothing. Where a read fails
// on a damaged page, or hands out a row that the table's search for its rowid does not find (a
// damaged page can read without an error as rows that are not there), the reading steps past the
// rowids that page held and goes on, so only the rows of unreadable pages are lost.
class LibrarySalvage {
public:
    struct Result {
        bool stored = false; // the new file holds the rows carried
        int books = 0; // rows of the books table carried
    };

    // Writes a new library file at target (replacing one there) with the program's schema and
    // the rows of source that read: folders, books, then the folder bindings and metadata of the
    // books that came back. Ids are kept, so bindings, metadata and each book's data folder
    // still match. Nothing is written to source.
    static Result rebuild(const QString& source, const QString& target);

    // The number of rows of the books table of the file; -1 when it cannot be read.
    static int bookCount(const QString& path);
};

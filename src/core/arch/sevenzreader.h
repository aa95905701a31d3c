#pragma once

#include <QString>

class LibArchiveHandle;

// The book inside a 7z archive: which format it is and its extraction, over libarchive.
// Both operations pick the same entry: the first regular file, in archive order, whose
// suffix is epub, mobi, fb2 or txt (any letter case) and whose name stays inside the
// destination folder.
class sevenzreader {
public:
    // The one process-wide object (it has no state; calls may come from any thread).
    static sevenzreader* instance();

    // The book entry's suffix in lower case ("fb2"); empty when the archive does not open
    // or holds no book entry.
    QString getInternalFileFormat(const QString& archivePath) const;

    // Writes the book entry into destDir (created when missing; an older file of that name
    // is replaced) and returns its path relative to destDir ("books/tale.fb2"); empty when
    // nothing was written. A failed write leaves no file behind.
    QString extractSingleFile(const QString& archivePath, const QString& destDir) const;

private:
    sevenzreader() = default;
    // Opens the archive and moves to the book entry; false (with a log line) when none.
    static bool findBookEntry(LibArchiveHandle& handle, const QString& archivePath, QString* suffix);
};

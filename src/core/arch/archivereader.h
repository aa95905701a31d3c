#pragma once

#include <QFileInfo>
#include <QList>
#include <QRegExp>
#include <QString>
#include <QStringList>

// Lists and unpacks the entries of a book archive. Readers keep no state between calls:
// every call opens its own handle on the archive and closes it before returning, so one
// reader serves any number of archives and threads.
//
// Instantiated by itself this is the null reader: every extraction returns false and writes
// nothing, files() is empty.
//
// Every output path comes from safeEntryPath: entries whose names would leave destDir are
// skipped with a warning and count as not matching. Files are written under a temporary
// name and renamed when complete, so a failed call leaves no partial file.
class ArchiveReader {
public:
    virtual ~ArchiveReader();

    // Unpacks every entry not yet on disk into destDir; the written paths are appended to
    // extracted (when not null) in archive order.
    virtual bool extractAll(const QString& archive, const QString& destDir, QList<QFileInfo>* extracted);
    // Unpacks every entry whose stored name contains a match of pattern (an empty pattern
    // selects all); outPath receives the last path written.
    virtual bool extract(const QString& archive, const QRegExp& pattern, const QString& destDir, QString& outPath);
    // Unpacks the entries named entryName; outPath receives the last path written and is
    // left alone when none was. The name comparison is the reader's own (see subclasses).
    virtual bool extract(const QString& archive, const QString& entryName, const QString& destDir, QString& outPath);
    // The stored entry names in archive order; empty when the archive does not open.
    virtual QStringList files(const QString& archive);
};

// A new reader for what the file is: its signature picks ZipReader (PK\3\4) or RarReader
// (Rar!\x1A\x07), a 7z signature the null reader. Only when the first bytes say nothing (or the
// file does not open) does the suffix decide (case ignored): ".epub", ".zip", ".cbz" ->
// ZipReader, ".cbr" -> RarReader, anything else -> the null ArchiveReader. Never null; the
// caller owns the object.
ArchiveReader* createArchiveReader(const QString& fileName);

#pragma once

#include "checkedsave.h"

#include "arch/archivereader.h"

#include <functional>

class QIODevice;
class UnpackBudget;

// ArchiveReader for ZIP archives (EPUB, CBZ, ZIP books) over QuaZip. Entry names without
// the ZIP UTF-8 flag are decoded as IBM866, the code page of most legacy Cyrillic archives.
//
// extract by name compares names ignoring case and writes the stored spelling; extractAll
// keeps files already on disk and does not list them. Entries are checked (checksum, end of
// data) before their file takes its name; the first failing entry ends the call with false.
class ZipReader : public ArchiveReader {
public:
    bool extractAll(const QString& archive, const QString& destDir, QList<QFileInfo>* extracted) override;
    bool extract(const QString& archive, const QRegExp& pattern, const QString& destDir, QString& outPath) override;
    bool extract(const QString& archive, const QString& entryName, const QString& destDir, QString& outPath) override;
    QStringList files(const QString& archive) override;

    // extractAll on an archive that is already a device (it is opened when not open yet).
    // Pending events of the calling thread, user input excluded, are processed before each
    // entry so that a long unpack on the GUI thread keeps the window painted.
    static bool extractAll(QIODevice* device, const QString& destDir, QList<QFileInfo>* extracted);

    // One pass over the entries for callers that share a book's entries between threads: claim
    // (called with the stored name) says whether to write an entry, written follows each file
    // or folder written. Files already on disk are written again when claimed, and none is
    // forced to disk; no events are processed. False on the first entry that fails. budget, when
    // given, bounds several passes over one archive together. diskFailure, when given, gets why
    // the first entry that could not be written failed, told while its partial file still holds
    // its room (a full disk frees some again when that file goes).
    static bool extractEach(const QString& archive, const QString& destDir,
        const std::function<bool(const QString& storedName)>& claim,
        const std::function<void(const QString& storedName, const QString& path)>& written,
        UnpackBudget* budget = nullptr, checkedsave::Failure* diskFailure = nullptr);

    // The lower-cased suffix of the archive's only entry ("fb2" for "Book.FB2"); empty when
    // the archive does not open or does not hold exactly one entry. Logs nothing.
    static QString singleEntrySuffix(const QString& zipPath);
};

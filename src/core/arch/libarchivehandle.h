#pragma once

#include "arch/utf8locale.h"

#include <QString>

struct archive;
struct archive_entry;

// One libarchive read handle on one archive file, for the duration of one call. The calling
// thread's character type is UTF-8 for the object's whole life, because libarchive converts
// names while it reads headers, not only when they are asked for.
class LibArchiveHandle {
public:
    enum Format { Rar, SevenZip };

    explicit LibArchiveHandle(Format format);
    ~LibArchiveHandle();
    LibArchiveHandle(const LibArchiveHandle&) = delete;
    LibArchiveHandle& operator=(const LibArchiveHandle&) = delete;

    // Opens the archive; false when the file does not open or is not of the format.
    bool open(const QString& path);
    // Moves to the next entry: ARCHIVE_OK (also for a warning), ARCHIVE_EOF at the end, or a
    // libarchive failure code.
    int next();
    // Skips the current entry's data; ARCHIVE_OK or a failure code.
    int skip();
    // Reads data of the current entry: the count read, 0 at its end, negative on failure.
    qint64 read(char* buffer, qint64 size);

    // The current entry's name: UTF-8 when the archive says so or the bytes are valid UTF-8,
    // otherwise decoded as IBM866 like legacy ZIP names.
    QString entryName() const;
    bool isFolder() const;
    bool isRegularFile() const;
    bool isEncrypted() const;

    int errorNumber() const;
    QString errorString() const;

private:
    Utf8LocaleScope m_locale; // first member: in force before the handle exists
    archive* m_archive = nullptr;
    archive_entry* m_entry = nullptr;
};

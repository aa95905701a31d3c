#pragma once

#include <QFile>
#include <QSaveFile>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

// Byte limits of one unpack call (or of several that share it, from any thread). Sizes declared
// in archive headers are never trusted: the bytes actually written are counted instead.
class UnpackBudget {
public:
    static constexpr qint64 DefaultMaxEntryBytes = qint64(1) << 30;
    static constexpr qint64 DefaultMaxTotalBytes = qint64(4) << 30;

    explicit UnpackBudget(qint64 maxEntryBytes = DefaultMaxEntryBytes, qint64 maxTotalBytes = DefaultMaxTotalBytes)
        : m_maxEntryBytes(maxEntryBytes)
        , m_maxTotalBytes(maxTotalBytes)
    {
    }

    qint64 maxEntryBytes() const { return m_maxEntryBytes; }
    qint64 written() const { return m_written.load(); }
    // Accounts for size more bytes; false once the whole call would pass its limit.
    bool take(qint64 size);

private:
    qint64 m_maxEntryBytes;
    qint64 m_maxTotalBytes;
    std::atomic<qint64> m_written { 0 };
};

// One file unpacked from an archive. The data go to a temporary file beside the target whose
// name is unique to this object (QSaveFile), and the file takes its real name only in
// commit(), after the caller has verified the entry (checksums, end of data). Two unpacks
// of the same entry at once therefore never see each other's half-written file, and a
// failed entry leaves nothing behind: the temporary file is removed on every other path.
//
// The target must come from safeEntryPath; open() additionally refuses a target that is a
// symbolic link or whose folder resolves outside destDir through an existing link.
class EntryFile {
public:
    enum CopyResult { Copied, ReadFailed, WriteFailed, TooLarge };
    // Reads up to size bytes into buffer: the count read, 0 at the end, negative on error.
    using ReadFunction = std::function<qint64(char* buffer, qint64 size)>;

    EntryFile(const QString& destDir, const QString& path, UnpackBudget& budget);
    ~EntryFile();

    // Files rebuilt at every opening need not reach the disk before they take their name: off,
    // commit() renames without forcing the data to disk first (one sync per file would make a
    // book of hundreds of chapters open slowly). Set before open().
    void setSyncToDisk(bool sync) { m_sync = sync; }
    // destDir as resolved through links (QFileInfo::canonicalFilePath), when the caller has it:
    // the unpack of many entries resolves its folder once, not once per entry.
    void setCanonicalDestDir(const QString& canonical) { m_canonicalDestDir = canonical; }

    // Creates the missing folders and the temporary file; false with errorString() set.
    bool open();
    // Streams the entry until read reports its end.
    CopyResult copyFrom(const ReadFunction& read);
    // Moves the complete file to its real name (replacing an older file of that name).
    bool commit();
    QString errorString() const { return m_error; }

    // Creates the folder of a folder entry, with the same containment checks as open().
    static bool makeFolder(const QString& destDir, const QString& path, QString* error = nullptr);

private:
    QFileDevice& device();

    QString m_destDir;
    QString m_canonicalDestDir;
    QString m_path;
    UnpackBudget& m_budget;
    bool m_sync = true;
    QSaveFile m_file;
    std::unique_ptr<QFile> m_unsynced; // the temporary file when not syncing
    bool m_committed = false;
    QString m_error;
};

// Replaces the file at path with data through a temporary file and a rename, without forcing
// the data to disk: for files that are rebuilt whenever they are needed. False with error set
// when it cannot be written; the old file is then left as it was.
bool writeUnsynced(const QString& path, const QByteArray& data, QString* error = nullptr);

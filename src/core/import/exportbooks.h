#pragma once

#include "archiveentry.h"
#include "checkedsave.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QuaZip;
struct BookDto;

// Writes the library archive (".olv"): a ZIP with one folder per book, named by a fresh id,
// holding the book file and its cover, and "container.json", the index of the books.
//
// The archive is written under a temporary name beside its target and takes its real name
// only in commit(), once every member and the central directory are written without error;
// close() (also by the destructor) throws the partial file away. So a cancelled or failed
// export never leaves a file that looks like a complete archive. The index lists only the
// books whose file went into the archive whole.
//
// Used by the export task on one pool thread.
class exportbooks : public QObject {
    Q_OBJECT

public:
    explicit exportbooks(QObject* parent = nullptr);
    ~exportbooks() override;

    // Starts a new archive for the path (an existing file is replaced at commit). True when it
    // is already open.
    bool open(const QString& archive);
    // Adds the book to the list to write; false, adding nothing, when its file is missing.
    bool addBook(const BookDto& book);
    // Moves to the next listed book; false after the last.
    bool hasNext();
    // Stores the current book's file and then its cover; the result is that of the book file
    // (a missing or failed cover only leaves the entry without a cover).
    bool writeNext();
    // Writes "container.json" with every book written so far. Once only: later calls are true
    // at once.
    bool writeContainer();
    // Closes the archive and gives it its real name; false (and no file at the target) when
    // the ZIP reported an error or the rename failed.
    bool commit();
    // Closes and removes the unfinished archive.
    void close();

    int count() const { return m_entries.size(); }
    // The entry in hand: -1 before the first hasNext().
    int index() const { return m_index; }
    // The books written whole so far.
    int writtenCount() const { return m_written.size(); }
    // Why the archive could not be written, once open(), writeNext(), writeContainer() or commit()
    // failed on it: the disk is full, the folder cannot be written, or None where the cause is not
    // one of storage.
    checkedsave::Failure failure() const { return m_failure; }

    // Stores one file as a member named name (with the file's times); false on any read, write
    // or ZIP error.
    bool storeFile(const QString& source, const QString& name);

private:
    QString m_archive;
    QString m_partPath;
    std::unique_ptr<QuaZip> m_zip;
    QList<ArchiveEntry> m_entries;
    QList<ArchiveEntry> m_written;
    int m_index = -1;
    bool m_containerWritten = false;
    checkedsave::Failure m_failure = checkedsave::Failure::None;

    // Notes why the archive's file did not take a write.
    void noteFailure();
};

#pragma once

#include "archiveentry.h"

#include <QObject>
#include <QString>
#include <QVector>

#include <memory>

class QuaZip;

// Reads a library archive (".olv"): its index "container.json" and, book by book, the members
// that hold the book files, which are unpacked into the import folder.
//
// The archive is untrusted. The index is read only up to kMaxContainerBytes; an entry whose
// member name or file name would leave its folder (absolute, "..", drive names) is dropped
// with a warning; a book is unpacked only up to kMaxBookBytes, under a temporary name that it
// loses only when the member was read whole and its checksum matched, and a cover is read only
// up to kMaxCoverBytes. Nothing is allocated from a size the archive declares.
//
// Used by the book adding task on its pool thread.
class importbooks : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 kMaxContainerBytes = 16LL * 1024 * 1024;
    static constexpr qint64 kMaxBookBytes = 4LL * 1024 * 1024 * 1024;
    static constexpr qint64 kMaxCoverBytes = 32LL * 1024 * 1024;

    explicit importbooks(QObject* parent = nullptr);
    ~importbooks() override;

    // Opens the archive and reads its index. False when the archive cannot be opened, has no
    // "container.json" (name compared ignoring case) or its index cannot be read; true when
    // already open. An index that is no object with a "books" array gives no entries.
    bool open(const QString& path);
    int count() const { return m_entries.size(); }
    // Moves to the next book: the first one after open(). False when there is none left. A
    // book whose member is missing is still current (with a critical log line); extractBook()
    // then gives an empty path.
    bool next();
    // The current book's entry (a default entry when there is none).
    ArchiveEntry current() const;
    // Unpacks the current book into importDir under its file name, or "1_name", "2_name" ...
    // when that name is taken. The new file's path; empty when nothing was written.
    QString extractBook(const QString& importDir);
    // The bytes of the current book's cover member, up to kMaxCoverBytes; empty when it has none
    // or the member cannot be read whole.
    QByteArray readCover();
    void close();

private:
    bool readContainer();

    std::unique_ptr<QuaZip> m_zip;
    QVector<ArchiveEntry> m_entries;
    int m_index = -1;
    bool m_first = false;
    bool m_hasCurrent = false;
    bool m_memberFound = false;
};

#pragma once

#include "mobiheaders.h"

#include <QFile>
#include <QImage>
#include <QVector>

namespace mobi {

// Reader of a MOBI book in its PalmDB container. The constructor reads the PalmDB header,
// the record list and record 0 (PalmDOC header, MOBI header, EXTH block, full name); records,
// text and images are read on request. Every header field is untrusted: offsets are computed
// in 64 bits and nothing is allocated from a header length beyond what the file holds.
// One thread at a time: all reads share the file position.
class Mobi {
public:
    // The decoded book text is never larger than this.
    static constexpr qint64 MaxTextSize = 256 * 1024 * 1024;
    // Images with more pixels than this are not decoded.
    static constexpr qint64 MaxImagePixels = 100 * 1000 * 1000;

    explicit Mobi(const QString& path);
    ~Mobi();
    Mobi(const Mobi&) = delete;
    Mobi& operator=(const Mobi&) = delete;

    bool isOpen() const { return m_file.isOpen(); }
    qint64 fileSize() const { return m_fileSize; }

    const PalmDbHeader& palmDbHeader() const { return m_palmDb; }
    const PalmDocHeader& palmDocHeader() const { return m_palmDoc; }
    const MobiHead& mobiHead() const { return m_mobiHead; }
    const QVector<PalmDbRecordEntry>& recordList() const { return m_records; }

    // Records whose list entry was read (the declared count is cut to what the file holds).
    int recordCount() const { return m_records.size(); }
    // The bytes of one record; null for an index outside 0..N-1 or an unreadable record.
    QByteArray record(int index);
    qint64 recordLength(int index) const;
    qint64 recordOffset(int index) const;
    qint64 firstRecordSize() const;

    // The MOBI header carries the identifier "MOBI".
    bool isMobi() const { return m_mobiHead.identifier() == "MOBI"; }
    bool isEncrypted() const { return m_palmDoc.encryptionType() != 0; }
    QString fullName() const { return m_mobiHead.fullName(); }
    QString author() const { return m_mobiHead.exth().value(100); }

    int firstImageRecord();
    int imageCount();
    QImage image(int n);
    // The record of the cover: the image EXTH 201 names when it is one, else the first image
    // (the record count when there is no image).
    int coverRecord();
    QImage coverImage();

    // The text records decompressed and joined, trailing entries removed. ok is false when
    // the text cannot be decompressed at all (a broken Huffman dictionary).
    QByteArray textBytes(bool* ok = nullptr);
    // The book text decoded with the book's codec; empty (with a critical log line) when the
    // book has an encoding other than 1252 and 65001.
    QString text();
    // The text records: 1 up to the first non-book index, or to the end when that is not
    // positive; never beyond the record count.
    int textRecordEnd() const;

private:
    void readHeaders();
    void readMobiHead(qint64 record0End);
    void readExth(qint64 record0End);
    void readRemainder();

    QFile m_file;
    qint64 m_fileSize = 0;
    PalmDbHeader m_palmDb;
    QVector<PalmDbRecordEntry> m_records;
    QVector<qint64> m_recordLengths;
    QByteArray m_gap;
    PalmDocHeader m_palmDoc;
    MobiHead m_mobiHead;
    int m_firstImageRecord = -1; // -1 until computed
};

}

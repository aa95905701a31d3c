#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class QIODevice;
class QTextCodec;

namespace mobi {

// Header bytes kept exactly as read from the file. Numbers are big-endian and decoded on use;
// a field the file was too short to fill decodes as 0.
class RawFields {
public:
    const QByteArray& raw() const { return m_raw; }
    quint32 u32(int offset) const;
    quint16 u16(int offset) const;
    qint32 s32(int offset) const { return static_cast<qint32>(u32(offset)); }
    QByteArray bytes(int offset, int width) const;

    // Reads up to count bytes from the device (never more than it holds).
    void readFrom(QIODevice& device, qint64 count);
    void append(const QByteArray& bytes) { m_raw.append(bytes); }

private:
    QByteArray m_raw;
};

// The 78-byte PalmDB header in front of the record list.
class PalmDbHeader : public RawFields {
public:
    enum { Size = 78 };
    QByteArray name() const { return bytes(0, 32); }
    QByteArray type() const { return bytes(60, 4); }
    QByteArray creator() const { return bytes(64, 4); }
    int recordCount() const { return u16(76); }
};

struct PalmDbRecordEntry {
    qint64 offset = 0;
    quint8 attributes = 0;
    quint32 uniqueId = 0; // 24 bits
};

// The 16 bytes at the start of record 0.
class PalmDocHeader : public RawFields {
public:
    enum { Size = 16 };
    int compression() const { return u16(0); }
    quint32 textLength() const { return u32(4); }
    int textRecordCount() const { return u16(8); }
    int recordSize() const { return u16(10); }
    int encryptionType() const { return u16(12); }
};

struct ExthRecord {
    quint32 type = 0;
    QByteArray data;
};

class ExthHeader {
public:
    QByteArray identifier;
    quint32 headerLength = 0;
    qint32 declaredCount = 0;
    QList<ExthRecord> records;

    // Data of the first record of that type, as UTF-8; empty when there is none.
    QString value(int type) const;
    // Raw data of the first record of that type; null when there is none.
    QByteArray data(int type) const;
};

// The MOBI header that follows the PalmDOC header in record 0, with the EXTH block and the
// rest of record 0 (which holds the full name).
class MobiHead : public RawFields {
public:
    enum { FixedSize = 116, ExthFlag = 0x40 };

    QByteArray identifier() const { return bytes(0, 4); }
    quint32 headerLength() const { return u32(4); }
    quint32 type() const { return u32(8); }
    quint32 textEncoding() const { return u32(12); }
    quint32 fileVersion() const { return u32(20); }
    qint32 firstNonBookIndex() const { return s32(64); }
    quint32 fullNameOffset() const { return u32(68); }
    qint32 fullNameLength() const { return s32(72); }
    quint32 firstImageIndex() const { return u32(92); }
    quint32 huffmanRecordIndex() const { return u32(96); }
    quint32 huffmanRecordCount() const { return u32(100); }
    quint32 exthFlags() const { return u32(112); }
    // Flags of the data that follows the text in every text record; 0 for headers too short to
    // carry them.
    quint16 extraDataFlags() const;

    QString encodingName() const;
    // The codec of the book's text; null (with a critical log line) for any other encoding
    // than 1252 and 65001.
    QTextCodec* textCodec() const;
    QString fullName() const;
    int exthSize() const;
    bool hasExth() const { return m_exth != nullptr; }
    // The EXTH block; an empty one when the book has none.
    const ExthHeader& exth() const;

    const QByteArray& remainder() const { return m_remainder; }
    const QByteArray& fullNameBytes() const { return m_fullName; }

private:
    friend class Mobi;
    std::unique_ptr<ExthHeader> m_exth;
    QByteArray m_remainder;
    QByteArray m_fullName;
};

QString mobiTypeName(const MobiHead& head);

}

#pragma once

#include "huffcdicwriter.h"

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QPair>
#include <QSize>
#include <QString>

// MOBI books in a PalmDB container. Records: 0 (PalmDOC and MOBI headers, EXTH, full name), the
// text records (stored, PalmDoc or HUFF/CDIC, with the trailing entries the extra-data flags
// announce), HUFF and CDIC records, images, and optionally FLIS, FCIS and end-of-file.
class MobiWriter {
public:
    enum class Compression { None = 1, PalmDoc = 2, HuffCdic = 17480 };
    enum { HeaderLength = 232, DefaultRecordSize = 4096 };

    // Already encoded (UTF-8 or CP1252).
    void setText(const QByteArray& text) { m_text = text; }
    void setCompression(Compression compression) { m_compression = compression; }
    void setHuffCdicOptions(const HuffCdicWriter::Options& options) { m_huffOptions = options; }
    void setEncoding(quint32 codePage) { m_encoding = codePage; }
    void setFullName(const QByteArray& name) { m_fullName = name; }
    void setAuthor(const QString& author) { addExth(100, author.toUtf8()); }
    // EXTH 201: the cover's number among the images.
    void setCoverOffset(quint32 image);
    void addExth(quint32 type, const QByteArray& data) { m_exth.append({ type, data }); }
    void addImage(const QByteArray& data) { m_images.append(data); }
    // Bit 0: the tail of a character split between records; bits 1..15: one entry each.
    void setExtraDataFlags(quint16 flags) { m_extraFlags = flags; }
    void setEncryption(quint16 type) { m_encryption = type; }
    void setIdentifier(const QByteArray& identifier) { m_identifier = identifier; }
    void setTrailerRecords(bool on) { m_trailer = on; }

    QByteArray build() const;
    // A hostile record list: the book with a 2 MB image record and 2,000 small ones after its own
    // images, whose entries then point, in turn, at the 2 MB record and at the last record, so the
    // records overlap and repeat.
    QByteArray buildWithRepeatedRecords() const;
    bool write(const QString& path) const;

    int textRecordCount() const { return (m_text.size() + DefaultRecordSize - 1) / DefaultRecordSize; }

    static QByteArray palmDocCompress(const QByteArray& text);
    // A trailing entry's size: 7 bits a byte, most significant first, the first byte flagged 0x80.
    static QByteArray backwardSize(quint32 size);
    static QByteArray image(const QSize& size, const QColor& color, const char* format = "PNG");
    // Where record 0 starts, and a big-endian patch for hostile variants.
    static qint64 record0Start(const QByteArray& book);
    static void putBigEndian(QByteArray& book, qint64 pos, quint32 value, int width = 4);

private:
    QByteArray trailingEntries(const QList<QByteArray>& chunks, int index) const;
    QByteArray record0(int textRecords, int firstNonBook, int huffIndex, int huffCount, int firstImage) const;

    QByteArray m_text;
    Compression m_compression = Compression::PalmDoc;
    HuffCdicWriter::Options m_huffOptions;
    quint32 m_encoding = 65001;
    QByteArray m_fullName = "Untitled";
    QList<QPair<quint32, QByteArray>> m_exth;
    QList<QByteArray> m_images;
    quint16 m_extraFlags = 0;
    quint16 m_encryption = 0;
    QByteArray m_identifier = "MOBI";
    bool m_trailer = false;
};

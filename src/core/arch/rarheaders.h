#pragma once

#include <QList>
#include <QString>

// What libarchive does not tell of a RAR archive, read from its headers: the archive's
// properties, and for RAR 4 the flags and checksum of each file entry. libarchive 3.6 hands
// out the first part of an entry continued in another volume as if it were whole, and does
// not check the checksum of stored entries; the reader checks both with this.
struct RarFileHeader {
    QString name; // as libarchive reports it ("/" separators); empty when not decoded here
    quint16 flags = 0;
    quint8 method = 0;
    quint32 crc = 0;

    bool isSplit() const { return flags & 0x0003; } // continued from or in another volume
    bool isStored() const { return method == 0x30; }
};

struct RarHeaders {
    unsigned archiveFlags = 0; // RarReader::ArchiveFlag bits
    QList<RarFileHeader> files; // RAR 4 file headers in archive order (empty for RAR 5)
};

// Reads the headers of a RAR 4 or RAR 5 archive (also behind a self-extractor); what
// cannot be read is left out. Never reads more than the file holds.
RarHeaders readRarHeaders(const QString& path);

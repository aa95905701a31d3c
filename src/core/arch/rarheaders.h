#pragma once

#include <QList>
#include <QString>

// What libarchive does not tell of a RAR archive, read from its headers: the archive's
// properties and, per file entry, whether it is split across volumes or enciphered and the
// checksum of its data. libarchive 3.6 hands out the first part of an entry continued in
// another volume as if it were whole, gives a stored RAR 5 entry flagged as enciphered as
// plain data, and checks no checksum of stored entries; the reader checks these itself.
struct RarFileHeader {
    QString name; // as libarchive reports it; empty when not decoded here
    bool split = false; // continued from or in another volume
    bool encrypted = false;
    bool stored = false; // data not compressed
    bool hasCrc = false;
    quint32 crc = 0; // CRC32 of the unpacked data
};

struct RarHeaders {
    unsigned archiveFlags = 0; // RarReader::ArchiveFlag bits
    QList<RarFileHeader> files; // file headers in archive order
};

// Reads the headers of a RAR 4 or RAR 5 archive (also behind a self-extractor); what
// cannot be read is left out. Never reads more than the file holds.
RarHeaders readRarHeaders(const QString& path);

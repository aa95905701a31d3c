#pragma once

#include "arch/archivereader.h"

#include <QByteArray>

class LibArchiveHandle;
struct RarFileHeader;

// ArchiveReader for RAR archives (CBR comics), RAR4 and RAR5, over libarchive. It lists the
// file entries and unpacks one entry by its exact name; extractAll and extract by pattern
// keep the null reader's behaviour. Nothing is ever asked of the user: encrypted entries and
// entries continued in another volume fail with a log line.
//
// Diagnostics use the error codes and texts of the UnRAR library's interface, so that logs
// of comic books read the same whichever library unpacked them.
class RarReader : public ArchiveReader {
public:
    // UnRAR's error codes, onto which libarchive's failures are mapped.
    enum ErrorCode {
        EndArchive = 10,
        NoMemory = 11,
        BadData = 12,
        BadArchive = 13,
        UnknownFormat = 14,
        OpenFailed = 15,
        CreateFailed = 16,
        CloseFailed = 17,
        ReadFailed = 18,
        WriteFailed = 19,
        SmallBuffer = 20,
        UnknownError = 21,
        MissingPassword = 22,
        BadReference = 23,
        BadPassword = 24
    };
    // Where a failure happened.
    enum ErrorKind { OpenError = 0, ReadError = 1, ProcessError = 2 };
    // Archive properties in UnRAR's layout, read from the archive's main header.
    enum ArchiveFlag : unsigned {
        Volume = 0x0001,
        Commented = 0x0002,
        Locked = 0x0004,
        Solid = 0x0008,
        NewNaming = 0x0010,
        Signed = 0x0020,
        Recovery = 0x0040,
        EncryptedHeaders = 0x0080,
        FirstVolume = 0x0100
    };

    // The names of the archive's entries that are regular files (no folders, no links), in
    // archive order, as libarchive reports them; the names read so far when a damaged header
    // stops the walk; empty when the archive does not open.
    QStringList files(const QString& archive) override;
    // Unpacks the first entry whose name equals entryName exactly (letter case significant)
    // to destDir + "/" + entryName and sets outPath to it. True also when no entry matches
    // (outPath untouched); false when the archive does not open or the entry cannot be
    // unpacked (no file is left behind then).
    bool extract(const QString& archive, const QString& entryName, const QString& destDir, QString& outPath) override;
    using ArchiveReader::extract;

    // Logs the text of an error code (nothing for 0, the end of the archive or unknown codes).
    static void OutError(int code, const QByteArray& archiveName, int kind);
    // Logs the archive's properties, one line each.
    static void ShowArcInfo(unsigned flags, const QByteArray& archiveName);
    // The ArchiveFlag bits of a RAR4 or RAR5 archive; 0 when the header cannot be read.
    static unsigned archiveFlags(const QString& archive);

private:
    static int errorCode(const LibArchiveHandle& handle, ErrorKind kind, unsigned flags);
    static bool unpackCurrent(LibArchiveHandle& handle, const RarFileHeader& header, const QByteArray& name,
        unsigned flags, const QString& destDir, const QString& entryName, QString& outPath);
};

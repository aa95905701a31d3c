#include "arch/rarreader.h"

#include "arch/entryfile.h"
#include "arch/libarchivehandle.h"
#include "arch/rarheaders.h"
#include "arch/safepath.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include <archive.h>
#include <quazip/quacrc32.h>

namespace {
// libarchive's private error numbers on Linux (archive_private.h): a format error is
// reported as EINVAL, a miscellaneous one as -1; real errno values come from the system.
constexpr int LibArchiveFormatError = EINVAL;
constexpr int LibArchiveMiscError = -1;

QByteArray logName(const QString& archive) { return QFile::encodeName(archive); }

void logOk() { qDebug(" OK"); }
}

unsigned RarReader::archiveFlags(const QString& archive) { return readRarHeaders(archive).archiveFlags; }

int RarReader::errorCode(const LibArchiveHandle& handle, ErrorKind kind, unsigned flags)
{
    const int number = handle.errorNumber();
    if (number == ENOMEM)
        return NoMemory;
    if ((flags & EncryptedHeaders) || (kind == ProcessError && handle.isEncrypted()))
        return MissingPassword;
    const bool formatError = number == LibArchiveFormatError || number == LibArchiveMiscError;
    switch (kind) {
    case OpenError:
        return formatError ? BadArchive : OpenFailed;
    case ReadError:
        return formatError || number == 0 ? BadData : ReadFailed;
    case ProcessError:
        // libarchive reads one file at a time: data missing from a volume is the next volume.
        return (flags & Volume) ? OpenFailed : BadData;
    }
    return UnknownError;
}

void RarReader::OutError(int code, const QByteArray& archiveName, int kind)
{
    const char* name = archiveName.constData();
    switch (code) {
    case NoMemory:
        qDebug("\nNot enough memory");
        break;
    case BadData:
        qDebug("\n%s: archive header or data are damaged", name);
        break;
    case BadArchive:
        qDebug("\n%s is not RAR archive", name);
        break;
    case UnknownFormat:
        qDebug("Unknown archive format");
        break;
    case OpenFailed:
        if (kind == ProcessError)
            qDebug("Volume open error");
        else
            qDebug("\nCannot open %s", name);
        break;
    case CreateFailed:
        qDebug("File create error");
        break;
    case CloseFailed:
        qDebug("File close error");
        break;
    case ReadFailed:
        qDebug("Read error");
        break;
    case WriteFailed:
        qDebug("Write error");
        break;
    case SmallBuffer:
        qDebug("Buffer for archive comment is too small, comment truncated");
        break;
    case UnknownError:
        qDebug("Unknown error");
        break;
    case MissingPassword:
        qDebug("Password for encrypted file or header is not specified");
        break;
    case BadReference:
        qDebug("Cannot open file source for reference record");
        break;
    case BadPassword:
        qDebug("Wrong password is specified");
        break;
    default:
        break;
    }
}

void RarReader::ShowArcInfo(unsigned flags, const QByteArray& archiveName)
{
    const auto yesNo = [flags](unsigned bit) { return (flags & bit) ? "yes" : "no"; };
    qDebug("\nArchive %s\n", archiveName.constData());
    qDebug("\nVolume:\t\t%s", yesNo(Volume));
    qDebug("\nComment:\t%s", yesNo(Commented));
    qDebug("\nLocked:\t\t%s", yesNo(Locked));
    qDebug("\nSolid:\t\t%s", yesNo(Solid));
    qDebug("\nNew naming:\t%s", yesNo(NewNaming));
    qDebug("\nRecovery:\t%s", yesNo(Recovery));
    qDebug("\nEncr.headers:\t%s", yesNo(EncryptedHeaders));
    qDebug("\nFirst volume:\t%s", (flags & FirstVolume) ? "yes" : "no or older than 3.0");
    qDebug("\n---------------------------\n");
}

QStringList RarReader::files(const QString& archive)
{
    const QByteArray name = logName(archive);
    QStringList names;
    LibArchiveHandle handle(LibArchiveHandle::Rar);
    const unsigned flags = archiveFlags(archive);
    if (!handle.open(archive)) {
        qDebug() << "libarchive:" << handle.errorString();
        OutError(errorCode(handle, OpenError, flags), name, OpenError);
        return names;
    }
    ShowArcInfo(flags, name);
    for (;;) {
        const int result = handle.next();
        if (result == ARCHIVE_EOF)
            break;
        if (result != ARCHIVE_OK) {
            qDebug() << "libarchive:" << handle.errorString();
            OutError(errorCode(handle, ReadError, flags), name, ReadError);
            break;
        }
        if (handle.isRegularFile())
            names.append(handle.entryName());
        if (handle.skip() != ARCHIVE_OK) {
            qDebug() << "libarchive:" << handle.errorString();
            OutError(errorCode(handle, ProcessError, flags), name, ProcessError);
            break;
        }
    }
    return names;
}

bool RarReader::extract(const QString& archive, const QString& entryName, const QString& destDir, QString& outPath)
{
    const QByteArray name = logName(archive);
    LibArchiveHandle handle(LibArchiveHandle::Rar);
    const RarHeaders headers = readRarHeaders(archive);
    const unsigned flags = headers.archiveFlags;
    if (!handle.open(archive)) {
        qDebug() << "libarchive:" << handle.errorString();
        OutError(errorCode(handle, OpenError, flags), name, OpenError);
        return false;
    }
    ShowArcInfo(flags, name);
    for (int index = 0;; ++index) {
        const int result = handle.next();
        if (result == ARCHIVE_EOF)
            return true;
        if (result != ARCHIVE_OK) {
            qDebug() << "libarchive:" << handle.errorString();
            OutError(errorCode(handle, ReadError, flags), name, ReadError);
            return true;
        }
        if (!entryName.isEmpty() && handle.entryName() == entryName) {
            if ((handle.isRegularFile() || handle.isFolder()) && !safeEntryPath(destDir, entryName).isEmpty()) {
                // Our own reading of the same header, when it is the same entry.
                const RarFileHeader header = headers.files.value(index);
                return unpackCurrent(handle, header.name == entryName ? header : RarFileHeader(), name, flags, destDir,
                    entryName, outPath);
            }
            qWarning() << "Skipping an entry that is no plain file or would be written outside" << destDir << ":"
                       << entryName;
        }
        if (handle.skip() != ARCHIVE_OK) {
            qDebug() << "libarchive:" << handle.errorString();
            OutError(errorCode(handle, ProcessError, flags), name, ProcessError);
            return true;
        }
        logOk();
    }
}

bool RarReader::unpackCurrent(LibArchiveHandle& handle, const RarFileHeader& header, const QByteArray& name,
    unsigned flags, const QString& destDir, const QString& entryName, QString& outPath)
{
    const QString path = safeEntryPath(destDir, entryName);
    const QString nativePath = QDir::toNativeSeparators(path);
    int code = 0;
    QString error;
    if (handle.isFolder()) {
        if (!EntryFile::makeFolder(destDir, path, &error))
            code = CreateFailed;
    } else if (handle.isEncrypted() || header.encrypted) {
        code = MissingPassword;
    } else if (header.split) {
        code = OpenFailed;
        error = QStringLiteral("the entry continues in another volume");
    } else {
        UnpackBudget budget;
        EntryFile out(destDir, path, budget);
        QuaCrc32 crc;
        const auto read = [&](char* buffer, qint64 size) {
            const qint64 count = handle.read(buffer, size);
            if (count > 0)
                crc.update(QByteArray::fromRawData(buffer, int(count)));
            return count;
        };
        if (!out.open()) {
            code = CreateFailed;
        } else {
            switch (out.copyFrom(read)) {
            case EntryFile::Copied:
                if (header.stored && header.hasCrc && crc.value() != header.crc)
                    code = BadData;
                else if (!out.commit())
                    code = WriteFailed;
                break;
            case EntryFile::ReadFailed:
                code = errorCode(handle, ProcessError, flags);
                break;
            case EntryFile::WriteFailed:
            case EntryFile::TooLarge:
                code = WriteFailed;
                break;
            }
        }
        error = code == CreateFailed || code == WriteFailed ? out.errorString()
            : code == BadData && header.stored              ? QStringLiteral("checksum mismatch")
                                                            : handle.errorString();
    }
    if (code != 0) {
        qCritical().noquote() << QStringLiteral("RAR. Extract file error:%1. File name:%2").arg(code).arg(nativePath);
        qDebug() << "Reason:" << error;
        OutError(code, name, ProcessError);
        return false;
    }
    logOk();
    outPath = nativePath;
    return true;
}

#include "arch/sevenzreader.h"

#include "arch/entryfile.h"
#include "arch/libarchivehandle.h"
#include "arch/safepath.h"

#include <QDebug>
#include <QFileInfo>
#include <QStringList>

#include <archive.h>

sevenzreader* sevenzreader::instance()
{
    static sevenzreader reader;
    return &reader;
}

bool sevenzreader::findBookEntry(LibArchiveHandle& handle, const QString& archivePath, QString* suffix)
{
    static const QStringList bookSuffixes
        = { QStringLiteral("epub"), QStringLiteral("mobi"), QStringLiteral("fb2"), QStringLiteral("txt") };
    if (!handle.open(archivePath)) {
        qWarning() << "Cannot open 7z archive" << archivePath << ":" << handle.errorString();
        return false;
    }
    for (;;) {
        const int result = handle.next();
        if (result == ARCHIVE_EOF) {
            qWarning() << "No book in 7z archive" << archivePath;
            return false;
        }
        if (result != ARCHIVE_OK) {
            qWarning() << "Cannot read 7z archive" << archivePath << ":" << handle.errorString();
            return false;
        }
        if (!handle.isRegularFile())
            continue;
        const QString name = handle.entryName();
        const QString entrySuffix = QFileInfo(name).suffix().toLower();
        if (!bookSuffixes.contains(entrySuffix))
            continue;
        if (safeEntryName(name).isEmpty()) {
            qWarning() << "Skipping a 7z entry with an unsafe name" << name << "in" << archivePath;
            continue;
        }
        *suffix = entrySuffix;
        return true;
    }
}

QString sevenzreader::getInternalFileFormat(const QString& archivePath) const
{
    LibArchiveHandle handle(LibArchiveHandle::SevenZip);
    QString suffix;
    return findBookEntry(handle, archivePath, &suffix) ? suffix : QString();
}

QString sevenzreader::extractSingleFile(const QString& archivePath, const QString& destDir) const
{
    LibArchiveHandle handle(LibArchiveHandle::SevenZip);
    QString suffix;
    if (!findBookEntry(handle, archivePath, &suffix))
        return QString();
    const QString name = safeEntryName(handle.entryName());
    const QString path = safeEntryPath(destDir, name);
    if (path.isEmpty()) {
        qWarning() << "No destination folder for 7z archive" << archivePath;
        return QString();
    }
    if (handle.isEncrypted()) {
        qWarning() << "Encrypted 7z entry" << name << "in" << archivePath;
        return QString();
    }
    UnpackBudget budget;
    EntryFile out(destDir, path, budget);
    if (!out.open()) {
        qWarning() << "Cannot unpack 7z archive" << archivePath << ":" << out.errorString();
        return QString();
    }
    const EntryFile::CopyResult copied
        = out.copyFrom([&handle](char* buffer, qint64 size) { return handle.read(buffer, size); });
    if (copied == EntryFile::ReadFailed) {
        qWarning() << "Cannot unpack" << name << "from 7z archive" << archivePath << ":" << handle.errorString();
        return QString();
    }
    if (copied != EntryFile::Copied || !out.commit()) {
        qWarning() << "Cannot unpack 7z archive" << archivePath << ":" << out.errorString();
        return QString();
    }
    return name;
}

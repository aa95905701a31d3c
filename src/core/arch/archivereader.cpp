#include "arch/archivereader.h"

#include "arch/rarreader.h"
#include "arch/zipreader.h"

ArchiveReader::~ArchiveReader() = default;

bool ArchiveReader::extractAll(const QString&, const QString&, QList<QFileInfo>*) { return false; }

bool ArchiveReader::extract(const QString&, const QRegExp&, const QString&, QString&) { return false; }

bool ArchiveReader::extract(const QString&, const QString&, const QString&, QString&) { return false; }

QStringList ArchiveReader::files(const QString&) { return QStringList(); }

ArchiveReader* createArchiveReader(const QString& fileName)
{
    const auto endsWith
        = [&fileName](const char* suffix) { return fileName.endsWith(QLatin1String(suffix), Qt::CaseInsensitive); };
    if (endsWith(".epub") || endsWith(".zip") || endsWith(".cbz"))
        return new ZipReader;
    if (endsWith(".cbr"))
        return new RarReader;
    return new ArchiveReader;
}

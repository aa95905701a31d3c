#include "arch/archivereader.h"

#include "arch/rarreader.h"
#include "arch/zipreader.h"

#include <QFile>

ArchiveReader::~ArchiveReader() = default;

bool ArchiveReader::extractAll(const QString&, const QString&, QList<QFileInfo>*) { return false; }

bool ArchiveReader::extract(const QString&, const QRegExp&, const QString&, QString&) { return false; }

bool ArchiveReader::extract(const QString&, const QString&, const QString&, QString&) { return false; }

QStringList ArchiveReader::files(const QString&) { return QStringList(); }

namespace {

enum class Signature { Unknown, Zip, Rar, SevenZip };

// Books in the wild carry the wrong suffix (a ZIP comic named .cbr), so the first bytes
// decide; the suffix only speaks for files whose start says nothing (or that do not open).
Signature signatureOf(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return Signature::Unknown;
    const QByteArray head = file.read(8);
    if (head.startsWith(QByteArrayLiteral("PK\x03\x04")))
        return Signature::Zip;
    if (head.startsWith(QByteArrayLiteral("Rar!\x1A\x07")))
        return Signature::Rar;
    if (head.startsWith(QByteArrayLiteral("7z\xBC\xAF\x27\x1C")))
        return Signature::SevenZip;
    return Signature::Unknown;
}

} // namespace

ArchiveReader* createArchiveReader(const QString& fileName)
{
    switch (signatureOf(fileName)) {
    case Signature::Zip:
        return new ZipReader;
    case Signature::Rar:
        return new RarReader;
    case Signature::SevenZip:
        // No reader lists 7z pages: the null reader, as for the .7z suffix.
        return new ArchiveReader;
    case Signature::Unknown:
        break;
    }
    const auto endsWith
        = [&fileName](const char* suffix) { return fileName.endsWith(QLatin1String(suffix), Qt::CaseInsensitive); };
    if (endsWith(".epub") || endsWith(".zip") || endsWith(".cbz"))
        return new ZipReader;
    if (endsWith(".cbr"))
        return new RarReader;
    return new ArchiveReader;
}

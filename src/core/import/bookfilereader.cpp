#include "bookfilereader.h"

#include "bookcover.h"

#include "appdirs.h"
#include "arch/archivereader.h"
#include "arch/safepath.h"
#include "checkedsave.h"
#include "formats/bookformat.h"
#include "formats/comics/comicdocument.h"
#include "formats/epub/epubparser.h"
#include "formats/fb2/fbbook.h"
#include "formats/fb2/fbtextcodec.h"
#include "formats/mobi/mobi.h"
#include "models/bookdto.h"
#include "pdfdocument.h"

#include <QBuffer>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>

namespace {

// Stores a metadata text; empty texts are not stored.
void setMeta(BookDto& record, BookMetaKey key, const QString& text)
{
    const QString value = text.trimmed();
    if (!value.isEmpty())
        record.metadata.insert(key, value);
}

void setIfEmpty(QString& field, const QString& value)
{
    if (field.isEmpty())
        field = value;
}

// The file name without its last suffix: "Dr. Who.pdf" -> "Dr. Who".
QString fileTitle(const QString& path) { return QFileInfo(path).completeBaseName(); }

ItemStatus readEpub(BookDto& record, const QString& dataDir)
{
    // The fast conversion reads container, package, encryption and cover only; the reading
    // page converts the chapters when the book is opened.
    epub::EpubParser parser(nullptr);
    const epub::EpubError error = parser.parse(record.full_path, dataDir, true);
    if (error == epub::ProtectedError)
        return ItemProtected;
    if (error != epub::NoError)
        return ItemReadFailed;
    const epub::EpubPackage& package = parser.package();
    if (package.isProtected)
        return ItemProtected;

    setIfEmpty(record.author, package.author());
    setIfEmpty(record.title, package.title());
    // The unpacked cover is the book's own file, of any size: the record gets a scaled copy.
    const QString coverFile = package.coverPath();
    if (!coverFile.isEmpty() && QFileInfo(coverFile).isFile())
        record.cover = writeCover(record.full_path, bookcover::readImage(coverFile));

    const auto join = [](const QStringList& list) { return list.join(QLatin1Char(' ')); };
    setMeta(record, BookMetaIdentifier, join(package.identifiers));
    setMeta(record, BookMetaTitle, join(package.titles));
    setMeta(record, BookMetaAuthor, join(package.creators));
    setMeta(record, BookMetaContributor, join(package.contributors));
    setMeta(record, BookMetaSubject, join(package.subjects));
    setMeta(record, BookMetaPublisher, join(package.publishers));
    setMeta(record, BookMetaDescription, join(package.descriptions));
    setMeta(record, BookMetaType, join(package.types));
    setMeta(record, BookMetaFormat, join(package.formats));
    setMeta(record, BookMetaSource, join(package.sources));
    setMeta(record, BookMetaLanguage, join(package.languages));
    setMeta(record, BookMetaRights, join(package.rights));
    return ItemAdded;
}

ItemStatus readMobi(BookDto& record)
{
    mobi::Mobi book(record.full_path);
    if (!book.isMobi())
        return ItemReadFailed;
    if (book.isEncrypted())
        return ItemProtected;

    const mobi::ExthHeader& exth = book.mobiHead().exth();
    setIfEmpty(record.author, book.author());
    setIfEmpty(record.title, book.fullName());
    // The cover's bytes are decoded here with the cover's limits.
    const int coverRecord = book.coverRecord();
    if (coverRecord < book.recordCount()) {
        QByteArray bytes = book.record(coverRecord);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        record.cover = writeCover(record.full_path, bookcover::readImage(&buffer, record.full_path));
    }

    setMeta(record, BookMetaIdentifier, exth.value(104));
    setMeta(record, BookMetaTitle, book.fullName());
    setMeta(record, BookMetaAuthor, exth.value(100));
    setMeta(record, BookMetaContributor, exth.value(108));
    setMeta(record, BookMetaSubject, exth.value(105));
    setMeta(record, BookMetaPublisher, exth.value(101));
    setMeta(record, BookMetaDescription, exth.value(103));
    setMeta(record, BookMetaType, mobi::mobiTypeName(book.mobiHead()));
    setMeta(record, BookMetaRights, exth.value(109));
    return ItemAdded;
}

// FB2 and plain text, also as the book inside a ZIP or 7z archive.
ItemStatus readFb2(BookDto& record)
{
    fb2::FbBook book;
    if (!book.load(record.full_path, QString()))
        return ItemReadFailed;

    const fb2::FbTitleInfo& info = book.description.titleInfo;
    // "last first middle" with the missing parts left out.
    const QString author = book.authorName().simplified();
    const QString title = book.title().trimmed();
    setIfEmpty(record.author, author);
    setIfEmpty(record.title, title.isEmpty() ? fileTitle(record.full_path) : title);
    record.cover = writeCover(record.full_path, book.coverImage());

    setMeta(record, BookMetaIdentifier, book.description.documentInfo.id);
    setMeta(record, BookMetaTitle, info.bookTitle);
    setMeta(record, BookMetaAuthor, author);
    setMeta(record, BookMetaPublisher, book.description.publishInfo.publisher);
    setMeta(record, BookMetaDescription, info.annotation);
    setMeta(record, BookMetaType, info.genres.join(QLatin1Char(' ')));
    setMeta(record, BookMetaLanguage, info.lang);
    return ItemAdded;
}

// A file named .txt that is no text: a binary file (NUL bytes near its start, where text in one
// byte a character has none) or one without a single visible character. Text in two or four
// bytes a character is known by its byte-order mark, or as UTF-16 without one by the pattern
// of its NUL bytes, from the same first bytes the loader decides by.
bool isDamagedPlainText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    QByteArray head = file.read(256 * 1024);
    bool wide = fb2::utf16WithoutMark(head) != nullptr;
    for (const QByteArray& mark : { QByteArray("\xff\xfe", 2), QByteArray("\xfe\xff", 2) }) {
        if (head.startsWith(mark))
            wide = true;
    }
    if (!wide && head.left(4096).contains('\0'))
        return true;
    // Only blanks, line ends, NUL bytes of wide text and byte-order marks, to the end of the file.
    static const QByteArray invisible(" \t\r\n\f\v\xef\xbb\xbf\xff\xfe", 12);
    for (;;) {
        for (const char byte : qAsConst(head)) {
            if (!invisible.contains(byte) && !(wide && byte == '\0'))
                return false;
        }
        if (file.atEnd())
            return true;
        head = file.read(64 * 1024);
        if (head.isEmpty())
            return true;
    }
}

// A PDF is added even when it does not load: its name is its title then.
ItemStatus readPdf(BookDto& record)
{
    PdfDocument document;
    document.load(record.full_path);
    if (document.isPasswordRequired()) {
        setIfEmpty(record.title, fileTitle(record.full_path));
        return ItemAdded;
    }
    setIfEmpty(record.author, document.author());
    const QString title = document.title().trimmed();
    setIfEmpty(record.title, title.isEmpty() ? fileTitle(record.full_path) : title);
    if (document.pageCount() > 0) {
        // Half the reading scale is plenty for a cover; tiny pages get the full one.
        QImage page = document.requestImage(1, 0.5);
        if (!page.isNull() && page.height() < bookcover::kHeight)
            page = document.requestImage(1, 1.0);
        record.cover = writeCover(record.full_path, page);
    }
    setMeta(record, BookMetaAuthor, document.creator());
    setMeta(record, BookMetaPublisher, document.creator());
    return ItemAdded;
}

// The first page is unpacked where the comic viewer keeps its pages and decoded with the
// cover's limits.
QImage comicCover(const QString& archivePath, const QString& pageName)
{
    const QString pagesDir = bookDataDir(archivePath) + QStringLiteral("/pages");
    const std::unique_ptr<ArchiveReader> reader(createArchiveReader(archivePath));
    QString written;
    if (!reader->extract(archivePath, pageName, pagesDir, written) || written.isEmpty())
        return QImage();
    // Names are matched regardless of case: the page's own file is the one named exactly like it.
    const QString exact = safeEntryPath(pagesDir, pageName);
    return bookcover::readImage(!exact.isEmpty() && QFileInfo(exact).isFile() ? exact : written);
}

ItemStatus readComic(BookDto& record)
{
    ComicDocument document;
    document.load(record.full_path);
    setIfEmpty(record.title, document.title());
    const QStringList pages = document.pageNames();
    if (!pages.isEmpty())
        record.cover = writeCover(record.full_path, comicCover(record.full_path, pages.first()));
    return ItemAdded;
}

// A data folder that cannot be written, or a full disk, as an outcome; ItemAdded when neither.
ItemStatus storageStatus(const QString& dataDir)
{
    switch (checkedsave::classifyFolder(dataDir)) {
    case checkedsave::Failure::NotWritable:
        qWarning() << "The book's data folder cannot be written:" << dataDir;
        return ItemFolderNotWritable;
    case checkedsave::Failure::DiskFull:
        qWarning() << "No space left for the book's data in" << dataDir;
        return ItemDiskFull;
    default:
        return ItemAdded;
    }
}

// The reader of the book's format.
ItemStatus readByFormat(BookDto& record, int format, const QString& dataDir)
{
    switch (format) {
    case BookFormat::Epub:
        return readEpub(record, dataDir);
    case BookFormat::Mobi:
    case BookFormat::Prc:
        return readMobi(record);
    case BookFormat::Txt:
        if (isDamagedPlainText(record.full_path))
            return ItemReadFailed;
        return readFb2(record);
    case BookFormat::SevenZ:
        if (!fb2::sevenZipRefusal(record.full_path).isEmpty())
            return ItemUnsupportedArchivedBook;
        Q_FALLTHROUGH();
    case BookFormat::Fb2:
    case BookFormat::Zip:
        return readFb2(record);
    case BookFormat::Pdf:
        return readPdf(record);
    case BookFormat::Cbz:
    case BookFormat::Cbr:
        return readComic(record);
    default:
        return ItemUnsupportedFormat;
    }
}

} // namespace

QString readingStateFile(const QString& bookDataFolder)
{
    return bookDataFolder + QLatin1Char('/') + QFileInfo(bookDataFolder).fileName() + QStringLiteral(".settings");
}

ItemStatus readBookFile(BookDto& record, bool ignoreExisting)
{
    const QString& path = record.full_path;
    if (path.isEmpty() || !QFileInfo::exists(path))
        return ItemFileMissing;
    const int format = bookFormatFromName(QFileInfo(path).suffix());
    if (format == BookFormat::Unknown || format == BookFormat::Djvu)
        return ItemUnsupportedFormat;

    if (format == BookFormat::Zip && fb2::zipHoldsSeveralFiles(path))
        return ItemSeveralBooksInArchive;

    const QString dataDir = bookDataDir(path);
    if (!ignoreExisting && QFileInfo::exists(readingStateFile(dataDir)))
        return ItemAlreadyInLibrary;

    // A refused book leaves no data folder behind, nor what its reading wrote there.
    const bool dataDirWasEmpty
        = QDir(dataDir).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    // Nothing is read into a folder that cannot take it.
    ItemStatus status = storageStatus(dataDir);
    if (status == ItemAdded)
        status = readByFormat(record, format, dataDir);
    if (status == ItemReadFailed) {
        // The reading may have failed on writing what it unpacks: then that is the cause.
        const ItemStatus storage = storageStatus(dataDir);
        if (storage != ItemAdded)
            status = storage;
    }
    if (status != ItemAdded) {
        if (dataDirWasEmpty)
            QDir(dataDir).removeRecursively();
        return status;
    }
    record.format = format;
    record.time_added = static_cast<quint32>(QDateTime::currentSecsSinceEpoch());
    return ItemAdded;
}

#include "archiveentry.h"

#include "appdirs.h"
#include "formats/bookformat.h"
#include "readingstatefile.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace {

// The books the reading page shows by page numbers; every other keeps a chapter link.
bool isPageBook(int format)
{
    return format == BookFormat::Pdf || format == BookFormat::Djvu || format == BookFormat::Cbz
        || format == BookFormat::Cbr;
}

} // namespace

void ArchiveEntry::takeReadingPlace(const QString& bookPath)
{
    // Looked up without making the book's data folder: a book never opened has none.
    const QString file = ReadingStateFile::filePath(QDir(booksDir()).filePath(md5Hex(bookPath)));
    ReadingState state;
    if (!QFileInfo::exists(file) || !ReadingStateFile::read(file, &state))
        return;
    readingSource = state.readingSource;
    if (isPageBook(bookFormat) && state.readingPage > 0)
        position = state.readingPage;
}

bool ArchiveEntry::restoreReadingPlace(const QString& bookPath) const
{
    const bool page = isPageBook(bookFormat) && position > 0;
    if (!page && readingSource.isEmpty())
        return true;
    const QString file = ReadingStateFile::filePath(bookDataDir(bookPath));
    if (QFileInfo::exists(file))
        return true;
    ReadingState state;
    state.fontFamily = ReadingStateFile::defaultFontFamily();
    state.readingSource = readingSource;
    state.readingPage = page ? position : -1;
    return ReadingStateFile::write(file, state, bookFormat);
}

QJsonObject ArchiveEntry::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("book_id"), bookId);
    object.insert(QStringLiteral("file_name"), fileName);
    object.insert(QStringLiteral("rel_path"), relPath);
    object.insert(QStringLiteral("author"), author);
    object.insert(QStringLiteral("title"), title);
    object.insert(QStringLiteral("position"), position);
    object.insert(QStringLiteral("reading_source"), readingSource);
    object.insert(QStringLiteral("progress"), progress);
    object.insert(QStringLiteral("book_format"), bookFormat);
    object.insert(QStringLiteral("is_favorite"), isFavorite);
    object.insert(QStringLiteral("cover_path"), coverPath);
    object.insert(QStringLiteral("has_custom_cover"), hasCustomCover);
    object.insert(QStringLiteral("folders"), QJsonArray { folderTitle });
    return object;
}

ArchiveEntry ArchiveEntry::fromJson(const QJsonObject& object)
{
    ArchiveEntry entry;
    entry.bookId = object.value(QStringLiteral("book_id")).toString();
    entry.fileName = object.value(QStringLiteral("file_name")).toString();
    entry.relPath = object.value(QStringLiteral("rel_path")).toString();
    entry.author = object.value(QStringLiteral("author")).toString();
    entry.title = object.value(QStringLiteral("title")).toString();
    entry.position = object.value(QStringLiteral("position")).toInt();
    entry.readingSource = object.value(QStringLiteral("reading_source")).toString();
    entry.progress = object.value(QStringLiteral("progress")).toInt();
    entry.bookFormat = object.value(QStringLiteral("book_format")).toInt();
    entry.isFavorite = object.value(QStringLiteral("is_favorite")).toBool();
    entry.coverPath = object.value(QStringLiteral("cover_path")).toString();
    entry.hasCustomCover = object.value(QStringLiteral("has_custom_cover")).toBool();
    entry.folderTitle = object.value(QStringLiteral("folders")).toArray().at(0).toString();
    return entry;
}

#include "archiveentry.h"

#include <QJsonArray>

QJsonObject ArchiveEntry::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("book_id"), bookId);
    object.insert(QStringLiteral("file_name"), fileName);
    object.insert(QStringLiteral("rel_path"), relPath);
    object.insert(QStringLiteral("author"), author);
    object.insert(QStringLiteral("title"), title);
    object.insert(QStringLiteral("position"), position);
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
    entry.progress = object.value(QStringLiteral("progress")).toInt();
    entry.bookFormat = object.value(QStringLiteral("book_format")).toInt();
    entry.isFavorite = object.value(QStringLiteral("is_favorite")).toBool();
    entry.coverPath = object.value(QStringLiteral("cover_path")).toString();
    entry.hasCustomCover = object.value(QStringLiteral("has_custom_cover")).toBool();
    entry.folderTitle = object.value(QStringLiteral("folders")).toArray().at(0).toString();
    return entry;
}

#pragma once

#include <QList>
#include <QModelIndexList>
#include <QString>
#include <QStringList>

class QMimeData;

// Drag data of the library: the ids of dragged books, and the book files of a dropped file
// list. Drops may come from any program, so the readers trust nothing in the data.

// MIME type of dragged book ids: a QDataStream payload of a 32-bit count, then that many
// 32-bit book ids.
QString bookIdsMimeType();

// New drag data with the book ids (role Qt::UserRole + 1) of the indexes, in order, duplicates
// kept; null when no index carries an id. The caller owns the result.
QMimeData* bookIdsToMimeData(const QModelIndexList& indexes);

// The book ids of a drop; empty when the data is null or lacks the type. Reading stops at the
// first stream error, and the count is bounded by what the payload can hold.
QList<int> bookIdsFromMimeData(const QMimeData* mime);

// The book files of a dropped "text/uri-list": files whose suffix is in suffixes (any case) by
// their absolute paths, in drop order. A dropped folder sets *folderSeen (when given) and,
// with recurse, adds the matching files below it; without recurse it adds nothing. Symbolic
// links to folders are not entered while recursing.
QStringList bookFilesFromMimeData(
    const QMimeData* mime, const QStringList& suffixes, bool recurse, bool* folderSeen = nullptr);

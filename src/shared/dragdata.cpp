#include "dragdata.h"

#include <QDataStream>
#include <QDirIterator>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QtDebug>

namespace {

constexpr int kBookIdRole = Qt::UserRole + 1;
const char kUriListType[] = "text/uri-list";

bool hasAcceptedSuffix(const QFileInfo& info, const QStringList& suffixes)
{
    return suffixes.contains(info.suffix(), Qt::CaseInsensitive);
}

} // namespace

QString bookIdsMimeType() { return QStringLiteral("pageloom/book-item-id"); }

QMimeData* bookIdsToMimeData(const QModelIndexList& indexes)
{
    QList<int> ids;
    for (const QModelIndex& index : indexes) {
        const QVariant value = index.data(kBookIdRole);
        bool ok = false;
        const int id = value.toInt(&ok);
        if (value.isValid() && ok)
            ids.append(id);
    }
    if (ids.isEmpty())
        return nullptr;

    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out << qint32(ids.size());
    for (int id : qAsConst(ids))
        out << qint32(id);

    auto* mime = new QMimeData;
    mime->setData(bookIdsMimeType(), payload);
    return mime;
}

QList<int> bookIdsFromMimeData(const QMimeData* mime)
{
    QList<int> ids;
    if (!mime || !mime->hasFormat(bookIdsMimeType()))
        return ids;

    const QByteArray payload = mime->data(bookIdsMimeType());
    QDataStream in(payload);
    qint32 count = 0;
    in >> count;
    if (in.status() != QDataStream::Ok || count <= 0)
        return ids;
    // A count the payload cannot hold comes from a broken or hostile drop source.
    const qint64 room = (payload.size() - qint64(sizeof(qint32))) / qint64(sizeof(qint32));
    if (count > room) {
        qWarning() << "Book id drop claims" << count << "ids but holds at most" << room;
        count = qint32(room);
    }
    ids.reserve(count);
    for (qint32 i = 0; i < count; ++i) {
        qint32 id = 0;
        in >> id;
        if (in.status() != QDataStream::Ok)
            break;
        ids.append(id);
    }
    return ids;
}

QStringList bookFilesFromMimeData(const QMimeData* mime, const QStringList& suffixes, bool recurse, bool* folderSeen)
{
    QStringList files;
    if (folderSeen)
        *folderSeen = false;
    if (!mime || !mime->hasFormat(QLatin1String(kUriListType)))
        return files;

    const QList<QUrl> urls = mime->urls();
    for (const QUrl& url : urls) {
        const QString path = url.toLocalFile();
        if (path.isEmpty())
            continue;
        const QFileInfo info(path);
        if (info.isFile()) {
            if (hasAcceptedSuffix(info, suffixes))
                files.append(info.absoluteFilePath());
            continue;
        }
        if (!info.isDir())
            continue;
        if (folderSeen)
            *folderSeen = true;
        if (!recurse)
            continue;
        // Without FollowSymlinks the iterator does not enter linked folders, so loops end.
        QDirIterator it(info.absoluteFilePath(), QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            const QFileInfo found = it.fileInfo();
            if (found.isFile() && hasAcceptedSuffix(found, suffixes))
                files.append(found.absoluteFilePath());
        }
    }
    return files;
}

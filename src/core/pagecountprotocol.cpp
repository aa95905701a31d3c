#include "pagecountprotocol.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QIODevice>
#include <QStringList>

namespace pagecount {

namespace {

    // The fewest bytes one element takes on the stream: a count above bytes left / this size
    // cannot be true, so nothing is allocated for it.
    constexpr qint64 kStringMin = 4;
    constexpr qint64 kChapterMin = kStringMin + 4 + 4 + 4 + 4; // source, url, page count, start page, hits
    constexpr qint64 kHitMin = kStringMin + kStringMin + 4;
    constexpr qint64 kLinkPageMin = kStringMin + 4;

    bool failed(QDataStream& in)
    {
        if (in.status() == QDataStream::Ok)
            in.setStatus(QDataStream::ReadCorruptData);
        return false;
    }

    bool ok(const QDataStream& in) { return in.status() == QDataStream::Ok; }

    // A qint32 or quint32 element count, checked against what is left of the payload (a
    // negative qint32 reads as a huge quint32 and fails the same way).
    bool readCount(QDataStream& in, qint64 elementMin, int* count)
    {
        quint32 n = 0;
        in >> n;
        if (!ok(in))
            return false;
        const QIODevice* device = in.device();
        const qint64 left = device ? device->bytesAvailable() : 0;
        if (qint64(n) > left / elementMin)
            return failed(in);
        *count = int(n);
        return true;
    }

    bool readStringSet(QDataStream& in, QSet<QString>* set)
    {
        set->clear();
        int count = 0;
        if (!readCount(in, kStringMin, &count))
            return false;
        for (int i = 0; i < count; ++i) {
            QString text;
            in >> text;
            if (!ok(in)) {
                set->clear();
                return false;
            }
            set->insert(text);
        }
        return true;
    }

    bool readLinkPages(QDataStream& in, QHash<QString, int>* pages)
    {
        pages->clear();
        int count = 0;
        if (!readCount(in, kLinkPageMin, &count))
            return false;
        for (int i = 0; i < count; ++i) {
            QString source;
            qint32 page = 0;
            in >> source >> page;
            if (!ok(in)) {
                pages->clear();
                return false;
            }
            pages->insert(source, page);
        }
        return true;
    }

    // Stores the value only when it was read whole.
    template <typename T> bool readField(QDataStream& in, T* field)
    {
        T value {};
        in >> value;
        if (!ok(in))
            return false;
        *field = value;
        return true;
    }

    void writeChapters(QDataStream& out, const QList<ChapterPageInfo>& chapters)
    {
        out << qint32(chapters.size());
        for (const ChapterPageInfo& chapter : chapters) {
            out << chapter.source << chapter.fileUrl << qint32(chapter.pageCount) << qint32(chapter.startPage)
                << qint32(chapter.hits.size());
            for (const ChapterHit& hit : chapter.hits)
                out << hit.link << hit.text << qint32(hit.page);
        }
    }

    template <typename Fill> QByteArray message(MessageType type, Fill fill)
    {
        QByteArray payload;
        QDataStream out(&payload, QIODevice::WriteOnly);
        out << qint32(type);
        fill(out);
        return payload;
    }

} // namespace

QByteArray engineScriptMessage(const QString& script)
{
    return message(EngineScript, [&](QDataStream& out) { out << script; });
}

QByteArray chapterListMessage(const QList<ChapterPageInfo>& chapters, const QString& bookFolder)
{
    return message(ChapterList, [&](QDataStream& out) {
        writeChapters(out, chapters);
        out << bookFolder;
    });
}

QByteArray paginationMessage(const PaginationRequest& request)
{
    return message(Pagination, [&](QDataStream& out) {
        out << request.pageFormatScript << qint32(request.fontSize) << request.fontFamily << request.text
            << request.linkSources;
    });
}

QString requestKey(const PaginationRequest& request)
{
    // The links in one order: a set's order differs from one process to the other.
    QStringList links = request.linkSources.values();
    links.sort();
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << request.pageFormatScript << qint32(request.fontSize) << request.fontFamily << request.text << links;
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
}

QByteArray searchMessage(const QString& text)
{
    return message(Search, [&](QDataStream& out) { out << text; });
}

QByteArray printMessage(const PrintRequest& request)
{
    return message(Print, [&](QDataStream& out) {
        out << request.pageFormatScript << qint32(request.fontSize) << request.text << request.linkSources
            << request.printerName << request.reserved << request.colorMode << request.orientation << request.pageSizeId
            << request.copyCount;
    });
}

QByteArray resultMessage(const PaginationResult& result)
{
    return message(Pagination, [&](QDataStream& out) {
        writeChapters(out, result.chapters);
        QHash<QString, qint32> pages;
        for (auto it = result.linkPages.cbegin(); it != result.linkPages.cend(); ++it)
            pages.insert(it.key(), qint32(it.value()));
        out << result.text1 << qint32(result.number) << result.text2 << result.text3 << pages;
    });
}

bool readChapters(QDataStream& in, QList<ChapterPageInfo>* chapters)
{
    chapters->clear();
    int count = 0;
    if (!readCount(in, kChapterMin, &count))
        return false;
    QList<ChapterPageInfo> list;
    list.reserve(count);
    for (int i = 0; i < count; ++i) {
        ChapterPageInfo chapter;
        qint32 pageCount = 0;
        qint32 startPage = 0;
        int hits = 0;
        in >> chapter.source >> chapter.fileUrl >> pageCount >> startPage;
        if (!ok(in) || !readCount(in, kHitMin, &hits))
            return false;
        chapter.pageCount = pageCount;
        chapter.startPage = startPage;
        chapter.hits.reserve(hits);
        for (int h = 0; h < hits; ++h) {
            ChapterHit hit;
            qint32 page = 0;
            in >> hit.link >> hit.text >> page;
            if (!ok(in))
                return false;
            hit.page = page;
            chapter.hits.append(hit);
        }
        list.append(chapter);
    }
    *chapters = list;
    return true;
}

bool readChapterList(QDataStream& in, QList<ChapterPageInfo>* chapters, QString* bookFolder)
{
    bookFolder->clear();
    if (!readChapters(in, chapters))
        return false;
    // A list from a sender that tells no folder ends here.
    return in.atEnd() || readField(in, bookFolder);
}

bool readPagination(QDataStream& in, PaginationRequest* request)
{
    qint32 fontSize = 0;
    in >> request->pageFormatScript >> fontSize >> request->fontFamily >> request->text;
    if (!ok(in))
        return false;
    request->fontSize = fontSize;
    return readStringSet(in, &request->linkSources);
}

bool readPrint(QDataStream& in, PrintRequest* request)
{
    qint32 fontSize = 0;
    in >> request->pageFormatScript >> fontSize >> request->text;
    if (!ok(in) || !readStringSet(in, &request->linkSources))
        return false;
    request->fontSize = fontSize;
    in >> request->printerName >> request->reserved >> request->colorMode >> request->orientation >> request->pageSizeId
        >> request->copyCount;
    return ok(in);
}

bool readResult(QDataStream& in, PaginationResult* result)
{
    *result = PaginationResult();
    return readChapters(in, &result->chapters) && readField(in, &result->text1) && readField(in, &result->number)
        && readField(in, &result->text2) && readField(in, &result->text3) && readLinkPages(in, &result->linkPages);
}

} // namespace pagecount

#include "pagecounter.h"

#include "bookprinter.h"
#include "chapterlayout.h"
#include "helperconnection.h"
#include "jsengine/jsengine.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QUrl>
#include <QUuid>
#include <QtDebug>

namespace {

// Where a reading link points inside its chapter.
struct LinkTarget {
    enum Kind {
        FirstPage,
        LastPage,
        PageNumber,
        EngineLink, // "#anchor" or "kelpath=<encoded path>[&offset=n]", resolved by the engine
    };
    QString chapter;
    Kind kind = FirstPage;
    int page = 1;
    QString engineLink;
};

// A chapter source, then "?kelpath=" with "start", "end" or an encoded element path (and an
// offset), "?kelpage=" with a page of the chapter, or "#" with an anchor; nothing more is the
// chapter's first page.
LinkTarget linkTarget(const QString& source)
{
    LinkTarget target;
    const int hash = source.indexOf(QLatin1Char('#'));
    const int query = source.indexOf(QLatin1Char('?'));
    QString queryText;
    QString fragment;
    if (hash >= 0 && (query < 0 || hash < query)) {
        target.chapter = source.left(hash);
        fragment = source.mid(hash + 1);
    } else if (query >= 0) {
        target.chapter = source.left(query);
        queryText = hash > query ? source.mid(query + 1, hash - query - 1) : source.mid(query + 1);
        if (hash > query)
            fragment = source.mid(hash + 1);
    } else {
        target.chapter = source;
    }

    const QLatin1String pathKey("kelpath=");
    const QLatin1String pageKey("kelpage=");
    if (queryText.startsWith(pathKey)) {
        const QString value = queryText.mid(pathKey.size());
        if (value.compare(QLatin1String("start"), Qt::CaseInsensitive) == 0)
            return target;
        if (value.compare(QLatin1String("end"), Qt::CaseInsensitive) == 0) {
            target.kind = LinkTarget::LastPage;
            return target;
        }
        if (!value.isEmpty()) {
            target.kind = LinkTarget::EngineLink;
            target.engineLink = queryText;
            return target;
        }
    } else if (queryText.startsWith(pageKey)) {
        bool ok = false;
        const int page = queryText.mid(pageKey.size()).section(QLatin1Char('&'), 0, 0).toInt(&ok);
        if (ok && page > 0) {
            target.kind = LinkTarget::PageNumber;
            target.page = page;
            return target;
        }
    }
    if (!fragment.isEmpty()) {
        target.kind = LinkTarget::EngineLink;
        target.engineLink = QLatin1Char('#') + fragment;
    }
    return target;
}

// Chapter names as links may spell them: percent-encoded or in another letter case.
QString normalisedSource(const QString& source) { return QUrl::fromPercentEncoding(source.toUtf8()).toLower(); }

QString readingLink(const QString& chapter, const QString& path, int offset)
{
    return chapter + QStringLiteral("?kelpath=") + QString::fromLatin1(QUrl::toPercentEncoding(path))
        + QStringLiteral("&offset=") + QString::number(offset);
}

} // namespace

PageCounter::PageCounter(HelperConnection* connection, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
{
}

PageCounter::~PageCounter() = default;

ChapterLayout* PageCounter::layout()
{
    // Made on first use: the web engine starts slowly, and the reader waits for the connection.
    if (!m_layout)
        m_layout = new ChapterLayout(this);
    return m_layout;
}

QString PageCounter::engineScript() const
{
    if (!m_engineScript.isEmpty())
        return m_engineScript;
    // The reader sends the engine first; a helper that did not get it uses its own copy.
    return jsengine::scriptWithInit(QUuid::createUuid().toString(QUuid::Id128));
}

void PageCounter::onMessage(const QByteArray& payload)
{
    Message message;
    if (!decode(payload, &message))
        return;
    if (message.type == pagecount::Stop) {
        qInfo() << "Stop requested";
        m_stopping = true;
        // Ends the waits of a running layout too.
        QCoreApplication::exit(0);
        return;
    }
    m_queue.append(message);
    if (!m_running)
        QMetaObject::invokeMethod(this, &PageCounter::processQueue, Qt::QueuedConnection);
}

bool PageCounter::decode(const QByteArray& payload, Message* message) const
{
    QDataStream in(payload);
    in >> message->type;
    bool ok = in.status() == QDataStream::Ok;
    if (ok) {
        switch (message->type) {
        case pagecount::EngineScript:
        case pagecount::Search:
            in >> message->text;
            ok = in.status() == QDataStream::Ok;
            break;
        case pagecount::ChapterList:
            ok = pagecount::readChapterList(in, &message->chapters, &message->bookFolder);
            break;
        case pagecount::Pagination:
            ok = pagecount::readPagination(in, &message->pagination);
            break;
        case pagecount::Print:
            ok = pagecount::readPrint(in, &message->print);
            break;
        case pagecount::Stop:
            break;
        default:
            qWarning() << "Message of unknown type" << message->type << "ignored";
            return false;
        }
    }
    if (!ok)
        qWarning() << "Malformed message of type" << message->type << "and" << payload.size() << "bytes ignored";
    return ok;
}

void PageCounter::processQueue()
{
    if (m_running)
        return;
    m_running = true;
    while (!m_queue.isEmpty() && !m_stopping)
        handle(m_queue.takeFirst());
    m_running = false;
}

bool PageCounter::paginationQueued() const
{
    for (const Message& message : m_queue) {
        if (message.type == pagecount::Pagination)
            return true;
    }
    return false;
}

bool PageCounter::dropRepeatsOf(const PaginationRequest& running)
{
    // The reader asks again when its view settles at the size it had: starting over would only
    // delay the answer. Anything else queued (another chapter list, a search) needs a new pass.
    for (const Message& message : qAsConst(m_queue)) {
        const PaginationRequest& queued = message.pagination;
        if (message.type != pagecount::Pagination || queued.pageFormatScript != running.pageFormatScript
            || queued.fontSize != running.fontSize || queued.fontFamily != running.fontFamily
            || queued.text != running.text || queued.linkSources != running.linkSources)
            return false;
    }
    m_queue.clear();
    return true;
}

void PageCounter::readWaitingMessages()
{
    // Only the chapter loads turn the event loop: a request that came while one chapter was laid
    // out would otherwise wait until the whole book is counted for a layout no longer wanted.
    QCoreApplication::processEvents();
}

bool PageCounter::givenUp(const PaginationRequest& request)
{
    readWaitingMessages();
    return m_stopping || (paginationQueued() && !dropRepeatsOf(request));
}

void PageCounter::handle(const Message& message)
{
    switch (message.type) {
    case pagecount::EngineScript:
        m_engineScript = message.text;
        break;
    case pagecount::ChapterList:
        m_chapters = message.chapters;
        layout()->setBookFolder(message.bookFolder);
        // Only names and files come from the reader; the counts are ours.
        for (ChapterPageInfo& chapter : m_chapters) {
            chapter.startPage = -1;
            chapter.pageCount = 0;
            chapter.hits.clear();
        }
        m_resultValid = false;
        break;
    case pagecount::Search:
        if (message.text != m_searchText)
            m_resultValid = false;
        m_searchText = message.text;
        break;
    case pagecount::Pagination: {
        m_lastRequest = message.pagination;
        m_haveRequest = true;
        if (paginationQueued())
            break; // the newer request answers
        PaginationResult result;
        if (paginate(message.pagination, &result)) {
            result.text3 = pagecount::requestKey(message.pagination);
            m_lastResult = result;
            m_resultValid = true;
            m_connection->send(pagecount::resultMessage(result));
        }
        break;
    }
    case pagecount::Print: {
        const QString family = m_haveRequest ? m_lastRequest.fontFamily : QString();
        BookPrinter printer(layout(), engineScript(), [this] { return m_stopping; });
        printer.print(m_chapters, message.print, family);
        if (!m_stopping)
            answerAfterPrint();
        break;
    }
    default:
        break;
    }
}

void PageCounter::answerAfterPrint()
{
    // The reader waits for page numbers after a print as after a pagination.
    if (paginationQueued())
        return;
    if (m_resultValid) {
        m_connection->send(pagecount::resultMessage(m_lastResult));
    } else if (m_haveRequest) {
        Message again;
        again.type = pagecount::Pagination;
        again.pagination = m_lastRequest;
        m_queue.prepend(again);
    } else {
        // Never paginated: the chapters with unknown start pages.
        PaginationResult result;
        result.chapters = m_chapters;
        result.text1 = m_searchText;
        m_connection->send(pagecount::resultMessage(result));
    }
}

int PageCounter::chapterOf(const QString& source) const
{
    for (int i = 0; i < m_chapters.size(); ++i) {
        if (m_chapters.at(i).source == source)
            return i;
    }
    const QString wanted = normalisedSource(source);
    for (int i = 0; i < m_chapters.size(); ++i) {
        if (normalisedSource(m_chapters.at(i).source) == wanted)
            return i;
    }
    return -1;
}

bool PageCounter::paginate(const PaginationRequest& request, PaginationResult* result)
{
    result->chapters = m_chapters;
    result->text1 = m_searchText;

    // The links of each chapter, so every chapter is laid out once.
    QHash<int, QStringList>& links = m_chapterLinks;
    links.clear();
    for (const QString& link : request.linkSources) {
        const int chapter = chapterOf(linkTarget(link).chapter);
        if (chapter >= 0)
            links[chapter].append(link);
        else
            qDebug() << "Link to no chapter of the book:" << link;
    }

    const QString script = engineScript();
    ChapterLayout* chapters = layout();
    chapters->setFont(request.fontSize, request.fontFamily);
    QStringList failed;
    int startPage = 0;
    int hitCount = 0;
    for (int i = 0; i < result->chapters.size(); ++i) {
        if (givenUp(request))
            return false;
        ChapterPageInfo& chapter = result->chapters[i];
        chapter.startPage = startPage;
        chapter.pageCount = 0;
        int count = -1;
        if (ChapterLayout::needsPieces(chapter.fileUrl)) {
            count = paginatePieces(i, request.pageFormatScript, startPage, &hitCount, result);
            // A long chapter stops at any newer request, a repeat of this one too.
            if (m_stopping || paginationQueued())
                return false;
        } else {
            if (chapters->open(chapter.fileUrl, script))
                count = chapters->applyFormat(request.pageFormatScript);
            // The stop or a newer request may have come while the chapter loaded.
            if (givenUp(request))
                return false;
            if (count >= 0) {
                addLinkPages(links.value(i), i, startPage, count, nullptr, result);
                if (!m_searchText.isEmpty())
                    addHits(chapter.source, startPage, &chapter, &hitCount);
            }
        }
        if (givenUp(request))
            return false;
        if (count < 0) {
            failed.append(chapter.source);
            continue;
        }
        chapter.pageCount = count;
        startPage += count;
    }
    result->number = startPage;
    result->text2 = failed.join(QLatin1Char('\n'));
    if (!failed.isEmpty())
        qWarning() << failed.size() << "chapters could not be laid out";
    return true;
}

int PageCounter::paginatePieces(
    int index, const QString& formatScript, int startPage, int* hitCount, PaginationResult* result)
{
    ChapterPageInfo& chapter = result->chapters[index];
    // Links into the text are looked for piece by piece; the others need only the count.
    QStringList pending;
    QStringList byCount;
    for (const QString& link : m_chapterLinks.value(index))
        (linkTarget(link).kind == LinkTarget::EngineLink ? pending : byCount).append(link);
    // Pages of a piece are its columns, the first of each piece at the top of a column, as the
    // reader lays the chapter out.
    int columns = 0;
    const int pieces = layout()->openPieces(chapter.fileUrl, engineScript());
    for (int piece = 0; piece < pieces; ++piece) {
        readWaitingMessages();
        if (m_stopping || paginationQueued())
            return -1;
        const int pieceColumns = piece == 0 ? (layout()->applyFormat(formatScript) < 0 ? -1 : layout()->pieceColumns())
                                            : layout()->showPiece(piece);
        if (pieceColumns < 0)
            return -1;
        QStringList elsewhere;
        addLinkPages(pending, index, startPage + columns, pieceColumns, &elsewhere, result);
        pending = elsewhere;
        if (!m_searchText.isEmpty())
            addHits(chapter.source, startPage + columns, &chapter, hitCount);
        columns += pieceColumns;
    }
    const int perScreen = layout()->columnsPerScreen();
    const int count = (columns + perScreen - 1) / perScreen * perScreen;
    qInfo() << "Chapter" << chapter.source << "laid out in" << pieces << "pieces:" << count << "pages";
    // A target found in no piece lies in the chapter all the same: its first page.
    for (const QString& link : qAsConst(pending))
        result->linkPages.insert(link, startPage + 1);
    if (pieces > 0)
        addLinkPages(byCount, index, startPage, count, nullptr, result);
    return pieces > 0 ? count : -1;
}

void PageCounter::addLinkPages(const QStringList& links, int chapter, int startPage, int pageCount,
    QStringList* elsewhere, PaginationResult* result)
{
    if (pageCount <= 0)
        return;
    // Targets in the text are looked up in batches, one evaluation each, with the reader's
    // messages read in between: a chapter may hold hundreds of thousands of contents entries.
    QStringList found;
    QStringList engineLinks;
    for (const QString& link : links) {
        const LinkTarget target = linkTarget(link);
        if (target.kind == LinkTarget::EngineLink) {
            found.append(link);
            engineLinks.append(target.engineLink);
        } else {
            addLinkPage(link, chapter, startPage, pageCount, -1, result);
        }
    }
    for (int from = 0; from < found.size(); from += kLinkBatch) {
        const QStringList batch = found.mid(from, kLinkBatch);
        const QVector<int> pages = layout()->pagesOfLinks(engineLinks.mid(from, kLinkBatch));
        for (int k = 0; k < batch.size(); ++k) {
            if (pages.at(k) == ChapterLayout::OtherPiece && elsewhere)
                elsewhere->append(batch.at(k));
            else
                addLinkPage(batch.at(k), chapter, startPage, pageCount, pages.at(k), result);
        }
        readWaitingMessages();
        if (m_stopping || paginationQueued())
            return;
    }
}

void PageCounter::addLinkPage(
    const QString& link, int chapter, int startPage, int pageCount, int enginePage, PaginationResult* result)
{
    const LinkTarget target = linkTarget(link);
    int page = 1;
    switch (target.kind) {
    case LinkTarget::FirstPage:
        break;
    case LinkTarget::LastPage:
        page = pageCount;
        break;
    case LinkTarget::PageNumber:
        page = qMin(target.page, pageCount);
        break;
    case LinkTarget::EngineLink:
        // A target that is gone still lies in its chapter: the reader lands on its first page.
        if (enginePage <= 0)
            qDebug() << "Link target not found in" << m_chapters.at(chapter).source << ":" << link;
        page = qMin(qMax(1, enginePage), pageCount);
        break;
    }
    result->linkPages.insert(link, startPage + page);
}

void PageCounter::addHits(const QString& source, int startPage, ChapterPageInfo* chapter, int* hitCount)
{
    if (*hitCount >= kMaxHits)
        return;
    // One more than may be kept, so that the rest is known to be left out.
    const QList<ChapterLayout::Hit> hits = layout()->findText(m_searchText, kMaxHits - *hitCount + 1);
    for (const ChapterLayout::Hit& hit : hits) {
        if (++*hitCount > kMaxHits) {
            qWarning() << "More than" << kMaxHits << "search hits; the rest are left out";
            return;
        }
        ChapterHit out;
        out.link = readingLink(source, hit.path, hit.offset);
        out.text = hit.text;
        out.page = startPage + (hit.page > 0 ? hit.page : 1);
        chapter->hits.append(out);
    }
}

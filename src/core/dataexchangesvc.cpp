#include "dataexchangesvc.h"

#include "jsengine/jsengine.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QTimer>
#include <QUuid>
#include <QtDebug>

DataExchangeSvc::DataExchangeSvc(QObject* parent)
    : DataExchangeSvc(QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kHelperName), parent)
{
}

DataExchangeSvc::DataExchangeSvc(const QString& program, QObject* parent)
    : KelRemoteProcHandler(parent)
{
    setupHandler(program);
    connect(this, &KelRemoteProcHandler::handlerReady, this, &DataExchangeSvc::onHelperReady);
    connect(this, &KelRemoteProcHandler::handlerClosed, this, &DataExchangeSvc::onHelperClosed);
    connect(this, &KelRemoteProcHandler::handlerFailed, this, &DataExchangeSvc::onHelperFailed);
}

void DataExchangeSvc::onHelperReady()
{
    write(pagecount::engineScriptMessage(jsengine::scriptWithInit(QUuid::createUuid().toString(QUuid::Id128))));
    // A helper started anew knows nothing: give it what the lost one had, so the next request
    // is answered for the open book even though the book context sends its list only once. What
    // waits in the queue for this very helper follows anyway and is not sent twice.
    if (m_chaptersSent && !m_chaptersQueued)
        write(pagecount::chapterListMessage(m_sentChapters, m_sentBookFolder));
    if (!m_searchText.isEmpty() && !m_searchQueued)
        write(pagecount::searchMessage(m_searchText));
    m_chaptersQueued = false;
    m_searchQueued = false;
}

void DataExchangeSvc::onHelperFailed()
{
    m_chaptersQueued = false;
    m_searchQueued = false;
    // The request went with the queue. As a helper that cannot be started at all: a pagination
    // leaves the numbers unknown, one asked again after a lost helper keeps the last ones.
    const Pending pending = m_pending;
    m_pending = Pending::None;
    if (pending == Pending::Pagination && !m_retried) {
        qWarning() << "The page-counting helper did not connect; page numbers stay unknown";
        storeResult(PaginationResult());
        emit calcDone();
    } else if (pending == Pending::Pagination) {
        qWarning() << "The page-counting helper did not connect; the pagination is given up";
        emit calcError();
    } else if (pending == Pending::Print) {
        qWarning() << "The page-counting helper did not connect; nothing is printed";
        emit calcDone();
    }
}

bool DataExchangeSvc::send(const QByteArray& payload, bool* queued)
{
    const bool connected = isConnected();
    const bool taken = write(payload);
    if (queued && taken && !connected)
        *queued = true;
    return taken;
}

void DataExchangeSvc::sendChapterList(const QList<ChapterPageInfo>& chapters, const QString& bookFolder)
{
    send(pagecount::chapterListMessage(chapters, bookFolder), &m_chaptersQueued);
    m_sentChapters = chapters;
    m_sentBookFolder = bookFolder;
    m_chaptersSent = true;
    // A reply still on its way counted the list before, even when its chapters have the same
    // names and files (a book file replaced at its path): only one for this list is taken.
    ++m_listSerial;
    if (!m_lastPaginationKey.isEmpty()) {
        m_lastPagination = stamped(m_lastPagination);
        m_lastPaginationKey = pagecount::requestKey(m_lastPagination);
    }
}

PaginationRequest DataExchangeSvc::stamped(PaginationRequest request) const
{
    // The helper does not read the text of a pagination request but names the request by a key
    // made from it, so the key tells which chapter list a reply was counted for.
    if (m_chaptersSent)
        request.text = QString::number(m_listSerial);
    return request;
}

void DataExchangeSvc::repaginate(const PaginationRequest& request)
{
    emit calcStarted();
    m_lastPagination = stamped(request);
    m_lastPaginationKey = pagecount::requestKey(m_lastPagination);
    m_writtenPaginationKey = m_lastPaginationKey;
    m_pending = Pending::Pagination;
    m_retried = false;
    if (!write(pagecount::paginationMessage(m_lastPagination)) && m_pending == Pending::Pagination) {
        // No helper: the numbers stay unknown, but whoever waits for them is told.
        qWarning() << "The page-counting helper is not running; page numbers stay unknown";
        storeResult(PaginationResult());
        m_pending = Pending::None;
        emit calcDone();
    }
}

void DataExchangeSvc::search(const QString& text)
{
    send(pagecount::searchMessage(text), &m_searchQueued);
    m_searchText = text;
}

void DataExchangeSvc::print(const PrintRequest& request)
{
    emit calcStarted();
    m_pending = Pending::Print;
    if (!write(pagecount::printMessage(request)) && m_pending == Pending::Print) {
        qWarning() << "The page-counting helper is not running; nothing is printed";
        m_pending = Pending::None;
        emit calcDone();
    }
}

void DataExchangeSvc::onHelperClosed()
{
    if (m_pending == Pending::None)
        return;
    // Called from inside the channel's socket handling: write from the event loop instead.
    QTimer::singleShot(0, this, &DataExchangeSvc::retryPagination);
}

void DataExchangeSvc::retryPagination()
{
    if (m_pending == Pending::None || isConnected())
        return;
    if (m_pending == Pending::Pagination && !m_retried) {
        qWarning() << "The page-counting helper went away during a pagination; asking a new one";
        m_retried = true;
        m_writtenPaginationKey = m_lastPaginationKey;
        if (write(pagecount::paginationMessage(m_lastPagination)))
            return;
    }
    // A print is not repeated (it may have reached the printer), and a helper that fails twice
    // on the same book would fail again. A given-up pagination keeps the last numbers, which
    // are better than none, and is reported as an error instead of a new result.
    qWarning() << "The page-counting helper went away; the request is given up";
    const bool pagination = m_pending == Pending::Pagination;
    m_pending = Pending::None;
    if (pagination)
        emit calcError();
    else
        emit calcDone();
}

bool DataExchangeSvc::answersSentChapters(const QList<ChapterPageInfo>& chapters) const
{
    if (!m_chaptersSent)
        return true;
    if (chapters.size() != m_sentChapters.size())
        return false;
    for (int i = 0; i < m_sentChapters.size(); ++i) {
        if (chapters.at(i).source != m_sentChapters.at(i).source
            || chapters.at(i).fileUrl != m_sentChapters.at(i).fileUrl)
            return false;
    }
    return true;
}

bool DataExchangeSvc::answersLastRequest(const QString& requestKey) const
{
    return requestKey.isEmpty() || m_lastPaginationKey.isEmpty() || requestKey == m_lastPaginationKey;
}

bool DataExchangeSvc::resultAnswersLastRequest() const { return answersLastRequest(m_resultText3); }

void DataExchangeSvc::onDataReceived(const QByteArray& payload)
{
    QDataStream in(payload);
    qint32 type = -1;
    in >> type;
    if (in.status() != QDataStream::Ok) {
        qWarning() << "Empty message from the page-counting helper ignored";
        return;
    }
    if (type != pagecount::Pagination) {
        qWarning() << "Message of unknown type" << type << "from the page-counting helper ignored";
        return;
    }
    PaginationResult result;
    if (!pagecount::readResult(in, &result)) {
        qWarning() << "Malformed pagination result from the page-counting helper;" << result.chapters.size()
                   << "chapters kept";
    } else if (!answersSentChapters(result.chapters)) {
        // Replies carry no book key: one for the book open before (still on its way when the
        // new chapter list went out) would give this book another book's numbers.
        qWarning() << "Pagination result for another chapter list ignored;" << result.chapters.size()
                   << "chapters, sent" << m_sentChapters.size();
        return;
    } else if (!answersLastRequest(result.text3)
        // After a print the helper counts the chapters it has with the last layout it was sent.
        && !(m_pending == Pending::Print && result.text3 == m_writtenPaginationKey)) {
        // Counted for a layout given up since (a window resized, a setting changed while it ran):
        // its numbers belong to no page on screen. The answer to the newer request follows.
        qInfo() << "Pagination result for an older request ignored;" << result.number << "pages";
        return;
    }
    storeResult(result);
    m_pending = Pending::None;
    m_retried = false;
    emit calcDone();
}

void DataExchangeSvc::storeResult(const PaginationResult& result)
{
    m_chapters = result.chapters;
    m_resultText1 = result.text1;
    m_resultNumber = result.number;
    m_resultText2 = result.text2;
    m_resultText3 = result.text3;
    m_linkPages = result.linkPages;
    m_chapterIndex.clear();
    m_chapterIndex.reserve(m_chapters.size());
    for (int i = 0; i < m_chapters.size(); ++i) {
        // A source listed twice keeps its first place.
        if (!m_chapterIndex.contains(m_chapters.at(i).source))
            m_chapterIndex.insert(m_chapters.at(i).source, i);
    }
}

const ChapterPageInfo* DataExchangeSvc::chapter(const QString& source) const
{
    const int index = m_chapterIndex.value(source, -1);
    return index < 0 ? nullptr : &m_chapters.at(index);
}

int DataExchangeSvc::chapterStartPage(const QString& source) const
{
    const ChapterPageInfo* info = chapter(source);
    return info ? info->startPage : -1;
}

int DataExchangeSvc::chapterPageCount(const QString& source) const
{
    const ChapterPageInfo* info = chapter(source);
    return info ? info->pageCount : -1;
}

int DataExchangeSvc::totalPageCount() const
{
    if (m_chapters.isEmpty())
        return -1;
    const ChapterPageInfo& last = m_chapters.last();
    // An uncounted last chapter would otherwise give its page count minus one.
    return last.startPage < 0 ? -1 : last.startPage + last.pageCount;
}

QList<SearchItem> DataExchangeSvc::searchHits() const
{
    QList<SearchItem> items;
    for (const ChapterPageInfo& info : m_chapters) {
        for (const ChapterHit& hit : info.hits) {
            SearchItem item;
            item.link->source = hit.link;
            item.link->page = hit.page;
            item.text = hit.text;
            items.append(item);
        }
    }
    return items;
}

#pragma once

#include "formats/booklink.h"
#include "formats/chapterpageinfo.h"
#include "pagecountprotocol.h"
#include "remotehandler/kelremoteprochandler.h"

#include <QHash>
#include <QList>
#include <QString>

// The client of the page-counting helper process. The reader lays out only the chapter on
// screen; the helper lays out every chapter with the same engine and page format and reports
// each chapter's start page and page count, the book pages of links and the search hits. The
// application makes one instance; the book context sends it the chapter list and the
// pagination, search and print requests and reads the stored result when calcDone arrives.
// Everything runs on the GUI thread.
class DataExchangeSvc : public KelRemoteProcHandler {
    Q_OBJECT

public:
    // Name of the helper executable beside the reader.
    static constexpr const char* kHelperName = "zuvezedoda";

    // The helper beside the application's executable.
    explicit DataExchangeSvc(QObject* parent = nullptr);
    // A helper at another path (tests run from another folder).
    DataExchangeSvc(const QString& program, QObject* parent);

    // Id of the book whose chapter list was sent last.
    QString bookKey() const { return m_bookKey; }
    void setBookKey(const QString& key) { m_bookKey = key; }

    // The book's chapters, and the folder whose files its chapter pages may read (the reader's
    // page reads the same): the helper is told it, never works it out from a chapter's path.
    void sendChapterList(const QList<ChapterPageInfo>& chapters, const QString& bookFolder);
    // Emits calcStarted, then asks for a new layout; calcDone follows with the result.
    void repaginate(const PaginationRequest& request);
    // The hits of this text come with the next pagination result.
    void search(const QString& text);
    // Emits calcStarted, then asks the helper to print; calcDone follows when it is done.
    void print(const PrintRequest& request);

    // Answers from the last result; -1 for a chapter that is not in it.
    int chapterStartPage(const QString& source) const;
    int chapterPageCount(const QString& source) const;
    // -1 when there is no chapter or the last one is not counted.
    int totalPageCount() const;
    QHash<QString, int> linkPages() const { return m_linkPages; }
    // One new item per hit, in chapter order then hit order.
    QList<SearchItem> searchHits() const;

    // Whether the last result is of the chapter list sent last: until its own result comes, a
    // book just opened must not take the numbers of the book before.
    bool resultForSentChapters() const { return answersSentChapters(m_chapters); }
    // Whether the last result counted the layout of the last pagination request; a result for an
    // older one is never taken, but one kept when a request was given up may be of another layout.
    bool resultAnswersLastRequest() const;
    // The key that a reply to the last pagination request names, for the chapter list sent last.
    QString lastRequestKey() const { return m_lastPaginationKey; }

    QString resultText1() const { return m_resultText1; }
    int resultNumber() const { return m_resultNumber; }
    QString resultText2() const { return m_resultText2; }
    QString resultText3() const { return m_resultText3; }

signals:
    void calcDone();
    void calcStarted();
    // A pagination was given up (the helper died twice): the last result is kept, no calcDone.
    void calcError();

protected:
    void onDataReceived(const QByteArray& payload) override;

private:
    enum class Pending {
        None,
        Pagination,
        Print,
    };

    void onHelperReady();
    void onHelperClosed();
    void onHelperFailed();
    // Writes; *queued is set when the frame waits for a helper still to connect.
    bool send(const QByteArray& payload, bool* queued);
    void retryPagination();
    // Whether the result's chapters are those of the chapter list sent last (any result when
    // none was sent).
    bool answersSentChapters(const QList<ChapterPageInfo>& chapters) const;
    // Whether a result of the request of this key answers the pagination request sent last (a
    // result that names no request, from a helper that never paginated, is taken as it is).
    bool answersLastRequest(const QString& requestKey) const;
    void storeResult(const PaginationResult& result);
    // The request as sent: marked with the chapter list it is for.
    PaginationRequest stamped(PaginationRequest request) const;
    const ChapterPageInfo* chapter(const QString& source) const;

    QString m_bookKey;
    QList<ChapterPageInfo> m_chapters;
    QHash<QString, int> m_chapterIndex;
    QString m_resultText1;
    int m_resultNumber = 0;
    QString m_resultText2;
    QString m_resultText3;
    QHash<QString, int> m_linkPages;

    // What a new helper needs to answer the next request as the lost one would have.
    QList<ChapterPageInfo> m_sentChapters;
    QString m_sentBookFolder;
    bool m_chaptersSent = false;
    QString m_searchText;
    // Whether the chapter list or search text kept above waits in the queue for the helper that
    // connects next: it need not be given to that one again.
    bool m_chaptersQueued = false;
    bool m_searchQueued = false;
    PaginationRequest m_lastPagination;
    QString m_lastPaginationKey;
    // Of the request the helper was last sent; it lays out with that one after a print.
    QString m_writtenPaginationKey;
    int m_listSerial = 0;
    Pending m_pending = Pending::None;
    bool m_retried = false;
};

#pragma once

#include "pagecountprotocol.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class ChapterLayout;
class HelperConnection;

// The page counter's work: takes the reader's messages in order and answers every pagination
// or print request with the book's page numbers. Each chapter is laid out in turn by one
// ChapterLayout; a chapter's start page is the sum of the page counts before it, so a book page
// is the start page plus the page the engine gives within the chapter.
//
// A layout waits for chapter loads in nested event loops, so messages that arrive meanwhile are
// queued: a pagination that a newer one makes useless is dropped (the newer one answers), and
// the stop message ends the helper at once.
class PageCounter : public QObject {
    Q_OBJECT

public:
    // Hits beyond this many are left out of a result: no one reads them, and the result must
    // stay a frame the reader accepts.
    static constexpr int kMaxHits = 10000;
    // Links into the text looked up in one evaluation.
    static constexpr int kLinkBatch = 2000;

    explicit PageCounter(HelperConnection* connection, QObject* parent = nullptr);
    ~PageCounter() override;

    // One frame's payload from the reader; a malformed one is logged and ignored.
    void onMessage(const QByteArray& payload);

private:
    struct Message {
        qint32 type = -1;
        QString text;
        QList<ChapterPageInfo> chapters;
        QString bookFolder; // of the chapters
        PaginationRequest pagination;
        PrintRequest print;
    };

    bool decode(const QByteArray& payload, Message* message) const;
    void processQueue();
    void handle(const Message& message);
    bool paginationQueued() const;
    // Takes the queued messages away when they only repeat the running pagination request.
    bool dropRepeatsOf(const PaginationRequest& running);
    void readWaitingMessages();
    // Whether the running layout is to be given up for a newer request or the stop.
    bool givenUp(const PaginationRequest& request);
    // False when the layout was given up for a newer request or the stop.
    bool paginate(const PaginationRequest& request, PaginationResult* result);
    // Lays a long chapter out piece by piece: its page count (-1 on failure or when stopped), with
    // its links and search hits placed in the piece that holds them.
    int paginatePieces(int index, const QString& formatScript, int startPage, int* hitCount, PaginationResult* result);
    // The book pages of the links into a chapter laid out (or a piece of it, whose links to other
    // pieces go to elsewhere).
    void addLinkPages(const QStringList& links, int chapter, int startPage, int pageCount, QStringList* elsewhere,
        PaginationResult* result);
    // enginePage: the page within the chapter the engine gave a link into the text, -1 for none.
    void addLinkPage(
        const QString& link, int chapter, int startPage, int pageCount, int enginePage, PaginationResult* result);
    void addHits(const QString& source, int startPage, ChapterPageInfo* chapter, int* hitCount);
    void answerAfterPrint();
    int chapterOf(const QString& source) const;
    QString engineScript() const;
    ChapterLayout* layout();

    HelperConnection* m_connection;
    ChapterLayout* m_layout = nullptr;
    QList<Message> m_queue;
    bool m_running = false;
    bool m_stopping = false;

    QString m_engineScript;
    QList<ChapterPageInfo> m_chapters;
    QString m_searchText;
    // The requested links of each chapter, by chapter index, during a pagination.
    QHash<int, QStringList> m_chapterLinks;
    bool m_haveRequest = false;
    PaginationRequest m_lastRequest;
    // The answer to the last request, still true while neither the chapters nor the search text
    // changed; a print is answered with it.
    bool m_resultValid = false;
    PaginationResult m_lastResult;
};

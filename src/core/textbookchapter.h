#pragma once

#include "bookmarkitem.h"
#include "formats/booklink.h"
#include "noteitem.h"

#include <QList>
#include <QPoint>
#include <QScopedPointer>
#include <QString>
#include <QWebPage>
#include <functional>

class BookPageParams;
class ChapterLoad;

// The web page that holds one loaded chapter of a text book. It is the only place that talks
// to the reading engine for paging, reading positions, bookmarks and notes: each operation is
// one synchronous evaluation of a call text in the main frame, and every text in a call text
// (paths, ids, anchors, style names, links) is escaped for a single-quoted string.
//
// The text viewer sets the chapter source before each load and, once the load has finished,
// runs the engine with its init call, sets the page size and calls applyPageParams.
class TextBookChapter : public QWebPage {
    Q_OBJECT
public:
    explicit TextBookChapter(QObject* parent = nullptr);
    ~TextBookChapter() override;

    // Loads a chapter file of the book in bookFolder: the only navigation the page follows, and the
    // only folder whose files it reads; scripting stays off until it is loaded (see ChapterLoad).
    void loadChapter(const QUrl& file, const QString& bookFolder);
    ChapterLoad* chapterLoad() const;

    // The chapter's path as the book's links name it.
    QString source() const;
    void setSource(const QString& source);

    // As the engine last reported them; -1 while unknown.
    int currentPage() const;
    int pageCount() const;
    void setCurrentPage(int page);

    // Goes to a page number ("12"), an anchor ("#id"), "start", "end" (any case) or an element
    // path ("/html[1]/...", optionally with "&offset=N"). Anything else moves nowhere; the
    // current page is reported in every case.
    bool setReadingPosition(const QString& position);
    // The chapter source, "?kelpath=" and the percent-encoded path of the first visible
    // position; empty when the engine gave no answer.
    QString getReadingLink();
    // Reports the bare path of the first visible position (not called when the engine gave no
    // answer).
    void getReadingPosition(std::function<void(QString)> callback);

    // Emits newBookmarkCreated for the position on screen, or nothing when nothing is visible.
    void createBookmarkForCurrentPage();
    // Marks the selection as a note; emits newNoteCreated when the selection made one.
    void createNoteFromSelection(const QString& noteId, NoteItem::NoteColor color);
    // Draws stored notes of this chapter (after a load).
    void addNotes(const QList<NoteItem>& notes);
    void removeNote(const QString& noteId);
    // styleName is a note-style name ("blue", ...); the marks get its class.
    void setNoteStyle(const QString& noteId, const QString& styleName);
    // The note under a viewport point, or under the selection's focus when the point is (0, 0);
    // the callback gets an empty text when there is none.
    void findNoteId(const QPoint& point, std::function<void(QString)> callback);

    // Fonts, then the page format (colours, text style, layout) in one evaluation.
    void applyPageParams(BookPageParams* params);
    void applyPageColors(BookPageParams* params);
    // Stores the chapter page of a link in the chapter (plus pageOffset, the pages before the
    // chapter) into the link, -1 when the chapter has no such place; then calls done.
    void resolveLinkPage(BookLinkPtr link, int pageMode, int pageOffset, std::function<void()> done);

    // The link text of a position in a chapter: source, "?kelpath=" and the percent-encoded
    // path (UTF-8; everything but ASCII letters, digits and "-._~" as %XX).
    static QString readingLink(const QString& source, const QString& path);

public slots:
    void next();
    void prev();

signals:
    void pageNumberInfoReady(QString xpath, int pageNumber);
    void readingPositionReported(QString position);
    void pageCountChanged();
    void currentPageChanged();
    void pageFormattingChanged();
    void nextChapterRequest();
    void prevChapterRequest();
    void newBookmarkCreated(BookmarkItem bookmark);
    void newNoteCreated(NoteItem note);

protected:
    bool acceptNavigationRequest(QWebFrame* frame, const QNetworkRequest& request, NavigationType type) override;

private:
    struct Private;

    QVariant evaluate(const QString& callText);
    void turn(const QString& callText, void (TextBookChapter::*edgeSignal)());

    QScopedPointer<Private> d;
};

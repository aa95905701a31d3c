#pragma once

#include "abstractviewer.h"

#include <QRect>
#include <QScopedPointer>
#include <QString>
#include <QTextToSpeech>
#include <QTimer>
#include <QUrl>
#include <QWebView>

class TextBookChapter;

// Shows a converted text book one chapter at a time. The chapter runs the reading engine,
// which lays it out in screen pages and columns; the viewer picks the chapter file for a link,
// starts the engine in each loaded chapter, turns pages and chapters on keys, wheel, swipes and
// clicks, reports selections and note clicks, and hands the reading position back to the book
// context when it goes.
class TextViewer : public QWebView, public AbstractViewer {
    Q_OBJECT
public:
    explicit TextViewer(QWidget* parent = nullptr);
    ~TextViewer() override;

    bool supports(Features features) const override;
    bool readBook(QSharedPointer<BookContext> context) override;
    QString selectedText() const override;
    void clearSelection() override;
    void goLink(const QString& link, bool forced) override;
    void setZoomValue(ZoomAction action, int value) override;

    // Highlights every occurrence of the text (an empty text clears the highlights).
    void highlightText(const QString& text);
    TextBookChapter* chapterPage() const;

    // Reading aloud through the speech object of ReadingServices; without one they do nothing.
    // Starting again while paused resumes at the next sentence; starting while it runs changes
    // nothing.
    void startReadingAloud();
    // The sentence being spoken is finished; the next one waits for a start.
    void pauseReadingAloud();
    void stopReadingAloud();
    void nextReadingParagraph() { }
    void prevReadingParagraph() { }
    bool isReadingAloud() const { return readingAloud; }
    bool isReadingAloudPaused() const { return readingAloudPaused; }

    // The place inside a chapter that a link's query or fragment names: a decoded reading path
    // (with its "&offset=N"), a page number, "start", "end", "#anchor", or "1" for none.
    static QString chapterTarget(const QUrl& local);

signals:
    // local: the move stays inside the chapter already loaded.
    void navigationStarted(bool local);
    void navigationCompleted();
    void pageNavigation();
    void beginLoading();
    void endLoading();

public slots:
    void next();
    void previous();
    void moveToHome();
    void moveToEnd();

private slots:
    void onNewChapterLoaded();
    void onSpeechStateChanged(QTextToSpeech::State state);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void onMouseClicked() override;

private:
    struct Private;

    void bindPageEvents(TextBookChapter* page);
    void loadInternal();
    void onLoadFinished();
    // The chapter asked for could not be loaded: the reader leaves its loading state.
    void onLoadFailed();
    void onRepaginateTimer();
    // Lays the chapter (when given) out at the viewer's size, after asking for the book's count
    // of that layout when count is set.
    void layOut(TextBookChapter* page, bool count);
    void onLinkClicked(const QUrl& url);
    // Speaks the next chunk of text, or moves to the next chapter at the end of this one.
    void onTTSRequest(bool findFirst);
    // Stops reading aloud at a sentence that was not spoken and goes back to the last place that
    // was; the context is told once.
    void speechFailed(const char* reason);
    // Reading aloud off, the highlight gone and the engine let go; stopEngine also silences it.
    void endReadingAloud(bool stopEngine);
    void nextChapter();
    void previousChapter();
    void replayQueuedTurns();
    // The chapter-folder relative form of a link; empty when no known chapter has its path.
    QString resolveChapter(const QString& link, QUrl* url) const;

    bool readingAloud = false;
    bool readingAloudPaused = false;
    QScopedPointer<Private> d;
    QTimer repaginateTimer;
    QString noteIdUnderMouse;
    bool linkHovered = false;
    QRect noteRect;
};

#pragma once

#include "abstractviewer.h"

#include <QFutureWatcher>
#include <QGraphicsView>
#include <QImage>
#include <QPair>
#include <QPoint>
#include <QTimer>

class BookPageParams;
class ImageDocument;
struct ViewerColors;

// Shows books whose pages are images (PDF, comic archives): one page or a two-page spread,
// rendered on the global thread pool and shown as items of the view's own scene. Pages turn by
// click, wheel and hotkey; zoom is the view's transform, with fit-width and fit-page modes.
class ImageViewer : public QGraphicsView, public AbstractViewer {
    Q_OBJECT

public:
    // Shown after a render request that has not finished by then.
    static constexpr int busyDelayMs = 200;
    // One mouse notch; touchpads send many smaller steps that add up to it.
    static constexpr int wheelStep = 120;

    explicit ImageViewer(QWidget* parent = nullptr);
    // Waits for a running render before the document goes.
    ~ImageViewer() override;

    bool supports(Features features) const override;
    // Opens the context's book (PDF, CBZ or CBR). False for another format, a cancelled password
    // prompt, or a book without pages.
    bool readBook(QSharedPointer<BookContext> context) override;
    void goPage(int page) override;
    void setZoomValue(ZoomAction action, int value) override;

    ImageDocument* document() const { return m_document; }
    // True while a render job runs, waits in the pool or waits for the running one.
    bool isRendering() const;
    // The percentage the view's scale stands for (the document's own scale counted in).
    int currentZoomPercent() const;

protected:
    // The document for a book format code: PDF for 3, comics for 6 and 7, null otherwise.
    virtual ImageDocument* createDocument(int format);

    void onMouseClicked() override;
    void onDragStart() override;
    void onDragMove(const QPoint& delta) override;
    void onDragEnd() override;

    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void onPagesReady();
    void onBusyTimeout();
    void onPageNumberChanged(int page);
    void onColumnCountChanged(int columns);
    void onPageColorsChanged(const ViewerColors& colors);

private:
    // Renders the current page or spread; while a job runs, the request waits for it.
    void requestPages();
    void startRender();
    // Cancels both render jobs and waits until neither runs any more.
    void stopRendering();
    // Stops rendering, drops the document's connections and deletes it.
    void releaseDocument();
    bool openDocument(const BookContext& context);
    void showImage(const QImage& image);
    void showPair(const QPair<QImage, QImage>& images);
    void applyFitMode();
    void setZoomPercent(int percent);
    void updateZoomValue();
    double documentScaleFactor() const;
    // The page step of one turn: the page parameters' column count.
    int pageStep() const;
    BookPageParams* pageParams() const;
    bool pageFitsView() const;
    void turnPages(int direction);
    void goToEnd();

    ImageDocument* m_document = nullptr;
    QPoint m_scrollStart;
    QFutureWatcher<QImage>* m_imageWatcher;
    QFutureWatcher<QPair<QImage, QImage>>* m_pairWatcher;
    QTimer m_busyTimer;
    // Each render request gets the next number; only the newest one's result is shown.
    quint64 m_generation = 0;
    quint64 m_imageGeneration = 0;
    quint64 m_pairGeneration = 0;
    // A request came while a job ran; it starts when that job ends.
    bool m_renderQueued = false;
    // Wheel angle not yet turned into a page turn or a zoom step.
    int m_pageWheel = 0;
    int m_zoomWheel = 0;
};

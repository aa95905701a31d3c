#include "imageviewer.h"

#include "bookcontext.h"
#include "bookpageparams.h"
#include "customgraphicspixmapitem.h"
#include "formats/comics/comicdocument.h"
#include "formats/imagedocument.h"
#include "hotkeys.h"
#include "passwordprompt.h"
#include "pdfdocument.h"

#include <QApplication>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QKeyEvent>
#include <QMetaEnum>
#include <QScrollBar>
#include <QThreadPool>
#include <QWheelEvent>
#include <QtConcurrent>
#include <QtDebug>

#include <cmath>
#include <malloc.h>
#include <mutex>

namespace {

constexpr double kZoomStep = 1.15;
constexpr int kMinZoomPercent = 10;
constexpr int kMaxZoomPercent = 1000;
constexpr double kSpreadGap = 10.0;
// The viewport margins around a page that does not fill the view.
const QMargins kZoomMargins(16, 16, 20, 20);

enum BookFormatCode { PdfFormat = 3, CbzFormat = 6, CbrFormat = 7 };

int roundHalfAway(double value) { return int(std::round(value)); }

// Page images are megabytes each, made on pool threads and freed on the GUI thread. glibc raises
// its threshold for serving blocks by mmap to the size of each such block freed, after which page
// images come from the per-thread heaps, which do not give the memory back: the reader grew by
// several megabytes a page turned. A fixed threshold keeps them mapped and returned when freed.
void keepPageImagesMapped()
{
    static std::once_flag once;
    std::call_once(once, [] {
        constexpr int kThreshold = 1 << 20;
        if (mallopt(M_MMAP_THRESHOLD, kThreshold) != 1)
            qWarning() << "ImageViewer: the allocator's mapping threshold could not be set";
    });
}

// Moves the whole wheel steps out of the running sum; a turn of direction starts a new sum.
int takeWheelSteps(int& sum, int delta)
{
    if ((sum > 0 && delta < 0) || (sum < 0 && delta > 0))
        sum = 0;
    sum += delta;
    const int steps = sum / ImageViewer::wheelStep;
    sum -= steps * ImageViewer::wheelStep;
    return steps;
}

} // namespace

ImageViewer::ImageViewer(QWidget* parent)
    : QGraphicsView(parent)
    , AbstractViewer(2)
    , m_imageWatcher(new QFutureWatcher<QImage>(this))
    , m_pairWatcher(new QFutureWatcher<QPair<QImage, QImage>>(this))
{
    setObjectName(QStringLiteral("ImageViewer"));
    keepPageImagesMapped();
    setScene(new QGraphicsScene(this));
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    setTransformationAnchor(QGraphicsView::AnchorViewCenter);
    setResizeAnchor(QGraphicsView::AnchorViewCenter);
    setAlignment(Qt::AlignCenter);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setFrameStyle(0);
    viewport()->setAutoFillBackground(false);

    m_busyTimer.setSingleShot(true);
    m_busyTimer.setInterval(busyDelayMs);
    connect(m_imageWatcher, &QFutureWatcherBase::finished, this, &ImageViewer::onPagesReady);
    connect(m_pairWatcher, &QFutureWatcherBase::finished, this, &ImageViewer::onPagesReady);
    connect(&m_busyTimer, &QTimer::timeout, this, &ImageViewer::onBusyTimeout);
}

ImageViewer::~ImageViewer()
{
    // A pool job may still render from the document; it must end before the document goes.
    releaseDocument();
}

bool ImageViewer::supports(Features features) const
{
    return featuresWithin(features, Feature::Toc | Feature::ColumnCountChange | Feature::Zoom);
}

ImageDocument* ImageViewer::createDocument(int format)
{
    switch (format) {
    case PdfFormat:
        return new PdfDocument(this);
    case CbzFormat:
    case CbrFormat:
        return new ComicDocument(this);
    default:
        return nullptr;
    }
}

bool ImageViewer::readBook(QSharedPointer<BookContext> context)
{
    if (m_bookContext) {
        disconnect(m_bookContext.data(), nullptr, this, nullptr);
        disconnect(m_bookContext->pageParams(), nullptr, this, nullptr);
    }
    releaseDocument();
    scene()->clear();
    setBookContext(context);
    if (!context)
        return false;
    if (!openDocument(*context))
        return false;

    m_document->setPageNumber(context->readingPage());
    context->setToc(m_document->toc());
    context->setPageCount(m_document->pageCount());
    context->setReadingPage(m_document->pageNumber());
    context->setCurrentPage(m_document->pageNumber());
    BookPageParams* params = context->pageParams();
    m_document->setColumnCount(params->columnCount());
    setBackgroundBrush(QBrush(params->background()));

    // Made after the setters above, so they cause no render of their own.
    connect(params, &BookPageParams::columnCountChanged, m_document, &ImageDocument::setColumnCount);
    connect(params, &BookPageParams::pageColorsChanged, this, &ImageViewer::onPageColorsChanged);
    connect(m_document, &ImageDocument::pageNumberChanged, this, &ImageViewer::onPageNumberChanged);
    connect(m_document, &ImageDocument::columnCountChanged, this, &ImageViewer::onColumnCountChanged);
    requestPages();
    return true;
}

bool ImageViewer::openDocument(const BookContext& context)
{
    const BookDto book = context.bookDto();
    m_document = createDocument(book.format);
    if (!m_document) {
        qCritical() << "ImageViewer: invalid usage, trying to load format" << book.format;
        return false;
    }
    // Pages are unpacked where the context reads the book from.
    if (auto* comic = dynamic_cast<ComicDocument*>(m_document))
        comic->setDataFolder(context.dataFolder());
    m_document->load(book.full_path);
    if (auto* pdf = dynamic_cast<PdfDocument*>(m_document)) {
        const QString fileName = QFileInfo(book.full_path).fileName();
        while (pdf->isPasswordRequired()) {
            const bool accepted = askPassword(fileName, [pdf, &book](const QString& password) {
                pdf->setPassword(password);
                pdf->load(book.full_path);
                return !pdf->isPasswordRequired();
            });
            if (!accepted) {
                qInfo() << "ImageViewer: password prompt cancelled for" << fileName;
                return false;
            }
        }
    }
    // A damaged or unreadable file: the reading page says so instead of showing an empty view.
    if (m_document->pageCount() < 1) {
        qWarning() << "ImageViewer: the book has no pages:" << book.full_path;
        return false;
    }
    return true;
}

void ImageViewer::stopRendering()
{
    m_renderQueued = false;
    m_imageWatcher->cancel();
    m_pairWatcher->cancel();
    m_imageWatcher->waitForFinished();
    m_pairWatcher->waitForFinished();
}

void ImageViewer::releaseDocument()
{
    stopRendering();
    m_busyTimer.stop();
    if (!m_document)
        return;
    disconnect(m_document, nullptr, this, nullptr);
    if (m_bookContext)
        disconnect(m_bookContext->pageParams(), nullptr, m_document, nullptr);
    delete m_document;
    m_document = nullptr;
}

bool ImageViewer::isRendering() const
{
    return m_renderQueued || m_imageWatcher->isRunning() || m_pairWatcher->isRunning();
}

void ImageViewer::requestPages()
{
    if (!m_document)
        return;
    if (!m_busyTimer.isActive())
        m_busyTimer.start();
    // One job per viewer at a time, and a job that has begun is not interrupted. Waiting for it
    // here would hold the window still: the request waits its turn instead, and only the newest
    // waits, since it renders the page wanted now.
    if (m_imageWatcher->isRunning() || m_pairWatcher->isRunning()) {
        m_renderQueued = true;
        ++m_generation;
        // A job still waiting in the pool need not run at all.
        m_imageWatcher->cancel();
        m_pairWatcher->cancel();
        return;
    }
    startRender();
}

void ImageViewer::startRender()
{
    m_renderQueued = false;
    ImageDocument* document = m_document;
    const int page = document->pageNumber();
    const double ratio = devicePixelRatioF();
    const quint64 generation = ++m_generation;
    if (document->columnCount() == 1) {
        m_imageGeneration = generation;
        m_imageWatcher->setFuture(QtConcurrent::run(
            QThreadPool::globalInstance(), [document, page, ratio] { return document->requestImage(page, ratio); }));
    } else {
        m_pairGeneration = generation;
        m_pairWatcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(),
            [document, page, ratio] { return document->requestImages(page, page + 1, ratio); }));
    }
}

void ImageViewer::onPagesReady()
{
    // Only the newest request's result replaces the page: a job cancelled by a later request,
    // or one of the other column mode, would otherwise blank it or end the busy state early.
    if (!m_document)
        return;
    if (m_renderQueued) {
        // The pages asked for since have waited for this job: they go next, and this result,
        // already out of date, is not shown.
        if (!m_imageWatcher->isRunning() && !m_pairWatcher->isRunning())
            startRender();
        return;
    }
    auto* watcher = static_cast<QFutureWatcherBase*>(sender());
    const bool single = watcher == m_imageWatcher;
    if ((single ? m_imageGeneration : m_pairGeneration) != m_generation)
        return;
    if (single) {
        if (m_imageWatcher->isCanceled() || m_imageWatcher->future().resultCount() < 1)
            return;
        showImage(m_imageWatcher->result());
    } else {
        if (m_pairWatcher->isCanceled() || m_pairWatcher->future().resultCount() < 1)
            return;
        showPair(m_pairWatcher->result());
    }
    applyFitMode();
    m_busyTimer.stop();
    if (m_bookContext)
        emit m_bookContext->viewerIsDirtyChanged(false);
}

void ImageViewer::showImage(const QImage& image)
{
    scene()->clear();
    auto* item = new CustomGraphicsPixmapItem(image);
    scene()->addItem(item);
    scene()->setSceneRect(item->sceneBoundingRect());
}

void ImageViewer::showPair(const QPair<QImage, QImage>& images)
{
    scene()->clear();
    auto* first = new CustomGraphicsPixmapItem(images.first);
    auto* second = new CustomGraphicsPixmapItem(images.second);
    scene()->addItem(first);
    scene()->addItem(second);
    const double gap = roundHalfAway(devicePixelRatioF() * kSpreadGap);
    first->setPos(0, 0);
    const double firstRatio = images.first.isNull() ? 1.0 : images.first.devicePixelRatio();
    second->setPos(images.first.width() / firstRatio + gap, 0);
    const QRectF bounds = first->sceneBoundingRect() | second->sceneBoundingRect();
    scene()->setSceneRect(0, 0, bounds.width(), bounds.height());
}

void ImageViewer::onBusyTimeout()
{
    if (m_bookContext)
        emit m_bookContext->viewerIsDirtyChanged(true);
}

void ImageViewer::onPageNumberChanged(int page)
{
    if (m_bookContext) {
        m_bookContext->setReadingPage(page);
        m_bookContext->setCurrentPage(page);
    }
    requestPages();
    verticalScrollBar()->setSliderPosition(0);
}

void ImageViewer::onColumnCountChanged(int columns)
{
    Q_UNUSED(columns);
    setZoomValue(ZoomAction::FitPage, -1);
    requestPages();
}

void ImageViewer::onPageColorsChanged(const ViewerColors& colors) { setBackgroundBrush(QBrush(colors.background)); }

void ImageViewer::goPage(int page)
{
    if (m_document)
        m_document->setPageNumber(page);
}

double ImageViewer::documentScaleFactor() const { return m_document ? m_document->scaleFactor() : 1.0; }

int ImageViewer::currentZoomPercent() const { return roundHalfAway(transform().m11() * 100.0 * documentScaleFactor()); }

void ImageViewer::updateZoomValue()
{
    const int percent = currentZoomPercent();
    if (percent == m_zoomValue)
        return;
    m_zoomValue = percent;
    emit m_userEvents->zoomChanged(m_zoomAction, percent);
}

void ImageViewer::setZoomPercent(int percent)
{
    const double scale = qBound(kMinZoomPercent, percent, kMaxZoomPercent) * 0.01 / documentScaleFactor();
    const QTransform t = transform();
    setTransform(QTransform(scale, t.m12(), t.m13(), t.m21(), scale, t.m23(), t.m31(), t.m32(), t.m33()));
    updateZoomValue();
}

void ImageViewer::setZoomValue(ZoomAction action, int value)
{
    m_zoomAction = action;
    if (action == ZoomAction::FitPage) {
        setViewportMargins(0, 0, 0, 0);
        applyFitMode();
        return;
    }
    setViewportMargins(kZoomMargins);
    switch (action) {
    case ZoomAction::Initial:
        setZoomPercent(100);
        break;
    case ZoomAction::FitWidth:
        applyFitMode();
        break;
    case ZoomAction::Increment:
        setZoomPercent(roundHalfAway(currentZoomPercent() * kZoomStep));
        break;
    case ZoomAction::Decrement:
        setZoomPercent(roundHalfAway(currentZoomPercent() * (1.0 / kZoomStep)));
        break;
    case ZoomAction::Value:
        setZoomPercent(value);
        break;
    default:
        qCritical() << QMetaEnum::fromType<ZoomAction>().valueToKey(int(action)) << "is not implemented for" << this;
        break;
    }
}

void ImageViewer::applyFitMode()
{
    if (m_zoomAction == ZoomAction::FitPage) {
        fitInView(sceneRect(), Qt::KeepAspectRatio);
        updateZoomValue();
    } else if (m_zoomAction == ZoomAction::FitWidth && qAbs(sceneRect().width()) > 1e-12) {
        const double scale = (viewport()->width() - 4) / sceneRect().width();
        const QTransform t = transform();
        setTransform(QTransform(scale, t.m12(), t.m13(), t.m21(), scale, t.m23(), t.m31(), t.m32(), t.m33()));
        updateZoomValue();
    }
}

BookPageParams* ImageViewer::pageParams() const { return m_bookContext ? m_bookContext->pageParams() : nullptr; }

int ImageViewer::pageStep() const
{
    if (BookPageParams* params = pageParams())
        return params->columnCount();
    return m_document ? m_document->columnCount() : 1;
}

void ImageViewer::turnPages(int direction)
{
    if (!m_document)
        return;
    const int page = m_document->pageNumber();
    const int step = pageStep();
    // With the last page on screen a turn forward stays: clamped to the last page it would start
    // a spread of its own, and every spread going back would be off by one page.
    if (direction > 0 && page + step - 1 >= m_document->pageCount())
        return;
    goPage(page + direction * step);
}

void ImageViewer::goToEnd()
{
    // The last spread in step with the current one, so that turning back from it shows the
    // same spreads as turning forward did.
    const int page = m_document->pageNumber();
    const int step = pageStep();
    const int count = m_document->pageCount();
    goPage(count > page ? page + (count - page) / step * step : count);
}

bool ImageViewer::pageFitsView() const
{
    return horizontalScrollBar()->maximum() < 1 && verticalScrollBar()->maximum() < 1;
}

void ImageViewer::onMouseClicked()
{
    if (m_skipNextClick) {
        m_skipNextClick = false;
        return;
    }
    const QPoint cursor = mapFromGlobal(QCursor::pos());
    turnPages(cursor.x() < width() / 2.0 ? -1 : 1);
}

void ImageViewer::onDragStart()
{
    if (pageFitsView())
        return;
    viewport()->setCursor(Qt::ClosedHandCursor);
    m_scrollStart = QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void ImageViewer::onDragMove(const QPoint& delta)
{
    horizontalScrollBar()->setValue(m_scrollStart.x() + delta.x());
    verticalScrollBar()->setValue(m_scrollStart.y() + delta.y());
}

void ImageViewer::onDragEnd() { viewport()->setCursor(Qt::ArrowCursor); }

void ImageViewer::mousePressEvent(QMouseEvent* event)
{
    if (!handleMousePressEvent(event))
        QGraphicsView::mousePressEvent(event);
}

void ImageViewer::mouseReleaseEvent(QMouseEvent* event)
{
    handleMouseReleaseEvent(event);
    QGraphicsView::mouseReleaseEvent(event);
}

void ImageViewer::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void ImageViewer::mouseMoveEvent(QMouseEvent* event)
{
    const bool frozen = horizontalScrollBar()->minimum() == horizontalScrollBar()->maximum()
        && verticalScrollBar()->minimum() == verticalScrollBar()->maximum();
    if (frozen || !handleMouseMoveEvent(event, Qt::LeftButton | Qt::MiddleButton))
        QGraphicsView::mouseMoveEvent(event);
}

void ImageViewer::wheelEvent(QWheelEvent* event)
{
    const int delta = event->angleDelta().y();
    if (event->modifiers() & Qt::ControlModifier) {
        const int steps = takeWheelSteps(m_zoomWheel, delta);
        for (int i = 0; i < qAbs(steps); ++i)
            setZoomValue(steps > 0 ? ZoomAction::Increment : ZoomAction::Decrement, -1);
        event->accept();
    } else if (pageFitsView()) {
        // A wheel turned down turns forward.
        const int steps = takeWheelSteps(m_pageWheel, delta);
        if (steps != 0)
            turnPages(steps > 0 ? -qAbs(steps) : qAbs(steps));
        event->accept();
    } else {
        QGraphicsView::wheelEvent(event);
    }
}

void ImageViewer::keyPressEvent(QKeyEvent* event)
{
    if (!m_bookContext || !m_document) {
        event->ignore();
        return;
    }
    using Id = Hotkeys::Id;
    if (Hotkeys::matches(event, Id::Nav_NextPage))
        turnPages(1);
    else if (Hotkeys::matches(event, Id::Nav_PrevPage))
        turnPages(-1);
    else if (Hotkeys::matches(event, Id::Nav_ToStart))
        goPage(0);
    else if (Hotkeys::matches(event, Id::Nav_ToEnd))
        goToEnd();
    else if (Hotkeys::matches(event, Id::Zoom_In))
        setZoomValue(ZoomAction::Increment, -1);
    else if (Hotkeys::matches(event, Id::Zoom_Out))
        setZoomValue(ZoomAction::Decrement, -1);
    else if (Hotkeys::matches(event, Id::Zoom_FitWidth))
        setZoomValue(ZoomAction::FitWidth, -1);
    else if (Hotkeys::matches(event, Id::Zoom_FitPage))
        setZoomValue(ZoomAction::FitPage, -1);
    else if (Hotkeys::matches(event, Id::Zoom_Initial))
        setZoomValue(ZoomAction::Initial, -1);
    else if (Hotkeys::matches(event, Id::Switch_ColumnCount))
        pageParams()->setColumnCount(pageParams()->columnCount() == 1 ? 2 : 1);
    else
        event->ignore();
}

void ImageViewer::resizeEvent(QResizeEvent* event)
{
    applyFitMode();
    QGraphicsView::resizeEvent(event);
}

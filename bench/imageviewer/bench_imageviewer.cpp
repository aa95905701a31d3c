// Times the image viewer showing PDF pages one after the other: from goPage to the page's item in
// the scene (render on the pool, hand-over to the GUI thread, scene and fit), against MuPDF alone
// rendering the same pages at the same resolution, and prints the ratio. The time the pool jobs
// spend in the document is printed beside it: the rest is the hand-over and the scene. Last, the
// longest of twenty turns made in a row while pages render (target: under a frame, 16 ms).
//
//     QT_QPA_PLATFORM=offscreen bench_imageviewer [file.pdf] [pages] [rounds]
//
// Without a file it writes the realistic book of bench/pdf. The engine is taken from beside the
// benchmark's build (bin/).
#include "bookcontext.h"
#include "bookpageparams.h"
#include "customgraphicspixmapitem.h"
#include "imageviewer.h"
#include "pdfbenchbook.h"
#include "pdfdocument.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGraphicsScene>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>

namespace {

// The viewer opens the benchmark's file whatever the book record says.
class BenchPdf : public PdfDocument {
public:
    BenchPdf(const QString& path, QObject* parent)
        : PdfDocument(parent)
        , m_path(path)
    {
    }
    void load(const QString&) override { PdfDocument::load(m_path); }
    QImage requestImage(int page, double scale) override
    {
        QElapsedTimer t;
        t.start();
        QImage image = PdfDocument::requestImage(page, scale);
        renderNs += t.nsecsElapsed();
        return image;
    }
    // Time spent rendering inside the pool jobs.
    static inline std::atomic<qint64> renderNs { 0 };

private:
    QString m_path;
};

class BenchViewer : public ImageViewer {
public:
    explicit BenchViewer(const QString& path)
        : m_path(path)
    {
    }
    ImageDocument* createDocument(int) override { return new BenchPdf(m_path, this); }

    qint64 shownImageKey() const
    {
        const QList<QGraphicsItem*> items = scene()->items();
        return items.isEmpty() ? 0 : static_cast<CustomGraphicsPixmapItem*>(items.first())->image().cacheKey();
    }

private:
    QString m_path;
};

// Pages first .. first + count - 1 (from 1), each from goPage until its item is in the scene.
qint64 showPages(BenchViewer& viewer, int first, int count)
{
    QElapsedTimer timer;
    timer.start();
    for (int page = first; page < first + count; ++page) {
        const qint64 before = viewer.shownImageKey();
        viewer.goPage(page);
        while (viewer.shownImageKey() == before || viewer.isRendering())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return timer.elapsed();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    pdfbench::prepareRun();
    QTemporaryDir scratch;
    const QString path = pdfbench::bookFile(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(), scratch.path());
    const int count = argc > 2 ? qMax(1, atoi(argv[2])) : 40;
    const int rounds = argc > 3 ? qMax(1, atoi(argv[3])) : 3;
    if (path.isEmpty())
        return 1;

    QSharedPointer<BookContext> context(new BookContext);
    // One page at a time, as MuPDF renders it.
    context->pageParams()->setColumnCount(1);
    BenchViewer viewer(path);
    viewer.resize(1280, 1000);
    // Not shown: painting the page comes after the measured moment and would overlap the next
    // render.
    if (!viewer.readBook(context) || viewer.document()->pageCount() < 2) {
        std::fprintf(stderr, "the viewer could not open %s\n", qPrintable(path));
        return 1;
    }
    const int pages = qMin(count, viewer.document()->pageCount() - 1);
    // What the viewer asks the document for: 96 dpi at 100 %, the PDF's own factor and the
    // screen's pixel ratio.
    const int dpi = qRound(96.0 * viewer.document()->scaleFactor() * viewer.devicePixelRatioF());
    qint64 bestViewer = -1;
    qint64 bestMuPdf = -1;
    for (int round = 1; round <= rounds; ++round) {
        viewer.goPage(1);
        while (viewer.isRendering())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // Page 1 was shown at opening; the pages after it are turned to one by one.
        BenchPdf::renderNs = 0;
        const qint64 shown = showPages(viewer, 2, pages);
        const qint64 rendering = BenchPdf::renderNs / 1000000;
        qint64 pixels = 0;
        const qint64 direct = pdfbench::renderWithMuPdf(path, 1, pages, dpi, &pixels);
        if (direct < 0)
            return 1;
        std::printf(
            "round %d: viewer %lld ms (%lld of them rendering on the pool), MuPDF %lld ms for %d pages at %d dpi\n",
            round, shown, rendering, direct, pages, dpi);
        bestViewer = bestViewer < 0 ? shown : qMin(bestViewer, shown);
        bestMuPdf = bestMuPdf < 0 ? direct : qMin(bestMuPdf, direct);
    }
    std::printf("best of %d: goPage to item %.2f ms/page, MuPDF alone %.2f ms/page\n", rounds,
        double(bestViewer) / pages, double(bestMuPdf) / pages);
    std::printf(
        "ratio viewer / MuPDF: %.3f (target 1.0 to 1.3)\n", bestMuPdf > 0 ? double(bestViewer) / bestMuPdf : 0.0);

    // A turn does not wait for the render before it: each returns to the event loop at once.
    qint64 longestTurn = 0;
    const int turns = qMin(20, viewer.document()->pageCount() - 1);
    for (int page = 2; page < 2 + turns; ++page) {
        QElapsedTimer turn;
        turn.start();
        viewer.goPage(page);
        longestTurn = qMax(longestTurn, turn.nsecsElapsed());
    }
    while (viewer.isRendering())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    std::printf("turns while pages render: longest of %d %.2f ms (target < 16)\n", turns, longestTurn / 1e6);
    return 0;
}

// Renders every page of a large PDF at scale 1 (192 dpi) through PdfDocument::requestImage and
// through MuPDF directly, in one run, and prints both times and their ratio.
//
//     bench_pdfrender [file.pdf] [rounds]
//
// Without a file it writes a realistic book of its own: 160 Letter pages of body text in two
// fonts with headings and page numbers, a bar chart every fourth page and a photograph-like
// JPEG every sixth. The engine is taken from beside the benchmark's build (bin/).
#include "pdfbenchbook.h"
#include "pdfdocument.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

namespace {

qint64 renderWithDocument(const QString& path, int* pages, qint64* pixels)
{
    PdfDocument document;
    document.load(path);
    *pages = document.pageCount();
    QElapsedTimer timer;
    timer.start();
    for (int page = 1; page <= *pages; ++page) {
        const QImage image = document.requestImage(page, 1.0);
        if (image.isNull())
            std::fprintf(stderr, "PdfDocument could not render page %d\n", page);
        *pixels += qint64(image.width()) * image.height();
    }
    return timer.elapsed();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    pdfbench::prepareRun();
    QTemporaryDir scratch;
    const QString path = pdfbench::bookFile(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(), scratch.path());
    const int rounds = argc > 2 ? qMax(1, atoi(argv[2])) : 3;
    if (path.isEmpty())
        return 1;

    const int dpi = qRound(2.0 * 96.0);
    qint64 bestDocument = -1;
    qint64 bestMuPdf = -1;
    int pages = 0;
    for (int round = 1; round <= rounds; ++round) {
        qint64 documentPixels = 0;
        qint64 muPdfPixels = 0;
        const qint64 viaDocument = renderWithDocument(path, &pages, &documentPixels);
        if (pages == 0) {
            std::fprintf(stderr, "PdfDocument could not open %s\n", qPrintable(path));
            return 1;
        }
        const qint64 direct = pdfbench::renderWithMuPdf(path, 0, pages, dpi, &muPdfPixels);
        if (direct < 0) {
            std::fprintf(stderr, "MuPDF could not open %s\n", qPrintable(path));
            return 1;
        }
        std::printf("round %d: PdfDocument %lld ms, MuPDF %lld ms for %d pages (%.1f / %.1f Mpx)\n", round, viaDocument,
            direct, pages, documentPixels / 1e6, muPdfPixels / 1e6);
        bestDocument = bestDocument < 0 ? viaDocument : qMin(bestDocument, viaDocument);
        bestMuPdf = bestMuPdf < 0 ? direct : qMin(bestMuPdf, direct);
    }
    std::printf("best of %d: PdfDocument::requestImage %.2f ms/page, MuPDF direct %.2f ms/page at %d dpi\n", rounds,
        double(bestDocument) / pages, double(bestMuPdf) / pages, dpi);
    std::printf(
        "ratio PdfDocument / MuPDF: %.3f (target <= 1.3)\n", bestMuPdf > 0 ? double(bestDocument) / bestMuPdf : 0.0);
    return 0;
}

#include "pdfbenchbook.h"

#include "pdfenginefile.h"
#include "pdfwriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <mupdf/fitz.h>

#include <cstdio>

namespace {

QString sentence(QRandomGenerator& random)
{
    static const char* const words[] = { "the", "reader", "library", "of", "pages", "and", "a", "book", "night",
        "river", "morning", "quietly", "turned", "towards", "light", "in", "which", "every", "chapter", "story",
        "remembered", "garden", "between", "letters", "northern", "window", "was", "old", "with", "silence" };
    QString text;
    const int count = 12 + random.bounded(6);
    for (int i = 0; i < count; ++i) {
        QString word = QString::fromLatin1(words[random.bounded(int(sizeof words / sizeof *words))]);
        if (i == 0)
            word[0] = word[0].toUpper();
        text += word + (i + 1 < count ? (random.bounded(9) == 0 ? QStringLiteral(", ") : QStringLiteral(" ")) : ".");
    }
    return text;
}

QImage photograph(QRandomGenerator& random)
{
    QImage image(900, 600, QImage::Format_RGB32);
    const int hue = random.bounded(360);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QColor color
                = QColor::fromHsv((hue + x / 8 + y / 12) % 360, 90 + (x * y) % 120, 120 + random.bounded(100));
            line[x] = color.rgb();
        }
    }
    return image;
}

void quiet(void*, const char*) { }

// One page as a MuPDF-based viewer renders it; its pixel count, 0 when it fails.
qint64 renderPage(fz_context* ctx, fz_document* doc, int number, int dpi)
{
    fz_pixmap* pixmap = nullptr;
    qint64 pixels = 0;
    fz_var(pixmap);
    fz_var(pixels);
    fz_try(ctx)
    {
        pixmap = fz_new_pixmap_from_page_number(
            ctx, doc, number, fz_scale(dpi / 72.0f, dpi / 72.0f), fz_device_rgb(ctx), 0);
        pixels = qint64(pixmap->w) * pixmap->h;
    }
    fz_always(ctx) fz_drop_pixmap(ctx, pixmap);
    fz_catch(ctx) std::fprintf(stderr, "MuPDF could not render page %d\n", number + 1);
    return pixels;
}

void dropInfo(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtInfoMsg && type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

namespace pdfbench {

void prepareRun()
{
    qInstallMessageHandler(dropInfo);
    const QString binDir = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../bin"));
    pdfengine::setLibraryPath(binDir + QLatin1Char('/') + pdfengine::fileName());
}

QString bookFile(const QString& given, const QString& folder)
{
    if (!given.isEmpty())
        return given;
    const QString path = QDir(folder).filePath(QStringLiteral("book.pdf"));
    QElapsedTimer timer;
    timer.start();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(makeBook()) < 0 || !file.flush())
        return QString();
    std::printf("wrote %s: %d pages, %.1f MB in %lld ms\n", qPrintable(path), bookPages,
        QFileInfo(path).size() / 1048576.0, timer.elapsed());
    return path;
}

const int bookPages = 160;

QByteArray makeBook(int pages)
{
    QRandomGenerator random(20240601);
    PdfWriter pdf;
    pdf.setInfo("Title", QStringLiteral("Benchmark Book"));
    QList<PdfWriter::OutlineItem> outline;
    for (int number = 1; number <= pages; ++number) {
        const int page = pdf.addPage();
        double y = 80;
        if (number % 10 == 1) {
            const QString heading = QStringLiteral("Chapter %1").arg(number / 10 + 1);
            pdf.addText(page, QPointF(72, y), 22, heading, PdfWriter::Font::HelveticaBold);
            outline.append({ heading, number, {} });
            y += 40;
        }
        if (number % 4 == 0) {
            for (int bar = 0; bar < 12; ++bar) {
                const double height = 20 + random.bounded(120);
                pdf.addRect(
                    page, QRectF(90 + bar * 36, y + 150 - height, 24, height), QColor::fromHsv(bar * 30, 160, 200));
            }
            pdf.addRect(page, QRectF(84, y + 150, 440, 1), Qt::black);
            y += 170;
        }
        if (number % 6 == 0) {
            pdf.addImage(page, QRectF(108, y, 396, 264), photograph(random), true);
            y += 280;
        }
        while (y < 720) {
            pdf.addText(page, QPointF(72, y), 10.5, sentence(random), PdfWriter::Font::TimesRoman);
            y += 13.5;
        }
        pdf.addText(page, QPointF(300, 760), 9, QString::number(number), PdfWriter::Font::Helvetica);
    }
    pdf.setOutline(outline);
    return pdf.toPdf();
}

qint64 renderWithMuPdf(const QString& path, int first, int pages, int dpi, qint64* pixels)
{
    fz_context* ctx = fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT);
    fz_set_warning_callback(ctx, quiet, nullptr);
    fz_set_error_callback(ctx, quiet, nullptr);
    fz_register_document_handlers(ctx);
    const QByteArray name = QFile::encodeName(path);
    fz_document* doc = nullptr;
    fz_try(ctx) doc = fz_open_document(ctx, name.constData());
    fz_catch(ctx)
    {
        fz_drop_context(ctx);
        return -1;
    }
    QElapsedTimer timer;
    timer.start();
    for (int number = first; number < first + pages; ++number)
        *pixels += renderPage(ctx, doc, number, dpi);
    const qint64 elapsed = timer.elapsed();
    fz_drop_document(ctx, doc);
    fz_drop_context(ctx);
    return elapsed;
}

} // namespace pdfbench

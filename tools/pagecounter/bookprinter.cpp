#include "bookprinter.h"

#include "chapterlayout.h"

#include <QDir>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QtDebug>

namespace {

// Web pages are laid out in CSS pixels of 1/96 inch.
constexpr qreal kCssDpi = 96.0;

// Applies the printer settings of a request; values out of range keep the printer's own.
bool setUp(QPrinter& printer, const PrintRequest& request)
{
    // A request's text names the PDF file a reader's PDF printer writes to.
    QString file = request.text;
    if (!file.isEmpty() && !QDir::isAbsolutePath(file)) {
        qWarning() << "The print file is not an absolute path:" << file;
        return false;
    }
    if (file.isEmpty())
        file = qEnvironmentVariable(BookPrinter::kOutputVariable);
    if (!file.isEmpty()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
    } else if (!request.printerName.isEmpty()) {
        if (QPrinterInfo::printerInfo(request.printerName).isNull()) {
            qWarning() << "No printer named" << request.printerName;
            return false;
        }
        printer.setPrinterName(request.printerName);
    }
    if (request.colorMode == QPrinter::GrayScale || request.colorMode == QPrinter::Color)
        printer.setColorMode(QPrinter::ColorMode(request.colorMode));
    if (request.orientation == QPageLayout::Portrait || request.orientation == QPageLayout::Landscape)
        printer.setPageOrientation(QPageLayout::Orientation(request.orientation));
    if (request.pageSizeId >= 0 && request.pageSizeId <= QPageSize::LastPageSize
        && request.pageSizeId != QPageSize::Custom)
        printer.setPageSize(QPageSize(QPageSize::PageSizeId(request.pageSizeId)));
    printer.setCopyCount(int(qBound<qint64>(1, request.copyCount, 999)));
    return true;
}

} // namespace

BookPrinter::BookPrinter(ChapterLayout* layout, const QString& engineScript, std::function<bool()> stopped)
    : m_layout(layout)
    , m_engineScript(engineScript)
    , m_stopped(std::move(stopped))
{
}

int BookPrinter::print(const QList<ChapterPageInfo>& chapters, const PrintRequest& request, const QString& fontFamily)
{
    QPrinter printer(QPrinter::HighResolution);
    if (!setUp(printer, request))
        return -1;
    QPainter painter;
    if (!painter.begin(&printer)) {
        qWarning() << "Cannot print to" << printer.printerName() << printer.outputFileName();
        return -1;
    }
    const QRectF area = printer.pageLayout().paintRect(QPageLayout::Inch);
    const int width = qMax(1, qRound(area.width() * kCssDpi));
    const int height = qMax(1, qRound(area.height() * kCssDpi));
    const qreal scale = printer.resolution() / kCssDpi;
    // The reader's gap and margins stay; paper is white whatever the screen style, and the book
    // keeps its own colours as in the day look.
    const QString paperFormat
        = QStringLiteral("replaceOrAddStyle('body_style_1', 'body{ background-color: #ffffff !important; color: "
                         "#000000}');replaceOrAddStyle('book_colors_style', '');"
                         "setPageDim(1, page.gap, %1, %2, page.margine);")
              .arg(width)
              .arg(height);

    m_layout->setFont(request.fontSize, fontFamily);
    int pages = 0;
    for (const ChapterPageInfo& chapter : chapters) {
        if (m_stopped())
            break;
        if (!m_layout->open(chapter.fileUrl, m_engineScript))
            continue;
        m_layout->evaluate(request.pageFormatScript);
        const int count = m_layout->applyFormat(paperFormat);
        for (int page = 1; page <= count && !m_stopped(); ++page) {
            if (!m_layout->showPage(page))
                continue;
            if (pages > 0)
                printer.newPage();
            painter.save();
            painter.scale(scale, scale);
            m_layout->render(&painter);
            painter.restore();
            ++pages;
        }
    }
    painter.end();
    qInfo() << "Printed" << pages << "pages to"
            << (printer.outputFileName().isEmpty() ? printer.printerName() : printer.outputFileName());
    return pages;
}

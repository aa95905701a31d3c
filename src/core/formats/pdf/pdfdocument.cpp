#include "pdfdocument.h"
#include "debenupdflibrarydllqt1016.h"
#include "engine/pdfengineerrors.h"
#include "kellogger/tracelogger.h"
#include "pagebuffers.h"
#include "pdfenginefile.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QPointer>
#include <QTextStream>
#include <QThread>

#include <cmath>
#include <mutex>

namespace {

struct SharedLibrary {
    std::once_flag created;
    QPointer<DebenuPDFLibraryDLLQt1016> library;
    // Held around every sequence of library calls: the library has one selected document and
    // page per instance, and string results that the next call replaces.
    QMutex mutex;
};

SharedLibrary& shared()
{
    static SharedLibrary instance;
    return instance;
}

void createLibrary()
{
    auto* library = new DebenuPDFLibraryDLLQt1016(pdfengine::libraryPath());
    QCoreApplication* application = QCoreApplication::instance();
    if (application) {
        if (library->thread() == application->thread()) {
            library->setParent(application);
        } else {
            // A QObject can only take a parent of its own thread, and the application's list of
            // children belongs to the application's thread: move first, then adopt it there.
            library->moveToThread(application->thread());
            QPointer<DebenuPDFLibraryDLLQt1016> guarded(library);
            QMetaObject::invokeMethod(
                application,
                [guarded, application] {
                    if (guarded && !guarded->parent())
                        guarded->setParent(application);
                },
                Qt::QueuedConnection);
        }
    }
    shared().library = library;
}

// The library, made on first use; null once its owner has deleted it.
DebenuPDFLibraryDLLQt1016* library()
{
    std::call_once(shared().created, createLibrary);
    return shared().library.data();
}

// The text of a line of GetPageText(2): everything after the fifth comma, so a fragment may
// hold commas itself. A null string for a line with fewer fields.
QString textFragment(const QString& line)
{
    int comma = -1;
    for (int i = 0; i < 5; ++i) {
        comma = line.indexOf(QLatin1Char(','), comma + 1);
        if (comma < 0)
            return QString();
    }
    return line.mid(comma + 1);
}

} // namespace

QString pdfErrorText(int code)
{
    static const QHash<int, QString> texts {
        { 101, QStringLiteral("The Strength parameter passed to the Encrypt function was invalid") },
        { 102,
            QStringLiteral("The Permissions parameter passed to the Encrypt function was invalid. Use the "
                           "EncodePermissions function to construct a value for this parameter") },
        { 103, QStringLiteral("The Encrypt function was used on a document that was already encrypted") },
        { 104, QStringLiteral("The Encrypt function failed for an unknown reason") },
        { 201, QStringLiteral("The SetInformation function failed because the document is encrypted") },
        { 202, QStringLiteral("The Key parameter passed to the SetInformation function was out of range") },
        { 301, QStringLiteral("An invalid combination of barcode and option was sent to the DrawBarcode function") },
        { 302, QStringLiteral("Non-numeric characters were sent to DrawBarcode using EAN-13") },
        { 303, QStringLiteral("The EAN-13 barcode has an invalid checksum character") },
        { 401, QStringLiteral("Could not open input file") },
        { 402, QStringLiteral("Output file already exists and could not be deleted") },
        { 403, QStringLiteral("Could not open output file") },
        { 404, QStringLiteral("Invalid password") },
        { 405, QStringLiteral("Document is not encrypted") },
        { 406, QStringLiteral("Document is already encrypted") },
        { 407, QStringLiteral("Invalid encryption strength") },
        { 408, QStringLiteral("Invalid permissions") },
        { 409, QStringLiteral("Invalid file structure, file is damaged") },
        { 410, QStringLiteral("One of the input files is encrypted") },
        { 411, QStringLiteral("File not found") },
        { 412, QStringLiteral("Invalid page range list") },
        { 501, QStringLiteral("The specified FileHandle was invalid") },
        // The engine's own codes.
        { PdfEngineError::NoDocument, QStringLiteral("No document is selected") },
        { PdfEngineError::InvalidPage, QStringLiteral("Page number out of range") },
        { PdfEngineError::InvalidArgument, QStringLiteral("Invalid argument") },
        { PdfEngineError::RenderFailed, QStringLiteral("The page could not be rendered") },
        { PdfEngineError::InvalidOutline, QStringLiteral("Invalid outline item") },
        { PdfEngineError::OperationFailed, QStringLiteral("The document could not be read") },
        { PdfEngineError::OutOfMemory, QStringLiteral("Out of memory") },
        { PdfEngineError::NotSupported, QStringLiteral("Not supported by the PDF engine") },
    };
    return texts.value(code, QStringLiteral("UnknownError"));
}

PdfDocument::PdfDocument(QObject* parent)
    : ImageDocument(parent)
{
    library();
}

PdfDocument::~PdfDocument()
{
    {
        QMutexLocker lock(&shared().mutex);
        if (m_documentId > 0 && shared().library)
            shared().library->RemoveDocument(m_documentId);
    }
    // A closed book's spare page memory would only keep the reader large.
    PageBuffers::releaseSpares();
}

DebenuPDFLibraryDLLQt1016* PdfDocument::sharedLibrary() { return shared().library.data(); }

DebenuPDFLibraryDLLQt1016* PdfDocument::selectDocument() const
{
    DebenuPDFLibraryDLLQt1016* pdf = shared().library.data();
    if (!m_loaded || !pdf)
        return nullptr;
    if (!pdf->SelectDocument(m_documentId)) {
        qWarning() << "SelectDocument(" << m_documentId << ") FAILED!" << pdfErrorText(pdf->LastErrorCode());
        return nullptr;
    }
    return pdf;
}

void PdfDocument::load(const QString& path)
{
    TraceLogger trace("PdfDocument::load", QStringLiteral("Load pdf %1").arg(path));
    QMutexLocker lock(&shared().mutex);
    DebenuPDFLibraryDLLQt1016* pdf = library();
    m_passwordRequired = false;
    m_loaded = false;
    m_pageCount = 0;
    m_title.clear();
    m_author.clear();
    m_creator.clear();
    if (!pdf || !pdf->LibraryLoaded()) {
        qCritical() << "LoadFromFile(" << path << ") FAILED! The PDF engine is not available:"
                    << (pdf ? pdf->loadError() : QStringLiteral("the library object is gone"));
        return;
    }
    // A reload replaces the earlier document instead of leaving it in the library.
    if (m_documentId > 0) {
        pdf->RemoveDocument(m_documentId);
        m_documentId = 0;
    }
    if (!pdf->LoadFromFile(path, m_password)) {
        const int code = pdf->LastErrorCode();
        m_passwordRequired = code == PdfEngineError::InvalidPassword;
        qCritical() << "LoadFromFile(" << path << "," << (m_password.isEmpty() ? "empty password" : "password")
                    << "FAILED!" << pdfErrorText(code);
        return;
    }
    m_documentId = pdf->SelectedDocument();
    m_loaded = m_documentId > 0;
    if (!m_loaded) {
        qCritical() << "LoadFromFile(" << path << ") gave no document id";
        return;
    }
    // Read once here: the GUI thread asks for these often, and must not wait for a render.
    m_pageCount = qMax(0, pdf->PageCount());
    m_author = pdf->GetInformation(1);
    m_title = pdf->GetInformation(2);
    m_creator = pdf->GetInformation(5);
    // A new load may be another file: its outline is read afresh.
    m_tocBuilt = false;
    m_tocRoot.children.clear();
}

QString PdfDocument::title() const { return m_title; }

int PdfDocument::pageCount() const { return m_pageCount; }

QList<TocPoint> PdfDocument::toc() const
{
    if (m_tocBuilt)
        return m_tocRoot.children;
    QMutexLocker lock(&shared().mutex);
    DebenuPDFLibraryDLLQt1016* pdf = selectDocument();
    if (!pdf)
        return {};
    // A guard against an outline that never ends; the engine breaks cycles itself.
    int budget = 1000000;
    QList<TocPoint> items;
    readOutline(pdf, pdf->GetFirstOutline(), items, 1, budget);
    m_tocRoot.children = items;
    m_tocBuilt = true;
    return items;
}

void PdfDocument::readOutline(
    DebenuPDFLibraryDLLQt1016* pdf, int first, QList<TocPoint>& items, int depth, int& budget) const
{
    // Siblings in a loop, levels by recursion bounded by maxOutlineDepth: a chain of any length
    // costs no stack.
    for (int id = first; id > 0 && budget > 0; id = pdf->GetNextOutline(id)) {
        --budget;
        TocPoint point;
        point.title = pdf->OutlineTitle(id);
        const int page = pdf->GetOutlinePage(id);
        point.index = page;
        point.link->page = page;
        if (depth < maxOutlineDepth)
            readOutline(pdf, pdf->GetFirstChildOutline(id), point.children, depth + 1, budget);
        items.append(point);
    }
}

QList<SearchItem> PdfDocument::search(const QString& query)
{
    if (!m_loaded || query.isEmpty())
        return {};
    QList<SearchItem> results = pageNumberHit(query);
    for (int page = 1; page <= m_pageCount; ++page) {
        QString text;
        {
            // One page at a time, so renders of other documents can run in between.
            QMutexLocker lock(&shared().mutex);
            DebenuPDFLibraryDLLQt1016* pdf = selectDocument();
            if (!pdf)
                break;
            if (!pdf->SelectPage(page))
                continue;
            text = pdf->GetPageText(2);
        }
        QTextStream stream(&text, QIODevice::ReadOnly);
        QString line;
        while (stream.readLineInto(&line)) {
            if (line.isEmpty())
                continue;
            const QString fragment = textFragment(line);
            if (fragment.isNull() || !fragment.contains(query, Qt::CaseInsensitive))
                continue;
            SearchItem item;
            item.link->page = page;
            item.text = fragment;
            item.query = query;
            results.append(item);
        }
    }
    return results;
}

QSize PdfDocument::imageSize(const QSizeF& points, double& dpi)
{
    const double width = points.width() * dpi / 72.0;
    const double height = points.height() * dpi / 72.0;
    if (!(width >= 0.5 && height >= 0.5) || !std::isfinite(width * height))
        return QSize();
    const double shrink = std::fmin(1.0,
        std::fmin(
            std::fmin(maxImageSide / width, maxImageSide / height), std::sqrt(maxImagePixels / (width * height))));
    if (shrink >= 1.0 && qRound(width) <= maxImageSide && qRound(height) <= maxImageSide
        && qint64(qRound(width)) * qRound(height) <= maxImagePixels)
        return QSize(qRound(width), qRound(height));
    // Rounded down so the caps hold; at least one pixel a side.
    dpi *= shrink;
    return QSize(qBound(1, int(std::floor(width * shrink)), maxImageSide),
        qBound(1, int(std::floor(height * shrink)), maxImageSide));
}

QImage PdfDocument::requestImage(int page, double scale)
{
    if (!std::isfinite(scale) || scale <= 0 || scale > 64)
        return QImage();
    const int dpi = qRound(scaleFactor() * (scale * 96.0));
    QElapsedTimer timer;
    timer.start();

    QMutexLocker lock(&shared().mutex);
    if (!m_loaded || page < 1 || page > m_pageCount || dpi <= 0)
        return QImage();
    DebenuPDFLibraryDLLQt1016* pdf = selectDocument();
    if (!pdf)
        return QImage();
    if (!pdf->SelectPage(page)) {
        const int code = pdf->LastErrorCode();
        qCritical() << "SelectPage(" << page << ") FAILED!"
                    << QStringLiteral("%1 (%2)").arg(code).arg(pdfErrorText(code));
        return QImage();
    }
    int width = qRound(pdf->PageWidth());
    int height = qRound(pdf->PageHeight());
    const int rotation = pdf->PageRotation();
    if (rotation == 90 || rotation == 270)
        std::swap(width, height);

    double renderDpi = dpi;
    const QSize size = imageSize(QSizeF(width, height), renderDpi);
    if (size.isEmpty()) {
        qWarning() << "Page" << page << "has no area:" << width << "x" << height << "points";
        return QImage();
    }
    QImage image = PageBuffers::newImage(size, QImage::Format_RGB32);
    if (image.isNull()) {
        qCritical() << "No memory for page" << page << "at" << size;
        return QImage();
    }
    // The engine draws straight into the image's memory.
    PdfPixelBuffer target { image.bits(), image.width(), image.height(), int(image.bytesPerLine()) };
    if (!pdf->RenderPageToDC(renderDpi, page, &target)) {
        const int code = pdf->LastErrorCode();
        qCritical() << "RenderPageToDC(" << dpi << "," << page << ") FAILED!"
                    << QStringLiteral("%1 (%2)").arg(code).arg(pdfErrorText(code));
        return QImage();
    }
    lock.unlock();

    image.setDevicePixelRatio(scale);
    qInfo() << "Request image DONE in" << timer.elapsed() << "msec."
            << "Page:" << page << "dpi:" << renderDpi << "page" << QSize(width, height) << "img" << image.size();
    return image;
}

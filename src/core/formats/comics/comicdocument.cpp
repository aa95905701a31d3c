#include "comicdocument.h"

#include "naturalorder.h"

#include "appdirs.h"
#include "arch/archivereader.h"
#include "arch/safepath.h"
#include "kellogger/tracelogger.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>

namespace {

const char* const kPageSuffixes[] = { "jpg", "jpeg", "png", "gif", "bmp", "webp" };

// Pages are unpacked apart from the book's own files (the library's cover.png, the reading
// state), so that no page name can overwrite them.
QString pagesDir(const QString& dataFolder) { return dataFolder + QStringLiteral("/pages"); }

QImage readPage(const QString& file, double scale)
{
    QImageReader reader(file);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!size.isValid()) {
        qWarning() << "The page" << file << "is not an image:" << reader.errorString();
        return QImage();
    }
    if (qint64(size.width()) * size.height() > ComicDocument::maxImagePixels) {
        qWarning() << "The page" << file << "is not decoded: it has" << size.width() << "x" << size.height()
                   << "pixels";
        return QImage();
    }
    QImage image = reader.read();
    if (image.isNull()) {
        qWarning() << "The page" << file << "cannot be decoded:" << reader.errorString();
        return image;
    }
    if (scale > 0)
        image.setDevicePixelRatio(scale);
    return image;
}

} // namespace

ComicDocument::ComicDocument(QObject* parent)
    : ImageDocument(parent)
    , m_state(std::make_shared<State>())
{
}

ComicDocument::~ComicDocument() = default;

std::shared_ptr<const ComicDocument::State> ComicDocument::state() const
{
    QMutexLocker lock(&m_mutex);
    return m_state;
}

bool ComicDocument::isPageName(const QString& entryName)
{
    QString name = entryName;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (name.endsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return false;
    // Resource forks of archives made on macOS ("__MACOSX/", "._01.jpg") and other hidden files.
    for (const QString& part : parts) {
        if (part.compare(QLatin1String("__MACOSX"), Qt::CaseInsensitive) == 0)
            return false;
    }
    const QString& fileName = parts.last();
    if (fileName.startsWith(QLatin1Char('.')))
        return false;
    const QString suffix = QFileInfo(fileName).suffix();
    return std::any_of(std::begin(kPageSuffixes), std::end(kPageSuffixes),
        [&suffix](const char* known) { return suffix.compare(QLatin1String(known), Qt::CaseInsensitive) == 0; });
}

void ComicDocument::load(const QString& path)
{
    TraceLogger trace("ComicDocument::load", QStringLiteral("Load comcics %1").arg(path));
    auto loaded = std::make_shared<State>();
    loaded->archivePath = path;
    loaded->pagesDir = pagesDir(m_dataFolder.isEmpty() ? bookDataDir(path) : m_dataFolder);
    loaded->reader.reset(createArchiveReader(path));
    const QStringList names = loaded->reader->files(path);
    for (const QString& name : names) {
        if (isPageName(name))
            loaded->pages.append(name);
    }
    std::sort(loaded->pages.begin(), loaded->pages.end(), naturalLessThan);
    qInfo() << "Page count:" << QString::number(loaded->pages.size());

    QMutexLocker lock(&m_mutex);
    m_state = std::move(loaded);
}

QString ComicDocument::title() const
{
    return QFileInfo(state()->archivePath).baseName().replace(QLatin1Char('_'), QLatin1Char(' '));
}

int ComicDocument::pageCount() const { return state()->pages.size(); }

QStringList ComicDocument::pageNames() const { return state()->pages; }

QList<TocPoint> ComicDocument::toc() const
{
    const int count = pageCount();
    QList<TocPoint> points;
    points.reserve(count);
    for (int page = 1; page <= count; ++page) {
        TocPoint point;
        point.title
            = QCoreApplication::translate("MainWindow_Reading_Toc", "Page %1", "Comics document TOC item").arg(page);
        point.link->page = page;
        point.index = page;
        points.append(point);
    }
    return points;
}

QList<SearchItem> ComicDocument::search(const QString& query) { return pageNumberHit(query); }

QImage ComicDocument::requestImage(int page, double scale)
{
    const std::shared_ptr<const State> current = state();
    if (page < 1 || page > current->pages.size())
        return QImage();
    const QString& entry = current->pages.at(page - 1);
    const QString& dir = current->pagesDir;
    QString outPath;
    if (!current->reader->extract(current->archivePath, entry, dir, outPath) || outPath.isEmpty()) {
        qWarning() << "Cannot unpack page" << page << "(" << entry << ") of" << current->archivePath;
        return QImage();
    }
    // The ZIP reader matches names regardless of case and reports the last file it wrote;
    // the page's own file is the one named exactly like its entry.
    const QString exact = safeEntryPath(dir, entry);
    return readPage(!exact.isEmpty() && QFileInfo(exact).isFile() ? exact : outPath, scale);
}

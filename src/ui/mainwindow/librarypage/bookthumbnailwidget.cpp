#include "bookthumbnailwidget.h"

#include "kelui.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "styles/kelstyle.h"
#include "ui.h"
#include "utils/kelpixmapcache.h"

#include <QApplication>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QSet>
#include <QThreadPool>
#include <QtMath>

namespace {

// Larger images are refused before decoding: their pixel buffer alone would take gigabytes.
constexpr qint64 kMaxCoverPixels = 100000000;

QString ratioText(double ratio) { return QString::number(ratio, 'g', QLocale::FloatingPointShortest); }

QColor black(double alpha) { return QColor(0, 0, 0, qRound(alpha * 255)); }

ThumbnailGeometry makeGeometry(int mode)
{
    ThumbnailGeometry g;
    g.mode = mode;
    const QList<ShadowSpec> large { { 0, 4, 12, black(0.1) }, { 0, 1, 4, black(0.12) }, { 0, 0, 2, black(0.08) } };
    switch (mode) {
    case 1:
        g.coverSize = QSize(166, 249);
        g.cornerRadius = 6;
        g.shadowMargins = QMargins(24, 12, 24, 32);
        g.shadows = large;
        g.cardLayout = { { 4, 4, 4, 4 }, 25, 6 };
        break;
    case 2:
        g.coverSize = QSize(266, 400);
        g.cornerRadius = 6;
        g.shadowMargins = QMargins(24, 16, 24, 16);
        g.shadows = large;
        break;
    default:
        g.mode = 0;
        g.coverSize = QSize(43, 64);
        g.cornerRadius = 3;
        g.shadowMargins = QMargins(24, 8, 12, 8);
        g.shadows = { { 0, 1, 2, black(0.08) }, { 0, 2, 4, black(0.08) } };
        g.rowLayout = { { 90, 8, 2, 2 }, { 2, 226, 6, 32 }, 24 };
        break;
    }
    return g;
}

// The cover scaled to cover the device size and cut to it around the centre; a null image when the
// file is missing, unreadable or too large.
QImage readCover(const QString& path, const QSize& deviceSize)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize declared = reader.size();
    if (qint64(declared.width()) * declared.height() > kMaxCoverPixels) {
        qWarning() << "Cover image too large:" << path << declared;
        return QImage();
    }
    if (declared.isValid() && reader.supportsOption(QImageIOHandler::ScaledSize)) {
        // The decoder scales before the orientation is applied, so compare against the upright size.
        const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
        const QSize upright = turned ? declared.transposed() : declared;
        const double scale
            = qMax(double(deviceSize.width()) / upright.width(), double(deviceSize.height()) / upright.height());
        if (scale < 1.0)
            reader.setScaledSize(QSize(qCeil(declared.width() * scale), qCeil(declared.height() * scale)));
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        qWarning() << "Cannot read cover image" << path << reader.errorString();
        return QImage();
    }
    const QImage scaled = image.scaled(deviceSize, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    QRect cut(QPoint(0, 0), deviceSize);
    cut.moveCenter(scaled.rect().center());
    return scaled.copy(cut.intersected(scaled.rect()));
}

KelPixmapCache* fallbackCache(QPointer<KelPixmapCache>& cache, const char* name, int megabytes)
{
    if (!cache) {
        cache = new KelPixmapCache(qApp);
        cache->setObjectName(QLatin1String(name));
        cache->setCacheLimit(megabytes);
    }
    return cache;
}

KelPixmapCache* shadowCache()
{
    if (KelUi* ui = KelUi::instance())
        return ui->shadowCache();
    static QPointer<KelPixmapCache> cache;
    return fallbackCache(cache, "KelShadowCache", 50);
}

KelPixmapCache* textBlockCache()
{
    static QPointer<KelPixmapCache> cache;
    return fallbackCache(cache, "ThumbTextCache", 32);
}

// Reads covers on the global pool, one job per key at a time, and keeps the registry of the keys made
// for each path. A generation per path tells results of dropped paths from current ones.
class ThumbnailLoader : public QObject {
    Q_OBJECT
public:
    static ThumbnailLoader* instance()
    {
        // Lives for the whole run: pool jobs post their results to it.
        static auto* loader = new ThumbnailLoader;
        return loader;
    }

    void request(const QString& path, const QString& key, const QSize& deviceSize, double ratio)
    {
        const quint64 generation = m_generation.value(path);
        if (m_failed.contains(key) || m_inFlight.value(key, generation + 1) == generation)
            return;
        m_inFlight.insert(key, generation);
        QThreadPool::globalInstance()->start([this, path, key, deviceSize, ratio, generation] {
            const QImage image = readCover(path, deviceSize);
            QMetaObject::invokeMethod(
                this, [=] { finish(path, key, ratio, generation, image); }, Qt::QueuedConnection);
        });
    }

    void drop(const QString& path)
    {
        ++m_generation[path];
        KelPixmapCache* cache = BookThumbnailWidget::thumbnailCache();
        for (const QString& key : m_registry.take(path)) {
            cache->remove(key);
            m_failed.remove(key);
        }
    }

    QStringList keys(const QString& path) const { return m_registry.value(path).values(); }

signals:
    void coverReady(const QString& path);

private:
    void finish(const QString& path, const QString& key, double ratio, quint64 generation, const QImage& image)
    {
        if (m_inFlight.value(key) == generation)
            m_inFlight.remove(key);
        if (m_generation.value(path) != generation)
            return;
        m_registry[path].insert(key);
        if (image.isNull()) {
            m_failed.insert(key);
            return;
        }
        QPixmap pixmap = QPixmap::fromImage(image);
        pixmap.setDevicePixelRatio(ratio);
        BookThumbnailWidget::thumbnailCache()->insert(key, pixmap);
        emit coverReady(path);
    }

    QHash<QString, quint64> m_generation;
    QHash<QString, quint64> m_inFlight;
    QSet<QString> m_failed;
    QHash<QString, QSet<QString>> m_registry;
};

struct TextBlock {
    QMargins margins;
    Qt::Alignment alignment;
    QFont font;
    QColor color;
    QList<ShadowSpec> shadows;
    QString text;
    QPixmap cached;

    QPixmap render(const QSize& size, double ratio) const
    {
        QPixmap pixmap = KelPainting::createPixmap(size, ratio);
        {
            QPainter p(&pixmap);
            p.setRenderHint(QPainter::TextAntialiasing);
            p.setPen(color);
            p.setFont(font);
            const QRectF textRect = QRectF(QPointF(0, 0), size).marginsRemoved(margins);
            KelPainting::drawWordWrappedText(
                &p, text, textRect, alignment, QTextOption::WrapAtWordBoundaryOrAnywhere, Qt::ElideRight);
        }
        return dropShadowPixmap(pixmap, shadows, true);
    }

    void draw(QPainter* painter, const QRect& area, double ratio)
    {
        const QSize deviceSize(qRound(area.width() * ratio), qRound(area.height() * ratio));
        if (!cached.isNull() && (cached.size() != deviceSize || !qFuzzyCompare(cached.devicePixelRatioF(), ratio)))
            cached = QPixmap();
        if (cached.isNull()) {
            // Recycled cards read other books: a text drawn before, blurred shadows and all, is taken again.
            const QString key = QStringLiteral("ThumbText-%1-%2-%3x%4-%5-")
                                    .arg(font.pixelSize())
                                    .arg(font.weight())
                                    .arg(deviceSize.width())
                                    .arg(deviceSize.height())
                                    .arg(ratioText(ratio))
                + text;
            if (!textBlockCache()->find(key, &cached)) {
                cached = render(area.size(), ratio);
                textBlockCache()->insert(key, cached);
            }
        }
        painter->drawPixmap(area.topLeft(), cached);
    }
};

QFont blockFont(int pixelSize, int weight)
{
    QFont font(QStringLiteral("Segoe UI"));
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

} // namespace

class BookThumbnailWidget::Private {
public:
    const ThumbnailGeometry* geometry = nullptr;
    QString path;
    TextBlock title { QMargins(16, 44, 16, 16), Qt::AlignHCenter | Qt::AlignTop, blockFont(20, 75), Qt::white,
        { { 0, 2, 4, black(0.08) }, { 0, 6, 12, black(0.08) } }, QString(), QPixmap() };
    TextBlock author { QMargins(16, 16, 16, 40), Qt::AlignHCenter | Qt::AlignBottom, blockFont(15, 50),
        QColor(255, 255, 255, qRound(0.85 * 255)), { { 0, 2, 4, black(0.08) }, { 0, 4, 8, black(0.08) } }, QString(),
        QPixmap() };
    int colorIndex = 0;

    QPixmap shadowPixmap(double ratio) const
    {
        const ThumbnailGeometry& g = *geometry;
        const QString key = QStringLiteral("Shadow-%1-%2").arg(ratioText(ratio)).arg(g.mode);
        KelPixmapCache* cache = shadowCache();
        QPixmap shadow;
        if (cache->find(key, &shadow))
            return shadow;
        QPixmap shape = KelPainting::createPixmap(g.outerSize(), ratio);
        {
            QPainter p(&shape);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::black);
            const QRectF rect(QPointF(g.shadowMargins.left(), g.shadowMargins.top()), g.coverSize);
            p.drawRoundedRect(rect, g.cornerRadius, g.cornerRadius);
        }
        shadow = dropShadowPixmap(shape, g.shadows);
        cache->insert(key, shadow);
        return shadow;
    }

    bool loadCover(const QRect& cover, double ratio, QPixmap* result) const
    {
        if (path.isEmpty())
            return false;
        const QString key = thumbnailKey(path, cover.size(), ratio);
        if (thumbnailCache()->find(key, result))
            return true;
        const QSize deviceSize(qRound(cover.width() * ratio), qRound(cover.height() * ratio));
        ThumbnailLoader::instance()->request(path, key, deviceSize, ratio);
        return false;
    }
};

const ThumbnailGeometry& thumbnailGeometry(int sizeMode)
{
    static const ThumbnailGeometry records[3] = { makeGeometry(0), makeGeometry(1), makeGeometry(2) };
    return records[sizeMode >= 0 && sizeMode <= 2 ? sizeMode : 0];
}

BookThumbnailWidget::BookThumbnailWidget(int sizeMode, QWidget* parent)
    : QWidget(parent)
    , d(new Private)
{
    d->geometry = &thumbnailGeometry(sizeMode);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Minimum);
    connect(ThumbnailLoader::instance(), &ThumbnailLoader::coverReady, this, [this](const QString& path) {
        if (path == d->path)
            update();
    });
}

BookThumbnailWidget::~BookThumbnailWidget() { delete d; }

void BookThumbnailWidget::setSizeMode(int mode)
{
    d->geometry = &thumbnailGeometry(mode);
    updateGeometry();
    update();
}

int BookThumbnailWidget::sizeMode() const { return d->geometry->mode; }

void BookThumbnailWidget::setImagePath(const QString& path)
{
    if (d->path == path)
        return;
    d->path = path;
    update();
}

QString BookThumbnailWidget::imagePath() const { return d->path; }

void BookThumbnailWidget::setTitle(const QString& title)
{
    if (d->title.text == title)
        return;
    d->title.text = title;
    d->title.cached = QPixmap();
    update();
}

void BookThumbnailWidget::setAuthor(const QString& author)
{
    if (d->author.text == author)
        return;
    d->author.text = author;
    d->author.cached = QPixmap();
    update();
}

void BookThumbnailWidget::setColorIndex(int index)
{
    if (d->colorIndex == index)
        return;
    d->colorIndex = index;
    update();
}

void BookThumbnailWidget::reloadImage()
{
    if (!d->path.isEmpty())
        ThumbnailLoader::instance()->drop(d->path);
    update();
}

void BookThumbnailWidget::reloadImages(const QString& path)
{
    ThumbnailLoader* loader = ThumbnailLoader::instance();
    loader->drop(path);
    emit loader->coverReady(path);
}

QRect BookThumbnailWidget::coverRect() const
{
    const QRect contents = contentsRect();
    return QRect(contents.topLeft() + QPoint(d->geometry->shadowMargins.left(), d->geometry->shadowMargins.top()),
        d->geometry->coverSize);
}

QSize BookThumbnailWidget::sizeHint() const
{
    const QMargins m = contentsMargins();
    return d->geometry->outerSize().grownBy(m);
}

QSize BookThumbnailWidget::minimumSizeHint() const { return sizeHint(); }

QString BookThumbnailWidget::thumbnailKey(const QString& path, const QSize& coverSize, double ratio)
{
    return QStringLiteral("Thumb-%1-%2-%3-%4")
        .arg(path)
        .arg(coverSize.width())
        .arg(coverSize.height())
        .arg(ratioText(ratio));
}

QStringList BookThumbnailWidget::thumbnailKeys(const QString& path) { return ThumbnailLoader::instance()->keys(path); }

KelPixmapCache* BookThumbnailWidget::thumbnailCache()
{
    if (Ui* ui = Ui::instance())
        return ui->thumbCache();
    static QPointer<KelPixmapCache> cache;
    return fallbackCache(cache, "ThumbCache", 100);
}

void BookThumbnailWidget::paintEvent(QPaintEvent*)
{
    const double ratio = devicePixelRatioF();
    const QRect cover = coverRect();
    const QRect outer = cover.marginsAdded(d->geometry->shadowMargins);

    KelPaintContext context(this);
    QPainter* painter = context.painter();
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->drawPixmap(outer.topLeft(), d->shadowPixmap(ratio));

    if (const int radius = d->geometry->cornerRadius) {
        QPainterPath clip;
        clip.addRoundedRect(cover, radius, radius);
        painter->setClipPath(clip, Qt::IntersectClip);
    }
    QPixmap pixmap;
    if (d->loadCover(cover, ratio, &pixmap)) {
        painter->drawPixmap(cover.topLeft(), pixmap);
    } else {
        painter->fillRect(cover, kelStyle()->color(1013 + qBound(0, d->colorIndex, 9)));
        QLinearGradient shade(cover.topLeft(), cover.bottomLeft());
        shade.setColorAt(0, black(0));
        shade.setColorAt(0.5, black(0.33));
        shade.setColorAt(1, black(0.66));
        painter->fillRect(cover, shade);
        if (d->geometry->mode != 0) {
            const QRect titleArea(cover.x(), cover.y(), cover.width(), qRound(0.65 * cover.height()) + 16);
            const int h = qRound(0.35 * cover.height()) + 16;
            const QRect authorArea(cover.x(), cover.y() + cover.height() - h, cover.width(), h);
            d->title.draw(painter, titleArea, ratio);
            d->author.draw(painter, authorArea, ratio);
        }
    }
    painter->restore();
}

#include "bookthumbnailwidget.moc"

#include "painting/kelqicon.h"

#include "painting/kelpainting.h"

#include <QDebug>
#include <QFile>
#include <QImageReader>
#include <QPainter>

KelQIcon::KelQIcon(const QString& path)
{
    const QIcon base = loadIcon(path);
    if (base.isNull()) {
        qWarning().noquote() << "Can't load icon file:" << path << "returned size is null";
        return;
    }
    m_icons.insert(KelPainting::Normal, base);
    const QList<QSize> sizes = base.availableSizes(QIcon::Normal, QIcon::Off);
    setDefaultSize(sizes.isEmpty() ? QSize() : sizes.first());
    setName(path);
    for (const Variant& variant : variants()) {
        const QString file = variantPath(path, QLatin1String(variant.rasterSuffix));
        // A variant file that exists but does not decode stays null: its state then draws nothing.
        m_icons.insert(variant.state, QFile::exists(file) ? loadIcon(file) : m_icons.value(variant.fallback));
    }
}

KelQIcon::~KelQIcon() = default;

QIcon KelQIcon::loadIcon(const QString& file)
{
    QImageReader reader(file);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    const QSize declared = reader.size();
    if (declared.width() > maxDeviceSide || declared.height() > maxDeviceSide) {
        qWarning().noquote() << "Icon file" << file << "is too large:" << declared;
        return QIcon();
    }
    const QImage image = reader.read();
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

QPixmap KelQIcon::pixmap(
    double devicePixelRatio, const QSize& size, const QColor& color, KelPainting::WidgetState state) const
{
    QSize device;
    if (!checkRequest("KelQIcon", devicePixelRatio, size, &device))
        return QPixmap();
    // The raster tint ignores the colour's alpha, so requests that differ only there share an entry.
    const QString key = cacheKey({ colorKey(color) }, devicePixelRatio, device, state);
    QPixmap result;
    if (findCached(key, &result))
        return result;

    const QIcon icon = m_icons.value(state);
    if (icon.isNull()) {
        qWarning().noquote() << "Can't find qtIcon for:" << name() << ", WidgetState:" << int(state);
        return QPixmap();
    }
    result = createPixmap(devicePixelRatio, size);
    if (result.isNull())
        return result;
    const QSize logical = boundedLogicalSize(devicePixelRatio, size);
    {
        QPainter painter(&result);
        icon.paint(&painter, QRect(QPoint(0, 0), logical), Qt::AlignCenter, QIcon::Normal, QIcon::Off);
    }
    if (color.isValid()) {
        QImage image = result.toImage();
        KelPainting::colorizeImage(image, color);
        result = QPixmap::fromImage(image);
    }
    result.setDevicePixelRatio(devicePixelRatio);
    storeCached(key, result);
    return result;
}

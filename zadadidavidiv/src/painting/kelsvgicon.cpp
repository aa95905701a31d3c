#include "painting/kelsvgicon.h"

#include "painting/kelpainting.h"

#include <QDebug>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <new>

KelSvgIcon::KelSvgIcon(const QString& path)
{
    const QSharedPointer<QSvgRenderer> base = createSvgRenderer(path, QString());
    if (!base)
        return;
    m_renderers.insert(KelPainting::Normal, base);
    setDefaultSize(base->defaultSize());
    setName(path);
    for (const Variant& variant : variants()) {
        QSharedPointer<QSvgRenderer> renderer = createSvgRenderer(path, QLatin1String(variant.svgSuffix));
        m_renderers.insert(variant.state, renderer ? renderer : m_renderers.value(variant.fallback));
    }
}

KelSvgIcon::~KelSvgIcon() = default;

QSharedPointer<QSvgRenderer> KelSvgIcon::createSvgRenderer(const QString& path, const QString& stateSuffix)
{
    const QString file = variantPath(path, stateSuffix);
    if (!QFile::exists(file))
        return {};
    try {
        QSharedPointer<QSvgRenderer> renderer(new QSvgRenderer(file));
        if (renderer->isValid() && renderer->defaultSize().isValid())
            return renderer;
    } catch (const std::bad_alloc&) {
        qWarning().noquote() << "Can't init svgRenderer for file:" << file;
    }
    return {};
}

QPixmap KelSvgIcon::pixmap(
    double devicePixelRatio, const QSize& size, const QColor& color, KelPainting::WidgetState state) const
{
    QSize device;
    if (!checkRequest("KelSvgIcon", devicePixelRatio, size, &device))
        return QPixmap();
    // The alpha becomes the drawing's opacity, so it is part of the key.
    const QString alpha = color.isValid() ? QString::number(color.alpha()) : QStringLiteral("original");
    const QString key = cacheKey({ colorKey(color), alpha }, devicePixelRatio, device, state);
    QPixmap result;
    if (findCached(key, &result))
        return result;

    const QSharedPointer<QSvgRenderer> renderer = m_renderers.value(state);
    if (!renderer) {
        qWarning().noquote() << "Can't find svgRenderer for:" << name() << ", WidgetState" << int(state);
        return QPixmap();
    }
    const QRectF target(QPointF(0, 0), QSizeF(device));
    if (color.isValid()) {
        QImage image(device, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter;
        if (painter.begin(&image)) {
            painter.setOpacity(color.alphaF());
            renderer->render(&painter, target);
            painter.end();
            KelPainting::colorizeImage(image, color);
        }
        result = QPixmap::fromImage(image);
    } else {
        result = QPixmap(device);
        result.fill(Qt::transparent);
        QPainter painter(&result);
        renderer->render(&painter, target);
    }
    result.setDevicePixelRatio(devicePixelRatio);
    storeCached(key, result);
    return result;
}

#include "customgraphicspixmapitem.h"

#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <QtMath>

CustomGraphicsPixmapItem::CustomGraphicsPixmapItem(const QImage& image, QGraphicsItem* parent)
    : QGraphicsItem(parent)
    , m_image(image)
    , m_scaledImage(image)
{
    // paint() reads the view's transform.
    setFlag(QGraphicsItem::ItemUsesExtendedStyleOption);
    update();
}

QRectF CustomGraphicsPixmapItem::boundingRect() const
{
    if (m_image.isNull())
        return QRectF();
    const double ratio = m_image.devicePixelRatio();
    return QRectF(0, 0, qRound(m_image.width() / ratio), qRound(m_image.height() / ratio));
}

void CustomGraphicsPixmapItem::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget)
{
    Q_UNUSED(option);
    Q_UNUSED(widget);
    if (m_image.isNull())
        return;
    const QTransform transform = painter->worldTransform();
    const double s = transform.m11();
    const QSize scaledSize(qRound(m_image.width() * s), qRound(m_image.height() * s));
    const bool copyFits = s > 0 && qint64(scaledSize.width()) * scaledSize.height() <= maxScaledPixels;
    if (!copyFits) {
        painter->drawImage(boundingRect(), m_image);
        return;
    }
    if (qAbs(s - m_scale) > 1e-12 * qMax(qAbs(s), qAbs(m_scale))) {
        m_scale = s;
        m_scaledImage = m_image.scaled(scaledSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        m_scaledImage.setDevicePixelRatio(m_image.devicePixelRatio());
    }
    painter->save();
    painter->setTransform(QTransform());
    painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter->drawImage(QPointF(transform.dx(), transform.dy()), m_scaledImage);
    painter->restore();
}

#include "dropshadowpixmap.h"

#include "painting/kelqtblur.h"

#include <QPainter>

QPixmap dropShadowPixmap(const QPixmap& source, const QList<ShadowSpec>& shadows, bool drawSource)
{
    if (source.isNull())
        return QPixmap();
    const double ratio = source.devicePixelRatioF();
    QImage alpha = source.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    alpha.setDevicePixelRatio(1.0);

    QImage result(source.size(), QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    for (const ShadowSpec& shadow : shadows) {
        QColor tint = shadow.color;
        tint.setAlpha(qMin(255, tint.alpha() * 2));
        QImage layer = alpha;
        {
            QPainter tinter(&layer);
            tinter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            tinter.fillRect(layer.rect(), tint);
        }
        QImage blurred(layer.size(), QImage::Format_ARGB32_Premultiplied);
        blurred.fill(Qt::transparent);
        {
            QPainter blurPainter(&blurred);
            qt_blurImage(&blurPainter, layer, 2.0 * shadow.blur * ratio, true, false);
        }
        painter.drawImage(QPointF(shadow.x * ratio, shadow.y * ratio), blurred);
    }
    if (drawSource)
        painter.drawImage(0, 0, alpha);
    painter.end();

    QPixmap pixmap = QPixmap::fromImage(result);
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

#include "painting/kelpainting.h"

#include "painting/kelqtblur.h"

#include <QDebug>
#include <QPaintDevice>
#include <QPainter>

#include <cmath>

namespace {

constexpr double kEpsilon = 1e-12;

bool isZero(double v) { return std::fabs(v) <= kEpsilon; }

double penWidth(const QPainter& painter)
{
    const QPen& pen = painter.pen();
    return pen.style() == Qt::NoPen ? 0.0 : pen.widthF();
}

QRectF insetBy(const QRectF& rect, double d) { return rect.adjusted(d, d, -d, -d); }

double deviceRatioOf(const QPainter& painter)
{
    const QPaintDevice* device = painter.device();
    return device ? device->devicePixelRatioF() : 1.0;
}

} // namespace

namespace KelPainting {

void drawRect(QPainter& painter, const QRectF& rect, PenOverlapping mode)
{
    if (!rect.isValid())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double w = penWidth(painter);
    if (isZero(w)) {
        painter.fillRect(rect, painter.brush());
        painter.restore();
        return;
    }
    painter.fillRect(mode == Overlapping ? rect : insetBy(rect, w), painter.brush());
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(insetBy(rect, w / 2));
    painter.restore();
}

void drawRoundedRect(QPainter& painter, const QRectF& rect, double radius, PenOverlapping mode)
{
    if (!rect.isValid())
        return;
    if (isZero(radius)) {
        drawRect(painter, rect, Overlapping);
        return;
    }
    const QPen pen = painter.pen();
    const double w = penWidth(painter);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (isZero(w)) {
        painter.drawRoundedRect(rect, radius, radius, Qt::AbsoluteSize);
        painter.restore();
        return;
    }
    painter.setPen(Qt::NoPen);
    if (mode == Overlapping)
        painter.drawRoundedRect(rect, radius + w / 2, radius + w / 2, Qt::AbsoluteSize);
    else
        painter.drawRoundedRect(insetBy(rect, w), radius - w, radius - w, Qt::AbsoluteSize);
    if (pen.joinStyle() != Qt::MiterJoin)
        qWarning("Prefer to use Qt::MiterJoin pen for KelPainting::drawRoundedRect()");
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(insetBy(rect, w / 2), radius, radius, Qt::AbsoluteSize);
    painter.restore();
}

void drawRoundedRect(QPainter& painter, const QRectF& rect, const KelRadii& radii, PenOverlapping mode)
{
    if (radii.isUniform()) {
        if (radii.topLeft > 0)
            drawRoundedRect(painter, rect, double(radii.topLeft), mode);
        else
            drawRect(painter, rect, Overlapping);
        return;
    }
    const double w = penWidth(painter);
    const QRectF target = w > kEpsilon ? insetBy(rect, w / 2) : rect;
    const bool hadAntialiasing = painter.testRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.drawPath(roundedRectPath(target, radii));
    painter.setRenderHint(QPainter::Antialiasing, hadAntialiasing);
}

QPainterPath roundedRectPath(const QRectF& rect, const KelRadii& radii)
{
    const double x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    const double tl = radii.topLeft, tr = radii.topRight, br = radii.bottomRight, bl = radii.bottomLeft;
    QPainterPath path;
    path.moveTo(x + tl, y);
    path.lineTo(x + w - tr, y);
    if (tr > 0)
        path.arcTo(x + w - 2 * tr, y, 2 * tr, 2 * tr, 90, -90);
    path.lineTo(x + w, y + h - br);
    if (br > 0)
        path.arcTo(x + w - 2 * br, y + h - 2 * br, 2 * br, 2 * br, 0, -90);
    path.lineTo(x + bl, y + h);
    if (bl > 0)
        path.arcTo(x, y + h - 2 * bl, 2 * bl, 2 * bl, -90, -90);
    path.lineTo(x, y + tl);
    if (tl > 0)
        path.arcTo(x, y, 2 * tl, 2 * tl, 180, -90);
    return path;
}

void drawArrow(QPainter& painter, const QRectF& rect, const QColor& color, const KelArrowSpec& arrow)
{
    const double ratio = deviceRatioOf(painter);
    const QMarginsF margins = snapMarginsToDevicePixels(ratio, QMarginsF(arrow.margins));
    const QPointF centre = rect.marginsRemoved(margins).center();
    QRectF box(QPointF(0, 0), QSizeF(arrow.size));
    box.moveCenter(centre);
    box = snapToDevicePixels(ratio, box);

    const double h = arrow.lineWidth / 2;
    const double l = box.left() + h, r = box.right() - h, t = box.top() + h, b = box.bottom() - h;
    const double cx = (l + r) / 2, cy = (t + b) / 2;
    // Each arrow runs from one end of its open side through its tip to the other end.
    QPointF from, tip, to;
    switch (arrow.arrowType) {
    case Qt::UpArrow:
        from = QPointF(l, b), tip = QPointF(cx, t), to = QPointF(r, b);
        break;
    case Qt::DownArrow:
        from = QPointF(l, t), tip = QPointF(cx, b), to = QPointF(r, t);
        break;
    case Qt::LeftArrow:
        from = QPointF(r, t), tip = QPointF(l, cy), to = QPointF(r, b);
        break;
    case Qt::RightArrow:
        from = QPointF(l, t), tip = QPointF(r, cy), to = QPointF(l, b);
        break;
    default:
        return;
    }
    QPainterPath path(from);
    path.lineTo(tip);
    path.lineTo(to);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (isZero(arrow.lineWidth))
        painter.fillPath(path, QBrush(color));
    else
        painter.strokePath(path, QPen(color, arrow.lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.restore();
}

void drawPixelAlignedLine(QPainter& painter, const QPointF& from, const QPointF& to)
{
    // A line of odd device width must be centred on a device pixel's middle and one of even width
    // on a pixel boundary; otherwise antialiasing smears it over an extra row.
    const double ratio = deviceRatioOf(painter);
    QPen pen = painter.pen();
    int deviceWidth;
    if (pen.isCosmetic()) {
        deviceWidth = qMax(1, int(std::lround(pen.widthF())));
        if (pen.widthF() > 0)
            pen.setWidthF(deviceWidth);
    } else {
        deviceWidth = qMax(1, int(std::lround(pen.widthF() * ratio)));
        pen.setWidthF(deviceWidth / ratio);
    }
    const double offset = deviceWidth % 2 == 1 ? 0.5 / ratio : 0.0;
    const QPointF shift(offset, offset);
    const QPointF a(snapToDevicePixels(ratio, from.x()), snapToDevicePixels(ratio, from.y()));
    const QPointF b(snapToDevicePixels(ratio, to.x()), snapToDevicePixels(ratio, to.y()));

    painter.save();
    painter.setPen(pen);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.drawLine(a + shift, b + shift);
    painter.restore();
}

QPixmap createPixmap(const QSize& size, double devicePixelRatio, const QColor& fillColor)
{
    // The small slack keeps 10 x 1.1 from becoming 12 device pixels through a rounding error.
    const int w = int(std::ceil(size.width() * devicePixelRatio - 1e-9));
    const int h = int(std::ceil(size.height() * devicePixelRatio - 1e-9));
    QPixmap pixmap(qMax(0, w), qMax(0, h));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(fillColor);
    return pixmap;
}

QPixmap blurredWidgetPixmap(QWidget* widget, int blurRadius, QWidget::RenderFlags renderFlags, const QRect& sourceRect)
{
    if (!widget)
        return QPixmap();
    const QSize size = sourceRect.isEmpty() ? widget->size() : sourceRect.size();
    const double ratio = widget->devicePixelRatioF();
    QPixmap pixmap(qRound(size.width() * ratio), qRound(size.height() * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    widget->render(&pixmap, QPoint(0, 0), sourceRect.isEmpty() ? QRegion() : QRegion(sourceRect), renderFlags);
    if (blurRadius > 0 && !pixmap.isNull()) {
        pixmap.setDevicePixelRatio(1.0);
        QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&pixmap);
        // Replace rather than blend, so that no sharp copy shows through translucent parts.
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        qt_blurImage(&painter, image, blurRadius, true, false);
        painter.end();
        pixmap.setDevicePixelRatio(ratio);
    }
    return pixmap;
}

void colorizeImage(QImage& image, const QColor& color)
{
    if (image.format() != QImage::Format_ARGB32 && image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const bool premultiplied = image.format() == QImage::Format_ARGB32_Premultiplied;
    const int red = color.red(), green = color.green(), blue = color.blue();
    for (int y = 0; y < image.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = qRgba(red, green, blue, qAlpha(line[x]));
            line[x] = premultiplied ? qPremultiply(pixel) : pixel;
        }
    }
}

bool isFractionalRatio(double devicePixelRatio)
{
    return std::fabs(devicePixelRatio - std::trunc(devicePixelRatio)) > kEpsilon;
}

double snapToDevicePixels(double devicePixelRatio, double value)
{
    if (!isFractionalRatio(devicePixelRatio))
        return value;
    return std::round(value * devicePixelRatio) / devicePixelRatio;
}

QRectF snapToDevicePixels(double devicePixelRatio, const QRectF& rect)
{
    if (!isFractionalRatio(devicePixelRatio))
        return rect;
    return QRectF(
        QPointF(snapToDevicePixels(devicePixelRatio, rect.left()), snapToDevicePixels(devicePixelRatio, rect.top())),
        QPointF(
            snapToDevicePixels(devicePixelRatio, rect.right()), snapToDevicePixels(devicePixelRatio, rect.bottom())));
}

QMarginsF snapMarginsToDevicePixels(double devicePixelRatio, const QMarginsF& margins)
{
    if (!isFractionalRatio(devicePixelRatio))
        return margins;
    return QMarginsF(snapToDevicePixels(devicePixelRatio, margins.left()),
        snapToDevicePixels(devicePixelRatio, margins.top()), snapToDevicePixels(devicePixelRatio, margins.right()),
        snapToDevicePixels(devicePixelRatio, margins.bottom()));
}

} // namespace KelPainting

#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QString>

class QScreen;
class QWidget;

// Geometry and font utilities of the toolkit.
namespace KelUtils {

QFont makeFont(int pixelSize, int weight, const QString& family);
// Sets the widget's font only when family, pixel size or weight differ.
void setWidgetFont(QWidget* widget, int pixelSize, int weight, const QString& family);

// A rectangle of the size placed inside the outer rectangle by the alignment; a later flag of one
// axis wins over an earlier one. With clip the result is cut to the outer rectangle.
QRect alignRect(Qt::Alignment alignment, const QRect& outer, const QSize& size, bool clip = false);
QRectF alignRect(Qt::Alignment alignment, const QRectF& outer, const QSizeF& size, bool clip = false);

// The rectangle placed beside the anchor on the edge; offset.x() is the gap from the anchor and
// offset.y() the shift along the edge.
QRect alignedRect(
    const QRect& anchor, const QRect& rect, Qt::Edge edge, Qt::AlignmentFlag alignment, const QPoint& offset);

// The rectangle moved (and, when larger, cut) into the available geometry of the screen under the
// reference's centre. A row step above 1 aligns the usable area to a grid of that step.
QRect fitIntoAvailableGeometry(const QRect& reference, const QRect& rect, int rowStep = 1, int margin = 0);
// The rectangle moved into the part of the window on its screen, along each axis on which it fits
// there, so that a popup keeps to the window it belongs to; unchanged without a visible window.
QRect fitIntoWindow(const QRect& rect, const QWidget* window);

// The rectangle kept inside the bounds: cut with Qt::IgnoreAspectRatio, else scaled down by the mode
// when larger and moved inside.
QRect fitRectIntoRect(const QRect& rect, const QRect& bounds, Qt::AspectRatioMode mode);

QRect globalGeometry(const QWidget* widget);
QScreen* screenAt(const QPoint& globalPos);
QScreen* screenOf(const QWidget* widget);

// Maps a physical (device pixel) screen position into the widget's logical coordinates.
QPoint mapDeviceToWidget(const QWidget* widget, const QPoint& devicePos);

} // namespace KelUtils

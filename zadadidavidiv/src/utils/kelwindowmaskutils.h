#pragma once

#include <QPainterPath>
#include <QPoint>
#include <QRegion>
#include <QSize>

class QWidget;

// Window masks. In native region mode a top-level window is shaped through the native window region;
// otherwise, and for child widgets, through Qt's widget mask.
namespace KelUtils {

// The region is in device pixels of the widget.
void setMask(QWidget* widget, const QRegion& region);
// Mask of the painted path (shifted by offset) in a widget of the size; inverted masks everything but
// the path, and an excluded outline leaves the pen's pixels out of the mask.
void setMask(QWidget* widget, const QSize& size, const QPoint& offset, const QPainterPath& path, double penWidth,
    bool inverted, bool outlineExcluded);
void clearMask(QWidget* widget);

// The region scaled by the factor, each rectangle grown outwards to whole pixels.
QRegion scaledRegion(const QRegion& region, double factor);
// The set pixels (device pixels at the ratio) of the path painted as setMask describes.
QRegion maskRegionFromPath(double devicePixelRatio, const QSize& size, const QPoint& offset, const QPainterPath& path,
    double penWidth, bool inverted, bool outlineExcluded);

// Native region mode: chosen once at start-up by installWidgetAtHook.
bool isNativeRegionMode();
void setNativeRegionMode(bool on);

} // namespace KelUtils

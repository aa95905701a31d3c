#pragma once

#include <QRect>
#include <QRegion>

class QWidget;

// Native window regions. On X11 a window region is the window's shape, set through Qt's widget mask;
// regions are plain values in device pixels of the window.
namespace RegionUtils {

// How combineRect merges the rectangle into the held region.
enum CombineMode {
    CombineAnd = 1,
    CombineOr = 2,
    CombineXor = 3,
    CombineDiff = 4,
    CombineCopy = 5, // keeps the held region
};

// Shapes the widget's top-level window with the region (device pixels). An empty region removes the
// shape, as clearWinRegion does: an X11 window cannot be shaped to nothing through Qt.
void setWinRegion(QWidget* widget, const QRegion& region, bool redraw);
void clearWinRegion(QWidget* widget, bool redraw);
// The rectangle's region; with a radius above 0 a rounded one, one pixel wider and taller, with
// corner ellipses of twice the radius.
QRegion createRectRegion(const QRect& rect, int radius);
void combineRect(QRegion& region, const QRect& rect, int radius, int mode);

} // namespace RegionUtils

#include "platform/x11/regionutils.h"

#include "utils/kelwindowmaskutils.h"

#include <QDebug>
#include <QWidget>

namespace RegionUtils {

void setWinRegion(QWidget* widget, const QRegion& region, bool redraw)
{
    QWidget* window = widget ? widget->window() : nullptr;
    if (!window) {
        qWarning("Set window region FAILED!");
        return;
    }
    if (region.isEmpty())
        window->clearMask();
    else
        window->setMask(KelUtils::scaledRegion(region, 1.0 / window->devicePixelRatioF()));
    if (redraw)
        window->update();
}

void clearWinRegion(QWidget* widget, bool redraw) { setWinRegion(widget, QRegion(), redraw); }

QRegion createRectRegion(const QRect& rect, int radius)
{
    if (radius <= 0)
        return QRegion(rect);
    // Rounded regions span one pixel more in each direction than the rectangle's own pixels.
    const QRect outer(rect.x(), rect.y(), rect.width() + 1, rect.height() + 1);
    const int ew = qMin(2 * radius, outer.width());
    const int eh = qMin(2 * radius, outer.height());
    QRegion region(outer.adjusted(ew / 2, 0, -(ew / 2), 0));
    region += outer.adjusted(0, eh / 2, 0, -(eh / 2));
    region += QRegion(QRect(outer.left(), outer.top(), ew, eh), QRegion::Ellipse);
    region += QRegion(QRect(outer.right() - ew + 1, outer.top(), ew, eh), QRegion::Ellipse);
    region += QRegion(QRect(outer.left(), outer.bottom() - eh + 1, ew, eh), QRegion::Ellipse);
    region += QRegion(QRect(outer.right() - ew + 1, outer.bottom() - eh + 1, ew, eh), QRegion::Ellipse);
    return region;
}

void combineRect(QRegion& region, const QRect& rect, int radius, int mode)
{
    const QRegion part = createRectRegion(rect, radius);
    switch (mode) {
    case CombineAnd:
        region &= part;
        break;
    case CombineOr:
        region |= part;
        break;
    case CombineXor:
        region ^= part;
        break;
    case CombineDiff:
        region -= part;
        break;
    case CombineCopy:
        break;
    default:
        qWarning() << "Unknown region combine mode" << mode;
        break;
    }
}

} // namespace RegionUtils

#include "utils/kelwindowmaskutils.h"

#include "painting/kelpaintcontext.h"
#include "platform/x11/regionutils.h"

#include <QBitmap>
#include <QDebug>
#include <QWidget>

#include <cmath>

namespace {

bool g_nativeRegionMode = false;

} // namespace

namespace KelUtils {

bool isNativeRegionMode() { return g_nativeRegionMode; }

void setNativeRegionMode(bool on) { g_nativeRegionMode = on; }

void setMask(QWidget* widget, const QRegion& region)
{
    if (!widget) {
        qWarning("Trying to set mask to null target, ignore");
        return;
    }
    if (g_nativeRegionMode && widget->isWindow()) {
        if (region.isEmpty()) {
            qWarning("Create win region FAILED.");
            return;
        }
        QRegion native;
        for (const QRect& rect : region)
            RegionUtils::combineRect(native, rect, 0, RegionUtils::CombineOr);
        RegionUtils::setWinRegion(widget, native, true);
        return;
    }
    widget->setMask(scaledRegion(region, 1.0 / widget->devicePixelRatioF()));
}

void setMask(QWidget* widget, const QSize& size, const QPoint& offset, const QPainterPath& path, double penWidth,
    bool inverted, bool outlineExcluded)
{
    if (!widget) {
        qWarning("Trying to set mask to null target, ignore");
        return;
    }
    setMask(widget,
        maskRegionFromPath(widget->devicePixelRatioF(), size, offset, path, penWidth, inverted, outlineExcluded));
}

void clearMask(QWidget* widget)
{
    if (!widget) {
        qWarning("Trying to set mast to null target, ignore");
        return;
    }
    widget->clearMask();
    if (g_nativeRegionMode)
        RegionUtils::clearWinRegion(widget, true);
}

QRegion scaledRegion(const QRegion& region, double factor)
{
    // Both edges are rounded outwards: scaling the origin and the size apart can drop the last
    // column or row of a rectangle that starts on an odd device pixel.
    QRegion result;
    for (const QRect& rect : region) {
        const int left = int(std::floor(rect.x() * factor));
        const int top = int(std::floor(rect.y() * factor));
        const int right = int(std::ceil((rect.x() + rect.width()) * factor));
        const int bottom = int(std::ceil((rect.y() + rect.height()) * factor));
        result += QRect(left, top, right - left, bottom - top);
    }
    return result;
}

QRegion maskRegionFromPath(double devicePixelRatio, const QSize& size, const QPoint& offset, const QPainterPath& path,
    double penWidth, bool inverted, bool outlineExcluded)
{
    QBitmap bitmap(qRound(size.width() * devicePixelRatio), qRound(size.height() * devicePixelRatio));
    if (bitmap.isNull())
        return QRegion();
    bitmap.setDevicePixelRatio(devicePixelRatio);
    // Black pixels are the ones inside the mask.
    bitmap.fill(inverted ? Qt::color1 : Qt::color0);
    {
        KelPaintContext context(&bitmap);
        QPainter* painter = context.painter();
        const double ratio = context.devicePixelRatio();
        const double width = std::round(penWidth * ratio) / ratio;
        // A zero width would give a one-pixel cosmetic pen; no outline was asked for.
        if (width > 0)
            painter->setPen(
                QPen(outlineExcluded ? Qt::color0 : Qt::color1, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        else
            painter->setPen(Qt::NoPen);
        painter->setBrush(QBrush(inverted ? Qt::color0 : Qt::color1, Qt::SolidPattern));
        painter->translate(offset);
        painter->drawPath(path);
    }
    return QRegion(bitmap);
}

} // namespace KelUtils

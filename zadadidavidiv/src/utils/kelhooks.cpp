#include "utils/kelhooks.h"

#include "utils/kelwindowmaskutils.h"

#include <QApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

KelHooks& KelHooks::instance()
{
    static KelHooks hooks;
    return hooks;
}

void* KelHooks::installHook(void* target, void* detour)
{
    Q_UNUSED(detour)
    if (!m_initialized) {
        qInfo() << "Helper is not initialized: no function hook for" << target << "on this platform";
        return nullptr;
    }
    return nullptr;
}

void installWidgetAtHook() { KelUtils::setNativeRegionMode(false); }

void installWindowGeometryHook() { }

QWidget* regionAwareWidgetAt(const QPoint& globalPos) { return QApplication::widgetAt(globalPos); }

QRect windowGeometryFromNative(const QWindow* window)
{
    if (!window)
        return QRect();
    const QRect logical = window->geometry();
    const QScreen* own = window->screen();
    if (!window->handle() || !own)
        return logical;
    // Qt maps a top-level window's native rectangle with the scale of the screen under its position;
    // undo that mapping and redo it with the scale and origin of the window's own screen.
    const QScreen* under = QGuiApplication::screenAt(logical.topLeft());
    if (!under)
        under = own;
    const double underFactor = under->devicePixelRatio();
    const QPointF underOrigin(under->geometry().topLeft());
    const QPointF nativeTopLeft = (QPointF(logical.topLeft()) - underOrigin) * underFactor + underOrigin;
    const QSizeF nativeSize = QSizeF(logical.size()) * underFactor;

    const double s = 1.0 / own->devicePixelRatio();
    const QPoint origin = own->geometry().topLeft();
    const QSize size(qRound(nativeSize.width() * s), qRound(nativeSize.height() * s));
    const QPoint topLeft(qRound((nativeTopLeft.x() - origin.x()) * s) + origin.x(),
        qRound((nativeTopLeft.y() - origin.y()) * s) + origin.y());
    return QRect(topLeft, size);
}

#include "platform/x11/kelnativewindowutils.h"

#include "platform/x11/kelcustomshadow.h"
#include "utils/kelgeometryutils.h"
#include "windows/kelwindowframe.h"

#include <QDebug>
#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QVector>
#include <QWidget>
#include <QWindow>
#include <QX11Info>

#include <cstdlib>
#include <xcb/xcb.h>

namespace {

// Manhattan distance a caption press travels before it becomes a move.
const int kMoveThreshold = 4;

enum class Drag {
    None,
    SystemMove,
    SystemResize,
    ManualMove,
    ManualResize,
};

bool isFull(const QWidget* window) { return window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen); }

Qt::CursorShape cursorFor(Qt::Edges edges)
{
    if (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge))
        return Qt::SizeFDiagCursor;
    if (edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge))
        return Qt::SizeBDiagCursor;
    if (edges & (Qt::LeftEdge | Qt::RightEdge))
        return Qt::SizeHorCursor;
    return Qt::SizeVerCursor;
}

// The window's rectangle when dragged from edges by delta, within its minimum and maximum size.
QRect resizedGeometry(const QWidget* window, const QRect& start, Qt::Edges edges, const QPoint& delta)
{
    const QSize minSize = window->minimumSize();
    const QSize maxSize = window->maximumSize();
    QRect r = start;
    if (edges & Qt::LeftEdge) {
        const int width = qBound(minSize.width(), start.width() - delta.x(), maxSize.width());
        r.setLeft(start.right() + 1 - width);
    } else if (edges & Qt::RightEdge) {
        r.setWidth(qBound(minSize.width(), start.width() + delta.x(), maxSize.width()));
    }
    if (edges & Qt::TopEdge) {
        const int height = qBound(minSize.height(), start.height() - delta.y(), maxSize.height());
        r.setTop(start.bottom() + 1 - height);
    } else if (edges & Qt::BottomEdge) {
        r.setHeight(qBound(minSize.height(), start.height() + delta.y(), maxSize.height()));
    }
    return r;
}

} // namespace

class KelNativeWindowUtils::Private {
public:
    KelNativeWindowUtils* q = nullptr;
    QPointer<QWidget> window;
    KelWindowFrame* frame = nullptr;
    bool resizable = false;
    bool captionEnabled = false;
    QPointer<QWidget> caption;
    QVector<QPointer<QWidget>> nonCaptionWidgets;
    bool compositorFrame = false;
    QPointer<KelCustomShadow> shadow;
    bool blurRequested = false;
    QPointer<QWindow> watchedWindow;

    Drag drag = Drag::None;
    Qt::Edges dragEdges;
    QPoint pressGlobal;
    QRect startGeometry;
    // A left press on the caption that becomes a move once the pointer travels; a click or a
    // double click stays a click (a window manager's move would swallow the release).
    QPoint captionPress;
    bool captionPressed = false;
    bool cursorSet = false;

    bool isNonCaption(QWidget* widget) const;
    void watchNativeWindow();
    void updateShadow();
    void syncShadow();
    bool startResize(Qt::Edges edges, const QPoint& globalPos);
    void finishDrag();
    void updateCursor(const QPoint& globalPos);
    bool mouseEvent(QEvent* event);
};

bool KelNativeWindowUtils::Private::isNonCaption(QWidget* widget) const
{
    // A widget inside a registered button (its icon, say) belongs to the button.
    for (QWidget* w = widget; w && w != window; w = w->parentWidget()) {
        for (const QPointer<QWidget>& candidate : nonCaptionWidgets) {
            if (candidate == w)
                return true;
        }
    }
    return false;
}

void KelNativeWindowUtils::Private::watchNativeWindow()
{
    QWindow* handle = window ? window->windowHandle() : nullptr;
    if (handle == watchedWindow)
        return;
    if (watchedWindow)
        watchedWindow->removeEventFilter(q);
    watchedWindow = handle;
    if (handle)
        handle->installEventFilter(q);
}

void KelNativeWindowUtils::Private::updateShadow()
{
    const bool wanted = window && !compositorFrame && window->testAttribute(Qt::WA_WState_Created)
        && KelNativeWindowUtils::isCompositionEnabled();
    if (!wanted) {
        delete shadow.data();
        return;
    }
    if (shadow)
        shadow->createShadowWindow();
    else
        shadow = new KelCustomShadow(q, window, frame);
    shadow->sync(QPoint());
}

void KelNativeWindowUtils::Private::syncShadow()
{
    if (shadow)
        shadow->sync(QPoint());
}

bool KelNativeWindowUtils::Private::startResize(Qt::Edges edges, const QPoint& globalPos)
{
    if (!window)
        return false;
    qInfo() << "System resize started";
    drag = KelNativeWindowUtils::startSystemResize(window, edges) ? Drag::SystemResize : Drag::ManualResize;
    dragEdges = edges;
    pressGlobal = globalPos;
    startGeometry = window->geometry();
    emit q->resizeByUserStarted();
    return true;
}

void KelNativeWindowUtils::Private::finishDrag()
{
    const Drag ended = drag;
    drag = Drag::None;
    if (ended == Drag::SystemMove || ended == Drag::ManualMove) {
        qInfo() << "System move finished";
        emit q->moveByUserFinished();
    } else if (ended == Drag::SystemResize || ended == Drag::ManualResize) {
        qInfo() << "System resize finished";
        emit q->resizeByUserFinished();
    }
}

void KelNativeWindowUtils::Private::updateCursor(const QPoint& globalPos)
{
    const Qt::Edges edges
        = resizable ? KelNativeWindowUtils::edgesOf(q->hitTest(toDevicePos(window, globalPos))) : Qt::Edges();
    if (edges) {
        window->setCursor(cursorFor(edges));
        cursorSet = true;
    } else if (cursorSet) {
        window->unsetCursor();
        cursorSet = false;
    }
}

// Mouse events of the native window, seen before any widget gets them. Returns true to take the
// event away from the widgets.
bool KelNativeWindowUtils::Private::mouseEvent(QEvent* event)
{
    if (event->type() == QEvent::Enter) {
        // After a window-manager move or resize Qt sees no release; the pointer coming back ends it.
        if (drag == Drag::SystemMove || drag == Drag::SystemResize)
            finishDrag();
        return false;
    }
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint global = mouse->globalPos();

    if (drag == Drag::SystemMove || drag == Drag::SystemResize) {
        if (mouse->buttons() != Qt::NoButton && event->type() != QEvent::MouseButtonRelease)
            return false;
        finishDrag();
        if (event->type() == QEvent::MouseButtonRelease)
            return true;
    }
    if (drag == Drag::ManualMove || drag == Drag::ManualResize) {
        if (event->type() == QEvent::MouseMove) {
            const QPoint delta = global - pressGlobal;
            if (drag == Drag::ManualMove)
                window->move(startGeometry.topLeft() + delta);
            else
                window->setGeometry(resizedGeometry(window, startGeometry, dragEdges, delta));
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease && !(mouse->buttons() & Qt::LeftButton)) {
            finishDrag();
            return true;
        }
        return event->type() != QEvent::MouseButtonDblClick;
    }

    if (!resizable && !captionEnabled)
        return false;
    if (captionPressed) {
        if (event->type() == QEvent::MouseMove && (mouse->buttons() & Qt::LeftButton)) {
            if ((global - captionPress).manhattanLength() > kMoveThreshold) {
                captionPressed = false;
                q->startMove(global);
            }
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            captionPressed = false;
            return true;
        }
    }
    switch (event->type()) {
    case QEvent::MouseMove:
        if (mouse->buttons() == Qt::NoButton)
            updateCursor(global);
        return false;
    case QEvent::MouseButtonPress: {
        if (mouse->button() != Qt::LeftButton || mouse->buttons() != Qt::LeftButton)
            return false;
        const int code = q->hitTest(toDevicePos(window, global));
        const Qt::Edges edges = edgesOf(code);
        if (edges)
            return startResize(edges, global);
        if (code == HTCAPTION) {
            captionPressed = true;
            captionPress = global;
            return true;
        }
        return false;
    }
    case QEvent::MouseButtonDblClick: {
        if (mouse->button() != Qt::LeftButton || q->hitTest(toDevicePos(window, global)) != HTCAPTION)
            return false;
        if (window->windowFlags() & Qt::WindowMaximizeButtonHint) {
            if (window->isMaximized())
                window->showNormal();
            else
                window->showMaximized();
        }
        return true;
    }
    default:
        return false;
    }
}

KelNativeWindowUtils::KelNativeWindowUtils(QWidget* window)
    : QObject(window)
    , d(new Private)
{
    d->q = this;
    d->window = window;
    d->frame = new KelWindowFrame(this, window);
    if (window) {
        window->installEventFilter(this);
        d->watchNativeWindow();
    }
}

KelNativeWindowUtils::~KelNativeWindowUtils()
{
    delete d->shadow.data();
    delete d;
}

QWidget* KelNativeWindowUtils::window() const { return d->window; }

bool KelNativeWindowUtils::isResizable() const { return d->resizable; }

void KelNativeWindowUtils::setResizable(bool resizable) { d->resizable = resizable; }

bool KelNativeWindowUtils::isCaptionEnabled() const { return d->captionEnabled; }

void KelNativeWindowUtils::setCaptionEnabled(bool enabled) { d->captionEnabled = enabled; }

bool KelNativeWindowUtils::hasCompositorFrame() const { return d->compositorFrame; }

void KelNativeWindowUtils::setCompositorFrame(bool on)
{
    if (d->compositorFrame == on)
        return;
    d->compositorFrame = on;
    d->updateShadow();
}

void KelNativeWindowUtils::setCaptionWidget(QWidget* widget) { d->caption = widget; }

QWidget* KelNativeWindowUtils::captionWidget() const { return d->caption; }

void KelNativeWindowUtils::addNonCaptionWidget(QWidget* widget)
{
    if (!widget)
        return;
    for (const QPointer<QWidget>& known : d->nonCaptionWidgets) {
        if (known == widget)
            return;
    }
    d->nonCaptionWidgets.append(widget);
}

void KelNativeWindowUtils::addNonCaptionWidgets(const QList<QWidget*>& widgets)
{
    for (QWidget* widget : widgets)
        addNonCaptionWidget(widget);
}

KelWindowFrame* KelNativeWindowUtils::frame() const { return d->frame; }

QSize KelNativeWindowUtils::clientSize() const
{
    if (!d->window || !d->window->testAttribute(Qt::WA_WState_Created))
        return QSize();
    const double ratio = d->window->devicePixelRatioF();
    return QSize(qRound(d->window->width() * ratio), qRound(d->window->height() * ratio));
}

bool KelNativeWindowUtils::isMoving() const { return d->drag == Drag::SystemMove || d->drag == Drag::ManualMove; }

bool KelNativeWindowUtils::isResizing() const { return d->drag == Drag::SystemResize || d->drag == Drag::ManualResize; }

bool KelNativeWindowUtils::isInSizeMove() const { return d->drag != Drag::None; }

int KelNativeWindowUtils::resizeBorderWidth() const
{
    const double ratio = d->window ? d->window->devicePixelRatioF() : 1.0;
    return qRound(4 * ratio) + 4;
}

int KelNativeWindowUtils::hitTest(int x, int y) const
{
    QWidget* window = d->window;
    if (!window || !window->windowHandle() || !window->testAttribute(Qt::WA_WState_Created))
        return HTERROR;
    const QPoint origin = toDevicePos(window, window->geometry().topLeft());
    const QSize size = clientSize();
    const int left = origin.x();
    const int top = origin.y();
    const int right = left + size.width();
    const int bottom = top + size.height();

    int answer = HTNOWHERE;
    if (d->resizable && !isFull(window)) {
        const int border = resizeBorderWidth();
        const bool horizontal = window->minimumWidth() != window->maximumWidth();
        const bool vertical = window->minimumHeight() != window->maximumHeight();
        if (horizontal) {
            if (x >= left && x < left + border)
                answer = HTLEFT;
            else if (x >= right - border && x < right)
                answer = HTRIGHT;
        }
        if (vertical) {
            if (y >= bottom - border && y < bottom)
                answer = HTBOTTOM;
            else if (y >= top && y < top + border)
                answer = HTTOP;
        }
        if (horizontal && vertical) {
            const auto inSquare
                = [&](int cx, int cy) { return x >= cx && x < cx + border && y >= cy && y < cy + border; };
            if (inSquare(left, bottom - border))
                answer = HTBOTTOMLEFT;
            if (inSquare(right - border, bottom - border))
                answer = HTBOTTOMRIGHT;
            if (inSquare(left, top))
                answer = HTTOPLEFT;
            if (inSquare(right - border, top))
                return HTTOPRIGHT;
        }
        if (answer != HTNOWHERE)
            return answer;
    }

    QWidget* caption = d->caption;
    if (d->captionEnabled && caption && caption->isVisible()) {
        const QPoint local = KelUtils::mapDeviceToWidget(caption, QPoint(x, y));
        if (caption->rect().contains(local)) {
            QWidget* child = window->childAt(caption->mapTo(window, local));
            if (!child)
                return HTCAPTION;
            return d->isNonCaption(child) ? HTCLIENT : HTCAPTION;
        }
    }
    if (left < x && x < right && top < y && y < bottom)
        return HTCLIENT;
    return answer;
}

bool KelNativeWindowUtils::nativeEvent(const QByteArray&, void*, long*) { return false; }

bool KelNativeWindowUtils::isBlurBehindEnabled() const { return false; }

void KelNativeWindowUtils::setBlurBehindEnabled(bool on)
{
    if (on)
        qInfo() << "Blur behind is not available on this system";
    d->blurRequested = false;
}

bool KelNativeWindowUtils::setBackgroundEffectColor(const QColor&) { return false; }

KelCustomShadow* KelNativeWindowUtils::customShadow() const { return d->shadow; }

bool KelNativeWindowUtils::isCompositionEnabled()
{
    return QX11Info::isPlatformX11() && QX11Info::isCompositingManagerRunning();
}

namespace {

// Changes window flags of a top-level widget; a visible window is shown again, since changing
// flags hides it.
void changeFlags(QWidget* window, Qt::WindowFlags flags)
{
    if (window->windowFlags() == flags)
        return;
    const bool visible = window->isVisible();
    window->setWindowFlags(flags);
    if (visible)
        window->show();
}

} // namespace

void KelNativeWindowUtils::setStayOnTop(QWidget* widget, bool on)
{
    QWidget* window = widget ? widget->window() : nullptr;
    if (!window)
        return;
    Qt::WindowFlags flags = window->windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, on);
    changeFlags(window, flags);
}

void KelNativeWindowUtils::setShowWithoutActivating(QWidget* widget, bool on)
{
    QWidget* window = widget ? widget->window() : nullptr;
    if (!window)
        return;
    window->setAttribute(Qt::WA_ShowWithoutActivating, on);
    Qt::WindowFlags flags = window->windowFlags();
    flags.setFlag(Qt::WindowDoesNotAcceptFocus, on);
    changeFlags(window, flags);
}

void KelNativeWindowUtils::setShowInTaskbar(QWidget* widget, bool on)
{
    QWidget* window = widget ? widget->window() : nullptr;
    if (!window)
        return;
    const Qt::WindowFlags flags = window->windowFlags();
    const Qt::WindowType type = Qt::WindowType(int(flags & Qt::WindowType_Mask));
    // A popup never shows in the task bar; only plain windows and tool windows switch.
    if (type != Qt::Window && type != Qt::Tool)
        return;
    changeFlags(window, (flags & ~Qt::WindowType_Mask) | (on ? Qt::Window : Qt::Tool));
}

void KelNativeWindowUtils::setTransientOwner(QWidget* widget, QWidget* owner)
{
    QWidget* window = widget ? widget->window() : nullptr;
    QWindow* handle = window ? window->windowHandle() : nullptr;
    if (!handle)
        return;
    QWidget* ownerWindow = owner ? owner->window() : nullptr;
    QWindow* ownerHandle = ownerWindow && ownerWindow != window ? ownerWindow->windowHandle() : nullptr;
    if (ownerHandle && !ownerHandle->isTopLevel())
        ownerHandle = nullptr;
    if (handle->transientParent() != ownerHandle)
        handle->setTransientParent(ownerHandle);
    if (!QX11Info::isPlatformX11() || !window->testAttribute(Qt::WA_WState_Created))
        return;
    xcb_connection_t* connection = QX11Info::connection();
    if (!connection)
        return;
    const xcb_window_t id = xcb_window_t(window->winId());
    const xcb_window_t ownerId = ownerHandle ? xcb_window_t(ownerHandle->winId()) : XCB_NONE;
    if (ownerId != XCB_NONE) {
        xcb_change_property(
            connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1, &ownerId);
    } else if (!ownerWindow) {
        xcb_delete_property(connection, id, XCB_ATOM_WM_TRANSIENT_FOR);
    }
    xcb_flush(connection);
}

quintptr KelNativeWindowUtils::transientOwnerId(const QWidget* widget)
{
    const QWidget* window = widget ? widget->window() : nullptr;
    if (!window || !window->testAttribute(Qt::WA_WState_Created) || !QX11Info::isPlatformX11())
        return 0;
    xcb_connection_t* connection = QX11Info::connection();
    if (!connection)
        return 0;
    const xcb_get_property_cookie_t cookie = xcb_get_property(
        connection, 0, xcb_window_t(window->winId()), XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
    quintptr owner = 0;
    if (reply && reply->type == XCB_ATOM_WINDOW && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        owner = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
    free(reply);
    return owner;
}

bool KelNativeWindowUtils::startSystemMove(QWidget* widget)
{
    QWidget* window = widget ? widget->window() : nullptr;
    if (!window || !window->isVisible() || !window->windowHandle())
        return false;
    return window->windowHandle()->startSystemMove();
}

bool KelNativeWindowUtils::startSystemResize(QWidget* widget, Qt::Edges edges)
{
    QWidget* window = widget ? widget->window() : nullptr;
    if (!window || !window->isVisible() || !window->windowHandle() || !edges)
        return false;
    return window->windowHandle()->startSystemResize(edges);
}

Qt::Edges KelNativeWindowUtils::edgesOf(int code)
{
    switch (code) {
    case HTLEFT:
        return Qt::LeftEdge;
    case HTRIGHT:
        return Qt::RightEdge;
    case HTTOP:
        return Qt::TopEdge;
    case HTBOTTOM:
        return Qt::BottomEdge;
    case HTTOPLEFT:
        return Qt::TopEdge | Qt::LeftEdge;
    case HTTOPRIGHT:
        return Qt::TopEdge | Qt::RightEdge;
    case HTBOTTOMLEFT:
        return Qt::BottomEdge | Qt::LeftEdge;
    case HTBOTTOMRIGHT:
        return Qt::BottomEdge | Qt::RightEdge;
    default:
        return Qt::Edges();
    }
}

QPoint KelNativeWindowUtils::toDevicePos(const QWidget* widget, const QPoint& globalPos)
{
    // Qt scales logical positions around the origin of the window's screen.
    const QWidget* window = widget ? widget->window() : nullptr;
    const QWindow* handle = window ? window->windowHandle() : nullptr;
    const QScreen* screen = handle ? handle->screen() : QGuiApplication::primaryScreen();
    const QPointF origin = screen ? QPointF(screen->geometry().topLeft()) : QPointF();
    const double ratio = window ? window->devicePixelRatioF() : 1.0;
    const QPointF device = (QPointF(globalPos) - origin) * ratio + origin;
    return QPoint(qRound(device.x()), qRound(device.y()));
}

bool KelNativeWindowUtils::startMove(const QPoint& globalPos)
{
    if (!d->window || d->drag != Drag::None)
        return false;
    qInfo() << "System move started";
    d->drag = startSystemMove(d->window) ? Drag::SystemMove : Drag::ManualMove;
    d->pressGlobal = globalPos;
    d->startGeometry = d->window->geometry();
    emit moveByUserStarted();
    return true;
}

bool KelNativeWindowUtils::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == d->window) {
        switch (event->type()) {
        case QEvent::WinIdChange:
            if (!d->window->windowHandle())
                qCritical() << "WinIdChange but not created";
            d->watchNativeWindow();
            d->updateShadow();
            break;
        case QEvent::Show:
            // A compositing manager may have started or stopped since the last show.
            d->watchNativeWindow();
            d->updateShadow();
            break;
        case QEvent::Hide:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowStateChange:
            d->syncShadow();
            break;
        default:
            break;
        }
        return false;
    }
    if (watched == d->watchedWindow && d->window) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Enter:
            return d->mouseEvent(event);
        default:
            break;
        }
    }
    return false;
}

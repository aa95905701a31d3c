#include "eventfilters/kelglobalmousewatcher.h"

#include <QCoreApplication>
#include <QDebug>
#include <QList>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <QWindow>

namespace {

// The shared filter: one per process, alive while any watcher is registered.
class MouseHook : public QObject {
public:
    QList<KelGlobalMouseWatcher*> watchers;
    QPoint lastMovePos; // starts at (0, 0): a first move to the origin is not reported

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    template <typename Emit> void emitToAll(Emit emitOne)
    {
        // A listener may delete watchers, including later ones of this pass.
        QList<QPointer<KelGlobalMouseWatcher>> targets;
        for (KelGlobalMouseWatcher* watcher : qAsConst(watchers))
            targets.append(watcher);
        for (const QPointer<KelGlobalMouseWatcher>& watcher : qAsConst(targets))
            if (watcher)
                emitOne(watcher.data());
    }
};

MouseHook* s_hook = nullptr;

bool MouseHook::eventFilter(QObject* watched, QEvent* event)
{
    // The filter sees every event of the process, also those sent to objects in construction or
    // destruction: the object is looked at only for a mouse event.
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::NonClientAreaMouseMove && type != QEvent::MouseButtonPress
        && type != QEvent::NonClientAreaMouseButtonPress)
        return false;
    // Every mouse event reaches a window first; the copies Qt then hands to widgets and their parents
    // are not counted again.
    if (!watched->isWindowType())
        return false;
    if (type == QEvent::MouseMove || type == QEvent::NonClientAreaMouseMove) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint pos = KelGlobalMouseWatcher::rawGlobalPosition(static_cast<QWindow*>(watched), mouse->screenPos());
        if (pos != lastMovePos) {
            lastMovePos = pos;
            emitToAll([pos](KelGlobalMouseWatcher* watcher) { emit watcher->mouseMoved(pos); });
        }
    } else if (type == QEvent::MouseButtonPress || type == QEvent::NonClientAreaMouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const Qt::MouseButton button = mouse->button();
        if (button != Qt::LeftButton && button != Qt::RightButton && button != Qt::MiddleButton)
            return false;
        const QPoint pos = KelGlobalMouseWatcher::rawGlobalPosition(static_cast<QWindow*>(watched), mouse->screenPos());
        emitToAll([pos, button](KelGlobalMouseWatcher* watcher) { emit watcher->mousePressed(pos, button); });
    }
    return false;
}

} // namespace

KelGlobalMouseWatcher::KelGlobalMouseWatcher(QObject* parent)
    : QObject(parent)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        qWarning() << "SetHook failed" << (app ? "(not on the GUI thread)" : "(no application object)");
        return;
    }
    if (!s_hook) {
        s_hook = new MouseHook;
        app->installEventFilter(s_hook);
    }
    s_hook->watchers.append(this);
    m_registered = true;
}

KelGlobalMouseWatcher::~KelGlobalMouseWatcher()
{
    if (!m_registered || !s_hook)
        return;
    s_hook->watchers.removeAll(this);
    if (s_hook->watchers.isEmpty()) {
        if (QCoreApplication* app = QCoreApplication::instance())
            app->removeEventFilter(s_hook);
        delete s_hook;
        s_hook = nullptr;
    }
}

bool KelGlobalMouseWatcher::isHookInstalled() { return s_hook != nullptr; }

QPoint KelGlobalMouseWatcher::rawGlobalPosition(const QWindow* window, const QPointF& logicalGlobalPos)
{
    const QScreen* screen = window ? window->screen() : nullptr;
    if (!screen)
        return logicalGlobalPos.toPoint();
    // Qt scales logical positions around the origin of the window's screen; the system's position was
    // whole, so rounding recovers it.
    const QPointF origin(screen->geometry().topLeft());
    return ((logicalGlobalPos - origin) * window->devicePixelRatio() + origin).toPoint();
}

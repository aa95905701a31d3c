#include "hoverleaveworkaround.h"

#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace {
// A widget behind an active modal window hears nothing of the mouse.
bool isBlockedByModal(QWidget* widget)
{
    QWidget* modal = QApplication::activeModalWidget();
    return modal && widget->window() != modal && !modal->isAncestorOf(widget);
}

// widget and its ancestors within its window, stopping before stop or an ancestor of stop.
QList<QWidget*> chainUpTo(QWidget* widget, QWidget* stop)
{
    QList<QWidget*> chain;
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        if (stop && (w == stop || w->isAncestorOf(stop)))
            break;
        chain.append(w);
        if (w->isWindow())
            break;
    }
    return chain;
}
}

HoverLeaveWorkaround::HoverLeaveWorkaround(QObject* parent)
    : QObject(parent)
{
    m_recheckTimer.setSingleShot(true);
    m_recheckTimer.setInterval(0);
    connect(&m_recheckTimer, &QTimer::timeout, this, &HoverLeaveWorkaround::recheckPendingLeave);
}

void HoverLeaveWorkaround::onMouseMove(QObject* receiver, QMouseEvent* event)
{
    if (!receiver->isWidgetType() && !receiver->isWindowType()) {
        m_positionValid = false;
        m_lastGlobalPos = QPoint(-1, -1);
        forgetHovered();
        return;
    }
    QPoint global = event->globalPos();
    if (auto* window = qobject_cast<QWindow*>(receiver))
        global = window->mapToGlobal(event->localPos().toPoint());
    m_positionValid = true;
    m_lastGlobalPos = global;

    QWidget* found = event->type() == QEvent::NonClientAreaMouseMove ? nullptr : QApplication::widgetAt(global);
    const bool eligible = found && !found->testAttribute(Qt::WA_UnderMouse) && found->isVisible();
    bool leaveDue = false;
    if (m_hovered != found)
        leaveDue
            = m_hovered && m_hovered->testAttribute(Qt::WA_UnderMouse) && !(found && m_hovered->isAncestorOf(found));

    if (m_hovered != found || leaveDue) {
        if (m_hovered)
            m_hovered->removeEventFilter(this);
        if (found)
            found->installEventFilter(this);
    }
    if (leaveDue || eligible) {
        QWidget* left = leaveDue ? m_hovered.data() : nullptr;
        QWidget* entered = eligible ? found : nullptr;
        if (left)
            left->setAttribute(Qt::WA_UnderMouse, false);
        if (entered)
            entered->setAttribute(Qt::WA_UnderMouse, true);
        dispatchEnterLeave(entered, left, global);
    }
    m_hovered = found;
}

void HoverLeaveWorkaround::dispatchEnterLeave(QWidget* entered, QWidget* left, const QPoint& globalPos)
{
    for (QWidget* w : chainUpTo(left, entered)) {
        w->setAttribute(Qt::WA_UnderMouse, false);
        if (isBlockedByModal(w))
            continue;
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w, &leave);
    }
    const QList<QWidget*> enterChain = chainUpTo(entered, left);
    for (auto it = enterChain.crbegin(); it != enterChain.crend(); ++it) {
        QWidget* w = *it;
        w->setAttribute(Qt::WA_UnderMouse, true);
        if (isBlockedByModal(w))
            continue;
        const QPointF local = w->mapFromGlobal(globalPos);
        const QPointF inWindow = w->window()->mapFromGlobal(globalPos);
        QEnterEvent enter(local, inWindow, globalPos);
        QApplication::sendEvent(w, &enter);
    }
}

bool HoverLeaveWorkaround::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_hovered) {
        if (event->type() == QEvent::Leave) {
            m_pendingLeave = m_hovered;
            m_recheckTimer.start();
        } else if (event->type() == QEvent::Hide) {
            m_hovered->setAttribute(Qt::WA_UnderMouse, false);
            forgetHovered();
        }
    }
    return false;
}

void HoverLeaveWorkaround::recheckPendingLeave()
{
    QWidget* pending = m_pendingLeave;
    m_pendingLeave = nullptr;
    if (!pending || pending != m_hovered || pending->testAttribute(Qt::WA_UnderMouse))
        return;
    if (!pending->rect().contains(pending->mapFromGlobal(QCursor::pos())))
        return;
    pending->setAttribute(Qt::WA_UnderMouse, true);
    dispatchEnterLeave(pending, nullptr, QCursor::pos());
}

void HoverLeaveWorkaround::forgetHovered()
{
    if (m_hovered)
        m_hovered->removeEventFilter(this);
    m_hovered = nullptr;
}

#include "eventfilters/kelchildwatcher.h"

#include <QChildEvent>
#include <QWidget>

KelChildWatcher::KelChildWatcher(int flags, QWidget* widget, QObject* parent)
    : QObject(parent)
    , m_flags(Flags(flags))
{
    // Entering and leaving are reported for tracked children only, so they need the child events too.
    if (m_flags & (WatchAdded | WatchRemoved | WatchEnter | WatchLeave))
        m_eventTypes << QEvent::ChildAdded << QEvent::ChildRemoved;
    if (m_flags & (WatchEnter | WatchLeave))
        m_eventTypes << QEvent::Enter << QEvent::Leave;
    setWidget(widget);
}

KelChildWatcher::~KelChildWatcher() = default;

void KelChildWatcher::untrackAll()
{
    if (m_widget)
        m_widget->removeEventFilter(this);
    const QSet<QObject*> tracked = m_tracked;
    for (QObject* child : tracked)
        untrack(child);
}

void KelChildWatcher::setWidget(QWidget* widget)
{
    untrackAll();
    m_widget = nullptr;
    if (m_eventTypes.isEmpty())
        return;
    m_widget = widget;
    if (!widget)
        return;
    widget->installEventFilter(this);
    if (m_flags & Recursive) {
        const auto descendants = widget->findChildren<QWidget*>();
        for (QWidget* child : descendants)
            track(child);
    }
}

bool KelChildWatcher::isTracked(const QWidget* child) const { return m_tracked.contains(const_cast<QWidget*>(child)); }

void KelChildWatcher::track(QObject* child)
{
    if (m_tracked.contains(child))
        return;
    m_tracked.insert(child);
    child->installEventFilter(this);
    // A child that goes away without a removal event of ours must not linger in the set.
    connect(child, &QObject::destroyed, this, &KelChildWatcher::forget, Qt::UniqueConnection);
}

void KelChildWatcher::forget(QObject* child) { m_tracked.remove(child); }

void KelChildWatcher::untrack(QObject* child)
{
    if (!m_tracked.remove(child))
        return;
    child->removeEventFilter(this);
    disconnect(child, &QObject::destroyed, this, &KelChildWatcher::forget);
}

bool KelChildWatcher::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (!m_eventTypes.contains(type))
        return false;
    const bool onWidget = watched == m_widget;
    const bool onTracked = !onWidget && m_tracked.contains(watched);
    if (!onWidget && !onTracked)
        return false;

    if (type == QEvent::Enter || type == QEvent::Leave) {
        if (onTracked) {
            auto* child = static_cast<QWidget*>(watched);
            if (type == QEvent::Enter)
                emit childWidgetEntered(child);
            else
                emit childWidgetLeaved(child);
        }
        return false;
    }

    if (onTracked && !(m_flags & Recursive))
        return false;
    QObject* child = static_cast<QChildEvent*>(event)->child();
    if (!child || !child->isWidgetType())
        return false;
    if (type == QEvent::ChildAdded) {
        track(child);
        emit childWidgetAdded(static_cast<QWidget*>(child));
    } else {
        // A sub-tree taken elsewhere is no longer watched.
        const auto descendants = child->findChildren<QObject*>();
        for (QObject* descendant : descendants)
            untrack(descendant);
        untrack(child);
        emit childWidgetRemoved(child);
    }
    return false;
}

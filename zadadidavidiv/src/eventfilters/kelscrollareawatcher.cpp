#include "eventfilters/kelscrollareawatcher.h"

#include "eventfilters/kelchildwatcher.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>

KelScrollAreaWatcher::KelScrollAreaWatcher(QScrollArea* area)
    : QObject(area)
    , m_area(area)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &KelScrollAreaWatcher::syncHover);
    if (!area)
        return;
    const auto descendants = area->findChildren<QWidget*>();
    for (QWidget* child : descendants)
        child->setMouseTracking(true);
    auto* children = new KelChildWatcher(KelChildWatcher::WatchAdded | KelChildWatcher::Recursive, area, this);
    connect(children, &KelChildWatcher::childWidgetAdded, this, [](QWidget* child) { child->setMouseTracking(true); });
    area->viewport()->installEventFilter(this);
    connect(area->verticalScrollBar(), &QScrollBar::valueChanged, this, &KelScrollAreaWatcher::syncHover);
    connect(area->horizontalScrollBar(), &QScrollBar::valueChanged, this, &KelScrollAreaWatcher::syncHover);
}

KelScrollAreaWatcher::~KelScrollAreaWatcher() = default;

QScrollArea* KelScrollAreaWatcher::area() const { return qobject_cast<QScrollArea*>(m_area.data()); }

void KelScrollAreaWatcher::updateHoveredWidget(const QPoint& globalPos)
{
    QWidget* hovered = nullptr;
    if (QScrollArea* area = this->area()) {
        hovered = area->childAt(area->mapFromGlobal(globalPos));
        if (hovered == area->widget() || hovered == area->viewport())
            hovered = nullptr;
    }
    m_hovered = hovered;
}

void KelScrollAreaWatcher::syncHover()
{
    const QPointer<QWidget> previous = m_hovered;
    const QPoint cursor = QCursor::pos();
    updateHoveredWidget(cursor);
    if (m_hovered == previous)
        return;
    if (previous) {
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(previous, &leave);
    }
    if (QWidget* entered = m_hovered) {
        const QPointF local = entered->mapFromGlobal(cursor);
        const QPointF inWindow = entered->mapTo(entered->window(), local.toPoint());
        QEnterEvent enter(local, inWindow, cursor);
        QCoreApplication::sendEvent(entered, &enter);
    }
}

bool KelScrollAreaWatcher::eventFilter(QObject* watched, QEvent* event)
{
    QScrollArea* area = this->area();
    if (!area || watched != area->viewport())
        return false;
    switch (event->type()) {
    case QEvent::MouseMove:
        updateHoveredWidget(static_cast<QMouseEvent*>(event)->globalPos());
        break;
    case QEvent::Leave:
        if (m_hovered && m_hovered != watched) {
            QEvent leave(QEvent::Leave);
            QCoreApplication::sendEvent(m_hovered, &leave);
        }
        m_hovered = nullptr;
        break;
    case QEvent::LayoutRequest:
        m_timer.start();
        break;
    default:
        break;
    }
    return false;
}

#include "eventfilters/kelgeometrywatcher.h"

#include <QEvent>
#include <QWidget>

KelGeometryWatcher::KelGeometryWatcher(QWidget* widget, int mode)
    : QObject(widget)
    , m_mode(mode)
    , m_widget(widget)
{
    if (!widget)
        return;
    widget->installEventFilter(this);
    m_visible = widget->isVisible();
    m_parent = widget->parentWidget();
    updateWindowFilter();
    m_initialised = true;
}

KelGeometryWatcher::~KelGeometryWatcher() = default;

void KelGeometryWatcher::updateWindowFilter()
{
    QWidget* window = nullptr;
    if (m_widget && m_mode != WidgetGeometry && !m_widget->isWindow())
        window = m_widget->window();
    if (window == m_window)
        return;
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    if (window)
        window->installEventFilter(this);
}

void KelGeometryWatcher::checkGeometry()
{
    if (!m_initialised || !m_widget)
        return;
    QWidget* widget = m_widget;
    switch (m_mode) {
    case WidgetGeometry:
        if (widget->geometry() != m_geometry) {
            m_geometry = widget->geometry();
            emit geometryChanged(m_geometry);
        }
        break;
    case WindowGeometry: {
        const QRect rect = widget->isWindow() ? widget->rect()
                                              : QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
        if (rect != m_windowGeometry) {
            m_windowGeometry = rect;
            emit windowGeometryChanged(rect);
        }
        break;
    }
    case ScreenGeometry: {
        const QRect rect
            = widget->isWindow() ? widget->geometry() : QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
        if (rect != m_screenGeometry) {
            m_screenGeometry = rect;
            emit screenGeometryChanged(rect);
        }
        break;
    }
    default:
        break;
    }
}

void KelGeometryWatcher::checkVisibility()
{
    if (!m_initialised || !m_widget || m_widget->isVisible() == m_visible)
        return;
    m_visible = m_widget->isVisible();
    emit visibilityChanged(m_visible);
}

void KelGeometryWatcher::checkParent()
{
    if (!m_initialised || !m_widget || m_widget->parentWidget() == m_parent)
        return;
    m_parent = m_widget->parentWidget();
    emit parentWidgetChanged(m_parent);
}

void KelGeometryWatcher::checkAll()
{
    checkParent();
    updateWindowFilter();
    checkVisibility();
    checkGeometry();
}

bool KelGeometryWatcher::eventFilter(QObject* watched, QEvent* event)
{
    const bool onWidget = watched == m_widget;
    if (!onWidget && watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
        checkGeometry();
        break;
    case QEvent::WindowStateChange:
        if (!onWidget)
            checkGeometry();
        break;
    case QEvent::Show:
    case QEvent::ShowToParent:
        checkVisibility();
        checkGeometry();
        break;
    case QEvent::Hide:
        checkVisibility();
        break;
    case QEvent::ParentChange:
    case QEvent::WinIdChange:
        checkAll();
        break;
    default:
        break;
    }
    return false;
}

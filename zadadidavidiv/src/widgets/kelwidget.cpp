#include "widgets/kelwidget.h"

#include <QFocusEvent>
#include <QMoveEvent>

KelWidget::KelWidget(QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags)
{
}

KelWidget::~KelWidget() = default;

bool KelWidget::event(QEvent* event)
{
    const bool result = QWidget::event(event);
    switch (event->type()) {
    case QEvent::FocusIn:
        emit focused(static_cast<QFocusEvent*>(event)->reason());
        break;
    case QEvent::FocusOut:
        emit focusLost();
        break;
    case QEvent::ShowToParent:
        emit visibilityToParentChanged(true);
        emit showedToParent();
        break;
    case QEvent::HideToParent:
        emit visibilityToParentChanged(false);
        emit hidedToParent();
        break;
    case QEvent::EnabledChange:
        emit enabledChanged(isEnabled());
        break;
    default:
        break;
    }
    return result;
}

void KelWidget::moveEvent(QMoveEvent* event)
{
    emit moved(event->pos());
    emit geometryChanged(geometry());
}

void KelWidget::resizeEvent(QResizeEvent*)
{
    emit resized(size());
    emit geometryChanged(geometry());
}

void KelWidget::showEvent(QShowEvent*)
{
    emit visibilityChanged(true);
    emit showed();
}

void KelWidget::hideEvent(QHideEvent*)
{
    emit visibilityChanged(false);
    emit hided();
}

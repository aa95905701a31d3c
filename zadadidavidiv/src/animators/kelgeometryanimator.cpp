#include "animators/kelgeometryanimator.h"

#include <QWidget>

KelGeometryAnimator::KelGeometryAnimator(QWidget* widget)
    : KelAbstractAnimator(widget)
{
}

void KelGeometryAnimator::animateGeometry(const QRect& target, bool animated, int duration, bool wait)
{
    QWidget* w = widget();
    if (!w)
        return;
    setDuration(duration);
    animate(w->geometry(), target, animated, wait);
}

void KelGeometryAnimator::applyValue(const QVariant& value)
{
    QWidget* w = widget();
    if (!w)
        return;
    const QRect rect = value.toRect();
    w->move(rect.topLeft());
    if (w->sizePolicy().horizontalPolicy() == QSizePolicy::Fixed)
        w->setFixedWidth(rect.width());
    else
        w->resize(rect.width(), w->height());
    if (w->sizePolicy().verticalPolicy() == QSizePolicy::Fixed)
        w->setFixedHeight(rect.height());
    else
        w->resize(w->width(), rect.height());
}

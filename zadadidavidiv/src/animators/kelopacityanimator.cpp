#include "animators/kelopacityanimator.h"

#include "painting/kelgraphicsopacityeffect.h"
#include "utils/kelfuzzy.h"

#include <QWidget>

KelOpacityAnimator::KelOpacityAnimator(QWidget* widget)
    : KelAbstractAnimator(widget)
{
}

void KelOpacityAnimator::animateOpacity(double target, bool animated, int duration, bool wait)
{
    QWidget* w = widget();
    if (!w)
        return;
    setDuration(duration);
    double from = w->isVisible() ? 1.0 : 0.0;
    if (w->isWindow()) {
        from = w->windowOpacity();
    } else if (auto* effect = qobject_cast<KelGraphicsOpacityEffect*>(w->graphicsEffect())) {
        from = effect->opacity();
    } else if (w->graphicsEffect()) {
        // Another effect owns the painting: the opacity cannot be faded through it.
        animated = false;
    } else {
        (new KelGraphicsOpacityEffect(w))->setOpacity(from);
    }
    animate(from, target, animated, wait);
}

void KelOpacityAnimator::applyValue(const QVariant& value)
{
    QWidget* w = widget();
    if (!w)
        return;
    const double opacity = value.toDouble();
    if (w->isWindow()) {
        w->setWindowOpacity(opacity);
    } else if (!w->graphicsEffect()) {
        (new KelGraphicsOpacityEffect(w))->setOpacity(opacity);
    } else if (auto* effect = qobject_cast<KelGraphicsOpacityEffect*>(w->graphicsEffect())) {
        effect->setOpacity(opacity);
    }
    if (KelUtils::isFuzzyNull(opacity))
        w->setVisible(false);
}

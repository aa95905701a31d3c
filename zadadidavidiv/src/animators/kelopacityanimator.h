#pragma once

#include "animators/kelabstractanimator.h"

// Fades a window through its window opacity and a child widget through its KelGraphicsOpacityEffect.
// Fading to 0 ends with the widget hidden; fading in does not show it, the caller shows it first.
class KelOpacityAnimator : public KelAbstractAnimator {
    Q_OBJECT
public:
    explicit KelOpacityAnimator(QWidget* widget);

    void animateOpacity(double target, bool animated, int duration, bool wait = false);

protected:
    void applyValue(const QVariant& value) override;
};

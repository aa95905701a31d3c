#pragma once

#include "animators/kelabstractanimator.h"

#include <QRect>

// Moves and resizes a widget; a widget of fixed size policy gets new fixed sizes.
class KelGeometryAnimator : public KelAbstractAnimator {
    Q_OBJECT
public:
    explicit KelGeometryAnimator(QWidget* widget);

    void animateGeometry(const QRect& target, bool animated, int duration, bool wait = false);

protected:
    void applyValue(const QVariant& value) override;
};

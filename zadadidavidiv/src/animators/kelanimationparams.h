#pragma once

#include <QVariant>

// Two-ended animation record: one curve and duration for each direction of travel. The default record (four
// zeros and two null values) is what an unknown animation kind yields.
struct KelAnimationParams {
    int forwardEasing = 0; // QEasingCurve::Type used while moving towards the end
    int forwardDuration = 0; // milliseconds
    int backwardEasing = 0; // QEasingCurve::Type used while moving towards the start
    int backwardDuration = 0; // milliseconds
    QVariant startValue;
    QVariant endValue;

    bool operator==(const KelAnimationParams& other) const
    {
        return forwardEasing == other.forwardEasing && forwardDuration == other.forwardDuration
            && backwardEasing == other.backwardEasing && backwardDuration == other.backwardDuration
            && startValue == other.startValue && endValue == other.endValue;
    }
    bool operator!=(const KelAnimationParams& other) const { return !(*this == other); }
};

Q_DECLARE_METATYPE(KelAnimationParams)

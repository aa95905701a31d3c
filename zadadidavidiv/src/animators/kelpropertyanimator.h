#pragma once

#include "animators/kelanimationparams.h"

#include <QObject>

#include <memory>

class QEasingCurve;
class QPropertyAnimation;

// Animates registered properties between the two ends of their KelAnimationParams. A move sent back while it
// runs continues from the value reached, with the other direction's curve and duration.
class KelPropertyAnimator : public QObject {
    Q_OBJECT
public:
    enum Pos { Start = 0, End = 1 };
    Q_ENUM(Pos)

    explicit KelPropertyAnimator(QObject* parent = nullptr);
    ~KelPropertyAnimator() override;

    // Registers the property (writing its start value at once), or replaces the params of a registered name.
    void setupAnimation(QObject* target, const char* property, const KelAnimationParams& params);
    void animateValue(const char* property, Pos pos);
    void setValue(const char* property, Pos pos, bool animated);

    Pos direction(const char* property) const;
    bool isActive(const char* property) const;
    QPropertyAnimation* animation(const char* property) const;
    KelAnimationParams animationParams(const char* property) const;

    // Inverse of an easing curve by a short bisection; curves that are not injective give the value itself.
    static double progressForValue(const QEasingCurve& curve, double value);

private:
    class Private;
    std::unique_ptr<Private> d;
};

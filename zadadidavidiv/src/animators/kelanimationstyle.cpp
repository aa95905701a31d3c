#include "animators/kelanimationstyle.h"

#include <QCoreApplication>
#include <QEasingCurve>
#include <QPointer>

KelAnimationStyle::KelAnimationStyle(QObject* parent)
    : QObject(parent)
{
}

KelAnimationStyle* KelAnimationStyle::instance()
{
    static QPointer<KelAnimationStyle> style;
    if (!style)
        style = new KelAnimationStyle(QCoreApplication::instance());
    return style;
}

void KelAnimationStyle::setSource(const Source& source) { m_source = source; }

void KelAnimationStyle::notifyStyleChanged() { emit styleChanged(); }

KelAnimationParams KelAnimationStyle::animationSpec(int kind) const
{
    return m_source.animationSpec ? m_source.animationSpec(kind) : baseAnimationSpec(kind);
}

double KelAnimationStyle::opacity(int kind) const
{
    return m_source.opacity ? m_source.opacity(kind) : baseOpacity(kind);
}

KelAnimationParams KelAnimationStyle::baseAnimationSpec(int kind)
{
    const auto spec = [](int forwardMs, QEasingCurve::Type backward, int backwardMs) {
        return KelAnimationParams { QEasingCurve::OutCubic, forwardMs, backward, backwardMs, 0.0, 1.0 };
    };
    switch (kind) {
    case 0:
        return spec(500, QEasingCurve::InCubic, 500);
    case 1:
        return spec(200, QEasingCurve::InCubic, 500);
    case 2:
        return spec(200, QEasingCurve::OutCubic, 200);
    case 3:
        return spec(300, QEasingCurve::InCubic, 500);
    case 4:
        return spec(150, QEasingCurve::InCubic, 350);
    default:
        return KelAnimationParams();
    }
}

double KelAnimationStyle::baseOpacity(int kind)
{
    switch (kind) {
    case 0:
        return 0.6;
    case 1:
        return 0.57;
    default:
        return 0.0;
    }
}

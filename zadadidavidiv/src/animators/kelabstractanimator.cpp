#include "animators/kelabstractanimator.h"

#include "eventloops/nestedloop.h"

#include <QEventLoop>
#include <QVariantAnimation>
#include <QWidget>

KelAbstractAnimator::KelAbstractAnimator(QWidget* widget)
    : QObject(widget)
    , m_widget(widget)
    , m_animation(new QVariantAnimation(this))
{
    m_animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        if (m_animation->state() == QAbstractAnimation::Running)
            applyValue(value);
    });
    connect(m_animation, &QVariantAnimation::finished, this, &KelAbstractAnimator::finished);
}

KelAbstractAnimator::~KelAbstractAnimator() = default;

bool KelAbstractAnimator::isRunning() const { return m_animation->state() == QAbstractAnimation::Running; }

void KelAbstractAnimator::stop() { m_animation->stop(); }

void KelAbstractAnimator::animate(const QVariant& from, const QVariant& to, bool animated, bool wait)
{
    if (from == to) {
        stop();
        return;
    }
    if (!m_widget || !m_widget->isVisible() || !animated) {
        stop();
        applyValue(to);
        return;
    }
    int duration = m_duration;
    if (isRunning()) {
        duration = qMax(0, m_animation->totalDuration() - m_animation->currentTime());
        m_animation->stop();
    }
    m_animation->setStartValue(from);
    m_animation->setEndValue(to);
    m_animation->setDuration(duration);
    m_animation->setCurrentTime(0);
    m_animation->start(QAbstractAnimation::KeepWhenStopped);
    if (!wait)
        return;
    QEventLoop loop;
    connect(m_animation, &QAbstractAnimation::stateChanged, &loop, [&loop](QAbstractAnimation::State state) {
        if (state == QAbstractAnimation::Stopped)
            loop.quit();
    });
    // The loop dies with the animator when a handler deletes the widget meanwhile.
    connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
    NestedLoop::Scope scope;
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

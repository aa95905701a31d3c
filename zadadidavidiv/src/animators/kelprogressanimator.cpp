#include "animators/kelprogressanimator.h"

#include <QPropertyAnimation>

namespace {
const char* const progressName = "progress";
}

KelProgressAnimator::KelProgressAnimator(QObject* parent, const KelAnimationParams& params)
    : QObject(parent)
    , m_animator(new KelPropertyAnimator(this))
{
    qRegisterMetaType<KelPropertyAnimator::Pos>("KelPropertyAnimator::Pos");
    m_animator->setupAnimation(this, progressName, params);
    if (QPropertyAnimation* animation = m_animator->animation(progressName)) {
        // Runs are told from the state changes rather than from Qt's finished(), which stays silent when a run
        // is cut short; every run thus reports its end exactly once.
        connect(animation, &QAbstractAnimation::stateChanged, this,
            [this](QAbstractAnimation::State newState, QAbstractAnimation::State oldState) {
                onStateChanged(newState, oldState);
            });
    }
}

double KelProgressAnimator::progress() const { return m_progress; }

void KelProgressAnimator::setProgress(double progress)
{
    if (qFuzzyCompare(progress, m_progress))
        return;
    m_progress = progress;
    emit progressChanged(progress);
}

void KelProgressAnimator::animateTo(KelPropertyAnimator::Pos pos) { m_animator->animateValue(progressName, pos); }

void KelProgressAnimator::animateToEnd() { animateTo(KelPropertyAnimator::End); }

void KelProgressAnimator::animateToStart() { animateTo(KelPropertyAnimator::Start); }

void KelProgressAnimator::setPos(KelPropertyAnimator::Pos pos, bool animated)
{
    m_animator->setValue(progressName, pos, animated);
}

void KelProgressAnimator::jumpToEnd() { setPos(KelPropertyAnimator::End, false); }

void KelProgressAnimator::jumpToStart() { setPos(KelPropertyAnimator::Start, false); }

KelPropertyAnimator::Pos KelProgressAnimator::direction() const { return m_animator->direction(progressName); }

bool KelProgressAnimator::isActive() const { return m_animator->isActive(progressName); }

void KelProgressAnimator::setAnimationParams(const KelAnimationParams& params)
{
    m_animator->setupAnimation(this, progressName, params);
}

KelAnimationParams KelProgressAnimator::animationParams() const { return m_animator->animationParams(progressName); }

void KelProgressAnimator::onStateChanged(int newState, int oldState)
{
    if (oldState == QAbstractAnimation::Stopped && newState == QAbstractAnimation::Running)
        emit started(direction());
    else if (oldState != QAbstractAnimation::Stopped && newState == QAbstractAnimation::Stopped)
        emit finished(direction());
}

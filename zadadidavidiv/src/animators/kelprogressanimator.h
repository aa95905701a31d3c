#pragma once

#include "animators/kelpropertyanimator.h"

// One animated double "progress" that runs between the two values of its params.
class KelProgressAnimator : public QObject {
    Q_OBJECT
    Q_PROPERTY(double progress READ progress WRITE setProgress NOTIFY progressChanged)
public:
    explicit KelProgressAnimator(QObject* parent = nullptr, const KelAnimationParams& params = KelAnimationParams());

    double progress() const;
    void setProgress(double progress);

    void animateTo(KelPropertyAnimator::Pos pos);
    void animateToEnd();
    void animateToStart();
    void setPos(KelPropertyAnimator::Pos pos, bool animated);
    void jumpToEnd();
    void jumpToStart();
    KelPropertyAnimator::Pos direction() const;
    bool isActive() const;
    void setAnimationParams(const KelAnimationParams& params);
    KelAnimationParams animationParams() const;

signals:
    void progressChanged(double progress);
    // Emitted once when a run begins, and once when it ends, however it ends (reached, jumped, re-timed).
    void started(KelPropertyAnimator::Pos destPos);
    void finished(KelPropertyAnimator::Pos currPos);

private:
    void onStateChanged(int newState, int oldState);

    KelPropertyAnimator* m_animator = nullptr;
    double m_progress = 0.0;
};

#pragma once

#include <QAbstractAnimation>
#include <QAnimationDriver>
#include <QList>
#include <QObject>
#include <QPointer>

// Stops Qt's animation clock for the thread it is installed in: animations move only when a test moves them,
// so processing events (show, focus, mouse) never advances a fade by real time.
class FrozenAnimationDriver : public QAnimationDriver {
public:
    qint64 elapsed() const override { return 0; }
};

// Moves every running animation below root by msecs, the way Qt's animation timer does on a frame.
inline void advanceAnimations(QObject* root, int msecs)
{
    const auto animations = root->findChildren<QAbstractAnimation*>();
    QList<QPointer<QAbstractAnimation>> guarded;
    for (QAbstractAnimation* animation : animations)
        guarded.append(animation);
    for (const QPointer<QAbstractAnimation>& animation : guarded) {
        if (!animation || animation->state() != QAbstractAnimation::Running)
            continue;
        const int step = animation->direction() == QAbstractAnimation::Forward ? msecs : -msecs;
        animation->setCurrentTime(animation->currentTime() + step);
    }
}

// Moves the animations below root in frames of 16 ms until none runs or the time is up; the time used.
inline int runAnimations(QObject* root, int maxMsecs = 2000)
{
    int elapsed = 0;
    auto running = [root]() {
        const auto animations = root->findChildren<QAbstractAnimation*>();
        for (QAbstractAnimation* animation : animations)
            if (animation->state() == QAbstractAnimation::Running)
                return true;
        return false;
    };
    while (running() && elapsed < maxMsecs) {
        advanceAnimations(root, 16);
        elapsed += 16;
    }
    return elapsed;
}

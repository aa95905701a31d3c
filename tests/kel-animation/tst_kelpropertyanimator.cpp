#include "animators/kelprogressanimator.h"
#include "animators/kelpropertyanimator.h"

#include <QEasingCurve>
#include <QPropertyAnimation>
#include <QSignalSpy>
#include <QtTest>

namespace {

// Advances a running animation the way Qt's animation timer does on each frame. The tests never enter the
// event loop, so Qt's own timer never moves them: time passes only here.
void advance(QAbstractAnimation* animation, int msecs)
{
    if (animation->state() != QAbstractAnimation::Running)
        return;
    const int step = animation->direction() == QAbstractAnimation::Forward ? msecs : -msecs;
    animation->setCurrentTime(animation->currentTime() + step);
}

class Target : public QObject {
    Q_OBJECT
    Q_PROPERTY(int level READ level WRITE setLevel)
public:
    int level() const { return m_level; }
    void setLevel(int level)
    {
        m_level = level;
        ++writes;
    }
    int writes = 0;

private:
    int m_level = -1;
};

KelAnimationParams params(QEasingCurve::Type forward, int forwardMs, QEasingCurve::Type backward, int backwardMs)
{
    return KelAnimationParams { forward, forwardMs, backward, backwardMs, 0.0, 1.0 };
}

QPropertyAnimation* animationOf(KelProgressAnimator& animator) { return animator.findChild<QPropertyAnimation*>(); }

void advance(KelProgressAnimator& animator, int msecs) { advance(animationOf(animator), msecs); }

// Records the run notifications of one progress animator.
struct Runs {
    explicit Runs(KelProgressAnimator& animator)
        : started(&animator, &KelProgressAnimator::started)
        , finished(&animator, &KelProgressAnimator::finished)
    {
    }
    KelPropertyAnimator::Pos lastFinished() const { return finished.last().at(0).value<KelPropertyAnimator::Pos>(); }
    QSignalSpy started;
    QSignalSpy finished;
};

} // namespace

class TestKelPropertyAnimator : public QObject {
    Q_OBJECT
private slots:
    void forwardRunFollowsTheForwardCurve();
    void reversalContinuesWithoutJump();
    void reversalWithNonInvertibleCurveWarns();
    void sameDirectionMoveDoesNotRestart();
    void jumpWhileRunningEndsTheRun_data();
    void jumpWhileRunningEndsTheRun();
    void jumpAtRunStartFinishesOnce_data();
    void jumpAtRunStartFinishesOnce();
    void jumpWhilePausedFinishesOnce();
    void zeroDurationsMoveAtOnce();
    void zeroBackwardDurationCutsRunShort();
    void zeroForwardDurationThenAnimatedReturn();
    void changedParamsSnapToCurrentEnd();
    void registrationWritesStartValue();
    void misuseIsLoggedAndIgnored();
    void progressForValueInvertsCurves();
};

void TestKelPropertyAnimator::forwardRunFollowsTheForwardCurve()
{
    KelProgressAnimator animator(nullptr, params(QEasingCurve::OutCubic, 200, QEasingCurve::InCubic, 400));
    Runs runs(animator);
    QCOMPARE(animator.progress(), 0.0);

    animator.animateToEnd();
    QCOMPARE(runs.started.count(), 1);
    QCOMPARE(runs.started.last().at(0).value<KelPropertyAnimator::Pos>(), KelPropertyAnimator::End);
    QVERIFY(animator.isActive());
    QCOMPARE(animator.direction(), KelPropertyAnimator::End);

    advance(animator, 100);
    QVERIFY(qAbs(animator.progress() - QEasingCurve(QEasingCurve::OutCubic).valueForProgress(0.5)) < 1e-9);
    QCOMPARE(runs.finished.count(), 0);

    advance(animator, 100);
    QCOMPARE(animator.progress(), 1.0);
    QVERIFY(!animator.isActive());
    QCOMPARE(runs.finished.count(), 1);
    QCOMPARE(runs.lastFinished(), KelPropertyAnimator::End);

    // The way back uses the backward curve and duration.
    animator.animateToStart();
    QCOMPARE(animationOf(animator)->easingCurve().type(), QEasingCurve::InCubic);
    QCOMPARE(animationOf(animator)->duration(), 400);
    advance(animator, 200);
    QVERIFY(qAbs(animator.progress() - QEasingCurve(QEasingCurve::InCubic).valueForProgress(0.5)) < 1e-9);
    advance(animator, 200);
    QCOMPARE(animator.progress(), 0.0);
    QCOMPARE(runs.started.count(), 2);
    QCOMPARE(runs.finished.count(), 2);
    QCOMPARE(runs.lastFinished(), KelPropertyAnimator::Start);
}

void TestKelPropertyAnimator::reversalContinuesWithoutJump()
{
    KelProgressAnimator animator(nullptr, params(QEasingCurve::Linear, 200, QEasingCurve::InQuad, 400));
    Runs runs(animator);
    QList<double> values;
    connect(&animator, &KelProgressAnimator::progressChanged, [&values](double v) { values.append(v); });

    animator.animateToEnd();
    advance(animator, 100);
    QVERIFY(qAbs(animator.progress() - 0.5) < 1e-9);

    values.clear();
    animator.animateToStart();
    // The value stays where it was (within the inverse's precision) and the run is not restarted.
    QVERIFY2(qAbs(animator.progress() - 0.5) < 0.03, qPrintable(QString::number(animator.progress())));
    QCOMPARE(animator.direction(), KelPropertyAnimator::Start);
    QCOMPARE(runs.started.count(), 1);
    QCOMPARE(runs.finished.count(), 0);
    QCOMPARE(animationOf(animator)->duration(), 400);
    // InQuad reaches 0.5 at about 0.707 of its 400 ms, so roughly 283 ms remain.
    const int remaining = animationOf(animator)->currentTime();
    QVERIFY2(remaining > 270 && remaining < 295, qPrintable(QString::number(remaining)));

    double previous = animator.progress();
    for (int elapsed = 0; elapsed < remaining - 20; elapsed += 20) {
        advance(animator, 20);
        QVERIFY(animator.progress() < previous);
        QVERIFY(previous - animator.progress() < 0.1);
        previous = animator.progress();
    }
    QVERIFY(animator.isActive());
    advance(animator, 40);
    QCOMPARE(animator.progress(), 0.0);
    QVERIFY(!animator.isActive());
    QCOMPARE(runs.started.count(), 1);
    QCOMPARE(runs.finished.count(), 1);
    QCOMPARE(runs.lastFinished(), KelPropertyAnimator::Start);
}

void TestKelPropertyAnimator::reversalWithNonInvertibleCurveWarns()
{
    KelProgressAnimator animator(nullptr, params(QEasingCurve::Linear, 200, QEasingCurve::OutBounce, 200));
    animator.animateToEnd();
    advance(animator, 50);
    QVERIFY(qAbs(animator.progress() - 0.25) < 1e-9);
    QTest::ignoreMessage(QtWarningMsg,
        "progressForValue(): QEasingCurves of type 38 do not have an inverse, since they are not injective.");
    animator.animateToStart();
    // The eased value is taken as the progress: 0.25 of 200 ms.
    QCOMPARE(animationOf(animator)->currentTime(), 50);
    advance(animator, 50);
    QCOMPARE(animator.progress(), 0.0);
}

void TestKelPropertyAnimator::sameDirectionMoveDoesNotRestart()
{
    KelProgressAnimator animator(nullptr, params(QEasingCurve::Linear, 200, QEasingCurve::Linear, 200));
    Runs runs(animator);
    animator.animateToEnd();
    advance(animator, 80);
    animator.animateToEnd();
    animator.setPos(KelPropertyAnimator::End, true);
    QCOMPARE(animationOf(animator)->currentTime(), 80);
    QCOMPARE(runs.started.count(), 1);
    advance(animator, 120);
    QCOMPARE(animator.progress(), 1.0);
    QCOMPARE(runs.finished.count(), 1);

    // Asking for the end it already sits at does nothing at all.
    animator.jumpToEnd();
    animator.animateToEnd();
    QCOMPARE(runs.started.count(), 1);
    QCOMPARE(runs.finished.count(), 1);
}

void TestKelPropertyAnimator::jumpWhileRunningEndsTheRun_data()
{
    QTest::addColumn<int>("to");
    QTest::addColumn<double>("expected");
    QTest::newRow("to end") << int(KelPropertyAnimator::End) << 1.0;
    QTest::newRow("back to start") << int(KelPropertyAnimator::Start) << 0.0;
}

void TestKelPropertyAnimator::jumpWhileRunningEndsTheRun()
{
    QFETCH(int, to);
    QFETCH(double, expected);
    KelProgressAnimator animator(nullptr, params(QEasingCurve::OutCubic, 200, QEasingCurve::InCubic, 300));
    Runs runs(animator);
    animator.animateToEnd();
    advance(animator, 60);
    animator.setPos(KelPropertyAnimator::Pos(to), false);
    QCOMPARE(animator.progress(), expected);
    QVERIFY(!animator.isActive());
    QCOMPARE(runs.finished.count(), 1);
    QCOMPARE(int(runs.lastFinished()), to);
    advance(animator, 300);
    QCOMPARE(animator.progress(), expected);
    QCOMPARE(runs.started.count(), 1);
    QCOMPARE(runs.finished.count(), 1);
}

void TestKelPropertyAnimator::jumpAtRunStartFinishesOnce_data()
{
    QTest::addColumn<bool>("animated");
    QTest::newRow("jump") << false;
    QTest::newRow("animated reversal") << true;
}

void TestKelPropertyAnimator::jumpAtRunStartFinishesOnce()
{
    // Turned back before the first frame, the run is already at its new end: it must still finish.
    QFETCH(bool, animated);
    KelProgressAnimator animator(nullptr, params(QEasingCurve::OutCubic, 200, QEasingCurve::InCubic, 300));
    Runs runs(animator);
    animator.animateToEnd();
    animator.setPos(KelPropertyAnimator::Start, animated);
    QCOMPARE(animator.progress(), 0.0);
    QVERIFY(!animator.isActive());
    QCOMPARE(runs.started.count(), 1);
    QCOMPARE(runs.finished.count(), 1);
    QCOMPARE(runs.lastFinished(), KelPropertyAnimator::Start);
    advance(animator, 300);
    QCOMPARE(animator.progress(), 0.0);
    QCOMPARE(runs.finished.count(), 1);
}

void TestKelPropertyAnimator::jumpWhilePausedFinishesOnce()
{
    KelProgressAnimator animator(nullptr, params(QEasingCurve::Linear, 200, QEasingCurve::Linear, 200));
    Runs runs(animator);
    animator.animateToEnd();
    advance(animator, 100);
    animationOf(animator)->pause();
    animator.jumpToStart();
    QCOMPARE(animator.progress(), 0.0);
    QVERIFY(!animator.isActive());
    QCOMPARE(runs.finished.count(), 1);

    // New params put the paused run's time exactly on its end (100 ms of the new 100 ms axis): it must still
    // finish, with the end value in place.
    animator.animateToEnd();
    advance(animator, 100);
    animationOf(animator)->pause();
    animator.setAnimationParams(params(QEasingCurve::Linear, 300, QEasingCurve::Linear, 100));
    QCOMPARE(animator.progress(), 1.0);
    QVERIFY(!animator.isActive());
    QCOMPARE(runs.started.count(), 2);
    QCOMPARE(runs.finished.count(), 2);
}

void TestKelPropertyAnimator::zeroDurationsMoveAtOnce()
{
    // An unknown animation kind: four zeros, but with values to move between.
    KelProgressAnimator animator(nullptr, params(QEasingCurve::Type(0), 0, QEasingCurve::Type(0), 0));
    Runs runs(animator);
    animator.animateToEnd();
    QCOMPARE(animator.progress(), 1.0);
    QVERIFY(!animator.isActive());
    animator.animateToStart();
    QCOMPARE(animator.progress(), 0.0);
    animator.setPos(KelPropertyAnimator::End, true);
    QCOMPARE(animator.progress(), 1.0);
    advance(animator, 50);
    QCOMPARE(animator.progress(), 1.0);
    QCOMPARE(animator.direction(), KelPropertyAnimator::End);
    // Nothing ran, so nothing started or finished.
    QCOMPARE(runs.started.count(), 0);
    QCOMPARE(runs.finished.count(), 0);

    // Null values as well: the property takes its type's default.
    KelProgressAnimator unknown(nullptr, KelAnimationParams());
    unknown.animateToEnd();
    QCOMPARE(unknown.progress(), 0.0);
    QVERIFY(!unknown.isActive());
}

void TestKelPropertyAnimator::zeroBackwardDurationCutsRunShort()
{
    KelProgressAnimator animator(nullptr, params(QEasingCurve::Linear, 200, QEasingCurve::Linear, 0));
    Runs runs(animator);
    QList<double> atFinish;
    connect(&animator, &KelProgressAnimator::finished, [&] { atFinish.append(animator.progress()); });
    animator.animateToEnd();
    advance(animator, 100);
    animator.animateToStart();
    QCOMPARE(animator.progress(), 0.0);
    QVERIFY(!animator.isActive());
    QCOMPARE(runs.finished.count(), 1);
    QCOMPARE(runs.lastFinished(), KelPropertyAnimator::Start);
    QCOMPARE(atFinish, QList<double>({ 0.0 }));

    // The next run starts from the start value, not from where the cut-short run was.
    animator.animateToEnd();
    QCOMPARE(animator.progress(), 0.0);
    advance(animator, 50);
    QVERIFY(qAbs(animator.progress() - 0.25) < 1e-9);
    advance(animator, 150);
    QCOMPARE(animator.progress(), 1.0);
    QCOMPARE(runs.started.count(), 2);
    QCOMPARE(runs.finished.count(), 2);
}

void TestKelPropertyAnimator::zeroForwardDurationThenAnimatedReturn()
{
    KelProgressAnimator animator(nullptr, params(QEasingCurve::Linear, 0, QEasingCurve::Linear, 200));
    Runs runs(animator);
    // At the start already: nothing moves.
    animator.animateToStart();
    QCOMPARE(animator.progress(), 0.0);
    QVERIFY(!animator.isActive());

    animator.animateToEnd();
    QCOMPARE(animator.progress(), 1.0);
    animator.animateToStart();
    QVERIFY(animator.isActive());
    advance(animator, 0);
    QCOMPARE(animator.progress(), 1.0);
    advance(animator, 50);
    QVERIFY(qAbs(animator.progress() - 0.75) < 1e-9);
    // Turned back into the zero-length direction mid-way: done at once.
    animator.animateToEnd();
    QCOMPARE(animator.progress(), 1.0);
    QVERIFY(!animator.isActive());
    QCOMPARE(runs.started.count(), 1);
    QCOMPARE(runs.finished.count(), 1);
    QCOMPARE(runs.lastFinished(), KelPropertyAnimator::End);
}

void TestKelPropertyAnimator::changedParamsSnapToCurrentEnd()
{
    KelProgressAnimator animator(nullptr, params(QEasingCurve::Linear, 200, QEasingCurve::Linear, 200));
    Runs runs(animator);
    animator.animateToEnd();
    advance(animator, 100);

    // Identical params change nothing.
    animator.setAnimationParams(params(QEasingCurve::Linear, 200, QEasingCurve::Linear, 200));
    QVERIFY(animator.isActive());
    QVERIFY(qAbs(animator.progress() - 0.5) < 1e-9);

    KelAnimationParams changed = params(QEasingCurve::OutCubic, 100, QEasingCurve::InCubic, 300);
    changed.endValue = 2.0;
    animator.setAnimationParams(changed);
    QCOMPARE(animator.progress(), 2.0);
    QVERIFY(!animator.isActive());
    QCOMPARE(runs.finished.count(), 1);
    QCOMPARE(animator.animationParams(), changed);

    animator.animateToStart();
    advance(animator, 150);
    QVERIFY(qAbs(animator.progress() - 2.0 * QEasingCurve(QEasingCurve::InCubic).valueForProgress(0.5)) < 1e-9);
}

void TestKelPropertyAnimator::registrationWritesStartValue()
{
    Target target;
    KelPropertyAnimator animator;
    animator.setupAnimation(&target, "level", KelAnimationParams { QEasingCurve::Linear, 100, 0, 100, 10, 20 });
    QCOMPARE(target.level(), 10);
    QCOMPARE(animator.direction("level"), KelPropertyAnimator::Start);
    QVERIFY(animator.animation("level"));
    QCOMPARE(animator.animation("level")->targetObject(), &target);

    animator.animateValue("level", KelPropertyAnimator::End);
    advance(animator.animation("level"), 50);
    QCOMPARE(target.level(), 15);
    animator.setValue("level", KelPropertyAnimator::End, false);
    QCOMPARE(target.level(), 20);
    QVERIFY(!animator.isActive("level"));

    // The animator's own destruction mid-run leaves the target alone.
    animator.animateValue("level", KelPropertyAnimator::Start);
    advance(animator.animation("level"), 10);
    QVERIFY(animator.isActive("level"));
}

void TestKelPropertyAnimator::misuseIsLoggedAndIgnored()
{
    KelPropertyAnimator animator;
    QCOMPARE(animator.direction("missing"), KelPropertyAnimator::Start);
    QVERIFY(!animator.isActive("missing"));
    animator.animateValue("missing", KelPropertyAnimator::End);
    QVERIFY(!animator.animation("missing"));
    animator.setupAnimation(nullptr, "level", KelAnimationParams());
    Target target;
    animator.setupAnimation(&target, "nothing", KelAnimationParams());
    QVERIFY(!animator.animation("nothing"));
    QCOMPARE(target.writes, 0);
}

void TestKelPropertyAnimator::progressForValueInvertsCurves()
{
    const QList<QEasingCurve::Type> invertible
        = { QEasingCurve::Linear, QEasingCurve::InQuad, QEasingCurve::OutCubic, QEasingCurve::InOutSine };
    for (QEasingCurve::Type type : invertible) {
        const QEasingCurve curve(type);
        for (double p = 0.05; p < 1.0; p += 0.1) {
            const double found = KelPropertyAnimator::progressForValue(curve, curve.valueForProgress(p));
            QVERIFY2(qAbs(found - p) <= 1.0 / 64, qPrintable(QString("type %1 at %2: %3").arg(type).arg(p).arg(found)));
        }
    }
    QCOMPARE(KelPropertyAnimator::progressForValue(QEasingCurve(QEasingCurve::InQuad), 1.5), 1.5);
    QCOMPARE(KelPropertyAnimator::progressForValue(QEasingCurve(QEasingCurve::InQuad), -0.5), -0.5);
    QTest::ignoreMessage(QtWarningMsg,
        "progressForValue(): QEasingCurves of type 29 do not have an inverse, since they are not injective.");
    QCOMPARE(KelPropertyAnimator::progressForValue(QEasingCurve(QEasingCurve::InElastic), 0.3), 0.3);
}

QTEST_MAIN(TestKelPropertyAnimator)
#include "tst_kelpropertyanimator.moc"

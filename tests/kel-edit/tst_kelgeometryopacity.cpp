#include "../kel-effects/animationclock.h"
#include "../kelapp/kelapptest.h"

#include "animators/kelgeometryanimator.h"
#include "animators/kelopacityanimator.h"
#include "kelapplication.h"
#include "painting/kelgraphicsopacityeffect.h"

#include <QGraphicsBlurEffect>
#include <QSignalSpy>
#include <QTimer>
#include <QVariantAnimation>
#include <QtTest>

namespace {

// A shown window with one child to animate.
struct Scene {
    Scene()
        : child(new QWidget(&window))
    {
        window.resize(400, 300);
        child->setGeometry(10, 10, 50, 20);
        window.show();
    }
    QWidget window;
    QWidget* child;
};

double effectOpacity(QWidget* widget)
{
    auto* effect = qobject_cast<KelGraphicsOpacityEffect*>(widget->graphicsEffect());
    return effect ? effect->opacity() : -1.0;
}

} // namespace

class TestKelGeometryOpacity : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { m_driver.install(); }
    void cleanupTestCase() { m_driver.uninstall(); }

    void geometryReachesItsTarget()
    {
        Scene scene;
        auto* animator = new KelGeometryAnimator(scene.child);
        QCOMPARE(animator->parent(), scene.child);
        QSignalSpy finished(animator, &KelAbstractAnimator::finished);
        const QRect target(110, 60, 80, 40);
        animator->animateGeometry(target, true, 200);
        QVERIFY(animator->isRunning());
        QCOMPARE(scene.child->geometry(), QRect(10, 10, 50, 20));
        advanceAnimations(animator, 100);
        const QRect half = scene.child->geometry();
        QVERIFY(half.x() > 10 && half.x() < 110);
        QVERIFY(half.width() > 50 && half.width() < 80);
        advanceAnimations(animator, 100);
        QVERIFY(!animator->isRunning());
        QCOMPARE(scene.child->geometry(), target);
        QCOMPARE(finished.count(), 1);

        // The same target again stops nothing and changes nothing.
        animator->animateGeometry(target, true, 200);
        QVERIFY(!animator->isRunning());
        QCOMPARE(scene.child->geometry(), target);

        // Not animated: at once.
        animator->animateGeometry(QRect(0, 0, 30, 30), false, 200);
        QCOMPARE(scene.child->geometry(), QRect(0, 0, 30, 30));
    }

    void retargetKeepsTheRemainingTime()
    {
        Scene scene;
        auto* animator = new KelOpacityAnimator(scene.child);
        animator->animateOpacity(0.5, true, 300);
        QVERIFY(animator->isRunning());
        QCOMPARE(effectOpacity(scene.child), 1.0);
        advanceAnimations(animator, 100);
        const double reached = effectOpacity(scene.child);
        QVERIFY(reached < 1.0 && reached > 0.5);
        animator->animateOpacity(0.2, true, 300);
        QCOMPARE(animator->animation()->duration(), 200);
        QCOMPARE(animator->animation()->startValue().toDouble(), reached);
        advanceAnimations(animator, 199);
        QVERIFY(animator->isRunning());
        advanceAnimations(animator, 1);
        QVERIFY(!animator->isRunning());
        QCOMPARE(effectOpacity(scene.child), 0.2);
        QVERIFY(scene.child->isVisible());

        // A request for the present value stops a running fade where it stands.
        animator->animateOpacity(0.8, true, 300);
        advanceAnimations(animator, 150);
        const double middle = effectOpacity(scene.child);
        animator->animateOpacity(middle, true, 300);
        QVERIFY(!animator->isRunning());
        QCOMPARE(effectOpacity(scene.child), middle);

        // Fading out ends hidden.
        animator->animateOpacity(0.0, true, 100);
        runAnimations(animator);
        QCOMPARE(effectOpacity(scene.child), 0.0);
        QVERIFY(scene.child->isHidden());
    }

    void hiddenWidgetsJumpAndZeroHides()
    {
        Scene scene;
        auto* geometry = new KelGeometryAnimator(scene.child);
        scene.child->hide();
        geometry->animateGeometry(QRect(5, 5, 10, 10), true, 300);
        QVERIFY(!geometry->isRunning());
        QCOMPARE(scene.child->geometry(), QRect(5, 5, 10, 10));

        scene.child->show();
        auto* opacity = new KelOpacityAnimator(scene.child);
        opacity->animateOpacity(0.0, false, 300);
        QVERIFY(scene.child->isHidden());
        QCOMPARE(effectOpacity(scene.child), 0.0);
        // Hidden, so a fade in is applied at once, and does not show the widget.
        opacity->animateOpacity(1.0, true, 300);
        QVERIFY(!opacity->isRunning());
        QCOMPARE(effectOpacity(scene.child), 1.0);
        QVERIFY(scene.child->isHidden());

        // A window fades through its window opacity.
        auto* windowFade = new KelOpacityAnimator(&scene.window);
        windowFade->animateOpacity(0.0, false, 100);
        QVERIFY(scene.window.isHidden());
        QCOMPARE(scene.window.windowOpacity(), 0.0);
    }

    void foreignEffectIsLeftAlone()
    {
        Scene scene;
        auto* blur = new QGraphicsBlurEffect;
        scene.child->setGraphicsEffect(blur);
        auto* animator = new KelOpacityAnimator(scene.child);
        animator->animateOpacity(0.4, true, 300);
        QVERIFY(!animator->isRunning());
        QCOMPARE(scene.child->graphicsEffect(), blur);
        QVERIFY(scene.child->isVisible());
    }

    void fixedPolicyGetsFixedSizes()
    {
        Scene scene;
        scene.child->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
        auto* animator = new KelGeometryAnimator(scene.child);
        animator->animateGeometry(QRect(20, 30, 70, 25), false, 0);
        QCOMPARE(scene.child->minimumWidth(), 70);
        QCOMPARE(scene.child->maximumWidth(), 70);
        QCOMPARE(scene.child->minimumHeight(), 0);
        QCOMPARE(scene.child->geometry(), QRect(20, 30, 70, 25));
    }

    void waitReturnsAfterTheAnimation()
    {
        // Real time for this one: the call itself runs the event loop until the end.
        m_driver.uninstall();
        Scene scene;
        auto* animator = new KelGeometryAnimator(scene.child);
        animator->animateGeometry(QRect(100, 100, 50, 20), true, 60, true);
        QVERIFY(!animator->isRunning());
        QCOMPARE(scene.child->geometry(), QRect(100, 100, 50, 20));
        m_driver.install();
    }

private:
    FrozenAnimationDriver m_driver;
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelGeometryOpacity>(
        argc, argv, QStringLiteral("Kel Geometry Opacity Test"));
}

#include "tst_kelgeometryopacity.moc"

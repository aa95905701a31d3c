#include "animationclock.h"
#include "messagecatcher.h"
#include "widgetimages.h"

#include "animators/kelvisibilityanimatable.h"
#include "painting/kelgraphicsopacityeffect.h"

#include <QEasingCurve>
#include <QGraphicsBlurEffect>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QtTest>

namespace {

// A toolkit-style widget with the visibility mixin; it holds a scroll area, as side panels do.
class FadingWidget : public SolidWidget, public KelVisibilityAnimatable {
public:
    explicit FadingWidget(QWidget* parent = nullptr)
        : SolidWidget(QColor(0, 0, 255), parent)
        , KelVisibilityAnimatable(this)
        , area(new QScrollArea)
    {
        (new QVBoxLayout(this))->addWidget(area);
    }
    QScrollArea* area;
    int showsFinished = 0;

protected:
    void onShowAnimationFinished() override { ++showsFinished; }
};

KelGraphicsOpacityEffect* opacityEffect(QWidget* widget)
{
    return qobject_cast<KelGraphicsOpacityEffect*>(widget->graphicsEffect());
}

double effectOpacity(QWidget* widget)
{
    KelGraphicsOpacityEffect* effect = opacityEffect(widget);
    return effect ? effect->opacity() : -1.0;
}

bool viewportForced(FadingWidget* widget)
{
    QGraphicsEffect* effect = widget->area->viewport()->graphicsEffect();
    return effect && effect->objectName() == QLatin1String("ForceRepaintEffect");
}

bool near(double a, double b) { return qAbs(a - b) < 1e-6; }

} // namespace

class TestKelVisibilityAnimatable : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_driver.install();
        m_root.resize(200, 200);
        m_root.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_root));
    }
    void cleanupTestCase() { m_driver.uninstall(); }

    void showAnimatedFadesInAHiddenChild();
    void hideAnimatedFadesOutThenHides();
    void hidingDuringAShowStartsTheNextShowFromNothing();
    void plainCallsBeforeAndAfterTheFirstFade();
    void windowsFadeThroughTheirOpacity();
    void hiddenWindowAtFullOpacityStillShows();
    void slideMovesWithTheFade();
    void foreignEffectIsLeftAlone();
    void missingOrDeletedWidget();

private:
    FrozenAnimationDriver m_driver;
    QWidget m_root;
};

void TestKelVisibilityAnimatable::showAnimatedFadesInAHiddenChild()
{
    auto* widget = new FadingWidget(&m_root);
    QScopedPointer<FadingWidget> owner(widget);
    widget->hide();
    QCOMPARE(widget->opacity(), 1.0);

    widget->showAnimated();
    QVERIFY(widget->isVisible());
    QVERIFY(near(effectOpacity(widget), 0.001));
    QVERIFY(widget->visibilityAnimator()->isActive());
    QVERIFY(viewportForced(widget));

    advanceAnimations(widget, 125);
    QVERIFY(near(effectOpacity(widget), QEasingCurve(QEasingCurve::OutCubic).valueForProgress(0.5)));
    QCOMPARE(widget->showsFinished, 0);

    advanceAnimations(widget, 125);
    QCOMPARE(effectOpacity(widget), 1.0);
    QCOMPARE(widget->opacity(), 1.0);
    QVERIFY(!opacityEffect(widget)->isEnabled());
    QVERIFY(!viewportForced(widget));
    QCOMPARE(widget->showsFinished, 1);

    // Already shown: nothing runs.
    widget->showAnimated();
    QVERIFY(!widget->visibilityAnimator()->isActive());
    QCOMPARE(widget->showsFinished, 1);
}

void TestKelVisibilityAnimatable::hideAnimatedFadesOutThenHides()
{
    auto* widget = new FadingWidget(&m_root);
    QScopedPointer<FadingWidget> owner(widget);
    widget->show();

    widget->hideAnimated();
    // A shown widget starts at the shown end.
    QCOMPARE(widget->opacity(), 1.0);
    QVERIFY(viewportForced(widget));
    advanceAnimations(widget, 125);
    QVERIFY(widget->isVisible());
    QVERIFY(near(effectOpacity(widget), QEasingCurve(QEasingCurve::InCubic).valueForProgress(0.5)));

    advanceAnimations(widget, 125);
    QVERIFY(!widget->isVisible());
    QVERIFY(widget->isHidden());
    QCOMPARE(effectOpacity(widget), 0.0);
    QCOMPARE(widget->opacity(), 0.0);
    QVERIFY(!viewportForced(widget));
    QCOMPARE(widget->showsFinished, 0);
}

void TestKelVisibilityAnimatable::hidingDuringAShowStartsTheNextShowFromNothing()
{
    auto* widget = new FadingWidget(&m_root);
    QScopedPointer<FadingWidget> owner(widget);
    widget->hide();
    widget->showAnimated();
    advanceAnimations(widget, 100);
    QVERIFY(effectOpacity(widget) > 0.5);

    widget->hide();
    QVERIFY(!widget->visibilityAnimator()->isActive());
    QCOMPARE(widget->opacity(), 0.0);
    QCOMPARE(effectOpacity(widget), 0.0);
    QVERIFY(!viewportForced(widget));
    QCOMPARE(widget->showsFinished, 0);

    widget->showAnimated();
    QVERIFY(widget->isVisible());
    QVERIFY(near(effectOpacity(widget), 0.001));
    advanceAnimations(widget, 125);
    QVERIFY(near(effectOpacity(widget), QEasingCurve(QEasingCurve::OutCubic).valueForProgress(0.5)));
    runAnimations(widget);
    QCOMPARE(widget->showsFinished, 1);

    // Reversed half-way, a hide continues from the opacity reached.
    widget->hideAnimated();
    advanceAnimations(widget, 50);
    const double reached = effectOpacity(widget);
    widget->showAnimated();
    QVERIFY(qAbs(effectOpacity(widget) - reached) < 0.03);
    runAnimations(widget);
    QCOMPARE(effectOpacity(widget), 1.0);
    QCOMPARE(widget->showsFinished, 2);
}

void TestKelVisibilityAnimatable::plainCallsBeforeAndAfterTheFirstFade()
{
    auto* widget = new FadingWidget(&m_root);
    QScopedPointer<FadingWidget> owner(widget);
    widget->setVisibleAnimated(false, false);
    QVERIFY(widget->isHidden());
    widget->setVisibleAnimated(true, false);
    QVERIFY(widget->isVisible());
    // Nothing was made for plain calls.
    QVERIFY(!widget->visibilityAnimator());
    QVERIFY(!widget->graphicsEffect());

    widget->hideAnimated();
    runAnimations(widget);
    QVERIFY(widget->isHidden());

    // With an animator a plain call jumps.
    widget->setVisibleAnimated(true, false);
    QVERIFY(widget->isVisible());
    QCOMPARE(effectOpacity(widget), 1.0);
    QVERIFY(!widget->visibilityAnimator()->isActive());
    widget->setVisibleAnimated(false, false);
    QVERIFY(widget->isHidden());
    QCOMPARE(effectOpacity(widget), 0.0);
    QCOMPARE(widget->showsFinished, 0);
}

void TestKelVisibilityAnimatable::windowsFadeThroughTheirOpacity()
{
    // The offscreen plugin warns that it cannot show window opacity; the widget keeps the value all the same.
    MessageCatcher pluginNoise(QtWarningMsg);
    FadingWidget window;
    window.resize(80, 60);
    window.showAnimated();
    QVERIFY(window.isVisible());
    // A window stores its opacity in 1/255 steps.
    QVERIFY(window.windowOpacity() < 0.01);
    QVERIFY(!window.graphicsEffect());
    advanceAnimations(&window, 125);
    QVERIFY(qAbs(window.windowOpacity() - QEasingCurve(QEasingCurve::OutCubic).valueForProgress(0.5)) < 0.01);
    runAnimations(&window);
    QCOMPARE(window.windowOpacity(), 1.0);
    QCOMPARE(window.showsFinished, 1);

    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^Can't set slide params for window"));
    window.setSlideParams(Qt::TopEdge, 10);
    QVERIFY(!window.graphicsEffect());

    window.hideAnimated();
    advanceAnimations(&window, 125);
    QVERIFY(window.isVisible());
    runAnimations(&window);
    QVERIFY(!window.isVisible());
    QCOMPARE(window.windowOpacity(), 0.0);
}

void TestKelVisibilityAnimatable::hiddenWindowAtFullOpacityStillShows()
{
    // A hidden window reads as fully opaque; it must still count as hidden, or a show would have no way to go.
    MessageCatcher pluginNoise(QtWarningMsg);
    FadingWidget window;
    window.resize(80, 60);
    QCOMPARE(window.windowOpacity(), 1.0);
    window.setAnimationParams(KelAnimationParams { QEasingCurve::Linear, 100, QEasingCurve::Linear, 100, 0.0, 1.0 });
    window.setVisibleAnimated(true, false);
    QVERIFY(window.isVisible());
    QCOMPARE(window.opacity(), 1.0);

    FadingWidget animated;
    animated.resize(80, 60);
    animated.showAnimated();
    QVERIFY(animated.isVisible());
    QVERIFY(animated.visibilityAnimator()->isActive());
    advanceAnimations(&animated, 125);
    QVERIFY(qAbs(animated.windowOpacity() - QEasingCurve(QEasingCurve::OutCubic).valueForProgress(0.5)) < 0.01);

    // The same for a child whose effect was left opaque while it was hidden.
    auto* child = new FadingWidget(&m_root);
    QScopedPointer<FadingWidget> owner(child);
    child->hide();
    new KelGraphicsOpacityEffect(child);
    child->showAnimated();
    QVERIFY(child->isVisible());
    QVERIFY(near(effectOpacity(child), 0.001));
    runAnimations(child);
    QCOMPARE(effectOpacity(child), 1.0);
}

void TestKelVisibilityAnimatable::slideMovesWithTheFade()
{
    auto* widget = new FadingWidget(&m_root);
    QScopedPointer<FadingWidget> owner(widget);
    widget->show();
    widget->setSlideParams(Qt::BottomEdge, 20);
    // The effect made for the slide matches what shows now.
    KelGraphicsOpacityEffect* effect = opacityEffect(widget);
    QVERIFY(effect);
    QCOMPARE(effect->opacity(), 1.0);
    QCOMPARE(effect->slideEdge(), Qt::BottomEdge);
    QCOMPARE(effect->slideDistance(), 20);
    QCOMPARE(effect->slideOffset(), QPoint(0, 0));

    widget->setAnimationParams(KelAnimationParams { QEasingCurve::Linear, 100, QEasingCurve::Linear, 100, 0.0, 1.0 });
    widget->hideAnimated();
    advanceAnimations(widget, 75);
    QCOMPARE(effect->slideOffset(), QPoint(0, 15));
    runAnimations(widget);
    QVERIFY(widget->isHidden());

    auto* hidden = new FadingWidget(&m_root);
    QScopedPointer<FadingWidget> hiddenOwner(hidden);
    hidden->hide();
    hidden->setSlideParams(Qt::LeftEdge, 10);
    QCOMPARE(effectOpacity(hidden), 0.0);
}

void TestKelVisibilityAnimatable::foreignEffectIsLeftAlone()
{
    auto* widget = new FadingWidget(&m_root);
    QScopedPointer<FadingWidget> owner(widget);
    widget->hide();
    auto* blur = new QGraphicsBlurEffect;
    widget->setGraphicsEffect(blur);

    MessageCatcher criticals(QtCriticalMsg);
    widget->showAnimated();
    QCOMPARE(widget->graphicsEffect(), blur);
    QVERIFY(widget->isVisible());
    runAnimations(widget);
    QVERIFY(widget->isVisible());
    widget->setSlideParams(Qt::TopEdge, 5);
    QCOMPARE(widget->graphicsEffect(), blur);
    widget->hideAnimated();
    runAnimations(widget);
    QVERIFY(widget->isHidden());
    QCOMPARE(widget->graphicsEffect(), blur);
    QCOMPARE(criticals.count("Change opacity for"), 1);
    QVERIFY(criticals.count("Cant apply opacity for:") > 2);
}

void TestKelVisibilityAnimatable::missingOrDeletedWidget()
{
    KelVisibilityAnimatable nothing(nullptr);
    QTest::ignoreMessage(QtWarningMsg, "Can't change visibility, no base widget was setted");
    nothing.showAnimated();
    QCOMPARE(nothing.opacity(), 1.0);

    // The mixin on its own object, outliving the widget that it fades.
    auto* widget = new SolidWidget(Qt::red, &m_root);
    KelVisibilityAnimatable fader(widget);
    widget->hide();
    fader.showAnimated();
    advanceAnimations(widget, 50);
    delete widget;
    QVERIFY(!fader.visibilityAnimator());
    QTest::ignoreMessage(QtWarningMsg, "Can't change visibility, no base widget was setted");
    fader.hideAnimated();

    // A widget deleted while it fades.
    auto* fading = new FadingWidget(&m_root);
    fading->hide();
    fading->showAnimated();
    advanceAnimations(fading, 50);
    delete fading;
}

QTEST_MAIN(TestKelVisibilityAnimatable)
#include "tst_kelvisibilityanimatable.moc"

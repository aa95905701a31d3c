#include "animationclock.h"
#include "widgetimages.h"

#include "animators/keldisabledstateanimator.h"
#include "animators/kelpropertyanimator.h"
#include "animators/kelwidgetstateanimator.h"
#include "styles/kelstyle.h"
#include "styles/kelstylemanager.h"

#include <QEasingCurve>
#include <QLineEdit>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

namespace {

double outCubic(double t) { return QEasingCurve(QEasingCurve::OutCubic).valueForProgress(t); }

KelAnimationParams paramsOf(const KelDisabledStateAnimator& animator, const char* property)
{
    return animator.propertyAnimator()->animationParams(property);
}

// A look with other animations and dimming than the base one.
class SlowStyle : public KelStyle {
public:
    QString id() const override { return QStringLiteral("Slow"); }
    KelAnimationParams animationSpec(int kind) const override
    {
        KelAnimationParams params = KelStyle::animationSpec(kind);
        params.forwardDuration = 1000 + kind;
        params.backwardDuration = 2000 + kind;
        return params;
    }
    double opacity(int kind) const override { return kind == 0 ? 0.25 : 0.0; }
};

} // namespace

class TestKelStateAnimators : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { m_driver.uninstall(); }
    void cleanup() { m_styles->setCurrentStyle(m_base.id()); }

    void baseLook();
    void setWidgetTakesTheEnabledState();
    void modesFollowTheEnabledState_data();
    void modesFollowTheEnabledState();
    void focusAndHoverInModeTwo();
    void pressedFadeReversesWithoutJump();
    void styleSwitchKeepsCustomisedValues();
    void progressChangesSignalAndRepaint();
    void deadWidgetIsForgotten();

private:
    // Without a toolkit application the first live manager is the one animators register with.
    std::unique_ptr<KelStyleManager> m_styles;
    KelStyle m_base;
    SlowStyle m_slow;
    FrozenAnimationDriver m_driver;
    QWidget m_root;
    QLineEdit* m_first = nullptr;
    QLineEdit* m_second = nullptr;
    SolidWidget* m_box = nullptr;
};

void TestKelStateAnimators::initTestCase()
{
    m_styles = std::make_unique<KelStyleManager>(nullptr);
    m_styles->addStyle(&m_base);
    m_styles->addStyle(&m_slow);
    QVERIFY(m_styles->setCurrentStyle(m_base.id()));
    m_driver.install();
    auto* layout = new QVBoxLayout(&m_root);
    m_first = new QLineEdit;
    m_second = new QLineEdit;
    m_box = new SolidWidget(Qt::blue);
    m_box->setMinimumSize(100, 40);
    layout->addWidget(m_first);
    layout->addWidget(m_second);
    layout->addWidget(m_box);
    m_root.show();
    QApplication::setActiveWindow(&m_root);
    QVERIFY(QTest::qWaitForWindowActive(&m_root));
}

// Each progress runs with the style's animation of its kind.
void TestKelStateAnimators::baseLook()
{
    KelWidgetStateAnimator animator(1);
    const char* properties[] = { "disabledProgress", "hoveredProgress", "pressedProgress", "checkedProgress" };
    for (int kind = 0; kind < 4; ++kind)
        QCOMPARE(paramsOf(animator, properties[kind]), kelStyle()->animationSpec(kind));
    QCOMPARE(animator.disabledDimming(), kelStyle()->opacity(0));
}

void TestKelStateAnimators::setWidgetTakesTheEnabledState()
{
    // Hidden and disabled: full progress at once.
    QWidget hidden;
    hidden.setEnabled(false);
    KelDisabledStateAnimator atOnce(1);
    atOnce.setWidget(&hidden);
    QVERIFY(atOnce.isDisabled());
    QCOMPARE(atOnce.disabledProgress(), 1.0);
    QVERIFY(!atOnce.propertyAnimator()->isActive("disabledProgress"));
    QVERIFY(qAbs(atOnce.opacity() - 0.4) < 1e-12);
    QVERIFY(atOnce.hasDisabledProgress());

    // Visible and disabled: a fade.
    m_box->setEnabled(false);
    KelDisabledStateAnimator fading(1);
    fading.setWidget(m_box);
    QVERIFY(fading.isDisabled());
    QCOMPARE(fading.disabledProgress(), 0.0);
    advanceAnimations(&fading, 250);
    QVERIFY(qAbs(fading.disabledProgress() - outCubic(0.5)) < 1e-9);
    advanceAnimations(&fading, 250);
    QCOMPARE(fading.disabledProgress(), 1.0);
    m_box->setEnabled(true);
    runAnimations(&fading);

    // Enabled: exactly opaque.
    KelDisabledStateAnimator enabled(1);
    enabled.setWidget(m_box);
    QVERIFY(!enabled.isDisabled());
    QCOMPARE(enabled.opacity(), 1.0);
    QVERIFY(!enabled.hasDisabledProgress());
}

void TestKelStateAnimators::modesFollowTheEnabledState_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("follows");
    QTest::newRow("mode 0") << 0 << false;
    QTest::newRow("mode 1") << 1 << true;
    QTest::newRow("mode 2") << 2 << true;
}

void TestKelStateAnimators::modesFollowTheEnabledState()
{
    QFETCH(int, mode);
    QFETCH(bool, follows);
    KelWidgetStateAnimator animator(mode);
    animator.setWidget(m_box);

    // Disabling the parent reaches the child too.
    m_root.setEnabled(false);
    QCOMPARE(animator.isDisabled(), follows);
    runAnimations(&animator);
    QCOMPARE(animator.disabledProgress(), follows ? 1.0 : 0.0);

    m_root.setEnabled(true);
    QVERIFY(!animator.isDisabled());
    runAnimations(&animator);
    QCOMPARE(animator.disabledProgress(), 0.0);
    QCOMPARE(animator.opacity(), 1.0);

    // A new widget takes the place of the old one, whose changes no longer count.
    animator.setWidget(m_first);
    m_box->setEnabled(false);
    QVERIFY(!animator.isDisabled());
    m_box->setEnabled(true);
}

void TestKelStateAnimators::focusAndHoverInModeTwo()
{
    KelWidgetStateAnimator editor(2);
    editor.setWidget(m_first);
    KelWidgetStateAnimator frame(1);
    frame.setWidget(m_second);

    // Focus shows as the checked state, for text editors only.
    m_first->setFocus(Qt::TabFocusReason);
    QVERIFY(m_first->hasFocus());
    QVERIFY(editor.isChecked());
    QVERIFY(editor.propertyAnimator()->isActive("checkedProgress"));
    runAnimations(&editor);
    QCOMPARE(editor.checkedProgress(), 1.0);
    m_second->setFocus(Qt::TabFocusReason);
    QVERIFY(!editor.isChecked());
    QVERIFY(!frame.isChecked());
    runAnimations(&editor);
    QCOMPARE(editor.checkedProgress(), 0.0);

    // Hover follows the mouse.
    QTest::mouseMove(m_first, QPoint(5, 5));
    QTRY_VERIFY(editor.isHovered());
    runAnimations(&editor);
    QCOMPARE(editor.hoveredProgress(), 1.0);
    QTest::mouseMove(m_second, QPoint(5, 5));
    QTRY_VERIFY(!editor.isHovered());
    QVERIFY(!frame.isHovered());
    runAnimations(&editor);
    QCOMPARE(editor.hoveredProgress(), 0.0);

    // A disabled widget never shows hover.
    m_first->setEnabled(false);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(m_first->mapToGlobal(QPoint(5, 5))));
    QCoreApplication::sendEvent(m_first, &enter);
    QVERIFY(!editor.isHovered());
    QCOMPARE(editor.hoveredProgress(), 0.0);
    m_first->setEnabled(true);
}

void TestKelStateAnimators::pressedFadeReversesWithoutJump()
{
    KelWidgetStateAnimator animator(0);
    animator.setWidget(m_box);
    QSignalSpy values(&animator, &KelWidgetStateAnimator::pressedProgressChanged);
    animator.setPressed(true, true);
    QVERIFY(animator.isPressed());
    advanceAnimations(&animator, 100);
    const double reached = animator.pressedProgress();
    QVERIFY(qAbs(reached - outCubic(0.5)) < 1e-9);

    values.clear();
    animator.setPressed(false, true);
    QVERIFY(qAbs(animator.pressedProgress() - reached) < 0.03);
    double previous = animator.pressedProgress();
    for (int i = 0; i < 20 && animator.propertyAnimator()->isActive("pressedProgress"); ++i) {
        advanceAnimations(&animator, 10);
        QVERIFY(animator.pressedProgress() <= previous);
        previous = animator.pressedProgress();
    }
    QCOMPARE(animator.pressedProgress(), 0.0);
    QVERIFY(!animator.hasPressedProgress());
    // Repeating a state starts nothing.
    animator.setPressed(false, true);
    QVERIFY(!animator.propertyAnimator()->isActive("pressedProgress"));
}

void TestKelStateAnimators::styleSwitchKeepsCustomisedValues()
{
    KelWidgetStateAnimator custom(0);
    const KelAnimationParams baseHover = m_base.animationSpec(1);
    // Equal to what is registered, yet customised from now on.
    custom.setHoveredAnimationParams(baseHover);
    const KelAnimationParams ownChecked { QEasingCurve::Linear, 40, QEasingCurve::Linear, 60, 0.0, 1.0 };
    custom.setCheckedAnimationParams(ownChecked);
    QCOMPARE(paramsOf(custom, "checkedProgress"), ownChecked);
    custom.setDisabledDimming(0.8);
    KelWidgetStateAnimator plain(0);

    // A pressed fade under way when the style changes lands at its end.
    plain.setPressed(true, true);
    advanceAnimations(&plain, 50);
    QVERIFY(plain.pressedProgress() > 0.0 && plain.pressedProgress() < 1.0);

    QVERIFY(m_styles->setCurrentStyle(m_slow.id()));

    QCOMPARE(paramsOf(custom, "hoveredProgress"), baseHover);
    QCOMPARE(paramsOf(custom, "checkedProgress"), ownChecked);
    QCOMPARE(paramsOf(custom, "pressedProgress").forwardDuration, 1002);
    QCOMPARE(paramsOf(custom, "disabledProgress").forwardDuration, 1000);
    QCOMPARE(custom.disabledDimming(), 0.8);

    QCOMPARE(paramsOf(plain, "hoveredProgress").backwardDuration, 2001);
    QCOMPARE(paramsOf(plain, "checkedProgress").forwardDuration, 1003);
    QCOMPARE(plain.disabledDimming(), 0.25);
    QCOMPARE(plain.pressedProgress(), 1.0);
    QVERIFY(!plain.propertyAnimator()->isActive("pressedProgress"));

    // New animators take the current look.
    KelDisabledStateAnimator later(1);
    QCOMPARE(later.disabledDimming(), 0.25);
    QCOMPARE(paramsOf(later, "disabledProgress").backwardDuration, 2000);
}

void TestKelStateAnimators::progressChangesSignalAndRepaint()
{
    KelWidgetStateAnimator animator(0);
    animator.setWidget(m_box);
    QSignalSpy hovered(&animator, &KelWidgetStateAnimator::hoveredProgressChanged);
    QSignalSpy checked(&animator, &KelWidgetStateAnimator::checkedProgressChanged);
    QSignalSpy disabled(&animator, &KelDisabledStateAnimator::disabledProgressChanged);
    QCoreApplication::processEvents();
    const int paints = m_box->paints;

    animator.setHoveredProgress(0.5);
    animator.setHoveredProgress(0.5 + 1e-13);
    QCOMPARE(hovered.count(), 1);
    QCOMPARE(hovered.last().at(0).toDouble(), 0.5);
    QTRY_VERIFY(m_box->paints > paints);

    animator.setChecked(true, false);
    QCOMPARE(checked.count(), 1);
    QCOMPARE(animator.checkedProgress(), 1.0);
    animator.setDisabled(true, false);
    QCOMPARE(disabled.count(), 1);
    QVERIFY(qAbs(animator.opacity() - 0.4) < 1e-12);
}

void TestKelStateAnimators::deadWidgetIsForgotten()
{
    KelWidgetStateAnimator animator(2);
    auto* widget = new QWidget(&m_root);
    animator.setWidget(widget);
    animator.setHovered(true, true);
    delete widget;
    QVERIFY(!animator.widget());
    runAnimations(&animator);
    QCOMPARE(animator.hoveredProgress(), 1.0);
    animator.setDisabled(true, false);
    QCOMPARE(animator.disabledProgress(), 1.0);
    animator.setWidget(nullptr);
}

QTEST_MAIN(TestKelStateAnimators)
#include "tst_kelstateanimators.moc"

// The widget state animators and the visibility animation, on a frozen animation clock.
#include "animationclock.h"
#include "messagecatcher.h"
#include "widgetimages.h"

#include "animators/keldisabledstateanimator.h"
#include "animators/kelpropertyanimator.h"
#include "animators/kelvisibilityanimatable.h"
#include "animators/kelwidgetstateanimator.h"
#include "painting/kelgraphicsopacityeffect.h"
#include "styles/kelstyle.h"
#include "styles/kelstylemanager.h"

#include <QGraphicsBlurEffect>
#include <QLineEdit>
#include <QScrollArea>
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

double effectOpacity(QWidget* widget) { return opacityEffect(widget) ? opacityEffect(widget)->opacity() : -1.0; }

bool viewportForced(FadingWidget* widget)
{
    QGraphicsEffect* effect = widget->area->viewport()->graphicsEffect();
    return effect && effect->objectName() == QLatin1String("ForceRepaintEffect");
}

bool near(double a, double b, double tolerance = 1e-6) { return qAbs(a - b) < tolerance; }

} // namespace

class TestKelStateAnimators : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // Without a toolkit application the first live manager is the one animators register with.
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
    void cleanupTestCase() { m_driver.uninstall(); }
    void cleanup() { m_styles->setCurrentStyle(m_base.id()); }

    void setWidgetTakesTheEnabledState()
    {
        // Hidden and disabled: full progress at once.
        QWidget hidden;
        hidden.setEnabled(false);
        KelDisabledStateAnimator atOnce(1);
        atOnce.setWidget(&hidden);
        QCOMPARE(atOnce.disabledProgress(), 1.0);
        QVERIFY(near(atOnce.opacity(), 0.4, 1e-12));

        // Visible and disabled: a fade.
        m_box->setEnabled(false);
        KelDisabledStateAnimator fading(1);
        fading.setWidget(m_box);
        QCOMPARE(fading.disabledProgress(), 0.0);
        advanceAnimations(&fading, 250);
        QVERIFY(near(fading.disabledProgress(), outCubic(0.5), 1e-9));
        m_box->setEnabled(true);
    }

    void modesFollowTheEnabledState_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("follows");
        QTest::newRow("mode 0") << 0 << false;
        QTest::newRow("mode 2") << 2 << true;
    }
    void modesFollowTheEnabledState()
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
        runAnimations(&animator);
        QCOMPARE(animator.disabledProgress(), 0.0);
    }

    void focusAndHoverInModeTwo()
    {
        // The window gives its first field the focus when it activates: start from the other one, so that the
        // focus really moves in.
        m_second->setFocus(Qt::TabFocusReason);
        KelWidgetStateAnimator editor(2);
        editor.setWidget(m_first);
        // Focus shows as the checked state, for text editors only.
        m_first->setFocus(Qt::TabFocusReason);
        QVERIFY(editor.isChecked());
        m_second->setFocus(Qt::TabFocusReason);
        QVERIFY(!editor.isChecked());

        QTest::mouseMove(m_first, QPoint(5, 5));
        QTRY_VERIFY(editor.isHovered());
        QTest::mouseMove(m_second, QPoint(5, 5));
        QTRY_VERIFY(!editor.isHovered());
        // A disabled widget never shows hover.
        m_first->setEnabled(false);
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(m_first->mapToGlobal(QPoint(5, 5))));
        QCoreApplication::sendEvent(m_first, &enter);
        QVERIFY(!editor.isHovered());
        m_first->setEnabled(true);
    }

    void styleSwitchKeepsCustomisedValues()
    {
        KelWidgetStateAnimator custom(0);
        const KelAnimationParams baseHover = m_base.animationSpec(1);
        custom.setHoveredAnimationParams(baseHover); // equal to what is registered, yet customised from now on
        custom.setDisabledDimming(0.8);
        KelWidgetStateAnimator plain(0);
        // A pressed fade under way when the style changes lands at its end.
        plain.setPressed(true, true);
        advanceAnimations(&plain, 50);

        QVERIFY(m_styles->setCurrentStyle(m_slow.id()));
        QCOMPARE(paramsOf(custom, "hoveredProgress"), baseHover);
        QCOMPARE(paramsOf(custom, "pressedProgress").forwardDuration, 1002);
        QCOMPARE(custom.disabledDimming(), 0.8);
        QCOMPARE(paramsOf(plain, "hoveredProgress").backwardDuration, 2001);
        QCOMPARE(plain.disabledDimming(), 0.25);
        QCOMPARE(plain.pressedProgress(), 1.0);
        QVERIFY(!plain.propertyAnimator()->isActive("pressedProgress"));
        KelDisabledStateAnimator later(1); // new animators take the current look
        QCOMPARE(later.disabledDimming(), 0.25);
    }

    void progressChangesSignalAndRepaint()
    {
        KelWidgetStateAnimator animator(0);
        animator.setWidget(m_box);
        QSignalSpy hovered(&animator, &KelWidgetStateAnimator::hoveredProgressChanged);
        QCoreApplication::processEvents();
        const int paints = m_box->paints;
        animator.setHoveredProgress(0.5);
        animator.setHoveredProgress(0.5 + 1e-13);
        QCOMPARE(hovered.count(), 1);
        QTRY_VERIFY(m_box->paints > paints);

        // A widget deleted under the animator is forgotten; the progress still runs.
        auto* widget = new QWidget(&m_root);
        animator.setWidget(widget);
        animator.setPressed(true, true);
        delete widget;
        QVERIFY(!animator.widget());
        runAnimations(&animator);
        QCOMPARE(animator.pressedProgress(), 1.0);
    }

    void showAndHideFadeAChild()
    {
        auto* widget = new FadingWidget(&m_root);
        QScopedPointer<FadingWidget> owner(widget);
        widget->hide();
        widget->showAnimated();
        QVERIFY(widget->isVisible());
        QVERIFY(near(effectOpacity(widget), 0.001));
        QVERIFY(viewportForced(widget));
        advanceAnimations(widget, 125);
        QVERIFY(near(effectOpacity(widget), outCubic(0.5)));
        advanceAnimations(widget, 125);
        QCOMPARE(effectOpacity(widget), 1.0);
        QVERIFY(!opacityEffect(widget)->isEnabled());
        QVERIFY(!viewportForced(widget));
        QCOMPARE(widget->showsFinished, 1);

        widget->hideAnimated();
        advanceAnimations(widget, 125);
        QVERIFY(widget->isVisible());
        QVERIFY(near(effectOpacity(widget), QEasingCurve(QEasingCurve::InCubic).valueForProgress(0.5)));
        advanceAnimations(widget, 125);
        QVERIFY(widget->isHidden());
        QCOMPARE(widget->opacity(), 0.0);
        QVERIFY(!viewportForced(widget));
        QCOMPARE(widget->showsFinished, 1);

        // Hidden during a show, the next show starts from nothing again.
        widget->showAnimated();
        advanceAnimations(widget, 100);
        widget->hide();
        QVERIFY(!widget->visibilityAnimator()->isActive());
        QCOMPARE(effectOpacity(widget), 0.0);
        QVERIFY(!viewportForced(widget));
        QCOMPARE(widget->showsFinished, 1);

        widget->showAnimated();
        QVERIFY(near(effectOpacity(widget), 0.001));
        runAnimations(widget);
        QCOMPARE(widget->showsFinished, 2);
    }

    void windowsFadeThroughTheirOpacity()
    {
        // The offscreen plugin warns that it cannot show window opacity; the widget keeps the value all the same.
        MessageCatcher pluginNoise(QtWarningMsg);
        FadingWidget window;
        window.resize(80, 60);
        // A hidden window reads as fully opaque; it must still count as hidden, or a show would have no way to go.
        QCOMPARE(window.windowOpacity(), 1.0);
        window.showAnimated();
        QVERIFY(window.windowOpacity() < 0.01); // stored in 1/255 steps
        QVERIFY(!window.graphicsEffect());
        advanceAnimations(&window, 125);
        QVERIFY(near(window.windowOpacity(), outCubic(0.5), 0.01));
        runAnimations(&window);
        QCOMPARE(window.showsFinished, 1);

        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^Can't set slide params for window"));
        window.setSlideParams(Qt::TopEdge, 10);
        QVERIFY(!window.graphicsEffect());
        window.hideAnimated();
        runAnimations(&window);
        QVERIFY(!window.isVisible());
        QCOMPARE(window.windowOpacity(), 0.0);

        // The same for a child whose effect was left opaque while it was hidden.
        auto* child = new FadingWidget(&m_root);
        QScopedPointer<FadingWidget> owner(child);
        child->hide();
        new KelGraphicsOpacityEffect(child);
        child->showAnimated();
        QVERIFY(near(effectOpacity(child), 0.001));
    }

    void slideMovesWithTheFade()
    {
        auto* widget = new FadingWidget(&m_root);
        QScopedPointer<FadingWidget> owner(widget);
        widget->show();
        widget->setSlideParams(Qt::BottomEdge, 20);
        // The effect made for the slide matches what shows now.
        KelGraphicsOpacityEffect* effect = opacityEffect(widget);
        QVERIFY(effect);
        QCOMPARE(effect->opacity(), 1.0);
        QCOMPARE(effect->slideOffset(), QPoint(0, 0));
        widget->setAnimationParams(
            KelAnimationParams { QEasingCurve::Linear, 100, QEasingCurve::Linear, 100, 0.0, 1.0 });
        widget->hideAnimated();
        advanceAnimations(widget, 75);
        QCOMPARE(effect->slideOffset(), QPoint(0, 15));
    }

    void foreignEffectAndMissingWidget()
    {
        auto* widget = new FadingWidget(&m_root);
        QScopedPointer<FadingWidget> owner(widget);
        widget->hide();
        auto* blur = new QGraphicsBlurEffect;
        widget->setGraphicsEffect(blur);
        MessageCatcher criticals(QtCriticalMsg);
        widget->showAnimated();
        runAnimations(widget);
        QVERIFY(widget->isVisible());
        widget->setSlideParams(Qt::TopEdge, 5);
        widget->hideAnimated();
        runAnimations(widget);
        QVERIFY(widget->isHidden());
        QCOMPARE(widget->graphicsEffect(), blur);
        QCOMPARE(criticals.count("Change opacity for"), 1);

        // The mixin on its own object, outliving the widget that it fades.
        auto* plain = new SolidWidget(Qt::red, &m_root);
        KelVisibilityAnimatable fader(plain);
        plain->hide();
        fader.showAnimated();
        advanceAnimations(plain, 50);
        delete plain;
        QVERIFY(!fader.visibilityAnimator());
        QTest::ignoreMessage(QtWarningMsg, "Can't change visibility, no base widget was setted");
        fader.hideAnimated();
    }

private:
    std::unique_ptr<KelStyleManager> m_styles;
    KelStyle m_base;
    SlowStyle m_slow;
    FrozenAnimationDriver m_driver;
    QWidget m_root;
    QLineEdit* m_first = nullptr;
    QLineEdit* m_second = nullptr;
    SolidWidget* m_box = nullptr;
};

QTEST_MAIN(TestKelStateAnimators)
#include "tst_kelstateanimators.moc"

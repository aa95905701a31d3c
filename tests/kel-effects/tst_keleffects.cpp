#include "../kelapp/kelapptest.h"
#include "widgetimages.h"
#include "windowwaits.h"

#include "animationclock.h"
#include "messagecatcher.h"

#include "animators/keldisabledstateanimator.h"
#include "animators/kelpropertyanimator.h"
#include "animators/kelvisibilityanimatable.h"
#include "animators/kelwidgetstateanimator.h"
#include "kelapplication.h"
#include "kelui.h"
#include "painting/kelgraphicsdropshadoweffect.h"
#include "painting/kelgraphicsopacityeffect.h"
#include "styles/kelstyle.h"
#include "styles/kelstylemanager.h"
#include "utils/kelpixmapcache.h"

#include <QGraphicsBlurEffect>
#include <QLineEdit>
#include <QListView>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

Q_DECLARE_METATYPE(QMargins)

namespace {

const QColor white(255, 255, 255);
const QColor blue(0, 0, 255);
const QColor red(255, 0, 0);

// The bounding rectangle of the pixels that differ from the background colour.
QRect inkRect(const QImage& image, const QColor& background)
{
    QRect result;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!sameColor(image.pixelColor(x, y), background, 8))
                result |= QRect(x, y, 1, 1);
    return result;
}

// A white root with a blue 40 x 40 box at (20, 20) or wherever the test puts it.
struct Scene {
    explicit Scene(const QColor& back = white, const QColor& front = blue)
        : root(back)
        , box(new SolidWidget(front, &root))
    {
        root.resize(120, 120);
        box->setGeometry(20, 20, 40, 40);
    }
    SolidWidget root;
    SolidWidget* box;
};

int forceRepaintEffectCount(QWidget* root)
{
    int count = 0;
    const auto effects = root->findChildren<QGraphicsEffect*>();
    for (QGraphicsEffect* effect : effects)
        count += effect->objectName() == QLatin1String("ForceRepaintEffect");
    return count;
}

bool hasForceRepaintEffect(QWidget* widget)
{
    return widget->graphicsEffect() && widget->graphicsEffect()->objectName() == QLatin1String("ForceRepaintEffect");
}

KelPixmapCache* shadowCache() { return KelUi::instance()->shadowCache(); }

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

bool near(double a, double b, double tolerance = 1e-6) { return qAbs(a - b) < tolerance; }

} // namespace

class TestKelEffects : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_styles = KelStyleManager::instance();
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
        QVERIFY(QTest::qWaitForWindowActive(&m_root, windowwaits::kTimeoutMs));
    }
    void cleanupTestCase() { m_driver.uninstall(); }
    void init() { shadowCache()->setCacheLimit(50); }
    void cleanup()
    {
        shadowCache()->setCacheLimit(0); // empties the cache between tests
        m_styles->setCurrentStyle(m_base.id());
    }

    void opacityFadesAndZeroSkipsThePaintEvent()
    {
        Scene scene;
        auto* effect = new KelGraphicsOpacityEffect(scene.box);
        effect->setOpacity(0.5);
        QImage image = renderWidget(&scene.root);
        QVERIFY2(
            sameColor(colorAt(image, 40, 40), QColor(127, 127, 255), 3), qPrintable(colorAt(image, 40, 40).name()));
        QCOMPARE(inkRect(image, white), QRect(20, 20, 40, 40));

        scene.box->paints = 0;
        effect->setOpacity(0.0);
        QVERIFY(inkRect(renderWidget(&scene.root), white).isNull());
        QCOMPARE(scene.box->paints, 0);

        // Values are clamped; at (nearly) one the effect switches itself off.
        effect->setOpacity(-0.2);
        QVERIFY(effect->opacity() == 0.0 && effect->isEnabled());
        effect->setOpacity(1.5);
        QVERIFY(effect->opacity() == 1.0 && !effect->isEnabled());
        effect->setOpacity(1.0 - 1e-14);
        QVERIFY(effect->opacity() == 1.0 && !effect->isEnabled());
        effect->setOpacity(0.5);
        QVERIFY(effect->isEnabled());
    }

    void slideMovesTheWidget_data()
    {
        QTest::addColumn<int>("edge");
        QTest::addColumn<int>("distance");
        QTest::addColumn<double>("opacity");
        QTest::addColumn<QPoint>("shift");
        QTest::newRow("left") << int(Qt::LeftEdge) << 16 << 0.5 << QPoint(-8, 0);
        QTest::newRow("right") << int(Qt::RightEdge) << 30 << 0.9 << QPoint(3, 0);
    }
    void slideMovesTheWidget()
    {
        QFETCH(int, edge);
        QFETCH(int, distance);
        QFETCH(double, opacity);
        QFETCH(QPoint, shift);
        Scene scene;
        scene.box->move(40, 40);
        auto* effect = new KelGraphicsOpacityEffect(scene.box);
        effect->setSlideParams(Qt::Edge(edge), distance);
        effect->setOpacity(opacity);
        QCOMPARE(effect->slideOffset(), shift);
        // The effect paints within the widget's own rectangle, so the moved widget is cut at its edges.
        const QRect place(40, 40, 40, 40);
        const QRect visible = place.translated(shift) & place;
        for (double ratio : { 1.0, 2.0 })
            QCOMPARE(inkRect(renderWidget(&scene.root, ratio), white),
                QRect(visible.topLeft() * ratio, visible.size() * ratio));
    }

    void cachedModeFreezesTheRendering()
    {
        Scene scene;
        auto* effect = new KelGraphicsOpacityEffect(scene.box);
        effect->setOpacity(0.5);
        effect->installForceRepaintEffects();
        renderWidget(&scene.root);
        const int paints = scene.box->paints;
        // New content is not taken while place and size stay; a new size is.
        scene.box->color = red;
        effect->setOpacity(0.6);
        QImage image = renderWidget(&scene.root);
        QCOMPARE(scene.box->paints, paints);
        QVERIFY2(
            sameColor(colorAt(image, 40, 40), QColor(102, 102, 255), 3), qPrintable(colorAt(image, 40, 40).name()));
        scene.box->resize(50, 50);
        image = renderWidget(&scene.root);
        QVERIFY(sameColor(colorAt(image, 40, 40), QColor(255, 102, 102), 3));
    }

    void forceRepaintEffectsOnScrollAreas()
    {
        QWidget root;
        auto* layout = new QVBoxLayout(&root);
        auto* area = new QScrollArea;
        area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        auto* doomed = new QScrollArea;
        auto* list = new QListView;
        auto* foreign = new QGraphicsBlurEffect;
        list->viewport()->setGraphicsEffect(foreign);
        layout->addWidget(area);
        layout->addWidget(doomed);
        layout->addWidget(list);
        auto* effect = new KelGraphicsOpacityEffect(&root);

        effect->installForceRepaintEffects();
        effect->installForceRepaintEffects();
        QVERIFY(hasForceRepaintEffect(area->viewport()));
        QVERIFY(hasForceRepaintEffect(area->verticalScrollBar()));
        QVERIFY(!area->horizontalScrollBar()->graphicsEffect());
        // Another effect stays where it is; the list's scroll bars get theirs.
        QCOMPARE(list->viewport()->graphicsEffect(), foreign);
        QVERIFY(hasForceRepaintEffect(list->verticalScrollBar()));
        QCOMPARE(forceRepaintEffectCount(&root), 7);

        // A deleted area is skipped; a viewport that got an effect of its own in the meantime keeps it.
        delete doomed;
        auto* replacement = new QGraphicsBlurEffect;
        area->viewport()->setGraphicsEffect(replacement);
        effect->removeForceRepaintEffects();
        QCOMPARE(forceRepaintEffectCount(&root), 0);
        QCOMPARE(area->viewport()->graphicsEffect(), replacement);
        QCOMPARE(list->viewport()->graphicsEffect(), foreign);
    }

    void dropShadowBoundingRect_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPointF>("offset");
        QTest::addColumn<double>("blur");
        QTest::addColumn<QMargins>("padding");
        QTest::addColumn<QMargins>("effectivePadding");
        QTest::addColumn<QRectF>("bounds");
        QTest::newRow("up left") << QSize(100, 40) << QPointF(-8, -8) << 2.0 << QMargins() << QMargins()
                                 << QRectF(-12, -12, 112, 52);
        QTest::newRow("padding cut to half the height")
            << QSize(100, 40) << QPointF(8, 8) << 1.0 << QMargins(30, 30, 30, 30) << QMargins(30, 18, 30, 18)
            << QRectF(0, 0, 100, 40);
        QTest::newRow("tiny widget") << QSize(2, 2) << QPointF(0, 0) << 1.0 << QMargins(5, 5, 5, 5) << QMargins()
                                     << QRectF(-2, -2, 6, 6);
    }
    void dropShadowBoundingRect()
    {
        QFETCH(QSize, size);
        QFETCH(QPointF, offset);
        QFETCH(double, blur);
        QFETCH(QMargins, padding);
        QFETCH(QMargins, effectivePadding);
        QFETCH(QRectF, bounds);
        QWidget widget;
        widget.resize(size);
        auto* effect = new KelGraphicsDropShadowEffect(&widget);
        effect->setOffset(offset);
        effect->setBlurRadius(blur);
        effect->setPadding(padding);
        QCOMPARE(effect->effectivePadding(), effectivePadding);
        QCOMPARE(effect->boundingRectFor(QRectF(QPointF(), size)), bounds);
    }

    void shadowImagesAndOffscreenPixmaps()
    {
        KelGraphicsDropShadowEffect effect(nullptr);
        effect.setColor(Qt::black);
        effect.setOffset(QPointF(0, 0));
        QPixmap pixmap(40, 40);
        pixmap.fill(blue);
        QCOMPARE(qAlpha(effect.shadowImage(pixmap).pixel(5, 20)), 255);
        // With padding only the interior casts the shadow, less the blur, which spills back over the padding.
        effect.setPadding(QMargins(10, 10, 10, 10));
        QImage shadow = effect.shadowImage(pixmap);
        QCOMPARE(qAlpha(shadow.pixel(20, 20)), 255);
        QCOMPARE(qAlpha(shadow.pixel(5, 20)), 0);
        QCOMPARE(qAlpha(shadow.pixel(34, 20)), 0);
        QVERIFY(qAlpha(shadow.pixel(11, 20)) > 0);

        // At ratio 2 the offset of 8 is 16 device pixels, the blur radius of 2 is 4.
        KelGraphicsDropShadowEffect scaled(nullptr);
        scaled.setColor(QColor(0, 0, 0, 128));
        pixmap.setDevicePixelRatio(2.0);
        shadow = scaled.shadowImage(pixmap);
        QCOMPARE(shadow.devicePixelRatioF(), 2.0);
        QVERIFY(qAbs(qAlpha(shadow.pixel(30, 30)) - 128) <= 1);
        QCOMPARE(qAlpha(shadow.pixel(4, 30)), 0);
        QCOMPARE(qAlpha(shadow.pixel(30, 4)), 0);

        // A thumbnail with room for its shadow around it, drawn by hand.
        effect.setPadding(QMargins());
        effect.setOffset(QPointF(8, 8));
        pixmap = QPixmap(40, 40);
        pixmap.fill(Qt::transparent);
        QPainter(&pixmap).fillRect(10, 10, 20, 20, blue);
        QImage image(60, 60, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        effect.drawWithShadow(&painter, QPointF(10, 10), pixmap, QRectF(pixmap.rect()), true);
        effect.setOpacity(0.5); // the shadow goes in at the effect's opacity; without the source
        effect.drawWithShadow(&painter, QPointF(10, 0), pixmap, QRectF(pixmap.rect()), false);
        painter.end();
        QCOMPARE(image.pixelColor(25, 25), blue);
        QCOMPARE(image.pixelColor(40, 40), QColor(Qt::black));
        QCOMPARE(qAlpha(image.pixel(49, 49)), 0);
        QVERIFY(qAbs(qAlpha(image.pixel(45, 20)) - 128) <= 2);
        QCOMPARE(qAlpha(image.pixel(25, 15)), 0);
    }

    void translucentWidgetHidesItsShadow()
    {
        Scene scene(red, white);
        auto* effect = new KelGraphicsDropShadowEffect(scene.box);
        effect->setColor(Qt::black);
        effect->setOpacity(0.5);
        const QImage image = renderWidget(&scene.root);
        // Inside the box the shadow lies under the widget in one layer: half white over red, not darkened.
        QVERIFY2(
            sameColor(colorAt(image, 55, 55), QColor(255, 127, 127), 3), qPrintable(colorAt(image, 55, 55).name()));
        QVERIFY2(sameColor(colorAt(image, 64, 64), QColor(127, 0, 0), 3), qPrintable(colorAt(image, 64, 64).name()));
    }

    void opaqueWidgetsShareCachedShadows()
    {
        Scene scene;
        auto* effect = new KelGraphicsDropShadowEffect(scene.box);
        // A widget that may be translucent computes its shadow every time.
        renderWidget(&scene.root);
        QCOMPARE(shadowCache()->count(), 0);
        scene.box->setAttribute(Qt::WA_OpaquePaintEvent);
        const QImage first = renderWidget(&scene.root);
        QCOMPARE(renderWidget(&scene.root), first);
        QCOMPARE(shadowCache()->count(), 1);
        // A shadow of another colour is not served the cached one.
        effect->setColor(Qt::black);
        const QImage black = renderWidget(&scene.root);
        QCOMPARE(shadowCache()->count(), 2);
        QVERIFY(colorAt(black, 64, 64).lightness() < colorAt(first, 64, 64).lightness() - 20);
    }

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
        // Start from the second field, so that the focus really moves into the first.
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
        QVERIFY(hasForceRepaintEffect(widget->area->viewport()));
        advanceAnimations(widget, 125);
        QVERIFY(near(effectOpacity(widget), outCubic(0.5)));
        advanceAnimations(widget, 125);
        QCOMPARE(effectOpacity(widget), 1.0);
        QVERIFY(!opacityEffect(widget)->isEnabled());
        QVERIFY(!hasForceRepaintEffect(widget->area->viewport()));
        QCOMPARE(widget->showsFinished, 1);

        widget->hideAnimated();
        advanceAnimations(widget, 125);
        QVERIFY(widget->isVisible());
        QVERIFY(near(effectOpacity(widget), QEasingCurve(QEasingCurve::InCubic).valueForProgress(0.5)));
        advanceAnimations(widget, 125);
        QVERIFY(widget->isHidden());
        QCOMPARE(widget->opacity(), 0.0);
        QVERIFY(!hasForceRepaintEffect(widget->area->viewport()));
        QCOMPARE(widget->showsFinished, 1);

        // Hidden during a show, the next show starts from nothing again.
        widget->showAnimated();
        advanceAnimations(widget, 100);
        widget->hide();
        QVERIFY(!widget->visibilityAnimator()->isActive());
        QCOMPARE(effectOpacity(widget), 0.0);
        QVERIFY(!hasForceRepaintEffect(widget->area->viewport()));
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
    KelStyleManager* m_styles = nullptr;
    KelStyle m_base;
    SlowStyle m_slow;
    FrozenAnimationDriver m_driver;
    QWidget m_root;
    QLineEdit* m_first = nullptr;
    QLineEdit* m_second = nullptr;
    SolidWidget* m_box = nullptr;
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelEffects>(argc, argv, QStringLiteral("Kel Effects Test"));
}

#include "tst_keleffects.moc"

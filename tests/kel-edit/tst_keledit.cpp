// The line edit (clear button, Escape, error label, password while unfocused), the geometry and opacity
// animators, the slider (groove clicks, handle drags, keys, markers) and the scroll area over tall content
// (glides, the toolkit's scroll bar mirroring and driving it, edge shadows only where content lies hidden,
// smooth wheel, auto size), on an animation clock only the test moves.
#include "../kel-effects/animationclock.h"
#include "../kel-group/clicktesthelpers.h"
#include "../kelapp/kelapptest.h"

#include "animators/kelgeometryanimator.h"
#include "animators/kelopacityanimator.h"
#include "animators/kelwheelanimator.h"
#include "kelapplication.h"
#include "painting/kelgraphicsopacityeffect.h"
#include "styles/kelstyle.h"
#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"
#include "widgets/kellinearshadowwidget.h"
#include "widgets/kellineedit.h"
#include "widgets/kelscrollarea.h"
#include "widgets/kelscrollbar.h"
#include "widgets/kelslider.h"

#include <QGraphicsBlurEffect>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QtTest>

namespace {

const int kPlainRole = 28;
const int kClearRole = 29;
const int kClearOnEscapeRole = 30;
const int kPasswordUnfocusedRole = 32;

// A shown window holding the field and a second field to take the focus away.
struct Form {
    explicit Form(int role)
        : edit(new KelLineEdit(role, &window))
        , other(new KelLineEdit(kPlainRole, &window))
    {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(edit);
        layout->addWidget(other);
        layout->addStretch();
        window.resize(300, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    QWidget window;
    KelLineEdit* edit;
    KelLineEdit* other;
};

// The escape key as the parent window sees it.
class KeyCatcher : public QObject {
public:
    int escapes = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        escapes += event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
        return false;
    }
};

// A shown window with one child to animate, or a horizontal slider 0..100 over 208 pixels.
struct Scene {
    Scene()
        : child(new QWidget(&window))
        , slider(new KelSlider(Qt::Horizontal, &window))
    {
        window.resize(240, 60);
        child->setGeometry(10, 10, 50, 20);
        slider->setRange(0, 100);
        slider->setGeometry(10, 10, 208, 30);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    double opacity() const
    {
        auto* effect = qobject_cast<KelGraphicsOpacityEffect*>(child->graphicsEffect());
        return effect ? effect->opacity() : -1.0;
    }
    int handleX() const { return slider->positionHandle()->geometry().center().x(); }
    QWidget window;
    QWidget* child;
    KelSlider* slider;
};

const int kShadowType = 41;
const int kRowHeight = 50;
const int kRows = 40;

// A column of fixed-height rows, as tall as they are together.
QWidget* makeContent(int rows, QList<QWidget*>* rowWidgets = nullptr)
{
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = 0; i < rows; ++i) {
        auto* row = new QWidget;
        row->setFixedHeight(kRowHeight);
        layout->addWidget(row);
        if (rowWidgets)
            rowWidgets->append(row);
    }
    return content;
}

// A 200 x 200 area over 2000 pixels of rows, inside a shown window, with the toolkit's vertical bar beside it.
struct Fixture {
    explicit Fixture(int barMode = KelScrollBar::VisibleWhenScrollable)
    {
        window.resize(300, 240);
        area = new KelScrollArea(&window);
        area->setGeometry(10, 20, 200, 200);
        area->setWidget(makeContent(kRows, &rows));
        bar = new KelScrollBar(-1, area, Qt::Vertical, barMode, &window);
        bar->setGeometry(220, 20, 12, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        area->wheelAnimator()->setClock([this] { return now; });
    }

    int value() const { return area->verticalScrollBar()->value(); }

    // Shows only the first rows (all with -1) and lets the area lay them out.
    void showRows(int count)
    {
        for (int i = 0; i < rows.size(); ++i)
            rows.at(i)->setVisible(count < 0 || i < count);
        area->updateLayout();
        QCoreApplication::processEvents();
    }

    void wheel(int angle)
    {
        QWheelEvent event(QPointF(10, 10), QPointF(area->viewport()->mapToGlobal(QPoint(10, 10))), QPoint(),
            QPoint(0, angle), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(area->viewport(), &event);
    }

    // Ticks the wheel animator on time until its burst is over; the values on the way.
    QList<int> drainWheel()
    {
        QList<int> values;
        for (int ticks = 0; area->wheelAnimator()->isScrolling() && ticks < 1000; ++ticks) {
            now += 8;
            area->wheelAnimator()->tick();
            values << value();
        }
        return values;
    }

    // Whether the strip ends up shown, once its fade is over.
    bool shadowShown(Qt::Edge edge)
    {
        runAnimations(&window);
        KelLinearShadowWidget* shadow = area->edgeShadow(edge);
        return shadow && shadow->isVisible();
    }

    QWidget window;
    KelScrollArea* area = nullptr;
    KelScrollBar* bar = nullptr;
    QList<QWidget*> rows;
    qint64 now = 1000;
};

} // namespace

class TestKelEdit : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { m_driver.install(); }
    void cleanupTestCase() { m_driver.uninstall(); }

    void clearButtonFollowsTheText()
    {
        Form form(kClearRole);
        KelLineEdit* edit = form.edit;
        KelButton* button = edit->clearButton();
        QVERIFY(!button->isVisible());
        const int emptyRight = edit->textMargins().right();
        edit->setFocus();
        QTest::keyClicks(edit, "ab");
        QVERIFY(button->isVisible());
        QCOMPARE(edit->textMargins().right(), emptyRight + button->width() + edit->sideWidgetSpacing());
        // The button sits inside the box at the right edge.
        QCOMPARE(button->geometry().right(), edit->width() - (edit->margins() + edit->borderWidths()).right() - 1);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QVERIFY(!button->isVisible());
        QCOMPARE(edit->textMargins().right(), emptyRight);

        QTest::keyClicks(edit, "hello");
        QSignalSpy edited(edit, &QLineEdit::textEdited);
        clickThroughWindow(button);
        QTRY_VERIFY(edit->text().isEmpty());
        QCOMPARE(edited.count(), 1);
        // Made once only; a silent text shows it too.
        edit->addClearButton(true);
        QCOMPARE(edit->findChildren<KelButton*>().size(), 1);
        edit->setTextSilently(QStringLiteral("quiet"));
        QVERIFY(button->isVisible());
    }

    void escapeClearsOnlyWhenAsked_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<bool>("clears");
        QTest::newRow("clear on escape") << kClearOnEscapeRole << true;
        QTest::newRow("clear button only") << kClearRole << false;
        QTest::newRow("no clear button") << kPlainRole << false;
    }

    void escapeClearsOnlyWhenAsked()
    {
        QFETCH(int, role);
        QFETCH(bool, clears);
        Form form(role);
        KeyCatcher catcher;
        form.window.installEventFilter(&catcher);
        form.edit->setFocus();
        QTest::keyClicks(form.edit, "text");
        QSignalSpy cancelled(form.edit, &KelLineEdit::cancelPressed);
        QSignalSpy edited(form.edit, &QLineEdit::textEdited);
        QTest::keyClick(form.edit, Qt::Key_Escape);
        QCOMPARE(form.edit->text().isEmpty(), clears);
        QCOMPARE(edited.count(), clears ? 1 : 0);
        QCOMPARE(catcher.escapes, clears ? 0 : 1);
        // On an empty field Escape always goes on to the parent.
        form.edit->clear();
        QTest::keyClick(form.edit, Qt::Key_Escape);
        QCOMPARE(cancelled.count(), clears ? 1 : 0);
        QCOMPARE(catcher.escapes, clears ? 1 : 2);
    }

    void errorLabelStaysUnderTheField()
    {
        Form form(kPlainRole);
        KelLineEdit* edit = form.edit;
        edit->showError(QStringLiteral("Wrong password!"));
        KelLabel* label = edit->errorLabel();
        QCOMPARE(label->parentWidget(), &form.window);
        QVERIFY(label->isVisible());
        QCOMPARE(label->text(), QStringLiteral("Wrong password!"));
        QCOMPARE(label->palette().color(label->foregroundRole()), kelStyle()->color(KelStyle::CL_Text_Error));
        // The layout moves the field: the label follows.
        form.window.layout()->setContentsMargins(20, 40, 20, 20);
        QTRY_COMPARE(edit->pos(), QPoint(20, 40));
        QCOMPARE(label->pos(), QPoint(edit->x(), edit->y() + edit->height()));
        QCOMPARE(label->width(), edit->width());
        edit->hideError();
        QVERIFY(!label->isVisible());
        // A new parent takes the label along; the label goes with the field, not with the parent.
        QWidget other;
        edit->setParent(&other);
        QCOMPARE(label->parentWidget(), &other);
        const QPointer<KelLabel> guard(label);
        delete edit;
        QVERIFY(!guard);
    }

    void passwordOnlyWhileUnfocused()
    {
        Form form(kPasswordUnfocusedRole);
        KelLineEdit* edit = form.edit;
        form.window.activateWindow();
        form.other->setFocus();
        QTRY_VERIFY(form.other->hasFocus());
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        QCOMPARE(edit->echoMode(), QLineEdit::Normal);
        QTest::keyClicks(edit, "secret");
        form.other->setFocus();
        QTRY_VERIFY(!edit->hasFocus());
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
        QCOMPARE(edit->text(), QStringLiteral("secret"));
        // Off: the mode stays where it was.
        edit->setPasswordWhenUnfocused(false);
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
    }

    void geometryAnimator()
    {
        Scene scene;
        auto* animator = new KelGeometryAnimator(scene.child);
        QSignalSpy finished(animator, &KelAbstractAnimator::finished);
        const QRect target(110, 60, 80, 40);
        animator->animateGeometry(target, true, 200);
        QCOMPARE(scene.child->geometry(), QRect(10, 10, 50, 20));
        advanceAnimations(animator, 100);
        QVERIFY(scene.child->x() > 10 && scene.child->x() < 110);
        QVERIFY(scene.child->width() > 50 && scene.child->width() < 80);
        advanceAnimations(animator, 100);
        QCOMPARE(scene.child->geometry(), target);
        QCOMPARE(finished.count(), 1);
        // The same target again starts nothing; without animation, or hidden, it is applied at once.
        animator->animateGeometry(target, true, 200);
        QVERIFY(!animator->isRunning());
        animator->animateGeometry(QRect(0, 0, 30, 30), false, 200);
        QCOMPARE(scene.child->geometry(), QRect(0, 0, 30, 30));
        // Waiting for the end: in real time, the call runs the event loop until then.
        m_driver.uninstall();
        animator->animateGeometry(QRect(100, 100, 50, 20), true, 60, true);
        m_driver.install();
        QVERIFY(!animator->isRunning());
        QCOMPARE(scene.child->geometry(), QRect(100, 100, 50, 20));
        scene.child->hide();
        animator->animateGeometry(QRect(5, 5, 10, 10), true, 300);
        QVERIFY(!animator->isRunning());
        QCOMPARE(scene.child->geometry(), QRect(5, 5, 10, 10));
        // A fixed size policy gets fixed sizes.
        scene.child->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
        animator->animateGeometry(QRect(20, 30, 70, 25), false, 0);
        QCOMPARE(scene.child->minimumWidth(), 70);
        QCOMPARE(scene.child->maximumWidth(), 70);
        QCOMPARE(scene.child->minimumHeight(), 0);
    }

    void opacityAnimatorRetargetsWithTheRemainingTime()
    {
        Scene scene;
        auto* animator = new KelOpacityAnimator(scene.child);
        animator->animateOpacity(0.5, true, 300);
        QCOMPARE(scene.opacity(), 1.0);
        advanceAnimations(animator, 100);
        const double reached = scene.opacity();
        QVERIFY(reached < 1.0 && reached > 0.5);
        animator->animateOpacity(0.2, true, 300);
        QCOMPARE(animator->animation()->duration(), 200);
        QCOMPARE(animator->animation()->startValue().toDouble(), reached);
        advanceAnimations(animator, 199);
        QVERIFY(animator->isRunning());
        advanceAnimations(animator, 1);
        QVERIFY(!animator->isRunning());
        QCOMPARE(scene.opacity(), 0.2);
        // A request for the present value stops a running fade where it stands.
        animator->animateOpacity(0.8, true, 300);
        advanceAnimations(animator, 150);
        const double middle = scene.opacity();
        animator->animateOpacity(middle, true, 300);
        QVERIFY(!animator->isRunning());
        QCOMPARE(scene.opacity(), middle);
        // Fading out ends hidden; hidden, a fade in is applied at once and does not show the widget.
        animator->animateOpacity(0.0, true, 100);
        runAnimations(animator);
        QVERIFY(scene.child->isHidden());
        animator->animateOpacity(1.0, true, 300);
        QVERIFY(!animator->isRunning());
        QCOMPARE(scene.opacity(), 1.0);
        QVERIFY(scene.child->isHidden());

        // A foreign effect is left alone.
        auto* blurred = new QWidget(&scene.window);
        blurred->show();
        auto* blur = new QGraphicsBlurEffect;
        blurred->setGraphicsEffect(blur);
        auto* foreign = new KelOpacityAnimator(blurred);
        foreign->animateOpacity(0.4, true, 300);
        QVERIFY(!foreign->isRunning());
        QCOMPARE(blurred->graphicsEffect(), blur);
        QVERIFY(blurred->isVisible());
    }

    // Steps on a slider 0..100 whose handle runs from x 4 to 204, two pixels a step: the mouse at x (y 15),
    // keys, values set by code (the handle glides there on the frozen clock until "settle") and settings;
    // then the value, where the handle stands at once (-1: not checked), whether it is held, and how often
    // the value changed.
    void sliderInput_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("handle");
        QTest::addColumn<bool>("down");
        QTest::addColumn<int>("changes");
        QTest::newRow("the drag goes on") << "press 104, move 144" << 70 << 144 << true << 2;
        QTest::newRow("keys wait while held") << "press 104, move 144, key right" << 70 << 144 << true << 2;
        QTest::newRow("keys after the release") << "press 104, release 104, key right" << 51 << -1 << false << 2;
        QTest::newRow("click on the value") << "press 10, release 10, press 10, release 10" << 3 << 10 << false << 1;
        QTest::newRow("handle dragged") << "value 20, settle, press 44, move 84" << 40 << 84 << true << 2;
        QTest::newRow("set value glides") << "value 50" << 50 << 4 << false << 1;
        QTest::newRow("hidden handle at once") << "hide handle, value 50" << 50 << 104 << false << 1;
        QTest::newRow("silently") << "silent 10" << 10 << -1 << false << 0;
        QTest::newRow("right button") << "right 104" << 0 << 4 << false << 0;
        QTest::newRow("disabled") << "disable, press 104" << 0 << 4 << false << 0;
        QTest::newRow("empty range") << "range, press 104" << 5 << -1 << false << 1;
        QTest::newRow("no tracking, held") << "no tracking, press 104" << 0 << 104 << true << 0;
        QTest::newRow("no tracking, released") << "no tracking, press 104, release 104" << 50 << 104 << false << 1;
        QTest::newRow("no tracking, click mode 1") << "no tracking, mode 1, press 154" << 75 << 154 << false << 1;
    }

    void sliderInput()
    {
        QFETCH(QString, steps);
        QFETCH(int, handle);
        Scene scene;
        KelSlider* slider = scene.slider;
        QSignalSpy changed(slider, &QAbstractSlider::valueChanged);
        for (const QString& step : steps.split(", ")) {
            const QPoint at(step.section(' ', -1).toInt(), 15);
            if (step.startsWith("press")) {
                mouseThroughWindow(scene.slider, at, QEvent::MouseButtonPress);
            } else if (step.startsWith("move")) {
                mouseThroughWindow(scene.slider, at, QEvent::MouseMove);
            } else if (step.startsWith("release")) {
                mouseThroughWindow(scene.slider, at, QEvent::MouseButtonRelease);
            } else if (step.startsWith("right")) {
                mouseThroughWindow(scene.slider, at, QEvent::MouseButtonPress, Qt::RightButton);
                mouseThroughWindow(scene.slider, at, QEvent::MouseButtonRelease, Qt::RightButton);
            } else if (step.startsWith("key")) {
                QTest::keyClick(slider, Qt::Key_Right);
            } else if (step.startsWith("value")) {
                slider->setValue(at.x());
            } else if (step.startsWith("silent")) {
                slider->setValueSilently(at.x());
            } else if (step == "settle") {
                runAnimations(slider->positionHandle());
            } else if (step == "hide handle") {
                slider->positionHandle()->hide();
            } else if (step == "disable") {
                slider->setEnabled(false);
            } else if (step == "no tracking") {
                slider->setTracking(false);
            } else if (step == "mode 1") {
                slider->setClickMode(1);
            } else {
                slider->setRange(5, 5);
            }
        }
        QTEST(slider->value(), "value");
        if (handle >= 0)
            QCOMPARE(scene.handleX(), handle);
        QTEST(slider->isSliderDown(), "down");
        QTEST(int(changed.count()), "changes");
        if (slider->isSliderDown())
            mouseThroughWindow(scene.slider, QPoint(0, 15), QEvent::MouseButtonRelease);
    }

    void sliderMarkersAndFilledPart()
    {
        Scene scene;
        KelSlider* slider = scene.slider;
        // Unstyled: neither the groove nor the filled part paints black.
        KelSlider plain(-1, Qt::Horizontal, &scene.window);
        plain.setGeometry(slider->geometry());
        plain.setValue(plain.maximum() / 2);
        const QImage unstyled = plain.grab().toImage();
        for (int y = 0; y < unstyled.height(); ++y)
            for (int x = 0; x < unstyled.width(); ++x)
                QVERIFY(unstyled.pixelColor(x, y) != QColor(Qt::black));
        slider->setGrooveColors(Qt::red, Qt::blue);
        slider->setGrooveThickness(4, 0);
        // Centre marker: at the minimum the filled part runs from the centre to the handle.
        slider->setMarkerPosition(1);
        slider->setMarkerSize(QSize(2, 12), 0);
        slider->setMarkerColor(Qt::green);
        QImage image = slider->grab().toImage();
        const double r = image.devicePixelRatioF();
        auto at = [&](int x, int y) { return image.pixelColor(int(x * r), int(y * r)); };
        QCOMPARE(at(50, 15), QColor(Qt::blue));
        QCOMPARE(at(180, 15), QColor(Qt::red));
        QCOMPARE(at(104, 10), QColor(Qt::green));
        // Five ticks from handle centre to handle centre.
        slider->setMarkerPosition(5);
        slider->setValueSilently(100);
        runAnimations(slider);
        image = slider->grab().toImage();
        for (int x : { 4, 54, 104, 154, 203 })
            QCOMPARE(at(x, 10), QColor(Qt::green));
        QVERIFY(at(80, 10) != QColor(Qt::green));
        QCOMPARE(at(80, 15), QColor(Qt::blue));

        // Following the mouse.
        slider->setMarkerPosition(-2);
        QCOMPARE(slider->hoverPosition(), -1);
        mouseThroughWindow(scene.slider, QPoint(60, 15), QEvent::MouseMove);
        QTRY_COMPARE(slider->hoverPosition(), 60);
    }

    void sliderTooltipShowsTheValue()
    {
        Scene scene;
        KelSlider* slider = scene.slider;
        slider->setTooltipTextFunction(
            [](int value, QString& text, QString&) { text = QStringLiteral("p%1").arg(value); });
        KelButton* tip = slider->tooltip(); // made on first use, then shown on hover
        mouseThroughWindow(scene.slider, QPoint(100, 15), QEvent::MouseMove);
        QTRY_VERIFY(tip->isVisible());
        QCOMPARE(tip->text(), QStringLiteral("p48"));
        QCOMPARE(KelSlider::fromSubcontrol(tip), slider);
    }

    void animatedScrollGlidesToThePosition()
    {
        Fixture f;
        f.area->scrollToPosition(QPoint(0, 1000), true);
        // Nothing moves before the clock does.
        QCOMPARE(f.value(), 0);
        advanceAnimations(f.area, 30);
        QVERIFY(f.value() > 0 && f.value() < 1000);
        runAnimations(f.area);
        QCOMPARE(f.value(), 1000);

        // Targets are clamped to the range; retargeted halfway there is no jump back to the old start.
        f.area->scrollToPosition(QPoint(0, 5000), true);
        runAnimations(f.area);
        QCOMPARE(f.value(), f.area->verticalScrollBar()->maximum());
        f.area->scrollToPosition(QPoint(0, 100), true);
        advanceAnimations(f.area, 150);
        const int halfway = f.value();
        QVERIFY(halfway > 100 && halfway < 1800);
        f.area->scrollToPosition(QPoint(0, 0), true);
        QCOMPARE(f.value(), halfway);
        runAnimations(f.area);
        QCOMPARE(f.value(), 0);

        // The user drags the toolkit bar, or a move without animation comes: the glide stops there.
        f.area->scrollToPosition(QPoint(0, 1500), true);
        advanceAnimations(f.area, 60);
        f.bar->setValue(120);
        QVERIFY(!f.area->isScrollAnimating());
        runAnimations(f.area);
        QCOMPARE(f.value(), 120);
        f.area->scrollToPosition(QPoint(0, 1500), true);
        advanceAnimations(f.area, 60);
        f.area->scrollToPosition(QPoint(0, 300), false);
        runAnimations(f.area);
        QCOMPARE(f.value(), 300);
    }

    void ensureRectVisible_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<int>("marginAbove");
        QTest::addColumn<int>("marginBelow");
        QTest::addColumn<int>("expected");
        // The viewport is 200 pixels high.
        QTest::newRow("inside with margins") << 100 << QRect(0, 150, 50, 100) << 40 << 40 << 100;
        QTest::newRow("margin pokes out below") << 100 << QRect(0, 150, 50, 100) << 0 << 60 << 110;
        QTest::newRow("below: bottom aligned") << 0 << QRect(0, 1000, 50, 40) << 0 << 0 << 840;
        QTest::newRow("taller than the viewport: top") << 0 << QRect(0, 1000, 50, 500) << 0 << 0 << 1000;
        QTest::newRow("above with margin") << 1000 << QRect(0, 400, 50, 40) << 16 << 0 << 384;
    }

    void ensureRectVisible()
    {
        QFETCH(int, start);
        QFETCH(QRect, rect);
        QFETCH(int, marginAbove);
        QFETCH(int, marginBelow);
        QFETCH(int, expected);
        for (const bool animated : { false, true }) {
            Fixture f;
            f.area->verticalScrollBar()->setValue(start);
            f.area->setEnsureVisibleMargins(QMargins(0, marginAbove, 0, marginBelow));
            f.area->ensureRectVisible(rect, animated);
            QCOMPARE(f.area->isScrollAnimating(), animated && expected != start);
            runAnimations(f.area);
            QCOMPARE(f.value(), expected);
        }
    }

    void scrollToRefusesStrangers()
    {
        Fixture f;
        // A row below the view: its bottom lands on the viewport's bottom.
        f.area->scrollTo(f.rows.at(10), false);
        QCOMPARE(f.value(), 11 * kRowHeight - 200);
        f.area->scrollTo(f.rows.at(2), true);
        runAnimations(f.area);
        QCOMPARE(f.value(), 2 * kRowHeight);
        QWidget stranger(&f.window);
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression("Trying to scroll to .* which is not ancestor of scroll area"));
        f.area->scrollTo(&stranger, true);
        f.area->scrollTo(nullptr, false);
        QVERIFY(!f.area->isScrollAnimating());
        QCOMPARE(f.value(), 2 * kRowHeight);
    }

    void toolkitScrollBarMirrorsAndDrives()
    {
        Fixture f;
        QScrollBar* own = f.area->verticalScrollBar();
        QVERIFY(!own->isVisible());
        QCOMPARE(f.bar->pageStep(), own->pageStep());
        // The viewport has the whole width now that the area's own bar is off.
        QCOMPARE(f.area->viewport()->width(), 200);
        f.bar->setValue(f.bar->maximum());
        QCOMPARE(f.area->widget()->y(), -own->maximum());
        // Attached late to a scrolled area, a bar starts where the area stands.
        KelScrollBar late(-1, Qt::Horizontal, KelScrollBar::NoSpecialVisibility);
        late.attachTo(f.area, Qt::Vertical);
        QCOMPARE(late.value(), own->maximum());
        f.area->resize(180, 150);
        QCOMPARE(f.bar->maximum(), kRows * kRowHeight - 150);

        // Content that shrinks to fit: the bar has nothing to scroll and hides; it comes back with the rows.
        QSignalSpy available(f.bar, &KelScrollBar::scrollAvailableChanged);
        f.showRows(3);
        QVERIFY(!f.bar->isVisible());
        QCOMPARE(available.last().at(0).toBool(), false);
        f.showRows(-1);
        QCOMPARE(f.bar->maximum(), kRows * kRowHeight - 150);
        QVERIFY(f.bar->isVisible());
    }

    void scrollBarPaintsNothingWithNothingToScroll_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("painted");
        QTest::newRow("transparent, fits") << int(KelScrollBar::TransparentWhenNotScrollable) << 3 << false;
        QTest::newRow("transparent, scrolls") << int(KelScrollBar::TransparentWhenNotScrollable) << kRows << true;
        QTest::newRow("plain, fits") << int(KelScrollBar::NoSpecialVisibility) << 3 << true;
    }

    void scrollBarPaintsNothingWithNothingToScroll()
    {
        QFETCH(int, mode);
        QFETCH(int, rows);
        Fixture f(mode);
        f.showRows(rows);
        QVERIFY(f.bar->isVisible());
        // Over a magenta window what the bar leaves unpainted shows.
        f.window.setAutoFillBackground(true);
        f.window.setPalette(QPalette(QColor(255, 0, 255)));
        const QImage image = f.window.grab().toImage();
        const QRect bar = QRectF(
            f.bar->geometry().topLeft() * image.devicePixelRatioF(), QSizeF(f.bar->size()) * image.devicePixelRatioF())
                              .toRect();
        bool untouched = true;
        for (int y = bar.top(); y <= bar.bottom(); ++y)
            for (int x = bar.left(); x <= bar.right(); ++x)
                untouched = untouched && image.pixelColor(x, y) == QColor(255, 0, 255);
        QTEST(!untouched, "painted");
    }

    void edgeShadowsTrackTheScroll()
    {
        Fixture f;
        f.area->setEdgeShadows(Qt::TopEdge | Qt::BottomEdge, kShadowType, true);
        QVERIFY(!f.area->edgeShadow(Qt::LeftEdge));
        QCOMPARE(f.area->edgeShadow(Qt::BottomEdge)->geometry().bottom(), f.area->geometry().bottom());
        // At the top only the bottom one, in the middle both, at the end (a glide counts too) only the top one.
        QVERIFY(!f.shadowShown(Qt::TopEdge));
        QVERIFY(f.shadowShown(Qt::BottomEdge));
        f.bar->setValue(900);
        QVERIFY(f.shadowShown(Qt::TopEdge));
        QVERIFY(f.shadowShown(Qt::BottomEdge));
        f.area->scrollToPosition(QPoint(0, 100000), true);
        QVERIFY(f.shadowShown(Qt::TopEdge));
        QVERIFY(!f.shadowShown(Qt::BottomEdge));
        // Scrolling while hidden leaves the strips hidden with their area; shown again they match.
        f.area->hide();
        f.bar->setValue(0);
        QVERIFY(!f.shadowShown(Qt::BottomEdge));
        f.area->show();
        QVERIFY(!f.shadowShown(Qt::TopEdge));
        QVERIFY(f.shadowShown(Qt::BottomEdge));
        // Content that fits: none.
        f.showRows(2);
        QVERIFY(!f.shadowShown(Qt::TopEdge));
        QVERIFY(!f.shadowShown(Qt::BottomEdge));

        // Untracked strips stay as made; the old ones are gone, and the new ones go with their area.
        QPointer<KelLinearShadowWidget> old = f.area->edgeShadow(Qt::TopEdge);
        f.area->setEdgeShadows(Qt::LeftEdge | Qt::RightEdge, kShadowType, false);
        QVERIFY(!old);
        QVERIFY(f.shadowShown(Qt::LeftEdge));
        QPointer<KelLinearShadowWidget> right = f.area->edgeShadow(Qt::RightEdge);
        delete f.area;
        QVERIFY(!right);
    }

    void wheelScrollsSmoothly()
    {
        Fixture f;
        f.area->setEdgeShadows(Qt::TopEdge | Qt::BottomEdge, kShadowType, true);
        f.wheel(-120);
        // The wheel is swallowed and replayed in steps by the area's animator, the toolkit bar along with it.
        QCOMPARE(f.value(), 0);
        QVERIFY(f.drainWheel().size() > 10);
        QVERIFY(f.value() > 0);
        QCOMPARE(f.bar->value(), f.value());
        QVERIFY(f.shadowShown(Qt::TopEdge));
        // A glide under way yields to the wheel.
        f.area->scrollToPosition(QPoint(0, 1500), true);
        advanceAnimations(f.area, 30);
        f.wheel(120);
        f.drainWheel();
        QVERIFY(!f.area->isScrollAnimating());
        QVERIFY(f.value() < 1500);
    }

    void autoSizeFollowsTheContent()
    {
        QWidget window;
        auto* area = new KelScrollArea(&window);
        area->setWidget(makeContent(10));
        QSignalSpy changed(area, &KelScrollArea::autoSizeEnabledChanged);
        area->setAutoSizeEnabled(true);
        area->setAutoSizeEnabled(true);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(area->sizeHint().height(), 500);
        QCOMPARE(area->minimumSizeHint().height(), 32);

        // A content widget set later is followed: its resize asks the window's layout to look again.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* other = makeContent(2);
        area->setWidget(other);
        QCOMPARE(area->sizeHint().height(), 100);
        QCoreApplication::processEvents();
        int requests = 0;
        struct Counter : QObject {
            int* count;
            bool eventFilter(QObject*, QEvent* event) override
            {
                *count += event->type() == QEvent::LayoutRequest ? 1 : 0;
                return false;
            }
        } counter;
        counter.count = &requests;
        window.installEventFilter(&counter);
        other->resize(100, 300);
        QCoreApplication::processEvents();
        QVERIFY(requests > 0);

        area->setAutoSizeEnabled(false);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(area->sizeHint(), area->QScrollArea::sizeHint());
    }

private:
    FrozenAnimationDriver m_driver;
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelEdit>(argc, argv, QStringLiteral("Kel Edit Test"));
}

#include "tst_keledit.moc"

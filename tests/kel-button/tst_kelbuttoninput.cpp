// Button input: clicks and toggles on the next event-loop pass, drags, checkable, disabled and
// blocked buttons, driven by mouse events through the window as the system delivers them.
#include "../kelapp/kelapptest.h"
#include "buttontesthelpers.h"

#include "animators/kelwidgetstateanimator.h"
#include "kelapplication.h"
#include "widgets/kelbutton.h"

#include <QPointer>
#include <QSignalSpy>
#include <QWindow>
#include <QtTest>

#include <memory>

namespace {

// A parent that records the presses that reach it.
class Panel : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        ++presses;
        event->accept();
    }
};

// A shown window with one button at (20, 20), 80 x 30.
struct Scene {
    Scene()
        : button(new KelButton(-1, &panel))
    {
        panel.resize(200, 100);
        button->setText(QStringLiteral("Press"));
        button->setGeometry(20, 20, 80, 30);
        panel.show();
    }
    // Leaves no button held for the next test, also after a release sent past the window.
    ~Scene() { release(outside()); }
    bool exposed() { return QTest::qWaitForWindowExposed(&panel); }
    QWindow* window() { return panel.windowHandle(); }
    QPoint inside() const { return QPoint(60, 35); }
    QPoint outside() const { return QPoint(150, 80); }

    void move(const QPoint& pos) { QTest::mouseMove(window(), pos); }
    void press(const QPoint& pos) { QTest::mousePress(window(), Qt::LeftButton, Qt::NoModifier, pos); }
    void release(const QPoint& pos) { QTest::mouseRelease(window(), Qt::LeftButton, Qt::NoModifier, pos); }
    // The release as the window would deliver it, without running the event loop; the test's mouse
    // state is brought along by a release through the window afterwards.
    void sendRelease()
    {
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(button->rect().center()),
            QPointF(button->mapToGlobal(button->rect().center())), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(button, &release);
    }
    void click()
    {
        move(inside());
        press(inside());
        release(inside());
    }

    Panel panel;
    QPointer<KelButton> button;
};

} // namespace

class TestKelButtonInput : public QObject {
    Q_OBJECT

private slots:
    void clickIsDeliveredOnTheNextPass()
    {
        Scene scene;
        QVERIFY(scene.exposed());
        QSignalSpy clicked(scene.button.data(), &KelButton::clicked);
        QSignalSpy hovered(scene.button.data(), &KelButton::hovered);
        scene.move(scene.inside());
        QVERIFY(scene.button->isHovered());
        QCOMPARE(hovered.count(), 1);
        scene.press(scene.inside());
        QVERIFY(scene.button->isPressed());
        QVERIFY(scene.button->stateAnimator()->isPressed());
        // The window-level helpers run the event loop themselves; a release sent straight to the
        // button shows what happens before the loop's next pass.
        scene.sendRelease();
        QVERIFY(!scene.button->isPressed());
        QCOMPARE(clicked.count(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(clicked.count(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(clicked.count(), 1);
    }

    void draggingOutReleasesWithoutClick()
    {
        Scene scene;
        QVERIFY(scene.exposed());
        QSignalSpy clicked(scene.button.data(), &KelButton::clicked);
        QSignalSpy leaved(scene.button.data(), &KelButton::leaved);
        scene.move(scene.inside());
        scene.press(scene.inside());
        scene.move(scene.outside());
        QVERIFY(!scene.button->isPressed());
        QVERIFY(!scene.button->isHovered());
        QCOMPARE(leaved.count(), 1);
        // Back in: pressed again.
        scene.move(scene.inside());
        QVERIFY(scene.button->isPressed());
        scene.move(scene.outside());
        scene.release(scene.outside());
        QCoreApplication::processEvents();
        QCOMPARE(clicked.count(), 0);
    }

    void keepPressedOnDragStaysPressed()
    {
        Scene scene;
        QVERIFY(scene.exposed());
        scene.button->setKeepPressedOnDrag(true);
        scene.move(scene.inside());
        scene.press(scene.inside());
        scene.move(scene.outside());
        QVERIFY(scene.button->isPressed());
        QVERIFY(scene.button->stateAnimator()->isPressed());
        scene.release(scene.outside());
        QVERIFY(!scene.button->isPressed());
    }

    void checkableButtonToggles()
    {
        Scene scene;
        QVERIFY(scene.exposed());
        scene.button->setCheckable(true);
        QSignalSpy toggled(scene.button.data(), &KelButton::toggled);
        QSignalSpy clicked(scene.button.data(), &KelButton::clicked);
        scene.move(scene.inside());
        scene.press(scene.inside());
        scene.sendRelease();
        QVERIFY(scene.button->isChecked());
        QCOMPARE(toggled.count(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(toggled.count(), 1);
        QCOMPARE(toggled.at(0).at(0).toBool(), true);
        scene.click();
        QCoreApplication::processEvents();
        QVERIFY(!scene.button->isChecked());
        QCOMPARE(toggled.count(), 2);
        QCOMPARE(toggled.at(1).at(0).toBool(), false);
        // A checkable button clicks only when asked to.
        QCOMPARE(clicked.count(), 0);
        scene.button->setEmitsClickedWhenCheckable(true);
        scene.click();
        QCoreApplication::processEvents();
        QCOMPARE(clicked.count(), 1);
    }

    void radioStyleButtonStaysChecked()
    {
        Scene scene;
        QVERIFY(scene.exposed());
        scene.button->setCheckable(true);
        scene.button->setUncheckByClickBlocked(true);
        scene.button->setChecked(true);
        QCoreApplication::processEvents();
        QSignalSpy toggled(scene.button.data(), &KelButton::toggled);
        scene.move(scene.inside());
        scene.press(scene.inside());
        QVERIFY(!scene.button->isPressed());
        scene.release(scene.inside());
        QCoreApplication::processEvents();
        QVERIFY(scene.button->isChecked());
        QCOMPARE(toggled.count(), 0);

        // Combo-box items: still clickable when checked, and still checked afterwards.
        scene.button->setEmitsClickedWhenCheckable(true);
        QSignalSpy clicked(scene.button.data(), &KelButton::clicked);
        scene.click();
        QCoreApplication::processEvents();
        QCOMPARE(clicked.count(), 1);
        QVERIFY(scene.button->isChecked());
    }

    void setCheckedRules()
    {
        KelButton button(-1);
        QSignalSpy toggled(&button, &KelButton::toggled);
        button.setChecked(true);
        QVERIFY(!button.isChecked());
        button.setCheckable(true);
        button.setCheckedSilently(true);
        QVERIFY(button.isChecked());
        button.blockSignals(true);
        button.setChecked(false);
        button.blockSignals(false);
        QVERIFY(!button.isChecked());
        button.setChecked(true);
        button.setChecked(true);
        QCoreApplication::processEvents();
        QCOMPARE(toggled.count(), 1);
        button.setCheckable(false);
        QVERIFY(!button.isChecked());
        QVERIFY(!button.stateAnimator()->isChecked());
    }

    void disabledButtonIgnoresPresses()
    {
        Scene scene;
        QVERIFY(scene.exposed());
        scene.button->setEnabled(false);
        QVERIFY(scene.button->stateAnimator()->isDisabled());
        QSignalSpy clicked(scene.button.data(), &KelButton::clicked);
        scene.click();
        QCoreApplication::processEvents();
        QCOMPARE(clicked.count(), 0);
        QVERIFY(!scene.button->isPressed());
        QVERIFY(!scene.button->stateAnimator()->isHovered());
        // The press went on to the parent.
        QCOMPARE(scene.panel.presses, 1);
    }

    void transparentButtonPassesPressesOn()
    {
        Scene scene;
        QVERIFY(scene.exposed());
        scene.button->setTransparentForMouse(true);
        QSignalSpy clicked(scene.button.data(), &KelButton::clicked);
        scene.click();
        QCoreApplication::processEvents();
        QCOMPARE(clicked.count(), 0);
        QCOMPARE(scene.panel.presses, 1);
    }

    void windowBlockedWhilePressedActsAsRelease()
    {
        Scene scene;
        QVERIFY(scene.exposed());
        QSignalSpy clicked(scene.button.data(), &KelButton::clicked);
        scene.move(scene.inside());
        scene.press(scene.inside());
        QVERIFY(scene.button->isPressed());
        QEvent blocked(QEvent::WindowBlocked);
        QCoreApplication::sendEvent(scene.button.data(), &blocked);
        QVERIFY(!scene.button->isPressed());
        QVERIFY(!scene.button->stateAnimator()->isHovered());
        QCoreApplication::processEvents();
        QCOMPARE(clicked.count(), 1);
        QEvent unblocked(QEvent::WindowUnblocked);
        QCoreApplication::sendEvent(scene.button.data(), &unblocked);
        QCOMPARE(scene.button->stateAnimator()->isHovered(), scene.button->isHovered());
    }

    void buttonDeletedBeforeTheNextPassEmitsNothing()
    {
        Scene scene;
        QVERIFY(scene.exposed());
        int clicks = 0;
        connect(scene.button.data(), &KelButton::clicked, this, [&clicks]() { ++clicks; });
        scene.move(scene.inside());
        scene.press(scene.inside());
        scene.sendRelease();
        delete scene.button.data();
        QCoreApplication::processEvents();
        QCOMPARE(clicks, 0);
    }

    void listenerMayDeleteTheButton()
    {
        Scene scene;
        QVERIFY(scene.exposed());
        connect(scene.button.data(), &KelButton::clicked, scene.button.data(), [&scene]() { delete scene.button; });
        scene.click();
        QCoreApplication::processEvents();
        QVERIFY(scene.button.isNull());
    }

    void focusHighlightFollowsKeyboardFocus()
    {
        Scene scene;
        auto* other = new KelButton(-1, &scene.panel);
        other->setGeometry(120, 20, 40, 30);
        other->show();
        for (KelButton* b : { scene.button.data(), other })
            b->setFocusPolicy(Qt::TabFocus);
        scene.button->setFocusHighlightMode(1);
        QVERIFY(scene.exposed());
        scene.panel.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&scene.panel));
        QSignalSpy clicked(scene.button.data(), &KelButton::clicked);
        scene.button->setFocus(Qt::TabFocusReason);
        QVERIFY(scene.button->hasFocus());
        QVERIFY(scene.button->stateAnimator()->isHovered());
        // Keys do not click a toolkit button; Tab moves the focus and the highlight goes.
        QTest::keyClick(scene.button.data(), Qt::Key_Space);
        QTest::keyClick(scene.button.data(), Qt::Key_Return);
        QCoreApplication::processEvents();
        QCOMPARE(clicked.count(), 0);
        QTest::keyClick(&scene.panel, Qt::Key_Tab);
        QVERIFY(other->hasFocus());
        QVERIFY(!scene.button->stateAnimator()->isHovered());
    }

    void hidingAHoveredButtonLeavesIt()
    {
        Scene scene;
        QVERIFY(scene.exposed());
        QSignalSpy leaved(scene.button.data(), &KelButton::leaved);
        scene.move(scene.inside());
        QVERIFY(scene.button->isHovered());
        scene.button->hide();
        QVERIFY(!scene.button->isHovered());
        QCOMPARE(leaved.count(), 1);
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelButtonInput>(argc, argv, QStringLiteral("Kel Button Input Test"));
}

#include "tst_kelbuttoninput.moc"

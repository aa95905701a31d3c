#include "../kel-effects/animationclock.h"
#include "../kelapp/kelapptest.h"

#include "kelapplication.h"
#include "widgets/kelbutton.h"
#include "widgets/kelslider.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

// A shown horizontal slider 0..100 in a window.
struct Scene {
    Scene()
        : slider(new KelSlider(Qt::Horizontal, &window))
    {
        slider->setRange(0, 100);
        slider->setGeometry(10, 10, 208, 30);
        window.resize(240, 60);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    QWindow* handle() { return window.windowHandle(); }
    QPoint inWindow(const QPoint& p) const { return slider->mapTo(const_cast<QWidget*>(&window), p); }
    QWidget window;
    KelSlider* slider;
};

} // namespace

class TestKelSlider : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { m_driver.install(); }
    void cleanupTestCase() { m_driver.uninstall(); }

    void positionsAndValuesAgree()
    {
        Scene scene;
        KelSlider* slider = scene.slider;
        KelButton* handle = slider->positionHandle();
        QCOMPARE(handle->objectName(), QStringLiteral("KelPosHandle"));
        QCOMPARE(handle->size(), QSize(8, 24));
        QCOMPARE(KelSlider::fromSubcontrol(handle), slider);
        QCOMPARE(KelSlider::fromSubcontrol(&scene.window), nullptr);
        // Handle range 4..204 over 0..100: two pixels a step.
        QCOMPARE(slider->positionFromValue(0), QPoint(4, 15));
        QCOMPARE(slider->positionFromValue(100), QPoint(204, 15));
        QCOMPARE(slider->positionFromValue(500), QPoint(204, 15));
        QCOMPARE(slider->valueFromPosition(QPoint(104, 0)), 50);
        QCOMPARE(slider->valueFromPosition(QPoint(105, 0)), 51);
        QCOMPARE(slider->valueFromPosition(QPoint(-50, 0)), 0);
        QCOMPARE(slider->minimumSizeHint(), QSize(60, 24));
        QCOMPARE(handle->geometry().center().x(), 4);
    }

    void grooveClickMovesAtOnceAndDragContinues()
    {
        Scene scene;
        KelSlider* slider = scene.slider;
        KelButton* handle = slider->positionHandle();
        QSignalSpy changed(slider, &QAbstractSlider::valueChanged);
        QSignalSpy actions(slider, &QAbstractSlider::actionTriggered);
        QTest::mousePress(scene.handle(), Qt::LeftButton, Qt::NoModifier, scene.inWindow(QPoint(104, 15)));
        QCOMPARE(slider->value(), 50);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(actions.count(), 1);
        QCOMPARE(actions.first().first().toInt(), int(QAbstractSlider::SliderMove));
        QVERIFY(slider->isSliderDown());
        // No animation: the handle is there at once.
        QCOMPARE(handle->geometry().center().x(), 104);
        // The drag goes on with the handle.
        QTest::mouseMove(scene.handle(), scene.inWindow(QPoint(144, 15)));
        QCOMPARE(slider->value(), 70);
        QTest::mouseRelease(scene.handle(), Qt::LeftButton, Qt::NoModifier, scene.inWindow(QPoint(144, 15)));
        QVERIFY(!slider->isSliderDown());

        // A click where the value already is changes nothing.
        changed.clear();
        QTest::mouseClick(scene.handle(), Qt::LeftButton, Qt::NoModifier, scene.inWindow(QPoint(10, 15)));
        QCOMPARE(slider->value(), 3);
        QTest::mouseClick(scene.handle(), Qt::LeftButton, Qt::NoModifier, scene.inWindow(QPoint(10, 15)));
        QCOMPARE(changed.count(), 1);
    }

    void withoutTracking()
    {
        Scene scene;
        KelSlider* slider = scene.slider;
        slider->setTracking(false);
        QTest::mousePress(scene.handle(), Qt::LeftButton, Qt::NoModifier, scene.inWindow(QPoint(104, 15)));
        // Click mode 0: only the handle moves; the value follows on the release.
        QCOMPARE(slider->sliderPosition(), 50);
        QCOMPARE(slider->value(), 0);
        QCOMPARE(slider->positionHandle()->geometry().center().x(), 104);
        QTest::mouseRelease(scene.handle(), Qt::LeftButton, Qt::NoModifier, scene.inWindow(QPoint(104, 15)));
        QCOMPARE(slider->value(), 50);
        // Click mode 1: the value is set at once and the slider is not held.
        slider->setClickMode(1);
        QTest::mousePress(scene.handle(), Qt::LeftButton, Qt::NoModifier, scene.inWindow(QPoint(154, 15)));
        QCOMPARE(slider->value(), 75);
        QVERIFY(!slider->isSliderDown());
        QTest::mouseRelease(scene.handle(), Qt::LeftButton, Qt::NoModifier, scene.inWindow(QPoint(154, 15)));
    }

    void ignoredClicks()
    {
        Scene scene;
        KelSlider* slider = scene.slider;
        QTest::mouseClick(scene.handle(), Qt::RightButton, Qt::NoModifier, scene.inWindow(QPoint(104, 15)));
        QCOMPARE(slider->value(), 0);
        slider->setEnabled(false);
        QTest::mouseClick(scene.handle(), Qt::LeftButton, Qt::NoModifier, scene.inWindow(QPoint(104, 15)));
        QCOMPARE(slider->value(), 0);
        slider->setEnabled(true);
        slider->setRange(5, 5);
        QTest::mouseClick(scene.handle(), Qt::LeftButton, Qt::NoModifier, scene.inWindow(QPoint(104, 15)));
        QCOMPARE(slider->value(), 5);
    }

    void handleDragAndKeys()
    {
        Scene scene;
        KelSlider* slider = scene.slider;
        KelButton* handle = slider->positionHandle();
        slider->setValue(20);
        runAnimations(handle);
        QCOMPARE(handle->geometry().center().x(), 44);
        const QPoint grip = handle->geometry().center();
        QTest::mouseMove(scene.handle(), scene.inWindow(grip));
        QTest::mousePress(scene.handle(), Qt::LeftButton, Qt::NoModifier, scene.inWindow(grip));
        QVERIFY(slider->isSliderDown());
        QTest::mouseMove(scene.handle(), scene.inWindow(grip + QPoint(40, 3)));
        QCOMPARE(slider->value(), 40);
        QCOMPARE(handle->geometry().center().x(), 84);
        // Keys are left alone while the handle is held.
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(slider->value(), 40);
        QTest::mouseRelease(scene.handle(), Qt::LeftButton, Qt::NoModifier, scene.inWindow(grip + QPoint(40, 3)));
        QVERIFY(!slider->isSliderDown());
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(slider->value(), 41);
        QTest::keyClick(slider, Qt::Key_End);
        QCOMPARE(slider->value(), 100);
    }

    void handleAnimatesToOutsideValues()
    {
        Scene scene;
        KelSlider* slider = scene.slider;
        KelButton* handle = slider->positionHandle();
        slider->setValue(50);
        // Frozen clock: the handle has not moved yet.
        QCOMPARE(handle->geometry().center().x(), 4);
        advanceAnimations(handle, 1000);
        QCOMPARE(handle->geometry().center().x(), 104);
        // Hidden: at once.
        handle->hide();
        slider->setValue(0);
        QCOMPARE(handle->geometry().center().x(), 4);
        handle->show();
        QSignalSpy changed(slider, &QAbstractSlider::valueChanged);
        slider->setValueSilently(10);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(slider->value(), 10);
    }

    void markersAndFilledPart()
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
        QTest::mouseMove(scene.handle(), scene.inWindow(QPoint(60, 15)));
        QTRY_COMPARE(slider->hoverPosition(), 60);
    }

    void tooltipShowsTheValue()
    {
        Scene scene;
        KelSlider* slider = scene.slider;
        slider->setTooltipTextFunction(
            [](int value, QString& text, QString&) { text = QStringLiteral("p%1").arg(value); });
        KelButton* tip = slider->tooltip();
        QCOMPARE(tip->objectName(), QStringLiteral("KelSliderTooltip"));
        QVERIFY(!tip->isVisible());
        QTest::mouseMove(scene.handle(), scene.inWindow(QPoint(100, 15)));
        QTRY_VERIFY(tip->isVisible());
        QCOMPARE(tip->text(), QStringLiteral("p48"));
        slider->setSubcontrolsParent(&scene.window);
        QCOMPARE(tip->parentWidget(), &scene.window);
        QCOMPARE(KelSlider::fromSubcontrol(tip), slider);
    }

private:
    FrozenAnimationDriver m_driver;
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelSlider>(argc, argv, QStringLiteral("Kel Slider Test"));
}

#include "tst_kelslider.moc"

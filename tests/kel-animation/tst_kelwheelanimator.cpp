#include "animators/kelwheelanimator.h"

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>
#include <QtTest>

#include <memory>

namespace {

// Records the wheel events that reach a scroll bar.
class WheelRecorder : public QObject {
public:
    explicit WheelRecorder(QObject* watched) { watched->installEventFilter(this); }
    QList<QPoint> deltas;
    int sum() const
    {
        int total = 0;
        for (const QPoint& delta : deltas)
            total += delta.x() + delta.y();
        return total;
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Wheel)
            deltas.append(static_cast<QWheelEvent*>(event)->angleDelta());
        return false;
    }
};

// A scroll area over content of the given size, with an animator on a clock that only the test moves.
struct Fixture {
    explicit Fixture(QSize content)
    {
        area.resize(200, 200);
        auto* widget = new QWidget;
        widget->setFixedSize(content);
        area.setWidget(widget);
        area.show();
        QCoreApplication::processEvents();
        animator = new KelWheelAnimator(&area);
        animator->setClock([this] { return now; });
        vertical.reset(new WheelRecorder(area.verticalScrollBar()));
        horizontal.reset(new WheelRecorder(area.horizontalScrollBar()));
    }

    void wheel(QPoint angle)
    {
        QWheelEvent event(QPointF(10, 10), QPointF(area.viewport()->mapToGlobal(QPoint(10, 10))), QPoint(), angle,
            Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QVERIFY(QApplication::sendEvent(area.viewport(), &event));
    }

    // Ticks on time until the burst is over; returns the number of ticks.
    int drain(int interval = 8)
    {
        int ticks = 0;
        while (animator->isScrolling() && ticks < 1000) {
            now += interval;
            animator->tick();
            ++ticks;
        }
        return ticks;
    }

    qint64 now = 1000;
    QScrollArea area;
    KelWheelAnimator* animator = nullptr;
    std::unique_ptr<WheelRecorder> vertical;
    std::unique_ptr<WheelRecorder> horizontal;
};

// A notch moves 120 / wheelScrollLines; the wheel event itself counts towards acceleration.
double notch(int eventsInWindow)
{
    const double plain = 120.0 / QApplication::wheelScrollLines();
    return plain + 2.5 * plain * qMin(eventsInWindow / 15.0, 1.0);
}

} // namespace

class TestKelWheelAnimator : public QObject {
    Q_OBJECT
private slots:
    void oneNotchScrollsSmoothly();
    void quickNotchesAccelerateWithinBounds();
    void lateTickCatchesUpWithoutCompounding();
    void wheelGoesSidewaysWhenOnlyHorizontalScrolls();
    void swappedOrientation();
    void nothingScrollableReceivesNothing();
    void otherEventsPassUntouched();
    void destroyingMidBurstStops();
    void timerDrivesTheBurst();
};

void TestKelWheelAnimator::oneNotchScrollsSmoothly()
{
    Fixture f(QSize(100, 2000));
    QScrollBar* bar = f.area.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    f.wheel(QPoint(0, -120));
    // Swallowed: nothing moved yet.
    QCOMPARE(bar->value(), 0);
    QVERIFY(f.animator->isScrolling());

    QCOMPARE(f.drain(), 24);
    QCOMPARE(f.vertical->deltas.size(), 24);
    QVERIFY(f.horizontal->deltas.isEmpty());
    for (const QPoint& delta : qAsConst(f.vertical->deltas))
        QCOMPARE(delta.x(), 0);
    // The cosine profile: slow at both ends, fastest in the middle.
    QVERIFY(f.vertical->deltas.first().y() > f.vertical->deltas.at(12).y());
    QVERIFY(f.vertical->deltas.last().y() > f.vertical->deltas.at(12).y());
    QVERIFY(qAbs(f.vertical->sum() + notch(1)) <= 3);
    // About one single step per plain notch, as the scroll bar turns angle into lines itself.
    QVERIFY2(qAbs(bar->value() - qRound(notch(1) / 40.0 * bar->singleStep())) <= 1,
        qPrintable(QString::number(bar->value())));
    QVERIFY(!f.animator->isScrolling());
}

void TestKelWheelAnimator::quickNotchesAccelerateWithinBounds()
{
    Fixture f(QSize(100, 20000));
    // Fourteen notches within the window, then one more: that one runs at 3.5 times the plain delta.
    for (int i = 0; i < 14; ++i) {
        f.wheel(QPoint(0, -120));
        f.now += 10;
    }
    f.drain();
    f.vertical->deltas.clear();
    f.wheel(QPoint(0, -120));
    f.drain();
    QVERIFY2(qAbs(f.vertical->sum() + notch(15)) <= 12, qPrintable(QString::number(f.vertical->sum())));

    // However many more arrive, a run never exceeds 3.5 times.
    f.now += 1000;
    f.vertical->deltas.clear();
    double expected = 0;
    for (int i = 1; i <= 30; ++i) {
        f.wheel(QPoint(0, -120));
        expected += notch(i);
    }
    QCOMPARE(notch(30), notch(15));
    f.drain();
    QVERIFY2(qAbs(f.vertical->sum() + expected) <= 12, qPrintable(QString::number(f.vertical->sum())));

    // After a pause longer than the window the next notch is plain again.
    f.now += 2000;
    f.vertical->deltas.clear();
    f.wheel(QPoint(0, 120));
    f.drain();
    QVERIFY(qAbs(f.vertical->sum() - notch(1)) <= 12);
}

void TestKelWheelAnimator::lateTickCatchesUpWithoutCompounding()
{
    Fixture f(QSize(100, 2000));
    f.wheel(QPoint(0, -120));
    f.now += 8;
    f.animator->tick();
    // 100 ms late: this tick alone consumes 3 x 4 = 12 steps; the ticks after it are on time again.
    f.now += 100;
    f.animator->tick();
    QCOMPARE(f.drain(), 11);
    QVERIFY(qAbs(f.vertical->sum() + notch(1)) <= 12);

    // A stalled thread is capped at 64 steps per tick, which finishes any run at once.
    f.vertical->deltas.clear();
    f.now += 10000;
    f.wheel(QPoint(0, -120));
    f.now += 8;
    f.animator->tick();
    f.now += 3600 * 1000;
    f.animator->tick();
    QVERIFY(!f.animator->isScrolling());
    QCOMPARE(f.vertical->deltas.size(), 2);
    QVERIFY(qAbs(f.vertical->sum() + notch(1)) <= 1);
}

void TestKelWheelAnimator::wheelGoesSidewaysWhenOnlyHorizontalScrolls()
{
    Fixture f(QSize(2000, 100));
    QScrollBar* bar = f.area.horizontalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(f.area.verticalScrollBar()->maximum(), 0);
    f.wheel(QPoint(0, -120));
    f.drain();
    QVERIFY(f.vertical->deltas.isEmpty());
    QCOMPARE(f.horizontal->deltas.size(), 24);
    for (const QPoint& delta : qAsConst(f.horizontal->deltas))
        QCOMPARE(delta.y(), 0);
    QVERIFY(bar->value() > 0);

    // A horizontal wheel goes to the horizontal bar as well.
    const int before = bar->value();
    f.wheel(QPoint(120, 0));
    f.drain();
    QVERIFY(bar->value() < before);
}

void TestKelWheelAnimator::swappedOrientation()
{
    Fixture f(QSize(2000, 2000));
    f.animator->setOrientationSwapped(true);
    QVERIFY(f.animator->isOrientationSwapped());
    f.wheel(QPoint(0, -120));
    f.drain();
    QVERIFY(f.vertical->deltas.isEmpty());
    QVERIFY(f.area.horizontalScrollBar()->value() > 0);
    QCOMPARE(f.area.verticalScrollBar()->value(), 0);

    f.animator->setOrientationSwapped(false);
    f.wheel(QPoint(0, -120));
    f.drain();
    QVERIFY(f.area.verticalScrollBar()->value() > 0);
}

void TestKelWheelAnimator::nothingScrollableReceivesNothing()
{
    Fixture f(QSize(50, 50));
    f.wheel(QPoint(0, -120));
    QCOMPARE(f.drain(), 24);
    QVERIFY(f.vertical->deltas.isEmpty());
    QVERIFY(f.horizontal->deltas.isEmpty());
}

void TestKelWheelAnimator::otherEventsPassUntouched()
{
    Fixture f(QSize(100, 2000));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QVERIFY(!f.animator->eventFilter(f.area.viewport(), &press));
    // Wheel events on other objects are not the animator's.
    QWheelEvent event(QPointF(1, 1), QPointF(1, 1), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
        Qt::NoScrollPhase, false);
    QVERIFY(!f.animator->eventFilter(&f.area, &event));
    QVERIFY(!f.animator->isScrolling());

    // A tick without any wheel event is a stray one.
    QTest::ignoreMessage(QtWarningMsg, "Something wrong, null lastWheelEvent");
    f.animator->tick();
}

void TestKelWheelAnimator::destroyingMidBurstStops()
{
    Fixture f(QSize(100, 2000));
    f.wheel(QPoint(0, -120));
    f.now += 8;
    f.animator->tick();
    QTest::ignoreMessage(QtWarningMsg, "STOP SCROLL");
    delete f.animator;
    const int value = f.area.verticalScrollBar()->value();
    QTest::qWait(50);
    QCOMPARE(f.area.verticalScrollBar()->value(), value);
    // Wheel events reach the area as usual again.
    f.wheel(QPoint(0, -120));
    QVERIFY(f.area.verticalScrollBar()->value() > value);
}

void TestKelWheelAnimator::timerDrivesTheBurst()
{
    // On the real clock and timer the outcome does not depend on how late the ticks come.
    Fixture f(QSize(100, 2000));
    f.animator->setClock(nullptr);
    f.wheel(QPoint(0, -120));
    QTRY_VERIFY_WITH_TIMEOUT(!f.animator->isScrolling(), 10000);
    QVERIFY(qAbs(f.vertical->sum() + notch(1)) <= 12);
    QVERIFY(f.area.verticalScrollBar()->value() > 0);
}

QTEST_MAIN(TestKelWheelAnimator)
#include "tst_kelwheelanimator.moc"

// The viewer interface: its feature and zoom enumerations, the capability rule, the warnings of
// operations a viewer leaves out, and the recogniser that turns mouse events into single clicks,
// full-screen requests and drags.

#include "abstractviewer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QWidget>
#include <QtTest>

namespace {

// A viewer widget as the real ones are built: a Qt widget first, the interface second.
class FakeViewer : public QWidget, public AbstractViewer {
    Q_OBJECT
public:
    FakeViewer()
        : AbstractViewer(2)
    {
    }

    bool supports(Features features) const override
    {
        return featuresWithin(features, Feature::Toc | Feature::ColumnCountChange | Feature::Zoom);
    }
    bool readBook(QSharedPointer<BookContext> context) override
    {
        setBookContext(context);
        return true;
    }

    bool press(Qt::MouseButton button, QPoint pos = QPoint(100, 100))
    {
        QMouseEvent event(QEvent::MouseButtonPress, pos, button, button, Qt::NoModifier);
        return handleMousePressEvent(&event);
    }
    bool move(QPoint pos, Qt::MouseButtons held = Qt::LeftButton)
    {
        QMouseEvent event(QEvent::MouseMove, pos, Qt::NoButton, held, Qt::NoModifier);
        return handleMouseMoveEvent(&event, Qt::LeftButton | Qt::MiddleButton);
    }
    void release(Qt::MouseButton button, QPoint pos = QPoint(100, 100))
    {
        QMouseEvent event(QEvent::MouseButtonRelease, pos, button, Qt::NoButton, Qt::NoModifier);
        handleMouseReleaseEvent(&event);
    }

    int clicks = 0;
    qint64 lastClickAt = -1;
    int dragStarts = 0;
    int dragEnds = 0;
    QList<QPoint> dragDeltas;
    QElapsedTimer clock;

protected:
    void onMouseClicked() override
    {
        ++clicks;
        lastClickAt = clock.elapsed();
    }
    void onDragStart() override { ++dragStarts; }
    void onDragMove(const QPoint& delta) override { dragDeltas.append(delta); }
    void onDragEnd() override { ++dragEnds; }
};

// Longer than the click interval, so every pending decision has been taken.
constexpr int kSettleMs = 450;

} // namespace

class TestAbstractViewer : public QObject {
    Q_OBJECT
private slots:
    void capabilities_data();
    void capabilities();
    void quickClickReportedByTimer();
    void heldPressReportedAtRelease();
    void doubleClickAsksForFullScreen();
    void middleButton();
    void dragThreshold();
};

void TestAbstractViewer::capabilities_data()
{
    QTest::addColumn<int>("available");
    QTest::addColumn<int>("asked");
    QTest::addColumn<bool>("supported");
    const int image = 0x91;
    const int text = 0x17F;
    QTest::newRow("image: nothing") << image << 0 << false;
    QTest::newRow("text: nothing") << text << 0 << false;
    QTest::newRow("image: toc and zoom") << image << (1 | 128) << true;
    QTest::newRow("text: toc and zoom") << text << (1 | 128) << false;
    QTest::newRow("text: everything but zoom") << text << 0x17F << true;
    QTest::newRow("text: print alone") << text << 256 << true;
    QTest::newRow("image: notes") << image << 2 << false;
    QTest::newRow("image: its whole set") << image << image << true;
}

void TestAbstractViewer::capabilities()
{
    QFETCH(int, available);
    QFETCH(int, asked);
    QFETCH(bool, supported);
    QCOMPARE(AbstractViewer::featuresWithin(AbstractViewer::Features(asked), AbstractViewer::Features(available)),
        supported);
}

void TestAbstractViewer::quickClickReportedByTimer()
{
    FakeViewer viewer;
    QSignalSpy pressed(viewer.userEvents(), &AbstractViewer::UserEvents::mousePressed);
    viewer.clock.start();
    QVERIFY(!viewer.press(Qt::LeftButton));
    QCOMPARE(pressed.count(), 1);
    // Released before the event loop runs again, so the click timer cannot have fired yet
    // however loaded the machine is.
    viewer.release(Qt::LeftButton);
    QCOMPARE(viewer.clicks, 0); // a second press may still make it a double click
    QTRY_COMPARE(viewer.clicks, 1);
    // Qt's coarse timers may fire up to 5 % early.
    QVERIFY2(viewer.lastClickAt >= 280, qPrintable(QString::number(viewer.lastClickAt)));
    QTest::qWait(kSettleMs);
    QCOMPARE(viewer.clicks, 1);

    // A move within the start-drag distance neither drags nor cancels the click.
    const int distance = QApplication::startDragDistance();
    viewer.press(Qt::LeftButton, QPoint(50, 50));
    QVERIFY(!viewer.move(QPoint(50 + distance, 50)));
    viewer.release(Qt::LeftButton, QPoint(50 + distance, 50));
    QTRY_COMPARE(viewer.clicks, 2);
    QCOMPARE(viewer.dragStarts, 0);
}

void TestAbstractViewer::heldPressReportedAtRelease()
{
    FakeViewer viewer;
    viewer.press(Qt::LeftButton);
    QTest::qWait(kSettleMs);
    QCOMPARE(viewer.clicks, 0);
    viewer.release(Qt::LeftButton);
    QCOMPARE(viewer.clicks, 1);
    QTest::qWait(kSettleMs);
    QCOMPARE(viewer.clicks, 1);
}

void TestAbstractViewer::doubleClickAsksForFullScreen()
{
    FakeViewer viewer;
    QSignalSpy pressed(viewer.userEvents(), &AbstractViewer::UserEvents::mousePressed);
    QSignalSpy fullscreen(viewer.userEvents(), &AbstractViewer::UserEvents::fullscreenPressed);
    QVERIFY(!viewer.press(Qt::LeftButton));
    viewer.release(Qt::LeftButton);
    QVERIFY(viewer.press(Qt::LeftButton)); // consumed
    viewer.release(Qt::LeftButton);
    QCOMPARE(pressed.count(), 1);
    QCOMPARE(fullscreen.count(), 1);
    QTest::qWait(kSettleMs);
    QCOMPARE(viewer.clicks, 0);

    // The next press starts afresh.
    viewer.press(Qt::LeftButton);
    viewer.release(Qt::LeftButton);
    QTRY_COMPARE(viewer.clicks, 1);
    QCOMPARE(fullscreen.count(), 1);
}

void TestAbstractViewer::middleButton()
{
    FakeViewer viewer;
    QSignalSpy pressed(viewer.userEvents(), &AbstractViewer::UserEvents::mousePressed);
    QSignalSpy fullscreen(viewer.userEvents(), &AbstractViewer::UserEvents::fullscreenPressed);
    QVERIFY(viewer.press(Qt::MiddleButton));
    QCOMPARE(fullscreen.count(), 0);
    viewer.release(Qt::MiddleButton);
    QCOMPARE(fullscreen.count(), 1);
    QCOMPARE(pressed.count(), 0);

    // Another button is left to the widget and reports nothing.
    QVERIFY(!viewer.press(Qt::RightButton));
    viewer.release(Qt::RightButton);
    QTest::qWait(kSettleMs);
    QCOMPARE(viewer.clicks, 0);
    QCOMPARE(fullscreen.count(), 1);
}

void TestAbstractViewer::dragThreshold()
{
    FakeViewer viewer;
    const int distance = QApplication::startDragDistance();
    QVERIFY(!viewer.move(QPoint(10, 10))); // no press yet

    viewer.press(Qt::LeftButton, QPoint(100, 100));
    QVERIFY(!viewer.move(QPoint(100 + distance, 100)));
    QCOMPARE(viewer.dragStarts, 0);
    QVERIFY(!viewer.move(QPoint(100 + distance + 1, 100), Qt::RightButton)); // not a dragging button
    QVERIFY(viewer.move(QPoint(100 + distance + 1, 100)));
    QCOMPARE(viewer.dragStarts, 1);
    QVERIFY(viewer.move(QPoint(90, 130)));
    QCOMPARE(viewer.dragStarts, 1);
    QCOMPARE(viewer.dragDeltas, (QList<QPoint> { QPoint(-(distance + 1), 0), QPoint(10, -30) }));
    viewer.release(Qt::LeftButton, QPoint(90, 130));
    QCOMPARE(viewer.dragEnds, 1);
    QTest::qWait(kSettleMs);
    QCOMPARE(viewer.clicks, 0);
    QVERIFY(!viewer.move(QPoint(10, 10))); // released: no press any more
}

QTEST_MAIN(TestAbstractViewer)
#include "tst_abstractviewer.moc"

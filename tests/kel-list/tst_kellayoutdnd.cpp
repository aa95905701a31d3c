#include "layouts/kelflowlayout.h"
#include "layouts/kellayoutdnd.h"

#include <QApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

Q_DECLARE_METATYPE(const QMimeData*)

// Real drags cannot be run offscreen (there is no window system to deliver them), so the mouse and
// drag events are sent to the container and its children directly, in the order Qt delivers them.
namespace {

void sendMouse(QWidget* target, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, pos, target->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &e);
}

QWidget* row(QWidget* parent, const QString& name, QSize size = QSize(100, 30))
{
    auto* w = new QWidget(parent);
    w->setObjectName(name);
    w->setFixedSize(size);
    return w;
}

QString order(QLayout* layout)
{
    QStringList names;
    for (int i = 0; i < layout->count(); ++i) {
        if (QWidget* w = layout->itemAt(i)->widget())
            names << w->objectName();
    }
    return names.join(QLatin1Char(','));
}

} // namespace

class TestKelLayoutDnd : public QObject {
    Q_OBJECT

    struct Fixture {
        QWidget window;
        QLayout* layout = nullptr;
        KelLayoutDnd dnd;
        QWidget* indicator = nullptr;
        QList<QWidget*> rows;

        explicit Fixture(bool grid = false)
        {
            if (grid)
                layout = new KelFlowLayout(&window, QMargins(), 0, 0);
            else
                layout = new QVBoxLayout(&window);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->setSpacing(0);
            for (const char* name : { "a", "b", "c", "d" }) {
                QWidget* w = row(&window, QLatin1String(name));
                rows << w;
                if (auto* box = qobject_cast<QBoxLayout*>(layout))
                    box->addWidget(w);
                else
                    layout->addWidget(w);
            }
            window.resize(grid ? 200 : 100, grid ? 60 : 120);
            // Set after the layout: children must be watched all the same.
            dnd.setLayout(layout);
            indicator = new QWidget;
            dnd.setDropIndicator(indicator);
            dnd.setLocalMoveEnabled(true);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            layout->activate();
        }

        // Press on a row, move past the start distance inside it, then move over the container to `to`.
        void dragFrom(QWidget* child, QPoint to)
        {
            sendMouse(child, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
            sendMouse(child, QEvent::MouseMove, QPoint(5, 25), Qt::NoButton, Qt::LeftButton);
            sendMouse(&window, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
        }
        void release(QPoint at) { sendMouse(&window, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton); }
    };

private slots:
    void initTestCase()
    {
        qRegisterMetaType<const QMimeData*>();
        qRegisterMetaType<Qt::DropAction>();
    }
    void localMoveReordersAndReportsOnce_data();
    void localMoveReordersAndReportsOnce();
    void releaseOnOwnSlotEmitsNothing();
    void otherButtonNeverArms();
    void escapePutsWidgetBack();
    void childrenAddedLaterAreWatched();
    void externalDropReportsRow();
    void containerMayDieFirst();
};

void TestKelLayoutDnd::localMoveReordersAndReportsOnce_data()
{
    QTest::addColumn<bool>("grid");
    QTest::addColumn<QPoint>("target");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("newIndex");
    QTest::newRow("list, onto the third row") << false << QPoint(5, 80) << "b,c,a,d" << 2;
    QTest::newRow("list, below the last row") << false << QPoint(5, 118) << "b,c,d,a" << 3;
    QTest::newRow("grid, onto the last cell") << true << QPoint(150, 45) << "b,c,d,a" << 3;
    QTest::newRow("grid, onto the next row") << true << QPoint(20, 45) << "b,c,a,d" << 2;
}

void TestKelLayoutDnd::localMoveReordersAndReportsOnce()
{
    QFETCH(bool, grid);
    QFETCH(QPoint, target);
    QFETCH(QString, expected);
    QFETCH(int, newIndex);
    Fixture f(grid);
    QSignalSpy started(&f.dnd, &KelLayoutDnd::dragStarted);
    QSignalSpy moved(&f.dnd, &KelLayoutDnd::widgetMoved);
    QSignalSpy stopped(&f.dnd, &KelLayoutDnd::dragStopped);
    QSignalSpy indicatorShown(&f.dnd, &KelLayoutDnd::dropIndicatorVisibilityChanged);

    f.dragFrom(f.rows[0], target);
    QCOMPARE(started.count(), 1);
    QCOMPARE(started.at(0).at(1).toPoint(), QPoint(5, 5));
    // While dragging the row is out of the layout and the indicator holds its prospective slot.
    QVERIFY(f.rows[0]->isHidden());
    QVERIFY(f.indicator->isVisible());
    QCOMPARE(f.layout->indexOf(f.indicator), newIndex);
    QCOMPARE(f.indicator->size(), f.rows[0]->size());

    f.release(target);
    QCOMPARE(order(f.layout), expected);
    QCOMPARE(moved.count(), 1);
    QCOMPARE(moved.at(0).at(0).value<QWidget*>(), f.rows[0]);
    QCOMPARE(moved.at(0).at(1).toInt(), 0);
    QCOMPARE(moved.at(0).at(2).toInt(), newIndex);
    QCOMPARE(stopped.count(), 1);
    QVERIFY(f.rows[0]->isVisible());
    QVERIFY(f.indicator->isHidden());
    QCOMPARE(indicatorShown.count(), 2);
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
}

void TestKelLayoutDnd::releaseOnOwnSlotEmitsNothing()
{
    Fixture f;
    QSignalSpy moved(&f.dnd, &KelLayoutDnd::widgetMoved);
    QSignalSpy stopped(&f.dnd, &KelLayoutDnd::dragStopped);
    // Down to the third row, then back over the first slot before letting go.
    f.dragFrom(f.rows[0], QPoint(5, 80));
    QCOMPARE(f.layout->indexOf(f.indicator), 2);
    sendMouse(&f.window, QEvent::MouseMove, QPoint(5, 5), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(f.layout->indexOf(f.indicator), 0);
    f.release(QPoint(5, 5));
    QCOMPARE(moved.count(), 0);
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(order(f.layout), QStringLiteral("a,b,c,d"));
}

void TestKelLayoutDnd::otherButtonNeverArms()
{
    Fixture f;
    QSignalSpy started(&f.dnd, &KelLayoutDnd::dragStarted);
    sendMouse(f.rows[1], QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton | Qt::RightButton);
    sendMouse(f.rows[1], QEvent::MouseMove, QPoint(5, 25), Qt::NoButton, Qt::LeftButton | Qt::RightButton);
    sendMouse(&f.window, QEvent::MouseMove, QPoint(5, 100), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(started.count(), 0);
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    QVERIFY(f.indicator->isHidden());

    // Switched off, a plain left drag does nothing either.
    f.dnd.setLocalMoveEnabled(false);
    f.dragFrom(f.rows[1], QPoint(5, 100));
    QCOMPARE(started.count(), 0);
}

void TestKelLayoutDnd::escapePutsWidgetBack()
{
    Fixture f;
    QSignalSpy moved(&f.dnd, &KelLayoutDnd::widgetMoved);
    QSignalSpy stopped(&f.dnd, &KelLayoutDnd::dragStopped);
    QSignalSpy allowed(&f.dnd, &KelLayoutDnd::dropAllowedChanged);
    f.dragFrom(f.rows[1], QPoint(5, 110));
    QCOMPARE(f.layout->indexOf(f.rows[1]), -1);
    QTest::keyClick(&f.window, Qt::Key_Escape);
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(order(f.layout), QStringLiteral("a,b,c,d"));
    QVERIFY(f.rows[1]->isVisible());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    QCOMPARE(allowed.count(), 2);
    QCOMPARE(allowed.last().at(0).toBool(), false);
    // The release that follows is no longer a drop.
    f.release(QPoint(5, 110));
    QCOMPARE(moved.count(), 0);
}

void TestKelLayoutDnd::childrenAddedLaterAreWatched()
{
    Fixture f;
    QWidget* e = row(&f.window, QStringLiteral("e"));
    static_cast<QBoxLayout*>(f.layout)->insertWidget(0, e);
    f.window.resize(100, 150);
    f.layout->activate();
    QSignalSpy moved(&f.dnd, &KelLayoutDnd::widgetMoved);
    f.dragFrom(e, QPoint(5, 140));
    f.release(QPoint(5, 140));
    QCOMPARE(moved.count(), 1);
    QCOMPARE(order(f.layout), QStringLiteral("a,b,c,d,e"));

    // Once reparented away it no longer starts drags.
    QWidget other;
    e->setParent(&other);
    f.dragFrom(e, QPoint(5, 100));
    QCOMPARE(moved.count(), 1);
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
}

void TestKelLayoutDnd::externalDropReportsRow()
{
    Fixture f;
    QMimeData good;
    good.setText(QStringLiteral("book"));
    QMimeData bad;
    bad.setData(QStringLiteral("application/x-other"), "x");
    f.dnd.setDropAcceptor([](const QMimeData* data) { return data->hasText(); });
    QSignalSpy dropped(&f.dnd, &KelLayoutDnd::dropped);

    // Switched off: refused.
    QDragEnterEvent offEnter(QPoint(5, 50), Qt::CopyAction, &good, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&f.window, &offEnter);
    QVERIFY(!offEnter.isAccepted());

    f.dnd.setExternalDropEnabled(true);
    QDragEnterEvent rejected(QPoint(5, 50), Qt::CopyAction, &bad, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&f.window, &rejected);
    QVERIFY(!rejected.isAccepted());

    QDragEnterEvent enter(QPoint(5, 50), Qt::CopyAction | Qt::MoveAction, &good, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&f.window, &enter);
    QVERIFY(enter.isAccepted());
    QDragMoveEvent move(QPoint(5, 50), Qt::CopyAction | Qt::MoveAction, &good, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&f.window, &move);
    QVERIFY(move.isAccepted());
    QCOMPARE(f.layout->indexOf(f.indicator), 1);
    // The indicator takes a row's size, not the whole container.
    QVERIFY(f.window.height() < 1000);
    QCOMPARE(f.indicator->height(), 30);

    QDropEvent drop(QPoint(5, 50), Qt::CopyAction | Qt::MoveAction, &good, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&f.window, &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(dropped.count(), 1);
    QCOMPARE(dropped.at(0).at(2).toInt(), 1);
    QCOMPARE(f.layout->indexOf(f.indicator), -1);
    QCOMPARE(order(f.layout), QStringLiteral("a,b,c,d"));

    // Leaving without a drop takes the indicator away again.
    QApplication::sendEvent(&f.window, &enter);
    QApplication::sendEvent(&f.window, &move);
    QVERIFY(f.indicator->isVisible());
    QDragLeaveEvent leave;
    QApplication::sendEvent(&f.window, &leave);
    QVERIFY(f.indicator->isHidden());
    QCOMPARE(dropped.count(), 1);
}

void TestKelLayoutDnd::containerMayDieFirst()
{
    KelLayoutDnd dnd;
    auto* container = new QWidget;
    auto* layout = new QVBoxLayout(container);
    layout->addWidget(row(container, QStringLiteral("a")));
    dnd.setLayout(layout);
    row(container, QStringLiteral("late"));
    delete container;
    QWidget other;
    auto* otherLayout = new QVBoxLayout(&other);
    dnd.setLayout(otherLayout);
    QCOMPARE(dnd.layout(), otherLayout);
}

QTEST_MAIN(TestKelLayoutDnd)
#include "tst_kellayoutdnd.moc"

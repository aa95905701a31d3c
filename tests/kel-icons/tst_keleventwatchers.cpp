#include "../kelapp/kelapptest.h"

#include "eventfilters/kelchildwatcher.h"
#include "eventfilters/kelgeometrywatcher.h"
#include "eventfilters/kelglobalmousewatcher.h"
#include "eventfilters/kelqmenustyler.h"
#include "eventfilters/kelscrollareawatcher.h"
#include "eventfilters/keltooltipeventfilter.h"
#include "kelapplication.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolTip>
#include <QWindow>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(Qt::MouseButton)

namespace {

// Counts the enter and leave events it gets and where the last enter happened.
class HoverRecorder : public QWidget {
public:
    explicit HoverRecorder(QWidget* parent = nullptr)
        : QWidget(parent)
    {
    }
    int enters = 0;
    int leaves = 0;
    QPoint lastEnterPos;
    void reset() { enters = leaves = 0; }

protected:
    void enterEvent(QEvent* event) override
    {
        ++enters;
        if (event->type() == QEvent::Enter)
            lastEnterPos = static_cast<QEnterEvent*>(event)->pos();
    }
    void leaveEvent(QEvent*) override { ++leaves; }
};

QWidget* addChild(QWidget* parent, const QRect& geometry)
{
    auto* child = new QWidget(parent);
    child->setGeometry(geometry);
    return child;
}

// A window with a panel and a widget inside the panel.
struct NestedWidgets {
    NestedWidgets(const QRect& windowGeometry, const QRect& panelGeometry, const QRect& innerGeometry)
        : panel(new QWidget(&window))
        , inner(new QWidget(panel))
    {
        window.setGeometry(windowGeometry);
        panel->setGeometry(panelGeometry);
        inner->setGeometry(innerGeometry);
    }
    QWidget window;
    QWidget* panel;
    QWidget* inner;
};

bool showAndWait(QWidget& window)
{
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

// Moves the mouse over the window the way the system does, to a point in the window's coordinates.
void moveMouse(QWidget& window, const QPoint& pos) { QTest::mouseMove(window.windowHandle(), pos); }

// Where the system reports a logical global position: scaled by the window's ratio around its screen's
// origin.
QPoint expectedRaw(const QWidget& window, const QPoint& logicalGlobal)
{
    const QPoint origin = window.windowHandle()->screen()->geometry().topLeft();
    return (logicalGlobal - origin) * window.devicePixelRatioF() + origin;
}

} // namespace

class TestKelEventWatchers : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<Qt::MouseButton>();
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(),
            qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble());
    }

    void globalMouseWatchersReportMovesAndPresses()
    {
        QWidget window;
        window.setGeometry(40, 50, 200, 150);
        // Presses on the child also travel to its parent.
        addChild(&window, QRect(100, 0, 100, 150));
        QVERIFY(showAndWait(window));
        auto* watcher = new KelGlobalMouseWatcher;
        QSignalSpy moved(watcher, &KelGlobalMouseWatcher::mouseMoved);
        QSignalSpy pressed(watcher, &KelGlobalMouseWatcher::mousePressed);
        moveMouse(window, QPoint(10, 20));
        // The same point again is no move.
        QMouseEvent again(QEvent::MouseMove, QPointF(10, 20), QPointF(window.mapToGlobal(QPoint(10, 20))), Qt::NoButton,
            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.windowHandle(), &again);
        moveMouse(window, QPoint(150, 30));
        QCOMPARE(moved.count(), 2);
        QCOMPARE(moved.at(1).at(0).toPoint(), expectedRaw(window, window.mapToGlobal(QPoint(150, 30))));
        // A press on a child reaches the child and its parents, but is reported once.
        QTest::mousePress(window.windowHandle(), Qt::RightButton, Qt::NoModifier, QPoint(150, 30));
        QTest::mouseRelease(window.windowHandle(), Qt::RightButton, Qt::NoModifier, QPoint(150, 30));
        QCOMPARE(pressed.count(), 1);
        QCOMPARE(pressed.at(0).at(0).toPoint(), expectedRaw(window, window.mapToGlobal(QPoint(150, 30))));
        QCOMPARE(pressed.at(0).at(1).value<Qt::MouseButton>(), Qt::RightButton);

        // Watchers share one filter, which goes with the last of them.
        auto first = std::make_unique<KelGlobalMouseWatcher>();
        auto* second = new KelGlobalMouseWatcher;
        auto* third = new KelGlobalMouseWatcher;
        QSignalSpy secondMoved(second, &KelGlobalMouseWatcher::mouseMoved);
        // A listener that deletes a watcher still due in the same pass.
        connect(first.get(), &KelGlobalMouseWatcher::mouseMoved, this, [&third]() {
            delete third;
            third = nullptr;
        });
        moveMouse(window, QPoint(5, 5));
        QVERIFY(!third);
        QCOMPARE(secondMoved.count(), 1);
        delete second;
        delete watcher;
        QVERIFY(KelGlobalMouseWatcher::isHookInstalled());
        first.reset();
        QVERIFY(!KelGlobalMouseWatcher::isHookInstalled());
    }

    void geometryWatcherModes()
    {
        NestedWidgets widgets(QRect(100, 100, 300, 200), QRect(10, 10, 200, 150), QRect(5, 6, 50, 40));
        QWidget& window = widgets.window;
        QWidget* child = widgets.inner;
        QVERIFY(showAndWait(window));
        auto* inParent = new KelGeometryWatcher(child, KelGeometryWatcher::WidgetGeometry);
        auto* inWindow = new KelGeometryWatcher(child, KelGeometryWatcher::WindowGeometry);
        auto* onScreen = new KelGeometryWatcher(child, KelGeometryWatcher::ScreenGeometry);
        QSignalSpy geometry(inParent, &KelGeometryWatcher::geometryChanged);
        QSignalSpy visibility(inParent, &KelGeometryWatcher::visibilityChanged);
        QSignalSpy windowRects(inWindow, &KelGeometryWatcher::windowGeometryChanged);
        QSignalSpy screenRects(onScreen, &KelGeometryWatcher::screenGeometryChanged);

        child->move(8, 9);
        child->resize(60, 40);
        QCOMPARE(geometry.count(), 2);
        QCOMPARE(geometry.at(1).at(0).toRect(), QRect(8, 9, 60, 40));
        QCOMPARE(windowRects.at(0).at(0).toRect(), QRect(18, 19, 50, 40));
        child->hide();
        child->show();
        QCOMPARE(visibility.count(), 2);
        QCOMPARE(geometry.count(), 2); // showing again at the same place is no geometry change

        // The window moves, the child stays where it is in it: only its place on the screen changes.
        const int screenChanges = screenRects.count();
        window.move(160, 130);
        QTRY_COMPARE(screenRects.count(), screenChanges + 1);
        QCOMPARE(screenRects.last().at(0).toRect(), QRect(child->mapToGlobal(QPoint(0, 0)), QSize(60, 40)));
        QCOMPARE(windowRects.count(), 2);
        QCOMPARE(geometry.count(), 2);
    }

    void geometryWatcherFollowsReparenting()
    {
        QWidget first;
        first.setGeometry(100, 100, 200, 200);
        QWidget second;
        second.setGeometry(400, 100, 200, 200);
        auto* child = addChild(&first, QRect(10, 10, 30, 30));
        QVERIFY(showAndWait(first));
        QVERIFY(showAndWait(second));
        auto* watcher = new KelGeometryWatcher(child, KelGeometryWatcher::ScreenGeometry);
        QSignalSpy parents(watcher, &KelGeometryWatcher::parentWidgetChanged);
        QSignalSpy screenRects(watcher, &KelGeometryWatcher::screenGeometryChanged);
        child->setParent(&second);
        child->show();
        QCOMPARE(parents.at(0).at(0).value<QWidget*>(), &second);
        // The filter went with the child: the old window no longer counts, the new one does.
        const int before = screenRects.count();
        first.move(120, 120);
        QTest::qWait(20);
        QCOMPARE(screenRects.count(), before);
        second.move(420, 120);
        QTRY_COMPARE(screenRects.count(), before + 1);
    }

    void childWatcherWithoutRecursion()
    {
        QWidget window;
        window.setGeometry(100, 100, 300, 100);
        auto* early = addChild(&window, QRect(0, 0, 100, 100));
        QVERIFY(showAndWait(window));
        KelChildWatcher watcher(KelChildWatcher::WatchAdded | KelChildWatcher::WatchRemoved
                | KelChildWatcher::WatchEnter | KelChildWatcher::WatchLeave,
            &window);
        QSignalSpy added(&watcher, &KelChildWatcher::childWidgetAdded);
        QSignalSpy removed(&watcher, &KelChildWatcher::childWidgetRemoved);
        QSignalSpy entered(&watcher, &KelChildWatcher::childWidgetEntered);
        QSignalSpy leaved(&watcher, &KelChildWatcher::childWidgetLeaved);
        auto* late = addChild(&window, QRect(100, 0, 100, 100));
        late->show();
        new QObject(&window); // not a widget
        QCOMPARE(added.count(), 1);
        QVERIFY(!watcher.isTracked(early));

        // Only the child added afterwards reports the mouse.
        for (int x : { 50, 150, 250, 50 })
            moveMouse(window, QPoint(x, 50));
        QCOMPARE(entered.count(), 1);
        QCOMPARE(entered.at(0).at(0).value<QWidget*>(), late);
        QCOMPARE(leaved.count(), 1);
        const QObject* lateObject = late;
        delete late;
        // The pointer of a deleted child is only compared.
        QCOMPARE(*static_cast<QObject* const*>(removed.at(0).at(0).constData()), lateObject);
    }

    void childWatcherRecursive()
    {
        NestedWidgets widgets(QRect(100, 100, 300, 100), QRect(0, 0, 200, 100), QRect(100, 0, 100, 100));
        QWidget& window = widgets.window;
        QVERIFY(showAndWait(window));
        KelChildWatcher watcher(
            KelChildWatcher::WatchAdded | KelChildWatcher::WatchEnter | KelChildWatcher::Recursive, &window, this);
        QSignalSpy added(&watcher, &KelChildWatcher::childWidgetAdded);
        QSignalSpy entered(&watcher, &KelChildWatcher::childWidgetEntered);
        auto* later = new QWidget(widgets.inner);
        QCOMPARE(added.count(), 1);
        QVERIFY(watcher.isTracked(later));
        moveMouse(window, QPoint(250, 50));
        moveMouse(window, QPoint(150, 50));
        QCOMPARE(entered.last().at(0).value<QWidget*>(), widgets.inner);
        // A sub-tree taken elsewhere leaves with its children.
        QWidget elsewhere;
        widgets.panel->setParent(&elsewhere);
        QVERIFY(!watcher.isTracked(widgets.inner));
        QVERIFY(!watcher.isTracked(later));
        new QWidget(widgets.inner);
        QCOMPARE(added.count(), 1);
    }

    void scrollAreaWatcherMovesHoverWithContent()
    {
        QScrollArea area;
        area.setGeometry(100, 100, 140, 120);
        area.setFrameShape(QFrame::NoFrame);
        area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        auto* content = new QWidget;
        content->resize(100, 400);
        QList<HoverRecorder*> items;
        for (int i = 0; i < 4; ++i) {
            items << new HoverRecorder(content);
            items.last()->setGeometry(0, i * 100, 100, 100);
        }
        area.setWidget(content);
        auto* watcher = new KelScrollAreaWatcher(&area);
        QVERIFY(showAndWait(area));
        QVERIFY((new QWidget(items[3]))->hasMouseTracking());

        // The mouse comes to rest over the first item.
        const QPoint global = area.viewport()->mapToGlobal(QPoint(50, 50));
        QCursor::setPos(global);
        QCoreApplication::processEvents();
        moveMouse(area, area.mapFromGlobal(global));
        QCOMPARE(watcher->hoveredWidget(), items[0]);
        for (HoverRecorder* item : qAsConst(items))
            item->reset();

        // The content scrolls under the still mouse: the hover goes from the first item to the second.
        area.verticalScrollBar()->setValue(100);
        QCOMPARE(items[0]->leaves, 1);
        QCOMPARE(items[1]->enters, 1);
        QCOMPARE(items[1]->lastEnterPos, QPoint(50, 50));

        // A relayout is checked on the next turn of the event loop.
        items[1]->move(0, 300);
        items[3]->move(0, 100);
        QCoreApplication::postEvent(area.viewport(), new QEvent(QEvent::LayoutRequest));
        QTRY_COMPARE(watcher->hoveredWidget(), items[3]);

        // The mouse leaves the viewport: so does the hover.
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(area.viewport(), &leave);
        QCOMPARE(items[3]->leaves, 1);
        QVERIFY(!watcher->hoveredWidget());
    }

    void tooltipTextComputedWhenAsked()
    {
        QLabel label(QStringLiteral("Some text"));
        label.setGeometry(100, 100, 200, 40);
        QVERIFY(showAndWait(label));
        QString answer = QStringLiteral("Computed now");
        label.installEventFilter(new KelTooltipEventFilter(&label, [&](const QPoint&) { return answer; }));
        QHelpEvent help(QEvent::ToolTip, QPoint(12, 8), label.mapToGlobal(QPoint(12, 8)));
        QVERIFY(QCoreApplication::sendEvent(&label, &help));
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("Computed now"));
        // An empty answer hides the tooltip that is up.
        answer.clear();
        QHelpEvent again(QEvent::ToolTip, QPoint(30, 8), label.mapToGlobal(QPoint(30, 8)));
        QVERIFY(QCoreApplication::sendEvent(&label, &again));
        QTRY_VERIFY(!QToolTip::isVisible());
    }

    // Menus and other child windows lose the system shadow; without a style a menu keeps Qt's look and says so.
    void menuStylerTakesTheShadowOff()
    {
        QLineEdit edit;
        edit.setGeometry(100, 100, 200, 30);
        QVERIFY(showAndWait(edit));
        new KelQMenuStyler(&edit, 28);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^No style sheet applier is set"));
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), edit.mapToGlobal(QPoint(10, 10)));
        QCoreApplication::sendEvent(&edit, &event);
        QMenu* menu = edit.findChild<QMenu*>();
        QTRY_VERIFY(menu->isVisible());
        QVERIFY(menu->windowFlags() & Qt::NoDropShadowWindowHint);
        QCoreApplication::processEvents();
        menu->close();
        QVERIFY((new QWidget(&edit, Qt::ToolTip))->windowFlags() & Qt::NoDropShadowWindowHint);
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelEventWatchers>(argc, argv, QStringLiteral("Kel Watchers Test"));
}

#include "tst_keleventwatchers.moc"

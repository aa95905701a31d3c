// Windows on a real X server without a window manager, under openbox, and under openbox with xcompmgr
// (PL_WM_MODE none, openbox, compositor), started before the application connects so Qt sees them.
#include "../kelapp/kelapptest.h"
#include "kelui.h"
#include "platform/x11/kelcustomshadow.h"
#include "platform/x11/kelnativewindowutils.h"
#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"
#include "windowmanager.h"
#include "windows/keldialog.h"
#include "windows/kelmessagebox.h"
#include "windows/keltitlebar.h"
#include "windows/kelwindow.h"
#include "windows/kelwindowframe.h"
#include "windowtesthelpers.h"
#include "windowwaits.h"

#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <memory>
#include <signal.h>
#include <xcb/xcb.h>

namespace {

QByteArray mode() { return qgetenv("PL_WM_MODE"); }

// metacity composites by itself.
bool composited() { return mode() == "compositor" || mode() == "metacity"; }

// Runs xdotool with the event loop going, so the window manager and the window see the input as it happens.
void xdo(const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), args);
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, windowwaits::kTimeoutMs);
    QTest::qWait(150);
}

void xdoMoveTo(const QPoint& p) { xdo({ "mousemove", QString::number(p.x()), QString::number(p.y()) }); }

KelWindow* makeWindow(KelWindow::WindowParams extra = KelWindow::WindowParams())
{
    auto* window = new KelWindow(KelWindow::TitleBar | KelWindow::Movable | KelWindow::Resizable | extra);
    window->setTitleText("Window");
    window->centralWidget()->setMinimumSize(220, 150);
    window->setGeometry(300, 250, 420, 300);
    return window;
}

// The window's place in the stacking order the X server reports, higher above: the window manager's
// list, or the root window's children when none runs. -1 when it is not there.
int stackPosition(const QWidget* window)
{
    const quint32 id = quint32(window->winId());
    return mode() == "none" ? windowmanager::rootChildren().indexOf(id) : windowmanager::stacking().indexOf(id);
}

bool hasFocus(const QWidget* window)
{
    if (mode() == "none")
        return QApplication::activeWindow() == window;
    return windowmanager::activeWindow() == quint32(window->winId()) && QApplication::activeWindow() == window;
}

QColor screenPixel(const QPoint& global)
{
    return QGuiApplication::primaryScreen()->grabWindow(0, global.x(), global.y(), 1, 1).toImage().pixelColor(0, 0);
}

} // namespace

class TestKelWindowWm : public QObject {
    Q_OBJECT

    std::unique_ptr<KelSettings> m_settings;

private slots:
    void initTestCase()
    {
        m_settings = installTestSettings();
        QVERIFY(KelUi::instance());
        QCOMPARE(KelNativeWindowUtils::isCompositionEnabled(), composited());
    }

    void dragAndResize_data()
    {
        QTest::addColumn<QString>("spot");
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<QRect>("change"); // added to left, top, right, bottom
        QTest::addColumn<bool>("move");
        // A press on the caption or the client area becomes a move after 6 pixels; the window follows from there.
        QTest::newRow("caption") << "title" << QPoint(60, 40) << QRect(54, 40, 54, 40) << true;
        QTest::newRow("client area") << "client" << QPoint(-50, 30) << QRect(-56, 30, -56, 30) << true;
        QTest::newRow("right border") << "right" << QPoint(50, 0) << QRect(0, 0, 50, 0) << false;
        QTest::newRow("bottom-left corner") << "bottom-left" << QPoint(-30, 20) << QRect(-30, 0, 0, 20) << false;
        QTest::newRow("right border below the minimum") << "right" << QPoint(-400, 0) << QRect(0, 0, -200, 0) << false;
    }

    void dragAndResize()
    {
        if (mode() != "none" && mode() != "openbox")
            QSKIP("moves and resizes are checked without and with a window manager");
        QFETCH(QString, spot);
        QFETCH(QPoint, delta);
        QFETCH(QRect, change);
        QFETCH(bool, move);
        std::unique_ptr<KelWindow> window(makeWindow());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get(), windowwaits::kTimeoutMs));
        QTest::qWait(200);
        const QRect start = window->geometry();
        QSignalSpy started(window.get(), move ? &KelWindow::moveByUserStarted : &KelWindow::resizeByUserStarted);
        QSignalSpy finished(window.get(), move ? &KelWindow::moveByUserFinished : &KelWindow::resizeByUserFinished);

        KelLabel* title = window->titleBar()->titleLabel();
        QPoint from = title->mapToGlobal(title->rect().center());
        if (spot == "client")
            from = window->centralWidget()->mapToGlobal(window->centralWidget()->rect().center());
        else if (spot == "right")
            from = QPoint(start.right() - 2, start.center().y());
        else if (spot == "bottom-left")
            from = QPoint(start.left() + 2, start.bottom() - 2);
        const QPoint to = from + delta;
        xdoMoveTo(from);
        xdo({ "mousedown", "1" });
        xdoMoveTo(from + QPoint(6, 0));
        xdoMoveTo(to);
        xdo({ "mouseup", "1" });
        xdoMoveTo(to + QPoint(1, 1));

        QRect expected = start.adjusted(change.left(), change.top(), change.width(), change.height());
        expected.setWidth(qMax(expected.width(), window->minimumWidth()));
        QTRY_COMPARE_WITH_TIMEOUT(window->geometry(), expected, windowwaits::kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, windowwaits::kTimeoutMs);
        QCOMPARE(started.count(), 1);
        QVERIFY(!window->isInSystemMoveOrResize());
    }

    void captionDoubleClick()
    {
        if (mode() != "openbox")
            QSKIP("maximising is the window manager's");
        std::unique_ptr<KelWindow> window(makeWindow(KelWindow::MaximizeButton));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get(), windowwaits::kTimeoutMs));
        const QRect start = window->geometry();
        KelLabel* title = window->titleBar()->titleLabel();
        const QPoint at = title->mapToGlobal(title->rect().center());
        xdoMoveTo(at);
        xdo({ "click", "--repeat", "2", "--delay", "80", "1" });
        QTRY_VERIFY_WITH_TIMEOUT(window->isMaximized(), windowwaits::kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(
            window->geometry(), QGuiApplication::primaryScreen()->availableGeometry(), windowwaits::kTimeoutMs);
        QVERIFY(window->titleBar()->restoreButton()->isVisible());
        const QPoint again = title->mapToGlobal(title->rect().center());
        xdoMoveTo(again);
        xdo({ "click", "--repeat", "2", "--delay", "80", "1" });
        QTRY_VERIFY_WITH_TIMEOUT(!window->isMaximized(), windowwaits::kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(window->geometry(), start, windowwaits::kTimeoutMs);
    }

    void maintenanceWordTyped_data()
    {
        QTest::addColumn<QString>("chord");
        QTest::addColumn<QString>("letters");
        QTest::addColumn<bool>("toggled");
        QTest::newRow("ctrl+alt") << QStringLiteral("ctrl+alt+") << QStringLiteral("plonk") << true;
        QTest::newRow("ctrl+alt+shift") << QStringLiteral("ctrl+alt+shift+") << QStringLiteral("plonk") << false;
        QTest::newRow("wrong letter between") << QStringLiteral("ctrl+alt+") << QStringLiteral("plxonk") << false;
    }

    void maintenanceWordTyped()
    {
        if (mode() != "openbox")
            QSKIP("typed once, under a window manager that gives the focus");
        QFETCH(QString, chord);
        QFETCH(QString, letters);
        QFETCH(bool, toggled);
        KelUi::instance()->setMaintenanceMode(false);
        std::unique_ptr<KelWindow> window(makeWindow());
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get(), windowwaits::kTimeoutMs));
        QStringList args { "key", "--delay", "40" };
        for (QChar c : letters)
            args << chord + c;
        xdo(args);
        QTRY_COMPARE_WITH_TIMEOUT(KelUi::instance()->isMaintenanceMode(), toggled, windowwaits::kTimeoutMs);
        QTest::qWait(100);
        QCOMPARE(KelUi::instance()->isMaintenanceMode(), toggled);
        KelUi::instance()->setMaintenanceMode(false);
    }

    // A question belongs to a window: the X server knows it (WM_TRANSIENT_FOR), and it stays above the
    // window and keeps the focus when the window is shown and raised after it (the main window after the
    // splash) or clicked.
    void ownedWindowsStayAbove_data()
    {
        QTest::addColumn<bool>("parented");
        QTest::newRow("parent given, owner shown later") << true;
        QTest::newRow("no parent, the active window owns it") << false;
    }

    void ownedWindowsStayAbove()
    {
        if (mode() == "compositor")
            QSKIP("stacking is checked without a window manager and under each one");
        QFETCH(bool, parented);
        std::unique_ptr<KelWindow> owner(makeWindow());
        if (!parented) {
            owner->show();
            owner->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(owner.get(), windowwaits::kTimeoutMs));
        }
        std::unique_ptr<KelMessageBox> box(new KelMessageBox(parented ? owner.get() : nullptr, false));
        box->setText(QStringLiteral("Keep me above"));
        box->addButton(1, new KelButton(19, box.get()), true);
        QCOMPARE(box->ownerWindow(), owner.get());
        box->showWithStrategy(KelWindow::ShowStrategy::CenteredOnParent);
        QVERIFY(QTest::qWaitForWindowExposed(box.get(), windowwaits::kTimeoutMs));
        QVERIFY(owner->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(
            KelNativeWindowUtils::transientOwnerId(box.get()), quintptr(owner->winId()), windowwaits::kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(
            stackPosition(owner.get()) >= 0 && stackPosition(box.get()) > stackPosition(owner.get()),
            windowwaits::kTimeoutMs);

        owner->showAndActivate();
        QTest::qWait(300);
        QTRY_VERIFY_WITH_TIMEOUT(stackPosition(box.get()) > stackPosition(owner.get()), windowwaits::kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(hasFocus(box.get()), windowwaits::kTimeoutMs);

        const QPoint free = owner->geometry().bottomLeft() + QPoint(12, -12);
        QVERIFY(!box->geometry().contains(free));
        xdoMoveTo(free);
        xdo({ "click", "1" });
        QTest::qWait(300);
        QTRY_VERIFY_WITH_TIMEOUT(stackPosition(box.get()) > stackPosition(owner.get()), windowwaits::kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(hasFocus(box.get()), windowwaits::kTimeoutMs);
        // Shown again, the window property is written again (the toolkit removes it at every map).
        box->hide();
        box->showWithStrategy(KelWindow::ShowStrategy::CenteredOnParent);
        QVERIFY(QTest::qWaitForWindowExposed(box.get(), windowwaits::kTimeoutMs));
        QTRY_COMPARE_WITH_TIMEOUT(
            KelNativeWindowUtils::transientOwnerId(box.get()), quintptr(owner->winId()), windowwaits::kTimeoutMs);
        box.reset();
    }

    // A box placed just after it is shown: its shadow shows only once the box is on the screen, never
    // before it where the box stood before being placed (the screen's corner, where metacity's
    // compositor could leave it); mapped after the box, it is also the box's own to the window
    // manager. Shown again, the same.
    void shadowShowsWithItsWindow()
    {
        if (!composited())
            QSKIP("shadow windows need a compositing manager");
        std::unique_ptr<KelWindow> owner(makeWindow());
        owner->show();
        QVERIFY(QTest::qWaitForWindowExposed(owner.get(), windowwaits::kTimeoutMs));
        std::unique_ptr<KelMessageBox> box(new KelMessageBox(owner.get(), false));
        box->setText(QStringLiteral("Shadowed"));
        box->addButton(1, new KelButton(19, box.get()), true);
        box->winId();
        KelCustomShadow* shadow = box->nativeWindowUtils()->customShadow();
        QVERIFY(shadow && shadow->shadowWindow());
        // Where the shadow window stands as it is shown, and whether the box is on the screen then.
        struct ShowWatch : QObject {
            QWidget* box = nullptr;
            QList<QPair<QRect, bool>> shows;
            bool eventFilter(QObject* watched, QEvent* event) override
            {
                if (event->type() == QEvent::Show)
                    shows << qMakePair(static_cast<QWidget*>(watched)->geometry(), box->windowHandle()->isExposed());
                return false;
            }
        } watch;
        watch.box = box.get();
        shadow->shadowWindow()->installEventFilter(&watch);
        const int s = box->windowFrame()->shadowSize();
        QVERIFY(s > 0);
        for (int round = 0; round < 2; ++round) {
            box->showWithStrategy(KelWindow::ShowStrategy::CenteredOnParent);
            QVERIFY(QTest::qWaitForWindowExposed(box.get(), windowwaits::kTimeoutMs));
            QTRY_VERIFY_WITH_TIMEOUT(shadow->isShown(), windowwaits::kTimeoutMs);
            QCOMPARE(watch.shows.size(), round + 1);
            QVERIFY(watch.shows.last().second);
            // openbox may map a new window where it would place it before it takes the program's
            // place; the shadow follows the box there and back.
            if (mode() == "metacity")
                QCOMPARE(watch.shows.last().first, box->geometry().adjusted(-s, -s, s, s));
            QTRY_COMPARE_WITH_TIMEOUT(
                shadow->shadowWindow()->geometry(), box->geometry().adjusted(-s, -s, s, s), windowwaits::kTimeoutMs);
            box->hide();
            QTRY_VERIFY_WITH_TIMEOUT(!shadow->isShown(), windowwaits::kTimeoutMs);
            box->move(0, 0);
        }
    }

    void roundedCornersAndShadow()
    {
        // A white window underneath shows through where the rounded window leaves its corners.
        QWidget below(nullptr, Qt::FramelessWindowHint);
        below.setAutoFillBackground(true);
        below.setPalette(QPalette(Qt::white));
        below.setGeometry(100, 100, 900, 700);
        below.show();
        QVERIFY(QTest::qWaitForWindowExposed(&below, windowwaits::kTimeoutMs));
        std::unique_ptr<KelWindow> window(makeWindow(KelWindow::MaximizeButton));
        KelWindowFrame* frame = window->windowFrame();
        frame->setBackground(QColor(20, 20, 20));
        frame->setRadii(KelRadii(14));
        frame->setShadowColor(QColor(0, 0, 0, 200));
        frame->setShadowSize(20);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get(), windowwaits::kTimeoutMs));
        if (mode() == "metacity")
            QSKIP("the toolkit's outline and shadow are checked under openbox, with and without xcompmgr");
        const bool composited = mode() == "compositor";
        QCOMPARE(window->testAttribute(Qt::WA_TranslucentBackground), composited);
        const QRect g = window->geometry();
        QTRY_COMPARE_WITH_TIMEOUT(screenPixel(g.topLeft() + QPoint(1, 1)), QColor(Qt::white), windowwaits::kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(
            screenPixel(g.bottomRight() - QPoint(1, 1)), QColor(Qt::white), windowwaits::kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(screenPixel(g.center() + QPoint(0, 60)), QColor(20, 20, 20), windowwaits::kTimeoutMs);
        KelCustomShadow* shadow = window->nativeWindowUtils()->customShadow();
        QCOMPARE(shadow != nullptr, composited);
        if (!composited)
            return;

        // The toolkit's shadow, darker than the white below just under the window, follows it.
        QTRY_VERIFY_WITH_TIMEOUT(shadow->isShown(), windowwaits::kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(shadow->alpha(), 255, windowwaits::kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(
            shadow->shadowWindow()->geometry(), window->geometry().adjusted(-20, -20, 20, 20), windowwaits::kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(
            screenPixel(window->geometry().bottomLeft() + QPoint(60, 3)).lightness() < 230, windowwaits::kTimeoutMs);
        const qint64 image = shadow->image().cacheKey();
        window->move(window->pos() + QPoint(40, 25));
        QTRY_COMPARE_WITH_TIMEOUT(
            shadow->shadowWindow()->geometry(), window->geometry().adjusted(-20, -20, 20, 20), windowwaits::kTimeoutMs);
        QCOMPARE(shadow->image().cacheKey(), image);
        window->resize(window->size() + QSize(30, 0));
        QTRY_COMPARE_WITH_TIMEOUT(shadow->shadowWindow()->width(), window->width() + 40, windowwaits::kTimeoutMs);
        QVERIFY(shadow->image().cacheKey() != image);
        window->showMaximized();
        QTRY_VERIFY_WITH_TIMEOUT(!shadow->isShown(), windowwaits::kTimeoutMs);
        QVERIFY(!shadow->shadowWindow()->isVisible());
        window->showNormal();
        QTRY_VERIFY_WITH_TIMEOUT(shadow->isShown(), windowwaits::kTimeoutMs);
    }
};

int main(int argc, char** argv)
{
    const windowmanager::Session managers(mode());
    if (!managers.isRunning()) {
        qCritical("the window manager or the compositing manager did not start");
        return 1;
    }
    return runKelAppTest<KelApplication, TestKelWindowWm>(argc, argv, QStringLiteral("KelWindowWmTest"));
}

#include "tst_kelwindowwm.moc"

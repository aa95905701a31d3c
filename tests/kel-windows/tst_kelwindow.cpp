#include "../kelapp/kelapptest.h"
#include "kelui.h"
#include "platform/x11/kelnativewindowutils.h"
#include "widgets/kelbutton.h"
#include "widgets/keliconwidget.h"
#include "widgets/kellabel.h"
#include "windows/keltitlebar.h"
#include "windows/kelwindow.h"
#include "windows/kelwindowframe.h"
#include "windowtesthelpers.h"

#include <QBoxLayout>
#include <QScreen>
#include <QTest>

using Hit = KelNativeWindowUtils::HitTestCode;

namespace {

KelSettings* settings() { return KelApplication::instance()->settings(); }

// A device position on the window: a named spot (borders counted in device pixels from the
// window's device rectangle, widgets by their centre).
QPoint devicePoint(KelWindow* window, const QString& spot)
{
    const double r = window->devicePixelRatioF();
    const int border = qRound(4 * r) + 4;
    const QPoint origin = window->geometry().topLeft() * r;
    const int w = qRound(window->width() * r);
    const int h = qRound(window->height() * r);
    const int midX = origin.x() + w / 2;
    const int midY = origin.y() + h / 2;
    const int left = origin.x();
    const int top = origin.y();
    const int right = left + w - 1;
    const int bottom = top + h - 1;
    const auto centreOf = [r](QWidget* widget) { return widget->mapToGlobal(widget->rect().center()) * r; };
    KelTitleBar* bar = window->titleBar();
    const QHash<QString, QPoint> spots {
        { "left", { left, midY } },
        { "left inner edge", { left + border - 1, midY } },
        { "past left border", { left + border, midY } },
        { "right", { right, midY } },
        { "top", { midX, top } },
        { "bottom", { midX, bottom } },
        { "top-left", { left, top } },
        { "top-right", { right, top } },
        { "bottom-left", { left, bottom } },
        { "bottom-right", { right, bottom } },
        { "outside", { left - 1, midY } },
        { "centre", { midX, midY } },
        { "close button", centreOf(bar->button(KelTitleBar::CloseButton)) },
        { "title", centreOf(bar->titleLabel()) },
        { "empty bar", bar->mapToGlobal(QPoint(bar->width() / 4, bar->height() / 2)) * r },
    };
    return spots.value(spot);
}

} // namespace

class TestKelWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<KelSettings> m_settings;

private slots:
    void initTestCase() { m_settings = installTestSettings(); }

    void flagsAndWidgetTree_data()
    {
        QTest::addColumn<int>("params");
        QTest::addColumn<int>("flags");
        QTest::addColumn<int>("buttonMask"); // visible title-bar buttons, -1 without a title bar
        QTest::addColumn<bool>("sideBar");
        const int base = 0x40000801;
        QTest::newRow("plain") << 0 << base << -1 << false;
        QTest::newRow("button bits without a title bar") << 0x0c << base << -1 << false;
        QTest::newRow("title bar") << 0x10 << (base | 0x08000000) << 4 << false;
        QTest::newRow("title bar with minimise and maximise")
            << 0x1c << (base | 0x08000000 | 0x4000 | 0x8000) << 7 << false;
        QTest::newRow("side bar") << 0x30 << (base | 0x08000000) << 4 << true;
        QTest::newRow("popup") << 0x40 << (base | 0x9) << -1 << false;
    }

    void flagsAndWidgetTree()
    {
        QFETCH(int, params);
        QFETCH(int, flags);
        QFETCH(int, buttonMask);
        QFETCH(bool, sideBar);
        KelWindow window { KelWindow::WindowParams(params) };
        QCOMPARE(int(window.windowFlags()), flags);
        QVERIFY(!window.testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(window.layout()->sizeConstraint(), QLayout::SetMinAndMaxSize);
        QCOMPARE(window.layout()->objectName(), sideBar ? "KelMainLayout" : "KelCentralWidgetLayout");
        QCOMPARE(window.findChild<QWidget*>("KelSideBar") != nullptr, sideBar);
        QCOMPARE(window.sideBarWidget() != nullptr, sideBar);
        auto* central = window.findChild<QBoxLayout*>("KelCentralWidgetLayout");
        QVERIFY(central);
        QCOMPARE(central->itemAt(central->count() - 1)->widget(), window.centralWidget());
        QCOMPARE(window.centralWidget()->objectName(), "KelCentralWidget");
        QCOMPARE(window.titleBar() != nullptr, buttonMask >= 0);
        if (buttonMask < 0)
            return;
        QCOMPARE(central->itemAt(0)->widget(), window.titleBar());
        window.show();
        int shown = 0;
        for (int kind : { 1, 2, 4 })
            shown |= window.titleBar()->button(kind)->isVisible() ? kind : 0;
        QCOMPARE(shown, buttonMask);
        QVERIFY(!window.titleBar()->restoreButton()->isVisible());
    }

    void geometryIsKeptPerName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("saved");
        QTest::newRow("named") << "Library" << QRect(120, 130, 320, 240);
        QTest::newRow("no name") << QString() << QRect(140, 150, 330, 250);
        QTest::newRow("saved off every screen") << "Lost" << QRect(50000, 50000, 300, 200);
    }

    void geometryIsKeptPerName()
    {
        QFETCH(QString, name);
        QFETCH(QRect, saved);
        settings()->clear();
        const KelWindow::WindowParams params = KelWindow::TitleBar | KelWindow::Resizable;
        {
            KelWindow first(params, nullptr, KelWindow::ShadowType::Default, false, name);
            first.setGeometry(saved);
            first.show();
            first.saveWindowGeometry();
        }
        QCOMPARE(settings()->allKeys(), name.isEmpty() ? QStringList() : QStringList { name + "_Geometry" });
        if (name.isEmpty())
            return;
        if (name == "Lost") {
            // Qt's bytes with the saved rectangles (frame, normal, current) moved off every screen.
            QByteArray bytes = settings()->value("Lost_Geometry").toByteArray();
            QDataStream patch(&bytes, QIODevice::ReadWrite);
            patch.setVersion(QDataStream::Qt_4_0);
            patch.device()->seek(8);
            patch << saved << saved;
            patch.device()->seek(bytes.size() - 16);
            patch << saved;
            settings()->setValue("Lost_Geometry", bytes);
        }
        KelWindow second(params, nullptr, KelWindow::ShadowType::Default, false, name);
        if (name != "Lost")
            QCOMPARE(second.geometry(), saved);
        second.restoreWindowGeometry();
        second.show();
        QVERIFY(QGuiApplication::primaryScreen()->geometry().intersects(second.geometry()));
    }

    void hitTest_data()
    {
        QTest::addColumn<int>("setup"); // 0 plain, 1 fixed width, 2 maximised, 3 not resizable
        QTest::addColumn<QString>("spot");
        QTest::addColumn<int>("code");
        const QList<QPair<QString, int>> plain {
            { "left", Hit::HTLEFT },
            { "left inner edge", Hit::HTLEFT },
            { "past left border", Hit::HTCLIENT },
            { "right", Hit::HTRIGHT },
            { "top", Hit::HTTOP },
            { "bottom", Hit::HTBOTTOM },
            { "top-left", Hit::HTTOPLEFT },
            { "top-right", Hit::HTTOPRIGHT },
            { "bottom-left", Hit::HTBOTTOMLEFT },
            { "bottom-right", Hit::HTBOTTOMRIGHT },
            { "outside", Hit::HTNOWHERE },
            { "centre", Hit::HTCLIENT },
            { "close button", Hit::HTCLIENT },
            { "title", Hit::HTCAPTION },
            { "empty bar", Hit::HTCAPTION },
        };
        for (const auto& row : plain)
            QTest::newRow(qPrintable("plain: " + row.first)) << 0 << row.first << row.second;
        QTest::newRow("fixed width: left") << 1 << "left" << int(Hit::HTNOWHERE);
        QTest::newRow("fixed width: past left edge") << 1 << "left inner edge" << int(Hit::HTCLIENT);
        QTest::newRow("fixed width: top-left") << 1 << "top-left" << int(Hit::HTTOP);
        QTest::newRow("fixed width: bottom") << 1 << "bottom" << int(Hit::HTBOTTOM);
        QTest::newRow("maximised: left inner edge") << 2 << "left inner edge" << int(Hit::HTCLIENT);
        QTest::newRow("maximised: title") << 2 << "title" << int(Hit::HTCAPTION);
        QTest::newRow("not resizable: left") << 3 << "left" << int(Hit::HTNOWHERE);
        QTest::newRow("not resizable: left inner edge") << 3 << "left inner edge" << int(Hit::HTCLIENT);
    }

    void hitTest()
    {
        QFETCH(int, setup);
        QFETCH(QString, spot);
        QFETCH(int, code);
        KelWindow::WindowParams params = KelWindow::TitleBar | KelWindow::Movable | KelWindow::MaximizeButton;
        if (setup != 3)
            params |= KelWindow::Resizable;
        KelWindow window(params);
        window.setTitleText("Title");
        if (setup == 1) {
            window.titleBar()->setMaximumWidth(300);
            window.centralWidget()->setFixedWidth(300);
        }
        window.centralWidget()->setMinimumHeight(200);
        window.setGeometry(100, 100, 300, 240);
        QCOMPARE(window.nativeWindowUtils()->hitTest(QPoint(0, 0)), int(Hit::HTERROR));
        if (setup == 2)
            window.showMaximized();
        else
            window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.nativeWindowUtils()->hitTest(devicePoint(&window, spot)), code);
    }

    void titleStaysCentredBesideAWideLeftWidget_data()
    {
        QTest::addColumn<int>("leftWidth");
        QTest::addColumn<bool>("centred");
        QTest::newRow("nothing on the left") << 0 << true;
        QTest::newRow("wide widget on the left") << 180 << true;
        QTest::newRow("left-aligned title") << 180 << false;
    }

    void titleStaysCentredBesideAWideLeftWidget()
    {
        QFETCH(int, leftWidth);
        QFETCH(bool, centred);
        KelWindow window(KelWindow::TitleBar | KelWindow::MinimizeButton | KelWindow::MaximizeButton);
        window.setTitleText("Centred");
        KelTitleBar* bar = window.titleBar();
        for (int kind : { 1, 2, 4 })
            bar->button(kind)->setFixedSize(36, 32);
        if (!centred)
            bar->titleLabel()->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        if (leftWidth) {
            auto* wide = new QWidget;
            wide->setFixedSize(leftWidth, 10);
            bar->leftWidgetsLayout()->addWidget(wide);
        }
        window.resize(700, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        KelLabel* title = bar->titleLabel();
        QTRY_VERIFY(title->width() > 0);
        if (centred) {
            // The label spreads between the spacers; its centred text sits at the centre of the bar.
            QTRY_VERIFY(qAbs(title->geometry().center().x() - bar->width() / 2) <= 1);
            QCOMPARE(
                bar->findChild<QWidget*>("KelLeftSpacer")->width(), 3 * 36 - leftWidth > 0 ? 3 * 36 - leftWidth : 0);
        } else {
            QCOMPARE(bar->findChild<QWidget*>("KelLeftSpacer")->width(), 0);
            QCOMPARE(bar->findChild<QWidget*>("KelRightSpacer")->width(), 0);
        }
    }

    void fadedOutWindowShowsAgainVisible()
    {
        KelWindow window(KelWindow::TitleBar);
        window.resize(200, 100);
        window.showAnimated();
        QTRY_COMPARE(window.windowOpacity(), 1.0);
        window.hideAnimated();
        QTRY_VERIFY(!window.isVisible());
        window.show();
        QCOMPARE(window.windowOpacity(), 1.0);
    }
};

int main(int argc, char** argv)
{
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    return runKelAppTest<KelApplication, TestKelWindow>(argc, argv, QStringLiteral("KelWindowTest"));
}

#include "tst_kelwindow.moc"

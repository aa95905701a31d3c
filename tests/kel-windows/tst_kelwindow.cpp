// Frameless windows, dialogs with their own event loop, message boxes from a worker, the blocked overlay.
#include "../kel-group/clicktesthelpers.h"
#include "../kelapp/kelapptest.h"
#include "animators/kelprogressanimator.h"
#include "kelui.h"
#include "platform/x11/kelcustomshadow.h"
#include "platform/x11/kelnativewindowutils.h"
#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"
#include "widgets/kellineedit.h"
#include "windows/keldialog.h"
#include "windows/kelmessagebox.h"
#include "windows/keltitlebar.h"
#include "windows/kelwindow.h"
#include "windows/kelwindowblockedoverlay.h"
#include "windows/kelwindowframe.h"
#include "windowtesthelpers.h"
#include "windowwaits.h"

#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QtConcurrent>

#include <functional>
#include <tuple>

using Hit = KelNativeWindowUtils::HitTestCode;

namespace {

KelSettings* settings() { return KelApplication::instance()->settings(); }

// A named spot's device position: borders in device pixels from the window's edge, widgets by their centre.
QPoint devicePoint(KelWindow* window, const QString& spot)
{
    const double r = window->devicePixelRatioF();
    const int border = qRound(4 * r) + 4;
    const QPoint origin = window->geometry().topLeft() * r;
    const int left = origin.x(), top = origin.y();
    const int right = left + qRound(window->width() * r) - 1;
    const int bottom = top + qRound(window->height() * r) - 1;
    const int midX = (left + right) / 2, midY = (top + bottom) / 2;
    const auto centreOf = [r](QWidget* widget) { return widget->mapToGlobal(widget->rect().center()) * r; };
    KelTitleBar* bar = window->titleBar();
    const QHash<QString, QPoint> spots {
        { "left", { left, midY } },
        { "left inner edge", { left + border - 1, midY } },
        { "past left border", { left + border, midY } },
        { "right", { right, midY } },
        { "bottom", { midX, bottom } },
        { "top-left", { left, top } },
        { "top-right", { right, top } },
        { "bottom-left", { left, bottom } },
        { "bottom-right", { right, bottom } },
        { "outside", { left - 1, midY } },
        { "close button", centreOf(bar->button(KelTitleBar::CloseButton)) },
        { "title", centreOf(bar->titleLabel()) },
        { "empty bar", bar->mapToGlobal(QPoint(bar->width() / 4, bar->height() / 2)) * r },
    };
    return spots.value(spot);
}

// Acts on the next visible dialog of type T as soon as one shows (polled: exec() runs its own loop).
template <typename T> void actOnNextDialog(std::function<void(T*)> action)
{
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<T*>(widget);
            if (dialog && dialog->isVisible() && dialog->isExecuting()) {
                timer->deleteLater();
                timer->stop();
                action(dialog);
                return;
            }
        }
    });
    timer->start();
}

KelDialog* makeDialog(QWidget* parent = nullptr)
{
    auto* dialog = new KelDialog(parent);
    for (int id : { 1, 2 }) {
        auto* button = new KelButton(18 + id, dialog);
        button->setText(QString::number(id));
        dialog->addButton(id, button, id == 2);
    }
    return dialog;
}

} // namespace

class TestKelWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<KelSettings> m_settings;

private slots:
    void initTestCase()
    {
        m_settings = installTestSettings();
        QVERIFY(KelUi::instance()); // made on the GUI thread, as the application does at start
    }

    void flagsAndTitleBar_data()
    {
        QTest::addColumn<int>("params");
        QTest::addColumn<int>("flags");
        QTest::addColumn<int>("buttonMask"); // visible title-bar buttons, -1 without a title bar
        QTest::addColumn<bool>("sideBar");
        const int base = 0x40000801;
        QTest::newRow("plain") << 0 << base << -1 << false;
        QTest::newRow("title bar with minimise and maximise")
            << 0x1c << (base | 0x08000000 | 0x4000 | 0x8000) << 7 << false;
        QTest::newRow("side bar") << 0x30 << (base | 0x08000000) << 4 << true;
        QTest::newRow("popup") << 0x40 << (base | 0x9) << -1 << false;
    }

    void flagsAndTitleBar()
    {
        QFETCH(int, params);
        QFETCH(int, flags);
        QFETCH(int, buttonMask);
        QFETCH(bool, sideBar);
        KelWindow window { KelWindow::WindowParams(params) };
        QCOMPARE(int(window.windowFlags()), flags);
        QCOMPARE(window.sideBarWidget() != nullptr, sideBar);
        QCOMPARE(window.titleBar() != nullptr, buttonMask >= 0);
        if (buttonMask < 0)
            return;
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
            { "bottom", Hit::HTBOTTOM },
            { "top-left", Hit::HTTOPLEFT },
            { "top-right", Hit::HTTOPRIGHT },
            { "bottom-left", Hit::HTBOTTOMLEFT },
            { "bottom-right", Hit::HTBOTTOMRIGHT },
            { "outside", Hit::HTNOWHERE },
            { "close button", Hit::HTCLIENT },
            { "title", Hit::HTCAPTION },
            { "empty bar", Hit::HTCAPTION },
        };
        for (const auto& row : plain)
            QTest::newRow(qPrintable("plain: " + row.first)) << 0 << row.first << row.second;
        QTest::newRow("fixed width: left") << 1 << "left" << int(Hit::HTNOWHERE);
        QTest::newRow("fixed width: past left edge") << 1 << "left inner edge" << int(Hit::HTCLIENT);
        QTest::newRow("fixed width: top-left") << 1 << "top-left" << int(Hit::HTTOP);
        QTest::newRow("maximised: left inner edge") << 2 << "left inner edge" << int(Hit::HTCLIENT);
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
        QVERIFY(QTest::qWaitForWindowExposed(&window, windowwaits::kTimeoutMs));
        QCOMPARE(window.nativeWindowUtils()->hitTest(devicePoint(&window, spot)), code);
    }

    // A window faded out shows again opaque; the blocked overlay follows resizes and fades.
    void fadesOfTheWindowAndItsOverlay()
    {
        KelWindow window(KelWindow::TitleBar);
        window.resize(200, 100);
        window.showAnimated();
        QTRY_COMPARE_WITH_TIMEOUT(window.windowOpacity(), 1.0, windowwaits::kTimeoutMs);
        window.hideAnimated();
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), windowwaits::kTimeoutMs);
        window.show();
        QCOMPARE(window.windowOpacity(), 1.0);

        window.setBlockedOverlayVisible(true);
        auto* overlay = window.findChild<KelWindowBlockedOverlay*>();
        QVERIFY(!overlay->isVisible());
        QEvent blocked(QEvent::WindowBlocked);
        QApplication::sendEvent(&window, &blocked);
        QVERIFY(window.isBlockedOverlayShown());
        QTRY_COMPARE_WITH_TIMEOUT(overlay->animator()->progress(), 1.0, windowwaits::kTimeoutMs);
        window.resize(520, 410);
        QTRY_COMPARE_WITH_TIMEOUT(overlay->geometry(), window.rect(), windowwaits::kTimeoutMs);
        QEvent unblocked(QEvent::WindowUnblocked);
        QApplication::sendEvent(&window, &unblocked);
        QVERIFY(overlay->isVisible()); // still fading out
        QTRY_VERIFY_WITH_TIMEOUT(!overlay->isVisible(), windowwaits::kTimeoutMs);
        QPointer<KelWindowBlockedOverlay> gone = overlay;
        window.setBlockedOverlayVisible(false);
        QTRY_VERIFY_WITH_TIMEOUT(gone.isNull(), windowwaits::kTimeoutMs);
    }

    // A shadow window going away (its target got a new native window, or the box it shadows
    // closes) sends events while it is destroyed; the shadow must not look at them any more, as the
    // object is no longer a shadow window then. The box's closing is what the sanitizer build checks.
    void shadowLetsItsWindowGo()
    {
        struct Target : QWidget {
            using QWidget::create;
            using QWidget::destroy;
        } target;
        KelWindowFrame frame(nullptr, &target);
        target.resize(200, 120);
        target.winId();
        struct Probe : KelCustomShadow {
            using KelCustomShadow::KelCustomShadow;
            QObject* going = nullptr;
            int late = 0;
            bool eventFilter(QObject* watched, QEvent* event) override
            {
                late += going && watched == going ? 1 : 0;
                return KelCustomShadow::eventFilter(watched, event);
            }
        } shadow(nullptr, &target, &frame);
        QPointer<QWidget> old = shadow.shadowWindow();
        QVERIFY(old);
        old->show();
        connect(old, &QObject::destroyed, &shadow, [&shadow] { shadow.going = nullptr; });
        target.destroy();
        target.create();
        shadow.going = old;
        shadow.createShadowWindow();
        QVERIFY(old.isNull());
        QVERIFY(shadow.shadowWindow());
        QCOMPARE(shadow.late, 0);

        auto* box = new KelMessageBox;
        box->setText(QStringLiteral("Shadowed"));
        box->winId();
        auto* boxShadow = new KelCustomShadow(box->nativeWindowUtils(), box, box->windowFrame());
        QPointer<QWidget> boxShadowWindow = boxShadow->shadowWindow();
        QVERIFY(boxShadowWindow);
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box, windowwaits::kTimeoutMs));
        boxShadowWindow->show();
        delete box;
        QVERIFY(boxShadowWindow.isNull());
    }

    // Escape and the buttons' own ids are checked on the message boxes below.
    void dialogExecEnds_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("result");
        QTest::newRow("enter presses the default button") << "enter" << 2;
        QTest::newRow("hidden") << "hide" << 0;
        QTest::newRow("done with an id of its own") << "done 7" << 7;
        QTest::newRow("deleted while running") << "delete" << 0;
        QTest::newRow("exec again inside, deleted on close") << "nested" << 1;
    }

    void dialogExecEnds()
    {
        QFETCH(QString, how);
        QFETCH(int, result);
        QPointer<KelDialog> dialog = makeDialog();
        dialog->setAttribute(Qt::WA_DeleteOnClose, how == "nested");
        int inner = 0;
        actOnNextDialog<KelDialog>([how, &inner](KelDialog* d) {
            if (how == "enter")
                QTest::keyClick(d, Qt::Key_Return);
            else if (how == "hide")
                d->hide();
            else if (how == "done 7")
                d->done(7);
            else if (how == "delete")
                delete d;
            else {
                inner = d->exec(); // the running one is not started twice
                d->done(1);
            }
        });
        QCOMPARE(dialog->exec(), result);
        QCOMPARE(dialog.isNull(), how == "delete" || how == "nested");
        QCOMPARE(inner, 0);
        if (dialog) {
            QVERIFY(!dialog->isVisible());
            QVERIFY(!dialog->isExecuting());
            delete dialog;
        }
    }

    void dialogWaitsOnlyForAMinimisedParent_data()
    {
        QTest::addColumn<bool>("minimised");
        QTest::newRow("minimised parent") << true;
        QTest::newRow("hidden parent") << false;
    }

    void dialogWaitsOnlyForAMinimisedParent()
    {
        QFETCH(bool, minimised);
        KelWindow parent { KelWindow::TitleBar };
        parent.resize(400, 300);
        if (minimised)
            parent.showMinimized();
        QPointer<KelDialog> dialog = makeDialog(&parent);
        bool shownBeforeRestore = true;
        QTimer::singleShot(30, &parent, [&] {
            shownBeforeRestore = dialog && dialog->isVisible();
            parent.showNormal();
        });
        actOnNextDialog<KelDialog>([](KelDialog* d) { d->done(2); });
        QCOMPARE(dialog->exec(), 2);
        QCOMPARE(shownBeforeRestore, !minimised);
        QVERIFY(parent.isVisible());
        delete dialog;
    }

    void boxesFromAWorkerOnTheRealMessageBox_data()
    {
        QTest::addColumn<int>("press"); // button id, 0 for Escape, -1 for a text typed and confirmed
        QTest::addColumn<bool>("checkRemember");
        QTest::newRow("second button, remember ticked") << 2 << true;
        QTest::newRow("first button, remember left") << 1 << false;
        QTest::newRow("escape") << 0 << false;
        QTest::newRow("text input") << -1 << false;
    }

    void boxesFromAWorkerOnTheRealMessageBox()
    {
        QFETCH(int, press);
        QFETCH(bool, checkRemember);
        bool defaultEnabled = true;
        int defaultId = -1;
        actOnNextDialog<KelMessageBox>([&](KelMessageBox* box) {
            defaultEnabled = box->defaultButton()->isEnabled();
            defaultId = box->defaultButtonId();
            if (press < 0) {
                // Enter does not bypass the disabled default button of an empty field.
                QTest::keyClick(box, Qt::Key_Return);
                QVERIFY(box->isVisible());
                QTest::keyClicks(box->findChild<KelLineEdit*>(), "Shelf");
                QTest::keyClick(box->findChild<KelLineEdit*>(), Qt::Key_Return);
                return;
            }
            QCOMPARE(box->titleBar()->titleLabel()->text(), "Question");
            auto* remember = box->contentWidget()->findChild<KelButton*>();
            QVERIFY(remember && remember->isChecked());
            if (!checkRemember)
                clickThroughWindow(remember);
            if (press)
                clickThroughWindow(box->button(press));
            else
                QTest::keyClick(box, Qt::Key_Escape);
        });
        auto future = QtConcurrent::run([press] {
            bool remember = true;
            QString text;
            const int id = press < 0
                ? KelUi::instance()->textInputBox("Name?", "Rename", text, KelUi::NotEmptyTextInput, 6, "Cancel", "OK")
                : KelUi::instance()->messageBox(
                    "Keep?", "Question", 7, "No", "Yes", QString(), &remember, "Always ask");
            return std::make_tuple(id, remember, text);
        });
        QTRY_VERIFY_WITH_TIMEOUT(future.isFinished(), windowwaits::kTimeoutMs);
        const auto [id, remember, text] = future.result();
        if (press < 0) {
            // The empty text may not be confirmed.
            QVERIFY(!defaultEnabled);
            QCOMPARE(id, 2);
            QCOMPARE(text, "Shelf");
        } else {
            QCOMPARE(id, press);
            QCOMPARE(remember, checkRemember);
            QCOMPARE(defaultId, 2);
        }
    }
};

int main(int argc, char** argv)
{
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    return runKelAppTest<KelApplication, TestKelWindow>(argc, argv, QStringLiteral("KelWindowTest"));
}

#include "tst_kelwindow.moc"

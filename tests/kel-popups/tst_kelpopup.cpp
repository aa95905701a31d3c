#include "../kelapp/kelapptest.h"
#include "kelapplication.h"
#include "mousehelpers.h"
#include "widgets/kelbutton.h"
#include "widgets/kelscrollarea.h"
#include "windows/kelpopupmenu.h"
#include "windows/kelpopupmenubutton.h"
#include "windows/keltitlebar.h"

#include <QApplication>
#include <QBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>

using namespace MouseHelpers;

namespace {

// Records the mouse buttons it is pressed and released with.
class Recorder : public QWidget {
public:
    using QWidget::QWidget;
    QList<QPair<QEvent::Type, Qt::MouseButton>> events;

protected:
    void mousePressEvent(QMouseEvent* e) override { events.append({ e->type(), e->button() }); }
    void mouseReleaseEvent(QMouseEvent* e) override { events.append({ e->type(), e->button() }); }
};

// A toolkit window with a title bar holding an opener button and a spare area.
struct Scene {
    KelWindow window { KelWindow::TitleBar | KelWindow::Movable };
    KelPopupMenuButton* opener;
    Recorder* area;

    explicit Scene(int mode = KelPopupMenuButton::OpenOnToggle)
    {
        opener = new KelPopupMenuButton(11, mode, Qt::BottomEdge, Qt::AlignLeft);
        opener->setText(QStringLiteral("Open"));
        opener->setFixedSize(80, 24);
        area = new Recorder;
        area->setFixedSize(200, 100);
        auto* layout = new QVBoxLayout(window.centralWidget());
        layout->addWidget(opener);
        layout->addWidget(area);
        opener->popupMenu()->addAction(
            QStringLiteral("Item"), [] {}, 11);
        window.move(40, 40);
        window.show();
        window.raise();
        QTest::qWaitForWindowExposed(&window);
    }
    KelPopupMenu* popup() const { return opener->popupMenu(); }
    bool openPopup()
    {
        opener->showPopup();
        return QTest::qWaitForWindowExposed(popup()) && QApplication::activePopupWidget() == popup();
    }
};

} // namespace

class TestKelPopup : public QObject {
    Q_OBJECT
private slots:
    void clickOnOpenerReachesIt()
    {
        Scene s;
        QSignalSpy toggled(s.opener, &KelButton::toggled);
        click(s.opener);
        QTRY_COMPARE(toggled.count(), 1);
        QVERIFY(QTest::qWaitForWindowExposed(s.popup()));
        QVERIFY(s.opener->isChecked());
        // The second click toggles the button off instead of closing and reopening through the outside path.
        click(s.opener);
        QTRY_COMPARE(toggled.count(), 2);
        QCOMPARE(toggled.last().first().toBool(), false);
        QTest::qWait(50);
        QVERIFY(!s.popup()->isVisible());
        QVERIFY(!s.opener->isChecked());
    }

    void outsideClicks_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<bool>("openAfterPress");
        QTest::addColumn<bool>("openAfterLoop");
        QTest::newRow("client area") << "client" << false << false;
        QTest::newRow("title bar") << "title" << true << false;
        QTest::newRow("no window") << "nowhere" << false << false;
        QTest::newRow("inside the popup") << "popup" << true << true;
    }

    void outsideClicks()
    {
        QFETCH(QString, where);
        QFETCH(bool, openAfterPress);
        QFETCH(bool, openAfterLoop);
        Scene s;
        auto* label = new QLabel(QStringLiteral("Text"));
        s.popup()->addWidget(label);
        QVERIFY(s.openPopup());
        QPoint global = s.area->mapToGlobal(s.area->rect().center());
        if (where == "title")
            global = s.window.titleBar()->mapToGlobal(QPoint(s.window.titleBar()->width() / 3, 5));
        else if (where == "nowhere")
            global = QPoint(1200, 1000);
        else if (where == "popup")
            global = label->mapToGlobal(label->rect().center());
        send(s.popup(), s.popup()->mapFromGlobal(global), QEvent::MouseMove);
        // Delivered the way the window system layer hands an open popup every press, with no loop pass after.
        QMouseEvent press(QEvent::MouseButtonPress, s.popup()->mapFromGlobal(global), global, Qt::LeftButton,
            Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(s.popup(), &press);
        QCOMPARE(s.popup()->isVisible(), openAfterPress);
        QTest::qWait(20);
        QCOMPARE(s.popup()->isVisible(), openAfterLoop);
        KelPopup::closeAllPopups();
        QVERIFY(!QApplication::activePopupWidget());
    }

    void escapeClosesOnePopup()
    {
        Scene s;
        KelPopupMenuButton* sub = s.popup()->addPopupMenuButton(16, Qt::RightEdge, Qt::AlignTop);
        sub->popupMenu()->addAction(
            QStringLiteral("Inner"), [] {}, 11);
        QVERIFY(s.openPopup());
        sub->showPopup();
        QVERIFY(QTest::qWaitForWindowExposed(sub->popupMenu()));
        QTest::keyClick(sub->popupMenu(), Qt::Key_Escape);
        QVERIFY(!sub->popupMenu()->isVisible());
        QVERIFY(s.popup()->isVisible());
        QVERIFY(!sub->isChecked());
    }

    void hidingMidPressReleasesLastPressedFirst()
    {
        Scene s;
        s.popup()->addPassThroughWidget(s.area);
        QVERIFY(s.openPopup());
        const QPoint c = s.area->rect().center();
        send(s.area, c, QEvent::MouseButtonPress, Qt::LeftButton);
        send(s.area, c, QEvent::MouseButtonPress, Qt::RightButton);
        s.popup()->close();
        using E = QPair<QEvent::Type, Qt::MouseButton>;
        QCOMPARE(s.area->events,
            QList<E>({ { QEvent::MouseButtonPress, Qt::LeftButton }, { QEvent::MouseButtonPress, Qt::RightButton },
                { QEvent::MouseButtonRelease, Qt::RightButton }, { QEvent::MouseButtonRelease, Qt::LeftButton } }));
        // The test layer's own button state goes back to none.
        send(s.area, c, QEvent::MouseButtonRelease, Qt::RightButton);
        send(s.area, c, QEvent::MouseButtonRelease, Qt::LeftButton);
    }

    void itemClickClosesTheChain_data()
    {
        QTest::addColumn<bool>("hideOnClick");
        QTest::newRow("hide on click") << true;
        QTest::newRow("stays open") << false;
    }

    void itemClickClosesTheChain()
    {
        QFETCH(bool, hideOnClick);
        Scene s;
        KelPopupMenuButton* sub = s.popup()->addPopupMenuButton(16, Qt::RightEdge, Qt::AlignTop);
        int ran = 0;
        KelButton* inner = sub->popupMenu()->addAction(
            QStringLiteral("Inner"), [&ran] { ++ran; }, 11);
        sub->popupMenu()->setHideOnClick(hideOnClick);
        QVERIFY(s.openPopup());
        sub->showPopup();
        QVERIFY(QTest::qWaitForWindowExposed(sub->popupMenu()));
        click(inner);
        QTRY_COMPARE(ran, 1);
        QCOMPARE(sub->popupMenu()->isVisible(), !hideOnClick);
        QCOMPARE(s.popup()->isVisible(), !hideOnClick);
        KelPopup::closeAllPopups();
    }

    void subMenuOpensAfterTheHoverDelay()
    {
        Scene s;
        s.popup()->setHoverDelay(150);
        KelPopupMenuButton* sub = s.popup()->addPopupMenuButton(16, Qt::RightEdge, Qt::AlignTop);
        sub->setText(QStringLiteral("More"));
        sub->popupMenu()->addAction(
            QStringLiteral("Inner"), [] {}, 11);
        KelButton* plain = s.popup()->addAction(
            QStringLiteral("Plain"), [] {}, 11);
        QVERIFY(s.openPopup());
        QTRY_VERIFY(sub->isVisible() && plain->isVisible());
        send(sub, sub->rect().center(), QEvent::MouseMove);
        send(plain, plain->rect().center(), QEvent::MouseMove);
        QTest::qWait(300);
        QVERIFY(!sub->popupMenu()->isVisible());
        send(sub, sub->rect().center(), QEvent::MouseMove);
        QTRY_VERIFY(sub->popupMenu()->isVisible());
        QVERIFY(s.popup()->isVisible());
        KelPopup::closeAllPopups();
    }

    void scrollingMenuShowsTheAskedItemOnItsNextShow()
    {
        KelPopupMenu menu;
        menu.enableScrolling(2, 38);
        QList<KelButton*> items;
        for (int i = 0; i < 30; ++i)
            items << menu.addAction(
                QString::number(i), [] {}, 11);
        menu.scrollArea()->setMaximumHeight(120);
        menu.ensureWidgetVisible(items.last());
        QCOMPARE(menu.scrollArea()->verticalScrollBar()->value(), 0);
        menu.showAtCursor();
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        QScrollBar* bar = menu.scrollArea()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        menu.close();
    }

    void hoverAndMenuButtonsNeverClick_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("open on hover") << int(KelPopupMenuButton::OpenOnHover);
        QTest::newRow("open from menu") << int(KelPopupMenuButton::OpenFromMenu);
    }

    void hoverAndMenuButtonsNeverClick()
    {
        QFETCH(int, mode);
        Scene s(mode);
        QSignalSpy clicked(s.opener, &KelButton::clicked);
        QSignalSpy toggled(s.opener, &KelButton::toggled);
        click(s.opener);
        QTest::qWait(50);
        KelPopup::closeAllPopups();
        click(s.opener);
        QTest::qWait(50);
        QCOMPARE(clicked.count(), 0);
        QCOMPARE(toggled.count(), 0);
        KelPopup::closeAllPopups();
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelPopup>(argc, argv, QStringLiteral("KelPopupTest"));
}

#include "tst_kelpopup.moc"

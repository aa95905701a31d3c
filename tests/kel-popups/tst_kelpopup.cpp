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

// Writes down the presses and releases it gets ("P1" = left pressed, "R2" = right released).
class Recorder : public QWidget {
public:
    QStringList events;

protected:
    void mousePressEvent(QMouseEvent* e) override { events << QStringLiteral("P%1").arg(e->button()); }
    void mouseReleaseEvent(QMouseEvent* e) override { events << QStringLiteral("R%1").arg(e->button()); }
};

// A toolkit window with a title bar, an opener button whose menu has a sub-menu, and a spare area.
struct Scene {
    KelWindow window { KelWindow::TitleBar | KelWindow::Movable };
    KelPopupMenuButton* opener;
    KelPopupMenuButton* sub;
    KelButton* inner;
    Recorder* area = new Recorder;
    int ran = 0;

    explicit Scene(int mode = KelPopupMenuButton::OpenOnToggle)
        : opener(new KelPopupMenuButton(11, mode, Qt::BottomEdge, Qt::AlignLeft))
    {
        opener->setFixedSize(80, 24);
        area->setFixedSize(200, 100);
        auto* layout = new QVBoxLayout(window.centralWidget());
        layout->addWidget(opener);
        layout->addWidget(area);
        sub = popup()->addPopupMenuButton(16, Qt::RightEdge, Qt::AlignTop);
        sub->setText(QStringLiteral("More"));
        inner = sub->popupMenu()->addAction(
            QStringLiteral("Inner"), [this] { ++ran; }, 11);
        window.move(40, 40);
        window.show();
        QTest::qWaitForWindowExposed(&window);
    }
    KelPopupMenu* popup() const { return opener->popupMenu(); }
    bool openPopup(KelPopupMenuButton* button)
    {
        button->showPopup();
        return QTest::qWaitForWindowExposed(button->popupMenu())
            && QApplication::activePopupWidget() == button->popupMenu();
    }
};

} // namespace

class TestKelPopup : public QObject {
    Q_OBJECT
private slots:
    // The opener gets its clicks while its menu is open; hover and sub-menu buttons never click or toggle.
    void clicksOnTheOpener_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("openAfterFirst");
        QTest::addColumn<bool>("openAfterSecond");
        QTest::addColumn<int>("toggles");
        QTest::newRow("open on toggle") << int(KelPopupMenuButton::OpenOnToggle) << true << false << 2;
        QTest::newRow("open on hover") << int(KelPopupMenuButton::OpenOnHover) << true << true << 0;
        QTest::newRow("open from menu") << int(KelPopupMenuButton::OpenFromMenu) << false << false << 0;
    }

    void clicksOnTheOpener()
    {
        QFETCH(int, mode);
        QFETCH(bool, openAfterFirst);
        QFETCH(bool, openAfterSecond);
        QFETCH(int, toggles);
        Scene s(mode);
        QSignalSpy clicked(s.opener, &KelButton::clicked);
        QSignalSpy toggled(s.opener, &KelButton::toggled);
        click(s.opener);
        QTest::qWait(50);
        QCOMPARE(s.popup()->isVisible(), openAfterFirst);
        QCOMPARE(s.opener->isChecked(), openAfterFirst);
        click(s.opener);
        QTest::qWait(50);
        QCOMPARE(s.popup()->isVisible(), openAfterSecond);
        QCOMPARE(toggled.count(), toggles);
        QCOMPARE(clicked.count(), 0);
        KelPopup::closeAllPopups();
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
        QVERIFY(s.openPopup(s.opener));
        QPoint global = s.area->mapToGlobal(s.area->rect().center());
        if (where == "title")
            global = s.window.titleBar()->mapToGlobal(QPoint(s.window.titleBar()->width() / 3, 5));
        else if (where == "nowhere")
            global = QPoint(1200, 1000);
        else if (where == "popup")
            global = label->mapToGlobal(label->rect().center());
        send(s.popup(), s.popup()->mapFromGlobal(global), QEvent::MouseMove);
        // Handed to the popup as the window system layer hands it every press, with no loop pass after.
        QMouseEvent press(QEvent::MouseButtonPress, s.popup()->mapFromGlobal(global), global, Qt::LeftButton,
            Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(s.popup(), &press);
        QCOMPARE(s.popup()->isVisible(), openAfterPress);
        QTest::qWait(20);
        QCOMPARE(s.popup()->isVisible(), openAfterLoop);
        KelPopup::closeAllPopups();
        QVERIFY(!QApplication::activePopupWidget());
    }

    void hidingMidPressReleasesLastPressedFirst()
    {
        Scene s;
        s.popup()->addPassThroughWidget(s.area);
        QVERIFY(s.openPopup(s.opener));
        const QPoint c = s.area->rect().center();
        send(s.area, c, QEvent::MouseButtonPress, Qt::LeftButton);
        send(s.area, c, QEvent::MouseButtonPress, Qt::RightButton);
        s.popup()->close();
        QCOMPARE(s.area->events, QStringList({ "P1", "P2", "R2", "R1" }));
        // The test layer's own button state goes back to none.
        send(s.area, c, QEvent::MouseButtonRelease, Qt::RightButton);
        send(s.area, c, QEvent::MouseButtonRelease, Qt::LeftButton);
    }

    void closingTheChain_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("subOpen");
        QTest::addColumn<bool>("parentOpen");
        QTest::newRow("item click") << "click" << false << false;
        QTest::newRow("item click, hide on click off") << "click, stay" << true << true;
        QTest::newRow("escape") << "escape" << false << true;
    }

    void closingTheChain()
    {
        QFETCH(QString, action);
        QFETCH(bool, subOpen);
        QFETCH(bool, parentOpen);
        Scene s;
        s.sub->popupMenu()->setHideOnClick(action != "click, stay");
        QVERIFY(s.openPopup(s.opener));
        QVERIFY(s.openPopup(s.sub));
        if (action == "escape") {
            QTest::keyClick(s.sub->popupMenu(), Qt::Key_Escape);
        } else {
            click(s.inner);
            QTRY_COMPARE(s.ran, 1);
        }
        QCOMPARE(s.sub->popupMenu()->isVisible(), subOpen);
        QCOMPARE(s.sub->isChecked(), subOpen);
        QCOMPARE(s.popup()->isVisible(), parentOpen);
        KelPopup::closeAllPopups();
    }

    void subMenuOpensAfterTheHoverDelay()
    {
        Scene s;
        s.popup()->setHoverDelay(150);
        KelButton* plain = s.popup()->addAction(
            QStringLiteral("Plain"), [] {}, 11);
        QVERIFY(s.openPopup(s.opener));
        QTRY_VERIFY(plain->isVisible());
        send(s.sub, s.sub->rect().center(), QEvent::MouseMove);
        send(plain, plain->rect().center(), QEvent::MouseMove);
        QTest::qWait(300);
        QVERIFY(!s.sub->popupMenu()->isVisible());
        send(s.sub, s.sub->rect().center(), QEvent::MouseMove);
        QTRY_VERIFY(s.sub->popupMenu()->isVisible());
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
        menu.showAtCursor();
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        QScrollBar* bar = menu.scrollArea()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        menu.close();
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelPopup>(argc, argv, QStringLiteral("KelPopupTest"));
}

#include "tst_kelpopup.moc"

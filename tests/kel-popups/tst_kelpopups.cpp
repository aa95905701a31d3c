// Popups and menus, the combo box and notifications on real windows under an X server: popups ask for the
// widget under the cursor and the hit test, notifications are top-level windows.
#include "../kel-group/clicktesthelpers.h"
#include "../kelapp/kelapptest.h"
#include "kelapplication.h"
#include "styles/kelstyle.h"
#include "widgets/kelbutton.h"
#include "widgets/kelcombobox.h"
#include "widgets/kellabel.h"
#include "windows/kelnotificationmanager.h"
#include "windows/kelpopupmenu.h"
#include "windows/kelpopupmenubutton.h"
#include "windows/keltitlebar.h"
#include "windows/kelwindow.h"
#include "windowwaits.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDesktopServices>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QToolTip>
#include <QUrl>

namespace {

// From just outside, so that the widget sees the mouse enter even when the cursor rested there.
void click(QWidget* w)
{
    mouseThroughWindow(w, QPoint(-2, -2), QEvent::MouseMove);
    clickThroughWindow(w);
}

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
        QVERIFY(QTest::qWaitForWindowExposed(&window, windowwaits::kTimeoutMs));
    }
    KelPopupMenu* popup() const { return opener->popupMenu(); }
    bool openPopup(KelPopupMenuButton* button)
    {
        button->showPopup();
        return QTest::qWaitForWindowExposed(button->popupMenu(), windowwaits::kTimeoutMs)
            && QApplication::activePopupWidget() == button->popupMenu();
    }
};

// Rows "<name>0", "<name>1" of which the second column is shown; moves and resets as real models make them.
class Model : public QStandardItemModel {
public:
    explicit Model(const QStringList& names) { resetTo(names); }
    void resetTo(const QStringList& names)
    {
        beginResetModel();
        {
            const QSignalBlocker quiet(this);
            clear();
            for (const QString& name : names)
                appendRow({ new QStandardItem(name + "0"), new QStandardItem(name + "1") });
        }
        endResetModel();
    }
    // One row at a time is all the tests move.
    bool moveRows(const QModelIndex& parent, int source, int count, const QModelIndex& to, int row) override
    {
        if (count != 1 || !beginMoveRows(parent, source, source, to, row))
            return false;
        {
            const QSignalBlocker quiet(this);
            insertRow(row > source ? row - 1 : row, takeRow(source));
        }
        endMoveRows();
        return true;
    }
};

class LinkCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

} // namespace

class TestKelPopups : public QObject {
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
        mouseThroughWindow(s.popup(), s.popup()->mapFromGlobal(global), QEvent::MouseMove);
        // Handed to the popup as the window system layer hands it every press, with no loop pass after.
        QMouseEvent press(QEvent::MouseButtonPress, s.popup()->mapFromGlobal(global), global, Qt::LeftButton,
            Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(s.popup(), &press);
        QCOMPARE(s.popup()->isVisible(), openAfterPress);
        QTest::qWait(20);
        QCOMPARE(s.popup()->isVisible(), openAfterLoop);
    }

    // While a popup is open, the widgets of the window beneath still show their tool tips under the
    // pointer (the popup gets every move); over the popup, or after it closed, they hide.
    void tipsOfTheWindowBeneath()
    {
        Scene s;
        s.area->setToolTip(QStringLiteral("The area's tip\non two lines"));
        auto* label = new QLabel(QStringLiteral("Text"));
        s.popup()->addWidget(label);
        QVERIFY(s.openPopup(s.opener));
        const auto moveTo = [&s](const QPoint& global) {
            mouseThroughWindow(s.popup(), s.popup()->mapFromGlobal(global), QEvent::MouseMove);
        };
        moveTo(s.area->mapToGlobal(s.area->rect().center() - QPoint(4, 0)));
        moveTo(s.area->mapToGlobal(s.area->rect().center()));
        QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 3000);
        QCOMPARE(QToolTip::text(), s.area->toolTip());
        moveTo(label->mapToGlobal(label->rect().center()));
        QTRY_VERIFY_WITH_TIMEOUT(!QToolTip::isVisible(), windowwaits::kTimeoutMs);
        QTest::qWait(1500);
        QVERIFY(!QToolTip::isVisible());
        QVERIFY(s.popup()->isVisible());
        s.popup()->close();
    }

    void hidingMidPressAndTheHoverDelay()
    {
        Scene s;
        s.popup()->addPassThroughWidget(s.area);
        QVERIFY(s.openPopup(s.opener));
        const QPoint c = s.area->rect().center();
        mouseThroughWindow(s.area, c, QEvent::MouseButtonPress, Qt::LeftButton);
        mouseThroughWindow(s.area, c, QEvent::MouseButtonPress, Qt::RightButton);
        s.popup()->close();
        QCOMPARE(s.area->events, QStringList({ "P1", "P2", "R2", "R1" }));
        // The test layer's own button state goes back to none.
        mouseThroughWindow(s.area, c, QEvent::MouseButtonRelease, Qt::RightButton);
        mouseThroughWindow(s.area, c, QEvent::MouseButtonRelease, Qt::LeftButton);

        // A sub-menu opens only once the mouse rests on its button for the hover delay.
        s.popup()->setHoverDelay(150);
        KelButton* plain = s.popup()->addAction(
            QStringLiteral("Plain"), [] {}, 11);
        QVERIFY(s.openPopup(s.opener));
        QTRY_VERIFY_WITH_TIMEOUT(plain->isVisible(), windowwaits::kTimeoutMs);
        mouseThroughWindow(s.sub, s.sub->rect().center(), QEvent::MouseMove);
        mouseThroughWindow(plain, plain->rect().center(), QEvent::MouseMove);
        QTest::qWait(300);
        QVERIFY(!s.sub->popupMenu()->isVisible());
        mouseThroughWindow(s.sub, s.sub->rect().center(), QEvent::MouseMove);
        QTRY_VERIFY_WITH_TIMEOUT(s.sub->popupMenu()->isVisible(), windowwaits::kTimeoutMs);
        QVERIFY(s.popup()->isVisible());
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
            QTRY_COMPARE_WITH_TIMEOUT(s.ran, 1, windowwaits::kTimeoutMs);
        }
        QCOMPARE(s.sub->popupMenu()->isVisible(), subOpen);
        QCOMPARE(s.sub->isChecked(), subOpen);
        QCOMPARE(s.popup()->isVisible(), parentOpen);
    }

    void restorePolicies_data()
    {
        QTest::addColumn<int>("policy");
        QTest::addColumn<QVariantList>("values");
        QTest::addColumn<QVariant>("current");
        QTest::addColumn<bool>("hasButton");
        QTest::addColumn<QVariantList>("emitted");
        const QVariant none;
        QTest::newRow("clear") << 0 << QVariantList { "b", "c" } << none << false << QVariantList { none };
        QTest::newRow("first") << 1 << QVariantList { "c", "b" } << QVariant("c") << true << QVariantList { "c" };
        QTest::newRow("first of none") << 1 << QVariantList {} << none << false << QVariantList { none };
        QTest::newRow("keep") << 2 << QVariantList { "c", "b" } << QVariant("b") << true << QVariantList {};
        QTest::newRow("keep gone") << 2 << QVariantList { "c" } << none << false << QVariantList { none };
        QTest::newRow("keep or first") << 3 << QVariantList { "c", "b" } << QVariant("b") << true << QVariantList {};
        QTest::newRow("keep or first, gone")
            << 3 << QVariantList { "c", "d" } << QVariant("c") << true << QVariantList { "c" };
        QTest::newRow("keep data gone") << 4 << QVariantList { "c" } << QVariant("b") << false << QVariantList {};
    }

    void restorePolicies()
    {
        QFETCH(int, policy);
        QFETCH(QVariantList, values);
        QFETCH(QVariant, current);
        QFETCH(bool, hasButton);
        QFETCH(QVariantList, emitted);
        KelComboBox combo(17);
        combo.setItems(18, { "a", "b", "c" }, KelComboBox::ClearCurrent);
        combo.setCurrentData("b");
        QSignalSpy changes(&combo, &KelComboBox::currentDataChanged);
        combo.setItems(18, values, policy);
        QCOMPARE(combo.currentData(), current);
        QCOMPARE(combo.currentButton() && combo.currentButton()->isChecked(), hasButton);
        QVariantList seen;
        for (const QList<QVariant>& args : changes)
            seen << args.first();
        QCOMPARE(seen, emitted);
        QCOMPARE(combo.count(), values.size());
    }

    void followsTheModel_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QVariant>("current");
        QTest::newRow("insert") << "insert" << QStringList { "a1", "x1", "b1", "c1" } << QVariant("b1");
        QTest::newRow("remove the current") << "remove" << QStringList { "a1", "c1" } << QVariant("b1");
        QTest::newRow("move down") << "move down" << QStringList { "b1", "c1", "a1" } << QVariant("b1");
        QTest::newRow("move up") << "move up" << QStringList { "c1", "a1", "b1" } << QVariant("b1");
        QTest::newRow("reset keeping") << "reset keep" << QStringList { "c1", "b1" } << QVariant("b1");
        QTest::newRow("reset without") << "reset gone" << QStringList { "x1", "y1" } << QVariant("x1");
        QTest::newRow("several columns") << "columns" << QStringList { "a1!", "b1!", "c1!" } << QVariant("b1");
        QTest::newRow("no roles named") << "no roles" << QStringList { "a1!", "b1!", "c1!" } << QVariant("b1");
        QTest::newRow("other column") << "other column" << QStringList { "a1", "b1", "c1" } << QVariant("b1");
    }

    void followsTheModel()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, items);
        QFETCH(QVariant, current);
        Model model({ "a", "b", "c" });
        KelComboBox combo(17);
        combo.setModel(&model, 1, KelComboBox::SelectFirst);
        combo.setCurrentData("b1");
        if (change == "insert")
            model.insertRow(1, { new QStandardItem("x0"), new QStandardItem("x1") });
        else if (change == "remove")
            model.removeRow(1);
        else if (change.startsWith("move"))
            model.moveRows(
                QModelIndex(), change == "move down" ? 0 : 2, 1, QModelIndex(), change == "move down" ? 3 : 0);
        else if (change.startsWith("reset"))
            model.resetTo(change == "reset keep" ? QStringList { "c", "b" } : QStringList { "x", "y" });
        else {
            for (int r = 0; r < 3; ++r) {
                const QSignalBlocker quiet(model);
                model.item(r, 1)->setText(model.item(r, 1)->text() + "!");
            }
            const int first = change == "no roles" ? 1 : 0;
            const int last = change == "other column" ? 0 : 1;
            emit model.dataChanged(model.index(0, first), model.index(2, last),
                change == "no roles" ? QVector<int>() : QVector<int> { Qt::DisplayRole });
        }
        QCOMPARE(combo.count(), items.size());
        for (int i = 0; i < combo.count(); ++i) {
            QCOMPARE(combo.itemData(i).toString(), items[i]);
            QCOMPARE(combo.itemButton(i)->text(), items[i]);
            QCOMPARE(combo.popupMenu()->contentLayout()->itemAt(i)->widget(), combo.itemButton(i));
        }
        QCOMPARE(combo.currentData(), current);
        QCOMPARE(combo.currentButton() != nullptr, change != "remove");
        // No button of a removed row stays in the menu.
        QCOMPARE(combo.popupMenu()->contentLayout()->count(), items.size());
    }

    // A handler of the selection may empty the combo box while the clicked item's own signal runs.
    void clearingFromTheSelectionHandler_data()
    {
        QTest::addColumn<bool>("fromItemClicked");
        QTest::newRow("current data changed") << false;
        QTest::newRow("item clicked") << true;
    }

    void clearingFromTheSelectionHandler()
    {
        QFETCH(bool, fromItemClicked);
        QWidget window;
        auto* combo = new KelComboBox(17, QSizePolicy::Fixed, KelComboBox::PopupAtLeastButtonWidth, &window);
        (new QVBoxLayout(&window))->addWidget(combo);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, windowwaits::kTimeoutMs));
        combo->setItems(18, { "a", "b", "c" }, KelComboBox::SelectFirst);
        int handled = 0;
        const auto refill = [&] {
            ++handled;
            fromItemClicked ? combo->setItems(18, { "x" }, KelComboBox::ClearCurrent) : combo->clear();
        };
        connect(combo, fromItemClicked ? &KelComboBox::itemClicked : &KelComboBox::currentDataChanged, refill);
        click(combo);
        QTRY_VERIFY_WITH_TIMEOUT(combo->itemButton(1)->isVisible(), windowwaits::kTimeoutMs);
        click(combo->itemButton(1));
        QTRY_COMPARE_WITH_TIMEOUT(handled, 1, windowwaits::kTimeoutMs);
        QTest::qWait(20);
        QVERIFY(!combo->isPopupVisible());
        QCOMPARE(combo->count(), fromItemClicked ? 1 : 0);
    }
    void twoInARowStack_data()
    {
        QTest::addColumn<bool>("duringSlide");
        QTest::newRow("after the slide") << false;
        QTest::newRow("during the slide") << true;
    }

    // Destroying the manager afterwards leaves no window behind.
    void twoInARowStack()
    {
        QFETCH(bool, duringSlide);
        auto* manager = new KelNotificationManager;
        QPointer<KelWindow> first = manager->notificationWindow(manager->showNotification("One", "First text", 10));
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        const QMargins m = kelStyle()->margins(0);
        if (!duringSlide)
            QTRY_COMPARE_WITH_TIMEOUT(
                first->geometry().bottom(), available.bottom() - m.bottom(), windowwaits::kTimeoutMs);
        QPointer<KelWindow> second = manager->notificationWindow(manager->showNotification("Two", "Text", 10));
        QTRY_COMPARE_WITH_TIMEOUT(first->geometry().bottom(), available.bottom() - m.bottom(), windowwaits::kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(
            second->geometry().bottom(), first->geometry().top() - m.bottom(), windowwaits::kTimeoutMs);
        QCOMPARE(second->geometry().right(), available.right() - m.right());
        delete manager;
        QTRY_VERIFY_WITH_TIMEOUT(!first && !second, windowwaits::kTimeoutMs);
    }

    // A click on the notification reports it and closes it, a drag does neither; a link in its text opens
    // through the desktop's handler and closes it without a click.
    void clickDragAndLink_data()
    {
        QTest::addColumn<QString>("input");
        QTest::newRow("click") << "click";
        QTest::newRow("drag") << "drag";
        QTest::newRow("link") << "link";
    }

    void clickDragAndLink()
    {
        QFETCH(QString, input);
        LinkCatcher catcher;
        QDesktopServices::setUrlHandler("pltest", &catcher, "open");
        KelNotificationManager manager;
        QSignalSpy clicked(&manager, &KelNotificationManager::clicked);
        const int id = manager.showNotification("Title", "<a href=\"pltest:page\">link</a>", 10);
        KelWindow* window = manager.notificationWindow(id);
        QVERIFY(QTest::qWaitForWindowExposed(window, windowwaits::kTimeoutMs));
        QTRY_VERIFY_WITH_TIMEOUT(manager.isTimerActive(id), windowwaits::kTimeoutMs);
        // Hovering pauses the display time, leaving starts it again.
        QEvent enter(QEvent::Enter), leave(QEvent::Leave);
        QApplication::sendEvent(window, &enter);
        QVERIFY(!manager.isTimerActive(id));
        QApplication::sendEvent(window, &leave);
        QVERIFY(manager.isTimerActive(id));
        if (input == "link") {
            KelLabel* text = window->findChildren<KelLabel*>().value(1);
            QVERIFY(text && text->text().contains("href"));
            emit text->linkActivated("pltest:page");
        } else {
            const int distance = input == "drag" ? QApplication::startDragDistance() : 0;
            mouseThroughWindow(window, QPoint(6, 6), QEvent::MouseButtonPress);
            mouseThroughWindow(window, QPoint(6 + distance, 6), QEvent::MouseButtonRelease);
        }
        QDesktopServices::unsetUrlHandler("pltest");
        QCOMPARE(catcher.opened, input == "link" ? QList<QUrl>({ QUrl("pltest:page") }) : QList<QUrl>());
        QCOMPARE(clicked, input == "click" ? QList<QVariantList>({ { id } }) : QList<QVariantList>());
        QTest::qWait(kelStyle()->metric(16) + 100);
        QCOMPARE(manager.notificationWindow(id) != nullptr, input == "drag");
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelPopups>(argc, argv, QStringLiteral("KelPopupTest"));
}

#include "tst_kelpopups.moc"

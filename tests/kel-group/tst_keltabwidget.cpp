// Tab widgets: the layout on each side, switching by tab buttons and by index with the page shown,
// the buttons' checks and the signals, vetoed switches, and the box-layout helpers.
#include "../kelapp/kelapptest.h"
#include "clicktesthelpers.h"

#include "kelapplication.h"
#include "utils/kellayoututils.h"
#include "widgets/kelbutton.h"
#include "widgets/kelframe.h"
#include "widgets/kelstackedwidget.h"
#include "widgets/keltabwidget.h"

#include <QBoxLayout>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

namespace {

QWidget* makePage(const QString& name, const QSize& hint = QSize(200, 120))
{
    auto* page = new QLabel(name);
    page->setObjectName(name);
    page->setMinimumSize(hint);
    return page;
}

// A shown tab widget with tabs "one", "two" and "three" on top, at indexes 0, 1 and 2.
struct Tabs {
    Tabs()
        : tabs(Qt::TopEdge, -1)
    {
        const char* names[] = { "one", "two", "three" };
        for (int i = 0; i < 3; ++i) {
            pages[i] = makePage(QString::fromLatin1(names[i]));
            tabs.insertTab(i, pages[i]);
            tabs.setTabText(i, QString::fromLatin1(names[i]));
            tabs.tabButton(i)->setMinimumSize(60, 30);
        }
        tabs.show();
    }
    QList<bool> checkedStates() const
    {
        return { tabs.tabButton(0)->isChecked(), tabs.tabButton(1)->isChecked(), tabs.tabButton(2)->isChecked() };
    }
    QList<bool> pagesVisible() const { return { pages[0]->isVisible(), pages[1]->isVisible(), pages[2]->isVisible() }; }

    KelTabWidget tabs;
    QWidget* pages[3] = {};
};

using Flags = QList<bool>;

} // namespace

Q_DECLARE_METATYPE(Qt::Edge)
Q_DECLARE_METATYPE(QBoxLayout::Direction)

class TestKelTabWidget : public QObject {
    Q_OBJECT

private slots:
    void layoutFollowsTabsPosition_data()
    {
        QTest::addColumn<Qt::Edge>("edge");
        QTest::addColumn<QBoxLayout::Direction>("outer");
        QTest::addColumn<QBoxLayout::Direction>("row");
        QTest::addColumn<bool>("tabsFirst");
        QTest::newRow("top") << Qt::TopEdge << QBoxLayout::TopToBottom << QBoxLayout::LeftToRight << true;
        QTest::newRow("bottom") << Qt::BottomEdge << QBoxLayout::TopToBottom << QBoxLayout::LeftToRight << false;
        QTest::newRow("left") << Qt::LeftEdge << QBoxLayout::LeftToRight << QBoxLayout::TopToBottom << true;
        QTest::newRow("right") << Qt::RightEdge << QBoxLayout::LeftToRight << QBoxLayout::TopToBottom << false;
    }

    void layoutFollowsTabsPosition()
    {
        QFETCH(Qt::Edge, edge);
        QFETCH(QBoxLayout::Direction, outer);
        QFETCH(QBoxLayout::Direction, row);
        QFETCH(bool, tabsFirst);
        KelTabWidget tabs(edge, -1);
        auto* layout = qobject_cast<QBoxLayout*>(tabs.layout());
        QVERIFY(layout);
        QCOMPARE(layout->objectName(), QStringLiteral("KelTabWidgetLayout"));
        QCOMPARE(layout->direction(), outer);
        QCOMPARE(layout->contentsMargins(), QMargins());
        QCOMPARE(layout->spacing(), 0);
        QCOMPARE(tabs.tabsLayout()->direction(), row);
        QCOMPARE(tabs.tabsLayout()->objectName(), QStringLiteral("KelTabsLayout"));
        QCOMPARE(tabs.tabsContainer()->objectName(), QStringLiteral("KelTabsContainer"));
        QCOMPARE(tabs.stackedWidget()->objectName(), QStringLiteral("KelTabsStack"));
        QCOMPARE(tabs.stackedWidget()->layout()->objectName(), QStringLiteral("KelTabsStackLayout"));
        QCOMPARE(layout->indexOf(tabs.tabsContainer()), tabsFirst ? 0 : 1);
        QCOMPARE(layout->indexOf(tabs.stackedWidget()), tabsFirst ? 1 : 0);
        QCOMPARE(tabs.currentIndex(), -1);
        QCOMPARE(tabs.count(), 0);

        // The tabs stand on their side of the pages once shown.
        tabs.insertTab(0, makePage(QStringLiteral("p")));
        tabs.resize(400, 300);
        tabs.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tabs));
        const QRect bar = tabs.tabsContainer()->geometry();
        const QRect pages = tabs.stackedWidget()->geometry();
        switch (edge) {
        case Qt::TopEdge:
            QVERIFY(bar.bottom() < pages.top());
            break;
        case Qt::BottomEdge:
            QVERIFY(pages.bottom() < bar.top());
            break;
        case Qt::LeftEdge:
            QVERIFY(bar.right() < pages.left());
            break;
        case Qt::RightEdge:
            QVERIFY(pages.right() < bar.left());
            break;
        }
    }

    void firstPageIsCurrentWithoutSignals()
    {
        KelTabWidget tabs(Qt::TopEdge, -1);
        QSignalSpy changed(&tabs, &KelTabWidget::currentChanged);
        QWidget* first = makePage(QStringLiteral("first"));
        QVERIFY(tabs.insertTab(0, first, nullptr));
        QSignalSpy buttonToggled(tabs.tabButton(0), &KelButton::toggled);
        QVERIFY(tabs.insertTab(1, makePage(QStringLiteral("second")), nullptr));
        QCoreApplication::processEvents();
        QCOMPARE(tabs.currentIndex(), 0);
        QCOMPARE(tabs.count(), 2);
        QVERIFY(tabs.tabButton(0)->isChecked());
        QVERIFY(!tabs.tabButton(1)->isChecked());
        QVERIFY(tabs.tabButton(0)->isCheckable());
        QCOMPARE(tabs.stackedWidget()->currentWidget(), first);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(buttonToggled.count(), 0);

        // An index that already has a tab: nothing is made.
        QWidget* extra = makePage(QStringLiteral("extra"));
        QVERIFY(!tabs.insertTab(1, extra, nullptr));
        QCOMPARE(tabs.count(), 2);
        QCOMPARE(tabs.tabsLayout()->count(), 2);
        QVERIFY(!extra->parent());
        delete extra;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("No page to add as tab 3"));
        QVERIFY(!tabs.insertTab(3, nullptr, nullptr));
        QCOMPARE(tabs.tabsLayout()->count(), 2);
        QVERIFY(!tabs.tabButton(5));
        tabs.setTabText(5, QStringLiteral("nobody"));
    }

    void clickingTabsSwitchesPages()
    {
        Tabs t;
        QVERIFY(QTest::qWaitForWindowExposed(&t.tabs));
        QSignalSpy changed(&t.tabs, &KelTabWidget::currentChanged);
        QList<QPair<int, int>> requests;
        connect(&t.tabs, &KelTabWidget::tabToggleRequest, this, [&requests](int from, int to, bool&) {
            requests.append({ from, to });
        });
        QCOMPARE(t.pagesVisible(), Flags({ true, false, false }));
        QCOMPARE(t.tabs.tabButton(1)->text(), QStringLiteral("two"));

        clickThroughWindow(t.tabs.tabButton(2));
        QCOMPARE(t.tabs.currentIndex(), 2);
        QCOMPARE(t.checkedStates(), Flags({ false, false, true }));
        QCOMPARE(t.pagesVisible(), Flags({ false, false, true }));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toInt(), 2);
        QCOMPARE(requests, (QList<QPair<int, int>>({ { 0, 2 } })));
        // A click hands the keyboard focus to the pages.
        QCOMPARE(t.tabs.focusWidget(), t.tabs.stackedWidget());

        // The current tab: stays checked, nothing is asked or told.
        clickThroughWindow(t.tabs.tabButton(2));
        QCoreApplication::processEvents();
        QCOMPARE(t.checkedStates(), Flags({ false, false, true }));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(requests.size(), 1);

        clickThroughWindow(t.tabs.tabButton(0));
        QCOMPARE(t.pagesVisible(), Flags({ true, false, false }));
        QCOMPARE(t.checkedStates(), Flags({ true, false, false }));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(requests.last(), qMakePair(2, 0));
    }

    void vetoedSwitchSpringsBack()
    {
        Tabs t;
        QVERIFY(QTest::qWaitForWindowExposed(&t.tabs));
        QSignalSpy changed(&t.tabs, &KelTabWidget::currentChanged);
        bool allow = false;
        connect(&t.tabs, &KelTabWidget::tabToggleRequest, this, [&allow](int, int, bool& accept) { accept = allow; });
        clickThroughWindow(t.tabs.tabButton(1));
        QCOMPARE(t.tabs.currentIndex(), 0);
        QCOMPARE(t.checkedStates(), Flags({ true, false, false }));
        QCOMPARE(t.pagesVisible(), Flags({ true, false, false }));
        t.tabs.setCurrentIndex(2);
        QCOMPARE(t.tabs.currentIndex(), 0);
        QCOMPARE(changed.count(), 0);

        allow = true;
        clickThroughWindow(t.tabs.tabButton(1));
        QCOMPARE(t.tabs.currentIndex(), 1);
        QCOMPARE(t.pagesVisible(), Flags({ false, true, false }));
        QCOMPARE(changed.count(), 1);
    }

    void switchingByIndex()
    {
        Tabs t;
        QVERIFY(QTest::qWaitForWindowExposed(&t.tabs));
        QSignalSpy changed(&t.tabs, &KelTabWidget::currentChanged);
        QSignalSpy toggled(t.tabs.tabButton(1), &KelButton::toggled);
        t.tabs.setCurrentIndex(1);
        QCOMPARE(t.tabs.currentIndex(), 1);
        QCOMPARE(t.checkedStates(), Flags({ false, true, false }));
        QCOMPARE(t.pagesVisible(), Flags({ false, true, false }));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toInt(), 1);
        // Not a click: the focus stays where it was, the buttons say nothing.
        QVERIFY(t.tabs.focusWidget() != t.tabs.stackedWidget());
        QCoreApplication::processEvents();
        QCOMPARE(toggled.count(), 0);

        t.tabs.setCurrentIndex(1);
        t.tabs.setCurrentIndex(-1);
        t.tabs.setCurrentIndex(7);
        QCOMPARE(t.tabs.currentIndex(), 1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(t.pagesVisible(), Flags({ false, true, false }));
    }

    void tabsInsertedOutOfOrder_data()
    {
        QTest::addColumn<QList<int>>("indexes");
        QTest::newRow("no gaps") << QList<int> { 1, 0, 2 };
        QTest::newRow("gap") << QList<int> { 0, 2 };
        QTest::newRow("first tab after a gap") << QList<int> { 3, 0, 2 };
    }

    void tabsInsertedOutOfOrder()
    {
        QFETCH(QList<int>, indexes);
        KelTabWidget tabs(Qt::LeftEdge, -1);
        QMap<int, QWidget*> pages;
        for (int index : indexes) {
            pages[index] = makePage(QString::number(index));
            QVERIFY(tabs.insertTab(index, pages[index]));
            tabs.tabButton(index)->setMinimumSize(60, 30);
        }
        tabs.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tabs));
        // The buttons stand in insertion order; the first tab made stays current.
        for (int i = 0; i < indexes.size(); ++i)
            QCOMPARE(tabs.tabsLayout()->indexOf(tabs.tabButton(indexes[i])), i);
        QCOMPARE(tabs.currentIndex(), indexes.first());
        QCOMPARE(tabs.stackedWidget()->currentWidget(), pages[indexes.first()]);

        for (int index : indexes.mid(1) + indexes.mid(0, 1)) {
            clickThroughWindow(tabs.tabButton(index));
            QCOMPARE(tabs.currentIndex(), index);
            QCOMPARE(tabs.stackedWidget()->currentWidget(), pages[index]);
            QVERIFY(pages[index]->isVisible());
            for (int other : indexes)
                QCOMPARE(tabs.tabButton(other)->isChecked(), other == index);
        }
    }

    void boxLayoutHelpers()
    {
        QWidget plain;
        QVBoxLayout* v = KelUtils::vBoxLayout(&plain, QMargins(1, 2, 3, 4), 5);
        QVERIFY(v);
        QCOMPARE(plain.layout(), v);
        QCOMPARE(v->contentsMargins(), QMargins(1, 2, 3, 4));
        QCOMPARE(v->spacing(), 5);
        // Found again as it is, whatever is asked for.
        QCOMPARE(KelUtils::vBoxLayout(&plain, QMargins(), 0), v);
        QCOMPARE(v->spacing(), 5);

        // Another kind of layout is already there: Qt would leave a new one unattached.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("already has the layout"));
        QVERIFY(!KelUtils::hBoxLayout(&plain, QMargins(), 0));
        QCOMPARE(plain.layout(), v);
        QCOMPARE(plain.findChildren<QLayout*>().size(), 1);

        QWidget row;
        QHBoxLayout* h = KelUtils::hBoxLayout(&row, QMargins(), 2);
        QVERIFY(h);
        QCOMPARE(KelUtils::hBoxLayout(&row), h);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("No widget"));
        QVERIFY(!KelUtils::vBoxLayout(nullptr));
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelTabWidget>(argc, argv, QStringLiteral("Kel Tab Widget Test"));
}

#include "tst_keltabwidget.moc"

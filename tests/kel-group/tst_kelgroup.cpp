// Exclusive button groups and tab widgets driven by clicks through a shown window.
#include "../kelapp/kelapptest.h"
#include "clicktesthelpers.h"

#include "kelapplication.h"
#include "widgets/kelbutton.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/kelframe.h"
#include "widgets/kelstackedwidget.h"
#include "widgets/keltabwidget.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

namespace {

using Flags = QList<bool>;

// A shown row of three grouped buttons carrying "a", "b" and "c".
struct Row {
    Row()
    {
        auto* layout = new QHBoxLayout(&panel);
        for (const char* name : { "a", "b", "c" }) {
            auto* button = new KelButton(-1, &panel);
            button->setMinimumSize(60, 30);
            layout->addWidget(button);
            group.addButton(button, QString::fromLatin1(name));
        }
        panel.show();
    }
    KelButton* at(const char* name) const { return group.button(QString::fromLatin1(name)); }
    // The user data of the checked buttons.
    QString checked() const
    {
        QString names;
        for (KelButton* button : group.buttons())
            names += button->isChecked() ? KelExclusiveButtonGroup::userData(button).toString() : QString();
        return names;
    }
    // The user data of each toggled() so far, "-" for an emptied selection.
    static QStringList seen(const QSignalSpy& spy)
    {
        QStringList values;
        for (const QList<QVariant>& args : spy)
            values << (args.at(0).value<KelButton*>() ? args.at(1).toString() : QStringLiteral("-"));
        return values;
    }

    QWidget panel;
    KelExclusiveButtonGroup group;
};

QWidget* makePage(const QString& name)
{
    auto* page = new QLabel(name);
    page->setMinimumSize(200, 120);
    return page;
}

// A shown tab widget on the given side with a tab per index, inserted in that order.
struct Tabs {
    explicit Tabs(const QList<int>& indexes = { 0, 1, 2 }, Qt::Edge edge = Qt::TopEdge)
        : tabs(edge, -1)
    {
        for (int index : indexes) {
            pages[index] = makePage(QString::number(index));
            tabs.insertTab(index, pages[index]);
            tabs.tabButton(index)->setMinimumSize(60, 30);
        }
        tabs.show();
    }
    Flags checked() const { return { button(0)->isChecked(), button(1)->isChecked(), button(2)->isChecked() }; }
    Flags visible() const { return { pages[0]->isVisible(), pages[1]->isVisible(), pages[2]->isVisible() }; }
    KelButton* button(int index) const { return tabs.tabButton(index); }

    KelTabWidget tabs;
    QMap<int, QWidget*> pages;
};

} // namespace

Q_DECLARE_METATYPE(Qt::Edge)

class TestKelGroup : public QObject {
    Q_OBJECT

private slots:
    // Steps on a shown row of "a", "b" and "c": clicks through the window, choices by user data (loud or
    // silent), the empty selection allowed or not, and "late a": A checked with its toggled() still on
    // its way when the next step runs.
    void oneButtonChecked_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<QString>("toggled"); // the user data of each toggled(), "-" for none checked
        QTest::newRow("clicks") << "click a, click c, click c"
                                << "c"
                                << "a c";
        QTest::newRow("by user data") << "set b, set a"
                                      << "a"
                                      << "b a";
        QTest::newRow("unknown value or none refused") << "set a, set zzz, none"
                                                       << "a"
                                                       << "a";
        QTest::newRow("silently") << "set a, silent c"
                                  << "c"
                                  << "a";
        QTest::newRow("late toggle does not undo a silent choice") << "late a, silent b"
                                                                   << "b"
                                                                   << "";
        QTest::newRow("empty allowed") << "allow, click b, click b"
                                       << ""
                                       << "b -";
        QTest::newRow("empty allowed: unknown value") << "allow, set a, set zzz"
                                                      << ""
                                                      << "a -";
        QTest::newRow("empty forbidden again") << "allow, click c, forbid, click c"
                                               << "c"
                                               << "c";
    }

    void oneButtonChecked()
    {
        QFETCH(QString, steps);
        Row row;
        QVERIFY(QTest::qWaitForWindowExposed(&row.panel));
        QSignalSpy toggled(&row.group, &KelExclusiveButtonGroup::toggled);
        for (const QString& step : steps.split(", ")) {
            const QString name = step.section(' ', 1);
            if (step.startsWith("click"))
                clickThroughWindow(row.group.button(name));
            else if (step.startsWith("set"))
                QCOMPARE(row.group.setCheckedByUserData(name), name != "zzz" || row.group.isEmptySelectionAllowed());
            else if (step.startsWith("silent"))
                QVERIFY(row.group.setCheckedByUserDataSilently(name));
            else if (step == "none")
                QVERIFY(!row.group.uncheckAll());
            else if (step.startsWith("late"))
                row.group.button(name)->setChecked(true);
            else
                row.group.setEmptySelectionAllowed(step == "allow");
            if (!step.startsWith("late"))
                QCoreApplication::processEvents();
        }
        QTEST(row.checked(), "checked");
        QTEST(Row::seen(toggled).join(' '), "toggled");
        QVERIFY(!row.group.signalsBlocked());

        // uncheckAll picks a button without data.
        KelButton none(-1);
        row.group.addButton(&none, QVariant());
        QVERIFY(row.group.uncheckAll());
        QCoreApplication::processEvents();
        QCOMPARE(row.group.checkedButton(), &none);
    }

    void deletedButtonsLeaveTheGroup()
    {
        Row row;
        QVERIFY(QTest::qWaitForWindowExposed(&row.panel));
        row.group.setCheckedByUserDataSilently(QStringLiteral("b"));
        delete row.at("b");
        // The row closes the gap before the next click lands.
        row.panel.layout()->activate();
        QVERIFY(!row.group.button(QStringLiteral("b")));
        QVERIFY(!row.group.checkedButton());
        clickThroughWindow(row.at("c"));
        QCOMPARE(row.checked(), QStringLiteral("c"));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Ignore trying to add nullptr button into"));
        QVERIFY(!row.group.addButton(nullptr, QStringLiteral("y")));
    }

    void tabsStandOnTheirSideInInsertionOrder_data()
    {
        QTest::addColumn<Qt::Edge>("edge");
        QTest::addColumn<QList<int>>("indexes");
        QTest::newRow("top") << Qt::TopEdge << QList<int> { 0, 1, 2 };
        QTest::newRow("bottom, out of order") << Qt::BottomEdge << QList<int> { 1, 0, 2 };
        QTest::newRow("left, gap") << Qt::LeftEdge << QList<int> { 0, 2 };
        QTest::newRow("right, first tab after a gap") << Qt::RightEdge << QList<int> { 3, 0, 2 };
    }

    void tabsStandOnTheirSideInInsertionOrder()
    {
        QFETCH(Qt::Edge, edge);
        QFETCH(QList<int>, indexes);
        Tabs t(indexes, edge);
        t.tabs.resize(400, 300);
        QVERIFY(QTest::qWaitForWindowExposed(&t.tabs));
        const QRect bar = t.tabs.tabsContainer()->geometry();
        const QRect pages = t.tabs.stackedWidget()->geometry();
        const bool horizontal = edge == Qt::TopEdge || edge == Qt::BottomEdge;
        QCOMPARE(t.tabs.tabsLayout()->direction(), horizontal ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
        const QRect& first = edge == Qt::TopEdge || edge == Qt::LeftEdge ? bar : pages;
        const QRect& second = &first == &bar ? pages : bar;
        QVERIFY(horizontal ? first.bottom() < second.top() : first.right() < second.left());
        // The buttons stand in insertion order; the first tab made stays current.
        for (int i = 0; i < indexes.size(); ++i)
            QCOMPARE(t.tabs.tabsLayout()->indexOf(t.button(indexes[i])), i);
        QCOMPARE(t.tabs.currentIndex(), indexes.first());
        for (int index : indexes.mid(1) + indexes.mid(0, 1)) {
            clickThroughWindow(t.button(index));
            QCOMPARE(t.tabs.currentIndex(), index);
            QCOMPARE(t.tabs.stackedWidget()->currentWidget(), t.pages[index]);
            QVERIFY(t.pages[index]->isVisible());
            for (int other : indexes)
                QCOMPARE(t.button(other)->isChecked(), other == index);
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
        QCOMPARE(tabs.stackedWidget()->currentWidget(), first);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(buttonToggled.count(), 0);

        // An index that already has a tab, or no page: nothing is made.
        std::unique_ptr<QWidget> extra(makePage(QStringLiteral("extra")));
        QVERIFY(!tabs.insertTab(1, extra.get(), nullptr));
        QVERIFY(!extra->parent());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("No page to add as tab 3"));
        QVERIFY(!tabs.insertTab(3, nullptr, nullptr));
        QCOMPARE(tabs.tabsLayout()->count(), 2);
        QVERIFY(!tabs.tabButton(5));
        tabs.setTabText(5, QStringLiteral("nobody"));
    }

    void switchingTabs()
    {
        Tabs t;
        QVERIFY(QTest::qWaitForWindowExposed(&t.tabs));
        QSignalSpy changed(&t.tabs, &KelTabWidget::currentChanged);
        QList<QPair<int, int>> requests;
        bool allow = true;
        connect(&t.tabs, &KelTabWidget::tabToggleRequest, this, [&](int from, int to, bool& accept) {
            requests.append({ from, to });
            accept = allow;
        });
        clickThroughWindow(t.button(2));
        QCOMPARE(t.tabs.currentIndex(), 2);
        QCOMPARE(t.visible(), Flags({ false, false, true }));
        // A click hands the keyboard focus to the pages.
        QCOMPARE(t.tabs.focusWidget(), t.tabs.stackedWidget());
        // The current tab: stays checked, nothing is asked or told.
        clickThroughWindow(t.button(2));
        QCOMPARE(t.checked(), Flags({ false, false, true }));
        QCOMPARE(requests, (QList<QPair<int, int>>({ { 0, 2 } })));

        // A vetoed switch springs back, by click or by index.
        allow = false;
        clickThroughWindow(t.button(1));
        t.tabs.setCurrentIndex(0);
        QCOMPARE(t.tabs.currentIndex(), 2);
        QCOMPARE(t.checked(), Flags({ false, false, true }));
        QCOMPARE(t.visible(), Flags({ false, false, true }));

        // By index: the page shows, the focus stays, the buttons say nothing; out of range is ignored.
        allow = true;
        t.tabs.stackedWidget()->clearFocus();
        QSignalSpy toggled(t.button(1), &KelButton::toggled);
        t.tabs.setCurrentIndex(1);
        t.tabs.setCurrentIndex(-1);
        t.tabs.setCurrentIndex(7);
        QCOMPARE(t.tabs.currentIndex(), 1);
        QCOMPARE(t.checked(), Flags({ false, true, false }));
        QCOMPARE(t.visible(), Flags({ false, true, false }));
        QVERIFY(t.tabs.focusWidget() != t.tabs.stackedWidget());
        QCoreApplication::processEvents();
        QCOMPARE(toggled.count(), 0);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.last().at(0).toInt(), 1);
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelGroup>(argc, argv, QStringLiteral("Kel Group Test"));
}

#include "tst_kelgroup.moc"

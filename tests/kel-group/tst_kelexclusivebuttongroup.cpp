// Exclusive button groups: one checked button at a time, selection by user data, silent changes,
// empty selection and buttons that leave the group, driven by clicks through a shown window.
#include "../kelapp/kelapptest.h"
#include "clicktesthelpers.h"

#include "kelapplication.h"
#include "widgets/kelbutton.h"
#include "widgets/kelexclusivebuttongroup.h"

#include <QHBoxLayout>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

namespace {

// A shown row of three grouped buttons carrying "a", "b" and "c".
struct Row {
    Row()
    {
        auto* layout = new QHBoxLayout(&panel);
        for (const char* name : { "a", "b", "c" }) {
            auto* button = new KelButton(-1, &panel);
            button->setText(QString::fromLatin1(name));
            button->setMinimumSize(60, 30);
            layout->addWidget(button);
            group.addButton(button, QString::fromLatin1(name));
        }
        panel.show();
    }
    KelButton* at(const char* name) const { return group.button(QString::fromLatin1(name)); }
    QList<bool> checkedStates() const
    {
        QList<bool> states;
        for (KelButton* button : group.buttons())
            states.append(button->isChecked());
        return states;
    }

    QWidget panel;
    KelExclusiveButtonGroup group;
};

using Checked = QList<bool>;

} // namespace

class TestKelExclusiveButtonGroup : public QObject {
    Q_OBJECT

private slots:
    void clicksKeepOneButtonChecked()
    {
        Row row;
        QVERIFY(QTest::qWaitForWindowExposed(&row.panel));
        QSignalSpy toggled(&row.group, &KelExclusiveButtonGroup::toggled);
        QCOMPARE(row.checkedStates(), Checked({ false, false, false }));
        QVERIFY(!row.group.checkedButton());
        QVERIFY(!row.group.checkedUserData().isValid());

        clickThroughWindow(row.at("a"));
        QCOMPARE(row.checkedStates(), Checked({ true, false, false }));
        QCOMPARE(toggled.count(), 1);
        QCOMPARE(toggled.at(0).at(0).value<KelButton*>(), row.at("a"));
        QCOMPARE(toggled.at(0).at(1), QVariant(QStringLiteral("a")));

        clickThroughWindow(row.at("c"));
        QCOMPARE(row.checkedStates(), Checked({ false, false, true }));
        QCOMPARE(toggled.count(), 2);
        QCOMPARE(toggled.at(1).at(0).value<KelButton*>(), row.at("c"));
        QCOMPARE(row.group.checkedUserData(), QVariant(QStringLiteral("c")));

        // The checked button stays checked and nobody hears of the click.
        clickThroughWindow(row.at("c"));
        QCoreApplication::processEvents();
        QCOMPARE(row.checkedStates(), Checked({ false, false, true }));
        QCOMPARE(toggled.count(), 2);
    }

    void selectionByUserData()
    {
        Row row;
        QVERIFY(QTest::qWaitForWindowExposed(&row.panel));
        QSignalSpy toggled(&row.group, &KelExclusiveButtonGroup::toggled);
        QVERIFY(row.group.setCheckedByUserData(QStringLiteral("b")));
        // The target is checked at once; the others and the group's signal follow a pass later.
        QVERIFY(row.at("b")->isChecked());
        QCOMPARE(toggled.count(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(toggled.count(), 1);
        QCOMPARE(toggled.at(0).at(1), QVariant(QStringLiteral("b")));

        QVERIFY(row.group.setCheckedByUserData(QStringLiteral("a")));
        QCoreApplication::processEvents();
        QCOMPARE(row.checkedStates(), Checked({ true, false, false }));
        QCOMPARE(toggled.count(), 2);

        // Unknown value, no empty selection: refused, nothing changes.
        QVERIFY(!row.group.setCheckedByUserData(QStringLiteral("zzz")));
        QVERIFY(!row.group.uncheckAll());
        QCoreApplication::processEvents();
        QCOMPARE(row.checkedStates(), Checked({ true, false, false }));
        QCOMPARE(toggled.count(), 2);

        // Silently: all states at once, never a signal.
        QVERIFY(row.group.setCheckedByUserDataSilently(QStringLiteral("c")));
        QCOMPARE(row.checkedStates(), Checked({ false, false, true }));
        QCoreApplication::processEvents();
        QCOMPARE(toggled.count(), 2);
        QVERIFY(!row.group.signalsBlocked());
    }

    void lateToggleDoesNotUndoSilentChange()
    {
        Row row;
        QSignalSpy toggled(&row.group, &KelExclusiveButtonGroup::toggled);
        // A's toggled() is still on its way when B is chosen silently.
        row.at("a")->setChecked(true);
        QVERIFY(row.group.setCheckedByUserDataSilently(QStringLiteral("b")));
        QCoreApplication::processEvents();
        QCOMPARE(row.checkedStates(), Checked({ false, true, false }));
        QCOMPARE(toggled.count(), 0);
    }

    void emptySelection()
    {
        Row row;
        QVERIFY(QTest::qWaitForWindowExposed(&row.panel));
        row.group.setEmptySelectionAllowed(true);
        QSignalSpy toggled(&row.group, &KelExclusiveButtonGroup::toggled);
        clickThroughWindow(row.at("b"));
        clickThroughWindow(row.at("b"));
        QCOMPARE(row.checkedStates(), Checked({ false, false, false }));
        QCOMPARE(toggled.count(), 2);
        QCOMPARE(toggled.at(1).at(0).value<KelButton*>(), nullptr);
        QVERIFY(!toggled.at(1).at(1).isValid());

        // An unknown value now unchecks whatever is checked.
        QVERIFY(row.group.setCheckedByUserData(QStringLiteral("a")));
        QCoreApplication::processEvents();
        QVERIFY(row.group.setCheckedByUserData(QStringLiteral("zzz")));
        QCoreApplication::processEvents();
        QCOMPARE(row.checkedStates(), Checked({ false, false, false }));
        QCOMPARE(toggled.count(), 4);
        QVERIFY(!toggled.at(3).at(0).value<KelButton*>());

        // Back to not allowed: a click on the checked button no longer unchecks it.
        row.group.setEmptySelectionAllowed(false);
        clickThroughWindow(row.at("c"));
        clickThroughWindow(row.at("c"));
        QCOMPARE(row.checkedStates(), Checked({ false, false, true }));
        QCOMPARE(toggled.count(), 5);
    }

    void uncheckAllPicksButtonWithInvalidData()
    {
        Row row;
        KelButton none(-1);
        row.group.addButton(&none, QVariant());
        row.group.setCheckedByUserDataSilently(QStringLiteral("a"));
        QVERIFY(row.group.uncheckAll());
        QCoreApplication::processEvents();
        QVERIFY(none.isChecked());
        QCOMPARE(row.group.checkedButton(), &none);
        QVERIFY(!row.at("a")->isChecked());
    }

    void buttonsComeAndGo()
    {
        Row row;
        QVERIFY(QTest::qWaitForWindowExposed(&row.panel));
        QPointer<KelButton> b = row.at("b");
        row.group.setCheckedByUserDataSilently(QStringLiteral("b"));
        delete b.data();
        // The row closes the gap before the next click lands.
        row.panel.layout()->activate();
        QCOMPARE(row.group.buttons().size(), 2);
        QVERIFY(!row.group.button(QStringLiteral("b")));
        QVERIFY(!row.group.checkedButton());
        QSignalSpy toggled(&row.group, &KelExclusiveButtonGroup::toggled);
        clickThroughWindow(row.at("c"));
        QCOMPARE(row.checkedStates(), Checked({ false, true }));
        QCOMPARE(toggled.count(), 1);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Ignore add button .* because it's already registered"));
        QCOMPARE(row.group.addButton(row.at("a"), QStringLiteral("x")), row.at("a"));
        QCOMPARE(row.group.buttons().size(), 2);
        QVERIFY(!row.group.button(QStringLiteral("x")));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Ignore trying to add nullptr button into"));
        QVERIFY(!row.group.addButton(nullptr, QStringLiteral("y")));

        // Made by the group: parentless, checkable, of the group's type, and found by its value.
        KelExclusiveButtonGroup typed(-1);
        std::unique_ptr<KelButton> made(typed.createButton(42));
        QVERIFY(!made->parent());
        QVERIFY(made->isCheckable());
        QCOMPARE(made->widgetType(), -1);
        QCOMPARE(typed.button(42), made.get());
        made.reset();
        QVERIFY(typed.buttons().isEmpty());
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelExclusiveButtonGroup>(
        argc, argv, QStringLiteral("Kel Exclusive Button Group Test"));
}

#include "tst_kelexclusivebuttongroup.moc"

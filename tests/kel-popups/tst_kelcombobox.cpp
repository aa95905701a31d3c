#include "../kelapp/kelapptest.h"
#include "kelapplication.h"
#include "mousehelpers.h"
#include "widgets/kelcombobox.h"
#include "windows/kelpopupmenu.h"

#include <QBoxLayout>
#include <QSignalSpy>
#include <QStandardItemModel>

using namespace MouseHelpers;

namespace {

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
    bool moveRows(const QModelIndex& parent, int source, int count, const QModelIndex& to, int row) override
    {
        if (!beginMoveRows(parent, source, source + count - 1, to, row))
            return false;
        {
            const QSignalBlocker quiet(this);
            for (int i = 0; i < count; ++i)
                insertRow(row > source ? row - 1 : row + i, takeRow(row > source ? source : source + i));
        }
        endMoveRows();
        return true;
    }
};

} // namespace

class TestKelComboBox : public QObject {
    Q_OBJECT
private slots:
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
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        combo->setItems(18, { "a", "b", "c" }, KelComboBox::SelectFirst);
        int handled = 0;
        const auto refill = [&] {
            ++handled;
            fromItemClicked ? combo->setItems(18, { "x" }, KelComboBox::ClearCurrent) : combo->clear();
        };
        connect(combo, fromItemClicked ? &KelComboBox::itemClicked : &KelComboBox::currentDataChanged, refill);
        click(combo);
        QTRY_VERIFY(combo->itemButton(1)->isVisible());
        click(combo->itemButton(1));
        QTRY_COMPARE(handled, 1);
        QTest::qWait(20);
        QVERIFY(!combo->isPopupVisible());
        QCOMPARE(combo->count(), fromItemClicked ? 1 : 0);
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelComboBox>(argc, argv, QStringLiteral("KelComboBoxTest"));
}

#include "tst_kelcombobox.moc"

#include "../kelapp/kelapptest.h"
#include "kelapplication.h"
#include "mousehelpers.h"
#include "widgets/kelcombobox.h"
#include "windows/kelpopupmenu.h"

#include <QApplication>
#include <QBoxLayout>
#include <QSignalSpy>
#include <QStandardItemModel>

using namespace MouseHelpers;

namespace {

// Two columns, the second shown; moves and resets as real models make them.
class Model : public QStandardItemModel {
public:
    explicit Model(const QStringList& names) { resetTo(names); }
    void resetTo(const QStringList& names)
    {
        beginResetModel();
        blockSignals(true);
        clear();
        for (const QString& name : names)
            appendRow({ new QStandardItem(name + "0"), new QStandardItem(name + "1") });
        blockSignals(false);
        endResetModel();
    }
    bool moveRows(const QModelIndex& parent, int source, int count, const QModelIndex& destParent, int dest) override
    {
        if (!beginMoveRows(parent, source, source + count - 1, destParent, dest))
            return false;
        blockSignals(true);
        QList<QList<QStandardItem*>> rows;
        for (int i = 0; i < count; ++i)
            rows << takeRow(source);
        const int at = dest > source ? dest - count : dest;
        for (int i = 0; i < count; ++i)
            insertRow(at + i, rows[i]);
        blockSignals(false);
        endMoveRows();
        return true;
    }
    // Changes the texts of every cell without telling anyone.
    void quietlyRename(const QString& suffix)
    {
        blockSignals(true);
        for (int r = 0; r < rowCount(); ++r)
            for (int c = 0; c < columnCount(); ++c)
                item(r, c)->setText(item(r, c)->text() + suffix);
        blockSignals(false);
    }
};

QVariantList itemsOf(const KelComboBox& combo)
{
    QVariantList result;
    for (int i = 0; i < combo.count(); ++i)
        result << combo.itemData(i);
    return result;
}

// Item buttons still shown in the menu (removed ones are hidden at once).
int shownButtons(const KelComboBox& combo)
{
    int count = 0;
    for (KelButton* b : combo.popupMenu()->centralWidget()->findChildren<KelButton*>())
        count += b->isHidden() ? 0 : 1;
    return count;
}

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
        QCOMPARE(combo.currentButton() != nullptr, hasButton);
        if (hasButton)
            QVERIFY(combo.currentButton()->isChecked());
        QVariantList seen;
        for (const QList<QVariant>& args : changes)
            seen << args.first();
        QCOMPARE(seen, emitted);
        QCOMPARE(shownButtons(combo), values.size());
    }

    void followsTheModel_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QVariantList>("items");
        QTest::addColumn<QVariant>("current");
        QTest::newRow("insert") << "insert" << QVariantList { "a1", "x1", "b1", "c1" } << QVariant("b1");
        QTest::newRow("remove the current") << "remove" << QVariantList { "a1", "c1" } << QVariant("b1");
        QTest::newRow("move down") << "move down" << QVariantList { "b1", "c1", "a1" } << QVariant("b1");
        QTest::newRow("move up") << "move up" << QVariantList { "c1", "a1", "b1" } << QVariant("b1");
        QTest::newRow("reset keeping") << "reset keep" << QVariantList { "c1", "b1" } << QVariant("b1");
        QTest::newRow("reset without") << "reset gone" << QVariantList { "x1", "y1" } << QVariant("x1");
        QTest::newRow("several columns") << "columns" << QVariantList { "a1!", "b1!", "c1!" } << QVariant("b1");
        QTest::newRow("no roles named") << "no roles" << QVariantList { "a1!", "b1!", "c1!" } << QVariant("b1");
        QTest::newRow("other column") << "other column" << QVariantList { "a1", "b1", "c1" } << QVariant("b1");
    }

    void followsTheModel()
    {
        QFETCH(QString, change);
        QFETCH(QVariantList, items);
        QFETCH(QVariant, current);
        Model model({ "a", "b", "c" });
        KelComboBox combo(17);
        combo.setModel(&model, 1, KelComboBox::SelectFirst);
        combo.setCurrentData("b1");
        if (change == "insert")
            model.insertRow(1, { new QStandardItem("x0"), new QStandardItem("x1") });
        else if (change == "remove")
            model.removeRow(1);
        else if (change == "move down")
            model.moveRows(QModelIndex(), 0, 1, QModelIndex(), 3);
        else if (change == "move up")
            model.moveRows(QModelIndex(), 2, 1, QModelIndex(), 0);
        else if (change == "reset keep")
            model.resetTo({ "c", "b" });
        else if (change == "reset gone")
            model.resetTo({ "x", "y" });
        model.quietlyRename(change == "columns" || change == "no roles" || change == "other column" ? "!" : "");
        if (change == "columns")
            emit model.dataChanged(model.index(0, 0), model.index(2, 1), { Qt::DisplayRole });
        else if (change == "no roles")
            emit model.dataChanged(model.index(0, 1), model.index(2, 1), {});
        else if (change == "other column")
            emit model.dataChanged(model.index(0, 0), model.index(2, 0), { Qt::DisplayRole });
        QCOMPARE(itemsOf(combo), items);
        QCOMPARE(combo.currentData(), current);
        QCOMPARE(shownButtons(combo), items.size());
        if (change == "remove")
            QCOMPARE(combo.currentButton(), nullptr);
        for (int i = 0; i < combo.count(); ++i)
            QCOMPARE(combo.itemButton(i)->text(), items[i].toString());
        QCoreApplication::processEvents();
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
        combo->setFixedSize(120, 28);
        (new QVBoxLayout(&window))->addWidget(combo);
        window.resize(300, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        combo->setItems(18, { "a", "b", "c" }, KelComboBox::SelectFirst);
        int handled = 0;
        auto refill = [&] {
            ++handled;
            if (fromItemClicked)
                combo->setItems(18, { "x" }, KelComboBox::ClearCurrent);
            else
                combo->clear();
        };
        if (fromItemClicked)
            connect(combo, &KelComboBox::itemClicked, combo, refill);
        else
            connect(combo, &KelComboBox::currentDataChanged, combo, refill);
        click(combo);
        QTRY_VERIFY(combo->isPopupVisible());
        KelButton* second = combo->itemButton(1);
        QTRY_VERIFY(second->isVisible());
        click(second);
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

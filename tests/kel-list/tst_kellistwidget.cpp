#include "itemviews/kellistwidget.h"
#include "itemviews/kellistwidgetitem.h"
#include "layouts/kelflowlayout.h"
#include "layouts/kellayoutdnd.h"
#include "windowwaits.h"

#include <QApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStringListModel>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

Q_DECLARE_METATYPE(const QMimeData*)

namespace {

void sendMouse(QWidget* target, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, pos, target->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &e);
}

QWidget* namedRow(QWidget* parent, const QString& name)
{
    auto* w = new QWidget(parent);
    w->setObjectName(name);
    w->setFixedSize(100, 30);
    return w;
}

QString order(QLayout* layout)
{
    QStringList names;
    for (int i = 0; i < layout->count(); ++i) {
        if (QWidget* w = layout->itemAt(i)->widget())
            names << w->objectName();
    }
    return names.join(QLatin1Char(','));
}

struct DndFixture {
    QWidget window;
    QLayout* layout = nullptr;
    KelLayoutDnd dnd;
    QWidget* indicator = nullptr;
    QList<QWidget*> rows;

    explicit DndFixture(bool grid = false)
    {
        if (grid)
            layout = new KelFlowLayout(&window, QMargins(), 0, 0);
        else
            layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        for (const char* name : { "a", "b", "c", "d" }) {
            rows << namedRow(&window, QLatin1String(name));
            layout->addWidget(rows.last());
        }
        window.resize(grid ? 200 : 100, grid ? 60 : 120);
        // Set after the layout: children must be watched all the same.
        dnd.setLayout(layout);
        indicator = new QWidget;
        dnd.setDropIndicator(indicator);
        dnd.setLocalMoveEnabled(true);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, windowwaits::kTimeoutMs));
        layout->activate();
    }

    // Press on a row, move past the start distance inside it, then move over the container to `to`.
    void dragFrom(QWidget* child, QPoint to)
    {
        sendMouse(child, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
        sendMouse(child, QEvent::MouseMove, QPoint(5, 25), Qt::NoButton, Qt::LeftButton);
        sendMouse(&window, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    }
    void release(QPoint at) { sendMouse(&window, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton); }
};

class RowWidget : public QWidget, public KelListWidgetItem {
public:
    explicit RowWidget(QWidget* parent)
        : QWidget(parent)
    {
        setFixedSize(60, 20);
        setFocusPolicy(Qt::StrongFocus);
    }
    void readFrom(const QModelIndex& index) override
    {
        text = index.data().toString();
        ++reads;
    }
    void resetItem() override
    {
        text.clear();
        ++resets;
    }
    void setItemMode(int layoutId) override { mode = layoutId; }
    void retranslateUi() override { ++translations; }

    QString text;
    int mode = -1;
    int reads = 0;
    int resets = 0;
    int translations = 0;
};

// Moves rows for a drop inside the list as the application's models do; `row` is the final position.
class MovingModel : public QStringListModel {
public:
    using QStringListModel::QStringListModel;
    QMimeData* mimeData(const QModelIndexList& indexes) const override
    {
        dragged = indexes.value(0).row();
        return QStringListModel::mimeData(indexes);
    }
    bool dropMimeData(
        const QMimeData* data, Qt::DropAction action, int row, int column, const QModelIndex& parent) override
    {
        if (action != Qt::MoveAction)
            return QStringListModel::dropMimeData(data, action, row, column, parent);
        return moveRows(parent, dragged, 1, parent, row > dragged ? row + 1 : row);
    }
    mutable int dragged = -1;
};

// Moves a row to another parent and reports it as one move, as tree models do.
class MovingTree : public QStandardItemModel {
public:
    void move(QStandardItem* from, int row, QStandardItem* to, int destination)
    {
        QVERIFY(beginMoveRows(indexFromItem(from), row, row, indexFromItem(to), destination));
        blockSignals(true);
        to->insertRow(destination, from->takeRow(row));
        blockSignals(false);
        endMoveRows();
    }
};

struct ListFixture {
    QWidget window;
    KelListWidget* list;
    int made = 0;
    bool freeSize = false;

    explicit ListFixture(int layoutId)
        : list(new KelListWidget(0, &window))
    {
        list->setItemFactory([this](QWidget* parent, const QModelIndex& index) {
            ++made;
            auto* w = new RowWidget(parent);
            if (freeSize)
                w->setMinimumSize(0, 0), w->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
            w->readFrom(index);
            w->setItemMode(list->currentLayoutId());
            return w;
        });
        list->registerLayout(0, new QVBoxLayout);
        list->registerLayout(1, new KelFlowLayout(nullptr, QMargins(), 0, 0));
        list->setCurrentLayoutId(layoutId);
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(list);
        window.resize(180, 200);
    }

    RowWidget* row(int i) const { return static_cast<RowWidget*>(list->itemAtRow(i)); }
    QList<RowWidget*> rows() const
    {
        QList<RowWidget*> result;
        list->forEachItem([&result](KelListWidgetItem* item, int) { result << static_cast<RowWidget*>(item); });
        return result;
    }
    QStringList texts() const
    {
        QStringList result;
        for (RowWidget* row : rows())
            result << row->text;
        return result;
    }
};

QStringList modelTexts(const QAbstractItemModel& model)
{
    QStringList result;
    for (int row = 0; row < model.rowCount(); ++row)
        result << model.index(row, 0).data().toString();
    return result;
}

void fill(QStandardItemModel& model, int count)
{
    for (int i = 0; i < count; ++i)
        model.appendRow(new QStandardItem(QStringLiteral("r%1").arg(i)));
}

// A windowed list rewraps after a width change, which may toggle the scroll bar and change the width again.
void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

QWidget* asWidget(KelListWidgetItem* item) { return dynamic_cast<QWidget*>(item); }

// Rows of the windowed mode grow with their text ("r1" 20 px, "r1000" 50 px), so card lines differ.
int extentHeight(const QString& text) { return 10 * qMax(2, text.size()); }

// A windowed list over 10,000 rows, shown.
bool showWindowed(ListFixture& f, QStandardItemModel& model)
{
    f.freeSize = true;
    f.list->setWindowed(
        true, [](const QModelIndex& index, int) { return QSize(60, extentHeight(index.data().toString())); });
    fill(model, 10000);
    f.list->setModel(&model);
    f.window.show();
    const bool exposed = QTest::qWaitForWindowExposed(&f.window, windowwaits::kTimeoutMs);
    settle();
    return exposed;
}

// Shows the list over 100 rows ("r0" ...), enough for the scroll bar, then resets the model to 10,000: the
// reset comes at the width the list keeps. The count of measured rows starts anew before the reset.
bool resetToTenThousand(ListFixture& f, QStringListModel& model, int* measured)
{
    QStringList texts;
    for (int i = 0; i < 10000; ++i)
        texts << QStringLiteral("r%1").arg(i);
    model.setStringList(texts.mid(0, 100));
    f.list->setModel(&model);
    f.window.show();
    const bool exposed = QTest::qWaitForWindowExposed(&f.window, windowwaits::kTimeoutMs);
    settle();
    *measured = 0;
    model.setStringList(texts);
    return exposed;
}

// The realised widgets with their texts, top to bottom, in viewport coordinates.
QList<QPair<QString, QRect>> visibleRows(const ListFixture& f)
{
    QList<QPair<QString, QRect>> result;
    const QRect view = f.list->viewport()->rect();
    for (RowWidget* w : f.rows()) {
        const QRect rect(w->mapTo(f.list->viewport(), QPoint(0, 0)), w->size());
        if (rect.intersects(view))
            result << qMakePair(w->text, rect);
    }
    return result;
}

// Realised widgets lie within a viewport of the visible one, cover it, and lines do not overlap.
void checkWindow(const ListFixture& f, int* most)
{
    const int top = f.list->verticalScrollBar()->value();
    const int height = f.list->viewport()->height();
    const QList<RowWidget*> rows = f.rows();
    QVERIFY(!rows.isEmpty());
    *most = qMax(*most, rows.size());
    int lineTop = rows.first()->y();
    int lineBottom = lineTop;
    int gap = -1;
    for (int i = 0; i < rows.size(); ++i) {
        const QRect rect = rows[i]->geometry();
        QVERIFY2(rect.bottom() >= top - height && rect.top() < top + 2 * height, qPrintable(rows[i]->text));
        QCOMPARE(rect.height(), extentHeight(rows[i]->text));
        if (rect.y() != lineTop) {
            if (gap < 0)
                gap = rect.y() - lineBottom;
            QCOMPARE(rect.y(), lineBottom + gap);
            lineTop = rect.y();
        } else if (i > 0) {
            QVERIFY(rect.left() > rows[i - 1]->geometry().right());
        }
        lineBottom = qMax(lineBottom, rect.bottom() + 1);
    }
    const int first = f.list->modelIndexForItem(rows.first()).row();
    QCOMPARE(f.list->modelIndexForItem(rows.last()).row(), first + rows.size() - 1);
    QVERIFY(rows.first()->y() <= qMax(0, top));
    QVERIFY(lineBottom >= qMin(top + height, f.list->widget()->height()));
}

// Drags the first row onto the lower half of the third with mouse events sent straight to the widgets.
void dragFirstRowToThird(ListFixture& f)
{
    f.list->dnd()->setDropIndicator(new QWidget);
    f.list->dnd()->setLocalMoveEnabled(true);
    f.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.window, windowwaits::kTimeoutMs));
    settle();
    QVERIFY(QTest::qWaitFor([&] { return !f.list->viewport()->isHidden(); }));
    QWidget* content = f.list->widget();
    sendMouse(f.row(0), QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
    sendMouse(f.row(0), QEvent::MouseMove, QPoint(5, 18), Qt::NoButton, Qt::LeftButton);
    sendMouse(content, QEvent::MouseMove, QPoint(5, 55), Qt::NoButton, Qt::LeftButton);
    sendMouse(content, QEvent::MouseButtonRelease, QPoint(5, 55), Qt::LeftButton, Qt::NoButton);
}

} // namespace

class TestKelListWidget : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qRegisterMetaType<const QMimeData*>();
        qRegisterMetaType<Qt::DropAction>();
    }

    // In the grid; the list layout follows the model through the same code.
    void followsModelChanges()
    {
        ListFixture f(1);
        auto model = std::make_unique<QStandardItemModel>();
        fill(*model, 5);
        QSignalSpy counts(f.list, &KelListWidget::rowCountChanged);
        QSignalSpy finished(f.list, &KelListWidget::hardWorkFinished);
        f.list->setModel(model.get());
        QCOMPARE(f.made, 5);
        QCOMPARE(f.texts(), modelTexts(*model));
        QCOMPARE(counts.takeFirst().at(0).toInt(), 5);
        // Bulk changes stay behind the snapshot until the event loop runs again.
        QVERIFY(f.list->viewport()->isHidden());
        QVERIFY(finished.wait(1000));
        QVERIFY(!f.list->viewport()->isHidden());

        f.list->setModel(model.get());
        QCOMPARE(counts.count(), 0);

        model->insertRow(2, new QStandardItem(QStringLiteral("new")));
        QCOMPARE(f.texts(), modelTexts(*model));
        QCOMPARE(counts.takeFirst().at(0).toInt(), 6);

        const QList<RowWidget*> before = f.rows();
        model->removeRows(1, 2);
        QCOMPARE(f.texts(), modelTexts(*model));
        QCOMPARE(f.list->spareCount(), 2);
        QCOMPARE(before[1]->resets, 1);
        QVERIFY(before[1]->isHidden());
        QCOMPARE(counts.takeFirst().at(0).toInt(), 4);

        // Parked widgets come back last parked first, before the factory is asked again.
        before[1]->mode = before[2]->mode = -1;
        model->insertRow(0, new QStandardItem(QStringLiteral("x")));
        QCOMPARE(f.row(0), before[2]);
        QCOMPARE(f.row(0)->mode, 1);
        model->insertRows(1, 2);
        QCOMPARE(f.row(1), before[1]);
        // One parked widget was left for two rows.
        QCOMPARE(f.made, 7);
        QCOMPARE(f.list->spareCount(), 0);
        QCOMPARE(f.texts(), modelTexts(*model));

        model->clear();
        fill(*model, 3);
        QCOMPARE(f.texts(), modelTexts(*model));
        QCOMPARE(f.list->itemCount(), 3);
        QCOMPARE(f.made, 7);
        QCOMPARE(f.list->spareCount(), 4);
        QCOMPARE(f.list->itemAtRow(3), nullptr);

        // A destroyed model parks every widget without a count change; the next model takes them.
        counts.clear();
        model.reset();
        QCOMPARE(f.list->itemCount(), 0);
        QCOMPARE(f.list->spareCount(), 7);
        QCOMPARE(f.list->model(), nullptr);
        QCOMPARE(counts.count(), 0);
        QStandardItemModel other;
        fill(other, 5);
        f.list->setModel(&other);
        QCOMPARE(f.made, 7);
        QCOMPARE(f.texts(), modelTexts(other));
    }

    void ignoresOtherParentsAndRoles()
    {
        ListFixture f(0);
        MovingTree model;
        fill(model, 3);
        f.list->setModel(&model);
        QStandardItem* parent = model.item(0);
        parent->appendRow(new QStandardItem(QStringLiteral("child")));
        parent->appendRow(new QStandardItem(QStringLiteral("child2")));
        parent->removeRow(0);
        QCOMPARE(f.list->itemCount(), 3);
        QCOMPARE(f.list->itemForIndex(parent->child(0)->index()), nullptr);

        const int reads = f.row(1)->reads;
        model.item(1)->setData(QStringLiteral("tip"), Qt::ToolTipRole);
        QCOMPARE(f.row(1)->reads, reads);
        model.item(1)->setText(QStringLiteral("shown"));
        QCOMPARE(f.row(1)->reads, reads + 1);
        QCOMPARE(f.row(1)->text, QStringLiteral("shown"));
        // No roles named: all of them changed, the text among them.
        model.blockSignals(true);
        model.item(1)->setText(QStringLiteral("quiet"));
        model.blockSignals(false);
        emit model.dataChanged(model.index(1, 0), model.index(1, 0), {});
        QCOMPARE(f.row(1)->text, QStringLiteral("quiet"));

        // Moves: a row leaving the shown level goes, one arriving comes, others change nothing.
        QStandardItem* top = model.invisibleRootItem();
        model.move(top, 2, parent, 0);
        QCOMPARE(f.texts(), modelTexts(model));
        model.move(parent, 0, model.item(1), 0);
        model.move(model.item(1), 0, top, 0);
        QCOMPARE(f.texts(), modelTexts(model));
        QCOMPARE(f.list->itemCount(), 3);
    }

    void moveAndLayoutChange()
    {
        ListFixture f(1);
        QStringListModel model({ "a", "b", "c", "d", "e" });
        f.list->setModel(&model);
        const QList<RowWidget*> before = f.rows();
        QVERIFY(model.moveRows(QModelIndex(), 0, 3, QModelIndex(), 5));
        QCOMPARE(f.texts(), modelTexts(model));
        QCOMPARE(f.rows(), QList<RowWidget*>({ before[3], before[4], before[0], before[1], before[2] }));
        QVERIFY(model.moveRows(QModelIndex(), 4, 1, QModelIndex(), 0));
        QCOMPARE(f.row(0), before[2]);

        // Sorting reports a layout change: each widget reads the row now at its place.
        model.sort(0, Qt::DescendingOrder);
        QCOMPARE(f.texts(), modelTexts(model));
    }

    void layoutSwitchAndRetranslate()
    {
        ListFixture f(0);
        QStandardItemModel model;
        fill(model, 6);
        f.list->setModel(&model);
        f.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.window, windowwaits::kTimeoutMs));
        settle();
        const QList<RowWidget*> before = f.rows();
        QVERIFY(f.row(1)->y() > f.row(0)->y());

        f.list->setCurrentLayoutId(1);
        QVERIFY(QTest::qWaitFor([&] { return !f.list->viewport()->isHidden(); }));
        QCOMPARE(f.rows(), before);
        QCOMPARE(f.row(0)->mode, 1);
        QCOMPARE(f.row(1)->y(), f.row(0)->y());
        QVERIFY(f.row(1)->x() > f.row(0)->x());
        QCOMPARE(f.list->dnd()->layout(), f.list->widget()->layout()->itemAt(0)->layout());

        model.removeRows(0, 2);
        f.list->retranslateItems();
        QCOMPARE(before[0]->translations, 1);
        QCOMPARE(before[5]->translations, 1);
    }

    void windowedKeepsVisibleRowsInPlace_data()
    {
        QTest::addColumn<int>("layoutId");
        QTest::addColumn<bool>("insert");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("atTop"); // the view at the very top of the list, else into row 5000
        QTest::newRow("list insert just above") << 0 << true << 4999 << 1 << false;
        QTest::newRow("list insert at the first row shown") << 0 << true << 5000 << 2 << false;
        QTest::newRow("list remove just above") << 0 << false << 4999 << 1 << false;
        QTest::newRow("grid remove") << 1 << false << 1 << 3 << false;
        QTest::newRow("list insert at the head of a view at the top") << 0 << true << 0 << 3 << true;
        QTest::newRow("grid insert at the head of a view at the top") << 1 << true << 0 << 7 << true;
    }

    void windowedKeepsVisibleRowsInPlace()
    {
        QFETCH(int, layoutId);
        QFETCH(bool, insert);
        QFETCH(int, first);
        QFETCH(int, count);
        QFETCH(bool, atTop);
        ListFixture f(layoutId);
        QStandardItemModel model;
        QVERIFY(showWindowed(f, model));
        f.list->scrollToRow(5000);
        f.list->verticalScrollBar()->setValue(atTop ? 0 : asWidget(f.list->itemAtRow(5000))->y() + 7);
        const QList<QPair<QString, QRect>> before = visibleRows(f);
        QVERIFY(before.size() > 3);
        if (insert)
            model.insertRows(first, count);
        else
            model.removeRows(first, count);
        int most = 0;
        checkWindow(f, &most);
        // Cards after a change of count may wrap differently: there the first card keeps its height.
        const QList<QPair<QString, QRect>> after = visibleRows(f);
        if (atTop) {
            // A view at the top stays there and shows the rows that came at its head.
            QCOMPARE(f.list->verticalScrollBar()->value(), 0);
            QCOMPARE(after.first().first, QString());
            QCOMPARE(after.first().second.top(), 0);
        } else if (layoutId == 0) {
            QCOMPARE(after, before);
        } else {
            auto same = std::find_if(after.cbegin(), after.cend(),
                [&](const QPair<QString, QRect>& row) { return row.first == before.first().first; });
            QVERIFY(same != after.cend());
            QCOMPARE(same->second.y(), before.first().second.y());
        }
    }

    // With an estimate a reset measures only realised rows, the rest settle while idle without moving what is
    // shown; wherever the view goes only rows near it have widgets, recycled rather than made per row.
    void windowedMeasuresNearTheViewFirst()
    {
        ListFixture f(1);
        f.freeSize = true;
        int measured = 0;
        const auto extent = [&measured](const QModelIndex& index, int) {
            ++measured;
            return QSize(60, extentHeight(index.data().toString()));
        };
        f.list->setWindowed(true, extent, [](int) { return QSize(60, 20); });
        QStringListModel model;
        QVERIFY(resetToTenThousand(f, model, &measured));
        QVERIFY2(measured < 200, qPrintable(QString::number(measured)));
        int most = 0;
        checkWindow(f, &most);

        f.list->scrollToRow(7777);
        auto* row = asWidget(f.list->itemForIndex(model.index(7777, 0)));
        QVERIFY(row);
        QVERIFY(f.list->viewport()->rect().contains(QRect(row->mapTo(f.list->viewport(), QPoint(0, 0)), row->size())));
        checkWindow(f, &most);

        const QList<QPair<QString, QRect>> shown = visibleRows(f);
        QTRY_COMPARE(measured, 10000);
        QCOMPARE(visibleRows(f), shown);
        const int settled = f.list->widget()->height();
        f.list->setWindowed(true, extent);
        QCOMPARE(f.list->widget()->height(), settled);

        QScrollBar* bar = f.list->verticalScrollBar();
        for (int y : { 0, 120, 240, 3000, 6000, bar->maximum() / 2, bar->maximum(), 0 }) {
            bar->setValue(y);
            checkWindow(f, &most);
        }
        QCOMPARE(f.made, most);
        // The scroll range holds every row: at the end the last row closes the content.
        bar->setValue(bar->maximum());
        QCOMPARE(f.rows().last()->text, QStringLiteral("r9999"));
        QCOMPARE(f.rows().last()->geometry().bottom() + 1, f.list->widget()->height());
        // A changed text changes the row's extent and moves the rows after it.
        f.list->scrollToRow(7777);
        row = asWidget(f.list->itemForIndex(model.index(7777, 0)));
        QVERIFY(row);
        model.setData(model.index(7777, 0), QStringLiteral("a longer text"));
        QCOMPARE(row->height(), 130);
        checkWindow(f, &most);
        // Leaving the mode shows every row again.
        f.list->setWindowed(false);
        QCOMPARE(f.list->itemCount(), 10000);

        // Rows waiting for measuring are dropped with their model.
        f.list->setWindowed(true, extent, [](int) { return QSize(60, 20); });
        f.list->setModel(nullptr);
        settle();
    }

    // Rows whose height follows the width (wrapped text) are measured again when it changes, those near
    // the view at once and the top one kept in place, the others while idle. A change of every row
    // measures only the rows with widgets at once; a hidden list measures nothing until it is shown.
    void windowedRowsFollowWidth()
    {
        ListFixture f(0);
        f.freeSize = true;
        int measured = 0;
        const auto height
            = [&f](const QString& text) { return extentHeight(text) * (f.list->viewport()->width() < 150 ? 2 : 1); };
        f.list->setWindowed(
            true,
            [&](const QModelIndex& index, int) {
                ++measured;
                return QSize(0, height(index.data().toString()));
            },
            [](int) { return QSize(0, 20); });
        f.list->setRowsFollowWidth(true);
        QStringListModel model;
        QVERIFY(resetToTenThousand(f, model, &measured));
        QTRY_COMPARE(measured, 10000);
        f.list->scrollToRow(5000);
        f.list->verticalScrollBar()->setValue(asWidget(f.list->itemAtRow(5000))->y() + 3);
        const QPair<QString, QRect> top = visibleRows(f).first();

        // The new width reaches the list through posted events; its idle turns come with timers, later.
        measured = 0;
        f.window.resize(140, 200);
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        }
        QVERIFY2(measured > 0 && measured < 100, qPrintable(QString::number(measured)));
        const auto checkRows = [&] {
            QCOMPARE(visibleRows(f).first().first, top.first);
            QCOMPARE(visibleRows(f).first().second.top(), top.second.top());
            for (RowWidget* row : f.rows())
                QCOMPARE(row->height(), height(row->text));
        };
        checkRows();
        QTRY_COMPARE(measured, 10000);
        checkRows();
        QCOMPARE(f.list->widget()->height(), 2 * (10 * 20 + 90 * 30 + 900 * 40 + 9000 * 50));

        measured = 0;
        emit model.dataChanged(model.index(0, 0), model.index(9999, 0), { Qt::DisplayRole });
        const int realised = f.rows().size();
        QCOMPARE(measured, realised);
        f.window.hide();
        QTest::qWait(50);
        QVERIFY2(measured < 10000, qPrintable(QString::number(measured)));
        const int whileHidden = measured;
        QTest::qWait(50);
        QCOMPARE(measured, whileHidden);
        f.window.show();
        QTRY_COMPARE(measured, 10000);
        checkRows();
    }

    void keyboardNavigation_data()
    {
        QTest::addColumn<int>("layoutId");
        QTest::addColumn<bool>("windowed");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QList<int>>("focused");
        // 180 px wide grid of 60 px cells: three per row.
        const QList<int> listKeys(
            { Qt::Key_Home, Qt::Key_Down, Qt::Key_Down, Qt::Key_Right, Qt::Key_Up, Qt::Key_End, Qt::Key_Up });
        const QList<int> gridKeys(
            { Qt::Key_Home, Qt::Key_Right, Qt::Key_Down, Qt::Key_Down, Qt::Key_Left, Qt::Key_Up, Qt::Key_End });
        QTest::newRow("list") << 0 << false << 6 << listKeys << QList<int>({ 0, 1, 2, 2, 1, 5, 4 });
        QTest::newRow("grid") << 1 << false << 6 << gridKeys << QList<int>({ 0, 1, 4, 4, 3, 0, 5 });
        QTest::newRow("windowed list") << 0 << true << 6 << listKeys << QList<int>({ 0, 1, 2, 2, 1, 5, 4 });
        QTest::newRow("windowed grid") << 1 << true << 6 << gridKeys << QList<int>({ 0, 1, 4, 4, 3, 0, 5 });
        // Past the realised rows.
        QTest::newRow("windowed grid, 10000")
            << 1 << true << 10000
            << QList<int>({ Qt::Key_Home, Qt::Key_Right, Qt::Key_End, Qt::Key_Left, Qt::Key_Home })
            << QList<int>({ 0, 1, 9999, 9998, 0 });
    }

    void keyboardNavigation()
    {
        QFETCH(int, layoutId);
        QFETCH(bool, windowed);
        QFETCH(int, rows);
        QFETCH(QList<int>, keys);
        QFETCH(QList<int>, focused);
        ListFixture f(layoutId);
        if (windowed)
            f.list->setWindowed(true, [](const QModelIndex&, int) { return QSize(60, 20); });
        QStandardItemModel model;
        fill(model, rows);
        f.list->setModel(&model);
        f.list->setKeyboardNavigationEnabled(true);
        f.window.show();
        f.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f.window, windowwaits::kTimeoutMs));
        QVERIFY(QTest::qWaitFor([&] { return !f.list->viewport()->isHidden(); }));
        settle();
        f.list->setFocus();
        for (int i = 0; i < keys.size(); ++i) {
            QWidget* target = QApplication::focusWidget();
            QTest::keyClick(target, Qt::Key(keys[i]));
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f.row(focused[i])));
        }
        // Modified keys are left alone.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f.row(focused.last())));
    }

    // The widgets follow the model's move; a plain model's copy on a move drop rebuilds the rows in step.
    void dragInsideList()
    {
        {
            ListFixture f(0);
            MovingModel model({ "a", "b", "c", "d" });
            f.list->setModel(&model);
            QSignalSpy counts(f.list, &KelListWidget::rowCountChanged);
            const QList<RowWidget*> before = f.rows();
            dragFirstRowToThird(f);
            QCOMPARE(modelTexts(model), QStringList({ "b", "c", "a", "d" }));
            QCOMPARE(f.rows(), QList<RowWidget*>({ before[1], before[2], before[0], before[3] }));
            QCOMPARE(f.texts(), modelTexts(model));
            QCOMPARE(counts.count(), 0);
            QCOMPARE(f.list->modelIndexForItem(before[0]).data().toString(), QStringLiteral("a"));
        }
        ListFixture f(0);
        QStandardItemModel model;
        fill(model, 4);
        f.list->setModel(&model);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("did not move the row in place"));
        dragFirstRowToThird(f);
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(f.texts(), modelTexts(model));
    }

    void localMoveReordersAndReportsOnce_data()
    {
        QTest::addColumn<bool>("grid");
        QTest::addColumn<QPoint>("target");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("newIndex");
        QTest::newRow("list, below the last row") << false << QPoint(5, 118) << "b,c,d,a" << 3;
        QTest::newRow("grid, onto the next row") << true << QPoint(20, 45) << "b,c,a,d" << 2;
        QTest::newRow("list, back onto its own slot") << false << QPoint(5, 5) << "a,b,c,d" << 0;
    }

    void localMoveReordersAndReportsOnce()
    {
        QFETCH(bool, grid);
        QFETCH(QPoint, target);
        QFETCH(QString, expected);
        QFETCH(int, newIndex);
        DndFixture f(grid);
        QSignalSpy started(&f.dnd, &KelLayoutDnd::dragStarted);
        QSignalSpy moved(&f.dnd, &KelLayoutDnd::widgetMoved);
        QSignalSpy stopped(&f.dnd, &KelLayoutDnd::dragStopped);
        QSignalSpy indicatorShown(&f.dnd, &KelLayoutDnd::dropIndicatorVisibilityChanged);

        f.dragFrom(f.rows[0], target);
        QCOMPARE(started.count(), 1);
        QCOMPARE(started.at(0).at(1).toPoint(), QPoint(5, 5));
        // While dragging the row is out of the layout and the indicator holds its prospective slot.
        QVERIFY(f.rows[0]->isHidden());
        QVERIFY(f.indicator->isVisible());
        QCOMPARE(f.layout->indexOf(f.indicator), newIndex);
        QCOMPARE(f.indicator->size(), f.rows[0]->size());

        f.release(target);
        QCOMPARE(order(f.layout), expected);
        QCOMPARE(moved.count(), newIndex > 0 ? 1 : 0);
        if (newIndex > 0) {
            QCOMPARE(moved.at(0).at(0).value<QWidget*>(), f.rows[0]);
            QCOMPARE(moved.at(0).at(1).toInt(), 0);
            QCOMPARE(moved.at(0).at(2).toInt(), newIndex);
        }
        QCOMPARE(stopped.count(), 1);
        QVERIFY(f.rows[0]->isVisible());
        QVERIFY(f.indicator->isHidden());
        QCOMPARE(indicatorShown.count(), 2);
        QCOMPARE(QWidget::mouseGrabber(), nullptr);
    }

    // A second button held never arms a drag; Escape puts the widget back and the release is no drop.
    void dragsThatMoveNothing()
    {
        DndFixture f;
        QSignalSpy started(&f.dnd, &KelLayoutDnd::dragStarted);
        QSignalSpy moved(&f.dnd, &KelLayoutDnd::widgetMoved);
        QSignalSpy stopped(&f.dnd, &KelLayoutDnd::dragStopped);
        QSignalSpy allowed(&f.dnd, &KelLayoutDnd::dropAllowedChanged);
        sendMouse(f.rows[1], QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton | Qt::RightButton);
        sendMouse(f.rows[1], QEvent::MouseMove, QPoint(5, 25), Qt::NoButton, Qt::LeftButton | Qt::RightButton);
        sendMouse(&f.window, QEvent::MouseMove, QPoint(5, 100), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(started.count(), 0);
        QCOMPARE(QWidget::mouseGrabber(), nullptr);
        QVERIFY(f.indicator->isHidden());

        f.dragFrom(f.rows[1], QPoint(5, 110));
        QCOMPARE(f.layout->indexOf(f.rows[1]), -1);
        QTest::keyClick(&f.window, Qt::Key_Escape);
        QCOMPARE(stopped.count(), 1);
        QCOMPARE(order(f.layout), QStringLiteral("a,b,c,d"));
        QVERIFY(f.rows[1]->isVisible());
        QCOMPARE(QWidget::mouseGrabber(), nullptr);
        QCOMPARE(allowed.last().at(0).toBool(), false);
        f.release(QPoint(5, 110));
        QCOMPARE(moved.count(), 0);

        f.dnd.setLocalMoveEnabled(false);
        f.dragFrom(f.rows[1], QPoint(5, 100));
        QCOMPARE(started.count(), 1);
    }

    void childrenAddedLaterAreWatched()
    {
        DndFixture f;
        QWidget* e = namedRow(&f.window, QStringLiteral("e"));
        static_cast<QBoxLayout*>(f.layout)->insertWidget(0, e);
        f.window.resize(100, 150);
        f.layout->activate();
        QSignalSpy moved(&f.dnd, &KelLayoutDnd::widgetMoved);
        f.dragFrom(e, QPoint(5, 140));
        f.release(QPoint(5, 140));
        QCOMPARE(moved.count(), 1);
        QCOMPARE(order(f.layout), QStringLiteral("a,b,c,d,e"));

        // Once reparented away it no longer starts drags.
        QWidget other;
        e->setParent(&other);
        f.dragFrom(e, QPoint(5, 100));
        QCOMPARE(moved.count(), 1);
        QCOMPARE(QWidget::mouseGrabber(), nullptr);
    }

    void externalDropReportsRow()
    {
        DndFixture f;
        QMimeData good;
        good.setText(QStringLiteral("book"));
        QMimeData bad;
        bad.setData(QStringLiteral("application/x-other"), "x");
        f.dnd.setDropAcceptor([](const QMimeData* data) { return data->hasText(); });
        QSignalSpy dropped(&f.dnd, &KelLayoutDnd::dropped);

        // Switched off: refused.
        QDragEnterEvent offEnter(QPoint(5, 50), Qt::CopyAction, &good, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f.window, &offEnter);
        QVERIFY(!offEnter.isAccepted());

        f.dnd.setExternalDropEnabled(true);
        QDragEnterEvent rejected(QPoint(5, 50), Qt::CopyAction, &bad, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f.window, &rejected);
        QVERIFY(!rejected.isAccepted());

        QDragEnterEvent enter(QPoint(5, 50), Qt::CopyAction | Qt::MoveAction, &good, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f.window, &enter);
        QVERIFY(enter.isAccepted());
        QDragMoveEvent move(QPoint(5, 50), Qt::CopyAction | Qt::MoveAction, &good, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f.window, &move);
        QVERIFY(move.isAccepted());
        QCOMPARE(f.layout->indexOf(f.indicator), 1);
        // The indicator takes a row's size, not the whole container.
        QCOMPARE(f.indicator->height(), 30);

        QDropEvent drop(QPoint(5, 50), Qt::CopyAction | Qt::MoveAction, &good, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f.window, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(dropped.count(), 1);
        QCOMPARE(dropped.at(0).at(2).toInt(), 1);
        QCOMPARE(f.layout->indexOf(f.indicator), -1);
        QCOMPARE(order(f.layout), QStringLiteral("a,b,c,d"));

        // Leaving without a drop takes the indicator away again.
        QApplication::sendEvent(&f.window, &enter);
        QApplication::sendEvent(&f.window, &move);
        QVERIFY(f.indicator->isVisible());
        QDragLeaveEvent leave;
        QApplication::sendEvent(&f.window, &leave);
        QVERIFY(f.indicator->isHidden());
        QCOMPARE(dropped.count(), 1);
    }

    void containerMayDieFirst()
    {
        KelLayoutDnd dnd;
        auto* container = new QWidget;
        auto* layout = new QVBoxLayout(container);
        layout->addWidget(namedRow(container, QStringLiteral("a")));
        dnd.setLayout(layout);
        namedRow(container, QStringLiteral("late"));
        delete container;
        QWidget other;
        auto* otherLayout = new QVBoxLayout(&other);
        dnd.setLayout(otherLayout);
        QCOMPARE(dnd.layout(), otherLayout);
    }
};

QTEST_MAIN(TestKelListWidget)
#include "tst_kellistwidget.moc"

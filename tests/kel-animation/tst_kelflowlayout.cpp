#include "layouts/kelflowlayout.h"

#include <QStyle>
#include <QWidget>
#include <QtTest>

namespace {

// A widget with a chosen size hint; its minimum size hint is half of it.
class Box : public QWidget {
public:
    Box(QSize hint, QWidget* parent = nullptr)
        : QWidget(parent)
        , m_hint(hint)
    {
    }
    QSize sizeHint() const override { return m_hint; }
    QSize minimumSizeHint() const override { return m_hint / 2; }

private:
    QSize m_hint;
};

// A shown container with a flow layout: margins 5, 6, 7, 8, spacings 10 and 4.
struct Fixture {
    Fixture()
    {
        layout = new KelFlowLayout(&container, QMargins(5, 6, 7, 8), 10, 4);
        container.resize(200, 400);
        container.show();
    }

    Box* add(QSize hint)
    {
        auto* box = new Box(hint);
        layout->addWidget(box);
        boxes.append(box);
        return box;
    }

    void addMany(int count, QSize hint)
    {
        for (int i = 0; i < count; ++i)
            add(hint);
    }

    void setWidth(int width)
    {
        // Children added to a shown container are shown from the event loop, and so are layout requests.
        QCoreApplication::processEvents();
        container.resize(width, 400);
        QCoreApplication::processEvents();
        layout->activate();
    }

    QRect geometry(int i) const { return boxes.at(i)->geometry(); }

    QWidget container;
    KelFlowLayout* layout = nullptr;
    QList<Box*> boxes;
};

} // namespace

class TestKelFlowLayout : public QObject {
    Q_OBJECT
private slots:
    void wrapsAsTheWidthChanges();
    void itemsOfVaryingSizes();
    void wideItemOverflowsItsOwnRow();
    void zeroHeightItemsNeverWrap();
    void uniformSizesTakeTheFirstVisibleItem();
    void stretchModes_data();
    void stretchModes();
    void hiddenItemsTakeNoPlace();
    void emptyLayoutMeasuresItsMargins();
    void itemListOperations();
    void derivedSpacing();
};

void TestKelFlowLayout::wrapsAsTheWidthChanges()
{
    Fixture f;
    f.addMany(7, QSize(50, 30));
    // Content from x 5 to 193 (exclusive): three items per row at x 5, 65 and 125.
    f.setWidth(200);
    QCOMPARE(f.geometry(0), QRect(5, 6, 50, 30));
    QCOMPARE(f.geometry(1), QRect(65, 6, 50, 30));
    QCOMPARE(f.geometry(2), QRect(125, 6, 50, 30));
    QCOMPARE(f.geometry(3), QRect(5, 40, 50, 30));
    QCOMPARE(f.geometry(6), QRect(5, 74, 50, 30));
    QCOMPARE(f.layout->heightForWidth(200), 6 + 3 * 30 + 2 * 4 + 8);

    // The fourth item ends exactly on the content edge (235) and stays in the row.
    f.setWidth(242);
    QCOMPARE(f.geometry(3), QRect(185, 6, 50, 30));
    QCOMPARE(f.geometry(4), QRect(5, 40, 50, 30));
    f.setWidth(241);
    QCOMPARE(f.geometry(3), QRect(5, 40, 50, 30));

    f.setWidth(500);
    QCOMPARE(f.geometry(6), QRect(365, 6, 50, 30));
    QCOMPARE(f.layout->heightForWidth(500), 6 + 30 + 8);
    QCOMPARE(f.layout->minimumHeightForWidth(500), 6 + 30 + 8);

    // Narrower than one item: one per row.
    f.setWidth(30);
    QCOMPARE(f.layout->heightForWidth(30), 6 + 7 * 30 + 6 * 4 + 8);
}

void TestKelFlowLayout::itemsOfVaryingSizes()
{
    Fixture f;
    f.add(QSize(60, 20));
    f.add(QSize(40, 50));
    f.add(QSize(70, 10));
    f.add(QSize(30, 30));
    // The third would end at 125 + 70 = 195, past the content edge 193: it opens the second row, which starts
    // below the tallest item of the first (6 + 50 + 4).
    f.setWidth(200);
    QCOMPARE(f.geometry(0), QRect(5, 6, 60, 20));
    QCOMPARE(f.geometry(1), QRect(75, 6, 40, 50));
    QCOMPARE(f.geometry(2), QRect(5, 60, 70, 10));
    QCOMPARE(f.geometry(3), QRect(85, 60, 30, 30));
    QCOMPARE(f.layout->heightForWidth(200), 60 + 30 + 8);
    // Without uniform sizes the minimum is the largest item minimum plus the margins; spacing is not in it.
    QCOMPARE(f.layout->minimumSize(), QSize(35 + 12, 25 + 14));
    QCOMPARE(f.layout->sizeHint(), f.layout->minimumSize());
}

void TestKelFlowLayout::wideItemOverflowsItsOwnRow()
{
    Fixture f;
    f.add(QSize(50, 30));
    f.add(QSize(400, 20));
    f.add(QSize(50, 30));
    f.setWidth(200);
    QCOMPARE(f.geometry(1).topLeft(), QPoint(5, 40));
    QCOMPARE(f.geometry(1).width(), 400);
    QCOMPARE(f.geometry(2).topLeft(), QPoint(5, 64));
}

void TestKelFlowLayout::zeroHeightItemsNeverWrap()
{
    Fixture f;
    f.layout->addItem(new QSpacerItem(0, 0));
    auto* flat = new QWidgetItem(new Box(QSize(150, 0), &f.container));
    auto* flat2 = new QWidgetItem(new Box(QSize(150, 0), &f.container));
    flat->widget()->show();
    flat2->widget()->show();
    f.layout->addItem(flat);
    f.layout->addItem(flat2);
    f.setWidth(200);
    QCOMPARE(flat->geometry().topLeft(), QPoint(5, 6));
    QCOMPARE(flat2->geometry().topLeft(), QPoint(165, 6));
    QCOMPARE(f.layout->heightForWidth(200), 14);
}

void TestKelFlowLayout::uniformSizesTakeTheFirstVisibleItem()
{
    Fixture f;
    f.add(QSize(50, 30));
    f.add(QSize(20, 90));
    f.add(QSize(80, 10));
    f.layout->setUniformItemSizes(true);
    QVERIFY(f.layout->uniformItemSizes());
    f.setWidth(200);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(f.geometry(i).size(), QSize(50, 30));
    QCOMPARE(f.geometry(2).topLeft(), QPoint(125, 6));
    QCOMPARE(f.layout->minimumSize(), QSize(25 + 12, 15 + 14));
}

void TestKelFlowLayout::stretchModes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("items");
    QTest::addColumn<QSize>("cell");
    QTest::addColumn<QPoint>("lastPos");
    // Content 400 wide (x 5 to 405) with spacing 10: 410 / 110 less half a pitch gives 3 columns of
    // 410 / 3 - 10 = 126, heights scaled by 1.26.
    QTest::newRow("no stretch") << int(KelFlowLayout::NoStretch) << 4 << QSize(100, 50) << QPoint(5, 60);
    QTest::newRow("stretch, one row") << int(KelFlowLayout::Stretch) << 2 << QSize(126, 63) << QPoint(141, 6);
    QTest::newRow("stretch, wrapped") << int(KelFlowLayout::Stretch) << 4 << QSize(126, 63) << QPoint(5, 73);
    QTest::newRow("when wrapped, fits") << int(KelFlowLayout::StretchWhenWrapped) << 3 << QSize(100, 50)
                                        << QPoint(225, 6);
    QTest::newRow("when wrapped, one more")
        << int(KelFlowLayout::StretchWhenWrapped) << 4 << QSize(126, 63) << QPoint(5, 73);
}

void TestKelFlowLayout::stretchModes()
{
    QFETCH(int, mode);
    QFETCH(int, items);
    QFETCH(QSize, cell);
    QFETCH(QPoint, lastPos);
    Fixture f;
    f.addMany(items, QSize(100, 50));
    f.layout->setUniformItemSizes(true);
    f.layout->setStretchMode(KelFlowLayout::StretchMode(mode));
    f.setWidth(412);
    for (int i = 0; i < items; ++i)
        QCOMPARE(f.geometry(i).size(), cell);
    QCOMPARE(f.geometry(items - 1).topLeft(), lastPos);
    QCOMPARE(f.layout->heightForWidth(412), lastPos.y() + cell.height() + 8);
}

void TestKelFlowLayout::hiddenItemsTakeNoPlace()
{
    Fixture f;
    f.add(QSize(50, 30));
    f.add(QSize(70, 40));
    f.add(QSize(50, 30));
    f.add(QSize(50, 30));
    f.boxes.at(0)->hide();
    f.layout->setUniformItemSizes(true);
    f.setWidth(200);
    // The first visible item sets the uniform size; the hidden one leaves no gap.
    QCOMPARE(f.geometry(1), QRect(5, 6, 70, 40));
    QCOMPARE(f.geometry(2), QRect(85, 6, 70, 40));
    QCOMPARE(f.geometry(3), QRect(5, 50, 70, 40));
    QCOMPARE(f.layout->minimumSize(), QSize(35 + 12, 20 + 14));

    // Stretching counts the visible items only. At 260 the row has room for two columns
    // ((258 - 40) / 80), and two of the four items are visible: no widening.
    f.layout->setStretchMode(KelFlowLayout::StretchWhenWrapped);
    f.boxes.at(3)->hide();
    f.setWidth(260);
    QCOMPARE(f.geometry(1), QRect(5, 6, 70, 40));
    QCOMPARE(f.geometry(2), QRect(85, 6, 70, 40));
    // A third visible one wraps, so all widen to 258 / 2 - 10 = 119 and 40 * 119 / 70 = 68.
    f.boxes.at(3)->show();
    f.setWidth(260);
    QCOMPARE(f.geometry(1), QRect(5, 6, 119, 68));
    QCOMPARE(f.geometry(3), QRect(5, 78, 119, 68));

    f.boxes.at(0)->show();
    f.boxes.at(3)->show();
    f.layout->setStretchMode(KelFlowLayout::NoStretch);
    f.setWidth(200);
    QCOMPARE(f.geometry(0), QRect(5, 6, 50, 30));
    QCOMPARE(f.geometry(1), QRect(65, 6, 50, 30));
}

void TestKelFlowLayout::emptyLayoutMeasuresItsMargins()
{
    KelFlowLayout layout(nullptr, QMargins(1, 2, 3, 4), 5, 6);
    QCOMPARE(layout.heightForWidth(100), 6);
    QCOMPARE(layout.heightForWidth(0), 6);
    QCOMPARE(layout.minimumSize(), QSize(4, 6));
    QCOMPARE(layout.sizeHint(), QSize(4, 6));
    layout.setUniformItemSizes(true);
    QCOMPARE(layout.minimumSize(), QSize(4, 6));
}

void TestKelFlowLayout::itemListOperations()
{
    Fixture f;
    f.addMany(3, QSize(50, 30));
    QVERIFY(!f.layout->itemAt(-1));
    QVERIFY(!f.layout->itemAt(3));
    QVERIFY(!f.layout->takeAt(-1));
    QVERIFY(!f.layout->takeAt(3));
    QCOMPARE(f.layout->count(), 3);

    auto* first = new Box(QSize(20, 20));
    f.layout->insertWidget(0, first);
    auto* last = new Box(QSize(20, 20));
    f.layout->insertWidget(-1, last);
    QCOMPARE(first->parentWidget(), &f.container);
    QCOMPARE(f.layout->count(), 5);
    QCOMPARE(f.layout->itemAt(0)->widget(), first);
    QCOMPARE(f.layout->itemAt(4)->widget(), last);
    f.setWidth(400);
    QCOMPARE(first->geometry().topLeft(), QPoint(5, 6));
    QCOMPARE(f.geometry(0).topLeft(), QPoint(35, 6));

    f.layout->insertWidget(0, nullptr);
    f.layout->insertWidget(0, &f.container);
    QCOMPARE(f.layout->count(), 5);

    QLayoutItem* taken = f.layout->takeAt(0);
    QCOMPARE(taken->widget(), first);
    delete taken;
    f.setWidth(401);
    QCOMPARE(f.geometry(0).topLeft(), QPoint(5, 6));
}

void TestKelFlowLayout::derivedSpacing()
{
    QWidget container;
    auto* layout = new KelFlowLayout(&container);
    QCOMPARE(layout->horizontalSpacing(),
        container.style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, &container));
    QCOMPARE(layout->verticalSpacing(),
        container.style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing, nullptr, &container));

    QHBoxLayout parentLayout;
    parentLayout.setSpacing(9);
    auto* nested = new KelFlowLayout(nullptr, QMargins(), -1, 3);
    parentLayout.addLayout(nested);
    QCOMPARE(nested->horizontalSpacing(), 9);
    QCOMPARE(nested->verticalSpacing(), 3);

    KelFlowLayout orphan;
    QCOMPARE(orphan.horizontalSpacing(), -1);
}

QTEST_MAIN(TestKelFlowLayout)
#include "tst_kelflowlayout.moc"

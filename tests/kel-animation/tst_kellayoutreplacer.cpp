#include "layouts/kelflowlayout.h"
#include "layouts/kellayoutreplacer.h"

#include <QBoxLayout>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

namespace {

enum LayoutId { ListId = 0, GridId = 1 };

// A host whose root box layout holds a header, the switchable area and a footer; the area starts as a
// vertical list with a flow grid in reserve.
struct Fixture {
    Fixture()
    {
        root = new QVBoxLayout(&host);
        root->setContentsMargins(0, 0, 0, 0);
        root->addWidget(new QLabel("header"));
        root->addWidget(new QLabel("footer"));
        list = new QVBoxLayout;
        grid = new KelFlowLayout(nullptr, QMargins(), 0, 12);
        replacer = new KelLayoutReplacer(&host);
        replacer->registerLayout(ListId, list);
        replacer->registerLayout(GridId, grid);
        replacer->setCurrentLayoutId(ListId);
        root->insertLayout(1, list);
    }

    // Named widgets added through the replacer, none of them shown yet.
    void addWidgets(const QString& names)
    {
        for (const QChar& name : names) {
            auto* widget = new QLabel(QString(name));
            widget->setObjectName(QString(name));
            widget->setFixedSize(40, 20);
            replacer->insertWidget(-1, widget);
        }
    }

    QString order() const
    {
        QString names;
        QLayout* layout = replacer->currentLayout();
        for (int i = 0; i < layout->count(); ++i)
            names += layout->itemAt(i)->widget()->objectName();
        return names;
    }

    QWidget host;
    QVBoxLayout* root = nullptr;
    QVBoxLayout* list = nullptr;
    KelFlowLayout* grid = nullptr;
    KelLayoutReplacer* replacer = nullptr;
};

} // namespace

class TestKelLayoutReplacer : public QObject {
    Q_OBJECT
private slots:
    void firstSelectionKeepsTheOthersInReserve();
    void switchingCarriesItemsAndPlace();
    void switchingKeepsHiddenWidgets();
    void selectingAgainOrUnknownChangesNothing();
    void moveItems_data();
    void moveItems();
    void registrationAndOwnership();
};

void TestKelLayoutReplacer::firstSelectionKeepsTheOthersInReserve()
{
    QWidget host;
    auto* list = new QVBoxLayout;
    auto* grid = new KelFlowLayout;
    KelLayoutReplacer replacer;
    QCOMPARE(replacer.currentLayoutId(), -1);
    QVERIFY(!replacer.currentLayout());
    replacer.registerLayout(ListId, list);
    replacer.registerLayout(GridId, grid);
    QVERIFY(!grid->parent());

    QSignalSpy aboutToChange(&replacer, &KelLayoutReplacer::currentLayoutIdAboutToChange);
    QSignalSpy changed(&replacer, &KelLayoutReplacer::currentLayoutIdChanged);
    replacer.setCurrentLayoutId(GridId);
    QCOMPARE(aboutToChange.count(), 1);
    QCOMPARE(aboutToChange.first(), QVariantList({ GridId, -1 }));
    QCOMPARE(changed.first(), QVariantList({ GridId, -1 }));
    QCOMPARE(replacer.currentLayout(), grid);
    QCOMPARE(list->parent(), &replacer);
    // Placing the current layout is the owner's business.
    QVERIFY(!grid->parent());
    host.setLayout(grid);
}

void TestKelLayoutReplacer::switchingCarriesItemsAndPlace()
{
    Fixture f;
    f.addWidgets("PQRST");
    f.host.resize(130, 300);
    f.host.show();
    QCOMPARE(f.list->count(), 5);

    QSignalSpy aboutToChange(f.replacer, &KelLayoutReplacer::currentLayoutIdAboutToChange);
    QSignalSpy changed(f.replacer, &KelLayoutReplacer::currentLayoutIdChanged);
    // Listeners before the switch still see the old layout current.
    QList<QLayout*> currentBefore;
    connect(f.replacer, &KelLayoutReplacer::currentLayoutIdAboutToChange,
        [&] { currentBefore.append(f.replacer->currentLayout()); });
    f.replacer->setCurrentLayoutId(GridId);
    QCOMPARE(aboutToChange.first(), QVariantList({ GridId, ListId }));
    QCOMPARE(changed.first(), QVariantList({ GridId, ListId }));
    QCOMPARE(currentBefore, QList<QLayout*>({ f.list }));

    QCOMPARE(f.replacer->currentLayout(), f.grid);
    QCOMPARE(f.root->indexOf(f.grid), 1);
    QCOMPARE(f.root->indexOf(f.list), -1);
    QCOMPARE(f.list->parent(), f.replacer);
    QCOMPARE(f.list->count(), 0);
    QCOMPARE(f.order(), QString("PQRST"));

    // The grid now places the widgets: three in a row of 130, below the header.
    QCoreApplication::processEvents();
    f.root->activate();
    auto* p = f.host.findChild<QLabel*>("P");
    auto* r = f.host.findChild<QLabel*>("R");
    auto* s = f.host.findChild<QLabel*>("S");
    QCOMPARE(r->y(), p->y());
    QCOMPARE(r->x(), 80);
    QCOMPARE(s->x(), 0);
    QCOMPARE(s->y(), p->y() + 20 + 12);

    // And back: the list stands where the grid stood, with the items in order.
    f.replacer->setCurrentLayoutId(ListId);
    QCOMPARE(f.root->indexOf(f.list), 1);
    QCOMPARE(f.grid->parent(), f.replacer);
    QCOMPARE(f.order(), QString("PQRST"));
    QCOMPARE(changed.last(), QVariantList({ ListId, GridId }));

    // Changing a layout in reserve is harmless.
    f.grid->setUniformItemSizes(true);
    f.grid->setStretchMode(KelFlowLayout::Stretch);
    f.replacer->setCurrentLayoutId(GridId);
    QCoreApplication::processEvents();
    f.root->activate();
    QCOMPARE(f.order(), QString("PQRST"));
}

void TestKelLayoutReplacer::switchingKeepsHiddenWidgets()
{
    // Hidden widgets count as empty items, so a layout holding only hidden ones reads as empty.
    Fixture f;
    f.addWidgets("PQRS");
    for (const char* name : { "P", "Q", "R", "S" })
        f.host.findChild<QLabel*>(name)->hide();
    QVERIFY(f.list->isEmpty());
    f.replacer->setCurrentLayoutId(GridId);
    QCOMPARE(f.grid->count(), 4);
    QCOMPARE(f.list->count(), 0);
    QCOMPARE(f.order(), QString("PQRS"));

    // Hidden ones at the end stay with the rest as well.
    f.host.findChild<QLabel*>("P")->show();
    f.host.findChild<QLabel*>("Q")->show();
    f.replacer->setCurrentLayoutId(ListId);
    QCOMPARE(f.order(), QString("PQRS"));
    QCOMPARE(f.grid->count(), 0);

    f.host.show();
    QCoreApplication::processEvents();
    QVERIFY(f.host.findChild<QLabel*>("Q")->isVisible());
    QVERIFY(!f.host.findChild<QLabel*>("R")->isVisible());
}

void TestKelLayoutReplacer::selectingAgainOrUnknownChangesNothing()
{
    Fixture f;
    f.addWidgets("PQ");
    QSignalSpy changed(f.replacer, &KelLayoutReplacer::currentLayoutIdChanged);
    f.replacer->setCurrentLayoutId(ListId);
    QTest::ignoreMessage(QtWarningMsg, "7 is not registered and can't be selected as current!");
    f.replacer->setCurrentLayoutId(7);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(f.replacer->currentLayoutId(), int(ListId));
    QCOMPARE(f.order(), QString("PQ"));
}

void TestKelLayoutReplacer::moveItems_data()
{
    QTest::addColumn<int>("layoutId");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("destination");
    QTest::addColumn<QString>("expected");
    for (int id : { int(ListId), int(GridId) }) {
        const char* name = id == ListId ? "list" : "grid";
        QTest::addRow("%s: down", name) << id << 2 << 3 << 6 << "PQTURSV";
        QTest::addRow("%s: up", name) << id << 4 << 5 << 1 << "PTUQRSV";
        QTest::addRow("%s: to the end", name) << id << 0 << 0 << 7 << "QRSTUVP";
        QTest::addRow("%s: negative first", name) << id << -1 << 2 << 5 << "PQRSTUV";
    }
}

void TestKelLayoutReplacer::moveItems()
{
    QFETCH(int, layoutId);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(int, destination);
    QFETCH(QString, expected);
    Fixture f;
    f.replacer->setCurrentLayoutId(layoutId);
    f.addWidgets("PQRSTUV");
    f.replacer->moveItems(first, last, destination);
    QCOMPARE(f.order(), expected);
}

void TestKelLayoutReplacer::registrationAndOwnership()
{
    QPointer<QLayout> list = new QVBoxLayout;
    QPointer<QLayout> grid = new KelFlowLayout;
    QPointer<QLayout> replaced = new QHBoxLayout;
    QWidget host;
    auto* root = new QVBoxLayout(&host);
    {
        KelLayoutReplacer replacer;
        replacer.registerLayout(ListId, replaced);
        replacer.registerLayout(ListId, list);
        replacer.registerLayout(GridId, grid);
        replacer.setCurrentLayoutId(ListId);
        QCOMPARE(replacer.currentLayout(), list.data());
        QVERIFY(!replaced->parent());
        root->addLayout(list);
        replacer.setCurrentLayoutId(GridId);
        replacer.setCurrentLayoutId(ListId);
        // A destroyed layout cannot be selected; the current one stays.
        delete grid;
        QTest::ignoreMessage(QtWarningMsg, "Layout with id 1 is destroyed and can't be selected as current!");
        replacer.setCurrentLayoutId(GridId);
        QCOMPARE(replacer.currentLayout(), list.data());
        QCOMPARE(root->indexOf(list), 0);
    }
    // The reserve died with the replacer; the current layout stays in place.
    QVERIFY(list);
    QCOMPARE(list->parent(), root);
    QVERIFY(replaced);

    // Registered but never placed anywhere: reported and deleted with the replacer.
    {
        KelLayoutReplacer replacer;
        replacer.registerLayout(ListId, replaced);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("with id 0 has no parent!$"));
    }
    QVERIFY(!replaced);
}

QTEST_MAIN(TestKelLayoutReplacer)
#include "tst_kellayoutreplacer.moc"

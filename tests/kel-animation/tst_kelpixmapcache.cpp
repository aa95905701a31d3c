#include "utils/kelpixmapcache.h"

#include <QtTest>

namespace {

// 256 x 256 at 32 bits is 256 KB: four of them fill one megabyte exactly.
QPixmap quarterMegabyte(Qt::GlobalColor color)
{
    QPixmap pixmap(256, 256);
    pixmap.fill(color);
    return pixmap;
}

} // namespace

class TestKelPixmapCache : public QObject {
    Q_OBJECT
private slots:
    void costIsKilobytesAtLeastOne();
    void insertFindRemove();
    void evictsLeastRecentlyUsedByCost();
    void replacingFreesTheOldCost();
    void oversizedPixmapIsRefusedAndForgetsTheKey();
    void lowerLimitEvictsAtOnce();
};

void TestKelPixmapCache::costIsKilobytesAtLeastOne()
{
    QCOMPARE(quarterMegabyte(Qt::red).depth(), 32);
    QCOMPARE(KelPixmapCache::costOf(quarterMegabyte(Qt::red)), 256);
    QCOMPARE(KelPixmapCache::costOf(QPixmap(100, 100)), 100 * 100 * 32 / 8192);
    QCOMPARE(KelPixmapCache::costOf(QPixmap()), 1);
    QCOMPARE(KelPixmapCache::costOf(QPixmap(1, 1)), 1);

    KelPixmapCache cache;
    cache.setCacheLimit(50);
    QCOMPARE(cache.cacheLimitKb(), 50 * 1024);
    // Absurd limits neither overflow nor go negative.
    cache.setCacheLimit(std::numeric_limits<int>::max());
    QCOMPARE(cache.cacheLimitKb(), std::numeric_limits<int>::max());
    cache.setCacheLimit(-5);
    QCOMPARE(cache.cacheLimitKb(), 0);
}

void TestKelPixmapCache::insertFindRemove()
{
    KelPixmapCache cache;
    cache.setObjectName("KelIconsCache");
    QPixmap found;
    QVERIFY(!cache.find("icon", &found));

    cache.insert("icon", quarterMegabyte(Qt::blue));
    QVERIFY(cache.find("icon", &found));
    QCOMPARE(found.size(), QSize(256, 256));
    QCOMPARE(found.toImage().pixelColor(5, 5), QColor(Qt::blue));
    QVERIFY(cache.find("icon", nullptr));
    QVERIFY(!cache.find("Icon", nullptr));

    cache.insert("empty", QPixmap());
    QVERIFY(cache.find("empty", &found));
    QVERIFY(found.isNull());
    QCOMPARE(cache.totalCostKb(), 257);

    cache.remove("icon");
    cache.remove("never there");
    QVERIFY(!cache.find("icon", &found));
    QCOMPARE(cache.count(), 1);
    QCOMPARE(cache.totalCostKb(), 1);
}

void TestKelPixmapCache::evictsLeastRecentlyUsedByCost()
{
    KelPixmapCache cache;
    cache.setCacheLimit(1);
    cache.insert("a", quarterMegabyte(Qt::red));
    cache.insert("b", quarterMegabyte(Qt::green));
    cache.insert("c", quarterMegabyte(Qt::blue));
    cache.insert("d", quarterMegabyte(Qt::yellow));
    QCOMPARE(cache.count(), 4);
    QCOMPARE(cache.totalCostKb(), 1024);

    // Finding "a" (even without a copy) makes it recent, so "b" is the one to go.
    QVERIFY(cache.find("a", nullptr));
    cache.insert("e", quarterMegabyte(Qt::cyan));
    QVERIFY(cache.find("a", nullptr));
    QVERIFY(!cache.find("b", nullptr));
    QVERIFY(cache.find("c", nullptr));
    QVERIFY(cache.find("d", nullptr));
    QVERIFY(cache.find("e", nullptr));
    QCOMPARE(cache.totalCostKb(), 1024);

    // A half-megabyte pixmap needs two places: the two least recently used ("a" then "c") go.
    QPixmap half(512, 256);
    half.fill(Qt::black);
    cache.insert("f", half);
    QVERIFY(!cache.find("a", nullptr));
    QVERIFY(!cache.find("c", nullptr));
    QVERIFY(cache.find("d", nullptr));
    QVERIFY(cache.find("e", nullptr));
    QVERIFY(cache.find("f", nullptr));
    QCOMPARE(cache.totalCostKb(), 1024);
}

void TestKelPixmapCache::replacingFreesTheOldCost()
{
    KelPixmapCache cache;
    cache.insert("shadow", quarterMegabyte(Qt::red));
    cache.insert("shadow", QPixmap(16, 16));
    QCOMPARE(cache.count(), 1);
    QCOMPARE(cache.totalCostKb(), 1);
    QPixmap found;
    QVERIFY(cache.find("shadow", &found));
    QCOMPARE(found.size(), QSize(16, 16));
}

void TestKelPixmapCache::oversizedPixmapIsRefusedAndForgetsTheKey()
{
    KelPixmapCache cache;
    cache.setCacheLimit(1);
    cache.insert("big", quarterMegabyte(Qt::red));
    cache.insert("other", quarterMegabyte(Qt::green));
    QVERIFY(cache.find("big", nullptr));
    cache.insert("big", QPixmap(1024, 1024));
    QVERIFY(!cache.find("big", nullptr));
    // Nothing else was evicted for it.
    QVERIFY(cache.find("other", nullptr));
    QCOMPARE(cache.totalCostKb(), 256);
}

void TestKelPixmapCache::lowerLimitEvictsAtOnce()
{
    KelPixmapCache cache;
    cache.setCacheLimit(2);
    for (int i = 0; i < 8; ++i)
        cache.insert(QString::number(i), quarterMegabyte(Qt::red));
    QCOMPARE(cache.count(), 8);
    cache.setCacheLimit(1);
    QCOMPARE(cache.count(), 4);
    QVERIFY(!cache.find("3", nullptr));
    QVERIFY(cache.find("4", nullptr));

    cache.setCacheLimit(0);
    QCOMPARE(cache.count(), 0);
    cache.insert("tiny", QPixmap(1, 1));
    QVERIFY(!cache.find("tiny", nullptr));
}

QTEST_MAIN(TestKelPixmapCache)
#include "tst_kelpixmapcache.moc"

#include "platform/x11/kelsystemutils.h"
#include "platform/x11/regionutils.h"
#include "utils/kelhooks.h"
#include "utils/kelwindowmaskutils.h"

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <cerrno>

namespace {

bool sameArea(const QRegion& a, const QRegion& b) { return a.xored(b).isEmpty(); }

} // namespace

class TestKelRegions : public QObject {
    Q_OBJECT

private slots:
    void rectRegions()
    {
        const QRect rect(10, 20, 30, 16);
        QCOMPARE(RegionUtils::createRectRegion(rect, 0), QRegion(rect));
        // Rounded: one pixel wider and taller, with 8 x 8 corner ellipses for radius 4.
        const QRegion rounded = RegionUtils::createRectRegion(rect, 4);
        QCOMPARE(rounded.boundingRect(), QRect(10, 20, 31, 17));
        for (const QPoint& corner : { QPoint(10, 20), QPoint(40, 20), QPoint(10, 36), QPoint(40, 36) })
            QVERIFY2(!rounded.contains(corner), qPrintable(QStringLiteral("%1,%2").arg(corner.x()).arg(corner.y())));
        QVERIFY(rounded.contains(QPoint(14, 20)));
        QVERIFY(rounded.contains(QPoint(10, 24)));
        QVERIFY(rounded.contains(QPoint(40, 28)));
        QVERIFY(!rounded.contains(QPoint(11, 21)) || rounded.contains(QPoint(12, 22)));
        // A radius larger than the rectangle still gives a region inside it.
        QVERIFY(QRect(0, 0, 5, 5).contains(RegionUtils::createRectRegion(QRect(0, 0, 4, 4), 20).boundingRect()));
    }

    void combiningRegions()
    {
        QRegion region(0, 0, 10, 10);
        RegionUtils::combineRect(region, QRect(5, 0, 10, 10), 0, RegionUtils::CombineOr);
        QCOMPARE(region, QRegion(0, 0, 15, 10));
        RegionUtils::combineRect(region, QRect(0, 0, 5, 10), 0, RegionUtils::CombineDiff);
        QCOMPARE(region, QRegion(5, 0, 10, 10));
        RegionUtils::combineRect(region, QRect(5, 0, 2, 2), 0, RegionUtils::CombineXor);
        QVERIFY(!region.contains(QPoint(5, 0)) && region.contains(QPoint(7, 0)));
        RegionUtils::combineRect(region, QRect(0, 5, 100, 100), 0, RegionUtils::CombineAnd);
        QCOMPARE(region, QRegion(5, 5, 10, 5));
        RegionUtils::combineRect(region, QRect(0, 0, 1, 1), 0, RegionUtils::CombineCopy);
        QCOMPARE(region, QRegion(5, 5, 10, 5));
    }

    void scaledRegions()
    {
        QCOMPARE(KelUtils::scaledRegion(QRegion(1, 1, 3, 3), 0.5), QRegion(0, 0, 2, 2));
        // A rectangle starting on an odd device pixel keeps its last column.
        QCOMPARE(KelUtils::scaledRegion(QRegion(1, 0, 2, 2), 0.5), QRegion(0, 0, 2, 1));
        QCOMPARE(KelUtils::scaledRegion(QRegion(2, 4, 10, 6), 1.5), QRegion(3, 6, 15, 9));
        QRegion two(0, 0, 4, 4);
        two += QRect(10, 10, 4, 4);
        QCOMPARE(KelUtils::scaledRegion(two, 0.5).rectCount(), 2);
    }

    void masksFromPaths_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::newRow("100%") << 1.0;
        QTest::newRow("150%") << 1.5;
        QTest::newRow("200%") << 2.0;
    }
    void masksFromPaths()
    {
        QFETCH(double, ratio);
        QPainterPath box;
        box.addRect(QRectF(0, 0, 10, 10));
        const QSize size(20, 20);
        const QPoint offset(4, 4);
        const QRect device(qRound(4 * ratio), qRound(4 * ratio), qRound(10 * ratio), qRound(10 * ratio));

        const QRegion filled = KelUtils::maskRegionFromPath(ratio, size, offset, box, 0, false, false);
        QVERIFY(sameArea(filled, QRegion(device)));
        const QRegion inverted = KelUtils::maskRegionFromPath(ratio, size, offset, box, 0, true, false);
        QVERIFY(sameArea(inverted, QRegion(0, 0, qRound(20 * ratio), qRound(20 * ratio)) - device));
        // The outline is a whole number of device pixels wide; excluding it shrinks the mask evenly.
        const QRegion outlined = KelUtils::maskRegionFromPath(ratio, size, offset, box, 2, false, true);
        const QRect inner = outlined.boundingRect();
        QVERIFY(!inner.isEmpty());
        QVERIFY(device.contains(inner));
        QVERIFY(inner.left() > device.left() && inner.top() > device.top());
        QVERIFY(qAbs((inner.left() - device.left()) - (device.right() - inner.right())) <= 1);
        QVERIFY(qAbs((inner.top() - device.top()) - (device.bottom() - inner.bottom())) <= 1);
        const QRegion withPen = KelUtils::maskRegionFromPath(ratio, size, offset, box, 2, false, false);
        QVERIFY(withPen.boundingRect().contains(device));
    }

    void maskRefusesNullWidgets()
    {
        KelUtils::setMask(nullptr, QRegion(0, 0, 1, 1));
        KelUtils::setMask(nullptr, QSize(5, 5), QPoint(), QPainterPath(), 1, false, false);
        KelUtils::clearMask(nullptr);
    }

    void nativeRegionMode()
    {
        installWidgetAtHook();
        installWindowGeometryHook();
        QVERIFY(!KelUtils::isNativeRegionMode());
        QVERIFY(KelHooks::instance().installHook(nullptr, nullptr) == nullptr);

        KelUtils::setNativeRegionMode(true);
        QWidget window;
        window.resize(50, 50);
        QWidget child(&window);
        child.resize(20, 20);
        KelUtils::setMask(&window, QRegion(0, 0, 30, 30));
        QCOMPARE(window.mask(), QRegion(0, 0, 30, 30));
        // An empty region is refused and leaves the shape as it was.
        QTest::ignoreMessage(QtWarningMsg, "Create win region FAILED.");
        KelUtils::setMask(&window, QRegion());
        QCOMPARE(window.mask(), QRegion(0, 0, 30, 30));
        // A child widget still takes Qt's widget mask.
        KelUtils::setMask(&child, QRegion(0, 0, 5, 5));
        QCOMPARE(child.mask(), QRegion(0, 0, 5, 5));
        QCOMPARE(window.mask(), QRegion(0, 0, 30, 30));
        KelUtils::clearMask(&window);
        QVERIFY(window.mask().isEmpty());
        KelUtils::setNativeRegionMode(false);
    }

    void windowGeometry()
    {
        QCOMPARE(windowGeometryFromNative(nullptr), QRect());
        QWindow notCreated;
        notCreated.setGeometry(10, 20, 30, 40);
        QCOMPARE(windowGeometryFromNative(&notCreated), QRect(10, 20, 30, 40));
        QWidget window;
        window.setGeometry(60, 70, 80, 90);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(windowGeometryFromNative(window.windowHandle()), window.windowHandle()->geometry());
        QCOMPARE(regionAwareWidgetAt(window.mapToGlobal(QPoint(5, 5))), &window);
    }

    void systemErrorsAndVersions()
    {
        errno = 0;
        QVERIFY(KelUtils::lastWinErrorText().isEmpty());
        errno = ENOENT;
        const QString text = KelUtils::lastWinErrorText();
        QVERIFY2(text.endsWith(QStringLiteral(" (%1)").arg(ENOENT)), qPrintable(text));
        QVERIFY(text.length() > 5);
    }
};

QTEST_MAIN(TestKelRegions)
#include "tst_kelregions.moc"

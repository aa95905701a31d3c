// Widgets on a screen scaled to 150 %, where logical pixels fall between device pixels.
#include "painting/kelpainting.h"
#include "utils/kelgeometryutils.h"
#include "utils/kelwindowmaskutils.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

class TestKelScaledWidgets : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QWidget probe;
        if (!qFuzzyCompare(probe.devicePixelRatioF(), 1.5))
            QSKIP("The platform does not scale widgets by QT_SCALE_FACTOR");
    }

    void devicePositionsAndMasks()
    {
        QWidget window;
        window.setGeometry(100, 50, 120, 80);
        QWidget child(&window);
        child.setGeometry(10, 20, 30, 30);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint global = child.mapToGlobal(QPoint(5, 7));
        const QPoint device(qRound(global.x() * 1.5), qRound(global.y() * 1.5));
        QCOMPARE(KelUtils::mapDeviceToWidget(&child, device), QPoint(5, 7));
        QCOMPARE(KelUtils::mapDeviceToWidget(&window, device), QPoint(15, 27));

        QCOMPARE(KelPainting::blurredWidgetPixmap(&child, 3).size(), QSize(45, 45));
        // Masks take device pixels: 0..2 end at logical 2.
        KelUtils::setMask(&child, QRegion(0, 0, 3, 3));
        QCOMPARE(child.mask(), QRegion(0, 0, 2, 2));
        QPainterPath circle;
        circle.addEllipse(QRectF(0, 0, 30, 30));
        KelUtils::setMask(&child, QSize(30, 30), QPoint(0, 0), circle, 0, false, false);
        QVERIFY(child.mask().contains(QPoint(15, 15)));
        QVERIFY(!child.mask().contains(QPoint(1, 1)));
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_SCALE_FACTOR", "1.5");
    QApplication app(argc, argv);
    TestKelScaledWidgets test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_kelscaledwidgets.moc"

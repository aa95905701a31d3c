#include "imagetesthelpers.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"

#include <QApplication>
#include <QStyleOption>
#include <QTest>
#include <QWidget>

#include <cmath>

namespace {

bool isWhole(double v) { return std::fabs(v - std::round(v)) < 1e-9; }

// Opens a second context on its own painter inside the paint event, as proxy-style drawing does.
class NestingWidget : public QWidget {
public:
    int countWhileNested = 0;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override
    {
        KelPaintContext context(this);
        {
            QStyleOption option;
            option.rect = rect();
            KelPaintContext nested(context.painter(), &option);
            countWhileNested = KelPaintContext::openContextCount(this);
        }
        ++paints;
    }
};

class MarginsWidget : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        KelPaintContext context(this);
        context.drawDiagnosticContentsMargins(this);
    }
};

} // namespace

class TestKelPaintContext : public QObject {
    Q_OBJECT

private slots:
    void wholeRatiosKeepTheDeviceRectangle_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::newRow("100%") << 1.0;
        QTest::newRow("200%") << 2.0;
    }
    void wholeRatiosKeepTheDeviceRectangle()
    {
        QFETCH(double, ratio);
        QImage image = makeImage(QSize(30, 20), ratio);
        KelPaintContext context(&image);
        QCOMPARE(context.devicePixelRatio(), ratio);
        QCOMPARE(context.rect(), QRectF(0, 0, 30, 20));
        QCOMPARE(context.painter()->deviceTransform(), QTransform::fromScale(ratio, ratio));
        QCOMPARE(KelPaintContext::openContextCount(&image), 1);
        QCOMPARE(context.snapToDevicePixels(QRectF(0.3, 0, 1, 1)), QRectF(0.3, 0, 1, 1));
    }

    void fractionalRatioPutsTheOriginOnADevicePixel_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::addColumn<QPointF>("offset");
        QTest::newRow("150% at 3,3") << 1.5 << QPointF(3, 3);
        QTest::newRow("125% at 1,2") << 1.25 << QPointF(1, 2);
        QTest::newRow("150% at 0.2,7") << 1.5 << QPointF(0.2, 7);
    }
    void fractionalRatioPutsTheOriginOnADevicePixel()
    {
        QFETCH(double, ratio);
        QFETCH(QPointF, offset);
        QImage image = makeImage(QSize(40, 40), ratio);
        QPainter painter(&image);
        painter.translate(offset);
        const QTransform before = painter.deviceTransform();
        QStyleOption option;
        option.rect = QRect(0, 0, 11, 7);
        {
            KelPaintContext context(&painter, &option);
            QCOMPARE(context.painter(), &painter);
            QCOMPARE(context.devicePixelRatio(), ratio);
            const QTransform& transform = painter.deviceTransform();
            QVERIFY(isWhole(transform.dx()) && isWhole(transform.dy()));
            const QRectF rect = context.rect();
            for (const QPointF& corner : { rect.topLeft(), rect.bottomRight() }) {
                const QPointF device = transform.map(corner);
                QVERIFY2(isWhole(device.x()) && isWhole(device.y()),
                    qPrintable(QStringLiteral("%1,%2").arg(device.x()).arg(device.y())));
            }
            // Each edge moves by less than one device pixel.
            QVERIFY(std::fabs(rect.width() - 11) < 1.0 / ratio + 1e-9);
            QVERIFY(std::fabs(rect.height() - 7) < 1.0 / ratio + 1e-9);
            painter.setPen(Qt::red);
            painter.translate(5, 5);
        }
        QCOMPARE(painter.deviceTransform(), before);
        QCOMPARE(painter.pen().color(), QColor(Qt::black));
        QCOMPARE(KelPaintContext::openContextCount(&image), 0);
    }

    void nullDeviceLeavesTheContextUnset()
    {
        QTest::ignoreMessage(QtWarningMsg, "Trying to init null device painter!");
        KelPaintContext context(static_cast<QPaintDevice*>(nullptr));
        QCOMPARE(context.devicePixelRatio(), 1.0);
        QVERIFY(context.rect().isNull());

        QPainter inactive;
        QTest::ignoreMessage(QtWarningMsg, "Trying to init null device painter!");
        KelPaintContext borrowed(&inactive, nullptr);
        QVERIFY(borrowed.rect().isNull());
    }

    void nestedContextsAreCountedAndReported()
    {
        NestingWidget named;
        named.setObjectName(QStringLiteral("pageFrame"));
        named.resize(20, 20);
        QTest::ignoreMessage(QtWarningMsg, "KelPaintContext: Recursive context creation detected for pageFrame");
        named.grab();
        QCOMPARE(named.paints, 1);
        QCOMPARE(named.countWhileNested, 2);
        QCOMPARE(KelPaintContext::openContextCount(&named), 0);
    }

    void overlayMarksTheCorners_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::newRow("100%") << 1.0;
        QTest::newRow("200%") << 2.0;
    }
    void overlayMarksTheCorners()
    {
        QFETCH(double, ratio);
        const int size = 30;
        QImage image = makeImage(QSize(size, size), ratio);
        KelPainting::setDbgPaintKelPaintContext(true);
        {
            KelPaintContext context(&image);
        }
        KelPainting::setDbgPaintKelPaintContext(false);
        const int last = image.width() - 1;
        const QColor red = KelPainting::dbgMarkerColor();
        // Marks in the corners, in device pixels whatever the ratio; the edges between stay clear.
        QCOMPARE(image.pixelColor(0, 0), red);
        QCOMPARE(image.pixelColor(last, last), red);
        QCOMPARE(image.pixelColor(last / 2, 0).alpha(), 0);
        // Faint diagonals through the middle.
        const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
        QVERIFY(centre.alpha() > 0 && centre.alpha() < 160);
        QVERIFY(centre.red() > 0 && centre.green() == 0);
    }

    void diagnosticPainters()
    {
        QImage image = makeImage(QSize(40, 40), 2.0);
        {
            KelPaintContext context(&image);
            context.drawDiagnosticMarker(QRectF(0, 0, 10, 10), KelDiagnosticMarker { Qt::red, false, false });
            QCOMPARE(inkInside(image, image.rect()), 0);
            context.drawDiagnosticMarker(QRectF(0, 0, 10, 10), KelDiagnosticMarker { Qt::red, true, false });
            context.drawDiagnosticFill(QRectF(20, 20, 10, 10), Qt::blue);
            context.drawDiagnosticBand(QRectF(20, 0, 20, 20), QRectF(24, 4, 12, 12), Qt::green);
        }
        // The outline is one device pixel inside the rectangle, the middle stays clear.
        QCOMPARE(image.pixelColor(0, 10), QColor(Qt::red));
        QCOMPARE(image.pixelColor(19, 10), QColor(Qt::red));
        QCOMPARE(image.pixelColor(10, 10).alpha(), 0);
        QCOMPARE(image.pixelColor(20, 10).alpha(), 0);
        // The fill is translucent; the band covers only the space between its rectangles.
        const QColor fill = image.pixelColor(50, 50);
        QVERIFY(fill.alpha() > 50 && fill.alpha() < 110 && fill.blue() > 240);
        QVERIFY(image.pixelColor(44, 20).alpha() > 0);
        QCOMPARE(image.pixelColor(60, 20).alpha(), 0);
    }

    void contentsMarginsOverlay()
    {
        MarginsWidget widget;
        widget.setContentsMargins(6, 6, 6, 6);
        widget.resize(40, 40);
        const QImage image = widget.grab().toImage();
        const QColor band = image.pixelColor(3, 20);
        const QColor inner = image.pixelColor(20, 20);
        // Over the widget's background the green band and the blue contents show through.
        QVERIFY2(band.green() > band.blue(), qPrintable(band.name()));
        QVERIFY2(inner.blue() > inner.red() && inner.blue() > inner.green() - 40, qPrintable(inner.name()));
        QVERIFY(band != inner);
    }
};

QTEST_MAIN(TestKelPaintContext)
#include "tst_kelpaintcontext.moc"

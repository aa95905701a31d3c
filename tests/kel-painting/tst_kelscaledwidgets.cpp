// Widgets on a screen scaled to 150 %, where logical pixels fall between device pixels.
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "utils/kelgeometryutils.h"
#include "utils/kelwindowmaskutils.h"

#include <QApplication>
#include <QRegularExpression>
#include <QTest>
#include <QWidget>

#include <cmath>

namespace {

bool isWhole(double v) { return std::fabs(v - std::round(v)) < 1e-9; }

class RecordingWidget : public QWidget {
public:
    using QWidget::QWidget;
    QRectF paintRect;
    QTransform transform;

protected:
    void paintEvent(QPaintEvent*) override
    {
        KelPaintContext context(this);
        paintRect = context.rect();
        transform = context.painter()->deviceTransform();
        context.painter()->setPen(Qt::NoPen);
        context.painter()->setBrush(Qt::blue);
        KelPainting::drawRect(*context.painter(), context.rect()); // antialiased: blends at unaligned edges
    }
};

} // namespace

class TestKelScaledWidgets : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QWidget probe;
        if (!qFuzzyCompare(probe.devicePixelRatioF(), 1.5))
            QSKIP("The platform does not scale widgets by QT_SCALE_FACTOR");
    }

    void childAtAFractionalDevicePositionPaintsWholePixels()
    {
        QWidget parent;
        parent.resize(40, 40);
        parent.setAutoFillBackground(true);
        parent.setPalette(QPalette(Qt::white));
        RecordingWidget child(&parent);
        child.setGeometry(3, 3, 11, 11); // 4.5 device pixels from the parent's origin
        const QImage image = parent.grab().toImage();
        for (const QPointF& corner : { child.paintRect.topLeft(), child.paintRect.bottomRight() }) {
            const QPointF device = child.transform.map(corner);
            QVERIFY2(isWhole(device.x()) && isWhole(device.y()),
                qPrintable(QStringLiteral("%1,%2").arg(device.x()).arg(device.y())));
        }
        // The child's fill has crisp edges: no device pixel is a blend of blue and white.
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, 10);
            QVERIFY2(c == QColor(Qt::white) || c == QColor(Qt::blue), qPrintable(c.name()));
        }
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
        QWidget hidden;
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Native window is not created for")));
        QCOMPARE(KelUtils::mapDeviceToWidget(&hidden, device), QPoint());

        QCOMPARE(KelPainting::blurredWidgetPixmap(&child, 3).size(), QSize(45, 45));
        // Masks take device pixels: 0..2 end at logical 2.
        KelUtils::setMask(&child, QRegion(0, 0, 3, 3));
        QCOMPARE(child.mask(), QRegion(0, 0, 2, 2));
        QPainterPath circle;
        circle.addEllipse(QRectF(0, 0, 30, 30));
        KelUtils::setMask(&child, QSize(30, 30), QPoint(0, 0), circle, 0, false, false);
        QVERIFY(child.mask().contains(QPoint(15, 15)));
        QVERIFY(!child.mask().contains(QPoint(1, 1)));
        QVERIFY(child.mask().boundingRect().width() <= 30);
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

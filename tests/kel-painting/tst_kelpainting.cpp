#include "imagetesthelpers.h"
#include "painting/kelpainting.h"
#include "styles/kelstyleable.h"

#include <QApplication>
#include <QPainter>
#include <QTest>
#include <QWidget>

namespace {

const QColor kFill(0, 0, 255);

QPen solidPen(const QColor& color, double width, Qt::PenJoinStyle join = Qt::MiterJoin)
{
    return QPen(color, width, Qt::SolidLine, Qt::SquareCap, join);
}

void addRatios()
{
    QTest::addColumn<double>("ratio");
    QTest::newRow("100%") << 1.0;
    QTest::newRow("150%") << 1.5;
    QTest::newRow("200%") << 2.0;
}

// How far apart the outermost inked device pixels of one row (or column) lie.
int inkSpan(const QImage& image, int index, bool row)
{
    int first = -1, last = -1;
    const int length = row ? image.width() : image.height();
    for (int i = 0; i < length; ++i) {
        if (qAlpha(row ? image.pixel(i, index) : image.pixel(index, i)) != 0) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

class PaintCounter : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

// A styled child that counts how often it is asked to take its look again.
class RestyleCounter : public QWidget, public KelStyleable {
public:
    explicit RestyleCounter(QWidget* parent)
        : QWidget(parent)
        , KelStyleable(-1)
    {
    }
    void applyStyle() override { ++restyles; }
    int restyles = 0;
};

} // namespace

class TestKelPainting : public QObject {
    Q_OBJECT

private slots:
    void drawRectKeepsThePenInsideAndHonoursOverlapping_data() { addRatios(); }
    void drawRectKeepsThePenInsideAndHonoursOverlapping()
    {
        QFETCH(double, ratio);
        const QRectF rect(2, 2, 16, 16);
        const QColor translucentRed(255, 0, 0, 128);
        for (auto mode : { KelPainting::Overlapping, KelPainting::NotOverlapping }) {
            QImage image = makeImage(QSize(20, 20), ratio);
            QPainter painter(&image);
            painter.setPen(solidPen(translucentRed, 2));
            painter.setBrush(kFill);
            KelPainting::drawRect(painter, rect, mode);
            QCOMPARE(painter.pen().color(), translucentRed); // state left as found
            QCOMPARE(painter.brush().color(), kFill);
            painter.end();

            QCOMPARE(inkOutside(image, toDevice(rect, ratio)), 0);
            QCOMPARE(colorAt(image, 10, 10), kFill);
            // The fill's inner edge for NotOverlapping lies exactly at the pen's inner edge (4).
            QCOMPARE(colorAt(image, 4, 10), kFill);
            const QColor underPen = colorAt(image, 3, 10);
            if (mode == KelPainting::Overlapping) {
                QCOMPARE(underPen.alpha(), 255);
                QVERIFY(underPen.blue() > 100);
            } else {
                QVERIFY(qAbs(underPen.alpha() - 128) <= 1);
                QCOMPARE(underPen.blue(), 0);
            }
        }
    }

    void drawRectWithoutPenFillsAndInvalidDrawsNothing()
    {
        QImage image = makeImage(QSize(10, 10), 1.0);
        QPainter painter(&image);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kFill);
        KelPainting::drawRect(painter, QRectF(0, 0, 0, 5));
        KelPainting::drawRoundedRect(painter, QRectF(3, 3, -2, 4), 2.0);
        QCOMPARE(inkInside(image, image.rect()), 0);
        KelPainting::drawRect(painter, QRectF(2, 2, 4, 4));
        painter.end();
        QCOMPARE(inkInside(image, image.rect()), 16);
        QCOMPARE(colorAt(image, 2, 2), kFill);
    }

    void roundedRectStaysInsideItsRectangle_data() { addRatios(); }
    void roundedRectStaysInsideItsRectangle()
    {
        QFETCH(double, ratio);
        const QRectF rect(2, 2, 16, 12);
        for (auto mode : { KelPainting::Overlapping, KelPainting::NotOverlapping }) {
            QImage image = makeImage(QSize(20, 16), ratio);
            QPainter painter(&image);
            painter.setPen(solidPen(Qt::red, 1));
            painter.setBrush(kFill);
            KelPainting::drawRoundedRect(painter, rect, 4.0, mode);
            painter.end();

            const QRect device = toDevice(rect, ratio);
            QCOMPARE(inkOutside(image, device), 0);
            QCOMPARE(qAlpha(image.pixel(device.topLeft())), 0); // the corner is cut
            QCOMPARE(qAlpha(image.pixel(device.bottomRight())), 0);
            QCOMPARE(colorAt(image, 10, 8), kFill);
            const QColor edge = image.pixelColor(device.left(), device.center().y());
            QVERIFY2(edge.alpha() >= 250, qPrintable(QString::number(edge.alpha())));
            QVERIFY(edge.red() > 200);
        }
    }

    void roundedRectWithZeroRadiusIsAnOverlappingRect()
    {
        auto render = [](bool rounded) {
            QImage image = makeImage(QSize(20, 20), 1.5);
            QPainter painter(&image);
            painter.setPen(solidPen(QColor(255, 0, 0, 128), 2));
            painter.setBrush(kFill);
            if (rounded)
                KelPainting::drawRoundedRect(painter, QRectF(2, 2, 16, 16), 0.0, KelPainting::NotOverlapping);
            else
                KelPainting::drawRect(painter, QRectF(2, 2, 16, 16), KelPainting::Overlapping);
            return image;
        };
        QCOMPARE(render(true), render(false));
    }

    void fourRadiiRoundOnlyTheirCorners_data() { addRatios(); }
    void fourRadiiRoundOnlyTheirCorners()
    {
        QFETCH(double, ratio);
        const QRectF rect(2, 2, 16, 12);
        const QRect device = toDevice(rect, ratio);

        QImage image = makeImage(QSize(20, 16), ratio);
        QPainter painter(&image);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kFill);
        KelPainting::drawRoundedRect(painter, rect, KelRadii(4, 4, 0, 0));
        QVERIFY(!painter.testRenderHint(QPainter::Antialiasing));
        painter.end();
        QCOMPARE(inkOutside(image, device), 0);
        QCOMPARE(qAlpha(image.pixel(device.topLeft())), 0);
        QCOMPARE(qAlpha(image.pixel(device.topRight())), 0);
        QCOMPARE(image.pixelColor(device.bottomLeft()), kFill);
        QCOMPARE(image.pixelColor(device.bottomRight()), kFill);

        // Equal radii of 0 give a plain rectangle.
        QImage plain = makeImage(QSize(20, 16), ratio);
        painter.begin(&plain);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kFill);
        KelPainting::drawRoundedRect(painter, rect, KelRadii(0));
        painter.end();
        QCOMPARE(inkInside(plain, device), device.width() * device.height());
        QCOMPARE(inkOutside(plain, device), 0);
    }

    void arrowsPointTheirWayInsideTheirBox_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("lineWidth");
        for (double ratio : { 1.0, 1.5, 2.0 }) {
            for (int type : { int(Qt::UpArrow), int(Qt::DownArrow), int(Qt::LeftArrow), int(Qt::RightArrow) }) {
                for (double width : { 0.0, 1.5 })
                    QTest::addRow("r%g type%d w%g", ratio, type, width) << ratio << type << width;
            }
        }
    }
    void arrowsPointTheirWayInsideTheirBox()
    {
        QFETCH(double, ratio);
        QFETCH(int, type);
        QFETCH(double, lineWidth);
        const bool vertical = type == Qt::UpArrow || type == Qt::DownArrow;
        KelArrowSpec arrow;
        arrow.size = vertical ? QSize(10, 6) : QSize(6, 10);
        arrow.margins = QMargins(0, 0, 0, 2);
        arrow.arrowType = type;
        arrow.lineWidth = lineWidth;

        QImage image = makeImage(QSize(20, 22), ratio);
        QPainter painter(&image);
        KelPainting::drawArrow(painter, QRectF(0, 0, 20, 22), Qt::black, arrow);
        painter.end();

        // Centred in the rectangle less its margins, on whole device pixels.
        QRectF box(QPointF(0, 0), QSizeF(arrow.size));
        box.moveCenter(QPointF(10, 10));
        const QRect device(QPoint(qRound(box.left() * ratio), qRound(box.top() * ratio)),
            QPoint(qRound(box.right() * ratio) - 1, qRound(box.bottom() * ratio) - 1));
        QCOMPARE(inkOutside(image, device), 0);
        QVERIFY(inkInside(image, device) > 0);

        // The wide end of the arrow is its open side, the narrow end its tip.
        const int firstSpan = inkSpan(image, vertical ? device.top() : device.left(), vertical);
        const int lastSpan = inkSpan(image, vertical ? device.bottom() : device.right(), vertical);
        const bool wideFirst = type == Qt::DownArrow || type == Qt::RightArrow;
        QVERIFY2(wideFirst ? firstSpan > lastSpan : lastSpan > firstSpan,
            qPrintable(QStringLiteral("spans %1 %2").arg(firstSpan).arg(lastSpan)));

        // A chevron is open: its inside near the wide end stays clear.
        if (type == Qt::DownArrow) {
            const QColor inside = colorAt(image, 10, box.top() + 1);
            QCOMPARE(inside.alpha() == 0, lineWidth > 0);
        }
    }

    void pixelAlignedLinesAreCrisp_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::addColumn<double>("penWidth");
        QTest::addColumn<double>("position");
        QTest::addColumn<int>("deviceWidth");
        QTest::newRow("100% 1px") << 1.0 << 1.0 << 5.0 << 1;
        QTest::newRow("100% cosmetic") << 1.0 << 0.0 << 5.0 << 1;
        QTest::newRow("100% 2px") << 1.0 << 2.0 << 5.0 << 2;
        QTest::newRow("150% 1px") << 1.5 << 1.0 << 5.0 << 2;
        QTest::newRow("150% cosmetic") << 1.5 << 0.0 << 5.0 << 1;
        QTest::newRow("150% off-grid") << 1.5 << 1.0 << 5.3 << 2;
        QTest::newRow("200% 1px") << 2.0 << 1.0 << 5.0 << 2;
        QTest::newRow("200% cosmetic") << 2.0 << 0.0 << 5.0 << 1;
        QTest::newRow("200% 1.5px") << 2.0 << 1.5 << 5.0 << 3;
    }
    void pixelAlignedLinesAreCrisp()
    {
        QFETCH(double, ratio);
        QFETCH(double, penWidth);
        QFETCH(double, position);
        QFETCH(int, deviceWidth);
        for (bool horizontal : { true, false }) {
            QImage image = makeImage(QSize(20, 20), ratio);
            QPainter painter(&image);
            const QPen pen(Qt::black, penWidth, Qt::SolidLine, Qt::FlatCap);
            painter.setPen(pen);
            if (horizontal)
                KelPainting::drawPixelAlignedLine(painter, QPointF(2, position), QPointF(18, position));
            else
                KelPainting::drawPixelAlignedLine(painter, QPointF(position, 2), QPointF(position, 18));
            QCOMPARE(painter.pen(), pen);
            QVERIFY(!painter.testRenderHint(QPainter::Antialiasing));
            painter.end();

            // Across the line every device pixel is either fully covered or untouched.
            const int across = int(10 * ratio);
            int covered = 0;
            for (int i = 0; i < image.height(); ++i) {
                const int alpha = horizontal ? qAlpha(image.pixel(across, i)) : qAlpha(image.pixel(i, across));
                QVERIFY2(alpha == 0 || alpha == 255, qPrintable(QStringLiteral("alpha %1 at %2").arg(alpha).arg(i)));
                covered += alpha == 255 ? 1 : 0;
            }
            QCOMPARE(covered, deviceWidth);
        }
    }

    void createPixmapAtRatio()
    {
        const QPixmap pixmap = KelPainting::createPixmap(QSize(10, 7), 1.5, Qt::red);
        QCOMPARE(pixmap.size(), QSize(15, 11));
        QCOMPARE(pixmap.devicePixelRatioF(), 1.5);
        QCOMPARE(pixmap.toImage().pixelColor(14, 10), QColor(Qt::red));
        QCOMPARE(KelPainting::createPixmap(QSize(10, 10), 1.1).size(), QSize(11, 11));
        QCOMPARE(KelPainting::createPixmap(QSize(10, 10), 2.0).size(), QSize(20, 20));
        QCOMPARE(KelPainting::createPixmap(QSize(3, 3), 1.0).toImage().pixelColor(1, 1).alpha(), 0);
    }

    void colorizeKeepsAlpha()
    {
        const QColor green(0, 200, 0);
        QImage premultiplied(2, 1, QImage::Format_ARGB32_Premultiplied);
        premultiplied.setPixel(0, 0, qPremultiply(qRgba(10, 20, 30, 128)));
        premultiplied.setPixel(1, 0, 0);
        KelPainting::colorizeImage(premultiplied, green);
        QCOMPARE(premultiplied.pixel(0, 0), qPremultiply(qRgba(0, 200, 0, 128)));
        QCOMPARE(premultiplied.pixel(1, 0), 0u);

        QImage straight(1, 1, QImage::Format_ARGB32);
        straight.setPixel(0, 0, qRgba(10, 20, 30, 100));
        KelPainting::colorizeImage(straight, green);
        QCOMPARE(straight.format(), QImage::Format_ARGB32);
        QCOMPARE(straight.pixel(0, 0), qRgba(0, 200, 0, 100));

        QImage opaque(1, 1, QImage::Format_RGB888);
        opaque.fill(Qt::white);
        KelPainting::colorizeImage(opaque, green);
        QCOMPARE(opaque.format(), QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(opaque.pixelColor(0, 0), green);
    }

    void blurredWidgetPixmap()
    {
        QVERIFY(KelPainting::blurredWidgetPixmap(nullptr, 4).isNull());

        QWidget widget;
        widget.resize(40, 30);
        auto paintHalf = [&widget](const QRect& rect, const QColor& color) {
            auto* half = new QWidget(&widget);
            half->setGeometry(rect);
            half->setAutoFillBackground(true);
            QPalette palette = half->palette();
            palette.setColor(QPalette::Window, color);
            half->setPalette(palette);
        };
        paintHalf(QRect(0, 0, 20, 30), Qt::red);
        paintHalf(QRect(20, 0, 20, 30), Qt::blue);

        const QImage sharp = KelPainting::blurredWidgetPixmap(&widget, 0).toImage();
        QCOMPARE(sharp.size(), QSize(40, 30));
        QCOMPARE(sharp.pixelColor(19, 15), QColor(Qt::red));
        QCOMPARE(sharp.pixelColor(20, 15), QColor(Qt::blue));

        const QPixmap blurred = KelPainting::blurredWidgetPixmap(&widget, 8);
        QCOMPARE(blurred.devicePixelRatioF(), widget.devicePixelRatioF());
        const QColor seam = blurred.toImage().pixelColor(20, 15);
        QVERIFY2(seam.red() > 40 && seam.blue() > 40, qPrintable(seam.name()));

        const QImage part
            = KelPainting::blurredWidgetPixmap(&widget, 0, QWidget::DrawChildren, QRect(20, 0, 20, 30)).toImage();
        QCOMPARE(part.size(), QSize(20, 30));
        QCOMPARE(part.pixelColor(5, 15), QColor(Qt::blue));
    }

    void snapping()
    {
        QCOMPARE(KelPainting::snapToDevicePixels(2.0, QRectF(0.3, 0.3, 5.1, 5.1)), QRectF(0.3, 0.3, 5.1, 5.1));
        const QRectF snapped = KelPainting::snapToDevicePixels(1.5, QRectF(0.4, 0.4, 10.1, 10.1));
        for (double edge : { snapped.left(), snapped.top(), snapped.right(), snapped.bottom() })
            QVERIFY(qFuzzyCompare(edge * 1.5, qRound(edge * 1.5) + 0.0) || qFuzzyIsNull(edge * 1.5));
        QCOMPARE(qRound(snapped.right() * 1.5), 16); // 10.5 * 1.5 = 15.75
        // Halves round away from zero.
        QCOMPARE(KelPainting::snapToDevicePixels(1.5, 1.0), 4.0 / 3.0); // 1.5 -> 2
        QCOMPARE(KelPainting::snapToDevicePixels(1.5, -1.0), -4.0 / 3.0); // -1.5 -> -2
        const QMarginsF margins = KelPainting::snapMarginsToDevicePixels(1.25, QMarginsF(1, 2, 3, 0.2));
        QCOMPARE(margins, QMarginsF(0.8, 2.4, 3.2, 0.0));
        QCOMPARE(KelPainting::snapMarginsToDevicePixels(1.0, QMarginsF(0.5, 0, 0, 0)), QMarginsF(0.5, 0, 0, 0));
    }

    void diagnosticFlags()
    {
        using Reader = bool (*)();
        using Setter = void (*)(bool);
        enum Refresh { Repaint = 1, Restyle = 2 };
        struct Flag {
            Reader read;
            Setter set;
            int refresh;
        };
        const QList<Flag> flags = {
            { KelPainting::dbgPaintKelPaintContext, KelPainting::setDbgPaintKelPaintContext, Repaint },
            { KelPainting::dbgPaintKelFrame, KelPainting::setDbgPaintKelFrame, Restyle },
            { KelPainting::dbgPaintKelButton, KelPainting::setDbgPaintKelButton, Restyle },
            { KelPainting::dbgPaintKelLabel, KelPainting::setDbgPaintKelLabel, Repaint },
            { KelPainting::dbgPaintKelIconWidget, KelPainting::setDbgPaintKelIconWidget, Repaint },
            { KelPainting::dbgPaintKelDelimiter, KelPainting::setDbgPaintKelDelimiter, Restyle },
            { KelPainting::dbgPaintNonDwmResizer, KelPainting::setDbgPaintNonDwmResizer, Repaint },
            { KelPainting::dbgPaintNonDwmShadow, KelPainting::setDbgPaintNonDwmShadow, Repaint },
            { KelPainting::dbgPaintCustom, KelPainting::setDbgPaintCustom, Repaint | Restyle },
        };
        PaintCounter window;
        window.resize(30, 30);
        auto* deepChild = new RestyleCounter(new QWidget(new QWidget(&window)));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (const Flag& flag : flags) {
            QVERIFY(!flag.read());
            QTest::qWait(1);
            const int before = window.paints;
            const int restylesBefore = deepChild->restyles;
            flag.set(true);
            QVERIFY(flag.read());
            // Restyling reaches styled widgets at any depth, once per switch.
            QCOMPARE(deepChild->restyles, restylesBefore + ((flag.refresh & Restyle) ? 1 : 0));
            if (flag.refresh & Repaint)
                QTRY_VERIFY(window.paints > before);
            flag.set(true); // unchanged: nothing
            QCOMPARE(deepChild->restyles, restylesBefore + ((flag.refresh & Restyle) ? 1 : 0));
            flag.set(false);
            QVERIFY(!flag.read());
        }
    }
};

QTEST_MAIN(TestKelPainting)
#include "tst_kelpainting.moc"

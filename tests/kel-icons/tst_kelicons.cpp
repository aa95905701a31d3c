#include "../kel-effects/widgetimages.h"
#include "../kelapp/kelapptest.h"

#include "animators/kelwidgetstateanimator.h"
#include "kelapplication.h"
#include "kelui.h"
#include "painting/kelicon.h"
#include "painting/keliconsprovider.h"
#include "painting/kelqicon.h"
#include "painting/kelsvgicon.h"
#include "utils/kelpixmapcache.h"

#include <QFile>
#include <QPaintEngine>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace KelPainting;

namespace {

const QColor black(0, 0, 0);
const QColor green(0, 255, 0);
const QColor red(255, 0, 0);
const QColor blue(0, 0, 255);
const QColor transparent(0, 0, 0, 0);

// Two colour halves side by side, left and right.
void writePng(const QString& path, const QSize& size, const QColor& left, const QColor& right)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixelColor(x, y, x < size.width() / 2 ? left : right);
    QVERIFY(image.save(path, "PNG"));
}

void writeGarbage(const QString& path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("this is not an image at all");
}

// Compares with a tolerance for the rounding of blends; transparent pixels match whatever their colour.
bool pixelIs(const QPixmap& pixmap, int x, int y, const QColor& expected, int tolerance = 3)
{
    const QColor actual = pixmap.toImage().pixelColor(x, y);
    if (expected.alpha() == 0 || actual.alpha() == 0)
        return qAbs(actual.alpha() - expected.alpha()) <= tolerance;
    const bool same = sameColor(actual, expected, tolerance);
    if (!same)
        qWarning() << "pixel" << x << y << actual << "expected" << expected;
    return same;
}

KelPixmapCache* iconsCache() { return KelUi::instance()->iconsCache(); }

KelIconsProvider* provider() { return KelIconsProvider::instance(); }

// A paint device of a given device pixel ratio that records where pixmaps are drawn, in logical
// coordinates, before any rasterisation rounds them.
class RecordingDevice : public QPaintDevice {
public:
    explicit RecordingDevice(double ratio)
        : m_ratio(ratio)
    {
    }
    QPaintEngine* paintEngine() const override { return &m_engine; }
    QList<QRectF> targets() const { return m_engine.targets; }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmDevicePixelRatio:
            return int(m_ratio);
        case PdmDevicePixelRatioScaled:
            return int(m_ratio * devicePixelRatioFScale());
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDepth:
            return 32;
        default:
            return 100;
        }
    }

private:
    // With every feature claimed, QPainter hands drawing over untransformed.
    class Engine : public QPaintEngine {
    public:
        Engine()
            : QPaintEngine(AllFeatures)
        {
        }
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override { }
        void drawPixmap(const QRectF& r, const QPixmap&, const QRectF&) override { targets.append(r); }
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override { }
        Type type() const override { return User; }
        QList<QRectF> targets;
    };
    double m_ratio;
    mutable Engine m_engine;
};

// An icon the application draws itself; it counts its deletions.
class DrawnIcon : public KelIcon {
public:
    DrawnIcon(const QString& name, int* deletions)
        : m_deletions(deletions)
    {
        setName(name);
        setDefaultSize(QSize(4, 4));
    }
    ~DrawnIcon() override { ++*m_deletions; }
    bool isValid() const override { return true; }

private:
    int* m_deletions;
};

} // namespace

class TestKelIcons : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void missingPathGivesNullIcon();
    void iconsFoundByName();
    void failedLoadIsKeptUnderEmptyName();
    void registeredIconsAndOwnership();
    void svgRenderedAtRatios_data();
    void svgRenderedAtRatios();
    void rasterRenderedAtRatios_data();
    void rasterRenderedAtRatios();
    void stateVariantsAndFallbacks();
    void brokenRasterVariantAndUnknownStates();
    void tinting();
    void cacheHitsAndKeys();
    void stateFades_data();
    void stateFades();
    void paintSnapsAndAligns_data();
    void paintSnapsAndAligns();
    void paintSnapsToDevicePixels();
    void sizesAreBounded();

private:
    QString file(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

void TestKelIcons::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Left half opaque blue, right half blue at half alpha; the hovered variant is green.
    writePng(file("close.png"), QSize(8, 8), blue, QColor(0, 0, 255, 128));
    writePng(file("closeHigh.png"), QSize(8, 8), green, green);
    writePng(file("bad.png"), QSize(8, 8), blue, blue);
    writeGarbage(file("badHigh.png"));
    writeGarbage(file("garbage.png"));
    writePng(file("long.png"), QSize(5000, 1), blue, blue);
}

void TestKelIcons::missingPathGivesNullIcon()
{
    KelIcon* missing = provider()->icon(QStringLiteral(":/svg/nothing-here.svg"));
    QVERIFY(missing);
    QVERIFY(!missing->isValid());
    QCOMPARE(provider()->icon(QStringLiteral("no such name")), missing);

    QTest::ignoreMessage(QtWarningMsg, "KelIcon: Invalid usage!");
    const QPixmap canvas = missing->pixmap(2.0, QSize(5, 3), QColor(), Normal);
    QCOMPARE(canvas.size(), QSize(10, 6));
    QCOMPARE(canvas.devicePixelRatioF(), 2.0);
    QVERIFY(pixelIs(canvas, 1, 1, transparent));

    // Neither a requested nor a default size: nothing can be made.
    QTest::ignoreMessage(QtWarningMsg, "KelIcon: Invalid usage!");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Invalid size requested for icon"));
    QVERIFY(missing->pixmap(1.0, QSize(), QColor(), Normal).isNull());
}

void TestKelIcons::iconsFoundByName()
{
    KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
    QVERIFY(dynamic_cast<KelSvgIcon*>(square));
    QVERIFY(square->isValid());
    QCOMPARE(square->name(), QStringLiteral(":/svg/square.svg"));
    QCOMPARE(square->defaultSize(), QSize(16, 16));
    QCOMPARE(provider()->icon(":/svg/square.svg"), square);
    QCOMPARE(provider()->icon(QStringLiteral(":/svg/square.svg")), square);

    // The extension test ignores case.
    KelIcon* wide = provider()->icon(QStringLiteral(":/svg/wide.SVG"));
    QVERIFY(dynamic_cast<KelSvgIcon*>(wide));
    QCOMPARE(wide->defaultSize(), QSize(20, 10));

    KelIcon* close = provider()->icon(file("close.png"));
    QVERIFY(dynamic_cast<KelQIcon*>(close));
    QVERIFY(close->isValid());
    QCOMPARE(close->defaultSize(), QSize(8, 8));
}

void TestKelIcons::failedLoadIsKeptUnderEmptyName()
{
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression("^Can't load icon file: .*garbage.png returned size is null$"));
    KelIcon* garbage = provider()->icon(file("garbage.png"));
    QVERIFY(!garbage->isValid());
    QVERIFY(garbage->name().isEmpty());
    QCOMPARE(provider()->icon(QString()), garbage);

    QTest::ignoreMessage(QtCriticalMsg, "Pixmap requested for invalid KelQIcon: path: ");
    QVERIFY(garbage->pixmap(1.0, QSize(8, 8), QColor(), Normal).isNull());

    // The next request loads the file again; the earlier icon stays usable for whoever holds it.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Can't load icon file:"));
    KelIcon* again = provider()->icon(file("garbage.png"));
    QVERIFY(again != garbage);
    QVERIFY(!garbage->isValid());

    KelIcon* broken = provider()->icon(QStringLiteral(":/svg/broken.svg"));
    QVERIFY(dynamic_cast<KelSvgIcon*>(broken));
    QVERIFY(!broken->isValid());
    QCOMPARE(provider()->icon(QString()), broken);
}

void TestKelIcons::registeredIconsAndOwnership()
{
    int deletions = 0;
    {
        KelIconsProvider local;
        auto* first = new DrawnIcon(QStringLiteral("drawn-check"), &deletions);
        auto* second = new DrawnIcon(QStringLiteral("drawn-check"), &deletions);
        local.registerIcon(first);
        QCOMPARE(local.icon(QStringLiteral("drawn-check")), first);

        QTest::ignoreMessage(QtWarningMsg, "drawn-check is already registered in IconsProvider");
        local.registerIcon(second);
        QCOMPARE(local.icon(QStringLiteral("drawn-check")), first);
        QCOMPARE(deletions, 0);

        QTest::ignoreMessage(QtWarningMsg, "drawn-check is already registered in IconsProvider");
        local.registerIcon(first);

        QTest::ignoreMessage(QtWarningMsg, "Trying to register null icon");
        local.registerIcon(nullptr);

        // An icon that only draws state pixmaps reaches the base pixmap.
        QTest::ignoreMessage(QtWarningMsg, "KelIcon: Invalid usage!");
        QCOMPARE(first->pixmap(1.0, QSize(), QColor(), Normal).size(), QSize(4, 4));
    }
    // The refused icon goes with the provider too, and nothing is deleted twice.
    QCOMPARE(deletions, 2);
}

void TestKelIcons::svgRenderedAtRatios_data()
{
    QTest::addColumn<double>("ratio");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("deviceSize");

    QTest::newRow("default size at 1") << 1.0 << QSize() << QSize(16, 16);
    QTest::newRow("default size at 2") << 2.0 << QSize() << QSize(32, 32);
    QTest::newRow("24 at 2") << 2.0 << QSize(24, 24) << QSize(48, 48);
    QTest::newRow("stretched 20x10 at 1") << 1.0 << QSize(20, 10) << QSize(20, 10);
    QTest::newRow("halves round up at 1.5") << 1.5 << QSize(15, 15) << QSize(23, 23);
    QTest::newRow("10 at 1.25") << 1.25 << QSize(10, 10) << QSize(13, 13);
}

void TestKelIcons::svgRenderedAtRatios()
{
    QFETCH(double, ratio);
    QFETCH(QSize, size);
    QFETCH(QSize, deviceSize);

    KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
    const QPixmap pixmap = square->pixmap(ratio, size, QColor(), Normal);
    QCOMPARE(pixmap.size(), deviceSize);
    QCOMPARE(pixmap.devicePixelRatioF(), ratio);
    // The drawing fills the whole canvas: its left half is black, its right half empty.
    const int w = deviceSize.width(), h = deviceSize.height();
    QVERIFY(pixelIs(pixmap, 0, 0, black));
    QVERIFY(pixelIs(pixmap, w / 2 - 2, h - 1, black));
    QVERIFY(pixelIs(pixmap, w / 2 + 2, 0, transparent));
    QVERIFY(pixelIs(pixmap, w - 1, h - 1, transparent));
}

void TestKelIcons::rasterRenderedAtRatios_data()
{
    QTest::addColumn<double>("ratio");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("deviceSize");
    QTest::addColumn<QRect>("imageRect");

    QTest::newRow("default size at 1") << 1.0 << QSize() << QSize(8, 8) << QRect(0, 0, 8, 8);
    QTest::newRow("default size at 2") << 2.0 << QSize() << QSize(16, 16) << QRect(0, 0, 16, 16);
    // Raster images are not enlarged: the file's 8 x 8 sits in the middle of the larger canvas.
    QTest::newRow("16 at 2") << 2.0 << QSize(16, 16) << QSize(32, 32) << QRect(8, 8, 16, 16);
    QTest::newRow("4 at 1") << 1.0 << QSize(4, 4) << QSize(4, 4) << QRect(0, 0, 4, 4);
}

void TestKelIcons::rasterRenderedAtRatios()
{
    QFETCH(double, ratio);
    QFETCH(QSize, size);
    QFETCH(QSize, deviceSize);
    QFETCH(QRect, imageRect);

    KelIcon* close = provider()->icon(file("close.png"));
    const QPixmap pixmap = close->pixmap(ratio, size, QColor(), Normal);
    QCOMPARE(pixmap.size(), deviceSize);
    QCOMPARE(pixmap.devicePixelRatioF(), ratio);
    const QRect r = imageRect;
    QVERIFY(pixelIs(pixmap, r.left(), r.top(), blue));
    QVERIFY(pixelIs(pixmap, r.center().x() - 1, r.bottom(), blue));
    QVERIFY(pixelIs(pixmap, r.right(), r.bottom(), QColor(0, 0, 255, 128)));
    if (r.left() > 0) {
        QVERIFY(pixelIs(pixmap, r.left() - 1, r.top(), transparent));
        QVERIFY(pixelIs(pixmap, r.right() + 1, r.bottom() + 1, transparent));
    }
}

void TestKelIcons::stateVariantsAndFallbacks()
{
    // square.svg has hovered and pressed files only: checked states fall back to the pressed drawing.
    KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
    const struct {
        WidgetState state;
        QColor right;
    } svgRows[] = {
        { Normal, transparent },
        { Hovered, green },
        { Pressed, red },
        { Disabled, transparent },
        { Checked, red },
        { CheckedHovered, red },
        { CheckedPressed, red },
        { CheckedDisabled, red },
    };
    for (const auto& row : svgRows) {
        const QPixmap pixmap = square->pixmap(1.0, QSize(), QColor(), row.state);
        QVERIFY2(pixelIs(pixmap, 12, 8, row.right), qPrintable(QString::number(row.state)));
    }

    // close.png has a hovered file only.
    KelIcon* close = provider()->icon(file("close.png"));
    QVERIFY(pixelIs(close->pixmap(1.0, QSize(), QColor(), Hovered), 1, 1, green));
    for (WidgetState state : { Normal, Pressed, Disabled, Checked, CheckedHovered, CheckedPressed, CheckedDisabled })
        QVERIFY(pixelIs(close->pixmap(1.0, QSize(), QColor(), state), 1, 1, blue));
}

void TestKelIcons::brokenRasterVariantAndUnknownStates()
{
    // A variant file that exists but does not decode gives no fallback: the state draws nothing.
    KelIcon* bad = provider()->icon(file("bad.png"));
    QVERIFY(bad->isValid());
    QVERIFY(!bad->pixmap(1.0, QSize(), QColor(), Normal).isNull());
    QVERIFY(bad->pixmap(1.0, QSize(), QColor(), Hovered).isNull());

    QVERIFY(bad->pixmap(1.0, QSize(), QColor(), WidgetState(3)).isNull());

    KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
    QVERIFY(square->pixmap(1.0, QSize(), QColor(), WidgetState(0)).isNull());
}

void TestKelIcons::tinting()
{
    KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
    QPixmap tinted = square->pixmap(1.0, QSize(), QColor(255, 128, 0), Normal);
    QVERIFY(pixelIs(tinted, 2, 2, QColor(255, 128, 0)));
    QVERIFY(pixelIs(tinted, 12, 2, transparent));

    // For SVG icons the colour's alpha is the drawing's opacity.
    tinted = square->pixmap(1.0, QSize(), QColor(255, 128, 0, 128), Normal);
    QVERIFY(pixelIs(tinted, 2, 2, QColor(255, 128, 0, 128), 4));

    // Raster icons take the colour's red, green and blue and keep their own alpha.
    KelIcon* close = provider()->icon(file("close.png"));
    tinted = close->pixmap(2.0, QSize(), QColor(255, 0, 0, 40), Normal);
    QCOMPARE(tinted.size(), QSize(16, 16));
    QVERIFY(pixelIs(tinted, 2, 2, red));
    QVERIFY(pixelIs(tinted, 14, 14, QColor(255, 0, 0, 128)));
}

void TestKelIcons::cacheHitsAndKeys()
{
    KelPixmapCache* cache = iconsCache();
    KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
    KelIcon* close = provider()->icon(file("close.png"));

    const int before = cache->count();
    const QPixmap first = square->pixmap(2.0, QSize(20, 20), QColor(1, 2, 3, 200), Pressed);
    QCOMPARE(cache->count(), before + 1);
    QVERIFY(cache->find(QStringLiteral("KelIcon-:/svg/square.svg-#010203-200-2-40-40-4)"), nullptr));
    const QPixmap second = square->pixmap(2.0, QSize(20, 20), QColor(1, 2, 3, 200), Pressed);
    QCOMPARE(cache->count(), before + 1);
    QCOMPARE(second.cacheKey(), first.cacheKey());

    // An entry that is there is served as it is, without rendering.
    QPixmap planted(7, 7);
    planted.fill(Qt::magenta);
    cache->insert(QStringLiteral("KelIcon-:/svg/square.svg-original-original-1-16-16-1)"), planted);
    QCOMPARE(square->pixmap(1.0, QSize(), QColor(), Normal).cacheKey(), planted.cacheKey());
    cache->remove(QStringLiteral("KelIcon-:/svg/square.svg-original-original-1-16-16-1)"));

    // The colour's alpha is part of the SVG key but not of the raster one.
    const int svgBefore = cache->count();
    square->pixmap(1.0, QSize(), QColor(9, 9, 9, 255), Normal);
    square->pixmap(1.0, QSize(), QColor(9, 9, 9, 100), Normal);
    QCOMPARE(cache->count(), svgBefore + 2);
    const int rasterBefore = cache->count();
    close->pixmap(1.5, QSize(), QColor(9, 9, 9, 255), Normal);
    close->pixmap(1.5, QSize(), QColor(9, 9, 9, 100), Normal);
    QCOMPARE(cache->count(), rasterBefore + 1);
    QVERIFY(cache->find(QStringLiteral("KelIcon-%1-#090909-1.5-12-12-1)").arg(file("close.png")), nullptr));
}

void TestKelIcons::stateFades_data()
{
    QTest::addColumn<bool>("checked");
    QTest::addColumn<bool>("pressed");
    QTest::addColumn<bool>("disabled");
    QTest::addColumn<double>("hovered");
    QTest::addColumn<double>("pressedProgress");
    QTest::addColumn<QColor>("tint");
    QTest::addColumn<QColor>("left");
    QTest::addColumn<QColor>("right");

    const QColor none;
    QTest::newRow("normal") << false << false << false << 0.0 << 0.0 << none << black << transparent;
    QTest::newRow("hovered half way") << false << false << false << 0.5 << 0.0 << none << QColor(0, 128, 0)
                                      << QColor(0, 255, 0, 128);
    QTest::newRow("pressed a quarter") << false << true << false << 1.0 << 0.25 << none << QColor(64, 0, 0)
                                       << QColor(255, 0, 0, 64);
    // 1 - 1 x 0.6 of the base dimming; no hover shows on a disabled widget.
    QTest::newRow("disabled") << false << false << true << 1.0 << 0.0 << none << QColor(0, 0, 0, 102) << transparent;
    QTest::newRow("checked hovered") << true << false << false << 1.0 << 0.0 << none << red << red;
    QTest::newRow("tinted draws the base only")
        << false << true << true << 1.0 << 1.0 << QColor(255, 255, 255) << QColor(255, 255, 255) << transparent;
}

void TestKelIcons::stateFades()
{
    QFETCH(bool, checked);
    QFETCH(bool, pressed);
    QFETCH(bool, disabled);
    QFETCH(double, hovered);
    QFETCH(double, pressedProgress);
    QFETCH(QColor, tint);
    QFETCH(QColor, left);
    QFETCH(QColor, right);

    KelWidgetStateAnimator animator(0);
    animator.setChecked(checked, false);
    animator.setPressed(pressed, false);
    animator.setDisabled(disabled, false);
    animator.setHoveredProgress(hovered);
    animator.setPressedProgress(pressedProgress);
    QCOMPARE(animator.isPressed(), pressed);

    KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
    for (double ratio : { 1.0, 2.0 }) {
        const QPixmap pixmap = square->statePixmap(ratio, QSize(), tint, &animator);
        QCOMPARE(pixmap.size(), QSize(16, 16) * ratio);
        QCOMPARE(pixmap.devicePixelRatioF(), ratio);
        QVERIFY(pixelIs(pixmap, int(2 * ratio), int(8 * ratio), left, 4));
        QVERIFY(pixelIs(pixmap, int(12 * ratio), int(8 * ratio), right, 4));
    }
}

void TestKelIcons::paintSnapsAndAligns_data()
{
    QTest::addColumn<double>("ratio");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<int>("alignment");
    QTest::addColumn<QPoint>("firstInkDevicePixel");

    const int topLeft = int(Qt::AlignLeft | Qt::AlignTop);
    QTest::newRow("fractional ratio") << 1.25 << QRect(3, 3, 20, 20) << topLeft << QPoint(4, 4);
    QTest::newRow("whole ratio") << 2.0 << QRect(3, 3, 20, 20) << topLeft << QPoint(6, 6);
    QTest::newRow("centred") << 1.0 << QRect(0, 0, 32, 32) << int(Qt::AlignCenter) << QPoint(8, 8);
    QTest::newRow("bottom right") << 1.0 << QRect(0, 0, 32, 32) << int(Qt::AlignRight | Qt::AlignBottom)
                                  << QPoint(16, 16);
}

void TestKelIcons::paintSnapsAndAligns()
{
    QFETCH(double, ratio);
    QFETCH(QRect, rect);
    QFETCH(int, alignment);
    QFETCH(QPoint, firstInkDevicePixel);

    KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
    QImage image = makeImage(QSize(40, 40), ratio);
    {
        QPainter painter(&image);
        square->paint(&painter, rect, Qt::Alignment(alignment), QSize(), QColor(), Normal);
    }
    const QPoint ink = firstInkDevicePixel;
    QCOMPARE(qAlpha(image.pixel(ink.x(), ink.y() + 3)), 255);
    QCOMPARE(qAlpha(image.pixel(ink.x() - 1, ink.y() + 3)), 0);
    QCOMPARE(qAlpha(image.pixel(ink.x() + 3, ink.y())), 255);
    QCOMPARE(qAlpha(image.pixel(ink.x() + 3, ink.y() - 1)), 0);

    // The state form draws the same place (without snapping, so only whole ratios are compared).
    if (ratio == std::floor(ratio)) {
        QImage stateImage = makeImage(QSize(40, 40), ratio);
        KelWidgetStateAnimator animator(0);
        QPainter painter(&stateImage);
        square->paint(&painter, rect, Qt::Alignment(alignment), QSize(), QColor(), &animator);
        painter.end();
        QCOMPARE(stateImage, image);
    }
}

void TestKelIcons::paintSnapsToDevicePixels()
{
    KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
    KelWidgetStateAnimator animator(0);
    for (double ratio : { 1.25, 2.0 }) {
        RecordingDevice device(ratio);
        QPainter painter(&device);
        square->paint(&painter, QRect(3, 3, 20, 20), Qt::AlignLeft | Qt::AlignTop, QSize(), QColor(), Normal);
        square->paint(&painter, QRect(3, 3, 20, 20), Qt::AlignLeft | Qt::AlignTop, QSize(), QColor(), &animator);
        painter.end();
        QCOMPARE(device.targets().size(), 2);
        // At 1.25 the corner moves to 3.2 (4 device pixels); the state form keeps the aligned corner.
        const double snapped = ratio == 2.0 ? 3.0 : 3.2;
        QVERIFY(qAbs(device.targets().at(0).x() - snapped) < 1e-9);
        QVERIFY(qAbs(device.targets().at(0).y() - snapped) < 1e-9);
        QCOMPARE(device.targets().at(1).topLeft(), QPointF(3, 3));
        QCOMPARE(device.targets().at(0).size(), QSizeF(16, 16));
    }
}

void TestKelIcons::sizesAreBounded()
{
    // A file whose declared size is absurd renders at most 4096 device pixels a side.
    KelIcon* huge = provider()->icon(QStringLiteral(":/svg/huge.svg"));
    QVERIFY(huge->isValid());
    QCOMPARE(huge->defaultSize(), QSize(100000, 50000));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Icon size bounded:"));
    QPixmap pixmap = huge->pixmap(1.0, QSize(), QColor(), Normal);
    QCOMPARE(pixmap.size(), QSize(4096, 2048));

    KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Icon size bounded:"));
    pixmap = square->pixmap(2.0, QSize(3000, 1000), QColor(Qt::red), Normal);
    QVERIFY(pixmap.width() <= 4096 && pixmap.height() <= 4096);
    QCOMPARE(pixmap.devicePixelRatioF(), 2.0);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Icon size bounded:"));
    QVERIFY(square->createPixmap(1.0, QSize(1 << 20, 8)).width() <= 4096);

    for (double ratio : { 0.0, -1.0, 1000.0, std::nan("") }) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Invalid size requested for KelSvgIcon: "));
        QVERIFY(square->pixmap(ratio, QSize(16, 16), QColor(), Normal).isNull());
    }

    // A raster file larger than any icon is refused before it is decoded.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("is too large"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Can't load icon file:"));
    QVERIFY(!provider()->icon(file("long.png"))->isValid());
}

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelIcons>(argc, argv, QStringLiteral("Kel Icons Test"));
}

#include "tst_kelicons.moc"

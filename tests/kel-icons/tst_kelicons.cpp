#include "../kel-effects/widgetimages.h"
#include "../kelapp/kelapptest.h"

#include "animators/kelwidgetstateanimator.h"
#include "kelapplication.h"
#include "kelui.h"
#include "painting/kelicon.h"
#include "painting/keliconsprovider.h"
#include "painting/kelqicon.h"
#include "painting/kelsvgicon.h"
#include "testfiles.h"
#include "utils/kelpixmapcache.h"

#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace KelPainting;

namespace {

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

// Compares with a tolerance for the rounding of blends; transparent pixels match whatever their colour.
bool pixelIs(const QPixmap& pixmap, int x, int y, const QColor& expected, int tolerance = 3)
{
    const QColor actual = pixmap.toImage().pixelColor(x, y);
    if (expected.alpha() == 0 || actual.alpha() == 0)
        return qAbs(actual.alpha() - expected.alpha()) <= tolerance;
    return sameColor(actual, expected, tolerance);
}

KelPixmapCache* iconsCache() { return KelUi::instance()->iconsCache(); }

KelIconsProvider* provider() { return KelIconsProvider::instance(); }

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
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Left half opaque blue, right half blue at half alpha; the hovered variant is green.
        writePng(file("close.png"), QSize(8, 8), blue, QColor(0, 0, 255, 128));
        writePng(file("closeHigh.png"), QSize(8, 8), green, green);
        writePng(file("bad.png"), QSize(8, 8), blue, blue);
        QVERIFY(testfiles::write(file("badHigh.png"), "this is not an image at all"));
        QVERIFY(testfiles::write(file("garbage.png"), "this is not an image at all"));
        writePng(file("long.png"), QSize(5000, 1), blue, blue);
    }

    void failedLoadIsKeptUnderEmptyName()
    {
        // The extension picks the kind in any case; a missing file gives the one null icon.
        QVERIFY(dynamic_cast<KelSvgIcon*>(provider()->icon(QStringLiteral(":/svg/wide.SVG"))));
        KelIcon* missing = provider()->icon(QStringLiteral(":/svg/nothing-here.svg"));
        QVERIFY(!missing->isValid());
        QCOMPARE(provider()->icon(QStringLiteral("no such name")), missing);
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression("^Can't load icon file: .*garbage.png returned size is null$"));
        KelIcon* garbage = provider()->icon(file("garbage.png"));
        QVERIFY(!garbage->isValid());
        QCOMPARE(provider()->icon(QString()), garbage);
        QTest::ignoreMessage(QtCriticalMsg, "Pixmap requested for invalid KelQIcon: path: ");
        QVERIFY(garbage->pixmap(1.0, QSize(8, 8), QColor(), Normal).isNull());
        // The next request loads the file again; the earlier icon stays usable for whoever holds it.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Can't load icon file:"));
        QVERIFY(provider()->icon(file("garbage.png")) != garbage);

        QVERIFY(!provider()->icon(QStringLiteral(":/svg/broken.svg"))->isValid());
    }

    void registeredIconsAndOwnership()
    {
        int deletions = 0;
        {
            KelIconsProvider local;
            auto* first = new DrawnIcon(QStringLiteral("drawn-check"), &deletions);
            local.registerIcon(first);
            QTest::ignoreMessage(QtWarningMsg, "drawn-check is already registered in IconsProvider");
            local.registerIcon(new DrawnIcon(QStringLiteral("drawn-check"), &deletions));
            QCOMPARE(local.icon(QStringLiteral("drawn-check")), first);
            QTest::ignoreMessage(QtWarningMsg, "drawn-check is already registered in IconsProvider");
            local.registerIcon(first);
            QTest::ignoreMessage(QtWarningMsg, "Trying to register null icon");
            local.registerIcon(nullptr);
            QCOMPARE(deletions, 0);
        }
        // The refused icon goes with the provider too, and nothing is deleted twice.
        QCOMPARE(deletions, 2);
    }

    void stateVariantsAndFallbacks()
    {
        // square.svg has hovered and pressed files only: checked states fall back to the pressed drawing.
        KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
        const QList<QPair<WidgetState, QColor>> svgRows
            = { { Normal, transparent }, { Hovered, green }, { Pressed, red }, { Disabled, transparent },
                  { Checked, red }, { CheckedHovered, red }, { CheckedPressed, red }, { CheckedDisabled, red } };
        for (const auto& row : svgRows)
            QVERIFY2(pixelIs(square->pixmap(1.0, QSize(), QColor(), row.first), 12, 8, row.second),
                qPrintable(QString::number(row.first)));
        QVERIFY(square->pixmap(1.0, QSize(), QColor(), WidgetState(0)).isNull());

        // close.png has a hovered file only.
        KelIcon* close = provider()->icon(file("close.png"));
        QVERIFY(pixelIs(close->pixmap(1.0, QSize(), QColor(), Hovered), 1, 1, green));
        for (WidgetState state : { Normal, Pressed, CheckedHovered, CheckedDisabled })
            QVERIFY(pixelIs(close->pixmap(1.0, QSize(), QColor(), state), 1, 1, blue));
        // Raster images are not enlarged: the file's 8 x 8 sits in the middle of a larger canvas.
        const QPixmap canvas = close->pixmap(2.0, QSize(16, 16), QColor(), Normal);
        QCOMPARE(canvas.size(), QSize(32, 32));
        QVERIFY(pixelIs(canvas, 7, 8, transparent) && pixelIs(canvas, 8, 8, blue));
        QVERIFY(pixelIs(canvas, 23, 23, QColor(0, 0, 255, 128)));

        // A variant file that exists but does not decode gives no fallback: the state draws nothing.
        KelIcon* bad = provider()->icon(file("bad.png"));
        QVERIFY(!bad->pixmap(1.0, QSize(), QColor(), Normal).isNull());
        QVERIFY(bad->pixmap(1.0, QSize(), QColor(), Hovered).isNull());
        QVERIFY(bad->pixmap(1.0, QSize(), QColor(), WidgetState(3)).isNull());
    }

    void cacheHits()
    {
        KelPixmapCache* cache = iconsCache();
        KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
        const int before = cache->count();
        const QPixmap first = square->pixmap(2.0, QSize(20, 20), QColor(1, 2, 3, 200), Pressed);
        QCOMPARE(square->pixmap(2.0, QSize(20, 20), QColor(1, 2, 3, 200), Pressed).cacheKey(), first.cacheKey());
        QCOMPARE(cache->count(), before + 1);
        // The colour's alpha is part of the SVG key but not of the raster one.
        square->pixmap(1.0, QSize(), QColor(9, 9, 9, 255), Normal);
        square->pixmap(1.0, QSize(), QColor(9, 9, 9, 100), Normal);
        QCOMPARE(cache->count(), before + 3);
        KelIcon* close = provider()->icon(file("close.png"));
        close->pixmap(1.5, QSize(), QColor(9, 9, 9, 255), Normal);
        close->pixmap(1.5, QSize(), QColor(9, 9, 9, 100), Normal);
        QCOMPARE(cache->count(), before + 4);
    }

    void stateFades_data()
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
        QTest::newRow("hovered half way")
            << false << false << false << 0.5 << 0.0 << none << QColor(0, 128, 0) << QColor(0, 255, 0, 128);
        QTest::newRow("pressed a quarter")
            << false << true << false << 1.0 << 0.25 << none << QColor(64, 0, 0) << QColor(255, 0, 0, 64);
        // 1 - 1 x 0.6 of the base dimming; no hover shows on a disabled widget.
        QTest::newRow("disabled") << false << false << true << 1.0 << 0.0 << none << QColor(0, 0, 0, 102)
                                  << transparent;
        QTest::newRow("checked hovered") << true << false << false << 1.0 << 0.0 << none << red << red;
        QTest::newRow("tinted draws the base only")
            << false << true << true << 1.0 << 1.0 << QColor(255, 255, 255) << QColor(255, 255, 255) << transparent;
    }
    void stateFades()
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
        KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
        for (double ratio : { 1.0, 2.0 }) {
            const QPixmap pixmap = square->statePixmap(ratio, QSize(), tint, &animator);
            QCOMPARE(pixmap.size(), QSize(16, 16) * ratio);
            QVERIFY(pixelIs(pixmap, int(2 * ratio), int(8 * ratio), left, 4));
            QVERIFY(pixelIs(pixmap, int(12 * ratio), int(8 * ratio), right, 4));
        }
    }

    void paintSnapsAndAligns_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<int>("alignment");
        QTest::addColumn<QPoint>("firstInkDevicePixel");
        const int topLeft = int(Qt::AlignLeft | Qt::AlignTop);
        // At 1.25 the corner at 3 moves to 3.2, on device pixel 4.
        QTest::newRow("fractional ratio") << 1.25 << QRect(3, 3, 20, 20) << topLeft << QPoint(4, 4);
        QTest::newRow("centred") << 1.0 << QRect(0, 0, 32, 32) << int(Qt::AlignCenter) << QPoint(8, 8);
        QTest::newRow("bottom right") << 1.0 << QRect(0, 0, 32, 32) << int(Qt::AlignRight | Qt::AlignBottom)
                                      << QPoint(16, 16);
    }
    void paintSnapsAndAligns()
    {
        QFETCH(double, ratio);
        QFETCH(QRect, rect);
        QFETCH(int, alignment);
        QFETCH(QPoint, firstInkDevicePixel);
        KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
        QImage image = makeImage(QSize(40, 40), ratio);
        QPainter painter(&image);
        square->paint(&painter, rect, Qt::Alignment(alignment), QSize(), QColor(), Normal);
        painter.end();
        const QPoint ink = firstInkDevicePixel;
        QCOMPARE(qAlpha(image.pixel(ink.x(), ink.y() + 3)), 255);
        QCOMPARE(qAlpha(image.pixel(ink.x() - 1, ink.y() + 3)), 0);
        QCOMPARE(qAlpha(image.pixel(ink.x() + 3, ink.y())), 255);
        QCOMPARE(qAlpha(image.pixel(ink.x() + 3, ink.y() - 1)), 0);
    }

    void sizesAreBounded()
    {
        // A file whose declared size is absurd renders at most 4096 device pixels a side.
        KelIcon* huge = provider()->icon(QStringLiteral(":/svg/huge.svg"));
        QCOMPARE(huge->defaultSize(), QSize(100000, 50000));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Icon size bounded:"));
        QCOMPARE(huge->pixmap(1.0, QSize(), QColor(), Normal).size(), QSize(4096, 2048));
        KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Icon size bounded:"));
        const QPixmap pixmap = square->pixmap(2.0, QSize(3000, 1000), QColor(Qt::red), Normal);
        QVERIFY(pixmap.width() <= 4096 && pixmap.height() <= 4096);
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

private:
    QString file(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelIcons>(argc, argv, QStringLiteral("Kel Icons Test"));
}

#include "tst_kelicons.moc"

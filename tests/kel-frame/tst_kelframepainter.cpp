// The frame painter drawn into images at device pixel ratios 1, 1.5 and 2.
#include "imagetesthelpers.h"

#include "animators/kelwidgetstateanimator.h"
#include "painting/kelframepainter.h"
#include "painting/kelpaintcontext.h"

#include <QApplication>
#include <QRegularExpression>
#include <QTest>
#include <QWidget>

#include <functional>

namespace {

const QColor kBorder(255, 0, 0);
const QColor kBackground(0, 0, 255);

// Records the hooks in the order they run, with the dirty flag each one saw.
class RecordingPainter : public KelFramePainter {
public:
    using KelFramePainter::KelFramePainter;
    QStringList calls;

protected:
    void onSizeHintChanged() override { calls << QStringLiteral("size%1").arg(isGeometryDirty() ? "*" : ""); }
    void onLayoutChanged() override { calls << QStringLiteral("layout%1").arg(isGeometryDirty() ? "*" : ""); }
    void onAppearanceChanged() override { calls << QStringLiteral("look"); }
};

QPainterPath ellipsePath(KelFramePainter*, const QRect& rect)
{
    QPainterPath path;
    path.addEllipse(QRectF(rect));
    return path;
}

QPainterPath emptyPath(KelFramePainter*, const QRect&) { return QPainterPath(); }

// A frame over the whole image, drawn by the call.
QImage drawnBy(
    KelFramePainter& painter, const QSize& size, double ratio, const std::function<void(KelPaintContext&)>& draw)
{
    QImage image = makeImage(size, ratio);
    painter.setFrameRect(QRect(QPoint(0, 0), size));
    {
        KelPaintContext context(&image);
        draw(context);
    }
    return image;
}

QImage drawn(KelFramePainter& painter, const QSize& size, double ratio, const QColor& border = kBorder,
    const QColor& background = kBackground)
{
    return drawnBy(
        painter, size, ratio, [&](KelPaintContext& context) { painter.drawFrame(context, border, background); });
}

QImage drawnWithAnimator(KelFramePainter& painter, const QSize& size, double ratio, const KelWidgetStateAnimator* a)
{
    return drawnBy(painter, size, ratio, [&](KelPaintContext& context) { painter.drawFrame(context, a); });
}

void addRatios()
{
    QTest::addColumn<double>("ratio");
    QTest::newRow("100%") << 1.0;
    QTest::newRow("150%") << 1.5;
    QTest::newRow("200%") << 2.0;
}

} // namespace

class TestKelFramePainter : public QObject {
    Q_OBJECT

private slots:
    void sizeHintAndContentsFollowTheBoxModel()
    {
        KelFramePainter painter(nullptr);
        painter.setMargins(QMargins(1, 2, 3, 4));
        painter.setBorderWidths(QMargins(1, 1, 1, 1));
        painter.setPaddings(QMargins(5, 5, 5, 5));
        QCOMPARE(painter.sizeHint(), QSize(16, 18));
        QCOMPARE(painter.minimumSizeHint(), QSize(16, 18));
        QCOMPARE(painter.sizeAddition(), QSize(16, 18));
        QCOMPARE(painter.boxMargins(), QMargins(7, 8, 9, 10));

        painter.setFrameRect(QRect(10, 20, 100, 50));
        QVERIFY(painter.isGeometryDirty());
        painter.ensureGeometryIsValid();
        QVERIFY(!painter.isGeometryDirty());
        QCOMPARE(painter.contentsRect(), QRect(17, 28, 84, 32));

        // The size keeps the top-left corner.
        painter.setFrameSize(QSize(40, 40));
        painter.ensureGeometryIsValid();
        QCOMPARE(painter.frameRect(), QRect(10, 20, 40, 40));
        QCOMPARE(painter.contentsRect(), QRect(17, 28, 24, 22));
    }

    void anInvalidFrameRectPaintsNothing()
    {
        KelFramePainter painter(nullptr);
        painter.setBorderWidths(QMargins(1, 1, 1, 1));
        QImage image = makeImage(QSize(10, 10), 1.0);
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(QStringLiteral("KelFramePainter::ensureGeometryIsValid.*Frame rect is not valid!")));
        {
            KelPaintContext context(&image);
            painter.drawFrame(context, kBorder, kBackground);
        }
        QVERIFY(painter.isGeometryDirty());
        QVERIFY(painter.contentsRect().isNull());
        QCOMPARE(inkInside(image, image.rect()), 0);
    }

    void settersRunTheirHooksOnlyOnChange()
    {
        RecordingPainter painter(nullptr);
        painter.setMargins(QMargins(1, 1, 1, 1));
        painter.setMargins(QMargins(1, 1, 1, 1));
        QCOMPARE(painter.calls, (QStringList { "size*", "layout*" }));

        painter.calls.clear();
        painter.setBorderWidths(QMargins(2, 2, 2, 2));
        painter.setPaddings(QMargins(3, 3, 3, 3));
        painter.setRadii(KelRadii(4));
        painter.setBorderWidths(QMargins(2, 2, 2, 2));
        painter.setPaddings(QMargins(3, 3, 3, 3));
        painter.setRadii(KelRadii(4));
        QCOMPARE(painter.calls.size(), 6);

        painter.calls.clear();
        painter.setFrameRect(QRect(0, 0, 10, 10));
        painter.setFrameRect(QRect(0, 0, 10, 10));
        painter.setFrameSize(QSize(10, 10));
        painter.setCustomPathFunction(ellipsePath);
        painter.setCustomPathFunction(ellipsePath);
        QCOMPARE(painter.calls, (QStringList { "layout*", "layout*" }));

        painter.calls.clear();
        painter.setBorderColors(KelStateColors(kBorder));
        painter.setBorderColors(KelStateColors(kBorder));
        painter.setBackgroundColors(KelStateColors(kBackground));
        painter.setBackgroundColors(KelStateColors(kBackground));
        painter.setPenOverlapping(KelPainting::NotOverlapping);
        painter.setPenOverlapping(KelPainting::NotOverlapping);
        QCOMPARE(painter.calls, (QStringList { "look", "look", "look" }));

        // One colour of the eight differs: a change.
        painter.calls.clear();
        KelStateColors colors(kBorder);
        colors.checked.disabled = Qt::green;
        painter.setBorderColors(colors);
        QCOMPARE(painter.calls, QStringList { "look" });
    }

    void uniformBorderAndBackground_data() { addRatios(); }
    void uniformBorderAndBackground()
    {
        QFETCH(double, ratio);
        KelFramePainter painter(nullptr);
        painter.setMargins(QMargins(2, 2, 2, 2));
        painter.setBorderWidths(QMargins(1, 1, 1, 1));
        const QImage image = drawn(painter, QSize(24, 18), ratio);

        // Margin, border one device-pixel-exact unit wide, background, border, margin.
        const int margin = qRound(2 * ratio), border = qRound(ratio), right = qRound(22 * ratio);
        const int y = image.height() / 2;
        for (int x = 0; x < image.width(); ++x) {
            QColor expected = Qt::transparent;
            if (x >= margin && x < right)
                expected = (x < margin + border || x >= right - border) ? kBorder : kBackground;
            QVERIFY2(image.pixelColor(x, y) == expected,
                qPrintable(QStringLiteral("x %1: %2").arg(x).arg(image.pixelColor(x, y).name(QColor::HexArgb))));
        }
        QCOMPARE(image.pixelColor(image.width() / 2, margin), kBorder);
        QCOMPARE(image.pixelColor(image.width() / 2, margin + border), kBackground);
        QCOMPARE(inkOutside(image, QRect(margin, margin, right - margin, qRound(16 * ratio) - margin)), 0);
    }

    void nothingWantedPaintsNothing()
    {
        KelFramePainter painter(nullptr);
        const QImage transparent = drawn(painter, QSize(10, 10), 1.0, kBorder, Qt::transparent);
        QCOMPARE(inkInside(transparent, transparent.rect()), 0);
        const QImage invalid = drawn(painter, QSize(10, 10), 1.0, QColor(), QColor());
        QCOMPARE(inkInside(invalid, invalid.rect()), 0);
    }

    void bordersOfDifferentWidthsAreBars_data() { addRatios(); }
    void bordersOfDifferentWidthsAreBars()
    {
        QFETCH(double, ratio);
        const int margin = qRound(2 * ratio), bar = qRound(ratio);
        const int right = qRound(22 * ratio), bottom = qRound(16 * ratio);
        const QRect box(margin, margin, right - margin, bottom - margin);
        KelFramePainter painter(nullptr);
        painter.setMargins(QMargins(2, 2, 2, 2));

        painter.setBorderWidths(QMargins(0, 1, 0, 1));
        QImage image = drawn(painter, QSize(24, 18), ratio, kBorder, Qt::transparent);
        QCOMPARE(inkInside(image, image.rect()), 2 * bar * box.width());
        QCOMPARE(inkInside(image, QRect(box.left(), box.top(), box.width(), bar)), bar * box.width());
        QCOMPARE(inkInside(image, QRect(box.left(), bottom - bar, box.width(), bar)), bar * box.width());
        QCOMPARE(image.pixelColor(box.left(), box.top()), kBorder);

        painter.setBorderWidths(QMargins(1, 0, 1, 0));
        image = drawn(painter, QSize(24, 18), ratio, kBorder, Qt::transparent);
        QCOMPARE(inkInside(image, image.rect()), 2 * bar * box.height());
        QCOMPARE(inkInside(image, QRect(box.left(), box.top(), bar, box.height())), bar * box.height());
        QCOMPARE(image.pixelColor(right - 1, bottom - 1), kBorder);

        // A background below bars of two widths fills the whole box when the pen overlaps it.
        painter.setBorderWidths(QMargins(1, 2, 1, 2));
        image = drawn(painter, QSize(24, 18), ratio);
        QCOMPARE(image.pixelColor(box.center().x(), margin + qRound(2 * ratio) - 1), kBorder);
        QCOMPARE(image.pixelColor(box.center().x(), margin + qRound(2 * ratio)), kBackground);
        QCOMPARE(inkInside(image, box), box.width() * box.height());
    }

    void aTranslucentBorderOverlapsTheBackgroundOrNot()
    {
        const QColor translucent(255, 0, 0, 128);
        for (bool uniform : { true, false }) {
            KelFramePainter painter(nullptr);
            painter.setBorderWidths(uniform ? QMargins(2, 2, 2, 2) : QMargins(2, 2, 2, 3));
            const QImage over = drawn(painter, QSize(20, 20), 1.0, translucent, kBackground);
            QCOMPARE(over.pixelColor(0, 10).alpha(), 255);
            QVERIFY(over.pixelColor(0, 10).blue() > 100);

            painter.setPenOverlapping(KelPainting::NotOverlapping);
            const QImage beside = drawn(painter, QSize(20, 20), 1.0, translucent, kBackground);
            QCOMPARE(beside.pixelColor(0, 10).blue(), 0);
            QVERIFY(qAbs(beside.pixelColor(0, 10).alpha() - 128) <= 1);
            QCOMPARE(beside.pixelColor(10, 10), kBackground);
        }
    }

    void dashedBarsAreDrawnSolid()
    {
        KelFramePainter painter(nullptr);
        painter.setBorderWidths(QMargins(1, 2, 1, 2));
        painter.setDashPattern({ 2.0, 2.0 });
        QTest::ignoreMessage(QtCriticalMsg,
            QRegularExpression(QStringLiteral("Dash-pen.*is not implemented for variadic-width borders")));
        const QImage image = drawn(painter, QSize(20, 20), 1.0, kBorder, Qt::transparent);
        QCOMPARE(inkInside(image, QRect(0, 0, 20, 2)), 40);
        QCOMPARE(inkInside(image, QRect(0, 18, 20, 2)), 40);
    }

    void roundedCorners_data() { addRatios(); }
    void roundedCorners()
    {
        QFETCH(double, ratio);
        KelFramePainter painter(nullptr);
        painter.setBorderWidths(QMargins(1, 1, 1, 1));
        painter.setRadii(KelRadii(6));
        const QImage image = drawn(painter, QSize(30, 20), ratio);
        const int w = image.width(), h = image.height();
        for (const QPoint& corner : { QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1) })
            QCOMPARE(image.pixelColor(corner).alpha(), 0);
        QCOMPARE(image.pixelColor(w / 2, 0), kBorder);
        QCOMPARE(image.pixelColor(0, h / 2), kBorder);
        QCOMPARE(image.pixelColor(w / 2, h / 2), kBackground);

        // Four radii of their own: only the rounded corner loses its pixel.
        painter.setRadii(KelRadii(0, 8, 0, 0));
        const QImage one = drawn(painter, QSize(30, 20), ratio);
        // (Qt strokes a line one device pixel wide without full coverage at square corners.)
        QCOMPARE(one.pixelColor(w - 1, 0).alpha(), 0);
        for (const QPoint& corner : { QPoint(0, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1) }) {
            const QColor c = one.pixelColor(corner);
            QVERIFY2(c.alpha() > 180 && c.red() > 200, qPrintable(c.name(QColor::HexArgb)));
        }
    }

    void roundedFramesTakeTheLeftWidthEverywhere()
    {
        KelFramePainter painter(nullptr);
        painter.setBorderWidths(QMargins(2, 1, 1, 1));
        painter.setRadii(KelRadii(4));
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("Rounded frame can't have variadic-width borders!")));
        const QImage image = drawn(painter, QSize(30, 20), 1.0);
        QCOMPARE(image.pixelColor(15, 19), kBorder);
        QCOMPARE(image.pixelColor(15, 18), kBorder);
        QCOMPARE(image.pixelColor(15, 17), kBackground);
    }

    void statesBlendTheColours_data() { addRatios(); }
    void statesBlendTheColours()
    {
        QFETCH(double, ratio);
        KelStateColors background(QColor(200, 0, 0), QColor(0, 255, 0), QColor(0, 0, 0), QColor(0, 0, 200),
            QColor(0, 255, 0), QColor(0, 0, 0));
        background.unchecked.disabled = QColor(50, 50, 50);
        KelFramePainter painter(nullptr);
        painter.setBorderWidths(QMargins(1, 1, 1, 1));
        painter.setBorderColors(KelStateColors(kBorder));
        painter.setBackgroundColors(background);
        KelWidgetStateAnimator animator(0);
        const QSize size(12, 12);
        auto centre = [&]() { return colorAt(drawnWithAnimator(painter, size, ratio, &animator), 6, 6); };
        auto edge = [&]() { return colorAt(drawnWithAnimator(painter, size, ratio, &animator), 0, 6); };

        QCOMPARE(centre(), QColor(200, 0, 0));
        QCOMPARE(edge(), kBorder);
        animator.setHoveredProgress(1.0);
        QCOMPARE(centre(), QColor(0, 255, 0));
        animator.setPressedProgress(1.0);
        QCOMPARE(centre(), QColor(0, 0, 0));
        animator.setPressedProgress(0.0);
        animator.setHoveredProgress(0.5);
        const QColor half = centre();
        QVERIFY2(
            half.green() > 20 && half.green() < 235 && half.red() > 20 && half.red() < 200, qPrintable(half.name()));
        animator.setHoveredProgress(0.0);
        animator.setCheckedProgress(1.0);
        QCOMPARE(centre(), QColor(0, 0, 200));
        animator.setCheckedProgress(0.0);
        animator.setDisabledProgress(1.0);
        QCOMPARE(centre(), QColor(50, 50, 50));
        // Without a disabled colour the normal one fades with the animator's dimming.
        painter.setPenOverlapping(KelPainting::NotOverlapping);
        QColor border = edge();
        QCOMPARE(border.rgb(), kBorder.rgb());
        QVERIFY(qAbs(border.alphaF() - animator.opacity()) < 0.01);
        QVERIFY(animator.opacity() < 0.9);

        // Without an animator: the unchecked normal colours.
        QCOMPARE(colorAt(drawnWithAnimator(painter, size, ratio, nullptr), 6, 6), QColor(200, 0, 0));
    }

    void aCustomPathIsPaintedAndMasksTheWidget()
    {
        QWidget widget;
        widget.resize(30, 30);
        KelFramePainter painter(&widget);
        QCOMPARE(painter.widget(), &widget);
        painter.setCustomPathFunction(ellipsePath);
        const QImage image = drawn(painter, QSize(30, 30), 1.0, QColor(), kBackground);
        QCOMPARE(image.pixelColor(15, 15), kBackground);
        QCOMPARE(image.pixelColor(1, 1).alpha(), 0);
        QVERIFY(widget.mask().contains(QPoint(15, 15)));
        QVERIFY(!widget.mask().contains(QPoint(1, 1)));

        // A path that became empty takes the mask away; the box is painted again.
        painter.setCustomPathFunction(emptyPath);
        const QImage plain = drawn(painter, QSize(30, 30), 1.0, QColor(), kBackground);
        QVERIFY(widget.mask().isEmpty());
        QCOMPARE(plain.pixelColor(1, 1), kBackground);
    }

    void theWidgetIsGuarded()
    {
        auto* widget = new QWidget;
        KelFramePainter painter(widget);
        delete widget;
        QVERIFY(!painter.widget());
        painter.setMargins(QMargins(1, 1, 1, 1)); // the hooks find no widget to update
        QCOMPARE(painter.sizeHint(), QSize(2, 2));
    }

    void diagnosticsShowTheBoxModel_data() { addRatios(); }
    void diagnosticsShowTheBoxModel()
    {
        QFETCH(double, ratio);
        KelFramePainter painter(nullptr);
        painter.setMargins(QMargins(4, 4, 4, 4));
        painter.setBorderWidths(QMargins(4, 4, 4, 4));
        painter.setPaddings(QMargins(4, 4, 4, 4));
        QImage image = makeImage(QSize(40, 40), ratio);
        {
            KelPaintContext context(&image);
            context.drawFramePainterDiagnostics(&painter);
            context.drawFramePainterDiagnostics(nullptr);
        }
        auto dominant = [&](double x) {
            const QColor c = colorAt(image, x, 20);
            return QString::fromLatin1("%1%2%3")
                .arg(c.red() > 128 ? "r" : "")
                .arg(c.green() > 128 ? "g" : "")
                .arg(c.blue() > 128 ? "b" : "");
        };
        QCOMPARE(dominant(2), QStringLiteral("rg")); // margins, yellow
        QCOMPARE(dominant(6), QStringLiteral("rb")); // border, magenta
        QCOMPARE(dominant(10), QStringLiteral("g")); // paddings, green
        QCOMPARE(dominant(20), QStringLiteral("gb")); // contents, blue
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestKelFramePainter test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_kelframepainter.moc"

// The toolkit's painting layer, paint contexts, geometry, region and widget-tree utilities; window masks.
#include "imagetesthelpers.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "platform/x11/regionutils.h"
#include "utils/kelgeometryutils.h"
#include "utils/kelhooks.h"
#include "utils/kelwidgettreeutils.h"
#include "utils/kelwindowmaskutils.h"
#include "windowwaits.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QStyleOption>
#include <QTest>
#include <QWindow>

#include <cmath>
#include <memory>

namespace {

const QString kLongText = QStringLiteral(
    "Reading keeps every book where it was and remembers the page where reading stopped last time around");

bool isWhole(double v) { return std::fabs(v - std::round(v)) < 1e-9; }

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
    for (int i = 0; i < (row ? image.width() : image.height()); ++i) {
        if (qAlpha(row ? image.pixel(i, index) : image.pixel(index, i)) != 0) {
            first = first < 0 ? i : first;
            last = i;
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

QFont testFont() { return KelUtils::makeFont(12, QFont::Normal, QStringLiteral("DejaVu Sans")); }

struct DrawnText {
    QImage image;
    bool elided = true;
};

DrawnText drawText(const QString& text, const QRectF& rect, double ratio, Qt::Alignment alignment,
    Qt::TextElideMode elideMode, int lineSpacing, int maxLineCount = 0,
    const QVector<QTextLayout::FormatRange>& formats = {})
{
    DrawnText result;
    result.image = makeImage(QSize(120, 80), ratio);
    QPainter painter(&result.image);
    painter.setFont(testFont());
    painter.setPen(Qt::black);
    KelPainting::drawWordWrappedText(&painter, text, rect, alignment, QTextOption::WordWrap, elideMode, lineSpacing,
        maxLineCount, &result.elided, nullptr, formats);
    return result;
}

// Inked device pixels of the band that are red, and those that are not.
QPair<int, int> redAndOtherInk(const QImage& image, const QRect& band)
{
    QPair<int, int> counts;
    for (int y = band.top(); y <= band.bottom(); ++y) {
        for (int x = band.left(); x <= band.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() < 128)
                continue;
            (c.red() > 150 && c.green() < 100 ? counts.first : counts.second) += 1;
        }
    }
    return counts;
}

// Device rows of one line band (one line spacing from the top of the text box).
QRect lineBand(const QRectF& rect, int line, int lineSpacing, double ratio)
{
    return toDevice(QRectF(rect.left(), rect.top() + line * lineSpacing, rect.width(), lineSpacing), ratio);
}

// Opens a second context on its own painter inside the paint event, as proxy-style drawing does.
class NestingWidget : public QWidget {
public:
    int countWhileNested = 0;

protected:
    void paintEvent(QPaintEvent*) override
    {
        KelPaintContext context(this);
        QStyleOption option;
        option.rect = rect();
        KelPaintContext nested(context.painter(), &option);
        countWhileNested = KelPaintContext::openContextCount(this);
    }
};

// A widget whose size hint changes without telling its layout, as a retranslated one does.
class SilentHint : public QWidget {
public:
    QSize hint { 50, 20 };
    QSize sizeHint() const override { return hint; }
};

// A frameless window at a fixed place on the screen.
QWidget* makeWindow(bool transparentForMouse = false)
{
    auto* window = new QWidget(nullptr, Qt::FramelessWindowHint);
    window->setAttribute(Qt::WA_TransparentForMouseEvents, transparentForMouse);
    window->setGeometry(40, 40, 200, 160);
    window->show();
    return window;
}

class FontChangeCounter : public QWidget {
public:
    int changes = 0;

protected:
    void changeEvent(QEvent* event) override
    {
        changes += event->type() == QEvent::FontChange;
        QWidget::changeEvent(event);
    }
};

} // namespace

class TestKelPainting : public QObject {
    Q_OBJECT

private slots:

    void arrowsPointTheirWayInsideTheirBox_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("lineWidth");
        for (double ratio : { 1.0, 1.5 }) {
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
        // The wide end of the arrow is its open side, the narrow end its tip.
        const int firstSpan = inkSpan(image, vertical ? device.top() : device.left(), vertical);
        const int lastSpan = inkSpan(image, vertical ? device.bottom() : device.right(), vertical);
        const bool wideFirst = type == Qt::DownArrow || type == Qt::RightArrow;
        QVERIFY2(wideFirst ? firstSpan > lastSpan : lastSpan > firstSpan,
            qPrintable(QStringLiteral("spans %1 %2").arg(firstSpan).arg(lastSpan)));
        // A chevron is open: its inside near the wide end stays clear.
        if (type == Qt::DownArrow)
            QCOMPARE(colorAt(image, 10, box.top() + 1).alpha() == 0, lineWidth > 0);
    }

    void pixelAlignedLinesAreCrisp_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::addColumn<double>("penWidth");
        QTest::addColumn<double>("position");
        QTest::addColumn<int>("deviceWidth");
        QTest::newRow("150% cosmetic") << 1.5 << 0.0 << 5.0 << 1;
        QTest::newRow("150% off-grid") << 1.5 << 1.0 << 5.3 << 2;
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
            painter.setPen(QPen(Qt::black, penWidth, Qt::SolidLine, Qt::FlatCap));
            if (horizontal)
                KelPainting::drawPixelAlignedLine(painter, QPointF(2, position), QPointF(18, position));
            else
                KelPainting::drawPixelAlignedLine(painter, QPointF(position, 2), QPointF(position, 18));
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

    // Image helpers: colourising keeps the alpha; the blurred copy of a widget mixes across the seam.
    void imageHelpers()
    {
        const QColor green(0, 200, 0);
        QImage premultiplied(2, 1, QImage::Format_ARGB32_Premultiplied);
        premultiplied.setPixel(0, 0, qPremultiply(qRgba(10, 20, 30, 128)));
        premultiplied.setPixel(1, 0, 0);
        KelPainting::colorizeImage(premultiplied, green);
        QCOMPARE(premultiplied.pixel(0, 0), qPremultiply(qRgba(0, 200, 0, 128)));
        QCOMPARE(premultiplied.pixel(1, 0), 0u);

        QVERIFY(KelPainting::blurredWidgetPixmap(nullptr, 4).isNull());
        QWidget widget;
        widget.resize(40, 30);
        for (const QRect& half : { QRect(0, 0, 20, 30), QRect(20, 0, 20, 30) }) {
            auto* child = new QWidget(&widget);
            child->setGeometry(half);
            child->setAutoFillBackground(true);
            child->setPalette(QPalette(half.x() == 0 ? Qt::red : Qt::blue));
        }
        QCOMPARE(KelPainting::blurredWidgetPixmap(&widget, 0).toImage().pixelColor(19, 15), QColor(Qt::red));
        const QColor seam = KelPainting::blurredWidgetPixmap(&widget, 8).toImage().pixelColor(20, 15);
        QVERIFY2(seam.red() > 40 && seam.blue() > 40, qPrintable(seam.name()));
    }

    void textSizeAtAFixedPitch()
    {
        const QFont font = testFont();
        const auto size = [&font](const QString& text, QSize limit, int spacing, int lines = 0,
                              QTextOption::WrapMode wrap = QTextOption::WordWrap) {
            return KelPainting::wordWrappedTextSize(text, font, wrap, limit, spacing, lines);
        };
        const int wider = qRound(QFontMetricsF(font).horizontalAdvance(QStringLiteral("abcdef")));
        const QString text = QStringLiteral("ab\nabcdef");
        QCOMPARE(size(text, QSize(0, 1000), 10), QSize(wider, 20));
        // A height below one line spacing places no line; a line count of 1 places one.
        QCOMPARE(size(text, QSize(0, 5), 10).height(), 0);
        QCOMPARE(size(text, QSize(0, 1000), 10, 1),
            QSize(qRound(QFontMetricsF(font).horizontalAdvance(QStringLiteral("ab"))), 10));
        // Empty paragraphs count as lines; the font's line spacing stands in for 0.
        QCOMPARE(size(QStringLiteral("\n\n"), QSize(0, 100), 0).height(), 3 * QFontMetrics(font).lineSpacing());
        // Wrapped lines stay within the width and stop at the height or the line count.
        const QSize wrapped = size(kLongText, QSize(100, 1000), 12);
        QCOMPARE(wrapped.width(), 100);
        QVERIFY(wrapped.height() >= 5 * 12 && wrapped.height() % 12 == 0);
        QCOMPARE(size(kLongText, QSize(100, 30), 12).height(), 24);
        QCOMPARE(size(kLongText, QSize(100, 1000), 12, 3).height(), 36);
        QCOMPARE(size(kLongText, QSize(100, 1000), 12, 0, QTextOption::NoWrap).height(), 12);
        // Wrapped at words only, a word wider than the line ends the text on its line.
        const QString tooWide = QStringLiteral("Reading Notwithstandingthelongestwordsofall keeps on");
        QCOMPARE(size(tooWide, QSize(100, 1000), 12).height(), 24);
        QVERIFY(size(tooWide, QSize(100, 1000), 12, 0, QTextOption::WrapAtWordBoundaryOrAnywhere).height() > 24);
    }

    void textElidesTheLastLineThatFits_data() { addRatios(); }
    void textElidesTheLastLineThatFits()
    {
        QFETCH(double, ratio);
        const int spacing = 16;
        const QRectF rect(4, 4, 100, 2 * spacing);
        const Qt::Alignment topLeft = Qt::AlignLeft | Qt::AlignTop;
        const DrawnText elided = drawText(kLongText, rect, ratio, topLeft, Qt::ElideRight, spacing);
        QVERIFY(elided.elided);
        QCOMPARE(inkOutside(elided.image, toDevice(rect, ratio)), 0);
        QVERIFY(inkInside(elided.image, lineBand(rect, 1, spacing, ratio)) > 0);
        const DrawnText cut = drawText(kLongText, rect, ratio, topLeft, Qt::ElideNone, spacing);
        QVERIFY(!cut.elided);
        QVERIFY(cut.image != elided.image); // the second line differs: laid out versus elided

        // Right alignment puts the elided line's end against the right edge.
        const DrawnText right
            = drawText(kLongText, rect, ratio, Qt::AlignRight | Qt::AlignTop, Qt::ElideRight, spacing);
        const QRect band = lineBand(rect, 1, spacing, ratio);
        const QRect edge(band.right() - int(3 * ratio), band.top(), int(3 * ratio) + 1, band.height());
        QVERIFY(inkInside(right.image, edge) > 0);

        // Wrapped at words only, the elided line ends after a whole word with an ellipsis, and a word
        // wider than the line ends the text on its line, cut inside as nothing else fits.
        QStringList lines;
        {
            QImage image = makeImage(QSize(120, 80), ratio);
            QPainter painter(&image);
            painter.setFont(testFont());
            KelPainting::drawWordWrappedText(
                &painter, kLongText, rect, topLeft, QTextOption::WordWrap, Qt::ElideRight, spacing, 0, nullptr, &lines);
            QCOMPARE(lines.size(), 2);
            QVERIFY2(lines.last().endsWith(QChar(0x2026)), qPrintable(lines.last()));
            const QString shown = lines.first() + QLatin1Char(' ') + lines.last().chopped(1);
            QVERIFY2(kLongText.startsWith(shown + QLatin1Char(' ')), qPrintable(shown));
            KelPainting::drawWordWrappedText(&painter,
                QStringLiteral("Reading Notwithstandingthelongestwordsofall keeps on"), QRectF(4, 4, 100, 70), topLeft,
                QTextOption::WordWrap, Qt::ElideRight, spacing, 0, nullptr, &lines);
            QCOMPARE(lines.size(), 2);
            QCOMPARE(lines.first(), QStringLiteral("Reading"));
            QVERIFY2(lines.last().startsWith(QStringLiteral("Notwith")) && lines.last().endsWith(QChar(0x2026)),
                qPrintable(lines.last()));
        }

        // A format colours its range on a laid-out line and on the elided one, but not the ellipsis.
        QTextCharFormat red;
        red.setForeground(Qt::red);
        const DrawnText coloured = drawText(
            kLongText, rect, ratio, topLeft, Qt::ElideRight, spacing, 0, { { 0, int(kLongText.size()), red } });
        const QPair<int, int> first = redAndOtherInk(coloured.image, lineBand(rect, 0, spacing, ratio));
        const QPair<int, int> last = redAndOtherInk(coloured.image, lineBand(rect, 1, spacing, ratio));
        QVERIFY2(first.first > 0 && first.second == 0,
            qPrintable(QStringLiteral("%1 %2").arg(first.first).arg(first.second)));
        QVERIFY2(
            last.first > 0 && last.second > 0, qPrintable(QStringLiteral("%1 %2").arg(last.first).arg(last.second)));
        QCOMPARE(redAndOtherInk(elided.image, toDevice(rect, ratio)).first, 0);

        // A line count limit ends the text after its last line.
        const DrawnText one = drawText(kLongText, QRectF(4, 4, 100, 70), ratio, topLeft, Qt::ElideRight, spacing, 1);
        QVERIFY(one.elided);
        QCOMPARE(inkOutside(one.image, lineBand(rect, 0, spacing, ratio)), 0);

        // Short text is centred whole; without a painter nothing is drawn or elided.
        const DrawnText centred
            = drawText(QStringLiteral("Short"), QRectF(4, 4, 100, 70), ratio, Qt::AlignCenter, Qt::ElideRight, spacing);
        QVERIFY(!centred.elided);
        const QRect middle = toDevice(QRectF(24, 32, 60, spacing), ratio);
        QCOMPARE(inkOutside(centred.image, middle), 0);
        QVERIFY(inkInside(centred.image, middle) > 0);
        bool notElided = true;
        KelPainting::drawWordWrappedText(nullptr, kLongText, QRectF(0, 0, 10, 10), Qt::AlignLeft, QTextOption::WordWrap,
            Qt::ElideRight, 0, 0, &notElided);
        QVERIFY(!notElided);
    }

    void contextPutsTheOriginOnADevicePixel_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::addColumn<QPointF>("offset");
        QTest::newRow("125% at 1,2") << 1.25 << QPointF(1, 2);
        QTest::newRow("150% at 0.2,7") << 1.5 << QPointF(0.2, 7);
    }
    // A context on a device spans its logical rectangle; one on a painter snaps the origin to a device pixel.
    void contextPutsTheOriginOnADevicePixel()
    {
        QFETCH(double, ratio);
        QFETCH(QPointF, offset);
        QImage image = makeImage(QSize(40, 40), ratio);
        {
            KelPaintContext context(&image);
            QCOMPARE(context.rect(), QRectF(0, 0, 40, 40));
            QCOMPARE(context.painter()->deviceTransform(), QTransform::fromScale(ratio, ratio));
            QCOMPARE(KelPaintContext::openContextCount(&image), 1);
        }
        QPainter painter(&image);
        painter.translate(offset);
        const QTransform before = painter.deviceTransform();
        QStyleOption option;
        option.rect = QRect(0, 0, 11, 7);
        {
            KelPaintContext context(&painter, &option);
            const QTransform& transform = painter.deviceTransform();
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

    void contextsNullAndNested()
    {
        QTest::ignoreMessage(QtWarningMsg, "Trying to init null device painter!");
        KelPaintContext context(static_cast<QPaintDevice*>(nullptr));
        QVERIFY(context.rect().isNull());

        NestingWidget named;
        named.setObjectName(QStringLiteral("pageFrame"));
        named.resize(20, 20);
        QTest::ignoreMessage(QtWarningMsg, "KelPaintContext: Recursive context creation detected for pageFrame");
        named.grab();
        QCOMPARE(named.countWhileNested, 2);
        QCOMPARE(KelPaintContext::openContextCount(&named), 0);
    }

    void alignRect_data()
    {
        QTest::addColumn<int>("alignment");
        QTest::addColumn<QRect>("outer");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("clip");
        QTest::addColumn<QRect>("expected");
        const QRect outer(10, 20, 30, 40);
        QTest::newRow("centre") << int(Qt::AlignCenter) << QRect(0, 0, 15, 15) << QSize(10, 10) << false
                                << QRect(2, 2, 10, 10);
        QTest::newRow("bottom right") << int(Qt::AlignRight | Qt::AlignBottom) << outer << QSize(5, 6) << false
                                      << QRect(35, 54, 5, 6);
        QTest::newRow("no flags keeps the top-left") << 0 << outer << QSize(5, 6) << false << QRect(10, 20, 5, 6);
        QTest::newRow("later flag wins") << int(Qt::AlignLeft | Qt::AlignRight) << QRect(0, 0, 20, 20) << QSize(4, 4)
                                         << false << QRect(16, 0, 4, 4);
        QTest::newRow("larger, clipped") << int(Qt::AlignCenter) << QRect(0, 0, 10, 10) << QSize(20, 4) << true
                                         << QRect(0, 3, 10, 4);
        QTest::newRow("larger, unclipped")
            << int(Qt::AlignCenter) << QRect(0, 0, 10, 10) << QSize(20, 4) << false << QRect(-5, 3, 20, 4);
    }
    void alignRect()
    {
        QFETCH(int, alignment);
        QFETCH(QRect, outer);
        QFETCH(QSize, size);
        QFETCH(bool, clip);
        QFETCH(QRect, expected);
        QCOMPARE(KelUtils::alignRect(Qt::Alignment(alignment), outer, size, clip), expected);
    }

    void alignedRectBesideAnAnchor_data()
    {
        QTest::addColumn<int>("edge");
        QTest::addColumn<int>("alignment");
        QTest::addColumn<QPoint>("offset");
        QTest::addColumn<QRect>("expected");
        // Anchor (100, 100, 50, 20); the placed rectangle is 30 x 10.
        QTest::newRow("bottom, left") << int(Qt::BottomEdge) << int(Qt::AlignLeft) << QPoint(4, 0)
                                      << QRect(100, 124, 30, 10);
        QTest::newRow("bottom, right, shifted")
            << int(Qt::BottomEdge) << int(Qt::AlignRight) << QPoint(0, -3) << QRect(117, 120, 30, 10);
        QTest::newRow("right, top") << int(Qt::RightEdge) << int(Qt::AlignTop) << QPoint(2, 1)
                                    << QRect(152, 101, 30, 10);
        QTest::newRow("left, vcentre") << int(Qt::LeftEdge) << int(Qt::AlignVCenter) << QPoint(0, 0)
                                       << QRect(70, 105, 30, 10);
    }
    void alignedRectBesideAnAnchor()
    {
        QFETCH(int, edge);
        QFETCH(int, alignment);
        QFETCH(QPoint, offset);
        QFETCH(QRect, expected);
        const QRect placed = KelUtils::alignedRect(
            QRect(100, 100, 50, 20), QRect(400, 400, 30, 10), Qt::Edge(edge), Qt::AlignmentFlag(alignment), offset);
        QCOMPARE(placed, expected);
    }

    void fitIntoAvailableGeometry()
    {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect reference(area.center(), QSize(1, 1));
        const QRect inside(area.x() + 10, area.y() + 10, 50, 50);
        QCOMPARE(KelUtils::fitIntoAvailableGeometry(reference, inside), inside);
        // Over the right and bottom edges: moved back so that the last pixel is the area's last pixel.
        const QRect moved
            = KelUtils::fitIntoAvailableGeometry(reference, QRect(area.right() - 20, area.bottom() - 10, 50, 40));
        QCOMPARE(moved, QRect(area.right() - 49, area.bottom() - 39, 50, 40));
        // A reference off every screen falls back to the primary screen.
        QCOMPARE(KelUtils::fitIntoAvailableGeometry(QRect(-5000, -5000, 1, 1), QRect(area.x() - 30, area.y(), 20, 20))
                     .left(),
            area.x());
        // On a row grid the top leaves the remainder of the rows above.
        const QRect fitted = KelUtils::fitIntoAvailableGeometry(area, QRect(area.x(), area.y(), 40, 40), 20, 5);
        QCOMPARE(fitted.top(), area.y() + (area.height() - 2 * 5) % 20);
        // The right and bottom edges (x = screen x + width) still find the screen.
        const QRect g = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(KelUtils::screenAt(QPoint(g.x() + g.width(), g.y() + g.height())), QGuiApplication::primaryScreen());
        QCOMPARE(KelUtils::screenAt(QPoint(g.x() + g.width() + 1, g.y())), static_cast<QScreen*>(nullptr));
    }

    void fitRectIntoRect()
    {
        const QRect bounds(0, 0, 100, 50);
        QCOMPARE(
            KelUtils::fitRectIntoRect(QRect(80, 40, 40, 40), bounds, Qt::IgnoreAspectRatio), QRect(80, 40, 20, 10));
        // Larger: scaled down keeping its aspect, then moved inside.
        QCOMPARE(
            KelUtils::fitRectIntoRect(QRect(-10, -10, 200, 200), bounds, Qt::KeepAspectRatio), QRect(0, 0, 50, 50));
        // Smaller but sticking out: moved, not resized.
        QCOMPARE(KelUtils::fitRectIntoRect(QRect(90, 45, 20, 10), bounds, Qt::KeepAspectRatio), QRect(80, 40, 20, 10));
    }

    void widgetTreeUtilities()
    {
        // A size hint changed deep down without telling the layouts is measured again.
        QWidget page;
        auto* layout = new QVBoxLayout(&page);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* panel = new QWidget;
        auto* panelLayout = new QHBoxLayout(panel);
        panelLayout->setContentsMargins(0, 0, 0, 0);
        auto* deep = new SilentHint;
        panelLayout->addWidget(deep);
        layout->addWidget(panel);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page, windowwaits::kTimeoutMs));
        QCOMPARE(layout->sizeHint().width(), 50);
        deep->hint = QSize(180, 20);
        QCoreApplication::processEvents();
        KelUtils::updateGeometriesRecursively(&page);
        QCOMPARE(layout->sizeHint().width(), 180);

        auto* dialog = new QDialog(&page);
        auto* button = new QLabel(new QWidget(dialog, Qt::Popup));
        QCOMPARE(KelUtils::topLevelWindow(button), &page);
        QCOMPARE(KelUtils::topLevelWindow(nullptr), static_cast<QWidget*>(nullptr));

        // Clearing deletes spacers, nested layouts and their widgets too.
        QPointer<QHBoxLayout> row = new QHBoxLayout;
        QPointer<QLabel> nested = new QLabel(QStringLiteral("nested"));
        row->addWidget(nested);
        layout->addSpacing(8);
        layout->addLayout(row);
        KelUtils::clearLayout(layout);
        QCOMPARE(layout->count(), 0);
        QVERIFY(nested.isNull() && row.isNull());
        KelUtils::clearLayout(nullptr);

        // A font is set only when it differs.
        FontChangeCounter widget;
        KelUtils::setWidgetFont(&widget, 12, QFont::Normal, QStringLiteral("DejaVu Sans"));
        KelUtils::setWidgetFont(&widget, 12, QFont::Normal, QStringLiteral("DejaVu Sans"));
        QCOMPARE(widget.changes, 1);
        KelUtils::setWidgetFont(&widget, 12, QFont::DemiBold, QStringLiteral("DejaVu Sans"));
        QCOMPARE(widget.changes, 2);
        QCOMPARE(widget.font().weight(), int(QFont::DemiBold));
    }

    void regionsAndMasks_data() { addRatios(); }
    // Rounded and scaled regions; masks from paths at the device pixel ratio.
    void regionsAndMasks()
    {
        QFETCH(double, ratio);
        const QRect rect(10, 20, 30, 16);
        QCOMPARE(RegionUtils::createRectRegion(rect, 0), QRegion(rect));
        // Rounded: one pixel wider and taller, with 8 x 8 corner ellipses for radius 4.
        const QRegion rounded = RegionUtils::createRectRegion(rect, 4);
        QCOMPARE(rounded.boundingRect(), QRect(10, 20, 31, 17));
        for (const QPoint& corner : { QPoint(10, 20), QPoint(40, 20), QPoint(10, 36), QPoint(40, 36) })
            QVERIFY2(!rounded.contains(corner), qPrintable(QStringLiteral("%1,%2").arg(corner.x()).arg(corner.y())));
        QVERIFY(rounded.contains(QPoint(14, 20)) && rounded.contains(QPoint(10, 24)));
        // A radius larger than the rectangle still gives a region inside it.
        QVERIFY(QRect(0, 0, 5, 5).contains(RegionUtils::createRectRegion(QRect(0, 0, 4, 4), 20).boundingRect()));

        QCOMPARE(KelUtils::scaledRegion(QRegion(1, 1, 3, 3), 0.5), QRegion(0, 0, 2, 2));
        // A rectangle starting on an odd device pixel keeps its last column.
        QCOMPARE(KelUtils::scaledRegion(QRegion(1, 0, 2, 2), 0.5), QRegion(0, 0, 2, 1));
        QCOMPARE(KelUtils::scaledRegion(QRegion(2, 4, 10, 6), 1.5), QRegion(3, 6, 15, 9));

        QPainterPath box;
        box.addRect(QRectF(0, 0, 10, 10));
        const QSize size(20, 20);
        const QPoint offset(4, 4);
        const QRect device(qRound(4 * ratio), qRound(4 * ratio), qRound(10 * ratio), qRound(10 * ratio));
        const auto sameArea = [](const QRegion& a, const QRegion& b) { return a.xored(b).isEmpty(); };

        QVERIFY(sameArea(KelUtils::maskRegionFromPath(ratio, size, offset, box, 0, false, false), QRegion(device)));
        const QRegion inverted = KelUtils::maskRegionFromPath(ratio, size, offset, box, 0, true, false);
        QVERIFY(sameArea(inverted, QRegion(0, 0, qRound(20 * ratio), qRound(20 * ratio)) - device));
        // Excluding a whole-pixel outline shrinks the mask evenly.
        const QRect inner = KelUtils::maskRegionFromPath(ratio, size, offset, box, 2, false, true).boundingRect();
        QVERIFY(!inner.isEmpty() && device.contains(inner));
        QVERIFY(inner.left() > device.left() && inner.top() > device.top());
        QVERIFY(qAbs((inner.left() - device.left()) - (device.right() - inner.right())) <= 1);
        QVERIFY(qAbs((inner.top() - device.top()) - (device.bottom() - inner.bottom())) <= 1);
    }

    void nativeRegionMode()
    {
        installWidgetAtHook();
        installWindowGeometryHook();
        KelUtils::setMask(nullptr, QRegion(0, 0, 1, 1));
        KelUtils::setNativeRegionMode(true);
        QWidget window;
        window.resize(50, 50);
        QWidget child(&window);
        KelUtils::setMask(&window, QRegion(0, 0, 30, 30));
        QCOMPARE(window.mask(), QRegion(0, 0, 30, 30));
        // An empty region is refused and leaves the shape as it was.
        QTest::ignoreMessage(QtWarningMsg, "Create win region FAILED.");
        KelUtils::setMask(&window, QRegion());
        QCOMPARE(window.mask(), QRegion(0, 0, 30, 30));
        // A child widget still takes Qt's widget mask.
        KelUtils::setMask(&child, QRegion(0, 0, 5, 5));
        QCOMPARE(child.mask(), QRegion(0, 0, 5, 5));
        KelUtils::clearMask(&window);
        QVERIFY(window.mask().isEmpty());
        KelUtils::setNativeRegionMode(false);

        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, windowwaits::kTimeoutMs));
        QCOMPARE(windowGeometryFromNative(window.windowHandle()), window.windowHandle()->geometry());
    }

    // Run again as tst_kelscaledwidgets at 150 %, where logical pixels fall between device pixels.
    void devicePositionsAndMasks()
    {
        QWidget window;
        window.setGeometry(100, 50, 120, 80);
        const double r = window.devicePixelRatioF();
        QCOMPARE(r, qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble());
        QWidget child(&window);
        child.setGeometry(10, 20, 30, 30);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, windowwaits::kTimeoutMs));
        const QPoint global = child.mapToGlobal(QPoint(5, 7));
        const QPoint device(qRound(global.x() * r), qRound(global.y() * r));
        QCOMPARE(KelUtils::mapDeviceToWidget(&child, device), QPoint(5, 7));
        QCOMPARE(KelUtils::mapDeviceToWidget(&window, device), QPoint(15, 27));

        QCOMPARE(KelPainting::blurredWidgetPixmap(&child, 3).size(), QSize(30, 30) * r);
        // Masks take device pixels: at 150 % 0..2 end at logical 2.
        KelUtils::setMask(&child, QRegion(0, 0, 3, 3));
        QCOMPARE(child.mask(), QRegion(0, 0, int(3 / r), int(3 / r)));
        QPainterPath circle;
        circle.addEllipse(QRectF(0, 0, 30, 30));
        KelUtils::setMask(&child, QSize(30, 30), QPoint(0, 0), circle, 0, false, false);
        QVERIFY(child.mask().contains(QPoint(15, 15)));
        QVERIFY(!child.mask().contains(QPoint(1, 1)));
    }

    // Run as tst_kelwindowmask on an X server: under a masked-out point lies the window beneath.
    void windowMasksOnAnXServer()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("Needs an X server");
        const std::unique_ptr<QWidget> bottom(makeWindow());
        const std::unique_ptr<QWidget> top(makeWindow());
        QVERIFY(QTest::qWaitForWindowExposed(top.get(), windowwaits::kTimeoutMs));
        const QRect geometry = top->geometry();
        const QPoint kept = geometry.topLeft() + QPoint(50, 80);
        const QPoint cut = geometry.topLeft() + QPoint(150, 80);
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::widgetAt(cut), top.get(), windowwaits::kTimeoutMs);
        KelUtils::setMask(top.get(), QRegion(0, 0, 100, 160));
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::widgetAt(cut), bottom.get(), windowwaits::kTimeoutMs);
        QCOMPARE(QApplication::widgetAt(kept), top.get());
        QCOMPARE(regionAwareWidgetAt(cut), bottom.get());
        KelUtils::clearMask(top.get());
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::widgetAt(cut), top.get(), windowwaits::kTimeoutMs);

        // A rounded path leaves the corners out; inverted, it cuts a hole in the middle.
        QPainterPath rounded;
        rounded.addRoundedRect(QRectF(0, 0, 200, 160), 30, 30);
        KelUtils::setMask(top.get(), top->size(), QPoint(0, 0), rounded, 0, false, false);
        const QPoint corner = geometry.topLeft() + QPoint(2, 2);
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::widgetAt(corner), bottom.get(), windowwaits::kTimeoutMs);
        QCOMPARE(QApplication::widgetAt(geometry.center()), top.get());
        KelUtils::setMask(top.get(), top->size(), QPoint(0, 0), rounded, 0, true, false);
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::widgetAt(geometry.center()), bottom.get(), windowwaits::kTimeoutMs);
        top->close();

        // A window transparent for the mouse is passed by the hit test, and keeps its shape.
        const std::unique_ptr<QWidget> overlay(makeWindow(true));
        QVERIFY(QTest::qWaitForWindowExposed(overlay.get(), windowwaits::kTimeoutMs));
        QTRY_COMPARE_WITH_TIMEOUT(regionAwareWidgetAt(geometry.center()), bottom.get(), windowwaits::kTimeoutMs);
        QCOMPARE(overlay->mask(), QRegion());
    }
};

QTEST_MAIN(TestKelPainting)
#include "tst_kelpainting.moc"

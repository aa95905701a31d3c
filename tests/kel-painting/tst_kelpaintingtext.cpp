#include "imagetesthelpers.h"
#include "painting/kelpainting.h"
#include "utils/kelgeometryutils.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QTest>

namespace {

const QString kLongText = QStringLiteral(
    "Reading keeps every book where it was and remembers the page where reading stopped last time around");

QFont testFont() { return KelUtils::makeFont(12, QFont::Normal, QStringLiteral("DejaVu Sans")); }

struct Drawn {
    QImage image;
    bool elided = true;
};

Drawn draw(const QString& text, const QRectF& rect, double ratio, Qt::Alignment alignment, Qt::TextElideMode elideMode,
    int lineSpacing, int maxLineCount = 0)
{
    Drawn result;
    result.image = makeImage(QSize(120, 80), ratio);
    QPainter painter(&result.image);
    painter.setFont(testFont());
    painter.setPen(Qt::black);
    KelPainting::drawWordWrappedText(
        &painter, text, rect, alignment, QTextOption::WordWrap, elideMode, lineSpacing, maxLineCount, &result.elided);
    return result;
}

// Device rows of the line band (one line spacing from the top of the text box).
QRect lineBand(const QRectF& rect, int line, int lineSpacing, double ratio)
{
    return toDevice(QRectF(rect.left(), rect.top() + line * lineSpacing, rect.width(), lineSpacing), ratio);
}

int rightmostInk(const QImage& image, const QRect& band)
{
    for (int x = band.right(); x >= band.left(); --x)
        if (inkInside(image, QRect(x, band.top(), 1, band.height())) > 0)
            return x;
    return -1;
}

} // namespace

class TestKelPaintingText : public QObject {
    Q_OBJECT

private slots:
    void measuresParagraphsAtAFixedPitch()
    {
        const QFont font = testFont();
        const int wider = qRound(QFontMetricsF(font).horizontalAdvance(QStringLiteral("abcdef")));
        const QString text = QStringLiteral("ab\nabcdef");
        QCOMPARE(
            KelPainting::wordWrappedTextSize(text, font, QTextOption::WordWrap, QSize(0, 1000), 10), QSize(wider, 20));
        // A height below one line spacing places no line; a line count of 1 places one.
        QCOMPARE(KelPainting::wordWrappedTextSize(text, font, QTextOption::WordWrap, QSize(0, 5), 10).height(), 0);
        QCOMPARE(KelPainting::wordWrappedTextSize(text, font, QTextOption::WordWrap, QSize(0, 1000), 10, 1),
            QSize(qRound(QFontMetricsF(font).horizontalAdvance(QStringLiteral("ab"))), 10));
        // Empty paragraphs count as lines; the font's line spacing stands in for 0.
        QCOMPARE(KelPainting::wordWrappedTextSize(QStringLiteral("\n\n"), font, QTextOption::WordWrap, QSize(0, 100), 0)
                     .height(),
            3 * QFontMetrics(font).lineSpacing());
        QCOMPARE(KelPainting::wordWrappedTextSize(text, font, QTextOption::WordWrap, QSize(50, 0), 10), QSize(50, 0));
    }

    void measuresWrappedLinesWithinTheWidth()
    {
        const QFont font = testFont();
        const QSize wrapped
            = KelPainting::wordWrappedTextSize(kLongText, font, QTextOption::WordWrap, QSize(100, 1000), 12);
        QCOMPARE(wrapped.width(), 100);
        QVERIFY(wrapped.height() >= 5 * 12);
        QCOMPARE(wrapped.height() % 12, 0);
        QCOMPARE(
            KelPainting::wordWrappedTextSize(kLongText, font, QTextOption::WordWrap, QSize(100, 30), 12).height(), 24);
        QCOMPARE(
            KelPainting::wordWrappedTextSize(kLongText, font, QTextOption::WordWrap, QSize(100, 1000), 12, 3).height(),
            36);
        // Without wrapping a paragraph stays one line, however narrow the limit.
        QCOMPARE(
            KelPainting::wordWrappedTextSize(kLongText, font, QTextOption::NoWrap, QSize(100, 1000), 12).height(), 12);
    }

    void elidesTheLastLineThatFits_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::newRow("100%") << 1.0;
        QTest::newRow("150%") << 1.5;
        QTest::newRow("200%") << 2.0;
    }
    void elidesTheLastLineThatFits()
    {
        QFETCH(double, ratio);
        const int spacing = 16;
        const QRectF rect(4, 4, 100, 2 * spacing);
        const Drawn elided = draw(kLongText, rect, ratio, Qt::AlignLeft | Qt::AlignTop, Qt::ElideRight, spacing);
        QVERIFY(elided.elided);
        QCOMPARE(inkOutside(elided.image, toDevice(rect, ratio)), 0);
        QVERIFY(inkInside(elided.image, lineBand(rect, 0, spacing, ratio)) > 0);
        QVERIFY(inkInside(elided.image, lineBand(rect, 1, spacing, ratio)) > 0);

        const Drawn cut = draw(kLongText, rect, ratio, Qt::AlignLeft | Qt::AlignTop, Qt::ElideNone, spacing);
        QVERIFY(!cut.elided);
        QCOMPARE(inkOutside(cut.image, toDevice(rect, ratio)), 0);
        QVERIFY(inkInside(cut.image, lineBand(rect, 1, spacing, ratio)) > 0);
        QVERIFY(cut.image != elided.image); // the second line differs: laid out versus elided

        // Right alignment puts the elided line's end against the right edge.
        const Drawn right = draw(kLongText, rect, ratio, Qt::AlignRight | Qt::AlignTop, Qt::ElideRight, spacing);
        QVERIFY(right.elided);
        QCOMPARE(inkOutside(right.image, toDevice(rect, ratio)), 0);
        const QRect band = lineBand(rect, 1, spacing, ratio);
        QVERIFY(rightmostInk(right.image, band) >= band.right() - int(3 * ratio));
    }

    void lineCountLimitEndsTheText()
    {
        const int spacing = 16;
        const QRectF rect(4, 4, 100, 70);
        const Drawn one = draw(kLongText, rect, 1.5, Qt::AlignLeft | Qt::AlignTop, Qt::ElideRight, spacing, 1);
        QVERIFY(one.elided);
        QVERIFY(inkInside(one.image, lineBand(rect, 0, spacing, 1.5)) > 0);
        QCOMPARE(inkOutside(one.image, lineBand(rect, 0, spacing, 1.5)), 0);
    }

    void shortTextIsCentredAndNotElided()
    {
        const int spacing = 16;
        const QRectF rect(4, 4, 100, 70);
        const Drawn drawn = draw(QStringLiteral("Short"), rect, 2.0, Qt::AlignCenter, Qt::ElideRight, spacing);
        QVERIFY(!drawn.elided);
        // One line in the middle of the rectangle, away from both sides.
        const QRectF middle(rect.left() + 20, rect.top() + 28, 60, spacing);
        QCOMPARE(inkOutside(drawn.image, toDevice(middle, 2.0)), 0);
        QVERIFY(inkInside(drawn.image, toDevice(middle, 2.0)) > 0);
    }

    void paragraphsFollowEachOther()
    {
        const int spacing = 16;
        const QRectF rect(4, 4, 100, 2 * spacing);
        const Drawn drawn = draw(
            QStringLiteral("First\nSecond\nThird"), rect, 1.0, Qt::AlignLeft | Qt::AlignTop, Qt::ElideRight, spacing);
        QVERIFY(inkInside(drawn.image, lineBand(rect, 0, spacing, 1.0)) > 0);
        QVERIFY(inkInside(drawn.image, lineBand(rect, 1, spacing, 1.0)) > 0);
        QCOMPARE(inkOutside(drawn.image, toDevice(rect, 1.0)), 0);
    }

    void nullPainterOnlyResetsTheFlag()
    {
        bool elided = true;
        KelPainting::drawWordWrappedText(nullptr, kLongText, QRectF(0, 0, 10, 10), Qt::AlignLeft, QTextOption::WordWrap,
            Qt::ElideRight, 0, 0, &elided);
        QVERIFY(!elided);
    }
};

QTEST_MAIN(TestKelPaintingText)
#include "tst_kelpaintingtext.moc"

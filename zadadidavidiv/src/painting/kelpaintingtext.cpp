#include "painting/kelpainting.h"

#include "utils/kelgeometryutils.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

namespace {

// Width given to a line that must not wrap (a paragraph measured without a width limit).
constexpr int kUnlimitedWidth = 0xFFFFFF;

QStringList paragraphsOf(const QString& text) { return text.split(QChar(10), Qt::KeepEmptyParts); }

// Lays the paragraph out line by line; placeLine sets up each new line and returns false to stop.
template <typename PlaceLine> void layOut(QTextLayout& layout, const QTextOption& option, PlaceLine placeLine)
{
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        if (!placeLine(line))
            break;
    }
    layout.endLayout();
}

} // namespace

namespace KelPainting {

QSize wordWrappedTextSize(const QString& text, const QFont& font, QTextOption::WrapMode wrapMode, const QSize& maxSize,
    int lineSpacing, int maxLineCount)
{
    if (lineSpacing <= 0)
        lineSpacing = QFontMetrics(font).lineSpacing();
    const int maxWidth = qBound(0, maxSize.width(), kUnlimitedWidth);
    const QFontMetricsF metrics(font);
    QTextOption option;
    option.setWrapMode(wrapMode);

    double widest = maxWidth;
    int height = 0;
    int lineCount = 0;
    for (const QString& paragraph : paragraphsOf(text)) {
        QTextLayout layout(paragraph, font);
        layOut(layout, option, [&](QTextLine& line) {
            ++lineCount;
            const bool countAllows = maxLineCount <= 0 || lineCount <= maxLineCount;
            const bool heightAllows = maxSize.height() > 0 && maxSize.height() >= height + lineSpacing;
            if (!countAllows || !heightAllows)
                return false;
            if (maxWidth > 0) {
                line.setLineWidth(maxWidth);
            } else {
                // No width limit: the paragraph stays on one line as wide as its text.
                line.setLineWidth(kUnlimitedWidth);
                widest = qMax(widest, metrics.horizontalAdvance(paragraph.mid(line.textStart())));
            }
            height += lineSpacing;
            return true;
        });
    }
    return QSize(qRound(widest), height);
}

void drawWordWrappedText(QPainter* painter, const QString& text, const QRectF& rect, Qt::Alignment alignment,
    QTextOption::WrapMode wrapMode, Qt::TextElideMode elideMode, int lineSpacing, int maxLineCount, bool* elided)
{
    if (elided)
        *elided = false;
    if (!painter)
        return;
    const QFont font = painter->font();
    const QFontMetrics metrics(font);
    const QSize size = wordWrappedTextSize(text, font, wrapMode, rect.size().toSize(), lineSpacing, maxLineCount);
    const QRectF box = KelUtils::alignRect(alignment, rect, QSizeF(size), true);
    if (lineSpacing <= 0)
        lineSpacing = metrics.lineSpacing();

    QTextOption option(alignment & Qt::AlignHorizontal_Mask);
    option.setWrapMode(wrapMode);
    const double x = box.left();
    double y = box.top();
    int lineCount = 0;
    const QStringList paragraphs = paragraphsOf(text);
    for (int p = 0; p < paragraphs.size(); ++p) {
        const QString& paragraph = paragraphs.at(p);
        // Paragraphs after the last shown line are cut as well, not only the rest of its own.
        const bool laterParagraphs = p + 1 < paragraphs.size();
        QTextLayout layout(paragraph, font);
        layOut(layout, option, [&box](QTextLine& line) {
            line.setLineWidth(box.width());
            line.setPosition(QPointF(0, 0));
            return true;
        });

        for (int i = 0; i < layout.lineCount(); ++i) {
            const QTextLine line = layout.lineAt(i);
            ++lineCount;
            const bool forceElide = maxLineCount > 0 && lineCount > maxLineCount;
            if (!forceElide && y + 2 * lineSpacing <= box.bottom()) {
                line.draw(painter, QPointF(x, y));
                y += lineSpacing;
                continue;
            }
            // The last line that fits: elide whatever of the paragraph does not fit on it.
            const QString rest = paragraph.mid(line.textStart());
            if (elideMode == Qt::ElideNone
                || (!forceElide && !laterParagraphs && metrics.horizontalAdvance(rest) <= box.width())) {
                line.draw(painter, QPointF(x, y));
                return;
            }
            const QString cut = laterParagraphs && !forceElide ? rest + QChar(0x2026) : rest;
            const QString shown = metrics.elidedText(cut, elideMode, qRound(box.width()));
            const int advance = metrics.horizontalAdvance(shown);
            double textX = x;
            if (alignment & Qt::AlignRight)
                textX = box.right() - advance;
            else if (alignment & Qt::AlignHCenter)
                textX = box.left() + (box.width() - advance) / 2;
            painter->drawText(QPointF(textX, y + metrics.ascent()), shown);
            if (elided)
                *elided = true;
            return;
        }
    }
}

} // namespace KelPainting

#include "painting/kelpainting.h"

#include "utils/kelgeometryutils.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QTextLayout>

namespace {

// Width given to a line that must not wrap (a paragraph measured without a width limit).
constexpr int kUnlimitedWidth = 0xFFFFFF;

QStringList paragraphsOf(const QString& text) { return text.split(QChar(10), Qt::KeepEmptyParts); }

// A line that wraps at words only and still does not fit holds a word wider than the line.
bool holdsTooWideWord(const QTextLine& line, QTextOption::WrapMode wrapMode, double width)
{
    return wrapMode == QTextOption::WordWrap && line.naturalTextWidth() > width;
}

int endWithoutSpaces(const QString& text, int end)
{
    while (end > 0 && text.at(end - 1).isSpace())
        --end;
    return end;
}

// The text cut after its last whole word that fits the width with an ellipsis after it (the whole
// text with one when it fits); a first word that does not fit alone is cut inside, as there is
// nothing else to show.
QString elideAtWord(const QFontMetrics& metrics, const QString& text, int width)
{
    const QString ellipsis(QChar(0x2026));
    QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, text);
    QString cut;
    for (int at = breaks.toNextBoundary(); at > 0; at = breaks.toNextBoundary()) {
        const QString head = text.left(endWithoutSpaces(text, at)) + ellipsis;
        if (metrics.horizontalAdvance(head) > width)
            break;
        cut = head;
    }
    return cut.isEmpty() ? metrics.elidedText(text, Qt::ElideRight, width) : cut;
}

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

// The formats that fall into [from, from + length) of the text, counted from from.
QVector<QTextLayout::FormatRange> formatsWithin(const QVector<QTextLayout::FormatRange>& formats, int from, int length)
{
    QVector<QTextLayout::FormatRange> result;
    for (const QTextLayout::FormatRange& range : formats) {
        const int start = qMax(range.start, from);
        const int end = qMin(range.start + range.length, from + length);
        if (start < end)
            result.append({ start - from, end - start, range.format });
    }
    return result;
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
    bool cut = false; // a word wider than the line ended the text
    for (const QString& paragraph : paragraphsOf(text)) {
        if (cut)
            break;
        QTextLayout layout(paragraph, font);
        layOut(layout, option, [&](QTextLine& line) {
            ++lineCount;
            const bool countAllows = maxLineCount <= 0 || lineCount <= maxLineCount;
            const bool heightAllows = maxSize.height() > 0 && maxSize.height() >= height + lineSpacing;
            if (cut || !countAllows || !heightAllows)
                return false;
            if (maxWidth > 0) {
                line.setLineWidth(maxWidth);
                cut = holdsTooWideWord(line, wrapMode, maxWidth);
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
    QTextOption::WrapMode wrapMode, Qt::TextElideMode elideMode, int lineSpacing, int maxLineCount, bool* elided,
    QStringList* shownLines, const QVector<QTextLayout::FormatRange>& formats)
{
    if (elided)
        *elided = false;
    if (shownLines)
        shownLines->clear();
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
    int paragraphStart = 0;
    for (int p = 0; p < paragraphs.size(); ++p) {
        const QString& paragraph = paragraphs.at(p);
        const int start = paragraphStart;
        paragraphStart += paragraph.size() + 1;
        // Paragraphs after the last shown line are cut as well, not only the rest of its own.
        const bool laterParagraphs = p + 1 < paragraphs.size();
        QTextLayout layout(paragraph, font);
        if (!formats.isEmpty())
            layout.setFormats(formatsWithin(formats, start, paragraph.size()));
        layOut(layout, option, [&box](QTextLine& line) {
            line.setLineWidth(box.width());
            line.setPosition(QPointF(0, 0));
            return true;
        });

        for (int i = 0; i < layout.lineCount(); ++i) {
            const QTextLine line = layout.lineAt(i);
            ++lineCount;
            const bool forceElide = maxLineCount > 0 && lineCount > maxLineCount;
            const bool tooWide = holdsTooWideWord(line, wrapMode, box.width());
            const auto drawLine = [&] {
                line.draw(painter, QPointF(x, y));
                if (shownLines)
                    shownLines->append(paragraph.mid(line.textStart(),
                        endWithoutSpaces(paragraph, line.textStart() + line.textLength()) - line.textStart()));
            };
            if (!forceElide && !tooWide && y + 2 * lineSpacing <= box.bottom()) {
                drawLine();
                y += lineSpacing;
                continue;
            }
            // The last line that fits: elide whatever of the paragraph does not fit on it.
            const QString rest = paragraph.mid(line.textStart());
            if (elideMode == Qt::ElideNone
                || (!forceElide && !tooWide && !laterParagraphs && metrics.horizontalAdvance(rest) <= box.width())) {
                drawLine();
                return;
            }
            QString shown;
            if (wrapMode == QTextOption::WordWrap && elideMode == Qt::ElideRight) {
                shown = elideAtWord(metrics, rest, qRound(box.width()));
            } else {
                const QString cut = laterParagraphs && !forceElide ? rest + QChar(0x2026) : rest;
                shown = metrics.elidedText(cut, elideMode, qRound(box.width()));
            }
            const int advance = metrics.horizontalAdvance(shown);
            double textX = x;
            if (alignment & Qt::AlignRight)
                textX = box.right() - advance;
            else if (alignment & Qt::AlignHCenter)
                textX = box.left() + (box.width() - advance) / 2;
            if (formats.isEmpty() || elideMode != Qt::ElideRight) {
                painter->drawText(QPointF(textX, y + metrics.ascent()), shown);
            } else {
                // Cut on the right, the line keeps the places of its characters and so their formats;
                // the ellipsis has none.
                int kept = 0;
                while (kept < shown.size() && kept < rest.size() && shown.at(kept) == rest.at(kept))
                    ++kept;
                QTextLayout elidedLine(shown, font);
                elidedLine.setFormats(formatsWithin(formats, start + line.textStart(), kept));
                layOut(elidedLine, QTextOption(), [](QTextLine& one) {
                    one.setLineWidth(kUnlimitedWidth);
                    one.setPosition(QPointF(0, 0));
                    return false;
                });
                elidedLine.draw(painter, QPointF(textX, y));
            }
            if (shownLines)
                shownLines->append(shown);
            if (elided)
                *elided = true;
            return;
        }
    }
}

} // namespace KelPainting

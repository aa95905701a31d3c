#include "wordwraplabel.h"

#include "eventfilters/keltooltipeventfilter.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextDocument>

WordWrapLabel::WordWrapLabel(int styleRole, QWidget* parent)
    : KelLabel(styleRole, parent)
{
    setElideMode(Qt::ElideRight);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    // The label draws its text as plain text; the tooltip, which would take tags for markup, gets
    // it escaped.
    installEventFilter(new KelTooltipEventFilter(this, [this](const QPoint&) {
        return m_elided ? QStringLiteral("<p style='white-space:pre-wrap'>%1</p>").arg(text().toHtmlEscaped())
                        : QString();
    }));
}

void WordWrapLabel::setLineHeight(int height)
{
    if (m_lineHeight == height)
        return;
    m_lineHeight = height;
    updateGeometry();
    update();
}

void WordWrapLabel::setWrapMode(QTextOption::WrapMode mode)
{
    if (m_wrapMode == mode)
        return;
    m_wrapMode = mode;
    updateGeometry();
    update();
}

void WordWrapLabel::setMaxLineCount(int count)
{
    if (m_maxLineCount == count)
        return;
    m_maxLineCount = count;
    updateGeometry();
    update();
}

void WordWrapLabel::setFormats(const QVector<QTextLayout::FormatRange>& formats)
{
    m_formats = formats;
    update();
}

bool WordWrapLabel::ownLayout() const { return elideMode() != Qt::ElideNone && m_wrapMode != QTextOption::NoWrap; }

bool WordWrapLabel::hasHeightForWidth() const
{
    if (!ownLayout())
        return KelLabel::hasHeightForWidth();
    return minimumHeight() != maximumHeight();
}

int WordWrapLabel::heightForWidth(int width) const
{
    if (!ownLayout())
        return KelLabel::heightForWidth(width);
    return heightForText(text(), width);
}

int WordWrapLabel::heightForText(const QString& text, int width) const
{
    const QMargins margins = contentsMargins();
    // An empty label keeps the height of its elision mark, as its minimum size hint does.
    const int height = text.isEmpty() ? QFontMetrics(font()).size(0, QStringLiteral("...")).height()
                                      : KelPainting::wordWrappedTextSize(text, font(), m_wrapMode,
                                          QSize(width, 16777215), m_lineHeight, m_maxLineCount)
                                            .height();
    return margins.top() + margins.bottom() + height;
}

QSize WordWrapLabel::sizeHint() const
{
    if (!ownLayout())
        return KelLabel::sizeHint();
    return minimumSizeHint();
}

void WordWrapLabel::paintEvent(QPaintEvent* event)
{
    if (!ownLayout()) {
        KelLabel::paintEvent(event);
        return;
    }
    m_shownLines.clear();
    if (text().isEmpty())
        return;
    {
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        KelPainting::drawWordWrappedText(&painter, text(), QRectF(contentsRect()), alignment(), m_wrapMode, elideMode(),
            m_lineHeight, m_maxLineCount, &m_elided, &m_shownLines, m_formats);
    }
    if (KelPainting::dbgPaintKelLabel() || KelPainting::dbgPaintKelPaintContext()) {
        KelPaintContext context(this);
        context.drawDiagnosticOverlay();
    }
}

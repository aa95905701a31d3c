#include "painting/kelbuttonpainter.h"

#include "painting/kelicon.h"
#include "painting/keliconsprovider.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "styles/kelcolors.h"
#include "styles/kelstyle.h"
#include "utils/kelgeometryutils.h"

#include <QDebug>
#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

const QString kEllipsis = QStringLiteral("...");

// The rectangle left of (or right of) the texts, for moving icon and arrow next to them.
double leftmost(const QRectF& a, const QRectF& b)
{
    if (!a.isValid())
        return b.left();
    return b.isValid() ? std::min(a.left(), b.left()) : a.left();
}

double rightmost(const QRectF& a, const QRectF& b)
{
    if (!a.isValid())
        return b.right();
    return b.isValid() ? std::max(a.right(), b.right()) : a.right();
}

// Keeps the middle of the range while narrowing it to the length; a longer length changes nothing.
void shrinkSymmetrically(double& start, double& end, double length)
{
    const double excess = (end - start) - length;
    if (excess <= 0.0)
        return;
    start += excess / 2.0;
    end -= excess / 2.0;
}

} // namespace

KelButtonPainter::KelButtonPainter(QWidget* widget)
    : KelFramePainter(widget)
{
}

KelButtonPainter::~KelButtonPainter() = default;

void KelButtonPainter::relayout()
{
    m_geometryDirty = true;
    updateSizeHint();
    updateLayout();
}

void KelButtonPainter::onLayoutChanged()
{
    m_geometryDirty = true;
    KelFramePainter::onLayoutChanged();
}

void KelButtonPainter::onTextChanged(const QString&) { }

void KelButtonPainter::onSubTextChanged(const QString&) { }

void KelButtonPainter::invalidateTextMetrics()
{
    m_textMetricsValid = false;
    relayout();
}

void KelButtonPainter::setText(const QString& text)
{
    QString main = text;
    QString sub;
    const int at = m_textSeparator.isNull() ? -1 : text.indexOf(m_textSeparator);
    if (at >= 0) {
        main = text.left(at);
        sub = text.mid(at + 1);
    }
    if (main == m_text && sub == m_subText)
        return;
    const bool subChanged = sub != m_subText;
    m_text = main;
    m_subText = sub;
    m_textMetricsValid = false;
    relayout();
    onTextChanged(m_text);
    if (subChanged)
        onSubTextChanged(m_subText);
}

void KelButtonPainter::setSubText(const QString& subText)
{
    if (m_subText == subText)
        return;
    m_subText = subText;
    m_textMetricsValid = false;
    relayout();
    onSubTextChanged(m_subText);
}

void KelButtonPainter::setTextSeparator(QChar separator) { m_textSeparator = separator; }

void KelButtonPainter::setIcon(const QString& name) { setIcon(name.toUtf8().constData()); }

void KelButtonPainter::setIcon(const char* name)
{
    if (KelIcon* icon = kelIconByName(name))
        setIcon(icon);
}

void KelButtonPainter::setIcon(KelIcon* icon)
{
    if (m_icon == icon)
        return;
    m_icon = icon;
    relayout();
}

void KelButtonPainter::setIconSize(const QSize& size)
{
    if (m_iconSize == size)
        return;
    m_iconSize = size;
    relayout();
}

void KelButtonPainter::setIconPosition(Qt::Edge position)
{
    if (m_iconPosition == position)
        return;
    m_iconPosition = position;
    relayout();
}

QFont KelButtonPainter::font() const
{
    if (QWidget* w = widget())
        return w->font();
    return m_font;
}

void KelButtonPainter::setFont(int pixelSize, int weight)
{
    const QFont font = KelUtils::makeFont(pixelSize, weight, KelStyle::interfaceFontFamily());
    if (QWidget* w = widget()) {
        // A font the widget only inherits is set once, so parent changes no longer reach it.
        if (w->testAttribute(Qt::WA_SetFont) && w->font() == font)
            return;
        w->setFont(font);
    } else {
        if (m_font == font)
            return;
        m_font = font;
    }
    m_textMetricsValid = false;
    relayout();
}

void KelButtonPainter::setSubTextFont(const QFont& font)
{
    if (m_subTextFont == font)
        return;
    m_subTextFont = font;
    m_textMetricsValid = false;
    relayout();
}

void KelButtonPainter::setAlignment(Qt::Alignment alignment)
{
    if (m_alignment == alignment)
        return;
    m_alignment = alignment;
    relayout();
}

void KelButtonPainter::setElideMode(Qt::TextElideMode mode)
{
    if (m_elideMode == mode)
        return;
    m_elideMode = mode;
    m_textMetricsValid = false;
    relayout();
}

void KelButtonPainter::setSpacing(int spacing) { setSpacing(spacing, spacing); }

void KelButtonPainter::setSpacing(int spacingX, int spacingY)
{
    if (m_spacingX == spacingX && m_spacingY == spacingY)
        return;
    m_spacingX = spacingX;
    m_spacingY = spacingY;
    relayout();
}

void KelButtonPainter::setSubTextSpacing(int spacing)
{
    if (m_subTextSpacing == spacing)
        return;
    m_subTextSpacing = spacing;
    relayout();
}

void KelButtonPainter::setTextOrientation(Qt::Orientation orientation)
{
    if (m_textOrientation == orientation)
        return;
    m_textOrientation = orientation;
    relayout();
}

KelArrowSpec KelButtonPainter::arrowParams() const
{
    return KelArrowSpec { m_arrowSize, m_arrowMargins, m_arrowDirection, m_arrowValue };
}

void KelButtonPainter::setArrowParams(const QSize& size, const QMargins& margins, int direction, double value)
{
    setArrowParams(KelArrowSpec { size, margins, direction, value });
}

void KelButtonPainter::setArrowParams(const KelArrowSpec& arrow)
{
    if (arrowParams() == arrow)
        return;
    m_arrowSize = arrow.size;
    m_arrowMargins = arrow.margins;
    m_arrowDirection = arrow.arrowType;
    m_arrowValue = arrow.lineWidth;
    relayout();
}

void KelButtonPainter::setArrowPlacement(int placement)
{
    if (m_arrowPlacement == placement)
        return;
    m_arrowPlacement = placement;
    m_geometryDirty = true;
    onLayoutChanged();
}

void KelButtonPainter::setContentColors(const KelStateColors& colors)
{
    if (m_contentColors == colors)
        return;
    m_contentColors = colors;
    updateAppearance();
}

KelStateColors KelButtonPainter::iconColors() const { return m_iconColorsInUse ? m_iconColors : m_contentColors; }

void KelButtonPainter::setIconColors(const KelStateColors& colors)
{
    if (m_iconColorsInUse && m_iconColors == colors && m_colorizeIcon)
        return;
    m_iconColors = colors;
    m_iconColorsInUse = true;
    if (!m_colorizeIcon) {
        m_colorizeIcon = true;
        relayout();
    }
    updateAppearance();
}

KelStateColors KelButtonPainter::subTextColors() const
{
    return m_subTextColorsInUse ? m_subTextColors : m_contentColors;
}

void KelButtonPainter::setSubTextColors(const KelStateColors& colors)
{
    if (m_subTextColorsInUse && m_subTextColors == colors)
        return;
    m_subTextColors = colors;
    m_subTextColorsInUse = true;
    updateAppearance();
}

void KelButtonPainter::setArrowColors(const KelStateColors& colors)
{
    if (m_arrowColors == colors)
        return;
    m_arrowColors = colors;
    updateAppearance();
}

void KelButtonPainter::setColorizeIcon(bool colorize)
{
    if (m_colorizeIcon == colorize)
        return;
    m_colorizeIcon = colorize;
    m_geometryDirty = true;
    updateSizeHint();
    updateAppearance();
}

void KelButtonPainter::ensureTextMetrics() const
{
    if (m_textMetricsValid)
        return;
    m_textMetricsValid = true;
    if (m_text.isEmpty() && m_subText.isEmpty()) {
        m_textSize = m_textMinSize = m_subTextSize = m_subTextMinSize = QSize();
        m_textCapHeight = m_subTextCapHeight = 0;
        return;
    }
    const QFont mainFont = font();
    const QFontMetrics metrics(mainFont);
    const bool hasText = !m_text.isEmpty();
    m_textSize = hasText ? metrics.size(0, m_text) : QSize();
    m_textMinSize = hasText ? metrics.size(0, kEllipsis) : QSize();
    m_textCapHeight = hasText ? metrics.capHeight() : 0;

    const bool hasSubText = !m_subText.isEmpty();
    if (mainFont == m_subTextFont) {
        m_subTextSize = hasSubText ? metrics.size(0, m_subText) : QSize();
        m_subTextMinSize = hasSubText ? m_textMinSize : QSize();
        m_subTextCapHeight = hasSubText ? m_textCapHeight : 0;
        // Without a text nothing was measured to share: a lone sub-text needs its own ellipsis and cap height.
        if (hasSubText && !hasText) {
            m_subTextMinSize = metrics.size(0, kEllipsis);
            m_subTextCapHeight = metrics.capHeight();
        }
        return;
    }
    const QFontMetrics subMetrics(m_subTextFont);
    m_subTextSize = hasSubText ? subMetrics.size(0, m_subText) : QSize();
    m_subTextMinSize = hasSubText ? subMetrics.size(0, kEllipsis) : QSize();
    m_subTextCapHeight = hasSubText ? subMetrics.capHeight() : 0;
}

bool KelButtonPainter::hasValidIcon() const { return m_icon && m_icon->isValid(); }

QSize KelButtonPainter::effectiveIconSize() const
{
    if (m_iconSize.isValid())
        return m_iconSize;
    return m_icon ? m_icon->defaultSize() : QSize();
}

QSize KelButtonPainter::arrowBoxSize() const
{
    return QSize(m_arrowSize.width() + m_arrowMargins.left() + m_arrowMargins.right(),
        m_arrowSize.height() + m_arrowMargins.top() + m_arrowMargins.bottom());
}

QSize KelButtonPainter::contentSizeHint(const QSize& textSize, const QSize& subTextSize) const
{
    const bool i = hasValidIcon();
    const bool t = !textSize.isEmpty();
    const bool s = !subTextSize.isEmpty();
    const QSize arrowBox = arrowBoxSize();
    const bool a = !arrowBox.isEmpty();
    const QSize icon = effectiveIconSize();
    const bool sideBySide = m_textOrientation == Qt::Horizontal;

    // The texts as one block.
    int textsW = 0;
    int textsH = 0;
    if (sideBySide) {
        textsW = (t ? textSize.width() : 0) + (s ? subTextSize.width() : 0) + (t && s ? m_spacingX : 0);
        textsH = std::max(t ? textSize.height() : 0, s ? subTextSize.height() : 0);
    } else {
        textsW = std::max(t ? textSize.width() : 0, s ? subTextSize.width() : 0);
        textsH = (t ? textSize.height() : 0) + (s ? subTextSize.height() : 0);
    }

    int w = 0;
    int h = 0;
    if (m_iconPosition == Qt::LeftEdge || m_iconPosition == Qt::RightEdge) {
        if (i) {
            w = icon.width();
            h = std::max(icon.height(), 0);
        }
        const bool present = t || s;
        if (present) {
            w += textsW;
            h = std::max(h, textsH);
        }
        const int items = int(i) + int(present) + int(a);
        if (items > 0)
            w += m_spacingX * (items - 1);
    } else {
        if (i) {
            w = std::max(icon.width(), 0);
            h = std::max(icon.height(), 0);
        }
        int items = int(i);
        if (sideBySide) {
            // The texts side by side stand as one row below or above the icon.
            if (t || s) {
                w = std::max(w, textsW);
                h += textsH;
                ++items;
            }
        } else {
            if (t) {
                w = std::max(w, textSize.width());
                h += textSize.height();
                ++items;
            }
            if (s) {
                w = std::max(w, subTextSize.width());
                h += subTextSize.height();
                ++items;
            }
        }
        if (a && items > 0)
            w += m_spacingX;
        if (items > 0)
            h += m_spacingY * (items - 1);
    }
    if (a) {
        w += arrowBox.width();
        h = std::max(h, arrowBox.height());
    }
    return QSize(w, h) + sizeAddition();
}

QSize KelButtonPainter::sizeHint() const
{
    ensureTextMetrics();
    return contentSizeHint(m_textSize, m_subTextSize);
}

QSize KelButtonPainter::minimumSizeHint() const
{
    ensureTextMetrics();
    QWidget* w = widget();
    if (w && (w->sizePolicy().horizontalPolicy() & QSizePolicy::ShrinkFlag))
        return contentSizeHint(m_textMinSize, m_subTextMinSize);
    return contentSizeHint(m_textSize, m_subTextSize);
}

void KelButtonPainter::ensureGeometryIsValid()
{
    if (!m_geometryDirty)
        return;
    ensureTextMetrics();
    KelFramePainter::ensureGeometryIsValid();
    const QRect contents = contentsRect();
    m_iconRect = QRect();
    m_textRect = m_subTextRect = QRectF();
    m_arrowRect = QRect();
    if (contents.isEmpty())
        return;

    const bool anyText = !m_textSize.isEmpty() || !m_subTextSize.isEmpty();
    const QSize arrowBox = arrowBoxSize();
    const bool arrow = !arrowBox.isEmpty();
    const QSize icon = effectiveIconSize();
    if (hasValidIcon()) {
        Qt::Alignment iconAlignment = Qt::AlignCenter;
        if (anyText || arrow) {
            switch (m_iconPosition) {
            case Qt::TopEdge:
                iconAlignment = Qt::AlignHCenter | Qt::AlignTop;
                break;
            case Qt::RightEdge:
                iconAlignment = Qt::AlignRight | Qt::AlignVCenter;
                break;
            case Qt::BottomEdge:
                iconAlignment = Qt::AlignHCenter | Qt::AlignBottom;
                break;
            default:
                iconAlignment = Qt::AlignLeft | Qt::AlignVCenter;
                break;
            }
        }
        m_iconRect = KelUtils::alignRect(iconAlignment, contents, icon, true);
    }
    if (arrow)
        m_arrowRect = KelUtils::alignRect(Qt::AlignRight | Qt::AlignVCenter, contents, arrowBox, true);

    QRectF area(contents);
    if (m_iconRect.isValid()) {
        switch (m_iconPosition) {
        case Qt::TopEdge:
            area.setTop(area.top() + icon.height() + m_spacingY);
            break;
        case Qt::RightEdge:
            area.setRight(area.right() - icon.width() - m_spacingX);
            break;
        case Qt::BottomEdge:
            area.setBottom(area.bottom() - icon.height() - m_spacingY);
            break;
        default:
            area.setLeft(area.left() + icon.width() + m_spacingX);
            break;
        }
    }
    if (arrow)
        area.setRight(area.right() - arrowBox.width() - m_spacingX);
    if (anyText && area.isValid())
        layoutTexts(area);

    const bool textPlaced = m_textRect.isValid() || m_subTextRect.isValid();
    if (textPlaced && m_iconRect.isValid() && (m_alignment & Qt::AlignHCenter)) {
        if (m_iconPosition == Qt::LeftEdge)
            m_iconRect.moveLeft(int(std::floor(leftmost(m_textRect, m_subTextRect))) - m_spacingX - m_iconRect.width());
        else if (m_iconPosition == Qt::RightEdge)
            m_iconRect.moveLeft(int(std::ceil(rightmost(m_textRect, m_subTextRect))) + m_spacingX);
    }
    if (textPlaced && m_arrowRect.isValid() && m_arrowPlacement == ArrowAfterText)
        m_arrowRect.moveLeft(int(std::ceil(rightmost(m_textRect, m_subTextRect))) + m_spacingX);
    m_geometryDirty = false;
}

void KelButtonPainter::layoutTexts(QRectF area)
{
    const bool t = !m_textSize.isEmpty();
    const bool s = !m_subTextSize.isEmpty();
    if (!t || !s) {
        QRectF& target = t ? m_textRect : m_subTextRect;
        target = KelUtils::alignRect(m_alignment, area, QSizeF(t ? m_textSize : m_subTextSize), true);
        return;
    }
    const Qt::Alignment horizontal = m_alignment & Qt::AlignHorizontal_Mask;
    const Qt::Alignment vertical = m_alignment & Qt::AlignVertical_Mask;
    if (m_textOrientation == Qt::Horizontal) {
        if (m_alignment & Qt::AlignHCenter) {
            double left = area.left(), right = area.right();
            shrinkSymmetrically(left, right, m_textSize.width() + m_spacingX + m_subTextSize.width());
            area.setLeft(left);
            area.setRight(right);
        }
        m_subTextRect = KelUtils::alignRect(vertical | Qt::AlignRight, area, QSizeF(m_subTextSize), true);
        area.setRight(m_subTextRect.left() - m_spacingX);
        if (area.isValid())
            m_textRect = KelUtils::alignRect(m_alignment, area, QSizeF(m_textSize), true);
        return;
    }
    double top = area.top(), bottom = area.bottom();
    shrinkSymmetrically(top, bottom, m_textSize.height() + m_subTextSpacing + m_subTextSize.height());
    area.setTop(top);
    area.setBottom(bottom);
    m_textRect = KelUtils::alignRect(horizontal | Qt::AlignTop, area, QSizeF(m_textSize), true);
    QRectF below = area;
    below.setTop(area.top() + m_textSize.height() + m_subTextSpacing);
    if (below.isValid())
        m_subTextRect = KelUtils::alignRect(horizontal | Qt::AlignTop, below, QSizeF(m_subTextSize), true);
}

QRect KelButtonPainter::iconRect()
{
    ensureGeometryIsValid();
    return m_iconRect;
}

QRectF KelButtonPainter::textRect()
{
    ensureGeometryIsValid();
    return m_textRect;
}

QRectF KelButtonPainter::subTextRect()
{
    ensureGeometryIsValid();
    return m_subTextRect;
}

QRect KelButtonPainter::arrowRect()
{
    ensureGeometryIsValid();
    return m_arrowRect;
}

void KelButtonPainter::drawText(QPainter* painter, const QString& text, const QFont& font, const QColor& color,
    const QRectF& rect, const QSize& size, int capHeight) const
{
    painter->setFont(font);
    painter->setPen(color);
    QString shown = text;
    if (size.width() > rect.width())
        shown = QFontMetrics(font).elidedText(text, m_elideMode, int(std::floor(rect.width())));
    painter->drawText(QPointF(rect.left(), rect.center().y() + 0.5 * capHeight), shown);
}

void KelButtonPainter::drawContent(KelPaintContext& context, KelWidgetStateAnimator* animator)
{
    ensureGeometryIsValid();
    if (m_geometryDirty)
        return;
    QPainter* painter = context.painter();
    const QColor content = blendStateColor(m_contentColors, animator);
    const QColor sub = m_subTextColorsInUse ? blendStateColor(m_subTextColors, animator) : content;
    if (m_iconRect.isValid() && m_icon) {
        const QColor tint = m_colorizeIcon ? blendStateColor(iconColors(), animator) : QColor();
        // The painter's opacity multiplies the icon's alpha.
        m_icon->paint(painter, m_iconRect, Qt::AlignCenter, m_iconRect.size(), tint, animator);
    }
    if (m_textRect.isValid())
        drawText(painter, m_text, font(), content, m_textRect, m_textSize, m_textCapHeight);
    if (m_subTextRect.isValid())
        drawText(painter, m_subText, m_subTextFont, sub, m_subTextRect, m_subTextSize, m_subTextCapHeight);
    if (m_arrowRect.isValid())
        KelPainting::drawArrow(*painter, QRectF(m_arrowRect), blendStateColor(m_arrowColors, animator), arrowParams());
}

void KelButtonPainter::drawDiagnostics(KelPaintContext& context) { context.drawButtonPainterDiagnostics(this); }

#include "painting/kelframepainter.h"

#include "painting/kelpaintcontext.h"
#include "styles/kelcolors.h"
#include "utils/kelfuzzy.h"
#include "utils/kelwindowmaskutils.h"

#include <QDebug>
#include <QPainter>
#include <QWidget>

#include <cmath>

namespace {

bool allEqual(const QMargins& m) { return m.left() == m.top() && m.left() == m.right() && m.left() == m.bottom(); }

bool isWanted(const QColor& color) { return color.isValid() && color.alpha() > 0; }

// Stores the value; false when it equals the stored one.
template <typename T> bool store(T& field, const T& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

} // namespace

KelFramePainter::KelFramePainter(QWidget* widget)
    : KelVisibilityAnimatable(widget)
    , m_widget(widget)
{
}

KelFramePainter::~KelFramePainter() = default;

QMargins KelFramePainter::paddings() const { return m_paddings; }

QMargins KelFramePainter::boxMargins() const { return m_margins + m_borderWidths + m_paddings; }

QSize KelFramePainter::sizeAddition() const
{
    const QMargins m = boxMargins();
    return QSize(m.left() + m.right(), m.top() + m.bottom());
}

void KelFramePainter::changeSize()
{
    m_geometryDirty = true;
    onSizeHintChanged();
    m_geometryDirty = true;
    onLayoutChanged();
}

void KelFramePainter::setMargins(const QMargins& margins)
{
    if (store(m_margins, margins))
        changeSize();
}

void KelFramePainter::setPaddings(const QMargins& paddings)
{
    if (store(m_paddings, paddings))
        changeSize();
}

void KelFramePainter::setBorderWidths(const QMargins& widths)
{
    if (store(m_borderWidths, widths))
        changeSize();
}

void KelFramePainter::setRadii(const KelRadii& radii)
{
    if (store(m_radii, radii))
        changeSize();
}

void KelFramePainter::setCustomPathFunction(CustomPathFunction function)
{
    if (store(m_customPathFunction, function))
        updateLayout();
}

void KelFramePainter::setFrameRect(const QRect& rect)
{
    if (store(m_frameRect, rect))
        updateLayout();
}

void KelFramePainter::setFrameSize(const QSize& size)
{
    if (size == m_frameRect.size())
        return;
    m_frameRect.setSize(size);
    updateLayout();
}

void KelFramePainter::setBorderColors(const KelStateColors& colors)
{
    if (store(m_borderColors, colors))
        onAppearanceChanged();
}

void KelFramePainter::setBackgroundColors(const KelStateColors& colors)
{
    if (store(m_backgroundColors, colors))
        onAppearanceChanged();
}

void KelFramePainter::setPenOverlapping(KelPainting::PenOverlapping mode)
{
    if (store(m_penOverlapping, mode))
        onAppearanceChanged();
}

void KelFramePainter::setDashPattern(const QVector<double>& pattern, double offset)
{
    if (pattern == m_dashPattern && KelUtils::isFuzzyEqual(offset, m_dashOffset))
        return;
    m_dashPattern = pattern;
    m_dashOffset = offset;
    onAppearanceChanged();
}

QSize KelFramePainter::sizeHint() const { return sizeAddition(); }

QSize KelFramePainter::minimumSizeHint() const { return sizeHint(); }

void KelFramePainter::updateSizeHint()
{
    m_geometryDirty = true;
    onSizeHintChanged();
}

void KelFramePainter::updateLayout()
{
    m_geometryDirty = true;
    onLayoutChanged();
}

void KelFramePainter::updateAppearance() { onAppearanceChanged(); }

void KelFramePainter::onSizeHintChanged() { }

void KelFramePainter::onLayoutChanged()
{
    if (m_widget)
        m_widget->update();
}

void KelFramePainter::onAppearanceChanged()
{
    if (m_widget)
        m_widget->update();
}

void KelFramePainter::ensureGeometryIsValid()
{
    if (!m_geometryDirty)
        return;
    if (!m_frameRect.isValid()) {
        qWarning() << Q_FUNC_INFO << "Frame rect is not valid!";
        m_contentsRect = QRect();
        m_cachedPath = QPainterPath();
        return;
    }
    const bool hadPath = !m_cachedPath.isEmpty();
    m_contentsRect = m_frameRect.marginsRemoved(boxMargins());
    m_cachedPath = m_customPathFunction ? m_customPathFunction(this, m_frameRect) : QPainterPath();
    m_geometryDirty = false;

    QWidget* widget = m_widget;
    if (!widget)
        return;
    if (!m_cachedPath.isEmpty())
        KelUtils::setMask(
            widget, widget->size(), QPoint(0, 0), m_cachedPath, m_borderWidths.left() + 1.0, false, false);
    else if (hadPath)
        KelUtils::clearMask(widget);
}

void KelFramePainter::drawFrame(KelPaintContext& context, const KelWidgetStateAnimator* animator)
{
    drawFrame(context, blendStateColor(m_borderColors, animator), blendStateColor(m_backgroundColors, animator));
}

void KelFramePainter::drawFrame(KelPaintContext& context, const QColor& borderColor, const QColor& backgroundColor)
{
    ensureGeometryIsValid();
    if (m_geometryDirty)
        return;
    const bool backgroundWanted = isWanted(backgroundColor);
    const bool borderWanted = borderColor.isValid() && !m_borderWidths.isNull();
    if (!backgroundWanted && !borderWanted)
        return;

    const double ratio = context.devicePixelRatio();
    QPen pen(Qt::NoPen);
    if (borderWanted) {
        // One device-pixel-exact width for the whole outline.
        const double width = std::round(m_borderWidths.left() * ratio) / ratio;
        pen = QPen(borderColor, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
        if (!m_dashPattern.isEmpty()) {
            pen.setDashPattern(m_dashPattern);
            pen.setDashOffset(m_dashOffset);
        }
    }
    const QBrush brush = backgroundWanted ? QBrush(backgroundColor) : QBrush(Qt::NoBrush);
    QPainter* painter = context.painter();

    if (!m_cachedPath.isEmpty()) {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(pen);
        painter->setBrush(brush);
        painter->drawPath(m_cachedPath);
        painter->restore();
        return;
    }

    QRectF box = KelPainting::snapToDevicePixels(ratio, QRectF(m_frameRect));
    box = box.intersected(context.rect());
    box = box.marginsRemoved(KelPainting::snapMarginsToDevicePixels(ratio, QMarginsF(m_margins)));
    if (box.isEmpty())
        return;

    painter->save();
    const bool square = m_radii == KelRadii();
    if (square && allEqual(m_borderWidths)) {
        painter->setPen(pen);
        painter->setBrush(brush);
        KelPainting::drawRect(*painter, box, m_penOverlapping);
    } else if (square) {
        drawSquareFrame(painter, box, ratio, borderWanted ? borderColor : QColor(),
            backgroundWanted ? backgroundColor : QColor(), pen);
    } else {
        if (!allEqual(m_borderWidths))
            qWarning() << "Rounded frame can't have variadic-width borders!" << m_borderWidths;
        painter->setPen(pen);
        painter->setBrush(brush);
        KelPainting::drawRoundedRect(*painter, box, m_radii, m_penOverlapping);
    }
    painter->restore();
}

// A border whose sides differ in width: a background and up to four solid bars. The top and
// bottom bars span the whole width, the left and right ones the height between them.
void KelFramePainter::drawSquareFrame(QPainter* painter, const QRectF& box, double ratio, const QColor& borderColor,
    const QColor& backgroundColor, const QPen& pen)
{
    const QMarginsF widths = KelPainting::snapMarginsToDevicePixels(ratio, QMarginsF(m_borderWidths));
    painter->setRenderHint(QPainter::Antialiasing, true);
    if (backgroundColor.isValid())
        painter->fillRect(
            m_penOverlapping == KelPainting::Overlapping ? box : box.marginsRemoved(widths), backgroundColor);
    if (!borderColor.isValid())
        return;
    if (!m_dashPattern.isEmpty())
        qCritical() << "Dash-pen" << pen.dashPattern() << "is not implemented for variadic-width borders"
                    << m_borderWidths;
    const double l = widths.left(), t = widths.top(), r = widths.right(), b = widths.bottom();
    const double middle = box.height() - t - b;
    if (t > KelUtils::fuzzyZero)
        painter->fillRect(QRectF(box.left(), box.top(), box.width(), t), borderColor);
    if (b > KelUtils::fuzzyZero)
        painter->fillRect(QRectF(box.left(), box.bottom() - b, box.width(), b), borderColor);
    if (l > KelUtils::fuzzyZero && middle > 0)
        painter->fillRect(QRectF(box.left(), box.top() + t, l, middle), borderColor);
    if (r > KelUtils::fuzzyZero && middle > 0)
        painter->fillRect(QRectF(box.right() - r, box.top() + t, r, middle), borderColor);
}

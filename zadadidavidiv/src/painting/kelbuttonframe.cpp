#include "painting/kelbuttonframe.h"

#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "styles/kelcolors.h"

#include <QDebug>
#include <QPen>
#include <QWidget>

#include <cmath>

KelButtonFrame::KelButtonFrame(QWidget* widget)
    : KelVisibilityAnimatable(widget)
    , m_widget(widget)
{
}

KelButtonFrame::~KelButtonFrame() = default;

void KelButtonFrame::changeBoxModel(QMargins& field, const QMargins& value)
{
    if (field == value)
        return;
    field = value;
    updateSizeHint();
    updateLayout();
}

void KelButtonFrame::setMargins(const QMargins& margins) { changeBoxModel(m_margins, margins); }

void KelButtonFrame::setBorderWidths(const QMargins& widths) { changeBoxModel(m_borderWidths, widths); }

void KelButtonFrame::setPaddings(const QMargins& paddings) { changeBoxModel(m_paddings, paddings); }

void KelButtonFrame::setRadii(const KelRadii& radii)
{
    if (m_radii == radii)
        return;
    m_radii = radii;
    updateSizeHint();
    updateLayout();
}

void KelButtonFrame::setBorderColors(const KelStateColors& colors)
{
    if (m_borderColors == colors)
        return;
    m_borderColors = colors;
    updateAppearance();
}

void KelButtonFrame::setBackgroundColors(const KelStateColors& colors)
{
    if (m_backgroundColors == colors)
        return;
    m_backgroundColors = colors;
    updateAppearance();
}

void KelButtonFrame::setFrameRect(const QRect& rect)
{
    if (m_frameRect == rect)
        return;
    m_frameRect = rect;
    updateLayout();
}

void KelButtonFrame::setFrameSize(const QSize& size) { setFrameRect(QRect(m_frameRect.topLeft(), size)); }

QSize KelButtonFrame::sizeAddition() const
{
    const QMargins all = m_margins + m_borderWidths + m_paddings;
    return QSize(all.left() + all.right(), all.top() + all.bottom());
}

QSize KelButtonFrame::sizeHint() const { return sizeAddition(); }

QSize KelButtonFrame::minimumSizeHint() const { return sizeHint(); }

void KelButtonFrame::ensureGeometryIsValid()
{
    if (!m_geometryDirty)
        return;
    if (!m_frameRect.isValid()) {
        m_contentsRect = QRect();
        return;
    }
    m_contentsRect = m_frameRect.marginsRemoved(m_margins + m_borderWidths + m_paddings);
    m_geometryDirty = false;
}

void KelButtonFrame::drawFrame(KelPaintContext& context, KelWidgetStateAnimator* animator)
{
    drawFrame(context, blendStateColor(m_borderColors, animator), blendStateColor(m_backgroundColors, animator));
}

void KelButtonFrame::drawFrame(KelPaintContext& context, const QColor& borderColor, const QColor& backgroundColor)
{
    ensureGeometryIsValid();
    if (m_geometryDirty)
        return;
    const bool background = backgroundColor.isValid() && backgroundColor.alpha() > 0;
    const bool border = borderColor.isValid() && !m_borderWidths.isNull();
    if (!background && !border)
        return;
    const double ratio = context.devicePixelRatio();
    QRectF box = KelPainting::snapToDevicePixels(ratio, QRectF(m_frameRect)) & context.rect();
    box = box.marginsRemoved(KelPainting::snapMarginsToDevicePixels(ratio, QMarginsF(m_margins)));
    if (box.isEmpty())
        return;

    QPainter* painter = context.painter();
    painter->save();
    if (border) {
        // One width for every side, whole device pixels wide.
        const double width = std::round(m_borderWidths.left() * ratio) / ratio;
        painter->setPen(QPen(borderColor, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    } else {
        painter->setPen(Qt::NoPen);
    }
    painter->setBrush(background ? QBrush(backgroundColor) : QBrush());
    if (m_radii == KelRadii())
        KelPainting::drawRect(*painter, box);
    else
        KelPainting::drawRoundedRect(*painter, box, m_radii);
    painter->restore();
}

void KelButtonFrame::onSizeHintChanged() { }

void KelButtonFrame::onLayoutChanged()
{
    if (m_widget)
        m_widget->update();
}

void KelButtonFrame::onAppearanceChanged()
{
    if (m_widget)
        m_widget->update();
}

void KelButtonFrame::updateSizeHint()
{
    m_geometryDirty = true;
    onSizeHintChanged();
}

void KelButtonFrame::updateLayout()
{
    m_geometryDirty = true;
    onLayoutChanged();
}

void KelButtonFrame::updateAppearance() { onAppearanceChanged(); }

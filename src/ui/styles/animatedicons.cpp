#include "styles/animatedicons.h"

#include "animators/kelwidgetstateanimator.h"
#include "painting/keliconsprovider.h"
#include "painting/kelpainting.h"
#include "styles/kelcolors.h"
#include "styles/kelstyle.h"
#include "utils/kelfuzzy.h"

#include <QDebug>
#include <QPainter>

#include <cmath>

namespace AnimatedIcons {

namespace {

    const QColor kTransparent(Qt::transparent);

    // The painter on a fresh transparent pixmap, and the drawing rectangle on the device-pixel grid.
    struct Canvas {
        QPixmap pixmap;
        QRectF rect;
        double ratio = 1.0;

        double penWidth(int width) const { return std::round(ratio * width) / ratio; }
    };

    Canvas makeCanvas(const KelIcon& icon, double devicePixelRatio, const QSize& size)
    {
        Canvas canvas;
        canvas.pixmap = icon.createPixmap(devicePixelRatio, size);
        if (canvas.pixmap.isNull())
            return canvas;
        canvas.ratio = canvas.pixmap.devicePixelRatioF();
        const QSizeF logical(
            std::round(canvas.pixmap.width() / canvas.ratio), std::round(canvas.pixmap.height() / canvas.ratio));
        canvas.rect = KelPainting::snapToDevicePixels(canvas.ratio, QRectF(QPointF(0, 0), logical));
        return canvas;
    }

    QPen outlinePen(const QColor& color, double width)
    {
        QPen pen(color, width);
        pen.setCapStyle(Qt::SquareCap);
        pen.setJoinStyle(Qt::MiterJoin);
        return pen;
    }

    double clampedProgress(double progress)
    {
        const double p = qBound(0.0, progress, 1.0);
        if (p < 1e-12)
            return 0.0;
        if (p > 1.0 - 1e-12)
            return 1.0;
        return p;
    }

    // The outlined box (check box) or ring (radio button) under the mark, with its painter left open.
    void drawOutline(
        QPainter& painter, const Canvas& canvas, const QColor& border, const QColor& fill, int penWidth, double radius)
    {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(outlinePen(border, canvas.penWidth(penWidth)));
        painter.setBrush(fill);
        KelPainting::drawRoundedRect(painter, canvas.rect, radius, KelPainting::Overlapping);
    }

    bool isChecked(const KelWidgetStateAnimator* animator) { return animator && animator->isChecked(); }

    double checkedProgress(const KelWidgetStateAnimator* animator)
    {
        return animator ? clampedProgress(animator->checkedProgress()) : 0.0;
    }

    // The unchecked set (normal, hover, pressed) over the checked set's normal colour and its own overlays.
    KelStateColors stateRecord(const QColor& uncheckedNormal, const QColor& checkedNormal, bool checkedOverlays,
        const QColor& checkedHover = QColor(), const QColor& checkedPressed = QColor())
    {
        KelStyle* style = kelStyle();
        const QColor hover = style->hoverOverlayColor(QColor());
        const QColor pressed = style->pressedOverlayColor(QColor());
        return KelStateColors(uncheckedNormal, hover, pressed, checkedNormal, checkedOverlays ? hover : checkedHover,
            checkedOverlays ? pressed : checkedPressed);
    }

} // namespace

CheckBoxIcon::CheckBoxIcon()
    : KelStyleable(-1)
{
    setName(QStringLiteral("CheckBoxIcon"));
    setDefaultSize(QSize(18, 18));
    m_markPath.moveTo(4.5, 10);
    m_markPath.lineTo(7.5, 13);
    m_markPath.lineTo(14, 6);
    m_markLength = m_markPath.length();
    applyStyle();
}

CheckBoxIcon::~CheckBoxIcon() = default;

void CheckBoxIcon::applyStyle()
{
    KelStyle* style = kelStyle();
    const QColor accent = style->color(KelStyle::CL_Accent);
    m_fill = stateRecord(kTransparent, accent, true);
    m_border = stateRecord(style->color(1007), accent, false, accent, accent);
    m_mark = KelStateColors(kTransparent, kTransparent, kTransparent, QColor(Qt::white), kTransparent, kTransparent);
}

QPixmap CheckBoxIcon::statePixmap(
    double devicePixelRatio, const QSize& size, const QColor&, KelWidgetStateAnimator* animator) const
{
    Canvas canvas = makeCanvas(*this, devicePixelRatio, size);
    if (canvas.pixmap.isNull())
        return canvas.pixmap;
    QPainter painter(&canvas.pixmap);
    drawOutline(painter, canvas, blendStateColor(m_border, animator), blendStateColor(m_fill, animator), m_borderWidth,
        m_radius);

    // The mark draws itself from its start while checking and is gone at once when unchecking.
    const double progress = checkedProgress(animator);
    if (!isChecked(animator) || progress <= 0.0)
        return canvas.pixmap;
    const double width = canvas.penWidth(m_markWidth);
    QPen pen = outlinePen(blendStateColor(m_mark, animator), width);
    pen.setDashPattern({ progress * m_markLength / width, m_markLength / width });
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(m_markPath);
    return canvas.pixmap;
}

RadioIcon::RadioIcon()
    : KelStyleable(-1)
{
    setName(QStringLiteral("RadioIcon"));
    setDefaultSize(QSize(18, 18));
    applyStyle();
}

RadioIcon::~RadioIcon() = default;

void RadioIcon::applyStyle()
{
    KelStyle* style = kelStyle();
    const QColor accent = style->color(KelStyle::CL_Accent);
    m_fill = stateRecord(kTransparent, accent, false, kTransparent, kTransparent);
    m_border = stateRecord(style->color(1007), accent, false, accent, accent);
    m_dot = KelStateColors(kTransparent, kTransparent, kTransparent, QColor(Qt::white), kTransparent, kTransparent);
}

QPixmap RadioIcon::statePixmap(
    double devicePixelRatio, const QSize& size, const QColor&, KelWidgetStateAnimator* animator) const
{
    Canvas canvas = makeCanvas(*this, devicePixelRatio, size);
    if (canvas.pixmap.isNull())
        return canvas.pixmap;
    QPainter painter(&canvas.pixmap);
    drawOutline(painter, canvas, blendStateColor(m_border, animator), blendStateColor(m_fill, animator), m_ringWidth,
        canvas.rect.height() / 2);

    const QRectF full = canvas.rect.adjusted(m_dotInset, m_dotInset, -m_dotInset, -m_dotInset);
    QRectF dot = full;
    // Checking grows the dot from the centre; unchecking fades the full dot out with its colour.
    if (isChecked(animator)) {
        const double p = checkedProgress(animator);
        const QPointF centre = full.center();
        dot = QRectF(QPointF(centre.x() + (full.left() - centre.x()) * p, centre.y() + (full.top() - centre.y()) * p),
            QPointF(centre.x() + (full.right() - centre.x()) * p, centre.y() + (full.bottom() - centre.y()) * p));
    }
    if (dot.isEmpty())
        return canvas.pixmap;
    painter.setPen(Qt::NoPen);
    painter.setBrush(blendStateColor(m_dot, animator));
    painter.drawRoundedRect(dot, dot.height() / 2, dot.height() / 2);
    return canvas.pixmap;
}

ToggleIcon::ToggleIcon()
    : KelStyleable(-1)
{
    setName(QStringLiteral("ToggleIcon"));
    setDefaultSize(QSize(28, 18));
    applyStyle();
}

ToggleIcon::~ToggleIcon() = default;

void ToggleIcon::applyStyle()
{
    KelStyle* style = kelStyle();
    m_track = stateRecord(style->color(1007), style->color(KelStyle::CL_Accent), true);
    m_knob = KelStateColors(QColor(Qt::white));
}

QPixmap ToggleIcon::statePixmap(
    double devicePixelRatio, const QSize& size, const QColor&, KelWidgetStateAnimator* animator) const
{
    Canvas canvas = makeCanvas(*this, devicePixelRatio, size);
    if (canvas.pixmap.isNull())
        return canvas.pixmap;
    QPainter painter(&canvas.pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(blendStateColor(m_track, animator));
    KelPainting::drawRoundedRect(painter, canvas.rect, canvas.rect.height() / 2, KelPainting::Overlapping);

    QRectF knob = canvas.rect.adjusted(m_knobInset, m_knobInset, -m_knobInset, -m_knobInset);
    const double h = knob.height();
    const double p = checkedProgress(animator);
    const double x = p <= 0.0 ? knob.left() : knob.left() + (knob.right() - h - knob.left()) * p;
    // The knob stretches on its way and is round at both ends.
    const double w = h + m_knobStretch * 2.0 * (p < 0.5 ? p : 1.0 - p);
    knob = QRectF(x - (w - h) / 2, knob.top(), w, h);
    painter.setBrush(blendStateColor(m_knob, animator));
    painter.drawRoundedRect(knob, h / 2, h / 2);
    return canvas.pixmap;
}

void registerIcons()
{
    KelIconsProvider* provider = KelIconsProvider::instance();
    if (!provider) {
        qWarning() << "AnimatedIcons: no icon provider to register with";
        return;
    }
    provider->registerIcon(new ToggleIcon);
    provider->registerIcon(new CheckBoxIcon);
    provider->registerIcon(new RadioIcon);
}

} // namespace AnimatedIcons

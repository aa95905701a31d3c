#include "styles/kelcolors.h"

#include "animators/kelwidgetstateanimator.h"
#include "utils/kelfuzzy.h"

#include <QAbstractSpinBox>
#include <QWidget>

#include <cmath>

namespace {

const double kTransparentAlpha = 0.00001;
const double kDisabledPaletteAlpha = 0.6;

double unit(int component8) { return component8 / 255.0; }

double clampUnit(double value) { return qBound(0.0, value, 1.0); }

// Source-over of one channel, already weighted by the result alpha.
double overChannel(double bottom, double top, double topWeight, double bottomWeight)
{
    return clampUnit(topWeight * top + bottomWeight * bottom);
}

double rootMeanSquare(double from, double to, double p) { return std::sqrt((1.0 - p) * from * from + p * to * to); }

// Fills the role of all three groups; the disabled group may take another colour.
void fillRole(
    QWidget* widget, QPalette palette, QPalette::ColorRole role, const QBrush& brush, const QBrush& disabledBrush)
{
    palette.setBrush(QPalette::Active, role, brush);
    palette.setBrush(QPalette::Inactive, role, brush);
    palette.setBrush(QPalette::Disabled, role, disabledBrush);
    widget->setPalette(palette);
    if (role == QPalette::Window || role == QPalette::Base)
        widget->setAutoFillBackground(true);
}

} // namespace

QColor blendColorOver(const QColor& bottom, const QColor& top)
{
    if (top.alpha() < 1)
        return bottom;
    if (top.alpha() >= 255)
        return top;
    const double topAlpha = unit(top.alpha());
    const double bottomAlpha = unit(bottom.alpha());
    const double alpha = 1.0 - (1.0 - bottomAlpha) * (1.0 - topAlpha);
    if (std::fabs(alpha) <= kTransparentAlpha)
        return QColor(Qt::transparent);
    const double topWeight = topAlpha / alpha;
    const double bottomWeight = (1.0 - topAlpha) * bottomAlpha / alpha;
    return QColor::fromRgbF(overChannel(unit(bottom.red()), unit(top.red()), topWeight, bottomWeight),
        overChannel(unit(bottom.green()), unit(top.green()), topWeight, bottomWeight),
        overChannel(unit(bottom.blue()), unit(top.blue()), topWeight, bottomWeight), clampUnit(alpha));
}

int interpolateInt(int from, int to, double progress)
{
    if (KelUtils::isFuzzyNull(progress))
        return from;
    if (qFuzzyCompare(progress, 1.0))
        return to;
    return int(from + (to - from) * progress);
}

QColor interpolateColor(const QColor& from, const QColor& to, double progress, int mode)
{
    if (from == to)
        return from;
    const double p = clampUnit(progress);
    if (p <= KelUtils::fuzzyZero)
        return from;
    if (qFuzzyCompare(p, 1.0))
        return to;
    if (mode == 0) {
        return QColor::fromRgb(interpolateInt(from.red(), to.red(), p), interpolateInt(from.green(), to.green(), p),
            interpolateInt(from.blue(), to.blue(), p), interpolateInt(from.alpha(), to.alpha(), p));
    }
    if (mode != 1)
        return to;
    // A fully transparent end has no colour of its own: only the alpha travels.
    if (from.alpha() == 0 || to.alpha() == 0) {
        QColor result = from.alpha() == 0 ? to : from;
        result.setAlpha(interpolateInt(from.alpha(), to.alpha(), p));
        return result;
    }
    const double alpha = (1.0 - p) * from.alphaF() + p * to.alphaF();
    return QColor::fromRgbF(clampUnit(rootMeanSquare(from.redF(), to.redF(), p)),
        clampUnit(rootMeanSquare(from.greenF(), to.greenF(), p)),
        clampUnit(rootMeanSquare(from.blueF(), to.blueF(), p)), clampUnit(alpha));
}

bool isDarkColor(const QColor& color)
{
    if (!color.isValid() || color == QColor(Qt::transparent))
        return false;
    const QRgb rgb = color.rgb();
    const int weighted = 11 * qRed(rgb) + 16 * qGreen(rgb) + 5 * qBlue(rgb);
    return weighted / 32 < 128;
}

QColor colorWithAlpha(const QColor& color, double alphaF)
{
    QColor result = color;
    result.setAlphaF(clampUnit(alphaF));
    return result;
}

void setPaletteColor(QWidget* widget, QPalette::ColorRole role, const QColor& color)
{
    if (!widget)
        return;
    const QPalette palette = widget->palette();
    if (palette.color(role) == color)
        return;
    fillRole(widget, palette, role, color, colorWithAlpha(color, kDisabledPaletteAlpha));
}

void setWidgetBackgroundColor(QWidget* widget, const QColor& color)
{
    if (widget)
        setPaletteColor(widget, widget->backgroundRole(), color);
}

void setWidgetForegroundColor(QWidget* widget, const QColor& color)
{
    if (!widget)
        return;
    const QPalette::ColorRole role
        = qobject_cast<QAbstractSpinBox*>(widget) ? QPalette::Text : widget->foregroundRole();
    setPaletteColor(widget, role, color);
}

void setWidgetBackgroundBrush(QWidget* widget, const QBrush& brush)
{
    if (!widget)
        return;
    const QPalette palette = widget->palette();
    const QPalette::ColorRole role = widget->backgroundRole();
    if (palette.brush(role) == brush)
        return;
    fillRole(widget, palette, role, brush, brush);
}

QColor blendStateColor(const KelStateColors& colors, const KelWidgetStateAnimator* animator)
{
    if (!animator)
        return colors.unchecked.normal;
    const double checked = animator->checkedProgress();
    QColor base = interpolateColor(colors.unchecked.normal, colors.checked.normal, checked, 1);

    const bool hoverInPlay = animator->hasHoveredProgress();
    const bool pressInPlay = animator->hasPressedProgress();
    if (hoverInPlay || pressInPlay) {
        const QColor hover = hoverInPlay
            ? interpolateColor(colors.unchecked.hovered, colors.checked.hovered, checked, 1)
            : QColor(Qt::transparent);
        const QColor press = pressInPlay
            ? interpolateColor(colors.unchecked.pressed, colors.checked.pressed, checked, 1)
            : QColor(Qt::transparent);
        const QColor overlay = interpolateColor(hover, press, animator->pressedProgress(), 0);
        base = interpolateColor(base, blendColorOver(base, overlay), animator->hoveredProgress(), 1);
    }

    if (animator->hasDisabledProgress()) {
        const QColor disabled = colors.set(animator->isChecked()).disabled;
        if (disabled.isValid() && disabled.alpha() > 0)
            base = interpolateColor(base, disabled, animator->disabledProgress(), 0);
        else if (base.isValid())
            base.setAlphaF(clampUnit(base.alphaF() * animator->opacity()));
    }
    return base;
}

#include "styles/kelqproxystyle.h"

#include "styles/kelstyle.h"

#include <QWidget>

namespace {

const int kSubMenuOverlapMetric = 10;
const int kPasswordMaskDelayMetric = 28;
const int kToolTipWakeUpDelayMs = 1000;

KelQProxyStyle::WidgetTest& framePainterTest()
{
    static KelQProxyStyle::WidgetTest test;
    return test;
}

KelQProxyStyle::WidgetTest& spinBoxPainterTest()
{
    static KelQProxyStyle::WidgetTest test;
    return test;
}

bool passes(const KelQProxyStyle::WidgetTest& test, const QWidget* widget) { return widget && test && test(widget); }

} // namespace

void KelQProxyStyle::setFramePainterTest(WidgetTest test) { framePainterTest() = std::move(test); }

void KelQProxyStyle::setSpinBoxPainterTest(WidgetTest test) { spinBoxPainterTest() = std::move(test); }

bool KelQProxyStyle::isFramePainter(const QWidget* widget) { return passes(framePainterTest(), widget); }

bool KelQProxyStyle::isSpinBoxPainter(const QWidget* widget) { return passes(spinBoxPainterTest(), widget); }

KelQProxyStyle::KelQProxyStyle(QStyle* baseStyle)
    : QProxyStyle(baseStyle)
{
}

KelQProxyStyle::~KelQProxyStyle() = default;

void KelQProxyStyle::drawPrimitive(
    PrimitiveElement element, const QStyleOption* option, QPainter* painter, const QWidget* widget) const
{
    switch (element) {
    case PE_FrameFocusRect:
        if (isFramePainter(widget))
            return;
        break;
    case PE_PanelButtonBevel:
        if (isSpinBoxPainter(widget))
            return;
        break;
    case PE_PanelLineEdit:
        if (isFramePainter(widget) || (widget && isFramePainter(widget->parentWidget())))
            return;
        break;
    default:
        break;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

int KelQProxyStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const
{
    if (metric == PM_SubMenuOverlap)
        return kelStyle()->metric(kSubMenuOverlapMetric);
    return QProxyStyle::pixelMetric(metric, option, widget);
}

int KelQProxyStyle::styleHint(
    StyleHint hint, const QStyleOption* option, const QWidget* widget, QStyleHintReturn* returnData) const
{
    switch (hint) {
    case SH_EtchDisabledText:
    case SH_DitherDisabledText:
    case SH_MenuBar_AltKeyNavigation:
        return 0;
    case SH_ToolTip_WakeUpDelay:
        return kToolTipWakeUpDelayMs;
    case SH_LineEdit_PasswordMaskDelay:
        return kelStyle()->metric(kPasswordMaskDelayMetric);
    default:
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
}

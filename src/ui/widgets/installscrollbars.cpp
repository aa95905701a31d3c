#include "widgets/installscrollbars.h"

#include "animators/kelwidgetstateanimator.h"
#include "eventfilters/kelgeometrywatcher.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "styles/kelcolors.h"
#include "styles/kelstyle.h"
#include "utils/kelfuzzy.h"
#include "widgets/kelscrollbar.h"

#include <QAbstractScrollArea>
#include <QEasingCurve>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QScrollArea>
#include <QStyleOptionSlider>
#include <QTimer>

#include <cmath>

namespace {

class ScrollBarImpl;

// Paints one overlay bar: a slim rounded track and handle that widen towards the content while
// hovered. It has no base style of its own choosing: QProxyStyle then makes its own instance of
// the platform style, so the bar never takes ownership of (and on deletion destroys) the
// application's style object.
class ScrollBarProxyStyle : public QProxyStyle {
public:
    explicit ScrollBarProxyStyle(ScrollBarImpl* bar);

    void setColors(const QColor& track, const KelStateColors& handle)
    {
        m_trackColor = track;
        m_handleColors = handle;
    }
    KelWidgetStateAnimator* widthAnimator() const { return m_widthAnimator; }

    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        return metric == PM_ScrollBarExtent ? 18 : QProxyStyle::pixelMetric(metric, option, widget);
    }
    int styleHint(
        StyleHint hint, const QStyleOption* option, const QWidget* widget, QStyleHintReturn* returnData) const override
    {
        return hint == SH_ScrollBar_Transient ? 1 : QProxyStyle::styleHint(hint, option, widget, returnData);
    }
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
        const QWidget* widget) const override;

private:
    ScrollBarImpl* m_bar;
    QColor m_trackColor;
    KelStateColors m_handleColors;
    KelWidgetStateAnimator* m_widthAnimator;
    KelWidgetStateAnimator* m_handleAnimator;
};

class ScrollBarImpl : public KelScrollBar {
public:
    ScrollBarImpl(QAbstractScrollArea* area, int mode, Qt::Orientation orientation, QWidget* parent)
        : KelScrollBar(-1, area, orientation, NoSpecialVisibility, parent, true)
        , m_mode(mode)
        , m_area(area)
    {
        setAttribute(Qt::WA_Hover);
        m_proxy = new ScrollBarProxyStyle(this);
        m_proxy->setParent(this);
        setStyle(m_proxy);
        applyThemeColors();

        auto* watcher = new KelGeometryWatcher(area, KelGeometryWatcher::WidgetGeometry);
        connect(watcher, &KelGeometryWatcher::geometryChanged, this, &ScrollBarImpl::place);

        m_showTimer.setSingleShot(true);
        m_showTimer.setInterval(100);
        m_hideTimer.setSingleShot(true);
        m_hideTimer.setInterval(500);
        connect(&m_showTimer, &QTimer::timeout, this, [this]() { m_proxy->widthAnimator()->setHovered(true, true); });
        connect(&m_hideTimer, &QTimer::timeout, this, [this]() { m_proxy->widthAnimator()->setHovered(false, true); });

        setEnabled(isScrollAvailable());
        setVisible(isEnabled());
        place();
        connect(this, &KelScrollBar::scrollAvailableChanged, this, &QWidget::setEnabled);
        connect(this, &KelScrollBar::scrollAvailableChanged, this, &ScrollBarImpl::place);
        if (m_mode == 1) {
            reserveRoom();
            connect(this, &KelScrollBar::scrollAvailableChanged, this, &ScrollBarImpl::reserveRoom);
        }
        setContextMenuPolicy(Qt::NoContextMenu);
    }

    void applyStyle() override
    {
        KelScrollBar::applyStyle();
        if (m_proxy)
            applyThemeColors();
        update();
    }

protected:
    bool event(QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::EnabledChange: {
            const bool wasVisible = isVisible();
            setVisible(isEnabled());
            m_proxy->widthAnimator()->setDisabled(!isEnabled(), wasVisible);
            break;
        }
        case QEvent::HoverEnter:
            m_hovered = true;
            if (!m_pressed) {
                m_hideTimer.stop();
                m_showTimer.start();
            }
            break;
        case QEvent::HoverLeave:
            m_hovered = false;
            if (!m_pressed)
                startNarrowing();
            break;
        default:
            break;
        }
        return QScrollBar::event(event);
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && event->buttons() == Qt::LeftButton)
            m_pressed = true;
        KelScrollBar::mousePressEvent(event);
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if ((event->buttons() & ~event->button()) == Qt::NoButton) {
            m_pressed = false;
            if (!rect().contains(event->pos()))
                startNarrowing();
        }
        KelScrollBar::mouseReleaseEvent(event);
    }

private:
    void startNarrowing()
    {
        m_showTimer.stop();
        m_hideTimer.start();
    }

    void applyThemeColors()
    {
        if (kelStyle()->isDarkTheme())
            m_proxy->setColors(QColor(255, 255, 255, 30),
                KelStateColors(
                    QColor(255, 255, 255, 30), QColor(255, 255, 255, 30), QColor(255, 255, 255, 60), QColor()));
        else
            m_proxy->setColors(QColor(0, 0, 0, 24),
                KelStateColors(QColor(0, 0, 0, 92), QColor(0, 0, 0, 24), QColor(0, 0, 0, 46), QColor()));
    }

    void place()
    {
        if (!m_area)
            return;
        const QRect r = m_area->rect();
        const QSize hint = sizeHint();
        if (orientation() == Qt::Vertical)
            setGeometry(r.adjusted(r.width() - hint.width(), 0, 0, -hint.width()));
        else
            setGeometry(r.adjusted(0, r.height() - hint.height(), -hint.height(), 0));
        raise();
    }

    // Keeps the content clear of the bar while the bar shows.
    void reserveRoom()
    {
        auto* scrollArea = qobject_cast<QScrollArea*>(m_area.data());
        QWidget* content = scrollArea ? scrollArea->widget() : nullptr;
        if (!content)
            return;
        QMargins margins = content->contentsMargins();
        const bool available = isScrollAvailable();
        if (orientation() == Qt::Vertical)
            margins.setRight(available ? sizeHint().width() : 0);
        else
            margins.setBottom(available ? sizeHint().height() : 0);
        content->setContentsMargins(margins);
    }

    int m_mode = 0;
    QPointer<QAbstractScrollArea> m_area;
    ScrollBarProxyStyle* m_proxy = nullptr;
    QTimer m_showTimer;
    QTimer m_hideTimer;
    bool m_hovered = false;
    bool m_pressed = false;
};

ScrollBarProxyStyle::ScrollBarProxyStyle(ScrollBarImpl* bar)
    : QProxyStyle(static_cast<QStyle*>(nullptr))
    , m_bar(bar)
    , m_trackColor(Qt::transparent)
    , m_widthAnimator(new KelWidgetStateAnimator(0, this))
    , m_handleAnimator(new KelWidgetStateAnimator(0, this))
{
    m_widthAnimator->setWidget(bar);
    m_handleAnimator->setWidget(bar);
    m_widthAnimator->setHoveredAnimationParams(
        KelAnimationParams { QEasingCurve::OutQuad, 150, QEasingCurve::OutQuad, 150, 0.0, 1.0 });
    m_widthAnimator->setDisabledDimming(1.0);
}

void ScrollBarProxyStyle::drawComplexControl(
    ComplexControl control, const QStyleOptionComplex* option, QPainter* painter, const QWidget* widget) const
{
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_ScrollBar || !slider)
        return;
    const bool enabled = m_bar->isEnabled();
    const bool animated = m_bar->isVisible();
    m_handleAnimator->setHovered(enabled && (slider->activeSubControls & SC_ScrollBarSlider), animated);
    m_handleAnimator->setPressed(enabled && (slider->state & State_Sunken), animated);

    KelPaintContext context(painter, option);
    QPainter* p = context.painter();
    p->setPen(Qt::NoPen);
    const double opacity = m_widthAnimator->opacity();
    if (KelUtils::isFuzzyNull(opacity))
        return;
    p->setOpacity(opacity);
    p->setRenderHint(QPainter::Antialiasing);

    const double ratio = context.devicePixelRatio();
    const double m = std::round(6 * ratio) / ratio;
    const double g = (1.0 - m_widthAnimator->hoveredProgress()) * m;
    QRectF groove = context.snapToDevicePixels(subControlRect(control, slider, SC_ScrollBarGroove, widget));
    QRectF handle = context.snapToDevicePixels(subControlRect(control, slider, SC_ScrollBarSlider, widget));
    // Inset 6 px at both ends and on the outer side; the inner side grows towards the content.
    if (slider->orientation == Qt::Horizontal) {
        groove.adjust(m, g, -m, -m);
        handle.adjust(m, g, -m, -m);
    } else {
        groove.adjust(g, m, -m, -m);
        handle.adjust(g, m, -m, -m);
    }
    if (groove.isValid()) {
        p->setBrush(m_trackColor);
        KelPainting::drawRoundedRect(*p, groove, 3);
    }
    if (handle.isValid()) {
        p->setBrush(blendStateColor(m_handleColors, m_handleAnimator));
        KelPainting::drawRoundedRect(*p, handle, 3);
    }
}

} // namespace

void installScrollBars(QAbstractScrollArea* area, int mode)
{
    if (!area || area->findChild<KelScrollBar*>())
        return;
    if (area->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
        new ScrollBarImpl(area, mode, Qt::Vertical, area);
    if (area->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
        new ScrollBarImpl(area, mode, Qt::Horizontal, area);
}

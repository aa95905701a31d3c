#include "widgets/keldelimiter.h"

#include "animators/keldisabledstateanimator.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "styles/kelstyle.h"

KelDelimiter::KelDelimiter(int styleRole, Qt::Orientation orientation, QWidget* parent)
    : QWidget(parent)
    , KelStyleable(styleRole)
    , m_orientation(orientation)
    , m_disabledAnimator(new KelDisabledStateAnimator(1, this))
{
    setAutoFillBackground(false);
    if (orientation == Qt::Horizontal)
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    else
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    updateGeometry();
    update();
    m_disabledAnimator->setWidget(this);
    setObjectName(QStringLiteral("KelDelimiter"));
    if (isStyled())
        kelStyle()->applyDelimiterStyle(this, widgetType());
}

KelDelimiter::~KelDelimiter() = default;

void KelDelimiter::repaintOnChange(int& field, int value)
{
    if (field == value)
        return;
    field = value;
    update();
}

void KelDelimiter::applyStyle()
{
    if (isStyled())
        kelStyle()->applyDelimiterStyle(this, widgetType());
}

void KelDelimiter::setColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void KelDelimiter::setThickness(int thickness)
{
    if (thickness == m_thickness)
        return;
    m_thickness = thickness;
    updateGeometry();
    update();
}

void KelDelimiter::setLineWidth(int width) { repaintOnChange(m_lineWidth, width); }

void KelDelimiter::setLineOffset(int offset) { repaintOnChange(m_lineOffset, offset); }

void KelDelimiter::setStartMargin(int margin) { repaintOnChange(m_startMargin, margin); }

void KelDelimiter::setEndMargin(int margin) { repaintOnChange(m_endMargin, margin); }

QSize KelDelimiter::sizeHint() const
{
    return m_orientation == Qt::Horizontal ? QSize(0, m_thickness) : QSize(m_thickness, 0);
}

void KelDelimiter::paintEvent(QPaintEvent*)
{
    QColor color = m_color;
    KelPaintContext context(this);
    const double r = context.devicePixelRatio();
    if (KelPainting::dbgPaintKelDelimiter()) {
        context.drawDiagnosticContentsMargins(this);
        color = Qt::blue;
    }
    // An unstyled delimiter has no colour yet: it shows nothing rather than a black line.
    if (!color.isValid())
        return;
    const double width = KelPainting::snapToDevicePixels(r, m_lineWidth);
    const double offset = KelPainting::snapToDevicePixels(r, m_lineOffset);
    const double start = KelPainting::snapToDevicePixels(r, m_startMargin);
    const double end = KelPainting::snapToDevicePixels(r, m_endMargin);
    const bool horizontal = m_orientation == Qt::Horizontal;
    const double length = KelPainting::snapToDevicePixels(r, horizontal ? this->width() : height()) - start - end;
    if (length <= 0 || width <= 0)
        return;
    QPainter* painter = context.painter();
    painter->setOpacity(m_disabledAnimator->opacity());
    painter->fillRect(horizontal ? QRectF(start, offset, length, width) : QRectF(offset, start, width, length), color);
}

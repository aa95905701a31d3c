#include "dropindicator.h"

#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "styles/kelstyle.h"

#include <QPainter>

#include <cmath>

DropIndicator::DropIndicator(QWidget* parent, const QMargins& contentsMargins, int penWidth,
    const QVector<double>& dashPattern, bool fillBackground)
    : QWidget(parent)
    , KelStyleable(-1)
    , KelVisibilityAnimatable(this)
    , m_penWidth(penWidth)
    , m_dashPattern(dashPattern)
    , m_fillBackground(fillBackground)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setContentsMargins(contentsMargins);
    QFont font(QStringLiteral("Segoe UI"));
    font.setPixelSize(20);
    font.setWeight(50);
    setFont(font);
    setObjectName(QStringLiteral("DropIndicator"));
    hide();
    applyStyle();
}

DropIndicator::~DropIndicator() = default;

void DropIndicator::applyStyle()
{
    KelStyle* style = kelStyle();
    setAnimationParams(style->animationSpec(4));
    m_background = style->color(2);
    m_line = style->color(0);
    update();
}

void DropIndicator::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    update();
}

bool DropIndicator::isActive() const { return m_active; }

void DropIndicator::setText(const QString& text) { m_text = text; }

QString DropIndicator::text() const { return m_text; }

QSize DropIndicator::minimumSizeHint() const { return QSize(10, 10); }

void DropIndicator::paintEvent(QPaintEvent*)
{
    KelPaintContext context(this);
    QPainter* painter = context.painter();
    const double ratio = devicePixelRatioF();
    QRectF frame = QRectF(contentsRect());
    if (std::abs(ratio - std::round(ratio)) > 1e-9)
        frame = context.snapToDevicePixels(frame);
    frame = frame.intersected(context.rect());

    QPen pen(QBrush(m_line), std::round(m_penWidth * ratio) / ratio, Qt::DashLine, Qt::SquareCap, Qt::MiterJoin);
    pen.setDashPattern(m_dashPattern);
    if (m_fillBackground)
        painter->fillRect(rect(), m_background);
    QColor fill = m_line;
    fill.setAlphaF(m_active ? 0.3 : 0.1);
    painter->setPen(pen);
    painter->setBrush(fill);
    KelPainting::drawRoundedRect(*painter, frame, 6);
    if (!m_text.isEmpty()) {
        painter->setPen(m_line);
        painter->setFont(font());
        painter->drawText(frame, Qt::AlignCenter, m_text);
    }
}

#include "widgets/progressbar.h"

#include "animators/keldisabledstateanimator.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "styles/kelcolors.h"
#include "widgets/kellabel.h"

#include <QLinearGradient>
#include <QPainterPath>

namespace {
const int kLabelStyle = 1048;
}

ProgressBar::ProgressBar(int styleRole, QWidget* parent)
    : KelProgressBar(styleRole, parent, true)
    , m_animator(new KelDisabledStateAnimator(1, this))
    , m_label(new KelLabel(kLabelStyle, this))
{
    m_animator->setWidget(this);
    setTextVisible(false);
    m_label->setText(QStringLiteral("0%"));
    m_label->setAlignment(Qt::AlignCenter);
    connect(this, &QProgressBar::valueChanged, this,
        [this](int value) { m_label->setText(QStringLiteral("%1%").arg(value)); });
    KelProgressBar::applyStyle();
}

ProgressBar::~ProgressBar() = default;

void ProgressBar::setBackgroundColor(const QColor& color) { m_backgroundColor = color; }

void ProgressBar::setProgressColor(const QColor& color) { m_progressColor = color; }

void ProgressBar::setProgressEndColor(const QColor& color) { m_progressEndColor = color; }

void ProgressBar::setDisabledColor(const QColor& color) { m_disabledColor = color; }

void ProgressBar::setRadius(int radius) { m_radius = radius; }

void ProgressBar::setLabelVisible(bool visible) { m_label->setVisible(visible); }

double ProgressBar::fillRatio() const
{
    const double span = double(maximum()) - double(minimum());
    if (span <= 0.0)
        return 0.0;
    return qBound(0.0, (double(value()) - double(minimum())) / span, 1.0);
}

void ProgressBar::resizeEvent(QResizeEvent* event)
{
    KelProgressBar::resizeEvent(event);
    m_label->setFixedSize(size());
}

QColor ProgressBar::stateColor(const QColor& color) const
{
    if (!m_disabledColor.isValid())
        return colorWithAlpha(color, color.alphaF() * m_animator->opacity());
    return interpolateColor(color, m_disabledColor, m_animator->disabledProgress(), 0);
}

void ProgressBar::paintEvent(QPaintEvent*)
{
    KelPaintContext context(this);
    QPainter* painter = context.painter();
    const QRectF bar = context.snapToDevicePixels(QRectF(contentsRect())).intersected(context.rect());
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(m_backgroundColor);
    KelPainting::drawRoundedRect(*painter, bar, m_radius);

    const double ratio = fillRatio();
    if (ratio <= 0.0)
        return;
    QPainterPath clip;
    clip.addRoundedRect(bar, m_radius, m_radius);
    painter->setClipPath(clip);
    if (m_progressEndColor.isValid()) {
        // The gradient spans the whole bar, so a short fill shows only its start.
        QLinearGradient gradient(0, 0, width(), 0);
        gradient.setColorAt(0, stateColor(m_progressColor));
        gradient.setColorAt(1, stateColor(m_progressEndColor));
        painter->setBrush(gradient);
    } else {
        painter->setBrush(stateColor(m_progressColor));
    }
    QRectF fill = bar;
    fill.setWidth(bar.width() * ratio);
    KelPainting::drawRect(*painter, fill);
}

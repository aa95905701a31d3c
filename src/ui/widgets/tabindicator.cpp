#include "tabindicator.h"

#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "styles/kelstyle.h"
#include "widgets/kelbutton.h"
#include "widgets/kelexclusivebuttongroup.h"

#include <QEvent>
#include <QPainter>
#include <QVariantAnimation>

namespace {
const int kFastMs = 150;
const int kSlowMs = 400;
}

TabIndicator::TabIndicator(QWidget* parent, KelExclusiveButtonGroup* group)
    : QWidget(parent)
    , m_group(group)
    , m_leftEdge(new QVariantAnimation(this))
    , m_rightEdge(new QVariantAnimation(this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_leftEdge->setStartValue(0);
    m_leftEdge->setEndValue(0);
    m_rightEdge->setStartValue(0);
    m_rightEdge->setEndValue(0);
    connect(m_leftEdge, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
    connect(m_rightEdge, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
    if (group)
        connect(group, &KelExclusiveButtonGroup::toggled, this, [this] { updatePosition(true); });
    if (parent)
        parent->installEventFilter(this);
    watchButtons();
    move(0, 0);
    if (parent)
        resize(parent->size());
    updatePosition(false);
}

TabIndicator::~TabIndicator() = default;

void TabIndicator::setThickness(int thickness) { m_thickness = thickness; }

void TabIndicator::watchButtons()
{
    if (!m_group)
        return;
    for (KelButton* button : m_group->buttons())
        button->installEventFilter(this);
}

int TabIndicator::barLeft() const
{
    return qMin(m_leftEdge->currentValue().toInt(), m_rightEdge->currentValue().toInt());
}

int TabIndicator::barRight() const
{
    return qMax(m_leftEdge->currentValue().toInt(), m_rightEdge->currentValue().toInt());
}

void TabIndicator::updatePosition(bool animated)
{
    KelButton* button = m_group ? m_group->checkedButton() : nullptr;
    if (!button || !parentWidget())
        return;
    const QRect geometry(button->mapTo(parentWidget(), QPoint(0, 0)), button->size());
    const int left = geometry.x();
    const int right = left + geometry.width();
    const int center = left + geometry.width() / 2;
    const bool movingRight = m_center < center;
    m_center = center;
    moveEdge(m_leftEdge, left, animated, !movingRight);
    moveEdge(m_rightEdge, right, animated, movingRight);
    update();
}

void TabIndicator::moveEdge(QVariantAnimation* edge, int target, bool animated, bool fast)
{
    if (!animated) {
        edge->stop();
        edge->setCurrentTime(0);
        edge->setStartValue(target);
        edge->setEndValue(target);
        return;
    }
    const QVariant current = edge->currentValue();
    edge->stop();
    edge->setCurrentTime(0);
    edge->setStartValue(current);
    edge->setEndValue(target);
    edge->setDuration(fast ? kFastMs : kSlowMs);
    edge->setEasingCurve(QEasingCurve::OutCubic);
    edge->start();
}

bool TabIndicator::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize) {
        if (watched == parentWidget()) {
            move(0, 0);
            resize(parentWidget()->size());
        }
        updatePosition(false);
    }
    return QWidget::eventFilter(watched, event);
}

void TabIndicator::paintEvent(QPaintEvent*)
{
    const int left = barLeft();
    const int width = barRight() - left;
    const QRect contents = contentsRect();
    const QRectF bar(left, contents.bottom() + 1 - m_thickness, width, 2 * m_thickness);
    KelPaintContext context(this);
    QPainter* painter = context.painter();
    painter->setClipRect(contents);
    painter->setPen(Qt::NoPen);
    painter->setBrush(kelStyle()->color(KelStyle::CL_Accent));
    KelPainting::drawRoundedRect(*painter, context.snapToDevicePixels(bar), m_thickness);
}

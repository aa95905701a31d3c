#include "painting/kelgraphicsopacityeffect.h"

#include "utils/kelfuzzy.h"

#include <QAbstractScrollArea>
#include <QDebug>
#include <QPainter>
#include <QScrollBar>
#include <QWidget>

namespace {

// Pixmaps of the effect source are in device coordinates: they go onto the device as they are.
void drawUntransformed(QPainter* painter, const QPoint& position, const QPixmap& pixmap, double opacity)
{
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->setOpacity(opacity);
    painter->setWorldTransform(QTransform());
    painter->drawPixmap(position, pixmap);
    painter->restore();
}

void installForceRepaintEffect(QWidget* widget, QVector<QPointer<KelGraphicsOpacityEffect::ForceRepaintEffect>>& into)
{
    // Another effect stays: replacing it would delete it, and with it whatever its owner keeps in it.
    if (!widget || widget->graphicsEffect())
        return;
    auto* effect = new KelGraphicsOpacityEffect::ForceRepaintEffect(widget);
    widget->setGraphicsEffect(effect);
    into.append(effect);
}

} // namespace

KelGraphicsOpacityEffect::ForceRepaintEffect::ForceRepaintEffect(QWidget* widget)
    : QGraphicsEffect(widget)
    , m_widget(widget)
{
    setObjectName(QStringLiteral("ForceRepaintEffect"));
}

void KelGraphicsOpacityEffect::ForceRepaintEffect::draw(QPainter* painter)
{
    QPoint offset;
    const QPixmap pixmap = sourcePixmap(Qt::DeviceCoordinates, &offset, QGraphicsEffect::NoPad);
    if (!pixmap.isNull())
        drawUntransformed(painter, offset, pixmap, painter->opacity());
}

KelGraphicsOpacityEffect::KelGraphicsOpacityEffect(QWidget* target)
    : QGraphicsEffect(target)
    , m_target(target)
{
    setEnabled(false);
    if (target)
        target->setGraphicsEffect(this);
}

KelGraphicsOpacityEffect::~KelGraphicsOpacityEffect()
{
    // The scroll areas inside must not keep effects that nobody will take off.
    removeForceRepaintEffects();
}

void KelGraphicsOpacityEffect::setOpacity(double opacity)
{
    if (m_target && m_target->testAttribute(Qt::WA_WState_InPaintEvent) && KelUtils::isFuzzyNull(opacity)) {
        qCritical("WARNING! DONT SET GRAPHICS OPACITY TO 0 INSIDE PAINT EVENT\n"
                  "KelGraphicsOpacityEffect::draw() will call original paintEvent only if opacity is not 0.0.\n"
                  "So if you call effect->setOpacity(0.0) inside paint event, you will never get into this paint "
                  "event!");
    }
    opacity = qBound(0.0, opacity, 1.0);
    if (KelUtils::isFuzzyEqual(opacity, m_opacity))
        return;
    m_opacity = opacity;
    if (m_disableWhenOpaque)
        setEnabled(!KelUtils::isFuzzyEqual(opacity, 1.0));
    update();
}

void KelGraphicsOpacityEffect::setSlideParams(Qt::Edge edge, int distance)
{
    if (m_slideEdge == int(edge) && m_slideDistance == distance)
        return;
    m_slideEdge = int(edge);
    m_slideDistance = distance;
    update();
}

QPoint KelGraphicsOpacityEffect::slideOffset() const
{
    if (m_slideDistance == 0)
        return QPoint();
    const int d = qRound((1.0 - m_opacity) * m_slideDistance);
    switch (m_slideEdge) {
    case Qt::TopEdge:
        return QPoint(0, -d);
    case Qt::LeftEdge:
        return QPoint(-d, 0);
    case Qt::RightEdge:
        return QPoint(d, 0);
    case Qt::BottomEdge:
        return QPoint(0, d);
    default:
        return QPoint();
    }
}

void KelGraphicsOpacityEffect::setDisableWhenOpaque(bool value)
{
    if (m_disableWhenOpaque == value)
        return;
    m_disableWhenOpaque = value;
    setEnabled(!value || !KelUtils::isFuzzyEqual(m_opacity, 1.0));
}

void KelGraphicsOpacityEffect::installForceRepaintEffects()
{
    if (!m_target || m_forceRepaintInstalled)
        return;
    m_forceRepaintInstalled = true;
    m_cachedPixmap = QPixmap();
    const auto areas = m_target->findChildren<QAbstractScrollArea*>();
    for (QAbstractScrollArea* area : areas) {
        if (!area->isVisibleTo(m_target))
            continue;
        installForceRepaintEffect(area->viewport(), m_forceRepaintEffects);
        if (area->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
            installForceRepaintEffect(area->horizontalScrollBar(), m_forceRepaintEffects);
        if (area->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
            installForceRepaintEffect(area->verticalScrollBar(), m_forceRepaintEffects);
    }
}

void KelGraphicsOpacityEffect::removeForceRepaintEffects()
{
    if (!m_forceRepaintInstalled)
        return;
    m_forceRepaintInstalled = false;
    m_cachedPixmap = QPixmap();
    while (!m_forceRepaintEffects.isEmpty()) {
        const QPointer<ForceRepaintEffect> effect = m_forceRepaintEffects.takeLast();
        if (!effect)
            continue;
        QWidget* widget = effect->widget();
        // Only our own effect is taken off: the widget may carry another one by now.
        if (widget && widget->graphicsEffect() == effect)
            widget->setGraphicsEffect(nullptr);
        else
            effect->deleteLater();
    }
}

void KelGraphicsOpacityEffect::draw(QPainter* painter)
{
    if (KelUtils::isFuzzyNull(m_opacity))
        return;
    QPoint offset;
    const QPixmap pixmap = takeSourcePixmap(QGraphicsEffect::NoPad, &offset);
    if (!pixmap.isNull())
        drawUntransformed(painter, offset + slideOffset(), pixmap, m_opacity);
}

QPixmap KelGraphicsOpacityEffect::takeSourcePixmap(QGraphicsEffect::PixmapPadMode mode, QPoint* offset)
{
    if (m_forceRepaintInstalled) {
        if (!isCachedPixmapValid())
            m_cachedPixmap = sourcePixmap(Qt::DeviceCoordinates, &m_cachedOffset, mode);
        if (!m_cachedPixmap.isNull()) {
            *offset = m_cachedOffset;
            return m_cachedPixmap;
        }
    }
    return sourcePixmap(Qt::DeviceCoordinates, offset, mode);
}

bool KelGraphicsOpacityEffect::isCachedPixmapValid()
{
    if (!m_target || m_cachedPixmap.isNull())
        return false;
    const QPoint topLeft = m_target->isWindow() ? QPoint() : m_target->mapTo(m_target->window(), QPoint());
    // Qt pads the source to the whole pixels around the bounding rectangle.
    const QRect expected = boundingRectFor(QRectF(topLeft, m_target->size())).toAlignedRect();
    const double ratio = m_cachedPixmap.devicePixelRatioF();
    const QSize cachedSize(qRound(m_cachedPixmap.width() / ratio), qRound(m_cachedPixmap.height() / ratio));
    return expected == QRect(m_cachedOffset, cachedSize);
}

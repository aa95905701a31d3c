#include "dragicon.h"

#include "animators/kelpropertyanimator.h"
#include "eventfilters/kelglobalmousewatcher.h"

#include <QCursor>
#include <QEasingCurve>
#include <QPainter>
#include <QTimer>

#include <cmath>

namespace {

bool relativelyEqual(double a, double b) { return std::abs(a - b) <= 1e-12 * std::max(std::abs(a), std::abs(b)); }

} // namespace

DragIcon::DragIcon(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setObjectName(QStringLiteral("DragIcon"));
    m_cursorPoll = new QTimer(this);
    m_cursorPoll->setInterval(16);
    connect(m_cursorPoll, &QTimer::timeout, this, &DragIcon::updateIconGeometry);
    m_animator = new KelPropertyAnimator(this);
    m_animator->setupAnimation(
        this, "dropAllowedProgress", { QEasingCurve::InCubic, 150, QEasingCurve::OutCubic, 150, 0.0, 1.0 });
    const KelAnimationParams scaleParams { QEasingCurve::InCubic, 200, QEasingCurve::OutCubic, 200, 1.0, 0.7 };
    m_animator->setupAnimation(this, "scale", scaleParams);
    m_scaleStart = scaleParams.startValue.toDouble();
    m_scaleEnd = scaleParams.endValue.toDouble();
}

DragIcon::~DragIcon() { delete m_mouseWatcher.data(); }

void DragIcon::showIcon(const QPixmap& pixmap, const QPoint& hotSpot, QMimeData* mimeData)
{
    m_pixmap = pixmap;
    m_hotSpot = hotSpot;
    updateIconGeometry();
    if (m_pixmap.isNull())
        return;
    if (!isVisible()) {
        m_animator->setValue("scale", KelPropertyAnimator::Start, false);
        show();
        raise();
        m_animator->animateValue("scale", KelPropertyAnimator::End);
        m_cursorPoll->start();
        emit showed(mimeData);
    }
    if (!m_mouseWatcher) {
        m_mouseWatcher = new KelGlobalMouseWatcher();
        connect(m_mouseWatcher.data(), &KelGlobalMouseWatcher::mouseMoved, this, &DragIcon::updateIconGeometry);
    }
}

void DragIcon::hideIcon()
{
    m_cursorPoll->stop();
    if (isVisible()) {
        hide();
        emit hided();
    }
    delete m_mouseWatcher.data();
}

void DragIcon::setOverDropTarget(bool over)
{
    if (over == m_overDropTarget)
        return;
    m_overDropTarget = over;
    // Over a target the darkening goes away.
    m_animator->setValue(
        "dropAllowedProgress", over ? KelPropertyAnimator::Start : KelPropertyAnimator::End, isVisible());
}

double DragIcon::dropAllowedProgress() const { return m_dropAllowedProgress; }

void DragIcon::setDropAllowedProgress(double progress)
{
    if (relativelyEqual(progress, m_dropAllowedProgress))
        return;
    m_dropAllowedProgress = progress;
    update();
}

double DragIcon::scale() const { return m_scale; }

void DragIcon::setScale(double scale)
{
    if (relativelyEqual(scale, m_scale))
        return;
    m_scale = scale;
    updateIconGeometry();
}

void DragIcon::updateIconGeometry()
{
    if (m_pixmap.isNull()) {
        hideIcon();
        return;
    }
    const double ratio = m_pixmap.devicePixelRatio();
    const QSize logical(qRound(m_pixmap.width() / ratio), qRound(m_pixmap.height() / ratio));
    const QSize size(qRound(logical.width() * m_scale), qRound(logical.height() * m_scale));
    const int half = size.width() / 2;
    const double t = (m_scale - m_scaleEnd) / (m_scaleStart - m_scaleEnd);
    QPointF anchor;
    if (std::abs(t) <= 1e-12)
        anchor = QPointF(half, 16);
    else if (relativelyEqual(t, 1.0))
        anchor = m_hotSpot;
    else
        anchor = QPointF(half + (m_hotSpot.x() - half) * t, 16 + (m_hotSpot.y() - 16) * t);
    move(QCursor::pos() - anchor.toPoint());
    setFixedSize(size);
}

void DragIcon::paintEvent(QPaintEvent*)
{
    if (m_pixmap.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPixmap scaled = m_pixmap.scaled(
        size() * m_pixmap.devicePixelRatio(), Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    painter.drawPixmap(rect(), scaled);
    if (std::abs(m_dropAllowedProgress) > 1e-12) {
        painter.setOpacity(m_dropAllowedProgress);
        painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        painter.fillRect(rect(), QColor(0, 0, 0, 127));
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
}

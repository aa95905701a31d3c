#include "windows/kelwindowblockedoverlay.h"

#include "animators/kelprogressanimator.h"
#include "eventfilters/kelgeometrywatcher.h"
#include "styles/kelstyle.h"
#include "utils/kelfuzzy.h"

#include <QEasingCurve>
#include <QPainter>

namespace {
const int kDimColorRole = 5;
const int kFadeAnimation = 4;
} // namespace

KelWindowBlockedOverlay::KelWindowBlockedOverlay(QWidget* parent)
    : QWidget(parent)
    , KelStyleable(-1)
{
    KelAnimationParams params;
    params.forwardEasing = QEasingCurve::OutCubic;
    params.forwardDuration = 150;
    params.backwardEasing = QEasingCurve::InCubic;
    params.backwardDuration = 350;
    params.startValue = 0.0;
    params.endValue = 1.0;
    m_animator = new KelProgressAnimator(this, params);
    m_animator->jumpToStart();
    connect(m_animator, &KelProgressAnimator::progressChanged, this, [this](double progress) {
        if (KelUtils::isFuzzyNull(progress)) {
            QWidget::setVisible(false);
        } else {
            QWidget::setVisible(true);
            update();
        }
    });
    if (parent) {
        auto* watcher = new KelGeometryWatcher(parent, KelGeometryWatcher::WidgetGeometry);
        connect(
            watcher, &KelGeometryWatcher::geometryChanged, this, [this](const QRect& rect) { resize(rect.size()); });
        resize(parent->size());
    }
    QWidget::setVisible(false);
    applyStyle();
    setObjectName(QStringLiteral("KelWindowBlockedOverlay"));
}

KelWindowBlockedOverlay::~KelWindowBlockedOverlay() = default;

void KelWindowBlockedOverlay::setVisible(bool visible)
{
    if (visible) {
        raise();
        m_animator->animateToEnd();
    } else {
        m_animator->animateToStart();
    }
}

void KelWindowBlockedOverlay::applyStyle()
{
    m_animator->setAnimationParams(kelStyle()->animationSpec(kFadeAnimation));
    m_color = kelStyle()->color(kDimColorRole);
    update();
}

void KelWindowBlockedOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setOpacity(m_animator->progress());
    painter.fillRect(rect(), m_color);
}

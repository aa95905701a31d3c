#include "animators/kelvisibilityanimatable.h"

#include "painting/kelgraphicsopacityeffect.h"
#include "utils/kelfuzzy.h"

#include <QDebug>
#include <QEasingCurve>
#include <QEvent>
#include <QWidget>

namespace {

bool isVisibleToParent(const QWidget* widget) { return widget->isVisibleTo(widget->parentWidget()); }

KelGraphicsOpacityEffect* opacityEffectOf(const QWidget* widget)
{
    return widget ? qobject_cast<KelGraphicsOpacityEffect*>(widget->graphicsEffect()) : nullptr;
}

// A new effect starts at the opacity the widget shows now.
KelGraphicsOpacityEffect* makeOpacityEffect(QWidget* widget)
{
    auto* effect = new KelGraphicsOpacityEffect(widget);
    effect->setOpacity(isVisibleToParent(widget) ? 1.0 : 0.0);
    return effect;
}

KelAnimationParams defaultParams()
{
    return KelAnimationParams { QEasingCurve::OutCubic, 250, QEasingCurve::InCubic, 250, 0.0, 1.0 };
}

} // namespace

KelVisibilityAnimatable::VisibilityAnimator::VisibilityAnimator(QWidget* target)
    : KelProgressAnimator(target, defaultParams())
    , m_target(target)
{
    if (target)
        target->installEventFilter(this);
    // Only a widget that shows now starts at the shown end: a hidden one at full opacity (a window, or a widget
    // whose effect was left at 1) would otherwise sit at the end, and neither an animated nor a plain show
    // would move it again.
    if (KelUtils::isFuzzyEqual(readOpacityFromTarget(), 1.0) && target && isVisibleToParent(target))
        jumpToEnd();
    connect(this, &KelProgressAnimator::progressChanged, this, &VisibilityAnimator::onProgressChanged);
}

KelVisibilityAnimatable::VisibilityAnimator::~VisibilityAnimator() = default;

double KelVisibilityAnimatable::VisibilityAnimator::readOpacityFromTarget()
{
    QWidget* target = m_target;
    if (!target) {
        qCritical() << "Change opacity for" << target << "is not implemented";
        return 1.0;
    }
    double opacity;
    if (target->isWindow()) {
        opacity = target->windowOpacity();
    } else if (KelGraphicsOpacityEffect* effect = opacityEffectOf(target)) {
        opacity = effect->opacity();
    } else if (target->graphicsEffect()) {
        qCritical() << "Change opacity for" << target << "is not implemented";
        return 1.0;
    } else {
        opacity = makeOpacityEffect(target)->opacity();
    }
    if (opacity < 0.0 || opacity > 1.0) {
        qCritical() << "Opacity is out of range" << opacity << "for" << target;
        return 1.0;
    }
    return opacity;
}

void KelVisibilityAnimatable::VisibilityAnimator::writeOpacityToTarget(double opacity)
{
    QWidget* target = m_target;
    if (!target)
        return;
    if (target->isWindow()) {
        target->setWindowOpacity(opacity);
        return;
    }
    KelGraphicsOpacityEffect* effect = opacityEffectOf(target);
    if (!effect && !target->graphicsEffect())
        effect = new KelGraphicsOpacityEffect(target);
    if (effect)
        effect->setOpacity(opacity);
    else
        qCritical() << "Cant apply opacity for:" << target;
}

void KelVisibilityAnimatable::VisibilityAnimator::onProgressChanged(double progress)
{
    QWidget* target = m_target;
    if (!target)
        return;
    const double p = qBound(0.0, progress, 1.0);
    writeOpacityToTarget(p);
    if (KelUtils::isFuzzyNull(p))
        target->setVisible(isActive() && direction() == KelPropertyAnimator::End);
    else if (!isVisibleToParent(target))
        target->setVisible(true);
}

void KelVisibilityAnimatable::VisibilityAnimator::setSlideParams(Qt::Edge edge, int distance)
{
    QWidget* target = m_target;
    if (!target)
        return;
    if (target->isWindow()) {
        qCritical() << "Can't set slide params for window" << target;
        return;
    }
    KelGraphicsOpacityEffect* effect = opacityEffectOf(target);
    if (!effect && !target->graphicsEffect())
        effect = makeOpacityEffect(target);
    if (effect)
        effect->setSlideParams(edge, distance);
}

bool KelVisibilityAnimatable::VisibilityAnimator::eventFilter(QObject* watched, QEvent* event)
{
    // Hidden by other means: the next animated show starts from nothing.
    if (watched == m_target && event->type() == QEvent::HideToParent)
        jumpToStart();
    return KelProgressAnimator::eventFilter(watched, event);
}

KelVisibilityAnimatable::KelVisibilityAnimatable(QWidget* baseWidget)
    : m_baseWidget(baseWidget)
{
}

KelVisibilityAnimatable::~KelVisibilityAnimatable() { delete m_animator.data(); }

void KelVisibilityAnimatable::setVisibleAnimated(bool visible, bool animated)
{
    QWidget* widget = m_baseWidget;
    if (!widget) {
        qWarning() << "Can't change visibility, no base widget was setted";
        return;
    }
    if (animated)
        ensureAnimator();
    if (!m_animator) {
        widget->setVisible(visible);
        return;
    }
    const KelPropertyAnimator::Pos pos = visible ? KelPropertyAnimator::End : KelPropertyAnimator::Start;
    if (!animated) {
        m_animator->setPos(pos, false);
        return;
    }
    m_animator->animateTo(pos);
    // A hidden widget shows at once, at almost no opacity, and fades in from there.
    if (visible && !isVisibleToParent(widget))
        m_animator->setProgress(0.001);
}

void KelVisibilityAnimatable::showAnimated() { setVisibleAnimated(true, true); }

void KelVisibilityAnimatable::hideAnimated() { setVisibleAnimated(false, true); }

void KelVisibilityAnimatable::setAnimationParams(const KelAnimationParams& params)
{
    ensureAnimator();
    if (m_animator)
        m_animator->setAnimationParams(params);
}

void KelVisibilityAnimatable::setSlideParams(Qt::Edge edge, int distance)
{
    ensureAnimator();
    if (m_animator)
        m_animator->setSlideParams(edge, distance);
}

double KelVisibilityAnimatable::opacity() const { return m_animator ? qBound(0.0, m_animator->progress(), 1.0) : 1.0; }

void KelVisibilityAnimatable::onShowAnimationFinished() { }

void KelVisibilityAnimatable::ensureAnimator()
{
    if (m_animator || !m_baseWidget)
        return;
    auto* animator = new VisibilityAnimator(m_baseWidget);
    m_animator = animator;
    QWidget* widget = m_baseWidget;
    QObject::connect(animator, &KelProgressAnimator::started, animator, [widget = QPointer<QWidget>(widget)]() {
        if (KelGraphicsOpacityEffect* effect = opacityEffectOf(widget))
            effect->installForceRepaintEffects();
    });
    QObject::connect(animator, &KelProgressAnimator::finished, animator,
        [this, widget = QPointer<QWidget>(widget)](KelPropertyAnimator::Pos pos) {
            if (KelGraphicsOpacityEffect* effect = opacityEffectOf(widget))
                effect->removeForceRepaintEffects();
            if (pos == KelPropertyAnimator::End)
                onShowAnimationFinished();
        });
}

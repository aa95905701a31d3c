#include "animators/kelwidgetstateanimator.h"

#include "animators/kelpropertyanimator.h"
#include "styles/kelstyle.h"
#include "utils/kelfuzzy.h"

#include <QEvent>
#include <QWidget>

namespace {

const char* const hoveredProgressName = "hoveredProgress";
const char* const pressedProgressName = "pressedProgress";
const char* const checkedProgressName = "checkedProgress";

} // namespace

KelWidgetStateAnimator::KelWidgetStateAnimator(int mode, QObject* parent)
    : KelDisabledStateAnimator(mode, parent)
{
    KelDisabledStateAnimator::applyStyle();
    setupStateAnimations();
}

KelWidgetStateAnimator::~KelWidgetStateAnimator() = default;

void KelWidgetStateAnimator::setHovered(bool hovered, bool animated)
{
    moveState(m_hovered, hovered, hoveredProgressName, animated);
}

void KelWidgetStateAnimator::setPressed(bool pressed, bool animated)
{
    moveState(m_pressed, pressed, pressedProgressName, animated);
}

void KelWidgetStateAnimator::setChecked(bool checked, bool animated)
{
    moveState(m_checked, checked, checkedProgressName, animated);
}

void KelWidgetStateAnimator::setHoveredAnimationParams(const KelAnimationParams& params)
{
    m_hoveredParamsCustomised = true;
    if (params != propertyAnimator()->animationParams(hoveredProgressName))
        propertyAnimator()->setupAnimation(this, hoveredProgressName, params);
}

void KelWidgetStateAnimator::setCheckedAnimationParams(const KelAnimationParams& params)
{
    m_checkedParamsCustomised = true;
    if (params != propertyAnimator()->animationParams(checkedProgressName))
        propertyAnimator()->setupAnimation(this, checkedProgressName, params);
}

bool KelWidgetStateAnimator::hasHoveredProgress() const { return !KelUtils::isFuzzyNull(m_hoveredProgress); }

bool KelWidgetStateAnimator::hasPressedProgress() const { return !KelUtils::isFuzzyNull(m_pressedProgress); }

void KelWidgetStateAnimator::setHoveredProgress(double progress)
{
    if (!storeProgress(m_hoveredProgress, progress))
        return;
    emit hoveredProgressChanged(progress);
    repaintWidget();
}

void KelWidgetStateAnimator::setPressedProgress(double progress)
{
    if (!storeProgress(m_pressedProgress, progress))
        return;
    emit pressedProgressChanged(progress);
    repaintWidget();
}

void KelWidgetStateAnimator::setCheckedProgress(double progress)
{
    if (!storeProgress(m_checkedProgress, progress))
        return;
    emit checkedProgressChanged(progress);
    repaintWidget();
}

void KelWidgetStateAnimator::applyStyle()
{
    KelDisabledStateAnimator::applyStyle();
    setupStateAnimations();
}

bool KelWidgetStateAnimator::eventFilter(QObject* watched, QEvent* event)
{
    QWidget* watchedWidget = widget();
    if (mode() == 2 && watched == watchedWidget) {
        switch (event->type()) {
        case QEvent::FocusIn:
            setChecked(true, true);
            break;
        case QEvent::FocusOut:
            setChecked(false, true);
            break;
        case QEvent::Enter:
            setHovered(watchedWidget->isEnabled(), true);
            break;
        case QEvent::Leave:
            setHovered(false, true);
            break;
        default:
            break;
        }
    }
    return KelDisabledStateAnimator::eventFilter(watched, event);
}

void KelWidgetStateAnimator::setupStateAnimations()
{
    const KelStyle* style = kelStyle();
    KelPropertyAnimator* animator = propertyAnimator();
    if (!m_hoveredParamsCustomised)
        animator->setupAnimation(this, hoveredProgressName, style->animationSpec(1));
    animator->setupAnimation(this, pressedProgressName, style->animationSpec(2));
    if (!m_checkedParamsCustomised)
        animator->setupAnimation(this, checkedProgressName, style->animationSpec(3));
}

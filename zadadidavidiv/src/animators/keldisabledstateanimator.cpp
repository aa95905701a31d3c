#include "animators/keldisabledstateanimator.h"

#include "animators/kelpropertyanimator.h"
#include "styles/kelstyle.h"
#include "utils/kelfuzzy.h"

#include <QEvent>
#include <QWidget>

namespace {

const char* const disabledProgressName = "disabledProgress";

} // namespace

KelDisabledStateAnimator::KelDisabledStateAnimator(int mode, QObject* parent)
    : QObject(parent)
    , KelStyleable(-1)
    , m_mode(mode)
    , m_animator(new KelPropertyAnimator(this))
{
    const KelStyle* style = kelStyle();
    m_dimming = style->opacity(0);
    m_animator->setupAnimation(this, disabledProgressName, style->animationSpec(0));
}

KelDisabledStateAnimator::~KelDisabledStateAnimator() = default;

void KelDisabledStateAnimator::setWidget(QWidget* widget)
{
    if (m_widget)
        m_widget->removeEventFilter(this);
    m_widget = widget;
    if (!widget)
        return;
    if (m_mode != 0)
        widget->installEventFilter(this);
    setDisabled(!widget->isEnabled(), widget->isVisible());
}

void KelDisabledStateAnimator::setDisabled(bool disabled, bool animated)
{
    moveState(m_disabled, disabled, disabledProgressName, animated);
}

void KelDisabledStateAnimator::setDisabledDimming(double dimming)
{
    m_dimming = dimming;
    m_dimmingCustomised = true;
}

double KelDisabledStateAnimator::opacity() const { return 1.0 - m_disabledProgress * m_dimming; }

void KelDisabledStateAnimator::setDisabledProgress(double progress)
{
    if (!storeProgress(m_disabledProgress, progress))
        return;
    emit disabledProgressChanged(progress);
    repaintWidget();
}

bool KelDisabledStateAnimator::hasDisabledProgress() const { return !KelUtils::isFuzzyNull(m_disabledProgress); }

void KelDisabledStateAnimator::applyStyle()
{
    const KelStyle* style = kelStyle();
    if (!m_dimmingCustomised)
        m_dimming = style->opacity(0);
    m_animator->setupAnimation(this, disabledProgressName, style->animationSpec(0));
}

bool KelDisabledStateAnimator::eventFilter(QObject* watched, QEvent* event)
{
    if (m_mode != 0 && watched == m_widget && event->type() == QEvent::EnabledChange)
        setDisabled(!m_widget->isEnabled(), m_widget->isVisible());
    return QObject::eventFilter(watched, event);
}

bool KelDisabledStateAnimator::storeProgress(double& field, double value)
{
    if (KelUtils::isFuzzyEqual(field, value))
        return false;
    field = value;
    return true;
}

void KelDisabledStateAnimator::repaintWidget()
{
    if (m_widget)
        m_widget->update();
}

void KelDisabledStateAnimator::moveState(bool& field, bool state, const char* property, bool animated)
{
    if (field == state)
        return;
    field = state;
    m_animator->setValue(property, state ? KelPropertyAnimator::End : KelPropertyAnimator::Start, animated);
}

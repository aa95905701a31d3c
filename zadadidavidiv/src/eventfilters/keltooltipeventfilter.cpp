#include "eventfilters/keltooltipeventfilter.h"

#include <QHelpEvent>
#include <QToolTip>
#include <QWidget>

KelTooltipEventFilter::KelTooltipEventFilter(QObject* parent, TextProvider provider)
    : QObject(parent)
    , m_provider(std::move(provider))
{
}

KelTooltipEventFilter::~KelTooltipEventFilter() = default;

bool KelTooltipEventFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QObject::eventFilter(watched, event);
    auto* help = static_cast<QHelpEvent*>(event);
    const QString text = m_provider ? m_provider(help->pos()) : QString();
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), text, qobject_cast<QWidget*>(parent()));
    return true;
}

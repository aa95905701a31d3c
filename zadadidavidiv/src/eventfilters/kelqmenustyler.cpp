#include "eventfilters/kelqmenustyler.h"

#include <QChildEvent>
#include <QDebug>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace {

KelQMenuStyler::StyleSheetApplier& styleSheetApplier()
{
    static KelQMenuStyler::StyleSheetApplier applier;
    return applier;
}

} // namespace

KelQMenuStyler::KelQMenuStyler(QWidget* widget, int widgetType)
    : QObject(widget)
    , m_widgetType(widgetType)
{
    if (widget)
        widget->installEventFilter(this);
}

KelQMenuStyler::~KelQMenuStyler() = default;

void KelQMenuStyler::setStyleSheetApplier(StyleSheetApplier applier) { styleSheetApplier() = std::move(applier); }

bool KelQMenuStyler::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ChildAdded)
        return QObject::eventFilter(watched, event);
    QObject* child = static_cast<QChildEvent*>(event)->child();
    if (!child || !child->isWidgetType())
        return false;
    // The child is still being built: the flag must be in place before its window is created.
    auto* widget = static_cast<QWidget*>(child);
    if (!(widget->windowFlags() & Qt::NoDropShadowWindowHint))
        widget->setWindowFlags(widget->windowFlags() | Qt::NoDropShadowWindowHint);
    // Changing the flags re-parents the child, which announces it once more.
    if (m_pending.contains(child))
        return false;
    m_pending.insert(child);
    const QPointer<QWidget> guarded(widget);
    const int widgetType = m_widgetType;
    QTimer::singleShot(0, this, [this, child, guarded, widgetType]() {
        m_pending.remove(child);
        auto* menu = qobject_cast<QMenu*>(guarded.data());
        if (!menu)
            return;
        if (styleSheetApplier())
            styleSheetApplier()(menu, widgetType);
        else
            qWarning() << "No style sheet applier is set; the menu keeps Qt's look" << menu;
    });
    return false;
}

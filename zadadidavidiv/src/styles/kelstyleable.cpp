#include "styles/kelstyleable.h"

#include "styles/kelstylemanager.h"

#include <QCoreApplication>

KelStyleable::KelStyleable(int widgetType)
    : m_widgetType(widgetType)
    , m_manager(KelStyleManager::instance())
{
    if (m_manager)
        m_manager->registerStyleable(this);
}

KelStyleable::~KelStyleable()
{
    // At shutdown the manager may already be gone, and unregistering thousands of widgets one by
    // one would only cost time.
    if (m_manager && !QCoreApplication::closingDown())
        m_manager->unregisterStyleable(this);
}

void KelStyleable::setWidgetType(int widgetType)
{
    if (m_widgetType == widgetType)
        return;
    m_widgetType = widgetType;
    applyStyle();
}

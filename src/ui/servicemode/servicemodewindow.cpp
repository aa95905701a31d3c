#include "servicemode/servicemodewindow.h"

#include "kelapplication.h"
#include "kelsettings.h"
#include "servicemode/servicepages.h"
#include "servicepages/kelservicepage_general.h"
#include "servicepages/kelservicepage_painting.h"
#include "servicepages/kelservicepage_translations.h"
#include "widgets/kelframe.h"
#include "widgets/keltabwidget.h"

#include <QBoxLayout>
#include <QSettings>

namespace {

QSettings* settings()
{
    KelApplication* app = KelApplication::instance();
    return app ? app->settings() : nullptr;
}

} // namespace

ServiceModeWindow::ServiceModeWindow(QWidget* parent)
    : KelWindow(WindowParams(0x1F), parent, ShadowType::Default, false, QStringLiteral("ServiceModeWindow"))
{
    setObjectName(QStringLiteral("ServiceModeWindow"));
    setTitleText(QStringLiteral("Service Mode"));
    auto* column = qobject_cast<QBoxLayout*>(centralWidget()->layout());
    if (!column)
        column = new QVBoxLayout(centralWidget());
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_tabs = new KelTabWidget(Qt::TopEdge, 1038);
    m_tabs->tabsContainer()->setWidgetType(1042);
    m_tabs->tabsContainer()->setBorderWidths(QMargins(0, 0, 0, 1));
    m_tabs->tabsContainer()->setContentsMargins(24, 0, 28, 0);
    m_tabs->tabsLayout()->setSpacing(6);
    const QList<QPair<QString, QWidget*>> pages {
        { QStringLiteral("General"), new KelServicePage_General },
        { QStringLiteral("Dialogs"), new ServicePage_Dialogs },
        { QStringLiteral("Painting"), new KelServicePage_Painting },
        { QStringLiteral("Translations"), new KelServicePage_Translations },
        { QStringLiteral("Styles"), createStylesPage() },
        { QStringLiteral("Models"), createModelsPage() },
    };
    for (const auto& page : pages) {
        const int index = m_tabs->count();
        m_tabs->insertTab(index, page.second);
        m_tabs->setTabText(index, page.first);
    }
    column->addWidget(m_tabs);
    restoreWindowGeometry();
}

// Stores the geometry and, through the override, the tab shown last.
ServiceModeWindow::~ServiceModeWindow() { saveWindowGeometry(); }

QString ServiceModeWindow::lastTabKey() const { return objectName() + QStringLiteral("_LastTab"); }

void ServiceModeWindow::saveLastTab()
{
    if (QSettings* store = settings())
        store->setValue(lastTabKey(), m_tabs->currentIndex());
}

void ServiceModeWindow::restoreWindowGeometry()
{
    KelWindow::restoreWindowGeometry();
    QSettings* store = settings();
    const int index = store ? store->value(lastTabKey(), 0).toInt() : 0;
    // An index without a tab leaves the current one.
    if (index >= 0 && index < m_tabs->count())
        m_tabs->setCurrentIndex(index);
}

void ServiceModeWindow::saveWindowGeometry()
{
    KelWindow::saveWindowGeometry();
    saveLastTab();
}

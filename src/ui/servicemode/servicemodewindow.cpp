#include "servicemode/servicemodewindow.h"

#include "kelapplication.h"
#include "kelsettings.h"
#include "servicemode/servicepages.h"
#include "servicepages/kelservicepage_general.h"
#include "servicepages/kelservicepage_painting.h"
#include "servicepages/kelservicepage_translations.h"
#include "utils/kelgeometryutils.h"
#include "widgets/kelframe.h"
#include "widgets/kelstackedwidget.h"
#include "widgets/keltabwidget.h"

#include <QBoxLayout>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>

namespace {

QSettings* settings()
{
    KelApplication* app = KelApplication::instance();
    return app ? app->settings() : nullptr;
}

// The room a page needs to show its content without scrolling across: a scrolled page its whole
// content and a vertical bar beside it.
QSize pageContentSize(QWidget* page)
{
    auto* area = qobject_cast<QScrollArea*>(page);
    if (!area || !area->widget())
        return page->sizeHint();
    const int frame = 2 * area->frameWidth();
    return area->widget()->sizeHint() + QSize(frame + area->verticalScrollBar()->sizeHint().width(), frame);
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

// The toolkit opens a window at the least size its layouts allow, which here cuts every page: the
// first opening makes room for the largest page's content, as far as most of the screen holds it.
void ServiceModeWindow::applyDefaultGeometry()
{
    if (isMaximized())
        return;
    KelStackedWidget* pages = m_tabs->stackedWidget();
    QSize wanted;
    for (int i = 0; i < pages->count(); ++i)
        wanted = wanted.expandedTo(pageContentSize(pages->widget(i)));
    // The window's layouts give the size around pages of that size; the pages may shrink again later.
    const QSize least = pages->minimumSize();
    pages->setMinimumSize(wanted);
    QSize target = fittedSize();
    pages->setMinimumSize(least);
    // Laid out again, so that the window's own least size is the one of the pages as they are.
    fittedSize();
    QScreen* screen = KelUtils::screenOf(this);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        target = target.boundedTo(screen->availableGeometry().size() * 0.9);
    resize(target);
    // Placed in the middle of the screen at that size.
    KelWindow::applyDefaultGeometry();
}

void ServiceModeWindow::saveWindowGeometry()
{
    KelWindow::saveWindowGeometry();
    saveLastTab();
}

#include "appsettingspage.h"

#include "abstractsettingspage.h"
#include "hotkeyssettingspage.h"
#include "metrics/metricsender.h"
#include "readingsettingspage.h"
#include "systemsettingspage.h"
#include "ttssettingspage.h"
#include "widgets/kelbutton.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/kelframe.h"
#include "widgets/kellinearshadowwidget.h"
#include "widgets/kelstackedwidget.h"
#include "widgets/tabindicator.h"

#include <QBoxLayout>
#include <QMap>

class AppSettingsPage::Private {
public:
    KelExclusiveButtonGroup* group = nullptr;
    QMap<int, AbstractSettingsPage*> pages;
    bool firstShow = true;
};

AppSettingsPage::AppSettingsPage(QWidget* parent)
    : KelTabWidget(Qt::TopEdge, 1037, parent)
    , d(new Private)
{
    d->group = new KelExclusiveButtonGroup(1037, this);
    for (int index = 0; index < 4; ++index) {
        KelButton* button = d->group->createButton(index, QString());
        button->setParent(tabsContainer());
        tabsLayout()->addWidget(button, 0);
    }
    tabsLayout()->addStretch();

    insertPage(0, new SystemSettingsPage(this));
    insertPage(1, new ReadingSettingsPage(this));
    insertPage(2, new TtsSettingsPage(this));
    insertPage(3, new HotkeysSettingsPage(true, this));

    connect(d->group, &KelExclusiveButtonGroup::toggled, this, [this](KelButton*, const QVariant& userData) {
        if (userData.isValid())
            stackedWidget()->setCurrentIndex(userData.toInt());
    });
    connect(this, &KelWidget::showed, this, &AppSettingsPage::onShowed);
    d->group->setCheckedByUserData(0);
    // The first tab is current from the start, not one event-loop pass later.
    stackedWidget()->setCurrentIndex(0);

    auto* indicator = new TabIndicator(tabsContainer(), d->group);
    indicator->setContentsMargins(0, 0, 0, 1);
    indicator->setThickness(4);

    tabsContainer()->setWidgetType(1042);
    tabsContainer()->setBorderWidths(QMargins(0, 0, 0, 1));
    tabsLayout()->setContentsMargins(24, 0, 28, 0);
    tabsLayout()->setSpacing(6);
    tabsLayout()->addStretch();

    new KelLinearShadowWidget(41, Qt::BottomEdge, 2, stackedWidget());

    tabsContainer()->setObjectName(QStringLiteral("Header"));
    stackedWidget()->setObjectName(QStringLiteral("Pages"));
}

AppSettingsPage::~AppSettingsPage()
{
    delete d;
    d = nullptr;
}

void AppSettingsPage::insertPage(int index, AbstractSettingsPage* page)
{
    if (!page)
        return;
    stackedWidget()->insertWidget(index, page);
    d->pages.insert(index, page);
}

AbstractSettingsPage* AppSettingsPage::page(int index) const { return d->pages.value(index); }

KelExclusiveButtonGroup* AppSettingsPage::tabButtons() const { return d->group; }

void AppSettingsPage::retranslateUi()
{
    for (auto it = d->pages.cbegin(); it != d->pages.cend(); ++it) {
        if (KelButton* button = d->group->button(it.key()))
            button->setText(it.value()->title());
        it.value()->retranslateUi();
    }
}

void AppSettingsPage::onShowed()
{
    MetricSender::addMetric(QStringLiteral("set"), d->firstShow ? QStringLiteral("1") : QStringLiteral("0"), QString());
    d->firstShow = false;
}

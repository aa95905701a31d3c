#include "widgets/keltabwidget.h"

#include "utils/kellayoututils.h"
#include "widgets/kelbutton.h"
#include "widgets/kelframe.h"
#include "widgets/kelstackedwidget.h"

#include <QBoxLayout>
#include <QDebug>
#include <QMap>
#include <QPointer>

class KelTabWidget::Private {
public:
    Qt::Edge tabsPosition = Qt::TopEdge;
    int buttonWidgetType = -1;
    int currentIndex = -1;
    QPointer<KelFrame> tabsContainer;
    QPointer<QBoxLayout> tabsLayout;
    QMap<KelButton*, int> buttonIndexes;
    // Registered indexes may leave gaps, so a page's place in the stack is looked up, never assumed.
    QMap<KelButton*, QPointer<QWidget>> buttonPages;
    QPointer<KelStackedWidget> pages;
};

KelTabWidget::KelTabWidget(Qt::Edge tabsPosition, int buttonWidgetType, QWidget* parent)
    : KelWidget(parent)
    , d(new Private)
{
    d->tabsPosition = tabsPosition;
    d->buttonWidgetType = buttonWidgetType;
    d->tabsContainer = new KelFrame(this);
    d->pages = new KelStackedWidget(this);

    QBoxLayout* layout = nullptr;
    if (tabsPosition == Qt::LeftEdge || tabsPosition == Qt::RightEdge) {
        layout = KelUtils::hBoxLayout(this, QMargins(), 0);
        d->tabsLayout = KelUtils::vBoxLayout(d->tabsContainer, QMargins(), 0);
    } else {
        layout = KelUtils::vBoxLayout(this, QMargins(), 0);
        d->tabsLayout = KelUtils::hBoxLayout(d->tabsContainer, QMargins(), 0);
    }
    if (tabsPosition == Qt::TopEdge || tabsPosition == Qt::LeftEdge) {
        layout->addWidget(d->tabsContainer);
        layout->addWidget(d->pages);
    } else {
        layout->addWidget(d->pages);
        layout->addWidget(d->tabsContainer);
    }

    layout->setObjectName(QStringLiteral("KelTabWidgetLayout"));
    d->tabsContainer->setObjectName(QStringLiteral("KelTabsContainer"));
    d->tabsLayout->setObjectName(QStringLiteral("KelTabsLayout"));
    d->pages->setObjectName(QStringLiteral("KelTabsStack"));
    d->pages->layout()->setObjectName(QStringLiteral("KelTabsStackLayout"));
}

KelTabWidget::~KelTabWidget()
{
    // The tab buttons tell the private block when they go; let them go while it still exists.
    delete d->tabsContainer.data();
}

bool KelTabWidget::insertTab(int index, QWidget* page, int buttonWidgetType, const char* iconName)
{
    if (!page) {
        qWarning() << "No page to add as tab" << index << "of" << this;
        return false;
    }
    if (tabButton(index) || !d->pages || !d->tabsLayout)
        return false;
    auto* button = new KelButton(buttonWidgetType, iconName ? QString::fromLatin1(iconName) : QString());
    button->setUncheckByClickBlocked(true);
    button->setCheckable(true);

    d->buttonIndexes.insert(button, index);
    d->buttonPages.insert(button, page);
    d->tabsLayout->addWidget(button);
    d->pages->insertWidget(index, page);
    if (d->pages->count() == 1) {
        page->show();
        button->setCheckedSilently(true);
        // The index the button stands for, not the stack position: with a first tab at index 1 a
        // later tab at 0 moves its page up and a literal 0 would name the wrong page.
        d->currentIndex = index;
    }
    connect(button, &KelButton::toggled, this, [this, button](bool checked) { onTabButtonToggled(button, checked); });
    connect(button, &QObject::destroyed, this, [this, button]() {
        d->buttonIndexes.remove(button);
        d->buttonPages.remove(button);
    });
    return true;
}

bool KelTabWidget::insertTab(int index, QWidget* page, const char* iconName)
{
    return insertTab(index, page, d->buttonWidgetType, iconName);
}

void KelTabWidget::setCurrentIndex(int index) { switchTo(index); }

int KelTabWidget::currentIndex() const { return d->currentIndex; }

int KelTabWidget::count() const { return d->pages ? d->pages->count() : 0; }

void KelTabWidget::setTabText(int index, const QString& text)
{
    if (KelButton* button = tabButton(index))
        button->setText(text);
}

KelButton* KelTabWidget::tabButton(int index) const { return d->buttonIndexes.key(index, nullptr); }

KelStackedWidget* KelTabWidget::stackedWidget() const { return d->pages; }

KelFrame* KelTabWidget::tabsContainer() const { return d->tabsContainer; }

QBoxLayout* KelTabWidget::tabsLayout() const { return d->tabsLayout; }

void KelTabWidget::switchTo(int index)
{
    const int current = d->currentIndex;
    if (index == -1 || index == current)
        return;
    KelButton* target = tabButton(index);
    KelButton* previous = tabButton(current);
    if (!target || !previous)
        return;
    bool accept = true;
    emit tabToggleRequest(current, index, accept);
    if (!accept) {
        target->setCheckedSilently(false);
        return;
    }
    previous->setCheckedSilently(false);
    target->setCheckedSilently(true);
    if (QWidget* page = d->buttonPages.value(target); page && d->pages)
        d->pages->setCurrentWidget(page);
    d->currentIndex = index;
    emit currentChanged(index);
}

void KelTabWidget::onTabButtonToggled(KelButton* button, bool checked)
{
    if (!checked)
        return;
    const auto found = d->buttonIndexes.constFind(button);
    if (found != d->buttonIndexes.constEnd())
        switchTo(found.value());
    if (d->pages)
        d->pages->setFocus();
}

#include "windows/kelpopupmenu.h"

#include "animators/kelwheelanimator.h"
#include "eventfilters/kelchildwatcher.h"
#include "kelui.h"
#include "styles/kelstyle.h"
#include "widgets/kelbutton.h"
#include "widgets/kelscrollarea.h"
#include "windows/kelpopupmenubutton.h"

#include <QAbstractItemView>
#include <QBoxLayout>
#include <QCursor>
#include <QEvent>
#include <QListView>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace {
const int kDefaultMenuType = 3;
const int kEnsureVisibleMargin = 50;

QBoxLayout* makeBoxLayout(Qt::Orientation orientation, QWidget* parent)
{
    QBoxLayout* layout = orientation == Qt::Horizontal ? static_cast<QBoxLayout*>(new QHBoxLayout(parent))
                                                       : static_cast<QBoxLayout*>(new QVBoxLayout(parent));
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}
} // namespace

class KelPopupMenu::Private : public QObject {
public:
    explicit Private(KelPopupMenu* menu)
        : q(menu)
    {
    }

    void onChildAdded(QWidget* child)
    {
        // Items moved into the scroll content arrive a second time.
        onChildRemoved(child);
        if (auto* sub = qobject_cast<KelPopupMenuButton*>(child)) {
            subMenuButtons.append(sub);
        } else if (auto* button = qobject_cast<KelButton*>(child)) {
            connect(button, &KelButton::clicked, this, &Private::onItemClicked);
            connect(button, &KelButton::toggled, this, [this](bool checked) {
                if (checked)
                    onItemClicked();
            });
        } else if (auto* view = qobject_cast<QListView*>(child)) {
            connect(view, &QAbstractItemView::clicked, this, &Private::onItemClicked);
        }
    }

    // The child may be half destroyed, so it is never cast: a destroyed button's guard is
    // already cleared, and a live one compares by its object address.
    void onChildRemoved(QObject* child)
    {
        subMenuButtons.erase(std::remove_if(subMenuButtons.begin(), subMenuButtons.end(),
                                 [child](const QPointer<KelPopupMenuButton>& sub) {
                                     return sub.isNull() || static_cast<QObject*>(sub.data()) == child;
                                 }),
            subMenuButtons.end());
        disconnect(child, nullptr, this, nullptr);
    }

    void onItemClicked()
    {
        if (hideOnClick)
            KelPopup::closeAllPopups();
    }

    void onHoverTimeout()
    {
        if (!hoveredChild)
            return;
        KelUi* ui = KelUi::instance();
        QWidget* under = ui ? ui->widgetUnderMouse() : nullptr;
        if (under != hoveredChild) {
            // The mouse moved on; one resting on an open sub-menu keeps it.
            if (under) {
                for (KelPopupMenuButton* sub : qAsConst(subMenuButtons)) {
                    if (!sub)
                        continue;
                    if (sub->isPopupVisible() && sub->popupMenu() != under->window())
                        sub->closePopup();
                }
            }
        } else {
            for (KelPopupMenuButton* sub : qAsConst(subMenuButtons)) {
                if (!sub)
                    continue;
                if (sub != hoveredChild && sub->isPopupVisible())
                    sub->closePopup();
            }
            if (auto* sub = qobject_cast<KelPopupMenuButton*>(hoveredChild.data()))
                sub->showPopup();
        }
        hoveredChild = nullptr;
    }

    void closeSubMenus()
    {
        for (KelPopupMenuButton* sub : qAsConst(subMenuButtons)) {
            if (!sub)
                continue;
            if (sub->isPopupVisible())
                sub->closePopup();
        }
    }

    void scrollToPending()
    {
        if (scrollArea && pendingVisibleWidget) {
            scrollArea->ensureWidgetVisible(pendingVisibleWidget, kEnsureVisibleMargin, kEnsureVisibleMargin);
            pendingVisibleWidget = nullptr;
        }
    }

    KelPopupMenu* q;
    KelChildWatcher* childWatcher = nullptr;
    QList<QPointer<KelPopupMenuButton>> subMenuButtons;
    QPointer<QWidget> hoveredChild;
    QTimer hoverTimer;
    bool hideOnClick = true;
    QBoxLayout* layout = nullptr;
    KelScrollArea* scrollArea = nullptr;
    QWidget* scrollContent = nullptr;
    QPointer<QWidget> pendingVisibleWidget;
};

KelPopupMenu::KelPopupMenu(
    int widgetType, Qt::Orientation orientation, QWidget* parent, ShadowType shadowType, bool deferStyle)
    : KelPopup(widgetType, WindowParams(), parent, shadowType, true)
    , d(new Private(this))
{
    d->hoverTimer.setSingleShot(true);
    d->childWatcher
        = new KelChildWatcher(KelChildWatcher::WatchAdded | KelChildWatcher::WatchRemoved | KelChildWatcher::WatchEnter,
            centralWidget(), this);
    d->layout = makeBoxLayout(orientation, centralWidget());
    connect(d->childWatcher, &KelChildWatcher::childWidgetAdded, d, &Private::onChildAdded);
    connect(d->childWatcher, &KelChildWatcher::childWidgetRemoved, d, &Private::onChildRemoved);
    connect(d->childWatcher, &KelChildWatcher::childWidgetEntered, d, [this](QWidget* child) {
        d->hoveredChild = child;
        d->hoverTimer.start();
    });
    connect(&d->hoverTimer, &QTimer::timeout, d, &Private::onHoverTimeout);
    connect(this, &KelWidget::hided, d, &Private::closeSubMenus);
    if (!deferStyle) {
        d->hoverTimer.setInterval(kelStyle()->metric(11));
        KelWindow::applyStyle();
    }
}

KelPopupMenu::KelPopupMenu(Qt::Orientation orientation, QWidget* parent, ShadowType shadowType, bool deferStyle)
    : KelPopupMenu(kDefaultMenuType, orientation, parent, shadowType, deferStyle)
{
}

KelPopupMenu::~KelPopupMenu()
{
    // Children go after this block; their removal must not reach it.
    d->childWatcher->disconnect(d);
    delete d;
}

void KelPopupMenu::addWidget(QWidget* widget) { d->layout->addWidget(widget); }

KelButton* KelPopupMenu::addButton(const QString& iconId, const QString& text, int styleRole)
{
    auto* button = new KelButton(styleRole);
    addWidget(button);
    if (!iconId.isEmpty())
        button->setIcon(iconId);
    button->setText(text);
    return button;
}

KelButton* KelPopupMenu::addButton(int styleRole, const QString& iconId)
{
    auto* button = new KelButton(styleRole, iconId);
    addWidget(button);
    return button;
}

KelButton* KelPopupMenu::addAction(std::function<void()> onClicked, int styleRole)
{
    auto* button = new KelButton(styleRole);
    addWidget(button);
    connect(button, &KelButton::clicked, button, [onClicked] {
        if (onClicked)
            onClicked();
    });
    return button;
}

KelButton* KelPopupMenu::addAction(const QString& text, std::function<void()> onClicked, int styleRole)
{
    KelButton* button = addAction(std::move(onClicked), styleRole);
    button->setText(text);
    return button;
}

KelPopupMenuButton* KelPopupMenu::addPopupMenuButton(int styleRole, Qt::Edge popupEdge, Qt::Alignment popupAlignment)
{
    auto* button = new KelPopupMenuButton(styleRole, KelPopupMenuButton::OpenFromMenu, popupEdge, popupAlignment, this);
    addWidget(button);
    return button;
}

QBoxLayout* KelPopupMenu::contentLayout() const { return d->layout; }

bool KelPopupMenu::hideOnClick() const { return d->hideOnClick; }

void KelPopupMenu::setHideOnClick(bool hide) { d->hideOnClick = hide; }

int KelPopupMenu::hoverDelay() const { return d->hoverTimer.interval(); }

void KelPopupMenu::setHoverDelay(int ms) { d->hoverTimer.setInterval(ms); }

void KelPopupMenu::setOrientation(Qt::Orientation orientation)
{
    const QBoxLayout::Direction direction = d->layout->direction();
    const Qt::Orientation current = (direction == QBoxLayout::LeftToRight || direction == QBoxLayout::RightToLeft)
        ? Qt::Horizontal
        : Qt::Vertical;
    if (current == orientation)
        return;
    QWidget* holder = d->layout->parentWidget();
    const int spacing = d->layout->spacing();
    const QMargins margins = d->layout->contentsMargins();
    QList<QLayoutItem*> items;
    while (QLayoutItem* item = d->layout->takeAt(0))
        items.append(item);
    delete d->layout;
    d->layout = makeBoxLayout(orientation, holder);
    d->layout->setSpacing(spacing);
    d->layout->setContentsMargins(margins);
    for (QLayoutItem* item : qAsConst(items))
        d->layout->addItem(item);
}

void KelPopupMenu::enableScrolling(int directions, int scrollAreaWidgetType)
{
    if (d->scrollArea)
        return;
    d->scrollContent = new KelWidget(this);
    d->childWatcher->setWidget(d->scrollContent);
    d->scrollContent->setFocusPolicy(Qt::NoFocus);
    d->scrollContent->setAutoFillBackground(false);
    d->scrollContent->setLayout(d->layout);
    auto* outer = qobject_cast<QVBoxLayout*>(centralWidget()->layout());
    if (!outer) {
        delete centralWidget()->layout();
        outer = static_cast<QVBoxLayout*>(makeBoxLayout(Qt::Vertical, centralWidget()));
    }
    d->scrollArea = new KelScrollArea(scrollAreaWidgetType, this, false);
    outer->addWidget(d->scrollArea);
    d->scrollArea->setWidget(d->scrollContent);
    d->scrollArea->setAutoSizeEnabled(true);
    d->scrollContent->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    if (!(directions & 1))
        d->scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    if (!(directions & 2))
        d->scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A horizontal-only list scrolls sideways with the ordinary wheel.
    d->scrollArea->wheelAnimator()->setOrientationSwapped(directions == 1);
}

KelScrollArea* KelPopupMenu::scrollArea() const { return d->scrollArea; }

void KelPopupMenu::ensureWidgetVisible(QWidget* widget)
{
    if (!d->scrollArea || !widget)
        return;
    if (isVisible())
        d->scrollArea->ensureWidgetVisible(widget, kEnsureVisibleMargin, kEnsureVisibleMargin);
    else
        d->pendingVisibleWidget = widget;
}

void KelPopupMenu::showAtCursor()
{
    showNextToRect(QRect(QCursor::pos(), QSize(1, 1)), Qt::BottomEdge, Qt::AlignLeft, true, QPoint(0, 0), 0);
}

void KelPopupMenu::applyStyle() { KelWindow::applyStyle(); }

bool KelPopupMenu::event(QEvent* event)
{
    if (event->type() == QEvent::WinIdChange)
        d->scrollToPending();
    return KelWindow::event(event);
}

void KelPopupMenu::showEvent(QShowEvent* event)
{
    d->scrollToPending();
    KelPopup::showEvent(event);
}

#include "windows/keltitlebar.h"

#include "styles/kelstyle.h"
#include "utils/kelwidgettreeutils.h"
#include "widgets/kelbutton.h"
#include "widgets/keliconwidget.h"
#include "widgets/kellabel.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QPointer>

class KelTitleBar::Private {
public:
    KelTitleBar* q = nullptr;
    int buttons = 0;
    QPointer<QWidget> window;
    QHBoxLayout* layout = nullptr;
    QPointer<KelIconWidget> appIcon;
    QPointer<KelLabel> title;
    QPointer<QWidget> leftContainer;
    QPointer<QWidget> rightContainer;
    QHBoxLayout* leftLayout = nullptr;
    QHBoxLayout* rightLayout = nullptr;
    QPointer<QWidget> leftSpacer;
    QPointer<QWidget> rightSpacer;
    QPointer<KelButton> minimizeButton;
    QPointer<KelButton> restoreButton;
    QPointer<KelButton> maximizeButton;
    QPointer<KelButton> closeButton;

    QWidget* makeContainer(const char* name, QHBoxLayout** containerLayout);
    KelButton* makeButton(int type, int iconId, const char* name);
    void updateButtons();
    void centerTitle();
    void minimize();
    int hintWidth(QWidget* widget) const;
};

// The width the bar's layout wants for the widget: its size hint within its minimum and maximum.
int KelTitleBar::Private::hintWidth(QWidget* widget) const
{
    const int index = layout->indexOf(widget);
    QLayoutItem* item = index >= 0 ? layout->itemAt(index) : nullptr;
    return item ? item->sizeHint().width() : widget->sizeHint().width();
}

QWidget* KelTitleBar::Private::makeContainer(const char* name, QHBoxLayout** containerLayout)
{
    auto* container = new QWidget(q);
    container->setObjectName(QLatin1String(name));
    container->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    auto* l = new QHBoxLayout(container);
    l->setContentsMargins(0, 0, 0, 0);
    *containerLayout = l;
    container->installEventFilter(q);
    return container;
}

KelButton* KelTitleBar::Private::makeButton(int type, int iconId, const char* name)
{
    auto* button = new KelButton(type, kelStyle()->iconPath(iconId), q);
    button->setObjectName(QLatin1String(name));
    return button;
}

void KelTitleBar::Private::updateButtons()
{
    const bool full = window && (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen));
    minimizeButton->setVisible(buttons & MinimizeButton);
    maximizeButton->setVisible((buttons & MaximizeButton) && !full);
    restoreButton->setVisible((buttons & MaximizeButton) && full);
    closeButton->setVisible(buttons & CloseButton);
    centerTitle();
}

void KelTitleBar::Private::centerTitle()
{
    if (!(title->alignment() & Qt::AlignHCenter)) {
        leftSpacer->setFixedWidth(0);
        rightSpacer->setFixedWidth(0);
        return;
    }
    const int left = qMax(0, appIcon->x() + hintWidth(appIcon) + hintWidth(leftContainer));
    int right = qMax(0, hintWidth(rightContainer));
    for (KelButton* button :
        { minimizeButton.data(), maximizeButton.data(), restoreButton.data(), closeButton.data() }) {
        if (button && !button->isHidden())
            right += hintWidth(button);
    }
    leftSpacer->setFixedWidth(left <= right ? right - left : 0);
    rightSpacer->setFixedWidth(left <= right ? 0 : left - right);
}

void KelTitleBar::Private::minimize()
{
    if (!window)
        return;
    // A modal window goes down with the window chain it blocks.
    QWidget* target = window->isModal() ? KelUtils::topLevelWindow(window) : window.data();
    if (target)
        target->showMinimized();
}

KelTitleBar::KelTitleBar(QWidget* window)
    : KelFrame(-1, window, false)
    , d(new Private)
{
    d->q = this;
    d->window = window;
    setObjectName(QStringLiteral("KelTitleBar"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    d->layout = qobject_cast<QHBoxLayout*>(layout());
    if (!d->layout)
        d->layout = new QHBoxLayout(this);
    d->layout->setContentsMargins(0, 0, 0, 0);
    d->layout->setSpacing(0);

    d->appIcon = new KelIconWidget(this);
    d->appIcon->setObjectName(QStringLiteral("KelAppIcon"));
    d->appIcon->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    d->appIcon->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    d->title = new KelLabel(this);
    d->title->setObjectName(QStringLiteral("KelTitle"));
    d->title->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
    d->title->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);

    d->leftContainer = d->makeContainer("KelLeftWidgetsContainer", &d->leftLayout);
    d->rightContainer = d->makeContainer("KelRightWidgetsContainer", &d->rightLayout);
    d->leftSpacer = new QWidget(this);
    d->leftSpacer->setObjectName(QStringLiteral("KelLeftSpacer"));
    d->rightSpacer = new QWidget(this);
    d->rightSpacer->setObjectName(QStringLiteral("KelRightSpacer"));

    d->minimizeButton = d->makeButton(21, 9, "KelMinimizeButton");
    d->maximizeButton = d->makeButton(22, 10, "KelMaximizeButton");
    d->restoreButton = d->makeButton(23, 11, "KelRestoreButton");
    d->closeButton = d->makeButton(24, 12, "KelCloseButton");

    d->layout->addWidget(d->appIcon, 0);
    d->layout->addWidget(d->leftContainer, 1);
    d->layout->addWidget(d->leftSpacer, 0);
    d->layout->addWidget(d->title, 0);
    d->layout->addWidget(d->rightSpacer, 0);
    d->layout->addWidget(d->rightContainer, 1);
    d->layout->addWidget(d->minimizeButton, 0, Qt::AlignTop);
    d->layout->addWidget(d->maximizeButton, 0, Qt::AlignTop);
    d->layout->addWidget(d->restoreButton, 0, Qt::AlignTop);
    d->layout->addWidget(d->closeButton, 0, Qt::AlignTop);

    if (window)
        window->installEventFilter(this);
    connect(d->minimizeButton, &KelButton::clicked, this, [this] { d->minimize(); });
    connect(d->maximizeButton, &KelButton::clicked, this, [this] {
        if (d->window)
            d->window->showMaximized();
    });
    connect(d->restoreButton, &KelButton::clicked, this, [this] {
        if (d->window)
            d->window->showNormal();
    });
    connect(d->closeButton, &KelButton::clicked, this, [this] {
        if (d->window)
            d->window->close();
    });
    d->updateButtons();
}

KelTitleBar::~KelTitleBar() { delete d; }

void KelTitleBar::setButtons(int mask)
{
    d->buttons = mask;
    d->updateButtons();
}

int KelTitleBar::buttons() const { return d->buttons; }

KelIconWidget* KelTitleBar::appIcon() const { return d->appIcon; }

KelLabel* KelTitleBar::titleLabel() const { return d->title; }

KelButton* KelTitleBar::button(int kind) const
{
    switch (kind) {
    case MinimizeButton:
        return d->minimizeButton;
    case MaximizeButton:
        return d->maximizeButton;
    case CloseButton:
        return d->closeButton;
    default:
        return nullptr;
    }
}

KelButton* KelTitleBar::restoreButton() const { return d->restoreButton; }

QHBoxLayout* KelTitleBar::leftWidgetsLayout() const { return d->leftLayout; }

QWidget* KelTitleBar::leftWidgetsContainer() const { return d->leftContainer; }

QWidget* KelTitleBar::rightWidgetsContainer() const { return d->rightContainer; }

QHBoxLayout* KelTitleBar::rightWidgetsLayout() const { return d->rightLayout; }

void KelTitleBar::retranslateUi()
{
    d->minimizeButton->setToolTip(QCoreApplication::translate("Application", "Minimize"));
    d->maximizeButton->setToolTip(QCoreApplication::translate("Application", "Maximize"));
    d->restoreButton->setToolTip(QCoreApplication::translate("Application", "Restore"));
    d->closeButton->setToolTip(QCoreApplication::translate("Application", "Close"));
}

bool KelTitleBar::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && (watched == d->leftContainer || watched == d->rightContainer))
        d->centerTitle();
    else if (event->type() == QEvent::WindowStateChange && watched == d->window)
        d->updateButtons();
    return KelFrame::eventFilter(watched, event);
}

void KelTitleBar::showEvent(QShowEvent* event)
{
    KelFrame::showEvent(event);
    d->centerTitle();
}

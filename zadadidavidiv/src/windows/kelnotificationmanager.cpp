#include "windows/kelnotificationmanager.h"

#include "kelui.h"
#include "styles/kelstyle.h"
#include "utils/kelgeometryutils.h"
#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"
#include "windows/kelwindow.h"

#include <QApplication>
#include <QDebug>
#include <QGridLayout>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>

namespace {
// No desktop-wide setting is read here.
const int kDefaultMessageDuration = 5000;
// The distance a new notification slides up while it fades in.
const int kSlideDistance = 32;
const int kWindowStyleRole = 6;
const int kLabelStyleRole = 7;
const int kCloseButtonStyleRole = 12;

int lastId = 0;
} // namespace

class KelNotificationManager::Private {
public:
    struct Notification {
        int id = 0;
        QPointer<KelWindow> window;
        QPointer<KelLabel> title;
        QPointer<KelLabel> text;
        QTimer timer;
        QPoint pressPos;
        // Where the window rests once its slide is over; later ones stack on it.
        QRect target;
    };

    explicit Private(KelNotificationManager* manager)
        : q(manager)
    {
    }

    Notification* find(int id) const
    {
        for (Notification* n : notifications) {
            if (n->id == id)
                return n;
        }
        return nullptr;
    }
    Notification* findWindow(const QObject* window) const
    {
        for (Notification* n : notifications) {
            if (n->window == window)
                return n;
        }
        return nullptr;
    }
    void remove(int id)
    {
        if (Notification* n = find(id)) {
            notifications.removeOne(n);
            delete n;
        }
    }

    int createNotification(const QString& title, const QString& text, int seconds);
    void show(int id);
    void hide(int id);

    KelNotificationManager* q;
    QVector<Notification*> notifications;
};

int KelNotificationManager::Private::createNotification(const QString& title, const QString& text, int seconds)
{
    auto* n = new Notification;
    n->id = ++lastId;
    const int id = n->id;
    const KelStyle* style = kelStyle();

    auto* window = new KelWindow(
        kWindowStyleRole, KelWindow::WindowParams(), nullptr, KelWindow::ShadowType::Custom_D2D_Compatible, false);
    n->window = window;
    window->setStayOnTop(true);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setFocusPolicy(Qt::NoFocus);
    window->setObjectName(QStringLiteral("KelNotificationWindow_%1").arg(id));
    window->setShowWithoutActivating(true);
    window->setShowInTaskbar(false);
    // It belongs to the window the user works in: window managers keep it with that one.
    window->setNeedsOwner(true);
    window->installEventFilter(q);

    n->title = new KelLabel(kLabelStyleRole, window);
    n->title->setText(title);
    n->title->setWordWrap(true);
    KelUtils::setWidgetFont(n->title, style->metric(33), QFont::Normal, KelStyle::interfaceFontFamily());
    n->text = new KelLabel(kLabelStyleRole, window);
    n->text->setText(text);
    n->text->setWordWrap(true);
    KelUtils::setWidgetFont(n->text, style->metric(34), QFont::Normal, KelStyle::interfaceFontFamily());

    n->timer.setSingleShot(true);
    n->timer.setInterval((seconds > 0 ? seconds * 1000 : systemMessageDuration()) + style->metric(16));

    auto* close = new KelButton(kCloseButtonStyleRole, style->iconPath(4), nullptr, false);
    close->setPaddings(QMargins(2, 2, 2, 2));
    close->setColorizeIcon(true);

    auto* grid = new QGridLayout(window->centralWidget());
    grid->setContentsMargins(style->margins(1));
    grid->setHorizontalSpacing(style->metric(31));
    grid->setVerticalSpacing(style->metric(32));
    grid->addWidget(n->title, 0, 0);
    grid->addWidget(close, 0, 1);
    grid->addWidget(n->text, 1, 0, 1, 2);
    grid->setColumnStretch(1, 1);

    connect(close, &KelButton::clicked, q, [this, id] { hide(id); });
    connect(n->text, &QLabel::linkActivated, q, [this, id](const QString& link) {
        qDebug() << "Notification id:" << id << "Link activated:" << link
                 << "Emit linkActivated() and hide notification";
        if (KelUi* ui = KelUi::instance())
            ui->openLink(link);
        hide(id);
    });
    connect(window, &KelWidget::showed, q, [this, id] {
        if (Notification* shown = find(id)) {
            qDebug() << "Notification id:" << id << "Timer start:" << shown->timer.interval();
            shown->timer.start();
        }
    });
    connect(&n->timer, &QTimer::timeout, q, [this, id] {
        qDebug() << "Notification id:" << id << "Timeout";
        hide(id);
    });
    connect(window, &KelWidget::hided, window, &QWidget::close);
    connect(window, &KelWidget::hided, q, [this, id] {
        qDebug() << "Notification id:" << id << "Window hided, remove notification";
        remove(id);
    });

    notifications.append(n);
    qDebug() << "Notification created. Id:" << id;
    return id;
}

void KelNotificationManager::Private::show(int id)
{
    Notification* n = find(id);
    if (!n || !n->window || n->window->isVisible())
        return;
    qDebug() << "Notification id:" << id << "Show";
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    int bottom = available.bottom();
    // On the places the others slide to, not where they are during their slide.
    for (const Notification* other : qAsConst(notifications)) {
        if (other != n && other->window && other->window->isVisible())
            bottom = qMin(bottom, other->target.top());
    }
    const QMargins margins = kelStyle()->margins(0);
    QRect target(QPoint(), n->window->fittedSize());
    target.moveRight(available.right() - margins.right());
    target.moveBottom(bottom - margins.bottom());
    n->target = target;
    n->window->setGeometry(target.translated(0, kSlideDistance));
    n->window->showAnimated();
    n->window->animateGeometry(target, true, -1, false);
}

void KelNotificationManager::Private::hide(int id)
{
    Notification* n = find(id);
    if (!n || !n->window || !n->window->isVisible())
        return;
    qDebug() << "Notification id:" << id << "hide";
    n->window->hideAnimated();
}

KelNotificationManager::KelNotificationManager(QObject* parent)
    : QObject(parent)
    , d(new Private(this))
{
    qDebug() << "Instance created";
}

KelNotificationManager::~KelNotificationManager()
{
    // Nothing of the windows may call back into a manager being destroyed.
    while (!d->notifications.isEmpty()) {
        Private::Notification* n = d->notifications.takeLast();
        if (KelWindow* window = n->window) {
            window->removeEventFilter(this);
            disconnect(window, nullptr, this, nullptr);
            window->close();
        }
        delete n;
    }
    delete d;
}

int KelNotificationManager::showNotification(const QString& title, const QString& text, int seconds)
{
    const int id = d->createNotification(title, text, seconds);
    d->show(id);
    return id;
}

int KelNotificationManager::systemMessageDuration() { return kDefaultMessageDuration; }

KelWindow* KelNotificationManager::notificationWindow(int id) const
{
    Private::Notification* n = d->find(id);
    return n ? n->window.data() : nullptr;
}

int KelNotificationManager::displayInterval(int id) const
{
    Private::Notification* n = d->find(id);
    return n ? n->timer.interval() : -1;
}

bool KelNotificationManager::isTimerActive(int id) const
{
    Private::Notification* n = d->find(id);
    return n && n->timer.isActive();
}

bool KelNotificationManager::eventFilter(QObject* watched, QEvent* event)
{
    if (!qobject_cast<KelWindow*>(watched))
        return false;
    Private::Notification* n = d->findWindow(watched);
    if (!n)
        return false;
    switch (event->type()) {
    case QEvent::Enter:
        n->timer.stop();
        break;
    case QEvent::Leave:
        n->timer.start();
        break;
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton && e->buttons() == Qt::LeftButton)
            n->pressPos = e->pos();
        break;
    }
    case QEvent::MouseButtonRelease: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton
            && (n->pressPos - e->pos()).manhattanLength() < QApplication::startDragDistance()) {
            const int id = n->id;
            emit clicked(id);
            d->hide(id);
        }
        break;
    }
    default:
        break;
    }
    return false;
}

#include "windows/kelpopup.h"

#include "kelui.h"
#include "platform/x11/kelnativewindowutils.h"
#include "utils/kelgeometryutils.h"
#include "widgets/kelbutton.h"

#include <QApplication>
#include <QBasicTimer>
#include <QCursor>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolTip>

namespace {
// A popup that refuses to close must not hang the closing loop.
const int kMaxCloses = 1024;

// Sends the event on as it stands; a receiver that leaves it ignored does not change its accepted flag.
bool forward(QWidget* receiver, QEvent* event)
{
    const bool wasAccepted = event->isAccepted();
    event->ignore();
    QCoreApplication::sendEvent(receiver, event);
    if (event->isAccepted())
        return true;
    event->setAccepted(wasAccepted);
    return false;
}
} // namespace

class KelPopup::Private {
public:
    bool isPassThrough(QWidget* widget) const
    {
        for (const QPointer<QWidget>& w : passThroughWidgets) {
            if (w && w == widget)
                return true;
        }
        return false;
    }

    // Qt wakes tool tips only inside the window that gets the mouse, which is the popup while it is
    // open: the popup wakes the tip of the widget under the pointer in another window itself.
    void followPointer(KelPopup* popup, QMouseEvent* event)
    {
        QWidget* under = nullptr;
        if (event->buttons() == Qt::NoButton && !popup->rect().contains(event->pos())) {
            KelUi* ui = KelUi::instance();
            under = ui ? ui->widgetUnderMouse() : QApplication::widgetAt(event->globalPos());
            if (under && qobject_cast<KelPopup*>(under->window()))
                under = nullptr;
        }
        if (under != tipWidget) {
            if (tipWidget && QToolTip::isVisible())
                QToolTip::hideText();
            tipWidget = under;
        }
        tipPos = event->globalPos();
        if (under)
            tipTimer.start(under->style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay, nullptr, under), popup);
        else
            tipTimer.stop();
    }

    void showTip()
    {
        tipTimer.stop();
        if (!tipWidget || !tipWidget->isVisible())
            return;
        // Handed on to the parents as Qt hands on every tool tip request.
        QHelpEvent help(QEvent::ToolTip, tipWidget->mapFromGlobal(tipPos), tipPos);
        QCoreApplication::sendEvent(tipWidget, &help);
    }

    QList<QPointer<QWidget>> passThroughWidgets;
    QPointer<QWidget> mouseTarget;
    QVector<Qt::MouseButton> pressedButtons;
    QBasicTimer tipTimer;
    QPointer<QWidget> tipWidget;
    QPoint tipPos;
};

KelPopup::KelPopup(int widgetType, WindowParams params, QWidget* parent, ShadowType shadowType, bool deferStyle)
    : KelWindow(widgetType, params | Popup, parent, shadowType, true)
    , d(new Private)
{
    setMouseTracking(true);
    if (!deferStyle)
        KelWindow::applyStyle();
}

KelPopup::~KelPopup() { delete d; }

void KelPopup::addPassThroughWidget(QWidget* widget) { d->passThroughWidgets.append(widget); }

void KelPopup::closeAllPopups()
{
    for (int i = 0; i < kMaxCloses; ++i) {
        QWidget* popup = QApplication::activePopupWidget();
        if (!popup)
            return;
        popup->close();
    }
}

void KelPopup::mousePressEvent(QMouseEvent* event)
{
    if (QWidget* grabber = QWidget::mouseGrabber()) {
        if (forward(grabber, event)) {
            d->mouseTarget = grabber;
            d->pressedButtons.append(event->button());
            return;
        }
    }
    KelUi* ui = KelUi::instance();
    QWidget* under = ui ? ui->widgetUnderMouse() : QApplication::widgetAt(event->globalPos());
    if (!under) {
        closeAllPopups();
        return;
    }
    if (d->isPassThrough(under)) {
        d->mouseTarget = under;
        d->pressedButtons.append(event->button());
        if (d->mouseTarget)
            forward(d->mouseTarget, event);
        return;
    }
    QWidget* window = under->window();
    if (qobject_cast<KelPopup*>(window))
        return;
    auto* kelWindow = qobject_cast<KelWindow*>(window);
    if (!kelWindow || !kelWindow->nativeWindowUtils()) {
        closeAllPopups();
        return;
    }
    // The hit test works in device pixels of the screen under the click.
    const QPoint global = event->screenPos().toPoint();
    QScreen* screen = KelUtils::screenAt(global);
    const QPoint origin = screen ? screen->geometry().topLeft() : QPoint();
    const double ratio = screen ? screen->devicePixelRatio() : 1.0;
    const QPoint device = (QPointF(origin) + (event->screenPos() - QPointF(origin)) * ratio).toPoint();
    if (kelWindow->nativeWindowUtils()->hitTest(device) == KelNativeWindowUtils::HTCLIENT) {
        closeAllPopups();
        return;
    }
    // A caption or border press is the window's first: it may start a move or a resize.
    QTimer::singleShot(0, this, &KelPopup::closeAllPopups);
}

void KelPopup::mouseMoveEvent(QMouseEvent* event)
{
    QWidget* receiver = d->mouseTarget ? d->mouseTarget.data() : QWidget::mouseGrabber();
    if (receiver)
        forward(receiver, event);
    d->followPointer(this, event);
    KelWindow::mouseMoveEvent(event);
}

void KelPopup::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == d->tipTimer.timerId()) {
        d->showTip();
        return;
    }
    KelWindow::timerEvent(event);
}

void KelPopup::mouseReleaseEvent(QMouseEvent* event)
{
    if (!d->mouseTarget)
        return;
    QPointer<QWidget> target = d->mouseTarget;
    d->pressedButtons.removeAll(event->button());
    if (d->pressedButtons.isEmpty())
        d->mouseTarget = nullptr;
    if (target)
        forward(target, event);
}

void KelPopup::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (QWidget* grabber = QWidget::mouseGrabber()) {
        if (forward(grabber, event))
            return;
    }
    KelUi* ui = KelUi::instance();
    QWidget* under = ui ? ui->widgetUnderMouse() : QApplication::widgetAt(event->globalPos());
    if (under && d->isPassThrough(under))
        QCoreApplication::sendEvent(under, event);
}

void KelPopup::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel)) {
        close();
        event->accept();
    }
    KelWindow::keyPressEvent(event);
}

void KelPopup::showEvent(QShowEvent* event)
{
    // Opened by a press that is still held: the opener gets that press's moves and release.
    auto* opener = qobject_cast<KelButton*>(parentWidget());
    if (opener && opener->isPressed()) {
        if (QGuiApplication::mouseButtons() & Qt::LeftButton)
            d->pressedButtons.append(Qt::LeftButton);
        d->mouseTarget = opener;
    }
    KelWidget::showEvent(event);
}

void KelPopup::hideEvent(QHideEvent* event)
{
    KelWidget::hideEvent(event);
    d->tipTimer.stop();
    d->tipWidget = nullptr;
    if (!d->mouseTarget)
        return;
    QPointer<QWidget> target = d->mouseTarget;
    d->mouseTarget = nullptr;
    const QPoint local = target->mapFromGlobal(QCursor::pos());
    const Qt::MouseButtons buttons = QGuiApplication::mouseButtons();
    const Qt::KeyboardModifiers modifiers = QGuiApplication::keyboardModifiers();
    // Buttons still held when the popup vanished are released, the last pressed first.
    while (!d->pressedButtons.isEmpty() && target) {
        const Qt::MouseButton button = d->pressedButtons.takeLast();
        QMouseEvent release(QEvent::MouseButtonRelease, local, target->mapToGlobal(local), button, buttons, modifiers);
        QCoreApplication::sendEvent(target, &release);
    }
    d->pressedButtons.clear();
}

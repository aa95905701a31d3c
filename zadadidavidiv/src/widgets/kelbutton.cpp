#include "widgets/kelbutton.h"

#include "animators/kelwidgetstateanimator.h"
#include "painting/kelicon.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "styles/kelstyle.h"
#include "widgets/kelbuttonpainterwidget.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>

class KelButton::Private {
public:
    explicit Private(KelButton* owner)
        : q(owner)
    {
    }

    // Records the hover state; on a change the animator follows and the matching signal goes out.
    void setHovered(bool value)
    {
        if (hovered == value)
            return;
        hovered = value;
        updateAnimator();
        if (hovered)
            emit q->hovered();
        else
            emit q->leaved();
    }

    void setPressed(bool value)
    {
        if (pressed == value)
            return;
        pressed = value;
        updateAnimator();
    }

    void updateAnimator()
    {
        const bool animated = q->isVisible();
        const bool enabled = q->isEnabled();
        stateAnimator->setDisabled(!enabled, animated);
        stateAnimator->setChecked(checked, animated);
        bool hover = false;
        bool press = false;
        if (enabled && !windowBlocked) {
            if (keepPressedOnDrag && pressed) {
                hover = press = true;
            } else {
                hover = hovered || (focusHighlightMode == 1 && q->hasFocus());
                press = hovered && pressed;
            }
        }
        stateAnimator->setHovered(hover, animated);
        stateAnimator->setPressed(press, animated);
    }

    void storeChecked(bool value, bool notify)
    {
        if (!checkable || checked == value)
            return;
        checked = value;
        updateAnimator();
        q->update();
        if (notify && !q->signalsBlocked()) {
            // Listeners run on the next pass of the event loop, after the press handling is over.
            QTimer::singleShot(0, q, [button = q, value]() { emit button->toggled(value); });
        }
    }

    // Whether a press starts a click: not on a disabled button, nor on a checked one that a click
    // would leave as it is without telling anyone.
    bool pressStartsClick(const QMouseEvent* event) const
    {
        if (!q->isEnabled())
            return false;
        if (checkable && checked && uncheckByClickBlocked && !emitsClickedWhenCheckable)
            return false;
        return event->button() == Qt::LeftButton && event->buttons() == Qt::LeftButton;
    }

    // While a button is held the mouse is grabbed by it, and Qt moves the mouse before it sends the
    // leave or enter event, so the widget's under-mouse flag lags one move behind: the position decides.
    bool mouseOver(const QPoint& pos) const { return q->rect().contains(pos); }

    KelButton* q;
    KelButtonSizeHints sizeHints;
    bool checkable = false;
    bool uncheckByClickBlocked = false;
    bool emitsClickedWhenCheckable = false;
    bool checked = false;
    bool pressing = false;
    bool pressed = false;
    bool hovered = false;
    bool keepPressedOnDrag = false;
    bool transparentForMouse = false;
    bool windowBlocked = false;
    int focusHighlightMode = 0;
    KelWidgetStateAnimator* stateAnimator = nullptr;
};

KelButton::KelButton(int widgetType, const QString& iconName, QWidget* parent, bool deferStyle)
    : KelWidget(parent)
    , KelButtonPainter(this)
    , KelStyleable(widgetType)
    , d(new Private(this))
{
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::NoFocus);
    if (!iconName.isEmpty())
        setIcon(iconName);
    KelStyle* style = kelStyle();
    setContentColors(KelStateColors(style->color(KelStyle::CL_Text_Dark)));
    setSpacing(style->metric(18));
    d->stateAnimator = new KelWidgetStateAnimator(0, this);
    d->stateAnimator->setWidget(this);
    setMinimumSize(0, 0);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    if (!deferStyle)
        applyStyle();
}

KelButton::KelButton(int widgetType, QWidget* parent, bool deferStyle)
    : KelButton(widgetType, QString(), parent, deferStyle)
{
}

KelButton::~KelButton() = default;

bool KelButton::isCheckable() const { return d->checkable; }

void KelButton::setCheckable(bool checkable)
{
    if (d->checkable == checkable)
        return;
    d->checkable = checkable;
    if (!checkable)
        d->checked = false;
    d->updateAnimator();
    update();
}

bool KelButton::isChecked() const { return d->checkable && d->checked; }

void KelButton::setChecked(bool checked) { d->storeChecked(checked, true); }

void KelButton::setCheckedSilently(bool checked) { d->storeChecked(checked, false); }

void KelButton::setUncheckByClickBlocked(bool blocked) { d->uncheckByClickBlocked = blocked; }

void KelButton::setEmitsClickedWhenCheckable(bool emits) { d->emitsClickedWhenCheckable = emits; }

void KelButton::setKeepPressedOnDrag(bool keep) { d->keepPressedOnDrag = keep; }

void KelButton::setTransparentForMouse(bool transparent) { d->transparentForMouse = transparent; }

void KelButton::setFocusHighlightMode(int mode)
{
    if (d->focusHighlightMode == mode)
        return;
    d->focusHighlightMode = mode;
    d->updateAnimator();
}

bool KelButton::isPressed() const { return d->pressed; }

bool KelButton::isHovered() const { return d->hovered; }

KelWidgetStateAnimator* KelButton::stateAnimator() const { return d->stateAnimator; }

QSize KelButton::sizeHint() const { return d->sizeHints.sizeHint(this); }

QSize KelButton::minimumSizeHint() const { return d->sizeHints.minimumSizeHint(this); }

void KelButton::onSizeHintChanged()
{
    // Called from the painter's setters, also while the constructor runs.
    if (!d)
        return;
    d->sizeHints.reset();
    updateGeometry();
}

void KelButton::applyStyle() { applyButtonPainterStyle(this, this); }

bool KelButton::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        if (d->transparentForMouse)
            break;
        d->pressing = d->pressStartsClick(static_cast<QMouseEvent*>(event));
        d->setPressed(d->pressing);
        if (!isEnabled() && event->type() == QEvent::MouseButtonPress)
            break;
        event->accept();
        return true;
    }
    case QEvent::MouseButtonRelease: {
        if (d->transparentForMouse)
            break;
        d->pressed = false;
        if (d->pressing && d->hovered) {
            if (d->checkable && (!d->checked || !d->uncheckByClickBlocked))
                setChecked(!d->checked);
            if (!d->checkable || d->emitsClickedWhenCheckable)
                QTimer::singleShot(0, this, [this]() { emit clicked(); });
        }
        d->pressing = false;
        d->updateAnimator();
        event->accept();
        return true;
    }
    case QEvent::MouseMove: {
        if (d->transparentForMouse)
            break;
        if (isEnabled() && d->pressing && !d->keepPressedOnDrag) {
            d->setHovered(d->mouseOver(static_cast<QMouseEvent*>(event)->pos()));
            d->setPressed(d->hovered);
            event->accept();
            return true;
        }
        break;
    }
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::EnabledChange:
        d->updateAnimator();
        break;
    case QEvent::Move:
    case QEvent::Resize:
        d->setHovered(underMouse());
        break;
    case QEvent::Hide:
        if (d->hovered) {
            d->hovered = false;
            d->updateAnimator();
            emit leaved();
        }
        break;
    case QEvent::FontChange:
    case QEvent::ApplicationFontChange:
        invalidateTextMetrics();
        break;
    case QEvent::WindowBlocked: {
        d->windowBlocked = true;
        if (d->pressed) {
            // The modal window takes the mouse: finish the press here as a release would.
            QMouseEvent release(QEvent::MouseButtonRelease, mapFromGlobal(QCursor::pos()), Qt::LeftButton, Qt::NoButton,
                Qt::NoModifier);
            QCoreApplication::sendEvent(this, &release);
        }
        d->updateAnimator();
        break;
    }
    case QEvent::WindowUnblocked:
        d->windowBlocked = false;
        d->updateAnimator();
        break;
    default:
        break;
    }
    return KelWidget::event(event);
}

void KelButton::mousePressEvent(QMouseEvent* event)
{
    if (d->transparentForMouse)
        event->ignore();
    else
        event->accept();
}

void KelButton::mouseMoveEvent(QMouseEvent* event)
{
    if (d->pressed)
        event->accept();
    else
        event->ignore();
}

void KelButton::enterEvent(QEvent* event)
{
    d->setHovered(d->pressing || QGuiApplication::mouseButtons() == Qt::NoButton);
    KelWidget::enterEvent(event);
}

void KelButton::leaveEvent(QEvent* event)
{
    d->setHovered(underMouse());
    KelWidget::leaveEvent(event);
}

void KelButton::paintEvent(QPaintEvent*)
{
    KelPaintContext context(this);
    paint(context);
    if (KelPainting::dbgPaintKelButton()) {
        context.drawFramePainterDiagnostics(this);
        context.drawButtonPainterDiagnostics(this);
    }
}

void KelButton::paint(KelPaintContext& context) { paintButtonPainter(context, this, d->stateAnimator); }

void KelButton::resizeEvent(QResizeEvent* event)
{
    setFrameSize(size());
    KelWidget::resizeEvent(event);
}

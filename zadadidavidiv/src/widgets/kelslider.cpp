#include "widgets/kelslider.h"

#include "animators/keldisabledstateanimator.h"
#include "animators/kelgeometryanimator.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "styles/kelstyle.h"
#include "widgets/kelbutton.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QtMath>

#include <memory>

namespace {

const char* const kSliderProperty = "PROP_POINTER_TO_SLIDER";
const int kDefaultRole = 36;
const int kAnimationMetric = 17;
const int kMinimumLength = 60;

// Rounds half away from zero.
int roundAway(double value) { return value < 0 ? -int(std::floor(-value + 0.5)) : int(std::floor(value + 0.5)); }

// Marker sizes are given for a horizontal groove; a vertical one turns them.
QSizeF orientedSize(const QSize& size, bool horizontal)
{
    return horizontal ? QSizeF(size) : QSizeF(size.transposed());
}

// A handle or the value tooltip: a small button placed by its hot spot.
class SliderButton : public KelButton {
public:
    SliderButton(KelSlider* slider, QWidget* parent)
        : KelButton(-1, parent)
        , slider(slider)
        , animator(new KelGeometryAnimator(this))
    {
    }
    void applyStyle() override
    {
        KelButton::applyStyle();
        animationDuration = kelStyle()->metric(kAnimationMetric);
    }

    int value = 0;
    QPoint hotSpot { -1, -1 };
    int animationDuration = 0;
    QPointer<KelSlider> slider;
    KelGeometryAnimator* animator;

protected:
    // A tooltip grows and shrinks with its text.
    void onTextChanged(const QString& text) override
    {
        KelButton::onTextChanged(text);
        setFixedSize(sizeHint());
    }
    void onSubTextChanged(const QString& text) override
    {
        KelButton::onSubTextChanged(text);
        setFixedSize(sizeHint());
    }
};

} // namespace

class KelSlider::Private : public QObject {
public:
    explicit Private(KelSlider* q)
        : q(q)
    {
    }

    SliderButton* makeButton(QWidget* parent);
    void placeSubcontrol(SliderButton* button, const QPoint& point, bool animated);
    void placeHandle(bool animated);
    QPair<int, int> handleRange() const;
    void updateHoverPosition(const QPoint& point);
    void showTooltip(int value);
    bool eventFilter(QObject* watched, QEvent* event) override;

    KelSlider* q;
    KelDisabledStateAnimator* disabledAnimator = nullptr;
    bool horizontal = true;
    bool animateHandle = true;
    bool hovered = false;
    int hoverPosition = -1;
    std::unique_ptr<QMouseEvent> pendingPress;
    QRect pressGeometry;
    int grooveThickness = 2;
    int grooveRadius = 0;
    QColor grooveColor;
    QColor filledColor;
    int clickMode = 0;
    int grooveSpanMode = 0;
    int markerPosition = 0;
    QSize markerSize;
    int markerRadius = 0;
    QColor markerColor;
    SliderButton* handle = nullptr;
    QPointer<SliderButton> pressedHandle;
    QPoint pressOffset { -1, -1 };
    QPointer<SliderButton> tooltip;
    TooltipTextFunction tooltipText;
};

SliderButton* KelSlider::Private::makeButton(QWidget* parent)
{
    auto* button = new SliderButton(q, parent);
    button->setAttribute(Qt::WA_ShowWithoutActivating);
    button->setAttribute(Qt::WA_TranslucentBackground);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFocusProxy(q);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    button->setHoverFrozenWhilePressed(true);
    connect(button, &KelWidget::moved, q, [this] { q->update(); });
    button->applyStyle();
    button->setProperty(kSliderProperty, QVariant::fromValue(QPointer<KelSlider>(q)));
    button->installEventFilter(this);
    return button;
}

QPair<int, int> KelSlider::Private::handleRange() const
{
    const QRect contents = q->contentsRect();
    if (horizontal)
        return { contents.left() + handle->width() / 2, contents.left() + contents.width() - handle->width() / 2 };
    return { contents.top() + handle->height() / 2, contents.top() + contents.height() - handle->height() / 2 };
}

void KelSlider::Private::placeSubcontrol(SliderButton* button, const QPoint& point, bool animated)
{
    button->animator->stop();
    QWidget* parent = button->parentWidget();
    QPoint target = point;
    if (parent && parent != q)
        target = q->mapTo(parent, point);
    const QPoint hotSpot = button->hotSpot == QPoint(-1, -1) ? button->rect().center() : button->hotSpot;
    QRect rect(target - hotSpot, button->size());
    if (parent && parent != q) {
        // Kept inside the ancestor, so the tooltip is never cut off.
        const QRect bounds = parent->rect();
        if (rect.width() > bounds.width() || rect.height() > bounds.height())
            rect.setSize(rect.size().scaled(bounds.size(), Qt::KeepAspectRatio));
        rect.moveLeft(qBound(bounds.left(), rect.left(), bounds.right() - rect.width() + 1));
        rect.moveTop(qBound(bounds.top(), rect.top(), bounds.bottom() - rect.height() + 1));
    }
    if (rect == button->geometry())
        return;
    if (button->isVisible() && animated)
        button->animator->animateGeometry(rect, true, button->animationDuration);
    else
        button->setGeometry(rect);
}

void KelSlider::Private::placeHandle(bool animated)
{
    placeSubcontrol(handle, q->positionFromValue(q->sliderPosition()), animated);
}

void KelSlider::Private::updateHoverPosition(const QPoint& point)
{
    int position = -1;
    if (markerPosition == -2 && q->isEnabled() && !handle->isHovered() && !pressedHandle
        && q->contentsRect().contains(point)) {
        const QPoint snapped = q->positionFromValue(q->valueFromPosition(point));
        position = horizontal ? snapped.x() : snapped.y();
    }
    if (position != hoverPosition) {
        hoverPosition = position;
        q->update();
    }
}

void KelSlider::Private::showTooltip(int value)
{
    SliderButton* tip = static_cast<SliderButton*>(q->tooltip());
    QString text = QString::number(value);
    QString subText;
    if (tooltipText)
        tooltipText(value, text, subText);
    tip->setText(text);
    tip->setSubText(subText);
    tip->value = value;
    placeSubcontrol(tip, q->positionFromValue(value), false);
    if (!tip->isVisible()) {
        tip->showAnimated();
        tip->raise();
    }
}

bool KelSlider::Private::eventFilter(QObject* watched, QEvent* event)
{
    auto* button = dynamic_cast<SliderButton*>(watched);
    if (!button)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (button->isEnabled() && q->isEnabled() && q->minimum() != q->maximum()
            && mouse->buttons() == Qt::LeftButton) {
            pressedHandle = button;
            const QPoint hotSpot = button->hotSpot == QPoint(-1, -1) ? button->rect().center() : button->hotSpot;
            pressOffset = hotSpot - mouse->pos();
            q->setSliderDown(true);
        }
        break;
    }
    case QEvent::MouseMove:
        if (pressedHandle == button) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const int value = q->valueFromPosition(q->mapFromGlobal(mouse->globalPos()) + pressOffset);
            if (button == handle) {
                q->setSliderPosition(value);
                placeSubcontrol(handle, q->positionFromValue(value), false);
            }
            if (tooltip)
                showTooltip(q->value());
        }
        break;
    case QEvent::MouseButtonRelease:
        button->releaseMouse();
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && pressedHandle == button) {
            pressedHandle = nullptr;
            pressOffset = QPoint(-1, -1);
            q->setSliderDown(false);
        }
        break;
    default:
        break;
    }
    return false;
}

KelSlider::KelSlider(int styleRole, Qt::Orientation orientation, QWidget* parent, bool deferStyle)
    : QAbstractSlider(parent)
    , KelStyleable(styleRole)
    , d(new Private(this))
{
    d->disabledAnimator = new KelDisabledStateAnimator(1, this);
    d->disabledAnimator->setWidget(this);
    d->handle = d->makeButton(this);
    d->handle->setObjectName(QStringLiteral("KelPosHandle"));
    connect(d->handle, &KelWidget::resized, this, [this] { d->placeHandle(false); });
    setFocusPolicy(Qt::WheelFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
    setTracking(true);
    setOrientation(orientation);
    d->horizontal = orientation == Qt::Horizontal;
    if (d->horizontal)
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    else
        setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    if (!deferStyle && isStyled())
        applyStyle();
}

KelSlider::KelSlider(Qt::Orientation orientation, QWidget* parent, bool deferStyle)
    : KelSlider(kDefaultRole, orientation, parent, deferStyle)
{
}

KelSlider::~KelSlider()
{
    if (d->tooltip)
        d->tooltip->hide();
}

KelSlider* KelSlider::fromSubcontrol(QObject* subcontrol)
{
    return subcontrol ? subcontrol->property(kSliderProperty).value<QPointer<KelSlider>>().data() : nullptr;
}

KelButton* KelSlider::positionHandle() const { return d->handle; }

KelButton* KelSlider::tooltip()
{
    if (!d->tooltip) {
        d->tooltip = d->makeButton(this);
        d->tooltip->setObjectName(QStringLiteral("KelSliderTooltip"));
        d->tooltip->hide();
        d->tooltip->setAttribute(Qt::WA_TransparentForMouseEvents);
        connect(d->handle, &KelButton::hovered, this, [this] {
            if (d->handle->isEnabled())
                d->showTooltip(value());
        });
        connect(this, &KelSlider::leaved, this, [this] {
            if (d->tooltip && !d->pressedHandle && !d->hovered)
                d->tooltip->hideAnimated();
        });
    }
    return d->tooltip;
}

int KelSlider::grooveThickness() const { return d->grooveThickness; }
int KelSlider::grooveRadius() const { return d->grooveRadius; }
QColor KelSlider::grooveColor() const { return d->grooveColor; }
QColor KelSlider::filledColor() const { return d->filledColor; }
int KelSlider::markerPosition() const { return d->markerPosition; }
int KelSlider::hoverPosition() const { return d->hoverPosition; }

void KelSlider::setGrooveThickness(int thickness, int radius)
{
    if (d->grooveThickness == thickness && d->grooveRadius == radius)
        return;
    d->grooveThickness = thickness;
    d->grooveRadius = radius;
    update();
}

void KelSlider::setGrooveColors(const QColor& groove, const QColor& filled)
{
    if (d->grooveColor == groove && d->filledColor == filled)
        return;
    d->grooveColor = groove;
    d->filledColor = filled;
    update();
}

void KelSlider::setClickMode(int mode) { d->clickMode = mode; }

void KelSlider::setGrooveSpanMode(int mode)
{
    if (d->grooveSpanMode == mode)
        return;
    d->grooveSpanMode = mode;
    update();
}

void KelSlider::setMarkerPosition(int position)
{
    if (d->markerPosition == position)
        return;
    d->markerPosition = position;
    if (isVisible())
        d->updateHoverPosition(mapFromGlobal(QCursor::pos()));
    update();
}

void KelSlider::setMarkerSize(const QSize& size, int radius)
{
    if (d->markerSize == size && d->markerRadius == radius)
        return;
    d->markerSize = size;
    d->markerRadius = radius;
    update();
}

void KelSlider::setMarkerColor(const QColor& color)
{
    if (d->markerColor == color)
        return;
    d->markerColor = color;
    update();
}

void KelSlider::setValueSilently(int newValue)
{
    if (newValue != value()) {
        const bool wasBlocked = blockSignals(true);
        setValue(newValue);
        blockSignals(wasBlocked);
    }
    update();
}

void KelSlider::setTooltipTextFunction(TooltipTextFunction function) { d->tooltipText = std::move(function); }

void KelSlider::setTooltipOffset(const QPoint& offset)
{
    auto* tip = static_cast<SliderButton*>(tooltip());
    const QPoint old = tip->hotSpot;
    tip->hotSpot = offset;
    tip->move(tip->pos() - (offset - old));
    d->showTooltip(tip->value);
}

void KelSlider::setSubcontrolsParent(QWidget* newParent)
{
    if (!newParent)
        newParent = this;
    if (newParent != this && !newParent->isAncestorOf(this))
        qFatal("KelSlider::setSubcontrolsParent: param 'newParent' must be an ancestor of slider");
    KelButton* tip = tooltip();
    tip->setParent(newParent);
    tip->hide();
}

int KelSlider::valueFromPosition(const QPoint& pos) const
{
    const QPair<int, int> range = d->handleRange();
    const int t = d->horizontal ? pos.x() : height() - pos.y();
    if (range.second == range.first)
        return minimum();
    const double fraction = double(t - range.first) / double(range.second - range.first);
    return qBound(minimum(), minimum() + roundAway(fraction * double(maximum() - minimum())), maximum());
}

QPoint KelSlider::positionFromValue(int v) const
{
    const QPair<int, int> range = d->handleRange();
    v = qBound(minimum(), v, maximum());
    // An empty range puts the handle at the start.
    const int offset = maximum() == minimum()
        ? 0
        : roundAway(double(v - minimum()) / double(maximum() - minimum()) * double(range.second - range.first));
    if (d->horizontal)
        return QPoint(range.first + offset, height() / 2);
    return QPoint(width() / 2, height() - (range.first + offset));
}

QSize KelSlider::minimumSizeHint() const
{
    return d->horizontal ? QSize(kMinimumLength, d->handle->height()) : QSize(d->handle->width(), kMinimumLength);
}

void KelSlider::applyStyle()
{
    if (isStyled())
        kelStyle()->applySliderStyle(this, widgetType());
}

bool KelSlider::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::Enter:
        if (isEnabled()) {
            d->hovered = true;
            emit hovered();
        }
        break;
    case QEvent::Leave:
        d->hovered = false;
        emit leaved();
        break;
    case QEvent::EnabledChange:
        if (!isEnabled() && d->hovered) {
            d->hovered = false;
            d->hoverPosition = -1;
            emit leaved();
        }
        break;
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
        d->updateHoverPosition(static_cast<QHoverEvent*>(event)->pos());
        break;
    case QEvent::HoverLeave:
        d->updateHoverPosition(QPoint(-1, -1));
        break;
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::ShowToParent:
    case QEvent::HideToParent:
        if (d->tooltip && d->tooltip->parentWidget() != this && !isVisible())
            d->tooltip->hide();
        break;
    default:
        break;
    }
    return QAbstractSlider::event(event);
}

void KelSlider::mousePressEvent(QMouseEvent* event)
{
    if (!isEnabled() || minimum() == maximum() || event->buttons() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    if (d->handle->isHidden())
        d->handle->show();
    const int v = valueFromPosition(event->pos());
    if (v == value())
        return;
    if (QApplication::activePopupWidget()) {
        setSliderDown(true);
        setValue(v);
        setSliderDown(false);
        return;
    }
    if (d->clickMode == 0)
        setSliderDown(true);
    d->animateHandle = false;
    setSliderPosition(v);
    // With tracking on, setSliderPosition has already triggered the move (and set the value).
    if (!hasTracking() && d->clickMode == 1)
        triggerAction(QAbstractSlider::SliderMove);
    // Without tracking the position alone moves, which the value-change handling does not see.
    d->placeHandle(false);
    d->animateHandle = true;
    d->pendingPress.reset(new QMouseEvent(event->type(), event->localPos(), event->windowPos(), event->screenPos(),
        event->button(), event->buttons(), event->modifiers()));
    d->pressGeometry = QRect(mapToGlobal(QPoint(0, 0)), size());
}

void KelSlider::mouseMoveEvent(QMouseEvent* event)
{
    event->ignore();
    if (d->pendingPress) {
        if (QRect(mapToGlobal(QPoint(0, 0)), size()) != d->pressGeometry) {
            d->pendingPress.reset();
        } else {
            // The drag goes on with the handle, as if it had been pressed where the groove was.
            SliderButton* handle = d->handle;
            handle->grabMouse();
            const QPoint pressGlobal = d->pendingPress->globalPos();
            QMouseEvent press(QEvent::MouseButtonPress, handle->mapFromGlobal(pressGlobal), pressGlobal,
                d->pendingPress->button(), d->pendingPress->buttons(), d->pendingPress->modifiers());
            QCoreApplication::sendEvent(handle, &press);
            QMouseEvent move(QEvent::MouseMove, handle->mapFromGlobal(event->globalPos()), event->globalPos(),
                Qt::NoButton, event->buttons(), event->modifiers());
            QCoreApplication::sendEvent(handle, &move);
            d->pendingPress.reset();
            event->accept();
        }
    }
    if (d->tooltip)
        d->showTooltip(valueFromPosition(event->pos()));
}

void KelSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (d->clickMode == 0)
        setSliderDown(false);
    d->pendingPress.reset();
    event->accept();
}

void KelSlider::keyPressEvent(QKeyEvent* event)
{
    if (d->pressedHandle) {
        event->ignore();
        return;
    }
    QAbstractSlider::keyPressEvent(event);
}

void KelSlider::resizeEvent(QResizeEvent* event)
{
    QAbstractSlider::resizeEvent(event);
    d->placeHandle(d->handle->animator->isRunning());
}

void KelSlider::sliderChange(SliderChange change)
{
    const bool animated = d->animateHandle && d->handle->isVisible() && !d->pressedHandle;
    switch (change) {
    case SliderRangeChange:
        d->placeHandle(animated);
        break;
    case SliderOrientationChange:
        d->horizontal = orientation() == Qt::Horizontal;
        d->placeHandle(false);
        break;
    case SliderValueChange:
        if (!d->pressedHandle)
            d->placeHandle(animated);
        break;
    default:
        break;
    }
    QAbstractSlider::sliderChange(change);
}

void KelSlider::paintEvent(QPaintEvent*)
{
    KelPaintContext context(this);
    const QRect contents = contentsRect();
    QRectF groove = contents;
    if (d->horizontal) {
        groove.setTop(groove.top() + std::ceil((contents.height() - d->grooveThickness) / 2.0));
        groove.setHeight(d->grooveThickness);
        if (d->grooveSpanMode == 1)
            groove.adjust(d->handle->width() / 2.0, 0, -d->handle->width() / 2.0, 0);
    } else {
        groove.setLeft(groove.left() + std::ceil((contents.width() - d->grooveThickness) / 2.0));
        groove.setWidth(d->grooveThickness);
        if (d->grooveSpanMode == 1)
            groove.adjust(0, d->handle->height() / 2.0, 0, -d->handle->height() / 2.0);
    }
    QRectF filled;
    if (value() != minimum() || d->markerPosition == 1) {
        const QRectF handle
            = d->handle->isVisible() ? QRectF(d->handle->geometry()) : QRectF(d->handle->geometry().center(), QSizeF());
        const QPointF centre = handle.center();
        filled = groove;
        if (d->horizontal) {
            filled.setRight(centre.x());
            if (d->markerPosition == 1)
                filled.setLeft(groove.center().x());
        } else {
            filled.setTop(centre.y());
            if (d->markerPosition == 1)
                filled.setBottom(groove.center().y());
        }
        filled = filled.normalized();
    }
    groove = context.snapToDevicePixels(groove);
    filled = context.snapToDevicePixels(filled);
    context.painter()->setOpacity(d->disabledAnimator->opacity());
    paintGroove(context, groove, d->grooveColor, filled, d->filledColor);
}

void KelSlider::paintGroove(KelPaintContext& context, const QRectF& groove, const QColor& grooveColor,
    const QRectF& filled, const QColor& filledColor)
{
    // An unset colour would paint black: an unstyled slider shows no groove rather than a black one.
    const auto wanted = [](const QColor& color) { return color.isValid() && color.alpha() > 0; };
    QPainter* painter = context.painter();
    painter->setPen(Qt::NoPen);
    if (wanted(grooveColor)) {
        painter->setBrush(grooveColor);
        KelPainting::drawRoundedRect(*painter, groove, d->grooveRadius);
    }

    const auto drawFilled = [&] {
        if (filled.isEmpty() || !wanted(filledColor))
            return;
        KelRadii radii(d->grooveRadius);
        if (d->markerPosition == 1 && d->grooveRadius >= 1 && !d->markerSize.isEmpty()) {
            // The corners at the centre mark are square.
            const bool rightOfCentre = filled.left() >= groove.center().x() - 0.5;
            if (rightOfCentre)
                radii.topLeft = radii.bottomLeft = 0;
            else
                radii.topRight = radii.bottomRight = 0;
        }
        painter->setBrush(filledColor);
        KelPainting::drawRoundedRect(*painter, filled, radii);
    };

    const QColor markerColor = d->markerColor.isValid() ? d->markerColor : filledColor;
    QVector<double> positions;
    const bool markers = wanted(markerColor) && !d->markerSize.isEmpty() && d->markerPosition != 0
        && !(d->markerPosition == -2 && d->hoverPosition == -1);
    if (markers) {
        // Markers are laid out along the groove's long side.
        const bool h = d->horizontal;
        const double start = h ? groove.left() : groove.top();
        const double end = h ? groove.right() : groove.bottom();
        const double inset = d->grooveSpanMode == 1 ? 0.0 : (h ? d->handle->width() : d->handle->height()) / 2.0;
        if (d->markerPosition == -2) {
            positions.append(qBound(start, double(d->hoverPosition), end));
        } else if (d->markerPosition == -1) {
            if (!filled.isEmpty())
                positions << (h ? filled.left() : filled.top()) << (h ? filled.right() : filled.bottom());
        } else if (d->markerPosition == 1) {
            positions.append(h ? groove.center().x() : groove.center().y());
        } else if (d->markerPosition >= 2) {
            const double first = start + inset;
            const double last = end - inset;
            for (int i = 0; i < d->markerPosition; ++i)
                positions.append(first + (last - first) * i / (d->markerPosition - 1));
        }
    }
    if (d->markerPosition == -2)
        drawFilled();
    const double ratio = context.devicePixelRatio();
    for (double position : positions) {
        const QSizeF size = orientedSize(d->markerSize, d->horizontal);
        QRectF marker(QPointF(0, 0), size);
        if (d->horizontal) {
            marker.moveLeft(KelPainting::snapToDevicePixels(ratio, position - size.width() / 2.0));
            marker.moveTop(groove.center().y() - size.height() / 2.0);
        } else {
            marker.moveTop(KelPainting::snapToDevicePixels(ratio, position - size.height() / 2.0));
            marker.moveLeft(groove.center().x() - size.width() / 2.0);
        }
        const double radius
            = qMin(KelPainting::snapToDevicePixels(ratio, d->markerRadius), qMin(size.width(), size.height()) / 2.0);
        painter->setBrush(markerColor);
        KelPainting::drawRoundedRect(*painter, marker, radius);
    }
    if (d->markerPosition != -2)
        drawFilled();
}

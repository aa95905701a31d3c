#include "widgets/kelscrollarea.h"

#include "animators/kelpropertyanimator.h"
#include "animators/kelwheelanimator.h"
#include "eventfilters/kelqmenustyler.h"
#include "eventfilters/kelscrollareawatcher.h"
#include "styles/kelcolors.h"
#include "styles/kelstyle.h"
#include "widgets/kellinearshadowwidget.h"

#include <QChildEvent>
#include <QDebug>
#include <QEasingCurve>
#include <QPointer>
#include <QPropertyAnimation>
#include <QResizeEvent>
#include <QScrollBar>

#include <map>

namespace {
const int kDefaultWidgetType = 38;
// The style sheet role of the scroll bars' context menus.
const int kMenuStyleRole = 40;
// The tallest minimum an auto-size area asks for.
const int kAutoSizeMinimumHeight = 32;
const int kScrollDuration = 300;
const char* const kProgressProperty = "progress";
} // namespace

class KelScrollArea::Private : public QObject {
    Q_OBJECT
    Q_PROPERTY(double progress READ progress WRITE setProgress)

public:
    explicit Private(KelScrollArea* area)
        : QObject(area)
        , q(area)
    {
    }

    double progress() const { return glideProgress; }

    // The glide writes the scroll values between its two points.
    void setProgress(double value)
    {
        glideProgress = value;
        if (!gliding)
            return;
        const QPointF point = QPointF(from) + (QPointF(to) - QPointF(from)) * value;
        writeValues(point.toPoint());
    }

    void writeValues(const QPoint& point)
    {
        const bool wasWriting = writing;
        writing = true;
        q->horizontalScrollBar()->setValue(point.x());
        q->verticalScrollBar()->setValue(point.y());
        writing = wasWriting;
    }

    void stopGlide()
    {
        gliding = false;
        if (QPropertyAnimation* animation = animator->animation(kProgressProperty))
            animation->stop();
    }

    void onScrollValueChanged()
    {
        // Someone else scrolls (wheel, scroll bar, keys): the glide gives way.
        if (!writing && q->isScrollAnimating())
            stopGlide();
    }

    void updateShadows();

    KelScrollArea* q;
    bool autoSizeEnabled = false;
    std::map<Qt::Edge, QPointer<KelLinearShadowWidget>> edgeShadows;
    KelWheelAnimator* wheelAnimator = nullptr;
    QMargins ensureVisibleMargins;

    QList<QMetaObject::Connection> shadowConnections;
    KelPropertyAnimator* animator = nullptr;
    QPoint from;
    QPoint to;
    double glideProgress = 0.0;
    // Writes of the progress move the scroll values only while a glide is under way.
    bool gliding = false;
    bool writing = false;
};

void KelScrollArea::Private::updateShadows()
{
    // A hidden area has its strips hidden with it; showing it brings them back through here.
    if (q->isHidden())
        return;
    const QScrollBar* h = q->horizontalScrollBar();
    const QScrollBar* v = q->verticalScrollBar();
    const bool hScroll = h->maximum() != h->minimum();
    const bool vScroll = v->maximum() != v->minimum();
    const bool animated = q->isVisible();
    for (const auto& entry : edgeShadows) {
        KelLinearShadowWidget* shadow = entry.second;
        if (!shadow)
            continue;
        bool shown = false;
        switch (entry.first) {
        case Qt::TopEdge:
            shown = vScroll && v->value() > v->minimum();
            break;
        case Qt::BottomEdge:
            shown = vScroll && v->value() < v->maximum();
            break;
        case Qt::LeftEdge:
            shown = hScroll && h->value() > h->minimum();
            break;
        case Qt::RightEdge:
            shown = hScroll && h->value() < h->maximum();
            break;
        }
        shadow->setVisibleAnimated(shown, animated);
        // A strip made visible again with its area, but already at the hidden end of its fade, has no fade
        // left to hide it.
        KelVisibilityAnimatable::VisibilityAnimator* fade = shadow->visibilityAnimator();
        if (!shown && fade && !fade->isActive())
            shadow->hide();
    }
}

KelScrollArea::KelScrollArea(int widgetType, QWidget* parent, bool deferStyle)
    : QScrollArea(parent)
    , KelStyleable(widgetType)
    , d(new Private(this))
{
    setFrameStyle(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);
    setWidgetResizable(true);
    new KelScrollAreaWatcher(this);
    d->wheelAnimator = new KelWheelAnimator(this);
    new KelQMenuStyler(horizontalScrollBar(), kMenuStyleRole);
    new KelQMenuStyler(verticalScrollBar(), kMenuStyleRole);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setWidgetBackgroundColor(this, Qt::transparent);

    d->animator = new KelPropertyAnimator(d);
    d->animator->setupAnimation(d, kProgressProperty,
        KelAnimationParams {
            QEasingCurve::OutCubic, kScrollDuration, QEasingCurve::OutCubic, kScrollDuration, 0.0, 1.0 });
    connect(
        d->animator->animation(kProgressProperty), &QAbstractAnimation::finished, d, [this] { d->gliding = false; });
    for (QScrollBar* bar : { horizontalScrollBar(), verticalScrollBar() })
        connect(bar, &QScrollBar::valueChanged, d, [this] { d->onScrollValueChanged(); });

    if (!deferStyle && isStyled())
        applyStyle();
    setObjectName(QStringLiteral("KelScrollArea"));
}

KelScrollArea::KelScrollArea(QWidget* parent, bool deferStyle)
    : KelScrollArea(kDefaultWidgetType, parent, deferStyle)
{
}

KelScrollArea::~KelScrollArea()
{
    // The strips live beside the area, in its parent: they go with it.
    for (auto& entry : d->edgeShadows)
        delete entry.second.data();
}

bool KelScrollArea::isAutoSizeEnabled() const { return d->autoSizeEnabled; }

void KelScrollArea::setAutoSizeEnabled(bool on)
{
    if (d->autoSizeEnabled == on)
        return;
    d->autoSizeEnabled = on;
    // The viewport announces a content widget set later, so the filter moves to it.
    if (on) {
        viewport()->installEventFilter(this);
        if (widget())
            widget()->installEventFilter(this);
    } else {
        viewport()->removeEventFilter(this);
        if (widget())
            widget()->removeEventFilter(this);
    }
    updateGeometry();
    emit autoSizeEnabledChanged(on);
}

QMargins KelScrollArea::ensureVisibleMargins() const { return d->ensureVisibleMargins; }

void KelScrollArea::setEnsureVisibleMargins(const QMargins& margins) { d->ensureVisibleMargins = margins; }

KelWheelAnimator* KelScrollArea::wheelAnimator() const { return d->wheelAnimator; }

void KelScrollArea::scrollTo(QWidget* target, bool animated)
{
    if (!target)
        return;
    QWidget* content = widget();
    if (!content || !content->isAncestorOf(target)) {
        qWarning() << "Trying to scroll to" << target << "which is not ancestor of scroll area" << this;
        return;
    }
    ensureRectVisible(QRect(target->mapTo(content, QPoint(0, 0)), target->size()), animated);
}

void KelScrollArea::ensureRectVisible(const QRect& rect, bool animated)
{
    int h = horizontalScrollBar()->value();
    int v = verticalScrollBar()->value();
    const QRect r = rect.translated(-h, -v).marginsAdded(d->ensureVisibleMargins);
    const QRect vp = viewport()->rect();
    if (vp.contains(r))
        return;
    if (r.top() < vp.top())
        v += r.top();
    else if (r.bottom() > vp.bottom())
        v += qMin(r.top(), r.bottom() - vp.height() + 1);
    if (r.left() < vp.left())
        h += r.left();
    else if (r.right() > vp.right() && r.left() > vp.left())
        // Right edges are inclusive too: without the 1 the last column would stay hidden.
        h += qMin(r.left(), r.right() - vp.width() + 1);
    scrollToPosition(QPoint(h, v), animated);
}

void KelScrollArea::scrollToPosition(const QPoint& position, bool animated)
{
    const QScrollBar* hBar = horizontalScrollBar();
    const QScrollBar* vBar = verticalScrollBar();
    const QPoint target(
        qBound(hBar->minimum(), position.x(), hBar->maximum()), qBound(vBar->minimum(), position.y(), vBar->maximum()));
    if (!animated) {
        d->stopGlide();
        d->writeValues(target);
        return;
    }
    if (isScrollAnimating() && d->to == target)
        return;
    d->stopGlide();
    if (target == scrollPosition())
        return;
    // Back to the start without moving anything, then glide from where the area stands now.
    d->animator->setValue(kProgressProperty, KelPropertyAnimator::Start, false);
    d->from = scrollPosition();
    d->to = target;
    d->gliding = true;
    d->animator->animateValue(kProgressProperty, KelPropertyAnimator::End);
}

QPoint KelScrollArea::scrollPosition() const
{
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

QAbstractAnimation* KelScrollArea::scrollAnimation() const { return d->animator->animation(kProgressProperty); }

bool KelScrollArea::isScrollAnimating() const
{
    return d->gliding && scrollAnimation()->state() == QAbstractAnimation::Running;
}

void KelScrollArea::setEdgeShadows(Qt::Edges edges, int shadowWidgetType, bool trackScroll)
{
    for (auto& entry : d->edgeShadows)
        delete entry.second.data();
    d->edgeShadows.clear();
    for (const QMetaObject::Connection& connection : qAsConst(d->shadowConnections))
        disconnect(connection);
    d->shadowConnections.clear();

    for (Qt::Edge edge : { Qt::LeftEdge, Qt::TopEdge, Qt::RightEdge, Qt::BottomEdge }) {
        if (edges.testFlag(edge))
            d->edgeShadows[edge]
                = new KelLinearShadowWidget(shadowWidgetType, edge, KelLinearShadowWidget::Inside, this);
    }
    if (edges == Qt::Edges() || !trackScroll)
        return;
    for (QScrollBar* bar : { horizontalScrollBar(), verticalScrollBar() }) {
        d->shadowConnections << connect(bar, &QScrollBar::valueChanged, d, [this] { d->updateShadows(); });
        d->shadowConnections << connect(bar, &QScrollBar::rangeChanged, d, [this] { d->updateShadows(); });
    }
    d->updateShadows();
}

KelLinearShadowWidget* KelScrollArea::edgeShadow(Qt::Edge edge) const
{
    const auto it = d->edgeShadows.find(edge);
    return it == d->edgeShadows.end() ? nullptr : it->second.data();
}

void KelScrollArea::updateLayout()
{
    QResizeEvent event(size(), size());
    resizeEvent(&event);
}

QSize KelScrollArea::sizeHint() const
{
    if (d->autoSizeEnabled && widget())
        return widget()->sizeHint();
    return QScrollArea::sizeHint();
}

QSize KelScrollArea::minimumSizeHint() const
{
    if (d->autoSizeEnabled && widget()) {
        const QSize hint = widget()->sizeHint();
        return QSize(hint.width(), qMin(hint.height(), kAutoSizeMinimumHeight));
    }
    return QScrollArea::minimumSizeHint();
}

bool KelScrollArea::eventFilter(QObject* watched, QEvent* event)
{
    if (d->autoSizeEnabled) {
        if (watched == widget() && event->type() == QEvent::Resize) {
            updateGeometry();
        } else if (watched == viewport() && event->type() == QEvent::ChildAdded) {
            QObject* child = static_cast<QChildEvent*>(event)->child();
            if (child->isWidgetType())
                child->installEventFilter(this);
        }
    }
    return QScrollArea::eventFilter(watched, event);
}

void KelScrollArea::applyStyle()
{
    if (isStyled())
        kelStyle()->applyScrollAreaStyle(this, widgetType());
}

void KelScrollArea::moveEvent(QMoveEvent* event)
{
    QScrollArea::moveEvent(event);
    emit moved(pos());
    emit geometryChanged(geometry());
}

void KelScrollArea::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    emit resized(size());
    emit geometryChanged(geometry());
}

void KelScrollArea::showEvent(QShowEvent* event)
{
    QScrollArea::showEvent(event);
    if (isVisible() && !d->shadowConnections.isEmpty())
        d->updateShadows();
    emit visibilityChanged(true);
    emit showed();
}

void KelScrollArea::hideEvent(QHideEvent* event)
{
    QScrollArea::hideEvent(event);
    emit visibilityChanged(false);
    emit hided();
}

#include "kelscrollarea.moc"

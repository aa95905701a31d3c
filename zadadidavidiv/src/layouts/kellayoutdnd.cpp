#include "layouts/kellayoutdnd.h"

#include "layouts/kelflowlayout.h"
#include "widgets/kelscrollarea.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QBoxLayout>
#include <QDebug>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QSet>
#include <QWidget>

void LayoutUtils::insertWidget(QLayout* layout, int index, QWidget* widget)
{
    if (auto* box = qobject_cast<QBoxLayout*>(layout)) {
        box->insertWidget(index, widget, 0, Qt::Alignment());
    } else if (auto* flow = qobject_cast<KelFlowLayout*>(layout)) {
        flow->insertWidget(index, widget);
    } else {
        qWarning() << "Trying to insert widget into" << layout;
        qFatal("Insert widget is Not implemented");
    }
}

namespace {

const QPoint noPoint(-1, -1);

enum DragState { Idle = 0, LocalArmed = 1, ExternalOver = 2 };

struct DropTarget {
    QPoint point;
    bool inVisibleArea = false;
    bool overSpacer = false;
    bool overIndicator = false;
    QWidget* widget = nullptr;
    int index = -1;
    QPoint pointInWidget;
};

bool isLeftOnly(const QMouseEvent* e) { return e->button() == Qt::LeftButton && e->buttons() == Qt::LeftButton; }

} // namespace

class KelLayoutDnd::Private : public QObject {
public:
    explicit Private(KelLayoutDnd* owner)
        : QObject(owner)
        , owner(owner)
    {
    }

    bool eventFilter(QObject* watchedObject, QEvent* e) override;

    void watch(QObject* child)
    {
        watched.insert(child);
        child->installEventFilter(this);
    }
    void onChildMouseMove(QWidget* child, QMouseEvent* e);
    void onContainerMouseMove(QMouseEvent* e);
    bool handleContainerEvent(QEvent* e);
    DropTarget hitTest(const QPoint& point) const;
    bool updateIndicatorIndex();
    void setIndicatorIndex(int index);
    void stopDrag();
    void takeOut(QWidget* widget) const
    {
        if (layout->indexOf(widget) >= 0)
            layout->removeWidget(widget);
    }

    KelLayoutDnd* owner;
    QLayout* layout = nullptr;
    // Guarded: the container may go first, taking its watched children with it.
    QPointer<QWidget> container;
    QSet<QObject*> watched;
    DropTarget lastDropTarget;
    bool localMove = false;
    bool externalDrop = false;
    qint32 dragState = Idle;
    QPoint pressPoint = noPoint;
    bool dragActive = false;
    QPointer<QWidget> dragged;
    qint32 initialIndex = -1;
    bool dropAllowed = false;
    std::function<bool(const QMimeData*)> dropAcceptor;
    QPointer<QWidget> dropIndicator;
    // The last answer written to the trace during an external drag, so that each change is written once.
    int lastMoveTrace = -1;
    bool hidingDragged = false;
};

bool KelLayoutDnd::Private::eventFilter(QObject* obj, QEvent* e)
{
    // Children are tracked even without an indicator, so that one set later finds every child watched.
    if (obj == container && (e->type() == QEvent::ChildAdded || e->type() == QEvent::ChildRemoved))
        return handleContainerEvent(e);
    if (!layout || !container || !dropIndicator)
        return false;

    if (e->type() == QEvent::FocusOut && dragged && obj == dragged && !hidingDragged) {
        qDebug() << "Dragged widget focus lost, reset current drag";
        stopDrag();
    }

    if (localMove) {
        switch (e->type()) {
        case QEvent::MouseButtonPress: {
            auto* me = static_cast<QMouseEvent*>(e);
            auto* child = qobject_cast<QWidget*>(obj);
            if (isLeftOnly(me) && child && watched.contains(obj) && child->isEnabled() && dragState == Idle)
                pressPoint = me->pos() + child->pos();
            break;
        }
        case QEvent::MouseMove: {
            auto* me = static_cast<QMouseEvent*>(e);
            if (watched.contains(obj))
                onChildMouseMove(static_cast<QWidget*>(obj), me);
            else if (obj == container)
                onContainerMouseMove(me);
            break;
        }
        case QEvent::MouseButtonRelease: {
            auto* me = static_cast<QMouseEvent*>(e);
            if (me->button() != Qt::LeftButton)
                break;
            if (obj == container && QWidget::mouseGrabber() == container) {
                container->releaseMouse();
                pressPoint = noPoint;
                if (dragState == LocalArmed && dragged) {
                    QWidget* moved = dragged;
                    const int from = initialIndex;
                    QWidget* updatesHolder = container->parentWidget();
                    if (updatesHolder)
                        updatesHolder->setUpdatesEnabled(false);
                    const int index = layout->indexOf(dropIndicator);
                    stopDrag();
                    me->accept();
                    if (index >= 0 && from >= 0 && index != from) {
                        // The index was found with the dragged widget out of the layout.
                        takeOut(moved);
                        LayoutUtils::insertWidget(layout, index, moved);
                        emit owner->widgetMoved(moved, from, index);
                    }
                    if (updatesHolder)
                        updatesHolder->setUpdatesEnabled(true);
                }
            } else if (watched.contains(obj)) {
                pressPoint = noPoint;
            }
            break;
        }
        case QEvent::MouseButtonDblClick:
            stopDrag();
            break;
        default:
            break;
        }
    }

    if (e->type() == QEvent::KeyPress && dragActive && static_cast<QKeyEvent*>(e)->matches(QKeySequence::Cancel)) {
        e->accept();
        stopDrag();
        return true;
    }

    if (obj != container)
        return false;
    return handleContainerEvent(e);
}

bool KelLayoutDnd::Private::handleContainerEvent(QEvent* e)
{
    switch (e->type()) {
    case QEvent::ChildAdded: {
        QObject* child = static_cast<QChildEvent*>(e)->child();
        if (child->isWidgetType() && !watched.contains(child))
            watch(child);
        return false;
    }
    case QEvent::ChildRemoved: {
        QObject* child = static_cast<QChildEvent*>(e)->child();
        if (watched.remove(child))
            child->removeEventFilter(this);
        return false;
    }
    case QEvent::WindowBlocked:
        stopDrag();
        return false;
    case QEvent::DragEnter: {
        auto* de = static_cast<QDragEnterEvent*>(e);
        const bool allowed = externalDrop && (!dropAcceptor || dropAcceptor(de->mimeData()));
        de->setAccepted(allowed);
        if (allowed) {
            // Shown as large as the rows it stands between; a row-less layout lets it take its own size hint.
            QLayoutItem* first = layout->count() > 0 ? layout->itemAt(0) : nullptr;
            if (first && first->widget() && first->widget() != dropIndicator) {
                dropIndicator->setFixedSize(first->widget()->size());
            } else {
                dropIndicator->setMinimumSize(0, 0);
                dropIndicator->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
            }
            dragState = ExternalOver;
            de->setDropAction(Qt::CopyAction);
        }
        lastMoveTrace = -1;
        qDebug() << (allowed ? "Enter: Allow drop" : "Enter: Reject drop");
        return true;
    }
    case QEvent::DragMove: {
        auto* de = static_cast<QDragMoveEvent*>(e);
        if (dragState != ExternalOver) {
            de->ignore();
            return true;
        }
        lastDropTarget = hitTest(de->pos());
        const bool allowed = updateIndicatorIndex();
        de->setAccepted(allowed);
        if (int(allowed) != lastMoveTrace) {
            lastMoveTrace = int(allowed);
            qDebug() << (allowed ? "Move: Allow drop" : "Move: Reject drop");
        }
        return true;
    }
    case QEvent::Drop: {
        auto* de = static_cast<QDropEvent*>(e);
        const int index = layout->indexOf(dropIndicator);
        stopDrag();
        qDebug() << "Current drop target index:" << index;
        if (index >= 0) {
            de->acceptProposedAction();
            qDebug() << "Notify dropped";
            emit owner->dropped(de->mimeData(), de->proposedAction(), index);
        } else {
            de->ignore();
        }
        return true;
    }
    case QEvent::DragLeave:
        if (dragState == ExternalOver) {
            qDebug() << "Leave";
            stopDrag();
        }
        return true;
    default:
        return false;
    }
}

void KelLayoutDnd::Private::onChildMouseMove(QWidget* child, QMouseEvent* e)
{
    if (pressPoint == noPoint || !(e->buttons() & Qt::LeftButton) || dragState != Idle)
        return;
    if ((e->pos() + child->pos() - pressPoint).manhattanLength() < QApplication::startDragDistance())
        return;
    const DropTarget target = hitTest(pressPoint);
    if (!target.widget) {
        pressPoint = noPoint;
        return;
    }
    dragged = target.widget;
    dragState = LocalArmed;
    dropIndicator->setFixedSize(target.widget->size());
    initialIndex = layout->indexOf(target.widget);
    e->accept();
    container->grabMouse();
}

void KelLayoutDnd::Private::onContainerMouseMove(QMouseEvent* e)
{
    e->ignore();
    if (pressPoint == noPoint || QWidget::mouseGrabber() != container)
        return;
    if (dragState != LocalArmed || !dragged)
        return;
    lastDropTarget = hitTest(e->pos());
    if (dragActive) {
        updateIndicatorIndex();
        e->accept();
        return;
    }
    if ((e->pos() - pressPoint).manhattanLength() >= QApplication::startDragDistance()) {
        dragActive = true;
        updateIndicatorIndex();
        // Through global coordinates: QWidget::mapFrom dereferences null when the container is not
        // an ancestor of the dragged widget (a row re-parented while the press was held).
        emit owner->dragStarted(dragged, dragged->mapFromGlobal(container->mapToGlobal(pressPoint)));
    }
    e->accept();
}

DropTarget KelLayoutDnd::Private::hitTest(const QPoint& point) const
{
    DropTarget target;
    target.point = point;
    const QRect area = layout->geometry().marginsRemoved(layout->contentsMargins());
    const QRect bounded(area.topLeft(), area.size().expandedTo(QSize(1, 1)));
    if (container->rect().contains(point) && !bounded.contains(point)) {
        target.point.setX(qBound(bounded.left(), point.x(), bounded.left() + bounded.width() - 1));
        target.point.setY(qBound(bounded.top(), point.y(), bounded.top() + bounded.height() - 1));
    }
    if (!bounded.contains(target.point))
        return target;
    target.inVisibleArea = container->visibleRegion().contains(point);
    if (!target.inVisibleArea)
        return target;

    int horizontal = 0;
    int vertical = 0;
    if (auto* box = qobject_cast<QBoxLayout*>(layout)) {
        const bool across = box->direction() == QBoxLayout::LeftToRight || box->direction() == QBoxLayout::RightToLeft;
        (across ? horizontal : vertical) = box->spacing();
    } else if (auto* flow = qobject_cast<KelFlowLayout*>(layout)) {
        horizontal = flow->horizontalSpacing();
        vertical = flow->verticalSpacing();
    }
    horizontal = qMax(horizontal, 0);
    vertical = qMax(vertical, 0);
    const QMargins shared(horizontal / 2, vertical / 2, horizontal - horizontal / 2, vertical - vertical / 2);

    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (!item->geometry().marginsAdded(shared).contains(target.point))
            continue;
        if (item->spacerItem()) {
            target.overSpacer = true;
        } else if (item->widget() && item->widget() == dropIndicator) {
            target.overIndicator = true;
        } else if (QWidget* w = item->widget()) {
            target.widget = w;
            target.index = i;
            target.pointInWidget = target.point - w->pos();
        }
        break;
    }
    return target;
}

bool KelLayoutDnd::Private::updateIndicatorIndex()
{
    if (!layout || !container || !dropIndicator)
        return false;
    bool allowed = false;
    const DropTarget& target = lastDropTarget;
    if (!target.inVisibleArea) {
        qDebug() << "Out of visible area, reject drop";
        setIndicatorIndex(-1);
    } else if (target.overIndicator) {
        qDebug() << "Over existing dropIndicator, allow drop";
        allowed = true;
    } else if (target.widget && target.index >= 0) {
        qDebug() << "Over another widget, allow drop";
        const int i = target.index;
        int newIndex = i;
        if (dropIndicator->height() < target.widget->height()) {
            const int current = layout->indexOf(dropIndicator);
            const bool after = target.pointInWidget.y() > target.widget->height() / 2;
            if (current < 0)
                newIndex = after ? i + 1 : i;
            else if (after)
                newIndex = current < i ? i : i + 1;
            else
                newIndex = current > i ? i : i - 1;
            const int maxIndex = current < 0 ? layout->count() : layout->count() - 1;
            const int bounded = qBound(-1, newIndex, maxIndex);
            qDebug() << "  small indicator, currDropIndex" << current << ", dropAfter" << after << ", newDropIndex"
                     << newIndex << ", maxDropIndex" << maxIndex << "bounded" << bounded;
            newIndex = bounded;
        }
        setIndicatorIndex(newIndex);
        lastDropTarget = hitTest(lastDropTarget.point);
        allowed = true;
    } else if (target.overSpacer) {
        qWarning() << "Over spacer, NOT IMPLEMENTED! Please don't use spacers inside layout for dnd or check following "
                      "code";
    } else {
        qDebug() << "First dropped item";
        setIndicatorIndex(0);
        lastDropTarget = hitTest(lastDropTarget.point);
        allowed = true;
    }
    if (allowed != dropAllowed) {
        dropAllowed = allowed;
        emit owner->dropAllowedChanged(allowed);
    }
    return allowed;
}

void KelLayoutDnd::Private::setIndicatorIndex(int index)
{
    if (!layout || !container || !dropIndicator)
        return;
    const int current = layout->indexOf(dropIndicator);
    if (index >= 0) {
        if (current == index)
            return;
        qDebug() << " - currDropIndex:" << current << ", newDropIndex:" << index
                 << ", dropIsVisible:" << dropIndicator->isVisible();
        takeOut(dropIndicator);
        if (dragState == LocalArmed && dragged && dragged->isVisible()) {
            takeOut(dragged);
            // Hiding a focused widget hands its focus on; that is not the user leaving the drag.
            hidingDragged = true;
            dragged->hide();
            hidingDragged = false;
        }
        LayoutUtils::insertWidget(layout, index, dropIndicator);
        if (dropIndicator->isHidden()) {
            dropIndicator->show();
            emit owner->dropIndicatorVisibilityChanged(true);
        }
        QWidget* viewport = container->parentWidget();
        if (viewport && viewport->objectName() == QLatin1String("qt_scrollarea_viewport")) {
            // Toolkit scroll areas update their scroll bars and tell their listeners; plain ones need nothing.
            if (auto* area = qobject_cast<KelScrollArea*>(viewport->parent()))
                area->refreshGeometry();
        }
        layout->activate();
        emit owner->dropIndicatorGeometryChanged(
            QRect(dropIndicator->mapTo(container, QPoint(0, 0)), dropIndicator->size()));
        return;
    }
    if (dragState == LocalArmed && dragged && layout->indexOf(dragged) < 0) {
        qDebug() << " - insert dragged widget back into layout at initial pos:" << initialIndex;
        takeOut(dropIndicator);
        LayoutUtils::insertWidget(layout, initialIndex, dragged);
        dragged->show();
    }
    if (dropIndicator->isVisible() || layout->indexOf(dropIndicator) >= 0) {
        const bool wasShown = !dropIndicator->isHidden();
        dropIndicator->hide();
        takeOut(dropIndicator);
        if (wasShown)
            emit owner->dropIndicatorVisibilityChanged(false);
    }
}

void KelLayoutDnd::Private::stopDrag()
{
    if (dropIndicator)
        setIndicatorIndex(-1);
    if (dragState == LocalArmed)
        dragged = nullptr;
    if (container && QWidget::mouseGrabber() == container)
        container->releaseMouse();
    if (container && QWidget::keyboardGrabber() == container)
        container->releaseKeyboard();
    pressPoint = noPoint;
    dragState = Idle;
    if (dropAllowed) {
        dropAllowed = false;
        emit owner->dropAllowedChanged(false);
    }
    if (dragActive) {
        dragActive = false;
        emit owner->dragStopped();
    }
}

KelLayoutDnd::KelLayoutDnd(QObject* parent)
    : QObject(parent)
    , d(new Private(this))
{
}

KelLayoutDnd::~KelLayoutDnd() = default;

void KelLayoutDnd::setLayout(QLayout* layout)
{
    if (layout == d->layout)
        return;
    d->stopDrag();
    if (d->container) {
        d->container->removeEventFilter(d);
        for (QObject* child : qAsConst(d->watched))
            child->removeEventFilter(d);
    }
    d->watched.clear();
    if (!layout) {
        d->layout = nullptr;
        d->container = nullptr;
        if (d->dropIndicator)
            d->dropIndicator->setParent(nullptr);
        return;
    }
    d->layout = layout;
    d->container = layout->parentWidget();
    if (!d->container)
        return;
    d->container->installEventFilter(d);
    d->container->setAcceptDrops(d->localMove || d->externalDrop);
    const auto children = d->container->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* child : children)
        d->watch(child);
    if (d->dropIndicator && d->dropIndicator->parentWidget() != d->container) {
        d->dropIndicator->setParent(d->container);
        d->dropIndicator->hide();
    }
}

QLayout* KelLayoutDnd::layout() const { return d->layout; }

bool KelLayoutDnd::localMoveEnabled() const { return d->localMove; }

void KelLayoutDnd::setLocalMoveEnabled(bool enabled)
{
    if (enabled == d->localMove)
        return;
    if (!enabled)
        d->stopDrag();
    d->localMove = enabled;
    if (d->container)
        d->container->setAcceptDrops(d->localMove || d->externalDrop);
    emit localMoveEnabledChanged(enabled);
}

bool KelLayoutDnd::externalDropEnabled() const { return d->externalDrop; }

void KelLayoutDnd::setExternalDropEnabled(bool enabled)
{
    if (enabled == d->externalDrop)
        return;
    d->externalDrop = enabled;
    if (d->container)
        d->container->setAcceptDrops(d->localMove || d->externalDrop);
    emit externalDropEnabledChanged(enabled);
}

void KelLayoutDnd::setDropIndicator(QWidget* indicator)
{
    if (indicator == d->dropIndicator)
        return;
    d->stopDrag();
    d->dropIndicator = indicator;
    if (indicator && d->container) {
        indicator->setParent(d->container);
        indicator->hide();
    }
}

QWidget* KelLayoutDnd::dropIndicator() const { return d->dropIndicator; }

void KelLayoutDnd::setDropAcceptor(std::function<bool(const QMimeData*)> acceptor)
{
    d->dropAcceptor = std::move(acceptor);
}

void KelLayoutDnd::stopDrag() { d->stopDrag(); }

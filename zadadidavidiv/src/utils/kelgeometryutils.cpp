#include "utils/kelgeometryutils.h"

#include <QDebug>
#include <QGuiApplication>
#include <QScreen>
#include <QVarLengthArray>
#include <QWidget>
#include <QWindow>

namespace {

// Moves the span [first, last] into [low, high) and cuts it when it is longer.
void fitSpan(int& first, int& last, int low, int high)
{
    if (first < low) {
        last += low - first;
        first = low;
    }
    if (last > high - 1) {
        first -= last - (high - 1);
        last = high - 1;
    }
    if (first < low)
        first = low;
}

// Places a rectangle of the size in the outer one; integer rectangles centre with integer division.
// Both forms start at the outer top-left, so an axis without a flag keeps to the outer rectangle.
template <typename Rect, typename Size>
Rect placeAligned(Qt::Alignment alignment, const Rect& outer, const Size& size, bool clip)
{
    Rect result(outer.topLeft(), size);
    if (alignment & Qt::AlignLeft)
        result.moveLeft(outer.left());
    if (alignment & Qt::AlignHCenter)
        result.moveLeft(outer.x() + (outer.width() - size.width()) / 2);
    if (alignment & Qt::AlignRight)
        result.moveRight(outer.right());
    if (alignment & Qt::AlignTop)
        result.moveTop(outer.top());
    if (alignment & Qt::AlignVCenter)
        result.moveTop(outer.top() + (outer.height() - size.height()) / 2);
    if (alignment & Qt::AlignBottom)
        result.moveBottom(outer.bottom());
    return clip ? result.intersected(outer) : result;
}

} // namespace

namespace KelUtils {

QFont makeFont(int pixelSize, int weight, const QString& family)
{
    QFont font(family);
    if (pixelSize > 0)
        font.setPixelSize(pixelSize);
    if (weight >= 0 && weight <= 99)
        font.setWeight(weight);
    return font;
}

void setWidgetFont(QWidget* widget, int pixelSize, int weight, const QString& family)
{
    if (!widget)
        return;
    QFont font = widget->font();
    bool changed = false;
    if (font.family() != family) {
        font.setFamily(family);
        changed = true;
    }
    if (pixelSize > 0 && font.pixelSize() != pixelSize) {
        font.setPixelSize(pixelSize);
        changed = true;
    }
    if (weight >= 0 && weight <= 99 && font.weight() != weight) {
        font.setWeight(weight);
        changed = true;
    }
    if (changed)
        widget->setFont(font);
}

QRect alignRect(Qt::Alignment alignment, const QRect& outer, const QSize& size, bool clip)
{
    return size == outer.size() ? outer : placeAligned(alignment, outer, size, clip);
}

QRectF alignRect(Qt::Alignment alignment, const QRectF& outer, const QSizeF& size, bool clip)
{
    if (qFuzzyCompare(size.width(), outer.width()) && qFuzzyCompare(size.height(), outer.height()))
        return outer;
    return placeAligned(alignment, outer, size, clip);
}

QRect alignedRect(
    const QRect& anchor, const QRect& rect, Qt::Edge edge, Qt::AlignmentFlag alignment, const QPoint& offset)
{
    QRect result = rect;
    const int gap = offset.x();
    const int shift = offset.y();
    switch (edge) {
    case Qt::TopEdge:
        result.moveBottom(anchor.top() - gap - 1);
        break;
    case Qt::LeftEdge:
        result.moveRight(anchor.left() - gap - 1);
        break;
    case Qt::RightEdge:
        result.moveLeft(anchor.left() + anchor.width() + gap);
        break;
    case Qt::BottomEdge:
        result.moveTop(anchor.top() + anchor.height() + gap);
        break;
    }

    QPoint centre = result.center();
    switch (alignment) {
    case Qt::AlignLeft:
        result.moveLeft(anchor.left() + shift);
        break;
    case Qt::AlignRight:
        result.moveRight(anchor.right() + shift);
        break;
    case Qt::AlignHCenter:
        centre.setX(anchor.center().x() + shift);
        result.moveCenter(centre);
        break;
    case Qt::AlignTop:
        result.moveTop(anchor.top() + shift);
        break;
    case Qt::AlignBottom:
        result.moveBottom(anchor.bottom() + shift);
        break;
    case Qt::AlignVCenter:
        centre.setY(anchor.center().y() + shift);
        result.moveCenter(centre);
        break;
    case Qt::AlignJustify:
        // Keep the rectangle covering the anchor along the edge.
        if (edge == Qt::LeftEdge || edge == Qt::RightEdge) {
            if (result.top() > anchor.top() + shift)
                result.moveTop(anchor.top() + shift);
            else if (result.bottom() < anchor.bottom() + shift)
                result.moveBottom(anchor.bottom() + shift);
        } else {
            if (result.left() > anchor.left() + shift)
                result.moveLeft(anchor.left() + shift);
            else if (result.right() < anchor.right() + shift)
                result.moveRight(anchor.right() + shift);
        }
        break;
    default:
        qWarning("NOT IMPLEMENTED");
        break;
    }
    return result;
}

QRect fitIntoAvailableGeometry(const QRect& reference, const QRect& rect, int rowStep, int margin)
{
    QScreen* screen = screenAt(reference.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return rect;
    const QRect available = screen->availableGeometry();
    const int left = available.x();
    const int right = available.x() + available.width();
    int top = available.y();
    const int bottom = available.y() + available.height();
    const int usableHeight = bottom - 2 * margin - top;
    if (rowStep > 1 && usableHeight > 0)
        top += usableHeight % rowStep;

    int x1 = rect.left(), x2 = rect.right(), y1 = rect.top(), y2 = rect.bottom();
    fitSpan(x1, x2, left, right);
    fitSpan(y1, y2, top, bottom);
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

QRect fitIntoWindow(const QRect& rect, const QWidget* window)
{
    if (!window || !window->isVisible())
        return rect;
    QRect area = window->frameGeometry();
    if (QScreen* screen = screenAt(rect.center()))
        area = area.intersected(screen->availableGeometry());
    int x1 = rect.left(), x2 = rect.right(), y1 = rect.top(), y2 = rect.bottom();
    if (rect.width() <= area.width())
        fitSpan(x1, x2, area.left(), area.left() + area.width());
    if (rect.height() <= area.height())
        fitSpan(y1, y2, area.top(), area.top() + area.height());
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

QRect fitRectIntoRect(const QRect& rect, const QRect& bounds, Qt::AspectRatioMode mode)
{
    if (mode == Qt::IgnoreAspectRatio)
        return rect.intersected(bounds);
    QRect result = rect;
    if (result.width() > bounds.width() || result.height() > bounds.height())
        result.setSize(result.size().scaled(bounds.size(), mode));
    if (result.left() < bounds.left())
        result.moveLeft(bounds.left());
    if (result.top() < bounds.top())
        result.moveTop(bounds.top());
    if (result.right() > bounds.right())
        result.moveRight(bounds.right());
    if (result.bottom() > bounds.bottom())
        result.moveBottom(bounds.bottom());
    return result;
}

QRect globalGeometry(const QWidget* widget)
{
    if (!widget)
        return QRect();
    return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

QScreen* screenAt(const QPoint& globalPos)
{
    QVarLengthArray<const QScreen*, 8> visited;
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (const QScreen* screen : screens) {
        if (visited.contains(screen))
            continue;
        const QList<QScreen*> siblings = screen->virtualSiblings();
        for (QScreen* sibling : siblings) {
            // A point on the right or bottom edge (x = screen x + width) still belongs to the screen.
            if (sibling->geometry().adjusted(0, 0, 1, 1).contains(globalPos))
                return sibling;
            visited.append(sibling);
        }
    }
    return nullptr;
}

QScreen* screenOf(const QWidget* widget) { return widget ? widget->screen() : nullptr; }

QPoint mapDeviceToWidget(const QWidget* widget, const QPoint& devicePos)
{
    const QWidget* window = widget ? widget->window() : nullptr;
    if (!window)
        return QPoint();
    const QWindow* handle = window->windowHandle();
    if (!handle || !window->testAttribute(Qt::WA_WState_Created)) {
        qCritical() << "Native window is not created for" << window << ", can't map from device pos!" << devicePos;
        return QPoint();
    }
    // Qt scales logical positions around the origin of the window's screen; the window's client origin
    // in device pixels follows from its logical global position the same way.
    const QScreen* screen = handle->screen();
    const QPointF origin = screen ? QPointF(screen->geometry().topLeft()) : QPointF();
    const double ratio = window->devicePixelRatioF();
    const QPointF clientOrigin = (QPointF(window->mapToGlobal(QPoint(0, 0))) - origin) * ratio + origin;
    const QPointF client = QPointF(devicePos) - clientOrigin;
    const QPoint logical(qRound(client.x() / ratio), qRound(client.y() / ratio));
    return logical - widget->mapTo(window, QPoint(0, 0));
}

} // namespace KelUtils

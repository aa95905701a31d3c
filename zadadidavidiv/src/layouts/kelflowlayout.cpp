#include "layouts/kelflowlayout.h"

#include <QDebug>
#include <QStyle>
#include <QWidget>

class KelFlowLayout::Private {
public:
    int cachedWidth = -1;
    int cachedHeight = -1;
    QSize cachedMinimumSize;
    QList<QLayoutItem*> items;
    int horizontalSpacing = -1;
    int verticalSpacing = -1;
    bool uniformItemSizes = false;
    StretchMode stretchMode = NoStretch;
};

namespace {

// Hidden widgets report an empty size, so the uniform size comes from the first item that takes place.
QLayoutItem* firstVisibleItem(const QList<QLayoutItem*>& items)
{
    for (QLayoutItem* item : items) {
        if (!item->isEmpty())
            return item;
    }
    return nullptr;
}

int visibleCount(const QList<QLayoutItem*>& items)
{
    int count = 0;
    for (const QLayoutItem* item : items) {
        if (!item->isEmpty())
            ++count;
    }
    return count;
}

} // namespace

KelFlowLayout::KelFlowLayout(QWidget* parent, const QMargins& margins, int horizontalSpacing, int verticalSpacing)
    : QLayout(parent)
    , d(std::make_unique<Private>())
{
    d->horizontalSpacing = horizontalSpacing;
    d->verticalSpacing = verticalSpacing;
    setContentsMargins(margins);
}

KelFlowLayout::~KelFlowLayout()
{
    qDeleteAll(d->items);
    d->items.clear();
}

int KelFlowLayout::spacing(QStyle::PixelMetric metric, int stored) const
{
    if (stored >= 0)
        return stored;
    QObject* owner = parent();
    if (!owner)
        return -1;
    if (owner->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(owner);
        return widget->style()->pixelMetric(metric, nullptr, widget);
    }
    if (auto* layout = qobject_cast<QLayout*>(owner))
        return layout->spacing();
    return -1;
}

int KelFlowLayout::horizontalSpacing() const
{
    return spacing(QStyle::PM_LayoutHorizontalSpacing, d->horizontalSpacing);
}

int KelFlowLayout::verticalSpacing() const { return spacing(QStyle::PM_LayoutVerticalSpacing, d->verticalSpacing); }

void KelFlowLayout::setUniformItemSizes(bool uniform)
{
    if (d->uniformItemSizes == uniform)
        return;
    d->uniformItemSizes = uniform;
    invalidate();
}

bool KelFlowLayout::uniformItemSizes() const { return d->uniformItemSizes; }

void KelFlowLayout::setStretchMode(StretchMode mode)
{
    if (d->stretchMode == mode)
        return;
    d->stretchMode = mode;
    invalidate();
}

KelFlowLayout::StretchMode KelFlowLayout::stretchMode() const { return d->stretchMode; }

void KelFlowLayout::addItem(QLayoutItem* item)
{
    d->items.append(item);
    invalidate();
}

void KelFlowLayout::insertItem(int index, QLayoutItem* item)
{
    if (index < 0 || index > d->items.size())
        index = d->items.size();
    d->items.insert(index, item);
    invalidate();
}

void KelFlowLayout::insertWidget(int index, QWidget* widget)
{
    if (!widget) {
        qWarning() << "KelFlowLayout: Cannot add a null widget to" << this;
        return;
    }
    if (widget == parentWidget()) {
        qWarning() << "KelFlowLayout: Cannot add parent widget" << widget << "to its child layout" << this;
        return;
    }
    addChildWidget(widget);
    insertItem(index, new QWidgetItemV2(widget));
}

int KelFlowLayout::count() const { return d->items.size(); }

QLayoutItem* KelFlowLayout::itemAt(int index) const
{
    return index >= 0 && index < d->items.size() ? d->items.at(index) : nullptr;
}

QLayoutItem* KelFlowLayout::takeAt(int index)
{
    if (index < 0 || index >= d->items.size())
        return nullptr;
    QLayoutItem* item = d->items.takeAt(index);
    invalidate();
    return item;
}

Qt::Orientations KelFlowLayout::expandingDirections() const { return {}; }

bool KelFlowLayout::hasHeightForWidth() const { return true; }

int KelFlowLayout::heightForWidth(int width) const
{
    if (width != d->cachedWidth) {
        d->cachedWidth = width;
        d->cachedHeight = doLayout(QRect(0, 0, width, 0), d->items, true);
    }
    return d->cachedHeight;
}

int KelFlowLayout::minimumHeightForWidth(int width) const { return heightForWidth(width); }

QSize KelFlowLayout::minimumSize() const
{
    if (d->cachedMinimumSize.isValid())
        return d->cachedMinimumSize;
    QSize size(0, 0);
    if (d->uniformItemSizes) {
        if (const QLayoutItem* first = firstVisibleItem(d->items))
            size = first->minimumSize();
    } else {
        for (const QLayoutItem* item : qAsConst(d->items)) {
            if (!item->isEmpty())
                size = size.expandedTo(item->minimumSize());
        }
    }
    const QMargins margins = contentsMargins();
    size += QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
    d->cachedMinimumSize = size;
    return size;
}

QSize KelFlowLayout::sizeHint() const { return minimumSize(); }

void KelFlowLayout::setGeometry(const QRect& rect)
{
    if (rect == geometry())
        return;
    QLayout::setGeometry(rect);
    doLayout(rect, d->items, false);
}

void KelFlowLayout::invalidate()
{
    d->cachedWidth = -1;
    d->cachedHeight = -1;
    d->cachedMinimumSize = QSize();
    QLayout::invalidate();
}

int KelFlowLayout::doLayout(const QRect& rect, QList<QLayoutItem*> items, bool testOnly) const
{
    int left, top, right, bottom;
    getContentsMargins(&left, &top, &right, &bottom);
    // A style without layout spacing answers -1: no gap rather than overlapping items.
    const int hs = qMax(0, horizontalSpacing());
    const int vs = qMax(0, verticalSpacing());

    QSize cell;
    if (d->uniformItemSizes) {
        if (const QLayoutItem* first = firstVisibleItem(items)) {
            const QSize hint = first->sizeHint();
            cell = hint;
            if (d->stretchMode != NoStretch) {
                const int pitch = hint.width() + hs;
                const int available = rect.width() - left - right + hs;
                const int columns = qMax(1, (available - pitch / 2) / qMax(1, pitch));
                if (d->stretchMode == Stretch || visibleCount(items) > columns) {
                    const int cellWidth = available / columns - hs;
                    const double scale = double(cellWidth) / qMax(1, hint.width());
                    cell = QSize(cellWidth, qRound(hint.height() * scale));
                }
            }
        }
    } else if (d->stretchMode != NoStretch) {
        qFatal("KelFlowLayout::Stretch with non-uniformItemSizes is  not implemented yet");
    }

    int x = rect.x() + left;
    int y = rect.y() + top;
    const int rightEdge = rect.left() + rect.width() - right;
    int lineHeight = 0;
    for (QLayoutItem* item : qAsConst(items)) {
        if (item->isEmpty())
            continue;
        const QSize size = d->uniformItemSizes ? cell : item->sizeHint();
        int nextX = x + size.width() + hs;
        if (x + size.width() > rightEdge && lineHeight > 0) {
            x = rect.x() + left;
            y = y + lineHeight + vs;
            nextX = x + size.width() + hs;
            lineHeight = 0;
        }
        if (!testOnly)
            item->setGeometry(QRect(QPoint(x, y), size));
        x = nextX;
        lineHeight = qMax(lineHeight, size.height());
    }
    return y + lineHeight - rect.y() + bottom;
}

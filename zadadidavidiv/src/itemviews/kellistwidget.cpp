#include "itemviews/kellistwidget.h"

#include "itemviews/kellistwidgetitem.h"
#include "layouts/kelflowlayout.h"
#include "layouts/kellayoutdnd.h"
#include "layouts/kellayoutreplacer.h"
#include "widgets/kelbutton.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDebug>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPersistentModelIndex>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSpacerItem>
#include <QTimer>

#include <algorithm>

namespace {

QWidget* asWidget(KelListWidgetItem* item) { return dynamic_cast<QWidget*>(item); }

// Where the rows of the windowed mode lie in the content widget. A line is a row of a box layout or a
// wrapped line of cards in a flow layout, as tall as its tallest card.
struct WindowGeometry {
    QVector<int> lineFirstRow;
    QVector<int> lineTop;
    QVector<int> lineHeight;
    QVector<int> rowX; // flow layouts only
    int rowLeft = 0; // box layouts only
    int rowWidth = 0;
    int height = 0;

    int lineOfRow(int row) const
    {
        return int(std::upper_bound(lineFirstRow.begin(), lineFirstRow.end(), row) - lineFirstRow.begin()) - 1;
    }
    // The last line starting above y, or 0.
    int lineAt(int y) const
    {
        return qMax(0, int(std::upper_bound(lineTop.begin(), lineTop.end(), y) - lineTop.begin()) - 1);
    }
};

} // namespace

class KelListWidget::Private : public QObject {
public:
    explicit Private(KelListWidget* owner)
        : QObject(owner)
        , dnd(new KelLayoutDnd(this))
        , owner(owner)
        , replacer(new KelLayoutReplacer(owner))
    {
        hardWorkTimer.setInterval(0);
        hardWorkTimer.setSingleShot(true);
        measureTimer.setInterval(0);
        measureTimer.setSingleShot(true);
    }

    QLayout* layout() const { return replacer->currentLayout(); }
    QWidget* widgetAt(int pos) const
    {
        QLayoutItem* item = layout() ? layout()->itemAt(pos) : nullptr;
        return item ? item->widget() : nullptr;
    }
    QModelIndex indexAt(int row) const { return model->index(row, 0, root); }
    bool isRoot(const QModelIndex& parent) const { return parent == QModelIndex(root); }
    QString name() const
    {
        if (!model)
            return QStringLiteral("Null model");
        return model->objectName().isEmpty() ? QString::fromLatin1(model->metaObject()->className())
                                             : model->objectName();
    }

    void startHardWork();
    void onHardWorkTimeout();
    void makeItem(int row);
    void removeItems(int first, int last);
    void parkAll()
    {
        if (layout() && layout()->count() > 0)
            removeItems(0, layout()->count() - 1);
    }
    void emitRowCount() { emit owner->rowCountChanged(model ? model->rowCount(root) : 0); }

    int rowCount() const { return model ? model->rowCount(root) : 0; }
    QSize extentOf(int row) const { return extent(indexAt(row), replacer->currentLayoutId()); }
    QSize estimated() const { return estimate ? estimate(replacer->currentLayoutId()) : QSize(); }
    void measureAll();
    void fillExtents(int first, int last);
    bool measureRows(int first, int last);
    void markUnmeasured(int first, int last);
    void measureWhileIdle();
    void remeasure();
    void layOutLines();
    QRect rowRect(int row) const;
    void windowRows(int* first, int* last) const;
    void realise();
    void realiseLater();
    void realiseNow()
    {
        if (realisePending)
            realise();
    }
    KelListWidgetItem* takeItem(int row);
    void park(KelListWidgetItem* item);
    void parkWindow();
    // Keeps the row at the top of the viewport where it is across a change of rows before it.
    int anchorRow(int* offset) const;
    void relayOutAt(int row, int offset);
    void relayOutKeeping(int row, int offset);
    void windowedReset();
    void windowedInsert(int first, int last);
    void windowedRemove(int first, int last);
    void windowedRefresh();
    void windowedDataChanged(int first, int last);
    bool windowedKey(int key);
    bool eventFilter(QObject* watched, QEvent* event) override;

    void onModelReset();
    void onModelRowsInserted(const QModelIndex& parent, int first, int last);
    void onModelRowsRemoved(const QModelIndex& parent, int first, int last);
    void onModelRowsMoved(const QModelIndex& parent, int start, int end, const QModelIndex& destination, int row);
    void onModelDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QVector<int>& roles);
    void onModelLayoutChanged(const QList<QPersistentModelIndex>& parents);
    void onLocalMovePerformed(QWidget* widget, int from, int to);
    void onExternalDndPerformed(const QMimeData* data, Qt::DropAction action, int row);

    bool navigable(int pos) const { return navigableWidget(widgetAt(pos)); }
    static bool navigableWidget(QWidget* w);
    static bool isCurrent(QWidget* w);
    int currentPosition() const;
    bool activate(int pos) { return activateWidget(widgetAt(pos)); }
    static bool activateWidget(QWidget* w);
    bool activateNext(int from, int step);
    bool activateVertical(int current, int direction);
    bool handleKey(int key);

    KelLayoutDnd* dnd;
    bool keyboardNavigation = false;
    KelListWidget* owner;
    QAbstractItemModel* model = nullptr;
    QPersistentModelIndex root;
    KelLayoutReplacer* replacer;
    ItemFactory factory;
    QVector<KelListWidgetItem*> spares;
    QTimer hardWorkTimer;
    QPixmap snapshot;
    QElapsedTimer stopwatch;
    bool internalMove = false;

    QWidget* content = nullptr;
    QVBoxLayout* contentLayout = nullptr;

    bool windowed = false;
    ExtentFunction extent;
    EstimateFunction estimate;
    QVector<QSize> extents;
    // Whether a row's extent is its own or the estimate; as long as extents.
    QVector<bool> measured;
    int unmeasured = 0;
    // No row before it waits for measuring.
    int measureCursor = 0;
    QTimer measureTimer;
    WindowGeometry geometry;
    QMap<int, KelListWidgetItem*> realised;
    bool realising = false;
    bool realisePending = false;
    bool relayoutPending = false;
    bool rowsFollowWidth = false;
    qint64 layOutTime = 0;
};

void KelListWidget::Private::measureAll()
{
    const int count = rowCount();
    extents.resize(count);
    measured.resize(count);
    unmeasured = 0;
    measureCursor = 0;
    fillExtents(0, count - 1);
}

// Measures the rows, or has them stand at the estimate until they are needed or the loop is idle.
void KelListWidget::Private::fillExtents(int first, int last)
{
    const QSize guess = estimated();
    for (int row = first; row <= last; ++row) {
        measured[row] = !guess.isValid();
        extents[row] = measured[row] ? extentOf(row) : guess;
    }
    if (!guess.isValid() || last < first)
        return;
    unmeasured += last - first + 1;
    measureCursor = qMin(measureCursor, first);
    measureTimer.start();
}

// The rows keep their sizes as stand-ins until they are measured again, near the view first.
void KelListWidget::Private::markUnmeasured(int first, int last)
{
    first = qMax(0, first);
    last = qMin(last, measured.size() - 1);
    for (int row = first; row <= last; ++row) {
        if (measured[row]) {
            measured[row] = false;
            ++unmeasured;
        }
    }
    if (first > last)
        return;
    measureCursor = qMin(measureCursor, first);
    measureTimer.start();
}

// True when a measured row differs from the size it stood at.
bool KelListWidget::Private::measureRows(int first, int last)
{
    bool changed = false;
    for (int row = qMax(0, first), end = qMin(last, extents.size() - 1); row <= end && unmeasured > 0; ++row) {
        if (measured[row])
            continue;
        const QSize size = extentOf(row);
        changed = changed || size != extents[row];
        extents[row] = size;
        measured[row] = true;
        --unmeasured;
    }
    return changed;
}

// A few milliseconds of measuring at a time, so that input and painting go on meanwhile. Placing the
// lines again costs time in proportion to the rows, so a turn measures at least as long as that took.
// A hidden list waits until it is shown.
void KelListWidget::Private::measureWhileIdle()
{
    if (!windowed || !model || unmeasured <= 0 || realising || !owner->isVisible())
        return;
    QElapsedTimer watch;
    watch.start();
    bool changed = false;
    const qint64 budget = qMax<qint64>(2, layOutTime);
    while (unmeasured > 0 && watch.elapsed() < budget) {
        if (measureCursor >= extents.size()) {
            // Only a miscount gets here: count again rather than look for ever.
            measureCursor = 0;
            unmeasured = int(std::count(measured.cbegin(), measured.cend(), false));
            continue;
        }
        changed = measureRows(measureCursor, measureCursor + 31) || changed;
        measureCursor += 32;
    }
    if (changed) {
        int offset = 0;
        const int anchor = anchorRow(&offset);
        realising = true;
        relayOutAt(anchor, offset);
        realising = false;
        realise();
    }
    if (unmeasured > 0)
        measureTimer.start();
}

// Every row is measured again: those of the window at once, the others while idle when there is an
// estimate (at their old sizes meanwhile), or all at once; the top visible row stays in place.
void KelListWidget::Private::remeasure()
{
    if (!windowed || !model)
        return;
    int offset = 0;
    const int anchor = anchorRow(&offset);
    if (estimated().isValid()) {
        markUnmeasured(0, extents.size() - 1);
    } else {
        measureAll();
    }
    realising = true;
    relayOutAt(anchor, offset);
    realising = false;
    realise();
}

void KelListWidget::Private::layOutLines()
{
    QElapsedTimer watch;
    watch.start();
    WindowGeometry g;
    QLayout* current = layout();
    const QMargins margins = current ? current->contentsMargins() : QMargins();
    const int width = owner->viewport()->width();
    auto* flow = qobject_cast<KelFlowLayout*>(current);
    int hs = 0;
    int vs = 0;
    if (flow) {
        hs = qMax(0, flow->horizontalSpacing());
        vs = qMax(0, flow->verticalSpacing());
        g.rowX.resize(extents.size());
    } else if (current) {
        vs = qMax(0, current->spacing());
    }
    g.rowLeft = margins.left();
    g.rowWidth = qMax(0, width - margins.left() - margins.right());
    const int rightEdge = width - margins.right();
    int x = margins.left();
    int y = margins.top();
    int lineHeight = 0;
    // The same wrapping as the flow layout's, so that both modes look alike.
    for (int row = 0; row < extents.size(); ++row) {
        const QSize size = extents[row];
        const bool wrap = !flow || (x + size.width() > rightEdge && !g.lineFirstRow.isEmpty() && lineHeight > 0);
        if (g.lineFirstRow.isEmpty() || wrap) {
            if (!g.lineFirstRow.isEmpty()) {
                g.lineHeight << lineHeight;
                y += lineHeight + vs;
            }
            g.lineFirstRow << row;
            g.lineTop << y;
            x = margins.left();
            lineHeight = 0;
        }
        if (flow)
            g.rowX[row] = x;
        x += size.width() + hs;
        lineHeight = qMax(lineHeight, size.height());
    }
    if (!g.lineFirstRow.isEmpty())
        g.lineHeight << lineHeight;
    g.height = g.lineFirstRow.isEmpty() ? 0 : y + lineHeight + margins.bottom();
    geometry = g;
    content->setMinimumHeight(g.height);
    owner->updateLayout();
    layOutTime = watch.elapsed();
}

QRect KelListWidget::Private::rowRect(int row) const
{
    const int line = geometry.lineOfRow(row);
    if (row < 0 || row >= extents.size() || line < 0)
        return QRect();
    if (geometry.rowX.isEmpty())
        return QRect(geometry.rowLeft, geometry.lineTop[line], geometry.rowWidth, extents[row].height());
    return QRect(QPoint(geometry.rowX[row], geometry.lineTop[line]), extents[row]);
}

KelListWidgetItem* KelListWidget::Private::takeItem(int row)
{
    const QModelIndex index = indexAt(row);
    if (spares.isEmpty())
        return factory(content, index);
    KelListWidgetItem* item = spares.takeLast();
    item->setItemMode(replacer->currentLayoutId());
    item->readFrom(index);
    return item;
}

void KelListWidget::Private::park(KelListWidgetItem* item)
{
    QWidget* widget = asWidget(item);
    // A parked widget keeping the focus would take the keys meant for the list.
    if (widget->hasFocus() || widget->isAncestorOf(QApplication::focusWidget()))
        owner->setFocus();
    widget->hide();
    item->resetItem();
    spares.append(item);
}

void KelListWidget::Private::parkWindow()
{
    for (KelListWidgetItem* item : qAsConst(realised))
        park(item);
    realised.clear();
}

void KelListWidget::Private::windowRows(int* first, int* last) const
{
    const int count = qMin(rowCount(), extents.size());
    *first = 0;
    *last = -1;
    if (count > 0 && !geometry.lineTop.isEmpty()) {
        const int top = owner->verticalScrollBar()->value();
        const int height = owner->viewport()->height();
        int firstLine = geometry.lineAt(top - height);
        // The line may end in the gap above the window.
        if (geometry.lineTop[firstLine] + geometry.lineHeight[firstLine] <= top - height
            && firstLine + 1 < geometry.lineTop.size())
            ++firstLine;
        const int lastLine = geometry.lineAt(top + 2 * height - 1);
        *first = geometry.lineFirstRow[firstLine];
        *last = lastLine + 1 < geometry.lineFirstRow.size() ? geometry.lineFirstRow[lastLine + 1] - 1 : count - 1;
    }
}

void KelListWidget::Private::realise()
{
    if (!windowed || !model || !factory || realising)
        return;
    realising = true;
    realisePending = false;
    int first = 0;
    int last = -1;
    windowRows(&first, &last);
    // Widgets are placed at their rows' own sizes: rows still at the estimate are measured first,
    // and the lines move around the top visible row until the window holds measured rows only.
    while (unmeasured > 0 && measureRows(first, last)) {
        int offset = 0;
        const int anchor = anchorRow(&offset);
        relayOutAt(anchor, offset);
        windowRows(&first, &last);
    }
    for (auto it = realised.begin(); it != realised.end();) {
        if (it.key() < first || it.key() > last) {
            park(it.value());
            it = realised.erase(it);
        } else {
            ++it;
        }
    }
    for (int row = first; row <= last; ++row) {
        KelListWidgetItem*& item = realised[row];
        if (!item)
            item = takeItem(row);
        QWidget* widget = asWidget(item);
        widget->setGeometry(rowRect(row));
        widget->setVisible(true);
    }
    realising = false;
}

// A filter or a category change arrives as a burst of row removals and insertions: the widgets follow
// once, when the burst is over or when a row's widget is asked for, not once per range.
void KelListWidget::Private::realiseLater()
{
    if (realisePending)
        return;
    realisePending = true;
    QMetaObject::invokeMethod(
        this, [this] { realiseNow(); }, Qt::QueuedConnection);
}

int KelListWidget::Private::anchorRow(int* offset) const
{
    if (geometry.lineTop.isEmpty()) {
        *offset = 0;
        return 0;
    }
    const int top = owner->verticalScrollBar()->value();
    const int line = geometry.lineAt(top);
    *offset = top - geometry.lineTop[line];
    return geometry.lineFirstRow[line];
}

void KelListWidget::Private::relayOutAt(int row, int offset)
{
    layOutLines();
    const int line = geometry.lineOfRow(qMin(row, extents.size() - 1));
    if (line >= 0)
        owner->verticalScrollBar()->setValue(geometry.lineTop[line] + offset);
}

void KelListWidget::Private::relayOutKeeping(int row, int offset)
{
    // The scroll bar moves twice on the way; only the final window is realised.
    realising = true;
    relayOutAt(row, offset);
    realising = false;
    realiseLater();
    emitRowCount();
}

void KelListWidget::Private::windowedReset()
{
    measureAll();
    layOutLines();
    // The widgets keep their rows and read them anew: a reset mostly brings the same rows back,
    // and widgets showing what they showed before need not draw it again.
    const int count = rowCount();
    for (auto it = realised.cbegin(); it != realised.cend() && it.key() < count; ++it)
        it.value()->readFrom(indexAt(it.key()));
    realise();
    emitRowCount();
    QMetaObject::invokeMethod(owner, "hardWorkFinished", Qt::QueuedConnection);
}

void KelListWidget::Private::windowedInsert(int first, int last)
{
    const int count = last - first + 1;
    int offset = 0;
    int anchor = anchorRow(&offset);
    // A view at the very top stays there and shows rows that come at its head; anywhere else the
    // rows on screen stay where they are.
    const bool atTop = owner->verticalScrollBar()->value() == 0;
    if ((first < anchor || (first == anchor && !atTop)) && !extents.isEmpty())
        anchor += count;
    QMap<int, KelListWidgetItem*> shifted;
    for (auto it = realised.cbegin(); it != realised.cend(); ++it)
        shifted.insert(it.key() >= first ? it.key() + count : it.key(), it.value());
    realised = shifted;
    extents.insert(first, count, QSize());
    measured.insert(first, count, true);
    fillExtents(first, last);
    relayOutKeeping(anchor, offset);
}

void KelListWidget::Private::windowedRemove(int first, int last)
{
    const int count = last - first + 1;
    int offset = 0;
    int anchor = anchorRow(&offset);
    if (anchor > last) {
        anchor -= count;
    } else if (anchor >= first) {
        anchor = first;
        offset = 0;
    }
    QMap<int, KelListWidgetItem*> shifted;
    for (auto it = realised.cbegin(); it != realised.cend(); ++it) {
        if (it.key() < first)
            shifted.insert(it.key(), it.value());
        else if (it.key() > last)
            shifted.insert(it.key() - count, it.value());
        else
            park(it.value());
    }
    realised = shifted;
    const int removed = qMax(0, qMin(count, extents.size() - first));
    unmeasured -= int(std::count(measured.cbegin() + first, measured.cbegin() + first + removed, false));
    extents.remove(first, removed);
    measured.remove(first, removed);
    measureCursor = qMin(measureCursor, first);
    relayOutKeeping(anchor, offset);
}

// Rows moved or re-sorted: every extent is asked again and the realised widgets read their new rows.
void KelListWidget::Private::windowedRefresh()
{
    measureAll();
    layOutLines();
    for (auto it = realised.cbegin(); it != realised.cend(); ++it) {
        if (it.key() < rowCount())
            it.value()->readFrom(indexAt(it.key()));
    }
    realise();
}

bool KelListWidget::Private::eventFilter(QObject* watched, QEvent* event)
{
    if (windowed && watched == owner->viewport() && event->type() == QEvent::Resize) {
        const auto* resize = static_cast<QResizeEvent*>(event);
        realise();
        if (resize->size().width() != resize->oldSize().width() && !relayoutPending) {
            // Wrapping anew changes the content height, which may toggle the scroll bar that is being
            // laid out right now: wait until the scroll area is done.
            relayoutPending = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    relayoutPending = false;
                    if (windowed && rowsFollowWidth) {
                        remeasure();
                    } else if (windowed) {
                        layOutLines();
                        realise();
                    }
                },
                Qt::QueuedConnection);
        }
    }
    return QObject::eventFilter(watched, event);
}

void KelListWidget::Private::startHardWork()
{
    if (hardWorkTimer.isActive())
        return;
    stopwatch.start();
    snapshot = owner->viewport()->grab(QRect(QPoint(0, 0), QSize(-1, -1)));
    owner->viewport()->hide();
    hardWorkTimer.start();
}

void KelListWidget::Private::onHardWorkTimeout()
{
    if (!owner->viewport()->isHidden())
        return;
    hardWorkTimer.stop();
    owner->refreshGeometry();
    owner->viewport()->show();
    snapshot = QPixmap();
    emit owner->hardWorkFinished();
}

void KelListWidget::Private::makeItem(int row)
{
    const QModelIndex index = indexAt(row);
    KelListWidgetItem* item = nullptr;
    if (spares.isEmpty()) {
        item = factory(content, index);
    } else {
        item = spares.takeLast();
        item->setItemMode(replacer->currentLayoutId());
        item->readFrom(index);
    }
    QWidget* widget = asWidget(item);
    replacer->insertWidget(row, widget);
    widget->setVisible(true);
}

void KelListWidget::Private::removeItems(int first, int last)
{
    QLayout* current = layout();
    current->setEnabled(false);
    QList<QLayoutItem*> taken;
    for (int i = last; i >= first; --i) {
        if (QLayoutItem* item = current->takeAt(i))
            taken.prepend(item);
    }
    for (QLayoutItem* layoutItem : qAsConst(taken)) {
        if (QWidget* widget = layoutItem->widget()) {
            widget->hide();
            widget->setAttribute(Qt::WA_LaidOut, false);
            if (auto* item = dynamic_cast<KelListWidgetItem*>(widget)) {
                spares.append(item);
                item->resetItem();
            }
        }
        delete layoutItem;
    }
    current->setEnabled(true);
}

void KelListWidget::Private::onModelReset()
{
    if (windowed) {
        windowedReset();
        return;
    }
    startHardWork();
    parkAll();
    if (!layout()) {
        qWarning() << name() << ": no layout selected, rows are not shown";
    } else {
        for (int row = 0, count = model->rowCount(root); row < count; ++row)
            makeItem(row);
    }
    emitRowCount();
}

void KelListWidget::Private::onModelRowsInserted(const QModelIndex& parent, int first, int last)
{
    if (!isRoot(parent) || internalMove || !layout())
        return;
    if (windowed) {
        windowedInsert(first, last);
        return;
    }
    startHardWork();
    for (int row = first; row <= last; ++row)
        makeItem(row);
    emitRowCount();
}

void KelListWidget::Private::onModelRowsRemoved(const QModelIndex& parent, int first, int last)
{
    if (!isRoot(parent) || internalMove || !layout())
        return;
    if (windowed) {
        windowedRemove(first, last);
        return;
    }
    startHardWork();
    removeItems(first, last);
    emitRowCount();
}

void KelListWidget::Private::onModelRowsMoved(
    const QModelIndex& parent, int start, int end, const QModelIndex& destination, int row)
{
    if (internalMove)
        return;
    const bool fromRoot = isRoot(parent);
    const bool intoRoot = isRoot(destination);
    if (fromRoot && intoRoot) {
        if (windowed)
            windowedRefresh();
        else
            replacer->moveItems(start, end, row);
        return;
    }
    // Rows that leave the shown level go like removed rows, rows that arrive come like inserted ones;
    // moves between other levels are none of our business.
    if ((!fromRoot && !intoRoot) || !layout())
        return;
    if (windowed) {
        if (fromRoot)
            windowedRemove(start, end);
        else
            windowedInsert(row, row + end - start);
        return;
    }
    startHardWork();
    if (fromRoot)
        removeItems(start, end);
    else
        for (int i = row; i <= row + end - start; ++i)
            makeItem(i);
    emitRowCount();
}

// The widgets of the changed rows read them again. Their extents are asked again: at once for rows
// with widgets, and with an estimate while idle for the others (a change of every row of a long
// list is no work for one pass); a row still at the estimate is measured when it is needed anyway.
void KelListWidget::Private::windowedDataChanged(int first, int last)
{
    realiseNow();
    const bool lazily = estimated().isValid();
    bool resized = false;
    int firstLater = -1;
    for (int row = qMax(0, first), end = qMin(last, extents.size() - 1); row <= end; ++row) {
        if (!measured[row])
            continue;
        if (lazily && !realised.contains(row)) {
            measured[row] = false;
            ++unmeasured;
            if (firstLater < 0)
                firstLater = row;
            continue;
        }
        const QSize size = extentOf(row);
        resized = resized || size != extents[row];
        extents[row] = size;
    }
    if (firstLater >= 0) {
        measureCursor = qMin(measureCursor, firstLater);
        measureTimer.start();
    }
    for (auto it = realised.lowerBound(first); it != realised.cend() && it.key() <= last; ++it)
        it.value()->readFrom(indexAt(it.key()));
    if (resized) {
        layOutLines();
        realise();
    }
}

void KelListWidget::Private::onModelDataChanged(
    const QModelIndex& topLeft, const QModelIndex& bottomRight, const QVector<int>& roles)
{
    // An empty list means every role changed.
    if (!roles.isEmpty() && !roles.contains(Qt::DisplayRole))
        return;
    if (!isRoot(topLeft.parent()) || topLeft.column() > 0 || bottomRight.column() < 0)
        return;
    QElapsedTimer watch;
    watch.start();
    if (windowed) {
        windowedDataChanged(topLeft.row(), bottomRight.row());
    } else {
        for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
            if (auto* item = owner->itemAtRow(row))
                item->readFrom(indexAt(row));
        }
    }
    if (watch.elapsed() > 500) {
        qInfo().nospace() << name() << ": DisplayRole data changed (topLeft: {" << topLeft.row() << ","
                          << topLeft.column() << "}, bottomRight: {" << bottomRight.row() << ", "
                          << bottomRight.column() << "})";
        qWarning() << name() << "viewport update on dataChanged() tooks" << watch.elapsed() << "ms. Be careful.";
    }
}

void KelListWidget::Private::onModelLayoutChanged(const QList<QPersistentModelIndex>& parents)
{
    if (root.isValid() && !parents.contains(root))
        return;
    // A sort/filter proxy announces a new filter as a change of layout, so the number of rows
    // may differ afterwards.
    if (windowed) {
        windowedRefresh();
        emitRowCount();
        return;
    }
    if (!internalMove && model->rowCount(root) != owner->itemCount()) {
        onModelReset();
        return;
    }
    owner->forEachItem([this](KelListWidgetItem* item, int row) { item->readFrom(indexAt(row)); });
}

void KelListWidget::Private::onLocalMovePerformed(QWidget*, int from, int to)
{
    internalMove = true;
    const QModelIndex index = indexAt(from);
    if (index.isValid()) {
        if (QMimeData* data = model->mimeData({ index })) {
            model->dropMimeData(data, Qt::MoveAction, to, 0, root);
            delete data;
        }
    }
    internalMove = false;
    // A model that copies instead of moving (or refuses) would leave the widgets out of step for good.
    if (model->rowCount(root) != owner->itemCount()) {
        qWarning() << name() << ": the model did not move the row in place, rows are rebuilt";
        onModelReset();
    }
}

void KelListWidget::Private::onExternalDndPerformed(const QMimeData* data, Qt::DropAction action, int row)
{
    if (model)
        model->dropMimeData(data, action, row, 0, root);
}

bool KelListWidget::Private::navigableWidget(QWidget* w)
{
    if (!w || !w->isEnabled())
        return false;
    auto* button = qobject_cast<KelButton*>(w);
    return (button && button->isCheckable()) || w->focusPolicy() != Qt::NoFocus;
}

bool KelListWidget::Private::isCurrent(QWidget* w)
{
    if (!navigableWidget(w))
        return false;
    auto* button = qobject_cast<KelButton*>(w);
    return (button && button->isChecked()) || w->hasFocus();
}

int KelListWidget::Private::currentPosition() const
{
    for (int pos = 0, count = layout()->count(); pos < count; ++pos) {
        if (isCurrent(widgetAt(pos)))
            return pos;
    }
    return -1;
}

bool KelListWidget::Private::activateWidget(QWidget* w)
{
    if (!navigableWidget(w))
        return false;
    if (auto* button = qobject_cast<KelButton*>(w))
        button->setChecked(true);
    else
        w->setFocus(Qt::TabFocusReason);
    return true;
}

bool KelListWidget::Private::activateNext(int from, int step)
{
    for (int pos = from; pos >= 0 && pos < layout()->count(); pos += step) {
        if (activate(pos))
            return true;
    }
    return false;
}

bool KelListWidget::Private::activateVertical(int current, int direction)
{
    if (current < 0)
        return false;
    const QRect geometry = widgetAt(current)->geometry();
    const QPoint target = geometry.center() + QPoint(0, direction * geometry.height());
    for (int pos = current + direction; pos >= 0 && pos < layout()->count(); pos += direction) {
        QWidget* w = widgetAt(pos);
        if (w && w->geometry().contains(target))
            return activate(pos);
    }
    return false;
}

bool KelListWidget::Private::windowedKey(int key)
{
    realiseNow();
    int current = -1;
    for (auto it = realised.cbegin(); it != realised.cend() && current < 0; ++it) {
        if (isCurrent(asWidget(it.value())))
            current = it.key();
    }
    const bool flow = qobject_cast<KelFlowLayout*>(layout());
    int target = -1;
    int step = 1;
    switch (key) {
    case Qt::Key_Home:
        target = 0;
        break;
    case Qt::Key_End:
        target = rowCount() - 1;
        step = -1;
        break;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down: {
        const bool vertical = key == Qt::Key_Up || key == Qt::Key_Down;
        step = key == Qt::Key_Down || key == Qt::Key_Right ? 1 : -1;
        if (!flow && !vertical)
            return false;
        if (current < 0) {
            target = step > 0 ? 0 : -1;
        } else if (flow && vertical) {
            // The card of the next or previous line under the current card's centre, or its last card.
            const int line = geometry.lineOfRow(current) + step;
            if (line < 0 || line >= geometry.lineFirstRow.size())
                return true;
            const int centre = rowRect(current).center().x();
            target = geometry.lineFirstRow[line];
            const int end = line + 1 < geometry.lineFirstRow.size() ? geometry.lineFirstRow[line + 1] : rowCount();
            while (target + 1 < end && rowRect(target + 1).left() <= centre)
                ++target;
            owner->scrollToRow(target);
            activateWidget(asWidget(realised.value(target)));
            return true;
        } else {
            target = current + step;
        }
        break;
    }
    default:
        return false;
    }
    for (int row = target; row >= 0 && row < rowCount(); row += step) {
        owner->scrollToRow(row);
        if (activateWidget(asWidget(realised.value(row))))
            break;
    }
    return true;
}

bool KelListWidget::Private::handleKey(int key)
{
    if (windowed)
        return windowedKey(key);
    const int current = currentPosition();
    const bool next = key == Qt::Key_Down || key == Qt::Key_Right;
    const bool vertical = key == Qt::Key_Up || key == Qt::Key_Down;
    switch (key) {
    case Qt::Key_Home:
        activateNext(0, 1);
        return true;
    case Qt::Key_End:
        activateNext(layout()->count() - 1, -1);
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
        break;
    default:
        return false;
    }
    QLayout* current_layout = layout();
    if (auto* box = qobject_cast<QBoxLayout*>(current_layout)) {
        const bool boxVertical
            = box->direction() == QBoxLayout::TopToBottom || box->direction() == QBoxLayout::BottomToTop;
        if (boxVertical != vertical)
            return false;
    } else if (qobject_cast<KelFlowLayout*>(current_layout)) {
        if (vertical) {
            activateVertical(current, next ? 1 : -1);
            return true;
        }
    } else {
        return false;
    }
    if (next)
        activateNext(current < 0 ? 0 : current + 1, 1);
    else if (current >= 0)
        activateNext(current - 1, -1);
    return true;
}

KelListWidget::KelListWidget(int widgetType, QWidget* parent)
    : KelScrollArea(widgetType, parent)
    , d(new Private(this))
{
    setObjectName(QStringLiteral("ModelWidget"));
    d->content = new QWidget;
    d->content->setObjectName(QStringLiteral("Content"));
    d->contentLayout = new QVBoxLayout(d->content);
    d->contentLayout->setObjectName(QStringLiteral("ContentLayout"));
    d->contentLayout->setContentsMargins(0, 0, 0, 0);
    d->contentLayout->setSpacing(0);
    d->contentLayout->addItem(new QSpacerItem(0, 0, QSizePolicy::Fixed, QSizePolicy::Expanding));
    setWidget(d->content);

    connect(d->dnd, &KelLayoutDnd::widgetMoved, d, &Private::onLocalMovePerformed);
    connect(d->dnd, &KelLayoutDnd::dropped, d, &Private::onExternalDndPerformed);
    connect(d->dnd, &KelLayoutDnd::dropIndicatorGeometryChanged, this,
        [this](QRect rect) { ensureRectVisible(rect, true); });
    connect(&d->hardWorkTimer, &QTimer::timeout, d, &Private::onHardWorkTimeout);
    connect(&d->measureTimer, &QTimer::timeout, d, &Private::measureWhileIdle);
    connect(this, &KelScrollArea::showed, d, [this] {
        if (d->unmeasured > 0)
            d->measureTimer.start();
    });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, d, &Private::realise);
    viewport()->installEventFilter(d);
}

KelListWidget::~KelListWidget()
{
    // The scroll area's destructor deletes the viewport after this object is no longer a list
    // widget: its events must not reach the filter, which asks the list for its viewport.
    viewport()->removeEventFilter(d);
    d->dnd->setLayout(nullptr);
}

void KelListWidget::setModel(QAbstractItemModel* model, const QModelIndex& root)
{
    if (model == d->model && QPersistentModelIndex(root) == d->root)
        return;
    d->parkWindow();
    if (d->layout() && d->layout()->count() > 0) {
        d->startHardWork();
        d->parkAll();
    }
    if (d->model)
        disconnect(d->model, nullptr, d, nullptr);
    d->model = nullptr;
    d->root = QPersistentModelIndex();
    if (!model)
        return;
    d->model = model;
    d->root = root;
    connect(model, &QObject::destroyed, d, [this] { setModel(nullptr, QModelIndex()); });
    connect(model, &QAbstractItemModel::modelReset, d, &Private::onModelReset);
    connect(model, &QAbstractItemModel::rowsInserted, d, &Private::onModelRowsInserted);
    connect(model, &QAbstractItemModel::rowsMoved, d, &Private::onModelRowsMoved);
    connect(model, &QAbstractItemModel::rowsRemoved, d, &Private::onModelRowsRemoved);
    connect(model, &QAbstractItemModel::dataChanged, d, &Private::onModelDataChanged);
    connect(model, &QAbstractItemModel::layoutChanged, d,
        [this](const QList<QPersistentModelIndex>& parents) { d->onModelLayoutChanged(parents); });
    d->onModelReset();
}

QAbstractItemModel* KelListWidget::model() const { return d->model; }

void KelListWidget::setItemFactory(ItemFactory factory)
{
    const bool replacing = bool(d->factory);
    d->factory = std::move(factory);
    if (!replacing)
        return;
    qCritical() << "Changing of item factory is not tested, be careful";
    if (d->model)
        d->onModelReset();
}

void KelListWidget::registerLayout(int id, QLayout* layout) { d->replacer->registerLayout(id, layout); }

void KelListWidget::setCurrentLayoutId(int id)
{
    d->startHardWork();
    d->replacer->setCurrentLayoutId(id);
    QLayout* layout = d->layout();
    if (!layout)
        return;
    if (d->contentLayout->indexOf(layout) < 0)
        d->contentLayout->insertLayout(0, layout);
    d->dnd->setLayout(layout);
    forEachItem([id](KelListWidgetItem* item, int) { item->setItemMode(id); });
    if (d->windowed && d->model) {
        d->measureAll();
        d->layOutLines();
        d->realise();
    }
}

int KelListWidget::currentLayoutId() const { return d->replacer->currentLayoutId(); }

void KelListWidget::setKeyboardNavigationEnabled(bool enabled) { d->keyboardNavigation = enabled; }

KelLayoutDnd* KelListWidget::dnd() const { return d->dnd; }

void KelListWidget::setWindowed(bool windowed, ExtentFunction extent, EstimateFunction estimate)
{
    if (windowed && !extent) {
        qWarning() << d->name() << ": the windowed mode needs row extents, it stays off";
        return;
    }
    d->extent = std::move(extent);
    d->estimate = std::move(estimate);
    if (windowed == d->windowed) {
        if (windowed && d->model)
            d->windowedReset();
        return;
    }
    d->parkWindow();
    if (d->layout() && d->layout()->count() > 0)
        d->parkAll();
    d->windowed = windowed;
    d->extents.clear();
    d->measured.clear();
    d->unmeasured = 0;
    d->geometry = WindowGeometry();
    d->content->setMinimumHeight(0);
    if (d->model)
        d->onModelReset();
}

bool KelListWidget::isWindowed() const { return d->windowed; }

void KelListWidget::setRowsFollowWidth(bool follow)
{
    if (d->rowsFollowWidth == follow)
        return;
    d->rowsFollowWidth = follow;
    if (follow)
        d->remeasure();
}

void KelListWidget::scrollToRow(int row)
{
    if (!d->windowed) {
        if (QWidget* widget = asWidget(itemAtRow(row)))
            scrollTo(widget, false);
        return;
    }
    // Rows still at the estimate near the target are measured on the way and may move it: it is
    // brought into view again until it stays.
    for (int pass = 0; pass < 3; ++pass) {
        const QRect rect = d->rowRect(row);
        if (rect.isNull())
            return;
        const int top = verticalScrollBar()->value();
        if (pass > 0 && rect.top() >= top && rect.bottom() < top + viewport()->height())
            return;
        ensureRectVisible(rect, false);
        d->realise();
    }
}

void KelListWidget::forEachItem(const ItemFunction& fn, int first, int last) const
{
    if (d->windowed) {
        d->realiseNow();
        for (auto it = d->realised.lowerBound(first); it != d->realised.cend() && (last < 0 || it.key() <= last); ++it)
            fn(it.value(), it.key());
        return;
    }
    QLayout* layout = d->layout();
    if (!layout)
        return;
    if (last < 0)
        last = layout->count() - 1;
    for (int row = qMax(first, 0); row <= last; ++row) {
        if (auto* item = itemAtRow(row))
            fn(item, row);
    }
}

KelListWidgetItem* KelListWidget::itemAtRow(int row) const
{
    if (d->windowed) {
        d->realiseNow();
        return d->realised.value(row);
    }
    QLayout* layout = d->layout();
    if (!layout || row < 0 || row >= layout->count())
        return nullptr;
    return dynamic_cast<KelListWidgetItem*>(d->widgetAt(row));
}

KelListWidgetItem* KelListWidget::itemForIndex(const QModelIndex& index) const
{
    // Also with the top level as root: a nested index must not find the top-level row of the same number.
    if (!index.isValid() || index.model() != d->model || index.parent() != d->root)
        return nullptr;
    return itemAtRow(index.row());
}

QModelIndex KelListWidget::modelIndexForItem(KelListWidgetItem* item) const
{
    if (d->windowed) {
        d->realiseNow();
        const int row = d->realised.key(item, -1);
        return row < 0 || !d->model ? QModelIndex() : d->indexAt(row);
    }
    QLayout* layout = d->layout();
    if (!d->model || !item || !layout)
        return QModelIndex();
    const int row = layout->indexOf(asWidget(item));
    return row < 0 ? QModelIndex() : d->indexAt(row);
}

int KelListWidget::itemCount() const
{
    int count = 0;
    forEachItem([&count](KelListWidgetItem*, int) { ++count; });
    return count;
}

int KelListWidget::spareCount() const
{
    d->realiseNow();
    return d->spares.size();
}

void KelListWidget::retranslateItems()
{
    forEachItem([](KelListWidgetItem* item, int) { item->retranslateUi(); });
    for (KelListWidgetItem* item : qAsConst(d->spares))
        item->retranslateUi();
}

bool KelListWidget::event(QEvent* e)
{
    if (e->type() == QEvent::KeyPress && d->keyboardNavigation && d->layout()) {
        auto* ke = static_cast<QKeyEvent*>(e);
        if (ke->modifiers() == Qt::NoModifier && d->handleKey(ke->key())) {
            e->accept();
            return true;
        }
    }
    if (e->type() == QEvent::Paint) {
        if (!d->snapshot.isNull()) {
            QPainter painter(this);
            painter.drawPixmap(0, 0, d->snapshot);
        }
        return true;
    }
    return KelScrollArea::event(e);
}

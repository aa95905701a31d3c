#include "itemviews/kellistwidget.h"

#include "itemviews/kellistwidgetitem.h"
#include "layouts/kelflowlayout.h"
#include "layouts/kellayoutdnd.h"
#include "layouts/kellayoutreplacer.h"
#include "widgets/kelbutton.h"

#include <QBoxLayout>
#include <QDebug>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPersistentModelIndex>
#include <QSpacerItem>
#include <QTimer>

namespace {

QWidget* asWidget(KelListWidgetItem* item) { return dynamic_cast<QWidget*>(item); }

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

    void onModelReset();
    void onModelRowsInserted(const QModelIndex& parent, int first, int last);
    void onModelRowsRemoved(const QModelIndex& parent, int first, int last);
    void onModelRowsMoved(const QModelIndex& parent, int start, int end, const QModelIndex& destination, int row);
    void onModelDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QVector<int>& roles);
    void onModelLayoutChanged(const QList<QPersistentModelIndex>& parents);
    void onLocalMovePerformed(QWidget* widget, int from, int to);
    void onExternalDndPerformed(const QMimeData* data, Qt::DropAction action, int row);

    bool navigable(int pos) const;
    int currentPosition() const;
    bool activate(int pos);
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
};

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
    startHardWork();
    for (int row = first; row <= last; ++row)
        makeItem(row);
    emitRowCount();
}

void KelListWidget::Private::onModelRowsRemoved(const QModelIndex& parent, int first, int last)
{
    if (!isRoot(parent) || internalMove || !layout())
        return;
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
        replacer->moveItems(start, end, row);
        return;
    }
    // Rows that leave the shown level go like removed rows, rows that arrive come like inserted ones;
    // moves between other levels are none of our business.
    if ((!fromRoot && !intoRoot) || !layout())
        return;
    startHardWork();
    if (fromRoot)
        removeItems(start, end);
    else
        for (int i = row; i <= row + end - start; ++i)
            makeItem(i);
    emitRowCount();
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
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
        if (auto* item = owner->itemAtRow(row))
            item->readFrom(indexAt(row));
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

bool KelListWidget::Private::navigable(int pos) const
{
    QWidget* w = widgetAt(pos);
    if (!w || !w->isEnabled())
        return false;
    auto* button = qobject_cast<KelButton*>(w);
    return (button && button->isCheckable()) || w->focusPolicy() != Qt::NoFocus;
}

int KelListWidget::Private::currentPosition() const
{
    for (int pos = 0, count = layout()->count(); pos < count; ++pos) {
        if (!navigable(pos))
            continue;
        QWidget* w = widgetAt(pos);
        auto* button = qobject_cast<KelButton*>(w);
        if ((button && button->isChecked()) || w->hasFocus())
            return pos;
    }
    return -1;
}

bool KelListWidget::Private::activate(int pos)
{
    if (!navigable(pos))
        return false;
    QWidget* w = widgetAt(pos);
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

bool KelListWidget::Private::handleKey(int key)
{
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
}

KelListWidget::~KelListWidget() { d->dnd->setLayout(nullptr); }

void KelListWidget::setModel(QAbstractItemModel* model, const QModelIndex& root)
{
    if (model == d->model && QPersistentModelIndex(root) == d->root)
        return;
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
}

int KelListWidget::currentLayoutId() const { return d->replacer->currentLayoutId(); }

void KelListWidget::setKeyboardNavigationEnabled(bool enabled) { d->keyboardNavigation = enabled; }

KelLayoutDnd* KelListWidget::dnd() const { return d->dnd; }

void KelListWidget::forEachItem(const ItemFunction& fn, int first, int last) const
{
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

int KelListWidget::spareCount() const { return d->spares.size(); }

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

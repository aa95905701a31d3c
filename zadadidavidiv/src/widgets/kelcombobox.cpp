#include "widgets/kelcombobox.h"

#include "windows/kelpopupmenu.h"

#include <QAbstractItemModel>
#include <QBoxLayout>
#include <QKeyEvent>
#include <QPointer>

namespace {
const int kDefaultItemStyleRole = 18;
const int kComboPopupType = 5;

// Hidden at once, deleted later: the button may be inside its own signal.
void dropButton(KelButton* button)
{
    if (!button)
        return;
    button->hide();
    button->deleteLater();
}
} // namespace

class KelComboBox::Private : public QObject {
public:
    explicit Private(KelComboBox* combo)
        : q(combo)
    {
    }
    ~Private() override { qDeleteAll(items); }

    int indexOfButton(const KelButton* button) const
    {
        for (int i = 0; i < items.size(); ++i) {
            if (items[i]->button == button)
                return i;
        }
        return -1;
    }
    QVariant modelValue(int row) const { return model->data(model->index(row, column), Qt::DisplayRole); }
    void showCurrentText() { q->setText(current.text); }
    void deleteItems()
    {
        qDeleteAll(items);
        items.clear();
    }
    void clearCurrentLoudly()
    {
        current = Item();
        showCurrentText();
        emit q->currentDataChanged(QVariant());
    }

    void onItemToggled(KelButton* button, bool checked);
    void markItem(KelButton* button);
    void moveMark(int step);
    void takeMarked();
    void unmark();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void onRowsInserted(const QModelIndex& parent, int first, int last);
    void onRowsRemoved(const QModelIndex& parent, int first, int last);
    void onRowsMoved(const QModelIndex& parent, int start, int end, const QModelIndex& destination, int row);
    void onDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QVector<int>& roles);

    KelComboBox* q;
    Item current;
    QList<Item*> items;
    QPointer<QAbstractItemModel> model;
    int column = 0;
    QList<QMetaObject::Connection> modelConnections;
    int itemStyleRole = kDefaultItemStyleRole;
    int sizeMode = PopupAtLeastButtonWidth;
    // The item the keys have moved to in the open list, shown checked in the current one's place.
    QPointer<KelButton> marked;
};

void KelComboBox::Private::onItemToggled(KelButton* button, bool checked)
{
    if (!checked)
        return;
    const int index = indexOfButton(button);
    if (index < 0 || current.button == button)
        return;
    if (current.button)
        current.button->setCheckedSilently(false);
    current = *items[index];
    // Taken by a click after the closing list has given the check back to the old item.
    button->setCheckedSilently(true);
    showCurrentText();
    const QVariant data = current.data;
    emit q->currentDataChanged(data);
    emit q->itemClicked(data);
}

void KelComboBox::Private::markItem(KelButton* button)
{
    if (marked && marked != current.button)
        marked->setCheckedSilently(false);
    marked = button;
    if (current.button && current.button != button)
        current.button->setCheckedSilently(false);
    button->setCheckedSilently(true);
    q->popupMenu()->ensureWidgetVisible(button);
}

void KelComboBox::Private::moveMark(int step)
{
    // From the mark, or from the current item before the keys have moved it.
    int index = indexOfButton(marked ? marked.data() : current.button);
    if (index < 0)
        index = step > 0 ? -1 : items.size();
    for (int next = index + step; next >= 0 && next < items.size(); next += step) {
        KelButton* button = items[next]->button;
        if (button && button->isEnabled() && !button->isHidden()) {
            markItem(button);
            return;
        }
    }
}

void KelComboBox::Private::takeMarked()
{
    const QPointer<KelButton> button = marked ? marked : QPointer<KelButton>(current.button);
    // As a click on the item: the menu closes, then the item becomes current (its handlers may
    // refill the list).
    if (q->popupMenu()->hideOnClick())
        KelPopup::closeAllPopups();
    if (button)
        onItemToggled(button, true);
}

void KelComboBox::Private::unmark()
{
    if (marked && marked != current.button)
        marked->setCheckedSilently(false);
    marked = nullptr;
    if (current.button)
        current.button->setCheckedSilently(true);
}

bool KelComboBox::Private::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != q->popupMenu() || event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & ~Qt::KeypadModifier)
        return false;
    switch (key->key()) {
    case Qt::Key_Up:
        moveMark(-1);
        return true;
    case Qt::Key_Down:
        moveMark(1);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        takeMarked();
        return true;
    default:
        return false;
    }
}

void KelComboBox::Private::onRowsInserted(const QModelIndex& parent, int first, int last)
{
    if (parent.isValid())
        return;
    QBoxLayout* layout = q->popupMenu()->contentLayout();
    for (int row = first; row <= last; ++row) {
        KelButton* button = q->popupMenu()->addButton(itemStyleRole);
        q->addItemButton(button, modelValue(row));
        layout->insertItem(row, layout->takeAt(layout->count() - 1));
        items.move(items.size() - 1, row);
    }
}

void KelComboBox::Private::onRowsRemoved(const QModelIndex& parent, int first, int last)
{
    if (parent.isValid())
        return;
    for (int row = qMin(last, items.size() - 1); row >= first; --row) {
        Item* item = items.takeAt(row);
        // The current data stays; only its button goes.
        if (current.button == item->button)
            current.button = nullptr;
        q->popupMenu()->contentLayout()->removeWidget(item->button);
        dropButton(item->button);
        delete item;
    }
}

void KelComboBox::Private::onRowsMoved(
    const QModelIndex& parent, int start, int end, const QModelIndex& destination, int row)
{
    if (parent.isValid() || destination.isValid())
        return;
    QBoxLayout* layout = q->popupMenu()->contentLayout();
    QList<QLayoutItem*> layoutItems;
    QList<Item*> moved;
    for (int i = end; i >= start; --i) {
        layoutItems.append(layout->takeAt(i));
        moved.append(items.takeAt(i));
    }
    // The destination counts rows before the move; past the block it shifts by the block's size.
    const int at = row > end ? row - (end - start + 1) : row;
    for (int i = 0; i < moved.size(); ++i) {
        layout->insertItem(at, layoutItems[i]);
        items.insert(at, moved[i]);
    }
}

void KelComboBox::Private::onDataChanged(
    const QModelIndex& topLeft, const QModelIndex& bottomRight, const QVector<int>& roles)
{
    // No roles named means every role changed.
    if (!roles.isEmpty() && !roles.contains(Qt::DisplayRole))
        return;
    if (topLeft.parent().isValid() || column < topLeft.column() || column > bottomRight.column())
        return;
    for (int row = topLeft.row(); row <= bottomRight.row() && row < items.size(); ++row) {
        Item* item = items[row];
        item->data = modelValue(row);
        item->text = item->data.toString();
        if (item->button)
            item->button->setText(item->text);
    }
}

KelComboBox::KelComboBox(
    int widgetType, QSizePolicy::Policy horizontalPolicy, int sizeMode, QWidget* parent, bool deferStyle)
    : KelPopupMenuButton(widgetType, OpenOnToggle, Qt::BottomEdge, Qt::AlignLeft, parent, true)
    , d(new Private(this))
{
    popupMenu()->setWidgetType(kComboPopupType);
    // The open list answers Up, Down and Return; closed without Return it keeps the current item.
    popupMenu()->installEventFilter(d);
    connect(popupMenu(), &KelWidget::hided, d, &Private::unmark);
    if (sizeMode != d->sizeMode) {
        d->sizeMode = sizeMode;
        updateGeometry();
    }
    setSizePolicy(horizontalPolicy, QSizePolicy::Fixed);
    if (!deferStyle)
        KelPopupMenuButton::applyStyle();
}

KelComboBox::~KelComboBox()
{
    for (const QMetaObject::Connection& c : qAsConst(d->modelConnections))
        disconnect(c);
    delete d;
}

KelButton* KelComboBox::addItem(const QVariant& data, const QString& text)
{
    return addItemButton(popupMenu()->addButton(d->itemStyleRole), data, text);
}

KelButton* KelComboBox::addItemButton(KelButton* button, const QVariant& data, const QString& text)
{
    if (!popupMenu()->isAncestorOf(button))
        popupMenu()->addWidget(button);
    auto* item = new Item { data, button, text.isEmpty() ? data.toString() : text };
    button->setText(item->text);
    // The whole row takes the click, not only the text.
    button->setSizePolicy(QSizePolicy::Minimum, button->sizePolicy().verticalPolicy());
    connect(button, &KelButton::toggled, d, [this, button](bool checked) { d->onItemToggled(button, checked); });
    // A click on the item the keys marked (already checked) takes it too.
    connect(button, &KelButton::clicked, d, [this, button] { d->onItemToggled(button, true); });
    d->items.append(item);
    if (d->sizeMode == PopupMatchesButtonWidth)
        updateGeometry();
    return button;
}

void KelComboBox::setItems(int styleRole, const QList<QVariant>& values, int restorePolicy)
{
    const Item remembered = d->current;
    d->current = Item();
    d->deleteItems();
    clearPopup();
    for (const QVariant& value : values)
        addItemButton(popupMenu()->addButton(styleRole), value);
    const bool kept = containsData(remembered.data);
    switch (restorePolicy) {
    case ClearCurrent:
        d->clearCurrentLoudly();
        break;
    case SelectFirst:
        if (values.isEmpty())
            d->clearCurrentLoudly();
        else
            setCurrentData(values.first());
        break;
    case KeepCurrent:
    case KeepCurrentOrFirst:
    case KeepCurrentData:
        if (kept) {
            setCurrentDataSilently(remembered.data);
        } else if (restorePolicy == KeepCurrentOrFirst && !values.isEmpty()) {
            setCurrentData(values.first());
        } else if (restorePolicy == KeepCurrentData) {
            d->current.data = remembered.data;
            d->current.text = remembered.text;
        } else {
            d->clearCurrentLoudly();
        }
        break;
    default:
        break;
    }
    if (d->sizeMode == PopupMatchesButtonWidth)
        updateGeometry();
}

void KelComboBox::setModel(QAbstractItemModel* model, int column, int restorePolicy)
{
    if (!model)
        return;
    for (const QMetaObject::Connection& c : qAsConst(d->modelConnections))
        disconnect(c);
    d->modelConnections.clear();
    d->model = model;
    d->column = column;
    QList<QVariant> values;
    for (int row = 0, rows = model->rowCount(); row < rows; ++row)
        values.append(d->modelValue(row));
    setItems(d->itemStyleRole, values, restorePolicy);
    d->modelConnections = {
        connect(model, &QAbstractItemModel::rowsInserted, d, &Private::onRowsInserted),
        connect(model, &QAbstractItemModel::rowsMoved, d, &Private::onRowsMoved),
        connect(model, &QAbstractItemModel::rowsRemoved, d, &Private::onRowsRemoved),
        connect(model, &QAbstractItemModel::dataChanged, d, &Private::onDataChanged),
        connect(model, &QAbstractItemModel::modelReset, d,
            [this] {
                if (d->model)
                    setModel(d->model, d->column, KeepCurrentOrFirst);
            }),
    };
}

QAbstractItemModel* KelComboBox::model() const { return d->model; }

void KelComboBox::clear()
{
    d->current = Item();
    d->deleteItems();
    clearPopup();
}

QVariant KelComboBox::currentData() const { return d->current.data; }

QString KelComboBox::currentText() const { return d->current.text; }

KelButton* KelComboBox::currentButton() const { return d->current.button; }

int KelComboBox::itemStyleRole() const { return d->itemStyleRole; }

int KelComboBox::count() const { return d->items.size(); }

KelButton* KelComboBox::itemButton(int index) const
{
    return index >= 0 && index < d->items.size() ? d->items[index]->button : nullptr;
}

QVariant KelComboBox::itemData(int index) const
{
    return index >= 0 && index < d->items.size() ? d->items[index]->data : QVariant();
}

bool KelComboBox::containsData(const QVariant& data) const
{
    for (const Item* item : qAsConst(d->items)) {
        if (item->data == data)
            return true;
    }
    return false;
}

void KelComboBox::setCurrentData(const QVariant& data, const QString& text)
{
    if (d->current.data == data)
        return;
    if (d->current.button)
        d->current.button->setCheckedSilently(false);
    bool found = false;
    // Every match is checked; with duplicates the last one is current.
    for (const Item* item : qAsConst(d->items)) {
        if (item->data != data)
            continue;
        d->current = *item;
        if (item->button)
            item->button->setCheckedSilently(true);
        found = true;
    }
    if (!found)
        d->current = Item { data, nullptr, text.isEmpty() ? data.toString() : text };
    d->showCurrentText();
    emit currentDataChanged(d->current.data);
}

void KelComboBox::setCurrentDataSilently(const QVariant& data, const QString& text)
{
    const bool blocked = blockSignals(true);
    setCurrentData(data, text);
    blockSignals(blocked);
}

void KelComboBox::setItemText(const QVariant& data, const QString& text)
{
    for (Item* item : qAsConst(d->items)) {
        if (item->data == data) {
            item->text = text;
            if (item->button)
                item->button->setText(text);
            break;
        }
    }
    if (d->current.data == data) {
        d->current.text = text;
        d->showCurrentText();
    }
}

QModelIndex KelComboBox::currentModelIndex() const
{
    if (!d->model)
        return QModelIndex();
    const QModelIndexList hits
        = d->model->match(d->model->index(0, d->column), Qt::DisplayRole, d->current.data, 1, Qt::MatchExactly);
    return hits.value(0);
}

void KelComboBox::setCurrentModelIndex(const QModelIndex& index)
{
    if (d->model)
        setCurrentData(d->model->data(index, Qt::DisplayRole));
}

QSize KelComboBox::sizeHint() const
{
    QSize hint = KelButton::sizeHint();
    if (d->sizeMode == PopupMatchesButtonWidth) {
        const int popupWidth = popupMenu()->sizeHint().width();
        hint.setWidth(qMax(hint.width(), popupWidth) + margins().left() + margins().right());
    }
    return hint;
}

bool KelComboBox::event(QEvent* event) { return KelPopupMenuButton::event(event); }

void KelComboBox::adjustPopup(bool*)
{
    const int width = this->width() - (margins().left() + margins().right());
    if (d->sizeMode == PopupAtLeastButtonWidth)
        popupMenu()->centralWidget()->setMinimumWidth(width);
    else if (d->sizeMode == PopupMatchesButtonWidth)
        popupMenu()->centralWidget()->setFixedWidth(width);
    popupMenu()->ensureWidgetVisible(d->current.button);
}

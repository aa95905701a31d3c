#pragma once

#include "widgets/kelscrollarea.h"

#include <QModelIndex>

#include <functional>

class KelLayoutDnd;
class KelListWidgetItem;
class QLayout;

// Shows one real widget per row of a model (children of a root index, column 0), kept in step with the
// model's notifications. Widgets of removed rows are parked and reused; bulk changes are shown at once
// when the event loop is idle again. Alternative layouts (a list, a grid) are registered under ids.
class KelListWidget : public KelScrollArea {
    Q_OBJECT
public:
    using ItemFactory = std::function<KelListWidgetItem*(QWidget* parent, const QModelIndex& index)>;
    using ItemFunction = std::function<void(KelListWidgetItem* item, int row)>;

    explicit KelListWidget(int widgetType, QWidget* parent = nullptr);
    ~KelListWidget() override;

    void setModel(QAbstractItemModel* model, const QModelIndex& root = QModelIndex());
    QAbstractItemModel* model() const;
    // The factory returns a ready widget for the index; it must be set before the first row is shown.
    void setItemFactory(ItemFactory factory);
    void registerLayout(int id, QLayout* layout);
    void setCurrentLayoutId(int id);
    int currentLayoutId() const;
    void setKeyboardNavigationEnabled(bool enabled);
    KelLayoutDnd* dnd() const;

    // A negative last means the last item.
    void forEachItem(const ItemFunction& fn, int first = 0, int last = -1) const;
    KelListWidgetItem* itemAtRow(int row) const;
    KelListWidgetItem* itemForIndex(const QModelIndex& index) const;
    QModelIndex modelIndexForItem(KelListWidgetItem* item) const;
    int itemCount() const;
    int spareCount() const;
    void retranslateItems();

signals:
    void rowCountChanged(int count);
    void hardWorkFinished();

protected:
    bool event(QEvent* e) override;

private:
    class Private;
    Private* d;
};

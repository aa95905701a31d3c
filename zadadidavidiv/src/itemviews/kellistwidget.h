#pragma once

#include "widgets/kelscrollarea.h"

#include <QModelIndex>
#include <QSize>

#include <functional>

class KelLayoutDnd;
class KelListWidgetItem;
class QLayout;

// Shows one real widget per row of a model (children of a root index, column 0), kept in step with the
// model's notifications. Widgets of removed rows are parked and reused; bulk changes are shown at once
// when the event loop is idle again. Alternative layouts (a list, a grid) are registered under ids.
// Long lists use the windowed mode: widgets exist only for the rows near the viewport.
class KelListWidget : public KelScrollArea {
    Q_OBJECT
public:
    using ItemFactory = std::function<KelListWidgetItem*(QWidget* parent, const QModelIndex& index)>;
    using ItemFunction = std::function<void(KelListWidgetItem* item, int row)>;
    // The size a row's widget takes in a layout: in a box layout only the height counts (the row spans
    // the width), in a flow layout the card's width and height.
    using ExtentFunction = std::function<QSize(const QModelIndex& index, int layoutId)>;
    // A size standing in for the rows of a layout that are not measured yet; an invalid size has every
    // row measured at once.
    using EstimateFunction = std::function<QSize(int layoutId)>;

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

    // Windowed: widgets only for the rows in the viewport and one viewport above and below, recycled
    // while scrolling, placed from the extents (asked once per row, again when its data changes)
    // instead of by the layout, which only lends its margins and spacing. Rows inserted or removed
    // above the viewport leave the visible rows in place; a view at the very top stays there.
    // Dragging rows inside the list is not offered.
    // The row accessors below then see realised rows only; scrollToRow realises any row. After rows are
    // inserted or removed the widgets follow once the event loop runs or an accessor is used.
    // With an estimate, only the rows near the viewport are measured at once (before their widgets are
    // placed); the others stand at the estimate and are measured while the event loop is idle (and the
    // list is shown), the top visible row staying in place as the lines below and above it settle. A
    // change of rows without widgets is measured the same way.
    void setWindowed(
        bool windowed, ExtentFunction extent = ExtentFunction(), EstimateFunction estimate = EstimateFunction());
    bool isWindowed() const;
    // Windowed rows whose height depends on their width (wrapped text): a change of the viewport's
    // width measures them again, those near the view at once. The extent function reads the width.
    void setRowsFollowWidth(bool follow);
    // Scrolls the row into view at once; its widget exists afterwards.
    void scrollToRow(int row);

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

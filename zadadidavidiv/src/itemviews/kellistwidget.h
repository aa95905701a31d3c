#pragma once

#include <QModelIndex>
#include <QScrollArea>

#include <functional>

class KelLayoutDnd;
class KelListWidgetItem;
class QLayout;

// Shows one real widget per row of a model (children of a root index, column 0), kept in step with the
// model's notifications. Widgets of removed rows are parked and reused; bulk changes are shown at once
// when the event loop is idle again. Alternative layouts (a list, a grid) are registered under ids.
//
// Built on a plain QScrollArea until the toolkit's scroll area is available; refreshGeometry and
// ensureRectVisible stand in for its operations of the same names.
class KelListWidget : public QScrollArea {
    Q_OBJECT
public:
    using ItemFactory = std::function<KelListWidgetItem*(QWidget* parent, const QModelIndex& index)>;
    using ItemFunction = std::function<void(KelListWidgetItem* item, int row)>;

    explicit KelListWidget(int widgetType, QWidget* parent = nullptr);
    ~KelListWidget() override;

    int widgetType() const;
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

    void ensureRectVisible(const QRect& rect, bool animated);

public slots:
    void refreshGeometry();

signals:
    void rowCountChanged(int count);
    void hardWorkFinished();
    void resized(QSize size);
    void geometryChanged(QRect geometry);

protected:
    bool event(QEvent* e) override;

private:
    class Private;
    Private* d;
};

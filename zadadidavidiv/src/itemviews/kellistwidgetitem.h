#pragma once

class QModelIndex;

// A row widget of KelListWidget; every implementation is also a QWidget.
class KelListWidgetItem {
public:
    // A recycled widget gets a row, or the row's display data or the model's layout changed.
    virtual void readFrom(const QModelIndex& index) { (void)index; }
    // The widget is parked for reuse: drop the row's data.
    virtual void resetItem() { }
    // A recycled widget is reused, or the list switched to another layout.
    virtual void setItemMode(int layoutId) { (void)layoutId; }
    virtual void retranslateUi() { }
};

#pragma once

#include "windows/kelpopupmenubutton.h"

#include <QModelIndex>
#include <QVariant>

class QAbstractItemModel;

// The toolkit's drop-down selector: a popup-menu button whose menu lists one checkable button per item.
// Items carry a value and a display text; they are filled by hand, from a list of values, or from one
// column of a model that the combo box then follows.
class KelComboBox : public KelPopupMenuButton {
    Q_OBJECT

public:
    struct Item {
        QVariant data;
        KelButton* button = nullptr; // owned by the popup
        QString text;
    };

    enum SizeMode {
        FreePopupWidth = 0,
        PopupAtLeastButtonWidth = 1,
        PopupMatchesButtonWidth = 2,
    };

    enum RestorePolicy {
        ClearCurrent = 0,
        SelectFirst = 1,
        KeepCurrent = 2,
        KeepCurrentOrFirst = 3,
        KeepCurrentData = 4,
    };

    KelComboBox(int widgetType, QSizePolicy::Policy horizontalPolicy = QSizePolicy::Preferred,
        int sizeMode = PopupAtLeastButtonWidth, QWidget* parent = nullptr, bool deferStyle = false);
    ~KelComboBox() override;

    KelButton* addItem(const QVariant& data, const QString& text = QString());
    KelButton* addItemButton(KelButton* button, const QVariant& data, const QString& text = QString());
    void setItems(int styleRole, const QList<QVariant>& values, int restorePolicy);
    // Shows one column of the model's top-level rows and follows the model's changes.
    void setModel(QAbstractItemModel* model, int column, int restorePolicy);
    QAbstractItemModel* model() const;
    void clear();

    QVariant currentData() const;
    QString currentText() const;
    KelButton* currentButton() const;
    int itemStyleRole() const;
    int count() const;
    KelButton* itemButton(int index) const;
    QVariant itemData(int index) const;
    bool containsData(const QVariant& data) const;

    void setCurrentData(const QVariant& data, const QString& text = QString());
    void setCurrentDataSilently(const QVariant& data, const QString& text = QString());
    void setItemText(const QVariant& data, const QString& text);
    QModelIndex currentModelIndex() const;
    void setCurrentModelIndex(const QModelIndex& index);

    QSize sizeHint() const override;

signals:
    void currentDataChanged(const QVariant& data);
    void itemClicked(const QVariant& data);

protected:
    bool event(QEvent* event) override;
    void adjustPopup(bool* allow) override;

private:
    class Private;
    Private* d;
};

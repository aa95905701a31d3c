#pragma once

#include "widgets/kelbutton.h"

class KelPopupMenu;

// A button owning one popup menu that it opens beside itself: when toggled on, when the mouse enters it,
// or, as a sub-menu item, when its parent menu decides so. While the menu is open the button shows
// checked.
class KelPopupMenuButton : public KelButton {
    Q_OBJECT

public:
    enum Mode {
        OpenOnToggle = 0,
        OpenOnHover = 1,
        OpenFromMenu = 2,
    };

    KelPopupMenuButton(int widgetType, int mode, Qt::Edge popupEdge, Qt::Alignment popupAlignment,
        QWidget* parent = nullptr, bool deferStyle = false);
    ~KelPopupMenuButton() override;

    KelPopupMenu* popupMenu() const;
    int mode() const;
    QPoint popupOffset() const;
    // An offset set here is kept across style changes.
    void setPopupOffset(int dx, int dy);

    void showPopup();
    void closePopup();
    bool isPopupVisible() const;
    // Removes every item of the menu; their widgets are hidden at once and deleted later, so that a handler
    // of an item's own signal may clear the menu.
    void clearPopup();

    void applyStyle() override;

signals:
    void showPopupRequested(bool* allow);

protected:
    // Before each opening; clearing allow cancels it.
    virtual void adjustPopup(bool* allow);
    virtual void onPopupHidden();
    bool event(QEvent* event) override;

private:
    class Private;
    Private* d;
};

#pragma once

#include "windows/kelpopup.h"

#include <functional>

class KelButton;
class KelPopupMenuButton;
class QBoxLayout;

// A popup holding a box of item widgets, usually toolkit buttons. A click on an item closes the whole
// chain of open popups unless hide-on-click is off; a sub-menu item opens its menu after the hover
// delay. The menu can be turned into a scrolling list.
class KelPopupMenu : public KelPopup {
    Q_OBJECT

public:
    KelPopupMenu(int widgetType, Qt::Orientation orientation, QWidget* parent = nullptr,
        ShadowType shadowType = ShadowType::Default, bool deferStyle = false);
    explicit KelPopupMenu(Qt::Orientation orientation = Qt::Vertical, QWidget* parent = nullptr,
        ShadowType shadowType = ShadowType::Default, bool deferStyle = false);
    ~KelPopupMenu() override;

    void addWidget(QWidget* widget);
    KelButton* addButton(const QString& iconId, const QString& text, int styleRole);
    KelButton* addButton(int styleRole, const QString& iconId = QString());
    // The menu closes before the callable runs (with hide-on-click on).
    KelButton* addAction(std::function<void()> onClicked, int styleRole);
    KelButton* addAction(const QString& text, std::function<void()> onClicked, int styleRole);
    KelPopupMenuButton* addPopupMenuButton(int styleRole, Qt::Edge popupEdge, Qt::Alignment popupAlignment);

    QBoxLayout* contentLayout() const;
    bool hideOnClick() const;
    void setHideOnClick(bool hide);
    int hoverDelay() const;
    void setHoverDelay(int ms);
    void setOrientation(Qt::Orientation orientation);

    // Flags: 1 scrolls horizontally, 2 vertically. Only the first call counts.
    void enableScrolling(int directions, int scrollAreaWidgetType);
    class KelScrollArea* scrollArea() const;
    // In a scrolling menu: at once when shown, else on the next show; 50-pixel margins.
    void ensureWidgetVisible(QWidget* widget);
    void showAtCursor();

    void applyStyle() override;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    class Private;
    Private* d;
};

#pragma once

#include "widgets/kelwidget.h"

#include <memory>

class KelButton;
class KelFrame;
class KelStackedWidget;
class QBoxLayout;

// Pages chosen by a row (or column) of checkable tab buttons on one side of them. A listener of
// tabToggleRequest() may veto a switch before it happens.
class KelTabWidget : public KelWidget {
    Q_OBJECT

public:
    KelTabWidget(Qt::Edge tabsPosition, int buttonWidgetType, QWidget* parent = nullptr);
    ~KelTabWidget() override;

    // Adds the page at the index with a tab button appended after the existing ones; false when the
    // index already has a tab. The icon name may be null.
    bool insertTab(int index, QWidget* page, int buttonWidgetType, const char* iconName);
    bool insertTab(int index, QWidget* page, const char* iconName = nullptr);

    // Switches without moving the keyboard focus; a click on a tab gives the pages the focus.
    void setCurrentIndex(int index);
    int currentIndex() const;
    int count() const;

    void setTabText(int index, const QString& text);
    KelButton* tabButton(int index) const;

    KelStackedWidget* stackedWidget() const;
    KelFrame* tabsContainer() const;
    QBoxLayout* tabsLayout() const;

signals:
    // Sent before a switch; a directly connected listener sets accept to false to keep the page.
    void tabToggleRequest(int from, int to, bool& accept);
    void currentChanged(int index);

private:
    void onTabButtonToggled(KelButton* button, bool checked);
    void switchTo(int index);

    class Private;
    std::unique_ptr<Private> d;
};

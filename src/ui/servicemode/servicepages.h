#pragma once

#include "servicepages/kelservicepage_dialogs.h"
#include "servicepages/kelservicepage_style.h"

class KelTabWidget;

// The toolkit's dialog rows followed by every application message box with sample data and the
// book properties dialog.
class ServicePage_Dialogs : public KelServicePage_Dialogs {
    Q_OBJECT

public:
    explicit ServicePage_Dialogs(QWidget* parent = nullptr);

    // The password of the unlock demo, compared as a whole, case-sensitive text.
    static bool isDemoPassword(const QString& text);
};

// The gallery of one style: its text and fill colours and the application's widget styles,
// painted with that style whichever is current.
class ServicePage_Style : public KelServicePage_Style {
    Q_OBJECT

public:
    explicit ServicePage_Style(KelStyle* style, QWidget* parent = nullptr);

protected:
    void addTextColors() override;
    void addFillColors() override;
    void addWidgetSamples() override;

private:
    void addToolButtonRow(
        const QString& caption, int widgetType, const QString& clickIcon, const QString& checkIcon, bool twoIcons);
};

// One gallery tab per registered style, in the style manager's order.
KelTabWidget* createStylesPage();
// The application's folder, book and sorted book models as plain tables.
KelTabWidget* createModelsPage();

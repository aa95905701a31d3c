#pragma once

#include "widgets/keltabwidget.h"

class AbstractSettingsPage;
class KelExclusiveButtonGroup;

// The settings page of the main window: a row of tab buttons over the stack of the four
// settings tabs (system, reading, text to speech, hotkeys).
class AppSettingsPage : public KelTabWidget {
    Q_OBJECT

public:
    explicit AppSettingsPage(QWidget* parent = nullptr);
    ~AppSettingsPage() override;

    void insertPage(int index, AbstractSettingsPage* page);
    AbstractSettingsPage* page(int index) const;
    KelExclusiveButtonGroup* tabButtons() const;

    void retranslateUi();
    // The main window's name for it.
    void translateUi() { retranslateUi(); }

private:
    void onShowed();

    class Private;
    Private* d;
};

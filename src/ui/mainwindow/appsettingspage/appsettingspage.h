#pragma once

#include <QWidget>

// The settings page of the main window. The tabbed settings pages replace this class under the
// same name.
class AppSettingsPage : public QWidget {
    Q_OBJECT

public:
    explicit AppSettingsPage(QWidget* parent = nullptr);
    ~AppSettingsPage() override;

    void translateUi();
};

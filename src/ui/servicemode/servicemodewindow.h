#pragma once

#include "windows/kelwindow.h"

class KelTabWidget;

// The developers' diagnostic window of the maintenance mode: the toolkit's pages and the
// application's dialogs, style galleries and library models, one tab each. The tab shown last is
// shown again the next time it opens.
class ServiceModeWindow : public KelWindow {
    Q_OBJECT

public:
    explicit ServiceModeWindow(QWidget* parent = nullptr);
    ~ServiceModeWindow() override;

    void restoreWindowGeometry() override;
    void applyDefaultGeometry() override;
    void saveWindowGeometry() override;

    KelTabWidget* tabWidget() const { return m_tabs; }

private:
    QString lastTabKey() const;
    void saveLastTab();

    KelTabWidget* m_tabs = nullptr;
};

#pragma once

#include <QScopedPointer>
#include <QStackedWidget>

// The toolkit's page stack (pages of the tab widget and of the main window); sized as QStackedWidget.
class KelStackedWidget : public QStackedWidget {
    Q_OBJECT
public:
    explicit KelStackedWidget(QWidget* parent = nullptr);
    ~KelStackedWidget() override;

private:
    class Private;
    QScopedPointer<Private> d;
};

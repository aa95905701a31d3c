#pragma once

#include <QWidget>

// The strip under the pages. The status bar with the continue-reading and import strips
// replaces this class under the same name.
class StatusBar : public QWidget {
    Q_OBJECT

public:
    explicit StatusBar(QWidget* parent = nullptr);
    ~StatusBar() override;

    void translateUi();
};

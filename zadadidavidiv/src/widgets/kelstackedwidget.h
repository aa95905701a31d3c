#pragma once

#include <QStackedWidget>

// A stack of pages whose size hints are those of the page on show, so a container around it
// shrinks and grows with the current page instead of keeping room for the largest one.
class KelStackedWidget : public QStackedWidget {
    Q_OBJECT

public:
    explicit KelStackedWidget(QWidget* parent = nullptr);
    ~KelStackedWidget() override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
};

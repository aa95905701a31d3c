#pragma once

#include "widgets/kelframe.h"

class KelButton;
class KelIconWidget;
class KelLabel;
class QHBoxLayout;

// The caption strip of a toolkit window: application icon, title kept centred over the whole bar,
// two containers for the window's own title-bar widgets and the minimise, maximise, restore and
// close buttons. Its empty parts drag the window; its buttons stay clickable.
class KelTitleBar : public KelFrame {
    Q_OBJECT

public:
    enum Button {
        MinimizeButton = 1,
        MaximizeButton = 2,
        CloseButton = 4,
    };

    explicit KelTitleBar(QWidget* window);
    ~KelTitleBar() override;

    // Which buttons the window has (Button bits).
    void setButtons(int mask);
    int buttons() const;

    KelIconWidget* appIcon() const;
    KelLabel* titleLabel() const;
    // The minimise, maximise or close button; restore is shown in place of maximise when full.
    KelButton* button(int kind) const;
    KelButton* restoreButton() const;
    QHBoxLayout* leftWidgetsLayout() const;
    QWidget* leftWidgetsContainer() const;
    QWidget* rightWidgetsContainer() const;
    QHBoxLayout* rightWidgetsLayout() const;

    void retranslateUi();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    class Private;
    Private* d;
};

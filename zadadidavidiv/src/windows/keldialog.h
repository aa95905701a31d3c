#pragma once

#include "windows/kelwindow.h"

class KelFrame;
class QBoxLayout;

// The toolkit's dialog: a window with a title bar, a content frame that subclasses fill and a
// footer of buttons registered by id. exec() shows it and runs a local event loop until done(id)
// or a hide ends it, then returns the id. Enter presses the default button, Escape returns 0.
class KelDialog : public KelWindow {
    Q_OBJECT

public:
    KelDialog(int widgetType, WindowParams params, QWidget* parent = nullptr,
        ShadowType shadowType = ShadowType::Default, bool deferStyle = false);
    explicit KelDialog(QWidget* parent = nullptr, ShadowType shadowType = ShadowType::Default, bool deferStyle = false);
    ~KelDialog() override;

    virtual int exec(ShowStrategy strategy = ShowStrategy::CenteredOnParent);
    // Shows the dialog now, or once its minimised parent window is restored.
    virtual void showWhenParentVisible(ShowStrategy strategy);
    // Ends the dialog with the id.
    virtual void done(int result);

    // Adds a footer button closing the dialog with id; null when the footer has no box layout.
    QWidget* addButton(int id, QWidget* button, bool isDefault = false, bool insertFirst = false);
    QWidget* button(int id) const;
    QWidget* defaultButton() const;
    int defaultButtonId() const;
    bool isExecuting() const;

    KelFrame* contentWidget() const;
    KelFrame* footerWidget() const;
    QBoxLayout* footerLayout() const;

    void setVisible(bool visible) override;

protected:
    bool event(QEvent* event) override;

private:
    class Private;
    Private* d;
};

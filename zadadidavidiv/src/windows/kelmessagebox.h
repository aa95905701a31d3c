#pragma once

#include "windows/keldialog.h"

class KelIconWidget;
class KelLabel;
class QBoxLayout;
class QVBoxLayout;

// The toolkit's message dialog: an optional icon beside (or above) a message label, then any
// widgets a caller adds (a remember check box, a text field), and the dialog's footer buttons.
class KelMessageBox : public KelDialog {
    Q_OBJECT

public:
    explicit KelMessageBox(QWidget* parent = nullptr, bool deferStyle = false);
    ~KelMessageBox() override;

    void setText(const QString& text);
    // The icon by name; an empty name hides it.
    void setIcon(const QString& iconName);
    // Appends a widget under the message. A line edit added with keepDefaultButtonEnabled false
    // enables the default button only while it holds text.
    void addContentWidget(QWidget* widget, bool keepDefaultButtonEnabled);

    KelLabel* messageLabel() const;
    KelIconWidget* iconWidget() const;
    QBoxLayout* messageLayout() const;
    QVBoxLayout* contentLayout() const;
    void setMessageSpacing(int spacing);

private:
    class Private;
    Private* d;
};

#pragma once

#include "windows/kelwindow.h"

// The toolkit's popup window. While it is open Qt hands it every mouse event of the application; it
// decides what a click outside does (close every popup, close them once the window under the click has
// handled its press, or hand the click to a registered widget), closes itself on Escape, and forwards
// presses, moves and releases to a mouse target so that the button that opened it still sees its own
// release. The tool tips of the windows beneath show as they would without it.
class KelPopup : public KelWindow {
    Q_OBJECT

public:
    KelPopup(int widgetType, WindowParams params = WindowParams(), QWidget* parent = nullptr,
        ShadowType shadowType = ShadowType::Default, bool deferStyle = false);
    ~KelPopup() override;

    // Clicks on the widget reach it instead of closing the popup (the popup's opener).
    void addPassThroughWidget(QWidget* widget);
    // Closes the open popups, the innermost first.
    static void closeAllPopups();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    class Private;
    Private* d;
};

#pragma once

#include <QPoint>
#include <QRect>

class QWidget;
class QWindow;

// Run-time replacement of Qt functions. Windows needs it for region-aware hit testing and for window
// geometry under mixed screen scales; on X11 Qt's own functions already behave that way (the X server
// honours window shapes and input-transparent windows when Qt asks which window is under a point), so
// nothing is replaced and the replacements below simply give Qt's answers.
class KelHooks {
public:
    static KelHooks& instance();

    // The trampoline through which the target's own code stays callable, or null when no hook was
    // installed (always, on this platform).
    void* installHook(void* target, void* detour);
    bool isInitialized() const { return m_initialized; }

private:
    KelHooks() = default;
    bool m_initialized = false;
};

// Called once by the application object's constructor; both leave Qt's functions in place here, so
// native region mode stays off and masks go through Qt's widget masks.
void installWidgetAtHook();
void installWindowGeometryHook();

// The widget under a global position, seen through mouse-transparent windows and window shapes.
QWidget* regionAwareWidgetAt(const QPoint& globalPos);
// The window's geometry scaled with its own screen's ratio, not that of the screen under its position.
QRect windowGeometryFromNative(const QWindow* window);

#pragma once

#include <QObject>
#include <QPoint>

class QPointF;
class QWindow;

// Mouse moves and presses anywhere on the application's windows, whichever widget receives them. All
// watchers share one event filter on the application object, seeing each event where the system hands it
// to a window. Positions are physical screen pixels (the logical position scaled by the window's device
// pixel ratio around its screen's origin), the way device-pixel mapping (KelUtils::mapDeviceToWidget)
// expects them.
//
// While a drag-and-drop of Qt's own runs, Qt consumes the mouse moves before any application filter, so
// none are reported then.
class KelGlobalMouseWatcher : public QObject {
    Q_OBJECT
public:
    // Must be made on the GUI thread; elsewhere, or without an application object, the watcher is not
    // registered and never emits.
    explicit KelGlobalMouseWatcher(QObject* parent = nullptr);
    ~KelGlobalMouseWatcher() override;

    bool isRegistered() const { return m_registered; }
    // Whether the shared filter sits on the application.
    static bool isHookInstalled();
    static QPoint rawGlobalPosition(const QWindow* window, const QPointF& logicalGlobalPos);

signals:
    void mouseMoved(QPoint rawGlobal1xPos);
    void mousePressed(QPoint rawGlobal1xPos, Qt::MouseButton button);

private:
    bool m_registered = false;
};

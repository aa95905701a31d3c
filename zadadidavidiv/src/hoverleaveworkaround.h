#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>

class QMouseEvent;
class QWidget;

// Keeps Qt::WA_UnderMouse and the enter and leave events of widgets right from the mouse moves
// that the application delivers to its windows, and undoes a spurious leave that arrives while
// the cursor is still over the widget.
class HoverLeaveWorkaround : public QObject {
    Q_OBJECT

public:
    explicit HoverLeaveWorkaround(QObject* parent = nullptr);

    // Called for every mouse move delivered to a window (receiver) after delivery.
    void onMouseMove(QObject* receiver, QMouseEvent* event);

    bool isPositionValid() const { return m_positionValid; }
    QPoint lastGlobalPosition() const { return m_lastGlobalPos; }
    QWidget* hoveredWidget() const { return m_hovered; }

    // Leave events for left and its ancestors up to the first common one with entered, then enter
    // events down to entered; either may be null.
    static void dispatchEnterLeave(QWidget* entered, QWidget* left, const QPoint& globalPos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void recheckPendingLeave();
    void forgetHovered();

    bool m_positionValid = false;
    QPoint m_lastGlobalPos { -1, -1 };
    QPointer<QWidget> m_hovered;
    QPointer<QWidget> m_pendingLeave;
    QTimer m_recheckTimer;
};

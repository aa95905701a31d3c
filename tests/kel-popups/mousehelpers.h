#pragma once

#include <QTest>
#include <QWidget>
#include <QWindow>

// Mouse input through the window system layer, so that open popups get it as they would a user's. The
// cursor moves first: popups ask for the widget under it. The point is in w's coordinates; the event goes
// through the window of `through` when given (an open popup, for points outside every window).
namespace MouseHelpers {

inline void send(QWidget* w, const QPoint& local, QEvent::Type type, Qt::MouseButton button = Qt::LeftButton,
    QWidget* through = nullptr)
{
    QWidget* target = through ? through : w;
    const QPoint pos = target->window()->mapFromGlobal(w->mapToGlobal(local));
    QWindow* window = target->window()->windowHandle();
    QTest::mouseMove(window, pos);
    if (type == QEvent::MouseButtonPress)
        QTest::mousePress(window, button, Qt::NoModifier, pos);
    else if (type == QEvent::MouseButtonRelease)
        QTest::mouseRelease(window, button, Qt::NoModifier, pos);
}

inline void click(QWidget* w)
{
    // From just outside, so that the widget sees the mouse enter even when the cursor rested there.
    send(w, QPoint(-2, -2), QEvent::MouseMove);
    send(w, w->rect().center(), QEvent::MouseButtonPress);
    send(w, w->rect().center(), QEvent::MouseButtonRelease);
}

} // namespace MouseHelpers

#pragma once

#include <QCoreApplication>
#include <QTest>
#include <QWidget>
#include <QWindow>

// Mouse input through the window system layer, so that open popups see it as a user's would. The
// cursor is moved first: popups ask for the widget under it.
namespace MouseHelpers {

inline QWindow* handleOf(QWidget* w) { return w->window()->windowHandle(); }
inline QPoint inWindow(QWidget* w, const QPoint& local) { return w->mapTo(w->window(), local); }

// A point given in w's coordinates, sent through the window that has the mouse: the popup while one
// is open.
inline void send(QWidget* w, const QPoint& local, QEvent::Type type, Qt::MouseButton button = Qt::LeftButton,
    QWidget* through = nullptr)
{
    QWidget* target = through ? through : w;
    const QPoint pos = target->window()->mapFromGlobal(w->mapToGlobal(local));
    QWindow* window = handleOf(target);
    if (type == QEvent::MouseMove) {
        QTest::mouseMove(window, pos);
    } else {
        QTest::mouseMove(window, pos);
        if (type == QEvent::MouseButtonPress)
            QTest::mousePress(window, button, Qt::NoModifier, pos);
        else
            QTest::mouseRelease(window, button, Qt::NoModifier, pos);
    }
}

inline void click(QWidget* w, const QPoint& local = QPoint(-1, -1), QWidget* through = nullptr)
{
    const QPoint at = local == QPoint(-1, -1) ? w->rect().center() : local;
    // From just outside, so that the widget sees the mouse enter even when the cursor already rested there.
    send(w, QPoint(-2, -2), QEvent::MouseMove, Qt::NoButton, through);
    send(w, at, QEvent::MouseButtonPress, Qt::LeftButton, through);
    send(w, at, QEvent::MouseButtonRelease, Qt::LeftButton, through);
}

} // namespace MouseHelpers

#pragma once

#include <QCoreApplication>
#include <QTest>
#include <QWidget>
#include <QWindow>

// Mouse input at a point of the widget's own, through its window as the system delivers it. The cursor
// moves there first: popups and hover effects ask for the widget under it.
inline void mouseThroughWindow(
    QWidget* widget, const QPoint& local, QEvent::Type type, Qt::MouseButton button = Qt::LeftButton)
{
    QWindow* window = widget->window()->windowHandle();
    const QPoint pos = widget->mapTo(widget->window(), local);
    QTest::mouseMove(window, pos);
    if (type == QEvent::MouseButtonPress)
        QTest::mousePress(window, button, Qt::NoModifier, pos);
    else if (type == QEvent::MouseButtonRelease)
        QTest::mouseRelease(window, button, Qt::NoModifier, pos);
}

// A click on the widget's centre delivered through its window as the system would: move, press,
// release; then the event-loop pass that carries the button's toggled().
inline void clickThroughWindow(QWidget* widget)
{
    mouseThroughWindow(widget, widget->rect().center(), QEvent::MouseButtonPress);
    mouseThroughWindow(widget, widget->rect().center(), QEvent::MouseButtonRelease);
    QCoreApplication::processEvents();
}

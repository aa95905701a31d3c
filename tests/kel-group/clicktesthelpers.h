#pragma once

#include <QCoreApplication>
#include <QTest>
#include <QWidget>
#include <QWindow>

// A click on the widget's centre delivered through its window as the system would: move, press,
// release; then the event-loop pass that carries the button's toggled().
inline void clickThroughWindow(QWidget* widget)
{
    QWindow* window = widget->window()->windowHandle();
    const QPoint pos = widget->mapTo(widget->window(), widget->rect().center());
    QTest::mouseMove(window, pos);
    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, pos);
    QCoreApplication::processEvents();
}

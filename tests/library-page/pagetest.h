#pragma once

#include <QCoreApplication>
#include <QTest>
#include <QWidget>
#include <QWindow>

// Toolkit buttons deliver a click on the next event-loop pass; the click goes through the window
// as a user's would.
inline void click(QWidget* button)
{
    QWidget* window = button->window();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QPoint at = button->mapTo(window, button->rect().center());
    QTest::mouseMove(window->windowHandle(), at);
    QTest::mousePress(window->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
    QCoreApplication::processEvents();
}

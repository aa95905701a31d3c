#pragma once

#include <QString>

// Shows the start-up splash with a row of busy dots along its bottom edge.
void showStartupSplash(int minimumDisplayTimeMs, bool showMainWindowWhenDone);

// Shows a line of text above the busy dots (what long work before the main window is doing); an
// empty text hides it. Nothing happens when no splash is up.
void setStartupSplashText(const QString& text);

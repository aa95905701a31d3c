#pragma once

// Shows the start-up splash with a row of busy dots along its bottom edge.
void showStartupSplash(int minimumDisplayTimeMs, bool showMainWindowWhenDone);

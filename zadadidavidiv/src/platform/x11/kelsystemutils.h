#pragma once

#include <QString>

namespace KelUtils {

// The text of the calling thread's last system error (errno) as "text (code)"; empty when there is none.
QString lastWinErrorText();

} // namespace KelUtils

// Windows version tests; false on every other system.
bool isWindows8OrGreater();
bool isWindows10OrGreater(int build);

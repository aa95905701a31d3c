#pragma once

// How long a test waits for a window to be shown or activated. Qt Test's own default of 5 s is
// too short for a window manager on a machine busy with other work; a window that comes costs no
// more than its coming.
namespace windowwaits {
constexpr int kTimeoutMs = 30000;
}

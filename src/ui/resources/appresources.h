#pragma once

// Registers the application's pictures (":/svg/...", ":/appicon.svg", ":/backgrounds/noise.png").
// They live in a static library, whose resource initialiser the linker would otherwise drop; calling
// this more than once does no harm.
void initAppResources();

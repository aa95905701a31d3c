#pragma once

// The state of a widget as icon variants and painters see it. The values are bits, but a request names
// exactly one of them.
namespace KelPainting {

enum WidgetState {
    Normal = 1,
    Hovered = 2,
    Pressed = 4,
    Disabled = 8,
    Checked = 16,
    CheckedHovered = 32,
    CheckedPressed = 64,
    CheckedDisabled = 128,
};

} // namespace KelPainting

#pragma once

class QLayout;
class QWidget;

// Walking and adjusting widget and layout trees.
namespace KelUtils {

// Empties the layout, deleting its widgets and nested layouts.
void clearLayout(QLayout* layout);
// Invalidates the layout tree and activates it again.
void invalidateLayoutRecursively(QLayout* layout);
// Re-measures a widget tree after its contents changed size, children before parents.
void updateGeometriesRecursively(QWidget* widget);
// The outermost window above the widget, through windows parented to other windows.
QWidget* topLevelWindow(QWidget* widget);
// Whether the widget keeps its place in the layout while hidden.
void setRetainSizeWhenHidden(QWidget* widget, bool retain);

} // namespace KelUtils

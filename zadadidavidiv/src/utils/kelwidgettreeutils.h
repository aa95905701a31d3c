#pragma once

#include <QSizePolicy>

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
// Sets how the widget grows and shrinks. Whether it keeps its place while hidden is the owner's
// choice and stays: a style applied again must not make a hidden widget's room collapse.
void setSizePolicy(QWidget* widget, QSizePolicy::Policy horizontal, QSizePolicy::Policy vertical);

} // namespace KelUtils

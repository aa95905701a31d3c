#pragma once

#include <QMargins>

class QHBoxLayout;
class QVBoxLayout;
class QWidget;

// Box layouts that a widget is built on, made once and found again on later calls.
namespace KelUtils {

// The widget's layout when it is already a vertical box, else a new one installed on the widget
// with the margins and spacing. Null (with a warning) when the widget is null or already holds a
// layout of another kind, which Qt would refuse to replace.
QVBoxLayout* vBoxLayout(QWidget* widget, const QMargins& margins = QMargins(), int spacing = 0);
// The same for a horizontal box.
QHBoxLayout* hBoxLayout(QWidget* widget, const QMargins& margins = QMargins(), int spacing = 0);

} // namespace KelUtils

#pragma once

#include "styles/kelstatecolors.h"

#include <QBrush>
#include <QColor>
#include <QPalette>

class KelWidgetStateAnimator;
class QWidget;

// The toolkit's colour arithmetic. Colours are handled as 8-bit ARGB; an invalid colour counts as
// opaque black where its components are read.

// top composited source-over on bottom. A top alpha of 0 gives bottom, 255 gives top.
QColor blendColorOver(const QColor& bottom, const QColor& top);

// progress is clamped to [0, 1]. Mode 0 interpolates the four 8-bit channels linearly; mode 1 is
// alpha-aware (a fully transparent end only fades the other end's alpha in or out, colour channels
// mix as root mean squares); any other mode gives to.
QColor interpolateColor(const QColor& from, const QColor& to, double progress, int mode);
// from + (to - from) x progress, truncated toward zero; exact ends for a fuzzy 0 or 1.
int interpolateInt(int from, int to, double progress);

// A weighted lightness below 128 of 255. Invalid and transparent colours are not dark.
bool isDarkColor(const QColor& color);
QColor colorWithAlpha(const QColor& color, double alphaF);

// Sets the role in the active and inactive groups, and at alpha 0.6 in the disabled group, when
// the colour differs; the Window and Base roles switch the background filling on.
void setPaletteColor(QWidget* widget, QPalette::ColorRole role, const QColor& color);
void setWidgetBackgroundColor(QWidget* widget, const QColor& color);
// The text colour of a spin box, else the colour of the widget's foreground role.
void setWidgetForegroundColor(QWidget* widget, const QColor& color);
void setWidgetBackgroundBrush(QWidget* widget, const QBrush& brush);

// The colour of a widget in its current, possibly animated, state: the unchecked and checked sets
// mixed by the checked progress, the hover and press overlays laid over it by their progress, then
// the disabled colour mixed in (or the alpha faded by the animator's opacity) by the disabled
// progress. Without an animator the unchecked normal colour.
QColor blendStateColor(const KelStateColors& colors, const KelWidgetStateAnimator* animator);

#pragma once

#include <QColor>
#include <QList>
#include <QPixmap>

// One layer of a drop shadow: its offset, blur and tint, in logical pixels.
struct ShadowSpec {
    double x = 0.0;
    double y = 0.0;
    double blur = 0.0;
    QColor color;
};

// A transparent pixmap of the source's size and device pixel ratio holding the source's shadow once per
// layer: the source's alpha tinted with the layer's colour (alpha doubled, at most 255), blurred by twice
// the layer's blur and moved by its offset. The source itself is drawn on top when asked.
QPixmap dropShadowPixmap(const QPixmap& source, const QList<ShadowSpec>& shadows, bool drawSource = false);

#pragma once

#include <QColor>
#include <QMargins>
#include <QSize>

// Four corner radii in whole pixels, clockwise from the top-left corner.
struct KelRadii {
    int topLeft = 0;
    int topRight = 0;
    int bottomRight = 0;
    int bottomLeft = 0;

    constexpr KelRadii() = default;
    constexpr explicit KelRadii(int all)
        : topLeft(all)
        , topRight(all)
        , bottomRight(all)
        , bottomLeft(all)
    {
    }
    constexpr KelRadii(int tl, int tr, int br, int bl)
        : topLeft(tl)
        , topRight(tr)
        , bottomRight(br)
        , bottomLeft(bl)
    {
    }

    constexpr bool isUniform() const { return topLeft == topRight && topLeft == bottomRight && topLeft == bottomLeft; }
    constexpr bool operator==(const KelRadii& o) const
    {
        return topLeft == o.topLeft && topRight == o.topRight && bottomRight == o.bottomRight
            && bottomLeft == o.bottomLeft;
    }
    constexpr bool operator!=(const KelRadii& o) const { return !(*this == o); }
};

// How a style describes the chevron of buttons and spin boxes.
struct KelArrowSpec {
    QSize size; // bounding box of the arrow
    QMargins margins; // taken off the target rectangle before centring
    int arrowType = 0; // Qt::ArrowType value; anything but up, down, left, right draws nothing
    double lineWidth = 0.0; // 0 = filled triangle, else an open chevron of that stroke width

    bool operator==(const KelArrowSpec& o) const
    {
        return size == o.size && margins == o.margins && arrowType == o.arrowType && lineWidth == o.lineWidth;
    }
    bool operator!=(const KelArrowSpec& o) const { return !(*this == o); }
};

// Look of a developer diagnostic marker.
struct KelDiagnosticMarker {
    QColor color;
    bool outline = true;
    bool diagonals = false;
};

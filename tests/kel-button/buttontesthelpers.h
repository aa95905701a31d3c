#pragma once

#include "painting/kelicon.h"
#include "painting/keliconsprovider.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

// A square icon of one colour; a tint replaces the colour. Registered with the running provider.
class SolidIcon : public KelIcon {
public:
    SolidIcon(const QString& name, const QSize& size, const QColor& color)
        : m_color(color)
    {
        setName(name);
        setDefaultSize(size);
    }
    bool isValid() const override { return true; }
    QPixmap pixmap(double ratio, const QSize& size, const QColor& color, KelPainting::WidgetState) const override
    {
        QPixmap canvas = createPixmap(ratio, size);
        canvas.fill(color.isValid() ? color : m_color);
        return canvas;
    }

private:
    QColor m_color;
};

inline KelIcon* solidIcon(const char* name, const QSize& size, const QColor& color)
{
    KelIconsProvider* provider = KelIconsProvider::instance();
    KelIcon* known = provider->icon(name);
    if (known->isValid())
        return known;
    provider->registerIcon(new SolidIcon(QString::fromLatin1(name), size, color));
    return provider->icon(name);
}

// The widget as the screen would show it, at the screen's device pixel ratio.
inline QImage grabImage(QWidget* widget) { return widget->grab().toImage(); }

// The colour of the device pixel under a logical point.
inline QColor pixelAt(const QImage& image, double x, double y)
{
    const double r = image.devicePixelRatioF();
    return image.pixelColor(int(x * r), int(y * r));
}

inline bool nearColor(const QColor& a, const QColor& b, int tolerance = 3)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance && qAbs(a.alpha() - b.alpha()) <= tolerance;
}

// How many device pixels in the logical rectangle are near the colour.
inline int countColor(const QImage& image, const QRectF& logical, const QColor& color, int tolerance = 40)
{
    const double r = image.devicePixelRatioF();
    const QRect area
        = QRect(int(logical.left() * r), int(logical.top() * r), int(logical.width() * r), int(logical.height() * r))
              .intersected(image.rect());
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (nearColor(image.pixelColor(x, y), color, tolerance))
                ++count;
    return count;
}

#pragma once

#include "../kel-painting/imagetesthelpers.h"

#include <QColor>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

// A widget that fills itself with one colour and counts its paint events.
class SolidWidget : public QWidget {
public:
    explicit SolidWidget(const QColor& color, QWidget* parent = nullptr)
        : QWidget(parent)
        , color(color)
    {
    }
    QColor color;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override
    {
        ++paints;
        QPainter painter(this);
        painter.fillRect(rect(), color);
    }
};

// The widget rendered on a transparent image at the device pixel ratio.
inline QImage renderWidget(QWidget* widget, double ratio = 1.0)
{
    QImage image(widget->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    widget->render(&image);
    return image;
}

inline bool sameColor(const QColor& a, const QColor& b, int tolerance = 2)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance && qAbs(a.alpha() - b.alpha()) <= tolerance;
}

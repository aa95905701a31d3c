#pragma once

#include <QImage>
#include <QRect>
#include <QtMath>

// A transparent image of the logical size at the device pixel ratio.
inline QImage makeImage(const QSize& logicalSize, double ratio)
{
    QImage image(qCeil(logicalSize.width() * ratio - 1e-9), qCeil(logicalSize.height() * ratio - 1e-9),
        QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    return image;
}

// The device pixel that covers the logical point.
inline QColor colorAt(const QImage& image, double x, double y)
{
    const double r = image.devicePixelRatioF();
    return image.pixelColor(int(x * r), int(y * r));
}

// Device pixels with any ink that lie outside the device rectangle.
inline int inkOutside(const QImage& image, const QRect& deviceRect)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!deviceRect.contains(x, y) && qAlpha(image.pixel(x, y)) != 0)
                ++count;
    return count;
}

// Device pixels with any ink inside the device rectangle.
inline int inkInside(const QImage& image, const QRect& deviceRect)
{
    int count = 0;
    const QRect area = deviceRect.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                ++count;
    return count;
}

// The logical rectangle in device pixels (the ratio's multiples are exact in these tests).
inline QRect toDevice(const QRectF& logical, double ratio)
{
    return QRect(qRound(logical.x() * ratio), qRound(logical.y() * ratio), qRound(logical.width() * ratio),
        qRound(logical.height() * ratio));
}

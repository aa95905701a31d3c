#pragma once

#include <QGraphicsItem>
#include <QImage>

// One rendered page in the image viewer's scene. Its size in scene units is the image's logical
// size; when the view's scale changes it resamples the image once for that scale and draws the
// copy pixel for pixel, so zoomed pages stay sharp instead of being stretched by the painter.
class CustomGraphicsPixmapItem : public QGraphicsItem {
public:
    // A resampled copy beyond this many pixels is not made; the page is then drawn scaled by the
    // painter, so a deep zoom into a large page cannot allocate gigabytes.
    static constexpr qint64 maxScaledPixels = 64LL * 1024 * 1024;

    explicit CustomGraphicsPixmapItem(const QImage& image, QGraphicsItem* parent = nullptr);

    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget = nullptr) override;

    const QImage& image() const { return m_image; }
    // The horizontal scale the resampled copy was made for.
    double scale() const { return m_scale; }
    const QImage& scaledImage() const { return m_scaledImage; }

private:
    QImage m_image;
    double m_scale = 1.0;
    QImage m_scaledImage;
};

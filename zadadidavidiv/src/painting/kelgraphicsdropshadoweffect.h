#pragma once

#include "painting/kelgraphicsopacityeffect.h"

#include <QColor>
#include <QImage>
#include <QMargins>
#include <QPointF>

// The opacity effect with a blurred, coloured drop shadow behind the widget. The shadow is painted also when
// the widget is fully opaque, and only over a whole repaint of the effect's area: a child widget's shadow
// left out of a paint of part of it is painted by a whole repaint asked for at once. The shadow of a widget with
// Qt::WA_OpaquePaintEvent depends only on its size and the effect's values, so it is blurred once and then served from
// the UI's shadow cache.
class KelGraphicsDropShadowEffect : public KelGraphicsOpacityEffect {
    Q_OBJECT
    Q_PROPERTY(QPointF offset READ offset WRITE setOffset NOTIFY offsetChanged)
    Q_PROPERTY(double xOffset READ xOffset WRITE setXOffset)
    Q_PROPERTY(double yOffset READ yOffset WRITE setYOffset)
    Q_PROPERTY(double blurRadius READ blurRadius WRITE setBlurRadius NOTIFY blurRadiusChanged)
public:
    explicit KelGraphicsDropShadowEffect(QWidget* target);
    ~KelGraphicsDropShadowEffect() override;

    QPointF offset() const { return m_offset; }
    void setOffset(const QPointF& offset);
    double xOffset() const { return m_offset.x(); }
    void setXOffset(double x);
    double yOffset() const { return m_offset.y(); }
    void setYOffset(double y);

    // How far the shadow's source area is inset from the widget's edges.
    QMargins padding() const { return m_padding; }
    void setPadding(const QMargins& padding);
    // The padding as applied: each side at most half the target's size less 2.
    QMargins effectivePadding() const;

    QColor color() const { return m_color; }
    void setColor(const QColor& color);

    double blurRadius() const { return m_blurRadius; }
    void setBlurRadius(double radius);

    QRectF boundingRectFor(const QRectF& rect) const override;

    // Draws the shadow of the pixmap at the position at the effect's opacity, then, when asked, the source
    // rectangle of the pixmap itself; nothing when the pixmap gives no shadow.
    void drawWithShadow(
        QPainter* painter, const QPointF& position, const QPixmap& pixmap, const QRectF& sourceRect, bool drawSource);

    // The coloured, blurred shadow of the pixmap, of its size and device pixel ratio.
    QImage shadowImage(const QPixmap& source);
    QString shadowCacheKey(const QPixmap& source) const;

signals:
    void offsetChanged(QPointF offset);
    void paddingChanged(QMargins padding);
    void blurRadiusChanged(double blurRadius);
    void colorChanged(QColor color);

protected:
    void draw(QPainter* painter) override;

private:
    // Whether this paint covers less than the part of the effect's area that the window shows.
    bool isPartialPaint(QPainter* painter) const;

    QPointF m_offset { 8.0, 8.0 };
    QMargins m_padding;
    QColor m_color { 63, 63, 63, 180 };
    double m_blurRadius = 1.0;
    bool m_wholeRepaintAsked = false;
};

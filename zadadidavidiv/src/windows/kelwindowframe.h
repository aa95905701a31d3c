#pragma once

#include "painting/kelpaintingtypes.h"

#include <QBrush>
#include <QColor>
#include <QObject>
#include <QPainterPath>
#include <QPointer>
#include <QSizeF>

#include <functional>

class QWidget;

// How a frameless window's outline is painted: background, border, corner radii, shadow and the
// edge it was shown at next to an anchor. The style writes it each time the window is styled; the
// window and its shadow paint from it. Every setter that changes what is painted repaints the
// window.
class KelWindowFrame : public QObject {
    Q_OBJECT

public:
    // A custom outline for a window size and device pixel ratio; without one the outline is the
    // rectangle with the corner radii.
    using ShapeFunction = std::function<QPainterPath(const KelWindowFrame* frame, const QSizeF& size, double dpr)>;

    struct Anchor {
        Qt::Edge edge = Qt::Edge(0);
        Qt::Alignment alignment;
    };

    // widget: any widget of the window; the frame describes widget->window().
    KelWindowFrame(QObject* parent, QWidget* widget);
    ~KelWindowFrame() override;

    QWidget* window() const { return m_window; }

    QBrush background() const;
    void setBackground(const QBrush& brush);
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor& color);
    int borderWidth() const { return m_borderWidth; }
    void setBorderWidth(int width);
    // 0 while the window is maximized or full screen.
    int effectiveBorderWidth() const;
    KelRadii radii() const { return m_radii; }
    void setRadii(int topLeft, int topRight, int bottomRight, int bottomLeft);
    void setRadii(const KelRadii& radii);

    QColor shadowColor() const { return m_shadowColor; }
    void setShadowColor(const QColor& color);
    int shadowSize() const { return m_shadowSize; }
    void setShadowSize(int size);
    // Vertical offset of the shadow.
    int shadowOffset() const { return m_shadowOffset; }
    int shadowVerticalOffset() const { return m_shadowOffset; }
    void setShadowOffset(int offset);

    // The flag word the window painter reads; 1 at start.
    int flags() const { return m_flags; }
    void setFlags(int flags);
    ShapeFunction shapeFunction() const { return m_shape; }
    void setShapeFunction(ShapeFunction shape);
    // A shape or any corner radius needs a translucent window background.
    bool needsTranslucentBackground() const;

    // No repaint: the anchor only tells where a popup was placed.
    Anchor anchor() const { return m_anchor; }
    void setAnchor(Qt::Edge edge, Qt::Alignment alignment);
    void clearAnchor();

    bool isContentProtected() const { return m_contentProtected; }
    void setContentProtected(bool contentProtected);

signals:
    void shadowColorChanged(QColor c);

private:
    // Stores value in field and repaints the window when they differ; true on a change.
    template <typename T> bool assign(T& field, const T& value);
    void repaint();

    QPointer<QWidget> m_window;
    QColor m_borderColor;
    int m_flags = 1;
    int m_borderWidth = 0;
    ShapeFunction m_shape;
    KelRadii m_radii;
    QColor m_shadowColor;
    int m_shadowSize = 0;
    int m_shadowOffset = 0;
    Anchor m_anchor;
    bool m_contentProtected = false;
};

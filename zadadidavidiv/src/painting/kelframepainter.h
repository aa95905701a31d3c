#pragma once

#include "animators/kelvisibilityanimatable.h"
#include "painting/kelpainting.h"
#include "painting/kelpaintingtypes.h"
#include "styles/kelstatecolors.h"

#include <QColor>
#include <QMargins>
#include <QPainterPath>
#include <QPointer>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QVector>

class KelPaintContext;
class KelWidgetStateAnimator;
class QPainter;
class QPen;
class QWidget;

// The box model and frame of a toolkit widget: outer margins, a border of up to four widths,
// four corner radii, paddings, and the frame rectangle (the widget's area, set by its owner) from
// which the contents rectangle follows. It paints the background and border with colours blended
// for the widget's animated state, or along a free-form outline from a callback, which then also
// becomes the widget's mask.
//
// Geometry changes only mark the box dirty and call the hooks; ensureGeometryIsValid() recomputes
// it, so owners call it before they read contentsRect().
class KelFramePainter : public KelVisibilityAnimatable {
public:
    // The outline of the frame within the frame rectangle.
    using CustomPathFunction = QPainterPath (*)(KelFramePainter* painter, const QRect& frameRect);

    explicit KelFramePainter(QWidget* widget);
    ~KelFramePainter() override;

    QMargins margins() const { return m_margins; }
    QMargins borderWidths() const { return m_borderWidths; }
    KelRadii radii() const { return m_radii; }
    virtual QMargins paddings() const;
    KelStateColors borderColors() const { return m_borderColors; }
    KelStateColors backgroundColors() const { return m_backgroundColors; }
    KelPainting::PenOverlapping penOverlapping() const { return m_penOverlapping; }
    CustomPathFunction customPathFunction() const { return m_customPathFunction; }
    QRect frameRect() const { return m_frameRect; }
    // Valid once ensureGeometryIsValid() has run on a valid frame rectangle.
    QRect contentsRect() const { return m_contentsRect; }
    // The frame's own opacity, 1.0; the fade of an animated show is KelVisibilityAnimatable::opacity().
    double opacity() const { return m_opacity; }
    double dashOffset() const { return m_dashOffset; }
    QVector<double> dashPattern() const { return m_dashPattern; }
    // Null once the widget is destroyed.
    QWidget* widget() const { return m_widget; }
    bool isGeometryDirty() const { return m_geometryDirty; }

    // What margins, borders and paddings take together: left + right, top + bottom.
    QSize sizeAddition() const;
    QMargins boxMargins() const;

    virtual void setMargins(const QMargins& margins);
    virtual void setPaddings(const QMargins& paddings);
    void setBorderWidths(const QMargins& widths);
    void setRadii(const KelRadii& radii);
    void setCustomPathFunction(CustomPathFunction function);
    void setFrameRect(const QRect& rect);
    void setFrameSize(const QSize& size);
    void setBorderColors(const KelStateColors& colors);
    void setBackgroundColors(const KelStateColors& colors);
    void setPenOverlapping(KelPainting::PenOverlapping mode);
    // A dashed border; an empty pattern is a solid line. Only uniform borders can be dashed.
    void setDashPattern(const QVector<double>& pattern, double offset = 0.0);

    // The frame has no content size of its own: margins, borders and paddings only.
    virtual QSize sizeHint() const;
    virtual QSize minimumSizeHint() const;
    virtual void ensureGeometryIsValid();

    // Triggers for subclasses whose own fields change the size, layout or look.
    void updateSizeHint();
    void updateLayout();
    void updateAppearance();

    // Paints the border and background in the colours of the animator's state (the normal
    // colours without an animator).
    void drawFrame(KelPaintContext& context, const KelWidgetStateAnimator* animator);
    void drawFrame(KelPaintContext& context, const QColor& borderColor, const QColor& backgroundColor);

protected:
    // Geometry hooks: the widget's size hint changed (widgets call updateGeometry()), the box moved
    // inside it, its colours changed. The last two repaint the widget.
    virtual void onSizeHintChanged();
    virtual void onLayoutChanged();
    virtual void onAppearanceChanged();

    void setGeometryDirty() { m_geometryDirty = true; }

private:
    void changeSize();
    void drawSquareFrame(QPainter* painter, const QRectF& box, double ratio, const QColor& borderColor,
        const QColor& backgroundColor, const QPen& pen);

    QMargins m_margins;
    QMargins m_borderWidths;
    KelStateColors m_borderColors;
    KelRadii m_radii;
    double m_dashOffset = 0.0;
    QVector<double> m_dashPattern;
    KelPainting::PenOverlapping m_penOverlapping = KelPainting::Overlapping;
    KelStateColors m_backgroundColors;
    QMargins m_paddings;
    double m_opacity = 1.0;
    CustomPathFunction m_customPathFunction = nullptr;
    QPainterPath m_cachedPath;
    bool m_geometryDirty = true;
    QRect m_frameRect;
    QRect m_contentsRect;
    QPointer<QWidget> m_widget;
};

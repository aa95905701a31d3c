#pragma once

#include "animators/kelvisibilityanimatable.h"
#include "painting/kelpaintingtypes.h"
#include "styles/kelstatecolors.h"

#include <QMargins>
#include <QPointer>
#include <QRect>
#include <QSize>

class KelPaintContext;
class KelWidgetStateAnimator;
class QWidget;

// The frame a button face stands in: the box model (margins, border widths, paddings, corner radii)
// with its state colours, the frame and contents rectangles, and a plain painting of background and
// border. It carries the names and change hooks of the toolkit's frame painter, which is meant to
// take its place as the base of KelButtonPainter; until then it offers only what buttons use (no
// custom outlines, dashes, masks or per-side border widths when painting).
class KelButtonFrame : public KelVisibilityAnimatable {
public:
    explicit KelButtonFrame(QWidget* widget);
    ~KelButtonFrame() override;

    // The painted widget; null once it is destroyed.
    QWidget* widget() const { return m_widget; }

    QMargins margins() const { return m_margins; }
    QMargins borderWidths() const { return m_borderWidths; }
    KelRadii radii() const { return m_radii; }
    virtual QMargins paddings() const { return m_paddings; }
    KelStateColors borderColors() const { return m_borderColors; }
    KelStateColors backgroundColors() const { return m_backgroundColors; }
    QRect frameRect() const { return m_frameRect; }
    // Null while the frame rectangle is not valid.
    QRect contentsRect() const { return m_contentsRect; }

    virtual void setMargins(const QMargins& margins);
    void setBorderWidths(const QMargins& widths);
    virtual void setPaddings(const QMargins& paddings);
    void setRadii(const KelRadii& radii);
    void setBorderColors(const KelStateColors& colors);
    void setBackgroundColors(const KelStateColors& colors);
    void setFrameRect(const QRect& rect);
    void setFrameSize(const QSize& size);

    // Margins, border widths and paddings together.
    QSize sizeAddition() const;
    virtual QSize sizeHint() const;
    virtual QSize minimumSizeHint() const;
    virtual void ensureGeometryIsValid();
    bool isGeometryDirty() const { return m_geometryDirty; }

    // Background and border, blended for the animator's state.
    void drawFrame(KelPaintContext& context, KelWidgetStateAnimator* animator);
    void drawFrame(KelPaintContext& context, const QColor& borderColor, const QColor& backgroundColor);

protected:
    virtual void onSizeHintChanged();
    virtual void onLayoutChanged();
    virtual void onAppearanceChanged();

    void updateSizeHint();
    void updateLayout();
    void updateAppearance();
    void markGeometryDirty() { m_geometryDirty = true; }

private:
    void changeBoxModel(QMargins& field, const QMargins& value);

    QMargins m_margins;
    QMargins m_borderWidths;
    KelStateColors m_borderColors;
    KelRadii m_radii;
    KelStateColors m_backgroundColors;
    QMargins m_paddings;
    bool m_geometryDirty = true;
    QRect m_frameRect;
    QRect m_contentsRect;
    QPointer<QWidget> m_widget;
};

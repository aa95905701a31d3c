#pragma once

#include "animators/kelvisibilityanimatable.h"
#include "styles/kelstyleable.h"

#include <QColor>
#include <QPixmap>
#include <QWidget>

// A thin, mouse-transparent strip painting a soft shadow along one edge of a target widget. With
// a tracking placement it lives in the target's parent, follows the target's geometry, visibility
// and parent, stays above its siblings and is deleted with the target; with placement Untracked its owner lays it out.
// The shadow is a blurred square, rendered once per ratio, size and colour into the UI's shadow cache, cut into two
// rounded ends and a stretched middle.
class KelLinearShadowWidget : public QWidget, public KelStyleable, public KelVisibilityAnimatable {
    Q_OBJECT
public:
    enum Placement {
        Untracked = 0,
        Outside = 1,
        Inside = 2,
    };

    // A tracking placement needs a target; without one the strip stays untracked.
    KelLinearShadowWidget(
        int widgetType, Qt::Edge edge, int placement, QWidget* target = nullptr, bool deferStyle = false);
    ~KelLinearShadowWidget() override;

    Qt::Edge edge() const;
    int placement() const;
    QWidget* target() const;
    int shadowSize() const;
    QColor shadowColor() const;

    void setShadowSize(int size);
    void setShadowColor(const QColor& color);

    // Where the strip lies for a target geometry (in the parent's coordinates).
    static QRect stripRect(const QRect& targetGeometry, Qt::Edge edge, int size, bool inside);
    // The blurred square for a thickness, colour and device pixel ratio; 1 + 4 x size logical pixels a side.
    static QPixmap makeShadowPixmap(int size, const QColor& color, double ratio);
    // The key of that pixmap in the shadow cache.
    static QString shadowCacheKey(int size, const QColor& color, double ratio);

    void applyStyle() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void placeFrom(const QRect& targetGeometry);
    QPixmap shadowPixmap(double ratio) const;

    class Private;
    Private* d; // a QObject child of the widget
};

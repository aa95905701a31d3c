#pragma once

#include "styles/kelstyleable.h"

#include <QMargins>
#include <QScrollArea>

class KelLinearShadowWidget;
class KelWheelAnimator;
class QAbstractAnimation;

// The toolkit's scroll area: frameless and transparent, with smooth wheel scrolling, styled context menus
// on its scroll bars, an optional auto-size mode in which it is as large as its content, shadows along the
// edges past which content is hidden, and scrolling a child or a rectangle into view, animated or at once.
class KelScrollArea : public QScrollArea, public KelStyleable {
    Q_OBJECT

public:
    KelScrollArea(int widgetType, QWidget* parent = nullptr, bool deferStyle = false);
    explicit KelScrollArea(QWidget* parent = nullptr, bool deferStyle = false);
    ~KelScrollArea() override;

    // On: the size hint is the content's, the minimum size hint the content's with its height capped at 32.
    bool isAutoSizeEnabled() const;
    void setAutoSizeEnabled(bool on);

    // Added around a rectangle before it is scrolled into view.
    QMargins ensureVisibleMargins() const;
    void setEnsureVisibleMargins(const QMargins& margins);

    KelWheelAnimator* wheelAnimator() const;

    // Scrolls a descendant of the content widget into view; anything else is refused with a warning.
    void scrollTo(QWidget* widget, bool animated);
    // The rectangle is in the content widget's coordinates.
    void ensureRectVisible(const QRect& rect, bool animated);
    // Moves both scroll values to the point (clamped to the ranges); an animated move glides there and
    // stops as soon as anything else moves a scroll bar.
    void scrollToPosition(const QPoint& position, bool animated);
    QPoint scrollPosition() const;
    // The glide of animated moves; it runs on Qt's animation clock.
    QAbstractAnimation* scrollAnimation() const;
    bool isScrollAnimating() const;

    // One shadow strip inside the area per edge; while tracking, a strip shows only while content lies
    // hidden past its edge.
    void setEdgeShadows(Qt::Edges edges, int shadowWidgetType, bool trackScroll);
    // Null for an edge without a strip.
    KelLinearShadowWidget* edgeShadow(Qt::Edge edge) const;

    // The resize handling without a resize event, for owners that changed the content: scroll bars and
    // content geometry are brought up to date and resized and geometryChanged are emitted.
    void updateLayout();
    void refreshGeometry() { updateLayout(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void applyStyle() override;

signals:
    void showed();
    void hided();
    void visibilityChanged(bool visible);
    void moved(QPoint pos);
    void resized(QSize size);
    void geometryChanged(QRect geometry);
    void autoSizeEnabledChanged(bool value);

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    class Private;
    Private* d; // a QObject child of the area
};

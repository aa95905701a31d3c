#pragma once

#include <QGraphicsEffect>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QVector>

class QWidget;

// Paints its widget with an opacity and an optional slide from one edge; every fade of a child widget runs on
// it. While a show or hide animation runs, the cached mode freezes the widget's rendering (taken again only
// when its place in the window or its size changes) and makes the scroll areas inside repaint through an
// effect of their own, since Qt's scroll-by-copy does not see what an ancestor's effect draws.
class KelGraphicsOpacityEffect : public QGraphicsEffect {
    Q_OBJECT
public:
    // Paints its widget unchanged; sits on the viewports and scroll bars of scroll areas in cached mode.
    class ForceRepaintEffect : public QGraphicsEffect {
    public:
        explicit ForceRepaintEffect(QWidget* widget);
        QWidget* widget() const { return m_widget; }

    protected:
        void draw(QPainter* painter) override;

    private:
        QPointer<QWidget> m_widget;
    };

    // Installs itself as the target's graphics effect (which deletes an earlier one) and starts disabled.
    explicit KelGraphicsOpacityEffect(QWidget* target);
    ~KelGraphicsOpacityEffect() override;

    QWidget* target() const { return m_target; }

    double opacity() const { return m_opacity; }
    // Clamped to 0..1. At 0 nothing is painted, not even the widget's own paint event.
    void setOpacity(double opacity);

    Qt::Edge slideEdge() const { return Qt::Edge(m_slideEdge); }
    int slideDistance() const { return m_slideDistance; }
    // The widget is drawn (1 - opacity) x distance away from its place towards the edge.
    void setSlideParams(Qt::Edge edge, int distance);
    QPoint slideOffset() const;

    bool disableWhenOpaque() const { return m_disableWhenOpaque; }
    // On: the effect is enabled only while the opacity is not 1, so an opaque widget paints directly.
    void setDisableWhenOpaque(bool value);

    bool isForceRepaintInstalled() const { return m_forceRepaintInstalled; }
    void installForceRepaintEffects();
    void removeForceRepaintEffects();

protected:
    void draw(QPainter* painter) override;

    // The source pixmap in device coordinates with its offset; in cached mode the kept one while it still
    // matches the target's place and size.
    QPixmap takeSourcePixmap(QGraphicsEffect::PixmapPadMode mode, QPoint* offset);

private:
    bool isCachedPixmapValid();

    QPointer<QWidget> m_target;
    double m_opacity = 1.0;
    int m_slideEdge = Qt::LeftEdge;
    int m_slideDistance = 0;
    bool m_disableWhenOpaque = true;
    bool m_forceRepaintInstalled = false;
    QPoint m_cachedOffset;
    QPixmap m_cachedPixmap;
    // Guarded: each effect is a child of the widget it sits on and may die with it.
    QVector<QPointer<ForceRepaintEffect>> m_forceRepaintEffects;
};

#pragma once

#include "animators/kelprogressanimator.h"

#include <QPointer>

class QWidget;

// Gives a widget an animated show and hide: a fade of its opacity, optionally with a slide from one edge.
// Child widgets fade through a KelGraphicsOpacityEffect (made when they have no effect), windows through the
// window opacity. Without a compositing manager X11 ignores window opacity, so a window then simply appears
// when the fade starts and disappears when it ends.
//
// Before the first animated call (or setAnimationParams, setSlideParams) nothing is made, and a non-animated
// call is a plain setVisible.
class KelVisibilityAnimatable {
public:
    // The fade: progress 0 is hidden, 1 shown, written to the widget as its opacity. Created as a child of
    // the widget.
    class VisibilityAnimator : public KelProgressAnimator {
    public:
        explicit VisibilityAnimator(QWidget* target);
        ~VisibilityAnimator() override;

        QWidget* target() const { return m_target; }
        double readOpacityFromTarget();
        void writeOpacityToTarget(double opacity);
        void onProgressChanged(double progress);
        // A child widget slides from the edge over the distance as it fades; windows cannot slide.
        void setSlideParams(Qt::Edge edge, int distance);

        bool eventFilter(QObject* watched, QEvent* event) override;

    private:
        QPointer<QWidget> m_target;
    };

    explicit KelVisibilityAnimatable(QWidget* baseWidget);
    virtual ~KelVisibilityAnimatable();

    KelVisibilityAnimatable(const KelVisibilityAnimatable&) = delete;
    KelVisibilityAnimatable& operator=(const KelVisibilityAnimatable&) = delete;

    virtual void setVisibleAnimated(bool visible, bool animated);
    void showAnimated();
    void hideAnimated();

    void setAnimationParams(const KelAnimationParams& params);
    void setSlideParams(Qt::Edge edge, int distance);

    // The opacity the fade has reached; 1.0 while no fade was ever made.
    double opacity() const;
    QWidget* baseWidget() const { return m_baseWidget; }
    VisibilityAnimator* visibilityAnimator() const { return m_animator; }

protected:
    // Called when an animated show has reached the shown end.
    virtual void onShowAnimationFinished();

private:
    void ensureAnimator();

    QPointer<QWidget> m_baseWidget;
    QPointer<VisibilityAnimator> m_animator;
};

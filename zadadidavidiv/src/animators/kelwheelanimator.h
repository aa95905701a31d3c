#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QAbstractScrollArea;
class QScrollBar;
class QWheelEvent;

// Smooth, accelerated wheel scrolling: each wheel event on the viewport is swallowed and replayed to a scroll
// bar as a run of small wheel events, 120 a second over 200 ms, with a cosine speed profile. Runs of quick
// successive notches overlap and speed the scrolling up.
class KelWheelAnimator : public QObject {
    Q_OBJECT
public:
    // Monotonic milliseconds.
    using Clock = std::function<qint64()>;

    explicit KelWheelAnimator(QAbstractScrollArea* area);
    KelWheelAnimator(QWidget* viewport, QScrollBar* horizontal, QScrollBar* vertical);
    ~KelWheelAnimator() override;

    // A vertical wheel then scrolls sideways and a horizontal one up and down (horizontal menus).
    void setOrientationSwapped(bool swapped);
    bool isOrientationSwapped() const;

    // True while runs are queued.
    bool isScrolling() const;

    // Replaces the clock that times the wheel events and the ticks; with a clock of their own, callers may
    // also drive the ticks themselves through tick().
    void setClock(Clock clock);
    // One tick of the scroll timer.
    void tick();

    // Takes the viewport's wheel events; everything else passes.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void stopScroll();

    class Private;
    std::unique_ptr<Private> d;
};

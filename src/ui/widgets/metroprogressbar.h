#pragma once

#include "widgets/kelprogressbar.h"

#include <QPointF>
#include <QVector>

#include <memory>

// The busy indicator: while the range is empty (minimum == maximum) a row of small round dots
// races in from the left, slows down in the middle and races out to the right, one after the
// other, in an endless cycle; with a real range it is a plain progress bar. Every dot position
// derives from the time since the cycle started, so missed repaints never slow the dots down.
class MetroProgressBar : public KelProgressBar {
    Q_OBJECT

public:
    // Milliseconds of a monotonic clock.
    using ClockFunction = qint64 (*)();

    explicit MetroProgressBar(QWidget* parent = nullptr);
    ~MetroProgressBar() override;

    void setColor(const QColor& color);
    // Also fixes the height at twice the radius, rounded up.
    void setDotRadius(double radius);

    // Whether the dots are running (their repaint timer is on).
    bool isAnimating() const;
    // The dot centres at the current clock time (the first dot first).
    QVector<QPointF> dotCenters() const;

    // The clock all bars read; null restores the monotonic system clock.
    static void setClock(ClockFunction clock);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    class Private;
    std::unique_ptr<Private> d;
};

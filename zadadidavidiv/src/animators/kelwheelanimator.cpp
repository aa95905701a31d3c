#include "animators/kelwheelanimator.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QVector>
#include <QWheelEvent>
#include <QtMath>

#include <cmath>

namespace {
constexpr int tickFrequency = 120; // ticks per second
constexpr int runDuration = 200; // ms
constexpr int stepsPerRun = runDuration * tickFrequency / 1000;
constexpr int tickInterval = 1000 / tickFrequency; // ms
constexpr double acceleration = 2.5;
constexpr qint64 accelerationWindow = 500; // ms
constexpr double fullAccelerationEvents = 15.0;
constexpr qint64 catchUpThreshold = 32; // ms
constexpr qint64 catchUpFactorCap = 16;
constexpr int catchUpPassFactor = 4;

qint64 monotonicMsecs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

bool canScroll(const QScrollBar* bar) { return bar && bar->maximum() > 0; }
} // namespace

class KelWheelAnimator::Private {
public:
    struct Run {
        double delta;
        int stepsLeft;
    };

    // What the replayed events need of the last real one.
    struct LastWheel {
        QPointF position;
        QPointF globalPosition;
        Qt::MouseButtons buttons;
        Qt::KeyboardModifiers modifiers;
        Qt::Orientation orientation;
    };

    QWidget* viewport = nullptr;
    QPointer<QScrollBar> horizontal;
    QPointer<QScrollBar> vertical;
    std::unique_ptr<LastWheel> lastWheel;
    QTimer timer;
    Clock clock = monotonicMsecs;
    qint64 lastTick = 0;
    bool tickClockValid = false;
    bool orientationSwapped = false;
    double scale = 1.0;
    int steps = stepsPerRun;
    QVector<Run> queue;
    QVector<qint64> eventTimes;

    int passesForTick(qint64 now) const
    {
        // Each late tick catches up for its own lateness only, so a stalled thread cannot compound it.
        if (!tickClockValid)
            return 1;
        const qint64 elapsed = now - lastTick;
        if (elapsed <= catchUpThreshold)
            return 1;
        return int(qMin(elapsed / catchUpThreshold, catchUpFactorCap)) * catchUpPassFactor;
    }

    QScrollBar* barFor(Qt::Orientation orientation, Qt::Orientation* barOrientation) const
    {
        QScrollBar* first = orientation == Qt::Horizontal ? horizontal.data() : vertical.data();
        QScrollBar* second = orientation == Qt::Horizontal ? vertical.data() : horizontal.data();
        if (canScroll(first)) {
            *barOrientation = orientation;
            return first;
        }
        if (canScroll(second)) {
            *barOrientation = orientation == Qt::Horizontal ? Qt::Vertical : Qt::Horizontal;
            return second;
        }
        return nullptr;
    }

    void onWheel(const QWheelEvent* event);
};

void KelWheelAnimator::Private::onWheel(const QWheelEvent* event)
{
    const qint64 now = clock();
    eventTimes.append(now);
    while (!eventTimes.isEmpty() && now - eventTimes.first() > accelerationWindow)
        eventTimes.removeFirst();

    const QPoint angle = event->angleDelta();
    const Qt::Orientation orientation = qAbs(angle.x()) > qAbs(angle.y()) ? Qt::Horizontal : Qt::Vertical;
    lastWheel.reset(new LastWheel {
        event->position(), event->globalPosition(), event->buttons(), event->modifiers(), orientation });
    steps = stepsPerRun;

    double delta = (orientation == Qt::Horizontal ? angle.x() : angle.y()) * scale;
    const double factor = qMin(eventTimes.size() / fullAccelerationEvents, 1.0);
    delta = acceleration * delta * factor + delta;

    if (queue.isEmpty())
        tickClockValid = false;
    queue.append(Run { delta, steps });
    timer.start(tickInterval);
}

KelWheelAnimator::KelWheelAnimator(QAbstractScrollArea* area)
    : KelWheelAnimator(area ? area->viewport() : nullptr, area ? area->horizontalScrollBar() : nullptr,
        area ? area->verticalScrollBar() : nullptr)
{
}

KelWheelAnimator::KelWheelAnimator(QWidget* viewport, QScrollBar* horizontal, QScrollBar* vertical)
    : QObject(viewport)
    , d(std::make_unique<Private>())
{
    d->viewport = viewport;
    d->horizontal = horizontal;
    d->vertical = vertical;
    d->scale = 1.0 / qMax(1, QApplication::wheelScrollLines());
    connect(&d->timer, &QTimer::timeout, this, &KelWheelAnimator::tick);
    if (viewport)
        viewport->installEventFilter(this);
    else
        qWarning() << "Invalid param! Null viewport, wheel events are not animated";
}

KelWheelAnimator::~KelWheelAnimator()
{
    if (d->timer.isActive())
        stopScroll();
}

void KelWheelAnimator::setOrientationSwapped(bool swapped) { d->orientationSwapped = swapped; }

bool KelWheelAnimator::isOrientationSwapped() const { return d->orientationSwapped; }

bool KelWheelAnimator::isScrolling() const { return !d->queue.isEmpty(); }

void KelWheelAnimator::setClock(Clock clock)
{
    d->clock = clock ? std::move(clock) : Clock(monotonicMsecs);
    d->tickClockValid = false;
    d->eventTimes.clear();
}

bool KelWheelAnimator::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != d->viewport || event->type() != QEvent::Wheel)
        return QObject::eventFilter(watched, event);
    d->onWheel(static_cast<QWheelEvent*>(event));
    return true;
}

void KelWheelAnimator::tick()
{
    if (!d->lastWheel) {
        d->queue.clear();
        d->timer.stop();
        qWarning() << "Something wrong, null lastWheelEvent";
        return;
    }
    const qint64 now = d->clock();
    const int passes = d->passesForTick(now);

    // Weights over a run's steps rise from 0 to 1/m in the middle and fall back; they sum to 1.
    const double middle = d->steps / 2.0;
    double sum = 0.0;
    for (int pass = 0; pass < passes; ++pass) {
        for (Private::Run& run : d->queue) {
            const double distance = qAbs(d->steps - run.stepsLeft - middle);
            sum += run.delta * (std::cos(M_PI * distance / middle) + 1.0) / (2.0 * middle);
            if (run.stepsLeft > 0)
                --run.stepsLeft;
        }
    }
    while (!d->queue.isEmpty() && d->queue.first().stepsLeft == 0)
        d->queue.removeFirst();

    Qt::Orientation orientation = d->lastWheel->orientation;
    if (d->orientationSwapped)
        orientation = orientation == Qt::Horizontal ? Qt::Vertical : Qt::Horizontal;
    Qt::Orientation barOrientation = orientation;
    if (QScrollBar* bar = d->barFor(orientation, &barOrientation)) {
        const int delta = int(std::lround(sum));
        const QPoint angle = barOrientation == Qt::Horizontal ? QPoint(delta, 0) : QPoint(0, delta);
        QWheelEvent event(d->lastWheel->position, d->lastWheel->globalPosition, QPoint(), angle, d->lastWheel->buttons,
            d->lastWheel->modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(bar, &event);
    }

    if (d->queue.isEmpty()) {
        d->timer.stop();
        d->tickClockValid = false;
    } else {
        d->lastTick = now;
        d->tickClockValid = true;
    }
}

void KelWheelAnimator::stopScroll()
{
    qWarning() << "STOP SCROLL";
    d->timer.stop();
    d->queue.clear();
}

#include "widgets/metroprogressbar.h"

#include <QBasicTimer>
#include <QEasingCurve>
#include <QElapsedTimer>
#include <QPainter>
#include <QTimerEvent>

#include <cmath>

namespace {

qint64 monotonicClock()
{
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer.elapsed();
}

MetroProgressBar::ClockFunction g_clock = &monotonicClock;

// Fast in, a near stop in the middle, fast out.
QEasingCurve dotEasing()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.05, 0.47), QPointF(0.05, 0.47), QPointF(0.5, 0.5));
    curve.addCubicBezierSegment(QPointF(0.95, 0.53), QPointF(0.95, 0.53), QPointF(1.0, 1.0));
    return curve;
}

} // namespace

class MetroProgressBar::Private {
public:
    QColor color = QColor(0x0078d7);
    double dotRadius = 2.0;
    int framesPerSecond = 60;
    int cycleDuration = 3000;
    int pauseDuration = 500;
    int dotDelay = 250;
    int dotSpacing = 10;
    int dotCount = 5;
    QEasingCurve easing = dotEasing();
    QBasicTimer timer;
    qint64 startTime = 0;
};

MetroProgressBar::MetroProgressBar(QWidget* parent)
    : KelProgressBar(-1, parent)
    , d(new Private)
{
}

MetroProgressBar::~MetroProgressBar() = default;

void MetroProgressBar::setColor(const QColor& color) { d->color = color; }

void MetroProgressBar::setDotRadius(double radius)
{
    d->dotRadius = radius;
    setFixedHeight(int(std::ceil(2.0 * radius)));
}

bool MetroProgressBar::isAnimating() const { return d->timer.isActive(); }

void MetroProgressBar::setClock(ClockFunction clock) { g_clock = clock ? clock : &monotonicClock; }

QVector<QPointF> MetroProgressBar::dotCenters() const
{
    const double runIn = qMax(d->dotRadius, double(d->dotSpacing * d->dotCount));
    const double runOut = runIn * (1.0 + 0.1 * d->dotCount);
    const double runTime = d->cycleDuration - d->dotDelay * d->dotCount;
    const double t = double((g_clock() - d->startTime) % (d->cycleDuration + d->pauseDuration));
    const double y = height() / 2.0;
    const double from = -runIn;
    const double length = width() + runOut - from;
    QVector<QPointF> centers;
    for (int i = 0; i < d->dotCount; ++i) {
        // The curve clamps: a dot waits at the start before its turn and rests at its end after it.
        const double eased = d->easing.valueForProgress((t - d->dotDelay * i) / runTime);
        centers.append(QPointF(from + length * (1.0 - 0.03 * i) * eased, y));
    }
    return centers;
}

void MetroProgressBar::showEvent(QShowEvent* event)
{
    d->timer.stop();
    KelProgressBar::showEvent(event);
}

void MetroProgressBar::hideEvent(QHideEvent* event)
{
    // A hidden bar gets no paint events; repainting it would only burn time.
    d->timer.stop();
    KelProgressBar::hideEvent(event);
}

void MetroProgressBar::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == d->timer.timerId()) {
        update();
        return;
    }
    KelProgressBar::timerEvent(event);
}

void MetroProgressBar::paintEvent(QPaintEvent* event)
{
    if (maximum() != minimum()) {
        d->timer.stop();
        KelProgressBar::paintEvent(event);
        return;
    }
    if (!d->timer.isActive() && isVisible()) {
        d->startTime = g_clock();
        d->timer.start(1000 / d->framesPerSecond, this);
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(d->color);
    for (const QPointF& center : dotCenters())
        painter.drawEllipse(center, d->dotRadius, d->dotRadius);
}

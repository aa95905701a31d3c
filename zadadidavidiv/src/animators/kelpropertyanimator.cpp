#include "animators/kelpropertyanimator.h"

#include <QDebug>
#include <QEasingCurve>
#include <QMetaProperty>
#include <QPropertyAnimation>

#include <cmath>
#include <cstring>
#include <map>

namespace {

QEasingCurve easingOf(int type)
{
    // Custom curves cannot be made from a type number; anything out of range falls back to a straight line.
    if (type < QEasingCurve::Linear || type >= QEasingCurve::Custom)
        return QEasingCurve(QEasingCurve::Linear);
    return QEasingCurve(QEasingCurve::Type(type));
}

int durationOf(int msecs) { return msecs > 0 ? msecs : 0; }

QAbstractAnimation::Direction directionTo(KelPropertyAnimator::Pos pos)
{
    return pos == KelPropertyAnimator::Start ? QAbstractAnimation::Backward : QAbstractAnimation::Forward;
}

} // namespace

class KelPropertyAnimator::Private {
public:
    struct Item {
        QPropertyAnimation* animation = nullptr;
        Pos pos = Start;
        // The end the property had reached or was heading to before the current move; a zero-length axis
        // cannot tell it from the time.
        Pos from = Start;
        KelAnimationParams params;
    };

    explicit Private(KelPropertyAnimator* owner)
        : q(owner)
    {
    }

    Item* find(const char* property) const
    {
        if (!property)
            return nullptr;
        const auto it = items.find(QByteArray::fromRawData(property, int(std::strlen(property))));
        return it == items.end() ? nullptr : it->second.get();
    }

    Item* findOrComplain(const char* property) const
    {
        Item* item = find(property);
        if (!item)
            qCritical().nospace() << "Invaid param! There are no registered animation for property '" << property
                                  << "'";
        return item;
    }

    static QMetaProperty findMetaProp(const QObject* object, const char* name)
    {
        if (!object) {
            qCritical() << "Invalid param! Null object";
            return QMetaProperty();
        }
        const int index = object->metaObject()->indexOfProperty(name);
        if (index < 0) {
            qCritical() << "Invalid param! Property" << name << "not found in" << object;
            return QMetaProperty();
        }
        return object->metaObject()->property(index);
    }

    void addItem(QObject* target, const char* name, const KelAnimationParams& params);
    void changeItemParams(Item* item, const KelAnimationParams& params);
    void setPos(Item* item, Pos pos, bool animated);
    void setPosWithoutDuration(Item* item, Pos pos);
    void retime(Item* item, QAbstractAnimation::Direction direction);
    static void writeProperty(Item* item, Pos pos);

    KelPropertyAnimator* q;
    std::map<QByteArray, std::unique_ptr<Item>> items;
};

void KelPropertyAnimator::Private::addItem(QObject* target, const char* name, const KelAnimationParams& params)
{
    auto owned = std::make_unique<Item>();
    Item* item = owned.get();
    item->params = params;
    auto* animation = new QPropertyAnimation(target, name, q);
    animation->setEasingCurve(easingOf(params.forwardEasing));
    animation->setDuration(durationOf(params.forwardDuration));
    animation->setDirection(QAbstractAnimation::Forward);
    animation->setStartValue(params.startValue);
    animation->setEndValue(params.endValue);
    item->animation = animation;
    QObject::connect(animation, &QAbstractAnimation::directionChanged, q,
        [this, item](QAbstractAnimation::Direction direction) { retime(item, direction); });
    items.emplace(QByteArray(name), std::move(owned));
    writeProperty(item, Start);
}

void KelPropertyAnimator::Private::changeItemParams(Item* item, const KelAnimationParams& params)
{
    if (!item) {
        qCritical() << "Invalid param! Null item";
        return;
    }
    if (item->params == params)
        return;
    item->params = params;
    QPropertyAnimation* animation = item->animation;
    // The next move leaves the current end, so the curve of that move goes in.
    const bool atStart = item->pos == Start;
    animation->setEasingCurve(easingOf(atStart ? params.forwardEasing : params.backwardEasing));
    animation->setDuration(durationOf(atStart ? params.forwardDuration : params.backwardDuration));
    animation->setStartValue(params.startValue);
    animation->setEndValue(params.endValue);
    setPos(item, item->pos, false);
}

void KelPropertyAnimator::Private::setPos(Item* item, Pos pos, bool animated)
{
    if (!item) {
        qCritical() << "Invalid param! Null item";
        return;
    }
    const int wantedDuration = pos == Start ? item->params.backwardDuration : item->params.forwardDuration;
    if (durationOf(wantedDuration) == 0) {
        // Qt would place a zero-length run at its far end whatever the direction: move at once instead.
        setPosWithoutDuration(item, pos);
        return;
    }
    const Pos from = item->pos;
    item->pos = pos;
    QPropertyAnimation* animation = item->animation;
    const QAbstractAnimation::Direction wanted = directionTo(pos);
    if (animation->state() == QAbstractAnimation::Running) {
        if (animated && animation->direction() == wanted)
            return;
        animation->pause();
    }
    if (animation->direction() != wanted) {
        item->from = from;
        animation->setDirection(wanted);
    }
    const int targetTime = pos == Start ? 0 : animation->duration();
    if (animation->currentTime() == targetTime) {
        // A run paused exactly at its end would otherwise never finish. Its value goes in first: the curve or
        // the duration may have changed under it.
        if (animation->state() != QAbstractAnimation::Stopped) {
            writeProperty(item, pos);
            animation->stop();
        }
        return;
    }
    if (animated) {
        if (animation->state() == QAbstractAnimation::Paused)
            animation->resume();
        else
            animation->start(QAbstractAnimation::KeepWhenStopped);
        return;
    }
    animation->setCurrentTime(targetTime);
    writeProperty(item, pos);
}

void KelPropertyAnimator::Private::setPosWithoutDuration(Item* item, Pos pos)
{
    QPropertyAnimation* animation = item->animation;
    const Pos from = item->pos;
    item->pos = pos;
    const bool running = animation->state() != QAbstractAnimation::Stopped;
    // The value goes in before the run ends, so that listeners of the end see it in place.
    if (running || from != pos)
        writeProperty(item, pos);
    if (running)
        animation->stop();
    if (animation->direction() != directionTo(pos)) {
        item->from = from;
        animation->setDirection(directionTo(pos));
    }
    // Keep the time axis at the end reached; a stopped animation writes nothing here.
    animation->setCurrentTime(pos == Start ? 0 : animation->duration());
}

void KelPropertyAnimator::Private::retime(Item* item, QAbstractAnimation::Direction direction)
{
    QPropertyAnimation* animation = item->animation;
    const int oldDuration = animation->duration();
    double progress;
    if (oldDuration > 0)
        progress = qBound(0.0, double(animation->currentTime()) / oldDuration, 1.0);
    else
        progress = item->from == End ? 1.0 : 0.0;
    const double value = animation->easingCurve().valueForProgress(progress);

    const bool forward = direction == QAbstractAnimation::Forward;
    const QEasingCurve curve = easingOf(forward ? item->params.forwardEasing : item->params.backwardEasing);
    const int duration = durationOf(forward ? item->params.forwardDuration : item->params.backwardDuration);
    animation->setEasingCurve(curve);
    animation->setDuration(duration);
    const int time = int(std::lround(duration * progressForValue(curve, value)));
    if (time != animation->currentTime())
        animation->setCurrentTime(time);
}

void KelPropertyAnimator::Private::writeProperty(Item* item, Pos pos)
{
    if (!item) {
        qCritical() << "Invalid param! Null item";
        return;
    }
    QObject* target = item->animation->targetObject();
    const QMetaProperty property = findMetaProp(target, item->animation->propertyName().constData());
    if (property.isValid())
        property.write(target, pos == End ? item->params.endValue : item->params.startValue);
}

KelPropertyAnimator::KelPropertyAnimator(QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>(this))
{
}

KelPropertyAnimator::~KelPropertyAnimator()
{
    // The animations go first, silently: a running animation reports a state change as it dies, and its
    // listeners must not see the animator half gone.
    for (auto& entry : d->items) {
        entry.second->animation->disconnect();
        delete entry.second->animation;
    }
}

void KelPropertyAnimator::setupAnimation(QObject* target, const char* property, const KelAnimationParams& params)
{
    if (!target) {
        qCritical() << "Invalid param! Target is null";
        return;
    }
    if (!property) {
        qCritical() << "Invalid param! Prop is null for" << target;
        return;
    }
    if (Private::Item* item = d->find(property)) {
        d->changeItemParams(item, params);
        return;
    }
    const QMetaProperty metaProperty = Private::findMetaProp(target, property);
    if (metaProperty.isReadable())
        d->addItem(target, property, params);
    else
        qWarning().nospace() << "Invalid param! Target " << target << " has no property '" << property << "'";
}

void KelPropertyAnimator::animateValue(const char* property, Pos pos)
{
    if (Private::Item* item = d->findOrComplain(property))
        d->setPos(item, pos, true);
}

void KelPropertyAnimator::setValue(const char* property, Pos pos, bool animated)
{
    if (Private::Item* item = d->findOrComplain(property))
        d->setPos(item, pos, animated);
}

KelPropertyAnimator::Pos KelPropertyAnimator::direction(const char* property) const
{
    const Private::Item* item = d->findOrComplain(property);
    return item ? item->pos : Start;
}

bool KelPropertyAnimator::isActive(const char* property) const
{
    const Private::Item* item = d->findOrComplain(property);
    return item && item->animation->state() != QAbstractAnimation::Stopped;
}

QPropertyAnimation* KelPropertyAnimator::animation(const char* property) const
{
    const Private::Item* item = d->find(property);
    return item ? item->animation : nullptr;
}

KelAnimationParams KelPropertyAnimator::animationParams(const char* property) const
{
    const Private::Item* item = d->find(property);
    return item ? item->params : KelAnimationParams();
}

double KelPropertyAnimator::progressForValue(const QEasingCurve& curve, double value)
{
    const int type = curve.type();
    if (type >= QEasingCurve::InElastic && type <= QEasingCurve::TCBSpline) {
        qWarning(
            "progressForValue(): QEasingCurves of type %d do not have an inverse, since they are not injective.", type);
        return value;
    }
    if (value < 0.0 || value > 1.0)
        return value;
    double low = 0.0;
    double high = 1.0;
    double progress = value;
    for (int i = 0; i < 6; ++i) {
        const double y = curve.valueForProgress(progress);
        if (y < value)
            low = progress;
        else if (y > value)
            high = progress;
        else
            return progress;
        progress = (low + high) / 2;
    }
    return progress;
}

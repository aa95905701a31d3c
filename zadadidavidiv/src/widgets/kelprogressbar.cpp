#include "widgets/kelprogressbar.h"

#include "styles/kelstyle.h"

class KelProgressBar::Private {
public:
    explicit Private(KelProgressBar* owner)
        : q(owner)
        , savedMinimum(owner->minimum())
        , savedMaximum(owner->maximum())
        , savedValue(owner->value())
    {
    }

    KelProgressBar* q;
    State state = Normal;
    int savedMinimum;
    int savedMaximum;
    int savedValue;
};

KelProgressBar::KelProgressBar(int widgetType, QWidget* parent, bool deferStyle)
    : QProgressBar(parent)
    , KelStyleable(widgetType)
    , d(new Private(this))
{
    setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    if (!deferStyle)
        applyStyle();
}

KelProgressBar::~KelProgressBar() = default;

KelProgressBar::State KelProgressBar::state() const { return d->state; }

void KelProgressBar::setState(State state)
{
    if (d->state == state)
        return;
    switch (state) {
    case Indeterminate:
        d->savedMinimum = minimum();
        d->savedMaximum = maximum();
        d->savedValue = value();
        setRange(0, 0);
        break;
    case Normal:
        if (d->state == Indeterminate) {
            setRange(d->savedMinimum, d->savedMaximum);
            setValue(d->savedValue);
        }
        break;
    case Paused:
        break;
    }
    d->state = state;
}

void KelProgressBar::applyStyle()
{
    if (isStyled())
        kelStyle()->applyProgressBarStyle(this, widgetType());
}

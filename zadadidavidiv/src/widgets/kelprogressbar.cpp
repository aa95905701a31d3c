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
    if (state == Indeterminate) {
        d->savedMinimum = minimum();
        d->savedMaximum = maximum();
        d->savedValue = value();
        setRange(0, 0);
    } else if (d->state == Indeterminate) {
        // Any way out of the busy mode gives back the range, or a pause on the way would keep the bar busy.
        setRange(d->savedMinimum, d->savedMaximum);
        setValue(d->savedValue);
    }
    d->state = state;
}

void KelProgressBar::applyStyle()
{
    if (isStyled())
        kelStyle()->applyProgressBarStyle(this, widgetType());
}

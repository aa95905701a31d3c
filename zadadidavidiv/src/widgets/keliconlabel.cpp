#include "widgets/keliconlabel.h"

#include "animators/kelwidgetstateanimator.h"
#include "painting/kelicon.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "styles/kelstyle.h"
#include "widgets/kelbuttonpainterwidget.h"

#include <QEvent>
#include <QPainter>

class KelIconLabel::Private {
public:
    KelButtonSizeHints sizeHints;
    KelWidgetStateAnimator* stateAnimator = nullptr;
};

KelIconLabel::KelIconLabel(int widgetType, const QString& iconName, QWidget* parent, bool deferStyle)
    : KelWidget(parent)
    , KelButtonPainter(this)
    , KelStyleable(widgetType)
    , d(new Private)
{
    if (!iconName.isEmpty())
        setIcon(iconName);
    KelStyle* style = kelStyle();
    setContentColors(KelStateColors(style->color(KelStyle::CL_Text_Dark)));
    setSpacing(style->metric(18));
    // Mode 1: the animator follows the enabled state by itself; a label is never hovered or pressed.
    d->stateAnimator = new KelWidgetStateAnimator(1, this);
    d->stateAnimator->setWidget(this);
    setMinimumSize(0, 0);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    if (!deferStyle)
        applyStyle();
}

KelIconLabel::KelIconLabel(int widgetType, QWidget* parent, bool deferStyle)
    : KelIconLabel(widgetType, QString(), parent, deferStyle)
{
}

KelIconLabel::KelIconLabel(QWidget* parent)
    : KelIconLabel(10, QString(), parent, false)
{
}

KelIconLabel::~KelIconLabel() = default;

KelWidgetStateAnimator* KelIconLabel::stateAnimator() const { return d->stateAnimator; }

QSize KelIconLabel::sizeHint() const { return d->sizeHints.sizeHint(this); }

QSize KelIconLabel::minimumSizeHint() const { return d->sizeHints.minimumSizeHint(this); }

void KelIconLabel::onSizeHintChanged()
{
    // Called from the painter's setters, also while the constructor runs.
    if (!d)
        return;
    d->sizeHints.reset();
    updateGeometry();
}

void KelIconLabel::applyStyle() { applyButtonPainterStyle(this, this); }

bool KelIconLabel::event(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange)
        invalidateTextMetrics();
    return KelWidget::event(event);
}

void KelIconLabel::paintEvent(QPaintEvent*)
{
    KelPaintContext context(this);
    paint(context);
    if (KelPainting::dbgPaintKelButton()) {
        context.drawFramePainterDiagnostics(this);
        context.drawButtonPainterDiagnostics(this);
    }
}

void KelIconLabel::paint(KelPaintContext& context) { paintButtonPainter(context, this, d->stateAnimator); }

void KelIconLabel::resizeEvent(QResizeEvent* event)
{
    setFrameSize(size());
    KelWidget::resizeEvent(event);
}

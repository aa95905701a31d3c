#include "widgets/kelframe.h"

#include "animators/kelwidgetstateanimator.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "styles/kelstyle.h"

#include <QResizeEvent>

KelFrame::KelFrame(int styleRole, QWidget* parent, bool deferStyle)
    : KelWidget(parent)
    , KelFramePainter(this)
    , KelStyleable(styleRole)
    , m_stateAnimator(new KelWidgetStateAnimator(1, this))
{
    m_stateAnimator->setWidget(this);
    if (!deferStyle && isStyled())
        kelStyle()->applyFrameStyle(this, widgetType());
}

KelFrame::KelFrame(QWidget* parent, bool deferStyle)
    : KelFrame(-1, parent, deferStyle)
{
}

KelFrame::~KelFrame() = default;

void KelFrame::applyStyle()
{
    if (isStyled())
        kelStyle()->applyFrameStyle(this, widgetType());
}

void KelFrame::paintEvent(QPaintEvent*)
{
    KelPaintContext context(this);
    drawFrame(context, m_stateAnimator);
    if (KelPainting::dbgPaintKelFrame())
        context.drawFramePainterDiagnostics(this);
}

void KelFrame::resizeEvent(QResizeEvent* event)
{
    setFrameSize(event->size());
    KelWidget::resizeEvent(event);
}

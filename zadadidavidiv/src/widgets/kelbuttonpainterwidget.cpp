#include "widgets/kelbuttonpainterwidget.h"

#include "painting/kelbuttonpainter.h"
#include "painting/kelicon.h"
#include "painting/kelpaintcontext.h"
#include "styles/kelstyle.h"
#include "styles/kelstyleable.h"

#include <QPainter>

QSize KelButtonSizeHints::sizeHint(const KelButtonPainter* painter) const
{
    if (!m_sizeHint.isValid())
        m_sizeHint = painter->KelButtonPainter::sizeHint();
    return m_sizeHint;
}

QSize KelButtonSizeHints::minimumSizeHint(const KelButtonPainter* painter) const
{
    if (!m_minimumSizeHint.isValid())
        m_minimumSizeHint = painter->KelButtonPainter::minimumSizeHint();
    return m_minimumSizeHint;
}

void KelButtonSizeHints::reset()
{
    m_sizeHint = QSize(-1, -1);
    m_minimumSizeHint = QSize(-1, -1);
}

void applyButtonPainterStyle(KelButtonPainter* painter, const KelStyleable* styleable)
{
    if (!styleable->isStyled())
        return;
    kelStyle()->applyButtonStyle(
        painter, styleable->widgetType(), painter->icon() ? painter->icon()->name() : QString());
}

void paintButtonPainter(KelPaintContext& context, KelButtonPainter* painter, KelWidgetStateAnimator* animator)
{
    QPainter* qp = context.painter();
    qp->save();
    qp->setOpacity(painter->KelVisibilityAnimatable::opacity());
    painter->drawFrame(context, animator);
    painter->drawContent(context, animator);
    qp->restore();
}

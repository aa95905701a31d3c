#include "widgets/kelspinboxpainter.h"

#include "animators/kelwidgetstateanimator.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "utils/kelgeometryutils.h"

#include <QAbstractSpinBox>
#include <QDebug>
#include <QStyleOptionSpinBox>

KelSpinBoxArrowPainter::KelSpinBoxArrowPainter(KelSpinBoxPainter* owner, QWidget* widget)
    : KelButtonPainter(widget)
    , m_owner(owner)
    , m_stateAnimator(new KelWidgetStateAnimator(0, widget))
{
    m_stateAnimator->setWidget(widget);
}

KelSpinBoxArrowPainter::~KelSpinBoxArrowPainter() = default;

void KelSpinBoxArrowPainter::onSizeHintChanged()
{
    KelButtonPainter::onSizeHintChanged();
    m_owner->onSizeHintChanged();
}

void KelSpinBoxArrowPainter::onLayoutChanged()
{
    KelButtonPainter::onLayoutChanged();
    m_owner->onLayoutChanged();
}

void KelSpinBoxArrowPainter::onAppearanceChanged()
{
    KelButtonPainter::onAppearanceChanged();
    m_owner->onAppearanceChanged();
}

KelSpinBoxPainter::KelSpinBoxPainter(QWidget* widget)
    : KelFramePainter(widget)
{
    m_up = new KelSpinBoxArrowPainter(this, widget);
    m_down = new KelSpinBoxArrowPainter(this, widget);
    if (auto* spinBox = qobject_cast<QAbstractSpinBox*>(widget)) {
        spinBox->setFrame(false);
        auto* style = new SpinBoxProxyStyle(this);
        style->setParent(spinBox);
        spinBox->setStyle(style);
    }
}

KelSpinBoxPainter::~KelSpinBoxPainter()
{
    delete m_up;
    delete m_down;
}

void KelSpinBoxPainter::setUpArrowParams(const KelArrowSpec& arrow) { m_up->setArrowParams(arrow); }

void KelSpinBoxPainter::setDownArrowParams(const KelArrowSpec& arrow) { m_down->setArrowParams(arrow); }

void KelSpinBoxPainter::setUpArrowColors(const KelStateColors& colors) { m_up->setArrowColors(colors); }

void KelSpinBoxPainter::setDownArrowColors(const KelStateColors& colors) { m_down->setArrowColors(colors); }

void KelSpinBoxPainter::drawSpinBox(KelPaintContext& context, const QStyleOptionSpinBox* option)
{
    QWidget* base = widget();
    if (!base || !option) {
        qWarning() << "KelSpinBoxPainter paint failed, base:" << base << ", opt:" << option;
        return;
    }
    if (option->buttonSymbols == QAbstractSpinBox::NoButtons)
        return;
    drawArrow(context, option, true);
    drawArrow(context, option, false);

    if (KelPainting::dbgPaintCustom()) {
        const auto mark = [&context](const QRect& rect, const QColor& color) {
            context.drawDiagnosticMarker(rect, KelDiagnosticMarker { color });
        };
        QStyle* style = base->style();
        mark(base->rect(), Qt::magenta);
        mark(style->subControlRect(QStyle::CC_SpinBox, option, QStyle::SC_SpinBoxEditField, base), Qt::cyan);
        mark(style->subControlRect(QStyle::CC_SpinBox, option, QStyle::SC_SpinBoxUp, base), Qt::red);
        mark(style->subControlRect(QStyle::CC_SpinBox, option, QStyle::SC_SpinBoxDown, base), Qt::green);
    }
}

void KelSpinBoxPainter::drawArrow(KelPaintContext& context, const QStyleOptionSpinBox* option, bool up)
{
    const QStyle::SubControl control = up ? QStyle::SC_SpinBoxUp : QStyle::SC_SpinBoxDown;
    if (!(option->subControls & control))
        return;
    QWidget* base = widget();
    const QRect rect = base->style()->subControlRect(QStyle::CC_SpinBox, option, control, base);
    if (rect.isEmpty()) {
        qWarning() << (up ? "Cant calc spinbox up arrow rect, check spin->upButton() style"
                          : "Cant calc spinbox down arrow rect, check spin->downButton() style");
        return;
    }
    const QAbstractSpinBox::StepEnabledFlag step
        = up ? QAbstractSpinBox::StepUpEnabled : QAbstractSpinBox::StepDownEnabled;
    const bool enabled = (option->state & QStyle::State_Enabled) && (option->stepEnabled & step);
    const bool active = option->activeSubControls == control && enabled;
    const bool hovered = (option->state & QStyle::State_MouseOver) && active;
    const bool pressed = (option->state & QStyle::State_Sunken) && active;
    const bool animated = base->isVisible();
    KelSpinBoxArrowPainter* painter = up ? m_up : m_down;
    painter->setFrameRect(rect);
    KelWidgetStateAnimator* animator = painter->stateAnimator();
    animator->setHovered(hovered, animated);
    animator->setPressed(pressed, animated);
    animator->setDisabled(!enabled, animated);
    painter->drawFrame(context, animator);
    painter->drawContent(context, animator);
}

SpinBoxProxyStyle::SpinBoxProxyStyle(KelSpinBoxPainter* painter)
    : m_painter(painter)
{
}

int SpinBoxProxyStyle::arrowWidth(const QStyleOptionSpinBox* option) const
{
    if (option->buttonSymbols == QAbstractSpinBox::NoButtons || !m_painter->upArrowPainter()
        || !m_painter->downArrowPainter())
        return 0;
    return m_painter->upArrowPainter()->sizeHint().width();
}

QRect SpinBoxProxyStyle::subControlRect(
    ComplexControl control, const QStyleOptionComplex* option, SubControl subControl, const QWidget* widget) const
{
    const auto* spin = qstyleoption_cast<const QStyleOptionSpinBox*>(option);
    if (control != CC_SpinBox || !spin)
        return QProxyStyle::subControlRect(control, option, subControl, widget);

    const QMargins inset = m_painter->margins() + m_painter->borderWidths();
    const QRect r = spin->rect.marginsRemoved(inset);
    const int arrow = arrowWidth(spin);
    const QRect edit = r.adjusted(0, 0, -arrow, 0);
    switch (subControl) {
    case SC_SpinBoxEditField:
        return edit;
    case SC_SpinBoxUp:
    case SC_SpinBoxDown: {
        if (arrow < 1)
            return QRect();
        QRect column = r;
        column.setLeft(edit.right() + 1);
        const int centre = column.center().y();
        if (subControl == SC_SpinBoxUp) {
            column.setBottom(centre);
            return KelUtils::alignRect(
                Qt::AlignRight | Qt::AlignBottom, column, m_painter->upArrowPainter()->sizeHint(), false);
        }
        column.setTop(centre + 1);
        return KelUtils::alignRect(
            Qt::AlignRight | Qt::AlignTop, column, m_painter->downArrowPainter()->sizeHint(), false);
    }
    case SC_SpinBoxFrame:
        return spin->rect;
    default:
        return QRect();
    }
}

QSize SpinBoxProxyStyle::sizeFromContents(
    ContentsType type, const QStyleOption* option, const QSize& contentsSize, const QWidget* widget) const
{
    const auto* spin = qstyleoption_cast<const QStyleOptionSpinBox*>(option);
    if (type != CT_SpinBox || !spin)
        return QProxyStyle::sizeFromContents(type, option, contentsSize, widget);
    return contentsSize + m_painter->sizeAddition() + QSize(arrowWidth(spin), 0);
}

int SpinBoxProxyStyle::styleHint(
    StyleHint hint, const QStyleOption* option, const QWidget* widget, QStyleHintReturn* returnData) const
{
    if (hint == SH_SpinControls_DisableOnBounds)
        return 1;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

#include "widgets/kelscrollbar.h"

#include "eventfilters/kelqmenustyler.h"
#include "styles/kelstyle.h"

#include <QAbstractScrollArea>
#include <QDebug>

namespace {
const int kMenuStyleRole = 40;
}

KelScrollBar::KelScrollBar(
    int widgetType, Qt::Orientation orientation, int visibilityMode, QWidget* parent, bool deferStyle)
    : QScrollBar(orientation, parent)
    , KelStyleable(widgetType)
    , m_visibilityMode(visibilityMode)
{
    setObjectName(orientation == Qt::Horizontal ? QStringLiteral("KelHorizontalScrollBar")
                                                : QStringLiteral("KelVerticalScrollBar"));
    // The bar may lie transparent over content.
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAutoFillBackground(false);
    connect(this, &QScrollBar::rangeChanged, this, &KelScrollBar::onRangeChanged);
    new KelQMenuStyler(this, kMenuStyleRole);
    if (!deferStyle)
        applyStyle();
}

KelScrollBar::KelScrollBar(int widgetType, QAbstractScrollArea* area, Qt::Orientation orientation, int visibilityMode,
    QWidget* parent, bool deferStyle)
    : KelScrollBar(widgetType, orientation, visibilityMode, parent, deferStyle)
{
    attachTo(area, orientation);
}

KelScrollBar::~KelScrollBar() = default;

void KelScrollBar::attachTo(QAbstractScrollArea* area, Qt::Orientation orientation)
{
    if (!area) {
        qWarning() << "KelScrollBar: no scroll area to attach to";
        return;
    }
    if (m_source) {
        disconnect(this, &QScrollBar::valueChanged, m_source, nullptr);
        disconnect(m_source, nullptr, this, nullptr);
    }
    const bool horizontal = orientation == Qt::Horizontal;
    m_source = horizontal ? area->horizontalScrollBar() : area->verticalScrollBar();
    copyFromSource();
    if (horizontal)
        area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    else
        area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(this, &QScrollBar::valueChanged, m_source, &QScrollBar::setValue);
    connect(m_source, &QScrollBar::rangeChanged, this, &KelScrollBar::copyFromSource);
    connect(m_source, &QScrollBar::valueChanged, this, &KelScrollBar::copyFromSource);
}

void KelScrollBar::copyFromSource()
{
    if (!m_source)
        return;
    setOrientation(m_source->orientation());
    // One range change, so the availability rule never sees a half-copied range.
    setRange(m_source->minimum(), m_source->maximum());
    setSingleStep(m_source->singleStep());
    setPageStep(m_source->pageStep());
    setValue(m_source->value());
}

void KelScrollBar::onRangeChanged(int min, int max)
{
    const bool available = max != min;
    if (m_visibilityMode == VisibleWhenScrollable)
        setVisible(available);
    emit scrollAvailableChanged(available);
}

void KelScrollBar::applyStyle()
{
    if (isStyled())
        kelStyle()->applyScrollBarStyle(this, widgetType());
}

void KelScrollBar::paintEvent(QPaintEvent* event)
{
    if (m_visibilityMode == TransparentWhenNotScrollable && minimum() == maximum())
        return;
    QScrollBar::paintEvent(event);
}

void KelScrollBar::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    copyFromSource();
}

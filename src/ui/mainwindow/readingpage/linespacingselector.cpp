#include "linespacingselector.h"

#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"

#include <QGridLayout>

LineSpacingSelector::LineSpacingSelector(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("LineSpacing"));
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setHorizontalSpacing(8);
    layout->setVerticalSpacing(4);
    m_decrease = new KelButton(1008, QStringLiteral(":/svg/linespacing-dec.svg"), this);
    m_increase = new KelButton(1008, QStringLiteral(":/svg/linespacing-inc.svg"), this);
    layout->addWidget(m_decrease, 0, 0);
    layout->addWidget(m_increase, 0, 1);
    m_decreaseLabel = new KelLabel(1053, this);
    m_increaseLabel = new KelLabel(1053, this);
    for (KelLabel* label : { m_decreaseLabel, m_increaseLabel }) {
        label->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
        label->setWordWrap(true);
    }
    layout->addWidget(m_decreaseLabel, 1, 0);
    layout->addWidget(m_increaseLabel, 1, 1);
    connect(m_decrease, &KelButton::clicked, this, [this] { step(-1); });
    connect(m_increase, &KelButton::clicked, this, [this] { step(1); });
    updateEnabledStates();
}

void LineSpacingSelector::setRange(int minimum, int maximum)
{
    m_minimum = minimum;
    m_maximum = maximum;
    m_value = qBound(m_minimum, m_value, qMax(m_minimum, m_maximum));
    updateEnabledStates();
}

void LineSpacingSelector::setValueSilently(int value)
{
    const bool blocked = blockSignals(true);
    m_value = qBound(m_minimum, value, qMax(m_minimum, m_maximum));
    updateEnabledStates();
    blockSignals(blocked);
}

void LineSpacingSelector::setDecreaseText(const QString& text) { m_decreaseLabel->setText(text); }

void LineSpacingSelector::setIncreaseText(const QString& text) { m_increaseLabel->setText(text); }

void LineSpacingSelector::step(int delta)
{
    const int value = qBound(m_minimum, m_value + delta, qMax(m_minimum, m_maximum));
    if (value == m_value)
        return;
    m_value = value;
    emit valueChanged(value);
    updateEnabledStates();
}

void LineSpacingSelector::updateEnabledStates()
{
    const bool canDecrease = m_value > m_minimum;
    const bool canIncrease = m_value < m_maximum;
    m_decrease->setEnabled(canDecrease);
    m_decreaseLabel->setEnabled(canDecrease);
    m_increase->setEnabled(canIncrease);
    m_increaseLabel->setEnabled(canIncrease);
}

#include "widgets/kelspinbox.h"

KelSpinBox::KelSpinBox(int widgetType, QWidget* parent)
    : KelAbstractSpinBox<QSpinBox>(widgetType, parent)
{
    connect(this, QOverload<int>::of(&QSpinBox::valueChanged), this, &KelSpinBox::intValueChanged);
}

KelSpinBox::~KelSpinBox() = default;

void KelSpinBox::setValueSilently(int value)
{
    if (value == this->value())
        return;
    const bool blocked = blockSignals(true);
    setValue(value);
    blockSignals(blocked);
}

KelDoubleSpinBox::KelDoubleSpinBox(int widgetType, QWidget* parent)
    : KelAbstractSpinBox<QDoubleSpinBox>(widgetType, parent)
{
    connect(this, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, &KelDoubleSpinBox::doubleValueChanged);
}

KelDoubleSpinBox::~KelDoubleSpinBox() = default;

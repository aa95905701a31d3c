#pragma once

#include "widgets/kelabstractspinbox.h"

#include <QDoubleSpinBox>
#include <QSpinBox>

// The toolkit's integer spin box.
class KelSpinBox : public KelAbstractSpinBox<QSpinBox> {
    Q_OBJECT
public:
    explicit KelSpinBox(int widgetType, QWidget* parent = nullptr);
    ~KelSpinBox() override;

    // No signal when the value changes.
    void setValueSilently(int value);

signals:
    void enterPressed();
    void escPressed();
    void prevWidgetRequested();
    void nextWidgetRequested();
    void buttonPressed();
    void buttonReleased();
    void intValueChanged(int value);

protected:
    void emitEnterPressed() override { emit enterPressed(); }
    void emitEscPressed() override { emit escPressed(); }
    void emitPrevWidgetRequested() override { emit prevWidgetRequested(); }
    void emitNextWidgetRequested() override { emit nextWidgetRequested(); }
    void emitButtonPressed() override { emit buttonPressed(); }
    void emitButtonReleased() override { emit buttonReleased(); }
};

// The floating-point counterpart.
class KelDoubleSpinBox : public KelAbstractSpinBox<QDoubleSpinBox> {
    Q_OBJECT
public:
    explicit KelDoubleSpinBox(int widgetType, QWidget* parent = nullptr);
    ~KelDoubleSpinBox() override;

signals:
    void enterPressed();
    void escPressed();
    void prevWidgetRequested();
    void nextWidgetRequested();
    void buttonPressed();
    void buttonReleased();
    void doubleValueChanged(double value);

protected:
    void emitEnterPressed() override { emit enterPressed(); }
    void emitEscPressed() override { emit escPressed(); }
    void emitPrevWidgetRequested() override { emit prevWidgetRequested(); }
    void emitNextWidgetRequested() override { emit nextWidgetRequested(); }
    void emitButtonPressed() override { emit buttonPressed(); }
    void emitButtonReleased() override { emit buttonReleased(); }
};

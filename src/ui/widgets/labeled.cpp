#include "labeled.h"

#include "widgets/kelbutton.h"
#include "widgets/kelcombobox.h"
#include "widgets/kelplaintextedit.h"
#include "widgets/kelslider.h"
#include "widgets/kelspinbox.h"
#include "widgets/progressbar.h"

#include <QEvent>

LabeledButton::LabeledButton(int widgetType, const QString& iconName, QWidget* parent)
    : Labeled<KelButton>(parent)
{
    setEditor(new KelButton(widgetType, iconName, this));
}

LabeledLabel::LabeledLabel(int widgetType, QWidget* parent)
    : Labeled<KelLabel>(parent)
{
    setEditor(new KelLabel(widgetType, this));
}

LabeledPlainTextEdit::LabeledPlainTextEdit(QWidget* parent)
    : Labeled<KelPlainTextEdit>(parent)
{
    setEditor(new KelPlainTextEdit(34, this));
}

LabeledProgress::LabeledProgress(QWidget* parent)
    : Labeled<ProgressBar>(parent)
{
    setEditor(new ProgressBar(1075, this));
}

LabeledComboBox::LabeledComboBox(QWidget* parent)
    : Labeled<KelComboBox>(parent)
{
    setEditor(new KelComboBox(17, QSizePolicy::Preferred, KelComboBox::PopupAtLeastButtonWidth, this));
}

LabeledSlider::LabeledSlider(int sliderStyle, QWidget* parent)
    : Labeled<KelSlider>(parent)
{
    captionRow()->addStretch();
    m_valueLabel = new KelLabel(1052, this);
    captionRow()->addWidget(m_valueLabel);
    setEditor(new KelSlider(sliderStyle, Qt::Horizontal, this));
}

LabeledSpinBox::LabeledSpinBox(QWidget* parent)
    : Labeled<KelSpinBox>(parent)
{
    auto* spinBox = new KelSpinBox(35, this);
    spinBox->installEventFilter(this);
    setEditor(spinBox);
}

bool LabeledSpinBox::eventFilter(QObject* watched, QEvent* event)
{
    if (m_wheelGuard && event->type() == QEvent::Wheel && watched == editor() && !editor()->hasFocus())
        return true;
    return Labeled<KelSpinBox>::eventFilter(watched, event);
}

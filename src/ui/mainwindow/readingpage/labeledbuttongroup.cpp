#include "labeledbuttongroup.h"

#include "widgets/kelbutton.h"
#include "widgets/kelexclusivebuttongroup.h"

LabeledButtonGroup::LabeledButtonGroup(QWidget* parent)
    : Labeled<QWidget>(parent)
{
    auto* editor = new QWidget(this);
    m_buttonsLayout = new QHBoxLayout(editor);
    m_buttonsLayout->setContentsMargins(0, 0, 0, 0);
    m_buttonsLayout->setSpacing(6);
    m_group = new KelExclusiveButtonGroup(buttonStyle(), this);
    setEditor(editor);
}

KelButton* LabeledButtonGroup::addButton(const QVariant& value, const QString& iconName)
{
    return addButton(value, new KelButton(buttonStyle(), iconName));
}

KelButton* LabeledButtonGroup::addButton(const QVariant& value, KelButton* button)
{
    m_group->addButton(button, value);
    button->setParent(editor());
    m_buttonsLayout->addWidget(button);
    return button;
}

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
    m_group = new KelExclusiveButtonGroup(1008, this);
    setEditor(editor);
}

KelButton* LabeledButtonGroup::addButton(const QVariant& value, const QString& iconName)
{
    KelButton* button = m_group->createButton(value, iconName);
    button->setParent(editor());
    m_buttonsLayout->addWidget(button);
    return button;
}

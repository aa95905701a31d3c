#pragma once

#include "widgets/labeled.h"

class KelButton;
class KelExclusiveButtonGroup;

// A captioned row of exclusive buttons, each carrying its value as the group's user data.
class LabeledButtonGroup : public Labeled<QWidget> {
public:
    explicit LabeledButtonGroup(QWidget* parent = nullptr);

    KelExclusiveButtonGroup* buttonGroup() const { return m_group; }
    QHBoxLayout* buttonsLayout() const { return m_buttonsLayout; }
    KelButton* addButton(const QVariant& value, const QString& iconName);
    // A button the caller made, of the group's style id (buttonStyle()).
    KelButton* addButton(const QVariant& value, KelButton* button);
    static constexpr int buttonStyle() { return 1008; }

private:
    KelExclusiveButtonGroup* m_group;
    QHBoxLayout* m_buttonsLayout;
};

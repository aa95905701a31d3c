#pragma once

#include "labeledbuttongroup.h"

// The application's look: one button per registered profile. Every open selector follows the
// stored choice.
class StyleSelector : public LabeledButtonGroup {
public:
    explicit StyleSelector(QWidget* parent = nullptr);
    void translateUi();
};

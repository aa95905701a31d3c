#pragma once

#include "labeledbuttongroup.h"

// One or two text columns: the setting "column_count", written at once and followed.
class ColumnCountSelector : public LabeledButtonGroup {
public:
    explicit ColumnCountSelector(QWidget* parent = nullptr);
    void translateUi();
};

// Stores the column count limited to 1..2.
void setClampedColumnCount(int count);

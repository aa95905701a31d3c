#pragma once

#include "widgets/labeled.h"

// The reading font: the book's own fonts ("Original font") or one of a few common families the
// page can draw with a face of their kind. The hosting page binds the choice to its setting.
class FontFamilySelector : public LabeledComboBox {
public:
    explicit FontFamilySelector(QWidget* parent = nullptr);
    static QStringList fontFamilies();
};

#pragma once

#include "widgets/kelbutton.h"

// A swatch of one note colour; its colour follows the current profile.
class NoteColorButton : public KelButton {
    Q_OBJECT

public:
    NoteColorButton(int colorRole, QWidget* parent = nullptr);

    int colorRole() const { return m_colorRole; }
    void applyStyle() override;

private:
    void applyColors();

    int m_colorRole;
};

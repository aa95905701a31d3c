#include "notecolorbutton.h"

#include "styles/kelstatecolors.h"
#include "styles/kelstyle.h"

NoteColorButton::NoteColorButton(int colorRole, QWidget* parent)
    : KelButton(1029, QString(), parent, true)
    , m_colorRole(colorRole)
{
    KelButton::applyStyle();
    applyColors();
}

void NoteColorButton::applyStyle()
{
    KelButton::applyStyle();
    applyColors();
}

void NoteColorButton::applyColors()
{
    KelStyle* style = kelStyle();
    if (!style)
        return;
    const QColor color = style->color(m_colorRole);
    setIconColors(KelStateColors(color, style->hoverOverlayColor(QColor()), style->pressedOverlayColor(QColor()), color,
        Qt::transparent, Qt::transparent));
    update();
}

#include "styles/kelstatecolors.h"

KelStateColors::KelStateColors(const QColor& c)
{
    unchecked.normal = c;
    checked.normal = c;
}

KelStateColors::KelStateColors(Qt::GlobalColor c)
    : KelStateColors(QColor(c))
{
}

KelStateColors::KelStateColors(
    const QColor& normal, const QColor& hovered, const QColor& pressed, const QColor& disabled)
    : unchecked { normal, hovered, pressed, disabled }
    , checked { normal, hovered, pressed, disabled }
{
}

KelStateColors::KelStateColors(const QColor& normal, const QColor& hovered, const QColor& pressed,
    const QColor& checkedNormal, const QColor& checkedHovered, const QColor& checkedPressed)
    : unchecked { normal, hovered, pressed, QColor() }
    , checked { checkedNormal, checkedHovered, checkedPressed, QColor() }
{
}

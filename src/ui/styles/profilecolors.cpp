#include "styles/profilecolors.h"

#include "styles/style.h"

QColor profileColor(const Style& style, const ProfileColors& colors, int role)
{
    switch (role) {
    case 2:
        return QColor(colors.base);
    case 1000:
        return QColor(colors.baseGrey);
    case 1038:
        return QColor(83, 101, 167, 168);
    case 1039:
        return style.color(KelStyle::CL_Accent);
    case 1040:
        return QColor(0x6c8cff);
    default:
        if (role >= 1023 && role <= 1037)
            return QColor(colors.notes[role - 1023]);
        return style.Style::color(role);
    }
}

#pragma once

#include <QColor>

class Style;

// The colours in which the profiles differ: the base of windows (role 2), the base grey (role 1000)
// and the note colours with their tints (roles 1023-1037).
struct ProfileColors {
    QRgb base;
    QRgb baseGrey;
    QRgb notes[15];
};

// The profile's colour for the role: its table, the progress-bar roles shared by the profiles
// (1038 track, 1039 fill as the accent, 1040 fill end), else what Style answers.
QColor profileColor(const Style& style, const ProfileColors& colors, int role);

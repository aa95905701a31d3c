#pragma once

#include <QString>

// Orders names the way people number pages: runs of ASCII digits compare by their value
// ("page2" before "page10"), everything else by case-folded characters. Independent of the
// process locale. Names that compare equal this way ("p01", "p1"; "A", "a") are ordered by
// their plain UTF-16 values, so the order is total and stable between runs.
// Negative, zero or positive like QString::compare.
int naturalCompare(const QString& a, const QString& b);

inline bool naturalLessThan(const QString& a, const QString& b) { return naturalCompare(a, b) < 0; }

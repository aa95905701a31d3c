#pragma once

#include <QtGlobal>

#include <cmath>

// Comparisons of opacities, progress values and other reals of the toolkit: values count as zero
// within 1e-12, and two values are equal when their difference is such a zero or qFuzzyCompare says so.
namespace KelUtils {

constexpr double fuzzyZero = 1e-12;

inline bool isFuzzyNull(double value) { return std::fabs(value) <= fuzzyZero; }

inline bool isFuzzyEqual(double a, double b) { return isFuzzyNull(a - b) || qFuzzyCompare(a, b); }

} // namespace KelUtils

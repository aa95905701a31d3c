#pragma once

#include <QColor>
#include <QTest>

// Colours that went through 16-bit float channels may differ by one step per channel.
inline bool closeColors(const QColor& actual, const QColor& expected, int tolerance = 1)
{
    return actual.isValid() == expected.isValid() && qAbs(actual.red() - expected.red()) <= tolerance
        && qAbs(actual.green() - expected.green()) <= tolerance && qAbs(actual.blue() - expected.blue()) <= tolerance
        && qAbs(actual.alpha() - expected.alpha()) <= tolerance;
}

#define COMPARE_COLOR(actual, expected)                                                                                \
    do {                                                                                                               \
        const QColor a_ = (actual);                                                                                    \
        const QColor e_ = (expected);                                                                                  \
        if (!closeColors(a_, e_))                                                                                      \
            QFAIL(qPrintable(QStringLiteral("colour %1 (alpha %2), expected %3 (alpha %4)")                            \
                                 .arg(a_.name())                                                                       \
                                 .arg(a_.alpha())                                                                      \
                                 .arg(e_.name())                                                                       \
                                 .arg(e_.alpha())));                                                                   \
    } while (false)

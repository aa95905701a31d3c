#include "naturalorder.h"

namespace {

bool isAsciiDigit(QChar c) { return c.unicode() >= '0' && c.unicode() <= '9'; }

// The end of the digit run starting at from, and where its value starts after leading zeros.
int digitRunEnd(const QString& s, int from, int* valueStart)
{
    int i = from;
    while (i < s.size() && s.at(i) == QLatin1Char('0'))
        ++i;
    *valueStart = i;
    while (i < s.size() && isAsciiDigit(s.at(i)))
        ++i;
    return i;
}

} // namespace

int naturalCompare(const QString& a, const QString& b)
{
    int i = 0;
    int j = 0;
    while (i < a.size() && j < b.size()) {
        const QChar ca = a.at(i);
        const QChar cb = b.at(j);
        if (isAsciiDigit(ca) && isAsciiDigit(cb)) {
            // Compared as numbers of any length: more significant digits first, then digit by
            // digit, so no run can overflow.
            int valueA = 0;
            int valueB = 0;
            const int endA = digitRunEnd(a, i, &valueA);
            const int endB = digitRunEnd(b, j, &valueB);
            const int lengthA = endA - valueA;
            const int lengthB = endB - valueB;
            if (lengthA != lengthB)
                return lengthA < lengthB ? -1 : 1;
            for (int k = 0; k < lengthA; ++k) {
                const ushort da = a.at(valueA + k).unicode();
                const ushort db = b.at(valueB + k).unicode();
                if (da != db)
                    return da < db ? -1 : 1;
            }
            i = endA;
            j = endB;
            continue;
        }
        const ushort fa = ca.toCaseFolded().unicode();
        const ushort fb = cb.toCaseFolded().unicode();
        if (fa != fb)
            return fa < fb ? -1 : 1;
        ++i;
        ++j;
    }
    const int restA = a.size() - i;
    const int restB = b.size() - j;
    if (restA != restB)
        return restA < restB ? -1 : 1;
    return QString::compare(a, b, Qt::CaseSensitive);
}

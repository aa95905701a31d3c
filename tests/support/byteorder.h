#pragma once

#include <QByteArray>

// The low `width` bytes of a value appended most significant first (big-endian) or last.
inline void appendBigEndian(QByteArray& out, quint32 value, int width)
{
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xFF));
}

inline void appendLittleEndian(QByteArray& out, quint32 value, int width)
{
    for (int shift = 0; shift < 8 * width; shift += 8)
        out.append(char((value >> shift) & 0xFF));
}

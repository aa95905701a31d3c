#include "pdfenginetext.h"

#include <cmath>

namespace pdfenginetext {

namespace {
    const char16_t replacement = 0xfffd;
}

std::string toUtf8(const char16_t* text)
{
    std::string out;
    if (!text)
        return out;
    for (const char16_t* p = text; *p; ++p) {
        unsigned codePoint = *p;
        if (codePoint >= 0xd800 && codePoint <= 0xdbff && p[1] >= 0xdc00 && p[1] <= 0xdfff) {
            codePoint = 0x10000 + ((codePoint - 0xd800) << 10) + (unsigned(p[1]) - 0xdc00);
            ++p;
        } else if (codePoint >= 0xd800 && codePoint <= 0xdfff) {
            codePoint = replacement;
        }
        if (codePoint < 0x80) {
            out += char(codePoint);
        } else if (codePoint < 0x800) {
            out += char(0xc0 | (codePoint >> 6));
            out += char(0x80 | (codePoint & 0x3f));
        } else if (codePoint < 0x10000) {
            out += char(0xe0 | (codePoint >> 12));
            out += char(0x80 | ((codePoint >> 6) & 0x3f));
            out += char(0x80 | (codePoint & 0x3f));
        } else {
            out += char(0xf0 | (codePoint >> 18));
            out += char(0x80 | ((codePoint >> 12) & 0x3f));
            out += char(0x80 | ((codePoint >> 6) & 0x3f));
            out += char(0x80 | (codePoint & 0x3f));
        }
    }
    return out;
}

void appendCodePoint(std::u16string& out, int codePoint)
{
    if (codePoint < 0 || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff)) {
        out += replacement;
    } else if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        out += char16_t(0xd800 + (codePoint >> 10));
        out += char16_t(0xdc00 + (codePoint & 0x3ff));
    } else {
        out += char16_t(codePoint);
    }
}

std::u16string fromUtf8(const char* text)
{
    std::u16string out;
    if (!text)
        return out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        const unsigned lead = *p;
        int extra = 0;
        unsigned codePoint = 0;
        if (lead < 0x80) {
            codePoint = lead;
        } else if ((lead & 0xe0) == 0xc0) {
            extra = 1;
            codePoint = lead & 0x1f;
        } else if ((lead & 0xf0) == 0xe0) {
            extra = 2;
            codePoint = lead & 0x0f;
        } else if ((lead & 0xf8) == 0xf0) {
            extra = 3;
            codePoint = lead & 0x07;
        } else {
            out += replacement;
            ++p;
            continue;
        }
        ++p;
        bool valid = true;
        for (int i = 0; i < extra; ++i) {
            if ((*p & 0xc0) != 0x80) {
                valid = false;
                break;
            }
            codePoint = (codePoint << 6) | (*p & 0x3f);
            ++p;
        }
        // Overlong forms are refused like any other malformed sequence.
        static const unsigned minimum[] = { 0, 0x80, 0x800, 0x10000 };
        if (!valid || codePoint < minimum[extra])
            out += replacement;
        else
            appendCodePoint(out, int(codePoint));
    }
    return out;
}

std::u16string formatNumber(double value)
{
    if (!std::isfinite(value))
        value = 0;
    value = std::fmax(-1e12, std::fmin(1e12, value));
    long long hundredths = std::llround(value * 100);
    std::u16string out;
    if (hundredths < 0) {
        out += u'-';
        hundredths = -hundredths;
    }
    const std::string digits = std::to_string(hundredths / 100);
    out.append(digits.begin(), digits.end());
    out += u'.';
    out += char16_t(u'0' + (hundredths / 10) % 10);
    out += char16_t(u'0' + hundredths % 10);
    return out;
}

} // namespace pdfenginetext

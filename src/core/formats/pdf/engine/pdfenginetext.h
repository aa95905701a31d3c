#pragma once

#include <string>

// Text conversions of the engine: UTF-16 at the entries, UTF-8 inside MuPDF. Malformed input
// becomes U+FFFD rather than failing.
namespace pdfenginetext {

std::string toUtf8(const char16_t* text);
std::u16string fromUtf8(const char* text);
void appendCodePoint(std::u16string& out, int codePoint);
// A number with two decimals and a "." whatever the process locale says (the reader's
// application sets the locale from the environment, and fields are separated by commas).
std::u16string formatNumber(double value);

} // namespace pdfenginetext

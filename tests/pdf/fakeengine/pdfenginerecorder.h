#pragma once

#include "pdfpixelbuffer.h"

#include <string>

// The recording fake of the PDF engine library. Every entry writes one line describing its call,
// e.g. `DPLAddToBuffer(1, 100, "a\x00b", 3)`, to the file named by PL_FAKE_ENGINE_LOG ("load" and
// "unload" too), and returns the next value scripted for it in the file named by
// PL_FAKE_ENGINE_SCRIPT (read at load, one "<entry> <value>" a line), else its default: 0, an empty
// string, a null HDC; DPLCreateLibrary 1; DPLCreateBuffer 100, 101, ...; the length entries the
// length of the last string result. A value is an integer, a floating-point number, null (a null
// string pointer) or ASCII in double quotes with the escapes \\ \" \0 \n \xHH (a byte, or a UTF-16
// unit of a wide result) and \uHHHH (a UTF-16 unit of a wide result).
class PdfEngineCall {
public:
    explicit PdfEngineCall(const char* entry);

    void argInt(int value);
    void argDouble(double value);
    void argPointer(const void* value);
    void argHdc(HDC value);
    void argWide(const char16_t* value);
    void argBytes(const void* data, int size);

    // Each writes the call's line, then hands out the entry's next scripted value.
    int intResult(int fallback = 0);
    double doubleResult();
    HDC hdcResult();
    const char16_t* wideResult();
    const char* bytesResult();

private:
    void record();

    std::string entry;
    std::string arguments;
};

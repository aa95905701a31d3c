#pragma once

#include "pdfpixelbuffer.h"

#include <string>

// The recording fake of the PDF engine library. Every entry writes one line describing its call
// to the file named by PL_FAKE_ENGINE_LOG, for example
//     DPLSelectPage(1, 3)
//     DPLLoadFromFile(1, "/books/a.pdf", "")
//     DPLAddToBuffer(1, 100, "a\x00b", 3)
// and returns the next value scripted for it in the file named by PL_FAKE_ENGINE_SCRIPT, read when
// the library is loaded. A script line is "<entry> <value>"; the values of one entry are handed
// out in order, and an entry without one left returns its default (0, an empty string, a null
// HDC; DPLCreateLibrary 1; DPLCreateBuffer 100, 101, ...; the two length entries the length of
// the last string result). A value is an integer, a floating-point number, null (a null string
// pointer) or a string of ASCII in double quotes with the escapes \\ \" \0 \n \xHH (one byte, or
// one UTF-16 unit in a wide result) and \uHHHH (one UTF-16 unit of a wide result). Loading writes
// "load" to the log, unloading "unload".
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

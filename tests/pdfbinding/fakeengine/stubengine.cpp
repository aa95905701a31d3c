// A minimal engine built the way the real one is: three members written here, every other entry a
// generated not-implemented stub.
#include "pdfengineentries.h"

namespace {
const int notSupported = 9999;
int lastError = 0;
int lastLength = 0;
}

int DPLCreateLibrary() { return 1; }

int DPLReleaseLibrary(int) { return 0; }

int DPLStringResultLength(int) { return lastLength; }

int DPLAnsiStringResultLength(int) { return lastLength; }

int DPLCreateBuffer(int, int) { return 1; }

int DPLAddToBuffer(int, int, void*, int) { return 0; }

int DPLReleaseBuffer(int, int) { return 0; }

int DPLPageCount(int)
{
    lastError = 0;
    return 3;
}

int DPLLastErrorCode(int) { return lastError; }

const char16_t* DPLGetInformation(int, int)
{
    lastError = 0;
    lastLength = 5;
    return u"Title";
}

void pdfEngineNotImplemented(int, const char*)
{
    lastError = notSupported;
    lastLength = 0;
}

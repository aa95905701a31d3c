// The hand-written part of PdfLibraryDll: loading, unloading and the string protocols. The class
// declaration and the forwarding methods are generated from pdfentries.txt (generate.py).
#include "pdflibrarydll.h"

#include <QFile>
#include <QString>

#include <dlfcn.h>

#include <climits>

namespace {

// A string result: its length is asked at once, since it describes the instance's last string
// result only. The length, not a terminating zero, gives the size, so zeros inside are kept.
template <typename Char> std::basic_string<Char> copyResult(const Char* text, int (*length)(int), int instanceId)
{
    const int size = length ? length(instanceId) : 0;
    if (!text || size <= 0)
        return {};
    return std::basic_string<Char>(text, size_t(size));
}

} // namespace

PdfLibraryDll::PdfLibraryDll(const std::u16string& dllPath)
{
    // RTLD_LOCAL: the entries are only reached through this table, so they must not take part in
    // the symbol resolution of later-loaded libraries.
    libraryModule = dlopen(QFile::encodeName(QString::fromStdU16String(dllPath)).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!libraryModule) {
        const char* error = dlerror();
        loadErrorText = error ? error : "cannot load the library";
        entryMissing = true;
        return;
    }
    for (int i = 0; i < pdfLibraryEntryCount; ++i) {
        entryTable[i] = dlsym(libraryModule, pdfLibraryEntries[i].name);
        if (!entryTable[i] && !entryMissing) {
            entryMissing = true;
            loadErrorText = std::string("missing entry ") + pdfLibraryEntries[i].name;
        }
    }
    // The instance is made even when other entries are missing: the ones present still work.
    if (const auto create = entryAs<int (*)()>(PdfEntry::CreateLibrary))
        instanceId = create();
}

PdfLibraryDll::~PdfLibraryDll()
{
    // Ids of 0 and below are the library's failures, never instances to release.
    if (instanceId > 0) {
        if (const auto release = entryAs<int (*)(int)>(PdfEntry::ReleaseLibrary))
            release(instanceId);
    }
    if (libraryModule) {
        dlclose(libraryModule);
        libraryModule = nullptr;
    }
}

bool PdfLibraryDll::LibraryLoaded() const { return !entryMissing; }

const std::string& PdfLibraryDll::loadError() const { return loadErrorText; }

int PdfLibraryDll::createBuffer(const std::string& bytes)
{
    // The library counts sizes in ints; a larger string cannot be passed whole, and a cut one
    // would be wrong data, so it goes as an empty buffer.
    const int size = bytes.size() > size_t(INT_MAX) ? 0 : int(bytes.size());
    const auto create = entryAs<int (*)(int, int)>(PdfEntry::CreateBuffer);
    const int buffer = create ? create(instanceId, size) : 0;
    if (const auto add = entryAs<int (*)(int, int, void*, int)>(PdfEntry::AddToBuffer))
        add(instanceId, buffer, const_cast<char*>(bytes.data()), size);
    return buffer;
}

void PdfLibraryDll::releaseBuffer(int buffer)
{
    if (const auto release = entryAs<int (*)(int, int)>(PdfEntry::ReleaseBuffer))
        release(instanceId, buffer);
}

std::u16string PdfLibraryDll::wideResult(const char16_t* text)
{
    return copyResult(text, entryAs<int (*)(int)>(PdfEntry::StringResultLength), instanceId);
}

std::string PdfLibraryDll::bytesResult(const char* bytes)
{
    return copyResult(bytes, entryAs<int (*)(int)>(PdfEntry::AnsiStringResultLength), instanceId);
}

// The exported entries: each finds its instance, holds the instance's lock for the whole call
// and turns every failure, C++ exceptions included, into an error code and an empty result.
#include "pdfengineentries.h"
#include "pdfengineerrors.h"
#include "pdfengineinstance.h"
#include "pdfenginetext.h"

#include <mupdf/fitz.h>

#include <new>

namespace {

template <typename Result, typename Work> Result onInstance(int id, Result empty, Work&& work)
{
    std::shared_ptr<PdfEngineInstance> instance;
    try {
        instance = PdfEngineInstance::find(id);
    } catch (...) {
        return empty;
    }
    if (!instance)
        return empty;
    std::lock_guard<std::mutex> lock(instance->mutex);
    try {
        return work(*instance);
    } catch (const std::bad_alloc&) {
        instance->fail(PdfEngineError::OutOfMemory);
    } catch (...) {
        instance->fail(PdfEngineError::OperationFailed);
    }
    return empty;
}

// An entry on the selected document; NoDocument when there is none.
template <typename Result, typename Work> Result onDocument(int id, Result empty, Work&& work)
{
    return onInstance(id, empty, [&](PdfEngineInstance& instance) -> Result {
        PdfEngineDocument* document = instance.selected();
        return document ? work(instance, *document) : empty;
    });
}

// A wide-string entry: work fills the text and returns false (with the error set) on failure,
// which gives an empty result.
template <typename Work> const char16_t* wideEntry(int id, Work&& work)
{
    return onInstance(id, static_cast<const char16_t*>(u""), [&](PdfEngineInstance& instance) {
        // Cleared first, so a failure part-way leaves a result of length 0.
        instance.wideResult({});
        std::u16string text;
        if (!work(instance, text))
            text.clear();
        return instance.wideResult(std::move(text));
    });
}

// An int entry that succeeds or fails on the selected document with an error code.
template <typename Work> int documentCall(int id, Work&& work)
{
    return onDocument(id, 0, [&](PdfEngineInstance& instance, PdfEngineDocument& document) {
        int error = 0;
        if (!work(document, error))
            return int(instance.fail(error));
        instance.succeed();
        return 1;
    });
}

// A value of the selected document that cannot fail once there is one.
template <typename Result, typename Value>
Result documentValue(int id, Result empty, Value (PdfEngineDocument::*read)() const)
{
    return onDocument(id, empty, [&](PdfEngineInstance& instance, PdfEngineDocument& document) {
        instance.succeed();
        return Result((document.*read)());
    });
}

// A wide-string entry on the selected document: work fills the text or sets the error.
template <typename Work> const char16_t* documentText(int id, Work&& work)
{
    return wideEntry(id, [&](PdfEngineInstance& instance, std::u16string& text) {
        PdfEngineDocument* document = instance.selected();
        if (!document)
            return false;
        int error = 0;
        if (!work(*document, text, error))
            return instance.fail(error);
        instance.succeed();
        return true;
    });
}

// One link of an outline item (parent, first child, next, previous) or its page.
int outlineField(int id, int outlineId, int PdfEngineOutlineItem::*field)
{
    return onDocument(id, 0, [&](PdfEngineInstance& instance, PdfEngineDocument& document) {
        const PdfEngineOutlineItem* item = document.outline().item(outlineId);
        if (!item)
            return int(instance.fail(PdfEngineError::InvalidOutline));
        instance.succeed();
        return item->*field;
    });
}

std::u16string wide(const char16_t* text) { return text ? std::u16string(text) : std::u16string(); }

} // namespace

void pdfEngineNotImplemented(int instanceId, const char*)
{
    onInstance(instanceId, 0, [](PdfEngineInstance& instance) {
        instance.fail(PdfEngineError::NotSupported);
        instance.clearResults();
        return 0;
    });
}

// The library and its protocols.

int DPLCreateLibrary()
{
    try {
        auto instance = PdfEngineInstance::create();
        return instance ? PdfEngineInstance::registerInstance(std::move(instance)) : 0;
    } catch (...) {
        return 0;
    }
}

int DPLReleaseLibrary(int instanceId)
{
    try {
        const bool known = PdfEngineInstance::find(instanceId) != nullptr;
        PdfEngineInstance::unregisterInstance(instanceId);
        return known ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int DPLStringResultLength(int instanceId)
{
    return onInstance(instanceId, 0, [](PdfEngineInstance& instance) { return instance.wideLength(); });
}

int DPLAnsiStringResultLength(int instanceId)
{
    return onInstance(instanceId, 0, [](PdfEngineInstance& instance) { return instance.bytesLength(); });
}

int DPLCreateBuffer(int instanceId, int Size)
{
    return onInstance(instanceId, 0, [&](PdfEngineInstance& instance) { return instance.createBuffer(Size); });
}

int DPLAddToBuffer(int instanceId, int Buffer, void* Data, int Size)
{
    return onInstance(
        instanceId, 0, [&](PdfEngineInstance& instance) { return instance.addToBuffer(Buffer, Data, Size) ? 1 : 0; });
}

int DPLReleaseBuffer(int instanceId, int Buffer)
{
    return onInstance(instanceId, 0, [&](PdfEngineInstance& instance) {
        instance.releaseBuffer(Buffer);
        return 1;
    });
}

int DPLLastErrorCode(int instanceId)
{
    return onInstance(instanceId, 0, [](PdfEngineInstance& instance) { return instance.lastError; });
}

const char16_t* DPLLastRenderError(int instanceId)
{
    return wideEntry(instanceId, [](PdfEngineInstance& instance, std::u16string& text) {
        text = pdfenginetext::fromUtf8(instance.lastMessage.c_str());
        return true;
    });
}

const char16_t* DPLLibraryVersion(int instanceId)
{
    return wideEntry(instanceId, [](PdfEngineInstance&, std::u16string& text) {
        text = u"1.0 (MuPDF " FZ_VERSION ")";
        return true;
    });
}

// Documents.

int DPLLoadFromFile(int instanceId, const char16_t* FileName, const char16_t* Password)
{
    return onInstance(instanceId, 0,
        [&](PdfEngineInstance& instance) { return instance.loadFile(wide(FileName), wide(Password)) > 0 ? 1 : 0; });
}

int DPLLoadFromString(int instanceId, int Arg1, const char16_t* Arg2)
{
    return onInstance(instanceId, 0, [&](PdfEngineInstance& instance) {
        const std::string* bytes = instance.buffer(Arg1);
        if (!bytes)
            return int(instance.fail(PdfEngineError::InvalidArgument));
        return instance.loadBytes(*bytes, wide(Arg2)) > 0 ? 1 : 0;
    });
}

int DPLDocumentCount(int instanceId)
{
    return onInstance(instanceId, 0, [](PdfEngineInstance& instance) {
        instance.succeed();
        return instance.documentCount();
    });
}

int DPLSelectDocument(int instanceId, int Arg1)
{
    return onInstance(
        instanceId, 0, [&](PdfEngineInstance& instance) { return instance.selectDocument(Arg1) ? 1 : 0; });
}

int DPLSelectedDocument(int instanceId)
{
    return onInstance(instanceId, 0, [](PdfEngineInstance& instance) {
        instance.succeed();
        return instance.selectedId();
    });
}

int DPLRemoveDocument(int instanceId, int Arg1)
{
    return onInstance(
        instanceId, 0, [&](PdfEngineInstance& instance) { return instance.removeDocument(Arg1) ? 1 : 0; });
}

const char16_t* DPLGetDocumentFileName(int instanceId)
{
    return documentText(instanceId, [](PdfEngineDocument& document, std::u16string& text, int&) {
        text = document.fileName;
        return true;
    });
}

int DPLGetDocumentRepaired(int instanceId) { return documentValue(instanceId, 0, &PdfEngineDocument::repaired); }

// Pages.

int DPLPageCount(int instanceId) { return documentValue(instanceId, 0, &PdfEngineDocument::pageCount); }

int DPLSelectPage(int instanceId, int PageNumber)
{
    return documentCall(
        instanceId, [&](PdfEngineDocument& document, int& error) { return document.selectPage(PageNumber, error); });
}

int DPLSelectedPage(int instanceId) { return documentValue(instanceId, 0, &PdfEngineDocument::selectedPage); }

double DPLPageWidth(int instanceId) { return documentValue(instanceId, 0.0, &PdfEngineDocument::pageWidth); }

double DPLPageHeight(int instanceId) { return documentValue(instanceId, 0.0, &PdfEngineDocument::pageHeight); }

int DPLPageRotation(int instanceId) { return documentValue(instanceId, 0, &PdfEngineDocument::pageRotation); }

int DPLRenderPageToDC(int instanceId, double DPI, int Page, HDC DC)
{
    return documentCall(
        instanceId, [&](PdfEngineDocument& document, int& error) { return document.render(Page, DPI, DC, error); });
}

const char16_t* DPLGetPageText(int instanceId, int ExtractOptions)
{
    return documentText(instanceId, [&](PdfEngineDocument& document, std::u16string& text, int& error) {
        return document.pageText(ExtractOptions, text, error);
    });
}

const char16_t* DPLGetInformation(int instanceId, int Key)
{
    return documentText(instanceId, [&](PdfEngineDocument& document, std::u16string& text, int& error) {
        return document.information(Key, text, error);
    });
}

// The outline: ids are valid for the selected document.

int DPLOutlineCount(int instanceId)
{
    return onDocument(instanceId, 0, [](PdfEngineInstance& instance, PdfEngineDocument& document) {
        instance.succeed();
        return document.outline().count();
    });
}

int DPLGetFirstOutline(int instanceId)
{
    return onDocument(instanceId, 0, [](PdfEngineInstance& instance, PdfEngineDocument& document) {
        instance.succeed();
        return document.outline().first();
    });
}

int DPLGetFirstChildOutline(int instanceId, int OutlineID)
{
    return outlineField(instanceId, OutlineID, &PdfEngineOutlineItem::firstChild);
}

int DPLGetNextOutline(int instanceId, int OutlineID)
{
    return outlineField(instanceId, OutlineID, &PdfEngineOutlineItem::next);
}

int DPLGetPrevOutline(int instanceId, int Arg1) { return outlineField(instanceId, Arg1, &PdfEngineOutlineItem::prev); }

int DPLGetParentOutline(int instanceId, int Arg1)
{
    return outlineField(instanceId, Arg1, &PdfEngineOutlineItem::parent);
}

int DPLGetOutlinePage(int instanceId, int OutlineID)
{
    return outlineField(instanceId, OutlineID, &PdfEngineOutlineItem::page);
}

const char16_t* DPLOutlineTitle(int instanceId, int OutlineID)
{
    return documentText(instanceId, [&](PdfEngineDocument& document, std::u16string& text, int& error) {
        const PdfEngineOutlineItem* item = document.outline().item(OutlineID);
        if (!item) {
            error = PdfEngineError::InvalidOutline;
            return false;
        }
        text = item->title;
        return true;
    });
}

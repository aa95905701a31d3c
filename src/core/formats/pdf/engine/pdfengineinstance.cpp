#include "pdfengineinstance.h"
#include "pdfengineerrors.h"
#include "pdfenginetext.h"

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

std::mutex registryMutex;
std::map<int, std::shared_ptr<PdfEngineInstance>>& registry()
{
    static std::map<int, std::shared_ptr<PdfEngineInstance>> instances;
    return instances;
}
int nextInstanceId = 1;

// MuPDF's messages go to the instance instead of stderr: the engine reports through its error
// codes, and a reader's terminal is no place for a broken file's complaints.
void keepMessage(void* user, const char* message)
{
    auto* text = static_cast<std::string*>(user);
    try {
        text->assign(message ? message : "");
    } catch (...) {
        // Losing a diagnostic is better than throwing through MuPDF.
    }
}

void ignoreWarning(void*, const char*) { }

// MuPDF's allocations, counted against the instance's budget. Each block carries its size in
// front; the context is used under the instance's lock only, so the count needs no atomics.
constexpr size_t blockHeader = 16;

void* budgetMalloc(void* user, size_t size)
{
    auto* budget = static_cast<PdfEngineInstance::MemoryBudget*>(user);
    if (size > budget->limit - budget->used || size > SIZE_MAX - blockHeader)
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(size + blockHeader));
    if (!block)
        return nullptr;
    *reinterpret_cast<size_t*>(block) = size;
    budget->used += size;
    return block + blockHeader;
}

void budgetFree(void* user, void* pointer)
{
    if (!pointer)
        return;
    auto* budget = static_cast<PdfEngineInstance::MemoryBudget*>(user);
    unsigned char* block = static_cast<unsigned char*>(pointer) - blockHeader;
    budget->used -= *reinterpret_cast<size_t*>(block);
    std::free(block);
}

void* budgetRealloc(void* user, void* pointer, size_t size)
{
    if (!pointer)
        return budgetMalloc(user, size);
    if (size == 0) {
        budgetFree(user, pointer);
        return nullptr;
    }
    auto* budget = static_cast<PdfEngineInstance::MemoryBudget*>(user);
    unsigned char* block = static_cast<unsigned char*>(pointer) - blockHeader;
    const size_t old = *reinterpret_cast<size_t*>(block);
    if ((size > old && size - old > budget->limit - budget->used) || size > SIZE_MAX - blockHeader)
        return nullptr;
    auto* grown = static_cast<unsigned char*>(std::realloc(block, size + blockHeader));
    if (!grown)
        return nullptr;
    *reinterpret_cast<size_t*>(grown) = size;
    budget->used = budget->used - old + size;
    return grown + blockHeader;
}

} // namespace

std::shared_ptr<PdfEngineInstance> PdfEngineInstance::create()
{
    std::shared_ptr<PdfEngineInstance> instance(new PdfEngineInstance);
    const fz_alloc_context allocator { &instance->memory, budgetMalloc, budgetRealloc, budgetFree };
    instance->ctx = fz_new_context(&allocator, nullptr, storeLimit);
    if (!instance->ctx)
        return nullptr;
    fz_set_error_callback(instance->ctx, keepMessage, &instance->lastMessage);
    fz_set_warning_callback(instance->ctx, ignoreWarning, nullptr);
    return instance;
}

PdfEngineInstance::~PdfEngineInstance()
{
    // Documents hold pages and objects of the context: they go first.
    documents.clear();
    fz_drop_context(ctx);
}

int PdfEngineInstance::registerInstance(std::shared_ptr<PdfEngineInstance> instance)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    if (nextInstanceId == INT_MAX)
        return 0;
    const int id = nextInstanceId++;
    registry()[id] = std::move(instance);
    return id;
}

std::shared_ptr<PdfEngineInstance> PdfEngineInstance::find(int id)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    const auto found = registry().find(id);
    return found == registry().end() ? nullptr : found->second;
}

void PdfEngineInstance::unregisterInstance(int id)
{
    std::shared_ptr<PdfEngineInstance> instance;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        const auto found = registry().find(id);
        if (found == registry().end())
            return;
        instance = std::move(found->second);
        registry().erase(found);
    }
    // An entry still running on another thread keeps its own reference; the instance goes
    // when the last one does, outside the registry's lock.
}

const char16_t* PdfEngineInstance::wideResult(std::u16string text)
{
    lastWide = std::move(text);
    return lastWide.c_str();
}

const char* PdfEngineInstance::bytesResult(std::string bytes)
{
    lastBytes = std::move(bytes);
    return lastBytes.c_str();
}

void PdfEngineInstance::clearResults()
{
    lastWide.clear();
    lastBytes.clear();
}

int PdfEngineInstance::createBuffer(int size)
{
    // The size is only a hint: the bytes arrive with addToBuffer, which checks nothing else.
    if (nextBuffer == INT_MAX)
        return 0;
    const int id = nextBuffer++;
    buffers[id].reserve(size_t(std::max(0, std::min(size, 1 << 20))));
    return id;
}

bool PdfEngineInstance::addToBuffer(int buffer, const void* data, int size)
{
    const auto found = buffers.find(buffer);
    if (found == buffers.end() || size < 0 || (size > 0 && !data))
        return false;
    found->second.append(static_cast<const char*>(data), size_t(size));
    return true;
}

void PdfEngineInstance::releaseBuffer(int buffer) { buffers.erase(buffer); }

const std::string* PdfEngineInstance::buffer(int id) const
{
    const auto found = buffers.find(id);
    return found == buffers.end() ? nullptr : &found->second;
}

int PdfEngineInstance::addDocument(std::unique_ptr<PdfEngineDocument> document)
{
    if (nextDocumentId == INT_MAX)
        return fail(PdfEngineError::OperationFailed);
    const int id = nextDocumentId++;
    documents[id] = std::move(document);
    selectedDocument = id;
    succeed();
    return id;
}

int PdfEngineInstance::loadFile(const std::u16string& path, const std::u16string& password)
{
    const std::string name = pdfenginetext::toUtf8(path.c_str());
    struct stat info { };
    if (name.empty() || ::stat(name.c_str(), &info) != 0)
        return fail(errno == ENOENT || errno == ENOTDIR || name.empty() ? PdfEngineError::FileNotFound
                                                                        : PdfEngineError::CannotOpen);
    if (!S_ISREG(info.st_mode))
        return fail(PdfEngineError::CannotOpen);
    // MuPDF would report an unreadable file as a broken one; it is not.
    if (FILE* file = std::fopen(name.c_str(), "rb"))
        std::fclose(file);
    else
        return fail(PdfEngineError::CannotOpen);

    int error = 0;
    auto document = PdfEngineDocument::openFile(ctx, name, pdfenginetext::toUtf8(password.c_str()), error);
    if (!document)
        return fail(error);
    document->fileName = path;
    return addDocument(std::move(document));
}

int PdfEngineInstance::loadBytes(const std::string& bytes, const std::u16string& password)
{
    fz_stream* stream = nullptr;
    fz_buffer* data = nullptr;
    fz_var(stream);
    fz_var(data);
    // The document reads its file lazily, long after the caller's buffer is gone: it gets a copy.
    fz_try(ctx)
    {
        data = fz_new_buffer_from_copied_data(ctx, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        stream = fz_open_buffer(ctx, data);
    }
    fz_always(ctx) fz_drop_buffer(ctx, data);
    fz_catch(ctx) return fail(PdfEngineError::OutOfMemory);

    int error = 0;
    std::unique_ptr<PdfEngineDocument> document;
    try {
        document = PdfEngineDocument::openStream(ctx, stream, pdfenginetext::toUtf8(password.c_str()), error);
    } catch (...) {
        fz_drop_stream(ctx, stream);
        throw;
    }
    fz_drop_stream(ctx, stream);
    if (!document)
        return fail(error);
    return addDocument(std::move(document));
}

PdfEngineDocument* PdfEngineInstance::selected()
{
    const auto found = documents.find(selectedDocument);
    if (found == documents.end()) {
        fail(PdfEngineError::NoDocument);
        return nullptr;
    }
    return found->second.get();
}

bool PdfEngineInstance::selectDocument(int id)
{
    if (!documents.count(id))
        return fail(PdfEngineError::NoDocument);
    selectedDocument = id;
    succeed();
    return true;
}

bool PdfEngineInstance::removeDocument(int id)
{
    const auto found = documents.find(id);
    if (found == documents.end())
        return fail(PdfEngineError::NoDocument);
    documents.erase(found);
    // The newest remaining document takes over, as if the removed one had never been loaded.
    if (selectedDocument == id)
        selectedDocument = documents.empty() ? 0 : documents.rbegin()->first;
    succeed();
    return true;
}

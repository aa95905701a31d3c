#pragma once

#include "pdfenginedocument.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

typedef struct fz_context fz_context;

// One library instance: its own MuPDF context, the documents loaded into it with the selected
// one, the last error code, the last string results and the byte buffers of the callers.
// Every entry holds the instance's mutex while it works on it.
class PdfEngineInstance {
public:
    // nullptr when MuPDF cannot make a context.
    static std::shared_ptr<PdfEngineInstance> create();
    ~PdfEngineInstance();
    PdfEngineInstance(const PdfEngineInstance&) = delete;
    PdfEngineInstance& operator=(const PdfEngineInstance&) = delete;

    // The registry of live instances, by id (ids start at 1 and are never reused).
    static int registerInstance(std::shared_ptr<PdfEngineInstance> instance);
    static std::shared_ptr<PdfEngineInstance> find(int id);
    static void unregisterInstance(int id);

    std::mutex mutex;

    int lastError = 0;
    // Sets the last error code; returns false so failing entries can return it.
    bool fail(int code)
    {
        lastError = code;
        return false;
    }
    void succeed() { lastError = 0; }

    // String results stay valid until the instance's next string result.
    const char16_t* wideResult(std::u16string text);
    const char* bytesResult(std::string bytes);
    int wideLength() const { return int(lastWide.size()); }
    int bytesLength() const { return int(lastBytes.size()); }
    void clearResults();

    // The byte-string protocol; it leaves the last error code alone, since it wraps the entry
    // whose error the caller asks for.
    int createBuffer(int size);
    bool addToBuffer(int buffer, const void* data, int size);
    void releaseBuffer(int buffer);
    const std::string* buffer(int id) const;

    // Loads a file (UTF-8 path) or bytes; the new document becomes the selected one. Returns
    // its id, or 0 with the error code set.
    int loadFile(const std::u16string& path, const std::u16string& password);
    int loadBytes(const std::string& bytes, const std::u16string& password);

    // The selected document; nullptr (with NoDocument set) when there is none.
    PdfEngineDocument* selected();
    int selectedId() const { return selectedDocument; }
    bool selectDocument(int id);
    bool removeDocument(int id);
    int documentCount() const { return int(documents.size()); }

    // The MuPDF message of the instance's last failure.
    std::string lastMessage;

    // What MuPDF may hold at once for one instance: a hostile file that declares an enormous
    // image or group fails to render instead of taking the machine's memory.
    static constexpr size_t memoryLimit = size_t(2) << 30;
    // What MuPDF keeps between renders (decoded images, fonts, parsed objects of pages seen
    // before): a reader turning through a long book would otherwise grow by each page's share.
    static constexpr size_t storeLimit = size_t(64) << 20;
    struct MemoryBudget {
        size_t used = 0;
        size_t limit = memoryLimit;
    };

private:
    PdfEngineInstance() = default;
    int addDocument(std::unique_ptr<PdfEngineDocument> document);

    MemoryBudget memory;
    fz_context* ctx = nullptr;
    std::map<int, std::unique_ptr<PdfEngineDocument>> documents;
    int selectedDocument = 0;
    int nextDocumentId = 1;
    std::u16string lastWide;
    std::string lastBytes;
    std::map<int, std::string> buffers;
    int nextBuffer = 1;
};

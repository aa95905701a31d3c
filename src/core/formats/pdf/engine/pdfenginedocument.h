#pragma once

#include "pdfengineoutline.h"
#include "pdfpixelbuffer.h"

#include <memory>
#include <string>

typedef struct fz_context fz_context;
typedef struct fz_stream fz_stream;
typedef struct pdf_document pdf_document;
typedef struct pdf_page pdf_page;

// One document loaded into an engine instance, with its selected page. Every method runs under
// the instance's lock; failures return false (or an empty value) with a PdfEngineError code.
class PdfEngineDocument {
public:
    // Opens a file (UTF-8 path) or a stream (which the document keeps) and authenticates with
    // the password. nullptr with the error code when that fails.
    static std::unique_ptr<PdfEngineDocument> openFile(
        fz_context* ctx, const std::string& path, const std::string& password, int& error);
    static std::unique_ptr<PdfEngineDocument> openStream(
        fz_context* ctx, fz_stream* stream, const std::string& password, int& error);
    ~PdfEngineDocument();
    PdfEngineDocument(const PdfEngineDocument&) = delete;
    PdfEngineDocument& operator=(const PdfEngineDocument&) = delete;

    int pageCount() const { return pages; }
    bool repaired() const { return wasRepaired; }
    std::u16string fileName;

    bool selectPage(int number, int& error);
    int selectedPage() const { return selected; }
    // The selected page's crop box in points, before rotation (0 when no page is selected).
    double pageWidth() const { return selectedWidth; }
    double pageHeight() const { return selectedHeight; }
    // 0, 90, 180 or 270.
    int pageRotation() const { return selectedRotation; }

    // Draws the page, rotated as it is shown, into the whole target at dpi.
    bool render(int number, double dpi, const PdfPixelBuffer* target, int& error);
    // The selected page's text: options 0 plain lines, 2 one line per text line of the page as
    // "left,top,right,bottom,font size,text" (points from the shown page's top left corner);
    // the text comes last so it may hold commas.
    bool pageText(int options, std::u16string& text, int& error);
    // Document information: 0 PDF version, 1 author, 2 title, 3 subject, 4 keywords, 5 creator,
    // 6 producer, 7 creation date, 8 modification date. A missing entry is an empty string.
    bool information(int key, std::u16string& text, int& error);
    const PdfEngineOutline& outline();

private:
    PdfEngineDocument(fz_context* ctx, pdf_document* doc);
    static std::unique_ptr<PdfEngineDocument> authenticate(
        fz_context* ctx, pdf_document* doc, const std::string& password, int& error);
    pdf_page* loadPage(int number, int& error);

    fz_context* ctx;
    pdf_document* doc;
    int pages = 0;
    bool wasRepaired = false;
    // The one page kept loaded: rendering after SelectPage of the same page costs no reload.
    pdf_page* cachedPage = nullptr;
    int cachedNumber = 0;
    int selected = 0;
    double selectedWidth = 0;
    double selectedHeight = 0;
    int selectedRotation = 0;
    PdfEngineOutline outlineTable;
};

#include "pdfenginedocument.h"
#include "pdfengineerrors.h"
#include "pdfenginetext.h"

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <climits>
#include <cmath>

namespace {

// The same snapping MuPDF applies when it draws the page, so the reported rotation and the
// rendered image always agree (-90 is 270, 450 is 90).
int normalisedRotation(int degrees)
{
    if (degrees < 0)
        degrees = 360 - int((-(long long)degrees) % 360);
    if (degrees >= 360)
        degrees %= 360;
    degrees = 90 * ((degrees + 45) / 90);
    return degrees >= 360 ? 0 : degrees;
}

pdf_obj* infoKeyName(int key)
{
    switch (key) {
    case 1:
        return PDF_NAME(Author);
    case 2:
        return PDF_NAME(Title);
    case 3:
        return PDF_NAME(Subject);
    case 4:
        return PDF_NAME(Keywords);
    case 5:
        return PDF_NAME(Creator);
    case 6:
        return PDF_NAME(Producer);
    case 7:
        return PDF_NAME(CreationDate);
    case 8:
        return PDF_NAME(ModDate);
    default:
        return nullptr;
    }
}

void appendCharacter(std::u16string& text, int c)
{
    // One output line per text line: control characters would break the format.
    pdfenginetext::appendCodePoint(text, c < 0x20 || c == 0x7f ? ' ' : c);
}

// Far beyond any screen or printer; larger values only overflow MuPDF's float matrices.
const double maxDpi = 100000;

} // namespace

PdfEngineDocument::PdfEngineDocument(fz_context* ctx, pdf_document* doc)
    : ctx(ctx)
    , doc(doc)
{
}

PdfEngineDocument::~PdfEngineDocument()
{
    fz_drop_page(ctx, reinterpret_cast<fz_page*>(cachedPage));
    pdf_drop_document(ctx, doc);
}

std::unique_ptr<PdfEngineDocument> PdfEngineDocument::openFile(
    fz_context* ctx, const std::string& path, const std::string& password, int& error)
{
    pdf_document* doc = nullptr;
    fz_var(doc);
    fz_try(ctx) doc = pdf_open_document(ctx, path.c_str());
    fz_catch(ctx)
    {
        error = PdfEngineError::Damaged;
        return nullptr;
    }
    return authenticate(ctx, doc, password, error);
}

std::unique_ptr<PdfEngineDocument> PdfEngineDocument::openStream(
    fz_context* ctx, fz_stream* stream, const std::string& password, int& error)
{
    pdf_document* doc = nullptr;
    fz_var(doc);
    fz_try(ctx) doc = pdf_open_document_with_stream(ctx, stream);
    fz_catch(ctx)
    {
        error = PdfEngineError::Damaged;
        return nullptr;
    }
    return authenticate(ctx, doc, password, error);
}

std::unique_ptr<PdfEngineDocument> PdfEngineDocument::authenticate(
    fz_context* ctx, pdf_document* doc, const std::string& password, int& error)
{
    int code = PdfEngineError::None;
    int pages = 0;
    int repaired = 0;
    fz_var(code);
    fz_var(pages);
    fz_var(repaired);
    fz_try(ctx)
    {
        // A file with only an owner password opens with the empty user password, which MuPDF
        // has tried already: it needs a password only when that failed.
        if (pdf_needs_password(ctx, doc) && !pdf_authenticate_password(ctx, doc, password.c_str())) {
            code = PdfEngineError::InvalidPassword;
        } else {
            pages = pdf_count_pages(ctx, doc);
            repaired = pdf_was_repaired(ctx, doc);
        }
    }
    fz_catch(ctx) code = PdfEngineError::Damaged;
    if (code == PdfEngineError::None && pages < 0)
        code = PdfEngineError::Damaged;
    if (code != PdfEngineError::None) {
        pdf_drop_document(ctx, doc);
        error = code;
        return nullptr;
    }
    std::unique_ptr<PdfEngineDocument> document;
    try {
        document.reset(new PdfEngineDocument(ctx, doc));
    } catch (...) {
        pdf_drop_document(ctx, doc);
        throw;
    }
    document->pages = pages;
    document->wasRepaired = repaired != 0;
    error = PdfEngineError::None;
    return document;
}

pdf_page* PdfEngineDocument::loadPage(int number, int& error)
{
    if (number < 1 || number > pages) {
        error = PdfEngineError::InvalidPage;
        return nullptr;
    }
    if (cachedPage && cachedNumber == number)
        return cachedPage;
    pdf_page* page = nullptr;
    fz_var(page);
    fz_try(ctx) page = pdf_load_page(ctx, doc, number - 1);
    fz_catch(ctx)
    {
        error = PdfEngineError::OperationFailed;
        return nullptr;
    }
    fz_drop_page(ctx, reinterpret_cast<fz_page*>(cachedPage));
    cachedPage = page;
    cachedNumber = number;
    return page;
}

bool PdfEngineDocument::selectPage(int number, int& error)
{
    pdf_page* page = loadPage(number, error);
    if (!page)
        return false;
    fz_rect bounds = fz_empty_rect;
    int rotation = 0;
    fz_try(ctx)
    {
        bounds = fz_bound_page(ctx, &page->super);
        rotation = pdf_to_int(ctx, pdf_dict_get_inheritable(ctx, page->obj, PDF_NAME(Rotate)));
    }
    fz_catch(ctx)
    {
        error = PdfEngineError::OperationFailed;
        return false;
    }
    // The bounds are of the page as shown; the size is reported before rotation.
    selected = number;
    selectedRotation = normalisedRotation(rotation);
    const bool sideways = selectedRotation == 90 || selectedRotation == 270;
    const double width = std::fmax(0.0, double(bounds.x1) - bounds.x0);
    const double height = std::fmax(0.0, double(bounds.y1) - bounds.y0);
    selectedWidth = sideways ? height : width;
    selectedHeight = sideways ? width : height;
    return true;
}

bool PdfEngineDocument::render(int number, double dpi, const PdfPixelBuffer* target, int& error)
{
    if (!target || !target->pixels || target->width <= 0 || target->height <= 0 || target->width > INT_MAX / 4
        || target->bytesPerLine < target->width * 4 || !std::isfinite(dpi) || dpi <= 0) {
        error = PdfEngineError::InvalidArgument;
        return false;
    }
    pdf_page* page = loadPage(number, error);
    if (!page)
        return false;

    fz_pixmap* pixmap = nullptr;
    fz_device* device = nullptr;
    fz_var(pixmap);
    fz_var(device);
    int failed = 0;
    fz_try(ctx)
    {
        const fz_rect bounds = fz_bound_page(ctx, &page->super);
        const double zoom = dpi / 72.0;
        const double pageWidth = double(bounds.x1) - bounds.x0;
        const double pageHeight = double(bounds.y1) - bounds.y0;
        // The caller sizes the target from the page size rounded to whole points, then to
        // pixels: within a point of the page at dpi, the page is stretched over the rounding so
        // it fills the target with no blank edge. A target that differs by more is drawn at dpi
        // as it is, clipped or with white beyond the page.
        double scaleX = zoom;
        double scaleY = zoom;
        const double tolerance = std::fmax(2.0, zoom);
        if (pageWidth > 0 && std::fabs(pageWidth * zoom - target->width) <= tolerance)
            scaleX = target->width / pageWidth;
        if (pageHeight > 0 && std::fabs(pageHeight * zoom - target->height) <= tolerance)
            scaleY = target->height / pageHeight;
        const fz_matrix ctm = fz_concat(fz_translate(-bounds.x0, -bounds.y0), fz_scale(float(scaleX), float(scaleY)));
        // The target's memory in MuPDF's B, G, R, A order: cleared to opaque white, every pixel
        // stays opaque, so the fourth byte is 255 as RGB32 images want it.
        pixmap = fz_new_pixmap_with_data(
            ctx, fz_device_bgr(ctx), target->width, target->height, nullptr, 1, target->bytesPerLine, target->pixels);
        fz_clear_pixmap_with_value(ctx, pixmap, 255);
        device = fz_new_draw_device(ctx, fz_identity, pixmap);
        fz_run_page(ctx, &page->super, device, ctm, nullptr);
        fz_close_device(ctx, device);
    }
    fz_always(ctx)
    {
        fz_drop_device(ctx, device);
        fz_drop_pixmap(ctx, pixmap);
    }
    fz_catch(ctx)
    {
        error = PdfEngineError::RenderFailed;
        failed = 1;
    }
    return !failed;
}

bool PdfEngineDocument::pageText(int options, std::u16string& text, int& error)
{
    if (options != 0 && options != 2) {
        error = PdfEngineError::InvalidArgument;
        return false;
    }
    if (!selected) {
        error = PdfEngineError::InvalidPage;
        return false;
    }
    pdf_page* page = loadPage(selected, error);
    if (!page)
        return false;
    fz_stext_page* textPage = nullptr;
    fz_var(textPage);
    fz_try(ctx)
    {
        fz_stext_options textOptions {};
        textPage = fz_new_stext_page_from_page(ctx, &page->super, &textOptions);
    }
    fz_catch(ctx)
    {
        error = PdfEngineError::OperationFailed;
        return false;
    }
    // The text page is plain data from here on: read it with no MuPDF call that could throw.
    try {
        text.clear();
        for (fz_stext_block* block = textPage->first_block; block; block = block->next) {
            if (block->type != FZ_STEXT_BLOCK_TEXT)
                continue;
            for (fz_stext_line* line = block->u.t.first_line; line; line = line->next) {
                if (!line->first_char)
                    continue;
                if (options == 2) {
                    float size = 0;
                    for (fz_stext_char* c = line->first_char; c; c = c->next)
                        size = std::fmax(size, c->size);
                    for (double value : { line->bbox.x0, line->bbox.y0, line->bbox.x1, line->bbox.y1, size }) {
                        text += pdfenginetext::formatNumber(value);
                        text += u',';
                    }
                }
                for (fz_stext_char* c = line->first_char; c; c = c->next)
                    appendCharacter(text, c->c);
                text += u'\n';
            }
        }
    } catch (...) {
        fz_drop_stext_page(ctx, textPage);
        throw;
    }
    fz_drop_stext_page(ctx, textPage);
    return true;
}

bool PdfEngineDocument::information(int key, std::u16string& text, int& error)
{
    if (key < 0 || key > 8) {
        error = PdfEngineError::InvalidArgument;
        return false;
    }
    const char* value = nullptr;
    int version = 0;
    fz_var(value);
    fz_var(version);
    fz_try(ctx)
    {
        if (key == 0)
            version = pdf_version(ctx, doc);
        else
            value = pdf_dict_get_text_string(
                ctx, pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Info)), infoKeyName(key));
    }
    fz_catch(ctx)
    {
        error = PdfEngineError::OperationFailed;
        return false;
    }
    if (key == 0) {
        const std::string number = std::to_string(version / 10) + "." + std::to_string(version % 10);
        text.assign(number.begin(), number.end());
    } else {
        text = pdfenginetext::fromUtf8(value);
    }
    return true;
}

const PdfEngineOutline& PdfEngineDocument::outline()
{
    if (!outlineTable.built())
        outlineTable.build(ctx, doc);
    return outlineTable;
}

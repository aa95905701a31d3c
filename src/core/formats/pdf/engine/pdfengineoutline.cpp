#include "pdfengineoutline.h"
#include "pdfenginetext.h"

#include <mupdf/pdf.h>

#include <unordered_set>

namespace {

// What one outline dictionary says, read inside MuPDF's error handling. Plain C data only:
// a MuPDF error unwinds with longjmp, which must not skip C++ destructors.
struct ItemFields {
    int number; // the object number, 0 for a direct dictionary
    const char* title; // owned by the document
    int page;
    pdf_obj* first;
    pdf_obj* next;
};

int destinationPage(fz_context* ctx, pdf_document* doc, pdf_obj* item)
{
    pdf_obj* dest = pdf_dict_get(ctx, item, PDF_NAME(Dest));
    if (!dest) {
        pdf_obj* action = pdf_dict_get(ctx, item, PDF_NAME(A));
        if (pdf_name_eq(ctx, pdf_dict_get(ctx, action, PDF_NAME(S)), PDF_NAME(GoTo)))
            dest = pdf_dict_get(ctx, action, PDF_NAME(D));
    }
    if (pdf_is_name(ctx, dest) || pdf_is_string(ctx, dest))
        dest = pdf_lookup_dest(ctx, doc, dest);
    if (pdf_is_dict(ctx, dest))
        dest = pdf_dict_get(ctx, dest, PDF_NAME(D));
    if (!pdf_is_array(ctx, dest))
        return 0;
    pdf_obj* target = pdf_array_get(ctx, dest, 0);
    const int count = pdf_count_pages(ctx, doc);
    int index = -1;
    if (pdf_is_int(ctx, target))
        index = pdf_to_int(ctx, target);
    else if (pdf_is_dict(ctx, target))
        index = pdf_lookup_page_number(ctx, doc, target);
    return index >= 0 && index < count ? index + 1 : 0;
}

bool readFields(fz_context* ctx, pdf_document* doc, pdf_obj* item, ItemFields* fields)
{
    int ok = 1;
    fz_var(ok);
    fz_try(ctx)
    {
        if (!pdf_is_dict(ctx, item)) {
            ok = 0;
        } else {
            fields->number = pdf_is_indirect(ctx, item) ? pdf_to_num(ctx, item) : 0;
            fields->title = pdf_dict_get_text_string(ctx, item, PDF_NAME(Title));
            fields->first = pdf_dict_get(ctx, item, PDF_NAME(First));
            fields->next = pdf_dict_get(ctx, item, PDF_NAME(Next));
            // A broken destination costs the item its page, not its place.
            fz_try(ctx) fields->page = destinationPage(ctx, doc, item);
            fz_catch(ctx) fields->page = 0;
        }
    }
    fz_catch(ctx) ok = 0;
    return ok != 0;
}

pdf_obj* firstTopLevelItem(fz_context* ctx, pdf_document* doc)
{
    pdf_obj* first = nullptr;
    fz_var(first);
    fz_try(ctx)
    {
        pdf_obj* root = pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Root));
        first = pdf_dict_get(ctx, pdf_dict_get(ctx, root, PDF_NAME(Outlines)), PDF_NAME(First));
    }
    fz_catch(ctx) first = nullptr;
    return first;
}

bool loadPageTree(fz_context* ctx, pdf_document* doc)
{
    int loaded = 1;
    fz_try(ctx) pdf_load_page_tree(ctx, doc);
    fz_catch(ctx) loaded = 0;
    return loaded != 0;
}

} // namespace

void PdfEngineOutline::build(fz_context* ctx, pdf_document* doc)
{
    items.clear();
    isBuilt = true;
    pdf_obj* top = firstTopLevelItem(ctx, doc);
    if (!top)
        return;
    // The page tree map turns each destination's page lookup from a walk into a search.
    const bool pageTree = loadPageTree(ctx, doc);

    struct Chain {
        pdf_obj* first;
        int parent;
        int depth;
    };
    std::vector<Chain> pending { { top, 0, 1 } };
    std::unordered_set<int> seen;
    while (!pending.empty() && int(items.size()) < maxItems) {
        const Chain chain = pending.back();
        pending.pop_back();
        int previous = 0;
        for (pdf_obj* object = chain.first; object && int(items.size()) < maxItems;) {
            ItemFields fields {};
            if (!readFields(ctx, doc, object, &fields))
                break;
            if (fields.number > 0 && !seen.insert(fields.number).second)
                break;
            PdfEngineOutlineItem item;
            item.parent = chain.parent;
            item.prev = previous;
            item.page = fields.page;
            item.title = pdfenginetext::fromUtf8(fields.title);
            items.push_back(std::move(item));
            const int id = int(items.size());
            if (previous)
                items[size_t(previous - 1)].next = id;
            else if (chain.parent)
                items[size_t(chain.parent - 1)].firstChild = id;
            if (fields.first && chain.depth < maxDepth)
                pending.push_back({ fields.first, id, chain.depth + 1 });
            previous = id;
            object = fields.next;
        }
    }
    if (pageTree)
        pdf_drop_page_tree(ctx, doc);
}

const PdfEngineOutlineItem* PdfEngineOutline::item(int id) const
{
    return id >= 1 && id <= int(items.size()) ? &items[size_t(id - 1)] : nullptr;
}

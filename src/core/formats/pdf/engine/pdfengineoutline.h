#pragma once

#include <string>
#include <vector>

typedef struct fz_context fz_context;
typedef struct pdf_document pdf_document;

// A document's outline, read once into a flat table. Items are numbered from 1 in the order
// they were read; 0 means "none" in every link.
struct PdfEngineOutlineItem {
    int parent = 0;
    int firstChild = 0;
    int next = 0;
    int prev = 0;
    int page = 0; // 1-based target page; 0 for an item without a destination in this document
    std::u16string title;
};

class PdfEngineOutline {
public:
    // Hostile files can nest or chain items without end; what lies beyond these is left out.
    static constexpr int maxDepth = 64;
    static constexpr int maxItems = 1000000;

    // Reads the outline; items that cannot be read end their sibling chain. Walks siblings in a
    // loop and levels through an explicit stack, so neither long chains nor deep nesting use
    // the call stack, and an item reached twice (a cycle) ends the chain it was reached from.
    void build(fz_context* ctx, pdf_document* doc);

    bool built() const { return isBuilt; }
    int first() const { return items.empty() ? 0 : 1; }
    int count() const { return int(items.size()); }
    // nullptr for an id that names no item.
    const PdfEngineOutlineItem* item(int id) const;

private:
    std::vector<PdfEngineOutlineItem> items;
    bool isBuilt = false;
};

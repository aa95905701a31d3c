#pragma once

#include "formats/booklink.h"
#include "readingitemlistmodel.h"

// The hits of the last search in the open book, one column: the page of the hit's link. The
// whole hit is in the user role.
class BookSearchModel : public ReadingItemListModel<SearchItem> {
    Q_OBJECT
public:
    explicit BookSearchModel(QObject* parent = nullptr);

    void setSearchItems(const QList<SearchItem>& items);
    // The hits' pages were written into their shared links: every row's page is reported changed.
    void updatePages();

protected:
    QVariant cell(const SearchItem& item, int column) const override;
    bool itemAsToolTip() const override { return false; }
};

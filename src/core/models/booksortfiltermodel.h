#pragma once

#include <QCollator>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QSortFilterProxyModel>

// The library page's view of the book model: the books of the current side-bar category
// (Enums::BookCategory: all books, recently read, favourites, the trash, one format, one
// folder), narrowed by the search text on title, author and file name, and sorted with a
// locale-aware comparison that ignores punctuation. GUI thread only.
class BookSortFilterModel : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit BookSortFilterModel(QObject* parent = nullptr);

    void setSourceModel(QAbstractItemModel* model) override;

    int filterCategory() const { return m_category; }
    // The settings page (Enums::AppSettings) is no category and is ignored. Entering recently
    // read sorts by last view, newest first; leaving it brings the user's sort back.
    void setFilterCategory(int category);

    QString searchText() const { return m_searchText; }
    // Trimmed, case-insensitive. A book matches when its title, author or file name holds the
    // text as typed, or matches it as a regular expression when the text is a valid one.
    void setSearchText(const QString& text);

    // Remembers the user's sort, except a sort by last view (the recently-read category's own).
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // The user's sort, as saved: applied now unless the recently-read category imposes its own,
    // and brought back when the category is left.
    void setUserSort(int column, Qt::SortOrder order);
    int userSortColumn() const { return m_sortColumn; }
    Qt::SortOrder userSortOrder() const { return m_sortOrder; }

signals:
    void filterCategoryChanged(int value);
    void searchTextChanged(QString value);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    bool inCategory(const QModelIndex& book) const;
    bool matchesSearch(const QModelIndex& book) const;
    // The ids shown by the recently-read category: of the books outside the trash read within the
    // limit's time, the limit's count read last.
    const QSet<int>& recentlyRead() const;
    void onSourceChanged();

    // A row's value under the sort role, in the form it is compared in: text without
    // punctuation, or a number (dates as milliseconds).
    struct SortValue {
        enum Kind { Invalid, Text, Number, Other } kind = Invalid;
        qint64 number = 0;
        QString text;
    };
    SortValue sortValue(const QModelIndex& index) const;
    static QString withoutPunctuation(const QString& text);
    void clearSortValues();

    int m_category;
    QString m_searchText;
    QRegularExpression m_search;
    bool m_searchIsPattern = false; // the text is a valid pattern too
    int m_sortColumn;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
    // Text columns compare by the user's language, ignoring case.
    mutable QCollator m_collator;
    // Sort values of the source rows for one column and role, so that a sort reads each row once
    // (dates, file sizes and folder names are costly to read); dropped on any change of the source.
    mutable QHash<int, SortValue> m_sortValues;
    mutable int m_sortValuesColumn = -1;
    mutable int m_sortValuesRole = -1;
    mutable QSet<int> m_recentIds;
    mutable bool m_recentValid = false;
};

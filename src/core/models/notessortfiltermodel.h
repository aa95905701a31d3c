#pragma once

#include <QSortFilterProxyModel>

// The notes box's view of the notes: the notes of one colour, or of all, whose marked text,
// comment, date or page label match the filter text (the proxy's filter expression, matched
// ignoring case).
class NotesSortFilterModel : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit NotesSortFilterModel(QObject* parent = nullptr);

    int colorFilter() const { return m_colorFilter; }
    // A NoteItem::NoteColor; 0 shows every colour.
    void setColorFilter(int color);
    // A colour is chosen or there is a filter text.
    bool isFilterActive() const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    bool hasFilterText() const;
    bool matchesFilterText(const QString& text) const;

    int m_colorFilter = 0;
};

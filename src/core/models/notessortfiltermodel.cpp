#include "notessortfiltermodel.h"

#include "displayformats.h"
#include "noteitem.h"

#include <QRegExp>
#include <QRegularExpression>

NotesSortFilterModel::NotesSortFilterModel(QObject* parent)
    : QSortFilterProxyModel(parent)
{
}

void NotesSortFilterModel::setColorFilter(int color)
{
    if (m_colorFilter == color)
        return;
    m_colorFilter = color;
    invalidateFilter();
}

bool NotesSortFilterModel::isFilterActive() const { return m_colorFilter != 0 || hasFilterText(); }

// The filter text may be set either as a regular expression or as a fixed string or wildcard,
// which Qt keeps in its older expression type.
bool NotesSortFilterModel::hasFilterText() const
{
    return !filterRegularExpression().pattern().isEmpty() || !filterRegExp().pattern().isEmpty();
}

bool NotesSortFilterModel::matchesFilterText(const QString& text) const
{
    if (!filterRegularExpression().pattern().isEmpty()) {
        QRegularExpression expression = filterRegularExpression();
        expression.setPatternOptions(expression.patternOptions() | QRegularExpression::CaseInsensitiveOption);
        return expression.match(text).hasMatch();
    }
    QRegExp expression = filterRegExp();
    expression.setCaseSensitivity(Qt::CaseInsensitive);
    return expression.indexIn(text) >= 0;
}

bool NotesSortFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (!isFilterActive())
        return true;
    const QAbstractItemModel* source = sourceModel();
    if (!source)
        return false;
    const NoteItem note = source->index(sourceRow, 0, sourceParent).data(Qt::UserRole).value<NoteItem>();
    if (m_colorFilter != 0 && int(note.color) != m_colorFilter)
        return false;
    if (!hasFilterText())
        return true;
    return matchesFilterText(note.context) || matchesFilterText(note.note)
        || matchesFilterText(formatDateTime(note.date))
        || (note.link && matchesFilterText(formatPageNumber(note.link->page)));
}

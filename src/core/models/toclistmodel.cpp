#include "toclistmodel.h"

#include <algorithm>

TocListModel::TocListModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

void TocListModel::setSourceModel(QAbstractItemModel* source)
{
    if (source == m_source)
        return;
    beginResetModel();
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    m_expanded.clear();
    m_rows.clear();
    if (source) {
        // The tree only resets and reports new pages; any other change of its shape is taken as a reset.
        connect(source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginSourceChange(); });
        connect(source, &QAbstractItemModel::modelReset, this, [this] {
            m_expanded.clear();
            endSourceChange();
        });
        connect(source, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] { beginSourceChange(); });
        connect(source, &QAbstractItemModel::rowsInserted, this, [this] { endSourceChange(); });
        connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] { beginSourceChange(); });
        connect(source, &QAbstractItemModel::rowsRemoved, this, [this] { endSourceChange(); });
        connect(source, &QAbstractItemModel::rowsAboutToBeMoved, this, [this] { beginSourceChange(); });
        connect(source, &QAbstractItemModel::rowsMoved, this, [this] { endSourceChange(); });
        connect(source, &QAbstractItemModel::layoutAboutToBeChanged, this, [this] { beginSourceChange(); });
        connect(source, &QAbstractItemModel::layoutChanged, this, [this] { endSourceChange(); });
        connect(source, &QAbstractItemModel::dataChanged, this, &TocListModel::onSourceDataChanged);
        connect(source, &QObject::destroyed, this, [this] {
            beginResetModel();
            m_rows.clear();
            m_expanded.clear();
            endResetModel();
        });
        appendOpenChildren(QModelIndex(), 0, m_rows);
    }
    endResetModel();
}

void TocListModel::beginSourceChange()
{
    if (m_changing)
        return;
    m_changing = true;
    beginResetModel();
    // The rows' indexes may no longer hold once the tree changes.
    m_rows.clear();
}

void TocListModel::endSourceChange()
{
    if (!m_changing)
        return;
    m_expanded.erase(std::remove_if(m_expanded.begin(), m_expanded.end(),
                         [](const QPersistentModelIndex& index) { return !index.isValid(); }),
        m_expanded.end());
    if (m_source)
        appendOpenChildren(QModelIndex(), 0, m_rows);
    m_changing = false;
    endResetModel();
}

QModelIndex TocListModel::mapToSource(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this || index.row() >= int(m_rows.size()))
        return QModelIndex();
    return m_rows[size_t(index.row())].source;
}

int TocListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(m_rows.size()); }

QVariant TocListModel::data(const QModelIndex& index, int role) const
{
    const QModelIndex source = mapToSource(index);
    if (!source.isValid())
        return QVariant();
    switch (role) {
    case DepthRole:
        return m_rows[size_t(index.row())].depth;
    case HasChildrenRole:
        return m_source->rowCount(source) > 0;
    case ExpandedRole:
        return isExpanded(source);
    default:
        return source.data(role);
    }
}

Qt::ItemFlags TocListModel::flags(const QModelIndex& index) const
{
    const QModelIndex source = mapToSource(index);
    return source.isValid() ? m_source->flags(source) : Qt::NoItemFlags;
}

bool TocListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != ExpandedRole || !mapToSource(index).isValid())
        return false;
    setExpanded(index.row(), value.toBool());
    return true;
}

bool TocListModel::isExpanded(const QModelIndex& source) const
{
    return std::any_of(m_expanded.cbegin(), m_expanded.cend(),
        [&source](const QPersistentModelIndex& expanded) { return expanded == source; });
}

// The tree is as deep as its cache file allowed, which is bounded.
void TocListModel::appendOpenChildren(const QModelIndex& parent, int depth, std::vector<Row>& rows) const
{
    const int count = m_source->rowCount(parent);
    rows.reserve(rows.size() + size_t(count));
    for (int row = 0; row < count; ++row) {
        const QModelIndex child = m_source->index(row, 0, parent);
        rows.push_back({ child, depth });
        if (isExpanded(child))
            appendOpenChildren(child, depth + 1, rows);
    }
}

void TocListModel::setExpanded(int row, bool expanded)
{
    const Row entry = m_rows[size_t(row)];
    if (expanded == isExpanded(entry.source) || m_source->rowCount(entry.source) == 0)
        return;
    if (expanded) {
        m_expanded.append(entry.source);
        std::vector<Row> open;
        appendOpenChildren(entry.source, entry.depth + 1, open);
        beginInsertRows(QModelIndex(), row + 1, row + int(open.size()));
        m_rows.insert(m_rows.begin() + row + 1, open.begin(), open.end());
        endInsertRows();
    } else {
        const int last = lastDescendant(row);
        m_expanded.removeAll(QPersistentModelIndex(entry.source));
        beginRemoveRows(QModelIndex(), row + 1, last);
        m_rows.erase(m_rows.begin() + row + 1, m_rows.begin() + last + 1);
        endRemoveRows();
    }
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed, { ExpandedRole });
}

int TocListModel::lastDescendant(int row) const
{
    const int depth = m_rows[size_t(row)].depth;
    int last = row;
    while (last + 1 < int(m_rows.size()) && m_rows[size_t(last + 1)].depth > depth)
        ++last;
    return last;
}

// New pages arrive as one change per level of the tree: each becomes one change of the rows that
// show that level's entries (with whatever lies open between them: a change of more rows than
// changed costs nothing there), or none while they are closed.
void TocListModel::onSourceDataChanged(const QModelIndex& topLeft, const QModelIndex&, const QVector<int>& roles)
{
    if (m_changing || m_rows.empty() || topLeft.column() > 0)
        return;
    const QModelIndex parent = topLeft.parent();
    int first = 0;
    int last = int(m_rows.size()) - 1;
    if (parent.isValid()) {
        for (QModelIndex above = parent; above.isValid(); above = above.parent()) {
            if (!isExpanded(above))
                return;
        }
        const auto found
            = std::find_if(m_rows.cbegin(), m_rows.cend(), [&parent](const Row& row) { return row.source == parent; });
        if (found == m_rows.cend())
            return;
        const int parentRow = int(found - m_rows.cbegin());
        first = parentRow + 1;
        last = lastDescendant(parentRow);
    }
    if (first <= last)
        emit dataChanged(index(first), index(last), roles);
}

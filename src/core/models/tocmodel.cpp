#include "tocmodel.h"

namespace {

// Entries are handed out whole as tooltips; as text an entry reads as its title.
void registerTocEntryText()
{
    if (!QMetaType::hasRegisteredConverterFunction<BookLinkItem, QString>())
        QMetaType::registerConverter<BookLinkItem, QString>([](const BookLinkItem& item) { return item.title; });
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(registerTocEntryText)

TocModel::TocModel(QObject* parent)
    : QAbstractItemModel(parent)
{
}

TocModel::~TocModel() = default;

void TocModel::setToc(const QList<TocPoint>& points)
{
    beginResetModel();
    m_root = std::make_unique<Node>();
    addNodes(m_root.get(), points);
    endResetModel();
}

// The contents tree is as deep as its cache file allowed when it was read, which is bounded.
void TocModel::addNodes(Node* parent, const QList<TocPoint>& points)
{
    parent->children.reserve(parent->children.size() + size_t(points.size()));
    for (const TocPoint& point : points) {
        auto node = std::make_unique<Node>();
        node->item.link = point.link;
        node->item.title = point.title;
        node->item.id = point.id;
        node->parent = parent;
        node->row = int(parent->children.size());
        Node* added = node.get();
        parent->children.push_back(std::move(node));
        addNodes(added, point.children);
    }
}

void TocModel::updatePages() { updatePages(QModelIndex()); }

void TocModel::updatePages(const QModelIndex& parent)
{
    const int rows = rowCount(parent);
    if (rows == 0)
        return;
    emit dataChanged(index(0, TitleColumn, parent), index(rows - 1, TitleColumn, parent), { Qt::DisplayRole });
    for (int row = 0; row < rows; ++row)
        updatePages(index(row, TitleColumn, parent));
}

TocModel::Node* TocModel::nodeOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : m_root.get();
}

QModelIndex TocModel::index(int row, int column, const QModelIndex& parent) const
{
    if (!m_root || row < 0 || column < 0 || column >= ColumnCount || (parent.isValid() && parent.column() != 0))
        return QModelIndex();
    const Node* node = nodeOf(parent);
    if (row >= int(node->children.size()))
        return QModelIndex();
    return createIndex(row, column, node->children[size_t(row)].get());
}

QModelIndex TocModel::parent(const QModelIndex& index) const
{
    if (!index.isValid())
        return QModelIndex();
    Node* parentNode = nodeOf(index)->parent;
    if (!parentNode || parentNode == m_root.get() || !parentNode->parent)
        return QModelIndex();
    return createIndex(parentNode->row, 0, parentNode);
}

int TocModel::rowCount(const QModelIndex& parent) const
{
    if (!m_root || (parent.isValid() && parent.column() != 0))
        return 0;
    return int(nodeOf(parent)->children.size());
}

int TocModel::columnCount(const QModelIndex& parent) const
{
    return !parent.isValid() || parent.column() == 0 ? int(ColumnCount) : 0;
}

QVariant TocModel::data(const QModelIndex& index, int role) const
{
    if (!m_root || !index.isValid())
        return QVariant();
    const BookLinkItem& item = nodeOf(index)->item;
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == TitleColumn)
            return item.title;
        if (index.column() == PageColumn)
            return item.link ? item.link->page : -1;
        return QVariant();
    case Qt::UserRole:
    case Qt::ToolTipRole:
        return QVariant::fromValue(item);
    default:
        return QVariant();
    }
}

Qt::ItemFlags TocModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // An entry that leads nowhere (no chapter, and no page either) is shown disabled. A page book's
    // entries name only their page.
    const BookLinkPtr& link = nodeOf(index)->item.link;
    const bool leads = link && (!link->source.isEmpty() || link->page > 0);
    return leads ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

QVariant TocModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        if (section == TitleColumn)
            return QStringLiteral("Title");
        if (section == PageColumn)
            return QStringLiteral("Page");
    }
    return QAbstractItemModel::headerData(section, orientation, role);
}

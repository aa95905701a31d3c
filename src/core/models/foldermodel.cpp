#include "foldermodel.h"

#include "bookprovider.h"
#include "dragdata.h"

#include <QCoreApplication>
#include <QMetaEnum>
#include <QMimeData>
#include <QtDebug>

FolderModel::FolderModel(QObject* parent)
    : QAbstractTableModel(parent)
{
    qRegisterMetaType<CategoryDto>("CategoryDto");
}

int FolderModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_folders.size(); }

int FolderModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant FolderModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_folders.size())
        return QVariant();
    const CategoryDto& folder = m_folders.at(index.row());
    if (role == Qt::UserRole)
        return QVariant::fromValue(folder);
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return QVariant();
    switch (index.column()) {
    case TitleColumn:
        return folder.title.trimmed();
    case BookCountColumn:
        return folder.book_count;
    case IdColumn:
        return folder.id;
    case ParentIdColumn:
        return folder.parent_id;
    default:
        return QVariant();
    }
}

QVariant FolderModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const titles[ColumnCount] = { "Title", "BookCount", "Id", "ParentId" };
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return QString::fromLatin1(titles[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags FolderModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (index.isValid())
        result |= Qt::ItemIsDropEnabled;
    return result;
}

QStringList FolderModel::mimeTypes() const { return { bookIdsMimeType() }; }

bool FolderModel::dropMimeData(
    const QMimeData* data, Qt::DropAction action, int row, int column, const QModelIndex& parent)
{
    Q_UNUSED(column)
    qDebug() << "DROP to folder" << QMetaEnum::fromType<Qt::DropAction>().valueToKey(action) << "row" << row
             << (data ? data->formats() : QStringList());
    if (action == Qt::IgnoreAction)
        return true;
    if (!data || !data->hasFormat(bookIdsMimeType()))
        return false;
    const QList<int> bookIds = bookIdsFromMimeData(data);
    if (bookIds.isEmpty())
        return false;

    const int target = row != -1 ? row : (parent.isValid() ? parent.row() : m_folders.size());
    // A drop past the last row files nothing.
    if (target < 0 || target >= m_folders.size())
        return true;
    const int folderId = m_folders.at(target).id;
    BookProvider* db = BookProvider::instance();
    QList<int> filed;
    for (int bookId : bookIds) {
        if (db->findCategoryByBook(bookId) == folderId)
            continue;
        // Drop data may come from anywhere: an id that is no library book would leave a binding
        // to nothing behind.
        if (db->bookById(bookId).id < 0) {
            qWarning() << "Dropped book" << bookId << "is not in the library";
            continue;
        }
        // One statement replaces the book's earlier folder, if any.
        if (db->addBookToCategory(bookId, folderId))
            filed.append(bookId);
    }
    if (!filed.isEmpty()) {
        emit membershipChanged();
        syncCounts();
        emit booksFiled(filed);
    }
    return true;
}

void FolderModel::reload()
{
    emit membershipChanged();
    beginResetModel();
    m_folders = BookProvider::instance()->allCategories();
    endResetModel();
}

QModelIndex FolderModel::indexById(int id) const
{
    const int row = rowOf(id);
    return row < 0 ? QModelIndex() : index(row, 0);
}

void FolderModel::createCategory()
{
    const QString base = QCoreApplication::translate("MainWindow_SideBar", "New category");
    auto taken = [this](const QString& title) {
        for (const CategoryDto& folder : qAsConst(m_folders)) {
            if (folder.title == title)
                return true;
        }
        return false;
    };
    QString title = base;
    for (int number = 1; taken(title); ++number)
        title = QStringLiteral("%1 %2").arg(base).arg(number);

    const int id = BookProvider::instance()->addCategory(title, 0);
    if (id == -1)
        return;
    insertFolder(id, title);
}

int FolderModel::findOrAddCategory(const QString& title)
{
    // A folder without a name could not be told apart in the side bar, nor renamed back.
    if (title.trimmed().isEmpty())
        return -1;
    BookProvider* db = BookProvider::instance();
    const QList<CategoryDto> stored = db->allCategories();
    for (const CategoryDto& folder : stored) {
        if (folder.title == title)
            return folder.id;
    }
    const int id = db->addCategory(title, 0);
    if (id == -1)
        return -1;
    insertFolder(id, title);
    return id;
}

bool FolderModel::addBookToCategory(int bookId, int folderId)
{
    if (rowOf(folderId) < 0)
        return false;
    BookProvider* db = BookProvider::instance();
    if (db->bookById(bookId).id < 0) {
        qWarning() << "Book" << bookId << "is not in the library";
        return false;
    }
    if (!db->addBookToCategory(bookId, folderId))
        return false;
    emit membershipChanged();
    syncCounts();
    return true;
}

bool FolderModel::removeBookFromCategory(int bookId, int folderId)
{
    if (rowOf(folderId) < 0)
        return false;
    if (!BookProvider::instance()->removeFromCategory(bookId, folderId))
        return false;
    emit membershipChanged();
    syncCounts();
    return true;
}

void FolderModel::removeCategory(int id)
{
    const int row = rowOf(id);
    if (row < 0 || !BookProvider::instance()->removeCategory(id))
        return;
    emit membershipChanged();
    beginRemoveRows(QModelIndex(), row, row);
    m_folders.removeAt(row);
    endRemoveRows();
}

void FolderModel::renameCategory(int id, const QString& title)
{
    const int row = rowOf(id);
    if (row < 0 || m_folders.at(row).title == title)
        return;
    if (!BookProvider::instance()->renameCategory(id, title))
        return;
    m_folders[row].title = title;
    refreshRow(row);

    // The place among the other rows: before the first title that sorts after the new one.
    int place = 0;
    for (int other = 0; other < m_folders.size(); ++other) {
        if (other == row)
            continue;
        if (m_folders.at(other).title.compare(title, Qt::CaseSensitive) > 0)
            break;
        ++place;
    }
    if (place == row)
        return;
    beginMoveRows(QModelIndex(), row, row, QModelIndex(), place > row ? place + 1 : place);
    m_folders.move(row, place);
    endMoveRows();
}

int FolderModel::rowOf(int id) const
{
    for (int row = 0; row < m_folders.size(); ++row) {
        if (m_folders.at(row).id == id)
            return row;
    }
    return -1;
}

void FolderModel::insertFolder(int id, const QString& title)
{
    CategoryDto folder;
    folder.id = id;
    folder.parent_id = 0;
    folder.title = title;
    beginInsertRows(QModelIndex(), 0, 0);
    m_folders.prepend(folder);
    endInsertRows();
}

void FolderModel::refreshRow(int row)
{
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1), { Qt::DisplayRole });
}

void FolderModel::syncCounts()
{
    const QList<CategoryDto> stored = BookProvider::instance()->allCategories();
    for (const CategoryDto& folder : stored) {
        const int row = rowOf(folder.id);
        if (row < 0 || m_folders.at(row).book_count == folder.book_count)
            continue;
        m_folders[row].book_count = folder.book_count;
        refreshRow(row);
    }
}

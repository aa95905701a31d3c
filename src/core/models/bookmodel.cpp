#include "bookmodel.h"

#include "appdirs.h"
#include "bookprovider.h"
#include "dragdata.h"
#include "enums.h"
#include "foldermodel.h"
#include "formats/bookformat.h"
#include "import/itemstatus.h"
#include "readingstatefile.h"
#include "settingsprovider.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QSet>
#include <QtDebug>

#include <algorithm>
#include <iterator>

namespace {

const int kDescriptionKey = 6; // metadata key of the book's description

// The role each column shows.
const int kColumnRoles[BookModel::ColumnCount] = {
    BookModel::TitleRole,
    BookModel::AuthorRole,
    BookModel::DateAddedRole,
    BookModel::NotesCountRole,
    BookModel::ProgressRole,
    BookModel::LastViewRole,
    BookModel::FormatNameRole,
    BookModel::CategoryNameRole,
    BookModel::FileSizeRole,
    BookModel::FilePathRole,
};

BookProvider* db() { return BookProvider::instance(); }

// The book's own cover file and data folder go with its record. Both are named after the file's
// path, so they stay while a book outside the trash (the same file added again) still uses it.
void removeBookFiles(const QStringList& paths)
{
    QStringList removable;
    for (const QString& path : paths) {
        if (path.isEmpty() || db()->bookByPath(path).id != -1)
            continue;
        const QString cover = coverFilePath(path);
        if (QFile::exists(cover) && !QFile::remove(cover))
            qWarning() << "Cannot remove the cover file" << cover;
        removable.append(path);
    }
    removeBookDataDirs(removable);
}

// What reading a book made for the library (its data folder and cover) goes when the library refused
// its row, unless a row in the trash uses them or the folder keeps a reading state of earlier days.
void removeRefusedBookFiles(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    const QList<QString> trashed = db()->trashedBookPaths();
    QStringList removable;
    for (const QString& path : paths) {
        if (!trashed.contains(path) && !QFileInfo::exists(ReadingStateFile::filePath(bookDataDir(path))))
            removable << path;
    }
    removeBookFiles(removable);
}

} // namespace

BookModel::BookModel(QObject* parent)
    : QAbstractTableModel(parent)
{
    qRegisterMetaType<BookDto>("BookDto");
    // Every change of the rows is told by one of these, before any view or count reader hears of it.
    const auto forgetCounts = [this] { m_countsValid = false; };
    connect(this, &QAbstractItemModel::modelReset, this, forgetCounts);
    connect(this, &QAbstractItemModel::rowsRemoved, this, forgetCounts);
    connect(this, &QAbstractItemModel::rowsMoved, this, forgetCounts);
    connect(this, &QAbstractItemModel::layoutChanged, this, forgetCounts);
    connect(this, &QAbstractItemModel::dataChanged, this, forgetCounts);
    connect(this, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
        if (m_countsValid)
            countRows(first, last);
    });
}

void BookModel::setFolderModel(FolderModel* folders)
{
    if (m_folders)
        disconnect(m_folders, nullptr, this, nullptr);
    m_folders = folders;
    forgetFolders();
    // A folder's books as shown by a filtered view change with a drop on the folder.
    if (folders) {
        connect(folders, &FolderModel::membershipChanged, this, &BookModel::forgetFolders);
        connect(folders, &FolderModel::booksFiled, this, [this](const QList<int>& bookIds) {
            for (int id : bookIds) {
                const QModelIndex index = indexById(id);
                if (index.isValid())
                    refreshRow(index.row());
            }
        });
    }
}

int BookModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_books.size(); }

int BookModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant BookModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_books.size())
        return QVariant();
    if (role == Qt::DisplayRole)
        return index.column() < ColumnCount ? roleData(index.row(), kColumnRoles[index.column()]) : QVariant();
    return roleData(index.row(), role);
}

QVariant BookModel::roleData(int row, int role) const
{
    const BookDto& book = m_books.at(row);
    switch (role) {
    case IdRole:
        return book.id;
    case BookRole:
        return QVariant::fromValue(book);
    case TitleRole: {
        const QString title = book.title.trimmed();
        return title.isEmpty() ? tr("Unknown", "The title of the book is empty") : title;
    }
    case AuthorRole: {
        const QString author = book.author.trimmed();
        return author.isEmpty() ? tr("Unknown", "The author of the book is empty") : author;
    }
    case CoverRole:
        return book.cover;
    case DateAddedRole:
        return QDateTime::fromSecsSinceEpoch(book.time_added);
    case NotesCountRole:
        return book.notes_count;
    case FormatRole:
        return book.format;
    case FormatNameRole:
        return book.format >= BookFormat::Epub && book.format <= BookFormat::SevenZ ? bookFormatName(book.format)
                                                                                    : QString();
    case DeletedRole:
        return book.is_deleted == 1;
    case FavoriteRole:
        return book.is_favorite == 1;
    case DescriptionRole:
        return db()->getMetaData(book.id, kDescriptionKey);
    case FilePathRole:
        return book.full_path.isEmpty() ? QString()
                                        : QDir::toNativeSeparators(QFileInfo(book.full_path).absoluteFilePath());
    case FileNameRole:
        return QFileInfo(book.full_path).fileName();
    case LastViewRole:
        return book.time_last_view == 0 ? QVariant() : QVariant(QDateTime::fromSecsSinceEpoch(book.time_last_view));
    case ProgressRole:
        return book.max_position;
    case CategoryIdRole:
        return folderOf(book.id);
    case CategoryNameRole: {
        const int folderId = folderOf(book.id);
        if (folderId == 0 || !m_folders)
            return QString();
        return m_folders->indexById(folderId).data(Qt::DisplayRole).toString();
    }
    case FileSizeRole: {
        const QFileInfo info(book.full_path);
        return info.isFile() ? info.size() : qint64(0);
    }
    case RowModuloRole:
        // From the book, not its row: a book keeps its placeholder colour from start to start.
        return int(quint32(book.id) % 10u);
    case UserCoverRole:
        return book.use_user_cover;
    default:
        return QVariant();
    }
}

QVariant BookModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case NameColumn:
        return tr("Title");
    case AuthorColumn:
        return tr("Author");
    case DateAddedColumn:
        return tr("Date");
    case NotesColumn:
        return tr("Notes");
    case ProgressColumn:
        return tr("Progress");
    case LastViewColumn:
        return QStringLiteral("LastView");
    case FormatColumn:
        return QStringLiteral("Format");
    case CategoryNameColumn:
        return QStringLiteral("Category");
    case FileSizeColumn:
        return QStringLiteral("FileSize");
    case FilePathColumn:
        return QStringLiteral("FilePath");
    default:
        return QVariant();
    }
}

Qt::ItemFlags BookModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (index.isValid() && index.row() < m_books.size() && m_books.at(index.row()).is_deleted != 1)
        result |= Qt::ItemIsDragEnabled;
    return result;
}

QStringList BookModel::mimeTypes() const { return { bookIdsMimeType() }; }

QMimeData* BookModel::mimeData(const QModelIndexList& indexes) const
{
    QMimeData* mime = bookIdsToMimeData(indexes);
    QStringList ids;
    for (int id : bookIdsFromMimeData(mime))
        ids.append(QString::number(id));
    qDebug() << Q_FUNC_INFO << ids.join(QLatin1Char('|'));
    return mime;
}

bool BookModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.row() >= m_books.size())
        return false;
    const int row = index.row();
    switch (role) {
    case Enums::Open:
        return openBook(row);
    case Enums::ToFavorite:
    case Enums::FromFavorite:
        return setFavorite(row, role == Enums::ToFavorite);
    case Enums::ToTrash:
    case Enums::RestoreFromTrash:
        return setDeleted(row, role == Enums::ToTrash);
    case Enums::DeleteFromLibrary:
        return deleteFromLibrary(row);
    case Enums::Properties:
        emit showPropertiesClicked(index);
        return true;
    case Enums::MoveToFolder:
        return moveToFolder(row, value.toInt());
    case Enums::RemoveFromFolder:
        return removeFromFolder(row);
    case Enums::UpdateItem: {
        const BookDto book = value.canConvert<BookDto>() ? value.value<BookDto>() : BookDto();
        // The action is on this row's book: a record of another book is refused.
        if (book.id != m_books.at(row).id) {
            qWarning() << "Update of row" << row << "with the record of book" << book.id << "refused";
            return false;
        }
        const bool titleTyped = book.title != m_books.at(row).title;
        const bool authorTyped = book.author != m_books.at(row).author;
        if (!storeRecord(row, book))
            return false;
        bool stored = true;
        if (titleTyped)
            stored = db()->setMetaData(book.id, BookMetaUserTitle, book.title) && stored;
        if (authorTyped)
            stored = db()->setMetaData(book.id, BookMetaUserAuthor, book.author) && stored;
        return stored;
    }
    default:
        return false;
    }
}

int BookModel::addBook(const BookDto& book)
{
    const int id = db()->add(book);
    // 0: stored, but the new id could not be read; a row without its id would act on nothing.
    if (id <= 0) {
        qWarning() << Q_FUNC_INFO << "Cannot add the book" << book.full_path << db()->lastError();
        if (id < 0)
            removeRefusedBookFiles({ book.full_path });
        return id;
    }
    if (m_rowOf.contains(id))
        return id; // the library held the path already
    const int row = m_books.size();
    beginInsertRows(QModelIndex(), row, row);
    m_books.append(book);
    m_books.last().id = id;
    m_rowOf.insert(id, row);
    endInsertRows();
    return id;
}

QList<int> BookModel::addBooks(const QList<BookDto>& books, int handOverAct)
{
    QList<int> ids;
    db()->addAll(books, ids, handOverAct);
    QList<BookDto> stored;
    QStringList refused;
    for (int i = 0; i < books.size(); ++i) {
        if (ids.at(i) <= 0) {
            qWarning() << Q_FUNC_INFO << "Cannot add the book" << books.at(i).full_path << db()->lastError();
            if (ids.at(i) < 0)
                refused << books.at(i).full_path;
            continue;
        }
        stored.append(books.at(i));
        stored.last().id = ids.at(i);
    }
    removeRefusedBookFiles(refused);
    if (stored.isEmpty())
        return ids;
    const int first = m_books.size();
    beginInsertRows(QModelIndex(), first, first + stored.size() - 1);
    for (const BookDto& book : qAsConst(stored)) {
        m_rowOf.insert(book.id, m_books.size());
        m_books.append(book);
    }
    endInsertRows();
    return ids;
}

BookDto BookModel::bookById(int id) const { return db()->bookById(id); }

int BookModel::findCategoryByBook(int id) const { return folderOf(id); }

int BookModel::folderOf(int id) const
{
    // Only a folder model tells when books change folders.
    if (!m_folders)
        return db()->findCategoryByBook(id);
    if (!m_folderOfValid)
        m_folderOfValid = db()->allBookFolders(m_folderOf);
    return m_folderOfValid ? m_folderOf.value(id, 0) : db()->findCategoryByBook(id);
}

QModelIndex BookModel::indexById(int id) const
{
    const auto it = m_rowOf.constFind(id);
    return it == m_rowOf.constEnd() ? QModelIndex() : index(*it, 0);
}

// The counts are taken from the rows, which hold what the library stored: asked of the database,
// every count reads the whole table, a dozen times at each change while books are added to a
// large library. They are kept between changes, and books appended are counted on their own.
void BookModel::countRows(int first, int last) const
{
    for (int row = first; row <= last; ++row) {
        const BookDto& book = m_books.at(row);
        if (book.is_deleted == 1)
            ++m_counts.deleted_count;
        if (book.is_deleted != 0)
            continue;
        ++m_counts.all_count;
        if (book.is_favorite == 1)
            ++m_counts.favorites_count;
        if (book.time_last_view >= m_countsSince)
            ++m_counts.recently_read_count;
        if (book.format >= BookFormat::Epub && book.format <= BookFormat::SevenZ)
            ++m_formatCounts[book.format];
    }
    // The database's limit applies to the single row of its count, so it never cuts it.
    m_counts.last_added_count = m_counts.all_count;
}

void BookModel::ensureCounts() const
{
    // Books leave the recently read ones as time goes by: a new second counts again.
    const quint32 since = BookProvider::recentlyReadTimeLastView();
    if (m_countsValid && since == m_countsSince)
        return;
    m_counts = CategoryCountsDto();
    std::fill(std::begin(m_formatCounts), std::end(m_formatCounts), 0);
    m_countsSince = since;
    countRows(0, m_books.size() - 1);
    m_countsValid = true;
}

QMap<int, QPair<int, int>> BookModel::bookCountsByFormat() const
{
    ensureCounts();
    QMap<int, QPair<int, int>> counts;
    for (int format = BookFormat::Epub; format <= BookFormat::SevenZ; ++format) {
        if (m_formatCounts[format] >= 1)
            counts.insert(format, qMakePair(format, m_formatCounts[format]));
    }
    return counts;
}

CategoryCountsDto BookModel::categoryCounts() const
{
    ensureCounts();
    return m_counts;
}

void BookModel::selectAll()
{
    beginResetModel();
    forgetFolders();
    m_books = db()->allBooks();
    rebuildRowIndex();
    endResetModel();
}

bool BookModel::clearTrash()
{
    QSet<int> trashed;
    for (const BookDto& book : qAsConst(m_books)) {
        if (book.is_deleted != 0)
            trashed.insert(book.id);
    }
    if (trashed.isEmpty())
        return false;

    const QList<QString> paths = db()->removeAllFromTrash();
    qInfo() << QStringLiteral("Items count to remove from trash: %1").arg(paths.size());
    if (paths.isEmpty())
        return false;
    removeBookFiles(paths);
    qInfo() << QStringLiteral("Successfully removed from trash: %1").arg(paths.size());
    // Only once the books are gone, so a failed delete keeps the last book to continue with.
    forgetLastBook(trashed);

    beginResetModel();
    QList<BookDto> kept;
    kept.reserve(m_books.size() - trashed.size());
    for (const BookDto& book : qAsConst(m_books)) {
        if (!trashed.contains(book.id))
            kept.append(book);
    }
    m_books = kept;
    rebuildRowIndex();
    endResetModel();
    reloadFolders();
    return true;
}

bool BookModel::clearLibrary(int upToId)
{
    if (!db()->clearLibrary(upToId))
        return false;
    beginResetModel();
    for (BookDto& book : m_books) {
        if (book.id <= upToId)
            book.is_deleted = 1;
    }
    endResetModel();
    reloadFolders();
    return true;
}

int BookModel::lastId() const
{
    int last = 0;
    for (const BookDto& book : m_books)
        last = qMax(last, book.id);
    return last;
}

bool BookModel::restoreFromTrashAll()
{
    bool anyTrashed = false;
    for (const BookDto& book : qAsConst(m_books))
        anyTrashed = anyTrashed || book.is_deleted != 0;
    if (!anyTrashed || !db()->restoreAllFromTrash())
        return false;
    beginResetModel();
    for (BookDto& book : m_books)
        book.is_deleted = 0;
    endResetModel();
    reloadFolders();
    return true;
}

bool BookModel::updateBookInfo(BookDto book)
{
    const auto it = m_rowOf.constFind(book.id);
    if (it == m_rowOf.constEnd())
        return false;
    const int row = *it;
    // The reader's copy was taken when the book was opened; favourite, trash, title and author may
    // have changed in the library since, so only its own progress and notes count are taken.
    BookDto current = m_books.at(row);
    current.position = book.position;
    current.max_position = book.max_position;
    current.notes_count = book.notes_count;
    if (!db()->update(current)) {
        qWarning() << Q_FUNC_INFO << "Cannot update the book" << book.id << db()->lastError();
        return false;
    }
    m_books[row] = current;
    refreshRow(row);
    return true;
}

namespace {

// Whether a stored title or author is the user's: the text the user typed in, or (typed before
// that was recorded) any text other than the file's own, compared exactly: the file's metadata
// text, or the file's name for a book that names none. A shortened title is the user's too.
bool isUsers(const QString& stored, const QString& typed, const QString& fileText, const QString& fileName)
{
    const QString text = stored.trimmed();
    if (text.isEmpty())
        return false;
    if (!typed.isEmpty())
        return typed.trimmed() == text;
    return text != fileName && text != fileText.trimmed();
}

} // namespace

bool BookModel::updateFromReplacedFile(const BookDto& fromFile)
{
    const auto it = m_rowOf.constFind(fromFile.id);
    if (it == m_rowOf.constEnd())
        return false;
    const int row = *it;
    BookDto book = m_books.at(row);
    const QString oldCover = book.cover;
    const QString fileName = QFileInfo(book.full_path).completeBaseName();
    if (!isUsers(book.title, db()->getMetaData(book.id, BookMetaUserTitle), db()->getMetaData(book.id, BookMetaTitle),
            fileName))
        book.title = fromFile.title;
    if (!isUsers(book.author, db()->getMetaData(book.id, BookMetaUserAuthor),
            db()->getMetaData(book.id, BookMetaAuthor), QString()))
        book.author = fromFile.author;
    book.cover = fromFile.cover;
    // The progress belonged to the old text; the reader measures the new one.
    book.max_position = 0;
    book.metadata.clear();
    if (!storeRecord(row, book))
        return false;
    // The file's own texts, so that a later replacement tells them from the user's again. The
    // description stays: the user may have written it.
    for (auto entry = fromFile.metadata.cbegin(); entry != fromFile.metadata.cend(); ++entry) {
        if (entry.key() != kDescriptionKey)
            db()->setMetaData(book.id, entry.key(), entry.value());
    }
    if (!oldCover.isEmpty())
        emit coverFileChanged(oldCover);
    if (!book.cover.isEmpty() && book.cover != oldCover)
        emit coverFileChanged(book.cover);
    return true;
}

bool BookModel::storeRecord(int row, const BookDto& book)
{
    if (!db()->update(book)) {
        qWarning() << Q_FUNC_INFO << "Cannot update the book" << book.id << db()->lastError();
        return false;
    }
    // A record read back from the database carries no metadata; writing its missing description
    // as an empty text would erase the stored one.
    bool stored = true;
    if (book.metadata.contains(kDescriptionKey))
        stored = db()->setMetaData(book.id, kDescriptionKey, book.metadata.value(kDescriptionKey));

    const bool titleDiffers = m_books.at(row).title != book.title;
    const bool authorDiffers = m_books.at(row).author != book.author;
    m_books[row] = book;
    if (titleDiffers)
        emit titleChanged(book.id);
    if (authorDiffers)
        emit authorChanged(book.id);
    refreshRow(row);
    return stored;
}

void BookModel::refreshRow(int row)
{
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1), { Qt::DisplayRole });
}

bool BookModel::openBook(int row)
{
    const int id = m_books.at(row).id;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const bool stored = db()->setLastViewTime(id, int(now));
    if (stored)
        m_books[row].time_last_view = quint32(now);
    emit openBookClicked(id);
    // A receiver may have changed the rows meanwhile: find the book again.
    const QModelIndex index = indexById(id);
    if (stored && index.isValid())
        refreshRow(index.row());
    return stored;
}

bool BookModel::setFavorite(int row, bool favorite)
{
    const int wanted = favorite ? 1 : 0;
    BookDto& book = m_books[row];
    if (book.is_favorite == wanted || !db()->setFavorite(book.id, wanted))
        return false;
    book.is_favorite = wanted;
    refreshRow(row);
    return true;
}

bool BookModel::setDeleted(int row, bool deleted)
{
    const int wanted = deleted ? 1 : 0;
    BookDto& book = m_books[row];
    if (book.is_deleted == wanted || !db()->setDeleted(book.id, wanted))
        return false;
    book.is_deleted = wanted;
    reloadFolders();
    refreshRow(row);
    return true;
}

bool BookModel::deleteFromLibrary(int row)
{
    const int id = m_books.at(row).id;
    // Null: the delete failed (or the book was not stored); empty: a book without a path.
    const QString path = db()->deleteFromLibrary(id);
    if (path.isNull())
        return false;
    // The custom cover goes only with the record: a failed delete keeps the book whole.
    removeBookFiles({ path });
    forgetLastBook({ id });

    beginRemoveRows(QModelIndex(), row, row);
    m_books.removeAt(row);
    m_rowOf.remove(id);
    for (int later = row; later < m_books.size(); ++later)
        m_rowOf.insert(m_books.at(later).id, later);
    endRemoveRows();
    reloadFolders();
    return true;
}

bool BookModel::moveToFolder(int row, int folderId)
{
    const int id = m_books.at(row).id;
    if (db()->findCategoryByBook(id) == folderId)
        return false;
    if (!m_folders) {
        qWarning() << "No folder model to file book" << id;
        return false;
    }
    // One statement replaces the book's earlier folder, so a refused move leaves it where it was.
    if (!m_folders->addBookToCategory(id, folderId))
        return false;
    refreshRow(row);
    return true;
}

bool BookModel::removeFromFolder(int row)
{
    const int id = m_books.at(row).id;
    const int folderId = db()->findCategoryByBook(id);
    if (folderId == 0 || !m_folders || !m_folders->removeBookFromCategory(id, folderId))
        return false;
    refreshRow(row);
    return true;
}

void BookModel::reloadFolders()
{
    if (m_folders)
        m_folders->reload();
}

void BookModel::rebuildRowIndex()
{
    m_rowOf.clear();
    m_rowOf.reserve(m_books.size());
    for (int row = 0; row < m_books.size(); ++row)
        m_rowOf.insert(m_books.at(row).id, row);
}

void BookModel::forgetLastBook(const QSet<int>& ids)
{
    SettingsProvider* settings = SettingsProvider::instance();
    if (settings && ids.contains(settings->last_book_id()))
        settings->setLast_book_id(-1);
}

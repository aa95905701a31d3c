#pragma once

#include "bookdto.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QMap>
#include <QPair>
#include <QPointer>
#include <QSet>

#include <limits>

class FolderModel;

// Every book of the library, one row per record in load order (newest added first, books added
// later at the end), for the library page's table and card views. setData() carries the
// library's actions on a book: its role is an Enums::LibraryAction value. Every change goes to
// the library database first and reaches the model only when the database took it.
// GUI thread only.
class BookModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Columns {
        NameColumn = 0,
        AuthorColumn = 1,
        DateAddedColumn = 2,
        NotesColumn = 3,
        ProgressColumn = 4,
        LastViewColumn = 5,
        FormatColumn = 6,
        CategoryNameColumn = 7,
        FileSizeColumn = 8,
        FilePathColumn = 9,
        ColumnCount = 10
    };
    Q_ENUM(Columns)

    // Answered for any column of a row. The values are shared with the views and the drag data.
    enum Roles {
        IdRole = Qt::UserRole + 1, // 257, int
        BookRole, // the whole BookDto
        TitleRole, // trimmed; "Unknown" when empty
        AuthorRole, // trimmed; "Unknown" when empty
        CoverRole, // cover path as stored
        DateAddedRole, // QDateTime
        NotesCountRole,
        FormatRole, // format code
        FormatNameRole, // name of codes 0 to 10, else empty
        DeletedRole, // bool
        FavoriteRole, // bool
        DescriptionRole, // metadata key 6, read from the database
        FilePathRole, // absolute, native separators
        FileNameRole,
        LastViewRole, // QDateTime; invalid when never opened
        ProgressRole, // max_position
        CategoryIdRole, // folder id from the database; 0 in no folder
        CategoryNameRole, // the folder's title in the folder model; empty in no folder
        FileSizeRole, // bytes (qint64); 0 when the file is missing
        RowModuloRole, // placeholder colour index 0..9, from the book id
        UserCoverRole // bool
    };
    Q_ENUM(Roles)

    explicit BookModel(QObject* parent = nullptr);

    // The folder model that files books and names their folders; the application sets it before
    // the first action. Without one, folder actions fail and folder names are empty.
    void setFolderModel(FolderModel* folders);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    // The book ids of the indexes (one per index) as book-id drag data.
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    // role: an Enums::LibraryAction; value: the action's data (folder id, BookDto).
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // Stores the book and appends it as the last row; the new id, or the failure value of the
    // database (the model is then unchanged).
    int addBook(const BookDto& book);
    // The same for several books stored as one unit and appended together; one result per book.
    // With a hand-over act, the stored books' files leave its record in the same unit.
    QList<int> addBooks(const QList<BookDto>& books, int handOverAct = 0);
    // Read from the database, not from the model; id -1 when there is no such book.
    BookDto bookById(int id) const;
    int findCategoryByBook(int id) const;
    QModelIndex indexById(int id) const;
    // Format code -> (format code, count) of the formats 0 to 10 with at least one book not in
    // the trash. Both counts are taken from the rows, which hold what the library stored.
    QMap<int, QPair<int, int>> bookCountsByFormat() const;
    CategoryCountsDto categoryCounts() const;

public slots:
    // Loads every book of the database, newest added first, replacing the rows.
    void selectAll();
    // Deletes every book in the trash with its data folder and custom cover.
    bool clearTrash();
    // Moves every book to the trash; with upToId, only the books up to that id: those the person
    // saw when asked, not the ones stored while the question was open.
    bool clearLibrary(int upToId = std::numeric_limits<int>::max());
    // The highest id of the rows, 0 when there are none.
    int lastId() const;
    bool restoreFromTrashAll();
    // The reading side's update: stores the record's position, maximum position and notes count
    // in the book's row and the database; every other field stays as the library has it.
    bool updateBookInfo(BookDto book);
    // The book's file was replaced at its path: the record takes the title, author and cover
    // read from the new file (fromFile, with the book's id) and its progress starts again. A
    // title or author the user typed in stays, and so does the user's own cover.
    bool updateFromReplacedFile(const BookDto& fromFile);

signals:
    void showPropertiesClicked(QModelIndex idx);
    void openBookClicked(int bookId);
    void titleChanged(int bookId);
    void authorChanged(int bookId);
    // The image file at the path was made again: views that keep it read it anew.
    void coverFileChanged(const QString& path);

private:
    QVariant roleData(int row, int role) const;
    // Stores the whole record (and its description, when it carries one) and replaces the row.
    bool storeRecord(int row, const BookDto& book);
    void refreshRow(int row);
    bool openBook(int row);
    bool setFavorite(int row, bool favorite);
    bool setDeleted(int row, bool deleted);
    bool deleteFromLibrary(int row);
    bool moveToFolder(int row, int folderId);
    bool removeFromFolder(int row);
    void reloadFolders();
    void rebuildRowIndex();
    // Resets "last_book_id" when it names one of the ids.
    static void forgetLastBook(const QSet<int>& ids);

    // The counts of the category and format entries, kept while the rows stay as they are.
    void ensureCounts() const;
    // Adds the rows' books to the kept counts.
    void countRows(int first, int last) const;

    // The folder of a book, from the folders of all books read at once: filtering a large
    // library by folder would otherwise ask the database once per book.
    int folderOf(int id) const;
    void forgetFolders() { m_folderOfValid = false; }

    QList<BookDto> m_books;
    QHash<int, int> m_rowOf; // book id -> row
    QPointer<FolderModel> m_folders;
    mutable QHash<int, int> m_folderOf; // book id -> folder id, filed books only
    mutable bool m_folderOfValid = false;
    mutable CategoryCountsDto m_counts;
    mutable int m_formatCounts[11] = {}; // books not in the trash by format code 0 to 10
    mutable quint32 m_countsSince = 0; // the oldest last view of the recently read ones counted
    mutable bool m_countsValid = false;
};

#pragma once

#include "bookdto.h"

#include <QAbstractTableModel>
#include <QList>

// The user's folders of books ("categories"; a book is in at most one). The side bar lists
// them, dragged books are filed by dropping them on a row, and the book model and the import
// handler file books through it. Every change goes to the library database first and reaches
// the model only when the database took it. GUI thread only.
class FolderModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Columns { TitleColumn = 0, BookCountColumn = 1, IdColumn = 2, ParentIdColumn = 3, ColumnCount = 4 };

    explicit FolderModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    // Display and edit roles: the column's value (title trimmed); Qt::UserRole: the CategoryDto.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    // Files the dragged books in the folder of the target row (row, else parent's row).
    bool dropMimeData(
        const QMimeData* data, Qt::DropAction action, int row, int column, const QModelIndex& parent) override;

    // Replaces the list with the database's folders (ordered by title).
    void reload();
    QList<CategoryDto> categories() const { return m_folders; }
    // Column 0 of the folder's row; invalid when the id is not in the model.
    QModelIndex indexById(int id) const;

    // A new folder named "New category" (made unique with a number), inserted at row 0.
    void createCategory();
    // The id of the folder with exactly this title, made (and inserted at row 0) when missing;
    // -1 on failure or for an empty title.
    int findOrAddCategory(const QString& title);
    // False for a folder not in the model, a book not in the library or a database refusal.
    bool addBookToCategory(int bookId, int folderId);
    bool removeBookFromCategory(int bookId, int folderId);
    void removeCategory(int id);
    // Stores the new title and moves the row to its place in title order.
    void renameCategory(int id, const QString& title);

signals:
    // Books a drop filed in another folder, so that the book model can report their rows.
    void booksFiled(const QList<int>& bookIds);
    // Some book may be in another folder (or in none) now; emitted before the rows change.
    void membershipChanged();

private:
    int rowOf(int id) const;
    void insertFolder(int id, const QString& title);
    void refreshRow(int row);
    // Takes every folder's count from the database (books not in the trash), so counts stay
    // right whichever folder a book left and whether it was counted at all.
    void syncCounts();

    QList<CategoryDto> m_folders;
};

#pragma once

#include "widgets/kelbutton.h"
#include "widgets/kelwidget.h"

#include <QMimeData>
#include <QModelIndex>
#include <QPointer>

class DropIndicator;
class EditableLabel;
class FolderModel;
class BookModel;
class KelExclusiveButtonGroup;
class QMimeData;
class QVBoxLayout;

// One user folder in the side bar: its title and book count; renamed in place, and a drop target
// for books dragged from the library.
class SideBarFolder : public KelButton {
    Q_OBJECT

public:
    SideBarFolder(FolderModel* folders, BookModel* books, QWidget* parent = nullptr);

    void setIndex(const QModelIndex& index);
    int folderId() const { return m_folderId; }
    void setEditing(bool on);
    bool isEditing() const;
    void setDropEnabled(bool on);
    EditableLabel* editor() const { return m_editor; }
    DropIndicator* dropIndicator() const { return m_dropIndicator; }

signals:
    void scrollTo(QWidget* w, bool animate);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showMenu();

    QPointer<FolderModel> m_folders;
    QPointer<BookModel> m_books;
    int m_folderId = -1;
    EditableLabel* m_editor = nullptr;
    DropIndicator* m_dropIndicator = nullptr;
};

// The user's folders in the side bar, mirroring the folder model row for row, under an entry that
// adds a folder.
class SideBarFolders : public KelWidget {
    Q_OBJECT

public:
    SideBarFolders(KelExclusiveButtonGroup* group, FolderModel* folders, BookModel* books, QWidget* parent = nullptr);
    ~SideBarFolders() override;

    void translateUi();
    KelButton* addEntry() const;
    QList<SideBarFolder*> folderEntries() const;

signals:
    void scrollTo(QWidget* w, bool animate);

public slots:
    void onModelReset();
    void onModelRowsInserted(const QModelIndex& parent, int first, int last);
    void onModelRowsMoved(const QModelIndex& parent, int start, int end, const QModelIndex& destination, int row);
    void onModelRowsRemoved(const QModelIndex& parent, int first, int last);
    void onModelDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QVector<int>& roles);

private:
    SideBarFolder* makeEntry(int row);
    SideBarFolder* entryAt(int position) const;
    void addFolder();
    void onDragStarted(QMimeData* mime);
    void onDragEnded();

    class Private;
    QScopedPointer<Private> d;
};

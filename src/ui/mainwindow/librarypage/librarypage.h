#pragma once

#include "enums.h"

#include <QVariant>
#include <QWidget>

class BookItemWidget;
class BookTableHeader;
class DropIndicator;
class KelButton;
class KelIconLabel;
class KelListWidget;
class SearchLineEdit;

// The library view of the main window: the tool bar, the table header, the empty-state text and
// the list of books as table rows or cards. It adds books through the importer (file dialog,
// folder, dropped or handed-over files), reports each import's result and carries out the
// actions taken on the books.
class LibraryPage : public QWidget {
public:
    explicit LibraryPage(QWidget* parent = nullptr);
    ~LibraryPage() override;

    void setViewMode(int mode);
    int viewMode() const;
    void setTrashMode(bool trash);
    bool isTrashMode() const;
    void translateUi();
    void updateIsEmptyText();
    void onActionClicked(BookItemWidget* item, Enums::LibraryAction action, QVariant data);
    void onDragStarted(BookItemWidget* item, const QPixmap& pixmap, const QPoint& hotSpot);
    // Adds the books among the paths (folders searched) as a drop of them would.
    void addFiles(const QStringList& paths);

    KelButton* addBookButton() const;
    KelButton* addFolderButton() const;
    KelButton* restoreAllButton() const;
    KelButton* clearTrashButton() const;
    KelButton* viewModeButton(int mode) const;
    SearchLineEdit* searchLineEdit() const;
    KelIconLabel* emptyLabel() const;
    KelListWidget* listWidget() const;
    BookTableHeader* tableHeader() const;
    DropIndicator* dropIndicator() const;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    class Private;
    Private* d;
};

#pragma once

#include "enums.h"
#include "models/bookdto.h"
#include "windows/kelpopupmenu.h"

#include <QVariant>

class KelButton;

// The context menu of a library book, shared by every item: the item sets which entries show and
// which folders the book can move to before each showing.
class BookItemPopupMenu : public KelPopupMenu {
    Q_OBJECT
public:
    explicit BookItemPopupMenu(QWidget* parent = nullptr);
    ~BookItemPopupMenu() override;

    void setActionVisible(Enums::LibraryAction action, bool visible);
    void setActionData(Enums::LibraryAction action, const QVariant& data);
    // Fills the folder submenu; the current folder's title goes into the remove entry.
    void setFolders(const QString& currentTitle, const QList<CategoryDto>& folders);
    KelButton* actionButton(Enums::LibraryAction action) const;
    void translateUi() override;

signals:
    void actionClicked(Enums::LibraryAction action, QVariant userData);
    void hided();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    class Private;
    Private* d;
};

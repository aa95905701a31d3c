#include "bookitempopupmenu.h"

#include "hotkeys.h"
#include "widgets/kelbutton.h"
#include "windows/kelpopupmenubutton.h"

#include <QCoreApplication>
#include <QMap>

namespace {

const char* const kUserDataProp = "__ActionBtnUserDataProp";
// Longer folder titles are cut in the remove entry, so the menu keeps a sane width.
constexpr int kMaxFolderTitle = 40;

QString tr(const char* text, const char* disambiguation = nullptr)
{
    return QCoreApplication::translate("MainWindow_Library", text, disambiguation);
}

QString firstSequence(Hotkeys::Id id)
{
    const QList<QKeySequence> sequences = Hotkeys::sequences(id);
    return sequences.isEmpty() ? QString() : sequences.first().toString(QKeySequence::PortableText);
}

} // namespace

class BookItemPopupMenu::Private {
public:
    QMap<int, KelButton*> actions;
    KelPopupMenuButton* moveTo = nullptr;
    QString currentTitle;
};

BookItemPopupMenu::BookItemPopupMenu(QWidget* parent)
    : KelPopupMenu(Qt::Vertical, parent, ShadowType(0), false)
    , d(new Private)
{
    qRegisterMetaType<Enums::LibraryAction>();
    setHideOnClick(false);
    auto addEntry = [this](Enums::LibraryAction action) {
        KelButton* button = addButton(15);
        button->setProperty(kUserDataProp, QVariant());
        connect(button, &KelButton::clicked, this, [this, action, button] {
            emit actionClicked(action, button->property(kUserDataProp));
            hide();
        });
        d->actions.insert(action, button);
    };
    for (Enums::LibraryAction action : { Enums::Open, Enums::ToFavorite, Enums::FromFavorite, Enums::ToTrash,
             Enums::RestoreFromTrash, Enums::DeleteFromLibrary })
        addEntry(action);
    d->moveTo = new KelPopupMenuButton(16, 1, Qt::RightEdge, Qt::AlignTop);
    addWidget(d->moveTo);
    d->actions.insert(Enums::MoveToFolder, d->moveTo);
    addEntry(Enums::RemoveFromFolder);
    addEntry(Enums::Properties);
    translateUi();
}

BookItemPopupMenu::~BookItemPopupMenu() { delete d; }

void BookItemPopupMenu::setActionVisible(Enums::LibraryAction action, bool visible)
{
    if (KelButton* button = d->actions.value(action))
        button->setVisible(visible);
}

void BookItemPopupMenu::setActionData(Enums::LibraryAction action, const QVariant& data)
{
    if (KelButton* button = d->actions.value(action))
        button->setProperty(kUserDataProp, data);
}

KelButton* BookItemPopupMenu::actionButton(Enums::LibraryAction action) const { return d->actions.value(action); }

void BookItemPopupMenu::setFolders(const QString& currentTitle, const QList<CategoryDto>& folders)
{
    d->moveTo->setVisible(!folders.isEmpty());
    d->moveTo->clearPopup();
    KelPopupMenu* submenu = d->moveTo->popupMenu();
    for (const CategoryDto& folder : folders) {
        KelButton* button = submenu->addButton(15);
        button->setText(folder.title);
        button->setProperty(kUserDataProp, folder.id);
        const int id = folder.id;
        connect(button, &KelButton::clicked, this, [this, id] {
            emit actionClicked(Enums::MoveToFolder, id);
            hide();
        });
    }
    d->currentTitle = currentTitle;
    translateUi();
}

void BookItemPopupMenu::translateUi()
{
    KelPopupMenu::translateUi();
    auto set = [this](Enums::LibraryAction action, const QString& text, const QString& subText = QString()) {
        KelButton* button = d->actions.value(action);
        button->setText(text);
        button->setSubText(subText);
    };
    const QString trashKey = firstSequence(Hotkeys::Id::SelBook_ToTrash);
    set(Enums::Open, tr("Read"));
    set(Enums::ToFavorite, tr("Add to Favorites"));
    set(Enums::FromFavorite, tr("Remove from Favorites"));
    set(Enums::ToTrash, tr("Delete", "delete to trash"), trashKey);
    set(Enums::RestoreFromTrash, tr("Restore"));
    set(Enums::DeleteFromLibrary, tr("Delete", "delete from library"), trashKey);
    set(Enums::MoveToFolder, tr("Move to"));
    set(Enums::Properties, tr("Properties..."), firstSequence(Hotkeys::Id::SelBook_Properties));
    QString remove = tr("Remove from category");
    if (!d->currentTitle.isEmpty()) {
        QString title = d->currentTitle;
        if (title.size() > kMaxFolderTitle)
            title = title.left(kMaxFolderTitle) + QStringLiteral("...");
        remove += QStringLiteral(" \"%1\"").arg(title);
    }
    set(Enums::RemoveFromFolder, remove);
}

void BookItemPopupMenu::hideEvent(QHideEvent* event)
{
    KelPopupMenu::hideEvent(event);
    emit hided();
}

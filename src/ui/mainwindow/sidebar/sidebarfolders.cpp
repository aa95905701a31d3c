#include "sidebarfolders.h"

#include "dragdata.h"
#include "enums.h"
#include "kellogger/tracelogger.h"
#include "models/bookmodel.h"
#include "models/foldermodel.h"
#include "ui.h"
#include "widgets/dragicon.h"
#include "widgets/dropindicator.h"
#include "widgets/editablelabel.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "windows/kelpopupmenu.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QMimeData>
#include <QSet>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString sideBarText(const char* text) { return QCoreApplication::translate("MainWindow_SideBar", text); }

void setOverDropTarget(bool over)
{
    if (Ui* ui = Ui::instance())
        ui->dragIcon()->setOverDropTarget(over);
}

} // namespace

SideBarFolder::SideBarFolder(FolderModel* folders, BookModel* books, QWidget* parent)
    : KelButton(1035, QStringLiteral(":/svg/sidebar-folder.svg"), parent)
    , m_folders(folders)
    , m_books(books)
{
    m_editor = new EditableLabel(1068, this);
    m_editor->hide();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(40, 2, 4, 4);
    layout->setSpacing(0);
    layout->addWidget(m_editor);
    m_dropIndicator = new DropIndicator(this, QMargins(4, 1, 4, 1), 1, { 4, 4 }, false);
    m_dropIndicator->hide();
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &SideBarFolder::showMenu);
    connect(m_editor, &KelLineEdit::editingFinished, this, [this] {
        if (!isEditing())
            return;
        const QString title = m_editor->text().trimmed();
        setEditing(false);
        if (m_folders)
            m_folders->renameCategory(m_folderId, title);
    });
}

void SideBarFolder::setIndex(const QModelIndex& index)
{
    const QVariant data = index.data(Qt::UserRole);
    if (!data.canConvert<CategoryDto>()) {
        m_folderId = -1;
        setText(QString());
        setSubText(QString());
        return;
    }
    const CategoryDto folder = data.value<CategoryDto>();
    m_folderId = folder.id;
    setText(folder.title);
    setSubText(QString::number(folder.book_count));
}

bool SideBarFolder::isEditing() const { return !m_editor->isHidden(); }

void SideBarFolder::setEditing(bool on)
{
    const bool changes = on != isEditing();
    if (on) {
        m_editor->setText(text());
        m_editor->show();
        m_editor->selectAll();
        m_editor->setFocus();
    } else {
        m_editor->hide();
        m_editor->clear();
    }
    if (changes)
        QTimer::singleShot(0, this, [this] { emit scrollTo(this, true); });
}

void SideBarFolder::setDropEnabled(bool on)
{
    setAcceptDrops(on);
    m_dropIndicator->setVisibleAnimated(on, true);
}

void SideBarFolder::dragEnterEvent(QDragEnterEvent* event)
{
    setOverDropTarget(true);
    m_dropIndicator->setActive(true);
    event->accept();
    emit scrollTo(this, true);
}

void SideBarFolder::dragLeaveEvent(QDragLeaveEvent* event)
{
    setOverDropTarget(false);
    m_dropIndicator->setActive(false);
    event->accept();
}

void SideBarFolder::dropEvent(QDropEvent* event)
{
    setOverDropTarget(false);
    m_dropIndicator->setActive(false);
    event->accept();
    if (!m_books)
        return;
    for (int id : bookIdsFromMimeData(event->mimeData()))
        m_books->setData(m_books->indexById(id), m_folderId, Enums::MoveToFolder);
}

void SideBarFolder::resizeEvent(QResizeEvent* event)
{
    KelButton::resizeEvent(event);
    m_dropIndicator->setGeometry(rect());
}

void SideBarFolder::showMenu()
{
    setChecked(true);
    auto* menu = new KelPopupMenu(Qt::Vertical, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(
            sideBarText("Rename"), [this] { setEditing(true); }, 15)
        ->setIcon(":/svg/sidebar-edit.svg");
    menu->addAction(
            sideBarText("Delete"),
            [this] {
                Ui* ui = Ui::instance();
                if (!ui || !ui->askDeleteCategory() || !m_folders)
                    return;
                // The removal deletes this entry with its menu, so it waits until the click is over.
                QMetaObject::invokeMethod(
                    m_folders,
                    [folders = m_folders, id = m_folderId] {
                        if (folders)
                            folders->removeCategory(id);
                    },
                    Qt::QueuedConnection);
            },
            15)
        ->setIcon(":/svg/trash.svg");
    menu->showAtCursor();
}

class SideBarFolders::Private {
public:
    KelExclusiveButtonGroup* group = nullptr;
    QPointer<FolderModel> folders;
    QPointer<BookModel> books;
    QVBoxLayout* foldersLayout = nullptr;
    KelButton* addEntry = nullptr;
    QPointer<SideBarFolder> madeLast;
    bool bookDrag = false;
};

SideBarFolders::SideBarFolders(KelExclusiveButtonGroup* group, FolderModel* folders, BookModel* books, QWidget* parent)
    : KelWidget(parent)
    , d(new Private)
{
    d->group = group;
    d->folders = folders;
    d->books = books;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    d->addEntry = new KelButton(1034, QStringLiteral(":/svg/sidebar-add.svg"), this);
    layout->addWidget(d->addEntry);
    d->foldersLayout = new QVBoxLayout;
    d->foldersLayout->setContentsMargins(0, 0, 0, 0);
    d->foldersLayout->setSpacing(0);
    layout->addLayout(d->foldersLayout);
    layout->addStretch();
    if (folders) {
        connect(folders, &QAbstractItemModel::modelReset, this, &SideBarFolders::onModelReset);
        connect(folders, &QAbstractItemModel::rowsInserted, this, &SideBarFolders::onModelRowsInserted);
        connect(folders, &QAbstractItemModel::rowsMoved, this, &SideBarFolders::onModelRowsMoved);
        connect(folders, &QAbstractItemModel::rowsRemoved, this, &SideBarFolders::onModelRowsRemoved);
        connect(folders, &QAbstractItemModel::dataChanged, this, &SideBarFolders::onModelDataChanged);
    }
    connect(d->addEntry, &KelButton::clicked, this, &SideBarFolders::addFolder);
    onModelReset();
    if (Ui* ui = Ui::instance()) {
        connect(ui->dragIcon(), &DragIcon::showed, this, &SideBarFolders::onDragStarted);
        connect(ui->dragIcon(), &DragIcon::hided, this, &SideBarFolders::onDragEnded);
    }
}

SideBarFolders::~SideBarFolders() = default;

void SideBarFolders::translateUi() { d->addEntry->setText(sideBarText("Add new category")); }

KelButton* SideBarFolders::addEntry() const { return d->addEntry; }

QList<SideBarFolder*> SideBarFolders::folderEntries() const
{
    QList<SideBarFolder*> entries;
    for (int i = 0; i < d->foldersLayout->count(); ++i)
        entries << entryAt(i);
    return entries;
}

SideBarFolder* SideBarFolders::entryAt(int position) const
{
    QLayoutItem* item = d->foldersLayout->itemAt(position);
    return item ? qobject_cast<SideBarFolder*>(item->widget()) : nullptr;
}

SideBarFolder* SideBarFolders::makeEntry(int row)
{
    auto* entry = new SideBarFolder(d->folders, d->books, this);
    entry->setIndex(d->folders->index(row, 0));
    d->group->addButton(entry, int(Enums::MaxBookFormat) + entry->folderId());
    d->madeLast = entry;
    connect(entry, &SideBarFolder::scrollTo, this, &SideBarFolders::scrollTo);
    return entry;
}

void SideBarFolders::onModelReset()
{
    TraceLogger trace("SideBarFolders::onModelReset", QStringLiteral("Folder model reset"));
    // The model reloads after every trash and restore: the folder shown stays checked.
    int checkedId = -1;
    for (SideBarFolder* entry : folderEntries()) {
        if (entry && entry->isChecked())
            checkedId = entry->folderId();
    }
    while (QLayoutItem* item = d->foldersLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (!d->folders)
        return;
    for (int row = 0; row < d->folders->rowCount(); ++row)
        d->foldersLayout->addWidget(makeEntry(row));
    if (checkedId != -1)
        d->group->setCheckedByUserDataSilently(int(Enums::MaxBookFormat) + checkedId);
}

void SideBarFolders::onModelRowsInserted(const QModelIndex&, int first, int last)
{
    TraceLogger trace(
        "SideBarFolders::onModelRowsInserted", QStringLiteral("Rows inserted %1-%2").arg(first).arg(last));
    for (int row = first; row <= last; ++row)
        d->foldersLayout->insertWidget(row, makeEntry(row));
}

void SideBarFolders::onModelRowsMoved(const QModelIndex&, int start, int end, const QModelIndex&, int row)
{
    TraceLogger trace(
        "SideBarFolders::onModelRowsMoved", QStringLiteral("Rows moved %1-%2 to %3").arg(start).arg(end).arg(row));
    QList<QLayoutItem*> taken;
    for (int i = end; i >= start; --i)
        taken << d->foldersLayout->takeAt(i);
    const int target = row > start ? row - taken.size() : row;
    for (QLayoutItem* item : taken)
        d->foldersLayout->insertItem(target, item);
}

void SideBarFolders::onModelRowsRemoved(const QModelIndex&, int first, int last)
{
    TraceLogger trace("SideBarFolders::onModelRowsRemoved", QStringLiteral("Rows removed %1-%2").arg(first).arg(last));
    for (int i = last; i >= first; --i) {
        QLayoutItem* item = d->foldersLayout->takeAt(i);
        if (!item)
            continue;
        delete item->widget();
        delete item;
    }
}

void SideBarFolders::onModelDataChanged(
    const QModelIndex& topLeft, const QModelIndex& bottomRight, const QVector<int>& roles)
{
    if (!roles.contains(Qt::DisplayRole) || !d->folders)
        return;
    TraceLogger trace("SideBarFolders::onModelDataChanged",
        QStringLiteral("Folder data changed rows: %1-%2, cols: %3-%4")
            .arg(topLeft.row())
            .arg(bottomRight.row())
            .arg(topLeft.column())
            .arg(bottomRight.column()));
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
        if (SideBarFolder* entry = entryAt(row))
            entry->setIndex(d->folders->index(row, 0));
    }
}

void SideBarFolders::addFolder()
{
    if (!d->folders)
        return;
    d->madeLast.clear();
    d->folders->createCategory();
    if (SideBarFolder* entry = d->madeLast) {
        entry->setChecked(true);
        entry->setEditing(true);
    }
    d->madeLast.clear();
}

void SideBarFolders::onDragStarted(QMimeData* mime)
{
    const QList<int> ids = bookIdsFromMimeData(mime);
    const bool bookDrag = !ids.isEmpty();
    if (bookDrag == d->bookDrag)
        return;
    d->bookDrag = bookDrag;
    QSet<int> sources;
    for (int id : ids)
        sources.insert(d->books ? d->books->findCategoryByBook(id) : 0);
    const int source = sources.size() == 1 ? *sources.begin() : -1;
    for (SideBarFolder* entry : folderEntries())
        entry->setDropEnabled(bookDrag && entry->folderId() != source);
}

void SideBarFolders::onDragEnded()
{
    if (!d->bookDrag)
        return;
    d->bookDrag = false;
    for (SideBarFolder* entry : folderEntries())
        entry->setDropEnabled(false);
}

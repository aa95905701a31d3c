#include "librarypage.h"

#include "appdirs.h"
#include "application.h"
#include "bookitempopupmenu.h"
#include "bookitemwidget.h"
#include "booktableheader.h"
#include "bookthumbnailwidget.h"
#include "checkedsave.h"
#include "dragdata.h"
#include "eventloops/nestedloop.h"
#include "formats/bookformat.h"
#include "formats/fb2/fbbook.h"
#include "import/bookimporter.h"
#include "itemviews/kellistwidget.h"
#include "kellogger/tracelogger.h"
#include "layouts/kelflowlayout.h"
#include "mainwindow/sidebar/sidebar.h"
#include "metrics/metricsender.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "models/booksortfiltermodel.h"
#include "models/foldermodel.h"
#include "settingsprovider.h"
#include "supportedextensions.h"
#include "ui.h"
#include "widgets/dragicon.h"
#include "widgets/dropindicator.h"
#include "widgets/kelbutton.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/kelframe.h"
#include "widgets/keliconlabel.h"
#include "widgets/tabindicator.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMimeData>
#include <QPointer>
#include <QSqlDatabase>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString libraryText(const char* text) { return QCoreApplication::translate("MainWindow_Library", text); }

// Import statuses that mean the file could not be read as a book.
bool isFailure(ItemStatus status)
{
    switch (int(status)) {
    case 1:
    case 2:
    case 8:
    case 16:
    case 32:
        return true;
    default:
        return false;
    }
}

// Why a file was left out, for the list of refused files; each status of the importer has its text.
QString refusalReason(ItemStatus status, const QString& path)
{
    switch (int(status)) {
    case ItemFileMissing:
        return libraryText("the file was not found");
    case ItemProtected:
        return libraryText("the book is protected");
    case ItemReadFailed:
        return libraryText("the file is damaged or is no book");
    case ItemUnsupportedFormat:
        return libraryText("the format is not supported");
    case ItemUnsupportedArchivedBook: {
        const QString reason = fb2::sevenZipRefusal(path);
        return reason.isEmpty() ? libraryText("the archive holds no book that can be read") : reason;
    }
    case ItemFolderNotWritable:
        return libraryText("the folder %1 cannot be written").arg(QDir::toNativeSeparators(bookDataDir(path)));
    case ItemDiskFull:
        return libraryText("the disk is full");
    case ItemSeveralBooksInArchive:
        return libraryText("the archive holds more than one book");
    default:
        return libraryText("the file could not be read (code %1)").arg(int(status));
    }
}

// The importer reports only the status; the reason names the format the archive holds.
void showArchiveRefused(Ui* ui, const QString& archive)
{
    const QString reason = fb2::sevenZipRefusal(archive);
    if (reason.isEmpty())
        ui->showBookDamaged(); // the archive changed since it was read
    else
        ui->showArchivedBookUnsupported(reason);
}

} // namespace

class LibraryPage::Private {
public:
    LibraryPage* owner = nullptr;
    QPointer<BookModel> books;
    QPointer<BookSortFilterModel> filter;
    QPointer<FolderModel> folders;
    KelButton* addBookButton = nullptr;
    KelButton* addFolderButton = nullptr;
    KelButton* restoreAllButton = nullptr;
    KelButton* clearTrashButton = nullptr;
    SearchLineEdit* searchLineEdit = nullptr;
    QWidget* viewModeBox = nullptr;
    int viewMode = Enums::View_Cards;
    KelExclusiveButtonGroup* viewModeGroup = nullptr;
    KelIconLabel* emptyLabel = nullptr;
    KelListWidget* listWidget = nullptr;
    DropIndicator* dropIndicator = nullptr;
    QStringList droppedFiles;
    BookItemPopupMenu* popupMenu = nullptr;
    BookTableHeader* tableHeader = nullptr;
    BookItemWidget* cardProbe = nullptr;
    // What one import added and left out, and why: its answer is built from a copy of it alone, so
    // the next import (a hand-over under an open box) changes nothing of an answer still waiting.
    struct Outcome {
        QList<int> addedIds;
        QMap<QString, int> addedPerFormat;
        int protectedCount = 0;
        int failedCount = 0;
        int existingCount = 0;
        QString firstExistingPath;
        // 7z archives refused for the book they hold; the first one's reason is shown.
        int refusedArchiveCount = 0;
        QString firstRefusedArchive;
        // "name: reason" of every file the import left out, those of a hand-over left out before
        // its import started included.
        QStringList refused;
        // The first refusal whose cause is the library's folder, the disk or a collection archive.
        ItemStatus causeStatus = ItemAdded;
        QString causePath;
        // The files left out for that cause when it is one of storage (a full disk, a folder that
        // cannot be written): its box tells them all, a list of the same cause would only repeat it.
        int storageRefusals = 0;
    };
    Outcome run;
    int processedCount = 0;
    // One act of the person or of a second start: its files, and those left out before it started.
    struct Act {
        QStringList files;
        QStringList refused;
        bool handedOver = false;
        // Its number in the library's record of hand-overs, 0 when it is not recorded.
        int record = 0;
    };
    // The act being imported, and those after it, oldest first: one import each, so that every act
    // gets its own answer, in order.
    Act current;
    bool importing = false;
    QList<Act> acts;
    QStringList refusedBeforeStart;
    // The program ends: nothing is asked any more.
    bool quitting = false;
    // Books read and waiting to be stored, with the record of the act each came with; the run's
    // end waits for them.
    QList<BookDto> toStore;
    QList<int> toStoreRecords;
    // The acts of the record taken into acts so far.
    QSet<int> takenRecords;
    QTimer storeTimer;
    int batchSize = 8;
    bool finishPending = false;
    // Stop was given: what the run still reports is not stored, until the next run starts.
    bool stopped = false;
    bool trash = false;

    void syncColumns();
    void setUpWindowedList();
    QSize rowExtent(const QModelIndex& index, int layoutId) const;
    void importStarted();
    void itemProcessed(ItemStatus status, const BookDto& book);
    void importFinished(const Outcome& run);
    void storeBatch();
    void storePending(bool all);
    void stop();
    void startImport(
        const QStringList& files, const QStringList& refusedBefore = {}, bool handedOver = false, int record = 0);
    void startNextAct();
    void askWhenNoBoxIsOpen(std::function<void()> question);
    void addHandedOver(const QStringList& paths, int record);
    void takeRecordedActs();
    int runRecord() const { return importing ? current.record : 0; }
    void refuse(const QString& path, const QString& reason);
    void reportRefused(const Outcome& run);
    QModelIndex showAddedBook(int id);
    void showAddedBooks(const QList<int>& ids);
};

LibraryPage::LibraryPage(QWidget* parent)
    : QWidget(parent)
    , d(new Private)
{
    d->owner = this;
    if (Application* app = Application::instance()) {
        d->books = app->bookModel();
        d->filter = app->bookSortFilterModel();
        d->folders = app->folderModel();
    }
    if (SettingsProvider* settings = SettingsProvider::instance())
        d->viewMode = settings->library_view_mode();

    d->viewModeGroup = new KelExclusiveButtonGroup(1037, this);
    auto* toolbar = new KelFrame(1042, this);
    toolbar->setObjectName(QStringLiteral("Toolbar"));
    // Its minimum is its layout's, where the text buttons may narrow (their texts elided): a
    // policy that cannot shrink would make the full texts the window's minimum width.
    toolbar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    toolbar->setBorderWidths(QMargins(0, 0, 0, 1));
    auto* bar = new QHBoxLayout(toolbar);
    bar->setContentsMargins(24, 0, 12, 0);
    bar->setSpacing(6);
    auto toolButton = [toolbar, bar](const char* icon) {
        auto* button = new KelButton(1010, QString::fromLatin1(icon), toolbar);
        bar->addWidget(button);
        return button;
    };
    d->addBookButton = toolButton(":/svg/library-page-add-book.svg");
    d->addFolderButton = toolButton(":/svg/library-page-add-books.svg");
    d->restoreAllButton = toolButton(":/svg/restore.svg");
    d->clearTrashButton = toolButton(":/svg/trash.svg");
    d->restoreAllButton->hide();
    d->clearTrashButton->hide();
    bar->addSpacing(24);
    bar->addStretch();
    d->searchLineEdit = new SearchLineEdit(toolbar);
    d->searchLineEdit->setObjectName(QStringLiteral("SearchLineEdit"));
    bar->addWidget(d->searchLineEdit, 1);
    bar->addSpacing(6);
    d->viewModeBox = new QWidget(toolbar);
    auto* modes = new QHBoxLayout(d->viewModeBox);
    modes->setContentsMargins(0, 0, 0, 0);
    modes->setSpacing(6);
    KelButton* cards
        = d->viewModeGroup->createButton(int(Enums::View_Cards), QStringLiteral(":/svg/library-view-cards.svg"));
    cards->setObjectName(QStringLiteral("CardsMode"));
    KelButton* table
        = d->viewModeGroup->createButton(int(Enums::View_Table), QStringLiteral(":/svg/library-view-table.svg"));
    table->setObjectName(QStringLiteral("TableMode"));
    modes->addWidget(cards);
    modes->addWidget(table);
    bar->addWidget(d->viewModeBox);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar);
    d->tableHeader = new BookTableHeader(d->filter, this);
    layout->addWidget(d->tableHeader);
    d->emptyLabel = new KelIconLabel(1077, QStringLiteral(":/svg/library-empty.svg"), this);
    layout->addWidget(d->emptyLabel, 0, Qt::AlignCenter);
    d->listWidget = new KelListWidget(38, this);
    layout->addWidget(d->listWidget);
    d->listWidget->setEdgeShadows(Qt::TopEdge | Qt::BottomEdge, 41, false);

    auto* tableLayout = new QVBoxLayout;
    tableLayout->setContentsMargins(0, 0, 0, 0);
    tableLayout->setSpacing(0);
    d->listWidget->registerLayout(Enums::View_Table, tableLayout);
    auto* flow = new KelFlowLayout(nullptr, QMargins(0, 0, 0, 16), 0, 12);
    flow->setUniformItemSizes(false);
    flow->setStretchMode(KelFlowLayout::NoStretch);
    d->listWidget->registerLayout(Enums::View_Cards, flow);
    d->listWidget->setCurrentLayoutId(d->viewMode);
    d->listWidget->setKeyboardNavigationEnabled(true);
    d->popupMenu = new BookItemPopupMenu(this);
    d->listWidget->setItemFactory([this](QWidget* parent, const QModelIndex& index) -> KelListWidgetItem* {
        auto* item = new BookItemWidget(d->viewMode, d->popupMenu, parent);
        item->readFrom(index);
        item->retranslateUi();
        item->setColumnWidths(d->tableHeader->columnWidths());
        QObject::connect(item, &BookItemWidget::actionClicked, this,
            [this](BookItemWidget* w, Enums::LibraryAction action, const QVariant& data) {
                onActionClicked(w, action, data);
            });
        QObject::connect(item, &BookItemWidget::dragStarted, this,
            [this](BookItemWidget* w, const QPixmap& pixmap, const QPoint& hotSpot) {
                onDragStarted(w, pixmap, hotSpot);
            });
        QObject::connect(item, &KelWidget::focused, this, [this, item](Qt::FocusReason reason) {
            if (reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason)
                d->listWidget->scrollTo(item, true);
        });
        return item;
    });
    d->setUpWindowedList();

    auto* indicator = new TabIndicator(d->viewModeBox, d->viewModeGroup);
    indicator->setContentsMargins(0, 0, 0, 1);
    indicator->setThickness(2);
    indicator->updatePosition(false);

    d->dropIndicator = new DropIndicator(this, QMargins(24, 24, 24, 24), 2, { 8, 8 }, true);
    d->dropIndicator->hide();
    setAcceptDrops(true);

    d->viewModeGroup->setCheckedByUserDataSilently(d->viewMode);
    setViewMode(d->viewMode);

    QObject::connect(
        d->viewModeGroup, &KelExclusiveButtonGroup::toggled, this, [this](KelButton*, const QVariant& data) {
            const int mode = data.toInt();
            if (mode != d->viewMode)
                MetricSender::addMetric(QStringLiteral("chview"),
                    mode == Enums::View_Cards ? QStringLiteral("1") : QStringLiteral("0"), QString());
            setViewMode(mode);
        });
    if (d->filter) {
        QObject::connect(d->searchLineEdit, &QLineEdit::textChanged, d->filter,
            [this](const QString& text) { d->filter->setSearchText(text.trimmed()); });
        // Another category is looked at from its start, not from where the last one was left.
        QObject::connect(d->filter, &BookSortFilterModel::filterCategoryChanged, this, [this] {
            d->listWidget->scrollToPosition(QPoint(), false);
            updateIsEmptyText();
        });
        QObject::connect(d->filter, &BookSortFilterModel::searchTextChanged, this, [this] { updateIsEmptyText(); });
    }
    // The empty text names the shown folder, so a rename must reach it.
    if (d->folders)
        QObject::connect(d->folders, &QAbstractItemModel::dataChanged, this, [this] { updateIsEmptyText(); });
    // A book file replaced at its path brings its own cover under the same file name.
    if (d->books)
        QObject::connect(d->books, &BookModel::coverFileChanged, this, &BookThumbnailWidget::reloadImages);
    QObject::connect(d->restoreAllButton, &KelButton::clicked, this, [this] {
        if (d->books)
            d->books->restoreFromTrashAll();
    });
    QObject::connect(d->clearTrashButton, &KelButton::clicked, this, [this] {
        Ui* ui = Ui::instance();
        if (ui && ui->askEmptyTrash() && d->books)
            d->books->clearTrash();
    });
    QObject::connect(d->addBookButton, &KelButton::clicked, this, [this] {
        QString label = libraryText("eBook Files (*.epub *.mobi *.prc *.fb2 *.pdf *.txt *.cbz *.cbr *.zip *.7z)");
        label = label.left(label.indexOf(QLatin1Char('('))) + QStringLiteral("(*.")
            + supportedExtensions().join(QStringLiteral(" *.")) + QStringLiteral(")");
        KelUi* ui = KelUi::instance();
        const QStringList files = ui ? ui->getOpenFileNames(libraryText("Add book to library"), label) : QStringList();
        if (!files.isEmpty())
            d->startImport(files);
    });
    QObject::connect(d->addFolderButton, &KelButton::clicked, this, [this] {
        KelUi* ui = KelUi::instance();
        const QString folder = ui ? ui->getExistingDirectory(libraryText("Select folder")) : QString();
        if (folder.isEmpty())
            return;
        QStringList patterns;
        for (const QString& extension : supportedExtensions())
            patterns << QStringLiteral("*.") + extension;
        QStringList files;
        findFilesRecursively(files, QFileInfo(folder).absoluteFilePath(), patterns);
        if (!files.isEmpty())
            d->startImport(files);
    });
    for (auto signal : { &KelScrollArea::showed })
        QObject::connect(d->listWidget, signal, this, [this] { d->syncColumns(); });
    QObject::connect(d->listWidget, &KelScrollArea::resized, this, [this] { d->syncColumns(); });
    QObject::connect(d->listWidget, &KelListWidget::hardWorkFinished, this, [this] { d->syncColumns(); });
    QObject::connect(d->listWidget, &KelListWidget::rowCountChanged, this, [this](int count) {
        d->emptyLabel->setVisible(count == 0);
        d->listWidget->setVisible(count != 0);
        d->restoreAllButton->setEnabled(count != 0);
        d->clearTrashButton->setEnabled(count != 0);
    });
    bookimporter* importer = bookimporter::instance();
    // The importer's progress, pause and stop follow the storing here.
    if (d->books)
        importer->setStore(this);
    QObject::connect(importer, &bookimporter::cancelled, this, [this] { d->stop(); });
    QObject::connect(
        importer, &bookimporter::itemProcessed, this,
        [this](ItemStatus status, const BookDto& book) { d->itemProcessed(status, book); }, Qt::QueuedConnection);
    QObject::connect(
        importer, &bookimporter::importStarted, this, [this] { d->importStarted(); }, Qt::QueuedConnection);
    d->storeTimer.setSingleShot(true);
    QObject::connect(&d->storeTimer, &QTimer::timeout, this, [this] { d->storePending(false); });
    // Books already read are stored before the program ends, without an answer; the handed-over
    // files the importer did not reach stay in the record, for the next start. After the importer's
    // own handler, which stops it.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        d->quitting = true;
        d->finishPending = false;
        while (!d->toStore.isEmpty())
            d->storeBatch();
    });
    QObject::connect(
        importer, &bookimporter::finished, this,
        [this] {
            // A run the end of the program stopped is no act's end: what it left stays recorded.
            if (bookimporter::instance()->isEnding())
                d->quitting = true;
            if (d->quitting)
                return;
            d->finishPending = true;
            // A few books are stored at once; many go on between the window's other work.
            d->storePending(d->toStore.size() <= d->batchSize);
        },
        Qt::QueuedConnection);
    QObject::connect(
        importer, &bookimporter::exported, this,
        [this](int ok, int total, int failure, const QString& archive) {
            // An act that waited for the export starts now.
            d->startNextAct();
            Ui* ui = Ui::instance();
            // One box: the cause where the archive could not be written, never "0 books exported".
            if (ui && ok == 0 && total > 0 && failure != int(checkedsave::Failure::None))
                ui->showBooksNotExported(checkedsave::Failure(failure), archive);
            else if (ui)
                ui->showBooksExported(ok);
        },
        Qt::QueuedConnection);
    if (Application* app = Application::instance()) {
        QObject::connect(app, &Application::filesReceived, this, [this](const QStringList& files) { addFiles(files); });
        QObject::connect(app, &Application::handOverRecorded, this, [this] { d->takeRecordedActs(); });
    }

    if (d->filter)
        d->listWidget->setModel(d->filter, QModelIndex());
    const int rows = d->filter ? d->filter->rowCount() : 0;
    d->emptyLabel->setVisible(rows == 0);
    d->listWidget->setVisible(rows != 0);
    translateUi();
    // What was handed over before the page existed, or by a run that ended first, waits in the record.
    d->takeRecordedActs();
}

LibraryPage::~LibraryPage() { delete d; }

void LibraryPage::setViewMode(int mode)
{
    TraceLogger trace("LibraryPage::setViewMode",
        objectName() + QStringLiteral("Change viewMode to ")
            + (mode == Enums::View_Cards ? QStringLiteral("'Cards'") : QStringLiteral("'Table'")));
    if (mode == Enums::View_Table)
        d->listWidget->widget()->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    else if (mode == Enums::View_Cards)
        d->listWidget->widget()->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    d->listWidget->setCurrentLayoutId(mode);
    d->viewMode = mode;
    if (SettingsProvider* settings = SettingsProvider::instance())
        settings->setLibrary_view_mode(Enums::LibraryViewMode(mode));
    d->syncColumns();
}

int LibraryPage::viewMode() const { return d->viewMode; }

void LibraryPage::setTrashMode(bool trash)
{
    d->trash = trash;
    // Every change of visibility lays the window out at once: were the coming buttons shown while
    // the leaving ones still stand, the window's minimum would take all four, and the window would
    // grow to it and stay that wide.
    const QList<KelButton*> trashButtons { d->restoreAllButton, d->clearTrashButton };
    const QList<KelButton*> addButtons { d->addBookButton, d->addFolderButton };
    for (KelButton* button : trash ? addButtons : trashButtons)
        button->hide();
    for (KelButton* button : trash ? trashButtons : addButtons)
        button->show();
}

bool LibraryPage::isTrashMode() const { return d->trash; }

void LibraryPage::translateUi()
{
    updateIsEmptyText();
    d->addBookButton->setText(libraryText("Add book"));
    d->addFolderButton->setText(libraryText("Add folder"));
    d->viewModeGroup->button(int(Enums::View_Cards))->setObjectName(QStringLiteral("Bookshelf"));
    d->viewModeGroup->button(int(Enums::View_Table))->setObjectName(QStringLiteral("Table view"));
    d->searchLineEdit->setPlaceholderText(libraryText("Search in Library"));
    d->restoreAllButton->setText(libraryText("Restore all"));
    d->clearTrashButton->setText(libraryText("Clear trash"));
    d->popupMenu->translateUi();
    d->tableHeader->retranslateUi();
    d->listWidget->retranslateItems();
    d->dropIndicator->setText(libraryText("Drop books here ..."));
    d->syncColumns();
}

void LibraryPage::updateIsEmptyText()
{
    const QString search = d->filter ? d->filter->searchText() : QString();
    const int category = d->filter ? d->filter->filterCategory() : int(Enums::AllBooks);
    QString name;
    if (category >= Enums::MaxBookFormat) {
        if (d->folders)
            name = d->folders->indexById(category - Enums::MaxBookFormat).data().toString();
    } else if (category >= Enums::BookFormat) {
        name = bookFormatName(category - Enums::BookFormat);
    } else {
        const char* text = nullptr;
        switch (category) {
        case Enums::RecentlyRead:
            text = "Recently Read (%1)";
            break;
        case Enums::AllBooks:
            text = "All (%1)";
            break;
        case Enums::Favorites:
            text = "Favorites (%1)";
            break;
        case Enums::Deleted:
            text = "Deleted (%1)";
            break;
        default:
            qCritical() << "Unknown category:" << category;
        }
        if (text)
            name = categoryEntryName(text);
    }
    QString message;
    if (search.isEmpty())
        message = name.isEmpty() ? libraryText("You don’t have a books")
                                 : libraryText("You don’t have a books in \"%1\"").arg(name);
    else
        message = name.isEmpty() ? libraryText("\"%1\" not found").arg(search)
                                 : libraryText("\"%1\" is not found in \"%2\"").arg(search, name);
    d->emptyLabel->setText(message);
}

void LibraryPage::onActionClicked(BookItemWidget* item, Enums::LibraryAction action, QVariant data)
{
    TraceLogger trace("LibraryPage::onActionClicked", QStringLiteral("Library action clicked"));
    const QModelIndex index = d->listWidget->modelIndexForItem(item);
    if (!d->filter)
        return;
    QPointer<BookItemWidget> shown(item);
    // The item's buttons turned as clicked: a change the library did not take turns them back.
    if (!d->filter->setData(index, data, action) && shown) {
        const QModelIndex stored = d->listWidget->modelIndexForItem(shown);
        if (stored.isValid())
            shown->readFrom(stored);
    }
}

void LibraryPage::onDragStarted(BookItemWidget* item, const QPixmap& pixmap, const QPoint& hotSpot)
{
    QMimeData* mime = bookIdsToMimeData({ d->listWidget->modelIndexForItem(item) });
    if (!mime) {
        qWarning() << "Start drag failed!";
        return;
    }
    DragIcon* icon = Ui::instance() ? Ui::instance()->dragIcon() : nullptr;
    if (icon) {
        icon->setOverDropTarget(false);
        icon->showIcon(pixmap, hotSpot, mime);
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    QPixmap blank(1, 1);
    blank.setDevicePixelRatio(1.0);
    blank.fill(Qt::transparent);
    drag->setPixmap(blank);
    {
        // The drag runs its own loop: a hand-over meanwhile would change the rows being dragged.
        NestedLoop::Scope scope;
        drag->exec(Qt::CopyAction, Qt::CopyAction);
    }
    if (icon)
        icon->hideIcon();
}

void LibraryPage::addFiles(const QStringList& paths) { d->addHandedOver(paths, 0); }

// Each act of the record not taken yet, oldest first, as an act of its own.
void LibraryPage::Private::takeRecordedActs()
{
    if (!QSqlDatabase::database(QSqlDatabase::defaultConnection, false).isOpen())
        return;
    QList<int> order;
    QHash<int, QStringList> filesOf;
    for (const HandedOverFile& file : BookProvider::instance()->handedOverFiles()) {
        if (takenRecords.contains(file.act))
            continue;
        if (!filesOf.contains(file.act))
            order << file.act;
        if (!filesOf[file.act].contains(file.path))
            filesOf[file.act] << file.path;
    }
    for (int act : qAsConst(order)) {
        takenRecords.insert(act);
        addHandedOver(filesOf.value(act), act);
    }
}

void LibraryPage::Private::addHandedOver(const QStringList& paths, int record)
{
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    mime.setUrls(urls);
    QStringList files = bookFilesFromMimeData(&mime, supportedExtensions(), true);
    // Paths that give no book are named too, or a mistyped name would vanish without a word.
    QStringList refused;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.isDir())
            continue;
        QString reason;
        if (!info.exists())
            reason = refusalReason(ItemFileMissing, path);
        else if (!supportedExtensions().contains(info.suffix().toLower()))
            reason = refusalReason(ItemUnsupportedFormat, path);
        else if (!info.isReadable())
            reason = libraryText("the file cannot be read");
        if (!reason.isEmpty()) {
            qWarning().noquote() << "Not added:" << path << "-" << reason;
            refused << QStringLiteral("%1: %2").arg(info.fileName(), reason);
            files.removeAll(info.absoluteFilePath());
            // Refused is done: its answer is the list of refusals.
            if (record)
                BookProvider::instance()->forgetHandedOver(record, { path });
        }
    }
    if (files.isEmpty() && refused.isEmpty())
        return;
    // Under an open box the library changes only by its rows: the answer shows the books later.
    if (filter && !files.isEmpty() && !Application::boxIsOpen())
        filter->setFilterCategory(Enums::AllBooks);
    startImport(files, refused, true, record);
}

void LibraryPage::dragEnterEvent(QDragEnterEvent* event)
{
    if (QApplication::activeModalWidget()) {
        event->ignore();
        return;
    }
    d->droppedFiles = bookFilesFromMimeData(event->mimeData(), supportedExtensions(), true);
    if (d->droppedFiles.isEmpty()) {
        event->ignore();
        return;
    }
    event->accept();
    const int top = d->tableHeader->geometry().bottom();
    d->dropIndicator->setGeometry(0, top, width(), height() - top);
    d->dropIndicator->setVisibleAnimated(true, true);
    d->dropIndicator->raise();
}

void LibraryPage::dragLeaveEvent(QDragLeaveEvent* event)
{
    d->droppedFiles.clear();
    d->dropIndicator->setVisibleAnimated(false, true);
    QWidget::dragLeaveEvent(event);
}

void LibraryPage::dropEvent(QDropEvent* event)
{
    d->dropIndicator->setVisibleAnimated(false, true);
    if (d->droppedFiles.isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (d->filter)
        d->filter->setFilterCategory(Enums::AllBooks);
    d->startImport(d->droppedFiles);
    d->droppedFiles.clear();
    activateWindow();
}

KelButton* LibraryPage::addBookButton() const { return d->addBookButton; }
KelButton* LibraryPage::addFolderButton() const { return d->addFolderButton; }
KelButton* LibraryPage::restoreAllButton() const { return d->restoreAllButton; }
KelButton* LibraryPage::clearTrashButton() const { return d->clearTrashButton; }
KelButton* LibraryPage::viewModeButton(int mode) const { return d->viewModeGroup->button(mode); }
SearchLineEdit* LibraryPage::searchLineEdit() const { return d->searchLineEdit; }
KelIconLabel* LibraryPage::emptyLabel() const { return d->emptyLabel; }
KelListWidget* LibraryPage::listWidget() const { return d->listWidget; }
BookTableHeader* LibraryPage::tableHeader() const { return d->tableHeader; }
DropIndicator* LibraryPage::dropIndicator() const { return d->dropIndicator; }

// Each act is imported at once when none runs, else right after the one before it: an act joined
// to another would lose its own answer.
void LibraryPage::Private::startImport(
    const QStringList& files, const QStringList& refusedBefore, bool handedOver, int record)
{
    acts.append({ files, refusedBefore, handedOver, record });
    if (!importing)
        startNextAct();
}

void LibraryPage::Private::startNextAct()
{
    // A run that is no act of this page (a library archive's import, an export) ends first: an act
    // joined to it would lose its answer, and a stop of it would drop the act.
    while (!importing && !acts.isEmpty() && !quitting && !bookimporter::instance()->isRunning()) {
        current = acts.takeFirst();
        if (current.files.isEmpty()) {
            // Only files that give no book: the answer is their list.
            const QStringList lines = current.refused;
            askWhenNoBoxIsOpen([lines] {
                if (Ui* ui = Ui::instance())
                    ui->showBooksRefused(lines);
            });
            continue;
        }
        importing = true;
        // A new run resets the list when it starts; a running one (an archive import of the
        // settings) takes them at once.
        refusedBeforeStart = current.refused;
        if (!bookimporter::instance()->start(booksDir(), current.files, false)) {
            run.refused << current.refused;
            refusedBeforeStart.clear();
        }
    }
}

// An answer is a box: it waits for a box that is open, whose caller would otherwise find another
// book opened under it, and for the answers before it. Asked from the event loop, so that its box
// never holds the caller (the end of an import, whose next act must start).
void LibraryPage::Private::askWhenNoBoxIsOpen(std::function<void()> question)
{
    QMetaObject::invokeMethod(
        owner,
        [this, question = std::move(question)] {
            if (quitting)
                return;
            if (auto* app = Application::instance())
                app->runWhenNoBoxIsOpen(owner, question);
            else
                question();
        },
        Qt::QueuedConnection);
}

void LibraryPage::Private::refuse(const QString& path, const QString& reason)
{
    qWarning().noquote() << "Not added:" << path << "-" << reason;
    const QString name = QFileInfo(path).fileName();
    run.refused << QStringLiteral("%1: %2").arg(name.isEmpty() ? path : name, reason);
}

// The answer names the refused files unless its first box already told all there was: nothing
// added and a single file refused.
void LibraryPage::Private::reportRefused(const Outcome& run)
{
    const QStringList& lines = run.refused;
    // A status without a box of its own (a hand-over's missing file) is always listed.
    const bool firstBoxTold
        = run.addedIds.isEmpty() && run.protectedCount + run.failedCount + run.refusedArchiveCount > 0;
    const bool allOfTheStorageCause = run.protectedCount == 0 && lines.size() == run.storageRefusals;
    if (lines.isEmpty() || (firstBoxTold && (lines.size() == 1 || allOfTheStorageCause)))
        return;
    if (Ui* ui = Ui::instance())
        ui->showBooksRefused(lines);
}

// A large library gets widgets only for the rows near the viewport; the rest are measured without
// widgets: table rows have the height of their cover, cards the height their title and author take.
// Cards far from the view stand at the height of one line of each until the list measures them.
void LibraryPage::Private::setUpWindowedList()
{
    cardProbe = new BookItemWidget(Enums::View_Cards, nullptr, owner);
    cardProbe->setObjectName(QStringLiteral("CardProbe"));
    cardProbe->hide();
    listWidget->setWindowed(
        true, [this](const QModelIndex& index, int layoutId) { return rowExtent(index, layoutId); },
        [this](int layoutId) {
            return layoutId == Enums::View_Cards ? cardProbe->cardSize(QStringLiteral("A"), QStringLiteral("A"))
                                                 : QSize();
        });
}

QSize LibraryPage::Private::rowExtent(const QModelIndex& index, int layoutId) const
{
    if (layoutId != Enums::View_Cards)
        return QSize(0, thumbnailGeometry(0).outerSize().height());
    return cardProbe->cardSize(
        index.data(BookModel::TitleRole).toString(), index.data(BookModel::AuthorRole).toString());
}

void LibraryPage::Private::syncColumns()
{
    tableHeader->setViewMode(viewMode);
    if (viewMode != Enums::View_Table) {
        tableHeader->setColumnWidths({});
        return;
    }
    QMap<int, int> widths = tableHeader->columnWidths();
    listWidget->forEachItem([&widths](KelListWidgetItem* item, int) {
        auto* book = dynamic_cast<BookItemWidget*>(item);
        if (!book)
            return;
        const QMap<int, int> minimum = book->columnMinimumWidths();
        for (auto it = minimum.begin(); it != minimum.end(); ++it)
            widths[it.key()] = qMax(widths.value(it.key()), it.value());
    });
    // Only rows near the view have widgets: the header follows the first one there is.
    BookItemWidget* first = nullptr;
    listWidget->forEachItem([&widths, &first](KelListWidgetItem* item, int) {
        if (auto* book = dynamic_cast<BookItemWidget*>(item)) {
            book->setColumnWidths(widths);
            if (!first)
                first = book;
        }
    });
    if (!first)
        return;
    tableHeader->setColumnWidths(first->columnWidths());
    // A row takes a new width in its own layout pass, after this one (a maximised window): the
    // header follows it again then.
    QPointer<BookItemWidget> row(first);
    QTimer::singleShot(0, tableHeader, [this, row] {
        if (row && viewMode == Enums::View_Table)
            tableHeader->setColumnWidths(row->columnWidths());
    });
}

void LibraryPage::Private::importStarted()
{
    // The previous run's books go in, and get their answer, before this run's bookkeeping.
    storePending(true);
    stopped = false;
    processedCount = 0;
    run = Outcome();
    run.refused = refusedBeforeStart;
    refusedBeforeStart.clear();
}

void LibraryPage::Private::itemProcessed(ItemStatus status, const BookDto& book)
{
    // At the end what was read is stored by the end's own pass.
    if (stopped || quitting)
        return;
    ++processedCount;
    if (status != ItemAdded && status != ItemAlreadyInLibrary)
        refuse(book.full_path, refusalReason(status, book.full_path));
    // A file that brings no new book is done with its report; an added one when it is stored.
    if (status != ItemAdded && runRecord())
        BookProvider::instance()->forgetHandedOver(runRecord(), { book.full_path });
    if (status == ItemProtected) {
        ++run.protectedCount;
    } else if (status == ItemFolderNotWritable || status == ItemDiskFull || status == ItemSeveralBooksInArchive) {
        ++run.failedCount;
        if (run.causeStatus == ItemAdded) {
            run.causeStatus = status;
            run.causePath = status == ItemSeveralBooksInArchive ? book.full_path : bookDataDir(book.full_path);
        }
        if (status == run.causeStatus && status != ItemSeveralBooksInArchive)
            ++run.storageRefusals;
    } else if (isFailure(status)) {
        ++run.failedCount;
    } else if (status == ItemUnsupportedArchivedBook) {
        if (run.refusedArchiveCount++ == 0)
            run.firstRefusedArchive = book.full_path;
    } else if (status == ItemAlreadyInLibrary) {
        ++run.existingCount;
        if (run.firstExistingPath.isEmpty())
            run.firstExistingPath = book.full_path;
    } else if (status == ItemAdded && books) {
        // Stored in batches between the window's other work: a run of many small books arrives
        // at once and would hold the window while each is stored and shown.
        toStore.append(book);
        toStoreRecords.append(runRecord());
        if (!storeTimer.isActive())
            storeTimer.start(0);
    }
}

void LibraryPage::Private::storeBatch()
{
    // One batch holds the books of one act, whose files leave the record as they are stored.
    const int record = toStoreRecords.value(0);
    int size = 0;
    while (size < batchSize && size < toStore.size() && toStoreRecords.at(size) == record)
        ++size;
    const QList<BookDto> batch = toStore.mid(0, size);
    toStore = toStore.mid(size);
    toStoreRecords = toStoreRecords.mid(size);
    QElapsedTimer timer;
    timer.start();
    const QList<int> ids = books ? books->addBooks(batch, record) : QList<int>();
    for (int i = 0; i < batch.size(); ++i) {
        const BookDto& book = batch.at(i);
        const int id = ids.value(i, -1);
        if (id <= 0) {
            // The library refused the row, not the book: the file is listed with that reason, never
            // called damaged, and a library that cannot be written tells its cause itself.
            refuse(book.full_path, libraryText("the library could not store it"));
            // A full disk the library told of is this run's cause as well: counted with the books
            // it kept out, so that neither the answer nor the list of refused files repeats it.
            if (BookProvider::instance()->toldStorageFailure(checkedsave::Failure::DiskFull, book.full_path)) {
                ++run.failedCount;
                if (run.causeStatus == ItemAdded) {
                    run.causeStatus = ItemDiskFull;
                    run.causePath = bookDataDir(book.full_path);
                }
                if (run.causeStatus == ItemDiskFull)
                    ++run.storageRefusals;
            }
            continue;
        }
        run.addedIds << id;
        if (folders && !book.folder_title.isEmpty())
            folders->addBookToCategory(id, folders->findOrAddCategory(book.folder_title));
        ++run.addedPerFormat[bookFormatName(book.format)];
    }
    // About 10 ms of storing a batch, whatever one book costs on this machine. The footer's
    // progress, painted at once when its bar moves, is not the batch's: counted in, it would make
    // the batches small and their number, and the painting with it, large.
    const qint64 spent = timer.elapsed();
    bookimporter::instance()->booksSettled(batch.size());
    if (spent < 5 && batchSize < 32)
        batchSize *= 2;
    else if (spent > 15 && batchSize > 1)
        batchSize /= 2;
}

// Stores what waits, yielding to the window every few milliseconds and holding while the import
// is paused; the answer follows the last book.
void LibraryPage::Private::storePending(bool all)
{
    QElapsedTimer timer;
    timer.start();
    while (!toStore.isEmpty()) {
        if (!all && bookimporter::instance()->isPaused()) {
            storeTimer.start(bookimporter::kPauseStepMs);
            return;
        }
        if (!all && timer.elapsed() >= 12) {
            storeTimer.start(0);
            return;
        }
        storeBatch();
    }
    if (finishPending) {
        finishPending = false;
        // The books are stored; only the answer waits, with what this run did.
        const Outcome done = run;
        run.refused.clear();
        askWhenNoBoxIsOpen([this, done] { importFinished(done); });
        // Whatever of the act the importer did not report (a file that became a folder) is done too.
        if (runRecord())
            BookProvider::instance()->forgetHandedOver(runRecord());
        // The next act starts now, not after the answer: the answer's box, and a book read from it,
        // may stay open for long.
        importing = false;
        current = Act();
        startNextAct();
    }
}

// After a stop nothing more is stored: neither what waits nor what the run still reports.
void LibraryPage::Private::stop()
{
    stopped = true;
    storeTimer.stop();
    toStore.clear();
    toStoreRecords.clear();
    // The person stopped this act: its files are not added later either. Another act's record
    // (one waiting for a library archive's import that was stopped) stays.
    if (runRecord())
        BookProvider::instance()->forgetHandedOver(runRecord());
}

// Shows the book among all books, clearing a search it does not match, and scrolls to it; the row
// in the filter, invalid when the book is gone.
QModelIndex LibraryPage::Private::showAddedBook(int id)
{
    if (!filter || !books)
        return QModelIndex();
    filter->setFilterCategory(Enums::AllBooks);
    QModelIndex index = filter->mapFromSource(books->indexById(id));
    if (!index.isValid() && !filter->searchText().isEmpty()) {
        searchLineEdit->clear();
        filter->setSearchText(QString());
        index = filter->mapFromSource(books->indexById(id));
    }
    if (index.isValid())
        listWidget->scrollToRow(index.row());
    return index;
}

// Scrolls to the first of the added books in the list's order: the newest stand first unless the
// user sorted otherwise.
void LibraryPage::Private::showAddedBooks(const QList<int>& ids)
{
    if (!filter || !books)
        return;
    filter->setFilterCategory(Enums::AllBooks);
    int first = -1;
    for (int id : ids) {
        const QModelIndex index = filter->mapFromSource(books->indexById(id));
        if (index.isValid() && (first < 0 || index.row() < first))
            first = index.row();
    }
    if (first >= 0)
        listWidget->scrollToRow(first);
}

void LibraryPage::Private::importFinished(const Outcome& run)
{
    Ui* ui = Ui::instance();
    if (!ui)
        return;
    qInfo() << "Import answered; books added:" << run.addedIds.size();
    if (run.addedIds.isEmpty()) {
        if (run.protectedCount > 0)
            ui->showBookProtected();
        else if (run.causeStatus == ItemSeveralBooksInArchive)
            ui->showSeveralBooksInArchive(run.causePath);
        else if (run.causeStatus == ItemFolderNotWritable || run.causeStatus == ItemDiskFull) {
            // The library may have told the same cause already, when it could not store a book of
            // this run on the same disk: the user hears of it once.
            const checkedsave::Failure failure
                = run.causeStatus == ItemDiskFull ? checkedsave::Failure::DiskFull : checkedsave::Failure::NotWritable;
            if (!BookProvider::instance()->toldStorageFailure(failure, run.causePath))
                ui->showStorageFailure(failure, run.causePath, false);
        } else if (run.failedCount > 0)
            ui->showBookDamaged();
        else if (run.refusedArchiveCount > 0)
            showArchiveRefused(ui, run.firstRefusedArchive);
        else if (run.existingCount > 0)
            ui->showBookExists(run.firstExistingPath);
        reportRefused(run);
        return;
    }
    if (run.addedIds.size() == 1) {
        const int id = run.addedIds.first();
        showAddedBook(id);
        // The book is answered by its id: its card may not exist yet (a hidden or still laid out
        // list), and the box's own event loop may change the rows meanwhile.
        const bool readNow = ui->showBookAdded();
        const QModelIndex index = showAddedBook(id);
        if (readNow) {
            if (index.isValid())
                filter->setData(index, QVariant(), Enums::Open);
            else if (books)
                books->setData(books->indexById(id), QVariant(), Enums::Open);
        } else if (owner->isVisible()) {
            // Selected only where the person sees it: the keys stay with the page on show.
            if (auto* item = dynamic_cast<BookItemWidget*>(listWidget->itemForIndex(index)))
                item->setFocus();
        }
    } else {
        showAddedBooks(run.addedIds);
        ui->showBooksAdded(run.addedIds.size());
    }
    QStringList parts;
    for (auto it = run.addedPerFormat.begin(); it != run.addedPerFormat.end(); ++it) {
        parts << (it.value() > 1 && run.addedPerFormat.size() > 1
                ? QStringLiteral("%1_%2").arg(it.key()).arg(it.value())
                : it.key());
    }
    MetricSender::addMetric(
        QStringLiteral("addedbks"), QString::number(run.addedIds.size()), parts.join(QLatin1Char(',')));
    reportRefused(run);
}

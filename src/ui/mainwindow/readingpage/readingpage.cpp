#include "readingpage.h"

#include "abstractviewer.h"
#include "appdirs.h"
#include "application.h"
#include "bookcontext.h"
#include "bookmarksbox.h"
#include "bookpageparams.h"
#include "checkedsave.h"
#include "eventfilters/kelglobalmousewatcher.h"
#include "eventloops/nestedloop.h"
#include "formats/bookformat.h"
#include "formats/endrequest.h"
#include "hotkeys.h"
#include "kelui.h"
#include "metrics/metricsender.h"
#include "models/bookmodel.h"
#include "notepopup.h"
#include "notesbox.h"
#include "passwordprompt.h"
#include "printbox.h"
#include "readingfooter.h"
#include "readingservices.h"
#include "readingsidebar.h"
#include "readingtoolbar.h"
#include "searchbox.h"
#include "settingsbox.h"
#include "slidebox.h"
#include "styles/kelstyle.h"
#include "tocbox.h"
#include "ui.h"
#include "utils/kelwidgettreeutils.h"
#include "widgets/installscrollbars.h"
#include "widgets/kelbutton.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/kellabel.h"
#include "windows/kelpopupmenu.h"
#include "windows/kelpopupmenubutton.h"
#include "windows/kelwindow.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMap>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QStackedLayout>
#include <QStackedWidget>
#include <QTextCodec>
#include <QTimer>
#include <QWindow>

namespace {

using SideBar = ReadingEnums::SideBar;

const char* const kEncodings[]
    = { "UTF-8", "UTF-16", "ISO-8859-1", "Windows-1251", "KOI8-R", "Shift JIS", "Windows-1252", "EUC-KR", "EUC-JP",
          "GBK", "ISO-8859-2", "Windows-1250", "ISO-8859-15", "Windows-1256", "ISO-8859-9", "Big5", "Windows-1254" };

QWidget* viewerWidget(const QSharedPointer<BookContext>& context)
{
    return context ? dynamic_cast<QWidget*>(context->viewer()) : nullptr;
}

bool supports(const QSharedPointer<BookContext>& context, AbstractViewer::Feature feature)
{
    AbstractViewer* viewer = context ? context->viewer() : nullptr;
    return viewer && viewer->supports(feature);
}

// The first non-empty line of the trimmed text.
QString firstLine(const QString& text)
{
    for (const QString& line : text.trimmed().split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            return line.trimmed();
    }
    return QString();
}

BookModel* bookModel()
{
    Application* app = Application::instance();
    if (app && app->bookModel())
        return app->bookModel();
    return ReadingServices::bookModel();
}

} // namespace

class ReadingPage::Private : public QObject {
public:
    Private(ReadingPage* owner, QWidget* pages)
        : QObject(owner)
        , q(owner)
        , pageStack(pages)
    {
    }

    void relayout();
    void registerSideBar(ReadingSideBar* page);
    void updateTitle();
    void applyViewerColors();
    void onViewerDirtyChanged(bool dirty);
    void onMousePressInsideViewer();
    void onExternalLinkClicked(const QString& url, bool ask, const QWeakPointer<BookContext>& asking);
    bool cursorNearBars() const;
    void onGlobalMouseMoved();
    void onAutoHideTimeout();
    void raiseOverlays();
    void scheduleSpinnerOff();
    // Follows the library of the open book: a book moved to the trash, or out of the library, is
    // let go at once, while its data folder is still there to take its state.
    void watchLibrary(BookModel* books);
    void closeIfNotInLibrary();

    ReadingPage* q;
    QPointer<BookModel> library;
    QPointer<QWidget> pageStack;
    ReadingToolBar* toolBar = nullptr;
    ReadingSpinner* spinner = nullptr;
    NotePopup* notePopup = nullptr;
    SlideBox* leftBox = nullptr;
    SlideBox* rightBox = nullptr;
    ReadingFooter* footer = nullptr;
    QMap<int, ReadingSideBar*> sideBars;
    bool fullscreen = false;
    QTimer autoHideTimer;
    QPointer<KelGlobalMouseWatcher> mouseWatcher;
    QPointer<KelPopupMenu> encodingMenu;
    bool viewerIsDirty = false;
    bool viewerSupportsZoom = false;
    // The last page shown while the viewer is hidden to load a chapter.
    QPixmap lastPage;
};

void ReadingPage::Private::relayout()
{
    const int w = q->width();
    const int h = q->height();
    const int toolbarH = toolBar->minimumSizeHint().height();
    const int leftW = leftBox->minimumSizeHint().width();
    const int rightW = qMax(rightBox->sizeHint().width(), rightBox->minimumWidth());
    const int footerH = footer->minimumSizeHint().height();
    toolBar->setGeometry(0, 0, w, toolbarH);
    leftBox->setGeometry(0, toolbarH, leftW, h - toolbarH);
    rightBox->setGeometry(w - rightW, toolbarH, rightW, h - toolbarH);
    footer->setGeometry(0, h - footerH, w, footerH);
    QWidget* viewer = viewerWidget(q->bookContext());
    QPoint origin(0, toolbarH);
    if (!viewer) {
        spinner->setGeometry(0, toolbarH, w, h - toolbarH);
    } else if (fullscreen) {
        viewer->setGeometry(0, 0, w, h);
        spinner->setGeometry(0, 0, w, h);
        origin = QPoint(0, 0);
    } else {
        viewer->setGeometry(0, toolbarH, w, h - footerH - toolbarH + 1);
        // Over a text book the spinner also covers the footer, which has nothing to show yet.
        spinner->setGeometry(0, toolbarH, w, viewerSupportsZoom ? h - footerH - toolbarH + 1 : h - toolbarH + 1);
    }
    notePopup->setAnchorOffset(origin);
}

void ReadingPage::Private::registerSideBar(ReadingSideBar* page)
{
    const int key = page->sideBarType();
    sideBars.insert(key, page);
    if (key & ReadingEnums::LeftSideMask)
        leftBox->pagesStack()->addWidget(page);
    else if (key & ReadingEnums::RightSideMask)
        rightBox->pagesStack()->addWidget(page);
    connect(page, &ReadingSideBar::closeRequest, q, &ReadingPage::closeSideBars);
}

void ReadingPage::Private::updateTitle()
{
    const QSharedPointer<BookContext> context = q->bookContext();
    if (!context) {
        emit q->bookTitleChanged(QString());
        return;
    }
    BookModel* model = bookModel();
    const QString bookTitle
        = firstLine(model ? model->bookById(context->bookDto().id).title : context->bookDto().title);
    const QString chapterTitle = firstLine(context->currentChapterTitle());
    QStringList parts;
    if (!bookTitle.isEmpty())
        parts << bookTitle;
    if (!chapterTitle.isEmpty())
        parts << chapterTitle;
    emit q->bookTitleChanged(parts.join(QStringLiteral(": ")));
}

void ReadingPage::Private::applyViewerColors()
{
    const QSharedPointer<BookContext> context = q->bookContext();
    if (!context || !context->pageParams())
        return;
    KelStyle* style = kelStyle();
    ViewerColors colors;
    colors.background = style->color(2);
    colors.text = style->defaultTextColor();
    colors.link = style->color(KelStyle::CL_Text_Link);
    const int roles[] = { 1025, 1028, 1031, 1034, 1037 };
    for (int i = 0; i < 5; ++i)
        colors.noteColors.insert(i + 1, style->color(roles[i]));
    context->pageParams()->setPageColors(colors);
    if (auto* area = dynamic_cast<QAbstractScrollArea*>(context->viewer()))
        installScrollBars(area, 0);
}

void ReadingPage::Private::onViewerDirtyChanged(bool dirty)
{
    viewerIsDirty = dirty;
    if (dirty && spinner->mode() == ReadingSpinner::Nothing)
        spinner->setMode(viewerSupportsZoom ? ReadingSpinner::ImageViewerLoadPage : ReadingSpinner::WebViewResize);
    else if (!dirty)
        spinner->setMode(ReadingSpinner::Nothing);
}

void ReadingPage::Private::onMousePressInsideViewer()
{
    const QSharedPointer<BookContext> context = q->bookContext();
    if (!context || !q->isSideBoxVisible())
        return;
    qInfo() << "Viewer clicked with visible sidebars";
    q->closeSideBars();
    if (context->viewer())
        context->viewer()->setSkipNextClick(true);
}

void ReadingPage::Private::onExternalLinkClicked(const QString& url, bool ask, const QWeakPointer<BookContext>& asking)
{
    qCritical() << "External link requested:" << url << ask;
    if (url.isEmpty())
        return;
    // The link leaves only for the book whose page was clicked, and only while it is the one open:
    // the question's answer may come after another book took its place.
    QPointer<ReadingPage> page(q);
    const auto askingIsOpen = [page, asking] {
        const QSharedPointer<BookContext> context = asking.toStrongRef();
        return page && context && page->bookContext() == context;
    };
    if (!askingIsOpen()) {
        qInfo() << "The book that asked to open a link is no longer open:" << url;
        return;
    }
    Ui* ui = Ui::instance();
    if (ask && !(ui && ui->askOpenExternalLink()))
        return;
    if (!askingIsOpen()) {
        qInfo() << "The book that asked to open a link closed before the answer:" << url;
        return;
    }
    q->setFullscreen(false);
    if (KelUi* kelUi = KelUi::instance())
        kelUi->openLinkInSuitableApp(url);
}

bool ReadingPage::Private::cursorNearBars() const
{
    const QPoint pos = toolBar->mapFromGlobal(QCursor::pos());
    const bool nearTop = pos.y() < toolBar->height() + toolBar->geometry().bottom();
    const bool nearBottom = pos.y() > footer->geometry().top() - footer->height();
    return (nearTop || nearBottom) && pos.x() >= 0 && pos.x() <= q->width();
}

void ReadingPage::Private::onGlobalMouseMoved()
{
    if (!cursorNearBars())
        return;
    autoHideTimer.start();
    toolBar->showAnimated();
    footer->showAnimated();
}

void ReadingPage::Private::onAutoHideTimeout()
{
    if (cursorNearBars() || q->isSideBoxVisible() || QApplication::mouseButtons() != Qt::NoButton
        || QApplication::activePopupWidget()) {
        autoHideTimer.start();
        return;
    }
    toolBar->hideAnimated();
    footer->hideAnimated();
}

void ReadingPage::Private::raiseOverlays()
{
    toolBar->raise();
    footer->raise();
    spinner->raise();
    leftBox->raise();
    rightBox->raise();
}

void ReadingPage::Private::scheduleSpinnerOff()
{
    QTimer::singleShot(0, q, [this] {
        if (!viewerIsDirty)
            spinner->setMode(ReadingSpinner::Nothing);
    });
}

void ReadingPage::Private::watchLibrary(BookModel* books)
{
    if (library == books)
        return;
    if (library)
        disconnect(library, nullptr, this, nullptr);
    library = books;
    if (!books)
        return;
    // At once, not queued: the trash may be emptied, the book's data folder with it, right after.
    const auto check = [this] { closeIfNotInLibrary(); };
    connect(books, &QAbstractItemModel::dataChanged, this, check);
    connect(books, &QAbstractItemModel::modelReset, this, check);
    connect(books, &QAbstractItemModel::rowsRemoved, this, check);
}

void ReadingPage::Private::closeIfNotInLibrary()
{
    if (!q->bookContext() || !library)
        return;
    const int id = q->bookContext()->bookDto().id;
    const QModelIndex row = library->indexById(id);
    if (row.isValid() && !row.data(BookModel::DeletedRole).toBool())
        return;
    qInfo() << "Book" << id << "went to the trash or left the library: it is closed";
    q->closeBook();
}

ReadingPage::ReadingPage(QWidget* parent)
    : QWidget(parent)
    , KelStyleable(-1)
    , d(new Private(this, parent))
{
    d->toolBar = new ReadingToolBar(this);
    d->toolBar->setObjectName(QStringLiteral("TopToolBar"));
    d->spinner = new ReadingSpinner(this);
    d->spinner->setObjectName(QStringLiteral("Spinner"));
    d->notePopup = new NotePopup(this);
    d->leftBox = new SlideBox(QMargins(0, 0, 1, 0), this);
    d->leftBox->setObjectName(QStringLiteral("LeftSlide"));
    d->rightBox = new SlideBox(QMargins(1, 0, 0, 0), this);
    d->rightBox->setObjectName(QStringLiteral("RightSlide"));
    d->footer = new ReadingFooter(this);
    d->footer->setObjectName(QStringLiteral("Footer"));
    d->toolBar->setSlideParams(Qt::TopEdge, 16);
    d->footer->setSlideParams(Qt::BottomEdge, 16);
    d->leftBox->setSlideParams(Qt::LeftEdge, 16);
    d->rightBox->setSlideParams(Qt::RightEdge, 16);
    d->leftBox->hide();
    d->rightBox->hide();
    d->autoHideTimer.setSingleShot(true);
    d->autoHideTimer.setInterval(500);
    connect(&d->autoHideTimer, &QTimer::timeout, d, [this] { d->onAutoHideTimeout(); });

    d->registerSideBar(new TocBox(this));
    d->registerSideBar(new NotesBox(this));
    d->registerSideBar(new BookmarksBox(this));
    d->registerSideBar(new SearchBox(this));
    auto* settingsBox = new SettingsBox(this);
    d->registerSideBar(settingsBox);
    d->registerSideBar(new PrintBox(this));
    connect(settingsBox, &SettingsBox::goToAppSettingsClicked, this, &ReadingPage::goToAppSettingsClicked);

    connect(d->leftBox->closeButton(), &KelButton::clicked, this, &ReadingPage::closeSideBars);
    connect(d->rightBox->closeButton(), &KelButton::clicked, this, &ReadingPage::closeSideBars);
    connect(d->toolBar->sideBarGroup(), &KelExclusiveButtonGroup::toggled, this,
        [this](KelButton*, const QVariant& value) { showSideBar(SideBar(value.toInt())); });
    connect(d->toolBar->libraryButton(), &KelButton::clicked, this, [this] {
        closeSideBars();
        emit goToLibraryClicked();
    });
    connect(d->toolBar->fullscreenButton(), &KelButton::toggled, this, &ReadingPage::setFullscreen);
    connect(this, &ReadingPage::bookTitleChanged, d->toolBar, &ReadingToolBar::setTitle);
    if (KelUi* ui = KelUi::instance())
        connect(ui, &KelUi::linkOpened, this, [this] { setFullscreen(false); });
    if (auto* window = qobject_cast<KelWindow*>(parent ? parent->window() : nullptr)) {
        connect(window, &KelWindow::resizeByUserStarted, this, [] { qCritical() << "RESIZE MODE" << true; });
        connect(window, &KelWindow::resizeByUserFinished, this, [] { qCritical() << "RESIZE MODE" << false; });
    }
    d->notePopup->installEventFilter(this);
    d->toolBar->volumePopup()->installEventFilter(this);
    d->leftBox->installEventFilter(this);
    d->rightBox->installEventFilter(this);
    d->raiseOverlays();
    translateUi();
    // In full screen the page is a window of its own that the main window does not take down
    // with it: quitting lets the book go here, whatever the windows are.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &ReadingPage::closeBook);
}

ReadingPage::~ReadingPage()
{
    // The parts go first, so that none follows a book the page no longer holds.
    closeBook();
    // The footer's filter watches the slider's tip, which stands in this page and comes before the
    // raised footer among its children: the footer goes first, so the tip never dies under the filter.
    delete d->footer;
    d->footer = nullptr;
}

void ReadingPage::closeBook()
{
    QSharedPointer<BookContext> current = bookContext();
    QPointer<QWidget> viewer = viewerWidget(current);
    current.clear();
    setBookContext(nullptr);
    // The viewer hands over its last position and lets the book go, which saves its state.
    delete viewer.data();
}

void ReadingPage::setBookContext(QSharedPointer<BookContext> context)
{
    BookContextWatcher::setBookContext(context);
    d->toolBar->setBookContext(context);
    d->notePopup->setBookContext(context);
    d->footer->setBookContext(context);
    for (ReadingSideBar* page : qAsConst(d->sideBars))
        page->setBookContext(context);
}

bool ReadingPage::openBook(int bookId)
{
    BookModel* model = bookModel();
    if (!model) {
        qCritical() << "No library to open book" << bookId << "from";
        return false;
    }
    d->watchLibrary(model);
    const BookDto book = model->bookById(bookId);
    QSharedPointer<BookContext> current = bookContext();
    // The same book stays open as it is, unless its file was replaced meanwhile.
    if (current && current->bookDto().id == bookId && current->viewer() && !current->bookFileChanged()) {
        d->viewerSupportsZoom = supports(current, AbstractViewer::Feature::Zoom);
        d->viewerIsDirty = false;
        QWidget* viewer = viewerWidget(current);
        if (viewer) {
            viewer->setFocus();
            viewer->show();
        }
        d->raiseOverlays();
        d->updateTitle();
        d->spinner->setMode(ReadingSpinner::Nothing);
        return true;
    }

    // The old book saves its state (with the viewer's position) as it goes; the viewer after.
    QPointer<QWidget> oldViewer = viewerWidget(current);
    current.clear();
    setBookContext(nullptr);
    QElapsedTimer timer;
    timer.start();
    d->relayout();
    NestedLoop::processEvents();
    delete oldViewer.data();
    auto context = QSharedPointer<BookContext>::create();
    const int cancelledPrompts = cancelledPasswordPrompts();
    // While the book file is checked and unpacked, the page shows that a book is on its way.
    d->spinner->setMode(ReadingSpinner::LoadBook);
    const bool opened = context->readBook(book, this) && context->viewer() && context->viewer()->readBook(context);
    d->spinner->setMode(ReadingSpinner::Nothing);
    // The program ends: the opening stopped, or what it showed goes at once.
    if (!opened && EndRequest::isRaised()) {
        if (QWidget* viewer = viewerWidget(context))
            delete viewer;
        return false;
    }
    if (!opened) {
        qWarning() << "Book" << bookId << "could not be opened:" << book.full_path;
        // The folder the book was read into: its data folder, or the run's in place of one that
        // cannot be written.
        const QString dataDir = context->dataFolder().isEmpty() ? bookDataDir(book.full_path) : context->dataFolder();
        if (QWidget* viewer = viewerWidget(context))
            delete viewer;
        context.reset();
        // The main window returns to the library; the user learns why, unless the user just
        // declined to give the book's password.
        Ui* ui = Ui::instance();
        if (ui && cancelledPasswordPrompts() == cancelledPrompts) {
            // A book is converted into its data folder to be read: a folder that cannot be
            // written or a full disk is the cause then, not the book.
            const checkedsave::Failure storage = checkedsave::classifyFolder(dataDir);
            if (storage != checkedsave::Failure::None)
                ui->showStorageFailure(storage, dataDir);
            else
                ui->showBookDamaged();
        }
        return false;
    }

    d->viewerSupportsZoom = supports(context, AbstractViewer::Feature::Zoom);
    d->viewerIsDirty = true;
    QWidget* viewer = viewerWidget(context);
    if (viewer) {
        viewer->show();
        viewer->setFocus();
        viewer->setAcceptDrops(false);
    }
    setBookContext(context);
    d->applyViewerColors();
    d->raiseOverlays();
    d->relayout();
    d->updateTitle();
    d->spinner->setSnapshotSource(viewer);
    d->scheduleSpinnerOff();

    MetricSender::addMetric(
        QStringLiteral("start"), bookFormatName(book.format), QString::number(timer.elapsed() / 1000));
    MetricSender::addMetric(QStringLiteral("bpgcnt"), QString::number(context->pageCount()), QString());
    return true;
}

void ReadingPage::onBookContextChanged(QSharedPointer<BookContext> context)
{
    d->lastPage = QPixmap();
    BookContext* book = context.data();
    m_bookConnections << connect(book, &BookContext::currentChapterTitleChanged, this, [this] { d->updateTitle(); });
    m_bookConnections << connect(
        book, &BookContext::viewerIsDirtyChanged, this, [this](bool dirty) { d->onViewerDirtyChanged(dirty); });
    AbstractViewer* viewer = book->viewer();
    if (!viewer)
        return;
    if (QWidget* widget = viewerWidget(context))
        widget->installEventFilter(this);
    m_bookConnections << connect(
        d->notePopup, &KelWidget::hided, book, [viewer] { viewer->clearSelection(); }, Qt::QueuedConnection);
    AbstractViewer::UserEvents* events = viewer->userEvents();
    m_bookConnections << connect(
        events, &AbstractViewer::UserEvents::mousePressed, this, [this] { d->onMousePressInsideViewer(); });
    m_bookConnections << connect(
        events, &AbstractViewer::UserEvents::fullscreenPressed, this, &ReadingPage::toggleFullscreen);
    // Queued: the question runs its own loop, which must not run inside the view's mouse handler
    // (the view may be gone when it returns).
    const QWeakPointer<BookContext> asking = context;
    m_bookConnections << connect(
        events, &AbstractViewer::UserEvents::externalLinkClicked, this,
        [this, asking](const QString& url, bool ask) { d->onExternalLinkClicked(url, ask, asking); },
        Qt::QueuedConnection);
    m_bookConnections << connect(
        events, &AbstractViewer::UserEvents::encodingMenuRequested, this, &ReadingPage::onEncodingMenuRequested);
}

void ReadingPage::resetBookState()
{
    d->viewerIsDirty = false;
    d->lastPage = QPixmap();
}

bool ReadingPage::isFullscreen() const { return d->fullscreen; }

void ReadingPage::toggleFullscreen() { setFullscreen(!QWidget::isFullScreen()); }

void ReadingPage::setSpinnerMode(ReadingSpinner::Mode mode) { d->spinner->setMode(mode); }

void ReadingPage::setFullscreen(bool on)
{
    if (d->fullscreen == on)
        return;
    qInfo() << "Set fullscreen:" << (on ? 1 : 0);
    d->fullscreen = on;
    d->spinner->setMode(ReadingSpinner::ChangeFullscreen);
    QWidget* mainWindow = d->pageStack ? d->pageStack->window() : nullptr;
    if (on) {
        qInfo() << "Detach reading page into separate window";
        hide();
        setParent(nullptr);
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
        if (mainWindow && mainWindow->windowHandle() && windowHandle()
            && mainWindow->windowHandle()->screen() != windowHandle()->screen()) {
            qInfo() << "Move reading page to new screen:" << mainWindow->windowHandle()->screen()
                    << "old screen:" << windowHandle()->screen();
            windowHandle()->setScreen(mainWindow->windowHandle()->screen());
            setGeometry(mainWindow->windowHandle()->screen()->geometry());
        }
        showFullScreen();
        setFocus();
        activateWindow();
        if (QWidget* viewer = viewerWidget(bookContext()))
            viewer->setFocus();
        if (mainWindow && mainWindow != this)
            mainWindow->hide();
    } else {
        qInfo() << "Put reading page back into pages stack";
        hide();
        // Straight from a window into its parent, so that its own native window goes with it: one
        // left behind as a child of the main window would still take the mouse, with positions
        // relative to the place where it stays, far from the page's.
        setParent(d->pageStack, Qt::Widget);
        if (auto* stack = qobject_cast<QStackedWidget*>(d->pageStack.data())) {
            stack->addWidget(this);
            stack->setCurrentWidget(this);
        }
        show();
        if (mainWindow) {
            mainWindow->show();
            mainWindow->activateWindow();
        }
        // The keys go on turning the pages.
        if (QWidget* viewer = viewerWidget(bookContext()))
            viewer->setFocus();
    }
    d->scheduleSpinnerOff();
    d->toolBar->fullscreenButton()->setCheckedSilently(on);
    d->toolBar->setFullscreenLook(on);
    d->footer->setFullscreenLook(on);
    if (on) {
        if (!d->toolBar->sideBarGroup()->checkedButton()) {
            d->toolBar->hide();
            d->footer->hide();
        }
        d->autoHideTimer.start();
        d->mouseWatcher = new KelGlobalMouseWatcher(this);
        connect(d->mouseWatcher, &KelGlobalMouseWatcher::mouseMoved, d, [this] { d->onGlobalMouseMoved(); });
    } else {
        d->toolBar->showAnimated();
        // The footer comes back after the page has settled in the main window.
        d->footer->hide();
        QTimer::singleShot(300, this, [this] {
            if (!d->fullscreen)
                d->footer->showAnimated();
        });
        d->autoHideTimer.stop();
        delete d->mouseWatcher;
    }
    d->relayout();
    MetricSender::addMetric(QStringLiteral("fscr"), on ? QStringLiteral("1") : QStringLiteral("0"), QString());
}

void ReadingPage::translateUi()
{
    d->toolBar->retranslateUi();
    d->notePopup->translateUi();
    d->footer->retranslateUi();
    for (ReadingSideBar* page : qAsConst(d->sideBars)) {
        page->retranslateUi();
        KelUtils::updateGeometriesRecursively(page);
    }
    updateGeometry();
    d->relayout();
}

void ReadingPage::applyStyle() { d->applyViewerColors(); }

QSize ReadingPage::minimumSizeHint() const { return QSize(0, 0); }

void ReadingPage::showSideBar(ReadingEnums::SideBar id)
{
    ReadingSideBar* page = d->sideBars.value(int(id));
    SlideBox* box = (id & ReadingEnums::LeftSideMask) ? d->leftBox
        : (id & ReadingEnums::RightSideMask)          ? d->rightBox
                                                      : nullptr;
    KelExclusiveButtonGroup* group = d->toolBar->sideBarGroup();
    if (!page || !box) {
        // The keys go back to the book: a control of a hidden box would keep taking them ("+" and
        // "-" to the font-size slider instead of the zoom).
        QWidget* focus = window()->focusWidget();
        QWidget* viewer = viewerWidget(bookContext());
        if (viewer && focus && (d->leftBox->isAncestorOf(focus) || d->rightBox->isAncestorOf(focus)))
            viewer->setFocus();
        d->leftBox->hideAnimated();
        d->rightBox->hideAnimated();
        const bool blocked = group->blockSignals(true);
        group->uncheckAll();
        group->blockSignals(blocked);
        return;
    }
    box->pagesStack()->setCurrentWidget(page);
    box->title()->setText(page->title());
    box->closeButton()->setToolTip(page->closeText());
    box->header()->setBorderWidths(page->hasTitleSeparator() ? QMargins(0, 0, 0, 1) : QMargins());
    d->leftBox->setVisibleAnimated(box == d->leftBox, true);
    d->rightBox->setVisibleAnimated(box == d->rightBox, true);
    group->setCheckedByUserDataSilently(int(id));
    d->relayout();
}

void ReadingPage::toggleSideBar(ReadingEnums::SideBar id)
{
    if (d->toolBar->sideBarGroup()->checkedUserData().toInt() == int(id))
        closeSideBars();
    else
        showSideBar(id);
}

void ReadingPage::closeSideBars()
{
    KelExclusiveButtonGroup* group = d->toolBar->sideBarGroup();
    if (!group->uncheckAll())
        showSideBar(ReadingEnums::None);
}

ReadingSideBar* ReadingPage::sideBar(ReadingEnums::SideBar id) const { return d->sideBars.value(int(id)); }

bool ReadingPage::isSideBoxVisible() const
{
    return d->toolBar->sideBarGroup()->checkedButton() != nullptr || d->leftBox->isVisible()
        || d->rightBox->isVisible();
}

ReadingToolBar* ReadingPage::toolBar() const { return d->toolBar; }
ReadingFooter* ReadingPage::footer() const { return d->footer; }
NotePopup* ReadingPage::notePopup() const { return d->notePopup; }
ReadingSpinner* ReadingPage::spinner() const { return d->spinner; }
SlideBox* ReadingPage::leftBox() const { return d->leftBox; }
SlideBox* ReadingPage::rightBox() const { return d->rightBox; }
QWidget* ReadingPage::encodingMenu() const { return d->encodingMenu; }

void ReadingPage::keyPressEvent(QKeyEvent* event)
{
    const QSharedPointer<BookContext> context = bookContext();
    if (!context || !context->viewer()) {
        event->ignore();
        return;
    }
    using Id = Hotkeys::Id;
    using Feature = AbstractViewer::Feature;
    if (event->matches(QKeySequence::Cancel)) {
        qWarning() << "Escape on the reading page, focus:" << QApplication::focusWidget();
        if (isSideBoxVisible())
            closeSideBars();
        else if (d->fullscreen)
            setFullscreen(false);
        return;
    }
    if (d->toolBar->handleKey(event))
        return;
    if (supports(context, Feature::Toc) && Hotkeys::matches(event, Id::Sidebar_Toc_Show)) {
        toggleSideBar(ReadingEnums::Toc);
        return;
    }
    if (supports(context, Feature::Notes) && Hotkeys::matches(event, Id::Sidebar_Notes_Show)) {
        toggleSideBar(ReadingEnums::Notes);
        return;
    }
    if (supports(context, Feature::Bookmarks)) {
        if (Hotkeys::matches(event, Id::Sidebar_Bookmarks_Show)) {
            toggleSideBar(ReadingEnums::Bookmarks);
            return;
        }
        if (Hotkeys::matches(event, Id::Sidebar_Bookmarks_Add)) {
            context->addBookmark();
            return;
        }
    }
    if (supports(context, Feature::Search) && Hotkeys::matches(event, Id::Sidebar_Search_Show)) {
        toggleSideBar(ReadingEnums::Search);
        return;
    }
    if (Hotkeys::matches(event, Id::Switch_Fullscreen)) {
        toggleFullscreen();
        return;
    }
    Ui* ui = Ui::instance();
    if (d->fullscreen && ui && ui->handleHotkey(event))
        return;
    event->ignore();
}

void ReadingPage::paintEvent(QPaintEvent* event)
{
    QWidget* viewer = viewerWidget(bookContext());
    if (d->lastPage.isNull() || !viewer || !viewer->isHidden())
        return;
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.drawPixmap(viewer->geometry().topLeft(), d->lastPage);
}

void ReadingPage::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    d->relayout();
}

void ReadingPage::closeEvent(QCloseEvent* event)
{
    // Closing the detached window only ends full screen.
    event->ignore();
    setFullscreen(false);
}

bool ReadingPage::eventFilter(QObject* watched, QEvent* event)
{
    // A sliding box has the page beneath repainted in strips, and the web view leaves a pixel column
    // of the text a strip's edge cuts through undrawn: once the box is gone, the whole page is drawn.
    if (event->type() == QEvent::Hide && (watched == d->leftBox || watched == d->rightBox)) {
        if (QWidget* viewer = viewerWidget(bookContext()))
            viewer->update();
    }
    // The text viewer hides itself while it loads a chapter. Whatever else repaints the page meanwhile
    // (a side box, its shadow) would leave the page empty there: the page keeps the last one on show.
    QWidget* viewer = viewerWidget(bookContext());
    if (viewer && watched == viewer) {
        if (event->type() == QEvent::Hide && viewer->isHidden() && isVisible()) {
            d->lastPage = viewer->grab();
        } else if (event->type() == QEvent::Show) {
            d->lastPage = QPixmap();
        }
        return QWidget::eventFilter(watched, event);
    }
    if (event->type() == QEvent::MouseButtonPress) {
        KelUi* ui = KelUi::instance();
        QWidget* under = ui ? ui->widgetUnderMouse() : nullptr;
        if (viewer && under && under->window() == window() && (under == viewer || viewer->isAncestorOf(under))) {
            qInfo() << "Viewer clicked with visible popup";
            bookContext()->viewer()->setSkipNextClick(true);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ReadingPage::onEncodingMenuRequested()
{
    const QSharedPointer<BookContext> context = bookContext();
    if (!context || !context->viewer())
        return;
    auto* menu = new KelPopupMenu(Qt::Vertical, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->installEventFilter(this);
    KelPopupMenuButton* encodingButton = menu->addPopupMenuButton(16, Qt::RightEdge, Qt::AlignTop);
    encodingButton->setText(QCoreApplication::translate("MainWindow_Reading_ContextMenu", "Encoding"));
    KelPopupMenu* list = encodingButton->popupMenu();
    list->installEventFilter(this);
    const QString current = context->encoding();
    for (const char* name : kEncodings) {
        QTextCodec* codec = QTextCodec::codecForName(name);
        if (!codec)
            continue;
        const QString listName = QString::fromLatin1(name);
        KelButton* item = list->addButton(15);
        item->setText(QString::fromLatin1(codec->name()));
        if (listName.compare(current, Qt::CaseInsensitive) == 0) {
            item->setCheckable(true);
            item->setCheckedSilently(true);
        }
        BookContext* book = context.data();
        connect(item, &KelButton::clicked, book, [book, listName] { book->changeEncoding(listName); });
    }
    d->encodingMenu = menu;
    menu->showAtCursor();
}

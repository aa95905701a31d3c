#include "mainwindow.h"

#include "application.h"
#include "appsettingspage/appsettingspage.h"
#include "dialogs/bookpropertiesdialog.h"
#include "enums.h"
#include "eventloops/nestedloop.h"
#include "librarypage/librarypage.h"
#include "models/bookmodel.h"
#include "models/booksortfiltermodel.h"
#include "platform/x11/kelnativewindowutils.h"
#include "readingpage/readingpage.h"
#include "settingsprovider.h"
#include "sidebar/sidebar.h"
#include "statusbar/statusbar.h"
#include "styles/kelstyle.h"
#include "ui.h"
#include "utils/kellayoututils.h"
#include "widgets/kelbutton.h"
#include "widgets/keliconwidget.h"
#include "widgets/kellabel.h"
#include "widgets/kelstackedwidget.h"
#include "windows/kelsplash.h"
#include "windows/keltitlebar.h"
#include "windows/kelwindowframe.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTimer>
#include <QVBoxLayout>

class MainWindow::Private {
public:
    KelButton* updateButton = nullptr;
    KelLabel* titleLabel = nullptr;
    ::SideBar* sideBar = nullptr;
    KelStackedWidget* pages = nullptr;
    LibraryPage* libraryPage = nullptr;
    AppSettingsPage* settingsPage = nullptr;
    ReadingPage* readingPage = nullptr;
    StatusBar* statusBar = nullptr;
};

namespace {

// The window is half built: a hand-over meanwhile would open a book in it.
void processPendingEvents() { NestedLoop::processEvents(); }

BookSortFilterModel* filterModel()
{
    Application* app = Application::instance();
    return app ? app->bookSortFilterModel() : nullptr;
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : KelWindow(0, WindowParams(0x3F), parent, ShadowType::Default, true, QStringLiteral("MainWindow"))
    , d(new Private)
{
    nativeWindowUtils()->setBlurBehindEnabled(true);
    setBlockedOverlayVisible(true);

    KelTitleBar* bar = titleBar();
    bar->appIcon()->setIcon(QStringLiteral(":/appicon.svg"));
    d->titleLabel = new KelLabel(1050, bar);
    // It shows the title of the book being read: text, whatever tags it holds.
    bar->titleLabel()->setTextFormat(Qt::PlainText);
    bar->leftWidgetsLayout()->addWidget(d->titleLabel);
    bar->rightWidgetsContainer()->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    d->updateButton = new KelButton(1015, bar->rightWidgetsContainer());
    d->updateButton->hide();
    bar->rightWidgetsLayout()->insertWidget(0, d->updateButton);
    QList<QWidget*> nonCaption { d->updateButton };
    for (int kind : { KelTitleBar::MinimizeButton, KelTitleBar::MaximizeButton, KelTitleBar::CloseButton }) {
        if (KelButton* button = bar->button(kind))
            nonCaption << button;
    }
    nativeWindowUtils()->addNonCaptionWidgets(nonCaption);

    d->sideBar = new ::SideBar(this);
    setSideBarWidget(d->sideBar);

    QVBoxLayout* layout = KelUtils::vBoxLayout(centralWidget(), QMargins(), 0);
    d->pages = new KelStackedWidget(centralWidget());
    d->statusBar = new StatusBar(centralWidget());
    layout->addWidget(d->pages, 1);
    layout->addWidget(d->statusBar);

    d->libraryPage = new LibraryPage(d->pages);
    d->pages->addWidget(d->libraryPage);
    processPendingEvents();
    d->settingsPage = new AppSettingsPage(d->pages);
    d->pages->addWidget(d->settingsPage);
    processPendingEvents();
    d->readingPage = new ReadingPage(d->pages);
    d->pages->addWidget(d->readingPage);
    processPendingEvents();

    BookSortFilterModel* proxy = filterModel();
    const int category = proxy ? proxy->filterCategory() : int(Enums::AllBooks);
    d->sideBar->setCurrentCategory(category);
    onCategoryClicked(category);

    connect(this, &KelWidget::showed, this, &MainWindow::onFirstShow, Qt::QueuedConnection);
    connect(this, &KelWidget::showed, d->readingPage, [this] { d->readingPage->setFullscreen(false); });
    if (Application* app = Application::instance()) {
        connect(app, &Application::updateAvalible, d->updateButton, &QWidget::show);
        if (BookModel* books = app->bookModel()) {
            connect(books, &BookModel::openBookClicked, this, &MainWindow::openBook);
            connect(books, &BookModel::showPropertiesClicked, this, [this](const QModelIndex& index) {
                BookPropertiesDialog dialog(index, this);
                dialog.exec();
            });
        }
    }
    connect(d->updateButton, &KelButton::clicked, this, [] {
        if (Ui* ui = Ui::instance())
            ui->openChangelog();
    });
    // The manual's address is a build setting, empty unless one is configured: no entry leads nowhere.
    d->sideBar->helpEntry()->setVisible(Application::instance() && !Application::instance()->manualUrl().isEmpty());
    connect(d->sideBar, &::SideBar::helpClicked, this, [] {
        if (Ui* ui = Ui::instance())
            ui->openHelp();
    });
    connect(d->sideBar, &::SideBar::showServiceModeWindowClicked, this, [] {
        if (Ui* ui = Ui::instance())
            ui->showServiceModeWindow();
    });
    if (proxy) {
        connect(proxy, &BookSortFilterModel::filterCategoryChanged, d->sideBar, &::SideBar::onFilterCategoryChanged);
        connect(d->sideBar, &::SideBar::categoryClicked, proxy, &BookSortFilterModel::setFilterCategory);
    }
    connect(d->sideBar, &::SideBar::categoryClicked, this, &MainWindow::onCategoryClicked);
    connect(d->readingPage, &ReadingPage::goToLibraryClicked, this, [this] { showPage(d->libraryPage); });
    connect(d->readingPage, &ReadingPage::goToAppSettingsClicked, this, [this] { showPage(d->settingsPage); });
    connect(d->readingPage, &ReadingPage::bookTitleChanged, this, &MainWindow::setBookTitle);
    processPendingEvents();

    translateUi();
    applyStyle();
    // The first start (no saved geometry) opens at a size that fits the pages; a size restored from
    // the saved geometry stays.
    setMinimumSize(760, 520);
    if (!testAttribute(Qt::WA_Resized))
        resize(1100, 740);
    restoreWindowGeometry();
    setObjectName(QStringLiteral("MainWindow"));
    centralWidget()->setObjectName(QStringLiteral("Content"));
    bar->setObjectName(QStringLiteral("TitleBar"));
    d->sideBar->setObjectName(QStringLiteral("SideBar"));
    d->pages->setObjectName(QStringLiteral("Pages"));
    d->libraryPage->setObjectName(QStringLiteral("Library"));
    d->settingsPage->setObjectName(QStringLiteral("Settings"));
    d->readingPage->setObjectName(QStringLiteral("Reading"));
    d->statusBar->setObjectName(QStringLiteral("StatusBar"));
}

MainWindow::~MainWindow()
{
    saveWindowGeometry();
    // In full screen the reading page is a window without a parent: nothing else deletes it.
    if (d->readingPage && d->readingPage->parentWidget() != d->pages)
        delete d->readingPage;
    delete d;
    d = nullptr;
}

::SideBar* MainWindow::sideBar() const { return d->sideBar; }
KelStackedWidget* MainWindow::pages() const { return d->pages; }
LibraryPage* MainWindow::libraryPage() const { return d->libraryPage; }
AppSettingsPage* MainWindow::settingsPage() const { return d->settingsPage; }
ReadingPage* MainWindow::readingPage() const { return d->readingPage; }
StatusBar* MainWindow::statusBar() const { return d->statusBar; }
KelButton* MainWindow::updateButton() const { return d->updateButton; }
KelLabel* MainWindow::bookTitleLabel() const { return titleBar()->titleLabel(); }

void MainWindow::openBook(int bookId)
{
    Application* app = Application::instance();
    if (!app || !app->bookModel())
        return;
    const BookDto book = app->bookModel()->bookById(bookId);
    if (!QFileInfo(book.full_path).isFile()) {
        const QString path = book.full_path;
        QTimer::singleShot(0, this, [path] {
            if (Ui* ui = Ui::instance())
                ui->showBookNotFound(path);
        });
        return;
    }
    // The book takes the whole window below the title bar.
    d->sideBar->hide();
    d->statusBar->hide();
    d->pages->setCurrentWidget(d->readingPage);
    setBookTitle(book.title);
    if (!d->readingPage->openBook(bookId))
        showPage(d->libraryPage);
}

void MainWindow::showPage(QWidget* page)
{
    d->readingPage->setFullscreen(false);
    d->pages->setCurrentWidget(page);
    BookSortFilterModel* proxy = filterModel();
    d->sideBar->setCurrentCategory(
        page != d->libraryPage ? int(Enums::AppSettings) : (proxy ? proxy->filterCategory() : int(Enums::AllBooks)));
    d->sideBar->show();
    d->statusBar->show();
    setBookTitle(QString());
}

void MainWindow::onCategoryClicked(int category)
{
    if (category == Enums::AppSettings) {
        d->pages->setCurrentWidget(d->settingsPage);
        return;
    }
    d->pages->setCurrentWidget(d->libraryPage);
    d->libraryPage->setTrashMode(category == Enums::Deleted);
}

void MainWindow::setBookTitle(const QString& title)
{
    const bool reading = d->pages->currentWidget() == d->readingPage || d->readingPage->isFullscreen();
    titleBar()->titleLabel()->setText(reading ? title : QString());
}

void MainWindow::onFirstShow()
{
    disconnect(this, &KelWidget::showed, this, &MainWindow::onFirstShow);
    KelApplication* app = KelApplication::instance();
    // Hidden, not closed: the splash may be inside its own hand-over, which closes (and deletes) it.
    if (app && app->isSplashVisible() && app->splash())
        app->splash()->hide();
    setBlockedOverlayVisible(false);
    if (SettingsProvider* settings = SettingsProvider::instance()) {
        if (settings->showFirstStartWizard())
            settings->setShowFirstStartWizard(false);
    }
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    Ui* ui = Ui::instance();
    if (ui && ui->handleHotkey(event))
        return;
    event->ignore();
    KelWindow::keyPressEvent(event);
}

void MainWindow::translateUi()
{
    KelWindow::translateUi();
    setWindowTitle(QCoreApplication::translate("MainWindow_Title", "Folvane"));
    d->titleLabel->setText(QCoreApplication::translate("MainWindow_Title", "Folvane"));
    d->updateButton->setText(QCoreApplication::translate("MainWindow_Title", "Update available!"));
    d->sideBar->translateUi();
    d->statusBar->translateUi();
    d->libraryPage->translateUi();
    d->settingsPage->translateUi();
    d->readingPage->translateUi();
}

void MainWindow::applyStyle()
{
    KelWindow::applyStyle();
    if (!d)
        return;
    KelStyle* style = kelStyle();
    QWidget* bar = titleBar();
    // X11 has no blur behind windows: the side bar paints its own colour and grain.
    d->sideBar->setBackgroundColor(style->color(1011));
    for (QWidget* widget : { bar, centralWidget() }) {
        widget->setAutoFillBackground(false);
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, Qt::transparent);
        widget->setPalette(palette);
    }
    d->sideBar->setPlainBackground(false);
}

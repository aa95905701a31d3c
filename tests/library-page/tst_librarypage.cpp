#include "../kel-effects/messagecatcher.h"
#include "../kelapp/kelapptest.h"
#include "windowwaits.h"

#include "appdirs.h"
#include "application.h"
#include "checkedsave.h"
#include "enums.h"
#include "import/bookimporter.h"
#include "itemviews/kellistwidget.h"
#include "kellogger/kellogger.h"
#include "librarybooks.h"
#include "mainwindow/librarypage/bookitemwidget.h"
#include "mainwindow/librarypage/booktableheader.h"
#include "mainwindow/librarypage/bookthumbnailwidget.h"
#include "mainwindow/librarypage/librarypage.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/readingpage/readingpage.h"
#include "mainwindow/sidebar/sidebar.h"
#include "mainwindow/sidebar/sidebarfolders.h"
#include "mainwindow/statusbar/statusbar.h"
#include "metrics/metricsender.h"
#include "mobiwriter.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "models/booksortfiltermodel.h"
#include "models/foldermodel.h"
#include "models/librarymessagebox.h"
#include "pdfenginefile.h"
#include "settingsprovider.h"
#include "sevenzwriter.h"
#include "smalldisk.h"
#include "temphome.h"
#include "testfiles.h"
#include "testpaths.h"
#include "ui.h"
#include "widgets/dragicon.h"
#include "widgets/dropindicator.h"
#include "widgets/editablelabel.h"
#include "widgets/kelbutton.h"
#include "widgets/keliconlabel.h"
#include "widgets/kellabel.h"
#include "widgets/progressbar.h"
#include "windows/kelpopupmenu.h"
#include <QDateTime>
#include <QElapsedTimer>
#include <QPointer>

#include <QDialog>
#include <QDropEvent>
#include <QMimeData>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QUrl>
#include <QWindow>
#include <array>

class TestLibraryPage : public QObject {
    Q_OBJECT

    QStringList m_boxes; // the message of every box asked
    int m_answer = 1;
    std::function<void()> m_whileAsked; // runs while a box is open, once
    QStringList m_chosen; // what the file dialog answers
    QTemporaryDir m_dir;
    LibraryPage* m_page = nullptr; // the main window's

    static BookSortFilterModel* filter() { return Application::instance()->bookSortFilterModel(); }
    static BookModel* books() { return Application::instance()->bookModel(); }

    static FolderModel* folderModel() { return Application::instance()->folderModel(); }
    // A book record straight into the library: format code, opened hours ago (-1 never), folder.
    static int addBook(const QString& title, int format, int hoursAgo = -1, int folder = 0)
    {
        BookDto book;
        book.title = title;
        book.full_path = QStringLiteral("/nowhere/%1.%2").arg(title).arg(format);
        book.format = format;
        book.time_added = QDateTime::currentSecsSinceEpoch();
        if (hoursAgo >= 0)
            book.time_last_view = book.time_added - quint32(hoursAgo) * 3600;
        const int id = books()->addBook(book);
        if (folder > 0)
            books()->setData(books()->indexById(id), folder, Enums::MoveToFolder);
        return id;
    }
    static SideBarFolder* folderEntry(SideBar& bar, int id)
    {
        for (SideBarFolder* entry : bar.folders()->folderEntries()) {
            if (entry->folderId() == id)
                return entry;
        }
        return nullptr;
    }
    static QString sub(SideBar& bar, int category) { return bar.entry(category)->subText(); }
    QString book(const QString& name, const QString& title = QString())
    {
        librarybooks::BookRecipe fixture;
        fixture.title = title.isEmpty() ? name : title;
        fixture.coverSize = QSize();
        const QString path = m_dir.filePath(name);
        return librarybooks::write(path, fixture) ? path : QString();
    }
    QString junk(const QString& name)
    {
        testfiles::write(m_dir.filePath(name), "not a book at all");
        return m_dir.filePath(name);
    }
    // Waits for the importer and for the page's queued handling of its signals.
    void waitForImport(QSignalSpy& finished)
    {
        QVERIFY(finished.count() > 0 || finished.wait(20000));
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    void importThroughDialog(const QStringList& files)
    {
        m_chosen = files;
        QSignalSpy finished(bookimporter::instance(), &bookimporter::finished);
        emit m_page->addBookButton()->clicked();
        waitForImport(finished);
    }
    // A box's rich text as its visible lines, apart by "<br>".
    static QString plain(const QString& html)
    {
        QTextDocument document;
        document.setHtml(html);
        QStringList lines;
        for (const QString& line :
            document.toPlainText().split(QRegularExpression(QStringLiteral("[\\n\\x{2029}\\x{2028}]")))) {
            if (!line.trimmed().isEmpty())
                lines << line.trimmed();
        }
        return lines.join(QStringLiteral("<br>"));
    }
    static QVector<MetricSender::Event> metrics(const QString& key)
    {
        QVector<MetricSender::Event> events = MetricSender::instance()->queuedEvents();
        events.erase(
            std::remove_if(events.begin(), events.end(), [&](const auto& e) { return e.key != key; }), events.end());
        return events;
    }
    // A checked toolkit button is reported by its group on the next pass, as a real click is.
    void choose(int mode)
    {
        m_page->viewModeButton(mode)->setChecked(true);
        QCoreApplication::processEvents();
    }
    static void click(QWidget* button)
    {
        QVERIFY(QTest::qWaitForWindowExposed(button->window(), windowwaits::kTimeoutMs));
        QWindow* window = button->window()->windowHandle();
        const QPoint at = button->mapTo(button->window(), button->rect().center());
        QTest::mouseMove(window, at);
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        Ui::instance()->setMessageBoxHandler([this](KelMessageBoxRequest& request) {
            m_boxes << request.message;
            if (const std::function<void()> whileAsked = std::exchange(m_whileAsked, nullptr))
                whileAsked();
            return m_answer;
        });
        Ui::instance()->setFileDialogHandler([this](const KelFileDialogRequest&) { return m_chosen; });
        MetricSender::init(QStringLiteral("device"), QStringLiteral("4"), QStringLiteral("1.0"), true,
            QStringLiteral("http://127.0.0.1:9/"));
        pdfengine::setLibraryPath(testpaths::binDir() + QLatin1Char('/') + pdfengine::fileName());
        // The last run ended in recently read, with the library sorted by author.
        SettingsProvider::instance()->setLibrary_category(Enums::RecentlyRead);
        SettingsProvider::instance()->setLibrary_sort_column(BookModel::AuthorColumn);
        SettingsProvider::instance()->setLibrary_sort_order(Qt::AscendingOrder);
        QVERIFY(Application::instance()->init());
        auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
        QVERIFY(window);
        m_page = window->libraryPage();
        window->resize(1100, 700);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window, windowwaits::kTimeoutMs));
    }
    void init() { m_boxes.clear(); }

    // Started in recently read (its own sort by last view), the library comes back sorted by author
    // when all books are chosen, the header shows it, and the saved sort stays the user's.
    void savedSortAfterStartInRecentlyRead()
    {
        auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
        QCOMPARE(filter()->filterCategory(), int(Enums::RecentlyRead));
        QCOMPARE(filter()->sortColumn(), int(BookModel::LastViewColumn));
        window->sideBar()->entry(Enums::AllBooks)->setChecked(true);
        QCoreApplication::processEvents();
        QCOMPARE(filter()->filterCategory(), int(Enums::AllBooks));
        QCOMPARE(filter()->sortColumn(), int(BookModel::AuthorColumn));
        QCOMPARE(filter()->sortOrder(), Qt::AscendingOrder);
        QCOMPARE(SettingsProvider::instance()->library_sort_column(), int(BookModel::AuthorColumn));
        QCOMPARE(SettingsProvider::instance()->library_sort_order(), Qt::AscendingOrder);
        // The header shows it, and a click on the author reverses it.
        KelButton* author = m_page->tableHeader()->buttons().value(1);
        QVERIFY(author && author->isChecked());
        click(author);
        QCOMPARE(filter()->sortColumn(), int(BookModel::AuthorColumn));
        QCOMPARE(filter()->sortOrder(), Qt::DescendingOrder);
        QCOMPARE(SettingsProvider::instance()->library_sort_order(), Qt::DescendingOrder);
        click(author);
        QCOMPARE(filter()->sortOrder(), Qt::AscendingOrder);
        // Sorted from elsewhere (the saved sort at a start), the next click reverses that order.
        filter()->sort(BookModel::AuthorColumn, Qt::DescendingOrder);
        click(author);
        QCOMPARE(filter()->sortOrder(), Qt::AscendingOrder);
    }

    void emptyTexts_data()
    {
        QTest::addColumn<int>("category");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("text");
        QTest::newRow("format") << int(Enums::BookFormat + 3) << ""
                                << QStringLiteral("You don’t have a books in \"pdf\"");
        QTest::newRow("search in trash") << int(Enums::Deleted) << "x"
                                         << QStringLiteral("\"x\" is not found in \"Deleted\"");
        QTest::newRow("unknown, search") << 5 << "(" << QStringLiteral("\"(\" not found");
    }
    void emptyTexts()
    {
        QFETCH(int, category);
        QFETCH(QString, search);
        QFETCH(QString, text);
        filter()->setFilterCategory(category);
        QTest::keyClicks(m_page->searchLineEdit(), search);
        QCOMPARE(filter()->searchText(), search);
        QCOMPARE(m_page->emptyLabel()->text(), text);
        QVERIFY(!m_page->emptyLabel()->isHidden());
        m_page->setTrashMode(category == Enums::Deleted);
        QCOMPARE(m_page->restoreAllButton()->isHidden(), category != Enums::Deleted);
        QCOMPARE(m_page->clearTrashButton()->isHidden(), category != Enums::Deleted);
        QCOMPARE(m_page->addBookButton()->isHidden(), category == Enums::Deleted);
        m_page->searchLineEdit()->clear();
        m_page->setTrashMode(false);
        filter()->setFilterCategory(Enums::AllBooks);
    }

    // Counts are read once per event-loop pass, however many model signals came before.
    void sideBar()
    {
        SideBar bar;
        connect(filter(), &BookSortFilterModel::filterCategoryChanged, &bar, &SideBar::onFilterCategoryChanged);
        QCOMPARE(sub(bar, Enums::AllBooks), QStringLiteral("0"));
        QVERIFY(bar.formatsBox()->isHidden());
        for (int i = 0; i < 25; ++i)
            addBook(QStringLiteral("read %1").arg(i), i % 2 ? 0 : 3, i);
        addBook(QStringLiteral("unread"), 0);
        QCOMPARE(sub(bar, Enums::AllBooks), QStringLiteral("0")); // not yet: queued
        QCoreApplication::processEvents();
        QCOMPARE(sub(bar, Enums::AllBooks), QStringLiteral("26"));
        QCOMPARE(sub(bar, Enums::RecentlyRead), QStringLiteral("20"));
        QVERIFY(!bar.formatsBox()->isHidden());
        QCOMPARE(bar.entry(Enums::BookFormat + 0)->subText(), QStringLiteral("13"));
        QCOMPARE(bar.entry(Enums::BookFormat + 3)->subText(), QStringLiteral("13"));
        QVERIFY(bar.entry(Enums::BookFormat + 2)->isHidden());
        // A format chosen through the filter opens its collapsed box.
        QSignalSpy clicked(&bar, &SideBar::categoryClicked);
        filter()->setFilterCategory(Enums::AllBooks);
        QCoreApplication::processEvents();
        bar.formatsBox()->expandButton()->setChecked(false);
        filter()->setFilterCategory(Enums::BookFormat + 3);
        QCoreApplication::processEvents();
        QCOMPARE(bar.currentCategory(), int(Enums::BookFormat + 3));
        QVERIFY(bar.formatsBox()->expandButton()->isChecked());
        QCOMPARE(clicked.last().value(0).toInt(), int(Enums::BookFormat + 3));
        bar.formatsBox()->expandButton()->setChecked(false);
        QVERIFY(bar.formatsBox()->holdsCheckedEntry());
        filter()->setFilterCategory(Enums::AllBooks);
        QCoreApplication::processEvents();
        QVERIFY(!bar.formatsBox()->holdsCheckedEntry());

        // The service entry shows in maintenance mode and opens its window.
        bar.show();
        QVERIFY(!bar.serviceEntry()->isVisible());
        QSignalSpy opened(&bar, &SideBar::showServiceModeWindowClicked);
        KelUi::instance()->setMaintenanceMode(true);
        QVERIFY(bar.serviceEntry()->isVisible());
        QCOMPARE(opened.count(), 1);
        KelUi::instance()->setMaintenanceMode(false);
        QVERIFY(!bar.serviceEntry()->isVisible());
        QCOMPARE(opened.count(), 1);
    }

    // Folders: made in the editor, renamed trimmed into their sorted place, deleted after asking.
    void folders()
    {
        SideBar bar;
        bar.translateUi();
        bar.show();
        const int before = bar.folders()->folderEntries().size();
        emit bar.folders()->addEntry()->clicked();
        QCOMPARE(bar.folders()->folderEntries().size(), before + 1);
        SideBarFolder* made = bar.folders()->folderEntries().first();
        QCOMPARE(made->text(), QStringLiteral("New category"));
        QVERIFY(made->isChecked());
        QVERIFY(made->isEditing());
        QCOMPARE(made->editor()->selectedText(), QStringLiteral("New category"));
        const int id = made->folderId();
        QCoreApplication::processEvents();
        QCOMPARE(bar.currentCategory(), int(Enums::MaxBookFormat) + id);
        folderModel()->findOrAddCategory(QStringLiteral("Alpha"));
        filter()->setFilterCategory(int(Enums::MaxBookFormat) + id);
        made->editor()->setText(QStringLiteral("  Zeta  "));
        emit made->editor()->editingFinished();
        QVERIFY(!made->isEditing());
        QCOMPARE(folderModel()->indexById(id).data().toString(), QStringLiteral("Zeta"));
        QCOMPARE(m_page->emptyLabel()->text(), QStringLiteral("You don’t have a books in \"Zeta\""));
        filter()->setFilterCategory(Enums::AllBooks);
        QStringList titles, modelTitles;
        for (SideBarFolder* entry : bar.folders()->folderEntries())
            titles << entry->text();
        for (int row = 0; row < folderModel()->rowCount(); ++row)
            modelTitles << folderModel()->index(row, 0).data().toString();
        QCOMPARE(titles, modelTitles);
        // The menu's Delete asks first; "No" keeps the folder.
        auto deleteThroughMenu = [&] {
            emit made->customContextMenuRequested(QPoint(1, 1));
            QPointer<KelPopupMenu> menu = made->findChild<KelPopupMenu*>();
            QVERIFY(menu);
            for (KelButton* item : menu->findChildren<KelButton*>()) {
                if (item->text() == QStringLiteral("Delete"))
                    emit item->clicked();
            }
            if (menu)
                menu->close();
        };
        m_answer = 1;
        const int boxes = m_boxes.size();
        deleteThroughMenu();
        QCOMPARE(m_boxes.size(), boxes + 1);
        QVERIFY(folderEntry(bar, id));
        m_answer = 2;
        deleteThroughMenu();
        QCoreApplication::processEvents();
        QVERIFY(!folderEntry(bar, id));
    }

    // The folder shown stays checked while its books go to the trash and back; deleting it shows all
    // books, and it is not the category shown at the next start.
    void shownFolderFollowsChanges()
    {
        auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
        SideBar* bar = window->sideBar();
        const int folder = folderModel()->findOrAddCategory(QStringLiteral("Temp"));
        const int book = addBook(QStringLiteral("temporary"), 0, -1, folder);
        addBook(QStringLiteral("elsewhere"), 0);
        const int category = int(Enums::MaxBookFormat) + folder;
        // What earlier changes of the category left for the side bar is delivered first.
        QCoreApplication::processEvents();
        folderEntry(*bar, folder)->setChecked(true);
        QCoreApplication::processEvents();
        QCOMPARE(filter()->filterCategory(), category);
        QCOMPARE(SettingsProvider::instance()->library_category(), Enums::BookCategory(category));
        QVERIFY(books()->setData(books()->indexById(book), QVariant(), Enums::ToTrash));
        QCoreApplication::processEvents();
        QCOMPARE(bar->currentCategory(), category);
        QVERIFY(folderEntry(*bar, folder)->isChecked());
        QVERIFY(books()->setData(books()->indexById(book), QVariant(), Enums::RestoreFromTrash));
        QVERIFY(folderEntry(*bar, folder)->isChecked());
        QCOMPARE(filter()->rowCount(), 1);

        m_page->searchLineEdit()->setText(QStringLiteral("nothing like it"));
        folderModel()->removeCategory(folder);
        QCoreApplication::processEvents();
        QCOMPARE(filter()->filterCategory(), int(Enums::AllBooks));
        QCOMPARE(bar->currentCategory(), int(Enums::AllBooks));
        QCOMPARE(SettingsProvider::instance()->library_category(), Enums::AllBooks);
        QCOMPARE(m_page->emptyLabel()->text(), QStringLiteral("\"nothing like it\" is not found in \"All\""));
        m_page->searchLineEdit()->clear();
    }

    // The view-mode switch, a book's action and each change of the folders leave their trace.
    void traces()
    {
        MessageCatcher infos(QtInfoMsg);
        choose(Enums::View_Table);
        QCOMPARE(infos.count(QStringLiteral("Change viewMode to 'Table'")), 2); // entering and leaving
        choose(Enums::View_Cards);
        QCOMPARE(infos.count(QStringLiteral("Change viewMode to 'Cards'")), 2);
        filter()->setFilterCategory(Enums::AllBooks);
        const QModelIndex traced = filter()->mapFromSource(books()->indexById(addBook(QStringLiteral("traced"), 0)));
        m_page->listWidget()->scrollToRow(traced.row());
        BookItemWidget* item = nullptr;
        QTRY_VERIFY((item = dynamic_cast<BookItemWidget*>(m_page->listWidget()->itemForIndex(traced))));
        m_page->onActionClicked(item, Enums::NoAction, QVariant());
        QCOMPARE(infos.count(QStringLiteral("Library action clicked")), 2);

        const int row = folderModel()->rowCount();
        const int id = folderModel()->findOrAddCategory(QStringLiteral("Zz traced"));
        QCOMPARE(infos.count(QStringLiteral("Rows inserted 0-0")), 2);
        folderModel()->renameCategory(id, QStringLiteral("Zzz traced"));
        QCOMPARE(infos.count(QStringLiteral("Folder data changed rows: 0-0, cols: 0-3")), 2);
        QCOMPARE(infos.count(QStringLiteral("Rows moved 0-0 to %1").arg(row + 1)), 2);
        folderModel()->removeCategory(id);
        QCOMPARE(infos.count(QStringLiteral("Rows removed %1-%1").arg(row)), 2);
        folderModel()->reload();
        QCOMPARE(infos.count(QStringLiteral("Folder model reset")), 2);
    }

    // The library's folder turns read-only while the page is shown: a card's star and trash button
    // turn back when the library does not store the change, and the user hears of it once.
    void unstoredActionsTurnBack()
    {
        filter()->setFilterCategory(Enums::AllBooks);
        const QModelIndex index = filter()->mapFromSource(books()->indexById(addBook(QStringLiteral("unstored"), 0)));
        m_page->listWidget()->scrollToRow(index.row());
        BookItemWidget* item = nullptr;
        QTRY_VERIFY((item = dynamic_cast<BookItemWidget*>(m_page->listWidget()->itemForIndex(index))));
        const int id = item->bookId();
        auto* star = item->findChild<KelButton*>(QStringLiteral("Favorite"));
        auto* trash = item->findChild<KelButton*>(QStringLiteral("Trash"));
        QStringList told;
        LibraryMessageBox::setHandler([&told](const QString&, const QString& text, QMessageBox::StandardButtons) {
            told << text;
            return QMessageBox::Ok;
        });
        const auto restore = qScopeGuard([] { LibraryMessageBox::setHandler({}); });
        const QString folder = QFileInfo(databasePath()).absolutePath();
        ReadOnlyPlace readOnly(folder);
        if (!readOnly.isReadOnly())
            QSKIP("the library's folder cannot be made read-only here");
        // A button reports its toggle on the next pass of the event loop, as a click does.
        star->setChecked(true);
        trash->setChecked(true);
        QTRY_VERIFY(!star->isChecked() && !trash->isChecked());
        const BookDto stored = books()->bookById(id);
        QCOMPARE(QList<int>({ stored.is_favorite, stored.is_deleted }), QList<int>({ 0, 0 }));
        QTRY_COMPARE(told,
            QStringList { QStringLiteral("A change to the library was not saved: The folder %1 cannot be written.")
                              .arg(folder) });
        readOnly.release();
        star->setChecked(true);
        QTRY_COMPARE(books()->bookById(id).is_favorite, 1);
        QVERIFY(star->isChecked());
        QCoreApplication::processEvents();
        QCOMPARE(told.size(), 1);
    }

    // A book file replaced at its path brings a new cover under the old cover's name: the card reads
    // it again.
    void replacedCoverIsShown()
    {
        const QString cover = m_dir.filePath(QStringLiteral("replaced-cover.png"));
        const auto paint = [&cover](const QColor& colour) {
            QImage image(120, 180, QImage::Format_RGB32);
            image.fill(colour);
            return image.save(cover);
        };
        QVERIFY(paint(Qt::red));
        BookDto book;
        book.title = QStringLiteral("Covered");
        book.full_path = m_dir.filePath(QStringLiteral("covered.epub"));
        book.cover = cover;
        book.time_added = QDateTime::currentSecsSinceEpoch();
        const int id = books()->addBook(book);
        QVERIFY(id > 0);
        filter()->setFilterCategory(Enums::AllBooks);
        const QModelIndex index = filter()->mapFromSource(books()->indexById(id));
        m_page->listWidget()->scrollToRow(index.row());
        BookItemWidget* item = nullptr;
        QTRY_VERIFY((item = dynamic_cast<BookItemWidget*>(m_page->listWidget()->itemForIndex(index))));
        const auto centre = [item] {
            BookThumbnailWidget* thumbnail = item->thumbnail();
            return thumbnail->grab().toImage().pixelColor(thumbnail->coverRect().center());
        };
        QTRY_COMPARE(centre(), QColor(Qt::red));
        QVERIFY(paint(Qt::blue));
        book.id = id;
        QVERIFY(books()->updateFromReplacedFile(book));
        QTRY_COMPARE(centre(), QColor(Qt::blue));
    }

    // Books dragged from one folder: that folder refuses, the others accept; a drop moves them.
    void dragBooksOntoFolders()
    {
        SideBar bar;
        bar.show();
        const int from = folderModel()->findOrAddCategory(QStringLiteral("From"));
        const int to = folderModel()->findOrAddCategory(QStringLiteral("To"));
        const int book = addBook(QStringLiteral("moving"), 0, -1, from);
        QCOMPARE(books()->findCategoryByBook(book), from);
        QMimeData* mime = books()->mimeData({ books()->indexById(book) });
        DragIcon* icon = Ui::instance()->dragIcon();
        emit icon->showed(mime);
        QVERIFY(!folderEntry(bar, from)->acceptDrops());
        QVERIFY(folderEntry(bar, to)->acceptDrops());
        const QString fromCount = folderEntry(bar, from)->subText();
        SideBarFolder* target = folderEntry(bar, to);
        QDragEnterEvent enter(target->rect().center(), Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(target->rect().center(), Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        emit icon->hided();
        QVERIFY(!target->acceptDrops());
        QCOMPARE(books()->findCategoryByBook(book), to);
        QCOMPARE(folderEntry(bar, to)->subText(), QStringLiteral("1"));
        QCOMPARE(folderEntry(bar, from)->subText(), QString::number(fromCount.toInt() - 1));
        delete mime;
    }

    // The continue strip follows the last-book settings and the book's row within 100 ms. Pausing dims
    // the import strip and tells the importer; its texts follow the kind of work.
    void statusBar()
    {
        StatusBar bar;
        bar.translateUi();
        bar.show();
        ContinueReadingWidget* strip = bar.continueReadingWidget();
        QVERIFY(strip->isHidden()); // fresh install
        const int war = addBook(QStringLiteral("War and Peace"), 0);
        SettingsProvider::instance()->setLast_book_id(war);
        SettingsProvider::instance()->setLast_book_page(12);
        SettingsProvider::instance()->setLast_book_page_count(300);
        QTRY_VERIFY_WITH_TIMEOUT(strip->isVisible(), 300);
        QCOMPARE(strip->titleLabel()->text(), QStringLiteral("War and Peace"));
        QCOMPARE(strip->pageLabel()->text(), QStringLiteral("p.12"));
        QCOMPARE(strip->pageCountLabel()->text(), QStringLiteral(" / 300"));
        QSignalSpy opened(books(), &BookModel::openBookClicked);
        click(strip->openButton());
        QCOMPARE(opened.value(0).value(0).toInt(), war);
        BookDto renamed = books()->bookById(war);
        renamed.title = QStringLiteral("Peace and War");
        QVERIFY(books()->setData(books()->indexById(war), QVariant::fromValue(renamed), Enums::UpdateItem));
        QTRY_COMPARE_WITH_TIMEOUT(strip->titleLabel()->text(), QStringLiteral("Peace and War"), 150);
        // Markup in a title is shown as it stands.
        QCOMPARE(strip->titleLabel()->textFormat(), Qt::PlainText);
        QCOMPARE(strip->authorLabel()->textFormat(), Qt::PlainText);
        // A book in the trash is not offered, alone or with the whole library; restored, it is again.
        QVERIFY(books()->setData(books()->indexById(war), QVariant(), Enums::ToTrash));
        QTRY_VERIFY_WITH_TIMEOUT(!strip->isVisible(), 300);
        QVERIFY(books()->restoreFromTrashAll());
        QTRY_VERIFY_WITH_TIMEOUT(strip->isVisible(), 300);
        QVERIFY(books()->clearLibrary());
        QTRY_VERIFY_WITH_TIMEOUT(!strip->isVisible(), 300);
        QVERIFY(books()->restoreFromTrashAll());
        QTRY_VERIFY_WITH_TIMEOUT(strip->isVisible(), 300);
        QVERIFY(books()->setData(books()->indexById(war), QVariant(), Enums::ToTrash));
        QVERIFY(books()->setData(books()->indexById(war), QVariant(), Enums::DeleteFromLibrary));
        QTRY_VERIFY_WITH_TIMEOUT(!strip->isVisible(), 300);

        ImportBooksWidget* importing = bar.importBooksWidget();
        QVERIFY(importing->isHidden());
        emit bookimporter::instance()->importStarted();
        QVERIFY(importing->isVisible());
        // current, total, percentage: 1 of 3 is 33 %, nothing of nothing 0 %, never over 100 %.
        for (const auto& row : { std::array<int, 3> { 1, 3, 33 }, { 5, 0, 0 }, { 9, 4, 100 } }) {
            emit bookimporter::instance()->progress(row[0], row[1]);
            QCOMPARE(importing->doneLabel()->text() + importing->totalLabel()->text(),
                QStringLiteral("%1 / %2").arg(row[0]).arg(row[1]));
            QCOMPARE(importing->percentLabel()->text(), QStringLiteral("%1%").arg(row[2]));
            QCOMPARE(importing->progressBar()->value(), row[2]);
        }
        QCOMPARE(importing->titleLabel()->text(), QStringLiteral("Import books..."));
        QSignalSpy toggled(importing, &ImportBooksWidget::togglePlayPause);
        click(importing->pauseButton());
        QCOMPARE(toggled.count(), 1);
        QVERIFY(bookimporter::instance()->isPaused());
        QVERIFY(!importing->progressBar()->isEnabled());
        QCOMPARE(importing->pauseButton()->toolTip(), QStringLiteral("Resume importing"));
        click(importing->pauseButton());
        QVERIFY(!bookimporter::instance()->isPaused());
        QVERIFY(importing->progressBar()->isEnabled());
        // A paused run that is stopped leaves the next one unpaused.
        click(importing->pauseButton());
        QVERIFY(importing->pauseButton()->isChecked());
        emit bookimporter::instance()->finished(0, 0);
        QCoreApplication::processEvents();
        QVERIFY(!importing->pauseButton()->isChecked());
        QVERIFY(!bookimporter::instance()->isPaused());
        QCOMPARE(importing->pauseButton()->toolTip(), QStringLiteral("Pause importing"));
        emit bookimporter::instance()->exportStarted();
        QVERIFY(importing->isVisible());
        QCOMPARE(importing->titleLabel()->text(), QStringLiteral("Export books..."));
        QCOMPARE(importing->pauseButton()->toolTip(), QStringLiteral("Pause exporting"));
        emit bookimporter::instance()->exported(0, 0, 0, QString());
        QVERIFY(!importing->isVisible());
        QCoreApplication::processEvents();
        QVERIFY(m_boxes.last().contains(QStringLiteral("0 books exported!")));
        // Books of an archive that a full disk kept from being unpacked: one box with the cause, not
        // a list that repeats it for each.
        const int told = m_boxes.size();
        emit bookimporter::instance()->importStarted();
        for (const char* name : { "/i/one.fb2", "/i/two.fb2" }) {
            BookDto refused;
            refused.full_path = QLatin1String(name);
            emit bookimporter::instance()->itemProcessed(ItemDiskFull, refused);
        }
        emit bookimporter::instance()->finished(0, 2);
        QTRY_COMPARE(m_boxes.size(), told + 1);
        QCoreApplication::processEvents();
        QCOMPARE(m_boxes.size(), told + 1);
        QVERIFY2(m_boxes.last().contains(QStringLiteral("The disk is full. Book can not be added.")),
            qPrintable(m_boxes.last()));
        // The library on the same full disk (SQLite's page limit stands in for it) cannot store the
        // book that was unpacked: its box tells the cause, and the answer adds no second one.
        QStringList libraryTold;
        LibraryMessageBox::setHandler([&](const QString&, const QString& text, QMessageBox::StandardButtons) {
            libraryTold << text;
            return QMessageBox::Ok;
        });
        const auto restoreHandler = qScopeGuard([] { LibraryMessageBox::setHandler({}); });
        QSqlQuery limit;
        QVERIFY(limit.exec(QStringLiteral("PRAGMA max_page_count = 1")));
        emit bookimporter::instance()->importStarted();
        BookDto unpacked;
        unpacked.full_path = QStringLiteral("/i/unpacked.fb2");
        unpacked.title = QString(200000, QLatin1Char('t')); // more than the pages there are
        emit bookimporter::instance()->itemProcessed(ItemAdded, unpacked);
        BookDto refused;
        refused.full_path = QStringLiteral("/i/refused.fb2");
        emit bookimporter::instance()->itemProcessed(ItemDiskFull, refused);
        emit bookimporter::instance()->finished(1, 2);
        QTRY_COMPARE(
            libraryTold, QStringList { QStringLiteral("A change to the library was not saved: The disk is full.") });
        QCoreApplication::processEvents();
        QCOMPARE(m_boxes.size(), told + 1);
        QVERIFY(limit.exec(QStringLiteral("PRAGMA max_page_count = 1073741823")));
        // An archive that could not be written: one box with the cause, no count.
        const int boxes = m_boxes.size();
        emit bookimporter::instance()->exported(0, 2, int(checkedsave::Failure::DiskFull), QStringLiteral("/m/a.olv"));
        QCoreApplication::processEvents();
        QCOMPARE(m_boxes.size(), boxes + 1);
        QVERIFY2(m_boxes.last().contains(QStringLiteral("The disk is full. The books were not exported.")),
            qPrintable(m_boxes.last()));
    }

    // The title takes the strip's room whatever the author's length: a book without an author (as
    // plain-text books are) showed its title as one letter and "...".
    void continueReadingTitleWidth_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("author");
        QTest::addColumn<int>("stripWidth");
        QTest::addColumn<bool>("elided");
        QTest::newRow("no author") << QStringLiteral("notes") << QString() << 1000 << false;
        QTest::newRow("short author") << QStringLiteral("The Weaver of Long Winter Nights") << QStringLiteral("Ann")
                                      << 1000 << false;
        QTest::newRow("longer author") << QStringLiteral("Loom") << QStringLiteral("Ann Margaret Author-Weaver") << 1000
                                       << false;
        QTest::newRow("narrow strip") << QString(QStringLiteral("Weaver ").repeated(30)) << QString() << 700 << true;
    }

    void continueReadingTitleWidth()
    {
        QFETCH(QString, title);
        QFETCH(QString, author);
        QFETCH(int, stripWidth);
        QFETCH(bool, elided);
        BookDto book;
        book.title = title;
        book.author = author;
        book.full_path = QStringLiteral("/nowhere/%1.txt").arg(QUuid::createUuid().toString(QUuid::Id128));
        book.format = 0;
        book.time_added = QDateTime::currentSecsSinceEpoch();
        const int id = books()->addBook(book);
        SettingsProvider::instance()->setLast_book_id(id);
        SettingsProvider::instance()->setLast_book_page(3);
        SettingsProvider::instance()->setLast_book_page_count(40);
        StatusBar bar;
        bar.translateUi();
        ContinueReadingWidget* strip = bar.continueReadingWidget();
        QCOMPARE(strip->titleLabel()->text(), title);
        bar.show();
        bar.resize(stripWidth, bar.sizeHint().height());
        QVERIFY(QTest::qWaitForWindowExposed(&bar, windowwaits::kTimeoutMs));
        QVERIFY(strip->isVisible());
        KelLabel* label = strip->titleLabel();
        // The painted text is the one the label keeps as elided.
        label->grab();
        QCOMPARE(label->isElided(), elided);
        if (!elided)
            QVERIFY2(label->width() >= label->sizeHint().width(),
                qPrintable(QStringLiteral("%1 < %2").arg(label->width()).arg(label->sizeHint().width())));
        else
            QVERIFY(label->elidedText().size() > 20);
        // The page numbers stay inside the strip.
        QVERIFY(strip->pageCountLabel()->geometry().right() < strip->width());
        QVERIFY(books()->setData(books()->indexById(id), QVariant(), Enums::DeleteFromLibrary));
    }

    // One added book is answered and opened by its id, whether or not its card exists (a main window
    // not shown yet makes none) and whatever search was typed: one it does not match is cleared.
    void addOneBook_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("firstBook"); // the shelf was empty and the window not shown yet
        QTest::addColumn<QString>("search");
        QTest::newRow("card shown") << "Only One" << false << "";
        QTest::newRow("first book of an empty shelf") << "First Of All" << true << "";
        QTest::newRow("search it does not match") << "Searched Past" << false << "zzz";
        QTest::newRow("search it matches") << "Matched Search" << false << "Matched";
    }
    void addOneBook()
    {
        QFETCH(QString, name);
        QFETCH(bool, firstBook);
        QFETCH(QString, search);
        QWidget* window = m_page->window();
        QList<int> trashed;
        if (firstBook) {
            // An empty shelf hides the list: the new row gets its card only once the list is laid out.
            for (int row = 0; row < books()->rowCount(); ++row) {
                const QModelIndex index = books()->index(row, 0);
                if (!index.data(BookModel::DeletedRole).toBool() && books()->setData(index, QVariant(), Enums::ToTrash))
                    trashed << index.data(BookModel::IdRole).toInt();
            }
            filter()->setFilterCategory(Enums::AllBooks);
            QCoreApplication::processEvents();
            QVERIFY(m_page->listWidget()->isHidden());
            window->hide();
        }
        filter()->setFilterCategory(Enums::Favorites);
        m_page->searchLineEdit()->setText(search);
        QSignalSpy opened(books(), &BookModel::openBookClicked);
        m_answer = 2; // "Start reading now"
        importThroughDialog({ book(name.toLower().remove(' ') + QStringLiteral(".epub"), name) });
        // The page may still be opening the previous row's book.
        QTRY_COMPARE(m_boxes.size(), 1);
        m_answer = 1;
        window->show();
        QVERIFY2(m_boxes.first().contains(QStringLiteral("Book added!")), qPrintable(m_boxes.first()));
        QCOMPARE(filter()->filterCategory(), int(Enums::AllBooks));
        QCOMPARE(opened.size(), 1);
        const int id = opened.first().first().toInt();
        QCOMPARE(books()->bookById(id).title, name);
        QCOMPARE(m_page->searchLineEdit()->text(), search == QLatin1String("zzz") ? QString() : search);
        QCOMPARE(filter()->searchText(), m_page->searchLineEdit()->text());
        QVERIFY(filter()->mapFromSource(books()->indexById(id)).isValid());
        QVERIFY(m_page->emptyLabel()->isHidden());
        m_page->searchLineEdit()->clear();
        for (int trashedId : trashed)
            books()->setData(books()->indexById(trashedId), QVariant(), Enums::RestoreFromTrash);
    }

    // Without an added book only the first applicable box shows. Files: "junk:" writes no book, "drm.mobi"
    // an enciphered one, "nested.7z" an archive holding an EPUB; "a.epub" and "b.epub" are in the library.
    void failures_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("refuseAdds"); // the database refuses to store books
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("refusedBox"); // the list of refused files, when there are several
        const QString existing = m_dir.filePath(QStringLiteral("a.epub"));
        QTest::newRow("damaged before existing")
            << QStringList { "junk:bad.epub", "a.epub" } << false << "damaged" << QString();
        QTest::newRow("existing names the first")
            << QStringList { "a.epub", "b.epub" } << false << existing << QString();
        QTest::newRow("protected first") << QStringList { "a.epub", "junk:bad.epub", "drm.mobi" } << false
                                         << "protected"
                                         << "2 files could not be added<br>bad.epub: the file is damaged or is no book"
                                            "<br>drm.mobi: the book is protected";
        QTest::newRow("archive holding an epub")
            << QStringList { "nested.7z", "a.epub" } << false << "the archive holds an EPUB book" << QString();
        QTest::newRow("refused by the database")
            << QStringList { "refused.fb2" } << true << "refused.fb2: the library could not store it" << QString();
    }
    void failures()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, refuseAdds);
        QFETCH(QString, box);
        QFETCH(QString, refusedBox);
        // Run alone, the case adds them itself.
        if (!QFileInfo::exists(m_dir.filePath(QStringLiteral("a.epub"))))
            importThroughDialog({ book(QStringLiteral("a.epub")), book(QStringLiteral("b.epub")) });
        m_boxes.clear();
        QStringList paths;
        for (const QString& name : files) {
            if (name.startsWith(QStringLiteral("junk:"))) {
                paths << junk(name.mid(5));
            } else if (name == QStringLiteral("drm.mobi")) {
                MobiWriter mobi;
                mobi.setText("<p>text</p>");
                mobi.setEncryption(2);
                QVERIFY(mobi.write(m_dir.filePath(name)));
                paths << m_dir.filePath(name);
            } else if (name == QStringLiteral("nested.7z")) {
                SevenZWriter archive(m_dir.filePath(name));
                archive.add(QStringLiteral("book.epub"), testfiles::read(book(QStringLiteral("packed.epub"))));
                QVERIFY(archive.write());
                paths << m_dir.filePath(name);
            } else {
                const QString path = m_dir.filePath(name);
                paths << (QFileInfo::exists(path) ? path : book(name));
            }
        }
        QSqlQuery query;
        if (refuseAdds) {
            QVERIFY(query.exec(QStringLiteral(
                "CREATE TRIGGER refuse_add BEFORE INSERT ON books BEGIN SELECT RAISE(ABORT, 'read-only'); END")));
        }
        const int rows = books()->rowCount();
        importThroughDialog(paths);
        if (refuseAdds)
            QVERIFY(query.exec(QStringLiteral("DROP TRIGGER refuse_add")));
        QCOMPARE(books()->rowCount(), rows);
        QCOMPARE(m_boxes.size(), refusedBox.isEmpty() ? 1 : 2);
        QVERIFY2(m_boxes.first().contains(box.toHtmlEscaped()), qPrintable(m_boxes.first()));
        if (!refusedBox.isEmpty())
            QVERIFY2(plain(m_boxes.last()).contains(refusedBox), qPrintable(m_boxes.last()));
        // A book the library did not store leaves neither a data folder nor a cover behind.
        for (const QString& path : qAsConst(paths)) {
            if (refuseAdds) {
                QVERIFY2(!QFileInfo::exists(booksDir() + QLatin1Char('/') + md5Hex(path)), qPrintable(path));
                QVERIFY2(!QFileInfo::exists(coverFilePath(path)), qPrintable(path));
            }
        }
    }

    // Many books read at once are stored in a few batches, every one of them, and the answer comes
    // after the last. The footer counts stored books: its progress is never ahead of the library,
    // its bar with pause and stop stays until the last book is stored, a pause holds the storing,
    // and after a stop nothing more is stored.
    void manyBooksAreStoredInBatches()
    {
        StatusBar* footer = qobject_cast<MainWindow*>(Ui::instance()->mainWindow())->statusBar();
        ImportBooksWidget* strip = footer->importBooksWidget();
        const auto storedRows = [] {
            QSqlQuery query(QStringLiteral("SELECT COUNT(*) FROM books"));
            return query.next() ? query.value(0).toInt() : -1;
        };
        const int rows = books()->rowCount();
        int stored = storedRows();
        int done = 0;
        QStringList faults; // progress ahead of the library, rows stored with no strip to show it
        const auto stripShown = [strip] {
            return !strip->isHidden() && strip->pauseButton()->isEnabled() && strip->stopButton()->isEnabled();
        };
        const QMetaObject::Connection progress
            = connect(bookimporter::instance(), &bookimporter::progress, this, [&](int current, int total) {
                  done = current;
                  if (current > storedRows() - stored)
                      faults << QStringLiteral("progress %1/%2 with %3 stored")
                                    .arg(current)
                                    .arg(total)
                                    .arg(storedRows() - stored);
                  if (!stripShown())
                      faults << QStringLiteral("progress %1/%2 without the strip").arg(current).arg(total);
              });
        const QMetaObject::Connection rowsIn = connect(books(), &QAbstractItemModel::rowsInserted, this, [&] {
            if (!stripShown())
                faults << QStringLiteral("%1 rows stored without the strip").arg(storedRows() - stored);
        });
        const auto cleanup = qScopeGuard([&] {
            disconnect(progress);
            disconnect(rowsIn);
            bookimporter::instance()->toggleProcessing(false);
        });
        QStringList files;
        for (int i = 0; i < 2000; ++i)
            files << book(QStringLiteral("batch%1.fb2").arg(i));
        QSignalSpy inserted(books(), &QAbstractItemModel::rowsInserted);
        m_chosen = files;
        emit m_page->addBookButton()->clicked();
        QTRY_VERIFY_WITH_TIMEOUT(done >= 500, 30000);
        // The footer may stand behind the reading page of an earlier case: its buttons are pressed
        // as a click would, which tells the importer on the next pass.
        strip->pauseButton()->setChecked(true);
        QTRY_VERIFY(bookimporter::instance()->isPaused());
        const int held = storedRows();
        QTest::qWait(3 * bookimporter::kPauseStepMs);
        QCOMPARE(storedRows(), held);
        QVERIFY(held - stored < 2000);
        QVERIFY(stripShown());
        strip->pauseButton()->setChecked(false);
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 1, 60000);
        QVERIFY2(m_boxes.first().contains(QStringLiteral("2000 books added!")), qPrintable(m_boxes.first()));
        QCOMPARE(books()->rowCount(), rows + 2000);
        QCOMPARE(done, 2000);
        QVERIFY(strip->isHidden());
        QVERIFY2(inserted.size() < 2000, qPrintable(QString::number(inserted.size())));

        // Stopped: the books read but not stored yet are left out.
        m_boxes.clear();
        files.clear();
        for (int i = 0; i < 600; ++i)
            files << book(QStringLiteral("stopped%1.fb2").arg(i));
        stored = storedRows();
        done = 0;
        QSignalSpy finished(bookimporter::instance(), &bookimporter::finished);
        m_chosen = files;
        emit m_page->addBookButton()->clicked();
        QTRY_VERIFY_WITH_TIMEOUT(done >= 50, 30000);
        emit strip->stopButton()->clicked();
        const int atStop = storedRows();
        waitForImport(finished);
        QTest::qWait(2 * bookimporter::kPauseStepMs);
        QCOMPARE(storedRows(), atStop);
        QVERIFY(atStop - stored < 600);
        QVERIFY(strip->isHidden());
        QVERIFY2(faults.isEmpty(), qPrintable(faults.mid(0, 5).join(QStringLiteral("; "))));
    }

    // Books added with others refused: the answer is followed by the count and list of the refused
    // files, and the log names each. A hand-over of nothing but a missing file says so as well.
    void refusedFilesAreListed()
    {
        QByteArray binary("\x7f"
                          "ELF\x02\x01\x01\x00",
            8);
        binary += QByteArray(500, 'x');
        QVERIFY(testfiles::write(m_dir.filePath(QStringLiteral("tool.txt")), binary));
        QVERIFY(testfiles::write(m_dir.filePath(QStringLiteral("empty.epub")), QByteArray()));
        const QString truncated = m_dir.filePath(QStringLiteral("truncated.epub"));
        QVERIFY(testfiles::write(truncated, testfiles::read(book(QStringLiteral("whole.epub"))).left(300)));
        const QStringList files { book(QStringLiteral("kept1.fb2")), m_dir.filePath(QStringLiteral("empty.epub")),
            book(QStringLiteral("kept2.epub")), truncated, m_dir.filePath(QStringLiteral("tool.txt")) };
        MessageCatcher warnings(QtWarningMsg);
        importThroughDialog(files);
        QCOMPARE(m_boxes.size(), 2);
        QVERIFY2(m_boxes.first().contains(QStringLiteral("2 books added!")), qPrintable(m_boxes.first()));
        const QString list = plain(m_boxes.last());
        QVERIFY2(list.contains(QStringLiteral("3 files could not be added")), qPrintable(list));
        for (const char* name : { "empty.epub", "truncated.epub", "tool.txt" })
            QVERIFY2(list.contains(QLatin1String(name) + QStringLiteral(": the file is damaged or is no book")),
                qPrintable(list));
        QCOMPARE(warnings.count(QStringLiteral("Not added:")), 3);

        m_boxes.clear();
        emit Application::instance()->filesReceived({ m_dir.filePath(QStringLiteral("mistyped.epub")) });
        QCoreApplication::processEvents();
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(plain(m_boxes.first()).contains(QStringLiteral("mistyped.epub: the file was not found")),
            qPrintable(m_boxes.first()));
        // With a book already in the library: its box, then the missing file.
        m_boxes.clear();
        QSignalSpy finished(bookimporter::instance(), &bookimporter::finished);
        emit Application::instance()->filesReceived({ m_dir.filePath(QStringLiteral("gone.fb2")), files.first() });
        waitForImport(finished);
        QCOMPARE(m_boxes.size(), 2);
        QVERIFY2(m_boxes.first().contains(QStringLiteral("has already been added")), qPrintable(m_boxes.first()));
        QVERIFY2(plain(m_boxes.last()).contains(QStringLiteral("gone.fb2: the file was not found")),
            qPrintable(m_boxes.last()));
    }

    void drops_data()
    {
        QTest::addColumn<QString>("name"); // a folder ends in a slash
        QTest::addColumn<bool>("modal");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("only unsupported") << "notes.doc" << false << false;
        QTest::newRow("during a modal dialog") << "modal.fb2" << true << false;
        QTest::newRow("folder") << "shelf/" << false << true;
    }
    void drops()
    {
        QFETCH(QString, name);
        QFETCH(bool, modal);
        QFETCH(bool, accepted);
        QString path = m_dir.filePath(name.chopped(1));
        if (name.endsWith(QLatin1Char('/'))) {
            QDir(m_dir.path()).mkpath(name);
            book(name + QStringLiteral("in-folder.txt"));
        } else {
            path = name.endsWith(QStringLiteral(".doc")) ? junk(name) : book(name);
        }
        std::unique_ptr<QMimeData> mime(new QMimeData);
        mime->setUrls({ QUrl::fromLocalFile(path) });
        QDialog dialog;
        if (modal) {
            dialog.setModal(true);
            dialog.show();
            QTRY_VERIFY(QApplication::activeModalWidget());
        }
        filter()->setFilterCategory(Enums::Favorites);
        const QPoint at(m_page->width() / 2, m_page->height() / 2);
        QDragEnterEvent enter(at, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_page, &enter);
        QCOMPARE(enter.isAccepted(), accepted);
        QCOMPARE(!m_page->dropIndicator()->isHidden(), accepted);
        dialog.hide();
        if (!accepted)
            return;
        const int rows = books()->rowCount();
        QSignalSpy finished(bookimporter::instance(), &bookimporter::finished);
        QDropEvent drop(at, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_page, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(filter()->filterCategory(), int(Enums::AllBooks));
        waitForImport(finished);
        QCOMPARE(books()->rowCount(), rows + 1);
        QTRY_VERIFY(m_page->dropIndicator()->isHidden());
    }

    // Paths handed over by a second start are added like a drop; the count goes out with the formats.
    // Separate hand-overs, one arriving while the other is imported, are answered each with its own
    // "Book added!", in order; one handed over while the first question is open is stored then, and
    // asked about after the others. Answered OK while another page shows, no card of the hidden
    // library takes the keys.
    void handOver()
    {
        const int rows = books()->rowCount();
        QSignalSpy finished(bookimporter::instance(), &bookimporter::finished);
        emit Application::instance()->filesReceived({ book(QStringLiteral("given1.fb2")),
            book(QStringLiteral("given2.fb2")), book(QStringLiteral("c.pdf")), junk(QStringLiteral("x.doc")) });
        waitForImport(finished);
        QCOMPARE(books()->rowCount(), rows + 3);
        QVERIFY2(m_boxes.value(0).contains(QStringLiteral("3 books added!")), qPrintable(m_boxes.value(0)));
        const MetricSender::Event added = metrics(QStringLiteral("addedbks")).last();
        QCOMPARE(added.value, QStringLiteral("3"));
        QCOMPARE(added.extra, QStringLiteral("fb2_2,pdf"));

        auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
        window->showPage(window->readingPage());
        const auto back = qScopeGuard([window] { window->showPage(window->libraryPage()); });
        QVERIFY(!m_page->isVisible());
        m_boxes.clear();
        bool storedWhileAsked = false;
        m_whileAsked = [this, &storedWhileAsked, rows] {
            emit Application::instance()->filesReceived({ book(QStringLiteral("underbox.fb2")) });
            // The box's own loop, until the book is in the library.
            QElapsedTimer clock;
            clock.start();
            while (!storedWhileAsked && clock.elapsed() < windowwaits::kTimeoutMs) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
                storedWhileAsked = books()->rowCount() == rows + 6;
            }
        };
        for (const char* name : { "apart1.fb2", "apart2.fb2" })
            emit Application::instance()->filesReceived({ book(QString::fromLatin1(name)) });
        QTRY_COMPARE(m_boxes.size(), 3);
        QCoreApplication::processEvents();
        QCOMPARE(m_boxes.size(), 3);
        QVERIFY(storedWhileAsked);
        for (const QString& box : qAsConst(m_boxes))
            QVERIFY2(box.contains(QStringLiteral("Book added!")), qPrintable(box));
        QCOMPARE(books()->rowCount(), rows + 6);
        QVERIFY(!qobject_cast<BookItemWidget*>(window->focusWidget()));
    }

    // Maximised and back, the table header's columns stay over the rows' columns.
    void headerFollowsMaximise()
    {
        addBook(QStringLiteral("Header Row"), 0);
        filter()->setFilterCategory(Enums::AllBooks);
        choose(Enums::View_Table);
        QTRY_COMPARE(m_page->viewMode(), int(Enums::View_Table));
        // An earlier answer may have scrolled the list to a book further down.
        m_page->listWidget()->scrollToRow(0);
        QTRY_VERIFY(m_page->listWidget()->itemAtRow(0));
        // Each column's left edge on the screen and its width, in the header and in the first row.
        const auto span = [](const QWidget* w) {
            return w ? qMakePair(w->mapToGlobal(QPoint()).x(), w->width()) : qMakePair(-1, -1);
        };
        const auto headerWidths = [&] {
            QMap<int, QPair<int, int>> columns;
            for (KelButton* button : m_page->tableHeader()->buttons().mid(1))
                columns.insert(button->property("column_prop").toInt(), span(button));
            return columns;
        };
        const auto rowWidths = [&] {
            QMap<int, QPair<int, int>> columns;
            QWidget* first = dynamic_cast<BookItemWidget*>(m_page->listWidget()->itemAtRow(0));
            const char* names[] = { "Author", "DateAdded", "Notes", "ProgressContainer" };
            for (int column = 1; column <= 4 && first; ++column)
                columns.insert(column, span(first->findChild<QWidget*>(QLatin1String(names[column - 1]))));
            return columns;
        };
        // Wider and back, as maximising and restoring do: the header follows the rows' new layout.
        QWidget* window = m_page->window();
        const QSize normal = window->size();
        for (const QSize& size : { normal + QSize(500, 100), normal }) {
            window->resize(size);
            QTRY_COMPARE(window->size(), size);
            // The rows lay out again from posted requests, later on a busy machine.
            QTRY_COMPARE(headerWidths(), rowWidths());
        }
        choose(Enums::View_Cards);
    }

    // At the window's narrowest, the trash's buttons fit the tool bar as it is: the window keeps its
    // size, and every tool bar control stays whole inside the page, in order, none on another. A
    // text too long for the room (a translation) narrows its button, never the window.
    void trashToolBarKeepsWindowSize()
    {
        auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
        SideBar* bar = window->sideBar();
        const QSize normal = window->size();
        // The settings page, hidden until now, takes its final size once shown: the window's minimum
        // counts every page.
        bar->entry(Enums::AppSettings)->setChecked(true);
        QTest::qWait(50);
        bar->entry(Enums::AllBooks)->setChecked(true);
        QTest::qWait(50);
        const QSize narrow = window->minimumSize();
        window->resize(narrow);
        QTRY_COMPARE(window->size(), narrow);
        const auto fits = [this] {
            const QList<QWidget*> controls { m_page->restoreAllButton(), m_page->clearTrashButton(),
                m_page->searchLineEdit(), m_page->viewModeButton(Enums::View_Cards),
                m_page->viewModeButton(Enums::View_Table) };
            int right = 0;
            for (QWidget* control : controls) {
                const QRect rect(control->mapTo(m_page, QPoint()), control->size());
                if (!m_page->rect().contains(rect) || rect.left() < right)
                    return false;
                right = rect.right() + 1;
            }
            return true;
        };
        for (int category : { int(Enums::Deleted), int(Enums::AllBooks), int(Enums::Deleted) }) {
            bar->entry(category)->setChecked(true);
            QTRY_COMPARE(m_page->isTrashMode(), category == Enums::Deleted);
            QTest::qWait(50); // the layouts' requests
            // Settled, not merely at one moment: a busy machine handles the requests late.
            QTRY_COMPARE(window->minimumSize(), narrow);
            QTRY_COMPARE(window->size(), narrow);
        }
        QTRY_VERIFY(fits());

        // A text too long for the room, as a translation may have, is elided.
        KelButton* clear = m_page->clearTrashButton();
        clear->setText(QStringLiteral("Remove every book in the trash from the library for good"));
        QTest::qWait(50);
        QTRY_COMPARE(window->size(), narrow);
        QTRY_VERIFY(fits());
        QVERIFY2(clear->width() < clear->sizeHint().width(), qPrintable(QString::number(clear->width())));
        m_page->translateUi();

        bar->entry(Enums::AllBooks)->setChecked(true);
        window->resize(normal);
        QTRY_COMPARE(window->size(), normal);
    }

    // Widgets only near the viewport, in their own sizes; the last book reachable. The header's columns
    // follow the rows' widths in the table, not in cards. The mode is stored, its metric sent on a change.
    // Another category shows from its start; books added while the view is further down are brought
    // into it.
    void largeLibrary()
    {
        const auto fixed = [this] {
            int count = 0;
            for (KelButton* button : m_page->tableHeader()->buttons().mid(1))
                count += button->maximumWidth() < QWIDGETSIZE_MAX ? 1 : 0;
            return count;
        };
        QSqlDatabase::database().transaction();
        for (int i = 0; i < 2000; ++i)
            addBook(
                QStringLiteral("Large %1").arg(i) + (i % 3 ? QString() : QStringLiteral(", long enough to wrap")), 0);
        QSqlDatabase::database().commit();
        filter()->setFilterCategory(Enums::AllBooks);
        KelListWidget* list = m_page->listWidget();
        const int rows = filter()->rowCount();
        const int changes = metrics(QStringLiteral("chview")).size();
        for (int mode : { int(Enums::View_Cards), int(Enums::View_Table) }) {
            choose(mode);
            QTRY_COMPARE(m_page->viewMode(), mode);
            QCOMPARE(int(SettingsProvider::instance()->library_view_mode()), mode);
            QTRY_COMPARE(fixed() > 0, mode == Enums::View_Table);
            const QSize view = list->viewport()->size();
            const int perView = mode == Enums::View_Table ? view.height() / 80 + 1 : (view.width() / 214) * 3;
            list->scrollToRow(rows - 1);
            QCoreApplication::processEvents();
            QVERIFY2(list->itemCount() <= 4 * perView, qPrintable(QString::number(list->itemCount())));
            auto* last = dynamic_cast<BookItemWidget*>(list->itemAtRow(rows - 1));
            QVERIFY(rows >= 2000 && last && last->isVisible());
            QCOMPARE(last->bookId(), filter()->index(rows - 1, 0).data(BookModel::IdRole).toInt());
            QVERIFY(list->viewport()->rect().contains(QRect(last->mapTo(list->viewport(), QPoint()), last->size())));
            list->forEachItem([mode](KelListWidgetItem* item, int) {
                auto* book = dynamic_cast<BookItemWidget*>(item);
                QCOMPARE(book->height(), mode == Enums::View_Table ? 80 : book->heightForWidth(book->width()));
            });
        }
        choose(Enums::View_Cards);
        QStringList sent;
        for (const MetricSender::Event& event : metrics(QStringLiteral("chview")).mid(changes))
            sent << event.value;
        QCOMPARE(sent, QStringList({ "0", "1" }));

        QScrollBar* bar = list->verticalScrollBar();
        list->scrollToRow(rows - 1);
        QVERIFY(bar->value() > 0);
        // The side bar follows each switch on the next pass, as after a click.
        filter()->setFilterCategory(Enums::BookFormat + 0); // the EPUB books: most rows stay
        QCoreApplication::processEvents();
        QVERIFY(filter()->rowCount() > 1000);
        QCOMPARE(bar->value(), 0);
        filter()->setFilterCategory(Enums::AllBooks);
        QCoreApplication::processEvents();
        QCOMPARE(bar->value(), 0);

        // Sorted so that the added books come first, while the view shows the last ones.
        filter()->setUserSort(BookModel::AuthorColumn, Qt::DescendingOrder);
        const auto sortBack = qScopeGuard([] { filter()->setUserSort(BookModel::AuthorColumn, Qt::AscendingOrder); });
        list->scrollToRow(filter()->rowCount() - 1);
        QStringList files;
        for (const QString& name : { QStringLiteral("Zulu one"), QStringLiteral("Zulu two") }) {
            librarybooks::BookRecipe fixture;
            fixture.title = name;
            fixture.authorFirst = QStringLiteral("Zed");
            fixture.authorLast = QStringLiteral("Zulu");
            files << m_dir.filePath(name + QStringLiteral(".epub"));
            QVERIFY(librarybooks::write(files.last(), fixture));
        }
        importThroughDialog(files);
        QTRY_COMPARE(m_boxes.size(), 1);
        m_boxes.clear();
        QVERIFY(filter()->index(0, 0).data(BookModel::TitleRole).toString().startsWith(QStringLiteral("Zulu")));
        auto* newest = dynamic_cast<QWidget*>(list->itemAtRow(0));
        QVERIFY(newest && newest->isVisible());
        QVERIFY(list->viewport()->rect().contains(QRect(newest->mapTo(list->viewport(), QPoint()), newest->size())));
    }

    // The program ends while one hand-over is imported (held by a pause) and another waits for it:
    // the end reads neither and asks nothing, both stay in the library's record, and the next
    // start's page takes what the record holds as one act: one question, each book stored once and
    // gone from the record. Near the end, since the old page asks nothing after it.
    void handOverKeptAtQuit()
    {
        const int rows = books()->rowCount();
        BookProvider* library = BookProvider::instance();
        const QStringList handed { book(QStringLiteral("held.fb2")), book(QStringLiteral("waiting.fb2")) };
        const auto record = [library] {
            QStringList paths;
            for (const HandedOverFile& file : library->handedOverFiles())
                paths << file.path;
            return paths;
        };
        Application::instance()->receiveFiles(Application::handOverMessage({ QStringLiteral("pageloom"), handed[0] }));
        bookimporter::instance()->toggleProcessing(true);
        // An importer that the end left paused would hold the test's own end.
        const auto unpause = qScopeGuard([] { bookimporter::instance()->cancel(); });
        Application::instance()->receiveFiles(Application::handOverMessage({ QStringLiteral("pageloom"), handed[1] }));
        QCOMPARE(record(), handed);
        QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection));
        QTRY_VERIFY(!bookimporter::instance()->isRunning());
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(books()->rowCount(), rows);
        QCOMPARE(record(), handed);
        QCOMPARE(m_boxes.size(), 0);

        // The next start: what earlier runs left is one act.
        QObject::disconnect(bookimporter::instance(), nullptr, m_page, nullptr);
        QObject::disconnect(Application::instance(), nullptr, m_page, nullptr);
        QVERIFY(library->mergeHandOvers(library->lastHandOverAct()));
        QSignalSpy finished(bookimporter::instance(), &bookimporter::finished);
        LibraryPage next;
        waitForImport(finished);
        QTRY_COMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().contains(QStringLiteral("2 books added!")), qPrintable(m_boxes.first()));
        QCOMPARE(books()->rowCount(), rows + 2);
        QVERIFY(record().isEmpty());
        m_boxes.clear();
    }

    // A page that was never shown (the main window still behind the splash) has made no cards: the
    // added book is still answered and opened. Last, since it takes the importer from the main page.
    void addedBookWithoutCard()
    {
        QObject::disconnect(bookimporter::instance(), nullptr, m_page, nullptr);
        QObject::disconnect(Application::instance(), nullptr, m_page, nullptr);
        LibraryPage page;
        QSignalSpy opened(books(), &BookModel::openBookClicked);
        m_answer = 2;
        QSignalSpy finished(bookimporter::instance(), &bookimporter::finished);
        emit Application::instance()->filesReceived(
            { book(QStringLiteral("uncarded.epub"), QStringLiteral("Uncarded")) });
        waitForImport(finished);
        QTRY_COMPARE(m_boxes.size(), 1);
        m_answer = 1;
        QVERIFY2(m_boxes.first().contains(QStringLiteral("Book added!")), qPrintable(m_boxes.first()));
        QCOMPARE(opened.size(), 1);
        QCOMPARE(books()->bookById(opened.first().first().toInt()).title, QStringLiteral("Uncarded"));
    }
};

int main(int argc, char** argv)
{
    TempHome home;
    QCoreApplication::setOrganizationName(QStringLiteral("Library Page Test Org"));
    QCoreApplication::setApplicationName(QStringLiteral("Library Page Test"));
    KelLogger::setAppDirName(QStringLiteral("Library Page Test"));
    Application app(QUuid::createUuid().toString(), argc, argv);
    registerSettingsMetaTypes();
    app.setSettings(new SettingsProvider(
        KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat, &app));
    TestLibraryPage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_librarypage.moc"

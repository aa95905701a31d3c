#include "application.h"
#include "defaultapp.h"
#include "enums.h"
#include "kellogger/kellogger.h"
#include "mainwindow/appsettingspage/appsettingspage.h"
#include "mainwindow/librarypage/librarypage.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/sidebar/sidebar.h"
#include "mainwindow/statusbar/statusbar.h"
#include "models/booksortfiltermodel.h"
#include "settingsprovider.h"
#include "silentspeechservice.h"
#include "speechengine.h"
#include "speechservice.h"
#include "temphome.h"
#include "ui.h"
#include "widgets/dragicon.h"
#include "widgets/dropindicator.h"
#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"
#include "widgets/kellineedit.h"
#include "widgets/kelstackedwidget.h"
#include "windows/kelmessagebox.h"

#include "appdirs.h"
#include "bookcontext.h"
#include "checkedsave.h"
#include "dataexchangesvc.h"
#include "epubbuilder.h"
#include "eventloops/nestedloop.h"
#include "formats/bookformat.h"
#include "formats/pdf/binding/pdfenginefile.h"
#include "hotkeys.h"
#include "librarybooks.h"
#include "mainwindow/readingpage/readingfooter.h"
#include "mainwindow/readingpage/readingpage.h"
#include "mainwindow/readingpage/readingtoolbar.h"
#include "models/bookmodel.h"
#include "passwordprompt.h"
#include "pdfencryption.h"
#include "readingservices.h"
#include "smalldisk.h"
#include "testfiles.h"
#include "testpaths.h"
#include "textviewer.h"
#include "windowwaits.h"

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>
#include <QWebElement>
#include <QWebFrame>
#include <QtConcurrent>

#include <functional>
#include <memory>
#include <unistd.h>

using Question = std::function<QVariant(Ui*)>;
Q_DECLARE_METATYPE(Question)

namespace {

// Runs action on every tick while a modal loop is up; stops once it answers true.
void whileModal(std::function<bool()> action)
{
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
        if (action())
            timer->deleteLater();
    });
    timer->start();
}

// A message that only informs: it answers nothing.
Question shown(const std::function<void(Ui*)>& show)
{
    return [show](Ui* ui) {
        show(ui);
        return QVariant();
    };
}

QWidget* visibleTopLevel(const QString& name)
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == name && widget->isVisible())
            return widget;
    }
    return nullptr;
}

// Presses the named button of the named window once a modal loop shows it; the flag says it did.
std::shared_ptr<bool> pressWhenShown(const QString& window, const QString& button)
{
    auto pressed = std::make_shared<bool>(false);
    whileModal([=] {
        if (QWidget* shown = visibleTopLevel(window)) {
            emit shown->findChild<KelButton*>(button)->clicked();
            *pressed = true;
        }
        return *pressed;
    });
    return pressed;
}

// Real boxes of the toolkit, each running its own loop; the buttons are named by their texts.
int realBox(KelMessageBoxRequest& request)
{
    KelMessageBox box(request.parent, true);
    box.setObjectName(request.message.contains(QLatin1String("external browser")) ? QStringLiteral("LinkQuestion")
            : request.message.contains(QLatin1String("Book added"))               ? QStringLiteral("BookAdded")
                                                                                  : QStringLiteral("MessageBox"));
    box.setText(request.message);
    for (int i = 0; i < request.buttonTexts.size() && i < 3; ++i) {
        if (request.buttonTexts.at(i).isEmpty())
            continue;
        auto* button = new KelButton(19, &box);
        button->setObjectName(request.buttonTexts.at(i));
        button->setText(request.buttonTexts.at(i));
        box.addButton(i + 1, button, i + 1 == request.defaultButtonId);
    }
    box.applyStyle();
    return box.exec(KelWindow::ShowStrategy::CenteredOnParent);
}

// Takes the links the program sends to the desktop.
class UrlSink : public QObject {
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls << url; }
};

} // namespace

class AppShellTest : public QObject {
    Q_OBJECT

    QList<KelMessageBoxRequest> m_boxes;
    int m_answer = 1;
    // Whether the main window showed its side bar when the last box came up.
    bool m_sideBarAtBox = false;

    void recordBoxes()
    {
        Ui::instance()->setMessageBoxHandler([this](KelMessageBoxRequest& request) {
            m_boxes << request;
            auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
            m_sideBarAtBox = window && window->sideBar()->isVisibleTo(window);
            return m_answer;
        });
    }

private slots:
    void initTestCase()
    {
        Ui* ui = Ui::instance();
        QVERIFY(ui);
        recordBoxes();
        // The trash is the category the previous run left.
        SettingsProvider::instance()->setLibrary_category(Enums::Deleted);
        QVERIFY(Application::instance()->init());
        // Books opened from the library write their progress and get page numbers.
        QCOMPARE(ReadingServices::bookModel(), Application::instance()->bookModel());
        QVERIFY(ReadingServices::dataExchangeSvc());
    }

    // The title bar shows the title of the book read as the text it is, tags and all.
    void bookTitleAsText()
    {
        auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
        QVERIFY(window);
        QWidget* before = window->pages()->currentWidget();
        window->pages()->setCurrentWidget(window->readingPage());
        const QString title = QStringLiteral("The <html> & <body> tags: Chapter <b>");
        emit window->readingPage()->bookTitleChanged(title);
        KelLabel* label = window->bookTitleLabel();
        QCOMPARE(label->text(), title);
        QVERIFY(label->sizeHint().width() >= label->fontMetrics().horizontalAdvance(title));
        emit window->readingPage()->bookTitleChanged(QString());
        window->pages()->setCurrentWidget(before);
    }

    // The heading comes first, in bold; lines break; a blank heading is none; nothing gives nothing.
    void formatMessage()
    {
        const QString both = Ui::formatMessage(QStringLiteral("b\nc"), QStringLiteral("H"));
        QVERIFY2(both.contains(QLatin1String("font-weight:600;'>H</span>"))
                && both.contains(QLatin1String("</span>b<br>c<span")),
            qPrintable(both));
        const QString body = QStringLiteral("b");
        QCOMPARE(Ui::formatMessage(body, QStringLiteral(" ")), Ui::formatMessage(body, QString()));
        QVERIFY(Ui::formatMessage(QString(), QStringLiteral("H\nI")).startsWith(QLatin1String("H<br>I<span")));
        QCOMPARE(Ui::formatMessage(QString(), QString()), QString());
    }

    // Every question: its buttons in order, the answer for each pressed button. Book texts are shown
    // literally: the rows whose name ends in "<b>&" pass that text.
    void questions_data()
    {
        QTest::addColumn<Question>("ask");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("pressed");
        QTest::addColumn<QVariant>("result");
        const QStringList yesNo { "Yes", "No" };
        const QStringList noYes { "No", "Yes" };
        const QStringList ok { "OK" };
        QTest::newRow("delete book no <b>&") << Question([](Ui* ui) { return ui->askDeleteBookFromTrash("<b>&"); })
                                             << yesNo << 7 << 2 << QVariant(false);
        QTest::newRow("empty trash") << Question([](Ui* ui) { return ui->askEmptyTrash(); }) << yesNo << 7 << 1
                                     << QVariant(true);
        QTest::newRow("clear library no")
            << Question([](Ui* ui) { return ui->askClearLibrary(); }) << noYes << 7 << 1 << QVariant(false);
        QTest::newRow("external link") << Question([](Ui* ui) { return ui->askOpenExternalLink(); }) << noYes << 7 << 2
                                       << QVariant(true);
        QTest::newRow("delete folder") << Question([](Ui* ui) { return ui->askDeleteCategory(); }) << noYes << 7 << 1
                                       << QVariant(false);
        QTest::newRow("book added, read now") << Question([](Ui* ui) { return ui->showBookAdded(); })
                                              << QStringList { "OK", "Start reading now" } << 6 << 2 << QVariant(true);
        QTest::newRow("books added") << shown([](Ui* ui) { ui->showBooksAdded(3); }) << ok << 6 << 1 << QVariant();
        QTest::newRow("damaged") << shown([](Ui* ui) { ui->showBookDamaged(); }) << ok << 5 << 1 << QVariant();
        QTest::newRow("not found /books/<b>&")
            << shown([](Ui* ui) { ui->showBookNotFound("/books/<b>&"); }) << ok << 5 << 1 << QVariant();
        QTest::newRow("printer gone <b>&")
            << shown([](Ui* ui) { ui->showPrinterDisconnected("<b>&"); }) << ok << 5 << 1 << QVariant();
        QTest::newRow("archive of books /a/<b>&")
            << shown([](Ui* ui) { ui->showSeveralBooksInArchive("/a/<b>&"); }) << ok << 5 << 1 << QVariant();
        QTest::newRow("notes unreadable /s/<b>&")
            << shown([](Ui* ui) { ui->showNotesUnreadable("/s/<b>&"); }) << ok << 5 << 1 << QVariant();
    }

    // What the reading core reports about a book's files reaches the user as a box, once per file,
    // after the running code is done (a save at a book's close runs inside its teardown).
    void storageNotices()
    {
        m_boxes.clear();
        m_answer = 1;
        const QString state = QDir::home().filePath(QStringLiteral("abc/abc.settings"));
        ReadingServices::notifyStorage(ReadingServices::NotesNotSaved, state, checkedsave::Failure::DiskFull);
        ReadingServices::notifyStorage(ReadingServices::NotesNotSaved, state, checkedsave::Failure::DiskFull);
        QVERIFY(m_boxes.isEmpty());
        QTRY_COMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().message.contains(
                     QLatin1String("The notes and bookmarks of the book could not be saved: The disk is full.")),
            qPrintable(m_boxes.first().message));
        const QString kept = state + QStringLiteral(".bak");
        ReadingServices::notifyStorage(ReadingServices::NotesUnreadable, kept, checkedsave::Failure::None);
        QTRY_COMPARE(m_boxes.size(), 2);
        QVERIFY2(m_boxes.last().message.contains(QLatin1String("could not be read"))
                && m_boxes.last().message.contains(kept),
            qPrintable(m_boxes.last().message));
        const QString folder = QDir::home().filePath(QStringLiteral("abc"));
        QVERIFY(QDir().mkpath(folder));
        ReadingServices::notifyStorage(ReadingServices::BookPartlyUnpacked, folder, checkedsave::Failure::NotWritable);
        QTRY_COMPARE(m_boxes.size(), 3);
        QVERIFY2(m_boxes.last().message.contains(QLatin1String("Part of the book could not be unpacked"))
                && m_boxes.last().message.contains(folder),
            qPrintable(m_boxes.last().message));

        // A settings file in a folder that cannot be written: the changes made meanwhile are told
        // once, and again after one went through.
        SettingsProvider* settings = SettingsProvider::instance();
        const QString config = QFileInfo(settings->fileName()).absolutePath();
        const auto change = [settings] {
            settings->setLibrary_view_mode(
                settings->library_view_mode() == Enums::View_Cards ? Enums::View_Table : Enums::View_Cards);
            QCoreApplication::processEvents();
        };
        const QString told
            = QStringLiteral("The settings could not be saved: The folder %1 cannot be written.").arg(config);
        for (int round = 1; round <= 2; ++round) {
            {
                ReadOnlyPlace readOnly(config);
                if (!readOnly.isReadOnly())
                    QSKIP("the configuration folder cannot be made read-only here");
                change();
                change();
                QTRY_COMPARE(m_boxes.size(), 3 + round);
                QTest::qWait(50);
                QCOMPARE(m_boxes.size(), 3 + round);
                QVERIFY2(m_boxes.last().message.contains(told), qPrintable(m_boxes.last().message));
            }
            change();
        }
        QSettings stored(settings->fileName(), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("library_view_mode")).value<Enums::LibraryViewMode>(),
            settings->library_view_mode());
    }
    void questions()
    {
        QFETCH(Question, ask);
        QFETCH(QStringList, buttons);
        QFETCH(int, icon);
        QFETCH(int, pressed);
        QFETCH(QVariant, result);
        m_boxes.clear();
        m_answer = pressed;
        QCOMPARE(ask(Ui::instance()), result);
        QCOMPARE(m_boxes.size(), 1);
        QStringList shown = m_boxes.first().buttonTexts;
        shown.removeAll(QString());
        QCOMPARE(shown, buttons);
        QCOMPARE(m_boxes.first().iconType, icon);
        const QString message = m_boxes.first().message;
        QVERIFY2(!message.contains(QLatin1String("<b>&")), qPrintable(message));
        QCOMPARE(message.contains(QLatin1String("&lt;b&gt;&amp;")),
            QString::fromUtf8(QTest::currentDataTag()).endsWith(QLatin1String("<b>&")));
    }

    // A book that cannot be opened sends the reader back to the library with the damaged-book box (none
    // when the password was declined); the side bar and status bar made way while it was opened. A
    // healthy book whose data folder cannot be written opens all the same, without a box; where the
    // run's own folder cannot be written either, one box names the folder.
    void failedOpen_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<bool>("noRunFolder");
        QTest::newRow("damaged") << "broken.epub" << false << false;
        QTest::newRow("password declined") << "locked.pdf" << false << false;
        QTest::newRow("healthy, read-only data folder") << "healthy.epub" << true << false;
        QTest::newRow("damaged, read-only data folder") << "broken too.epub" << true << false;
        QTest::newRow("healthy, no folder to read it into") << "healthy too.epub" << true << true;
        QTest::newRow("comic, no folder to read it into") << "healthy comic.cbz" << true << true;
    }
    void failedOpen()
    {
        QFETCH(QString, file);
        QFETCH(bool, readOnly);
        QFETCH(bool, noRunFolder);
        const bool healthy = file.startsWith(QLatin1String("healthy"));
        pdfengine::setLibraryPath(testpaths::binDir() + QLatin1Char('/') + pdfengine::fileName());
        const QString path = QDir::home().filePath(file);
        const bool pdf = file.endsWith(QLatin1String(".pdf"));
        if (pdf) {
            const QString plain = QDir::home().filePath(QStringLiteral("plain.pdf"));
            QVERIFY(librarybooks::write(plain));
            QVERIFY(writeEncryptedPdf(testfiles::read(plain), path, QStringLiteral("user"), QStringLiteral("owner")));
        } else if (healthy) {
            QVERIFY(librarybooks::write(path));
        } else {
            QVERIFY(testfiles::write(path, "this is not a zip archive"));
        }
        // The books' data folder cannot be written: mounted read-only for root, whom permissions
        // do not bind.
        const QString folder = booksDir();
        std::unique_ptr<SmallDisk> disk;
        if (readOnly && ::geteuid() == 0) {
            disk = std::make_unique<SmallDisk>(folder, true);
            if (!disk->isMounted())
                QSKIP("no file system can be mounted here");
        } else if (readOnly) {
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        }
        const auto restore = qScopeGuard([&] {
            disk.reset();
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        std::unique_ptr<ReadOnlyPlace> runFolder;
        if (noRunFolder) {
            runFolder = std::make_unique<ReadOnlyPlace>(runTempDir());
            QVERIFY(runFolder->isReadOnly());
        }
        BookDto book;
        book.full_path = path;
        book.title = file;
        book.format = bookFormatFromName(QFileInfo(file).suffix());
        const int id = Application::instance()->bookModel()->addBook(book);
        QVERIFY(id > 0);

        const auto declined = pdf ? pressWhenShown(QStringLiteral("PasswordBox"), QStringLiteral("Cancel"))
                                  : std::make_shared<bool>(false);
        auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
        QVERIFY(window);
        m_boxes.clear();
        m_answer = 1;
        m_sideBarAtBox = true;
        window->openBook(id);
        QCOMPARE(*declined, pdf);
        if (healthy && !noRunFolder) {
            // A healthy book is read from a folder of the run instead, and nothing is told.
            QTRY_VERIFY(window->readingPage()->bookContext() && window->readingPage()->bookContext()->chapterPage());
            QCOMPARE(window->pages()->currentWidget(), static_cast<QWidget*>(window->readingPage()));
            QCoreApplication::processEvents();
            QCOMPARE(m_boxes.size(), 0);
            window->readingPage()->closeBook();
            window->showPage(window->libraryPage());
            return;
        }
        // The one box, for one cause: nothing else comes after it.
        QCoreApplication::processEvents();
        QCOMPARE(m_boxes.size(), pdf ? 0 : 1);
        if (!pdf) {
            // A damaged book is called so, also where its data folder cannot be written.
            const QString expected = healthy
                ? QStringLiteral("The folder %1 cannot be written. Book can not be opened.").arg(folder)
                : QStringLiteral("Ebook file is damaged. Book can not be opened.");
            QVERIFY2(m_boxes.first().message.contains(expected), qPrintable(m_boxes.first().message));
            QVERIFY(!m_sideBarAtBox);
            QVERIFY(QFile::exists(path));
        }
        QVERIFY(!window->readingPage()->bookContext());
        QCOMPARE(window->pages()->currentWidget(), static_cast<QWidget*>(window->libraryPage()));
        QVERIFY(window->sideBar()->isVisibleTo(window));
        QVERIFY(window->statusBar()->isVisibleTo(window));
    }

    // A second start hands a book over while a box of the open book waits for its answer (the question
    // of a link clicked on its page, the password of a protected PDF being opened): the book is stored
    // at once, under the box, which is answered first, and for its own book; "Book added!" comes after
    // it, and "Start reading now" shows the handed-over book with its own title, tools and page count,
    // paged by keys. The link goes to the desktop on Yes, its book being still the one open. A
    // hand-over that comes while a book is being opened (the events handled as its file is unpacked
    // and its page set up) is stored then, and its question waits for the opening to end.
    void handOverUnderBox_data()
    {
        QTest::addColumn<bool>("pdf");
        QTest::addColumn<QString>("answer");
        QTest::newRow("book opening") << false << "";
        QTest::newRow("link question, No") << false << "No";
        QTest::newRow("link question, Yes") << false << "Yes";
        QTest::newRow("password given") << true << "Unlock";
        QTest::newRow("password declined") << true << "Cancel";
    }
    void handOverUnderBox()
    {
        QFETCH(bool, pdf);
        QFETCH(QString, answer);
        const int timeout = windowwaits::kTimeoutMs;
        pdfengine::setLibraryPath(testpaths::binDir() + QLatin1Char('/') + pdfengine::fileName());
        const QUrl away(QStringLiteral("https://example.org/away"));
        const bool opening = answer.isEmpty();
        const QString name = opening ? QStringLiteral("opening") : answer;
        const QString asking = QDir::home().filePath(QStringLiteral("asking %1.%2").arg(name, pdf ? "pdf" : "epub"));
        if (pdf) {
            const QString plain = QDir::home().filePath(QStringLiteral("plain %1.pdf").arg(answer));
            QVERIFY(librarybooks::write(plain));
            QVERIFY(writeEncryptedPdf(testfiles::read(plain), asking, QStringLiteral("user"), QStringLiteral("owner")));
        } else {
            EpubBuilder epub;
            epub.setTitle(QStringLiteral("Asking"));
            epub.addChapter(QStringLiteral("c1"), QStringLiteral("c1.xhtml"), QStringLiteral("One"),
                QStringLiteral("<p><a href=\"%1\" style=\"display:block;width:300px;height:200px\">Away</a></p>")
                    .arg(away.toString()));
            QVERIFY(epub.write(asking));
        }
        BookDto book;
        book.full_path = asking;
        book.title = QFileInfo(asking).completeBaseName();
        book.format = bookFormatFromName(QFileInfo(asking).suffix());
        const int askingId = Application::instance()->bookModel()->addBook(book);
        QVERIFY(askingId > 0);
        librarybooks::BookRecipe recipe;
        recipe.title = QStringLiteral("Handed over %1").arg(name);
        recipe.chapters = 3;
        const QString handed = QDir::home().filePath(recipe.title + QStringLiteral(".epub"));
        QVERIFY(librarybooks::write(handed, recipe));

        // Page numbers come from the helper built beside the tests.
        DataExchangeSvc pageCounter(testpaths::binDir() + QStringLiteral("/zuvezedoda"), nullptr);
        DataExchangeSvc* programCounter = ReadingServices::dataExchangeSvc();
        ReadingServices::setDataExchangeSvc(&pageCounter);
        UrlSink sink;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &sink, "open");
        Ui::instance()->setMessageBoxHandler(realBox);
        // The hand-over shows all books; the library's category is put back as the start left it.
        BookSortFilterModel* proxy = Application::instance()->bookSortFilterModel();
        const int category = proxy->filterCategory();
        const auto restore = qScopeGuard([this, programCounter, &pageCounter, proxy, category] {
            QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
            recordBoxes();
            auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
            if (window)
                window->readingPage()->closeBook();
            proxy->setFilterCategory(category);
            if (window)
                window->showPage(window->libraryPage());
            ReadingServices::setDataExchangeSvc(programCounter);
            pageCounter.stopHandler();
            // The side bar follows the category on the next pass.
            QCoreApplication::processEvents();
        });
        QSignalSpy received(Application::instance(), &Application::handOverRecorded);

        // Hands over once the box asks, answers it once the handed-over book is stored, and reads the
        // added book now whenever "Book added!" shows.
        const QString askingBox = pdf ? QStringLiteral("PasswordBox") : QStringLiteral("LinkQuestion");
        const QString message = Application::handOverMessage({ QStringLiteral("pageloom"), handed });
        BookModel* library = Application::instance()->bookModel();
        const auto stored = [library, &recipe] {
            for (int row = 0; row < library->rowCount(); ++row) {
                if (library->index(row, 0).data(BookModel::TitleRole).toString() == recipe.title)
                    return true;
            }
            return false;
        };
        bool delivered = false, answered = opening, readNow = false, addedOverBox = false, storedUnderBox = opening;
        QElapsedTimer sinceDelivery;
        // The link question runs its loop from the event loop, never inside the view's mouse handler.
        bool inClick = false, askedInClick = false;
        auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
        QVERIFY(window);
        ReadingPage* page = window->readingPage();
        int openAtAdded = -1;
        QTimer driver;
        driver.setInterval(20);
        connect(&driver, &QTimer::timeout, [&] {
            QWidget* box = visibleTopLevel(askingBox);
            askedInClick = askedInClick || (box && inClick);
            if (QWidget* added = visibleTopLevel(QStringLiteral("BookAdded"))) {
                addedOverBox = addedOverBox || box;
                if (!readNow) {
                    readNow = true;
                    openAtAdded = page->bookContext() ? page->bookContext()->bookDto().id : 0;
                    emit added->findChild<KelButton*>(QStringLiteral("Start reading now"))->clicked();
                }
                return;
            }
            if (!box || answered)
                return;
            if (!delivered) {
                QTimer::singleShot(0, Application::instance(), [&delivered, &sinceDelivery, message] {
                    delivered = true;
                    sinceDelivery.start();
                    emit Application::instance()->messageReceived(message);
                });
                return;
            }
            // The book is stored while the box is open; only its question waits.
            storedUnderBox = stored();
            if (!storedUnderBox && sinceDelivery.elapsed() < timeout / 2)
                return;
            answered = true;
            if (pdf && answer == QLatin1String("Unlock"))
                box->findChild<KelLineEdit*>(QStringLiteral("PasswordEdit"))->setText(QStringLiteral("user"));
            emit box->findChild<KelButton*>(answer)->clicked();
        });
        driver.start();

        // Taken by the first local loop of the opening; the first book is then open before any other.
        int loopsAtHandOver = -1;
        if (opening) {
            QTimer::singleShot(0, Application::instance(), [&delivered, &loopsAtHandOver, message] {
                delivered = true;
                loopsAtHandOver = NestedLoop::depth();
                emit Application::instance()->messageReceived(message);
            });
        }
        window->openBook(askingId);
        if (opening) {
            QVERIFY(delivered);
            QVERIFY(loopsAtHandOver > 0);
        } else if (!pdf) {
            // The link on the open page, clicked.
            QTRY_VERIFY_WITH_TIMEOUT(
                page->bookContext() && page->bookContext()->chapterPage() && page->bookContext()->currentPage() > 0,
                timeout);
            auto* view = dynamic_cast<TextViewer*>(page->bookContext()->viewer());
            QVERIFY(view);
            QWebFrame* frame = view->page()->mainFrame();
            QPoint link;
            QTRY_VERIFY_WITH_TIMEOUT(
                !(link = frame->findFirstElement(QStringLiteral("a")).geometry().center() - frame->scrollPosition())
                        .isNull()
                    && frame->hitTestContent(link).linkUrl() == away,
                timeout);
            inClick = true;
            QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, link);
            inClick = false;
        }
        QTRY_VERIFY_WITH_TIMEOUT(answered && readNow, timeout);

        // The book read now is the one shown, as itself.
        const auto shown = [page, &recipe] {
            const QSharedPointer<BookContext> context = page->bookContext();
            return context && context->bookDto().title == recipe.title && context->chapterPage()
                && context->currentPage() > 0 && context->pageCount() > 0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(shown(), timeout);
        const QSharedPointer<BookContext> context = page->bookContext();
        QCOMPARE(window->pages()->currentWidget(), static_cast<QWidget*>(page));
        QTRY_VERIFY_WITH_TIMEOUT(window->bookTitleLabel()->text().startsWith(recipe.title), timeout);
        QVERIFY(!page->toolBar()->zoomBox()->isVisibleTo(page));
        QTRY_COMPARE_WITH_TIMEOUT(page->footer()->countLabel()->text(), QString::number(context->pageCount()), timeout);
        auto* viewer = dynamic_cast<QWidget*>(context->viewer());
        QVERIFY(viewer);
        const int before = context->currentPage();
        const int code = Hotkeys::sequences(Hotkeys::Id::Nav_NextPage).value(0)[0];
        QTest::keyClick(
            viewer, Qt::Key(code & ~Qt::KeyboardModifierMask), Qt::KeyboardModifiers(code & Qt::KeyboardModifierMask));
        QTRY_VERIFY_WITH_TIMEOUT(context->currentPage() > before, timeout);
        QCOMPARE(page->bookContext(), context);
        QCOMPARE(received.size(), 1);
        // "Book added!" came after the answer, and the answer acted on the book that asked.
        QVERIFY(storedUnderBox);
        QVERIFY(!addedOverBox);
        QVERIFY(!askedInClick);
        QCOMPARE(openAtAdded, answer == QLatin1String("Cancel") ? 0 : askingId);
        QCOMPARE(sink.urls, answer == QLatin1String("Yes") ? QList<QUrl> { away } : QList<QUrl>());
    }

    // F1 opens the hotkeys dialog; the password box refuses a wrong text and unlocks with Return only.
    // The library lock gives the library to one live instance. A lock whose owner no longer runs
    // is taken over; in a folder that cannot be written, where it cannot be removed, the start goes
    // on unlocked and the log names the folder, instead of calling the reader busy.
    // A command line crosses to the running instance as it was: any character a file name holds,
    // relative names made absolute from the sender's folder, and a name that starts with "-" taken
    // as a file where such a file exists or after "--". Options stay options; a text of an older
    // start, joined by "|", is still read.
    void handOverMessageCarriesAnyName_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after the program, relative to the home
        QTest::addColumn<QStringList>("files"); // relative to the home
        QTest::newRow("pipe, newline, blanks") << QStringList { "odd|name.epub", "new\nline.epub",
            " two  blanks .epub" } << QStringList { "odd|name.epub", "new\nline.epub", " two  blanks .epub" };
        QTest::newRow("leading dash") << QStringList { "-dash.epub", "-fast" } << QStringList { "-dash.epub" };
        QTest::newRow("after --") << QStringList { "--", "-missing.epub" } << QStringList { "-missing.epub" };
        QTest::newRow("option that names no file") << QStringList { "-missing.epub", "-fast" } << QStringList();
        QTest::newRow("json text") << QStringList { "[\"a\",\"b\"].epub" } << QStringList { "[\"a\",\"b\"].epub" };
    }

    void handOverMessageCarriesAnyName()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, files);
        const QDir home = QDir::home();
        for (const QString& name : files + arguments) {
            if (!name.startsWith(QLatin1Char('-')) || name.endsWith(QLatin1String(".epub")))
                QVERIFY(name.contains(QLatin1String("missing")) || testfiles::write(home.filePath(name), "x"));
        }
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(home.path()));
        const QString message = Application::handOverMessage(QStringList { QStringLiteral("pageloom") } + arguments);
        QVERIFY(QDir::setCurrent(before));
        QStringList expected;
        for (const QString& name : files)
            expected << home.filePath(name);
        QCOMPARE(Application::filesFromMessage(message), expected);
        QCOMPARE(
            Application::hasOption(QStringList { QStringLiteral("pageloom") } + arguments, QStringLiteral("-fast")),
            arguments.contains(QStringLiteral("-fast")));
        // As an older start wrote it.
        QCOMPARE(
            Application::filesFromMessage(
                QStringLiteral("pageloom|%1|-fast|%2").arg(home.filePath(QStringLiteral("a b.epub")), home.path())),
            QStringList { home.filePath(QStringLiteral("a b.epub")) });
    }

    void libraryLock_data()
    {
        QTest::addColumn<bool>("ownerRuns");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("owner runs") << true << false << "held by another";
        QTest::newRow("owner gone") << false << false << "locked";
        QTest::newRow("owner runs, read-only folder") << true << true << "held by another";
        QTest::newRow("owner gone, read-only folder") << false << true << "unlocked";
    }
    void libraryLock()
    {
        QFETCH(bool, ownerRuns);
        QFETCH(bool, readOnly);
        QFETCH(QString, outcome);
        const QString folder = QDir::home().filePath(QStringLiteral("lockdata"));
        QVERIFY(QDir().mkpath(folder));
        // Permissions do not bind root: a file system of its own is made read-only instead.
        std::unique_ptr<SmallDisk> disk;
        if (readOnly && ::geteuid() == 0) {
            disk = std::make_unique<SmallDisk>(folder);
            if (!disk->isMounted())
                QSKIP("no file system can be mounted here");
        }
        const auto restore = qScopeGuard([&] {
            disk.reset();
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QFile::remove(folder + QStringLiteral("/ebooklib.sqlite3.lock"));
        });
        const QString path = folder + QStringLiteral("/ebooklib.sqlite3");
        // The lock as its owner, another process, made it: QLockFile's own lines with that process.
        QByteArray lines;
        {
            QLockFile sample(QDir::home().filePath(QStringLiteral("sample.lock")));
            QVERIFY(sample.tryLock(0));
            lines = testfiles::read(QDir::home().filePath(QStringLiteral("sample.lock")));
        }
        lines = lines.mid(lines.indexOf('\n', lines.indexOf('\n') + 1));
        QProcess owner;
        owner.start(QStringLiteral("sleep"), { QStringLiteral("30") });
        QVERIFY(owner.waitForStarted(5000));
        const qint64 pid = owner.processId();
        if (!ownerRuns) {
            owner.kill();
            QVERIFY(owner.waitForFinished(5000));
        }
        QVERIFY(testfiles::write(path + QStringLiteral(".lock"), QByteArray::number(pid) + "\nsleep" + lines));
        if (disk)
            QVERIFY(disk->setReadOnly());
        else if (readOnly)
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        if (outcome == QLatin1String("unlocked")) {
            QTest::ignoreMessage(QtWarningMsg,
                qPrintable(QStringLiteral("The library lock %1.lock was left by process %2, which no longer runs, and "
                                          "cannot be removed: the folder %3 is read-only")
                               .arg(path)
                               .arg(pid)
                               .arg(folder)));
        }
        const std::unique_ptr<QLockFile> lock = Application::lockLibrary(path);
        QCOMPARE(!lock             ? QStringLiteral("held by another")
                : lock->isLocked() ? QStringLiteral("locked")
                                   : QStringLiteral("unlocked"),
            outcome);
        owner.kill();
        owner.waitForFinished(5000);
    }

    void hotkeysAndPasswordDialogs()
    {
        QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
        QVERIFY(Ui::instance()->handleHotkey(&f1));
        // Not inside the key handler: it opens once the event is done.
        QVERIFY(!visibleTopLevel(QStringLiteral("HotkeysDialog")));
        const auto seen = pressWhenShown(QStringLiteral("HotkeysDialog"), QStringLiteral("OK"));
        QTRY_VERIFY(*seen);
        QTRY_VERIFY(!visibleTopLevel(QStringLiteral("HotkeysDialog")));

        QStringList tried;
        const auto validator = [&tried](const QString& text) {
            tried << text;
            return text == QLatin1String("secret");
        };
        // A wrong text is refused and keeps the box; the right text followed by Cancel never unlocks.
        int step = 0;
        QString errorText;
        whileModal([&] {
            QWidget* box = visibleTopLevel(QStringLiteral("PasswordBox"));
            if (!box)
                return false;
            QApplication::setActiveWindow(box);
            auto* edit = box->findChild<KelLineEdit*>(QStringLiteral("PasswordEdit"));
            edit->setFocus();
            auto* unlock = box->findChild<KelButton*>(QStringLiteral("Unlock"));
            if (step == 0) {
                if (unlock->isEnabled())
                    return true; // enabled while empty: fail below
                QTest::keyClicks(edit, QStringLiteral("wrong"));
                QTest::keyClick(edit, Qt::Key_Return);
                errorText = edit->errorLabel() ? edit->errorLabel()->text() : QString();
                step = 1;
                return false;
            }
            edit->clear();
            QTest::keyClicks(edit, QStringLiteral("secret"));
            // Reaching for Cancel takes the focus from the field first.
            edit->clearFocus();
            emit box->findChild<KelButton*>(QStringLiteral("Cancel"))->clicked();
            return true;
        });
        QVERIFY(!Ui::instance()->askPassword(QStringLiteral("<book>.pdf"), validator));
        QCOMPARE(tried, QStringList { QStringLiteral("wrong") });
        QCOMPARE(errorText, QStringLiteral("Wrong password!"));

        whileModal([] {
            QWidget* box = visibleTopLevel(QStringLiteral("PasswordBox"));
            if (!box)
                return false;
            auto* edit = box->findChild<KelLineEdit*>(QStringLiteral("PasswordEdit"));
            QTest::keyClicks(edit, QStringLiteral("secret"));
            QTest::keyClick(edit, Qt::Key_Return);
            return true;
        });
        // The reading core asks through its own seam, which the application points at this box.
        QVERIFY(askPassword(QStringLiteral("book.pdf"), validator));
        QCOMPARE(tried.last(), QStringLiteral("secret"));
    }

    // The saved category (the trash, set before the start) picks the library page in trash mode.
    // The settings entry shows the settings page and is not saved as the category, nor is sort column 5.
    void savedCategoryAndView()
    {
        auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
        QVERIFY(window);
        QCOMPARE(window->pages()->currentWidget(), static_cast<QWidget*>(window->libraryPage()));
        QVERIFY(window->libraryPage()->isTrashMode());
        SettingsProvider* settings = SettingsProvider::instance();
        BookSortFilterModel* proxy = Application::instance()->bookSortFilterModel();
        proxy->setFilterCategory(Enums::Favorites);
        QCOMPARE(int(settings->library_category()), int(Enums::Favorites));
        // The side bar follows the category on the next pass.
        QCoreApplication::processEvents();
        QVERIFY(!window->libraryPage()->isTrashMode());
        window->sideBar()->entry(Enums::AppSettings)->setChecked(true);
        QCoreApplication::processEvents();
        QCOMPARE(window->pages()->currentWidget(), static_cast<QWidget*>(window->settingsPage()));
        QCOMPARE(int(settings->library_category()), int(Enums::Favorites));
        proxy->sort(3, Qt::AscendingOrder);
        QCOMPARE(settings->library_sort_column(), 3);
        QCOMPARE(settings->library_sort_order(), Qt::AscendingOrder);
        proxy->sort(5, Qt::DescendingOrder);
        QCOMPARE(settings->library_sort_column(), 3);
        QCOMPARE(settings->library_sort_order(), Qt::AscendingOrder);
    }

    // The manual's address is empty unless the build names one: then there is no help entry to click.
    void helpEntryOnlyWithManual()
    {
        auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
        QVERIFY(window);
        QVERIFY(Application::instance()->manualUrl().isEmpty());
        QVERIFY(window->sideBar()->helpEntry()->isHidden());
        Application::instance()->setManualUrl(QStringLiteral("https://manual.invalid/"));
        {
            MainWindow withManual(nullptr);
            QVERIFY(!withManual.sideBar()->helpEntry()->isHidden());
        }
        Application::instance()->setManualUrl(QString());
    }

    void systemReportAge_data()
    {
        QTest::addColumn<int>("ageDays");
        QTest::addColumn<bool>("kept");
        QTest::newRow("29 days") << 29 << true;
        QTest::newRow("30 days") << 30 << false;
    }
    void systemReportAge()
    {
        QFETCH(int, ageDays);
        QFETCH(bool, kept);
        const QString path = QDir(KelLogger::logDir()).filePath(QStringLiteral("dxdiag.txt"));
        QVERIFY(testfiles::write(path, "old report\n"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(
            QDateTime::currentDateTime().addDays(-ageDays).addSecs(-60), QFileDevice::FileModificationTime));
        file.close();
        Application::instance()->runDxDiagGeneration().waitForFinished();
        const QByteArray content = testfiles::read(path);
        QCOMPARE(content == "old report\n", kept);
        if (!kept) {
            QVERIFY(content.contains("Kernel: "));
            QVERIFY(content.contains("Screen 0: "));
            QVERIFY(content.contains("Memory: "));
        }
    }

    void defaultAppOnYes()
    {
        // xdg-mime splits paths at blanks: the folder name must have none.
        QTemporaryDir xdg(QDir::tempPath() + QStringLiteral("/xdg-XXXXXX"));
        const QByteArray oldData = qgetenv("XDG_DATA_HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(xdg.filePath("data")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(xdg.filePath("config")));
        QDir().mkpath(xdg.filePath("config"));
        const auto query = [] {
            QProcess process;
            process.start(QStringLiteral("xdg-mime"),
                { QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("application/epub+zip") });
            process.waitForFinished(20000);
            return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
        };
        m_answer = 1; // NO writes nothing
        QVERIFY(!Ui::instance()->askToBecomeDefaultApp(QStringLiteral(".epub"), QStringLiteral("Reader"), nullptr));
        QVERIFY(!QFile::exists(xdg.filePath("data/applications/pageloom.desktop")));
        m_answer = 2;
        QVERIFY(Ui::instance()->askToBecomeDefaultApp(QStringLiteral(".epub"), QStringLiteral("Reader"), nullptr));
        const QString answer = query();
        const QString text = QString::fromUtf8(testfiles::read(xdg.filePath("data/applications/pageloom.desktop")));
        qputenv("XDG_DATA_HOME", oldData);
        qputenv("XDG_CONFIG_HOME", oldConfig);
        QCOMPARE(answer, QStringLiteral("pageloom.desktop"));
        QVERIFY(text.contains(QStringLiteral("Exec=\"%1\" %F").arg(QCoreApplication::applicationFilePath())));
        QVERIFY(text.contains(QLatin1String("application/epub+zip;")));
    }

    // Where the speech client connects: SPEECHD_ADDRESS, else the runtime folder, else the cache
    // folder, always as an absolute path; the engines in a fixed order whatever the plugin hash says.
    void speechAddressAndEngineOrder()
    {
        const auto address = [](const QStringList& pairs) {
            QProcessEnvironment env;
            for (const QString& pair : pairs)
                env.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
            const SpeechService::Address a = SpeechService::serviceAddress(env);
            return a.host.isEmpty() ? a.socketPath : QStringLiteral("%1:%2").arg(a.host).arg(a.port);
        };
        const QString cwd = QDir::currentPath();
        QCOMPARE(address({ "XDG_RUNTIME_DIR=/run/user/7", "HOME=/home/u" }),
            QStringLiteral("/run/user/7/speech-dispatcher/speechd.sock"));
        QCOMPARE(address({ "HOME=/home/u" }), QStringLiteral("/home/u/.cache/speech-dispatcher/speechd.sock"));
        QCOMPARE(
            address({ "XDG_RUNTIME_DIR=rel/run" }), cwd + QStringLiteral("/rel/run/speech-dispatcher/speechd.sock"));
        QCOMPARE(address({ "SPEECHD_ADDRESS=unix_socket:/tmp/s.sock", "XDG_RUNTIME_DIR=/run/user/7" }),
            QStringLiteral("/tmp/s.sock"));
        QCOMPARE(address({ "SPEECHD_ADDRESS=unix_socket", "XDG_RUNTIME_DIR=/r" }),
            QStringLiteral("/r/speech-dispatcher/speechd.sock"));
        QCOMPARE(address({ "SPEECHD_ADDRESS=inet_socket:10.0.0.2:7000" }), QStringLiteral("10.0.0.2:7000"));
        QCOMPARE(address({ "SPEECHD_ADDRESS=inet_socket" }), QStringLiteral("127.0.0.1:6560"));
        QCOMPARE(address({ "SPEECHD_ADDRESS=carrier_pigeon:x" }), QString());

        const QStringList plugins { "recorder", "flite", "speechd", "alpha" };
        QCOMPARE(
            SpeechService::engineOrder(QString(), plugins), QStringList({ "speechd", "flite", "alpha", "recorder" }));
        QCOMPARE(SpeechService::engineOrder(QString(), { "flite", "speechd" }), QStringList({ "speechd", "flite" }));
        QCOMPARE(
            SpeechService::engineOrder("recorder", plugins), QStringList({ "recorder", "speechd", "flite", "alpha" }));
        QCOMPARE(SpeechService::engineOrder("gone", { "flite" }), QStringList({ "flite" }));
    }

    // The probe answers within its bound whatever the service does: one that greets back is there;
    // one that accepts and never answers, one that refuses the client and a missing one are not,
    // each for its own reason. The bound itself is timed in bench_speechstartup.
    void speechProbe_data()
    {
        QTest::addColumn<QString>("service");
        QTest::addColumn<bool>("answers");
        QTest::addColumn<QString>("why");
        QTest::newRow("greets") << "208 OK CLIENT NAME SET\r\n" << true << QString();
        QTest::newRow("never answers") << "" << false << "does not answer";
        QTest::newRow("refuses") << "401 ERR\r\n" << false << "refused";
        QTest::newRow("missing") << "missing" << false << "no speech service at";
    }

    void speechProbe()
    {
        QFETCH(QString, service);
        QFETCH(bool, answers);
        QFETCH(QString, why);
        QTemporaryDir dir;
        QLocalServer server;
        const QString path = dir.filePath(QStringLiteral("speechd.sock"));
        QByteArray received;
        if (service != QLatin1String("missing")) {
            QVERIFY(server.listen(path));
            connect(&server, &QLocalServer::newConnection, &server, [&] {
                QLocalSocket* client = server.nextPendingConnection();
                connect(client, &QLocalSocket::readyRead, client, [&, client] {
                    received += client->readAll();
                    if (!service.isEmpty() && received.endsWith("\r\n") && !received.contains("QUIT"))
                        client->write(service.toLatin1());
                });
            });
        }
        SpeechService::Address address;
        address.socketPath = path;
        address.explicitlySet = true;
        // A probe that waits for a silent service without its own bound takes Qt's 30 s or for
        // ever; one of 500 ms ends far inside this wait even on a busy machine.
        const auto error = std::make_shared<QString>();
        QFuture<bool> probe
            = QtConcurrent::run([address, error] { return SpeechService::probe(address, 500, error.get()); });
        QTRY_VERIFY_WITH_TIMEOUT(probe.isFinished(), 20000);
        QCOMPARE(probe.result(), answers);
        QVERIFY2(why.isEmpty() ? error->isEmpty() : error->contains(why), qPrintable(*error));
        if (!service.isEmpty() && service != QLatin1String("missing"))
            QVERIFY2(received.startsWith("SET SELF CLIENT_NAME"), received.constData());
    }

    // A service that greets and then holds the first text for good: the engine's calls return at
    // once on the GUI thread, the held one is given up after its bound, and the service is not asked
    // again in the run, not even probed.
    void speechEngineThatStopsAnswering()
    {
        QTemporaryDir dir;
        SilentSpeechService silent;
        const QString path = dir.filePath(QStringLiteral("speechd.sock"));
        QVERIFY(silent.listen(path));
        qputenv("SPEECHD_ADDRESS", "unix_socket:" + QFile::encodeName(path));
        const auto restore = qScopeGuard([bound = SpeechEngine::callTimeout()] {
            qunsetenv("SPEECHD_ADDRESS");
            SpeechEngine::setCallTimeout(bound);
        });
        SpeechEngine::setCallTimeout(500);
        SpeechService service;
        service.start(QStringLiteral("speechd"));
        QTRY_VERIFY_WITH_TIMEOUT(service.status() != SpeechService::Status::Connecting, 20000);
        if (!service.engine() || service.engine()->name() != QLatin1String("speechd"))
            QSKIP("no speech-dispatcher engine");
        QPointer<SpeechEngine> engine = service.engine();
        QSignalSpy states(engine.data(), &SpeechEngine::stateChanged);
        engine->say(QStringLiteral("Never heard"));
        engine->stop();
        engine->setRate(0.5);
        QTRY_COMPARE_WITH_TIMEOUT(service.status(), SpeechService::Status::Unavailable, 20000);
        QVERIFY(silent.silent());
        QVERIFY2(service.error().contains(QLatin1String("say")), qPrintable(service.error()));
        QCOMPARE(states.count(), 1);
        QCOMPARE(states.first().first().value<QTextToSpeech::State>(), QTextToSpeech::BackendError);
        QTRY_VERIFY(!engine);
        const int connections = silent.connections();
        service.start(QStringLiteral("speechd"));
        QCOMPARE(service.status(), SpeechService::Status::Unavailable);
        QCOMPARE(silent.connections(), connections);
    }

    void dragIconAndDropIndicator()
    {
        DragIcon* icon = Ui::instance()->dragIcon();
        QSignalSpy showed(icon, &DragIcon::showed);
        QSignalSpy hided(icon, &DragIcon::hided);
        QMimeData data;
        QPixmap pixmap(40, 60);
        pixmap.fill(Qt::red);
        icon->showIcon(pixmap, QPoint(5, 5), &data);
        QVERIFY(icon->isVisible());
        icon->showIcon(pixmap, QPoint(7, 7), &data);
        QCOMPARE(showed.size(), 1);
        icon->showIcon(QPixmap(), QPoint(), &data);
        QVERIFY(!icon->isVisible());
        QCOMPARE(hided.size(), 1);
        // While hidden the overlay jumps to its end at once.
        icon->setOverDropTarget(true);
        QCOMPARE(icon->dropAllowedProgress(), 0.0);
        icon->setOverDropTarget(false);
        QCOMPARE(icon->dropAllowedProgress(), 1.0);

        // Under a drag the drop indicator fills its frame three times as strongly as when idle.
        QWidget host;
        host.setAutoFillBackground(true);
        host.setPalette(QPalette(Qt::white));
        host.resize(120, 80);
        auto* indicator = new DropIndicator(&host, QMargins(4, 4, 4, 4), 1, { 4, 4 }, false);
        indicator->setGeometry(host.rect());
        indicator->setVisibleAnimated(true, false);
        const auto centreShade = [&host] { return 255 - host.grab().toImage().pixelColor(60, 40).green(); };
        const int idle = centreShade();
        indicator->setActive(true);
        const int active = centreShade();
        QVERIFY2(idle > 5, qPrintable(QString::number(idle)));
        QVERIFY2(qAbs(active - 3 * idle) <= 4, qPrintable(QStringLiteral("%1 vs %2").arg(active).arg(idle)));
    }
};

int main(int argc, char** argv)
{
    TempHome home;
    QCoreApplication::setOrganizationName(QStringLiteral("Shell Test Org"));
    QCoreApplication::setApplicationName(QStringLiteral("Shell Test"));
    KelLogger::setAppDirName(QStringLiteral("Shell Test"));
    Application app(QUuid::createUuid().toString(), argc, argv);
    registerSettingsMetaTypes();
    app.setSettings(new SettingsProvider(
        KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat, &app));
    AppShellTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_appshell.moc"

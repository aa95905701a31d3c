#include "kelapplication.h"
#include "kelapptest.h"
#include "kelsettings.h"
#include "kelui.h"
#include "styles/kelstylemanager.h"
#include "utils/kelpixmapcache.h"
#include "windows/kelnotificationmanager.h"
#include "windows/kelwindow.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <QWidget>
#include <QtConcurrent>

namespace {
class TestUi : public KelUi {
public:
    using KelUi::KelUi;
    bool makeWindow = true;

protected:
    KelWindow* createMainWindow() override
    {
        if (!makeWindow)
            return nullptr;
        auto* window = new KelWindow(KelWindow::WindowParams());
        window->resize(300, 200);
        return window;
    }
};

class TestApp : public KelApplication {
public:
    using KelApplication::KelApplication;

protected:
    KelUi* createUi() override { return new TestUi(this); }
};

// Receives the URLs that QDesktopServices would open.
class UrlSink : public QObject {
    Q_OBJECT
public slots:
    void open(const QUrl& url) { urls.append(url); }

public:
    QList<QUrl> urls;
};

// Records what KelUi asked the message box to show and answers as told.
struct BoxRecorder {
    QList<KelMessageBoxRequest> requests;
    QList<QThread*> threads;
    int answer = 1;
    bool setRemember = false;
    QString typedText;

    KelUi::MessageBoxHandler handler()
    {
        return [this](KelMessageBoxRequest& request) {
            requests.append(request);
            threads.append(QThread::currentThread());
            request.remember = setRemember;
            if (request.textInput)
                request.text = typedText;
            return answer;
        };
    }
};

KelUi* ui() { return KelUi::instance(); }
}

class TestKelUi : public QObject {
    Q_OBJECT

    BoxRecorder m_boxes;
    QList<KelFileDialogRequest> m_dialogs;
    QStringList m_dialogAnswer;
    UrlSink m_sink;
    std::unique_ptr<KelSettings> m_settings;

private slots:
    void initTestCase()
    {
        m_settings = std::make_unique<KelSettings>(
            KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        KelApplication::instance()->setSettings(m_settings.get());
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_sink, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_sink, "open");
    }

    void init()
    {
        m_boxes = BoxRecorder();
        m_dialogs.clear();
        m_dialogAnswer.clear();
        m_sink.urls.clear();
        ui()->setMessageBoxHandler(m_boxes.handler());
        ui()->setFileDialogHandler([this](const KelFileDialogRequest& request) {
            m_dialogs.append(request);
            return m_dialogAnswer;
        });
        ui()->setRevealHandler(nullptr);
        ui()->setDialogParentPolicy(7);
    }

    void dialogsAskedFromAWorkerRunOnTheGuiThread()
    {
        m_boxes.answer = 2;
        m_boxes.setRemember = false;
        m_boxes.typedText = QStringLiteral("typed");
        m_dialogAnswer = QStringList { QStringLiteral("/library/new/book.epub") };
        auto future = QtConcurrent::run([] {
            bool remember = true;
            const int pressed = ui()->messageBox(QStringLiteral("Delete?"), QString(), 7, QStringLiteral("NO"),
                QStringLiteral("YES"), QString(), &remember, QStringLiteral("Remember"));
            QString text = QStringLiteral("initial");
            const int typedWith = ui()->textInputBox(QStringLiteral("Name?"), QStringLiteral("Rename"), text,
                KelUi::NotEmptyTextInput, 6, QStringLiteral("Cancel"), QStringLiteral("OK"));
            const QString chosen = ui()->getOpenFileName(QStringLiteral("Open"), QStringLiteral("Books (*.epub)"));
            return QStringList { QString::number(pressed), remember ? QStringLiteral("remember") : QString(),
                QString::number(typedWith), text, chosen,
                QThread::currentThread() == qApp->thread() ? "gui" : "worker" };
        });
        QTRY_VERIFY_WITH_TIMEOUT(future.isFinished(), 10000);
        QCOMPARE(future.result(),
            (QStringList { QStringLiteral("2"), QString(), QStringLiteral("2"), QStringLiteral("typed"),
                QStringLiteral("/library/new/book.epub"), QStringLiteral("worker") }));
        QCOMPARE(m_boxes.threads, (QList<QThread*> { qApp->thread(), qApp->thread() }));
        QCOMPARE(m_boxes.requests.at(1).text, QStringLiteral("initial"));
        QCOMPARE(m_dialogs.size(), 1);
        QCOMPARE(m_settings->lastOpenFilePath(), QStringLiteral("/library/new"));
    }

    void messageBoxDefaults()
    {
        QCOMPARE(ui()->messageBox(QStringLiteral("x")), 1);
        const KelMessageBoxRequest& box = m_boxes.requests.first();
        QCOMPARE(box.buttonTexts, (QStringList { QStringLiteral("OK"), QString(), QString() }));
        QCOMPARE(box.defaultButtonId, 1);
        QCOMPARE(box.iconType, 6);
        QCOMPARE(box.title, QCoreApplication::applicationName());
        QCOMPARE(box.message, QStringLiteral("x"));
        QVERIFY(!box.hasRemember);
        QVERIFY(!box.textInput);

        m_boxes.setRemember = true;
        bool remember = false;
        ui()->messageBox(QStringLiteral("y"), QStringLiteral("Title"), 7, QStringLiteral("NO"), QStringLiteral("YES"),
            QString(), &remember, QStringLiteral("Always"));
        const KelMessageBoxRequest& yesNo = m_boxes.requests.last();
        QCOMPARE(yesNo.defaultButtonId, 2);
        QCOMPARE(yesNo.title, QStringLiteral("Title"));
        QVERIFY(yesNo.hasRemember);
        QVERIFY(!yesNo.remember);
        QCOMPARE(yesNo.rememberText, QStringLiteral("Always"));
        QVERIFY(remember);

        // A gap in the buttons keeps the numbering: the third button closes with 3 and is the default.
        ui()->messageBox(QStringLiteral("z"), QString(), 6, QStringLiteral("A"), QString(), QStringLiteral("C"));
        QCOMPARE(m_boxes.requests.last().defaultButtonId, 3);
    }

    void textInputTypes_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("allowEmpty");
        QTest::addColumn<bool>("password");
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("any") << int(KelUi::AnyTextInput) << true << false << false;
        QTest::newRow("not empty") << int(KelUi::NotEmptyTextInput) << false << false << false;
        QTest::newRow("password") << int(KelUi::PasswordTextInput) << true << true << false;
        QTest::newRow("not empty password") << int(KelUi::NotEmptyPasswordTextInput) << false << true << false;
        QTest::newRow("read-only") << int(KelUi::ReadOnlyTextInput) << false << false << true;
    }

    void textInputTypes()
    {
        QFETCH(int, type);
        m_boxes.typedText = QStringLiteral("after");
        QString text = QStringLiteral("before");
        ui()->textInputBox(QStringLiteral("m"), QString(), text, KelUi::TextInputType(type), 6, QString(), QString(),
            QString(), QStringLiteral("[a-z]+"));
        const KelMessageBoxRequest& box = m_boxes.requests.first();
        QVERIFY(box.textInput);
        QCOMPARE(box.textInputType, type);
        QTEST(box.allowEmpty, "allowEmpty");
        QTEST(box.password, "password");
        QTEST(box.readOnly, "readOnly");
        QCOMPARE(box.maxLength, 32767);
        QCOMPARE(box.regexp, QStringLiteral("[a-z]+"));
        QCOMPARE(box.text, QStringLiteral("before"));
        QCOMPARE(text, QStringLiteral("after"));
    }

    void withoutAMessageBoxNothingIsShown()
    {
        ui()->setMessageBoxHandler(nullptr);
        QTest::ignoreMessage(QtWarningMsg, "No message box available; not shown: \"T\" - \"m\"");
        QCOMPARE(ui()->messageBox(QStringLiteral("m"), QStringLiteral("T")), 0);
    }

    void dialogParentFollowsThePolicy()
    {
        QWidget owner;
        auto* child = new QWidget(&owner);
        ui()->messageBox(QStringLiteral("a"), QString(), 6, QString(), QString(), QString(), nullptr, QString(), child);
        QCOMPARE(m_boxes.requests.last().parent, &owner);

        ui()->initMainWindow();
        QWidget* mainWindow = ui()->mainWindow();
        QVERIFY(mainWindow);
        mainWindow->hide();
        QVERIFY(!QApplication::activeWindow());
        ui()->messageBox(QStringLiteral("b"));
        QCOMPARE(m_boxes.requests.last().parent, mainWindow); // any state with bit 4
        ui()->setDialogParentPolicy(KelUi::VisibleMainWindowParent);
        ui()->messageBox(QStringLiteral("c"));
        QCOMPARE(m_boxes.requests.last().parent, nullptr);
        mainWindow->show();
        ui()->messageBox(QStringLiteral("d"));
        QCOMPARE(m_boxes.requests.last().parent, mainWindow);
        mainWindow->hide();
    }

    void waitCursorIsPushedOnceAndLiftedForBoxes()
    {
        QVERIFY(!QGuiApplication::overrideCursor());
        ui()->showWaitCursor();
        ui()->showWaitCursor();
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);

        bool cursorDuringBox = true;
        ui()->setMessageBoxHandler([&](KelMessageBoxRequest&) {
            cursorDuringBox = QGuiApplication::overrideCursor() != nullptr;
            return 1;
        });
        ui()->messageBox(QStringLiteral("m"));
        QVERIFY(!cursorDuringBox);
        QVERIFY(ui()->isWaitCursorShown());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);

        ui()->hideWaitCursor();
        QVERIFY(!QGuiApplication::overrideCursor());
        ui()->hideWaitCursor();
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void fileDialogsStartWhereTheyShouldAndRememberTheFolder()
    {
        m_settings->setLastOpenFilePath(QStringLiteral("/last"));
        m_dialogAnswer = QStringList { QStringLiteral("/picked/a.epub") };

        // An explicit folder is used and not remembered.
        ui()->getOpenFileName(
            QStringLiteral("Open"), QStringLiteral("Books \uFF08*.epub *.fb2\uFF09"), QStringLiteral("/explicit"));
        QCOMPARE(m_dialogs.last().kind, KelFileDialogRequest::OpenFile);
        QCOMPARE(m_dialogs.last().startPath, QStringLiteral("/explicit"));
        QCOMPARE(m_dialogs.last().filter, QStringLiteral("Books (*.epub *.fb2)"));
        QCOMPARE(m_settings->lastOpenFilePath(), QStringLiteral("/last"));

        // Without one the last folder is used and the choice's folder becomes the last one.
        m_dialogAnswer = QStringList { QStringLiteral("/picked/one.epub"), QStringLiteral("/other/two.epub") };
        QCOMPARE(ui()->getOpenFileNames(QStringLiteral("Open"), QString()).size(), 2);
        QCOMPARE(m_dialogs.last().startPath, QStringLiteral("/last"));
        QCOMPARE(m_settings->lastOpenFilePath(), QStringLiteral("/picked"));

        m_dialogAnswer = QStringList { QStringLiteral("/saved/copy.olv") };
        QCOMPARE(ui()->getSaveFileName(QStringLiteral("Save"), QString(), QStringLiteral("library.olv")),
            QStringLiteral("/saved/copy.olv"));
        QCOMPARE(m_dialogs.last().startPath, QStringLiteral("/picked/library.olv"));
        QCOMPARE(m_settings->lastOpenFilePath(), QStringLiteral("/saved"));

        m_dialogAnswer = QStringList { QStringLiteral("/chosen/folder") };
        ui()->getExistingDirectory(QStringLiteral("Folder"));
        QCOMPARE(m_dialogs.last().options, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
        QCOMPARE(m_settings->lastOpenFilePath(), QStringLiteral("/chosen"));

        // Cancelling changes nothing.
        m_dialogAnswer.clear();
        QCOMPARE(ui()->getOpenFileName(QStringLiteral("Open"), QString()), QString());
        QCOMPARE(m_settings->lastOpenFilePath(), QStringLiteral("/chosen"));
    }

    void htmlLinks()
    {
        // The current style's link colour.
        const QString linkColor = QStringLiteral("#458bcf");
        QCOMPARE(KelUi::makeHtmlLink(QStringLiteral("https://example.org/a"), QStringLiteral("Site"), 3, QColor()),
            QStringLiteral("<b><a href='https://example.org/a' style='color: %1; text-decoration: none;'>Site</a></b>")
                .arg(linkColor));
        QCOMPARE(KelUi::makeHtmlLink(QStringLiteral("https://x.org"), QStringLiteral("X"), 4, QColor(Qt::red)),
            QStringLiteral("<i><a href='https://x.org' style='color: #ff0000; '>X</a></i>"));
        // An address cannot leave its attribute.
        QCOMPARE(KelUi::makeHtmlLink(QStringLiteral("https://x.org/'><script>"), QStringLiteral("X"), 0, Qt::red),
            QStringLiteral("<a href='https://x.org/&#39;&gt;&lt;script&gt;' style='color: #ff0000; '>X</a>"));
    }

    void linksOpenThroughTheDesktop()
    {
        QSignalSpy opened(ui(), &KelUi::linkOpened);
        QVERIFY(ui()->openLinkInSuitableApp(QStringLiteral("https://example.org/manual")));
        QCOMPARE(m_sink.urls, QList<QUrl> { QUrl(QStringLiteral("https://example.org/manual")) });

        // An existing file opens as a file URL of its absolute path.
        const QString file = QDir::home().filePath(QStringLiteral("note.txt"));
        QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        QDir::setCurrent(QDir::homePath());
        QVERIFY(ui()->openLinkInSuitableApp(QStringLiteral("note.txt")));
        QCOMPARE(m_sink.urls.last(), QUrl::fromLocalFile(file));
        QCOMPARE(opened.count(), 2);
        QVERIFY(m_boxes.requests.isEmpty());
    }

    void aFailedOpenShowsTheErrorBoxAndStillReports()
    {
        QObject noHandler; // has no slot of that name, so the open fails
        QDesktopServices::setUrlHandler(QStringLiteral("kelfail"), &noHandler, "open");
        QSignalSpy opened(ui(), &KelUi::linkOpened);
        QVERIFY(!ui()->openLinkInSuitableApp(QStringLiteral("kelfail://a<b>")));
        QDesktopServices::unsetUrlHandler(QStringLiteral("kelfail"));
        QCOMPARE(opened.count(), 1);
        QCOMPARE(m_boxes.requests.size(), 1);
        QCOMPARE(m_boxes.requests.first().iconType, 5);
        QCOMPARE(m_boxes.requests.first().message,
            QStringLiteral("An error has occurred when trying to open: \"kelfail://a&lt;b&gt;\""));
    }

    void revealingFiles()
    {
        QSignalSpy opened(ui(), &KelUi::linkOpened);
        QSignalSpy failed(ui(), &KelUi::shellExecuteFailed);
        QTest::ignoreMessage(QtWarningMsg, "Request open link in explorer but the link is empty.");
        QVERIFY(!ui()->openLinkInExplorer(QString()));
        QVERIFY(!ui()->openLinkInExplorer(QDir::home().filePath(QStringLiteral("missing.epub"))));

        // A folder is opened.
        QVERIFY(ui()->openLinkInExplorer(QDir::homePath()));
        QCOMPARE(m_sink.urls.last(), QUrl::fromLocalFile(QDir::homePath()));

        const QString book = QDir::home().filePath(QStringLiteral("book.epub"));
        QVERIFY(QFile(book).open(QIODevice::WriteOnly));
        QStringList revealed;
        bool fileManagerAnswers = true;
        ui()->setRevealHandler([&](const QString& path) {
            revealed.append(path);
            return fileManagerAnswers;
        });
        m_sink.urls.clear();
        QVERIFY(ui()->openLinkInExplorer(book));
        QCOMPARE(revealed, QStringList { book });
        QVERIFY(m_sink.urls.isEmpty());

        // Without a file manager that answers, the folder opens instead.
        fileManagerAnswers = false;
        QVERIFY(ui()->openLinkInExplorer(book));
        QCOMPARE(m_sink.urls, QList<QUrl> { QUrl::fromLocalFile(QDir::homePath()) });
        QCOMPARE(opened.count(), 3);
        QCOMPARE(failed.count(), 0);

        // And when even that fails the failure is reported and shown.
        QObject noHandler;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &noHandler, "open");
        QVERIFY(!ui()->openLinkInExplorer(book));
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_sink, "open");
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.first().first().toString(), book);
        QCOMPARE(m_boxes.requests.size(), 1);
        QCOMPARE(opened.count(), 3);
    }

    void defaultAppPrompts()
    {
        m_boxes.answer = 2;
        bool remember = true;
        QVERIFY(ui()->askToBecomeDefaultApp(QStringLiteral(".pdf"), QStringLiteral("Reader"), &remember));
        const KelMessageBoxRequest& ask = m_boxes.requests.last();
        QCOMPARE(ask.message,
            QStringLiteral("Reader is not currently your default app to process \"PDF\" files. Would you like to make "
                           "it default?"));
        QCOMPARE(ask.buttonTexts, (QStringList { QStringLiteral("NO"), QStringLiteral("YES"), QString() }));
        QCOMPARE(ask.iconType, 7);
        QCOMPARE(ask.rememberText, QStringLiteral("Always perform this check when starting."));
        QVERIFY(!remember);

        m_boxes.answer = 1;
        ui()->askToBecomeDefaultAppWin8(QStringLiteral(".epub"), QStringLiteral("Reader"),
            QStringLiteral("https://example.org/default"), &remember);
        QCOMPARE(m_boxes.requests.last().buttonTexts,
            (QStringList { QStringLiteral("LEARN MORE"), QStringLiteral("OK"), QString() }));
        QCOMPARE(m_sink.urls, QList<QUrl> { QUrl(QStringLiteral("https://example.org/default")) });
    }

    void mainWindowIsMadeOnceAndComesForwardOnHandOver()
    {
        QWidget* window = ui()->mainWindow();
        if (!window) {
            ui()->initMainWindow();
            window = ui()->mainWindow();
        }
        QSignalSpy created(ui(), &KelUi::mainWindowCreated);
        ui()->initMainWindow();
        QCOMPARE(created.count(), 0);
        QCOMPARE(ui()->mainWindow(), window);

        window->showMinimized();
        emit KelApplication::instance()->messageReceived(QStringLiteral("/books/a.epub"));
        QVERIFY(!(window->windowState() & Qt::WindowMinimized));
        QVERIFY(window->isVisible());
        window->hide();
    }

    void notAnnoyingMessagesWaitForAFreeMainWindow()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("has no function to run")));
        ui()->startNotAnnoyingMessageTimer(QStringLiteral("Empty"), 10, std::function<void()>());

        ui()->initMainWindow();
        KelWindow* window = ui()->mainWindow();
        QVERIFY(window);
        window->hide();
        QTest::qWait(20); // activation requests still queued from earlier shows
        QApplication::setActiveWindow(nullptr);
        QVERIFY(!QApplication::activeWindow());
        int runs = 0;
        ui()->startNotAnnoyingMessageTimer(QStringLiteral("Update message"), 30, [&runs] { ++runs; });
        QTest::qWait(120);
        QCOMPARE(runs, 0);

        // Active, but dimmed while a modal window blocks it.
        window->setBlockedOverlayVisible(true);
        QEvent blocked(QEvent::WindowBlocked);
        QApplication::sendEvent(window, &blocked);
        window->show();
        QApplication::setActiveWindow(window);
        QTRY_COMPARE(QApplication::activeWindow(), window);
        QTest::qWait(120);
        QCOMPARE(runs, 0);
        QEvent unblocked(QEvent::WindowUnblocked);
        QApplication::sendEvent(window, &unblocked);
        QTRY_COMPARE(runs, 1);
        QTest::qWait(100);
        QCOMPARE(runs, 1);
        window->hide();
    }

    void retranslationReachesToolkitWindows()
    {
        RetranslatedWindow window;
        QWidget plain;
        ui()->translateTopLevelWindows();
        QCOMPARE(window.calls, 1);
    }

    void maintenanceModeSignalsChangesOnly()
    {
        QSignalSpy spy(ui(), &KelUi::maintenanceModeStateChanged);
        ui()->setMaintenanceMode(true);
        ui()->setMaintenanceMode(true);
        ui()->setMaintenanceMode(false);
        QCOMPARE(spy.count(), 2);
        QVERIFY(!ui()->isMaintenanceMode());
    }

    void dayChangeComesAtOneMinutePastMidnight()
    {
        QCOMPARE(KelUi::msecsToNextDayChange(QDateTime(QDate(2024, 3, 10), QTime(23, 59))), 120000);
        QCOMPARE(KelUi::msecsToNextDayChange(QDateTime(QDate(2024, 3, 10), QTime(0, 0, 30))), 86430000);
    }

    void pixmapCachesAreMadeOnceAndNamed()
    {
        KelPixmapCache* icons = ui()->iconsCache();
        QVERIFY(icons);
        QCOMPARE(ui()->iconsCache(), icons);
        QCOMPARE(icons->objectName(), QStringLiteral("KelIconsCache"));
        QCOMPARE(icons->cacheLimitKb(), 50 * 1024);
        QCOMPARE(icons->parent(), ui());
        QVERIFY(ui()->shadowCache() != icons);
        QCOMPARE(ui()->shadowCache()->objectName(), QStringLiteral("KelShadowCache"));
    }

    void servicesMadeByTheUi()
    {
        QVERIFY(ui()->styleManager());
        QCOMPARE(ui()->styleManager()->parent(), ui());
        KelNotificationManager* notifications = ui()->notificationManager();
        QVERIFY(notifications);
        QCOMPARE(ui()->notificationManager(), notifications);
        QCOMPARE(ui()->defaultShadowType(), KelWindow::ShadowType::DWM_API);
    }

    // Must stay last: it ends the application's event loop.
    void workersAreRefusedOnceTheEventLoopHasEnded()
    {
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        qApp->exec();
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(QStringLiteral("messageBox asked from a worker thread after the event loop ended")));
        int pressed = -1;
        std::unique_ptr<QThread> worker(
            QThread::create([&pressed] { pressed = ui()->messageBox(QStringLiteral("late")); }));
        worker->start();
        QVERIFY(worker->wait(5000)); // a blocking call here would never return
        QCOMPARE(pressed, 0);
        QVERIFY(m_boxes.requests.isEmpty());
    }

    void cleanupTestCase() { KelApplication::instance()->setSettings(nullptr); }
};

int main(int argc, char** argv) { return runKelAppTest<TestApp, TestKelUi>(argc, argv, QStringLiteral("Kel Ui Test")); }

#include "tst_kelui.moc"

#include "../kel-group/clicktesthelpers.h"
#include "hoverleaveworkaround.h"
#include "kelapplication.h"
#include "kelapptest.h"
#include "kelsettings.h"
#include "kelui.h"
#include "servicepages/kelservicepage_dialogs.h"
#include "servicepages/kelservicepage_painting.h"
#include "singleapplication/kelinstanceserver.h"
#include "singleapplication/kellocalpeer.h"
#include "testfiles.h"
#include "textrows.h"
#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"
#include "windows/kelnotificationmanager.h"
#include "windows/kelwindow.h"
#include "windowwaits.h"

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QLockFile>
#include <QMouseEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <QWindow>
#include <QtConcurrent>
#include <QtEndian>

#include <chrono>
#include <csignal>
#include <future>
#include <memory>

namespace {
class TestUi : public KelUi {
public:
    using KelUi::KelUi;

protected:
    KelWindow* createMainWindow() override
    {
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

TestApp* testApp() { return static_cast<TestApp*>(KelApplication::instance()); }
KelUi* ui() { return KelUi::instance(); }

class HoverProbe : public QWidget {
public:
    using QWidget::QWidget;
    int enters = 0;
    int leaves = 0;

protected:
    void enterEvent(QEvent*) override { ++enters; }
    void leaveEvent(QEvent*) override { ++leaves; }
};

void sendMove(QWindow* window, QPointF local, QEvent::Type type = QEvent::MouseMove)
{
    QMouseEvent move(
        type, local, local, window->mapToGlobal(local.toPoint()), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &move);
}

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

// The skip-th child of type T whose text reads text.
template <typename T> T* childWithText(QWidget* page, const QString& text, int skip = 0)
{
    for (T* child : page->findChildren<T*>())
        if (child->text() == text && skip-- == 0)
            return child;
    return nullptr;
}

struct PaintCounter : QObject {
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    // Counts paint events and lets every event through.
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::Paint && ++paints < 0; }
    int paints = 0;
};

// One copy of the helper program; QProcess ends it when the object goes.
struct Helper : QProcess {
    explicit Helper(const QStringList& args)
    {
        setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start(QCoreApplication::applicationDirPath() + QStringLiteral("/kelinstancehelper"), args);
    }

    // The next line it writes; empty when it ends or 15 s pass first.
    QString nextLine()
    {
        QTest::qWaitFor([this] { return canReadLine() || !(waitForReadyRead(50) || state() == Running); }, 15000);
        return QString::fromUtf8(readLine()).trimmed();
    }

    // All it wrote, once it ended normally.
    QString finish()
    {
        const bool ended = state() == QProcess::NotRunning || waitForFinished(15000);
        return ended && exitStatus() == QProcess::NormalExit ? QString::fromUtf8(readAll()) : QStringLiteral("<hung>");
    }
};

QString uniqueId() { return QStringLiteral("kel-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces); }
}

class TestKelApp : public QObject {
    Q_OBJECT

    QString m_file;
    BoxRecorder m_boxes;
    QList<KelFileDialogRequest> m_dialogs;
    QStringList m_dialogAnswer;
    UrlSink m_sink;
    std::unique_ptr<KelSettings> m_settings;
    int m_toasts = 0;

    std::unique_ptr<KelSettings> open() { return std::make_unique<KelSettings>(m_file, QSettings::IniFormat); }

    // Writes keys straight into the file, as an earlier run or a user would have left them.
    void store(const QVariantMap& values)
    {
        QSettings raw(m_file, QSettings::IniFormat);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            raw.setValue(it.key(), it.value());
    }

    QVariant storedValue(const QString& key) { return QSettings(m_file, QSettings::IniFormat).value(key); }

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
        static int counter = 0;
        m_file = KelApplication::configFilePath(QStringLiteral("settings-%1.ini").arg(++counter));
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

    // A new file is the first run until a normal exit; stored values of the wrong type fall back.
    void firstRunAndValuesOfTheWrongType()
    {
        store({ { QStringLiteral("lastScreen"), QStringLiteral("left monitor") },
            { QStringLiteral("registerAsDefaultApp"), QStringList { QStringLiteral("a"), QStringLiteral("b") } },
            { QStringLiteral("lastStyleId"), 7 } });
        auto settings = open();
        settings->readSettings();
        QVERIFY(KelApplication::instance()->isFirstRun());
        const QStringList desktops = QStandardPaths::standardLocations(QStandardPaths::DesktopLocation);
        QCOMPARE(settings->lastOpenFilePath(), desktops.value(0));
        QCOMPARE(settings->lastScreen(), 0); // convertible in principle, the conversion fails
        QCOMPARE(settings->registerAsDefaultApp(), true); // not convertible: the default
        QCOMPARE(settings->lastStyleId(), QStringLiteral("7"));
        settings.reset(); // a normal exit
        QCOMPARE(storedValue(QStringLiteral("FirstRun")).toBool(), false);
        settings = open();
        QVERIFY(!KelApplication::instance()->isFirstRun());
    }

    // Setters signal only on a change and store in the root group; members reach the file at the
    // write step and read back with one signal per change.
    void changesSignalOnceAndReachTheFile()
    {
        auto settings = open();
        QSignalSpy screens(settings.get(), &KelSettings::lastScreenChanged);
        settings->beginGroup(QStringLiteral("viewer.text"));
        settings->setLastScreen(0); // nothing stored yet, so this is a change
        settings->setLastScreen(2);
        settings->setLastScreen(2);
        settings->endGroup();
        QCOMPARE(screens.count(), 2);
        settings->setLocaleName(QStringLiteral("fr_FR"));
        settings->setUpdateCheckerEnabled(false);
        settings->writeSettings();

        settings = open();
        QCOMPARE(storedValue(QStringLiteral("lastScreen")).toInt(), 2);
        QSignalSpy reopened(settings.get(), &KelSettings::lastScreenChanged);
        QSignalSpy updates(settings.get(), &KelSettings::updateCheckerEnabledChanged);
        QSignalSpy registers(settings.get(), &KelSettings::registerAsDefaultAppChanged);
        settings->setLastScreen(2); // the text read back equals the number
        settings->readSettings();
        settings->readSettings();
        QCOMPARE(settings->localeName(), QStringLiteral("fr_FR"));
        QVERIFY(!settings->updateCheckerEnabled());
        QCOMPARE(reopened.count(), 0);
        QCOMPARE(updates.count(), 1);
        QCOMPARE(registers.count(), 0);
    }

    void currentVersionInTheNativeStoreWins()
    {
        QSettings(QCoreApplication::organizationName(), QCoreApplication::applicationName())
            .setValue(QStringLiteral("CurrentVersion"), QStringLiteral("6.3.1"));
        testApp()->setBuildVersion(QStringLiteral("1.2.3"));
        QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("6.3.1"));
        QCOMPARE(testApp()->buildVersion(), QStringLiteral("1.2.3"));
        // The store is looked up under the registry name when one is set.
        testApp()->setRegistryAppName(QStringLiteral("Other Name"));
        testApp()->setBuildVersion(QStringLiteral("1.2.4"));
        QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.2.4"));
        testApp()->setRegistryAppName(QString());
    }

    void hoverFollowsMovesAndUndoesSpuriousLeaves()
    {
        QWidget top;
        top.resize(200, 200);
        auto* probe = new HoverProbe(&top);
        probe->setGeometry(50, 50, 60, 60);
        top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&top, windowwaits::kTimeoutMs));
        QWindow* window = top.windowHandle();

        sendMove(window, QPointF(70.4, 70.6));
        QVERIFY(probe->testAttribute(Qt::WA_UnderMouse));
        QCOMPARE(ui()->hoverWorkaround()->hoveredWidget(), probe);
        QCOMPARE(ui()->widgetUnderMouse(), probe);

        // A leave while the cursor is still over the widget is answered by an enter.
        QCursor::setPos(window->mapToGlobal(QPoint(70, 70)));
        QTest::qWait(20); // placing the cursor sends a move of its own
        const int enters = probe->enters;
        probe->setAttribute(Qt::WA_UnderMouse, false);
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(probe, &leave);
        QTRY_VERIFY_WITH_TIMEOUT(probe->testAttribute(Qt::WA_UnderMouse), windowwaits::kTimeoutMs);
        QCOMPARE(probe->enters, enters + 1);

        // With the cursor elsewhere the leave stands.
        QCursor::setPos(window->mapToGlobal(QPoint(5, 5)));
        probe->setAttribute(Qt::WA_UnderMouse, false);
        QCoreApplication::sendEvent(probe, &leave);
        QTest::qWait(20);
        QVERIFY(!probe->testAttribute(Qt::WA_UnderMouse));

        // A move over the non-client area clears the hover.
        sendMove(window, QPointF(70, 70));
        const int leaves = probe->leaves;
        sendMove(window, QPointF(70, 70), QEvent::NonClientAreaMouseMove);
        QVERIFY(!probe->testAttribute(Qt::WA_UnderMouse));
        QCOMPARE(probe->leaves, leaves + 1);
        QCOMPARE(ui()->hoverWorkaround()->hoveredWidget(), nullptr);
    }

    void splashGoesToTheSavedScreenOrThePrimaryOne()
    {
        const QList<QScreen*> screens = QGuiApplication::screens();
        QCOMPARE(testApp()->splashScreenFor(0), screens.first());
        QCOMPARE(testApp()->splashScreenFor(-1), QGuiApplication::primaryScreen());
        QCOMPARE(testApp()->splashScreenFor(screens.size()), QGuiApplication::primaryScreen());
    }

    void startupLanguageTriesSavedThenSystemThenShipped()
    {
        QStringList tried;
        auto run = [&tried](const QString& saved, const QString& system, const QStringList& loadable) {
            tried.clear();
            KelApplication::selectStartupLanguage(
                saved, system,
                [&](const QString& code) {
                    tried.append(code);
                    return loadable.contains(code);
                },
                [&](const QString& language) { return language == QStringLiteral("de") ? "de_DE" : QString(); });
            return tried;
        };
        QCOMPARE(run("fr_FR", "de_AT", { "fr_FR" }), QStringList { "fr_FR" });
        QCOMPARE(run("xx", "de_AT", { "de_AT" }), (QStringList { "xx", "de_AT" }));
        QCOMPARE(run(QString(), "DE_AT", {}).last(), QStringLiteral("de_DE"));
        QCOMPARE(run(QString(), "pt_BR", {}).last(), QStringLiteral("en"));
        QVERIFY(!testApp()->applyLocale(QStringLiteral("de_DE"))); // no translator yet
    }

    void dialogsAskedFromAWorkerRunOnTheGuiThread()
    {
        m_boxes.answer = 2;
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
                QString::number(typedWith), text, chosen };
        });
        QTRY_VERIFY_WITH_TIMEOUT(future.isFinished(), 10000);
        QCOMPARE(future.result(),
            (QStringList { QStringLiteral("2"), QString(), QStringLiteral("2"), QStringLiteral("typed"),
                QStringLiteral("/library/new/book.epub") }));
        QCOMPARE(m_boxes.threads, (QList<QThread*> { qApp->thread(), qApp->thread() }));
        QCOMPARE(m_boxes.requests.at(1).text, QStringLiteral("initial"));
        QCOMPARE(m_settings->lastOpenFilePath(), QStringLiteral("/library/new"));
    }

    void messageBoxButtons()
    {
        m_boxes.setRemember = true;
        bool remember = false;
        ui()->messageBox(QStringLiteral("y"), QStringLiteral("Title"), 7, QStringLiteral("NO"), QStringLiteral("YES"),
            QString(), &remember, QStringLiteral("Always"));
        const KelMessageBoxRequest& yesNo = m_boxes.requests.last();
        QCOMPARE(yesNo.defaultButtonId, 2);
        QVERIFY(yesNo.hasRemember && !yesNo.remember);
        QVERIFY(remember);
        // A gap in the buttons keeps the numbering: the third button closes with 3 and is the default.
        ui()->messageBox(QStringLiteral("z"), QString(), 6, QStringLiteral("A"), QString(), QStringLiteral("C"));
        QCOMPARE(m_boxes.requests.last().defaultButtonId, 3);

        ui()->setMessageBoxHandler(nullptr);
        QCOMPARE(ui()->messageBox(QStringLiteral("m"), QStringLiteral("T")), 0); // nothing to show it
    }

    void dialogParentFollowsThePolicy()
    {
        QWidget owner;
        auto* child = new QWidget(&owner);
        ui()->messageBox(QStringLiteral("a"), QString(), 6, QString(), QString(), QString(), nullptr, QString(), child);
        QCOMPARE(m_boxes.requests.last().parent, &owner);

        ui()->initMainWindow();
        QWidget* mainWindow = ui()->mainWindow();
        mainWindow->hide();
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
        ui()->showWaitCursor();
        ui()->showWaitCursor();
        bool cursorDuringBox = true;
        ui()->setMessageBoxHandler([&](KelMessageBoxRequest&) {
            cursorDuringBox = QGuiApplication::overrideCursor() != nullptr;
            return 1;
        });
        ui()->messageBox(QStringLiteral("m"));
        QVERIFY(!cursorDuringBox);
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
        QCOMPARE(m_dialogs.last().startPath, QStringLiteral("/explicit"));
        QCOMPARE(m_dialogs.last().filter, QStringLiteral("Books (*.epub *.fb2)"));
        QCOMPARE(m_settings->lastOpenFilePath(), QStringLiteral("/last"));

        // Without one the last folder is used and the choice's folder becomes the last one.
        m_dialogAnswer = QStringList { QStringLiteral("/picked/one.epub"), QStringLiteral("/other/two.epub") };
        QCOMPARE(ui()->getOpenFileNames(QStringLiteral("Open"), QString()).size(), 2);
        QCOMPARE(m_dialogs.last().startPath, QStringLiteral("/last"));
        QCOMPARE(m_settings->lastOpenFilePath(), QStringLiteral("/picked"));

        m_dialogAnswer = QStringList { QStringLiteral("/saved/copy.olv") };
        ui()->getSaveFileName(QStringLiteral("Save"), QString(), QStringLiteral("library.olv"));
        QCOMPARE(m_dialogs.last().startPath, QStringLiteral("/picked/library.olv"));
        QCOMPARE(m_settings->lastOpenFilePath(), QStringLiteral("/saved"));

        m_dialogAnswer = QStringList { QStringLiteral("/chosen/folder") };
        ui()->getExistingDirectory(QStringLiteral("Folder"));
        QCOMPARE(m_settings->lastOpenFilePath(), QStringLiteral("/chosen"));
        m_dialogAnswer.clear(); // cancelled: nothing changes
        QCOMPARE(ui()->getOpenFileName(QStringLiteral("Open"), QString()), QString());
        QCOMPARE(m_settings->lastOpenFilePath(), QStringLiteral("/chosen"));
    }

    void htmlLinks()
    {
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
        // An existing file opens as a file URL of its absolute path.
        const QString file = QDir::home().filePath(QStringLiteral("note.txt"));
        QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        QDir::setCurrent(QDir::homePath());
        QVERIFY(ui()->openLinkInSuitableApp(QStringLiteral("note.txt")));
        QCOMPARE(m_sink.urls,
            (QList<QUrl> { QUrl(QStringLiteral("https://example.org/manual")), QUrl::fromLocalFile(file) }));
        QVERIFY(m_boxes.requests.isEmpty());

        // A failed open shows the error box, its link escaped, and still reports.
        QObject noHandler; // has no slot of that name, so the open fails
        QDesktopServices::setUrlHandler(QStringLiteral("kelfail"), &noHandler, "open");
        QVERIFY(!ui()->openLinkInSuitableApp(QStringLiteral("kelfail://a<b>")));
        QDesktopServices::unsetUrlHandler(QStringLiteral("kelfail"));
        QCOMPARE(opened.count(), 3);
        QCOMPARE(m_boxes.requests.size(), 1);
        QVERIFY(m_boxes.requests.first().message.contains(QStringLiteral("\"kelfail://a&lt;b&gt;\"")));
    }

    // Web links go through the desktop's opener, watched: one that fails soon after it started, or a
    // desktop without one where Qt's own way fails too, is told in one box; one that starts is not.
    void browserStartsWatched_data()
    {
        QTest::addColumn<QByteArray>("opener"); // the script's body; empty: no opener at all
        QTest::addColumn<int>("boxes");
        QTest::newRow("no browser to start") << QByteArray("exit 3") << 1;
        QTest::newRow("browser started") << QByteArray("printf '%s' \"$1\" > \"$0.url\"") << 0;
        QTest::newRow("no opener") << QByteArray() << 1;
    }

    void browserStartsWatched()
    {
        QFETCH(QByteArray, opener);
        QFETCH(int, boxes);
        // Qt starts the opener through a command line: a folder without blanks.
        QTemporaryDir bin(QDir::tempPath() + QStringLiteral("/opener-XXXXXX"));
        const QString script = bin.filePath(QStringLiteral("xdg-open"));
        if (!opener.isEmpty()) {
            QVERIFY(testfiles::write(script, "#!/bin/sh\n" + opener + "\n"));
            QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toUtf8());
        const auto restore = qScopeGuard([&] {
            qputenv("PATH", path);
            QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_sink, "open");
        });
        ui()->watchBrowserStarts(); // http and https from now on
        const QString link = QStringLiteral("http://example.org/wiki/Special:Search?search=a%20b&c=d");
        QVERIFY(ui()->openLinkInSuitableApp(link));
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes.requests.size(), boxes, 5000);
        QTest::qWait(300);
        QCOMPARE(m_boxes.requests.size(), boxes);
        if (boxes > 0)
            QVERIFY2(m_boxes.requests.first().message.contains(QStringLiteral("search=a b&amp;c=d\"")),
                qPrintable(m_boxes.requests.first().message));
        else
            QTRY_COMPARE_WITH_TIMEOUT(
                QString::fromUtf8(testfiles::read(script + ".url")), link, windowwaits::kTimeoutMs);
    }

    void revealingFiles()
    {
        QSignalSpy failed(ui(), &KelUi::shellExecuteFailed);
        QVERIFY(!ui()->openLinkInExplorer(QString()));
        QVERIFY(!ui()->openLinkInExplorer(QDir::home().filePath(QStringLiteral("missing.epub"))));
        QVERIFY(ui()->openLinkInExplorer(QDir::homePath())); // a folder is opened
        QCOMPARE(m_sink.urls, QList<QUrl> { QUrl::fromLocalFile(QDir::homePath()) });

        const QString book = QDir::home().filePath(QStringLiteral("book.epub"));
        QVERIFY(QFile(book).open(QIODevice::WriteOnly));
        QStringList revealed;
        bool fileManagerAnswers = true;
        ui()->setRevealHandler([&](const QString& path) {
            revealed.append(path);
            return fileManagerAnswers;
        });
        QVERIFY(ui()->openLinkInExplorer(book));
        QCOMPARE(revealed, QStringList { book });
        QCOMPARE(m_sink.urls.size(), 1);

        // Without a file manager that answers, the folder opens instead; when that fails too it is reported.
        fileManagerAnswers = false;
        QVERIFY(ui()->openLinkInExplorer(book));
        QCOMPARE(m_sink.urls.size(), 2);
        QObject noHandler;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &noHandler, "open");
        QVERIFY(!ui()->openLinkInExplorer(book));
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_sink, "open");
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.first().first().toString(), book);
        QCOMPARE(m_boxes.requests.size(), 1);
    }

    void mainWindowIsMadeOnceAndComesForwardOnHandOver()
    {
        ui()->initMainWindow();
        QWidget* window = ui()->mainWindow();
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
        ui()->initMainWindow();
        KelWindow* window = ui()->mainWindow();
        window->hide();
        QTest::qWait(20); // activation requests still queued from earlier shows
        QApplication::setActiveWindow(nullptr);
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
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), window, windowwaits::kTimeoutMs);
        QTest::qWait(120);
        QCOMPARE(runs, 0);
        QEvent unblocked(QEvent::WindowUnblocked);
        QApplication::sendEvent(window, &unblocked);
        QTRY_COMPARE_WITH_TIMEOUT(runs, 1, windowwaits::kTimeoutMs);
        QTest::qWait(100);
        QCOMPARE(runs, 1);
        window->hide();
    }

    void dayChangeComesAtOneMinutePastMidnight()
    {
        QCOMPARE(KelUi::msecsToNextDayChange(QDateTime(QDate(2024, 3, 10), QTime(23, 59))), 120000);
        QCOMPARE(KelUi::msecsToNextDayChange(QDateTime(QDate(2024, 3, 10), QTime(0, 0, 30))), 86430000);
    }

    // The toolkit's developer pages: a box, a toast, and file dialogs, the second one async.
    void dialogsButtons_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("buttons");
        addTextRows({
            { "3 buttons", "3 buttons", "Long message. This always", "FIRST|SECOND|THRID" },
            { "toast", "Short", "Single line title.", "toast" },
            { "file names", "kelUi->getOpenFileNames()", "GetOpenFileNames returned:", "OK" },
            { "file names async", "kelUi->getOpenFileNames()", "GetOpenFileNames returned:", "OK" },
        });
    }

    void dialogsButtons()
    {
        QFETCH(QString, text);
        QFETCH(QString, message);
        QFETCH(QString, buttons);
        const bool toast = buttons.startsWith("toast");
        const int boxes = toast ? 0 : 1;
        KelServicePage_Dialogs page;
        page.resize(790, 590); // inside the offscreen screen, where the clicks land
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page, windowwaits::kTimeoutMs));
        const int skip = QByteArray(QTest::currentDataTag()).endsWith("async"); // the second such button
        KelButton* button = childWithText<KelButton>(&page, text, skip);
        QVERIFY(button);
        page.ensureWidgetVisible(button);
        m_boxes.answer = 0; // every box closes at once, without a button
        clickThroughWindow(button);
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes.requests.size(), boxes, windowwaits::kTimeoutMs);
        QVERIFY(!QApplication::activeModalWidget());
        if (toast) {
            KelNotificationManager* manager = KelUi::instance()->notificationManager();
            const int id = ++m_toasts; // ids count on over all managers
            QTRY_VERIFY_WITH_TIMEOUT(manager->notificationWindow(id), windowwaits::kTimeoutMs);
            QVERIFY(manager->notificationWindow(id)->findChildren<KelLabel*>().value(0)->text().startsWith(message));
            delete manager; // closes what it showed
        }
        if (!boxes)
            return;
        // A cancelled file dialog answers with the bare prefix.
        QVERIFY(message.endsWith(':') ? m_boxes.requests[0].message == message
                                      : m_boxes.requests[0].message.startsWith(message));
        QCOMPARE(m_boxes.requests[0].buttonTexts.filter(QRegularExpression(".")).join('|'), buttons);
    }

    void paintingSwitches()
    {
        m_settings->clear();
        QLabel watched("watched");
        watched.show();
        QVERIFY(QTest::qWaitForWindowExposed(&watched, windowwaits::kTimeoutMs));
        PaintCounter counter(&watched);
        KelServicePage_Painting page;
        QTest::qWait(20);
        QCOMPARE(counter.paints, 0); // nothing switched, nothing repainted
        const QList<KelButton*> boxes = page.findChildren<KelButton*>();
        const QStringList keys { "DbgPaintKelPaintContext", "DbgPaintKelFrame", "DbgPaintKelButton", "DbgPaintKelLabel",
            "DbgPaintKelIconWidget", "DbgPaintKelDelimiter", "DbgPaintNonDwmResizer", "DbgPaintNonDwmShadow",
            "DbgPaintCustom" };
        QCOMPARE(boxes.size(), keys.size());
        for (int i = 0; i < boxes.size(); ++i) {
            QVERIFY2(!boxes[i]->isChecked(), qPrintable(boxes[i]->text()));
            boxes[i]->setChecked(true);
            QTRY_COMPARE_WITH_TIMEOUT(m_settings->value(keys[i]).toBool(), true, windowwaits::kTimeoutMs);
            QCOMPARE(m_settings->allKeys(), QStringList { keys[i] });
            KelServicePage_Painting second;
            QVERIFY(second.findChildren<KelButton*>()[i]->isChecked());
            boxes[i]->setChecked(false);
            QTRY_COMPARE_WITH_TIMEOUT(m_settings->value(keys[i]).toBool(), false, windowwaits::kTimeoutMs);
            m_settings->clear();
        }
    }

    void killedInstanceDoesNotBlockTheNextStart()
    {
        const QString id = uniqueId();
        {
            Helper first({ id, QStringLiteral("primary"), QStringLiteral("0") });
            QCOMPARE(first.nextLine(), QStringLiteral("READY"));
            first.kill(); // SIGKILL: no clean-up at all
            QVERIFY(first.waitForFinished(5000));
        }
        // Lock and socket of the dead instance are still there.
        QVERIFY(QFile::exists(KelLocalPeer::lockFilePathFor(id)));
        QVERIFY(QFile::exists(KelLocalPeer::socketPathFor(id)));

        // A start that finds only the dead instance becomes the running one at once: one that
        // waited for it would wait out its hand-over time, ten minutes, far past what finish()
        // waits for.
        {
            Helper lone({ id, QStringLiteral("send"), QStringLiteral("600000"), QStringLiteral("/books/a.epub") });
            QCOMPARE(lone.finish(), QStringLiteral("NOTSENT primary=1\n"));
        }

        Helper next({ id, QStringLiteral("primary"), QStringLiteral("1") });
        QCOMPARE(next.nextLine(), QStringLiteral("READY"));
        // A later start hands its arguments over and brings the minimised window forward.
        Helper sender({ id, QStringLiteral("send"), QStringLiteral("5000"), QStringLiteral("/books/b.epub"),
            QStringLiteral("/books/two words.fb2") });
        QCOMPARE(sender.finish(), QStringLiteral("SENT\n"));
        QCOMPARE(next.nextLine(), QStringLiteral("MSG /books/b.epub|/books/two words.fb2"));
        QCOMPARE(next.nextLine(), QStringLiteral("WIN minimized=0 visible=1"));
        QVERIFY(next.waitForFinished(15000));
    }

    void heldLockWithoutServerIsRetriedUntilTimeout()
    {
        const QString id = uniqueId();
        QLockFile lock(KelLocalPeer::lockFilePathFor(id));
        lock.setStaleLockTime(0);
        QVERIFY(lock.tryLock(0));

        // Nobody answers: the start gives up after its time-out and cannot take the live lock. The
        // start's own clock runs the whole time-out (a busy machine only lengthens it), so the
        // lower bound holds wherever the test runs.
        QElapsedTimer timer;
        timer.start();
        {
            Helper sender({ id, QStringLiteral("send"), QStringLiteral("1500"), QStringLiteral("/books/c.epub") });
            QCOMPARE(sender.finish(), QStringLiteral("NOTSENT primary=0\n"));
        }
        QVERIFY2(timer.elapsed() >= 1400, "gave up before the time-out");

        // The lock holder starts serving while a later start is still retrying.
        Helper sender({ id, QStringLiteral("send"), QStringLiteral("10000"), QStringLiteral("/books/d.epub") });
        QTest::qWait(600);
        QCOMPARE(sender.state(), QProcess::Running);
        KelInstanceServer server;
        QSignalSpy received(&server, &KelInstanceServer::messageReceived);
        QVERIFY(server.listen(KelLocalPeer::socketPathFor(id)));
        QTRY_COMPARE_WITH_TIMEOUT(sender.state(), QProcess::NotRunning, 10000); // the server needs the loop
        QCOMPARE(sender.finish(), QStringLiteral("SENT\n"));
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toString(), QStringLiteral("/books/d.epub"));
    }

    // A start that gave up on a stopped instance told its user so: when the instance resumes, it
    // drops that hand-over instead of acting on it late, and takes the next one.
    void stoppedInstanceDropsAHandOverItsSenderGaveUp()
    {
        const QString id = uniqueId();
        Helper first({ id, QStringLiteral("primary"), QStringLiteral("0") });
        QCOMPARE(first.nextLine(), QStringLiteral("READY"));
        const pid_t pid = pid_t(first.processId());
        QCOMPARE(::kill(pid, SIGSTOP), 0);
        auto resume = qScopeGuard([pid] { ::kill(pid, SIGCONT); });
        {
            Helper sender({ id, QStringLiteral("send"), QStringLiteral("1000"), QStringLiteral("/books/late.epub") });
            QCOMPARE(sender.finish(), QStringLiteral("NOTSENT primary=0\n"));
        }
        resume.dismiss();
        QCOMPARE(::kill(pid, SIGCONT), 0);
        Helper sender({ id, QStringLiteral("send"), QStringLiteral("5000"), QStringLiteral("/books/now.epub") });
        QCOMPARE(sender.finish(), QStringLiteral("SENT\n"));
        QCOMPARE(first.nextLine(), QStringLiteral("MSG /books/now.epub"));
    }

    void serverReassemblesChunksAndRefusesOversizedFrames()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("s"));
        KelInstanceServer server;
        QSignalSpy received(&server, &KelInstanceServer::messageReceived);
        QVERIFY(server.listen(path));

        // A length far beyond the bound: the connection is dropped, nothing is delivered.
        QLocalSocket hostile;
        hostile.connectToServer(path);
        QVERIFY(hostile.waitForConnected(2000));
        char header[4];
        qToBigEndian<quint32>(KelInstanceServer::MaxMessageBytes + 1, header);
        hostile.write(header, 4);
        hostile.flush();
        QTRY_COMPARE_WITH_TIMEOUT(hostile.state(), QLocalSocket::UnconnectedState, windowwaits::kTimeoutMs);
        QCOMPARE(received.count(), 0);

        // A message written in pieces arrives once, whole, and is acknowledged.
        const QByteArray payload = QStringLiteral("Über|書籍").toUtf8();
        QLocalSocket slow;
        slow.connectToServer(path);
        QVERIFY(slow.waitForConnected(2000));
        qToBigEndian<quint32>(quint32(payload.size()), header);
        slow.write(header, 2);
        slow.flush();
        QTest::qWait(30);
        slow.write(header + 2, 2);
        slow.write(payload.left(3));
        slow.flush();
        QTest::qWait(30);
        QCOMPARE(received.count(), 0);
        slow.write(payload.mid(3));
        slow.flush();
        QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, windowwaits::kTimeoutMs);
        QCOMPARE(received.first().first().toString(), QStringLiteral("Über|書籍"));
        QTRY_VERIFY_WITH_TIMEOUT(slow.bytesAvailable() == 1 || slow.waitForReadyRead(10), windowwaits::kTimeoutMs);
        QCOMPARE(slow.read(1), QByteArray("\x06"));

        // The server still serves a regular start from another thread, with a long text far over one read.
        QString text;
        for (int i = 0; text.size() < 3000000; ++i)
            text += QStringLiteral("/книги/Война и мир — 書籍 %1.epub|").arg(i);
        auto delivered
            = std::async(std::launch::async, [path, text] { return KelInstanceServer::deliver(path, text, 20000); });
        QTRY_COMPARE_WITH_TIMEOUT(received.count(), 2, 20000);
        QVERIFY(received.last().first().toString() == text);
        QVERIFY(delivered.get());
    }

    // A server with a recorder answers only once the recorder kept the message: held, it leaves the
    // sender waiting; a refusal reaches the sender with its reason and hands nothing on.
    void recorderKeepsTheMessageBeforeTheAnswer()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("r"));
        KelInstanceServer server;
        QSignalSpy received(&server, &KelInstanceServer::messageReceived);
        QStringList kept;
        bool refuse = false;
        server.setRecorder([&](const QString& message, QString* reason) {
            if (refuse) {
                *reason = QStringLiteral("the disk is full");
                return false;
            }
            // Nothing is answered yet when the recorder runs.
            kept << message;
            return received.isEmpty();
        });
        server.setHeld(true);
        QVERIFY(server.listen(path));
        using Delivery = KelInstanceServer::Delivery;
        auto held = std::async(std::launch::async, [path] {
            QString reason;
            return KelInstanceServer::deliver(path, QStringLiteral("first"), 20000, &reason);
        });
        QTest::qWait(300);
        QVERIFY(kept.isEmpty());
        QCOMPARE(held.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
        server.setHeld(false);
        QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, windowwaits::kTimeoutMs);
        QCOMPARE(kept, QStringList { QStringLiteral("first") });
        QVERIFY(held.get() == Delivery::Delivered);

        refuse = true;
        QString reason;
        auto refused = std::async(std::launch::async,
            [path, &reason] { return KelInstanceServer::deliver(path, QStringLiteral("second"), 20000, &reason); });
        QTRY_VERIFY_WITH_TIMEOUT(
            refused.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready, windowwaits::kTimeoutMs);
        QVERIFY(refused.get() == Delivery::Refused);
        QCOMPARE(reason, QStringLiteral("the disk is full"));
        QCOMPARE(received.count(), 1);
    }

    // Must stay last: it ends the application's event loop.
    void workersAreRefusedOnceTheEventLoopHasEnded()
    {
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        qApp->exec();
        int pressed = -1;
        std::unique_ptr<QThread> worker(
            QThread::create([&pressed] { pressed = ui()->messageBox(QStringLiteral("late")); }));
        worker->start();
        QVERIFY(worker->wait(5000)); // a blocking call here would never return
        QCOMPARE(pressed, 0);
        QVERIFY(m_boxes.requests.isEmpty());
    }

    // A child that asks for the main window while the window is being destroyed gets none: the
    // object is no KelWindow any more by then, and casting it to one would be undefined.
    void mainWindowBeingDestroyedIsNone()
    {
        ui()->initMainWindow();
        KelWindow* window = ui()->mainWindow();
        QVERIFY(window);
        struct Asker : QWidget {
            using QWidget::QWidget;
            ~Asker() override { *seen = KelUi::instance()->mainWindow(); }
            KelWindow** seen = nullptr;
        };
        KelWindow* seen = window;
        auto* asker = new Asker(window);
        asker->seen = &seen;
        delete window;
        QCOMPARE(seen, static_cast<KelWindow*>(nullptr));
        QVERIFY(!ui()->mainWindow());
    }

    void cleanupTestCase() { KelApplication::instance()->setSettings(nullptr); }
};

int main(int argc, char** argv)
{
    return runKelAppTest<TestApp, TestKelApp>(argc, argv, QStringLiteral("Kel App Test"));
}

#include "tst_kelapp.moc"

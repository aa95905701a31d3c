#include "hoverleaveworkaround.h"
#include "kelapplication.h"
#include "kelapptest.h"
#include "kelsettings.h"
#include "kelui.h"

#include <QDir>
#include <QMouseEvent>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include <memory>

namespace {
int g_uiInits = 0;

class CountingUi : public KelUi {
public:
    using KelUi::KelUi;
    void init() override { ++g_uiInits; }
    void retranslate() override { ++retranslations; }
    int retranslations = 0;
};

class TestApp : public KelApplication {
public:
    using KelApplication::KelApplication;
    using KelApplication::retranslateApplication;
    using KelApplication::storeTranslatorLanguage;
    int languageChanges = 0;

protected:
    KelUi* createUi() override { return new CountingUi(this); }
    void onLanguageChanged() override { ++languageChanges; }
};

TestApp* testApp() { return static_cast<TestApp*>(KelApplication::instance()); }

// Records where mouse moves arrive and accepts or ignores them as told.
class MoveWindow : public QWindow {
public:
    bool accept = true;
    QList<QPointF> positions;

protected:
    void mouseMoveEvent(QMouseEvent* event) override
    {
        positions.append(event->localPos());
        event->setAccepted(accept);
    }
};

class MoveObject : public QObject {
public:
    QList<QPointF> positions;
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::MouseMove)
            positions.append(static_cast<QMouseEvent*>(event)->localPos());
        return QObject::event(event);
    }
};

// Counts enter and leave events of one widget.
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
    const QPointF global = window->mapToGlobal(local.toPoint());
    QMouseEvent move(type, local, local, global, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &move);
}
}

class TestKelApplication : public QObject {
    Q_OBJECT

private slots:
    void uiIsMadeOnceAndInitedOnce()
    {
        KelUi* first = testApp()->ui();
        QVERIFY(first);
        QCOMPARE(testApp()->ui(), first);
        QCOMPARE(KelUi::instance(), first);
        QCOMPARE(g_uiInits, 1);
        QCOMPARE(first->parent(), testApp());

        delete first;
        KelUi* second = testApp()->ui();
        QVERIFY(second);
        QCOMPARE(g_uiInits, 2);
    }

    void currentVersionInTheNativeStoreWins()
    {
        testApp()->setBuildVersion(QStringLiteral("1.2.3"));
        QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.2.3"));

        QSettings(QCoreApplication::organizationName(), QCoreApplication::applicationName())
            .setValue(QStringLiteral("CurrentVersion"), QStringLiteral("6.3.1"));
        testApp()->setBuildVersion(QStringLiteral("1.2.3"));
        QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("6.3.1"));
        QCOMPARE(testApp()->buildVersion(), QStringLiteral("1.2.3"));

        // The store is looked up under the registry name when one is set.
        testApp()->setRegistryAppName(QStringLiteral("Other Name"));
        QCOMPARE(testApp()->registryAppName(), QStringLiteral("Other Name"));
        testApp()->setBuildVersion(QStringLiteral("1.2.4"));
        QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.2.4"));
        testApp()->setRegistryAppName(QString());
        QCOMPARE(testApp()->registryAppName(), QCoreApplication::applicationName());
    }

    void mouseMovesArriveAtWholePixels_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("accepted") << true;
        QTest::newRow("ignored") << false;
    }

    void mouseMovesArriveAtWholePixels()
    {
        QFETCH(bool, accept);
        testApp()->ui();
        MoveWindow window;
        window.accept = accept;
        QMouseEvent move(QEvent::MouseMove, QPointF(10.7, 3.2), QPointF(10.7, 3.2), QPointF(110.7, 203.2), Qt::NoButton,
            Qt::NoButton, Qt::NoModifier);
        move.setAccepted(!accept);
        QCoreApplication::sendEvent(&window, &move);
        QCOMPARE(window.positions, QList<QPointF> { QPointF(10, 3) });
        QCOMPARE(move.isAccepted(), accept);

        QMouseEvent negative(QEvent::MouseMove, QPointF(-0.5, 2.999), QPointF(-0.5, 2.999), QPointF(0, 0), Qt::NoButton,
            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &negative);
        QCOMPARE(window.positions.last(), QPointF(-1, 2));

        // Only windows get the whole-pixel replacement.
        MoveObject object;
        QMouseEvent plain(QEvent::MouseMove, QPointF(10.7, 3.2), QPointF(10.7, 3.2), QPointF(10.7, 3.2), Qt::NoButton,
            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&object, &plain);
        QCOMPARE(object.positions, QList<QPointF> { QPointF(10.7, 3.2) });
    }

    void hoverFollowsMovesAndUndoesSpuriousLeaves()
    {
        KelUi* ui = testApp()->ui();
        QWidget top;
        top.resize(200, 200);
        auto* probe = new HoverProbe(&top);
        probe->setGeometry(50, 50, 60, 60);
        top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&top));
        QWindow* window = top.windowHandle();

        sendMove(window, QPointF(70.4, 70.6));
        QVERIFY(probe->testAttribute(Qt::WA_UnderMouse));
        QCOMPARE(ui->hoverWorkaround()->hoveredWidget(), probe);
        QCOMPARE(ui->widgetUnderMouse(), probe);
        QVERIFY(probe->enters >= 1);

        // A leave while the cursor is still over the widget is answered by an enter. (Placing the
        // cursor sends a move of its own; let it settle first.)
        QCursor::setPos(window->mapToGlobal(QPoint(70, 70)));
        QTest::qWait(20);
        QVERIFY(probe->testAttribute(Qt::WA_UnderMouse));
        const int enters = probe->enters;
        probe->setAttribute(Qt::WA_UnderMouse, false);
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(probe, &leave);
        QTRY_VERIFY(probe->testAttribute(Qt::WA_UnderMouse));
        QCOMPARE(probe->enters, enters + 1);

        // With the cursor elsewhere the leave stands.
        QCursor::setPos(window->mapToGlobal(QPoint(5, 5)));
        probe->setAttribute(Qt::WA_UnderMouse, false);
        QCoreApplication::sendEvent(probe, &leave);
        QTest::qWait(20);
        QVERIFY(!probe->testAttribute(Qt::WA_UnderMouse));

        // A move over the non-client area clears the hover without looking for a widget.
        sendMove(window, QPointF(70, 70));
        QVERIFY(probe->testAttribute(Qt::WA_UnderMouse));
        const int leaves = probe->leaves;
        sendMove(window, QPointF(70, 70), QEvent::NonClientAreaMouseMove);
        QVERIFY(!probe->testAttribute(Qt::WA_UnderMouse));
        QCOMPARE(probe->leaves, leaves + 1);
        QCOMPARE(ui->hoverWorkaround()->hoveredWidget(), nullptr);
    }

    void configFileLivesInTheUsersConfigFolder()
    {
        const QString folder = QDir::homePath() + QStringLiteral("/.config/") + QCoreApplication::organizationName()
            + QLatin1Char('/') + QCoreApplication::applicationName();
        QCOMPARE(
            KelApplication::configFilePath(QStringLiteral("settings.ini")), folder + QStringLiteral("/settings.ini"));
        QVERIFY(QDir(folder).exists());
        QCOMPARE(KelApplication::configFilePath(QString()), folder);
    }

    void splashGoesToTheSavedScreenOrThePrimaryOne()
    {
        const QList<QScreen*> screens = QGuiApplication::screens();
        QVERIFY(!screens.isEmpty());
        QCOMPARE(testApp()->splashScreenFor(0), screens.first());
        for (const int index : { -1, int(screens.size()) }) {
            QTest::ignoreMessage(QtWarningMsg,
                qPrintable(QStringLiteral("No screen found for previous saved main window pos. Use default screen. "
                                          "Old screen number is %1")
                               .arg(index)));
            QCOMPARE(testApp()->splashScreenFor(index), QGuiApplication::primaryScreen());
        }
    }

    void startupLanguageTriesSavedThenSystemThenShipped()
    {
        QStringList tried;
        auto run = [&tried](const QString& saved, const QString& system, const QStringList& loadable,
                       const QString& shipped) {
            tried.clear();
            KelApplication::selectStartupLanguage(
                saved, system,
                [&](const QString& code) {
                    tried.append(code);
                    return loadable.contains(code);
                },
                [&](const QString& language) { return language == QStringLiteral("de") ? shipped : QString(); });
        };
        run(QStringLiteral("fr_FR"), QStringLiteral("de_AT"), { QStringLiteral("fr_FR") }, QString());
        QCOMPARE(tried, QStringList { QStringLiteral("fr_FR") });
        run(QStringLiteral("xx"), QStringLiteral("de_AT"), { QStringLiteral("de_AT") }, QString());
        QCOMPARE(tried, (QStringList { QStringLiteral("xx"), QStringLiteral("de_AT") }));
        run(QString(), QStringLiteral("DE_AT"), {}, QStringLiteral("de_DE"));
        QCOMPARE(tried.last(), QStringLiteral("de_DE"));
        run(QString(), QStringLiteral("pt_BR"), {}, QStringLiteral("de_DE"));
        QCOMPARE(tried.last(), QStringLiteral("en"));
        QVERIFY(!testApp()->applyLocale(QStringLiteral("de_DE"))); // no translator yet
    }

    void languageSwitchIsStoredAndRetranslatesWindows()
    {
        KelSettings settings(KelApplication::configFilePath(QStringLiteral("lang.ini")), QSettings::IniFormat);
        testApp()->setSettings(&settings);
        QSignalSpy locales(&settings, &KelSettings::localeNameChanged);
        testApp()->storeTranslatorLanguage(QStringLiteral("de_DE"));
        testApp()->storeTranslatorLanguage(QStringLiteral("de_DE"));
        QCOMPARE(locales.count(), 1);
        QCOMPARE(settings.localeName(), QStringLiteral("de_DE"));
        testApp()->setSettings(nullptr);

        RetranslatedWindow window;
        QWidget plain;
        auto* ui = static_cast<CountingUi*>(testApp()->ui());
        const int before = ui->retranslations;
        testApp()->retranslateApplication();
        QCOMPARE(window.calls, 1);
        QCOMPARE(ui->retranslations, before + 1);
        QCOMPARE(testApp()->languageChanges, 1);
    }

    void guiThreadIsTheConstructingOne()
    {
        QVERIFY(testApp()->isGuiThread());
        bool inWorker = true;
        std::unique_ptr<QThread> worker(QThread::create([&] { inWorker = testApp()->isGuiThread(); }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QVERIFY(!inWorker);
    }

    void firstRunComesFromTheSettings()
    {
        const QString file = KelApplication::configFilePath(QStringLiteral("firstrun.ini"));
        testApp()->setFirstRun(false);
        {
            KelSettings first(file, QSettings::IniFormat);
        }
        QVERIFY(testApp()->isFirstRun());
        KelSettings second(file, QSettings::IniFormat);
        QVERIFY(!testApp()->isFirstRun());
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<TestApp, TestKelApplication>(argc, argv, QStringLiteral("Kel App Test"));
}

#include "tst_kelapplication.moc"

// The translator over translation files compiled by the test with lrelease, and the start-up splash with
// its loading text, minimum time and hand-over to the main window.
#include "../kelapp/kelapptest.h"
#include "kelapplication.h"
#include "kelsettings.h"
#include "keltranslator.h"
#include "kelui.h"
#include "translationfiles.h"
#include "windows/kelsplash.h"
#include "windows/kelwindow.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {
const QString kPrefix = QStringLiteral("p");

// Keeps a text of its own class up to date on every language change, as a window would.
class LanguageWatcher : public QWidget {
    Q_OBJECT
public:
    static QString hello() { return tr("Hello"); }
    QString text = hello();

protected:
    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::LanguageChange)
            text = hello();
        QWidget::changeEvent(event);
    }
};

QString qtCancel() { return QCoreApplication::translate("QPlatformTheme", "Cancel"); }

// A main window as toolkit windows offer it: shown through showAndActivate.
class StubWindow : public KelWindow {
    Q_OBJECT
public:
    StubWindow()
        : KelWindow(KelWindow::WindowParams())
    {
    }

public slots:
    void showAndActivate(bool withParent)
    {
        ++activations;
        lastWithParent = withParent;
        show();
    }

public:
    int activations = 0;
    bool lastWithParent = true;
};

class TestUi : public KelUi {
public:
    using KelUi::KelUi;
    bool makeWindow = true;

protected:
    KelWindow* createMainWindow() override { return makeWindow ? new StubWindow : nullptr; }
};

class TestApp : public KelApplication {
public:
    using KelApplication::KelApplication;
    int languageChanges = 0;
    int splashesDestroyed = 0;

protected:
    KelUi* createUi() override { return new TestUi(this); }
    void onLanguageChanged() override { ++languageChanges; }
    void onSplashDestroyed() override { ++splashesDestroyed; }
};

TestApp* testApp() { return static_cast<TestApp*>(KelApplication::instance()); }

// A fresh UI object, so that each case makes its own main window.
TestUi* freshUi(bool makeWindow)
{
    delete KelUi::instance();
    auto* ui = static_cast<TestUi*>(KelUi::instance());
    ui->makeWindow = makeWindow;
    return ui;
}

void touch(const QString& path, const QByteArray& content = QByteArray())
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// Records every loading text the splash paints, once per change.
class RecordingSplash : public KelSplash {
public:
    using KelSplash::KelSplash;
    QStringList texts;
    static inline int paints = 0;

protected:
    void drawContents(QPainter* painter) override
    {
        ++paints;
        if (texts.isEmpty() || texts.last() != loadingText())
            texts.append(loadingText());
        KelSplash::drawContents(painter);
    }
};

RecordingSplash* makeSplash(int minimumMs, int tickMs, bool showMainWindow, int maxDots = 3)
{
    QPixmap picture(400, 200);
    picture.fill(Qt::black);
    return new RecordingSplash(QRect(), picture, QStringLiteral("1.2.3"), minimumMs, tickMs, 0, maxDots, showMainWindow,
        QPoint(), QPoint(40, 124), Qt::red, QColor(Qt::white));
}

} // namespace

class TestKelTranslations : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    // German, French and an English file without messages for the application, German only for Qt,
    // and an Italian file that is not a translation at all.
    QString m_folder;

    // Files of the given names (contents do not matter for listing) in a fresh folder.
    QString folderWithFiles(const QString& name, const QStringList& files)
    {
        const QString folder = m_dir.filePath(name);
        QDir().mkpath(folder);
        for (const QString& file : files)
            touch(QDir(folder).filePath(file));
        return folder;
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(KelTranslator::systemLocaleName(), QStringLiteral("de_AT"));
        m_folder = m_dir.filePath(QStringLiteral("translations"));
        const QString error = compileTranslations(m_folder,
            { { QStringLiteral("p_de.qm"),
                  { { QStringLiteral("LanguageWatcher"), QStringLiteral("Hello"), QStringLiteral("Hallo") } } },
                { QStringLiteral("qt_de.qm"),
                    { { QStringLiteral("QPlatformTheme"), QStringLiteral("Cancel"), QStringLiteral("Abbrechen") } } },
                { QStringLiteral("p_fr.qm"),
                    { { QStringLiteral("LanguageWatcher"), QStringLiteral("Hello"), QStringLiteral("Bonjour") } } },
                { QStringLiteral("p_en.qm"), {} } });
        QVERIFY2(error.isEmpty(), qPrintable(error));
        touch(QDir(m_folder).filePath(QStringLiteral("p_it.qm")), QByteArray("not a translation"));
    }

    void tableListsTheAvailableLanguages_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("locales");
        QTest::addColumn<QStringList>("fileNames");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("English first") << QStringList { "p_de.qm", "p_en.qm", "p_fr.qm", "q_it.qm", "p_es.ts", "p.qm" }
                                       << QStringList { "en", "de_DE", "fr_FR" }
                                       << QStringList { "p_en.qm", "p_de.qm", "p_fr.qm" } << kPrefix;
        QTest::newRow("regional English")
            << QStringList { "p_pt_BR.qm", "p_en_GB.qm" } << QStringList { "en_GB", "pt_BR" }
            << QStringList { "p_en_GB.qm", "p_pt_BR.qm" } << kPrefix;
        QTest::newRow("prefix with underscore") << QStringList { "my_app_de_DE.qm" } << QStringList { "en", "de_DE" }
                                                << QStringList { "", "my_app_de_DE.qm" } << "my_app";
    }

    void tableListsTheAvailableLanguages()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, locales);
        QFETCH(QStringList, fileNames);
        QFETCH(QString, prefix);
        KelTranslator translator(prefix, nullptr, folderWithFiles(QTest::currentDataTag(), files));
        QCOMPARE(translator.rowCount(), locales.size());
        for (int row = 0; row < locales.size(); ++row) {
            QCOMPARE(translator.index(row, 0).data().toString(), fileNames.at(row));
            QCOMPARE(translator.index(row, 1).data().toString(), locales.at(row));
            QCOMPARE(translator.indexOfLocale(locales.at(row)), translator.index(row, 2));
        }
        // The built-in row stands for the texts as written.
        if (fileNames.first().isEmpty())
            QCOMPARE(translator.index(0, 2).data().toString(), QStringLiteral("English"));
    }

    void switchingLanguageRetranslates()
    {
        LanguageWatcher window;
        {
            KelTranslator translator(kPrefix, nullptr, m_folder);
            QSignalSpy changes(&translator, &KelTranslator::languageChanged);
            QVERIFY(translator.translate(QStringLiteral("de_DE")));
            QCOMPARE(translator.currentLocale(), QStringLiteral("de_DE"));
            QTRY_COMPARE(window.text, QStringLiteral("Hallo"));
            QCOMPARE(qtCancel(), QStringLiteral("Abbrechen"));
            // The current language again: nothing to do unless forced, and then one German translator, not two.
            QVERIFY(translator.translate(QStringLiteral("de_DE")));
            QCOMPARE(changes.count(), 1);
            QVERIFY(translator.translate(QStringLiteral("de_DE"), true));
            QCOMPARE(changes.count(), 2);
            QCOMPARE(LanguageWatcher::hello(), QStringLiteral("Hallo"));
            // French has no Qt translation: Qt's texts go back to English, the switch still succeeds.
            QVERIFY(translator.translate(QStringLiteral("fr_FR")));
            QTRY_COMPARE(window.text, QStringLiteral("Bonjour"));
            QCOMPARE(qtCancel(), QStringLiteral("Cancel"));
            // English, a file without messages, brings back the texts as written.
            QVERIFY(translator.translate(QStringLiteral("en")));
            QCOMPARE(changes.last().first().toString(), QStringLiteral("en"));
            QTRY_COMPARE(window.text, QStringLiteral("Hello"));
            QVERIFY(translator.translate(QStringLiteral("de_DE")));
        }
        // The translations leave with the translator.
        QCOMPARE(LanguageWatcher::hello(), QStringLiteral("Hello"));
        QCOMPARE(qtCancel(), QStringLiteral("Cancel"));
    }

    void refusedCodesKeepTheCurrentLanguage_data()
    {
        QTest::addColumn<QString>("code");
        QTest::newRow("empty") << QString();
        QTest::newRow("other case") << "DE_de";
        QTest::newRow("path") << "../translations/p_de";
        QTest::newRow("absolute path") << m_folder + "/p_fr";
        QTest::newRow("broken file") << "it_IT";
    }

    void refusedCodesKeepTheCurrentLanguage()
    {
        QFETCH(QString, code);
        KelTranslator translator(kPrefix, nullptr, m_folder);
        QVERIFY(translator.translate(QStringLiteral("de_DE")));
        QSignalSpy changes(&translator, &KelTranslator::languageChanged);
        QVERIFY(!translator.translate(code));
        QCOMPARE(changes.count(), 0);
        QCOMPARE(translator.currentLocale(), QStringLiteral("de_DE"));
        QCOMPARE(LanguageWatcher::hello(), QStringLiteral("Hallo"));
        QCOMPARE(qtCancel(), QStringLiteral("Abbrechen"));
    }

    void startupLanguageFallsBack_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("hello");
        const QString broken = folderWithFiles(QStringLiteral("broken French"), { QStringLiteral("p_fr.qm") });
        QTest::newRow("saved") << m_folder << QStringLiteral("fr_FR") << QStringLiteral("fr_FR")
                               << QStringLiteral("Bonjour");
        // de_AT is not shipped: the system's language picks the German file.
        QTest::newRow("system language") << m_folder << QStringLiteral("../../p_fr") << QStringLiteral("de_DE")
                                         << QStringLiteral("Hallo");
        // The saved file does not load and nothing else matches: the texts as written.
        QTest::newRow("English") << broken << QStringLiteral("fr_FR") << QStringLiteral("en")
                                 << QStringLiteral("Hello");
    }

    void startupLanguageFallsBack()
    {
        QFETCH(QString, folder);
        QFETCH(QString, saved);
        QFETCH(QString, expected);
        QFETCH(QString, hello);
        KelSettings settings(KelApplication::configFilePath(QStringLiteral("startup.ini")), QSettings::IniFormat);
        settings.setLocaleName(saved);
        testApp()->setSettings(&settings);
        const int before = testApp()->languageChanges;
        testApp()->initTranslator(kPrefix, folder);
        QCOMPARE(testApp()->translator()->currentLocale(), expected);
        QCOMPARE(settings.localeName(), expected);
        QCOMPARE(LanguageWatcher::hello(), hello);
        // No window exists yet at start-up, so nothing is retranslated.
        QCOMPARE(testApp()->languageChanges, before);
        testApp()->setSettings(nullptr);
    }

    void splashClosesAtTheMinimumTime_data()
    {
        // A zero tick must not repaint without pause: a still text paints once, dots about once a frame.
        QTest::addColumn<int>("maxDots");
        QTest::addColumn<int>("maxPaints");
        QTest::newRow("still text") << 0 << 3;
        QTest::newRow("cycling dots") << 3 << 30;
    }

    void splashClosesAtTheMinimumTime()
    {
        QFETCH(int, maxDots);
        QFETCH(int, maxPaints);
        QElapsedTimer clock;
        clock.start();
        RecordingSplash::paints = 0;
        QPointer<RecordingSplash> splash = makeSplash(200, 0, false, maxDots);
        splash->show();
        QTRY_VERIFY(!splash);
        QVERIFY(clock.elapsed() >= 200);
        QVERIFY2(RecordingSplash::paints <= maxPaints, qPrintable(QString::number(RecordingSplash::paints)));
    }

    void splashHandsOverToAWindowMadeEarly()
    {
        TestUi* ui = freshUi(true);
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("splash.png"));
        QVERIFY(QImage(300, 150, QImage::Format_RGB32).save(image));
        const int destroyedBefore = testApp()->splashesDestroyed;
        QElapsedTimer clock;
        clock.start();
        QPointer<KelSplash> splash = testApp()->showSplash(image, 300, 0, 0, 3, QStringLiteral("DejaVu Sans"), 24, true,
            QPoint(), QPoint(40, 124), QColor(Qt::transparent), QColor(Qt::white));
        QVERIFY(testApp()->isSplashVisible());
        QCOMPARE(splash->pixmap().size(), QSize(300, 150));
        // A window made before the minimum time does not end the splash early.
        ui->initMainWindow();
        auto* window = qobject_cast<StubWindow*>(ui->mainWindow());
        QVERIFY(splash && splash->isVisible());
        QCOMPARE(window->activations, 0);
        QTRY_VERIFY(!splash);
        QVERIFY(clock.elapsed() >= 300);
        QCOMPARE(window->activations, 1);
        QCOMPARE(window->lastWithParent, false);
        QVERIFY(!testApp()->splash());
        QCOMPARE(testApp()->splashesDestroyed, destroyedBefore + 1);
    }

    void splashWaitsForAWindowMadeLater()
    {
        TestUi* ui = freshUi(true);
        QPointer<RecordingSplash> splash = makeSplash(50, 5, true);
        splash->show();
        QTRY_VERIFY(splash->isMinimumTimeReached() && splash->texts.size() >= 6);
        QCOMPARE(splash->texts.mid(0, 6),
            (QStringList { "Loading", "Loading.", "Loading..", "Loading...", "Loading", "Loading." }));
        QCOMPARE(splash->versionText(), QStringLiteral("v1.2.3"));
        ui->initMainWindow(); // not through the application, so hand over as the application would
        QVERIFY(splash);
        splash->setMainWindowIsReady(ui->mainWindow());
        QTRY_VERIFY(!splash);
        QCOMPARE(static_cast<StubWindow*>(ui->mainWindow())->activations, 1);

        // A plain window is brought to the front.
        freshUi(true);
        QPointer<RecordingSplash> second = makeSplash(0, 0, true);
        QTRY_VERIFY(second->isMinimumTimeReached());
        KelWindow window { KelWindow::WindowParams() };
        second->setMainWindowIsReady(&window);
        QVERIFY(window.isVisible());
        QTRY_VERIFY(!second);
    }

    void splashClosesWhenNoMainWindowCanBeMade()
    {
        TestUi* ui = freshUi(false);
        QPointer<KelSplash> splash = testApp()->showSplash(QStringLiteral("missing.png"), 100, 0, 0, 3,
            QStringLiteral("DejaVu Sans"), 24, true, QPoint(), QPoint(), QColor(), QColor());
        QVERIFY(splash);
        ui->initMainWindow();
        QVERIFY(!ui->mainWindow());
        QTRY_VERIFY(!splash);
    }
};

int main(int argc, char** argv)
{
    // A system locale that no file matches exactly, so the start-up fallbacks show.
    qputenv("LC_ALL", "de_AT.UTF-8");
    qunsetenv("LANGUAGE");
    return runKelAppTest<TestApp, TestKelTranslations>(argc, argv, QStringLiteral("KelTranslationsTest"));
}

#include "tst_keltranslations.moc"

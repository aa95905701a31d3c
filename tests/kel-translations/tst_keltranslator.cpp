#include "../kelapp/kelapptest.h"
#include "kelapplication.h"
#include "kelsettings.h"
#include "keltranslator.h"
#include "translationfiles.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace {
const QString kPrefix = QStringLiteral("p");
const QString kSystemLocale = QStringLiteral("de_AT");

// Keeps a text of its own class up to date on every language change, as a window would.
class LanguageWatcher : public QWidget {
    Q_OBJECT
public:
    static QString hello() { return tr("Hello"); }
    int changes = 0;
    QString text = hello();

protected:
    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::LanguageChange) {
            ++changes;
            text = hello();
        }
        QWidget::changeEvent(event);
    }
};

QString qtCancel() { return QCoreApplication::translate("QPlatformTheme", "Cancel"); }

class TestApp : public KelApplication {
public:
    using KelApplication::KelApplication;
    int languageChanges = 0;

protected:
    void onLanguageChanged() override { ++languageChanges; }
};

TestApp* testApp() { return static_cast<TestApp*>(KelApplication::instance()); }

QRegularExpression logLine(const QString& text) { return QRegularExpression(QRegularExpression::escape(text)); }

void touch(const QString& path, const QByteArray& content = QByteArray())
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}
}

class TranslatorTest : public QObject {
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
        QCOMPARE(KelTranslator::systemLocaleName(), kSystemLocale);
        m_folder = m_dir.filePath(QStringLiteral("translations"));
        const QString error = compileTranslations(m_folder,
            { { QStringLiteral("p_de.qm"),
                  { { QStringLiteral("LanguageWatcher"), QStringLiteral("Hello"), QStringLiteral("Hallo") } } },
                { QStringLiteral("qt_de.qm"),
                    { { QStringLiteral("QPlatformTheme"), QStringLiteral("Cancel"), QStringLiteral("Abbrechen") } } },
                { QStringLiteral("p_fr.qm"),
                    { { QStringLiteral("LanguageWatcher"), QStringLiteral("Hello"), QStringLiteral("Bonjour") } } },
                { QStringLiteral("p_en.qm"), {} } });
        if (!error.isEmpty())
            QSKIP(qPrintable(error));
        touch(QDir(m_folder).filePath(QStringLiteral("p_it.qm")), QByteArray("not a translation"));
    }

    void tableListsTheAvailableLanguages_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("locales");
        QTest::addColumn<QStringList>("fileNames");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("empty folder") << QStringList() << QStringList { QStringLiteral("en") } << QStringList { "" }
                                      << kPrefix;
        QTest::newRow("English first") << QStringList { "p_de.qm", "p_en.qm", "p_fr.qm", "q_it.qm", "p_es.ts", "p.qm" }
                                       << QStringList { "en", "de_DE", "fr_FR" }
                                       << QStringList { "p_en.qm", "p_de.qm", "p_fr.qm" } << kPrefix;
        QTest::newRow("regional English")
            << QStringList { "p_pt_BR.qm", "p_en_GB.qm" } << QStringList { "en_GB", "pt_BR" }
            << QStringList { "p_en_GB.qm", "p_pt_BR.qm" } << kPrefix;
        QTest::newRow("no English file") << QStringList { "p_fr.qm" } << QStringList { "en", "fr_FR" }
                                         << QStringList { "", "p_fr.qm" } << kPrefix;
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
        QCOMPARE(translator.columnCount(), 8);
        for (int row = 0; row < locales.size(); ++row) {
            QCOMPARE(translator.index(row, 0).data().toString(), fileNames.at(row));
            QCOMPARE(translator.index(row, 1).data().toString(), locales.at(row));
            QCOMPARE(translator.index(row, 2).data(Qt::UserRole).toString(), locales.at(row));
            QCOMPARE(translator.indexOfLocale(locales.at(row)), translator.index(row, 2));
        }
        if (fileNames.first().isEmpty()) {
            // The built-in row stands for the texts as written.
            for (const int column : { 2, 5, 6 })
                QCOMPARE(translator.index(0, column).data().toString(), QStringLiteral("English"));
            QCOMPARE(translator.index(0, 3).data().toString(), QStringLiteral("English"));
        }
    }

    void rowsDescribeTheLanguage()
    {
        KelTranslator translator(kPrefix, nullptr, m_folder);
        QCOMPARE(translator.rowCount(), 4); // en, de_DE, fr_FR, it_IT
        const QModelIndex french = translator.indexOfLocale(QStringLiteral("fr_FR"));
        QVERIFY(french.isValid());
        const int row = french.row();
        auto cell = [&](int column) { return translator.index(row, column).data().toString(); };
        QCOMPARE(cell(2), QStringLiteral("Français")); // first letter upper-cased
        QCOMPARE(cell(3), QStringLiteral("French"));
        QCOMPARE(cell(4), QStringLiteral("fr"));
        QCOMPARE(cell(5), QStringLiteral("France"));
        QCOMPARE(cell(6), QStringLiteral("France"));
        QVERIFY(cell(7).split(QStringLiteral(", ")).contains(QStringLiteral("Canada")));
        // Only the language column carries the locale code in the user role.
        QVERIFY(!translator.index(row, 1).data(Qt::UserRole).value<QModelIndex>().isValid());
        QVERIFY(!translator.data(translator.index(99, 0)).isValid());

        QCOMPARE(translator.localeForLanguage(QStringLiteral("de")), QStringLiteral("de_DE"));
        QCOMPARE(translator.localeForLanguage(QStringLiteral("en")), QStringLiteral("en"));
        QVERIFY(translator.localeForLanguage(QStringLiteral("DE")).isEmpty());
        QVERIFY(translator.localeForLanguage(QStringLiteral("es")).isEmpty());
        QVERIFY(!translator.indexOfLocale(QStringLiteral("FR_fr")).isValid());
    }

    void switchingLanguageRetranslates()
    {
        LanguageWatcher window;
        KelTranslator translator(kPrefix, nullptr, m_folder);
        QSignalSpy changes(&translator, &KelTranslator::languageChanged);
        QCOMPARE(window.text, QStringLiteral("Hello"));

        QVERIFY(translator.translate(QStringLiteral("de_DE")));
        QCOMPARE(changes.count(), 1);
        QCOMPARE(changes.last().first().toString(), QStringLiteral("de_DE"));
        QCOMPARE(translator.currentLocale(), QStringLiteral("de_DE"));
        QTRY_COMPARE(window.text, QStringLiteral("Hallo"));
        QCOMPARE(qtCancel(), QStringLiteral("Abbrechen"));

        // The current language again: nothing to do unless forced.
        QTest::ignoreMessage(QtWarningMsg, logLine(QStringLiteral("Current LocaleName is the same as requested:")));
        QVERIFY(translator.translate(QStringLiteral("de_DE")));
        QCOMPARE(changes.count(), 1);
        QVERIFY(translator.translate(QStringLiteral("de_DE"), true));
        QCOMPARE(changes.count(), 2);
        QCOMPARE(LanguageWatcher::hello(), QStringLiteral("Hallo")); // one German translator, not two stacked

        // French has no Qt translation: Qt's texts go back to English, the switch still succeeds.
        QVERIFY(translator.translate(QStringLiteral("fr_FR")));
        QTRY_COMPARE(window.text, QStringLiteral("Bonjour"));
        QCOMPARE(qtCancel(), QStringLiteral("Cancel"));

        // English, a file without messages, brings back the texts as written.
        QVERIFY(translator.translate(QStringLiteral("en")));
        QCOMPARE(changes.last().first().toString(), QStringLiteral("en"));
        QTRY_COMPARE(window.text, QStringLiteral("Hello"));
        QVERIFY(translator.translate(QStringLiteral("de_DE")));
        QTRY_COMPARE(window.text, QStringLiteral("Hallo"));
    }

    void refusedCodesKeepTheCurrentLanguage_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("warning");
        QTest::newRow("empty") << QString() << "Can't translate: Empty language code.";
        QTest::newRow("unknown") << "es_ES"
                                 << "Can't translate: LocaleName not found:";
        QTest::newRow("other case") << "DE_de"
                                    << "Can't translate: LocaleName not found:";
        QTest::newRow("path") << "../translations/p_de"
                              << "Can't translate: LocaleName not found:";
        QTest::newRow("absolute path") << m_folder + "/p_fr"
                                       << "Can't translate: LocaleName not found:";
        QTest::newRow("broken file") << "it_IT"
                                     << "Failed to load app translation:";
    }

    void refusedCodesKeepTheCurrentLanguage()
    {
        QFETCH(QString, code);
        QFETCH(QString, warning);
        LanguageWatcher window;
        KelTranslator translator(kPrefix, nullptr, m_folder);
        QVERIFY(translator.translate(QStringLiteral("de_DE")));
        QSignalSpy changes(&translator, &KelTranslator::languageChanged);
        QTest::ignoreMessage(QtWarningMsg, logLine(warning));
        QVERIFY(!translator.translate(code));
        QCOMPARE(changes.count(), 0);
        QCOMPARE(translator.currentLocale(), QStringLiteral("de_DE"));
        QCOMPARE(LanguageWatcher::hello(), QStringLiteral("Hallo"));
        QCOMPARE(qtCancel(), QStringLiteral("Abbrechen"));
    }

    void translationsLeaveWithTheTranslator()
    {
        {
            KelTranslator translator(kPrefix, nullptr, m_folder);
            QVERIFY(translator.translate(QStringLiteral("de_DE")));
            QCOMPARE(LanguageWatcher::hello(), QStringLiteral("Hallo"));
        }
        QCOMPARE(LanguageWatcher::hello(), QStringLiteral("Hello"));
        QCOMPARE(qtCancel(), QStringLiteral("Cancel"));
    }

    void startupLanguageFallsBack_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("hello");
        QTest::newRow("saved") << m_folder << "fr_FR"
                               << "fr_FR"
                               << "Bonjour";
        // de_AT is not shipped: the system's language picks the German file.
        QTest::newRow("system language") << m_folder << "../../p_fr"
                                         << "de_DE"
                                         << "Hallo";
        // The saved file does not load and nothing else matches: the texts as written.
        QTest::newRow("English") << folderWithFiles(QStringLiteral("broken French"), { QStringLiteral("p_fr.qm") })
                                 << "fr_FR"
                                 << "en"
                                 << "Hello";
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
        KelTranslator* translator = testApp()->translator();
        QVERIFY(translator);
        QCOMPARE(translator->currentLocale(), expected);
        QCOMPARE(settings.localeName(), expected);
        QCOMPARE(LanguageWatcher::hello(), hello);
        // No window exists yet at start-up, so nothing is retranslated.
        QCOMPARE(testApp()->languageChanges, before);
        testApp()->setSettings(nullptr);
    }

    void settingsSwitchTheLanguageAtRunTime()
    {
        KelSettings settings(KelApplication::configFilePath(QStringLiteral("runtime.ini")), QSettings::IniFormat);
        settings.setLocaleName(QStringLiteral("de_DE"));
        testApp()->setSettings(&settings);
        testApp()->initTranslator(kPrefix, m_folder);
        testApp()->ui();
        RetranslatedWindow window;
        LanguageWatcher watcher;
        const int before = testApp()->languageChanges;

        // The language picker stores the row's code; the application follows.
        settings.setLocaleName(QStringLiteral("fr_FR"));
        QCOMPARE(testApp()->translator()->currentLocale(), QStringLiteral("fr_FR"));
        QCOMPARE(window.calls, 1);
        QCOMPARE(testApp()->languageChanges, before + 1);
        QTRY_COMPARE(watcher.text, QStringLiteral("Bonjour"));

        QVERIFY(testApp()->applyLocale(QStringLiteral("de_DE")));
        QCOMPARE(settings.localeName(), QStringLiteral("de_DE"));
        QCOMPARE(window.calls, 2);

        // A name that matches no file changes nothing.
        QTest::ignoreMessage(QtWarningMsg, logLine(QStringLiteral("Can't translate: LocaleName not found:")));
        settings.setLocaleName(QStringLiteral("/etc/passwd"));
        QCOMPARE(testApp()->translator()->currentLocale(), QStringLiteral("de_DE"));
        QCOMPARE(LanguageWatcher::hello(), QStringLiteral("Hallo"));
        QCOMPARE(window.calls, 2);
        testApp()->setSettings(nullptr);
    }
};

int main(int argc, char** argv)
{
    // A system locale that no file matches exactly, so the start-up fallbacks show.
    qputenv("LC_ALL", "de_AT.UTF-8");
    qunsetenv("LANGUAGE");
    return runKelAppTest<TestApp, TranslatorTest>(argc, argv, QStringLiteral("KelTranslatorTest"));
}

#include "tst_keltranslator.moc"

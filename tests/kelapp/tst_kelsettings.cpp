#include "kelapplication.h"
#include "kelapptest.h"
#include "kelsettings.h"

#include <QLocale>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <memory>

class TestKelSettings : public QObject {
    Q_OBJECT

    QString m_file;

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
    void init()
    {
        static int counter = 0;
        m_file = KelApplication::configFilePath(QStringLiteral("settings-%1.ini").arg(++counter));
    }

    void firstStartUsesDefaultsAndLaterStartsAreNotFirst()
    {
        auto settings = open();
        settings->readSettings();
        QVERIFY(KelApplication::instance()->isFirstRun());
        QCOMPARE(settings->localeName(), QLocale::system().name());
        QCOMPARE(KelSettings::defaultLocaleName(), QLocale::system().name());
        QVERIFY(settings->updateCheckerEnabled());
        QVERIFY(settings->registerAsDefaultApp());
        QCOMPARE(settings->lastScreen(), 0);
        QCOMPARE(settings->lastStyleId(), QString());
        const QStringList desktops = QStandardPaths::standardLocations(QStandardPaths::DesktopLocation);
        QCOMPARE(settings->lastOpenFilePath(), desktops.value(0));

        settings.reset(); // a normal exit
        QCOMPARE(storedValue(QStringLiteral("FirstRun")).toBool(), false);
        settings = open();
        QVERIFY(!KelApplication::instance()->isFirstRun());
    }

    void readingEmitsOnlyWhatChanged()
    {
        store({ { QStringLiteral("updateCheckerEnabled"), QStringLiteral("false") },
            { QStringLiteral("localeName"), QStringLiteral("xx_YY") } });
        auto settings = open();
        QSignalSpy updates(settings.get(), &KelSettings::updateCheckerEnabledChanged);
        QSignalSpy locales(settings.get(), &KelSettings::localeNameChanged);
        QSignalSpy registers(settings.get(), &KelSettings::registerAsDefaultAppChanged);

        settings->readSettings();
        QCOMPARE(updates.count(), 1);
        QCOMPARE(updates.first().first().toBool(), false);
        QCOMPARE(locales.count(), 1);
        QCOMPARE(locales.first().first().toString(), QStringLiteral("xx_YY"));
        QCOMPARE(registers.count(), 0);

        settings->readSettings();
        QCOMPARE(updates.count(), 1);
        QCOMPARE(locales.count(), 1);

        settings->setUpdateCheckerEnabled(false);
        QCOMPARE(updates.count(), 1);
        settings->setUpdateCheckerEnabled(true);
        QCOMPARE(updates.count(), 2);
    }

    void valuesOfTheWrongTypeFallBack()
    {
        store({ { QStringLiteral("lastScreen"), QStringLiteral("left monitor") },
            { QStringLiteral("registerAsDefaultApp"), QStringList { QStringLiteral("a"), QStringLiteral("b") } },
            { QStringLiteral("lastStyleId"), 7 } });
        auto settings = open();
        settings->readSettings();
        QCOMPARE(settings->lastScreen(), 0); // convertible in principle, the conversion fails
        QCOMPARE(settings->registerAsDefaultApp(), true); // not convertible: the default
        QCOMPARE(settings->lastStyleId(), QStringLiteral("7"));
    }

    void storedKeysSignalOnlyOnChange()
    {
        auto settings = open();
        QSignalSpy screens(settings.get(), &KelSettings::lastScreenChanged);
        QSignalSpy paths(settings.get(), &KelSettings::lastOpenFilePathChanged);
        QSignalSpy styles(settings.get(), &KelSettings::lastStyleIdChanged);

        settings->setLastScreen(0); // nothing stored yet, so this is a change
        settings->setLastScreen(2);
        settings->setLastScreen(2);
        QCOMPARE(screens.count(), 2);
        QCOMPARE(screens.last().first().toInt(), 2);
        QCOMPARE(settings->lastScreen(), 2);

        settings->setLastOpenFilePath(QStringLiteral("/books"));
        settings->setLastOpenFilePath(QStringLiteral("/books"));
        QCOMPARE(paths.count(), 1);
        QCOMPARE(settings->lastOpenFilePath(), QStringLiteral("/books"));

        settings->setLastStyleId(QStringLiteral("night"));
        settings->setLastStyleId(QStringLiteral("night"));
        QCOMPARE(styles.count(), 1);
        settings->sync();
        QCOMPARE(storedValue(QStringLiteral("lastStyleId")).toString(), QStringLiteral("night"));

        // A value read back from the file (as text) equals the number that was set.
        settings.reset();
        settings = open();
        QSignalSpy reopened(settings.get(), &KelSettings::lastScreenChanged);
        settings->setLastScreen(2);
        QCOMPARE(reopened.count(), 0);
    }

    void membersPersistThroughWriteSettings()
    {
        {
            auto settings = open();
            settings->setLocaleName(QStringLiteral("fr_FR"));
            settings->setUpdateCheckerEnabled(false);
            settings->setRegisterAsDefaultApp(false);
            // Nothing reaches the file before the write step.
            settings->sync();
            QVERIFY(!storedValue(QStringLiteral("localeName")).isValid());
            settings->writeSettings();
        }
        auto settings = open();
        QSignalSpy anyLocale(settings.get(), &KelSettings::localeNameChanged);
        settings->readSettings();
        QCOMPARE(settings->localeName(), QStringLiteral("fr_FR"));
        QVERIFY(!settings->updateCheckerEnabled());
        QVERIFY(!settings->registerAsDefaultApp());
        QCOMPARE(anyLocale.count(), 1);
    }

    void keysLiveInTheRootGroupWhateverGroupIsOpen()
    {
        auto settings = open();
        settings->beginGroup(QStringLiteral("viewer.text"));
        settings->setLastScreen(3);
        QCOMPARE(settings->lastScreen(), 3);
        settings->endGroup();
        settings->sync();
        QCOMPARE(storedValue(QStringLiteral("lastScreen")).toInt(), 3);
    }

    void applicationKeepsAGuardedPointer()
    {
        auto settings = open();
        KelApplication::instance()->setSettings(settings.get());
        QCOMPARE(KelApplication::instance()->settings(), settings.get());
        settings.reset();
        QCOMPARE(KelApplication::instance()->settings(), nullptr);
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelSettings>(argc, argv, QStringLiteral("Kel Settings Test"));
}

#include "tst_kelsettings.moc"

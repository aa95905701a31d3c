#include "../kel-group/clicktesthelpers.h"
#include "../kel-translations/translationfiles.h"
#include "librarybooks.h"
#include "temphome.h"

#include "application.h"
#include "enums.h"
#include "hotkeys.h"
#include "import/bookimporter.h"
#include "keldialogrequests.h"
#include "keltranslator.h"
#include "mainwindow/appsettingspage/appsettingspage.h"
#include "mainwindow/appsettingspage/hotkeyssettingspage.h"
#include "mainwindow/appsettingspage/readingsettingspage.h"
#include "mainwindow/appsettingspage/systemsettingspage.h"
#include "mainwindow/appsettingspage/ttssettingspage.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/readingpage/columncountselector.h"
#include "mainwindow/readingpage/fontfamilyselector.h"
#include "mainwindow/readingpage/styleselector.h"
#include "metrics/metricsender.h"
#include "models/bookmodel.h"
#include "settingsprovider.h"
#include "styles/kelstyle.h"
#include "styles/kelstylemanager.h"
#include "ui.h"
#include "widgets/kelbutton.h"
#include "widgets/kelcombobox.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/kelslider.h"
#include "widgets/kelstackedwidget.h"

#include <QFormLayout>
#include <QImage>
#include <QMetaEnum>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTextToSpeech>
#include <QUuid>

namespace {

SettingsProvider* settings() { return SettingsProvider::instance(); }

void resetMetrics()
{
    MetricSender::init(
        QStringLiteral("dev"), QStringLiteral("4"), QStringLiteral("1"), true, QStringLiteral("http://127.0.0.1:9/"));
}

// The queued events of one key as "value/extra".
QStringList metrics(const QString& key)
{
    QStringList out;
    for (const MetricSender::Event& event : MetricSender::instance()->queuedEvents()) {
        if (event.key == key)
            out << event.value + QLatin1Char('/') + event.extra;
    }
    return out;
}

QByteArray settingsBytes()
{
    settings()->sync();
    QFile file(settings()->fileName());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void click(QWidget* widget)
{
    QVERIFY(widget && QTest::qWaitForWindowExposed(widget->window()));
    clickThroughWindow(widget);
}

} // namespace

class TestSettingsPages : public QObject {
    Q_OBJECT

private:
    QList<KelFileDialogRequest> m_fileRequests;
    QStringList m_fileAnswer;
    int m_boxAnswer = 1;
    int m_boxes = 0;

private slots:
    void initTestCase()
    {
        Ui* ui = Ui::instance();
        QVERIFY(ui);
        ui->setFileDialogHandler([this](const KelFileDialogRequest& request) {
            m_fileRequests << request;
            return m_fileAnswer;
        });
        ui->setMessageBoxHandler([this](KelMessageBoxRequest&) {
            ++m_boxes;
            return m_boxAnswer;
        });
        QVERIFY(Application::instance()->init());
    }

    void init()
    {
        resetMetrics();
        m_fileRequests.clear();
        m_boxes = 0;
    }

    void frame()
    {
        AppSettingsPage page;
        QCOMPARE(page.stackedWidget()->currentIndex(), 0);
        QCOMPARE(page.tabButtons()->checkedUserData(), QVariant(0));
        for (KelButton* button : page.tabButtons()->buttons())
            QVERIFY(button->text().isEmpty());
        page.retranslateUi();
        QCOMPARE(page.tabButtons()->button(2)->text(), QStringLiteral("Text to speech"));
        for (int i = 0; i < 3; ++i) {
            page.show();
            page.hide();
        }
        QCOMPARE(metrics(QStringLiteral("set")), QStringList({ "1/", "0/", "0/" }));
    }

    // One picture per profile of the main window on its settings page, for the artifacts; each
    // profile paints the page in its own colours.
    void screenshots()
    {
        auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
        QVERIFY(window);
        window->showPage(window->settingsPage());
        window->resize(1100, 750);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QDir artifacts(QStringLiteral(PL_ARTIFACT_DIR));
        QVERIFY(artifacts.mkpath(QStringLiteral(".")));
        QWidget* page = window->settingsPage();
        QSet<QRgb> backgrounds;
        for (KelStyle* style : KelStyleManager::instance()->styles()) {
            QVERIFY(KelStyleManager::instance()->setCurrentStyle(style->id()));
            QTest::qWait(500);
            const QImage image = window->grab().toImage();
            const QPoint probe = page->mapTo(window, QPoint(page->width() - 20, page->height() - 20));
            backgrounds << image.pixel(probe * image.devicePixelRatio());
            QVERIFY(image.save(artifacts.filePath(QStringLiteral("settings-%1.png").arg(style->id()))));
        }
        QCOMPARE(backgrounds.size(), 3);
        KelStyleManager::instance()->setCurrentStyle(QStringLiteral("DayStyle"));
        window->hide();
    }

    void reading()
    {
        const QByteArray before = settingsBytes();
        ReadingSettingsPage page;
        page.retranslateUi();
        QCOMPARE(settingsBytes(), before);
        QCOMPARE(page.alignmentBox()->editor()->currentText(), QStringLiteral("Justify"));
        QCOMPARE(page.alignmentBox()->label()->text(), QStringLiteral("Text align"));

        QSignalSpy alignments(settings(), &SettingsProvider::text_alignmentChanged);
        page.alignmentBox()->editor()->setCurrentData(QVariant::fromValue(Enums::LeftTextAlign));
        QCOMPARE(alignments.count(), 1);
        QSettings stored(settings()->fileName(), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("viewer.text/text_alignment")).toInt(), 1);

        QSignalSpy counts(settings(), &SettingsProvider::column_countChanged);
        KelExclusiveButtonGroup* group = page.columnCountSelector()->buttonGroup();
        page.show();
        click(group->button(1));
        QTRY_COMPARE(settings()->column_count(), 1);
        settings()->setColumn_count(2);
        QCOMPARE(group->checkedUserData(), QVariant(2));
        QTest::qWait(20);
        QCOMPARE(counts.count(), 2);
    }

    void clampedColumnCount_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("stored");
        QTest::newRow("above") << 5 << 2;
        QTest::newRow("below") << 0 << 1;
        QTest::newRow("inside") << 2 << 2;
    }
    void clampedColumnCount()
    {
        QFETCH(int, count);
        QFETCH(int, stored);
        setClampedColumnCount(count);
        QCOMPARE(settings()->column_count(), stored);
    }

    void unknownFontShowsOriginal()
    {
        settings()->setFont_family(QStringLiteral("No Such Family"));
        const QByteArray before = settingsBytes();
        ReadingSettingsPage page;
        QCOMPARE(
            page.fontFamilySelector()->editor()->currentData().toString(), FontFamilySelector::fontFamilies().first());
        QCOMPARE(settingsBytes(), before);
    }

    void systemLibraryActions()
    {
        BookModel* books = Application::instance()->bookModel();
        QVERIFY(books);
        const QString folder = QDir::home().filePath(QStringLiteral("books"));
        QVERIFY(QDir().mkpath(folder));
        QList<int> ids;
        for (const QString& name : { QStringLiteral("first"), QStringLiteral("second") }) {
            BookDto book;
            book.full_path = QDir(folder).filePath(name + QStringLiteral(".epub"));
            QVERIFY(librarybooks::write(book.full_path));
            book.title = name;
            ids << books->addBook(book);
            QVERIFY(ids.last() > 0);
        }
        SystemSettingsPage page;
        page.retranslateUi();
        page.show();

        // Export: the request asks for the suffix; a bare name still gets it.
        m_fileAnswer = QStringList { QDir::home().filePath(QStringLiteral("mylib")) };
        click(page.exportButton());
        QTRY_COMPARE(m_fileRequests.size(), 1);
        QCOMPARE(m_fileRequests.last().defaultSuffix, QStringLiteral("olv"));
        const QString archive = QDir::home().filePath(QStringLiteral("mylib.olv"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(archive) && !bookimporter::instance()->isRunning(), 20000);
        // The main window's library page reports the export in a box of its own.
        QTRY_COMPARE(m_boxes, 1);
        m_boxes = 0;

        // Clear: only a "Yes" moves the books to the trash.
        for (int answer : { 1, 2 }) {
            m_boxAnswer = answer;
            click(page.clearButton());
            QTRY_COMPARE(m_boxes, answer);
            for (int id : ids)
                QCOMPARE(books->bookById(id).is_deleted, answer == 2 ? 1 : 0);
        }

        // Import: only the first chosen archive.
        QSignalSpy finished(bookimporter::instance(), &bookimporter::finished);
        m_fileAnswer = QStringList { archive, QDir::home().filePath(QStringLiteral("missing.olv")) };
        click(page.importButton());
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, 20000);
        QCOMPARE(finished.at(0).at(1).toInt(), 2);

        // The folder that is already set changes nothing.
        QSignalSpy folders(settings(), &SettingsProvider::import_folderChanged);
        m_fileAnswer = QStringList { settings()->import_folder() };
        click(page.libraryPathBox()->editor());
        QTRY_COMPARE(m_fileRequests.last().kind, KelFileDialogRequest::ExistingDirectory);
        QTest::qWait(20);
        QCOMPARE(folders.count(), 0);
    }

    void systemSwitchesAndTheme()
    {
        SystemSettingsPage page;
        StyleSelector other;
        page.show();
        QVERIFY(page.updateCheckSwitch()->isChecked());
        click(page.updateCheckSwitch());
        QTRY_VERIFY(!Application::instance()->settings()->updateCheckerEnabled());
        QVERIFY(page.analyticsSwitch()->isChecked());
        click(page.analyticsSwitch());
        QSettings store(QCoreApplication::organizationName(), Application::instance()->registryAppName());
        QTRY_COMPARE(store.value(MetricSender::settingKey()).toInt(), 0);
        QVERIFY(!MetricSender::isEnabled());

        resetMetrics();
        click(page.styleSelector()->buttonGroup()->button(QStringLiteral("NightStyle")));
        QTRY_COMPARE(kelStyle()->id(), QStringLiteral("NightStyle"));
        QCOMPARE(metrics(QStringLiteral("chprof")), QStringList { "2/" });
        QCOMPARE(other.buttonGroup()->checkedUserData(), QVariant(QStringLiteral("NightStyle")));
        KelStyleManager::instance()->setCurrentStyle(QStringLiteral("DayStyle"));
        QCOMPARE(page.styleSelector()->buttonGroup()->checkedUserData(), QVariant(QStringLiteral("DayStyle")));
    }

    void languages()
    {
        QTemporaryDir folder;
        const QString error = compileTranslations(folder.path(),
            { { QStringLiteral("pltest_de_DE.qm"),
                { { QStringLiteral("MainWindow_Settings_System"), QStringLiteral("Language:"),
                    QStringLiteral("Spra:che:") } } } });
        if (!error.isEmpty())
            QSKIP(qPrintable(error));
        KelSettings* kelSettings = Application::instance()->settings();
        kelSettings->setLocaleName(QStringLiteral("en"));
        Application::instance()->initTranslator(QStringLiteral("pltest"), folder.path());
        SystemSettingsPage page;
        KelComboBox* box = page.languageBox()->editor();
        QCOMPARE(box->count(), 2);
        QSignalSpy changes(kelSettings, &KelSettings::localeNameChanged);
        resetMetrics();
        box->setCurrentModelIndex(Application::instance()->translator()->indexOfLocale(QStringLiteral("de_DE")));
        QCOMPARE(kelSettings->localeName(), QStringLiteral("de_DE"));
        QCOMPARE(changes.count(), 1);
        QTRY_COMPARE(Application::instance()->translator()->currentLocale(), QStringLiteral("de_DE"));
        page.retranslateUi();
        QCOMPARE(page.languageBox()->label()->text(), QStringLiteral("Sprache"));

        // A change made elsewhere re-selects the row; the handler reports it without writing again.
        kelSettings->setLocaleName(QStringLiteral("en"));
        QCOMPARE(changes.count(), 2);
        QCOMPARE(metrics(QStringLiteral("chlan")), QStringList({ "de/en", "en/en" }));
        kelSettings->setLocaleName(QStringLiteral("en"));
    }

    void ttsSliders_data()
    {
        QTest::addColumn<double>("stored");
        QTest::addColumn<int>("position");
        QTest::addColumn<double>("restored");
        QTest::newRow("default") << 0.0 << 0 << 0.0;
        QTest::newRow("up") << 0.125 << 13 << 0.13;
        QTest::newRow("down") << -0.125 << -12 << -0.12;
    }
    void ttsSliders()
    {
        QFETCH(double, stored);
        QFETCH(int, position);
        QFETCH(double, restored);
        settings()->setTtsRate(stored);
        TtsSettingsPage page;
        QCOMPARE(page.volumeSlider()->valueLabel()->text(), QStringLiteral("100%"));
        QCOMPARE(page.pitchSlider()->valueLabel()->text(), QStringLiteral("0"));
        QCOMPARE(page.rateSlider()->editor()->value(), position);
        QCOMPARE(page.rateSlider()->valueLabel()->text(), QString::number(position));
        QCOMPARE(settings()->ttsRate(), restored);
        QCOMPARE(settings()->ttsVolume(), 1.0);
    }

    void ttsVoicesFollowLocale()
    {
        QTextToSpeech* engine = Application::instance()->textToSpeech();
        if (!engine || engine->availableVoices().isEmpty())
            QSKIP("the speech engine offers no voice");
        settings()->setTtsLocaleName(engine->availableLocales().value(0).name());
        TtsSettingsPage page;
        KelComboBox* locales = page.localeBox()->editor();
        KelComboBox* voices = page.voiceBox()->editor();
        const QString a = locales->currentData().toString();
        const QVariant chosen = voices->itemData(voices->count() - 1);
        // Picked anew even when the engine has only this voice, which construction made current.
        voices->setCurrentData(QVariant());
        voices->setCurrentData(chosen);
        QCOMPARE(settings()->ttsVoiceName(), chosen.toString());
        QCOMPARE(settings()->ttsLocaleVoiceMap().value(a), chosen.toString());

        // A locale set elsewhere is shown without being written again, with its own voices.
        QSignalSpy writes(settings(), &SettingsProvider::ttsLocaleNameChanged);
        const QString b = locales->count() > 1 ? locales->itemData(1).toString() : QStringLiteral("zz_ZZ");
        settings()->setTtsLocaleName(b);
        QCOMPARE(locales->currentData().toString(), b);
        // Its refill stores the voice it picked for it; with several voices that is not the chosen one.
        QTRY_VERIFY(settings()->ttsLocaleVoiceMap().contains(b));
        settings()->setTtsLocaleName(a);
        QCOMPARE(locales->currentData().toString(), a);
        QTRY_COMPARE(voices->currentData(), chosen);
        QCOMPARE(writes.count(), 2);
        QCOMPARE(settings()->ttsLocaleName(), a);
    }

    void hotkeys()
    {
        HotkeysSettingsPage page(false);
        page.retranslateUi();
        int listed = 0;
        const QMetaEnum ids = QMetaEnum::fromType<Hotkeys::Id>();
        for (int i = 0; i < ids.keyCount(); ++i) {
            const auto id = Hotkeys::Id(ids.value(i));
            listed += !Hotkeys::title(id).isEmpty() && !Hotkeys::sequences(id).isEmpty();
        }
        QCOMPARE(page.leftForm()->rowCount() + page.rightForm()->rowCount(), listed);
        QCOMPARE(page.leftForm()->rowCount(), (listed + 1) / 2);
        auto* first = qobject_cast<QLabel*>(page.leftForm()->itemAt(0, QFormLayout::LabelRole)->widget());
        QCOMPARE(first->text(), Hotkeys::title(Hotkeys::Id::Show_HotkeysHint));
    }

    void keyCaps_data()
    {
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<QStringList>("caps");
        QTest::newRow("plus alone") << "+" << QStringList { "+" };
        QTest::newRow("ctrl plus") << "Ctrl++" << QStringList { "Ctrl", "+" };
        QTest::newRow("three keys") << "Ctrl+Shift+F" << QStringList { "Ctrl", "Shift", "F" };
    }
    void keyCaps()
    {
        QFETCH(QString, sequence);
        QFETCH(QStringList, caps);
        QCOMPARE(HotkeysSettingsPage::keyCaps(QKeySequence(sequence, QKeySequence::PortableText)), caps);
    }
};

int main(int argc, char** argv)
{
    TempHome home;
    QCoreApplication::setOrganizationName(QStringLiteral("Pageloom Test Org"));
    QCoreApplication::setApplicationName(QStringLiteral("settings-pages-test"));
    Application app(QUuid::createUuid().toString(), argc, argv);
    registerSettingsMetaTypes();
    app.setSettings(new SettingsProvider(
        KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat, &app));
    resetMetrics();
    app.ui();
    TestSettingsPages test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingspages.moc"

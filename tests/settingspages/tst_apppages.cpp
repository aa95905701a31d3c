#include "../kel-group/clicktesthelpers.h"
#include "../kel-translations/translationfiles.h"
#include "librarybooks.h"
#include "temphome.h"
#include "testfiles.h"

#include "appdirs.h"
#include "application.h"
#include "dialogs/bookpropertiesdialog.h"
#include "enums.h"
#include "hotkeys.h"
#include "import/bookimporter.h"
#include "keldialogrequests.h"
#include "kelsettings.h"
#include "keltranslator.h"
#include "mainwindow/appsettingspage/appsettingspage.h"
#include "mainwindow/appsettingspage/hotkeyssettingspage.h"
#include "mainwindow/appsettingspage/readingsettingspage.h"
#include "mainwindow/appsettingspage/systemsettingspage.h"
#include "mainwindow/appsettingspage/ttssettingspage.h"
#include "mainwindow/librarypage/bookthumbnailwidget.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/readingpage/fontfamilyselector.h"
#include "mainwindow/readingpage/styleselector.h"
#include "metrics/metricsender.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "servicemode/servicemodewindow.h"
#include "settingsprovider.h"
#include "styles/kelstyle.h"
#include "styles/kelstylemanager.h"
#include "ui.h"
#include "widgets/editablelabel.h"
#include "widgets/kelbutton.h"
#include "widgets/kelcombobox.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/kelplaintextedit.h"
#include "widgets/kelscrollarea.h"
#include "widgets/kelslider.h"
#include "widgets/keltabwidget.h"
#include "widgets/labeled.h"
#include "widgets/tabindicator.h"
#include "widgets/wordwraplabel.h"

#include <QApplication>
#include <QBuffer>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QImage>
#include <QImageReader>
#include <QMetaEnum>
#include <QPointer>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTextToSpeech>
#include <QToolTip>
#include <QUuid>
#include <QtEndian>

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

BookModel* books() { return Application::instance()->bookModel(); }
KelSettings* store() { return Application::instance()->settings(); }

QByteArray picture(const QSize& size, const char* format)
{
    QImage image(size, QImage::Format_RGB32);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, format);
    return bytes;
}

// A bitmap whose header declares 30000 x 30000 pixels: decoding it would need 3.6 GB.
QByteArray hugeBitmap()
{
    QByteArray bytes = picture(QSize(1, 1), "bmp");
    qToLittleEndian<qint32>(30000, bytes.data() + 18);
    qToLittleEndian<qint32>(30000, bytes.data() + 22);
    return bytes;
}

ServiceModeWindow* openServiceWindow()
{
    Ui::instance()->showServiceModeWindow();
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<ServiceModeWindow*>(top))
            return window;
    }
    return nullptr;
}

// Comes in from a corner: a pointer left on the same spot by an earlier dialog would enter no button.
void click(QWidget* widget)
{
    QVERIFY(widget && QTest::qWaitForWindowExposed(widget->window()));
    QTest::mouseMove(widget->window()->windowHandle(), QPoint(1, 1));
    clickThroughWindow(widget);
}

} // namespace

class TestAppPages : public QObject {
    Q_OBJECT

    QList<KelFileDialogRequest> m_fileRequests;
    QStringList m_fileAnswer;
    QList<KelMessageBoxRequest> m_requests;
    int m_boxAnswer = 1;
    int m_serial = 0;

    // A generated EPUB added to the library, with a 50 x 50 user cover when asked.
    int addBook(bool userCover = false, quint32 lastView = 0)
    {
        BookDto book;
        book.full_path = QDir::home().filePath(QStringLiteral("book%1.epub").arg(++m_serial));
        book.title = QStringLiteral("Title %1").arg(m_serial);
        book.time_last_view = lastView;
        book.metadata.insert(6, QStringLiteral("Old description"));
        book.use_user_cover = userCover;
        if (!librarybooks::write(book.full_path)
            || (userCover && !testfiles::write(coverFilePath(book.full_path), picture(QSize(50, 50), "jpg"))))
            return -1;
        return books()->addBook(book);
    }

private slots:
    void initTestCase()
    {
        Ui* ui = Ui::instance();
        QVERIFY(ui);
        ui->setFileDialogHandler([this](const KelFileDialogRequest& request) {
            m_fileRequests << request;
            return m_fileAnswer;
        });
        ui->setMessageBoxHandler([this](KelMessageBoxRequest& request) {
            m_requests << request;
            return m_boxAnswer;
        });
        ui->setRevealHandler([](const QString&) { return true; });
        QVERIFY(Application::instance()->init());
    }

    void init()
    {
        resetMetrics();
        m_fileRequests.clear();
        m_requests.clear();
        m_boxAnswer = 1;
    }

    // The first showing of the settings counts as a first visit, later ones do not.
    void frame()
    {
        AppSettingsPage page;
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

    // Opening the page writes nothing, not even for a font family the system lacks (shown as the
    // first offered); a change is stored.
    void reading()
    {
        settings()->setFont_family(QStringLiteral("No Such Family"));
        const QByteArray before = settingsBytes();
        ReadingSettingsPage page;
        page.retranslateUi();
        QCOMPARE(
            page.fontFamilySelector()->editor()->currentData().toString(), FontFamilySelector::fontFamilies().first());
        QCOMPARE(settingsBytes(), before);

        QSignalSpy alignments(settings(), &SettingsProvider::text_alignmentChanged);
        page.alignmentBox()->editor()->setCurrentData(QVariant::fromValue(Enums::LeftTextAlign));
        QCOMPARE(alignments.count(), 1);
        QSettings stored(settings()->fileName(), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("viewer.text/text_alignment")).toInt(), 1);
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
        QTRY_COMPARE(m_requests.size(), 1);
        m_requests.clear();

        // Clear: only a "Yes" moves the books to the trash.
        for (int answer : { 1, 2 }) {
            m_boxAnswer = answer;
            click(page.clearButton());
            QTRY_COMPARE(m_requests.size(), answer);
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

    // A stored rate between two slider steps is shown rounded and stored back as shown.
    void ttsSliders()
    {
        settings()->setTtsRate(-0.125);
        TtsSettingsPage page;
        QCOMPARE(page.rateSlider()->editor()->value(), -12);
        QCOMPARE(page.rateSlider()->valueLabel()->text(), QStringLiteral("-12"));
        QCOMPARE(settings()->ttsRate(), -0.12);
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
    }
    void keyCaps()
    {
        QFETCH(QString, sequence);
        QFETCH(QStringList, caps);
        QCOMPARE(HotkeysSettingsPage::keyCaps(QKeySequence(sequence, QKeySequence::PortableText)), caps);
    }

    void cover_data()
    {
        QTest::addColumn<QByteArray>("image"); // empty: none chosen
        QTest::addColumn<bool>("hadUserCover");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<QSize>("stored"); // invalid: no new cover
        QTest::newRow("small jpeg enlarged") << picture(QSize(300, 200), "jpg") << false << false << QSize(600, 400);
        QTest::newRow("portrait over a user cover")
            << picture(QSize(500, 1000), "png") << true << false << QSize(300, 600);
        QTest::newRow("over 100 megapixels") << hugeBitmap() << true << false << QSize();
        QTest::newRow("chosen, then reset") << picture(QSize(60, 90), "png") << false << true << QSize();
        QTest::newRow("user cover reset") << QByteArray() << true << true << QSize();
    }
    void cover()
    {
        QFETCH(QByteArray, image);
        QFETCH(bool, hadUserCover);
        QFETCH(bool, reset);
        QFETCH(QSize, stored);
        const int id = addBook(hadUserCover);
        QVERIFY(id > 0);
        const QString cover = coverFilePath(books()->bookById(id).full_path);
        const QByteArray oldCover = testfiles::read(cover);
        const int coversBefore = QDir(QFileInfo(cover).path()).entryList(QDir::Files).size();
        m_fileAnswer = QStringList { QDir::home().filePath(QStringLiteral("chosen.img")) };
        if (!image.isEmpty())
            QVERIFY(testfiles::write(m_fileAnswer.first(), image));

        BookPropertiesDialog dialog(books()->indexById(id));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.resetCoverButton()->isVisible(), hadUserCover);
        if (!image.isEmpty())
            click(dialog.changeImageButton());
        if (reset)
            click(dialog.resetCoverButton());
        QCOMPARE(dialog.resetCoverButton()->isVisible(), !reset);
        QCOMPARE(dialog.saveButton()->isEnabled(), reset ? hadUserCover : true);
        dialog.titleEdit()->editor()->setText(QStringLiteral("Edited"));
        click(dialog.saveButton());

        // The other edits are saved whatever became of the cover.
        const BookDto book = BookProvider::instance()->bookById(id);
        QCOMPARE(book.title, QStringLiteral("Edited"));
        const bool refused = !image.isEmpty() && !reset && !stored.isValid();
        QCOMPARE(m_requests.size(), refused ? 1 : 0);
        QCOMPARE(book.use_user_cover, stored.isValid() || (hadUserCover && !reset));
        if (stored.isValid()) {
            QImageReader reader(cover);
            QCOMPARE(reader.format(), QByteArray("jpeg"));
            QCOMPARE(reader.size(), stored);
        } else {
            QCOMPARE(testfiles::read(cover), reset ? QByteArray() : oldCover);
        }
        // No temporary file is left beside the covers.
        QCOMPARE(QDir(QFileInfo(cover).path()).entryList(QDir::Files).size(),
            coversBefore + (stored.isValid() && !hadUserCover) - (reset && hadUserCover));
    }

    void fields_data()
    {
        QTest::addColumn<quint32>("lastView");
        QTest::newRow("never opened") << quint32(0);
        QTest::newRow("opened") << quint32(QDateTime::currentSecsSinceEpoch() - 3600);
    }
    void fields()
    {
        QFETCH(quint32, lastView);
        const int id = addBook(false, lastView);
        BookPropertiesDialog dialog(books()->indexById(id));
        QCOMPARE(dialog.descriptionEdit()->editor()->toPlainText(), QStringLiteral("Old description"));
        QCOMPARE(dialog.lastRead()->isHidden(), lastView == 0);
        QCOMPARE(dialog.fileButton()->editor()->text(), QDir::toNativeSeparators(books()->bookById(id).full_path));
        dialog.resize(700, 500);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        // SAVE follows whether anything differs from the record.
        QVERIFY(!dialog.saveButton()->isEnabled());
        KelPlainTextEdit* title = dialog.titleEdit()->editor();
        title->moveCursor(QTextCursor::End);
        QTest::keyClicks(title, QStringLiteral("x"));
        QVERIFY(dialog.saveButton()->isEnabled());
        QTest::keyClick(title, Qt::Key_Backspace);
        QVERIFY(!dialog.saveButton()->isEnabled());

        const QString text = QStringLiteral("A line of a long description\n").repeated(80);
        dialog.descriptionEdit()->editor()->setText(text);
        QTRY_VERIFY(dialog.scrollArea()->verticalScrollBar()->maximum() > 0);
        dialog.scrollArea()->verticalScrollBar()->setValue(0);
        const QPoint at = dialog.thumbnail()->rect().center();
        QWheelEvent wheel(at, dialog.thumbnail()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
            Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(dialog.thumbnail(), &wheel);
        QTRY_VERIFY(dialog.scrollArea()->verticalScrollBar()->value() > 0);
        click(dialog.saveButton());
        QCOMPARE(BookProvider::instance()->getMetaData(id, 6), text);
    }

    // The service window opens on the tab it was left on.
    void serviceWindow()
    {
        store()->remove(QStringLiteral("ServiceModeWindow_LastTab"));
        // No saved tab, then the tab left open, then an index without a tab.
        for (int saved : { -1, 4, 99 }) {
            if (saved > 4)
                store()->setValue(QStringLiteral("ServiceModeWindow_LastTab"), saved);
            QPointer<ServiceModeWindow> shown = openServiceWindow();
            QVERIFY(shown);
            QCOMPARE(shown->tabWidget()->currentIndex(), qMax(saved, 0) % 99);
            shown->tabWidget()->setCurrentIndex(4);
            shown->close();
            QTRY_VERIFY(!shown);
            QCOMPARE(store()->value(QStringLiteral("ServiceModeWindow_LastTab")).toInt(), 4);
            QVERIFY(store()->contains(QStringLiteral("ServiceModeWindow_Geometry")));
        }
    }

    void editableLabelEndsEditing_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::addColumn<QString>("expected");
        QTest::newRow("escape restores") << true << "Folder";
        QTest::newRow("click outside keeps") << false << "Folder renamed";
    }
    void editableLabelEndsEditing()
    {
        QFETCH(bool, escape);
        QFETCH(QString, expected);
        QWidget host;
        auto* layout = new QHBoxLayout(&host);
        auto* label = new EditableLabel(1068, &host);
        auto* other = new QWidget(&host);
        other->setMinimumSize(80, 30);
        layout->addWidget(label);
        layout->addWidget(other);
        label->setText(QStringLiteral("Folder"));
        host.show();
        QApplication::setActiveWindow(&host);
        QVERIFY(QTest::qWaitForWindowActive(&host));
        label->setFocus();
        QTRY_VERIFY(label->hasFocus());
        QTest::keyClicks(label, QStringLiteral(" renamed"));
        QSignalSpy changes(label, &QLineEdit::textChanged);
        if (escape)
            QTest::keyClick(label, Qt::Key_Escape);
        else
            clickThroughWindow(other);
        QTRY_VERIFY(!label->hasFocus());
        QCOMPARE(label->text(), expected);
        QCOMPARE(changes.count(), 0);
    }

    void wordWrapLabelTooltipOnlyWhenCut_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("elided");
        QTest::newRow("five lines") << "one\ntwo\nthree\nfour\nfive" << true;
        QTest::newRow("fits") << "one" << false;
    }
    void wordWrapLabelTooltipOnlyWhenCut()
    {
        QFETCH(QString, text);
        QFETCH(bool, elided);
        WordWrapLabel label(1052);
        label.setMaxLineCount(3);
        label.setText(text);
        const int lineHeight = label.fontMetrics().lineSpacing();
        QVERIFY(label.heightForWidth(300) <= 3 * lineHeight + 2);
        label.resize(300, label.heightForWidth(300));
        label.show();
        label.grab();
        QCOMPARE(label.isTextElided(), elided);
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), label.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&label, &help);
        QCOMPARE(QToolTip::isVisible() ? QToolTip::text() : QString(), elided ? text : QString());
        QToolTip::hideText();
    }

    void tabIndicatorFollowsCheckedTab()
    {
        QWidget row;
        auto* layout = new QHBoxLayout(&row);
        layout->addStretch();
        KelExclusiveButtonGroup group(1037);
        QList<KelButton*> buttons;
        for (int i = 0; i < 3; ++i) {
            buttons << group.createButton(i);
            buttons.last()->setText(QStringLiteral("Tab %1").arg(i));
            layout->addWidget(buttons.last());
        }
        group.setCheckedByUserDataSilently(0);
        row.resize(400, 40);
        auto* indicator = new TabIndicator(&row, &group);
        row.show();
        QVERIFY(QTest::qWaitForWindowExposed(&row));
        auto extentOf = [&](KelButton* b) { return qMakePair(b->x(), b->x() + b->width()); };
        QCOMPARE(qMakePair(indicator->barLeft(), indicator->barRight()), extentOf(buttons[0]));

        group.setCheckedByUserData(2);
        QTRY_COMPARE(qMakePair(indicator->barLeft(), indicator->barRight()), extentOf(buttons[2]));

        // A resize moves the tabs; the bar jumps with them, without an animation.
        row.resize(600, 40);
        QCOMPARE(qMakePair(indicator->barLeft(), indicator->barRight()), extentOf(buttons[2]));
        QCOMPARE(indicator->size(), row.size());
    }
};

int main(int argc, char** argv)
{
    TempHome home;
    QCoreApplication::setOrganizationName(QStringLiteral("Pageloom Test Org"));
    QCoreApplication::setApplicationName(QStringLiteral("app-pages-test"));
    Application app(QUuid::createUuid().toString(), argc, argv);
    registerSettingsMetaTypes();
    app.setSettings(new SettingsProvider(
        KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat, &app));
    resetMetrics();
    app.ui();
    TestAppPages test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_apppages.moc"

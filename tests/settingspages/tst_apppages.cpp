// The application's pages and look, in the application with its profiles and a real library in a
// temporary home.
#include "../app-look/applooktest.h"
#include "../kel-group/clicktesthelpers.h"
#include "../kel-translations/translationfiles.h"
#include "librarybooks.h"
#include "temphome.h"
#include "testfiles.h"
#include "windowwaits.h"

#include "animators/kelwidgetstateanimator.h"
#include "appdirs.h"
#include "application.h"
#include "dialogs/bookpropertiesdialog.h"
#include "enums.h"
#include "eventfilters/kelgeometrywatcher.h"
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
#include "painting/keliconsprovider.h"
#include "resources/appresources.h"
#include "servicemode/servicemodewindow.h"
#include "settingsprovider.h"
#include "speechengine.h"
#include "speechservice.h"
#include "styles/kelcolors.h"
#include "styles/kelstyle.h"
#include "styles/kelstylemanager.h"
#include "styles/noisepainter.h"
#include "ui.h"
#include "widgets/editablelabel.h"
#include "widgets/installscrollbars.h"
#include "widgets/kelbutton.h"
#include "widgets/kelcombobox.h"
#include "widgets/keldelimiter.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/kelframe.h"
#include "widgets/keliconlabel.h"
#include "widgets/keliconwidget.h"
#include "widgets/kellabel.h"
#include "widgets/kellineedit.h"
#include "widgets/kelplaintextedit.h"
#include "widgets/kelscrollarea.h"
#include "widgets/kelscrollbar.h"
#include "widgets/kelslider.h"
#include "widgets/kelspinbox.h"
#include "widgets/kelstackedwidget.h"
#include "widgets/keltabwidget.h"
#include "widgets/labeled.h"
#include "widgets/metroprogressbar.h"
#include "widgets/progressbar.h"
#include "widgets/tabindicator.h"
#include "widgets/wordwraplabel.h"
#include "windows/keldialog.h"
#include "windows/kelmessagebox.h"
#include "windows/kelpopupmenu.h"
#include "windows/keltitlebar.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QFormLayout>
#include <QGraphicsEffect>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QHoverEvent>
#include <QImage>
#include <QImageReader>
#include <QLocalServer>
#include <QMetaEnum>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QStyle>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTextToSpeech>
#include <QToolTip>
#include <QUuid>
#include <QVBoxLayout>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <functional>
#include <tuple>
#include <utility>

using WidgetFactory = std::function<QWidget*(int id, QWidget* parent)>;
Q_DECLARE_METATYPE(WidgetFactory)

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
    return testfiles::read(settings()->fileName());
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
    QVERIFY(widget && QTest::qWaitForWindowExposed(widget->window(), windowwaits::kTimeoutMs));
    QTest::mouseMove(widget->window()->windowHandle(), QPoint(1, 1));
    clickThroughWindow(widget);
}

const QStringList kProfiles
    = { QStringLiteral("DayStyle"), QStringLiteral("NightStyle"), QStringLiteral("SepiaStyle") };

// Makes a W from the id, any further arguments of its constructor, and the parent.
template <typename W, typename... Extra> WidgetFactory factory(Extra... extra)
{
    return [=](int id, QWidget* parent) -> QWidget* { return new W(id, extra..., parent); };
}

QList<int> idRange(int from, int to)
{
    QList<int> ids;
    for (int id = from; id <= to; ++id)
        ids << id;
    return ids;
}

// Counts the paints of a plain widget that fills itself with one colour.
class PaintCounter : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override
    {
        ++paints;
        QPainter(this).fillRect(rect(), QColor(0x808080));
    }
};

qint64 g_now = 0;
qint64 fakeClock() { return g_now; }

bool isWhite(const QColor& c) { return c.alpha() > 200 && c.red() > 235 && c.green() > 235 && c.blue() > 235; }
// The contrast of two opaque colours by their relative luminance (1:1 to 21:1).
double contrastRatio(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double first = luminance(a);
    const double second = luminance(b);
    return (qMax(first, second) + 0.05) / (qMin(first, second) + 0.05);
}

// A half-faded white dot over a half-faded blue ring: far more red than the ring has.
bool isDot(const QColor& c) { return c.alpha() > 60 && c.red() > 120; }

// The matching pixels of one device row: their count and the centre of the run, in logical pixels.
struct Run {
    int count = 0;
    double center = 0.0;
};

Run whiteRun(const QImage& image, int deviceRow, bool (*matches)(const QColor&) = &isWhite)
{
    Run run;
    int first = -1;
    for (int x = 0; x < image.width(); ++x) {
        if (!matches(image.pixelColor(x, deviceRow)))
            continue;
        if (first < 0)
            first = x;
        ++run.count;
        run.center = (first + x + 1) / 2.0;
    }
    const double ratio = image.devicePixelRatio();
    run.center /= ratio;
    run.count = qRound(run.count / ratio);
    return run;
}

// Paints the icon for a checked animator at the progress.
QImage iconImage(const char* name, double ratio, bool checked, double progress)
{
    KelWidgetStateAnimator animator(0);
    animator.setChecked(checked, false);
    animator.setCheckedProgress(progress);
    KelIcon* icon = KelIconsProvider::instance()->icon(name);
    return icon->statePixmap(ratio, icon->defaultSize(), QColor(), &animator).toImage();
}

// The thickness of the vertical bar's handle: painted columns of one row inside the bar's strip.
int handleThickness(QWidget* area, int row)
{
    const QImage image = area->grab().toImage();
    const QColor background = image.pixelColor(5, row);
    int painted = 0;
    for (int x = image.width() - 18; x < image.width(); ++x)
        painted += image.pixelColor(x, row) != background;
    return painted;
}

} // namespace

class TestAppPages : public QObject {
    Q_OBJECT

    QList<KelFileDialogRequest> m_fileRequests;
    QStringList m_fileAnswer;
    QList<KelMessageBoxRequest> m_requests;
    int m_boxAnswer = 1;
    // Runs once while the next box is asked, before it is answered.
    std::function<void()> m_whileAsked;
    int m_serial = 0;

    // A generated EPUB added to the library, with a 50 x 50 user cover when asked.
    int addBook(
        bool userCover = false, quint32 lastView = 0, const QString& description = QStringLiteral("Old description"))
    {
        BookDto book;
        book.full_path = QDir::home().filePath(QStringLiteral("book%1.epub").arg(++m_serial));
        book.title = QStringLiteral("Title %1").arg(m_serial);
        book.time_last_view = lastView;
        book.metadata.insert(6, description);
        book.use_user_cover = userCover;
        if (!librarybooks::write(book.full_path)
            || (userCover && !testfiles::write(coverFilePath(book.full_path), picture(QSize(50, 50), "jpg"))))
            return -1;
        return books()->addBook(book);
    }

    // A generated EPUB of the title beside the home, for a hand-over.
    QString handOverBook(const QString& title)
    {
        librarybooks::BookRecipe recipe;
        recipe.title = title;
        const QString path = QDir::home().filePath(title + QStringLiteral(".epub"));
        return librarybooks::write(path, recipe) ? path : QString();
    }

    // Whether "Book added!" was asked with "Start reading now".
    bool addedAsked() const
    {
        return std::any_of(m_requests.begin(), m_requests.end(), [](const KelMessageBoxRequest& request) {
            return request.message.contains(QLatin1String("Book added!"))
                && request.buttonTexts.contains(QStringLiteral("Start reading now"));
        });
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
            const int answer = m_boxAnswer;
            if (const std::function<void()> whileAsked = std::exchange(m_whileAsked, nullptr))
                whileAsked();
            return answer;
        });
        ui->setRevealHandler([](const QString&) { return true; });
        QVERIFY(Application::instance()->init());
    }

    void init()
    {
        Profiles::use(QStringLiteral("DayStyle"));
        resetMetrics();
        m_fileRequests.clear();
        m_requests.clear();
        m_boxAnswer = 1;
    }
    void cleanup() { MetroProgressBar::setClock(nullptr); }

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
        QVERIFY(QTest::qWaitForWindowExposed(window, windowwaits::kTimeoutMs));
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

    // The system tab: export, clear and import of the library, its folder, the switches and the theme.
    void systemTab()
    {
        const QList<int> ids { addBook(), addBook() };
        QVERIFY(ids[0] > 0 && ids[1] > 0);
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
                QCOMPARE(books()->bookById(id).is_deleted, answer == 2 ? 1 : 0);
        }

        // A book handed over while the question is open stays: only the books it asked about go.
        const int asked = addBook();
        const QString handed = handOverBook(QStringLiteral("Handed under the question"));
        m_boxAnswer = 2;
        int handedId = 0;
        m_whileAsked = [this, &handed, &handedId] {
            m_boxAnswer = 1; // "Book added!" after it is answered OK
            Application::instance()->receiveFiles(Application::handOverMessage({ QStringLiteral("pageloom"), handed }));
            QTRY_VERIFY((handedId = BookProvider::instance()->bookByPath(handed).id) > 0);
        };
        m_requests.clear();
        click(page.clearButton());
        QTRY_VERIFY(addedAsked());
        QVERIFY(handedId > 0);
        QCOMPARE(books()->bookById(asked).is_deleted, 1);
        QCOMPARE(books()->bookById(handedId).is_deleted, 0);

        // Import: only the first chosen archive.
        QSignalSpy finished(bookimporter::instance(), &bookimporter::finished);
        m_fileAnswer = QStringList { archive, QDir::home().filePath(QStringLiteral("missing.olv")) };
        click(page.importButton());
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, 20000);
        QCOMPARE(finished.at(0).at(1).toInt(), 2);

        // A hand-over during an archive's import waits for it as an act of its own, with its own
        // "Book added!" and "Start reading now"; a stop of the archive's import keeps it.
        const QString during = handOverBook(QStringLiteral("Handed during the archive"));
        m_requests.clear();
        m_fileAnswer = QStringList { archive };
        click(page.importButton());
        QVERIFY(bookimporter::instance()->isRunning());
        Application::instance()->receiveFiles(Application::handOverMessage({ QStringLiteral("pageloom"), during }));
        bookimporter::instance()->cancel();
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 3, 20000);
        QTRY_VERIFY(addedAsked());
        QVERIFY(BookProvider::instance()->bookByPath(during).id > 0);
        QVERIFY(BookProvider::instance()->handedOverFiles().isEmpty());

        // The folder that is already set changes nothing.
        QSignalSpy folders(settings(), &SettingsProvider::import_folderChanged);
        m_fileAnswer = QStringList { settings()->import_folder() };
        click(page.libraryPathBox()->editor());
        QTRY_COMPARE(m_fileRequests.last().kind, KelFileDialogRequest::ExistingDirectory);
        QTest::qWait(20);
        QCOMPARE(folders.count(), 0);

        // The switches, and the theme shared with every other selector.
        StyleSelector other;
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

    // A stored rate between two slider steps is shown rounded and stored back as shown; a voice is
    // kept per locale. Building the page starts no speech engine; showing it asks the service off
    // the GUI thread and says so meanwhile: one that accepts and never answers is given up after
    // the bound and the next engine fills the lists.
    void ttsPage()
    {
        QTemporaryDir runtime;
        QLocalServer hung;
        QVERIFY(hung.listen(runtime.filePath(QStringLiteral("speechd.sock"))));
        qputenv("SPEECHD_ADDRESS", "unix_socket:" + QFile::encodeName(hung.fullServerName()));
        SpeechService::setProbeTimeout(300);
        SpeechService* speech = Application::instance()->speechService();
        settings()->setTtsRate(-0.125);
        {
            TtsSettingsPage page;
            QCOMPARE(page.rateSlider()->editor()->value(), -12);
            QCOMPARE(page.rateSlider()->valueLabel()->text(), QStringLiteral("-12"));
            QCOMPARE(settings()->ttsRate(), -0.12);
            QCOMPARE(speech->status(), SpeechService::Status::Idle);
            page.show();
            QCOMPARE(speech->status(), SpeechService::Status::Connecting);
            auto* status = page.findChild<KelLabel*>(QStringLiteral("SpeechStatus"));
            QVERIFY(status && status->isVisible());
            QCOMPARE(status->text(), QStringLiteral("Connecting to the speech service..."));
            QTRY_VERIFY_WITH_TIMEOUT(speech->status() != SpeechService::Status::Connecting, 5000);
            QCOMPARE(status->isVisible(), speech->status() != SpeechService::Status::Ready);
            QCOMPARE(page.localeBox()->editor()->count() > 0, speech->status() == SpeechService::Status::Ready);
        }
        qunsetenv("SPEECHD_ADDRESS");
        SpeechEngine* engine = Application::instance()->textToSpeech();
        if (!engine || engine->availableVoices().isEmpty())
            QSKIP("the speech engine offers no voice");
        settings()->setTtsLocaleName(engine->availableLocales().value(0).name());
        TtsSettingsPage page;
        KelComboBox* locales = page.localeBox()->editor();
        KelComboBox* voices = page.voiceBox()->editor();
        // The engine tells its voices from its own thread.
        QTRY_VERIFY(voices->count() > 0);
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
        // Each sequence is its key caps alone: the frame around them draws no text of its own.
        int frames = 0;
        for (int row = 0; row < page.leftForm()->rowCount(); ++row) {
            QWidget* field = page.leftForm()->itemAt(row, QFormLayout::FieldRole)->widget();
            for (auto* frame : field->findChildren<KelIconLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
                ++frames;
                QVERIFY2(frame->text().isEmpty(), qPrintable(frame->text()));
                QVERIFY(!frame->accessibleName().isEmpty());
            }
        }
        QVERIFY(frames > page.leftForm()->rowCount());
        // A plus key is a cap of its own, not a separator.
        QCOMPARE(HotkeysSettingsPage::keyCaps(QKeySequence(QStringLiteral("Ctrl++"), QKeySequence::PortableText)),
            QStringList({ "Ctrl", "+" }));
    }

    void cover_data()
    {
        QTest::addColumn<QByteArray>("image"); // empty: none chosen
        QTest::addColumn<bool>("hadUserCover");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<QSize>("stored"); // invalid: no new cover
        QTest::newRow("small jpeg enlarged") << picture(QSize(300, 200), "jpg") << false << false << QSize(600, 400);
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
        QVERIFY(QTest::qWaitForWindowExposed(&dialog, windowwaits::kTimeoutMs));
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
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("description");
        const QString longText = QStringLiteral("A description that runs on past the end of its field. ").repeated(40);
        QTest::newRow("never opened") << false << QStringLiteral("Old description");
        QTest::newRow("opened: last-open column") << true << QStringLiteral("Old description");
        QTest::newRow("long description") << false << longText;
        QTest::newRow("opened, long description") << true << longText;
    }
    void fields()
    {
        QFETCH(bool, opened);
        QFETCH(QString, description);
        const int id = addBook(false, opened ? quint32(QDateTime::currentSecsSinceEpoch() - 3600) : 0, description);
        BookPropertiesDialog dialog(books()->indexById(id));
        QCOMPARE(dialog.descriptionEdit()->editor()->toPlainText(), description);
        // The last-read line shows only for a book opened before.
        QCOMPARE(dialog.lastRead()->isHidden(), !opened);
        QCOMPARE(dialog.fileButton()->editor()->text(), QDir::toNativeSeparators(books()->bookById(id).full_path));
        // Shown as the program shows it, at the size the dialog chooses itself.
        dialog.showWhenParentVisible(KelWindow::ShowStrategy::CenteredOnParent);
        QVERIFY(QTest::qWaitForWindowExposed(&dialog, windowwaits::kTimeoutMs));

        // Every field within the window: the folder field's right border and the last column drawn.
        QVERIFY2(dialog.scrollArea()->widget()->width() <= dialog.scrollArea()->viewport()->width(),
            qPrintable(QStringLiteral("fields %1 wide in a view of %2")
                           .arg(dialog.scrollArea()->widget()->width())
                           .arg(dialog.scrollArea()->viewport()->width())));
        const QImage shown = dialog.grab().toImage();
        const QRect view(
            dialog.scrollArea()->viewport()->mapTo(&dialog, QPoint()), dialog.scrollArea()->viewport()->size());
        KelButton* folder = dialog.fileButton()->editor();
        const QRect field(folder->mapTo(&dialog, QPoint()), folder->size());
        QVERIFY(view.contains(field));
        const int y = field.center().y();
        QVERIFY2(!near(shown.pixelColor(field.right(), y), shown.pixelColor(field.right() + 6, y), 24),
            "no right border on the folder field");
        QWidget* last = dialog.fileSize()->editor();
        const QRect column(last->mapTo(&dialog, QPoint()), last->size());
        QVERIFY(view.contains(column));
        int ink = 0;
        for (int x = column.left(); x <= column.right(); ++x)
            ink += !near(shown.pixelColor(x, column.center().y()), shown.pixelColor(column.topLeft()), 60);
        QVERIFY2(ink > 2, "the size column is not drawn");

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

    // A book without title or author shows "Unknown" in both fields; saving another edit keeps them
    // empty, and emptying a field stores it empty.
    void unknownTitleStaysEmpty()
    {
        const int id = addBook();
        BookDto blank = books()->bookById(id);
        blank.title.clear();
        blank.author.clear();
        QVERIFY(books()->setData(books()->indexById(id), QVariant::fromValue(blank), Enums::UpdateItem));
        {
            BookPropertiesDialog dialog(books()->indexById(id));
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog, windowwaits::kTimeoutMs));
            QCOMPARE(dialog.titleEdit()->editor()->toPlainText(), QStringLiteral("Unknown"));
            dialog.descriptionEdit()->editor()->setText(QStringLiteral("New description"));
            click(dialog.saveButton());
        }
        BookDto stored = BookProvider::instance()->bookById(id);
        QCOMPARE(BookProvider::instance()->getMetaData(id, 6), QStringLiteral("New description"));
        QCOMPARE(stored.title, QString());
        QCOMPARE(stored.author, QString());

        blank.title = QStringLiteral("Named");
        QVERIFY(books()->setData(books()->indexById(id), QVariant::fromValue(blank), Enums::UpdateItem));
        {
            BookPropertiesDialog dialog(books()->indexById(id));
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog, windowwaits::kTimeoutMs));
            dialog.titleEdit()->editor()->setText(QString());
            dialog.authorEdit()->editor()->setText(QStringLiteral("Someone"));
            click(dialog.saveButton());
        }
        stored = BookProvider::instance()->bookById(id);
        QCOMPARE(stored.title, QString());
        QCOMPARE(stored.author, QStringLiteral("Someone"));
    }

    // The service window opens on the tab it was left on.
    void serviceWindow()
    {
        store()->remove(QStringLiteral("ServiceModeWindow_LastTab"));
        store()->remove(QStringLiteral("ServiceModeWindow_Geometry"));
        // No saved tab, then the tab left open, then an index without a tab.
        for (int saved : { -1, 4, 99 }) {
            if (saved > 4)
                store()->setValue(QStringLiteral("ServiceModeWindow_LastTab"), saved);
            QPointer<ServiceModeWindow> shown = openServiceWindow();
            QVERIFY(shown);
            QCOMPARE(shown->tabWidget()->currentIndex(), qMax(saved, 0) % 99);
            // The first opening shows each page's rows whole, down and across, as far as the screen
            // has room for the window; the first page's readouts grow with what they read.
            const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size() * 0.9;
            for (int tab = 0; saved < 0 && tab < shown->tabWidget()->count(); ++tab) {
                shown->tabWidget()->setCurrentIndex(tab);
                auto* page = qobject_cast<QScrollArea*>(shown->tabWidget()->stackedWidget()->widget(tab));
                if (!page)
                    continue;
                QTRY_VERIFY(page->isVisible());
                const QSize least = page->widget()->minimumSizeHint();
                const QSize view = page->viewport()->size();
                QVERIFY2((tab == 0 || least.width() <= view.width() || shown->width() >= room.width())
                        && (page->widget()->height() <= view.height() || shown->height() >= room.height()),
                    qPrintable(QStringLiteral("tab %1: %2x%3 of content in %4x%5")
                                   .arg(tab)
                                   .arg(least.width())
                                   .arg(page->widget()->height())
                                   .arg(view.width())
                                   .arg(view.height())));
            }
            shown->tabWidget()->setCurrentIndex(4);
            shown->close();
            QTRY_VERIFY(!shown);
            QCOMPARE(store()->value(QStringLiteral("ServiceModeWindow_LastTab")).toInt(), 4);
            QVERIFY(store()->contains(QStringLiteral("ServiceModeWindow_Geometry")));
        }
    }

    // Escape restores the text, a click outside keeps the edit; neither signals a change of its own.
    void editableLabelEndsEditing()
    {
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
        QVERIFY(QTest::qWaitForWindowActive(&host, windowwaits::kTimeoutMs));
        for (const bool escape : { true, false }) {
            label->setFocus();
            QTRY_VERIFY(label->hasFocus());
            label->end(false);
            QTest::keyClicks(label, QStringLiteral(" renamed"));
            QSignalSpy changes(label, &QLineEdit::textChanged);
            if (escape)
                QTest::keyClick(label, Qt::Key_Escape);
            else
                clickThroughWindow(other);
            QTRY_VERIFY(!label->hasFocus());
            QCOMPARE(label->text(), escape ? QStringLiteral("Folder") : QStringLiteral("Folder renamed"));
            QCOMPARE(changes.count(), 0);
        }
    }

    // Cut to three lines, the label offers its whole text as a tool tip; a text that fits offers none.
    void wordWrapLabelTooltipOnlyWhenCut()
    {
        for (const QString& text : { QStringLiteral("one\ntwo\nthree\nfour\nfive"), QStringLiteral("one") }) {
            const bool elided = text.size() > 3;
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
            // The tool tip shows the text as it is (escaped for the tool tip's markup).
            QTextDocument shown;
            shown.setHtml(QToolTip::text());
            QCOMPARE(QToolTip::isVisible() ? shown.toPlainText() : QString(), elided ? text : QString());
            QToolTip::hideText();
        }
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
        QVERIFY(QTest::qWaitForWindowExposed(&row, windowwaits::kTimeoutMs));
        auto extentOf = [&](KelButton* b) { return qMakePair(b->x(), b->x() + b->width()); };
        QCOMPARE(qMakePair(indicator->barLeft(), indicator->barRight()), extentOf(buttons[0]));

        group.setCheckedByUserData(2);
        QTRY_COMPARE(qMakePair(indicator->barLeft(), indicator->barRight()), extentOf(buttons[2]));

        // A resize moves the tabs; the bar jumps with them, without an animation.
        row.resize(600, 40);
        QCOMPARE(qMakePair(indicator->barLeft(), indicator->barRight()), extentOf(buttons[2]));
        QCOMPARE(indicator->size(), row.size());
    }

    void everyIdStylesItsWidgetQuietly_data()
    {
        QTest::addColumn<WidgetFactory>("make");
        QTest::addColumn<QList<int>>("ids");
        QTest::newRow("frames") << factory<KelFrame>() << idRange(1042, 1046);
        QTest::newRow("labels") << factory<KelLabel>() << (QList<int> { 9, 1061, 1064, 1082 } + idRange(1047, 1058));
        QTest::newRow("delimiters") << factory<KelDelimiter>(Qt::Horizontal) << idRange(1066, 1067);
        QTest::newRow("buttons") << factory<KelButton>()
                                 << (QList<int> { 11, 13, 14, 15, 17, 18, 19, 20, 24, 25, 1076, 1077 }
                                        + idRange(1005, 1013) + QList<int> { 1015 } + idRange(1020, 1041));
        QTest::newRow("line edits") << factory<KelLineEdit>() << idRange(1068, 1069);
        QTest::newRow("plain text edits") << factory<KelPlainTextEdit>() << QList<int> { 33, 34, 1070 };
        QTest::newRow("spin boxes") << factory<KelSpinBox>() << QList<int> { 1071 };
        QTest::newRow("sliders") << factory<KelSlider>(Qt::Horizontal) << QList<int> { 36, 1072, 1073 };
        QTest::newRow("progress bars") << factory<ProgressBar>() << QList<int> { 37, 1074, 1075 };
        QTest::newRow("windows") << factory<KelWindow>(KelWindow::TitleBar) << QList<int> { 3, 5, 1000, 1001 };
        QTest::newRow("dialogs") << factory<KelDialog>(KelWindow::TitleBar) << QList<int> { 1, 2, 1002 };
        QTest::newRow("scroll areas") << factory<KelScrollArea>() << QList<int> { 38 };
    }

    // Each id is built under every profile, then the profiles switch under it; nothing may warn.
    void everyIdStylesItsWidgetQuietly()
    {
        QFETCH(WidgetFactory, make);
        QFETCH(QList<int>, ids);
        MessageCatcher warnings(QtWarningMsg);
        for (const QString& profile : kProfiles) {
            Profiles::use(profile);
            Host host;
            for (int id : ids)
                make(id, &host)->resize(120, 40);
            host.resize(300, 200);
            host.show();
            for (const QString& next : kProfiles)
                Profiles::use(next);
            QVERIFY(!host.grab().isNull());
        }
        QCOMPARE(warnings.total(), 0);
    }

    // Switching the profile over and over never adds a second effect, filter, bar or connection.
    void restylingStacksNothing()
    {
        Host host;
        auto* slideBox = new KelFrame(1044, &host);
        auto* bar = new ProgressBar(1075, &host);
        auto* area = new KelScrollArea(38, &host);
        auto* content = new QWidget;
        content->setMinimumSize(50, 900);
        area->setWidget(content);
        area->setGeometry(0, 60, 120, 100);
        auto* grained = new PaintCounter;
        grained->installEventFilter(NoisePainter::instance());
        grained->installEventFilter(NoisePainter::instance());
        const QGraphicsEffect* shadow = slideBox->graphicsEffect();
        const QGraphicsEffect* labelShadow = bar->label()->graphicsEffect();
        QVERIFY(shadow && labelShadow);
        host.show();
        for (int round = 0; round < 3; ++round)
            for (const char* profile : { "NightStyle", "SepiaStyle", "DayStyle" })
                Profiles::use(QString::fromLatin1(profile));
        QCOMPARE(slideBox->graphicsEffect(), shadow);
        QCOMPARE(bar->label()->graphicsEffect(), labelShadow);
        QCOMPARE(area->findChildren<KelScrollBar*>().size(), 1); // the horizontal policy is off: no bar for it
        QCOMPARE(area->findChildren<KelGeometryWatcher*>().size(), 1);
        grained->resize(20, 20);
        const QImage grainedImage = grained->grab().toImage();
        QCOMPARE(grained->paints, 1);
        // The grain lies over the widget's own paint, at a few percent.
        int changed = 0;
        for (int x = 0; x < 20; ++x)
            changed += grainedImage.pixelColor(x, 10) != QColor(0x808080);
        QVERIFY(changed > 5);
        delete grained;
    }

    // A message box keeps its content clear of the edges and its icon above the message, however
    // often it is restyled: one content layout, no footer stretch, one close button, moved into the
    // window's corner, that follows its width.
    void messageBoxStyle()
    {
        const QColor base(0xfcf6e1); // the sepia profile's
        const QColor text(0x1a1202);
        initAppResources();
        MessageCatcher warnings(QtWarningMsg);
        KelMessageBox box;
        box.setText(QStringLiteral("MMMM"));
        box.setIcon(kelStyle()->iconPath(6));
        box.addButton(1, new KelButton(20, &box), true);
        QVBoxLayout* content = box.contentLayout();
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box, windowwaits::kTimeoutMs));
        for (int round = 0; round < 3; ++round)
            for (const char* next : { "NightStyle", "DayStyle", "SepiaStyle" })
                Profiles::use(QString::fromLatin1(next));
        QCOMPARE(box.contentWidget()->layout(), content);
        QCOMPARE(content->contentsMargins(), QMargins(24, 24, 24, 19));
        QCOMPARE(box.centralWidget()->minimumWidth(), 480);
        QVERIFY(!box.titleBar()->isVisible());
        QCOMPARE(box.footerLayout()->count(), 1);
        int cornerButtons = 0;
        for (KelButton* button : box.findChildren<KelButton*>())
            cornerButtons += button->widgetType() == 1024;
        QCOMPARE(cornerButtons, 1);
        KelButton* close = box.titleBar()->button(KelTitleBar::CloseButton);
        QCOMPARE(close->parentWidget(), &box);
        const int fromRight = box.width() - close->x();
        box.resize(box.width() + 120, box.height());
        QTRY_COMPARE(box.width() - close->x(), fromRight);

        // The margin and the gap under the icon stay the profile's base; the message is in
        // the profile's text colour.
        const QImage image = box.grab().toImage();
        const QPoint origin = box.contentWidget()->mapTo(&box, QPoint(0, 0));
        const QRect icon = box.iconWidget()->geometry().translated(origin);
        const QRect message = box.messageLabel()->geometry().translated(origin);
        VERIFY_NEAR(image.pixelColor(origin + QPoint(12, 12)), base);
        VERIFY_NEAR(image.pixelColor(icon.center().x(), icon.bottom() + 12), base);
        QVERIFY(message.top() >= icon.bottom() + 24);
        QColor ink = base;
        for (int x = message.left(); x <= message.right(); ++x)
            for (int y = message.top(); y <= message.bottom(); ++y)
                if (qAbs(image.pixelColor(x, y).lightness() - base.lightness())
                    > qAbs(ink.lightness() - base.lightness()))
                    ink = image.pixelColor(x, y);
        QVERIFY2(near(ink, text, 40), qPrintable(ink.name()));

        // Each icon stands out from the box in every profile, as a graphic must (3:1).
        for (const QString& profile : kProfiles) {
            Profiles::use(profile);
            for (int kind : { 5, 6, 7 }) {
                box.setIcon(kelStyle()->iconPath(kind));
                const QImage shown = box.grab().toImage();
                const QColor background = shown.pixelColor(origin + QPoint(12, 12));
                double best = 1.0;
                for (int x = icon.left(); x <= icon.right(); ++x)
                    for (int y = icon.top(); y <= icon.bottom(); ++y)
                        best = qMax(best, contrastRatio(shown.pixelColor(x, y), background));
                QVERIFY2(best >= 3.0, qPrintable(QStringLiteral("%1, icon %2: %3:1").arg(profile).arg(kind).arg(best)));
            }
        }
        // The offscreen platform's own notice about top-level size hints is no fault of the style.
        QCOMPARE(warnings.total(), warnings.count(QStringLiteral("propagateSizeHints")));
    }

    // The 1033 combo box opens its list just below itself; the toolkit's box lays its list over itself.
    void comboBoxListOpensBelow()
    {
        Host host;
        host.setGeometry(200, 200, 400, 100);
        QList<KelComboBox*> combos;
        for (int id : { 1033, 17 }) {
            combos << new KelComboBox(id, QSizePolicy::Fixed, KelComboBox::PopupAtLeastButtonWidth, &host);
            combos.last()->setItems(18, { "a", "b" }, KelComboBox::SelectFirst);
            combos.last()->setGeometry(200, combos.size() * 40, 120, 32);
        }
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host, windowwaits::kTimeoutMs));
        Profiles::use(QStringLiteral("NightStyle"));
        Profiles::use(QStringLiteral("DayStyle"));
        QList<bool> covered;
        for (KelComboBox* combo : combos) {
            combo->showPopup();
            QTRY_VERIFY(combo->popupMenu()->isVisible());
            covered << combo->popupMenu()->geometry().intersects(
                QRect(combo->mapToGlobal(QPoint(0, 0)), combo->size()));
            combo->closePopup();
        }
        QCOMPARE(covered, QList<bool>({ false, true }));
    }

    // Each theme's swatch shows that theme's colours under every profile, checked or not: the
    // page colour inside its ring, and its mark in the middle as the icon draws it untinted.
    void themeSwatchesShowTheirColours()
    {
        const QMap<QString, QColor> pages { { QStringLiteral("DayStyle"), QColor(0xffffff) },
            { QStringLiteral("NightStyle"), QColor(0x1d2026) }, { QStringLiteral("SepiaStyle"), QColor(0xfcf6e1) } };
        QMap<QString, QString> icons;
        for (KelStyle* style : KelStyleManager::instance()->styles())
            icons.insert(style->id(), style->styleIconPath());
        for (const QString& profile : pages.keys()) {
            Profiles::use(profile);
            Host host;
            auto* selector = new StyleSelector(&host);
            host.resize(400, 60);
            host.show();
            QCOMPARE(selector->buttonGroup()->checkedUserData(), QVariant(profile));
            for (auto page = pages.cbegin(); page != pages.cend(); ++page) {
                KelButton* button = selector->buttonGroup()->button(page.key());
                QVERIFY(button);
                const QImage image = button->grab().toImage();
                const QPoint icon = button->iconRect().topLeft();
                VERIFY_NEAR(image.pixelColor(icon + QPoint(4, 12)), page.value());
                const QImage mark = QIcon(icons.value(page.key())).pixmap(24, 24).toImage();
                VERIFY_NEAR(image.pixelColor(icon + QPoint(12, 12)), mark.pixelColor(12, 12));
            }
        }
    }

    // Widgets that exist before the switch take the new profile's colours (sepia: an accent of its
    // own, the common progress fill).
    void colorsFollowTheProfile()
    {
        const QColor accent(0x40331b);
        const QColor fillStart(0x1e4cf0);
        Host host;
        auto* button = new KelButton(1009, &host);
        button->setGeometry(0, 0, 94, 36);
        auto* swatch = new KelButton(1029, &host);
        swatch->setGeometry(0, 40, 24, 24);
        swatch->setChecked(true);
        auto* bar = new ProgressBar(1075, &host);
        bar->setGeometry(0, 80, 200, 20);
        bar->setValue(50);
        host.resize(220, 110);
        host.show();
        QTest::qWait(600); // the swatch's check animation
        Profiles::use(QStringLiteral("SepiaStyle"));

        const QImage image = host.image();
        VERIFY_NEAR(image.pixelColor(8, 18), accent);
        VERIFY_NEAR(image.pixelColor(12, 41), accent); // the checked swatch's border
        QCOMPARE(bar->label()->text(), QStringLiteral("50%"));

        // Half the range fills half the bar, inside the rounded track.
        bar->setLabelVisible(false);
        const QImage barImage = host.image();
        const QColor end(0x6c8cff);
        VERIFY_NEAR(barImage.pixelColor(4, 90), interpolateColor(fillStart, end, 4 / 200.0, 0));
        VERIFY_NEAR(barImage.pixelColor(98, 90), interpolateColor(fillStart, end, 98 / 200.0, 0));
        QVERIFY(!near(barImage.pixelColor(102, 90), interpolateColor(fillStart, end, 102 / 200.0, 0), 30));
        VERIFY_NEAR(barImage.pixelColor(0, 80), QColor(Qt::magenta));

        // An offset range, an empty one and the busy bar: no division by zero.
        for (const auto& [minimum, maximum, ratio] :
            { std::make_tuple(100, 200, 0.5), std::make_tuple(5, 5, 0.0), std::make_tuple(0, 0, 0.0) }) {
            bar->setRange(minimum, maximum);
            bar->setValue((minimum + maximum) / 2);
            QCOMPARE(bar->fillRatio(), ratio);
            QVERIFY(!bar->grab().isNull());
        }
    }

    // Every name of the icon table is a valid picture that draws something.
    void resourcesLoad()
    {
        initAppResources();
        const QString path = qEnvironmentVariable("PL_TEST_SOURCE_DIR") + QStringLiteral("/src/ui/resources/icons.txt");
        QFile table(path);
        QVERIFY2(table.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(path));
        int names = 0;
        for (const QString& line : QString::fromUtf8(table.readAll()).split(QLatin1Char('\n'))) {
            const QString name = line.trimmed().section(QLatin1Char(' '), 0, 0);
            if (name.isEmpty() || name.startsWith(QLatin1Char('#')))
                continue;
            ++names;
            QImage image;
            if (name.endsWith(QLatin1String(".svg"))) {
                QSvgRenderer renderer(name);
                QVERIFY2(renderer.isValid(), qPrintable(name));
                image = QImage(renderer.defaultSize(), QImage::Format_ARGB32_Premultiplied);
                image.fill(Qt::transparent);
                QPainter painter(&image);
                renderer.render(&painter);
            } else {
                QVERIFY2(image.load(name) && image.size() == QSize(600, 600), qPrintable(name));
            }
            bool inked = false;
            for (int y = 0; y < image.height() && !inked; ++y)
                for (int x = 0; x < image.width() && !inked; ++x)
                    inked = image.pixelColor(x, y).alpha() > 0;
            QVERIFY2(inked, qPrintable(name));
        }
        QVERIFY(names > 70);
    }

    // A table line naming a theme file that does not exist stops the build and names the file.
    void missingThemeFileFailsTheBuild()
    {
        QTemporaryDir dir;
        QFile table(dir.filePath(QStringLiteral("icons.txt")));
        QVERIFY(table.open(QIODevice::WriteOnly));
        table.write(":/svg/print.svg actions/22/document-print.svg\n:/svg/gone.svg actions/22/no-such-icon.svg\n");
        table.close();
        QProcess cmake;
        cmake.start(QStringLiteral(PL_CMAKE_COMMAND),
            { QStringLiteral("-DTABLE=") + table.fileName(), QStringLiteral("-DTHEME_DIR=/usr/share/icons/breeze"),
                QStringLiteral("-DOWN_DIR=") + dir.path(), QStringLiteral("-DOUT_DIR=") + dir.filePath("out"),
                QStringLiteral("-P"), QStringLiteral(PL_GATHER_SCRIPT) });
        QVERIFY(cmake.waitForFinished(60000));
        QVERIFY(cmake.exitCode() != 0);
        QVERIFY(cmake.readAllStandardError().contains("no-such-icon.svg"));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("out/app_resources.qrc"))));
    }
    // At a fractional device ratio, where rounding shows.
    void animatedIcons()
    {
        const double ratio = 1.5;
        const int middle = int(9 * ratio);
        // The toggle's knob (12 px high) is round at the ends and 10 px longer half way, centred.
        const Run off = whiteRun(iconImage("ToggleIcon", ratio, false, 0.0), middle);
        const Run half = whiteRun(iconImage("ToggleIcon", ratio, true, 0.5), middle);
        const Run on = whiteRun(iconImage("ToggleIcon", ratio, true, 1.0), middle);
        QVERIFY2(qAbs(off.count - 12) <= 1 && qAbs(on.count - 12) <= 1, qPrintable(QString::number(off.count)));
        QVERIFY2(qAbs(half.count - 22) <= 1, qPrintable(QString::number(half.count)));
        QVERIFY(qAbs(off.center - 9) <= 0.75 && qAbs(on.center - 19) <= 0.75);
        QVERIFY2(qAbs(half.center - 14) <= 0.75, qPrintable(QString::number(half.center)));

        // The check mark draws itself while checking, and is gone at once while unchecking.
        int marked = 0;
        int unmarked = 0;
        const QImage checking = iconImage("CheckBoxIcon", ratio, true, 1.0);
        const QImage unchecking = iconImage("CheckBoxIcon", ratio, false, 0.7);
        for (int y = 0; y < checking.height(); ++y) {
            marked += whiteRun(checking, y).count;
            unmarked += whiteRun(unchecking, y).count;
        }
        QVERIFY(marked > 5);
        QCOMPARE(unmarked, 0);

        // The radio dot grows from the centre: half its size half way, the full 8 px dot at the end.
        const Run early = whiteRun(iconImage("RadioIcon", ratio, true, 0.5), middle, &isDot);
        const Run full = whiteRun(iconImage("RadioIcon", ratio, true, 1.0), middle, &isDot);
        QVERIFY2(
            qAbs(early.count - 4) <= 1 && qAbs(early.center - 9) <= 0.75, qPrintable(QString::number(early.count)));
        QVERIFY2(qAbs(full.count - 8) <= 1 && qAbs(full.center - 9) <= 0.75, qPrintable(QString::number(full.count)));
    }

    // The dots follow the clock: the first leaves after its delay, all rest at their ends until the
    // next cycle starts them again. No timer while hidden or while the bar shows a real range.
    void metroDotsFollowTheClock()
    {
        MetroProgressBar::setClock(&fakeClock);
        g_now = 10000;
        MetroProgressBar bar;
        bar.setRange(0, 0);
        bar.setDotRadius(5);
        QCOMPARE(bar.height(), 10);
        bar.resize(300, 10);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar, windowwaits::kTimeoutMs));
        bar.repaint();
        QVERIFY(bar.isAnimating());
        const double start = -50; // the run-in stretch: 5 dots 10 px apart
        const double length = 300 + 75 - start;
        // Time since the start, dots that left the start, every dot at its end point.
        for (const auto& [elapsed, movedDots, atRest] : { std::make_tuple(249, 1, false),
                 std::make_tuple(2750, 5, true), std::make_tuple(3499, 5, true), std::make_tuple(3500, 0, false) }) {
            g_now = 10000 + elapsed;
            const QVector<QPointF> dots = bar.dotCenters();
            QCOMPARE(dots.size(), 5);
            int moved = 0;
            for (int i = 0; i < dots.size(); ++i) {
                moved += dots[i].x() > start + 0.01;
                QCOMPARE(dots[i].y(), 5.0);
                if (atRest)
                    QVERIFY(qAbs(dots[i].x() - (start + length * (1.0 - 0.03 * i))) < 0.05);
            }
            QCOMPARE(moved, movedDots);
            if (elapsed == 249)
                QVERIFY(dots[0].x() > 0); // the first dot is on its way and in view
        }

        bar.setRange(0, 100);
        bar.repaint();
        QVERIFY(!bar.isAnimating());
        bar.setRange(0, 0);
        bar.repaint();
        QVERIFY(bar.isAnimating());
        bar.hide();
        QVERIFY(!bar.isAnimating());
    }

    void scrollBars()
    {
        Profiles::use(QStringLiteral("DayStyle"));
        Host host;
        auto* layout = new QVBoxLayout(&host);
        auto* area = new QScrollArea;
        area->setFrameShape(QFrame::NoFrame);
        layout->addWidget(area);
        auto* content = new QWidget;
        content->setMinimumSize(100, 1000);
        area->setWidget(content);
        area->setWidgetResizable(true);
        host.resize(200, 200);
        installScrollBars(area, 1);
        installScrollBars(area, 1);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host, windowwaits::kTimeoutMs));
        const QList<KelScrollBar*> bars = area->findChildren<KelScrollBar*>();
        QCOMPARE(bars.size(), 2);
        QCOMPARE(area->findChildren<KelGeometryWatcher*>().size(), 2);
        KelScrollBar* vertical = bars[0]->orientation() == Qt::Vertical ? bars[0] : bars[1];
        QVERIFY(vertical->isVisible());
        QCOMPARE(vertical->width(), 18);
        QCOMPARE(content->contentsMargins().right(), 18);

        // A quick pass does not widen the bar; a mouse that rests does.
        const int row = 20;
        QCOMPARE(handleThickness(area, row), 6);
        QHoverEvent enter(QEvent::HoverEnter, QPointF(9, row), QPointF(-1, -1));
        QHoverEvent leave(QEvent::HoverLeave, QPointF(-1, -1), QPointF(9, row));
        QCoreApplication::sendEvent(vertical, &enter);
        QCoreApplication::processEvents();
        QCoreApplication::sendEvent(vertical, &leave);
        QTest::qWait(400);
        QCOMPARE(handleThickness(area, row), 6);
        QCoreApplication::sendEvent(vertical, &enter);
        QTRY_COMPARE(handleThickness(area, row), 12);
        QCoreApplication::sendEvent(vertical, &leave);
        QTRY_COMPARE_WITH_TIMEOUT(handleThickness(area, row), 6, 2000);

        // Short content hides the bar and gives the reserved margin back.
        content->setMinimumSize(10, 10);
        QTRY_VERIFY(!vertical->isVisible());
        QCOMPARE(content->contentsMargins().right(), 0);

        // Deleting the area deletes its bars' styles, never the application's.
        QStyle* appStyle = QApplication::style();
        delete area;
        QCOMPARE(QApplication::style(), appStyle);
        QPushButton button(QStringLiteral("still styled"));
        QVERIFY(!button.grab().isNull());
        QVERIFY(appStyle->pixelMetric(QStyle::PM_ButtonMargin) >= 0);
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

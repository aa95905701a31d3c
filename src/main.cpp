#include "appdirs.h"
#include "application.h"
#include "crashinstaller/crashinstaller.h"
#include "eventloops/nestedloop.h"
#include "formats/endrequest.h"
#include "import/bookimporter.h"
#include "kellogger/kellogger.h"
#include "kelui.h"
#include "metrics/hardwaremetricsbuilder.h"
#include "metrics/metricsender.h"
#include "models/bookprovider.h"
#include "models/librarymessagebox.h"
#include "quitsignals.h"
#include "settingsprovider.h"
#include "ui/ui.h"
#include "widgets/startupsplash.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QTouchDevice>

#include <curl/curl.h>

#include <cstdio>
#include <memory>

// Addresses are configured at build time; empty ones mean nothing is sent or checked.
#ifndef PL_ORGANIZATION_DOMAIN
#define PL_ORGANIZATION_DOMAIN ""
#endif
#ifndef PL_METRICS_URL
#define PL_METRICS_URL ""
#endif
#ifndef PL_UPDATE_CHECK_URL
#define PL_UPDATE_CHECK_URL ""
#endif
#ifndef PL_CHANGELOG_URL
#define PL_CHANGELOG_URL ""
#endif
#ifndef PL_DOWNLOAD_URL
#define PL_DOWNLOAD_URL ""
#endif
#ifndef PL_MANUAL_URL
#define PL_MANUAL_URL ""
#endif
#ifndef PL_SITE_URL
#define PL_SITE_URL ""
#endif

namespace {

const char* const kAppName = "Brindle Folvane";

// A running instance that is busy (a stalled outside service, a long import) may take a while to
// take a second start's hand-over; this start waits that long before it gives up.
const int kHandOverWaitMs = 15000;
// The box telling the user that the reader is busy closes by itself: no process stays behind.
const int kBusyBoxMs = 60000;

void showReaderBusy()
{
    QMessageBox box(QMessageBox::Information, QCoreApplication::translate("Application", "Folvane"),
        QCoreApplication::translate("Application",
            "The reader is already running but is busy and does not answer. Please try again in a moment."),
        QMessageBox::Ok);
    box.setObjectName(QStringLiteral("ReaderBusyBox"));
    box.setTextFormat(Qt::PlainText);
    QTimer::singleShot(kBusyBoxMs, &box, &QMessageBox::reject);
    box.exec();
}

// A stable per-machine id that never gives the raw machine id away: a salted hash of it.
QString makeDeviceId()
{
    const QByteArray salted = QByteArrayLiteral("pageloom-device:") + HardwareMetricsBuilder::osMachineId().toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(salted, QCryptographicHash::Md5).toHex());
}

void installDisplayProviders()
{
    KelLogger::setDisplayInfoProvider([] {
        KelLogger::DisplayInfo info;
        for (QScreen* screen : QGuiApplication::screens()) {
            KelLogger::ScreenInfo s;
            s.primary = screen == QGuiApplication::primaryScreen();
            s.devicePixelRatio = screen->devicePixelRatio();
            s.logicalDpi = screen->logicalDotsPerInch();
            s.physicalDpi = screen->physicalDotsPerInch();
            s.geometry = screen->geometry();
            s.availableGeometry = screen->availableGeometry();
            info.screens << s;
        }
        info.touchDevices = QTouchDevice::devices().size();
        return info;
    });
    HardwareMetricsBuilder::setDisplayFactsProvider([] {
        HardwareMetricsBuilder::DisplayFacts facts;
        for (QScreen* screen : QGuiApplication::screens()) {
            HardwareMetricsBuilder::ScreenFacts s;
            s.primary = screen == QGuiApplication::primaryScreen();
            s.geometry = screen->geometry();
            s.effectiveDpi = qRound(screen->logicalDotsPerInch() * screen->devicePixelRatio());
            facts.screens << s;
        }
        for (const QTouchDevice* device : QTouchDevice::devices()) {
            if (device->type() == QTouchDevice::TouchScreen)
                facts.integratedTouch = true;
        }
        return facts;
    });
}

// The library's storage reports its errors through the application's message box.
void installLibraryMessageBox()
{
    LibraryMessageBox::setHandler([](const QString& title, const QString& text, QMessageBox::StandardButtons buttons) {
        Ui* ui = Ui::instance();
        if (!ui)
            return QMessageBox::Cancel;
        QList<QMessageBox::StandardButton> shown;
        for (QMessageBox::StandardButton button :
            { QMessageBox::Ok, QMessageBox::Retry, QMessageBox::Ignore, QMessageBox::Cancel }) {
            if (buttons.testFlag(button) && shown.size() < 3)
                shown << button;
        }
        if (shown.isEmpty())
            shown << QMessageBox::Cancel;
        QStringList texts;
        for (QMessageBox::StandardButton button : shown) {
            switch (button) {
            case QMessageBox::Ok:
                texts << QCoreApplication::translate("Application", "OK");
                break;
            case QMessageBox::Retry:
                texts << QCoreApplication::translate("Application", "Retry");
                break;
            case QMessageBox::Ignore:
                texts << QCoreApplication::translate("Application", "Ignore");
                break;
            default:
                texts << QCoreApplication::translate("Application", "Cancel");
                break;
            }
        }
        while (texts.size() < 3)
            texts << QString();
        const int id = ui->messageBox(Ui::formatMessage(text.toHtmlEscaped(), title.toHtmlEscaped()),
            QStringLiteral(" "), 5, texts.at(0), texts.at(1), texts.at(2));
        return id >= 1 && id <= shown.size() ? shown.at(id - 1) : QMessageBox::Cancel;
    });
    // Long work on the library before the main window (a salvage) shows on the splash.
    LibraryMessageBox::setProgressHandler(setStartupSplashText);
}

// Libraries read these folders themselves and cache them (the speech client crashes on a relative
// runtime folder); a relative one is taken from the folder the program started in, before anything
// reads it.
void makeUserFoldersAbsolute()
{
    for (const char* name :
        { "HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME" }) {
        const QByteArray value = qgetenv(name);
        if (value.isEmpty() || value.startsWith('/'))
            continue;
        const QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(QString::fromLocal8Bit(value)));
        qputenv(name, QFile::encodeName(absolute));
    }
}

} // namespace

int main(int argc, char** argv)
{
    makeUserFoldersAbsolute();
    curl_global_init(CURL_GLOBAL_ALL);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    KelLogger::setAppDirName(QString::fromLatin1(kAppName));
    qInstallMessageHandler(KelLogger::messageHandler);

    auto app = std::make_unique<Application>(argc, argv);
    app->setDeviceId(makeDeviceId());
    QCoreApplication::setApplicationName(QString::fromLatin1(kAppName));
    QCoreApplication::setOrganizationName(QStringLiteral("Brindle"));
    QCoreApplication::setOrganizationDomain(QStringLiteral(PL_ORGANIZATION_DOMAIN));
    app->setBuildVersion(QStringLiteral("6.2.2"));
    app->setManualUrl(QStringLiteral(PL_MANUAL_URL));
    app->setSiteUrl(QStringLiteral(PL_SITE_URL));
    installDisplayProviders();
    KelLogger::instance()->beginLogSession(app->buildVersion());
    registerSettingsMetaTypes();

    auto* settings = new SettingsProvider(
        KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat, app.get());
    app->setSettings(settings);

    auto crashInstaller
        = std::make_unique<CrashInstaller>(QString::fromLatin1(kAppName), app->buildVersion(), QString());
    const QString logDir = KelLogger::logDir();
    crashInstaller->addFile(
        QDir(logDir).filePath(QStringLiteral("dxdiag.txt")), QStringLiteral("DirectX diagnostic File"));
    crashInstaller->addFile(settings->fileName(), QStringLiteral("Configuration File"));
    crashInstaller->addLogFiles(logDir, QStringLiteral("pageloom*.txt"), 10);

    app->initTranslator(QStringLiteral("folvane"));

    const QStringList arguments = QCoreApplication::arguments();
    const QString message = Application::handOverMessage(arguments);
    if (!Application::hasOption(arguments, QStringLiteral("-fast"))
        && !Application::hasOption(arguments, QStringLiteral("-prefetch"))) {
        QString refusal;
        const KelInstanceServer::Delivery delivery = app->sendMessage(message, kHandOverWaitMs, &refusal);
        if (delivery != KelInstanceServer::Delivery::NoAnswer) {
            const bool delivered = delivery == KelInstanceServer::Delivery::Delivered;
            if (delivered) {
                qInfo() << "Exit from application (already running)";
            } else {
                // The running instance could not keep the books: nothing was added, and this start says so.
                qCritical().noquote() << "Exit from application (the running instance refused the books:" << refusal
                                      << ")";
                std::fprintf(stderr, "%s\n",
                    qPrintable(QCoreApplication::translate(
                        "Application", "The reader is running but could not take the books: %1. They were not added.")
                                   .arg(refusal)));
            }
            settings->leaveFileToRunningInstance();
            crashInstaller.reset();
            app.reset();
            return delivered ? 0 : 2;
        }
    }
    // No hand-over: this start runs only when no other instance holds the library.
    std::unique_ptr<QLockFile> libraryLock = Application::lockLibrary(databasePath());
    if (!libraryLock) {
        qWarning() << "Exit from application (the running instance is busy)";
        showReaderBusy();
        settings->leaveFileToRunningInstance();
        crashInstaller.reset();
        app.reset();
        return 1;
    }

    std::unique_ptr<QSettings> metricsStore(
        new QSettings(QCoreApplication::organizationName(), app->registryAppName()));
    bool sendMetrics = false;
    if (metricsStore->contains(MetricSender::settingKey()))
        sendMetrics = metricsStore->value(MetricSender::settingKey()).toInt() == 1;
    else
        qWarning() << "send metrics not registry";
    qInfo() << "send metrics" << sendMetrics;
    MetricSender::init(app->deviceId(), QStringLiteral("4"), QCoreApplication::applicationVersion(), sendMetrics,
        QStringLiteral(PL_METRICS_URL));
    MetricSender::installMessageHandler();

    installLibraryMessageBox();
    QuitSignals quitSignals;
    // Asked to end, the import reads no further book: what is left stays recorded for the next start.
    QObject::connect(&quitSignals, &QuitSignals::received, [] { bookimporter::instance()->endWithProgram(); });
    // However the loop ends, a conversion still running on a worker stops at its next step.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { EndRequest::raise(); });

    qInfo() << "Show splash ...";
    showStartupSplash(2000, true);

    app->init();
    NestedLoop::processEvents();
    // Books named on the command line arrive the way a second start hands them over.
    app->receiveFiles(message);
    app->sendRunMetrics();
    NestedLoop::processEvents();
    app->runDxDiagGeneration();
    NestedLoop::processEvents();
    app->initUpdateChecker(QStringLiteral("17"), QStringLiteral(PL_UPDATE_CHECK_URL), QStringLiteral(PL_CHANGELOG_URL),
        QStringLiteral(PL_DOWNLOAD_URL));
    QGuiApplication::setFallbackSessionManagementEnabled(false);

    qInfo() << "Run services complete. Run app exec...";
    // quit() before exec() is lost: a signal during start-up ends the program here instead.
    const int code = quitSignals.wasReceived() ? 0 : QApplication::exec();
    qInfo() << "Exit from application (main). Exit code:" << code;
    curl_global_cleanup();
    metricsStore.reset();
    crashInstaller.reset();
    app.reset();
    // Only a run that gets here leaves the record that spares the next start the full check.
    BookProvider::instance()->closeConnection();
    libraryLock.reset(); // after the database closed
    return code;
}

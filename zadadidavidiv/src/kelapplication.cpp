#include "kelapplication.h"

#include "hoverleaveworkaround.h"
#include "kelsettings.h"
#include "keltranslator.h"
#include "kelui.h"
#include "painting/kelicon.h"
#include "painting/keliconsprovider.h"
#include "windows/kelsplash.h"

#include <QDebug>
#include <QDir>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QWidget>

#include <cmath>

class KelApplication::Private {
public:
    Qt::HANDLE guiThreadId = nullptr;
    QPointer<KelSettings> settings;
    QPointer<KelSplash> splash;
    QPointer<KelTranslator> translator;
    bool firstRun = true;
    QPointer<KelUi> ui;
    QPointer<KelIconsProvider> iconsProvider;
    QString registryAppName;
    QString buildVersion;
    QString manualUrl;
    QString siteUrl;
};

KelApplication::KelApplication(int& argc, char** argv)
    : KelApplication(QString(), argc, argv)
{
}

KelApplication::KelApplication(const QString& appId, int& argc, char** argv)
    : KelSingleApplication(appId, argc, argv)
    , d(new Private)
{
    setAttribute(Qt::AA_DontCreateNativeWidgetSiblings, true);
    setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    d->guiThreadId = QThread::currentThreadId();
    connect(this, &QCoreApplication::aboutToQuit, this, &KelApplication::onAboutToQuit);
    // Qt's own widgetAt already honours mouse-transparent windows on X11, so no shape-aware
    // replacement of it or of the window geometry is installed here.
}

KelApplication::~KelApplication()
{
    if (d->settings && !d->settings->leavesFileToRunningInstance())
        d->settings->writeSettings();
    if (d->ui)
        delete d->ui.data();
    if (d->splash) {
        // Its destroyed signal must not reach this half-destroyed object.
        disconnect(d->splash, nullptr, this, nullptr);
        delete d->splash.data();
    }
    delete d;
    d = nullptr;
    qInfo() << "App is finished normally.";
}

KelApplication* KelApplication::instance() { return qobject_cast<KelApplication*>(QCoreApplication::instance()); }

KelUi* KelApplication::ui()
{
    if (d->ui)
        return d->ui;
    KelUi* ui = createUi();
    if (!ui) {
        qCritical() << "The application made no UI object";
        return nullptr;
    }
    d->ui = ui;
    ui->setParent(this);
    ui->init();
    return ui;
}

KelUi* KelApplication::createUi() { return new KelUi(this); }

KelSettings* KelApplication::settings() const { return d->settings; }

void KelApplication::setSettings(KelSettings* settings) { d->settings = settings; }

KelSplash* KelApplication::splash() const { return d->splash; }

QWidget* KelApplication::splashWindow() const { return d->splash; }

bool KelApplication::isSplashVisible() const
{
    QWidget* splash = splashWindow();
    return splash && splash->isVisible();
}

KelTranslator* KelApplication::translator() const { return d->translator; }

KelIconsProvider* KelApplication::iconsProvider()
{
    if (!d->iconsProvider)
        d->iconsProvider = new KelIconsProvider(this);
    return d->iconsProvider;
}

bool KelApplication::isFirstRun() const { return d->firstRun; }

void KelApplication::setFirstRun(bool firstRun) { d->firstRun = firstRun; }

bool KelApplication::isGuiThread() const { return QThread::currentThreadId() == d->guiThreadId; }

QString KelApplication::buildVersion() const { return d->buildVersion; }

void KelApplication::setBuildVersion(const QString& version)
{
    d->buildVersion = version;
    QSettings native(QCoreApplication::organizationName(), registryAppName());
    setApplicationVersion(native.value(QStringLiteral("CurrentVersion"), version).toString());
}

QString KelApplication::manualUrl() const { return d->manualUrl; }

void KelApplication::setManualUrl(const QString& url) { d->manualUrl = url; }

QString KelApplication::siteUrl() const { return d->siteUrl; }

void KelApplication::setSiteUrl(const QString& url) { d->siteUrl = url; }

QString KelApplication::registryAppName() const
{
    return d->registryAppName.isEmpty() ? QCoreApplication::applicationName() : d->registryAppName;
}

void KelApplication::setRegistryAppName(const QString& name) { d->registryAppName = name; }

QString KelApplication::configFilePath(const QString& fileName)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir dir(folder);
    if (!dir.exists() && !dir.mkpath(QStringLiteral(".")))
        qWarning() << "Can't create the configuration folder" << folder;
    return QDir::toNativeSeparators(fileName.isEmpty() ? folder : folder + QLatin1Char('/') + fileName);
}

void KelApplication::initTranslator(const QString& prefix, const QString& folder)
{
    delete d->translator.data();
    auto* translator = new KelTranslator(prefix, this, folder);
    d->translator = translator;
    connect(translator, &KelTranslator::languageChanged, this, &KelApplication::storeTranslatorLanguage);
    selectStartupLanguage(
        d->settings ? d->settings->localeName() : QString(), KelTranslator::systemLocaleName(),
        [translator](const QString& code) { return translator->translate(code, false); },
        [translator](const QString& language) { return translator->localeForLanguage(language); });
    // Connected after the start-up choice: no window exists yet to retranslate.
    connect(translator, &KelTranslator::languageChanged, this, &KelApplication::retranslateApplication);
}

void KelApplication::selectStartupLanguage(const QString& savedLocale, const QString& systemLocale,
    const std::function<bool(const QString&)>& translate,
    const std::function<QString(const QString&)>& localeForLanguage)
{
    if (translate(savedLocale) || translate(systemLocale))
        return;
    QString code = localeForLanguage(systemLocale.left(2).toLower());
    if (code.isEmpty())
        code = QStringLiteral("en");
    translate(code);
}

bool KelApplication::applyLocale(const QString& code)
{
    if (!d->translator) {
        qWarning() << "No translator to switch the language to" << code;
        return false;
    }
    // The switch itself stores the code in the settings, which comes back here.
    if (code == d->translator->currentLocale())
        return true;
    return d->translator->translate(code, false);
}

void KelApplication::storeTranslatorLanguage(const QString& code)
{
    if (d->settings)
        d->settings->setLocaleName(code);
}

void KelApplication::retranslateApplication()
{
    if (d->ui) {
        d->ui->translateTopLevelWindows();
        d->ui->retranslate();
    }
    onLanguageChanged();
}

bool KelApplication::init() { return true; }

void KelApplication::onLanguageChanged() { }

void KelApplication::onAboutToQuit() { }

void KelApplication::onSplashDestroyed() { }

QScreen* KelApplication::splashScreenFor(int savedIndex) const
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (savedIndex >= 0 && savedIndex < screens.size()) {
        qInfo() << "Previously saved screen number:" << savedIndex;
        return screens.at(savedIndex);
    }
    qWarning() << "No screen found for previous saved main window pos. Use default screen. Old screen number is"
               << savedIndex;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        qCritical() << "No screens are found!";
    return primary;
}

KelSplash* KelApplication::showSplash(const QString& imageName, int minimumMs, int tickMs, int minDots, int maxDots,
    const QString& fontFamily, int fontPixelSize, bool showMainWindowWhenDone, QPoint loadingTextOffset,
    QPoint versionTextOffset, QColor loadingTextColor, QColor versionTextColor)
{
    QScreen* screen = splashScreenFor(d->settings ? d->settings->lastScreen() : 0);
    if (!screen)
        return nullptr;
    const QRect geometry = screen->geometry();
    qInfo() << "Working geometry:" << geometry;
    qDebug() << "Show splash at least" << minimumMs << "milliseconsds on" << screen
             << "screen. Screen geometry:" << geometry;
    const QPixmap pixmap
        = iconsProvider()->icon(imageName)->pixmap(screen->devicePixelRatio(), QSize(), QColor(), KelPainting::Normal);
    auto* splash = new KelSplash(geometry, pixmap, QCoreApplication::applicationVersion(), minimumMs, tickMs, minDots,
        maxDots, showMainWindowWhenDone, loadingTextOffset, versionTextOffset, loadingTextColor, versionTextColor);
    d->splash = splash;
    QFont font(fontFamily);
    font.setPixelSize(fontPixelSize);
    splash->setFont(font);
    connect(splash, &QObject::destroyed, this, &KelApplication::onSplashDestroyed);
    splash->show();
    return splash;
}

bool KelApplication::notify(QObject* receiver, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type != QEvent::MouseMove && type != QEvent::NonClientAreaMouseMove) || !receiver || !receiver->isWindowType())
        return KelSingleApplication::notify(receiver, event);

    // Widgets expect whole-pixel positions; fractional ones come with fractional scaling.
    auto* incoming = static_cast<QMouseEvent*>(event);
    const QPointF local(std::floor(incoming->localPos().x()), std::floor(incoming->localPos().y()));
    QMouseEvent normalised(type, local, incoming->windowPos(), incoming->screenPos(), incoming->button(),
        incoming->buttons(), incoming->modifiers(), incoming->source());
    normalised.setTimestamp(incoming->timestamp());
    const bool result = KelSingleApplication::notify(receiver, &normalised);
    if (d && d->ui)
        d->ui->hoverWorkaround()->onMouseMove(receiver, &normalised);
    incoming->setAccepted(normalised.isAccepted());
    return result;
}

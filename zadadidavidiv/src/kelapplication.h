#pragma once

#include "singleapplication/kelsingleapplication.h"

#include <QColor>
#include <QPoint>
#include <QString>

#include <functional>

class KelIconsProvider;
class KelSettings;
class KelSplash;
class KelTranslator;
class KelUi;
class QScreen;

// The toolkit's application object. It guards the process-wide toolkit singletons (settings, UI
// services, translator, icons, splash) and normalises mouse-move delivery: positions are cut to
// whole pixels and the hover state of widgets is kept right.
class KelApplication : public KelSingleApplication {
    Q_OBJECT

public:
    KelApplication(int& argc, char** argv);
    // appId picks the single-instance group (see KelSingleApplication).
    KelApplication(const QString& appId, int& argc, char** argv);
    ~KelApplication() override;

    // The running application, or null when the process has none.
    static KelApplication* instance();

    // The UI services, made on first use through createUi() and then init()ed once.
    KelUi* ui();

    KelSettings* settings() const;
    void setSettings(KelSettings* settings);

    KelSplash* splash() const;
    // The splash as a plain widget, for comparisons with other windows.
    QWidget* splashWindow() const;
    bool isSplashVisible() const;
    KelTranslator* translator() const;
    // Made on first use as a child of the application.
    KelIconsProvider* iconsProvider();

    bool isFirstRun() const;
    void setFirstRun(bool firstRun);

    // Any thread may ask; it compares with the thread that built the application.
    bool isGuiThread() const;

    QString buildVersion() const;
    // Stores the build version and sets the application version: a "CurrentVersion" recorded by
    // the installer in the native store wins over the compiled-in version.
    void setBuildVersion(const QString& version);
    QString manualUrl() const;
    void setManualUrl(const QString& url);
    QString siteUrl() const;
    void setSiteUrl(const QString& url);

    // The application name used with the organisation name for the native settings store.
    QString registryAppName() const;
    void setRegistryAppName(const QString& name);

    // The per-user configuration folder (made when missing), with fileName appended when given.
    static QString configFilePath(const QString& fileName);

    // Makes the translator over the files prefix + "_" + locale + ".qm" in folder (empty: "translations"
    // beside the executable) and switches to the start-up language.
    void initTranslator(const QString& prefix, const QString& folder = QString());
    // The start-up language: the saved one, else the system's, else the shipped translation of
    // the system's language, else English. translate answers whether the code loaded;
    // localeForLanguage gives the shipped locale for a two-letter language code (empty when none).
    static void selectStartupLanguage(const QString& savedLocale, const QString& systemLocale,
        const std::function<bool(const QString&)>& translate,
        const std::function<QString(const QString&)>& localeForLanguage);

    // The screen the splash goes to: the saved one when it still exists, else the primary one.
    QScreen* splashScreenFor(int savedIndex) const;
    // The arguments after minimumMs, except the font, are handed to the splash unchanged.
    KelSplash* showSplash(const QString& imageName, int minimumMs, int tickMs, int minDots, int maxDots,
        const QString& fontFamily, int fontPixelSize, bool showMainWindowWhenDone, QPoint loadingTextOffset,
        QPoint versionTextOffset, QColor loadingTextColor, QColor versionTextColor);

    bool notify(QObject* receiver, QEvent* event) override;

public slots:
    // Switches the interface language; false without a translator or when the code does not load.
    bool applyLocale(const QString& code);

    // Called by the program once its start-up services run.
    virtual bool init();

protected slots:
    virtual void onLanguageChanged();
    virtual void onAboutToQuit();
    virtual void onSplashDestroyed();

    // Keeps the language the translator switched to in the settings.
    void storeTranslatorLanguage(const QString& code);
    // Retranslates every window after a language switch, then runs the hooks.
    void retranslateApplication();

protected:
    virtual KelUi* createUi();

private:
    class Private;
    Private* d;
};

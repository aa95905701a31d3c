#pragma once

#include "keldialogrequests.h"
#include "windows/kelwindow.h"

#include <QColor>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class HoverLeaveWorkaround;
class KelApplication;
class KelNotificationManager;
class KelPixmapCache;
class KelStyleManager;
class QWidget;

// The toolkit's user-interface services, one object per process (KelUi::instance()): the main
// window made through a virtual factory, message boxes, text-input boxes and file dialogs that
// any thread may ask for, the wait cursor, opening links and files, the default-application
// prompts, the style manager, the pixmap caches, the notification manager, the hidden maintenance
// mode and a signal at each change of calendar day.
//
// Dialogs run on the GUI thread. A request from another thread re-invokes the method there with
// a blocking queued call and waits for the answer, so a worker that the GUI thread waits for
// must never ask for a dialog. After the application's event loop has ended such requests are
// refused with a warning instead of blocking forever.
//
// Message and text-input boxes are toolkit message boxes; tests may put their own handler in
// (setMessageBoxHandler). The file dialogs go through setFileDialogHandler and revealing a file
// through setRevealHandler.
class KelUi : public QObject {
    Q_OBJECT

public:
    enum TextInputType {
        AnyTextInput = 0,
        NotEmptyTextInput = 1,
        PasswordTextInput = 2,
        NotEmptyPasswordTextInput = 3,
        ReadOnlyTextInput = 4,
    };
    Q_ENUM(TextInputType)

    // How a dialog without a usable parent finds one.
    enum DialogParentPolicyFlag {
        ActiveWindowParent = 1, // the active window, unless it is the splash
        VisibleMainWindowParent = 2, // the main window while it is visible
        MainWindowParent = 4, // the main window in any state
    };

    // Shows the prepared box modally; returns the id (1 to 3) of the button that closed it and
    // writes the remember state and the edited text back into the request.
    using MessageBoxHandler = std::function<int(KelMessageBoxRequest&)>;
    // Runs one file dialog; returns the chosen paths, empty when cancelled.
    using FileDialogHandler = std::function<QStringList(const KelFileDialogRequest&)>;
    // Shows the file selected in the file manager; false when that could not be done.
    using RevealHandler = std::function<bool(const QString& absoluteFilePath)>;

    explicit KelUi(KelApplication* app);
    ~KelUi() override;

    static KelUi* instance();

    Q_INVOKABLE QString getExistingDirectory(QString title, QString initialFolderPath = QString());
    Q_INVOKABLE QString getSaveFileName(
        QString title, QString filter, QString candidateName = QString(), QString initialFolderPath = QString());
    Q_INVOKABLE QString getOpenFileName(QString title, QString filter, QString initialFolderPath = QString());
    Q_INVOKABLE QStringList getOpenFileNames(QString title, QString filter, QString initialFolderPath = QString());
    // Returns the id of the pressed button, or 0 when no box could be shown.
    Q_INVOKABLE int messageBox(QString message, QString title = QString(), int icnType = 6, QString b1text = QString(),
        QString b2text = QString(), QString b3text = QString(), bool* remember = nullptr,
        const QString& rememberText = QString(), QWidget* parent = nullptr);
    Q_INVOKABLE int textInputBox(QString message, QString title, QString& resultText, TextInputType textInputType,
        int icnType = 6, QString b1text = QString(), QString b2text = QString(), QString b3text = QString(),
        QString regexp = QString(), QWidget* parent = nullptr);

    KelWindow* mainWindow() const;
    void initMainWindow();

    void showWaitCursor();
    void hideWaitCursor();
    bool isWaitCursorShown() const;

    // flags: 1 no underline, 2 bold, 4 italic. An invalid colour takes the style's link colour.
    static QString makeHtmlLink(const QString& url, const QString& text, int flags, const QColor& color);

    bool openLinkInSuitableApp(const QString& link);
    // From now on a web link's browser that cannot be started is told in the box of a failed open
    // (see KelBrowserLauncher). Tests that catch links with a handler of their own leave it out.
    void watchBrowserStarts();
    // Shows a file selected in the file manager (falling back to opening its folder); a folder is
    // opened.
    bool openLinkInExplorer(const QString& link);

    // Runs fn after interval ms, once the main window is active and nothing modal or popup is
    // up; otherwise tries again after another interval. An empty fn is refused.
    void startNotAnnoyingMessageTimer(const QString& text, int interval, std::function<void()> fn);

    void translateTopLevelWindows();

    KelStyleManager* styleManager() const;
    KelNotificationManager* notificationManager();
    KelPixmapCache* iconsCache();
    KelPixmapCache* shadowCache();

    bool isMaintenanceMode() const;
    void setMaintenanceMode(bool value);

    QWidget* widgetUnderMouse() const;
    HoverLeaveWorkaround* hoverWorkaround() const;

    int dialogParentPolicy() const;
    void setDialogParentPolicy(int policy);

    void setMessageBoxHandler(MessageBoxHandler handler);
    void setFileDialogHandler(FileDialogHandler handler);
    void setRevealHandler(RevealHandler handler);

    // Milliseconds from now to 00:01 of the next day.
    static qint64 msecsToNextDayChange(const QDateTime& now);

    virtual void init();
    virtual void retranslate();
    // The shadow type a window made with the default type uses (the system's shadow).
    virtual KelWindow::ShadowType defaultShadowType() const;
    virtual void showNewVersionDialog(const QString& version, const QString& changelogUrl, const QString& downloadUrl);
    virtual bool askToBecomeDefaultApp(const QString& extension, const QString& appName, bool* remember);
    virtual void askToBecomeDefaultAppWin8(
        const QString& extension, const QString& appName, const QString& learnMoreUrl, bool* remember);

public slots:
    virtual void openLink(const QString& link);
    // Restores, shows, raises and activates the main window.
    void bringMainWindowToFront();

signals:
    void linkOpened(QString url);
    void shellExecuteFailed(QString url, int resultCode);
    void mainWindowCreated(KelWindow* mainWindow);
    void currentDayChanged();
    void maintenanceModeStateChanged(bool val);

protected:
    virtual KelWindow* createMainWindow();

private:
    bool mayWaitForGuiThread(const char* request) const;
    QWidget* dialogParent(QWidget* parent) const;
    KelMessageBoxRequest prepareBox(const QString& message, const QString& title, int icnType, const QString& b1text,
        const QString& b2text, const QString& b3text, QWidget* parent) const;
    int runBox(KelMessageBoxRequest& request);
    // The default message box handler: builds and runs a KelMessageBox.
    int showMessageBox(KelMessageBoxRequest& request);
    QStringList runFileDialog(KelFileDialogRequest::Kind kind, const QString& title, const QString& filter,
        const QString& candidateName, const QString& initialFolderPath);
    void showOpenError(const QString& link);
    void armDayChangeTimer();

    class Private;
    Private* d;
};

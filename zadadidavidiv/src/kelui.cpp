#include "kelui.h"
#include "styles/kelstyle.h"
#include "styles/kelstylemanager.h"
#include "utils/kelpixmapcache.h"

#include "eventloops/nestedloop.h"
#include "hoverleaveworkaround.h"
#include "kelapplication.h"
#include "kelsettings.h"
#include "notannoyingmessagetimer.h"
#include "platform/x11/kelbrowserlauncher.h"
#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"
#include "widgets/kellineedit.h"
#include "windows/kelmessagebox.h"
#include "windows/kelnotificationmanager.h"
#include "windows/kelsplash.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QRegExpValidator>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace {
const int kDefaultDialogParentPolicy
    = KelUi::ActiveWindowParent | KelUi::VisibleMainWindowParent | KelUi::MainWindowParent;
const int kRevealTimeoutMs = 3000;

QColor styleLinkColor() { return kelStyle()->color(KelStyle::CL_Text_Link); }

QString styleIconPath(int iconType) { return kelStyle()->iconPath(iconType); }

// Translated filters may carry full-width parentheses, which QFileDialog does not read as the
// pattern's brackets.
QString normalizedFilter(QString filter)
{
    filter.replace(QChar(0xFF08), QLatin1Char('('));
    filter.replace(QChar(0xFF09), QLatin1Char(')'));
    return filter;
}

// "olv" for "eBook Archive (*.olv)": the suffix of the first filter's first "*.suffix" pattern.
QString defaultSuffixOf(const QString& filter)
{
    static const QRegularExpression pattern(QStringLiteral("\\*\\.([^\\s;)*?]+)"));
    return pattern.match(filter).captured(1);
}

QStringList showFileDialog(const KelFileDialogRequest& r)
{
    // The dialogs run their own loop under the caller.
    NestedLoop::Scope scope;
    QString single;
    switch (r.kind) {
    case KelFileDialogRequest::OpenFiles:
        return QFileDialog::getOpenFileNames(r.parent, r.title, r.startPath, r.filter, nullptr, r.options);
    case KelFileDialogRequest::OpenFile:
        single = QFileDialog::getOpenFileName(r.parent, r.title, r.startPath, r.filter, nullptr, r.options);
        break;
    case KelFileDialogRequest::SaveFile: {
        // The static dialog adds no suffix on Linux; this one appends it and asks before replacing.
        QFileDialog dialog(r.parent, r.title, r.startPath, r.filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOptions(r.options);
        dialog.setDefaultSuffix(r.defaultSuffix);
        if (dialog.exec() == QDialog::Accepted)
            single = dialog.selectedFiles().value(0);
        break;
    }
    case KelFileDialogRequest::ExistingDirectory:
        single = QFileDialog::getExistingDirectory(r.parent, r.title, r.startPath, r.options);
        break;
    }
    return single.isEmpty() ? QStringList() : QStringList { single };
}

// Asks the desktop's file manager to show the file selected.
bool revealWithFileManager(const QString& path)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call << QStringList { QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) } << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, kRevealTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        qWarning() << "File manager can't show" << path << ":" << reply.errorMessage();
        return false;
    }
    return true;
}

QString first(const QStringList& list) { return list.isEmpty() ? QString() : list.first(); }

// ".pdf" is shown as "PDF".
QString displaySuffix(const QString& extension)
{
    const QString suffix = extension.startsWith(QLatin1Char('.')) ? extension.mid(1) : extension;
    return suffix.toUpper().toHtmlEscaped();
}
}

class KelUi::Private {
public:
    KelApplication* app = nullptr;
    QPointer<KelUi> self;
    bool waitCursorShown = false;
    // Kept as a plain object: while the window is destroyed its children may still ask for it,
    // and a cast of the half-destroyed object to KelWindow is undefined; qobject_cast answers
    // null then.
    QPointer<QObject> mainWindow;
    QMutex mainWindowMutex;

    KelWindow* window() const { return qobject_cast<KelWindow*>(mainWindow.data()); }
    QPointer<KelStyleManager> styleManager;
    HoverLeaveWorkaround* hoverWorkaround = nullptr;
    int dialogParentPolicy = kDefaultDialogParentPolicy;
    bool maintenanceMode = false;
    bool eventLoopEnded = false;
    QTimer dayChangeTimer;
    MessageBoxHandler messageBoxHandler;
    FileDialogHandler fileDialogHandler = showFileDialog;
    RevealHandler revealHandler = revealWithFileManager;
    QPointer<KelPixmapCache> iconsCache;
    QPointer<KelPixmapCache> shadowCache;
    QPointer<KelNotificationManager> notificationManager;
    KelBrowserLauncher* browserLauncher = nullptr;
};

namespace {

// The two pixmap caches of the UI are made on first use, named, and limited to 50 MB each.
KelPixmapCache* ensureCache(QPointer<KelPixmapCache>& cache, KelUi* owner, const char* name)
{
    if (!cache) {
        cache = new KelPixmapCache(owner);
        cache->setObjectName(QLatin1String(name));
        cache->setCacheLimit(50);
    }
    return cache;
}

} // namespace

KelUi::KelUi(KelApplication* app)
    : QObject(app)
    , d(new Private)
{
    d->app = app;
    d->self = this;
    d->styleManager = new KelStyleManager(this);
    d->hoverWorkaround = new HoverLeaveWorkaround(this);
    d->messageBoxHandler = [this](KelMessageBoxRequest& request) { return showMessageBox(request); };
    connect(app, &QCoreApplication::aboutToQuit, this, [this] { d->eventLoopEnded = true; });
    d->dayChangeTimer.setSingleShot(true);
    connect(&d->dayChangeTimer, &QTimer::timeout, this, [this] {
        emit currentDayChanged();
        armDayChangeTimer();
    });
    armDayChangeTimer();
}

KelUi::~KelUi()
{
    delete d->mainWindow.data();
    delete d;
}

KelUi* KelUi::instance()
{
    KelApplication* app = KelApplication::instance();
    return app ? app->ui() : nullptr;
}

void KelUi::init() { }

void KelUi::retranslate() { }

KelWindow::ShadowType KelUi::defaultShadowType() const { return KelWindow::ShadowType::DWM_API; }

void KelUi::showNewVersionDialog(const QString&, const QString&, const QString&) { qWarning() << "REIMPLEMENT THIS"; }

KelWindow* KelUi::createMainWindow() { return nullptr; }

bool KelUi::mayWaitForGuiThread(const char* request) const
{
    if (!d->eventLoopEnded)
        return true;
    qWarning() << request << "asked from a worker thread after the event loop ended; nothing is shown";
    return false;
}

QString KelUi::getExistingDirectory(QString title, QString initialFolderPath)
{
    if (!d->app->isGuiThread()) {
        QString result;
        if (mayWaitForGuiThread("getExistingDirectory"))
            QMetaObject::invokeMethod(this, "getExistingDirectory", Qt::BlockingQueuedConnection,
                Q_RETURN_ARG(QString, result), Q_ARG(QString, title), Q_ARG(QString, initialFolderPath));
        return result;
    }
    return first(
        runFileDialog(KelFileDialogRequest::ExistingDirectory, title, QString(), QString(), initialFolderPath));
}

QString KelUi::getSaveFileName(QString title, QString filter, QString candidateName, QString initialFolderPath)
{
    if (!d->app->isGuiThread()) {
        QString result;
        if (mayWaitForGuiThread("getSaveFileName"))
            QMetaObject::invokeMethod(this, "getSaveFileName", Qt::BlockingQueuedConnection,
                Q_RETURN_ARG(QString, result), Q_ARG(QString, title), Q_ARG(QString, filter),
                Q_ARG(QString, candidateName), Q_ARG(QString, initialFolderPath));
        return result;
    }
    return first(runFileDialog(KelFileDialogRequest::SaveFile, title, filter, candidateName, initialFolderPath));
}

QString KelUi::getOpenFileName(QString title, QString filter, QString initialFolderPath)
{
    if (!d->app->isGuiThread()) {
        QString result;
        if (mayWaitForGuiThread("getOpenFileName"))
            QMetaObject::invokeMethod(this, "getOpenFileName", Qt::BlockingQueuedConnection,
                Q_RETURN_ARG(QString, result), Q_ARG(QString, title), Q_ARG(QString, filter),
                Q_ARG(QString, initialFolderPath));
        return result;
    }
    return first(runFileDialog(KelFileDialogRequest::OpenFile, title, filter, QString(), initialFolderPath));
}

QStringList KelUi::getOpenFileNames(QString title, QString filter, QString initialFolderPath)
{
    if (!d->app->isGuiThread()) {
        QStringList result;
        if (mayWaitForGuiThread("getOpenFileNames"))
            QMetaObject::invokeMethod(this, "getOpenFileNames", Qt::BlockingQueuedConnection,
                Q_RETURN_ARG(QStringList, result), Q_ARG(QString, title), Q_ARG(QString, filter),
                Q_ARG(QString, initialFolderPath));
        return result;
    }
    return runFileDialog(KelFileDialogRequest::OpenFiles, title, filter, QString(), initialFolderPath);
}

QStringList KelUi::runFileDialog(KelFileDialogRequest::Kind kind, const QString& title, const QString& filter,
    const QString& candidateName, const QString& initialFolderPath)
{
    KelSettings* settings = d->app->settings();
    QString folder = initialFolderPath;
    if (folder.isEmpty() && settings)
        folder = settings->lastOpenFilePath();

    KelFileDialogRequest request;
    request.kind = kind;
    request.parent = QApplication::activeWindow();
    request.title = title;
    request.startPath = folder;
    if (kind == KelFileDialogRequest::SaveFile && !candidateName.isEmpty())
        request.startPath = folder + QDir::separator() + candidateName;
    request.filter = normalizedFilter(filter);
    if (kind == KelFileDialogRequest::SaveFile)
        request.defaultSuffix = defaultSuffixOf(request.filter);
    if (kind == KelFileDialogRequest::ExistingDirectory)
        request.options = QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks;

    const QStringList result = d->fileDialogHandler ? d->fileDialogHandler(request) : QStringList();
    if (!first(result).isEmpty() && initialFolderPath.isEmpty() && settings)
        settings->setLastOpenFilePath(QFileInfo(result.first()).absolutePath());
    return result;
}

QWidget* KelUi::dialogParent(QWidget* parent) const
{
    if (parent && parent->window())
        return parent->window();
    QWidget* active = QApplication::activeWindow();
    if ((d->dialogParentPolicy & ActiveWindowParent) && active && active != d->app->splashWindow())
        return active;
    QWidget* mainWindow = d->window();
    if (mainWindow
        && ((d->dialogParentPolicy & MainWindowParent)
            || ((d->dialogParentPolicy & VisibleMainWindowParent) && mainWindow->isVisible())))
        return mainWindow;
    return nullptr;
}

KelMessageBoxRequest KelUi::prepareBox(const QString& message, const QString& title, int icnType, const QString& b1text,
    const QString& b2text, const QString& b3text, QWidget* parent) const
{
    KelMessageBoxRequest request;
    request.parent = dialogParent(parent);
    request.title = title.isEmpty() ? QCoreApplication::applicationName() : title;
    request.message = message;
    request.iconType = icnType;
    request.iconPath = styleIconPath(icnType);
    request.buttonTexts = QStringList { b1text, b2text, b3text };
    if (b1text.isEmpty() && b2text.isEmpty() && b3text.isEmpty())
        request.buttonTexts[0] = QCoreApplication::translate("Application", "OK");
    for (int i = 0; i < request.buttonTexts.size(); ++i) {
        if (!request.buttonTexts.at(i).isEmpty())
            request.defaultButtonId = i + 1;
    }
    return request;
}

int KelUi::runBox(KelMessageBoxRequest& request)
{
    if (!d->messageBoxHandler) {
        qWarning() << "No message box available; not shown:" << request.title << "-" << request.message;
        return 0;
    }
    const bool hadWaitCursor = d->waitCursorShown;
    if (hadWaitCursor)
        hideWaitCursor();
    int id = 0;
    {
        // Whatever shows the box, its answer comes before anything handed over meanwhile.
        NestedLoop::Scope scope;
        id = d->messageBoxHandler(request);
    }
    if (hadWaitCursor)
        showWaitCursor();
    return id;
}

int KelUi::showMessageBox(KelMessageBoxRequest& request)
{
    auto* box = new KelMessageBox(request.parent, true);
    box->setTitleText(request.title);
    box->setText(request.message);
    KelButton* remember = nullptr;
    if (request.hasRemember) {
        remember = new KelButton(13, box);
        remember->setCheckable(true);
        remember->setCheckedSilently(request.remember);
        remember->setText(request.rememberText);
        box->addContentWidget(remember, true);
    }
    box->setIcon(request.iconPath);
    for (int i = 0; i < request.buttonTexts.size() && i < 3; ++i) {
        const QString& text = request.buttonTexts.at(i);
        if (text.isEmpty())
            continue;
        const bool isDefault = i + 1 == request.defaultButtonId;
        auto* button = new KelButton(isDefault ? 20 : 19, box);
        button->setText(text);
        box->addButton(i + 1, button, isDefault);
    }
    KelLineEdit* edit = nullptr;
    if (request.textInput) {
        edit = new KelLineEdit(request.password ? 31 : 28, box);
        edit->setMaxLength(request.maxLength);
        edit->setText(request.text);
        edit->setReadOnly(request.readOnly);
        if (!request.regexp.isEmpty())
            edit->setValidator(new QRegExpValidator(QRegExp(request.regexp, Qt::CaseSensitive), edit));
        // After the buttons, so that an empty field that must be filled disables the default one.
        box->addContentWidget(edit, request.allowEmpty);
        edit->setFocus();
    }
    connect(box->messageLabel(), &QLabel::linkActivated, this, &KelUi::openLink);
    box->applyStyle();
    QPointer<KelMessageBox> guard(box);
    const int id = box->exec(KelWindow::ShowStrategy::CenteredOnParent);
    if (!guard)
        return id;
    if (remember)
        request.remember = remember->isChecked();
    if (edit)
        request.text = edit->text();
    delete box;
    return id;
}

int KelUi::messageBox(QString message, QString title, int icnType, QString b1text, QString b2text, QString b3text,
    bool* remember, const QString& rememberText, QWidget* parent)
{
    if (!d->app->isGuiThread()) {
        int result = 0;
        if (mayWaitForGuiThread("messageBox"))
            QMetaObject::invokeMethod(this, "messageBox", Qt::BlockingQueuedConnection, Q_RETURN_ARG(int, result),
                Q_ARG(QString, message), Q_ARG(QString, title), Q_ARG(int, icnType), Q_ARG(QString, b1text),
                Q_ARG(QString, b2text), Q_ARG(QString, b3text), Q_ARG(bool*, remember), Q_ARG(QString, rememberText),
                Q_ARG(QWidget*, parent));
        return result;
    }
    KelMessageBoxRequest request = prepareBox(message, title, icnType, b1text, b2text, b3text, parent);
    request.hasRemember = remember != nullptr;
    request.remember = remember && *remember;
    request.rememberText = rememberText;
    const int id = runBox(request);
    if (remember)
        *remember = request.remember;
    return id;
}

int KelUi::textInputBox(QString message, QString title, QString& resultText, TextInputType textInputType, int icnType,
    QString b1text, QString b2text, QString b3text, QString regexp, QWidget* parent)
{
    if (!d->app->isGuiThread()) {
        int result = 0;
        if (mayWaitForGuiThread("textInputBox"))
            QMetaObject::invokeMethod(this, "textInputBox", Qt::BlockingQueuedConnection, Q_RETURN_ARG(int, result),
                Q_ARG(QString, message), Q_ARG(QString, title), Q_ARG(QString&, resultText),
                Q_ARG(TextInputType, textInputType), Q_ARG(int, icnType), Q_ARG(QString, b1text),
                Q_ARG(QString, b2text), Q_ARG(QString, b3text), Q_ARG(QString, regexp), Q_ARG(QWidget*, parent));
        return result;
    }
    KelMessageBoxRequest request = prepareBox(message, title, icnType, b1text, b2text, b3text, parent);
    request.textInput = true;
    request.textInputType = textInputType;
    request.password = textInputType == PasswordTextInput || textInputType == NotEmptyPasswordTextInput;
    request.readOnly = textInputType == ReadOnlyTextInput;
    request.allowEmpty = textInputType == AnyTextInput || textInputType == PasswordTextInput;
    request.regexp = regexp;
    request.text = resultText;
    const int id = runBox(request);
    resultText = request.text;
    return id;
}

KelWindow* KelUi::mainWindow() const { return d->window(); }

void KelUi::initMainWindow()
{
    KelWindow* window = nullptr;
    {
        QMutexLocker lock(&d->mainWindowMutex);
        if (d->mainWindow)
            return;
        window = createMainWindow();
        d->mainWindow = window;
    }
    if (window) {
        connect(
            d->app, &KelSingleApplication::messageReceived, this, &KelUi::bringMainWindowToFront, Qt::UniqueConnection);
    }
    // Also without a window: the splash then closes instead of waiting for one. The hand-over waits
    // for the window to show, so it runs outside the lock.
    if (KelSplash* splash = d->app->splash())
        splash->setMainWindowIsReady(window);
    emit mainWindowCreated(window);
}

void KelUi::bringMainWindowToFront() { KelSingleApplication::bringToFront(d->window()); }

void KelUi::showWaitCursor()
{
    if (d->waitCursorShown)
        return;
    d->waitCursorShown = true;
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    qWarning() << "UI is locked";
}

void KelUi::hideWaitCursor()
{
    if (!d->waitCursorShown)
        return;
    d->waitCursorShown = false;
    qWarning() << "UI is unlocked";
    QGuiApplication::restoreOverrideCursor();
}

bool KelUi::isWaitCursorShown() const { return d->waitCursorShown; }

QString KelUi::makeHtmlLink(const QString& url, const QString& text, int flags, const QColor& color)
{
    const QColor linkColor = color.isValid() ? color : styleLinkColor();
    // The address sits in a single-quoted attribute.
    QString href = url.toHtmlEscaped();
    href.replace(QLatin1Char('\''), QStringLiteral("&#39;"));
    QString link
        = QStringLiteral("<a href='%1' style='color: %2; %3'>%4</a>")
              .arg(href, linkColor.name(), (flags & 1) ? QStringLiteral("text-decoration: none;") : QString(), text);
    if (flags & 2)
        link = QStringLiteral("<b>") + link + QStringLiteral("</b>");
    if (flags & 4)
        link = QStringLiteral("<i>") + link + QStringLiteral("</i>");
    return link;
}

void KelUi::openLink(const QString& link) { openLinkInSuitableApp(link); }

void KelUi::showOpenError(const QString& link)
{
    messageBox(QCoreApplication::translate("Application", "An error has occurred when trying to open: \"%1\"")
                   .arg(link.toHtmlEscaped()),
        QString(), 5);
}

bool KelUi::openLinkInSuitableApp(const QString& link)
{
    const QFileInfo file(link);
    const QUrl url = file.exists() ? QUrl::fromLocalFile(file.absoluteFilePath()) : QUrl(link, QUrl::TolerantMode);
    const bool opened = QDesktopServices::openUrl(url);
    if (!opened) {
        qWarning() << "Open link in suitable app failed: " << link;
        showOpenError(link);
    }
    emit linkOpened(link);
    return opened;
}

void KelUi::watchBrowserStarts()
{
    if (d->browserLauncher)
        return;
    d->browserLauncher = new KelBrowserLauncher(this);
    connect(d->browserLauncher, &KelBrowserLauncher::failed, this, &KelUi::showOpenError);
    d->browserLauncher->install();
}

bool KelUi::openLinkInExplorer(const QString& link)
{
    if (link.isEmpty()) {
        qWarning() << "Request open link in explorer but the link is empty.";
        return false;
    }
    const QFileInfo file(link);
    if (!file.exists()) {
        qWarning() << "Request open link in explorer but the link is not exists." << link;
        return false;
    }
    if (file.isDir())
        return openLinkInSuitableApp(link);

    const QString path = file.absoluteFilePath();
    bool shown = d->revealHandler && d->revealHandler(path);
    // Without a file manager that can select files, at least open the folder that holds it.
    if (!shown)
        shown = QDesktopServices::openUrl(QUrl::fromLocalFile(file.absolutePath()));
    if (!shown) {
        emit shellExecuteFailed(link, 0);
        qWarning() << "Request open link in explorer failed." << link;
        showOpenError(link);
        return false;
    }
    emit linkOpened(link);
    return true;
}

void KelUi::startNotAnnoyingMessageTimer(const QString& text, int interval, std::function<void()> fn)
{
    if (!fn) {
        qWarning() << "Not-annoying message" << text << "has no function to run; ignored";
        return;
    }
    new NotAnnoyingMessageTimer(this, text, interval, std::move(fn));
}

void KelUi::translateTopLevelWindows()
{
    qInfo() << "Retranslate toplevel windows (call topLevelWidgets->translateUi)";
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<KelWindow*>(widget))
            window->translateUi();
    }
}

KelStyleManager* KelUi::styleManager() const { return d->styleManager; }

KelNotificationManager* KelUi::notificationManager()
{
    if (!d->notificationManager)
        d->notificationManager = new KelNotificationManager(this);
    return d->notificationManager;
}

KelPixmapCache* KelUi::iconsCache() { return ensureCache(d->iconsCache, this, "KelIconsCache"); }

KelPixmapCache* KelUi::shadowCache() { return ensureCache(d->shadowCache, this, "KelShadowCache"); }

bool KelUi::isMaintenanceMode() const { return d->maintenanceMode; }

void KelUi::setMaintenanceMode(bool value)
{
    if (d->maintenanceMode == value)
        return;
    d->maintenanceMode = value;
    emit maintenanceModeStateChanged(value);
}

QWidget* KelUi::widgetUnderMouse() const
{
    const QPoint pos
        = d->hoverWorkaround->isPositionValid() ? d->hoverWorkaround->lastGlobalPosition() : QCursor::pos();
    return QApplication::widgetAt(pos);
}

HoverLeaveWorkaround* KelUi::hoverWorkaround() const { return d->hoverWorkaround; }

int KelUi::dialogParentPolicy() const { return d->dialogParentPolicy; }

void KelUi::setDialogParentPolicy(int policy) { d->dialogParentPolicy = policy; }

void KelUi::setMessageBoxHandler(MessageBoxHandler handler) { d->messageBoxHandler = std::move(handler); }

void KelUi::setFileDialogHandler(FileDialogHandler handler) { d->fileDialogHandler = std::move(handler); }

void KelUi::setRevealHandler(RevealHandler handler) { d->revealHandler = std::move(handler); }

qint64 KelUi::msecsToNextDayChange(const QDateTime& now)
{
    const QDateTime target(now.date().addDays(1), QTime(0, 1), now.timeSpec());
    return now.msecsTo(target);
}

void KelUi::armDayChangeTimer()
{
    d->dayChangeTimer.start(int(qMax<qint64>(1, msecsToNextDayChange(QDateTime::currentDateTime()))));
}

bool KelUi::askToBecomeDefaultApp(const QString& extension, const QString& appName, bool* remember)
{
    const QString message = QCoreApplication::translate("Dialog_RegisterAppAsDefault",
        "%1 is not currently your default app to process \"%2\" files. Would you like to make it default?")
                                .arg(appName.toHtmlEscaped(), displaySuffix(extension));
    const int id = messageBox(message, QString(), 7, QCoreApplication::translate("Dialog_RegisterAppAsDefault", "NO"),
        QCoreApplication::translate("Dialog_RegisterAppAsDefault", "YES"), QString(), remember,
        QCoreApplication::translate("Dialog_RegisterAppAsDefault", "Always perform this check when starting."));
    return id == 2;
}

void KelUi::askToBecomeDefaultAppWin8(
    const QString& extension, const QString& appName, const QString& learnMoreUrl, bool* remember)
{
    const QString message = QCoreApplication::translate(
        "Dialog_RegisterAppAsDefault_Win8+", "%1 is not currently your default app to process \"%2\" files.")
                                .arg(appName.toHtmlEscaped(), displaySuffix(extension));
    const int id = messageBox(message, QString(), 6,
        QCoreApplication::translate("Dialog_RegisterAppAsDefault_Win8+", "LEARN MORE"),
        QCoreApplication::translate("Dialog_RegisterAppAsDefault_Win8+", "OK"), QString(), remember,
        QCoreApplication::translate("Dialog_RegisterAppAsDefault_Win8+", "Always perform this check when starting."));
    if (id == 1)
        openLinkInSuitableApp(learnMoreUrl);
}

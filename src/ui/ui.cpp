#include "ui.h"

#include "application.h"
#include "defaultapp.h"
#include "hotkeys.h"
#include "kellogger/tracelogger.h"
#include "mainwindow/appsettingspage/hotkeyssettingspage.h"
#include "mainwindow/mainwindow.h"
#include "metrics/metricsender.h"
#include "servicemode/servicemodewindow.h"
#include "styles/animatedicons.h"
#include "styles/daystyle.h"
#include "styles/kelstylemanager.h"
#include "styles/nightstyle.h"
#include "styles/sepiastyle.h"
#include "utils/kellayoututils.h"
#include "utils/kelpixmapcache.h"
#include "widgets/dragicon.h"
#include "widgets/kelbutton.h"
#include "widgets/kelframe.h"
#include "widgets/kellabel.h"
#include "widgets/kellineedit.h"
#include "windows/keldialog.h"
#include "windows/kelmessagebox.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPointer>

namespace {

QString translated(const char* context, const char* text, int n = -1)
{
    return QCoreApplication::translate(context, text, nullptr, n);
}

} // namespace

class Ui::Private {
public:
    QString readAboutUrl;
    QPointer<DragIcon> dragIcon;
    KelPixmapCache* thumbCache = nullptr;
    QPointer<ServiceModeWindow> serviceModeWindow;
};

Ui::Ui(KelApplication* app)
    : KelUi(app)
    , d(new Private)
{
    TraceLogger trace(Q_FUNC_INFO, QStringLiteral("Create UI controller"));
}

Ui::~Ui()
{
    TraceLogger trace(Q_FUNC_INFO, QStringLiteral("Delete UI controller"));
    delete d->dragIcon.data();
    delete d;
    d = nullptr;
}

Ui* Ui::instance() { return qobject_cast<Ui*>(KelUi::instance()); }

void Ui::init()
{
    TraceLogger trace(Q_FUNC_INFO, QStringLiteral("Init UI controller"));
    KelStyleManager* manager = KelStyleManager::instance();
    auto* day = new DayStyle(this);
    manager->addStyle(day);
    manager->addStyle(new NightStyle(this));
    manager->addStyle(new SepiaStyle(this));
    manager->restoreLastStyle(day->id());
    AnimatedIcons::registerIcons();
    watchBrowserStarts();
}

KelWindow* Ui::createMainWindow()
{
    TraceLogger trace(Q_FUNC_INFO, QStringLiteral("Create main window"));
    return new MainWindow(nullptr);
}

QString Ui::formatMessage(const QString& body, const QString& heading)
{
    const bool hasHeading = !heading.isEmpty() && heading != QLatin1String(" ");
    const QString endGap = QStringLiteral("<span style='font-size:%1px;'><br>&nbsp;</span>").arg(5);
    QString result;
    if (hasHeading && !body.isEmpty()) {
        result = QStringLiteral("<span style='font-size:%1px; font-weight:%2;'>%3</span>").arg(16).arg(600).arg(heading)
            + QStringLiteral("<span style='font-size:%1px;'><br>&nbsp;<br></span>").arg(9) + body + endGap;
    } else if (!hasHeading && body.isEmpty()) {
        qCritical() << "Invalid params! Message and title both are empty.";
    } else {
        result = (body.isEmpty() ? heading : body) + endGap;
    }
    return result.replace(QLatin1String("\n"), QLatin1String("<br>"));
}

int Ui::showMessage(const QString& text, int icon, const QString& b1, const QString& b2)
{
    // A single blank hides the caption; an empty one would show the application name.
    return messageBox(
        text, QStringLiteral(" "), icon, b1, b2, QString(), nullptr, QString(), QApplication::activeWindow());
}

bool Ui::askDeleteBookFromTrash(const QString& title)
{
    const char* c = "Dialog_DeleteBook_FromTrash";
    const QString text = formatMessage(translated(c,
                                           "This action will clear cached book data.\nAll your files are still leaved "
                                           "on the disk.\nBook: %1")
                                           .arg(title.toHtmlEscaped()),
        translated(c, "Are you sure you want to delete this book?"));
    return showMessage(text, 7, translated(c, "Yes"), translated(c, "No")) == 1;
}

bool Ui::askEmptyTrash()
{
    const char* c = "Dialog_EmptyTrash";
    const QString text = formatMessage(translated(c,
                                           "This action will only clear application data, including internal cache, "
                                           "book preferences and reading progress.\nAll your files are still leaved on "
                                           "the disk."),
        translated(c, "Are you sure you want to clear trash?"));
    return showMessage(text, 7, translated(c, "Yes"), translated(c, "No")) == 1;
}

bool Ui::askClearLibrary()
{
    const char* c = "Dialog_ClearLibrary";
    const QString text = formatMessage(translated(c,
                                           "This action will move your books to \"Deleted\" folder.\nAll your files "
                                           "are still leaved on the disk."),
        translated(c, "Are you sure you want to clear library?"));
    return showMessage(text, 7, translated(c, "No"), translated(c, "Yes")) == 2;
}

bool Ui::askOpenExternalLink()
{
    const char* c = "Dialog_OpenExternalLink";
    return showMessage(formatMessage(translated(c, "Open this link in external browser?")), 7, translated(c, "No"),
               translated(c, "Yes"))
        == 2;
}

bool Ui::askDeleteCategory()
{
    const char* c = "Dialog_DeleteCategory";
    return showMessage(formatMessage(translated(c, "Are you sure you want to delete this folder?")), 7,
               translated(c, "No"), translated(c, "Yes"))
        == 2;
}

bool Ui::showBookAdded()
{
    const char* c = "Dialog_BookAdded";
    return showMessage(
               formatMessage(translated(c, "Book added!")), 6, translated(c, "OK"), translated(c, "Start reading now"))
        == 2;
}

void Ui::showBooksAdded(int count)
{
    const char* c = "Dialog_BookAdded";
    showMessage(formatMessage(translated(c, "%n books added!", count)), 6, translated(c, "OK"));
}

void Ui::showBookExists(const QString& name)
{
    const char* c = "Dialog_BookExists";
    showMessage(formatMessage(translated(c, "The document %1 has already been added").arg(name.toHtmlEscaped())), 6,
        translated(c, "Ok"));
}

void Ui::showBooksExported(int count)
{
    const char* c = "Dialog_BookExported";
    showMessage(formatMessage(translated(c, "%n books exported!", count)), 6, translated(c, "Ok"));
}

void Ui::showBooksNotExported(checkedsave::Failure failure, const QString& archive)
{
    showMessage(formatMessage(translated("Dilog_Errors", "%1. The books were not exported.")
                                  .arg(storageCauseText(failure, archive).toHtmlEscaped())),
        5);
}

void Ui::showBooksImported(int count)
{
    const char* c = "Dialog_BookImported";
    showMessage(formatMessage(translated(c, "%n books imported!", count)), 6, translated(c, "Ok"));
}

void Ui::showBookDamaged()
{
    showMessage(formatMessage(translated("Dilog_Errors", "Ebook file is damaged. Book can not be opened.")), 5);
}

QString Ui::storageCauseText(checkedsave::Failure failure, const QString& path)
{
    const char* c = "Dilog_Errors";
    switch (failure) {
    case checkedsave::Failure::NotWritable: {
        QFileInfo info(path);
        while (!info.exists() && info.absolutePath() != info.absoluteFilePath())
            info = QFileInfo(info.absolutePath());
        const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
        return translated(c, "The folder %1 cannot be written").arg(QDir::toNativeSeparators(folder));
    }
    case checkedsave::Failure::DiskFull:
        return translated(c, "The disk is full");
    default:
        return translated(c, "The file %1 cannot be written").arg(QDir::toNativeSeparators(path));
    }
}

void Ui::showStorageFailure(checkedsave::Failure failure, const QString& path, bool opening)
{
    const char* text = opening ? "%1. Book can not be opened." : "%1. Book can not be added.";
    showMessage(
        formatMessage(translated("Dilog_Errors", text).arg(storageCauseText(failure, path).toHtmlEscaped())), 5);
}

void Ui::showSeveralBooksInArchive(const QString& path)
{
    showMessage(
        formatMessage(translated("Dilog_Errors", "The archive %1 holds more than one book. Add the books one by one.")
                          .arg(QDir::toNativeSeparators(path).toHtmlEscaped())),
        5);
}

void Ui::showNotesNotSaved(checkedsave::Failure failure, const QString& path)
{
    showMessage(formatMessage(translated("Dilog_Errors", "The notes and bookmarks of the book could not be saved: %1.")
                                  .arg(storageCauseText(failure, path).toHtmlEscaped())),
        5);
}

void Ui::showNotesUnreadable(const QString& keptCopy)
{
    showMessage(formatMessage(translated("Dilog_Errors",
                    "The notes and bookmarks of the book could not be read. The damaged file is kept as %1.")
                                  .arg(QDir::toNativeSeparators(keptCopy).toHtmlEscaped())),
        5);
}

void Ui::showBookPartlyUnpacked(checkedsave::Failure failure, const QString& folder)
{
    showMessage(formatMessage(translated("Dilog_Errors",
                    "Part of the book could not be unpacked: %1. The chapters left out are unpacked the next "
                    "time the book is opened.")
                                  .arg(storageCauseText(failure, folder).toHtmlEscaped())),
        5);
}

void Ui::showSettingsNotSaved(checkedsave::Failure failure, const QString& path)
{
    showMessage(formatMessage(translated(
                    "Dilog_Errors", "The settings could not be saved: %1. Changes to them last until the program ends.")
                                  .arg(storageCauseText(failure, path).toHtmlEscaped())),
        5);
}

void Ui::showBookProtected()
{
    showMessage(formatMessage(translated("Dilog_Errors", "Book file is protected. Book can not be opened.")), 5);
}

void Ui::showArchivedBookUnsupported(const QString& reason)
{
    showMessage(
        formatMessage(translated("Dilog_Errors", "The archive can not be added: %1.").arg(reason.toHtmlEscaped())), 5);
}

void Ui::showBooksRefused(const QStringList& lines)
{
    // A long list is cut: the log names every file.
    const int shown = 15;
    QStringList items;
    for (const QString& line : lines.mid(0, shown))
        items << line.toHtmlEscaped();
    if (lines.size() > shown)
        items << translated("Dilog_Errors", "and %n more", int(lines.size() - shown));
    const QString heading = lines.size() == 1
        ? translated("Dilog_Errors", "One file could not be added")
        : translated("Dilog_Errors", "%n files could not be added", int(lines.size()));
    showMessage(formatMessage(items.join(QStringLiteral("<br>")), heading), 5);
}

void Ui::showBookNotFound(const QString& path)
{
    showMessage(formatMessage(translated(
                    "Dilog_Errors", "The file you are trying to open was not found by the following path: %1")
                                  .arg(path.toHtmlEscaped())),
        5);
}

void Ui::showPrinterDisconnected(const QString& name)
{
    showMessage(
        formatMessage(translated("Dilog_Errors", "Printer \"%1\" was disconnected").arg(name.toHtmlEscaped())), 5);
}

void Ui::showReadingAloudUnavailable()
{
    showMessage(formatMessage(translated("Dilog_Errors",
                    "Reading aloud is not available: no speech service answers. Check that a speech engine is "
                    "installed and running.")),
        5);
}

void Ui::showReadingAloudFailed()
{
    showMessage(formatMessage(translated("Dilog_Errors",
                    "Reading aloud stopped: the speech engine could not speak the text. Check the sound output.")),
        5);
}

bool Ui::askPassword(const QString& fileName, const std::function<bool(const QString&)>& validator)
{
    const char* c = "Dialog_Password";
    KelMessageBox box(mainWindow());
    box.setObjectName(QStringLiteral("PasswordBox"));
    box.setText(
        formatMessage(translated(c, "File %1 is protected for reading with password").arg(fileName.toHtmlEscaped())));
    auto* edit = new KelLineEdit(31, &box);
    edit->setObjectName(QStringLiteral("PasswordEdit"));
    edit->setEchoMode(QLineEdit::Password);
    edit->setMaxLength(255);
    // The field's own rule below enables Unlock, which is not the box's default button.
    box.addContentWidget(edit, true);

    auto* cancel = new KelButton(19, &box);
    cancel->setObjectName(QStringLiteral("Cancel"));
    cancel->setText(translated(c, "Cancel"));
    auto* unlock = new KelButton(20, &box);
    unlock->setObjectName(QStringLiteral("Unlock"));
    unlock->setText(translated(c, "Unlock"));
    unlock->setEnabled(false);
    box.addButton(1, cancel);
    // Unlock closes the box only for an accepted password, so it is not a closing footer button.
    if (QBoxLayout* footer = box.footerLayout())
        footer->addWidget(unlock);

    bool accepted = false;
    connect(edit, &QLineEdit::textChanged, &box, [edit, unlock](const QString& text) {
        edit->hideError();
        unlock->setEnabled(!text.isEmpty());
    });
    connect(unlock, &KelButton::clicked, &box, [&] {
        if (!unlock->isEnabled())
            return;
        if (validator && validator(edit->text())) {
            accepted = true;
            box.done(2);
        } else {
            edit->showError(translated(c, "Wrong password!"));
        }
    });
    // Return unlocks; a focus change alone must not try the text (pressing Cancel would unlock).
    connect(edit, &QLineEdit::returnPressed, unlock, &KelButton::clicked);
    edit->setFocus();
    box.exec();
    return accepted;
}

void Ui::showHotkeysDialog()
{
    const char* c = "MainWindow_Settings_Hotkeys";
    KelDialog* dialog = new KelDialog(QApplication::activeWindow());
    dialog->setObjectName(QStringLiteral("HotkeysDialog"));
    QBoxLayout* content = KelUtils::vBoxLayout(dialog->contentWidget(), QMargins(16, 16, 16, 16), 12);
    auto* page = new HotkeysSettingsPage(false, dialog->contentWidget());
    page->retranslateUi();
    content->addWidget(page);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    auto* ok = new KelButton(1009, dialog->contentWidget());
    ok->setObjectName(QStringLiteral("OK"));
    ok->setText(translated(c, "OK"));
    row->addWidget(ok);
    content->addLayout(row);
    connect(ok, &KelButton::clicked, dialog, [dialog] { dialog->done(0); });
    QPointer<KelDialog> guard(dialog);
    dialog->exec();
    delete guard.data();
}

bool Ui::handleHotkey(QKeyEvent* event)
{
    if (Hotkeys::matches(event, Hotkeys::Id::Show_HotkeysHint)) {
        // After the key event: the dialog runs its own loop.
        QMetaObject::invokeMethod(this, &Ui::showHotkeysDialog, Qt::QueuedConnection);
        return true;
    }
    if (Hotkeys::matches(event, Hotkeys::Id::Switch_Theme)) {
        KelStyleManager* manager = KelStyleManager::instance();
        const QList<KelStyle*> styles = manager->styles();
        if (!styles.isEmpty()) {
            const int current = styles.indexOf(manager->currentStyle());
            manager->setCurrentStyle(styles.at((current + 1) % styles.size())->id());
        }
        return true;
    }
    return false;
}

void Ui::showNewVersionDialog(const QString& version, const QString& readAboutUrl, const QString& downloadUrl)
{
    const char* c = "Dialog_Update";
    d->readAboutUrl = readAboutUrl;
    const QString text
        = translated(c, "New version of the program is available: <b>%1</b>.").arg(version.toHtmlEscaped())
        + QStringLiteral("<br>") + translated(c, "Read about") + QLatin1Char(' ')
        + makeHtmlLink(readAboutUrl, translated(c, "new features"), 0, QColor());
    const int id = messageBox(text, translated(c, "Update available!"), 0, translated(c, "CANCEL"),
        translated(c, "DOWNLOAD"), QString(), nullptr, QString(), QApplication::activeWindow());
    if (id == 2) {
        openLinkInSuitableApp(downloadUrl);
        MetricSender::addMetricValue(QStringLiteral("upd"), 1);
    }
}

bool Ui::askToBecomeDefaultApp(const QString& extension, const QString& appName, bool* remember)
{
    if (!KelUi::askToBecomeDefaultApp(extension, appName, remember))
        return false;
    QString error;
    if (!DefaultApp::registerFor(extension, &error)) {
        qWarning() << "Can't become the default application for" << extension << error;
        showMessage(
            formatMessage(translated("Dialog_RegisterAppAsDefault", "Could not make the application the default: %1")
                              .arg(error.toHtmlEscaped())),
            5);
    }
    return true;
}

void Ui::openLink(const QString& url)
{
    if (!d->readAboutUrl.isEmpty() && url == d->readAboutUrl)
        MetricSender::addMetricValue(QStringLiteral("updf"), 1);
    KelUi::openLink(url);
}

void Ui::openChangelog()
{
    if (Application* app = Application::instance())
        openLinkInSuitableApp(app->changelogUrl());
}

void Ui::openHelp()
{
    if (KelApplication* app = KelApplication::instance())
        openLinkInSuitableApp(app->manualUrl());
}

void Ui::showServiceModeWindow()
{
    if (!d->serviceModeWindow) {
        d->serviceModeWindow = new ServiceModeWindow(mainWindow());
        // Closing ends the window, so its tab and geometry are stored and the next request builds it afresh.
        d->serviceModeWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    d->serviceModeWindow->showAndActivate();
}

DragIcon* Ui::dragIcon()
{
    if (!d->dragIcon)
        d->dragIcon = new DragIcon(nullptr);
    return d->dragIcon;
}

KelPixmapCache* Ui::thumbCache()
{
    if (!d->thumbCache) {
        d->thumbCache = new KelPixmapCache(this);
        d->thumbCache->setObjectName(QStringLiteral("ThumbCache"));
        d->thumbCache->setCacheLimit(100);
    }
    return d->thumbCache;
}

#pragma once

#include "checkedsave.h"
#include "kelui.h"

#include <functional>

class DragIcon;
class KelPixmapCache;

// The application's UI controller: registers the profiles, makes the main window, keeps the
// application's message texts and formats them one way, answers the application-wide hotkeys and
// owns the shared drag icon and thumbnail cache. Texts from books and the file system (titles,
// file names, paths, printer names) are escaped before they enter a rich-text box.
class Ui : public KelUi {
    Q_OBJECT

public:
    explicit Ui(KelApplication* app);
    ~Ui() override;

    static Ui* instance();

    void init() override;

    static QString formatMessage(const QString& body, const QString& heading = QString());

    bool askDeleteBookFromTrash(const QString& title);
    bool askEmptyTrash();
    bool askClearLibrary();
    bool askOpenExternalLink();
    bool askDeleteCategory();
    bool showBookAdded();
    void showBooksAdded(int count);
    void showBookExists(const QString& name);
    void showBooksExported(int count);
    // The library archive could not be written: the cause, and that no book was exported.
    void showBooksNotExported(checkedsave::Failure failure, const QString& archive);
    void showBooksImported(int count);
    void showBookDamaged();
    // A book or its data could not be written: the cause instead of "damaged".
    void showStorageFailure(checkedsave::Failure failure, const QString& path, bool opening = true);
    void showSeveralBooksInArchive(const QString& path);
    void showNotesNotSaved(checkedsave::Failure failure, const QString& path);
    void showNotesUnreadable(const QString& keptCopy);
    void showBookPartlyUnpacked(checkedsave::Failure failure, const QString& folder);
    void showSettingsNotSaved(checkedsave::Failure failure, const QString& path);
    // "The disk is full", "The folder ... cannot be written": the cause in the user's words.
    static QString storageCauseText(checkedsave::Failure failure, const QString& path);
    void showBookProtected();
    // A 7z archive whose book cannot be read from it; reason says which book it holds.
    void showArchivedBookUnsupported(const QString& reason);
    void showBookNotFound(const QString& path);
    // The files an import left out: their number, and one "name: reason" line each (plain text).
    void showBooksRefused(const QStringList& lines);
    void showPrinterDisconnected(const QString& name);
    // No speech engine could be made (no service answered, no engine installed).
    void showReadingAloudUnavailable();
    // Reading aloud stopped because the engine could not speak.
    void showReadingAloudFailed();

    // Asks for the password of a protected file until the validator accepts one; false when the
    // box was closed without an accepted password.
    bool askPassword(const QString& fileName, const std::function<bool(const QString&)>& validator);

    void showNewVersionDialog(const QString& version, const QString& readAboutUrl, const QString& downloadUrl) override;
    // The toolkit's prompt; a YES also makes the reader the system's handler of the extension.
    bool askToBecomeDefaultApp(const QString& extension, const QString& appName, bool* remember) override;

    // Whether the key was an application-wide hotkey (handled or posted).
    bool handleHotkey(QKeyEvent* event);

    DragIcon* dragIcon();
    KelPixmapCache* thumbCache();

public slots:
    void showHotkeysDialog();
    void openLink(const QString& url) override;
    void openChangelog();
    void openHelp();
    void showServiceModeWindow();

protected:
    KelWindow* createMainWindow() override;

private:
    int showMessage(const QString& text, int icon, const QString& b1 = QString(), const QString& b2 = QString());

    class Private;
    Private* d;
};

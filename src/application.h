#pragma once

#include "kelapplication.h"

#include <QFuture>
#include <QStringList>

#include <functional>
#include <memory>

class BookModel;
class BookSortFilterModel;
class DataExchangeSvc;
class FolderModel;
class QLockFile;
class SpeechEngine;
class SpeechService;

// The reader's application object: opens the library and its models, makes the UI controller
// and the main window, reports run metrics, writes the system report, wires the update check and
// owns the speech engine and the page-counting service.
class Application : public KelApplication {
    Q_OBJECT

public:
    Application(int& argc, char** argv);
    // appId picks the single-instance group (tests run beside a real instance).
    Application(const QString& appId, int& argc, char** argv);
    ~Application() override;

    static Application* instance();

    bool init() override;

    // Starts making the speech engine and returns at once: the service is asked off the GUI
    // thread; speechService() tells when the engine is ready or unavailable. After Unavailable it
    // asks again.
    void initTts();
    // The speech engine once it is ready, else null.
    SpeechEngine* textToSpeech() const;
    SpeechService* speechService() const;
    // The page-counting service, made and started on first use.
    DataExchangeSvc* dataExchangeSvc();

    BookModel* bookModel() const;
    BookSortFilterModel* bookSortFilterModel() const;
    FolderModel* folderModel() const;

    // Writes the system report on a pool thread unless a fresh one exists; the future ends with it.
    QFuture<void> runDxDiagGeneration();
    void sendRunMetrics();
    void initUpdateChecker(
        const QString& productId, const QString& checkUrl, const QString& changelogUrl, const QString& downloadUrl);
    QString changelogUrl() const;

    QString deviceId() const;
    void setDeviceId(const QString& id);
    void setSendMetrics(bool enabled);

    // The hand-over text of a command line: book arguments made absolute, all joined with "|".
    static QString handOverMessage(const QStringList& arguments);
    // The book files of a hand-over text: absolute paths of anything but a folder (a missing or
    // unreadable file is kept, so that the library can say it was not added), never the program
    // or an option.
    static QStringList filesFromMessage(const QString& message);
    // Logs the files of a command line or hand-over text and announces them at once, also while a
    // box is open: what they bring is stored then, and only a question about it waits.
    void receiveFiles(const QString& message);
    // Whether a box is open or another local loop runs under a caller: then what would open a box
    // of its own or another book waits.
    static bool boxIsOpen();
    // Runs fn at once when no box is open, else from the event loop once the last one is answered,
    // in the order asked; nothing when context is gone by then.
    void runWhenNoBoxIsOpen(QObject* context, std::function<void()> fn);

    // The library belongs to one instance at a time: the lock beside its database is held for the
    // whole run. Only a dead owner makes it stale, so a stopped or busy instance keeps it. Null when
    // another live instance holds the library. A lock that cannot be made at all (a folder that
    // cannot be written), or one left by a process that no longer runs that cannot be removed, is
    // no sign of another instance: the run goes on with an unlocked one, and the library reports
    // its own errors.
    static std::unique_ptr<QLockFile> lockLibrary(const QString& databasePath);

signals:
    void updateAvalible();
    void filesReceived(QStringList files);

protected:
    KelUi* createUi() override;

private:
    void setUp();
    void restoreLibraryView();
    void connectReadingServices();
    void onSpeechReady();
    void runWaiting();
    void watchForIdle(bool on);

    class Private;
    Private* d;
};

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

    // The hand-over text of a command line: its arguments as a JSON array, so that any character a
    // file name holds arrives as it was; book arguments made absolute and clean. An argument that
    // starts with "-" is an option unless a file of that name exists or it follows "--".
    static QString handOverMessage(const QStringList& arguments);
    // The book files of a hand-over text: absolute paths of anything but a folder (a missing or
    // unreadable file is kept, so that the library can say it was not added), never the program
    // or an option. A text that is no JSON array is read as older starts wrote it, joined by "|".
    static QStringList filesFromMessage(const QString& message);
    // Whether the command line holds the option itself (not a file name that contains it).
    static bool hasOption(const QStringList& arguments, const QString& option);
    // The files of a command line or hand-over text, recorded in the library as an act of their
    // own, then announced (handOverRecorded), also while a box is open: what they bring is stored
    // then, and only a question about it waits. Where the library cannot keep them, the files of
    // this start's own command line are announced as they are (filesReceived).
    void receiveFiles(const QString& message);
    // Records the files of a hand-over text before its sender is answered; false with the reason
    // when the library cannot keep them (the sender then says so and the person is told here).
    bool recordHandOver(const QString& message, QString* reason);
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
    // The library's record of hand-overs holds a new act; the library page takes it from there.
    void handOverRecorded();

protected:
    KelUi* createUi() override;

private:
    void setUp();
    void restoreLibraryView();
    void connectReadingServices();
    void onSpeechReady();
    void runWaiting();
    void watchForIdle(bool on);
    void onMessageReceived(const QString& message);
    // Records the files as the next act; false with the reason when the library cannot keep them.
    bool keepFiles(const QStringList& files, QString* reason);

    class Private;
    Private* d;
};

#include "application.h"

#include "appdirs.h"
#include "dataexchangesvc.h"
#include "eventloops/nestedloop.h"
#include "kellogger/kellogger.h"
#include "kellogger/tracelogger.h"
#include "kelui.h"
#include "metrics/hardwaremetricsbuilder.h"
#include "metrics/metricsender.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "models/booksortfiltermodel.h"
#include "models/foldermodel.h"
#include "models/librarymessagebox.h"
#include "passwordprompt.h"
#include "readingservices.h"
#include "settingsprovider.h"
#include "speechengine.h"
#include "speechservice.h"
#include "systemreport.h"
#include "ui/ui.h"
#include "updater/updater.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QLockFile>
#include <QPointer>
#include <QRandomGenerator64>
#include <QSaveFile>
#include <QSettings>
#include <QSysInfo>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent>

#include <cerrno>
#include <cmath>
#include <memory>

#include <signal.h>

class Application::Private {
public:
    QString deviceId;
    QString changelogUrl;
    QString downloadUrl;
    BookModel* bookModel = nullptr;
    BookSortFilterModel* bookSortFilterModel = nullptr;
    FolderModel* folderModel = nullptr;
    SpeechService* speech = nullptr;
    // The speech settings are followed by the engine of the moment.
    bool settingsFollowed = false;
    DataExchangeSvc* dataExchangeSvc = nullptr;
    std::shared_ptr<Updater> updater;
    bool updateCheckStarted = false;
    // What waits for the open box to be answered, oldest first.
    QList<QPair<QPointer<QObject>, std::function<void()>>> waiting;
    QMetaObject::Connection idleWatch;
    // The act number the next hand-over gets in the library's record.
    int nextHandOverAct = 1;
    // The message the recorder has just kept, which its announcement must not record again.
    QString recorded;
    bool hasRecorded = false;
};

Application::Application(int& argc, char** argv)
    : KelApplication(argc, argv)
    , d(new Private)
{
    setUp();
}

Application::Application(const QString& appId, int& argc, char** argv)
    : KelApplication(appId, argc, argv)
    , d(new Private)
{
    setUp();
}

void Application::setUp()
{
    connect(this, &KelSingleApplication::messageReceived, this, &Application::onMessageReceived);
    // A hand-over is answered only once the library has kept it, so until the library is open
    // messages wait unanswered.
    holdMessages(true);
    setMessageRecorder([this](const QString& message, QString* reason) { return recordHandOver(message, reason); });
    // Queued: the box's caller returns first.
    connect(NestedLoop::instance(), &NestedLoop::ended, this, &Application::runWaiting, Qt::QueuedConnection);
    d->speech = new SpeechService(this);
    connect(d->speech, &SpeechService::statusChanged, this, [this](SpeechService::Status status) {
        if (status == SpeechService::Status::Ready) {
            onSpeechReady();
        } else if (status == SpeechService::Status::Unavailable) {
            qWarning() << "TTS subsystem initialization failed!!!" << d->speech->error();
            ReadingServices::setTextToSpeech(nullptr);
        }
    });
}

Application::~Application()
{
    {
        TraceLogger trace(Q_FUNC_INFO, QStringLiteral("Quit app"));
        // Only a helper that was started needs the stop message; starting one to stop it is waste.
        if (d->dataExchangeSvc)
            d->dataExchangeSvc->stopHandler();
        // While the application is whole: its engine gets a short bound to close, or is left.
        delete d->speech;
        d->speech = nullptr;
    }
    delete d;
    d = nullptr;
}

Application* Application::instance() { return qobject_cast<Application*>(QCoreApplication::instance()); }

KelUi* Application::createUi() { return new Ui(this); }

bool Application::init()
{
    TraceLogger trace(Q_FUNC_INFO, QStringLiteral("Init app"));
    const QString dbPath = databasePath();
    BookProvider* library = BookProvider::instance();
    library->createConnection(dbPath, legacyDatabasePath());
    // What earlier runs were handed over and did not store is one act of this run's start.
    const int leftover = library->lastHandOverAct();
    if (leftover > 0)
        library->mergeHandOvers(leftover);
    d->nextHandOverAct = leftover + 1;
    holdMessages(false);

    d->folderModel = new FolderModel(this);
    d->folderModel->setObjectName(QStringLiteral("Folders"));
    d->folderModel->reload();
    NestedLoop::processEvents();

    d->bookModel = new BookModel(this);
    d->bookModel->setObjectName(QStringLiteral("Books"));
    d->bookModel->setFolderModel(d->folderModel);
    d->bookModel->selectAll();
    NestedLoop::processEvents();

    d->bookSortFilterModel = new BookSortFilterModel(this);
    d->bookSortFilterModel->setObjectName(QStringLiteral("BooksSortFilter"));
    d->bookSortFilterModel->setSourceModel(d->bookModel);
    NestedLoop::processEvents();

    restoreLibraryView();
    NestedLoop::processEvents();
    connectReadingServices();
    ui()->initMainWindow();
    // With a splash the splash shows the window when its time is up.
    if (!splash() && ui()->mainWindow())
        ui()->mainWindow()->showAndActivate();
    return true;
}

// The reading core reaches the library, the page counter, the speech engine and the password
// box only through these seams; without them a book opens with no page numbers, no progress in
// the library and no password prompt.
void Application::connectReadingServices()
{
    ReadingServices::setBookModel(d->bookModel);
    ReadingServices::setDataExchangeSvc(dataExchangeSvc());
    ReadingServices::setTextToSpeech(textToSpeech());
    // Queued: a save at the close of a book runs inside the reading page's teardown.
    ReadingServices::setStorageNoticeHandler(
        [this](ReadingServices::StorageNotice notice, const QString& path, checkedsave::Failure failure) {
            QMetaObject::invokeMethod(
                this,
                [notice, path, failure] {
                    Ui* ui = Ui::instance();
                    if (!ui)
                        return;
                    switch (notice) {
                    case ReadingServices::NotesNotSaved:
                        ui->showNotesNotSaved(failure, path);
                        break;
                    case ReadingServices::NotesUnreadable:
                        ui->showNotesUnreadable(path);
                        break;
                    case ReadingServices::BookPartlyUnpacked:
                        ui->showBookPartlyUnpacked(failure, path);
                        break;
                    case ReadingServices::SettingsNotSaved:
                        ui->showSettingsNotSaved(failure, path);
                        break;
                    }
                },
                Qt::QueuedConnection);
        });
    // A settings file that does not take a change is told like a book's files, once per cause.
    if (SettingsProvider* settings = SettingsProvider::instance()) {
        connect(
            settings, &SettingsProvider::written, this, [path = settings->fileName()](checkedsave::Failure failure) {
                if (failure == checkedsave::Failure::None)
                    ReadingServices::storageSaved(ReadingServices::SettingsNotSaved, path);
                else
                    ReadingServices::notifyStorage(ReadingServices::SettingsNotSaved, path, failure);
            });
    }
    setPasswordPrompt([](const QString& fileName, const PasswordValidator& validator) {
        Ui* ui = Ui::instance();
        return ui && ui->askPassword(fileName, validator);
    });
}

void Application::restoreLibraryView()
{
    SettingsProvider* settings = SettingsProvider::instance();
    BookSortFilterModel* proxy = d->bookSortFilterModel;
    int category = settings ? int(settings->library_category()) : int(Enums::AllBooks);
    // A folder deleted since (its id may come back with a new folder) is no category to show.
    if (category > Enums::MaxBookFormat && !d->folderModel->indexById(category - Enums::MaxBookFormat).isValid())
        category = Enums::AllBooks;
    proxy->setFilterCategory(category);
    // Also when the recently-read category shows its own sort: leaving it brings the saved one.
    if (settings)
        proxy->setUserSort(settings->library_sort_column(), settings->library_sort_order());

    connect(proxy, &BookSortFilterModel::filterCategoryChanged, this, [proxy] {
        SettingsProvider* settings = SettingsProvider::instance();
        if (settings && proxy->filterCategory() != Enums::AppSettings)
            settings->setLibrary_category(Enums::BookCategory(proxy->filterCategory()));
    });
    // The folder shown was deleted: the library shows all books instead of a filter by nothing.
    FolderModel* folders = d->folderModel;
    auto leaveDeletedFolder = [proxy, folders] {
        const int category = proxy->filterCategory();
        if (category > Enums::MaxBookFormat && !folders->indexById(category - Enums::MaxBookFormat).isValid())
            proxy->setFilterCategory(Enums::AllBooks);
    };
    connect(folders, &QAbstractItemModel::rowsRemoved, this, leaveDeletedFolder);
    connect(folders, &QAbstractItemModel::modelReset, this, leaveDeletedFolder);
    // Only the user's own choice is saved, never a category's sort.
    connect(proxy, &QAbstractItemModel::layoutChanged, this, [proxy] {
        SettingsProvider* settings = SettingsProvider::instance();
        if (!settings)
            return;
        settings->setLibrary_sort_column(proxy->userSortColumn());
        settings->setLibrary_sort_order(proxy->userSortOrder());
    });
}

BookModel* Application::bookModel() const { return d->bookModel; }

BookSortFilterModel* Application::bookSortFilterModel() const { return d->bookSortFilterModel; }

FolderModel* Application::folderModel() const { return d->folderModel; }

SpeechEngine* Application::textToSpeech() const { return d && d->speech ? d->speech->engine() : nullptr; }

SpeechService* Application::speechService() const { return d ? d->speech : nullptr; }

DataExchangeSvc* Application::dataExchangeSvc()
{
    if (!d->dataExchangeSvc) {
        d->dataExchangeSvc = new DataExchangeSvc(this);
        d->dataExchangeSvc->startHandler();
    }
    return d->dataExchangeSvc;
}

void Application::initTts()
{
    if (!d || !d->speech)
        return;
    const SpeechService::Status status = d->speech->status();
    if (status == SpeechService::Status::Connecting || status == SpeechService::Status::Ready) {
        qWarning() << "TTS subsystem already initialized!!!";
        return;
    }
    SettingsProvider* settings = SettingsProvider::instance();
    d->speech->start(settings ? settings->value(QStringLiteral("ttsEngine")).toString() : QString());
}

// The saved choices reach the engine when it is made and whenever they change. Each is posted to
// the engine's thread, in order: the voice is looked up among those of the locale set before it.
void Application::onSpeechReady()
{
    SpeechEngine* engine = d->speech->engine();
    ReadingServices::setTextToSpeech(engine);
    SettingsProvider* settings = SettingsProvider::instance();
    if (!engine || !settings)
        return;
    qInfo() << "TTS: Initial state:" << engine->locale().name() << engine->voice().name() << "vol:" << engine->volume()
            << "rate:" << engine->rate() << "pitch:" << engine->pitch();
    engine->setLocale(QLocale(settings->ttsLocaleName()));
    if (!settings->ttsVoiceName().isEmpty())
        engine->setVoice(settings->ttsVoiceName());
    engine->setVolume(settings->ttsVolume());
    engine->setRate(settings->ttsRate());
    engine->setPitch(std::round(settings->ttsPitch() * 10) / 10);
    // An engine made again after a failure follows the same connections.
    if (d->settingsFollowed)
        return;
    d->settingsFollowed = true;

    connect(settings, &SettingsProvider::ttsLocaleNameChanged, this, [this](const QString& name) {
        SpeechEngine* tts = textToSpeech();
        if (!tts)
            return;
        qInfo() << "TTS: change locale to" << QLocale(name);
        tts->setLocale(QLocale(name));
    });
    connect(settings, &SettingsProvider::ttsVoiceNameChanged, this, [this](const QString& name) {
        SpeechEngine* tts = textToSpeech();
        if (!tts)
            return;
        qInfo() << "TTS: change voice to" << name;
        tts->setVoice(name);
    });
    connect(settings, &SettingsProvider::ttsVolumeChanged, this, [this](double value) {
        SpeechEngine* tts = textToSpeech();
        if (!tts)
            return;
        qInfo() << "TTS: change volume to" << value;
        tts->setVolume(value);
    });
    connect(settings, &SettingsProvider::ttsPitchChanged, this, [this](double value) {
        SpeechEngine* tts = textToSpeech();
        if (!tts)
            return;
        qInfo() << "TTS: change pitch to" << value;
        tts->setPitch(std::round(value * 10) / 10);
    });
    connect(settings, &SettingsProvider::ttsRateChanged, this, [this](double value) {
        SpeechEngine* tts = textToSpeech();
        if (!tts)
            return;
        qInfo() << "TTS: change rate to" << value;
        tts->setRate(value);
    });
}

QFuture<void> Application::runDxDiagGeneration()
{
    qInfo() << "Run DxDiag generation...";
    const QString path = QDir(KelLogger::logDir()).filePath(QStringLiteral("dxdiag.txt"));
    // Screens and the GL renderer are only safe to ask on the GUI thread.
    const QStringList guiFacts = SystemReport::guiFacts();
    return QtConcurrent::run(QThreadPool::globalInstance(), [path, guiFacts] {
        qInfo() << "Run DxDiag from thread pool...";
        if (SystemReport::isFresh(path, QDateTime::currentDateTime())) {
            qInfo() << "Run DxDiag tool complete. File already exists";
            return;
        }
        qInfo() << "Start system report:" << path;
        QString error;
        if (SystemReport::write(path, guiFacts, &error))
            qInfo() << "System report completed";
        else
            qWarning() << "Can't write the system report" << path << error;
    });
}

void Application::sendRunMetrics()
{
    const QStringList args = arguments();
    const QString inst = args.contains(QStringLiteral("--inst")) || args.contains(QStringLiteral("-inst"))
        ? QStringLiteral("1")
        : QStringLiteral("0");
    const QString lang = settings() ? settings()->localeName().left(2) : QString();
    if (isFirstRun()) {
        HardwareMetricsBuilder::dumpMetrics();
        qInfo().noquote() << QStringLiteral("#frun:%1:%2").arg(QLocale::system().name(), lang);
        qInfo().noquote() << QStringLiteral("#rinst:") + inst;
    } else {
        qInfo().noquote() << QStringLiteral("#lang:") + lang;
    }
    // The hash only feeds a metric: skip the whole read when nothing is sent, and keep it off the
    // GUI thread (the executable is many megabytes).
    if (!MetricSender::isEnabled())
        return;
    const quint64 r = QRandomGenerator64::global()->generate() & 0xffffffffu;
    const int delay = 1000 + int(r * 4000 / (quint64(1) << 32));
    QTimer::singleShot(delay, this, [this] {
        const QString exe = applicationFilePath();
        QtConcurrent::run(QThreadPool::globalInstance(), [exe] {
            QFile file(exe);
            if (!file.open(QIODevice::ReadOnly))
                return;
            QCryptographicHash hash(QCryptographicHash::Md5);
            if (!hash.addData(&file))
                return;
            qInfo().noquote() << QStringLiteral("#ha:") + QString::fromLatin1(hash.result().toHex());
        });
    });
}

void Application::initUpdateChecker(
    const QString& productId, const QString& checkUrl, const QString& changelogUrl, const QString& downloadUrl)
{
    d->updater = std::make_shared<Updater>(d->deviceId, productId, checkUrl, changelogUrl, downloadUrl, this);
    d->changelogUrl = changelogUrl;
    d->downloadUrl = downloadUrl;
    QPointer<KelSettings> settingsObject(settings());
    std::weak_ptr<Updater> updater = d->updater;
    auto started = std::make_shared<bool>(false);
    auto checkOnce = [settingsObject, updater, started] {
        std::shared_ptr<Updater> live = updater.lock();
        if (!live || !settingsObject || !settingsObject->updateCheckerEnabled() || *started)
            return;
        *started = true;
        live->checkForUpdates(5000);
    };
    connect(d->updater.get(), &Updater::newVersionAvalible, this,
        [this](const QString& version, const QString& second, const QString& third) {
            emit updateAvalible();
            SettingsProvider* settings = SettingsProvider::instance();
            if (settings && settings->updateCheckerShowedVersion() == version) {
                qInfo() << "Question about" << version << "was already shown";
                return;
            }
            ui()->startNotAnnoyingMessageTimer(QStringLiteral("Update message"), 10000, [version, second, third] {
                if (SettingsProvider* settings = SettingsProvider::instance())
                    settings->setUpdateCheckerShowedVersion(version);
                qInfo() << "Ask about new version";
                if (KelUi* ui = KelUi::instance())
                    ui->showNewVersionDialog(version, second, third);
            });
        });
    if (settingsObject) {
        connect(
            settingsObject.data(), &KelSettings::updateCheckerEnabledChanged, this, [checkOnce, started](bool enabled) {
                if (!enabled)
                    return;
                *started = false;
                if (SettingsProvider* settings = SettingsProvider::instance())
                    settings->setUpdateCheckerShowedVersion(QString());
                checkOnce();
            });
    }
    QTimer::singleShot(5000, this, checkOnce);
}

QString Application::changelogUrl() const { return d->changelogUrl; }

QString Application::deviceId() const { return d->deviceId; }

void Application::setDeviceId(const QString& id) { d->deviceId = id; }

void Application::setSendMetrics(bool enabled)
{
    QSettings store(organizationName(), registryAppName());
    store.setValue(MetricSender::settingKey(), enabled ? 1 : 0);
    MetricSender::setEnabled(enabled);
}

QString Application::handOverMessage(const QStringList& arguments)
{
    QJsonArray parts;
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        const bool option
            = i == 0 || arg.isEmpty() || (!optionsEnded && arg.startsWith(QLatin1Char('-')) && !QFileInfo::exists(arg));
        if (i > 0 && arg == QLatin1String("--"))
            optionsEnded = true;
        // The receiver runs in another working folder: relative book paths would point elsewhere.
        parts.append(option ? arg : QDir::cleanPath(QFileInfo(arg).absoluteFilePath()));
    }
    return QString::fromUtf8(QJsonDocument(parts).toJson(QJsonDocument::Compact));
}

QStringList Application::filesFromMessage(const QString& message)
{
    QStringList parts;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &error);
    if (error.error == QJsonParseError::NoError && document.isArray()) {
        for (const QJsonValue& part : document.array())
            parts << part.toString();
    } else {
        parts = message.split(QLatin1Char('|'));
    }
    QStringList files;
    for (int i = 1; i < parts.size(); ++i) {
        // Options stay as given; files arrive absolute.
        const QFileInfo info(parts.at(i));
        const QString path = QDir::cleanPath(info.absoluteFilePath());
        if (info.isAbsolute() && !info.isDir() && !files.contains(path))
            files << path;
    }
    return files;
}

bool Application::hasOption(const QStringList& arguments, const QString& option)
{
    const int end = arguments.indexOf(QStringLiteral("--"));
    return arguments.mid(1, end < 0 ? -1 : end - 1).contains(option);
}

bool Application::recordHandOver(const QString& message, QString* reason)
{
    const QStringList files = filesFromMessage(message);
    if (files.isEmpty())
        return true;
    if (!keepFiles(files, reason)) {
        const QString text = tr("Books handed over to the reader could not be added: %1.").arg(*reason);
        // Queued: the sender is answered first, and no box opens inside the server's handler.
        QMetaObject::invokeMethod(
            this, [text] { LibraryMessageBox::critical(tr("Books not added"), text, QMessageBox::Ok); },
            Qt::QueuedConnection);
        return false;
    }
    d->recorded = message;
    d->hasRecorded = true;
    return true;
}

bool Application::keepFiles(const QStringList& files, QString* reason)
{
    if (!BookProvider::instance()->recordHandOver(d->nextHandOverAct, files, reason)) {
        qCritical().noquote() << "Files received and not recorded:" << files << "-" << *reason;
        return false;
    }
    ++d->nextHandOverAct;
    qInfo() << "Files received:" << files;
    return true;
}

void Application::onMessageReceived(const QString& message)
{
    // A message that reached the application without its recorder (given to it directly) is
    // recorded now.
    const bool recorded = d->hasRecorded && d->recorded == message;
    d->hasRecorded = false;
    d->recorded.clear();
    if (recorded)
        emit handOverRecorded();
    else
        receiveFiles(message);
}

void Application::receiveFiles(const QString& message)
{
    const QStringList files = filesFromMessage(message);
    if (files.isEmpty())
        return;
    QString reason;
    // Taken at once, also under an open box: the library stores the books and only its question
    // (which may open a book) waits for the box's answer. Recorded, they outlast an end of the program.
    if (keepFiles(files, &reason))
        emit handOverRecorded();
    else
        emit filesReceived(files);
}

bool Application::boxIsOpen() { return NestedLoop::depth() > 0 || QApplication::activeModalWidget(); }

void Application::runWhenNoBoxIsOpen(QObject* context, std::function<void()> fn)
{
    if (!boxIsOpen() && d->waiting.isEmpty()) {
        fn();
        return;
    }
    d->waiting.append({ QPointer<QObject>(context), std::move(fn) });
    watchForIdle(true);
}

// One at a time: the first may open a box, and the rest wait for its answer.
void Application::runWaiting()
{
    if (d->waiting.isEmpty() || boxIsOpen())
        return;
    const auto next = d->waiting.takeFirst();
    if (d->waiting.isEmpty())
        watchForIdle(false);
    else
        QMetaObject::invokeMethod(this, &Application::runWaiting, Qt::QueuedConnection);
    if (next.first)
        next.second();
}

// A modal window that no counted loop runs (one of Qt's own) says nothing when it closes: while
// work waits, each turn of the event loop before it sleeps checks whether they still must.
void Application::watchForIdle(bool on)
{
    if (!on) {
        disconnect(d->idleWatch);
        d->idleWatch = {};
        return;
    }
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread());
    if (d->idleWatch || !dispatcher)
        return;
    d->idleWatch = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
        if (!boxIsOpen())
            QMetaObject::invokeMethod(this, &Application::runWaiting, Qt::QueuedConnection);
    });
}

namespace {

// Whether the process that wrote a lock on this machine has ended.
bool lockOwnerGone(qint64 pid, const QString& host)
{
    if (pid <= 0 || (!host.isEmpty() && host != QSysInfo::machineHostName()))
        return false;
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

std::unique_ptr<QLockFile> Application::lockLibrary(const QString& databasePath)
{
    auto lock = std::make_unique<QLockFile>(databasePath + QStringLiteral(".lock"));
    lock->setStaleLockTime(0);
    if (lock->tryLock(0))
        return lock;
    if (lock->error() != QLockFile::LockFailedError) {
        qWarning() << "Can't lock the library" << databasePath << "error" << lock->error();
        return std::make_unique<QLockFile>(QString());
    }
    qint64 pid = 0;
    QString host, owner;
    lock->getLockInfo(&pid, &host, &owner);
    if (lockOwnerGone(pid, host)) {
        // QLockFile takes such a lock over by removing it, which a folder that cannot be written refuses.
        const QString folder = QFileInfo(databasePath).absolutePath();
        qWarning().noquote() << QStringLiteral("The library lock %1 was left by process %2, which no longer runs, and "
                                               "cannot be removed: %3")
                                    .arg(databasePath + QStringLiteral(".lock"))
                                    .arg(pid)
                                    .arg(QFileInfo(folder).isWritable()
                                            ? QStringLiteral("the folder %1 refuses it").arg(folder)
                                            : QStringLiteral("the folder %1 is read-only").arg(folder));
        return std::make_unique<QLockFile>(QString());
    }
    qWarning() << "The library" << databasePath << "is held by process" << pid << owner << "error" << lock->error();
    return nullptr;
}

#include "speechengine.h"

#include <QDebug>
#include <QThread>

namespace {

// Below the first bound of a sentence (ReadingServices::SpeechLimits), so that a held call is told
// as what it is.
int s_callTimeoutMs = 3000;
// Making a speech-dispatcher engine lists the voices of every output module.
int s_startTimeoutMs = 8000;
// How long the end of the program gives a working engine to close its connection.
const int kCloseWaitMs = 1000;

} // namespace

// Owns the engine on its thread and runs the posted calls there.
class SpeechWorker : public QObject {
    Q_OBJECT

public:
    QTextToSpeech* tts = nullptr;
    QString name;
    // Texts handed to the engine, stamped on each state change.
    quint64 says = 0;

    void create(const QStringList& candidates)
    {
        QStringList failures;
        for (const QString& name : candidates) {
            auto* candidate = new QTextToSpeech(name, this);
            if (candidate->state() == QTextToSpeech::Ready) {
                qInfo() << "TTS: engine" << name << "is ready";
                tts = candidate;
                this->name = name;
                connect(tts, &QTextToSpeech::stateChanged, this,
                    [this](QTextToSpeech::State state) { emit stateChanged(state, says); });
                emit created(describe());
                return;
            }
            qWarning() << "TTS: engine" << name << "is not ready, state" << candidate->state();
            failures << name + QStringLiteral(": not ready");
            delete candidate;
        }
        emit createFailed(
            failures.isEmpty() ? QStringLiteral("no speech engine is installed") : failures.join(QStringLiteral("; ")));
    }

    SpeechEngine::Description describe() const
    {
        SpeechEngine::Description d;
        d.name = name;
        d.state = tts->state();
        d.locales = tts->availableLocales();
        d.voices = tts->availableVoices();
        d.locale = tts->locale();
        d.voice = tts->voice();
        d.rate = tts->rate();
        d.pitch = tts->pitch();
        d.volume = tts->volume();
        return d;
    }

signals:
    void created(const SpeechEngine::Description& description);
    void createFailed(const QString& why);
    void described(const SpeechEngine::Description& description);
    void answered(quint64 serial);
    void stateChanged(QTextToSpeech::State state, quint64 says);
};

SpeechEngine::SpeechEngine(const QStringList& candidates, QObject* parent)
    : QObject(parent)
    , m_done(std::make_shared<std::atomic<quint64>>(0))
{
    qRegisterMetaType<SpeechEngine::Description>();
    qRegisterMetaType<QTextToSpeech::State>();
    m_bound.setSingleShot(true);
    connect(&m_bound, &QTimer::timeout, this, &SpeechEngine::onBound);

    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("speech engine"));
    m_worker = new SpeechWorker;
    m_worker->moveToThread(m_thread);
    connect(m_worker, &SpeechWorker::answered, this, &SpeechEngine::answered);
    connect(m_worker, &SpeechWorker::created, this, [this](const Description& description) {
        if (m_status != Status::Starting)
            return;
        m_description = description;
        m_status = Status::Ready;
        emit statusChanged(m_status);
        emit voicesChanged();
    });
    connect(m_worker, &SpeechWorker::createFailed, this, [this](const QString& why) {
        // Its thread answered and may end.
        if (m_status == Status::Starting)
            setFailed(why, false);
    });
    connect(m_worker, &SpeechWorker::described, this, [this](const Description& description) {
        if (m_status != Status::Ready)
            return;
        const QTextToSpeech::State state = m_description.state;
        m_description = description;
        m_description.state = state;
        emit voicesChanged();
    });
    connect(m_worker, &SpeechWorker::stateChanged, this, [this](QTextToSpeech::State state, quint64 says) {
        if (m_status != Status::Ready || (state != QTextToSpeech::BackendError && says != m_says))
            return;
        m_description.state = state;
        emit stateChanged(state);
    });
    m_thread->start();

    const quint64 serial = ++m_posted;
    m_pending.enqueue({ serial, "to start", s_startTimeoutMs });
    m_bound.start(s_startTimeoutMs);
    SpeechWorker* worker = m_worker;
    std::shared_ptr<std::atomic<quint64>> done = m_done;
    QMetaObject::invokeMethod(
        worker,
        [worker, candidates, serial, done] {
            worker->create(candidates);
            *done = serial;
            emit worker->answered(serial);
        },
        Qt::QueuedConnection);
}

SpeechEngine::SpeechEngine(const QString& name, QObject* parent)
    : SpeechEngine(QStringList { name }, parent)
{
}

SpeechEngine::~SpeechEngine()
{
    m_bound.stop();
    disconnect(m_worker, nullptr, this, nullptr);
    if (m_leftBehind) {
        qInfo() << "TTS: the speech engine's thread is left behind";
        return;
    }
    // Closing asks the service to cancel and waits for it: bounded, then the thread is left.
    SpeechWorker* worker = m_worker;
    QMetaObject::invokeMethod(
        worker,
        [worker] {
            delete worker;
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    if (m_thread->wait(kCloseWaitMs))
        delete m_thread;
    else
        qWarning() << "TTS: the speech engine did not close within" << kCloseWaitMs << "ms; its thread is left behind";
}

int SpeechEngine::callTimeout() { return s_callTimeoutMs; }

void SpeechEngine::setCallTimeout(int ms) { s_callTimeoutMs = qMax(1, ms); }

int SpeechEngine::startTimeout() { return s_startTimeoutMs; }

void SpeechEngine::setStartTimeout(int ms) { s_startTimeoutMs = qMax(1, ms); }

void SpeechEngine::post(const char* what, std::function<void(SpeechWorker*)> call, bool describe)
{
    if (m_status == Status::Failed) {
        qWarning() << "TTS: the speech engine failed before; not asked" << what;
        return;
    }
    const quint64 serial = ++m_posted;
    m_pending.enqueue({ serial, what, s_callTimeoutMs });
    if (!m_bound.isActive())
        m_bound.start(m_pending.head().boundMs);
    SpeechWorker* worker = m_worker;
    std::shared_ptr<std::atomic<quint64>> done = m_done;
    QMetaObject::invokeMethod(
        worker,
        [worker, call = std::move(call), serial, done, describe] {
            // An engine that could not be made takes no call.
            if (worker->tts) {
                call(worker);
                if (describe)
                    emit worker->described(worker->describe());
            }
            *done = serial;
            emit worker->answered(serial);
        },
        Qt::QueuedConnection);
}

void SpeechEngine::answered(quint64 serial)
{
    bool popped = false;
    while (!m_pending.isEmpty() && m_pending.head().serial <= serial) {
        m_pending.dequeue();
        popped = true;
    }
    if (m_pending.isEmpty())
        m_bound.stop();
    else if (popped)
        m_bound.start(m_pending.head().boundMs);
}

void SpeechEngine::onBound()
{
    if (m_pending.isEmpty() || m_status == Status::Failed)
        return;
    // Finished meanwhile, its answer still on the way.
    if (m_done->load() >= m_pending.head().serial) {
        answered(m_done->load());
        return;
    }
    const Pending& held = m_pending.head();
    fail(QStringLiteral("the speech engine did not answer the request %1 within %2 ms")
             .arg(QLatin1String(held.what))
             .arg(held.boundMs));
}

void SpeechEngine::setFailed(const QString& why, bool leaveThread)
{
    m_leftBehind = leaveThread;
    m_pending.clear();
    m_bound.stop();
    m_error = why;
    m_description.state = QTextToSpeech::BackendError;
    m_status = Status::Failed;
    emit statusChanged(m_status);
}

void SpeechEngine::fail(const QString& why)
{
    qWarning().noquote() << "TTS: the speech engine is given up for this run:" << why;
    m_stoppedAnswering = true;
    const bool wasReady = m_status == Status::Ready;
    // The status first: whoever owns the engine knows it is gone before a reader hears of the error.
    setFailed(why, true);
    if (wasReady)
        emit stateChanged(QTextToSpeech::BackendError);
}

void SpeechEngine::abandon(const QString& why)
{
    if (m_status != Status::Failed)
        setFailed(why, true);
}

void SpeechEngine::say(const QString& text)
{
    ++m_says;
    post("say", [text](SpeechWorker* worker) {
        // Counted before the engine can answer inside say().
        ++worker->says;
        worker->tts->say(text);
    });
}

void SpeechEngine::stop()
{
    post("stop", [](SpeechWorker* worker) { worker->tts->stop(); });
}

void SpeechEngine::pause()
{
    post("pause", [](SpeechWorker* worker) { worker->tts->pause(); });
}

void SpeechEngine::resume()
{
    post("resume", [](SpeechWorker* worker) { worker->tts->resume(); });
}

void SpeechEngine::setLocale(const QLocale& locale)
{
    post(
        "set locale", [locale](SpeechWorker* worker) { worker->tts->setLocale(locale); }, true);
}

void SpeechEngine::setVoice(const QVoice& voice)
{
    post(
        "set voice", [voice](SpeechWorker* worker) { worker->tts->setVoice(voice); }, true);
}

void SpeechEngine::setVoice(const QString& name)
{
    post(
        "set voice",
        [name](SpeechWorker* worker) {
            for (const QVoice& voice : worker->tts->availableVoices()) {
                if (voice.name() == name) {
                    worker->tts->setVoice(voice);
                    return;
                }
            }
            qCritical() << "TTS: change voice, voice not found!" << name;
        },
        true);
}

void SpeechEngine::setRate(double rate)
{
    if (m_status != Status::Failed)
        m_description.rate = rate;
    post("set rate", [rate](SpeechWorker* worker) { worker->tts->setRate(rate); });
}

void SpeechEngine::setPitch(double pitch)
{
    if (m_status != Status::Failed)
        m_description.pitch = pitch;
    post("set pitch", [pitch](SpeechWorker* worker) { worker->tts->setPitch(pitch); });
}

void SpeechEngine::setVolume(double volume)
{
    if (m_status != Status::Failed)
        m_description.volume = volume;
    post("set volume", [volume](SpeechWorker* worker) { worker->tts->setVolume(volume); });
}

#include "speechengine.moc"

#pragma once

#include <QLocale>
#include <QObject>
#include <QQueue>
#include <QStringList>
#include <QTextToSpeech>
#include <QTimer>
#include <QVector>
#include <QVoice>

#include <atomic>
#include <functional>
#include <memory>

class QThread;
class SpeechWorker;

// The speech engine of reading aloud as the GUI thread sees it. The engine itself (the
// QTextToSpeech object and the client library that talks to the speech service) lives on a thread
// of its own: a service may take a request and never answer it, and its client waits for the answer
// without a limit. Every call here is posted to that thread and returns at once; the engine's state
// and what it offers come back as queued signals and are mirrored here.
//
// Each call has a bound: one the engine has not answered within callTimeout() (startTimeout() for
// making it) fails the engine for good. It is then Failed, its state BackendError, no later call
// reaches it, and its thread is abandoned: never waited for, its objects left to the end of the
// process, so that nothing, the end of the program included, waits for the service.
class SpeechEngine : public QObject {
    Q_OBJECT

public:
    enum class Status { Starting, Ready, Failed };
    Q_ENUM(Status)

    // What the engine offers and is set to, as it last said.
    struct Description {
        QString name;
        QTextToSpeech::State state = QTextToSpeech::Ready;
        QVector<QLocale> locales;
        QVector<QVoice> voices;
        QLocale locale;
        QVoice voice;
        double rate = 0;
        double pitch = 0;
        double volume = 1;
    };

    // Makes the first of the named engines that is ready, on its own thread; returns at once.
    explicit SpeechEngine(const QStringList& candidates, QObject* parent = nullptr);
    explicit SpeechEngine(const QString& name, QObject* parent = nullptr);
    // Lets a working engine close within a short bound; one that failed is not waited for.
    ~SpeechEngine() override;

    Status status() const { return m_status; }
    // Failed because a call was not answered in time (not because it could not be made).
    bool stoppedAnswering() const { return m_stoppedAnswering; }
    // Why the engine failed.
    QString error() const { return m_error; }
    QString name() const { return m_description.name; }
    // BackendError once the engine failed.
    QTextToSpeech::State state() const { return m_description.state; }
    QVector<QLocale> availableLocales() const { return m_description.locales; }
    // The voices of the current locale.
    QVector<QVoice> availableVoices() const { return m_description.voices; }
    QLocale locale() const { return m_description.locale; }
    QVoice voice() const { return m_description.voice; }
    double rate() const { return m_description.rate; }
    double pitch() const { return m_description.pitch; }
    double volume() const { return m_description.volume; }

    void say(const QString& text);
    void stop();
    void pause();
    void resume();
    void setLocale(const QLocale& locale);
    void setVoice(const QVoice& voice);
    // The engine's voice of that name, when it has one for the locale it is set to by then.
    void setVoice(const QString& name);
    void setRate(double rate);
    void setPitch(double pitch);
    void setVolume(double volume);

    // Gives a working engine up without asking it anything more (it could not speak): Failed, and
    // its thread left alone like that of an engine that stopped answering.
    void abandon(const QString& why);

    // Bounds in milliseconds; tests shorten them.
    static int callTimeout();
    static void setCallTimeout(int ms);
    static int startTimeout();
    static void setStartTimeout(int ms);

signals:
    void statusChanged(SpeechEngine::Status status);
    // Only changes the engine made after it took the last text handed to it: the end of an earlier
    // text (cut short by a stop) must not read as the end of the new one. Errors always pass.
    void stateChanged(QTextToSpeech::State state);
    // The locale, its voices or the voice changed.
    void voicesChanged();

private:
    struct Pending {
        quint64 serial;
        const char* what;
        int boundMs;
    };
    void post(const char* what, std::function<void(SpeechWorker*)> call, bool describe = false);
    void answered(quint64 serial);
    void onBound();
    // A call went unanswered: given up for good, with one line in the log.
    void fail(const QString& why);
    // Failed; leaveThread: the thread may be held by the service and is never waited for.
    void setFailed(const QString& why, bool leaveThread);

    QThread* m_thread = nullptr;
    SpeechWorker* m_worker = nullptr;
    Status m_status = Status::Starting;
    QString m_error;
    Description m_description;
    // Calls posted and not yet answered, oldest first; the bound runs for the oldest.
    QQueue<Pending> m_pending;
    QTimer m_bound;
    quint64 m_posted = 0;
    // The last call the engine's thread finished, read when a bound runs out: a GUI thread busy
    // for a while must not take answers still queued for it as no answer.
    std::shared_ptr<std::atomic<quint64>> m_done;
    // Texts handed over, to tell which state changes are about the last one.
    quint64 m_says = 0;
    // The thread may be held by the service: it is never waited for.
    bool m_leftBehind = false;
    bool m_stoppedAnswering = false;
};

Q_DECLARE_METATYPE(SpeechEngine::Description)

#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QProcessEnvironment;
class SpeechEngine;

// The speech engine of reading aloud, made on first need and never on the way of the GUI thread.
// The speech-dispatcher client library waits for the service's answers without a time limit: a
// daemon that accepts and never answers would freeze whoever calls the engine. So the service is
// first asked from a worker thread with a bounded wait (spawning it the way its client library does
// when its socket is missing), and only an answering service gets an engine, made and called on a
// thread of its own with a bound on every call (SpeechEngine). An engine that stops answering is
// given up for the rest of the run.
class SpeechService : public QObject {
    Q_OBJECT

public:
    enum class Status { Idle, Connecting, Ready, Unavailable };
    Q_ENUM(Status)

    // Where a speech-dispatcher client connects: a Unix socket path, or a TCP host and port.
    struct Address {
        QString socketPath;
        QString host;
        quint16 port = 0;
        // Given by SPEECHD_ADDRESS rather than worked out from the runtime folder.
        bool explicitlySet = false;
        bool isValid() const { return !socketPath.isEmpty() || (!host.isEmpty() && port != 0); }
    };

    explicit SpeechService(QObject* parent = nullptr);
    ~SpeechService() override;

    // Starts connecting, trying savedEngine first; returns at once. Calls while connecting or
    // ready do nothing; after Unavailable the service is asked again (it may have been started),
    // unless an engine stopped answering: then it stays Unavailable for the run.
    void start(const QString& savedEngine = QString());
    Status status() const { return m_status; }
    // The engine once Ready, else null.
    SpeechEngine* engine() const { return m_engine; }
    // The engine could not speak: it is not used again, and the next start() makes a new one.
    void dropEngine(const QString& why);
    // Why the service is Unavailable, for the log and the settings page.
    QString error() const { return m_error; }

    // The address the client library would use under this environment.
    static Address serviceAddress(const QProcessEnvironment& env);
    // Blocking, for a worker thread: true when the service answers a greeting within timeoutMs.
    // A missing default socket is first filled by spawning the service (bounded as well).
    static bool probe(const Address& address, int timeoutMs, QString* error);
    // The engines to try in order: the saved one, then speechd, then flite, then the others by
    // name. The plugin list comes in hash order, which changes from one process to the next.
    static QStringList engineOrder(const QString& saved, const QStringList& available);
    // Bound of the whole probe (spawn included), in milliseconds; tests shorten it.
    static void setProbeTimeout(int ms);

signals:
    void statusChanged(SpeechService::Status status);

private:
    void createEngine(bool serviceAnswers, const QString& probeError);
    void onEngineStatus();
    void setStatus(Status status);

    Status m_status = Status::Idle;
    SpeechEngine* m_engine = nullptr;
    // Failures of the service found before the engine is made, for the error of the whole start.
    QStringList m_failures;
    // An engine did not answer a call in time: its service is not asked again in this run.
    bool m_givenUp = false;
    QString m_error;
    QStringList m_candidates;
};

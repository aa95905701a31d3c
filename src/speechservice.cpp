#include "speechservice.h"

#include "speechengine.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTextToSpeech>
#include <QThread>
#include <QtConcurrent>

namespace {

const QString kSpeechd = QStringLiteral("speechd");
const QString kFlite = QStringLiteral("flite");

int s_probeTimeoutMs = 3000;

struct ProbeResult {
    bool answers = false;
    QString error;
};

int remaining(const QElapsedTimer& clock, int totalMs) { return qMax(0, totalMs - int(clock.elapsed())); }

// Sends one command and reads the service's whole reply (continuation lines "NNN-", then a final
// "NNN "); a final reply of the 2xx class is success.
bool request(QIODevice& socket, const QByteArray& command, const QElapsedTimer& clock, int totalMs, QString* error)
{
    socket.write(command + "\r\n");
    if (!socket.waitForBytesWritten(qMax(1, remaining(clock, totalMs)))) {
        *error = QStringLiteral("the speech service takes no request");
        return false;
    }
    QByteArray reply;
    for (;;) {
        while (socket.canReadLine()) {
            const QByteArray line = socket.readLine();
            reply += line;
            if (line.size() >= 4 && line.at(3) == '-')
                continue;
            if (line.startsWith('2'))
                return true;
            *error = QStringLiteral("the speech service refused %1: %2")
                         .arg(QString::fromLatin1(command), QString::fromLatin1(line.trimmed()));
            return false;
        }
        if (reply.size() > 65536) {
            *error = QStringLiteral("the speech service answers too much");
            return false;
        }
        if (remaining(clock, totalMs) == 0 || !socket.waitForReadyRead(qMax(1, remaining(clock, totalMs)))) {
            *error = QStringLiteral("the speech service does not answer");
            return false;
        }
    }
}

// The requests the engine makes when it is created, so that an engine is made only on a service
// that answers them.
bool greet(QIODevice& socket, const QElapsedTimer& clock, int totalMs, QString* error)
{
    for (const char* command :
        { "SET SELF CLIENT_NAME user:pageloom:probe", "LIST OUTPUT_MODULES", "LIST SYNTHESIS_VOICES" }) {
        if (!request(socket, command, clock, totalMs, error))
            return false;
    }
    socket.write("QUIT\r\n");
    socket.waitForBytesWritten(qMin(200, qMax(1, remaining(clock, totalMs))));
    return true;
}

// Starts the service on its socket the way its client library does; the spawner forks the daemon
// and ends, so its end is waited for with the time left.
void spawnService(const QString& socketPath, const QElapsedTimer& clock, int totalMs)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("speech-dispatcher"));
    if (program.isEmpty())
        return;
    QDir().mkpath(QFileInfo(socketPath).absolutePath());
    QProcess spawner;
    // The daemon inherits the spawner's descriptors: pipes would stay open as long as it runs.
    spawner.setStandardOutputFile(QProcess::nullDevice());
    spawner.setStandardErrorFile(QProcess::nullDevice());
    spawner.start(program,
        { QStringLiteral("--spawn"), QStringLiteral("--communication-method"), QStringLiteral("unix_socket"),
            QStringLiteral("--socket-path"), socketPath });
    if (!spawner.waitForStarted(qMax(1, remaining(clock, totalMs)))) {
        qWarning() << "Can't start the speech service:" << spawner.errorString();
        return;
    }
    if (!spawner.waitForFinished(qMax(1, remaining(clock, totalMs)))) {
        qWarning() << "The speech service did not start in time";
        spawner.kill();
        spawner.waitForFinished(200);
    }
}

bool connectLocal(QLocalSocket& socket, const QString& path, const QElapsedTimer& clock, int totalMs)
{
    socket.connectToServer(path);
    return socket.waitForConnected(qMax(1, remaining(clock, totalMs)));
}

} // namespace

SpeechService::SpeechService(QObject* parent)
    : QObject(parent)
{
}

SpeechService::~SpeechService() = default;

void SpeechService::setProbeTimeout(int ms) { s_probeTimeoutMs = qMax(1, ms); }

SpeechService::Address SpeechService::serviceAddress(const QProcessEnvironment& env)
{
    Address address;
    const QString given = env.value(QStringLiteral("SPEECHD_ADDRESS")).trimmed();
    if (!given.isEmpty()) {
        address.explicitlySet = true;
        const QString method = given.section(QLatin1Char(':'), 0, 0);
        const QString rest = given.section(QLatin1Char(':'), 1);
        if (method == QLatin1String("inet_socket")) {
            address.host = rest.section(QLatin1Char(':'), 0, 0);
            if (address.host.isEmpty())
                address.host = QStringLiteral("127.0.0.1");
            const QString port = rest.section(QLatin1Char(':'), 1);
            address.port = port.isEmpty() ? quint16(6560) : port.toUShort();
            return address;
        }
        if (method == QLatin1String("unix_socket") && !rest.isEmpty()) {
            address.socketPath = QDir::cleanPath(QDir::current().absoluteFilePath(rest));
            return address;
        }
        if (method != QLatin1String("unix_socket"))
            return Address { QString(), QString(), 0, true };
    }
    // The client library's default: the user's runtime folder, else the cache folder.
    QString base = env.value(QStringLiteral("XDG_RUNTIME_DIR"));
    if (base.isEmpty()) {
        base = env.value(QStringLiteral("XDG_CACHE_HOME"));
        if (base.isEmpty())
            base = QDir(env.value(QStringLiteral("HOME"), QDir::homePath())).filePath(QStringLiteral(".cache"));
    }
    address.socketPath = QDir::cleanPath(
        QDir::current().absoluteFilePath(QDir(base).filePath(QStringLiteral("speech-dispatcher/speechd.sock"))));
    return address;
}

bool SpeechService::probe(const Address& address, int timeoutMs, QString* error)
{
    QString ignored;
    QString& why = error ? *error : ignored;
    if (!address.isValid()) {
        why = QStringLiteral("no usable speech service address");
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    if (!address.host.isEmpty()) {
        QTcpSocket socket;
        socket.connectToHost(address.host, address.port);
        if (!socket.waitForConnected(timeoutMs)) {
            why = QStringLiteral("no speech service at %1:%2").arg(address.host).arg(address.port);
            return false;
        }
        return greet(socket, clock, timeoutMs, &why);
    }
    QLocalSocket socket;
    if (!connectLocal(socket, address.socketPath, clock, timeoutMs)) {
        if (address.explicitlySet) {
            why = QStringLiteral("no speech service at ") + address.socketPath;
            return false;
        }
        spawnService(address.socketPath, clock, timeoutMs);
        // The daemon may bind its socket a moment after the spawner ended.
        bool connected = false;
        while (!connected && remaining(clock, timeoutMs) > 0) {
            connected = connectLocal(socket, address.socketPath, clock, timeoutMs);
            if (!connected)
                QThread::msleep(50);
        }
        if (!connected) {
            why = QStringLiteral("no speech service at ") + address.socketPath;
            return false;
        }
    }
    return greet(socket, clock, timeoutMs, &why);
}

QStringList SpeechService::engineOrder(const QString& saved, const QStringList& available)
{
    QStringList order;
    for (const QString& name : { saved, kSpeechd, kFlite }) {
        if (!name.isEmpty() && available.contains(name) && !order.contains(name))
            order << name;
    }
    QStringList others = available;
    others.sort();
    for (const QString& name : qAsConst(others)) {
        if (!order.contains(name))
            order << name;
    }
    return order;
}

void SpeechService::start(const QString& savedEngine)
{
    if (m_status == Status::Connecting || m_status == Status::Ready)
        return;
    if (m_givenUp) {
        qWarning().noquote() << "TTS: the speech engine stopped answering earlier in this run; not asked again:"
                             << m_error;
        return;
    }
    m_candidates = engineOrder(savedEngine, QTextToSpeech::availableEngines());
    qInfo() << "TTS: engines to try" << m_candidates;
    setStatus(Status::Connecting);
    if (!m_candidates.contains(kSpeechd)) {
        QMetaObject::invokeMethod(
            this, [this] { createEngine(false, QString()); }, Qt::QueuedConnection);
        return;
    }
    const Address address = serviceAddress(QProcessEnvironment::systemEnvironment());
    const int timeout = s_probeTimeoutMs;
    auto* watcher = new QFutureWatcher<ProbeResult>(this);
    connect(watcher, &QFutureWatcher<ProbeResult>::finished, this, [this, watcher] {
        const ProbeResult result = watcher->result();
        watcher->deleteLater();
        createEngine(result.answers, result.error);
    });
    watcher->setFuture(QtConcurrent::run([address, timeout] {
        ProbeResult result;
        result.answers = probe(address, timeout, &result.error);
        return result;
    }));
}

void SpeechService::createEngine(bool serviceAnswers, const QString& probeError)
{
    m_failures.clear();
    QStringList candidates = m_candidates;
    if (!serviceAnswers && candidates.contains(kSpeechd)) {
        qWarning() << "TTS: speech-dispatcher is not used:" << probeError;
        m_failures << QStringLiteral("speechd: ") + probeError;
        candidates.removeAll(kSpeechd);
    }
    if (candidates.isEmpty()) {
        m_error = m_failures.isEmpty() ? QStringLiteral("no speech engine is installed")
                                       : m_failures.join(QStringLiteral("; "));
        setStatus(Status::Unavailable);
        return;
    }
    // Made and asked on a thread of its own: the engine's client may wait for its service forever.
    m_engine = new SpeechEngine(candidates, this);
    connect(m_engine, &SpeechEngine::statusChanged, this, &SpeechService::onEngineStatus);
}

void SpeechService::onEngineStatus()
{
    SpeechEngine* engine = m_engine;
    if (!engine || sender() != engine || engine->status() == SpeechEngine::Status::Starting)
        return;
    if (engine->status() == SpeechEngine::Status::Ready) {
        m_error.clear();
        setStatus(Status::Ready);
        return;
    }
    m_engine = nullptr;
    engine->disconnect(this);
    engine->deleteLater();
    m_failures << engine->error();
    m_error = m_failures.join(QStringLiteral("; "));
    m_givenUp = engine->stoppedAnswering();
    setStatus(Status::Unavailable);
}

void SpeechService::dropEngine(const QString& why)
{
    if (!m_engine)
        return;
    qWarning() << "TTS: the speech engine is given up:" << why;
    // Deleting it would cancel and close its connection, calls that a service which stopped
    // speaking may never answer; its thread is left alone until the program ends.
    SpeechEngine* engine = m_engine;
    m_engine = nullptr;
    engine->disconnect(this);
    engine->abandon(why);
    engine->deleteLater();
    m_error = why;
    setStatus(Status::Unavailable);
}

void SpeechService::setStatus(Status status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged(status);
}

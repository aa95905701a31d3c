#include "kelremoteprochandler.h"

#include <QDataStream>
#include <QDebug>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QUuid>
#include <QtEndian>

namespace {

// How long a helper that lost its connection may take to die after SIGKILL.
constexpr int kKillWaitMs = 3000;
// How long a helper that took the stop message may take to exit on its own.
constexpr int kStopExitWaitMs = 1000;

} // namespace

KelRemoteProcHandler::KelRemoteProcHandler(QObject* parent)
    : QObject(parent)
    , m_process(this)
    , m_connectWatch(new QTimer(this))
    , m_writeWatch(new QTimer(this))
{
    m_connectWatch->setSingleShot(true);
    connect(m_connectWatch, &QTimer::timeout, this,
        [this] { failAttempt(QStringLiteral("The helper did not connect within %1 ms").arg(m_connectTimeoutMs)); });
    m_writeWatch->setSingleShot(true);
    m_writeWatch->setInterval(m_writeTimeoutMs);
    connect(m_writeWatch, &QTimer::timeout, this, &KelRemoteProcHandler::onWriteStalled);
    // The helper's output goes where ours goes: never read, it would pile up in QProcess.
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    // A helper that cannot start or ends before it connects will not connect: no use waiting.
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        qWarning() << "Helper process error:" << error << m_process.errorString();
        if (error == QProcess::FailedToStart && m_connectWatch->isActive())
            failAttempt(QStringLiteral("The helper could not be started"));
    });
    connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
        [this](int exitCode, QProcess::ExitStatus status) {
            qInfo() << "Helper process finished. Exit code:" << exitCode << status;
            if (m_connectWatch->isActive())
                failAttempt(QStringLiteral("The helper ended before it connected"));
        });
}

KelRemoteProcHandler::~KelRemoteProcHandler()
{
    // No slot of this object may run while its members go away.
    m_process.disconnect(this);
    bool stopUnsent = false;
    if (m_socket) {
        m_socket->disconnect(this);
        // One more try, without waiting: the event loop may not have run since the stop message.
        if (m_socket->bytesToWrite() > 0)
            m_socket->flush();
        stopUnsent = m_socket->bytesToWrite() > 0;
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    if (m_process.state() == QProcess::NotRunning)
        return;
    if (!m_queue.isEmpty())
        qInfo() << "The helper channel closes before the helper connected;" << m_queue.size()
                << "queued frames dropped";
    if (m_stopSent && stopUnsent)
        qWarning() << "The helper has not taken the stop message; killing it";
    else if (m_stopSent && !m_process.waitForFinished(kStopExitWaitMs))
        qWarning() << "The helper did not end within" << kStopExitWaitMs << "ms of the stop message; killing it";
    killHelper();
}

void KelRemoteProcHandler::setupHandler(const QString& program)
{
    if (m_server) {
        qWarning() << "The helper channel is set up already";
        return;
    }
    m_program = program;
    m_serverName = QUuid::createUuid().toString(QUuid::Id128);
    m_process.setProgram(program);
    m_process.setArguments({ m_serverName });
    m_server = new QLocalServer(this);
    // The first connection is taken as the helper: no other user may connect.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &KelRemoteProcHandler::acceptConnections);
    if (!m_server->listen(m_serverName))
        qCritical() << "Can't listen on the helper channel" << m_serverName << m_server->errorString();
}

void KelRemoteProcHandler::setTimeouts(int connectMs, int writeMs)
{
    m_connectTimeoutMs = connectMs;
    m_writeTimeoutMs = writeMs;
    m_writeWatch->setInterval(writeMs);
}

bool KelRemoteProcHandler::startHandler()
{
    if (m_program.isEmpty() || m_process.state() != QProcess::NotRunning)
        return false;
    m_stopped = false;
    m_stopSent = false;
    beginAttempt();
    return true;
}

bool KelRemoteProcHandler::isConnected() const { return m_socket && m_socket->state() == QLocalSocket::ConnectedState; }

bool KelRemoteProcHandler::write(const QByteArray& payload)
{
    if (m_stopped) {
        qWarning() << "The helper channel is stopped; a frame of" << payload.size() << "bytes dropped";
        return false;
    }
    if (m_socket) {
        sendFrame(payload);
        return m_socket != nullptr;
    }
    // A helper that just failed to connect would most likely fail again: starting one on every
    // write would only pile up dropped frames.
    if (m_startFailed.isValid() && !m_startFailed.hasExpired(kStartRetryDelayMs)) {
        qCritical("Can't start handler process!!!");
        return false;
    }
    m_queue.append(payload);
    if (!m_connectWatch->isActive())
        beginAttempt();
    // A helper that cannot be started at all has failed by now, its queue dropped.
    return m_connectWatch->isActive();
}

void KelRemoteProcHandler::beginAttempt()
{
    retireDisconnectedHelper();
    // Runs before the start, which may fail at once (no program).
    m_connectWatch->start(m_connectTimeoutMs);
    // A helper started by startHandler that has not connected yet is waited for, not restarted.
    if (m_process.state() == QProcess::NotRunning) {
        qInfo() << "Start helper process" << m_program;
        m_helperConnectedSinceStart = false;
        m_process.start(QIODevice::ReadWrite);
    }
}

void KelRemoteProcHandler::failAttempt(const QString& reason)
{
    m_connectWatch->stop();
    const int dropped = m_queue.size();
    m_queue.clear();
    qWarning().noquote() << reason + QLatin1Char(';') << dropped << "queued frames dropped";
    qCritical("Can't start handler process!!!");
    // A helper that runs without connecting is hung: it would be waited for again.
    killHelper();
    m_startFailed.start();
    emit handlerFailed();
}

void KelRemoteProcHandler::sendQueue(const QList<QByteArray>& frames)
{
    const QPointer<KelRemoteProcHandler> self(this);
    for (int i = 0; i < frames.size(); ++i) {
        if (!m_socket) {
            qWarning() << "The helper connection was lost;" << frames.size() - i << "queued frames dropped";
            return;
        }
        sendFrame(frames.at(i));
        if (!self)
            return;
    }
}

void KelRemoteProcHandler::retireDisconnectedHelper()
{
    // A helper whose connection is gone but that still runs would never connect again, and a
    // running process cannot be started anew.
    if (!m_helperConnectedSinceStart || m_process.state() == QProcess::NotRunning)
        return;
    qWarning() << "The helper process lost its connection and still runs; restarting it";
    killHelper();
}

void KelRemoteProcHandler::killHelper()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(kKillWaitMs);
}

void KelRemoteProcHandler::stopHandler()
{
    m_stopped = true;
    if (m_connectWatch->isActive()) {
        // Nobody waits for a helper that has not connected any more.
        m_connectWatch->stop();
        qInfo() << "The helper channel stops before the helper connected;" << m_queue.size() << "queued frames dropped";
        m_queue.clear();
        killHelper();
        return;
    }
    if (!isConnected())
        return;
    QByteArray payload;
    QDataStream(&payload, QIODevice::WriteOnly) << kStopMessage;
    m_stopSent = true;
    // Goes out now when the helper reads, else from the event loop; the destructor kills a helper
    // that has not taken it by then. No wait here: one would deliver frames and the connection's
    // end to an application on its way out.
    sendFrame(payload);
}

void KelRemoteProcHandler::sendFrame(const QByteArray& payload)
{
    const QPointer<QLocalSocket> socket = m_socket;
    char header[4];
    qToLittleEndian<qint32>(payload.size(), header);
    // Queued behind whatever waits already, so frames keep their order; the socket sends them from
    // the event loop as the helper reads.
    if (socket->write(header, sizeof header) != sizeof header || socket->write(payload) != payload.size()) {
        dropConnection(QStringLiteral("a frame could not be queued: %1").arg(socket->errorString()));
        return;
    }
    socket->flush();
    if (socket && socket == m_socket && socket->bytesToWrite() > 0 && !m_writeWatch->isActive())
        m_writeWatch->start();
}

void KelRemoteProcHandler::onBytesWritten()
{
    // The helper took some: it is slow, not hung.
    if (m_socket && m_socket->bytesToWrite() > 0)
        m_writeWatch->start();
    else
        m_writeWatch->stop();
}

void KelRemoteProcHandler::onWriteStalled()
{
    const QPointer<QLocalSocket> socket = m_socket;
    if (!socket || socket->bytesToWrite() == 0)
        return;
    // After a long stall of this thread nothing was sent for a while through no fault of the
    // helper's: what it takes now counts as reading.
    const qint64 waiting = socket->bytesToWrite();
    socket->flush();
    if (!socket || socket != m_socket)
        return;
    if (socket->bytesToWrite() < waiting) {
        m_writeWatch->start();
        return;
    }
    // Left alone, the data would pile up behind a helper that never reads again.
    dropConnection(QStringLiteral("the helper has not read its messages for %1 ms").arg(m_writeTimeoutMs));
}

void KelRemoteProcHandler::acceptConnections()
{
    const QPointer<KelRemoteProcHandler> self(this);
    while (QLocalSocket* incoming = m_server->nextPendingConnection()) {
        // Only the helper is served. A connection left pending would be taken as the next
        // helper's once this one is gone; one made by a helper given up (killed) or after the
        // stop is of no use.
        if (m_socket || m_stopped || m_process.state() == QProcess::NotRunning
            || incoming->state() != QLocalSocket::ConnectedState) {
            if (m_socket)
                qWarning() << "Refused a second connection to the helper channel";
            incoming->abort();
            incoming->deleteLater();
            continue;
        }
        m_socket = incoming;
        m_pendingFrameSize = -1;
        m_helperConnectedSinceStart = true;
        m_connectWatch->stop();
        m_startFailed.invalidate();
        connect(incoming, &QLocalSocket::disconnected, this, &KelRemoteProcHandler::onSocketDisconnected,
            Qt::DirectConnection);
        connect(incoming, &QLocalSocket::readyRead, this, &KelRemoteProcHandler::readFrames);
        connect(incoming, &QLocalSocket::bytesWritten, this, &KelRemoteProcHandler::onBytesWritten);
        // What handlerReady's slots write goes first (the engine script), then the queue.
        const QList<QByteArray> queued = m_queue;
        m_queue.clear();
        emit handlerReady();
        if (!self)
            return;
        sendQueue(queued);
        if (!self)
            return;
        // Frames that arrived before the connection was accepted.
        if (m_socket == incoming && incoming->bytesAvailable() > 0)
            readFrames();
        if (!self)
            return;
    }
}

void KelRemoteProcHandler::readFrames()
{
    // A stopped channel's client may be half gone.
    if (m_stopped)
        return;
    const QPointer<KelRemoteProcHandler> self(this);
    const QPointer<QLocalSocket> socket = m_socket;
    while (socket && socket == m_socket) {
        if (m_pendingFrameSize < 0) {
            if (socket->bytesAvailable() < 4)
                return;
            char header[4];
            socket->read(header, sizeof header);
            const qint32 length = qFromLittleEndian<qint32>(header);
            if (length < 0 || length > kMaxFrameSize) {
                dropConnection(QStringLiteral("frame length %1 is out of range").arg(length));
                return;
            }
            m_pendingFrameSize = length;
        }
        if (socket->bytesAvailable() < m_pendingFrameSize)
            return;
        const QByteArray payload = socket->read(m_pendingFrameSize);
        m_pendingFrameSize = -1;
        onDataReceived(payload);
        if (!self)
            return;
    }
}

void KelRemoteProcHandler::onSocketDisconnected()
{
    if (sender() == m_socket)
        releaseSocket();
}

void KelRemoteProcHandler::releaseSocket()
{
    QLocalSocket* socket = m_socket;
    if (!socket)
        return;
    // Cleared first, so that handlerClosed's slots see no connection (a write starts a new helper);
    // a partly received frame goes with the socket.
    m_socket = nullptr;
    m_pendingFrameSize = -1;
    m_writeWatch->stop();
    socket->disconnect(this);
    socket->deleteLater();
    emit handlerClosed();
}

void KelRemoteProcHandler::dropConnection(const QString& reason)
{
    qWarning().noquote() << "Dropping the helper connection:" << reason;
    if (m_socket) {
        QLocalSocket* socket = m_socket;
        socket->disconnect(this);
        socket->abort();
    }
    // The helper is broken or hung; the next write starts a fresh one.
    killHelper();
    releaseSocket();
}

void KelRemoteProcHandler::onDataReceived(const QByteArray& payload) { Q_UNUSED(payload) }

#include "helperconnection.h"

#include <QDeadlineTimer>
#include <QThread>
#include <QtDebug>
#include <QtEndian>

HelperConnection::HelperConnection(QObject* parent)
    : QObject(parent)
    , m_socket(this)
{
    connect(&m_socket, &QLocalSocket::readyRead, this, &HelperConnection::readFrames);
    connect(&m_socket, &QLocalSocket::disconnected, this, [this] {
        if (!m_closed) {
            m_closed = true;
            qInfo() << "The reader closed the connection";
            emit closed(0);
        }
    });
}

bool HelperConnection::connectTo(const QString& serverName, int timeoutMs)
{
    // A local socket does not wait for a server that is not listening yet (or whose backlog is
    // full): it fails at once, so the time-out is spent in tries.
    const QDeadlineTimer deadline(timeoutMs);
    bool waited = false;
    for (;;) {
        m_socket.connectToServer(serverName);
        if (m_socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime()))))
            return true;
        const QLocalSocket::LocalSocketError error = m_socket.error();
        const bool retry = error == QLocalSocket::ServerNotFoundError || error == QLocalSocket::ConnectionRefusedError
            || error == QLocalSocket::SocketResourceError;
        if (!retry || deadline.hasExpired()) {
            qCritical() << "Cannot connect to" << serverName << m_socket.errorString();
            return false;
        }
        if (!waited)
            qInfo() << "The reader's channel" << serverName << "is not there yet; trying again for" << timeoutMs
                    << "ms";
        waited = true;
        m_socket.abort();
        QThread::msleep(quint64(qMin<qint64>(kRetryDelayMs, qMax<qint64>(1, deadline.remainingTime()))));
    }
}

void HelperConnection::send(const QByteArray& payload)
{
    if (m_closed)
        return;
    char header[4];
    qToLittleEndian<qint32>(payload.size(), header);
    m_socket.write(header, sizeof header);
    m_socket.write(payload);
    m_socket.flush();
}

void HelperConnection::readFrames()
{
    while (!m_closed) {
        if (m_pendingSize < 0) {
            if (m_socket.bytesAvailable() < 4)
                return;
            char header[4];
            m_socket.read(header, sizeof header);
            const qint32 length = qFromLittleEndian<qint32>(header);
            if (length < 0 || length > kMaxFrameSize) {
                qCritical() << "Frame length" << length << "is out of range; closing the connection";
                m_closed = true;
                m_socket.abort();
                emit closed(3);
                return;
            }
            m_pendingSize = length;
        }
        if (m_socket.bytesAvailable() < m_pendingSize)
            return;
        const QByteArray payload = m_socket.read(m_pendingSize);
        m_pendingSize = -1;
        emit messageReceived(payload);
    }
}

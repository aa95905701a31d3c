#include "helperconnection.h"

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
    m_socket.connectToServer(serverName);
    if (!m_socket.waitForConnected(timeoutMs)) {
        qCritical() << "Cannot connect to" << serverName << m_socket.errorString();
        return false;
    }
    return true;
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

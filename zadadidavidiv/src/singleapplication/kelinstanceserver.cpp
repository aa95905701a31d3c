#include "kelinstanceserver.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <QtEndian>

#include <memory>

#include <sys/socket.h>

namespace {
const char kAck = '\x06';
const char kNak = '\x15';
// A refusal's reason is a sentence; more is no reason.
const int kMaxReasonBytes = 4096;
const int kHeaderBytes = 4;
// A connection that has not delivered its message by then is dropped.
const int kIdleConnectionMs = 30000;

int remainingMs(const QDeadlineTimer& deadline) { return int(qMax<qint64>(0, deadline.remainingTime())); }

// Whether the sender closed its end before its message was taken: it gave up waiting (this
// instance was stopped or busy) and told its user so. It sends nothing after the message, so
// whatever the socket holds beyond it is the end of the stream.
bool senderGaveUp(QLocalSocket* socket)
{
    if (socket->state() != QLocalSocket::ConnectedState)
        return true;
    char next = 0;
    return ::recv(int(socket->socketDescriptor()), &next, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}
}

KelInstanceServer::KelInstanceServer(QObject* parent)
    : QObject(parent)
    , m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &KelInstanceServer::onNewConnection);
}

KelInstanceServer::~KelInstanceServer() { close(); }

bool KelInstanceServer::listen(const QString& socketPath)
{
    if (m_server->isListening())
        m_server->close();
    QLocalServer::removeServer(socketPath);
    if (!m_server->listen(socketPath)) {
        qWarning() << "Can't listen on instance socket" << socketPath << ":" << m_server->errorString();
        return false;
    }
    return true;
}

bool KelInstanceServer::isListening() const { return m_server->isListening(); }

void KelInstanceServer::close()
{
    if (m_server->isListening())
        m_server->close();
}

void KelInstanceServer::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] { readFrom(socket, *buffer); });
        QTimer::singleShot(kIdleConnectionMs, socket, [socket] {
            qWarning() << "Instance message connection timed out";
            socket->abort();
        });
        if (socket->bytesAvailable() > 0)
            readFrom(socket, *buffer);
    }
}

void KelInstanceServer::readFrom(QLocalSocket* socket, QByteArray& buffer)
{
    if (socket->property("kelDelivered").toBool()) {
        socket->readAll();
        return;
    }
    buffer += socket->readAll();
    if (buffer.size() < kHeaderBytes)
        return;
    const quint32 length = qFromBigEndian<quint32>(buffer.constData());
    if (length > MaxMessageBytes) {
        qWarning() << "Instance message of" << length << "bytes refused";
        socket->abort();
        return;
    }
    if (quint64(buffer.size()) < quint64(kHeaderBytes) + length)
        return;

    const QString message = QString::fromUtf8(buffer.constData() + kHeaderBytes, int(length));
    buffer.clear();
    socket->setProperty("kelDelivered", true);
    if (m_held) {
        m_waiting.append({ QPointer<QLocalSocket>(socket), message });
        return;
    }
    answer(socket, message);
}

void KelInstanceServer::answer(QLocalSocket* socket, const QString& message)
{
    if (senderGaveUp(socket)) {
        qWarning() << "Instance message dropped: its sender stopped waiting for it";
        socket->abort();
        return;
    }
    // Told "delivered" only once kept: the sender ends on that answer.
    QString reason;
    if (m_recorder && !m_recorder(message, &reason)) {
        qWarning().noquote() << "Instance message refused:" << reason;
        socket->write(&kNak, 1);
        socket->write(reason.toUtf8().left(kMaxReasonBytes));
        socket->flush();
        socket->disconnectFromServer();
        return;
    }
    socket->write(&kAck, 1);
    socket->flush();
    socket->disconnectFromServer();
    emit messageReceived(message);
}

void KelInstanceServer::setRecorder(Recorder recorder) { m_recorder = std::move(recorder); }

void KelInstanceServer::setHeld(bool held)
{
    m_held = held;
    while (!m_held && !m_waiting.isEmpty()) {
        const auto next = m_waiting.takeFirst();
        if (next.first)
            answer(next.first, next.second);
    }
}

bool KelInstanceServer::deliver(const QString& socketPath, const QString& message, int timeoutMs)
{
    return deliver(socketPath, message, timeoutMs, nullptr) == Delivery::Delivered;
}

KelInstanceServer::Delivery KelInstanceServer::deliver(
    const QString& socketPath, const QString& message, int timeoutMs, QString* reason)
{
    const QByteArray payload = message.toUtf8();
    if (quint64(payload.size()) > MaxMessageBytes) {
        qWarning() << "Instance message too long:" << payload.size() << "bytes";
        return Delivery::NoAnswer;
    }
    QDeadlineTimer deadline(qMax(timeoutMs, 0));
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(remainingMs(deadline)))
        return Delivery::NoAnswer;

    char header[kHeaderBytes];
    qToBigEndian<quint32>(quint32(payload.size()), header);
    socket.write(header, kHeaderBytes);
    socket.write(payload);
    while (socket.bytesToWrite() > 0) {
        if (deadline.hasExpired() || !socket.waitForBytesWritten(remainingMs(deadline)))
            return Delivery::NoAnswer;
    }
    while (socket.bytesAvailable() < 1) {
        // At the deadline, a last look: an acknowledgement that came just now still counts, since
        // the receiver acts on the message.
        if (deadline.hasExpired() || !socket.waitForReadyRead(remainingMs(deadline))) {
            if (socket.bytesAvailable() < 1 && !socket.waitForReadyRead(0))
                return Delivery::NoAnswer;
        }
    }
    char reply = 0;
    if (socket.read(&reply, 1) != 1)
        return Delivery::NoAnswer;
    if (reply == kAck)
        return Delivery::Delivered;
    if (reply != kNak)
        return Delivery::NoAnswer;
    // The reason follows until the server closes its end.
    QByteArray text = socket.readAll();
    while (text.size() < kMaxReasonBytes && socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()
        && socket.waitForReadyRead(remainingMs(deadline)))
        text += socket.readAll();
    if (reason)
        *reason = QString::fromUtf8(text.left(kMaxReasonBytes));
    return Delivery::Refused;
}

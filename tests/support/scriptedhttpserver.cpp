#include "scriptedhttpserver.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

ScriptedHttpServer::ScriptedHttpServer(QObject* parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool ScriptedHttpServer::listen() { return m_server.listen(QHostAddress::LocalHost, 0); }

bool ScriptedHttpServer::waitForRequests(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_targets.size() >= count; }, timeoutMs);
}

void ScriptedHttpServer::onReadyRead(QTcpSocket* socket)
{
    // GETs without a body; a kept-alive connection may carry several.
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    for (;;) {
        const int end = buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (buffer.size() > 64 * 1024)
                socket->abort();
            break;
        }
        const QByteArray requestLine = buffer.left(buffer.indexOf("\r\n"));
        buffer.remove(0, end + 4);
        const QList<QByteArray> parts = requestLine.split(' ');
        const QByteArray target = parts.value(1);
        m_targets.append(target);
        const Reply reply = m_script.isEmpty() ? m_default : m_script.dequeue();
        if (reply.neverAnswer)
            continue;
        if (reply.delayMs > 0) {
            QPointer<QTcpSocket> guarded(socket);
            QTimer::singleShot(reply.delayMs, this, [this, guarded, reply] {
                if (guarded)
                    answer(guarded, reply);
            });
        } else {
            answer(socket, reply);
        }
    }
    socket->setProperty("buffer", buffer);
}

void ScriptedHttpServer::answer(QTcpSocket* socket, const Reply& reply)
{
    QByteArray head
        = "HTTP/1.1 " + QByteArray::number(reply.status) + (reply.status == 200 ? " OK\r\n" : " Status\r\n");
    head += "Content-Type: text/plain\r\nConnection: close\r\n";
    if (reply.declareLength)
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    head += "\r\n";
    socket->write(head);
    socket->write(reply.body);
    socket->disconnectFromHost(); // sends what is buffered first
}

#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QQueue>
#include <QTcpServer>
#include <QUrl>
#include <QUrlQuery>

class QTcpSocket;

// An HTTP/1.1 server on 127.0.0.1 that records every request and answers it with the next
// scripted reply (the default one when the script is empty).
class ScriptedHttpServer : public QObject {
    Q_OBJECT

public:
    struct Reply {
        int status = 200;
        QByteArray body;
        bool declareLength = true; // false: no Content-Length, the body ends when the connection closes
        bool neverAnswer = false; // keep the connection open and say nothing
        int delayMs = 0; // wait this long before answering
    };

    static Reply ok(const QByteArray& body) { return Reply { 200, body }; }
    static Reply status(int code) { return Reply { code, QByteArray("error\n") }; }
    static Reply silent() { return Reply { 200, QByteArray(), true, true, 0 }; }

    explicit ScriptedHttpServer(QObject* parent = nullptr);

    bool listen(); // on 127.0.0.1, a free port
    // "http://127.0.0.1:<port>" followed by path.
    QString url(const QString& path = QString()) const
    {
        return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()) + path;
    }

    void enqueue(const Reply& reply) { m_script.enqueue(reply); }
    void setDefaultReply(const Reply& reply) { m_default = reply; }

    // "/path?query" as received, oldest first.
    QList<QByteArray> targets() const { return m_targets; }
    int requestCount() const { return m_targets.size(); }
    QUrlQuery query(int i) const { return QUrlQuery(QUrl::fromEncoded(m_targets.value(i)).query(QUrl::FullyEncoded)); }
    bool waitForRequests(int count, int timeoutMs = 5000);

private:
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Reply& reply);

    QTcpServer m_server;
    QQueue<Reply> m_script;
    Reply m_default = ok("1.0.0\n");
    QList<QByteArray> m_targets;
};

Q_DECLARE_METATYPE(ScriptedHttpServer::Reply)

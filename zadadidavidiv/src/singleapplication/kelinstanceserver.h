#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// The channel between starts of the program. A later start connects to the local socket of the
// running one and writes one message per connection: a 4-byte big-endian length, then that many
// bytes of UTF-8. The server answers with one acknowledgement byte as soon as the whole message
// arrived, before it hands the text on, so a slow handler never makes the sender time out. A
// sender that stops waiting closes its end, which withdraws the message: a server that comes to it
// only later (it was stopped or busy) drops it.
class KelInstanceServer : public QObject {
    Q_OBJECT

public:
    // A command line is tiny; the bound only stops a runaway peer from filling memory.
    static constexpr quint32 MaxMessageBytes = 64u * 1024u * 1024u;

    explicit KelInstanceServer(QObject* parent = nullptr);
    ~KelInstanceServer() override;

    // Listens on the socket path, private to the user. A socket file left behind by a killed
    // instance is removed first: the caller holds the instance lock, so nobody else serves it.
    bool listen(const QString& socketPath);
    bool isListening() const;
    void close();

    // One delivery attempt: connect, write the message, wait for the acknowledgement. True when
    // the running instance took the whole message within timeoutMs.
    static bool deliver(const QString& socketPath, const QString& message, int timeoutMs);

signals:
    void messageReceived(const QString& message);

private:
    void onNewConnection();
    void readFrom(QLocalSocket* socket, QByteArray& buffer);

    QLocalServer* m_server;
};

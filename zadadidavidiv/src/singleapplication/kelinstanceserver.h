#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QLocalServer;
class QLocalSocket;

// The channel between starts of the program. A later start connects to the local socket of the
// running one and writes one message per connection: a 4-byte big-endian length, then that many
// bytes of UTF-8. The server answers with one acknowledgement byte once the whole message arrived
// and its recorder (when one is set) has kept it, before it hands the text on, so a slow handler
// never makes the sender time out and an acknowledged message survives the end of this process. A
// recorder that cannot keep it makes the answer a refusal byte followed by the reason in UTF-8.
// While the server is held (its recorder cannot write yet), whole messages wait unanswered. A
// sender that stops waiting closes its end, which withdraws the message: a server that comes to it
// only later (it was stopped, busy or held) drops it.
class KelInstanceServer : public QObject {
    Q_OBJECT

public:
    // A command line is tiny; the bound only stops a runaway peer from filling memory.
    static constexpr quint32 MaxMessageBytes = 64u * 1024u * 1024u;

    // Keeps a message durably before it is acknowledged: true when kept, else false with the reason.
    using Recorder = std::function<bool(const QString& message, QString* reason)>;
    enum class Delivery { Delivered, Refused, NoAnswer };

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
    // The same, telling a refusal (with the running instance's reason) from no answer.
    static Delivery deliver(const QString& socketPath, const QString& message, int timeoutMs, QString* reason);

    void setRecorder(Recorder recorder);
    // Held, whole messages wait unanswered; released, those still wanted are recorded and answered.
    void setHeld(bool held);

signals:
    void messageReceived(const QString& message);

private:
    void onNewConnection();
    void readFrom(QLocalSocket* socket, QByteArray& buffer);
    void answer(QLocalSocket* socket, const QString& message);

    QLocalServer* m_server;
    Recorder m_recorder;
    bool m_held = false;
    QList<QPair<QPointer<QLocalSocket>, QString>> m_waiting;
};

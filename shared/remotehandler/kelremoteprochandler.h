#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QTimer;

// Runs a helper program as a child process and exchanges binary messages with it over a local
// socket. The handler is the server: it listens under a fresh name, starts the helper with that
// name as its only argument, accepts the helper's single connection and moves frames both ways,
// each a 4-byte little-endian payload length followed by the payload. The helper is started
// lazily by the first write without a connection. A subclass builds and decodes the payloads.
//
// Everything runs on the thread that owns the handler. write() spins a nested event loop (user
// input excluded) while it waits for the helper to connect. A connected write does not wait: the
// socket buffers the frame and sends it, in order, from the event loop, so a helper busy laying out
// a huge chapter never stops the caller's thread.
class KelRemoteProcHandler : public QObject {
    Q_OBJECT

public:
    // A peer announcing a larger (or negative) payload is broken or hostile: the connection is
    // dropped instead of buffering that much.
    static constexpr qint32 kMaxFrameSize = 256 * 1024 * 1024;
    // The helper starts a web engine before it connects: on a machine busy with other work that
    // takes well over five seconds, and a helper killed for it leaves the book without page numbers.
    static constexpr int kConnectTimeoutMs = 30000;
    static constexpr int kWriteTimeoutMs = 30000;
    // After a helper failed to start or connect, writes fail at once for this long.
    static constexpr int kStartRetryDelayMs = 5000;
    // Payload of the stop message: this integer as one QDataStream value.
    static constexpr qint32 kStopMessage = 85;

    explicit KelRemoteProcHandler(QObject* parent = nullptr);
    ~KelRemoteProcHandler() override;

    // Starts the helper unless it runs already or no program is set; does not wait for it.
    bool startHandler();
    // Sends the stop message when connected and waits a short, bounded time until it is written.
    void stopHandler();
    bool isConnected() const;
    // Sends one frame, first starting the helper and waiting for its connection when needed.
    // A frame that cannot be delivered is dropped with a log line; after a helper failed to
    // connect, it is killed and frames are dropped at once for kStartRetryDelayMs. A helper that
    // reads nothing of what is queued for it for the write time-out is dropped and killed.
    void write(const QByteArray& payload);
    // Name of the local server (32 lower-case hexadecimal digits); empty before setupHandler.
    QString serverName() const { return m_serverName; }

signals:
    void handlerReady();
    void handlerClosed();

protected:
    // Called once by a subclass's constructor with the helper's full path: prepares the process
    // and starts listening. Nothing is started yet.
    void setupHandler(const QString& program);
    // One complete incoming frame, length prefix removed.
    virtual void onDataReceived(const QByteArray& payload);

    // Shorter waits for tests.
    void setTimeouts(int connectMs, int writeMs);
    // The helper's process id, 0 when none runs.
    qint64 helperProcessId() const { return m_process.processId(); }

private:
    bool waitForHelper();
    void retireDisconnectedHelper();
    void killHelper();
    void sendFrame(const QByteArray& payload);
    void onBytesWritten();
    void onWriteStalled();
    void acceptConnections();
    void readFrames();
    void onSocketDisconnected();
    void releaseSocket();
    void dropConnection(const QString& reason);

    QString m_program;
    QString m_serverName;
    QProcess m_process;
    QLocalServer* m_server = nullptr;
    QPointer<QLocalSocket> m_socket;
    qint32 m_pendingFrameSize = -1; // payload length of the frame being received; -1 while reading a length
    int m_connectTimeoutMs = kConnectTimeoutMs;
    int m_writeTimeoutMs = kWriteTimeoutMs;
    bool m_helperConnectedSinceStart = false;
    bool m_waitingForHelper = false;
    QList<QByteArray> m_framesWhileWaiting; // writes made from inside the wait, in order
    bool m_stopSent = false;
    QElapsedTimer m_startFailed; // since the last failed start; invalid after a good one
    QTimer* m_writeWatch = nullptr; // runs while queued bytes wait; restarted by every bit the helper takes
};

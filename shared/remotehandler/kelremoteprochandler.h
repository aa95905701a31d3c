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
// Everything runs on the thread that owns the handler, and nothing waits for the helper: a write
// without a connection queues the frame and starts the helper, and the queue goes out, in order,
// once it connects (after what handlerReady's slots write). No event loop runs inside a call, so
// no caller is deleted under its own feet by an event handled there. A connected write buffers the
// frame in the socket, which sends it from the event loop, so a helper busy laying out a huge
// chapter never stops the caller's thread.
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

    // Starts the helper unless it runs already or no program is set; does not wait for it. One that
    // does not connect within the connect time-out is given up as after a write (handlerFailed).
    bool startHandler();
    // Sends the stop message when connected, without waiting: a helper that has not taken it when
    // the handler is destroyed is killed. Until startHandler, writes are refused and nothing is
    // delivered any more. A helper still connecting is killed and its queue dropped.
    void stopHandler();
    bool isConnected() const;
    // Sends one frame, or queues it and starts the helper when there is no connection. False when
    // the frame is dropped: within kStartRetryDelayMs after a helper failed to connect, after
    // stopHandler, or when the helper cannot be started at all. A helper that does not connect
    // within the connect time-out, or ends before it does, is killed, its queue dropped, and
    // handlerFailed emitted. A helper that reads nothing of what is queued for it for the write
    // time-out is dropped and killed.
    bool write(const QByteArray& payload);
    // Frames waiting for the helper to connect.
    int queuedFrames() const { return m_queue.size(); }
    // Name of the local server (32 lower-case hexadecimal digits); empty before setupHandler.
    QString serverName() const { return m_serverName; }

signals:
    void handlerReady();
    void handlerClosed();
    // A helper started for queued frames did not connect: they are dropped.
    void handlerFailed();

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
    void beginAttempt();
    void failAttempt(const QString& reason);
    void sendQueue(const QList<QByteArray>& frames);
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
    QList<QByteArray> m_queue; // frames written while not connected, in order
    QTimer* m_connectWatch = nullptr; // runs while a started helper has not connected
    bool m_stopSent = false;
    bool m_stopped = false; // after stopHandler: nothing goes out, nothing comes in
    QElapsedTimer m_startFailed; // since the last failed start; invalid after a good one
    QTimer* m_writeWatch = nullptr; // runs while queued bytes wait; restarted by every bit the helper takes
};

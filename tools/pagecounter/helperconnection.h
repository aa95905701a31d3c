#pragma once

#include <QByteArray>
#include <QLocalSocket>
#include <QObject>

// The helper's end of the channel to the reader: one local-socket connection carrying frames of
// a 4-byte little-endian payload length followed by the payload, both ways. The reader is
// trusted more than a book, but a broken stream must not make the helper allocate or crash:
// a length out of range ends the connection, since nothing after it can be framed again.
class HelperConnection : public QObject {
    Q_OBJECT

public:
    // Far above any real message (the engine script or a chapter list of a huge book).
    static constexpr qint32 kMaxFrameSize = 64 * 1024 * 1024;

    explicit HelperConnection(QObject* parent = nullptr);

    // Pause between tries to connect to a server not listening yet.
    static constexpr int kRetryDelayMs = 50;

    // Connects, trying again while the server is not there yet, until the time-out; blocks.
    bool connectTo(const QString& serverName, int timeoutMs);
    void send(const QByteArray& payload);

signals:
    void messageReceived(const QByteArray& payload);
    // The connection is gone: closed by the reader (exitCode 0) or dropped after a frame that
    // cannot be read (exitCode 3).
    void closed(int exitCode);

private:
    void readFrames();

    QLocalSocket m_socket;
    qint32 m_pendingSize = -1; // payload length of the frame being read; -1 while reading a length
    bool m_closed = false;
};

#pragma once

#include <QByteArray>
#include <QLocalSocket>
#include <QtEndian>

// Blocking reads for the stand-in helper programs of the channel tests: they read frames on
// their own, with no event loop, so the tests check the channel against an independent reader.
namespace blockingframes {

// Reads exactly size bytes; false when the connection ends first.
inline bool readExactly(QLocalSocket& socket, char* data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(-1))
            return false;
        const qint64 got = socket.read(data + done, size - done);
        if (got < 0)
            return false;
        done += got;
    }
    return true;
}

// Reads one length-prefixed frame: 0 with the payload read, 1 when the connection ended, 5 for a
// length out of bounds (the helpers' exit codes).
inline int readFrame(QLocalSocket& socket, QByteArray* payload)
{
    char header[4];
    if (!readExactly(socket, header, sizeof header))
        return 1;
    const qint32 length = qFromLittleEndian<qint32>(header);
    if (length < 0 || length > 64 * 1024 * 1024)
        return 5;
    payload->resize(length);
    return readExactly(socket, payload->data(), length) ? 0 : 1;
}

} // namespace blockingframes

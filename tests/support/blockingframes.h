#pragma once

#include <QLocalSocket>

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

} // namespace blockingframes

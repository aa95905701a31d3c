// A stand-in for the page-counting helper in the client's tests: it connects once the file named
// by PL_RECORDING_HELPER_GATE exists (at once without it), appends the type of every message it
// reads to the file named by PL_RECORDING_HELPER_LOG, one line each, and answers nothing.
#include "blockingframes.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <QtEndian>

namespace {

using blockingframes::readExactly;

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 64;
    // Gives up waiting after a minute: the test has gone.
    const QString gate = qEnvironmentVariable("PL_RECORDING_HELPER_GATE");
    for (int i = 0; i < 3000 && !gate.isEmpty() && !QFileInfo::exists(gate); ++i)
        QThread::msleep(20);
    QLocalSocket socket;
    socket.connectToServer(QString::fromLocal8Bit(argv[1]));
    QFile log(qEnvironmentVariable("PL_RECORDING_HELPER_LOG"));
    if (!socket.waitForConnected(5000) || !log.open(QIODevice::Append))
        return 4;
    for (;;) {
        char header[4];
        if (!readExactly(socket, header, sizeof header))
            return 0;
        const qint32 length = qFromLittleEndian<qint32>(header);
        if (length < 0 || length > 64 * 1024 * 1024)
            return 5;
        QByteArray payload(length, Qt::Uninitialized);
        if (!readExactly(socket, payload.data(), length))
            return 0;
        qint32 type = -1;
        QDataStream(payload) >> type;
        log.write(QByteArray::number(type) + '\n');
        log.flush();
    }
}

// A stand-in for the page-counting helper in the client's tests: it connects once the file named
// by PL_RECORDING_HELPER_GATE exists (at once without it), appends the type of every message it
// reads to the file named by PL_RECORDING_HELPER_LOG, one line each, and answers nothing.
#include "blockingframes.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

namespace {


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
        QByteArray payload;
        const int read = blockingframes::readFrame(socket, &payload);
        if (read != 0)
            return read == 1 ? 0 : read;
        qint32 type = -1;
        QDataStream(payload) >> type;
        log.write(QByteArray::number(type) + '\n');
        log.flush();
    }
}

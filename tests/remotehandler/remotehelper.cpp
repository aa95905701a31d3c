// The channel tests' helper program: connects to the server named by its only argument and
// answers the commands of helpercommands.h. It parses frames on its own (blocking reads, no
// event loop), so the tests check the handler against an independent reader and writer.
#include "blockingframes.h"
#include "helpercommands.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <QtEndian>

namespace {


void writeAll(QLocalSocket& socket, const QByteArray& bytes)
{
    socket.write(bytes);
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(-1)) { }
}

QByteArray frame(const QByteArray& payload)
{
    char header[4];
    qToLittleEndian<qint32>(payload.size(), header);
    return QByteArray(header, 4) + payload;
}

// Sends bytes in pieces with pauses, so the handler sees them in separate reads.
void writeInPieces(QLocalSocket& socket, const QByteArray& bytes, const QList<int>& cuts)
{
    int start = 0;
    for (int cut : cuts) {
        writeAll(socket, bytes.mid(start, cut - start));
        start = cut;
        QThread::msleep(40);
    }
    writeAll(socket, bytes.mid(start));
}

// Answers one command; false ends the helper.
bool answer(QLocalSocket& socket, const QByteArray& payload)
{
    QDataStream in(payload);
    qint32 type = -1;
    qint32 value = 0;
    in >> type;
    switch (type) {
    case helpercmd::Echo:
        writeAll(socket, frame(payload));
        return true;
    case helpercmd::Burst: {
        in >> value;
        QByteArray all;
        for (int i = 0; i < value; ++i)
            all += frame(helpercmd::message(helpercmd::Burst, i));
        writeAll(socket, all + frame(QByteArray()));
        return true;
    }
    case helpercmd::Split: {
        in >> value;
        QByteArray reply;
        QDataStream out(&reply, QIODevice::WriteOnly);
        out << qint32(helpercmd::Split) << QByteArray(value, 'x');
        // Two bytes of the length, the rest of it, then the payload in two parts.
        writeInPieces(socket, frame(reply), { 2, 4, 4 + reply.size() / 2 });
        return true;
    }
    case helpercmd::Stall:
        QThread::sleep(60);
        return false;
    case helpercmd::Pause:
        in >> value;
        QThread::msleep(value);
        return true;
    case helpercmd::BadLength: {
        in >> value;
        char header[4];
        qToLittleEndian<qint32>(value, header);
        writeAll(socket, QByteArray(header, 4) + QByteArray(64, 'y'));
        return true;
    }
    case helpercmd::Stop:
        return false;
    default:
        return true;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 64;
    const QByteArray start = qgetenv(helpercmd::kStartVariable);
    if (start == "exit")
        return 3;
    if (start == "noconnect") {
        QThread::sleep(60);
        return 0;
    }
    if (start.startsWith("gate:")) {
        // Connects once the test creates the file; gives up when the test has gone.
        const QString gate = QString::fromLocal8Bit(start.mid(5));
        for (int i = 0; i < 3000 && !QFileInfo::exists(gate); ++i)
            QThread::msleep(20);
    }

    QLocalSocket socket;
    socket.connectToServer(QString::fromLocal8Bit(argv[1]));
    if (!socket.waitForConnected(5000))
        return 4;
    for (;;) {
        QByteArray payload;
        const int read = blockingframes::readFrame(socket, &payload);
        if (read != 0)
            return read == 1 ? 0 : read; // 1: the handler went away
        if (!answer(socket, payload))
            return 0;
    }
}

#include "helpercommands.h"
#include "remotehandler/kelremoteprochandler.h"
#include "temphome.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <csignal>
#include <memory>

namespace {

QString helperPath() { return QCoreApplication::applicationDirPath() + QStringLiteral("/remotehandlerhelper"); }

// The handler as the page-counting client uses it: set up in the constructor, payloads
// collected by the receive hook.
class TestHandler : public KelRemoteProcHandler {
public:
    explicit TestHandler(
        const QString& program = helperPath(), int connectMs = kConnectTimeoutMs, int writeMs = kWriteTimeoutMs)
    {
        setupHandler(program);
        setTimeouts(connectMs, writeMs);
    }

    using KelRemoteProcHandler::helperProcessId;

    QList<QByteArray> received;

protected:
    void onDataReceived(const QByteArray& payload) override { received.append(payload); }
};

QByteArray frameBytes(const QByteArray& payload)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian<qint32>(payload.size(), bytes.data());
    return bytes + payload;
}

bool processAlive(qint64 pid) { return pid > 0 && ::kill(pid_t(pid), 0) == 0; }

} // namespace

class TestRemoteHandler : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString transcriptPath() const { return m_dir->filePath(QStringLiteral("transcript.txt")); }

    QList<QByteArray> transcript() const
    {
        QList<QByteArray> lines = testfiles::read(transcriptPath()).split('\n');
        lines.removeLast(); // after the last line end
        for (QByteArray& line : lines)
            line = QByteArray::fromHex(line);
        return lines;
    }

    // Connects the handler to a fresh helper and checks the echo round trip.
    static void connectAndEcho(TestHandler& handler, const QByteArray& data)
    {
        const int before = handler.received.size();
        handler.write(helpercmd::echo(data));
        QVERIFY(handler.isConnected());
        QTRY_COMPARE(handler.received.size(), before + 1);
        QCOMPARE(handler.received.last(), helpercmd::echo(data));
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        qputenv(helpercmd::kTranscriptVariable, transcriptPath().toLocal8Bit());
        qunsetenv(helpercmd::kStartVariable);
    }

    void writeStartsHelperOnceAndFramesOnTheWire()
    {
        {
            TestHandler handler { QString() };
            QVERIFY(!handler.startHandler());
        }
        TestHandler handler;
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(handler.serverName()).hasMatch());
        QSignalSpy ready(&handler, &KelRemoteProcHandler::handlerReady);
        QCOMPARE(handler.helperProcessId(), 0);
        connectAndEcho(handler, "first");
        const qint64 pid = handler.helperProcessId();
        QVERIFY(pid > 0);
        QVERIFY(!handler.startHandler()); // runs already

        // Connected: the second write goes out at once to the same helper.
        connectAndEcho(handler, QByteArray("second\0with nul", 15));
        QCOMPARE(ready.count(), 1);
        QCOMPARE(handler.helperProcessId(), pid);

        // The helper saw exactly the frames: 4-byte little-endian length, then the payload.
        const QList<QByteArray> frames = transcript();
        QCOMPARE(frames.size(), 2);
        QCOMPARE(frames.at(0), frameBytes(helpercmd::echo("first")));
        QCOMPARE(frames.at(1).left(4), QByteArray::fromHex("17000000"));

        // A write while the helper is still starting waits for it instead of starting another.
        TestHandler starting;
        QVERIFY(starting.startHandler());
        const qint64 startingPid = starting.helperProcessId();
        connectAndEcho(starting, "after start");
        QCOMPARE(starting.helperProcessId(), startingPid);
    }

    void incomingFrames_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QList<QByteArray>>("expected");

        QList<QByteArray> burst;
        for (int i = 0; i < 5; ++i)
            burst << helpercmd::message(helpercmd::Burst, i);
        burst << QByteArray(); // a zero-length frame delivers an empty payload
        QTest::newRow("several frames in one read") << helpercmd::message(helpercmd::Burst, 5) << burst;

        auto split = [](int size) {
            QByteArray reply;
            QDataStream out(&reply, QIODevice::WriteOnly);
            out << qint32(helpercmd::Split) << QByteArray(size, 'x');
            return QList<QByteArray> { reply };
        };
        QTest::newRow("length and payload split over reads") << helpercmd::message(helpercmd::Split, 100) << split(100);
        // Far beyond one socket buffer: arrives in many reads.
        QTest::newRow("large frame") << helpercmd::message(helpercmd::Split, 3 * 1024 * 1024) << split(3 * 1024 * 1024);
        const QByteArray big = helpercmd::echo(QByteArray(2 * 1024 * 1024, 'e'));
        QTest::newRow("large echo both ways") << big << QList<QByteArray> { big };
    }

    void incomingFrames()
    {
        QFETCH(QByteArray, request);
        QFETCH(QList<QByteArray>, expected);
        TestHandler handler;
        connectAndEcho(handler, "hello");
        handler.received.clear();
        handler.write(request);
        QTRY_COMPARE(handler.received.size(), expected.size());
        QCOMPARE(handler.received, expected);
        QVERIFY(handler.isConnected());
    }

    void writesDuringTheWaitKeepTheirOrder()
    {
        TestHandler handler;
        // As the page-counting client does: the first message goes out when the helper connects.
        connect(&handler, &KelRemoteProcHandler::handlerReady, &handler,
            [&handler] { handler.write(helpercmd::echo("on ready")); });
        // Runs inside the nested loop of the write below.
        QTimer::singleShot(0, &handler, [&handler] { handler.write(helpercmd::echo("from timer")); });
        handler.write(helpercmd::echo("first"));
        QTRY_COMPARE(handler.received.size(), 3);
        QCOMPARE(handler.received.at(0), helpercmd::echo("on ready"));
        QCOMPARE(handler.received.at(1), helpercmd::echo("first"));
        QCOMPARE(handler.received.at(2), helpercmd::echo("from timer"));
    }

    void stopMessage()
    {
        {
            // Not connected: nothing is sent and nothing is started.
            TestHandler handler;
            handler.stopHandler();
            QCOMPARE(handler.helperProcessId(), 0);
            QVERIFY(!QFile::exists(transcriptPath()));
        }
        TestHandler handler;
        QSignalSpy closed(&handler, &KelRemoteProcHandler::handlerClosed);
        connectAndEcho(handler, "x");
        qint64 pid = handler.helperProcessId();
        handler.stopHandler();
        // The helper reads the stop frame and ends; its connection goes with it.
        QTRY_COMPARE(closed.count(), 1);
        QVERIFY(!handler.isConnected());
        QCOMPARE(transcript().last(), QByteArray::fromHex("0400000000000055"));
        QTRY_VERIFY(!processAlive(pid) || handler.helperProcessId() == 0);

        // Destroying the handler ends its helper.
        {
            TestHandler other;
            connectAndEcho(other, "x");
            pid = other.helperProcessId();
        }
        QVERIFY(!processAlive(pid));
    }

    void helperThatNeverConnects_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<int>("connectTimeout");
        QTest::addColumn<int>("maxElapsed");
        // With the full connect time-out: failing to start ends the wait early.
        QTest::newRow("missing program") << QStringLiteral("/nonexistent/helper") << QByteArray() << 5000 << 4000;
        QTest::newRow("exits before connecting") << helperPath() << QByteArray("exit") << 5000 << 4000;
        QTest::newRow("runs but never connects") << helperPath() << QByteArray("noconnect") << 400 << 4000;
    }

    void helperThatNeverConnects()
    {
        QFETCH(QString, program);
        QFETCH(QByteArray, start);
        QFETCH(int, connectTimeout);
        QFETCH(int, maxElapsed);
        if (!start.isEmpty())
            qputenv(helpercmd::kStartVariable, start);
        TestHandler handler(program, connectTimeout);
        QSignalSpy ready(&handler, &KelRemoteProcHandler::handlerReady);
        for (int attempt = 0; attempt < 3; ++attempt) {
            QTest::ignoreMessage(QtCriticalMsg, "Can't start handler process!!!");
            QElapsedTimer timer;
            timer.start();
            handler.write(helpercmd::echo("lost"));
            // Only the first write waits; the next ones, soon after, give up at once.
            QVERIFY2(timer.elapsed() < (attempt == 0 ? maxElapsed : 200), qPrintable(QString::number(timer.elapsed())));
            QVERIFY(!handler.isConnected());
            // A helper that runs without connecting is not left behind.
            QCOMPARE(handler.helperProcessId(), 0);
        }
        QCOMPARE(ready.count(), 0);
        QVERIFY(handler.received.isEmpty());
    }

    void helperBreaksMidRun_data()
    {
        QTest::addColumn<QString>("how"); // "kill", "stall" or a frame length it announces
        QTest::newRow("kill") << QStringLiteral("kill");
        QTest::newRow("stall") << QStringLiteral("stall");
        QTest::newRow("just over the bound") << QString::number(KelRemoteProcHandler::kMaxFrameSize + 1);
        QTest::newRow("most negative") << QString::number(qint32(0x80000000));
    }

    // A helper that dies, stops reading or announces an out-of-range frame is dropped without a hang
    // and without a delivery; the next write starts a new one under the same server name.
    void helperBreaksMidRun()
    {
        QFETCH(QString, how);
        TestHandler handler(helperPath(), KelRemoteProcHandler::kConnectTimeoutMs, 300);
        QSignalSpy closed(&handler, &KelRemoteProcHandler::handlerClosed);
        connectAndEcho(handler, "before");
        handler.received.clear();
        const qint64 pid = handler.helperProcessId();
        QElapsedTimer timer;
        timer.start();
        if (how == QLatin1String("kill")) {
            QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
        } else if (how == QLatin1String("stall")) {
            handler.write(helpercmd::message(helpercmd::Stall));
            // Far more than the socket buffers hold: the write cannot finish while nobody reads.
            handler.write(helpercmd::echo(QByteArray(16 * 1024 * 1024, 's')));
        } else {
            handler.write(helpercmd::message(helpercmd::BadLength, how.toInt()));
        }
        QTRY_COMPARE(closed.count(), 1);
        QVERIFY2(timer.elapsed() < 4000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!handler.isConnected());
        QVERIFY(handler.received.isEmpty());
        QTRY_VERIFY(handler.helperProcessId() != pid);
        connectAndEcho(handler, "after");
    }

    void secondClientIsRefused()
    {
        TestHandler handler;
        connectAndEcho(handler, "one");
        QLocalSocket intruder;
        intruder.connectToServer(handler.serverName());
        QVERIFY(intruder.waitForConnected(2000));
        QTRY_COMPARE(intruder.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(intruder.bytesAvailable(), 0);
        connectAndEcho(handler, "two");

        // Nothing stale is left pending: after a restart the new helper is the one accepted.
        QLocalSocket lateIntruder;
        lateIntruder.connectToServer(handler.serverName());
        QVERIFY(lateIntruder.waitForConnected(2000));
        const qint64 pid = handler.helperProcessId();
        QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
        QTRY_VERIFY(!handler.isConnected());
        connectAndEcho(handler, "three");
    }

    void handlerDeletedWhileWaiting()
    {
        qputenv(helpercmd::kStartVariable, "noconnect");
        auto* handler = new TestHandler;
        qint64 pid = 0;
        QTimer::singleShot(100, [&] {
            pid = handler->helperProcessId();
            delete handler;
        });
        QElapsedTimer timer;
        timer.start();
        handler->write(helpercmd::echo("never sent")); // returns into a deleted object's frame: must not touch it
        QVERIFY2(timer.elapsed() < 4000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(pid > 0);
        QVERIFY(!processAlive(pid));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TempHome home;
    TestRemoteHandler test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_remotehandler.moc"

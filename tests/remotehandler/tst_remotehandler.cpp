#include "helpercommands.h"
#include "remotehandler/kelremoteprochandler.h"
#include "temphome.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

namespace {

QString helperPath() { return QCoreApplication::applicationDirPath() + QStringLiteral("/remotehandlerhelper"); }

// How long a step waits for the state it checks (a helper connected, a frame received): ended as
// soon as the state comes, and long enough for a machine whose processors are all busy.
constexpr int kPatienceMs = 30000;

// The handler as the page-counting client uses it, collecting the payloads it receives.
class TestHandler : public KelRemoteProcHandler {
public:
    explicit TestHandler(
        const QString& program = helperPath(), int connectMs = kPatienceMs, int writeMs = kWriteTimeoutMs)
    {
        setupHandler(program);
        setTimeouts(connectMs, writeMs);
    }

    using KelRemoteProcHandler::helperProcessId;

    QList<QByteArray> received;

protected:
    void onDataReceived(const QByteArray& payload) override { received.append(payload); }
};

bool processAlive(qint64 pid) { return pid > 0 && ::kill(pid_t(pid), 0) == 0; }

// Records every message while it lives and passes each on, so that QTest still matches the ones
// a test expects.
class LogRecorder {
public:
    LogRecorder()
    {
        s_lines.clear();
        s_previous = qInstallMessageHandler(&LogRecorder::handle);
    }
    ~LogRecorder() { qInstallMessageHandler(s_previous); }

    int size() const { return s_lines.size(); }
    QStringList linesFrom(int first) const { return s_lines.mid(first); }
    int count(const QString& part) const { return s_lines.filter(part).size(); }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        s_lines.append(message);
        if (s_previous)
            s_previous(type, context, message);
    }

    static inline QtMessageHandler s_previous = nullptr;
    static inline QStringList s_lines;
};

// The log line of a wait for the helper's connection that ran its whole time-out.
const QString kConnectTimedOut = QStringLiteral("The helper did not connect within");

// Makes the next helpers connect only once the returned file exists.
QString gateHelpers(const QTemporaryDir& dir)
{
    const QString gate = dir.filePath(QStringLiteral("connect"));
    qputenv(helpercmd::kStartVariable, "gate:" + gate.toLocal8Bit());
    return gate;
}

bool openGate(const QString& gate) { return QFile(gate).open(QIODevice::WriteOnly); }

} // namespace

class TestRemoteHandler : public QObject {
    Q_OBJECT

    // Connects the handler to a fresh helper and checks the echo round trip.
    static void connectAndEcho(TestHandler& handler, const QByteArray& data)
    {
        const int before = handler.received.size();
        QVERIFY(handler.write(helpercmd::echo(data)));
        QTRY_VERIFY_WITH_TIMEOUT(handler.isConnected(), kPatienceMs);
        QTRY_COMPARE_WITH_TIMEOUT(handler.received.size(), before + 1, kPatienceMs);
        QCOMPARE(handler.received.last(), helpercmd::echo(data));
    }

private slots:
    void init() { qunsetenv(helpercmd::kStartVariable); }

    void writeStartsHelperOnceAndFramesOnTheWire()
    {
        {
            TestHandler handler { QString() };
            QVERIFY(!handler.startHandler());
        }
        TestHandler handler;
        QSignalSpy ready(&handler, &KelRemoteProcHandler::handlerReady);
        QCOMPARE(handler.helperProcessId(), 0);
        connectAndEcho(handler, "first");
        const qint64 pid = handler.helperProcessId();
        QVERIFY(pid > 0);
        QVERIFY(!handler.startHandler()); // runs already

        // Connected: the second write goes out at once to the same helper, which reads the frames on its own.
        connectAndEcho(handler, QByteArray("second\0with nul", 15));
        QCOMPARE(ready.count(), 1);
        QCOMPARE(handler.helperProcessId(), pid);

        // A write while the helper is still starting is queued for it instead of starting another.
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

        QByteArray split;
        QDataStream(&split, QIODevice::WriteOnly) << qint32(helpercmd::Split) << QByteArray(100, 'x');
        QTest::newRow("length and payload split over reads")
            << helpercmd::message(helpercmd::Split, 100) << QList<QByteArray> { split };
        // Far beyond one socket buffer: arrives in many reads.
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
        QTRY_COMPARE_WITH_TIMEOUT(handler.received.size(), expected.size(), kPatienceMs);
        QCOMPARE(handler.received, expected);
        QVERIFY(handler.isConnected());
    }

    // Writes without a connection return at once, queued; what handlerReady's slots write goes
    // first, then the queue in order, then what was written after the connection.
    void writesBeforeTheConnectionKeepTheirOrder()
    {
        QTemporaryDir dir;
        const QString gate = gateHelpers(dir);
        TestHandler handler;
        // As the page-counting client does: the first message goes out when the helper connects.
        connect(&handler, &KelRemoteProcHandler::handlerReady, &handler,
            [&handler] { handler.write(helpercmd::echo("on ready")); });
        bool timerRan = false;
        QTimer::singleShot(0, &handler, [&] {
            timerRan = true;
            QVERIFY(handler.write(helpercmd::echo("from timer")));
        });
        QVERIFY(handler.write(helpercmd::echo("first")));
        QVERIFY(handler.write(helpercmd::echo("second")));
        // The helper is told to connect only here: a write that waited for it would have failed.
        QVERIFY(!timerRan);
        QCOMPARE(handler.queuedFrames(), 2);
        QVERIFY(!handler.isConnected());
        QTRY_VERIFY_WITH_TIMEOUT(timerRan && handler.helperProcessId() > 0, kPatienceMs);
        QVERIFY(openGate(gate));
        QTRY_VERIFY_WITH_TIMEOUT(handler.isConnected(), kPatienceMs);
        QCOMPARE(handler.queuedFrames(), 0);
        QVERIFY(handler.write(helpercmd::echo("connected")));
        QTRY_COMPARE_WITH_TIMEOUT(handler.received.size(), 5, kPatienceMs);
        QCOMPARE(handler.received,
            (QList<QByteArray> { helpercmd::echo("on ready"), helpercmd::echo("first"), helpercmd::echo("second"),
                helpercmd::echo("from timer"), helpercmd::echo("connected") }));
    }

    void stopMessage()
    {
        {
            TestHandler handler;
            handler.stopHandler(); // not connected: nothing is started
            QCOMPARE(handler.helperProcessId(), 0);
        }
        {
            // Stopped while the helper starts: it is killed, its queue dropped, and the channel
            // takes nothing more.
            QTemporaryDir dir;
            gateHelpers(dir);
            TestHandler handler;
            QVERIFY(handler.write(helpercmd::echo("queued")));
            QVERIFY(handler.helperProcessId() > 0);
            handler.stopHandler();
            QCOMPARE(handler.helperProcessId(), 0);
            QCOMPARE(handler.queuedFrames(), 0);
            QTest::ignoreMessage(QtWarningMsg, "The helper channel is stopped; a frame of 9 bytes dropped");
            QVERIFY(!handler.write(helpercmd::echo("x")));
            qunsetenv(helpercmd::kStartVariable);
        }
        TestHandler handler;
        QSignalSpy closed(&handler, &KelRemoteProcHandler::handlerClosed);
        connectAndEcho(handler, "x");
        qint64 pid = handler.helperProcessId();
        // The reply to a frame written just before the stop is not delivered: at exit its
        // receiver may be half gone.
        const int before = handler.received.size();
        QVERIFY(handler.write(helpercmd::echo("late")));
        handler.stopHandler();
        // The helper reads the stop frame and ends; its connection goes with it.
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, kPatienceMs);
        QCOMPARE(handler.received.size(), before);
        QVERIFY(!handler.isConnected());
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid) || handler.helperProcessId() == 0, kPatienceMs);

        // Destroying the handler ends its helper.
        {
            TestHandler other;
            connectAndEcho(other, "x");
            pid = other.helperProcessId();
        }
        QVERIFY(!processAlive(pid));

        // At exit a helper too busy to read is not waited for: stopHandler returns with the stop
        // message unsent, and the handler's end kills the helper without waiting for it to exit
        // (that wait would end in a warning of its own). The time it takes is in bench_pagecounter.
        LogRecorder log;
        {
            TestHandler busy;
            connectAndEcho(busy, "x");
            pid = busy.helperProcessId();
            busy.write(helpercmd::message(helpercmd::Stall));
            busy.write(helpercmd::echo(QByteArray(16 * 1024 * 1024, 's')));
            busy.stopHandler();
            QVERIFY(busy.isConnected());
            QTest::ignoreMessage(QtWarningMsg, "The helper has not taken the stop message; killing it");
        }
        QCOMPARE(log.count(QStringLiteral("of the stop message; killing it")), 0);
        QVERIFY(!processAlive(pid));
    }

    void helperSlowToRead_data()
    {
        QTest::addColumn<QList<int>>("pauses"); // how long the helper sleeps before each large frame
        QTest::addColumn<int>("bound"); // the write time-out
        QTest::newRow("one pause under the bound")
            << QList<int> { 800, 0, 0 } << int(KelRemoteProcHandler::kWriteTimeoutMs);
        QTest::newRow("pauses each under the bound, together over it") << QList<int> { 1000, 1000, 1000 } << 2000;
    }

    // A helper that reads late holds nobody up: each write returns at once, the caller's timers
    // fire while the frames wait, and they arrive whole and in order. Only reading nothing for the
    // whole bound drops it.
    void helperSlowToRead()
    {
        QFETCH(QList<int>, pauses);
        QFETCH(int, bound);
        TestHandler handler(helperPath(), kPatienceMs, bound);
        QSignalSpy closed(&handler, &KelRemoteProcHandler::handlerClosed);
        connectAndEcho(handler, "before");
        handler.received.clear();
        int ticksWhileWaiting = 0;
        QTimer tick;
        tick.setInterval(20);
        connect(&tick, &QTimer::timeout, &tick, [&] { ticksWhileWaiting += handler.received.isEmpty() ? 1 : 0; });
        tick.start();
        // The helper is stopped while the frames are written: a write that waited for it to read
        // would wait out its time-out (30 s in the first row), and return only once the watchdog,
        // far later than any write of a busy machine, lets the helper go on.
        const pid_t pid = pid_t(handler.helperProcessId());
        QCOMPARE(::kill(pid, SIGSTOP), 0);
        QSemaphore written;
        std::atomic<bool> letGo { false };
        std::thread watchdog([&] {
            if (!written.tryAcquire(1, 20000)) {
                letGo = true;
                ::kill(pid, SIGCONT);
            }
        });
        QList<QByteArray> sent;
        for (int i = 0; i < pauses.size(); ++i) {
            handler.write(helpercmd::message(helpercmd::Pause, pauses.at(i)));
            // Far beyond the socket buffers: it cannot all go out while the helper sleeps.
            sent << helpercmd::echo(QByteArray(4 * 1024 * 1024, char('a' + i)));
            handler.write(sent.last());
        }
        written.release();
        watchdog.join();
        ::kill(pid, SIGCONT);
        QVERIFY2(!letGo, "a write waited for the helper");
        QTRY_COMPARE_WITH_TIMEOUT(handler.received.size(), sent.size(), kPatienceMs);
        QVERIFY(handler.received == sent);
        QVERIFY2(ticksWhileWaiting >= pauses.first() / 20 / 2, qPrintable(QString::number(ticksWhileWaiting)));
        QVERIFY(handler.isConnected());
        QCOMPARE(closed.count(), 0);
    }

    void helperThatNeverConnects_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<int>("connectTimeout");
        // With a long connect time-out: failing to start ends the wait before it.
        QTest::newRow("missing program") << QStringLiteral("/nonexistent/helper") << QByteArray() << kPatienceMs;
        QTest::newRow("exits before connecting") << helperPath() << QByteArray("exit") << kPatienceMs;
        QTest::newRow("runs but never connects") << helperPath() << QByteArray("noconnect") << 400;
    }

    void helperThatNeverConnects()
    {
        QFETCH(QString, program);
        QFETCH(QByteArray, start);
        QFETCH(int, connectTimeout);
        if (!start.isEmpty())
            qputenv(helpercmd::kStartVariable, start);
        TestHandler handler(program, connectTimeout);
        QSignalSpy ready(&handler, &KelRemoteProcHandler::handlerReady);
        QSignalSpy failed(&handler, &KelRemoteProcHandler::handlerFailed);
        LogRecorder log;
        // Queued: the attempt ends from the event loop. A failed start ends it, which runs out its
        // time only for the helper that never connects; the queue goes with it.
        QVERIFY(handler.write(helpercmd::echo("lost")));
        QVERIFY(handler.write(helpercmd::echo("lost too")));
        QTest::ignoreMessage(QtCriticalMsg, "Can't start handler process!!!");
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, kPatienceMs);
        QCOMPARE(log.count(kConnectTimedOut), start == "noconnect" ? 1 : 0);
        QCOMPARE(log.count(QStringLiteral("; 2 queued frames dropped")), 1);
        QCOMPARE(handler.queuedFrames(), 0);
        // A helper that runs without connecting is not left behind.
        QCOMPARE(handler.helperProcessId(), 0);
        // The next writes, soon after, give up at once, before starting anything.
        for (int attempt = 0; attempt < 2; ++attempt) {
            QTest::ignoreMessage(QtCriticalMsg, "Can't start handler process!!!");
            const int before = log.size();
            QVERIFY(!handler.write(helpercmd::echo("lost")));
            QCOMPARE(log.linesFrom(before), QStringList { QStringLiteral("Can't start handler process!!!") });
            QCOMPARE(handler.helperProcessId(), 0);
        }
        QVERIFY(!handler.isConnected());
        QCOMPARE(failed.count(), 1);
        QCOMPARE(ready.count(), 0);
        QVERIFY(handler.received.isEmpty());
    }

    void helperBreaksMidRun_data()
    {
        QTest::addColumn<int>("length"); // the frame length it announces; 0: it stops reading
        QTest::newRow("stall") << 0;
        QTest::newRow("just over the bound") << KelRemoteProcHandler::kMaxFrameSize + 1;
        QTest::newRow("most negative") << int(qint32(0x80000000));
    }

    // A helper that stops reading or announces an out-of-range frame is dropped (no hang, no delivery); the
    // next write starts a new one.
    void helperBreaksMidRun()
    {
        QFETCH(int, length);
        TestHandler handler(helperPath(), kPatienceMs, 300);
        QSignalSpy closed(&handler, &KelRemoteProcHandler::handlerClosed);
        connectAndEcho(handler, "before");
        handler.received.clear();
        const qint64 pid = handler.helperProcessId();
        QElapsedTimer timer;
        timer.start();
        if (length == 0) {
            handler.write(helpercmd::message(helpercmd::Stall));
            // Far more than the socket buffers hold: the write cannot finish while nobody reads.
            handler.write(helpercmd::echo(QByteArray(16 * 1024 * 1024, 's')));
            // Queued, not waited for: the writes return with the helper still connected, and it is
            // dropped only from the event loop once the bound passes (a wait inside the write would
            // have dropped it there). A busy machine may take its time over the copy, so no clock.
            QVERIFY(handler.isConnected());
            QCOMPARE(closed.count(), 0);
            QTest::ignoreMessage(
                QtWarningMsg, "Dropping the helper connection: the helper has not read its messages for 300 ms");
        } else {
            handler.write(helpercmd::message(helpercmd::BadLength, length));
        }
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, kPatienceMs);
        // The drop waits for the handler's own timer, which a busy machine only delays; Qt's coarse
        // timers may fire up to 5 % early.
        if (length == 0)
            QVERIFY2(timer.elapsed() >= 300 * 95 / 100, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!handler.isConnected());
        QVERIFY(handler.received.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(handler.helperProcessId() != pid, kPatienceMs);
        connectAndEcho(handler, "after");
    }

    void secondClientIsRefused()
    {
        TestHandler handler;
        connectAndEcho(handler, "one");
        QLocalSocket intruder;
        intruder.connectToServer(handler.serverName());
        QVERIFY(intruder.waitForConnected(kPatienceMs));
        QTRY_COMPARE_WITH_TIMEOUT(intruder.state(), QLocalSocket::UnconnectedState, kPatienceMs);
        QCOMPARE(intruder.bytesAvailable(), 0);
        connectAndEcho(handler, "two");

        // Nothing stale is left pending: after a restart the new helper is the one accepted.
        QLocalSocket lateIntruder;
        lateIntruder.connectToServer(handler.serverName());
        QVERIFY(lateIntruder.waitForConnected(kPatienceMs));
        const qint64 pid = handler.helperProcessId();
        QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!handler.isConnected(), kPatienceMs);
        connectAndEcho(handler, "three");
    }

    // Deleted with frames queued and its helper still starting: nothing waits, nothing is
    // delivered, the helper is killed and no time-out fires later.
    void handlerDeletedWhileWaiting()
    {
        QTemporaryDir dir;
        gateHelpers(dir);
        auto* handler = new TestHandler;
        QVERIFY(handler->write(helpercmd::echo("never sent")));
        const qint64 pid = handler->helperProcessId();
        QVERIFY(pid > 0);
        delete handler;
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

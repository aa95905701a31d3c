#include "singleapplication/kelinstanceserver.h"
#include "singleapplication/kellocalpeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <QtEndian>

#include <future>

namespace {
// One copy of the helper program with its output lines.
class Helper {
public:
    explicit Helper(const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/kelinstancehelper"), args);
    }
    ~Helper()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // The first line starting with prefix that has not been returned yet; empty on time-out.
    QString waitForLine(const QString& prefix, int timeoutMs = 15000)
    {
        QElapsedTimer timer;
        timer.start();
        forever
        {
            for (int i = 0; i < lines.size(); ++i) {
                if (!taken.contains(i) && lines.at(i).startsWith(prefix)) {
                    taken.insert(i);
                    return lines.at(i);
                }
            }
            if (timer.elapsed() > timeoutMs)
                return QString();
            if (process.state() == QProcess::NotRunning && process.bytesAvailable() == 0)
                return QString();
            process.waitForReadyRead(50);
            readLines();
        }
    }

    bool finish(int timeoutMs = 15000)
    {
        const bool done = process.waitForFinished(timeoutMs);
        readLines();
        return done && process.exitStatus() == QProcess::NormalExit;
    }

    QProcess process;
    QStringList lines;

private:
    void readLines()
    {
        partial += process.readAllStandardOutput();
        int end;
        while ((end = partial.indexOf('\n')) >= 0) {
            lines.append(QString::fromUtf8(partial.left(end)));
            partial.remove(0, end + 1);
        }
    }

    QByteArray partial;
    QSet<int> taken;
};

QString uniqueId() { return QStringLiteral("kel-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces); }
}

class TestKelSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void killedInstanceDoesNotBlockTheNextStart()
    {
        const QString id = uniqueId();
        {
            Helper first({ id, QStringLiteral("primary"), QStringLiteral("0") });
            QCOMPARE(first.waitForLine(QStringLiteral("READY")), QStringLiteral("READY"));
            first.process.kill(); // SIGKILL: no clean-up at all
            QVERIFY(first.process.waitForFinished(5000));
        }
        // Lock and socket of the dead instance are still there.
        QVERIFY(QFile::exists(KelLocalPeer::lockFilePathFor(id)));
        QVERIFY(QFile::exists(KelLocalPeer::socketPathFor(id)));

        // A start that finds only the dead instance becomes the running one at once.
        QElapsedTimer timer;
        timer.start();
        {
            Helper lone({ id, QStringLiteral("send"), QStringLiteral("8000"), QStringLiteral("/books/a.epub") });
            QVERIFY(lone.finish());
            QCOMPARE(lone.lines, QStringList { QStringLiteral("NOTSENT primary=1") });
        }
        QVERIFY2(timer.elapsed() < 6000, "the stale lock was waited for");

        Helper next({ id, QStringLiteral("primary"), QStringLiteral("1") });
        QCOMPARE(next.waitForLine(QStringLiteral("READY")), QStringLiteral("READY"));
        // A later start hands its arguments over and brings the minimised window forward.
        Helper sender({ id, QStringLiteral("send"), QStringLiteral("5000"), QStringLiteral("/books/b.epub"),
            QStringLiteral("/books/two words.fb2") });
        QVERIFY(sender.finish());
        QCOMPARE(sender.lines, QStringList { QStringLiteral("SENT") });
        QCOMPARE(next.waitForLine(QStringLiteral("MSG ")), QStringLiteral("MSG /books/b.epub|/books/two words.fb2"));
        QCOMPARE(next.waitForLine(QStringLiteral("WIN ")), QStringLiteral("WIN minimized=0 visible=1"));
        QVERIFY(next.finish());
    }

    void heldLockWithoutServerIsRetriedUntilTimeout()
    {
        const QString id = uniqueId();
        QLockFile lock(KelLocalPeer::lockFilePathFor(id));
        lock.setStaleLockTime(0);
        QVERIFY(lock.tryLock(0));

        // Nobody answers: the start gives up after its time-out and cannot take the live lock.
        QElapsedTimer timer;
        timer.start();
        {
            Helper sender({ id, QStringLiteral("send"), QStringLiteral("1500"), QStringLiteral("/books/c.epub") });
            QVERIFY(sender.finish());
            QCOMPARE(sender.lines, QStringList { QStringLiteral("NOTSENT primary=0") });
        }
        QVERIFY2(timer.elapsed() >= 1400, "gave up before the time-out");

        // The lock holder starts serving while a later start is still retrying.
        Helper sender({ id, QStringLiteral("send"), QStringLiteral("10000"), QStringLiteral("/books/d.epub") });
        QTest::qWait(600);
        QCOMPARE(sender.process.state(), QProcess::Running);
        KelInstanceServer server;
        QSignalSpy received(&server, &KelInstanceServer::messageReceived);
        QVERIFY(server.listen(KelLocalPeer::socketPathFor(id)));
        QTRY_COMPARE_WITH_TIMEOUT(sender.process.state(), QProcess::NotRunning, 10000);
        sender.finish();
        QCOMPARE(sender.lines, QStringList { QStringLiteral("SENT") });
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toString(), QStringLiteral("/books/d.epub"));
    }

    void serverReassemblesChunksAndRefusesOversizedFrames()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("s"));
        KelInstanceServer server;
        QSignalSpy received(&server, &KelInstanceServer::messageReceived);
        QVERIFY(server.listen(path));

        // A length far beyond the bound: the connection is dropped, nothing is delivered.
        QLocalSocket hostile;
        hostile.connectToServer(path);
        QVERIFY(hostile.waitForConnected(2000));
        char header[4];
        qToBigEndian<quint32>(KelInstanceServer::MaxMessageBytes + 1, header);
        hostile.write(header, 4);
        hostile.flush();
        QTRY_COMPARE(hostile.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(received.count(), 0);

        // A message written in pieces arrives once, whole, and is acknowledged.
        const QByteArray payload = QStringLiteral("Über|書籍").toUtf8();
        QLocalSocket slow;
        slow.connectToServer(path);
        QVERIFY(slow.waitForConnected(2000));
        qToBigEndian<quint32>(quint32(payload.size()), header);
        slow.write(header, 2);
        slow.flush();
        QTest::qWait(30);
        slow.write(header + 2, 2);
        slow.write(payload.left(3));
        slow.flush();
        QTest::qWait(30);
        QCOMPARE(received.count(), 0);
        slow.write(payload.mid(3));
        slow.flush();
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toString(), QStringLiteral("Über|書籍"));
        QTRY_VERIFY(slow.bytesAvailable() == 1 || slow.waitForReadyRead(10));
        QCOMPARE(slow.read(1), QByteArray("\x06"));

        // The server still serves a regular start from another thread, with a long text far over one read.
        QString text;
        for (int i = 0; text.size() < 3000000; ++i)
            text += QStringLiteral("/книги/Война и мир — 書籍 %1.epub|").arg(i);
        auto delivered
            = std::async(std::launch::async, [path, text] { return KelInstanceServer::deliver(path, text, 20000); });
        QTRY_COMPARE_WITH_TIMEOUT(received.count(), 2, 20000);
        QVERIFY(received.last().first().toString() == text);
        QVERIFY(delivered.get());
    }
};

QTEST_GUILESS_MAIN(TestKelSingleInstance)
#include "tst_kelsingleinstance.moc"

// The page-counting helper against a server of the test's own: it refuses malformed messages and
// keeps serving, ends on a frame it cannot read, on the stop message and when the connection
// closes, and never needs a display.

#include "chapterbuilder.h"
#include "jsengine/jsengine.h"
#include "pagecountprotocol.h"
#include "temphome.h"
#include "testfiles.h"
#include "testpaths.h"

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QUuid>
#include <QtEndian>
#include <QtTest>

#include <memory>

namespace {

QString helperPath() { return testpaths::binDir() + QStringLiteral("/zuvezedoda"); }

QByteArray frame(const QByteArray& payload)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian<qint32>(payload.size(), bytes.data());
    return bytes + payload;
}

template <typename... Values> QByteArray payload(const Values&... values)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    (out << ... << values);
    return bytes;
}

// One helper process connected to a server of the test.
class Helper {
public:
    explicit Helper(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        const QString name = QUuid::createUuid().toString(QUuid::Id128);
        m_server.listen(name);
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_process.start(helperPath(), { name });
        m_process.waitForStarted(10000);
        if (m_server.waitForNewConnection(20000))
            socket = m_server.nextPendingConnection();
    }
    ~Helper()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    void send(const QByteArray& message)
    {
        socket->write(frame(message));
        socket->waitForBytesWritten(5000);
    }
    void sendRaw(const QByteArray& bytes)
    {
        socket->write(bytes);
        socket->waitForBytesWritten(5000);
    }

    // The next whole frame's payload, or a null array after the time-out.
    QByteArray receive(int timeoutMs = 60000)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            if (socket->bytesAvailable() >= 4) {
                char header[4];
                socket->peek(header, 4);
                const qint32 length = qFromLittleEndian<qint32>(header);
                if (socket->bytesAvailable() >= 4 + length) {
                    socket->read(4);
                    return socket->read(length);
                }
            }
            if (deadline.hasExpired() || !socket->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                return QByteArray();
        }
    }

    bool finishes(int timeoutMs = 15000) { return m_process.waitForFinished(timeoutMs); }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    bool running() const { return m_process.state() == QProcess::Running; }

    QLocalSocket* socket = nullptr;

private:
    QLocalServer m_server;
    QProcess m_process;
};

PaginationResult readResult(const QByteArray& reply)
{
    PaginationResult result;
    QDataStream in(reply);
    qint32 type = -1;
    in >> type;
    if (type == pagecount::Pagination)
        pagecount::readResult(in, &result);
    else
        result.number = -1000;
    return result;
}

QString pageFormat(int width = 600, int height = 500)
{
    return QStringLiteral("replaceOrAddStyle('body_style_2', 'body{ text-align: justify !important; }');"
                          "setPageDim(1,40, %1, %2, 20);")
        .arg(width)
        .arg(height);
}

PaginationRequest request()
{
    PaginationRequest r;
    r.pageFormatScript = pageFormat();
    r.fontSize = 18;
    return r;
}

} // namespace

class TestPageCounterHelper : public QObject {
    Q_OBJECT

    TempHome m_home;
    QTemporaryDir m_dir;
    QString m_chapter;

    ChapterPageInfo chapter(const QString& source, const QUrl& url) const
    {
        ChapterPageInfo info;
        info.source = source;
        info.fileUrl = url;
        return info;
    }

    ChapterPageInfo goodChapter() const { return chapter(QStringLiteral("one.xhtml"), QUrl::fromLocalFile(m_chapter)); }

    // A valid chapter list and pagination get an answer with the chapter laid out.
    static void checkServes(Helper& helper, const ChapterPageInfo& info)
    {
        helper.send(pagecount::chapterListMessage({ info }));
        helper.send(pagecount::paginationMessage(request()));
        const PaginationResult result = readResult(helper.receive());
        QCOMPARE(result.chapters.size(), 1);
        QCOMPARE(result.chapters.at(0).startPage, 0);
        QVERIFY(result.chapters.at(0).pageCount > 1);
        QCOMPARE(result.number, result.chapters.at(0).pageCount);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QFileInfo(helperPath()).isExecutable());
        QVERIFY(m_dir.isValid());
        ChapterBuilder builder(5);
        builder.addHeading(1, QStringLiteral("One"));
        builder.addProse(12);
        m_chapter = builder.write(m_dir.path(), QStringLiteral("one.xhtml"));
        QVERIFY(!m_chapter.isEmpty());
    }

    void ignoresMalformedMessages()
    {
        Helper helper;
        QVERIFY(helper.socket);
        helper.send(pagecount::engineScriptMessage(jsengine::scriptWithInit(QStringLiteral("abc"))));
        const QList<QByteArray> junk = {
            QByteArray(),
            payload(qint32(1)),
            payload(qint32(1), qint32(0x7fffffff), qint32(0)),
            payload(qint32(1), qint32(-5), QString()),
            payload(qint32(1), qint32(1), QStringLiteral("a"), QUrl(), qint32(0), qint32(0), qint32(0x7fffffff)),
            payload(qint32(2), pageFormat()),
            payload(qint32(2), pageFormat(), qint32(18), QString(), QString(), quint32(0xfffffff0)),
            payload(qint32(3), quint32(0x7ffffffe)),
            payload(qint32(3), quint32(3), qint16(0x41)),
            payload(qint32(22), QStringLiteral("x"), qint32(2)),
            payload(qint32(0), quint32(0xfffffffe)),
            payload(qint32(77), QStringLiteral("unknown")),
            payload(qint32(-1)),
        };
        for (const QByteArray& message : junk)
            helper.send(message);
        // Nothing of that is answered, and the helper still serves.
        checkServes(helper, goodChapter());
        QVERIFY(helper.running());
    }

    // Chapters it must not or cannot load are counted as empty and named in the result; the
    // others are laid out as always.
    void refusesChaptersThatAreNotLocalFiles()
    {
        Helper helper;
        QVERIFY(helper.socket);
        helper.send(pagecount::engineScriptMessage(jsengine::scriptWithInit(QStringLiteral("abc"))));
        const QList<ChapterPageInfo> chapters = {
            chapter(QStringLiteral("web.html"), QUrl(QStringLiteral("http://127.0.0.1:9/chapter.html"))),
            goodChapter(),
            chapter(QStringLiteral("missing.xhtml"), QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("none.xhtml")))),
            chapter(QStringLiteral("folder"), QUrl::fromLocalFile(m_dir.path())),
            chapter(QStringLiteral("device"), QUrl::fromLocalFile(QStringLiteral("/dev/zero"))),
        };
        helper.send(pagecount::chapterListMessage(chapters));
        helper.send(pagecount::paginationMessage(request()));
        const PaginationResult result = readResult(helper.receive());
        QCOMPARE(result.chapters.size(), 5);
        const int count = result.chapters.at(1).pageCount;
        QVERIFY(count > 1);
        const QList<int> starts = { 0, 0, count, count, count };
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(result.chapters.at(i).startPage, starts.at(i));
            QCOMPARE(result.chapters.at(i).source, chapters.at(i).source);
            if (i != 1)
                QCOMPARE(result.chapters.at(i).pageCount, 0);
        }
        QCOMPARE(result.text2.split(QLatin1Char('\n')),
            QStringList({ QStringLiteral("web.html"), QStringLiteral("missing.xhtml"), QStringLiteral("folder"),
                QStringLiteral("device") }));
    }

    // Book scripts that would wait for a user or run forever do not stop the layout; a book
    // that tries to reach the network or to leave its chapter gets nowhere.
    void hostileChapters()
    {
        const QString dialogs = m_dir.filePath(QStringLiteral("dialogs.html"));
        const QString loop = m_dir.filePath(QStringLiteral("loop.html"));
        const QString away = m_dir.filePath(QStringLiteral("away.html"));
        const QByteArray text = QByteArray("<p>Some text of the chapter.</p>").repeated(50);
        QVERIFY(testfiles::write(dialogs,
            "<html><body><script>alert('a'); confirm('b'); prompt('c'); window.open('x.html'); print();</script>" + text
                + "</body></html>"));
        QVERIFY(testfiles::write(loop,
            "<html><body onresize='for (;;) {}'><img src='none.png' onerror='for (;;) {}'/>" + text
                + "<script>for (;;) {}</script><p onclick='for (;;) {}'>x</p></body></html>"));
        QVERIFY(testfiles::write(away,
            "<html><body><img src='http://127.0.0.1:9/x.png'/>" + text
                + "<script>location.href = 'file:///etc/hostname';</script></body></html>"));
        Helper helper;
        QVERIFY(helper.socket);
        helper.send(pagecount::chapterListMessage({ chapter(QStringLiteral("dialogs"), QUrl::fromLocalFile(dialogs)),
            chapter(QStringLiteral("loop"), QUrl::fromLocalFile(loop)),
            chapter(QStringLiteral("away"), QUrl::fromLocalFile(away)), goodChapter() }));
        helper.send(pagecount::paginationMessage(request()));
        const PaginationResult result = readResult(helper.receive());
        QCOMPARE(result.chapters.size(), 4);
        for (const ChapterPageInfo& info : result.chapters)
            QVERIFY2(info.pageCount >= 1, qPrintable(info.source));
    }

    // Requests that arrive together are answered once, for the newest: the older ones would be
    // out of date before they were done.
    void answersTheNewestOfQueuedRequests()
    {
        Helper helper;
        QVERIFY(helper.socket);
        helper.send(pagecount::chapterListMessage({ goodChapter() }));
        QByteArray burst;
        for (int width : { 300, 400, 900 }) {
            PaginationRequest r = request();
            r.pageFormatScript = pageFormat(width, 500);
            burst += frame(pagecount::paginationMessage(r));
        }
        helper.sendRaw(burst);
        const PaginationResult newest = readResult(helper.receive());
        QCOMPARE(newest.chapters.size(), 1);
        QVERIFY(helper.receive(1000).isNull());

        // The same request alone gives the same numbers.
        PaginationRequest r = request();
        r.pageFormatScript = pageFormat(900, 500);
        helper.send(pagecount::paginationMessage(r));
        QCOMPARE(readResult(helper.receive()).chapters.at(0).pageCount, newest.chapters.at(0).pageCount);
        r.pageFormatScript = pageFormat(300, 500);
        helper.send(pagecount::paginationMessage(r));
        QVERIFY(readResult(helper.receive()).chapters.at(0).pageCount > newest.chapters.at(0).pageCount);
    }

    void unreadableFrameEndsHelper_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray negative(4, '\0');
        qToLittleEndian<qint32>(-1, negative.data());
        QByteArray huge(4, '\0');
        qToLittleEndian<qint32>(512 * 1024 * 1024, huge.data());
        QTest::newRow("negative length") << negative + QByteArray(16, 'x');
        QTest::newRow("huge length") << huge + QByteArray(16, 'x');
    }

    void unreadableFrameEndsHelper()
    {
        QFETCH(QByteArray, bytes);
        Helper helper;
        QVERIFY(helper.socket);
        helper.sendRaw(bytes);
        QVERIFY(helper.finishes());
        QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper.exitCode(), 3);
    }

    void endsOnStopAndOnClose()
    {
        {
            Helper helper;
            QVERIFY(helper.socket);
            helper.send(payload(qint32(pagecount::Stop)));
            QVERIFY(helper.finishes());
            QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
            QCOMPARE(helper.exitCode(), 0);
        }
        {
            Helper helper;
            QVERIFY(helper.socket);
            helper.socket->disconnectFromServer();
            QVERIFY(helper.finishes());
            QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
            QCOMPARE(helper.exitCode(), 0);
        }
    }

    // The stop message ends a layout that is under way.
    void stopsWhileLayingOut()
    {
        ChapterBuilder builder(9);
        builder.addRealisticContent(200000);
        const QString big = builder.write(m_dir.filePath(QStringLiteral("big")), QStringLiteral("big.xhtml"));
        QVERIFY(!big.isEmpty());
        Helper helper;
        QVERIFY(helper.socket);
        QList<ChapterPageInfo> chapters;
        for (int i = 0; i < 20; ++i)
            chapters.append(chapter(QStringLiteral("big%1").arg(i), QUrl::fromLocalFile(big)));
        helper.send(pagecount::chapterListMessage(chapters));
        helper.send(pagecount::paginationMessage(request()));
        QTest::qWait(300);
        helper.send(payload(qint32(pagecount::Stop)));
        QVERIFY(helper.finishes(10000));
        QCOMPARE(helper.exitCode(), 0);
    }

    void noDisplayNeeded()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        Helper helper(environment);
        QVERIFY(helper.socket);
        checkServes(helper, goodChapter());
    }

    void needsTheServerName()
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(helperPath(), QStringList());
        QVERIFY(process.waitForFinished(15000));
        QCOMPARE(process.exitCode(), 1);
        process.start(
            helperPath(), { QStringLiteral("no-such-server-%1").arg(QUuid::createUuid().toString(QUuid::Id128)) });
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 1);
    }
};

QTEST_MAIN(TestPageCounterHelper)
#include "tst_pagecounter_helper.moc"

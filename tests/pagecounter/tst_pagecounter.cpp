// Page counting: the client on hand-made replies, well-formed or broken; the helper program
// against a server of the test's own; and the client with the real helper on generated
// chapters, whose numbers must be those the reading engine gives in one chapter page at the
// same size and font.

#include "chapterbuilder.h"
#include "dataexchangesvc.h"
#include "enginepage.h"
#include "jsengine/jsengine.h"
#include "pagecountprotocol.h"
#include "temphome.h"
#include "testfiles.h"
#include "testpaths.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QUuid>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

constexpr int kReplyTimeoutMs = 120000;
const char kWord[] = "zebrafish";

QString helperPath() { return testpaths::binDir() + QStringLiteral("/zuvezedoda"); }

// The client; replies can be handed to it directly.
class Client : public DataExchangeSvc {
public:
    explicit Client(const QString& helper = helperPath())
        : DataExchangeSvc(helper, nullptr)
    {
    }
    using DataExchangeSvc::helperProcessId;
    using DataExchangeSvc::onDataReceived;
};

struct Hit {
    QString link;
    QString text;
    qint32 page;
};

struct Chapter {
    QString source;
    qint32 pageCount;
    qint32 startPage;
    QList<Hit> hits;
};

// A message written field by field in the documented form, independently of the client's writer.
class Writer {
public:
    explicit Writer(qint32 type = 2) { out << type; }

    Writer& chapters(const QList<Chapter>& list)
    {
        out << qint32(list.size());
        for (const Chapter& c : list) {
            out << c.source << QUrl::fromLocalFile(QStringLiteral("/books/") + c.source) << c.pageCount << c.startPage
                << qint32(c.hits.size());
            for (const Hit& h : c.hits)
                out << h.link << h.text << h.page;
        }
        return *this;
    }
    Writer& tail(const QHash<QString, qint32>& links)
    {
        out << QStringLiteral("query") << qint32(22) << QStringLiteral("failed") << QString() << links;
        return *this;
    }
    template <typename... T> Writer& values(const T&... v)
    {
        (out << ... << v);
        return *this;
    }
    Writer& raw(const QByteArray& bytes)
    {
        out.writeRawData(bytes.constData(), bytes.size());
        return *this;
    }

    QByteArray bytes;
    QDataStream out { &bytes, QIODevice::WriteOnly };
};

const QList<Chapter> kThreeChapters = {
    { QStringLiteral("Text/one.xhtml"), 10, 0,
        { { QStringLiteral("Text/one.xhtml?kelpath=%2Fhtml%5B1%5D&offset=3"), QStringLiteral("First hit."), 4 },
            { QStringLiteral("Text/one.xhtml?kelpath=%2Fhtml%5B1%5D&offset=9"), QStringLiteral("Second hit."), 9 } } },
    { QStringLiteral("Text/two.xhtml"), 5, 10, {} },
    { QStringLiteral("Text/three.xhtml"), 7, 15,
        { { QStringLiteral("Text/three.xhtml?kelpath=%2Fp&offset=0"), QStringLiteral("Third hit."), 20 } } },
};

QByteArray goodReply()
{
    return Writer()
        .chapters(kThreeChapters)
        .tail({ { QStringLiteral("Text/two.xhtml#a"), 12 }, { QStringLiteral("Text/three.xhtml"), 16 } })
        .bytes;
}

void checkEmpty(const DataExchangeSvc& client)
{
    QCOMPARE(client.totalPageCount(), -1);
    QCOMPARE(client.chapterStartPage(QStringLiteral("Text/one.xhtml")), -1);
    QCOMPARE(client.chapterPageCount(QStringLiteral("Text/one.xhtml")), -1);
    QVERIFY(client.searchHits().isEmpty());
}

QByteArray frame(const QByteArray& payload)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian<qint32>(payload.size(), bytes.data());
    return bytes + payload;
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

    void sendRaw(const QByteArray& bytes)
    {
        socket->write(bytes);
        socket->waitForBytesWritten(5000);
    }
    void send(const QByteArray& message) { sendRaw(frame(message)); }

    // The pagination result of the next whole frame; a result numbered -1000 after the time-out.
    PaginationResult receive(int timeoutMs = 60000)
    {
        PaginationResult result;
        result.number = -1000;
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            if (socket->bytesAvailable() >= 4) {
                char header[4];
                socket->peek(header, 4);
                const qint32 length = qFromLittleEndian<qint32>(header);
                if (socket->bytesAvailable() >= 4 + length) {
                    socket->read(4);
                    QDataStream in(socket->read(length));
                    qint32 type = -1;
                    in >> type;
                    if (type == pagecount::Pagination)
                        pagecount::readResult(in, &result);
                    return result;
                }
            }
            if (deadline.hasExpired() || !socket->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                return result;
        }
    }

    // Ends within the time with this exit code.
    bool endsWith(int code, int timeoutMs = 15000)
    {
        return m_process.waitForFinished(timeoutMs) && m_process.exitStatus() == QProcess::NormalExit
            && m_process.exitCode() == code;
    }
    bool running() const { return m_process.state() == QProcess::Running; }

    QLocalSocket* socket = nullptr;

private:
    QLocalServer m_server;
    QProcess m_process;
};

PaginationRequest request(const QString& script, int fontSize = 18)
{
    PaginationRequest r;
    r.pageFormatScript = script;
    r.fontSize = fontSize;
    return r;
}

PaginationRequest request(const PageFormat& format)
{
    return request(EnginePage::pageFormatScript(format), format.fontSize);
}

QString pageFormat(int width = 600, int height = 500)
{
    return QStringLiteral("replaceOrAddStyle('body_style_2', 'body{ text-align: justify !important; }');"
                          "setPageDim(1,40, %1, %2, 20);")
        .arg(width)
        .arg(height);
}

ChapterPageInfo chapterInfo(const QString& source, const QString& path)
{
    ChapterPageInfo info;
    info.source = source;
    info.fileUrl = path.contains(QLatin1String("://")) ? QUrl(path) : QUrl::fromLocalFile(path);
    return info;
}

QString encoded(const QString& path) { return QString::fromLatin1(QUrl::toPercentEncoding(path)); }

} // namespace

class TestPageCounter : public QObject {
    Q_OBJECT

    TempHome m_home;
    QTemporaryDir m_dir;
    QList<ChapterPageInfo> m_chapters;
    std::unique_ptr<Client> m_client;

    // A valid chapter list and pagination get an answer with the chapter laid out.
    void checkServes(Helper& helper)
    {
        helper.send(pagecount::chapterListMessage({ m_chapters.at(0) }));
        helper.send(pagecount::paginationMessage(request(pageFormat())));
        const PaginationResult result = helper.receive();
        QCOMPARE(result.chapters.size(), 1);
        QCOMPARE(result.chapters.at(0).startPage, 0);
        QVERIFY(result.chapters.at(0).pageCount > 1);
        QCOMPARE(result.number, result.chapters.at(0).pageCount);
    }

    // The page count of a chapter in one chapter page, and the pages of links in it.
    int engineCount(int chapter, const PageFormat& format, QHash<QString, int>* links = nullptr)
    {
        EnginePage page;
        const int count = page.open(m_chapters.at(chapter).fileUrl.toLocalFile(), format);
        if (links) {
            for (auto it = links->begin(); it != links->end(); ++it)
                it.value() = page.getPageByKelLink(it.key());
        }
        return count;
    }

    bool paginate(const PaginationRequest& r)
    {
        QSignalSpy started(m_client.get(), &DataExchangeSvc::calcStarted);
        QSignalSpy done(m_client.get(), &DataExchangeSvc::calcDone);
        m_client->repaginate(r);
        return started.count() == 1 && (done.count() == 1 || done.wait(kReplyTimeoutMs));
    }

    // Page counts and start pages of the last result match the engine's counts.
    void checkCounts(const PageFormat& format)
    {
        int start = 0;
        for (int i = 0; i < m_chapters.size(); ++i) {
            const int count = engineCount(i, format);
            QVERIFY(count > 0);
            QCOMPARE(m_client->chapterPageCount(m_chapters.at(i).source), count);
            QCOMPARE(m_client->chapterStartPage(m_chapters.at(i).source), start);
            start += count;
        }
        QCOMPARE(m_client->totalPageCount(), start);
        QCOMPARE(m_client->resultNumber(), start);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QFileInfo(helperPath()).isExecutable());
        QVERIFY(m_dir.isValid());

        ChapterBuilder one(21);
        one.addHeading(1, QStringLiteral("Chapter One"));
        one.addProse(6);
        one.addParagraph(QStringLiteral("The %1 swam past the harbour. It was small.").arg(kWord));
        one.addProse(8);
        one.addParagraph(QStringLiteral("Nobody saw the Zebrafish again."));
        one.addProse(3);
        ChapterBuilder two(22);
        two.addHeading(1, QStringLiteral("Chapter Two"));
        two.addRealisticContent(40000);
        two.addRaw(QStringLiteral("<h2 id=\"target\">The target</h2>\n"));
        two.addProse(10);
        ChapterBuilder three(23);
        three.addHeading(1, QStringLiteral("Chapter Three"));
        three.addProse(15);
        three.addParagraph(QStringLiteral("A last %1 here.").arg(kWord));
        three.addProse(4);
        const QString text = m_dir.filePath(QStringLiteral("Text"));
        m_chapters = { chapterInfo(QStringLiteral("Text/one.xhtml"), one.write(text, QStringLiteral("one.xhtml"))),
            chapterInfo(QStringLiteral("Text/two.xhtml"), two.write(text, QStringLiteral("two.xhtml"))),
            chapterInfo(QStringLiteral("Text/three.html"), three.write(text, QStringLiteral("three.html"))) };
        for (const ChapterPageInfo& chapter : qAsConst(m_chapters))
            QVERIFY(QFileInfo(chapter.fileUrl.toLocalFile()).isFile());

        m_client.reset(new Client);
        m_client->setBookKey(QStringLiteral("book-1"));
        m_client->sendChapterList(m_chapters);
        QVERIFY(m_client->isConnected());
        m_client->search(QString::fromLatin1(kWord));
    }

    // Replies that do not parse: the chapter list is emptied, everything after the broken field is
    // empty, calcDone still comes, and no count read from the reply is trusted with memory.
    // Messages of another type change nothing and report nothing.
    void malformedReplies_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("chapters");
        QTest::addColumn<int>("links");

        const QByteArray good = goodReply();
        const QByteArray noLinks
            = Writer().chapters(kThreeChapters).values(QString(), qint32(0), QString(), QString()).bytes;
        QTest::newRow("two bytes") << QByteArray("\0\0", 2) << 0 << 3 << 2;
        QTest::newRow("type 85") << QByteArray("\0\0\0\x55", 4) << 0 << 3 << 2;
        QTest::newRow("cut in the hits") << good.left(good.indexOf(QByteArray("S\0e\0c", 5)) + 4) << 1 << 0 << 0;
        QTest::newRow("chapter count huge")
            << Writer().values(qint32(0x7fffffff)).raw(QByteArray(64, '\0')).bytes << 1 << 0 << 0;
        QTest::newRow("chapter count negative")
            << Writer().values(qint32(-1)).raw(QByteArray(64, '\0')).bytes << 1 << 0 << 0;
        QTest::newRow("hit count huge") << Writer()
                                               .values(qint32(1), QStringLiteral("a"), QUrl(), qint32(1), qint32(0),
                                                   qint32(0x40000000))
                                               .raw(QByteArray(64, '\0'))
                                               .bytes
                                        << 1 << 0 << 0;
        QTest::newRow("source length huge") << Writer().values(qint32(1), quint32(0xfffffff0)).bytes << 1 << 0 << 0;
        QTest::newRow("no link table") << noLinks << 1 << 3 << 0;
        QTest::newRow("link count huge")
            << Writer().raw(noLinks.mid(4)).values(quint32(0xffffffff)).raw(QByteArray(16, '\0')).bytes << 1 << 3 << 0;
        QTest::newRow("link table cut") << good.left(good.size() - 3) << 1 << 3 << 0;
        // Not a malformed reply: a last chapter without a start page leaves the book uncounted,
        // and nothing of the reply before stays.
        QTest::newRow("uncounted last chapter")
            << Writer().chapters({ { "a", 4, 0, {} }, { "b", 6, -1, {} } }).tail({}).bytes << 1 << 0 << 0;
    }

    void malformedReplies()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, done);
        QFETCH(int, chapters);
        QFETCH(int, links);
        Client client(QStringLiteral("/nonexistent/zuvezedoda"));
        client.onDataReceived(goodReply());
        QSignalSpy doneSpy(&client, &DataExchangeSvc::calcDone);
        QElapsedTimer timer;
        timer.start();
        client.onDataReceived(payload);
        QVERIFY2(timer.elapsed() < 2000, "a count from the reply was trusted");
        QCOMPARE(doneSpy.count(), done);
        QCOMPARE(client.linkPages().size(), links);
        if (chapters == 0) {
            checkEmpty(client);
        } else {
            QCOMPARE(client.totalPageCount(), 22);
            QCOMPARE(client.searchHits().size(), 3);
            QVERIFY(client.searchHits().at(0).link != client.searchHits().at(0).link); // new items each time
        }
    }

    // Replies carry no book key: one whose chapters are not those sent last belongs to the book
    // open before and is dropped. Without a helper program a request is lost, but whoever waits
    // for the numbers hears of it.
    void replyForAnotherBookAndNoHelper()
    {
        Client client(QStringLiteral("/nonexistent/zuvezedoda"));
        ChapterPageInfo other;
        other.source = QStringLiteral("Text/b.xhtml");
        QTest::ignoreMessage(QtCriticalMsg, "Can't start handler process!!!");
        client.sendChapterList({ other, other, other });
        QSignalSpy started(&client, &DataExchangeSvc::calcStarted);
        QSignalSpy done(&client, &DataExchangeSvc::calcDone);
        client.onDataReceived(goodReply());
        QCOMPARE(done.count(), 0);
        checkEmpty(client);

        QTest::ignoreMessage(QtCriticalMsg, "Can't start handler process!!!");
        client.repaginate(PaginationRequest());
        QCOMPARE(started.count(), 1);
        QCOMPARE(done.count(), 1);
    }

    // Chapters it must not or cannot load are counted as empty and named in the result; book
    // scripts that would wait for a user or run forever do not stop the layout; a book that
    // tries to reach the network or to leave its chapter gets nowhere.
    void helperRefusesOrContainsChapters()
    {
        const QByteArray text = QByteArray("<p>Some text of the chapter.</p>").repeated(50);
        const QString dialogs = m_dir.filePath(QStringLiteral("dialogs.html"));
        const QString loop = m_dir.filePath(QStringLiteral("loop.html"));
        const QString away = m_dir.filePath(QStringLiteral("away.html"));
        QVERIFY(testfiles::write(dialogs,
            "<html><body><script>alert('a'); confirm('b'); prompt('c'); window.open('x.html'); print();</script>" + text
                + "</body></html>"));
        QVERIFY(testfiles::write(loop,
            "<html><body onresize='for (;;) {}'><img src='none.png' onerror='for (;;) {}'/>" + text
                + "<script>for (;;) {}</script><p onclick='for (;;) {}'>x</p></body></html>"));
        QVERIFY(testfiles::write(away,
            "<html><body><img src='http://127.0.0.1:9/x.png'/>" + text
                + "<script>location.href = 'file:///etc/hostname';</script></body></html>"));
        const QList<ChapterPageInfo> chapters = {
            chapterInfo(QStringLiteral("web.html"), QStringLiteral("http://127.0.0.1:9/chapter.html")),
            m_chapters.at(0),
            chapterInfo(QStringLiteral("missing.xhtml"), m_dir.filePath(QStringLiteral("none.xhtml"))),
            chapterInfo(QStringLiteral("folder"), m_dir.path()),
            chapterInfo(QStringLiteral("device"), QStringLiteral("/dev/zero")),
            chapterInfo(QStringLiteral("dialogs"), dialogs),
            chapterInfo(QStringLiteral("loop"), loop),
            chapterInfo(QStringLiteral("away"), away),
        };
        Helper helper;
        QVERIFY(helper.socket);
        helper.send(pagecount::engineScriptMessage(jsengine::scriptWithInit(QStringLiteral("abc"))));
        helper.send(pagecount::chapterListMessage(chapters));
        helper.send(pagecount::paginationMessage(request(pageFormat())));
        const PaginationResult result = helper.receive();
        QCOMPARE(result.chapters.size(), chapters.size());
        const int count = result.chapters.at(1).pageCount;
        QVERIFY(count > 1);
        QList<int> counts;
        int start = 0;
        for (int i = 0; i < chapters.size(); ++i) {
            QCOMPARE(result.chapters.at(i).source, chapters.at(i).source);
            QCOMPARE(result.chapters.at(i).startPage, start);
            start += result.chapters.at(i).pageCount;
            counts << qMin(result.chapters.at(i).pageCount, 1);
        }
        QCOMPARE(counts, QList<int>({ 0, 1, 0, 0, 0, 1, 1, 1 }));
        QCOMPARE(
            result.text2.split(QLatin1Char('\n')), QStringList({ "web.html", "missing.xhtml", "folder", "device" }));
    }

    // Requests that arrive together are answered once, for the newest: the older ones would be
    // out of date before they were done.
    void helperAnswersTheNewestOfQueuedRequests()
    {
        Helper helper;
        QVERIFY(helper.socket);
        helper.send(pagecount::chapterListMessage({ m_chapters.at(0) }));
        QByteArray burst;
        for (int width : { 300, 400, 900 })
            burst += frame(pagecount::paginationMessage(request(pageFormat(width, 500))));
        helper.sendRaw(burst);
        const PaginationResult newest = helper.receive();
        QCOMPARE(newest.chapters.size(), 1);
        QCOMPARE(helper.receive(1000).number, -1000);

        // The same request alone gives the same numbers.
        helper.send(pagecount::paginationMessage(request(pageFormat(900, 500))));
        QCOMPARE(helper.receive().chapters.at(0).pageCount, newest.chapters.at(0).pageCount);
        helper.send(pagecount::paginationMessage(request(pageFormat(300, 500))));
        QVERIFY(helper.receive().chapters.at(0).pageCount > newest.chapters.at(0).pageCount);
    }

    void helperEnds_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("exitCode");
        for (const char* how : { "close", "stop while laying out" })
            QTest::newRow(how) << how << 0;
        QTest::newRow("negative frame length") << "-1" << 3;
        QTest::newRow("huge frame length") << "536870912" << 3;
    }

    void helperEnds()
    {
        QFETCH(QString, how);
        QFETCH(int, exitCode);
        Helper helper;
        QVERIFY(helper.socket);
        if (how == QLatin1String("close")) {
            helper.socket->disconnectFromServer();
        } else if (exitCode == 3) {
            QByteArray length(4, '\0');
            qToLittleEndian<qint32>(how.toInt(), length.data());
            helper.sendRaw(length + QByteArray(16, 'x'));
        } else {
            if (how == QLatin1String("stop while laying out")) {
                ChapterBuilder builder(9);
                builder.addRealisticContent(200000);
                const QString big = builder.write(m_dir.filePath(QStringLiteral("big")), QStringLiteral("big.xhtml"));
                helper.send(
                    pagecount::chapterListMessage(QVector<ChapterPageInfo>(20, chapterInfo("big", big)).toList()));
                helper.send(pagecount::paginationMessage(request(pageFormat())));
                QTest::qWait(300);
            }
            helper.send(Writer(pagecount::Stop).bytes);
        }
        QVERIFY(helper.endsWith(exitCode));
    }

    // The helper needs no display, only its server, and survives malformed messages.
    void helperNeedsNoDisplayButItsServer()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" })
            environment.remove(QLatin1String(name));
        Helper helper(environment);
        QVERIFY(helper.socket);
        helper.send(pagecount::engineScriptMessage(jsengine::scriptWithInit(QStringLiteral("abc"))));
        // Malformed messages are not answered and do not stop the helper.
        const QList<QByteArray> junk = {
            QByteArray(),
            Writer(1).bytes,
            Writer(1).values(qint32(0x7fffffff), qint32(0)).bytes,
            Writer(1).values(qint32(-5), QString()).bytes,
            Writer(1).values(qint32(1), QStringLiteral("a"), QUrl(), qint32(0), qint32(0), qint32(0x7fffffff)).bytes,
            Writer(2).values(pageFormat()).bytes,
            Writer(2).values(pageFormat(), qint32(18), QString(), QString(), quint32(0xfffffff0)).bytes,
            Writer(3).values(quint32(0x7ffffffe)).bytes,
            Writer(3).values(quint32(3), qint16(0x41)).bytes,
            Writer(22).values(QStringLiteral("x"), qint32(2)).bytes,
            Writer(0).values(quint32(0xfffffffe)).bytes,
            Writer(77).values(QStringLiteral("unknown")).bytes,
            Writer(-1).bytes,
        };
        for (const QByteArray& message : junk)
            helper.send(message);
        checkServes(helper);
        QVERIFY(helper.running());

        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        for (const QStringList& arguments :
            { QStringList(), QStringList({ "no-such-server-" + QUuid::createUuid().toString(QUuid::Id128) }) }) {
            process.start(helperPath(), arguments);
            QVERIFY(process.waitForFinished(20000));
            QCOMPARE(process.exitCode(), 1);
        }
    }

    void paginatesLikeTheEngine()
    {
        const PageFormat format = PageFormat::withColumns(2);
        // The 12th paragraph of the third chapter, wrapped by the engine's two divs.
        const QString pathLink
            = QStringLiteral("kelpath=") + encoded(QStringLiteral("/HTML[1]/BODY[1]/DIV[1]/DIV[1]/P[12]"));
        PaginationRequest r = request(format);
        r.linkSources = {
            QStringLiteral("Text/two.xhtml#target"),
            QStringLiteral("Text/three.html?") + pathLink,
            QStringLiteral("Text/one.xhtml?kelpath=end"),
            QStringLiteral("Text/two.xhtml?kelpath=start"),
            QStringLiteral("Text/two.xhtml?kelpage=3"),
            QStringLiteral("Text/three.html"),
            QStringLiteral("TEXT/ONE.XHTML#missing"),
            QStringLiteral("Text/nowhere.xhtml#target"),
        };
        QVERIFY(paginate(r));
        checkCounts(format);

        const int one = engineCount(0, format);
        QHash<QString, int> inTwo { { QStringLiteral("#target"), 0 } };
        QHash<QString, int> inThree { { pathLink, 0 } };
        const int two = engineCount(1, format, &inTwo);
        engineCount(2, format, &inThree);
        QVERIFY(inTwo.value(QStringLiteral("#target")) > 1);
        QVERIFY(inThree.value(pathLink) > 1);

        const QHash<QString, int> pages = m_client->linkPages();
        QCOMPARE(pages.value(QStringLiteral("Text/two.xhtml#target")), one + inTwo.value(QStringLiteral("#target")));
        QCOMPARE(pages.value(QStringLiteral("Text/three.html?") + pathLink), one + two + inThree.value(pathLink));
        QCOMPARE(pages.value(QStringLiteral("Text/one.xhtml?kelpath=end")), one);
        QCOMPARE(pages.value(QStringLiteral("Text/two.xhtml?kelpath=start")), one + 1);
        QCOMPARE(pages.value(QStringLiteral("Text/two.xhtml?kelpage=3")), one + 3);
        QCOMPARE(pages.value(QStringLiteral("Text/three.html")), one + two + 1);
        // An anchor that is gone still lands in its chapter (named in another letter case).
        QCOMPARE(pages.value(QStringLiteral("TEXT/ONE.XHTML#missing")), 1);
        QVERIFY(!pages.contains(QStringLiteral("Text/nowhere.xhtml#target")));
        QCOMPARE(pages.size(), r.linkSources.size() - 1);
        QVERIFY(m_client->resultText2().isEmpty());

        // The search sent before: hits of two chapters in order, each leading the chapter page
        // to the page the helper gave.
        QCOMPARE(m_client->resultText1(), QString::fromLatin1(kWord));
        const QList<SearchItem> hits = m_client->searchHits();
        QCOMPARE(hits.size(), 3);
        const QList<int> chapters = { 0, 0, 2 };
        int previousPage = 0;
        for (int i = 0; i < hits.size(); ++i) {
            const SearchItem& hit = hits.at(i);
            const QString source = m_chapters.at(chapters.at(i)).source;
            QVERIFY2(hit.text.contains(QLatin1String(kWord), Qt::CaseInsensitive), qPrintable(hit.text));
            QVERIFY2(hit.link->source.startsWith(source + QStringLiteral("?kelpath=")), qPrintable(hit.link->source));
            QVERIFY(hit.link->page >= previousPage);
            previousPage = hit.link->page;
            QHash<QString, int> link { { hit.link->source.mid(source.size() + 1), 0 } };
            engineCount(chapters.at(i), format, &link);
            QCOMPARE(hit.link->page, m_client->chapterStartPage(source) + link.begin().value());
        }
        QCOMPARE(hits.at(0).text, QStringLiteral("The %1 swam past the harbour.").arg(kWord));
        QCOMPARE(hits.at(1).text, QStringLiteral("Nobody saw the Zebrafish again."));
    }

    // The helper dies while it lays the book out: the request is sent to a new one. When that
    // one dies as well, the request is given up with an error and the numbers of the last layout
    // stay; the next request is served by a new helper.
    void requestSurvivesAHelperCrash()
    {
        const PageFormat format = PageFormat::withColumns(2);
        QSignalSpy done(m_client.get(), &DataExchangeSvc::calcDone);
        m_client->repaginate(request(format));
        ::kill(pid_t(m_client->helperProcessId()), SIGKILL);
        QVERIFY(done.count() == 1 || done.wait(kReplyTimeoutMs));
        checkCounts(format);

        const int total = m_client->totalPageCount();
        done.clear();
        QSignalSpy failed(m_client.get(), &DataExchangeSvc::calcError);
        QSignalSpy ready(m_client.get(), &KelRemoteProcHandler::handlerReady);
        m_client->repaginate(request(PageFormat::withColumns(1)));
        ::kill(pid_t(m_client->helperProcessId()), SIGKILL);
        QVERIFY(ready.wait(kReplyTimeoutMs));
        ::kill(pid_t(m_client->helperProcessId()), SIGKILL);
        QVERIFY(failed.count() == 1 || failed.wait(kReplyTimeoutMs));
        QCOMPARE(done.count(), 0);
        QCOMPARE(m_client->totalPageCount(), total);
        // A new helper is told the book and the last search without the book context sending
        // them again.
        PageFormat larger = PageFormat::withColumns(1);
        larger.fontSize = 28;
        QVERIFY(paginate(request(larger)));
        checkCounts(larger);
        QCOMPARE(m_client->resultText1(), QString::fromLatin1(kWord));
        QCOMPARE(m_client->searchHits().size(), 3);

        m_client->stopHandler();
        QTRY_COMPARE_WITH_TIMEOUT(m_client->helperProcessId(), qint64(0), 15000);
    }
};

QTEST_MAIN(TestPageCounter)
#include "tst_pagecounter.moc"

#include "kellogger/kellogger.h"
#include "messagerecorder.h"
#include "metrics/metricencoding.h"
#include "metrics/metricsender.h"
#include "scriptedhttpserver.h"
#include "temphome.h"

#include <QDir>
#include <QNetworkProxy>
#include <QTest>

#include <thread>
#include <vector>

namespace {

const QString kDeviceId = QStringLiteral("device-1");

// The metric entries (m1, m2, ...) of a request, in order, as they were sent.
QStringList entriesOf(const QUrlQuery& query)
{
    QStringList entries;
    for (int i = 1; query.hasQueryItem(QStringLiteral("m%1").arg(i)); ++i)
        entries.append(query.queryItemValue(QStringLiteral("m%1").arg(i), QUrl::FullyEncoded));
    return entries;
}

QStringList allEntries(const ScriptedHttpServer& server)
{
    QStringList entries;
    for (int i = 0; i < server.requestCount(); ++i)
        entries += entriesOf(server.query(i));
    return entries;
}

void initSender(const QString& baseUrl, bool enabled = true)
{
    MetricSender::init(kDeviceId, QStringLiteral("4"), QStringLiteral("6.2.9"), enabled, baseUrl);
}

MetricSender* metricSender() { return MetricSender::instance(); }

bool sameEvent(const MetricSender::Event& event, const QString& key, const QString& value, const QString& extra)
{
    return event.key == key && event.value == value && event.extra == extra;
}

} // namespace

class TestMetricSender : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void logLinesBecomeEvents_data();
    void logLinesBecomeEvents();
    void handlerInstalledTwiceKeepsChain();
    void metricLinesNeverReachLogFile();
    void requestCarriesEncodedEntries();
    void burstIsBatchedBelowRequestLimit();
    void oversizedEventDoesNotStallQueue();
    void failedRequestIsKeptAndResentWhole_data();
    void failedRequestIsKeptAndResentWhole();
    void eventsFromOtherThreadsAreSent();
    void disabledSendingQueuesAndSendsNothing();
    void replyWhileDisabledStopsTimer();
    void noEndpointSendsNothing_data();
    void noEndpointSendsNothing();

private:
    TempHome m_home;
};

void TestMetricSender::initTestCase()
{
    QVERIFY(m_home.isValid());
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    messagerecorder::installChain();

    // Before init() nothing is queued.
    MetricSender::addMetric(QStringLiteral("early"), QStringLiteral("1"));
    qInfo("#early2");
    QVERIFY(metricSender()->queuedEvents().isEmpty());
    QVERIFY(!MetricSender::isEnabled());
    QCOMPARE(MetricSender::settingKey(), QStringLiteral("SendData"));
}

void TestMetricSender::init()
{
    MetricSender::setRequestTimeout(30000);
    messagerecorder::clear();
}

void TestMetricSender::logLinesBecomeEvents_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("isEvent");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("extra");

    QTest::newRow("key only") << "#tts" << true << "tts"
                              << "1" << QString();
    QTest::newRow("key and value") << "#chlan:de" << true << "chlan"
                                   << "de" << QString();
    QTest::newRow("extra, further parts ignored") << "#a:b:c:d" << true << "a"
                                                  << "b"
                                                  << "c";
    QTest::newRow("empty value") << "#a:" << true << "a" << QString() << QString();
    QTest::newRow("empty extra") << "#frun:en:" << true << "frun"
                                 << "en" << QString();
    QTest::newRow("hash inside") << "x#y" << false << QString() << QString() << QString();
    QTest::newRow("space first") << " #y:1" << false << QString() << QString() << QString();
}

void TestMetricSender::logLinesBecomeEvents()
{
    QFETCH(QString, line);
    QFETCH(bool, isEvent);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, extra);

    ScriptedHttpServer server;
    QVERIFY(server.listen());
    initSender(server.url());

    qInfo().noquote() << line;
    qWarning().noquote() << line; // every level is looked at

    const QVector<MetricSender::Event> events = metricSender()->queuedEvents();
    if (isEvent) {
        QCOMPARE(events.size(), 2);
        QVERIFY(sameEvent(events.at(0), key, value, extra));
        QVERIFY(sameEvent(events.at(1), key, value, extra));
        QVERIFY(messagerecorder::messages().isEmpty());
    } else {
        QVERIFY(events.isEmpty());
        QCOMPARE(messagerecorder::messages(), QStringList({ line, line }));
    }
}

void TestMetricSender::handlerInstalledTwiceKeepsChain()
{
    ScriptedHttpServer server;
    QVERIFY(server.listen());
    initSender(server.url());
    MetricSender::installMessageHandler(); // must not become its own predecessor

    qInfo("plain");
    qInfo("#twice:1");
    QCOMPARE(messagerecorder::messages(), QStringList({ QStringLiteral("plain") }));
    QCOMPARE(metricSender()->queuedEvents().size(), 1);
}

void TestMetricSender::metricLinesNeverReachLogFile()
{
    ScriptedHttpServer server;
    QVERIFY(server.listen());
    initSender(server.url());
    KelLogger::setAppDirName(QStringLiteral("metricstest"));
    KelLogger::instance()->resetForTesting();

    messagerecorder::setForwardToLog(true);
    qInfo("before the metric");
    qInfo("#secretkey:secretvalue");
    qWarning("after the metric");
    messagerecorder::setForwardToLog(false);
    KelLogger::instance()->resetForTesting(); // closes the file

    const QStringList files = QDir(KelLogger::logDir()).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    QFile file(KelLogger::logDir() + QLatin1Char('/') + files.first());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(content.contains("before the metric"));
    QVERIFY(content.contains("after the metric"));
    QVERIFY(!content.contains("secret"));
    QCOMPARE(metricSender()->queuedEvents().size(), 1);
}

void TestMetricSender::requestCarriesEncodedEntries()
{
    ScriptedHttpServer server;
    QVERIFY(server.listen());
    initSender(server.url());

    MetricSender::addMetric(QStringLiteral("chprof"), QStringLiteral("2"));
    QVERIFY(metricSender()->isTimerActive());
    QCOMPARE(metricSender()->timerInterval(), 100);
    MetricSender::addMetric(QStringLiteral("k"), QStringLiteral("a b:c"), QStringLiteral("x:y \u00e4"));
    MetricSender::addMetric(QStringLiteral("a&b=c"), QStringLiteral("1+1"));
    MetricSender::addMetricValue(QStringLiteral("tts"), -3);

    QVERIFY(server.waitForRequests(1));
    const QString dev = metrics::md5Hex(kDeviceId + QStringLiteral("maplewood5oak"));
    QCOMPARE(QString::fromLatin1(server.targets().at(0)),
        QStringLiteral("/?pid=4&ver=6.2.9&dev=") + dev
            + QStringLiteral("&m1=chprof:2&m2=k:a%20b%3Ac:x%3Ay%20%C3%A4&m3=a%26b%3Dc:1%2B1&m4=tts:-3"));
    QTRY_VERIFY(!metricSender()->isSending());
    QVERIFY(metricSender()->pendingRequest().isEmpty());
    QCOMPARE(metricSender()->timerInterval(), 5000);
    QVERIFY(messagerecorder::contains(QStringLiteral("Metric:")));
}

void TestMetricSender::burstIsBatchedBelowRequestLimit()
{
    ScriptedHttpServer server;
    QVERIFY(server.listen());
    initSender(server.url());

    QStringList expected;
    for (int i = 0; i < 200; ++i) {
        qInfo("#event:value %d", i);
        expected.append(QStringLiteral("event:value%20") + QString::number(i));
    }
    QCOMPARE(metricSender()->queuedEvents().size(), 200);

    // 200 entries need several requests; the next follows 10 ms after the previous succeeded,
    // so all of them arrive long before one idle interval (5 s) has passed.
    QTRY_COMPARE_WITH_TIMEOUT(allEntries(server).size(), 200, 4000);
    QVERIFY(server.requestCount() > 2);
    QCOMPARE(allEntries(server), expected);
    for (int i = 0; i < server.requestCount(); ++i) {
        const QString url = server.url() + QString::fromLatin1(server.targets().at(i));
        QVERIFY2(url.size() < 1024, qPrintable(url));
        QVERIFY(entriesOf(server.query(i)).size() > 1);
        QCOMPARE(server.query(i).queryItemValue(QStringLiteral("pid")), QStringLiteral("4"));
    }
    // Each request was filled: the next entry would not have fitted.
    const QString first = server.url() + QString::fromLatin1(server.targets().at(0));
    const int next = entriesOf(server.query(0)).size() + 1;
    QVERIFY(first.size() + QStringLiteral("&m%1=").arg(next).size() + expected.at(next - 1).size() >= 1024);
    QTRY_VERIFY(!metricSender()->isSending());
    QVERIFY(metricSender()->queuedEvents().isEmpty());
}

void TestMetricSender::oversizedEventDoesNotStallQueue()
{
    ScriptedHttpServer server;
    QVERIFY(server.listen());
    initSender(server.url());

    MetricSender::addMetric(QStringLiteral("huge"), QString(2000, QLatin1Char('x')));
    MetricSender::addMetric(QStringLiteral("small"), QStringLiteral("1"));
    QVERIFY(server.waitForRequests(1));
    QCOMPARE(entriesOf(server.query(0)), QStringList({ QStringLiteral("small:1") }));
    QVERIFY(messagerecorder::contains(QStringLiteral("Metric too long for a request, dropped:")));
}

void TestMetricSender::failedRequestIsKeptAndResentWhole_data()
{
    QTest::addColumn<ScriptedHttpServer::Reply>("failure");
    QTest::addColumn<int>("timeoutMs");

    QTest::newRow("404") << ScriptedHttpServer::status(404) << 30000;
    QTest::newRow("server error") << ScriptedHttpServer::status(500) << 30000;
    QTest::newRow("never answers") << ScriptedHttpServer::silent() << 300;
    ScriptedHttpServer::Reply huge = ScriptedHttpServer::ok(QByteArray(2 * 1024 * 1024, 'x'));
    QTest::newRow("huge answer") << huge << 30000;
    huge.declareLength = false;
    QTest::newRow("huge answer, no length") << huge << 30000;
}

void TestMetricSender::failedRequestIsKeptAndResentWhole()
{
    QFETCH(ScriptedHttpServer::Reply, failure);
    QFETCH(int, timeoutMs);

    ScriptedHttpServer server;
    QVERIFY(server.listen());
    server.enqueue(failure);
    MetricSender::setRequestTimeout(timeoutMs);
    initSender(server.url());

    MetricSender::addMetric(QStringLiteral("a"), QStringLiteral("1"));
    QVERIFY(server.waitForRequests(1));
    QTRY_VERIFY_WITH_TIMEOUT(!metricSender()->isSending(), 5000);
    QVERIFY(messagerecorder::contains(QStringLiteral("Send analitics failed:")));
    const QString kept = metricSender()->pendingRequest();
    QVERIFY(kept.endsWith(QStringLiteral("&m1=a:1")));

    // Not retried on its own...
    QTest::qWait(300);
    QCOMPARE(server.requestCount(), 1);

    // ...but as soon as a new event comes, unchanged; the new event follows in its own request.
    MetricSender::addMetric(QStringLiteral("b"), QStringLiteral("2"));
    QVERIFY(server.waitForRequests(3));
    QCOMPARE(server.targets().at(1), server.targets().at(0));
    QCOMPARE(server.url() + QString::fromLatin1(server.targets().at(1)), kept);
    QCOMPARE(entriesOf(server.query(2)), QStringList({ QStringLiteral("b:2") }));
    QTRY_VERIFY(!metricSender()->isSending());
    QVERIFY(metricSender()->pendingRequest().isEmpty());
}

void TestMetricSender::eventsFromOtherThreadsAreSent()
{
    ScriptedHttpServer server;
    QVERIFY(server.listen());
    initSender(server.url());
    QCOMPARE(metricSender()->timerInterval(), 5000);

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 25; ++i)
                qInfo("#thread%d:%d", t, i);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    QCOMPARE(metricSender()->queuedEvents().size(), 100);

    // The restart to 100 ms reached the timer in this thread: sent well before the idle tick.
    QTRY_COMPARE_WITH_TIMEOUT(allEntries(server).size(), 100, 3000);
    for (int t = 0; t < 4; ++t) {
        QStringList ofThread;
        for (const QString& entry : allEntries(server)) {
            if (entry.startsWith(QStringLiteral("thread%1:").arg(t)))
                ofThread.append(entry);
        }
        QCOMPARE(ofThread.size(), 25);
        QCOMPARE(ofThread.first(), QStringLiteral("thread%1:0").arg(t)); // each thread's order kept
        QCOMPARE(ofThread.last(), QStringLiteral("thread%1:24").arg(t));
    }
    QVERIFY(messagerecorder::messages().filter(QStringLiteral("#thread")).isEmpty());
}

void TestMetricSender::disabledSendingQueuesAndSendsNothing()
{
    ScriptedHttpServer server;
    QVERIFY(server.listen());
    initSender(server.url(), false);
    QVERIFY(!MetricSender::isEnabled());
    MetricSender::addMetric(QStringLiteral("off"), QStringLiteral("1"));
    qInfo("#off2");
    QVERIFY(metricSender()->queuedEvents().isEmpty());
    QVERIFY(!messagerecorder::contains(QStringLiteral("#off2"))); // still kept out of the log

    // Switched on at run time: events are queued; switched off before the tick: dropped.
    MetricSender::setEnabled(true);
    QVERIFY(MetricSender::isEnabled());
    MetricSender::addMetric(QStringLiteral("on"), QStringLiteral("1"));
    QCOMPARE(metricSender()->queuedEvents().size(), 1);
    MetricSender::setEnabled(false);
    metricSender()->sendNext();
    QVERIFY(metricSender()->queuedEvents().isEmpty());
    QVERIFY(!metricSender()->isSending());
    QTest::qWait(300);
    QCOMPARE(server.requestCount(), 0);
}

void TestMetricSender::replyWhileDisabledStopsTimer()
{
    ScriptedHttpServer server;
    QVERIFY(server.listen());
    ScriptedHttpServer::Reply slow = ScriptedHttpServer::ok("ok");
    slow.delayMs = 200;
    server.enqueue(slow);
    initSender(server.url());

    MetricSender::addMetric(QStringLiteral("a"), QStringLiteral("1"));
    QTRY_VERIFY(metricSender()->isSending());
    MetricSender::setEnabled(false);
    QTRY_VERIFY(!metricSender()->isSending());
    QVERIFY(!metricSender()->isTimerActive());

    // Back on: the next event starts the timer again and is sent.
    MetricSender::setEnabled(true);
    MetricSender::addMetric(QStringLiteral("b"), QStringLiteral("2"));
    QVERIFY(metricSender()->isTimerActive());
    QVERIFY(server.waitForRequests(2));
    QCOMPARE(entriesOf(server.query(1)), QStringList({ QStringLiteral("b:2") }));
}

void TestMetricSender::noEndpointSendsNothing_data()
{
    QTest::addColumn<QString>("baseUrl");
    QTest::newRow("built-in (empty)") << QString();
    QTest::newRow("not a web address") << QStringLiteral("file:///tmp/metrics");
    QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1/");
}

void TestMetricSender::noEndpointSendsNothing()
{
    QFETCH(QString, baseUrl);
    initSender(baseUrl);
    QVERIFY(MetricSender::isEnabled());
    MetricSender::addMetric(QStringLiteral("a"), QStringLiteral("1"));
    qInfo("#b:2");
    QVERIFY(metricSender()->queuedEvents().isEmpty());
    metricSender()->sendNext();
    QVERIFY(!metricSender()->isSending());
    QVERIFY(metricSender()->pendingRequest().isEmpty());
    QVERIFY(!messagerecorder::contains(QStringLiteral("#b")));
}

QTEST_GUILESS_MAIN(TestMetricSender)
#include "tst_metricsender.moc"

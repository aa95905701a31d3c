#include "metrics/hardwaremetricsbuilder.h"
#include "metrics/metricencoding.h"
#include "metrics/metricsender.h"
#include "scriptedhttpserver.h"
#include "temphome.h"
#include "testfiles.h"
#include "textrows.h"
#include "updater/updater.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutex>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTest>

#include <memory>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

const QString kDeviceId = QStringLiteral("device-1");
const QString kMachineId = QStringLiteral("0123456789abcdef0123456789abcdef");

// The handler the metrics handler is chained in front of: it records what reaches it.
QMutex g_mutex;
QStringList g_messages;

void record(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&g_mutex);
    g_messages.append(message);
}

QStringList recorded()
{
    QMutexLocker lock(&g_mutex);
    return g_messages;
}

MetricSender* metricSender() { return MetricSender::instance(); }

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

// The queued events as "key:value" or "key:value:extra".
QStringList queued()
{
    QStringList lines;
    for (const MetricSender::Event& event : metricSender()->queuedEvents())
        lines.append(event.key + QLatin1Char(':') + event.value + (event.extra.isEmpty() ? "" : ":" + event.extra));
    return lines;
}

QString saltedDigest(const QString& id) { return metrics::md5Hex(id + QStringLiteral("4ryBread")); }

// One entry of the power-supply class folder, with its "type" and optional "scope".
bool addSupply(const QString& dir, const QString& name, const QByteArray& type, const QByteArray& scope = {})
{
    if (!testfiles::write(dir + QLatin1Char('/') + name + QStringLiteral("/type"), type + '\n'))
        return false;
    return scope.isEmpty() || testfiles::write(dir + QLatin1Char('/') + name + QStringLiteral("/scope"), scope + '\n');
}

const QString kChangelog = QStringLiteral("https://example.invalid/Folvane/changelog.html");
const QString kDownload = QStringLiteral("https://example.invalid/Download-Folvane/");

// One update check with spies on its three signals.
struct Check {
    explicit Check(const QString& checkUrl, const QString& changelog = kChangelog, const QString& download = kDownload)
        : updater(kDeviceId, QStringLiteral("17"), checkUrl, changelog, download)
        , finished(&updater, &Updater::finished)
        , newVersion(&updater, &Updater::newVersionAvalible)
        , error(&updater, &Updater::error)
    {
    }

    Updater updater;
    QSignalSpy finished;
    QSignalSpy newVersion;
    QSignalSpy error;
};

} // namespace

class TestMetrics : public QObject {
    Q_OBJECT

    TempHome m_home;
    std::unique_ptr<ScriptedHttpServer> m_server;
    QString m_root; // this test's fake system folders

    void initSender(bool enabled = true, const QString& url = QString())
    {
        MetricSender::init(
            kDeviceId, QStringLiteral("4"), QStringLiteral("6.2.9"), enabled, url.isNull() ? m_server->url() : url);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        QCoreApplication::setApplicationVersion(QStringLiteral("6.2.9")); // what the update check sends
        qInstallMessageHandler(&record);
        MetricSender::installMessageHandler();
        MetricSender::installMessageHandler(); // must not become its own predecessor
        // Before init() nothing is queued.
        MetricSender::addMetric(QStringLiteral("early"), QStringLiteral("1"));
        qInfo("#early2");
        QVERIFY(metricSender()->queuedEvents().isEmpty());
    }

    void init()
    {
        m_server = std::make_unique<ScriptedHttpServer>();
        QVERIFY(m_server->listen());
        MetricSender::setRequestTimeout(30000);
        initSender();
        QMutexLocker lock(&g_mutex);
        g_messages.clear();
        m_root = m_home.filePath(QString::fromLatin1(QTest::currentTestFunction()));
        QDir(m_root).removeRecursively();
        QVERIFY(QDir().mkpath(m_root + QStringLiteral("/power_supply")));
        HardwareMetricsBuilder::setPowerSupplyDir(m_root + QStringLiteral("/power_supply"));
        HardwareMetricsBuilder::setMachineIdFiles({ m_root + QStringLiteral("/machine-id") });
        HardwareMetricsBuilder::setDisplayFactsProvider(nullptr);
    }

    void logLinesBecomeEvents_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("event"); // empty: not a metric
        addTextRows({
            { "key only", "#tts", "tts:1" },
            { "extra, further parts ignored", "#a:b:c:d", "a:b:c" },
            { "empty extra", "#frun:en:", "frun:en" },
            { "hash inside", "x#y", nullptr },
            { "space first", " #y:1", nullptr },
        });
    }

    // A metric line becomes an event at every level and never reaches the next handler (the log).
    void logLinesBecomeEvents()
    {
        QFETCH(QString, line);
        QFETCH(QString, event);
        qInfo().noquote() << line;
        qWarning().noquote() << line;
        if (event.isEmpty()) {
            QVERIFY(queued().isEmpty());
            QCOMPARE(recorded(), QStringList({ line, line }));
        } else {
            QCOMPARE(queued(), QStringList({ event, event }));
            QVERIFY(recorded().isEmpty());
        }
    }

    void requestCarriesEncodedEntries()
    {
        MetricSender::addMetric(QStringLiteral("chprof"), QStringLiteral("2"));
        MetricSender::addMetric(QStringLiteral("k"), QStringLiteral("a b:c"), QStringLiteral("x:y \u00e4"));
        MetricSender::addMetric(QStringLiteral("a&b=c"), QStringLiteral("1+1"));
        MetricSender::addMetricValue(QStringLiteral("tts"), -3);
        QVERIFY(m_server->waitForRequests(1));
        const QString dev = metrics::md5Hex(kDeviceId + QStringLiteral("maplewood5oak"));
        QCOMPARE(QString::fromLatin1(m_server->targets().at(0)),
            QStringLiteral("/?pid=4&ver=6.2.9&dev=") + dev
                + QStringLiteral("&m1=chprof:2&m2=k:a%20b%3Ac:x%3Ay%20%C3%A4&m3=a%26b%3Dc:1%2B1&m4=tts:-3"));
        QTRY_VERIFY(!metricSender()->isSending());
        QVERIFY(metricSender()->pendingRequest().isEmpty());
        QCOMPARE(metricSender()->timerInterval(), 5000);
    }

    void oversizedEventDoesNotStallQueue()
    {
        MetricSender::addMetric(QStringLiteral("huge"), QString(2000, QLatin1Char('x')));
        MetricSender::addMetric(QStringLiteral("small"), QStringLiteral("1"));
        QVERIFY(m_server->waitForRequests(1));
        QCOMPARE(entriesOf(m_server->query(0)), QStringList({ QStringLiteral("small:1") }));
    }

    void failedRequestIsKeptAndResentWhole_data()
    {
        QTest::addColumn<ScriptedHttpServer::Reply>("failure");
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("404") << ScriptedHttpServer::status(404) << 30000;
        QTest::newRow("never answers") << ScriptedHttpServer::silent() << 300;
        ScriptedHttpServer::Reply huge = ScriptedHttpServer::ok(QByteArray(2 * 1024 * 1024, 'x'));
        QTest::newRow("huge answer") << huge << 30000;
        huge.declareLength = false;
        QTest::newRow("huge answer, no length") << huge << 30000;
    }

    void failedRequestIsKeptAndResentWhole()
    {
        QFETCH(ScriptedHttpServer::Reply, failure);
        QFETCH(int, timeoutMs);
        m_server->enqueue(failure);
        MetricSender::setRequestTimeout(timeoutMs);
        initSender();
        MetricSender::addMetric(QStringLiteral("a"), QStringLiteral("1"));
        QVERIFY(m_server->waitForRequests(1));
        QTRY_VERIFY_WITH_TIMEOUT(!metricSender()->isSending(), 5000);
        const QString kept = metricSender()->pendingRequest();
        QVERIFY(kept.endsWith(QStringLiteral("&m1=a:1")));
        QTest::qWait(300);
        QCOMPARE(m_server->requestCount(), 1); // not retried on its own...

        // ...but as soon as a new event comes, unchanged; the new event follows in its own request.
        MetricSender::addMetric(QStringLiteral("b"), QStringLiteral("2"));
        QVERIFY(m_server->waitForRequests(3));
        QCOMPARE(m_server->url() + QString::fromLatin1(m_server->targets().at(1)), kept);
        QCOMPARE(entriesOf(m_server->query(2)), QStringList({ QStringLiteral("b:2") }));
        QTRY_VERIFY(!metricSender()->isSending());
        QVERIFY(metricSender()->pendingRequest().isEmpty());
    }

    void eventsFromOtherThreadsAreSent()
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < 25; ++i)
                    qInfo("#thread%d:%d", t, i);
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        // The restart to 100 ms reached the timer in this thread: sent well before the idle tick.
        QTRY_COMPARE_WITH_TIMEOUT(allEntries(*m_server).size(), 100, 3000);
        for (int t = 0; t < 4; ++t) {
            const QStringList ofThread = allEntries(*m_server).filter(QStringLiteral("thread%1:").arg(t));
            QCOMPARE(ofThread.size(), 25);
            QCOMPARE(ofThread.first(), QStringLiteral("thread%1:0").arg(t)); // each thread's order kept
            QCOMPARE(ofThread.last(), QStringLiteral("thread%1:24").arg(t));
        }
        // Batched into several requests, each below the address limit.
        QVERIFY(m_server->requestCount() > 1);
        for (int i = 0; i < m_server->requestCount(); ++i)
            QVERIFY((m_server->url() + QString::fromLatin1(m_server->targets().at(i))).size() < 1024);
    }

    // Switched off while a request runs: the timer stops, what is queued is dropped; on again, it sends.
    void switchedOffAndOnAtRunTime()
    {
        ScriptedHttpServer::Reply slow = ScriptedHttpServer::ok("ok");
        slow.delayMs = 200;
        m_server->enqueue(slow);
        MetricSender::addMetric(QStringLiteral("a"), QStringLiteral("1"));
        QTRY_VERIFY(metricSender()->isSending());
        MetricSender::setEnabled(false);
        QTRY_VERIFY(!metricSender()->isSending());
        QVERIFY(!metricSender()->isTimerActive());
        MetricSender::setEnabled(true);
        MetricSender::addMetric(QStringLiteral("dropped"), QStringLiteral("1"));
        MetricSender::setEnabled(false);
        metricSender()->sendNext();
        QVERIFY(metricSender()->queuedEvents().isEmpty());

        MetricSender::setEnabled(true);
        MetricSender::addMetric(QStringLiteral("b"), QStringLiteral("2"));
        QVERIFY(m_server->waitForRequests(2));
        QCOMPARE(entriesOf(m_server->query(1)), QStringList({ QStringLiteral("b:2") }));
    }

    void nothingQueuedWhenOffOrWithoutEndpoint_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("baseUrl"); // null: the test server
        QTest::newRow("switched off") << false << QString();
        QTest::newRow("built-in (empty)") << true << QString("");
        QTest::newRow("not a web address") << true << QStringLiteral("file:///tmp/metrics");
    }

    void nothingQueuedWhenOffOrWithoutEndpoint()
    {
        QFETCH(bool, enabled);
        QFETCH(QString, baseUrl);
        initSender(enabled, baseUrl);
        MetricSender::addMetric(QStringLiteral("a"), QStringLiteral("1"));
        qInfo("#b:2");
        QVERIFY(metricSender()->queuedEvents().isEmpty());
        metricSender()->sendNext();
        QVERIFY(!metricSender()->isSending());
        QVERIFY(recorded().filter(QStringLiteral("#b")).isEmpty()); // still kept out of the log
    }

    void dumpReportsEveryFactInOrder_data()
    {
        QTest::addColumn<bool>("facts");
        QTest::newRow("screens, battery, machine id") << true;
        QTest::newRow("nothing known") << false;
    }

    void dumpReportsEveryFactInOrder()
    {
        QFETCH(bool, facts);
        if (facts) {
            QVERIFY(testfiles::write(m_root + QStringLiteral("/machine-id"), kMachineId.toLatin1() + '\n'));
            QVERIFY(addSupply(m_root + QStringLiteral("/power_supply"), QStringLiteral("BAT0"), "Battery"));
            HardwareMetricsBuilder::setDisplayFactsProvider([] {
                HardwareMetricsBuilder::DisplayFacts facts;
                facts.screens.append({ false, QRect(1920, 0, 1280, 1024), 96 });
                facts.screens.append({ true, QRect(0, 0, 1920, 1080), 144 });
                facts.integratedTouch = true;
                return facts;
            });
        }
        HardwareMetricsBuilder::dumpMetrics();
        const QString arch = QSysInfo::currentCpuArchitecture() == QLatin1String("x86_64") ? "1" : "0";
        QStringList expected {
            QStringLiteral("osv:") + metrics::percentEncoded(QSysInfo::productType() + QSysInfo::productVersion()),
            QStringLiteral("osk:") + metrics::percentEncoded(QSysInfo::kernelVersion()), QStringLiteral("osb:") + arch
        };
        if (facts)
            expected << QStringLiteral("rs:1920x1080") << QStringLiteral("scl:144");
        expected << QStringLiteral("dis:%1").arg(facts ? 2 : 0)
                 << QStringLiteral("sram:%1").arg(HardwareMetricsBuilder::physicalMemoryMiB())
                 << QStringLiteral("laptop:%1").arg(int(facts)) << QStringLiteral("tchd:%1").arg(int(facts))
                 << QStringLiteral("osid:") + saltedDigest(facts ? kMachineId : QString()) << QStringLiteral("vdt:1");
        QCOMPARE(queued(), expected);
        QVERIFY(HardwareMetricsBuilder::physicalMemoryMiB() > 0);
        QVERIFY(recorded().filter(QRegularExpression(QStringLiteral("^#"))).isEmpty()); // none reached the log
    }

    // The battery of a device (a wireless mouse) makes no laptop; without the folder it is not known.
    void laptopFromPowerSupplies()
    {
        const QString dir = m_root + QStringLiteral("/power_supply");
        QVERIFY(addSupply(dir, QStringLiteral("AC"), "Mains"));
        QVERIFY(addSupply(dir, QStringLiteral("hidpp_battery_0"), "Battery", "Device"));
        QCOMPARE(HardwareMetricsBuilder::laptopState(), 0);
        QVERIFY(QDir(dir).removeRecursively());
        QCOMPARE(HardwareMetricsBuilder::laptopState(), -1);
    }

    void machineIdSources_data()
    {
        QTest::addColumn<QByteArrayList>("files"); // content per file; "<fifo>" makes a FIFO
        QTest::addColumn<QString>("id"); // what is hashed with the salt
        const QByteArray id = kMachineId.toLatin1();
        QTest::newRow("upper case") << QByteArrayList { kMachineId.toUpper().toLatin1() } << kMachineId;
        QTest::newRow("fallback after garbage") << QByteArrayList { "not a machine id", id } << kMachineId;
        QTest::newRow("too long") << QByteArrayList { QByteArray(100000, 'a') } << QString();
        QTest::newRow("binary") << QByteArrayList { QByteArray("0123456789abcdef\0\x01\xff", 19) } << QString();
        QTest::newRow("fifo is not read") << QByteArrayList { "<fifo>" } << QString();
    }

    void machineIdSources()
    {
        QFETCH(QByteArrayList, files);
        QFETCH(QString, id);
        QStringList paths;
        for (int i = 0; i < files.size(); ++i) {
            paths.append(m_root + QStringLiteral("/id%1").arg(i));
            if (files.at(i) == "<fifo>")
                QCOMPARE(::mkfifo(QFile::encodeName(paths.last()).constData(), 0600), 0); // would block a reader
            else
                QVERIFY(testfiles::write(paths.last(), files.at(i)));
        }
        HardwareMetricsBuilder::setMachineIdFiles(paths);
        QCOMPARE(HardwareMetricsBuilder::osMachineId(), saltedDigest(id));
    }

    void serverAnswers_data()
    {
        QTest::addColumn<ScriptedHttpServer::Reply>("reply");
        QTest::addColumn<QString>("announced"); // empty: no newVersionAvalible
        QTest::addColumn<bool>("isError");

        using S = ScriptedHttpServer;
        QTest::newRow("same version") << S::ok("6.2.9") << QString() << false;
        QTest::newRow("numeric, not text comparison") << S::ok("6.2.10\n") << "6.2.10" << false;
        QTest::newRow("older") << S::ok("6.2.8") << QString() << false;
        QTest::newRow("trailing zero is the same") << S::ok("6.2.9.0") << QString() << false;
        QTest::newRow("white space and BOM") << S::ok("\xef\xbb\xbf 6.3 \r\n") << "6.3" << false;
        QTest::newRow("empty answer") << S::ok("") << QString() << false;
        QTest::newRow("second line") << S::ok("7.0\nhttp://evil.invalid/") << QString() << true;
        QTest::newRow("invalid UTF-8") << S::ok("7.\xff") << QString() << true;
        // Versions are at most sixteen numbers of at most nine digits.
        const QByteArray sixteen = QByteArray("9") + QByteArray(".1").repeated(15);
        QTest::newRow("sixteen segments") << S::ok(sixteen) << QString(sixteen) << false;
        QTest::newRow("seventeen segments") << S::ok(sixteen + ".1") << QString() << true;
        QTest::newRow("nine digits") << S::ok("999999999") << "999999999" << false;
        QTest::newRow("ten digits") << S::ok("9999999999") << QString() << true;
        QTest::newRow("trailing dot") << S::ok("7.2.") << QString() << true;
        QTest::newRow("arabic-indic digits") << S::ok("\xd9\xa7") << QString() << true;
        QTest::newRow("nul inside") << S::ok(QByteArray("7.2\0", 4)) << QString() << true;
        QTest::newRow("404") << S::status(404) << QString() << true;
        QTest::newRow("redirect") << S::status(301) << QString() << true;
        S::Reply huge = S::ok(QByteArray(2 * 1024 * 1024, '9'));
        QTest::newRow("huge, declared") << huge << QString() << true;
        huge.declareLength = false;
        QTest::newRow("huge, undeclared") << huge << QString() << true;
        S::Reply late = S::ok("8.0");
        late.delayMs = 100;
        QTest::newRow("late but in time") << late << "8.0" << false;
        QTest::newRow("silent: times out") << S::silent() << QString() << true; // waits 300 ms
    }

    void serverAnswers()
    {
        QFETCH(ScriptedHttpServer::Reply, reply);
        QFETCH(QString, announced);
        QFETCH(bool, isError);

        ScriptedHttpServer& server = *m_server;
        server.enqueue(reply);
        Check check(server.url(QStringLiteral("/check.php")));
        check.updater.checkForUpdates(reply.neverAnswer ? 300 : 5000);
        QVERIFY(check.finished.isEmpty()); // signals come later

        QVERIFY(check.finished.wait(5000));
        QTest::qWait(20); // nothing more follows
        QCOMPARE(check.finished.size(), 1);
        const QString mh = metrics::deviceHash(kDeviceId); // the device hash the metrics send
        const QString h = metrics::md5Hex(QStringLiteral("17") + mh + QStringLiteral("maplewood5oak"));
        QCOMPARE(QString::fromLatin1(server.targets().at(0)),
            QStringLiteral("/check.php?ver=6.2.9&pid=17&mh=%1&h=%2").arg(mh, h));
        // An answer without a length ends when the server closes the connection; Qt may send an
        // idempotent GET again when that close overtakes the answer on a loaded machine.
        if (reply.declareLength)
            QCOMPARE(server.requestCount(), 1);
        else
            QVERIFY(server.requestCount() >= 1);
        QCOMPARE(check.error.size(), isError ? 1 : 0);
        if (announced.isEmpty()) {
            QCOMPARE(check.newVersion.size(), 0);
        } else {
            QCOMPARE(check.newVersion.size(), 1);
            QCOMPARE(check.newVersion.at(0), QVariantList({ announced, kChangelog, kDownload }));
        }
    }

    void secondCheckStopsFirst()
    {
        ScriptedHttpServer& server = *m_server;
        server.enqueue(ScriptedHttpServer::silent());
        server.enqueue(ScriptedHttpServer::ok("9.1"));
        Check check(server.url());

        check.updater.checkForUpdates(5000);
        QVERIFY(server.waitForRequests(1));
        check.updater.checkForUpdates(5000);
        // The first check ended at once, without an error of the server and without a version.
        QCOMPARE(check.finished.size(), 1);
        QCOMPARE(check.error.size(), 0);

        QTRY_COMPARE(check.finished.size(), 2);
        QCOMPARE(server.requestCount(), 2);
        QCOMPARE(check.newVersion.size(), 1);
        QCOMPARE(check.newVersion.at(0).at(0).toString(), QStringLiteral("9.1"));
        QCOMPARE(check.error.size(), 0); // nor later, when the dropped request ends
    }

    // No address: nothing is sent and no error; a local file is never read as the answer.
    void addressesThatAreNotAsked_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("errors");
        QTest::newRow("none") << QString() << 0;
        QTest::newRow("local file") << QStringLiteral("file:///etc/hostname") << 1;
    }

    void addressesThatAreNotAsked()
    {
        QFETCH(QString, address);
        QFETCH(int, errors);
        Check check(address);
        check.updater.checkForUpdates(5000);
        QVERIFY(check.finished.isEmpty());
        QVERIFY(check.finished.wait(1000));
        QCOMPARE(check.error.size(), errors);
        QCOMPARE(check.newVersion.size(), 0);
    }

    void pagesHandedOnMustBeWebPages()
    {
        ScriptedHttpServer& server = *m_server;
        server.setDefaultReply(ScriptedHttpServer::ok("10.0"));
        Check check(server.url(), QStringLiteral("javascript:alert(1)"), QStringLiteral("file:///bin/sh"));
        check.updater.checkForUpdates(5000);
        QVERIFY(check.finished.wait(5000));
        QCOMPARE(check.newVersion.size(), 1);
        QCOMPARE(check.newVersion.at(0), QVariantList({ QStringLiteral("10.0"), QString(), QString() }));
    }
};

QTEST_GUILESS_MAIN(TestMetrics)
#include "tst_metrics.moc"

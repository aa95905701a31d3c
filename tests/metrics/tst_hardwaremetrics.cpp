#include "messagerecorder.h"
#include "metrics/hardwaremetricsbuilder.h"
#include "metrics/metricencoding.h"
#include "metrics/metricsender.h"
#include "scriptedhttpserver.h"
#include "temphome.h"
#include "testfiles.h"

#include <QDir>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString kMachineId = QStringLiteral("0123456789abcdef0123456789abcdef");

QString saltedDigest(const QString& id) { return metrics::md5Hex(id + QStringLiteral("4ryBread")); }

// One entry of the power-supply class folder, with its "type" and optional "scope".
bool addSupply(const QString& dir, const QString& name, const QByteArray& type, const QByteArray& scope = {})
{
    if (!testfiles::write(dir + QLatin1Char('/') + name + QStringLiteral("/type"), type + '\n'))
        return false;
    return scope.isEmpty() || testfiles::write(dir + QLatin1Char('/') + name + QStringLiteral("/scope"), scope + '\n');
}

// The events the last dumpMetrics() queued, as "key:value".
QStringList dumpedEvents()
{
    QStringList lines;
    for (const MetricSender::Event& event : MetricSender::instance()->queuedEvents())
        lines.append(event.key + QLatin1Char(':') + event.value);
    return lines;
}

} // namespace

class TestHardwareMetrics : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void dumpReportsEveryFactInOrder();
    void withoutScreensNoResolutionLines();
    void laptopFromPowerSupplies_data();
    void laptopFromPowerSupplies();
    void machineIdSources_data();
    void machineIdSources();

private:
    TempHome m_home;
    ScriptedHttpServer m_server;
};

void TestHardwareMetrics::initTestCase()
{
    QVERIFY(m_home.isValid());
    QVERIFY(m_server.listen());
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    messagerecorder::installChain();
}

void TestHardwareMetrics::init()
{
    // The events are read back from the queue before the event loop could send them.
    MetricSender::init(QStringLiteral("dev"), QStringLiteral("4"), QStringLiteral("1.0"), true, m_server.url());
    messagerecorder::clear();
    const QString root = m_home.filePath(QString::fromLatin1(QTest::currentTestFunction()));
    QDir(root).removeRecursively();
    QVERIFY(QDir().mkpath(root + QStringLiteral("/power_supply")));
    HardwareMetricsBuilder::setPowerSupplyDir(root + QStringLiteral("/power_supply"));
    HardwareMetricsBuilder::setMachineIdFiles({ root + QStringLiteral("/machine-id") });
    HardwareMetricsBuilder::setDisplayFactsProvider(nullptr);
}

void TestHardwareMetrics::cleanup() { HardwareMetricsBuilder::setDisplayFactsProvider(nullptr); }

void TestHardwareMetrics::dumpReportsEveryFactInOrder()
{
    const QString root = m_home.filePath(QStringLiteral("dumpReportsEveryFactInOrder"));
    QVERIFY(testfiles::write(root + QStringLiteral("/machine-id"), kMachineId.toLatin1() + '\n'));
    QVERIFY(addSupply(root + QStringLiteral("/power_supply"), QStringLiteral("AC"), "Mains"));
    QVERIFY(addSupply(root + QStringLiteral("/power_supply"), QStringLiteral("BAT0"), "Battery"));
    HardwareMetricsBuilder::setDisplayFactsProvider([] {
        HardwareMetricsBuilder::DisplayFacts facts;
        facts.screens.append({ false, QRect(1920, 0, 1280, 1024), 96 });
        facts.screens.append({ true, QRect(0, 0, 1920, 1080), 144 });
        facts.integratedTouch = true;
        return facts;
    });

    HardwareMetricsBuilder::dumpMetrics();

    const qint64 memory = HardwareMetricsBuilder::physicalMemoryMiB();
    QVERIFY(memory > 0);
    const QString arch = QSysInfo::currentCpuArchitecture() == QLatin1String("x86_64") ? "1" : "0";
    const QStringList expected {
        QStringLiteral("osv:") + metrics::percentEncoded(QSysInfo::productType() + QSysInfo::productVersion()),
        QStringLiteral("osk:") + metrics::percentEncoded(QSysInfo::kernelVersion()),
        QStringLiteral("osb:") + arch,
        QStringLiteral("rs:1920x1080"),
        QStringLiteral("scl:144"),
        QStringLiteral("dis:2"),
        QStringLiteral("sram:%1").arg(memory),
        QStringLiteral("laptop:1"),
        QStringLiteral("tchd:1"),
        QStringLiteral("osid:") + saltedDigest(kMachineId),
        QStringLiteral("vdt:1"),
    };
    QCOMPARE(dumpedEvents(), expected);
    // Every line was a metric: none reached the log.
    QVERIFY(messagerecorder::messages().filter(QRegularExpression(QStringLiteral("^#"))).isEmpty());
    // The kernel version has dots and dashes only, but never a raw ":" that would split it.
    QVERIFY(!dumpedEvents().at(1).mid(4).contains(QLatin1Char(':')));
}

void TestHardwareMetrics::withoutScreensNoResolutionLines()
{
    HardwareMetricsBuilder::dumpMetrics();
    const QStringList events = dumpedEvents();
    QVERIFY(events.filter(QRegularExpression(QStringLiteral("^(rs|scl):"))).isEmpty());
    QVERIFY(events.contains(QStringLiteral("dis:0")));
    QVERIFY(events.contains(QStringLiteral("tchd:0")));
    QVERIFY(events.contains(QStringLiteral("vdt:1")));
    QVERIFY(events.contains(QStringLiteral("laptop:0"))); // an empty power-supply folder
    QCOMPARE(events.size(), 9);
}

void TestHardwareMetrics::laptopFromPowerSupplies_data()
{
    QTest::addColumn<QStringList>("supplies"); // name=type[/scope]
    QTest::addColumn<bool>("folderExists");
    QTest::addColumn<int>("expected");

    QTest::newRow("desktop, mains only") << QStringList { "AC=Mains" } << true << 0;
    QTest::newRow("wireless mouse battery")
        << QStringList { "AC=Mains", "hidpp_battery_0=Battery/Device" } << true << 0;
    QTest::newRow("laptop battery") << QStringList { "AC=Mains", "BAT0=Battery" } << true << 1;
    QTest::newRow("system-scoped battery") << QStringList { "BAT1=Battery/System" } << true << 1;
    QTest::newRow("ups") << QStringList { "ups=UPS" } << true << 0;
    QTest::newRow("no power-supply folder") << QStringList {} << false << -1;
}

void TestHardwareMetrics::laptopFromPowerSupplies()
{
    QFETCH(QStringList, supplies);
    QFETCH(bool, folderExists);
    QFETCH(int, expected);

    const QString dir = m_home.filePath(QStringLiteral("laptopFromPowerSupplies/power_supply"));
    if (!folderExists)
        QVERIFY(QDir(dir).removeRecursively());
    for (const QString& supply : supplies) {
        const QString name = supply.section(QLatin1Char('='), 0, 0);
        const QString type = supply.section(QLatin1Char('='), 1).section(QLatin1Char('/'), 0, 0);
        const QString scope = supply.section(QLatin1Char('='), 1).section(QLatin1Char('/'), 1);
        QVERIFY(addSupply(dir, name, type.toLatin1(), scope.toLatin1()));
    }
    QCOMPARE(HardwareMetricsBuilder::laptopState(), expected);
    HardwareMetricsBuilder::dumpMetrics();
    QVERIFY(dumpedEvents().contains(QStringLiteral("laptop:%1").arg(expected)));
}

void TestHardwareMetrics::machineIdSources_data()
{
    QTest::addColumn<QByteArrayList>("files"); // content per file; "<fifo>" and "<missing>" are special
    QTest::addColumn<QString>("id"); // what is hashed with the salt

    const QByteArray id = kMachineId.toLatin1();
    QTest::newRow("valid") << QByteArrayList { id + '\n' } << kMachineId;
    QTest::newRow("upper case") << QByteArrayList { kMachineId.toUpper().toLatin1() } << kMachineId;
    QTest::newRow("fallback after missing") << QByteArrayList { "<missing>", id } << kMachineId;
    QTest::newRow("fallback after garbage") << QByteArrayList { "not a machine id", id } << kMachineId;
    QTest::newRow("missing") << QByteArrayList { "<missing>" } << QString();
    QTest::newRow("empty") << QByteArrayList { "\n" } << QString();
    QTest::newRow("too long") << QByteArrayList { QByteArray(100000, 'a') } << QString();
    QTest::newRow("binary") << QByteArrayList { QByteArray("0123456789abcdef\0\x01\xff", 19) } << QString();
    QTest::newRow("fifo is not read") << QByteArrayList { "<fifo>" } << QString();
}

void TestHardwareMetrics::machineIdSources()
{
    QFETCH(QByteArrayList, files);
    QFETCH(QString, id);

    const QString root = m_home.filePath(QStringLiteral("machineIdSources"));
    QStringList paths;
    for (int i = 0; i < files.size(); ++i) {
        const QString path = root + QStringLiteral("/id%1").arg(i);
        QFile::remove(path);
        paths.append(path);
        if (files.at(i) == "<fifo>")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0); // would block a reader
        else if (files.at(i) != "<missing>")
            QVERIFY(testfiles::write(path, files.at(i)));
    }
    HardwareMetricsBuilder::setMachineIdFiles(paths);

    QCOMPARE(HardwareMetricsBuilder::osMachineId(), saltedDigest(id));
    HardwareMetricsBuilder::dumpMetrics();
    QVERIFY(dumpedEvents().contains(QStringLiteral("osid:") + saltedDigest(id)));
}

QTEST_GUILESS_MAIN(TestHardwareMetrics)
#include "tst_hardwaremetrics.moc"

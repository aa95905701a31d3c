#include "hardwaremetricsbuilder.h"

#include "metricencoding.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSysInfo>

#include <unistd.h>

namespace {

const char* const kMachineIdSalt = "4ryBread";
// A machine id is 32 hex digits and a line feed; anything much longer is not one.
const qint64 kMaxMachineIdBytes = 256;
const qint64 kMaxSysfsValueBytes = 256;

struct Settings {
    QMutex mutex;
    HardwareMetricsBuilder::DisplayFactsProvider provider;
    QStringList machineIdFiles { QStringLiteral("/etc/machine-id"), QStringLiteral("/var/lib/dbus/machine-id") };
    QString powerSupplyDir = QStringLiteral("/sys/class/power_supply");
};

Settings& settings()
{
    static Settings* const instance = new Settings;
    return *instance;
}

// The first bytes of a small regular file; a FIFO or device under that name is not opened,
// so a test's or a broken system's odd file cannot block or flood the call.
bool readSmallFile(const QString& path, qint64 maxBytes, QByteArray* content)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *content = file.read(maxBytes);
    return true;
}

QString sysfsValue(const QString& path)
{
    QByteArray value;
    if (!readSmallFile(path, kMaxSysfsValueBytes, &value))
        return QString();
    return QString::fromUtf8(value).trimmed();
}

bool isMachineId(const QByteArray& id)
{
    if (id.size() != 32)
        return false;
    for (char c : id) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

void logMetric(const QString& line) { qInfo().noquote() << line; }

} // namespace

void HardwareMetricsBuilder::setDisplayFactsProvider(DisplayFactsProvider provider)
{
    QMutexLocker lock(&settings().mutex);
    settings().provider = std::move(provider);
}

void HardwareMetricsBuilder::setMachineIdFiles(const QStringList& paths)
{
    QMutexLocker lock(&settings().mutex);
    settings().machineIdFiles = paths;
}

void HardwareMetricsBuilder::setPowerSupplyDir(const QString& path)
{
    QMutexLocker lock(&settings().mutex);
    settings().powerSupplyDir = path;
}

QString HardwareMetricsBuilder::osMachineId()
{
    QStringList paths;
    {
        QMutexLocker lock(&settings().mutex);
        paths = settings().machineIdFiles;
    }
    QString id;
    bool opened = false;
    for (const QString& path : paths) {
        QByteArray content;
        if (!readSmallFile(path, kMaxMachineIdBytes + 1, &content))
            continue;
        opened = true;
        if (content.size() > kMaxMachineIdBytes) {
            qDebug() << "Incorrect machine id in" << path;
            continue;
        }
        content = content.trimmed();
        if (content.isEmpty()) {
            qDebug() << "Could not read machine id from" << path;
            continue;
        }
        if (!isMachineId(content)) {
            qDebug() << "Incorrect machine id in" << path;
            continue;
        }
        id = QString::fromLatin1(content.toLower());
        break;
    }
    if (!opened)
        qDebug() << "Could not open machine id file";
    return metrics::md5Hex(id + QLatin1String(kMachineIdSalt));
}

int HardwareMetricsBuilder::laptopState()
{
    QString folder;
    {
        QMutexLocker lock(&settings().mutex);
        folder = settings().powerSupplyDir;
    }
    const QDir dir(folder);
    if (!dir.exists() || !dir.isReadable())
        return -1;
    // Entries are symbolic links into the device tree.
    const QStringList supplies = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QString& name : supplies) {
        const QString base = dir.filePath(name) + QLatin1Char('/');
        if (sysfsValue(base + QLatin1String("type")) != QLatin1String("Battery"))
            continue;
        // Mice, keyboards and headsets report their batteries with scope "Device".
        if (sysfsValue(base + QLatin1String("scope")).compare(QLatin1String("Device"), Qt::CaseInsensitive) == 0)
            continue;
        return 1;
    }
    return 0;
}

qint64 HardwareMetricsBuilder::physicalMemoryMiB()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return (qint64(pages) * qint64(pageSize)) >> 20;
}

void HardwareMetricsBuilder::dumpMetrics()
{
    DisplayFactsProvider provider;
    {
        QMutexLocker lock(&settings().mutex);
        provider = settings().provider;
    }
    const DisplayFacts display = provider ? provider() : DisplayFacts();

    logMetric(QStringLiteral("#osv:") + metrics::percentEncoded(QSysInfo::productType() + QSysInfo::productVersion()));
    logMetric(QStringLiteral("#osk:") + metrics::percentEncoded(QSysInfo::kernelVersion()));
    logMetric(QStringLiteral("#osb:%1").arg(QSysInfo::currentCpuArchitecture() == QLatin1String("x86_64") ? 1 : 0));
    for (const ScreenFacts& screen : display.screens) {
        if (!screen.primary)
            continue;
        logMetric(QStringLiteral("#rs:%1x%2").arg(screen.geometry.width()).arg(screen.geometry.height()));
        logMetric(QStringLiteral("#scl:%1").arg(screen.effectiveDpi > 0 ? screen.effectiveDpi : 96));
        break;
    }
    logMetric(QStringLiteral("#dis:%1").arg(display.screens.size()));
    if (const qint64 memory = physicalMemoryMiB())
        logMetric(QStringLiteral("#sram:%1").arg(memory));
    logMetric(QStringLiteral("#laptop:%1").arg(laptopState()));
    logMetric(QStringLiteral("#tchd:%1").arg(display.integratedTouch ? 1 : 0));
    logMetric(QStringLiteral("#osid:%1").arg(osMachineId()));
    logMetric(QStringLiteral("#vdt:%1").arg(display.desktops));
}

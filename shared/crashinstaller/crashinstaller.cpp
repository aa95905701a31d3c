#include "crashinstaller.h"

#include "crashhandler.h"
#include "kellogger/kellogger.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>

namespace {

std::string encoded(const QString& text) { return QFile::encodeName(text).toStdString(); }

// The manifest has one line per file with tab-separated fields.
std::string oneField(QString text)
{
    text.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.toStdString();
}

QString reportHeader(const QString& appName, const QString& appVersion, const QString& uploadUrl)
{
    QString header = QStringLiteral("Application: ") + appName + QLatin1Char('\n');
    header += QStringLiteral("Version: ") + appVersion + QLatin1Char('\n');
    header += QStringLiteral("Qt version: ") + QLatin1String(qVersion()) + QLatin1Char('\n');
    header
        += QStringLiteral("Executable: ") + QFile::symLinkTarget(QStringLiteral("/proc/self/exe")) + QLatin1Char('\n');
    if (!uploadUrl.isEmpty())
        header += QStringLiteral("Upload address: ") + uploadUrl + QLatin1Char('\n');
    return header;
}

} // namespace

CrashInstaller::CrashInstaller(const QString& appName, const QString& appVersion, const QString& uploadUrl)
    : m_header(reportHeader(appName, appVersion, uploadUrl))
    , m_reportFolder(KelLogger::logDir() + QStringLiteral("/crashes"))
{
    // Made now: the handler cannot make parent folders.
    if (!QDir().mkpath(m_reportFolder)) {
        qCritical().noquote() << "Could not start crash reporter."
                              << "Can't create" << m_reportFolder;
        return;
    }
    QString error;
    if (!crashhandler::install(&error)) {
        qCritical().noquote() << "Could not start crash reporter." << error;
        return;
    }
    m_installed = true;
    publishPlan();
}

CrashInstaller::~CrashInstaller()
{
    qDebug() << Q_FUNC_INFO;
    if (m_installed)
        crashhandler::uninstall();
}

void CrashInstaller::addFile(const QString& path, const QString& description)
{
    m_files[path] = description;
    publishPlan();
}

void CrashInstaller::addLogFiles(const QString& folder, const QString& pattern, int maxCount)
{
    m_logFolder = folder;
    m_logFileLimit = maxCount;
    m_logNamePatterns.append(pattern);
    publishPlan();
}

void CrashInstaller::publishPlan()
{
    // Without a handler nothing is attached.
    if (!m_installed)
        return;
    auto plan = std::make_unique<crashhandler::Plan>();
    plan->reportRoot = encoded(m_reportFolder);
    plan->header = m_header.toStdString();
    plan->utcOffsetSeconds = QDateTime::currentDateTime().offsetFromUtc();
    if (!m_logFolder.isEmpty()) {
        plan->logFolder = encoded(m_logFolder);
        for (const QString& pattern : qAsConst(m_logNamePatterns))
            plan->logPatterns.push_back(encoded(pattern));
        plan->logLimit = m_logFileLimit;
    }
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it)
        plan->files.push_back({ encoded(it.key()), oneField(it.value()) });
    plan->screenshot = m_screenshot;
    crashhandler::publish(plan.get());
    m_plans.push_back(std::move(plan));
}

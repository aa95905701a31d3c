#include "logcapture.h"

#include <QtGlobal>

namespace {

QMutex mutex;
QStringList captured;
QtMessageHandler previous = nullptr;

void collect(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    static const char* const levels[] = { "debug", "warning", "critical", "fatal", "info" };
    QMutexLocker lock(&mutex);
    captured.append(QLatin1String(levels[type]) + QStringLiteral(": ") + message);
}

} // namespace

LogCapture::LogCapture()
{
    QMutexLocker lock(&mutex);
    captured.clear();
    previous = qInstallMessageHandler(collect);
}

LogCapture::~LogCapture() { qInstallMessageHandler(previous); }

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&mutex);
    return captured;
}

QStringList LogCapture::criticalLines() const
{
    QStringList result;
    for (const QString& line : lines()) {
        if (line.startsWith(QLatin1String("critical: ")))
            result.append(line);
    }
    return result;
}

bool LogCapture::contains(const QString& text) const { return !lines().filter(text).isEmpty(); }

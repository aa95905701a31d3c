#include "messagerecorder.h"

#include "kellogger/kellogger.h"
#include "metrics/metricsender.h"

#include <QMutex>

#include <atomic>

namespace {

QMutex s_mutex;
QStringList s_messages;
std::atomic<bool> s_forward { false };

void record(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    {
        QMutexLocker lock(&s_mutex);
        s_messages.append(message);
    }
    if (s_forward)
        KelLogger::messageHandler(type, context, message);
}

} // namespace

namespace messagerecorder {

void installChain()
{
    qInstallMessageHandler(&record);
    MetricSender::installMessageHandler();
}

void clear()
{
    QMutexLocker lock(&s_mutex);
    s_messages.clear();
}

QStringList messages()
{
    QMutexLocker lock(&s_mutex);
    return s_messages;
}

bool contains(const QString& prefix)
{
    for (const QString& message : messages()) {
        if (message.startsWith(prefix))
            return true;
    }
    return false;
}

void setForwardToLog(bool on) { s_forward = on; }

}

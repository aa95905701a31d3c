#include "loggerscenarios.h"

#include "kellogger/kellogger.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <sys/resource.h>
#include <thread>

namespace {

// Every level, with a depth marker sent at the lowest one: it counts only when that level is
// not dropped.
void logLevels()
{
    qDebug("debug line");
    qDebug(">");
    qInfo("info line");
    qWarning("warning line");
    qCritical("critical line");
    qDebug("<");
}

// Slots that log: one outside the log (after a new file was opened), one inside it (while a
// message is being forwarded). Then the application object goes away with its post-routine,
// and late messages must still reach stderr.
void logAroundExit()
{
    KelLogger* log = KelLogger::instance();
    QObject::connect(log, &KelLogger::logFileNameChanged,
        [](const QString& path) { qInfo("opened %s", qPrintable(QFileInfo(path).fileName())); });
    log->setForwardMessages(true);
    QObject::connect(log, &KelLogger::messageReceived, [](const KelLogger::MsgInfo& info) {
        if (info.message == QLatin1String("ping"))
            qWarning("echo from slot");
    });
    qWarning("ping");
}

} // namespace

int runLoggerScenario(const QByteArray& name, int argc, char** argv)
{
    qInstallMessageHandler(KelLogger::messageHandler);
    KelLogger::setAppDirName(testAppDirName());
    {
        QCoreApplication app(argc, argv);
        if (name == "levels") {
            logLevels();
        } else if (name == "fatal") {
            const rlimit noCore {}; // the abort is expected: no core file
            setrlimit(RLIMIT_CORE, &noCore);
            qInfo("before fatal");
            qFatal("fatal line");
        } else if (name == "exit") {
            logAroundExit();
        } else {
            return 2;
        }
    }
    qWarning("after exit");
    std::thread([] { qWarning("after exit from a thread"); }).join();
    return 0;
}

// Start-up against the speech service: the real application in a temporary HOME (offscreen) built
// up to its main window, then the speech engine asked for as the settings page or Read Aloud asks
// for it, with the service hung (a socket that accepts and never answers), missing (no socket) and
// healthy (speech-dispatcher started into the temporary runtime folder). Each run is a child
// process of its own, as each start is. A 16 ms timer measures how late the GUI thread answers
// while the engine is made.
// Usage: bench_speechstartup [runs per case, default 3]

#include "application.h"
#include "settingsprovider.h"
#include "speechservice.h"
#include "temphome.h"
#include "ui.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QProcess>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QUuid>

#include <algorithm>

namespace {

// One start in this process: prints "<main window ms> <engine ms> <longest GUI stall ms> <status>".
int runOnce(int argc, char** argv, const QString& mode)
{
    QElapsedTimer clock;
    clock.start();
    TempHome home;
    const QString runtime = QDir(qEnvironmentVariable("HOME")).filePath(QStringLiteral("run"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (mode == QLatin1String("missing"))
        qputenv("SPEECHD_ADDRESS", QFile::encodeName(QStringLiteral("unix_socket:") + runtime + "/none.sock"));
    Application app(QUuid::createUuid().toString(), argc, argv);
    QLocalServer hung;
    if (mode == QLatin1String("hung")) {
        hung.listen(runtime + QStringLiteral("/hung.sock"));
        qputenv("SPEECHD_ADDRESS", QFile::encodeName(QStringLiteral("unix_socket:") + hung.fullServerName()));
    }
    registerSettingsMetaTypes();
    app.setSettings(new SettingsProvider(
        KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat, &app));
    Ui::instance()->setMessageBoxHandler([](KelMessageBoxRequest&) { return 1; });
    app.init();
    Ui::instance()->mainWindow()->show();
    if (!QTest::qWaitForWindowExposed(Ui::instance()->mainWindow()))
        qWarning() << "The main window was not exposed";
    const qint64 windowMs = clock.elapsed();

    qint64 stall = 0;
    QElapsedTimer tick;
    tick.start();
    QTimer timer;
    timer.setInterval(16);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        stall = std::max(stall, tick.restart() - 16);
    });
    timer.start();
    QElapsedTimer engineClock;
    engineClock.start();
    app.initTts();
    SpeechService* speech = app.speechService();
    while (speech->status() == SpeechService::Status::Connecting && engineClock.elapsed() < 30000)
        QTest::qWait(5);
    const qint64 engineMs = engineClock.elapsed();
    QTest::qWait(50);
    timer.stop();
    const QString status = speech->status() == SpeechService::Status::Ready ? QStringLiteral("ready")
                                                                            : QStringLiteral("unavailable");
    QTextStream(stdout) << windowMs << ' ' << engineMs << ' ' << stall << ' ' << status << Qt::endl;
    return 0;
}

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && QByteArray(argv[1]) == "--once")
        return runOnce(1, argv, QString::fromLatin1(argv[2]));
    const int runs = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 3;
    QTextStream out(stdout);
    out << "case       window ms  engine ms  GUI stall ms  engine (medians of " << runs << " runs)" << Qt::endl;
    for (const char* mode : { "hung", "missing", "healthy" }) {
        QList<qint64> window, engine, stall;
        QString status;
        for (int i = 0; i < runs; ++i) {
            QProcess child;
            child.setProcessChannelMode(QProcess::SeparateChannels);
            child.start(QString::fromLocal8Bit(argv[0]), { QStringLiteral("--once"), QLatin1String(mode) });
            if (!child.waitForFinished(120000)) {
                child.kill();
                out << mode << ": a run did not end" << Qt::endl;
                continue;
            }
            const QStringList fields = QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed().split(' ');
            if (fields.size() < 4)
                continue;
            window << fields.at(0).toLongLong();
            engine << fields.at(1).toLongLong();
            stall << fields.at(2).toLongLong();
            status = fields.at(3);
        }
        out << QString::fromLatin1(mode).leftJustified(10) << QString::number(median(window)).rightJustified(10)
            << QString::number(median(engine)).rightJustified(11) << QString::number(median(stall)).rightJustified(14)
            << "  " << status << Qt::endl;
    }
    return 0;
}

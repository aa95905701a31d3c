#include "programdriver.h"

#include "testfiles.h"
#include "testpaths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace programdriver {

const char* const kAppName = "Brindle Folvane";

QProcessEnvironment environment(const QTemporaryDir& home)
{
    QDir(home.path()).mkpath(QStringLiteral("run"));
    QFile::setPermissions(
        home.filePath(QStringLiteral("run")), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    for (const char* name : { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "QT_SCALE_FACTOR" })
        env.remove(QString::fromLatin1(name));
    return env;
}

bool start(QProcess& process, const QProcessEnvironment& env, const QStringList& args, const QString& workDir)
{
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    process.start(QDir(testpaths::binDir()).filePath(QStringLiteral("pageloom")), args);
    if (process.waitForStarted(10000))
        return true;
    qWarning() << "pageloom did not start:" << process.errorString();
    return false;
}

QString xdotool(const QStringList& args, int timeoutMs)
{
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), args);
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished(1000);
        return QString();
    }
    return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
}

bool terminate(QProcess& process)
{
    ::kill(pid_t(process.processId()), SIGTERM);
    return process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QStringList visibleWindows(qint64 pid)
{
    return xdotool(
        { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(pid) })
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString waitForWindow(qint64 pid, const QString& title, int timeoutMs)
{
    QString window;
    waitUntil(
        [&] {
            for (const QString& id : visibleWindows(pid)) {
                if (xdotool({ QStringLiteral("getwindowname"), id }) == title)
                    window = id;
            }
            return !window.isEmpty();
        },
        timeoutMs);
    return window;
}

QString launch(QProcess& process, const QProcessEnvironment& env, const QStringList& args)
{
    return start(process, env, args) ? waitForWindow(process.processId()) : QString();
}

QImage grab(const QString& windowId)
{
    return QGuiApplication::primaryScreen()->grabWindow(WId(windowId.toULongLong())).toImage();
}

QImage grabScreen() { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); }

double brightness(const QImage& image)
{
    double sum = 0;
    int count = 0;
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4) {
            sum += qGray(image.pixel(x, y));
            ++count;
        }
    }
    return count ? sum / count : 0;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(100);
    }
    return true;
}

bool retryUntil(const std::function<void()>& action, const std::function<bool()>& condition, int tries)
{
    for (int attempt = 0; attempt < tries; ++attempt) {
        action();
        if (waitUntil(condition, 3000))
            return true;
    }
    return false;
}

QString logs(const QString& home)
{
    const QDir dir(QDir(home).filePath(QStringLiteral(".%1/log").arg(QLatin1String(kAppName))));
    QString text;
    for (const QFileInfo& info : dir.entryInfoList({ QStringLiteral("pageloom*.txt") }, QDir::Files))
        text += QString::fromUtf8(testfiles::read(info.absoluteFilePath()));
    return text;
}

QString settingsFile(const QString& home)
{
    return QDir(home).filePath(QStringLiteral(".config/Brindle/%1/settings.ini").arg(QLatin1String(kAppName)));
}

QList<QVariantList> queryLibrary(const QString& home, const QString& sql, const QVariantList& values)
{
    const QString connection = QStringLiteral("programdriver-library");
    QList<QVariantList> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(QDir(home).filePath(QStringLiteral(".%1/data/ebooklib.sqlite3").arg(kAppName)));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000"));
        if (db.open()) {
            QSqlQuery query(db);
            query.prepare(sql);
            for (const QVariant& value : values)
                query.addBindValue(value);
            if (query.exec()) {
                while (query.next()) {
                    QVariantList row;
                    for (int i = 0; i < query.record().count(); ++i)
                        row << query.value(i);
                    rows << row;
                }
            }
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return rows;
}

}

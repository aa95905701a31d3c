#include "crashinstaller/crashhandler.h"
#include "crashinstaller/crashinstaller.h"
#include "kellogger/kellogger.h"
#include "temphome.h"
#include "testfiles.h"
#include "textrows.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

namespace {

const QString kAppDir = QStringLiteral("Pl Crash Test");

QString logDir() { return QDir::homePath() + QStringLiteral("/.") + kAppDir + QStringLiteral("/log"); }

void writeFile(const QString& path, const QByteArray& content, const QDateTime& modified = QDateTime())
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    QVERIFY(file.flush());
    if (modified.isValid())
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
}

// One run of the crashing child; a child that hangs is killed with the object.
struct CrashRun : QProcess {
    CrashRun(const QString& mode, bool forbidAllocation)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment(); // HOME is the test's
        if (forbidAllocation)
            env.insert(QStringLiteral("PL_CRASH_FORBID_MALLOC"), QStringLiteral("1"));
        setProcessEnvironment(env);
        start(QCoreApplication::applicationDirPath() + QStringLiteral("/crashchild"), { mode });
        pid = waitForStarted(10000) ? processId() : 0;
        waitForFinished(30000);
        errorOutput = QString::fromUtf8(readAllStandardError());
    }

    qint64 pid = 0;
    QString errorOutput;
};

// The log folder as a crash finds it: 15 older logs of the program, files that must not be
// attached, and an attached name that is a FIFO.
QStringList prepareLogFolder()
{
    QDir().mkpath(logDir());
    const QDateTime now = QDateTime::currentDateTime();
    QStringList expectedOld;
    for (int i = 0; i < 15; ++i) {
        const QString name = QStringLiteral("crashchild_2020-01-01_00_00_%1.txt").arg(i, 2, 10, QLatin1Char('0'));
        writeFile(
            logDir() + QLatin1Char('/') + name, "old log " + QByteArray::number(i) + '\n', now.addSecs(-3600 + i * 60));
        if (i >= 6) // the 9 newest; the run's own log makes 10
            expectedOld.append(name);
    }
    writeFile(logDir() + QStringLiteral("/other.txt"), "not a log of this program\n", now.addSecs(-10));
    QDir(logDir()).mkdir(QStringLiteral("crashchild_folder.txt"));
    writeFile(QDir::home().filePath(QStringLiteral("secret.txt")), "private\n");
    QFile::link(
        QDir::home().filePath(QStringLiteral("secret.txt")), logDir() + QStringLiteral("/crashchild_zlink.txt"));
    writeFile(QDir::home().filePath(QStringLiteral("settings.ini")), "[General]\nkey=value\n");
    ::mkfifo(QFile::encodeName(QDir::home().filePath(QStringLiteral("pipe"))).constData(), 0600);
    return expectedOld;
}

// files.txt: description -> (name in the report, source path, remark)
QMap<QString, QList<QStringList>> readManifest(const QString& path)
{
    QMap<QString, QList<QStringList>> entries;
    const QList<QByteArray> lines = testfiles::read(path).split('\n');
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        QStringList fields = QString::fromUtf8(line).split(QLatin1Char('\t'));
        const QString description = fields.takeFirst();
        entries[description].append(fields);
    }
    return entries;
}

} // namespace

class TestCrashInstaller : public QObject {
    Q_OBJECT

private slots:
    void crashWritesReport_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("function");
        QTest::addColumn<bool>("forbidAllocation");
        QTest::newRow("null write") << "null-write" << SIGSEGV << "crashByNullWrite" << true;
        // A call that does not return leaves no frame of its caller that names it; abort() shows.
        QTest::newRow("abort") << "abort" << SIGABRT << "(abort+" << true;
        QTest::newRow("stack overflow") << "stack-overflow" << SIGSEGV << "crashByStackOverflow" << true;
        QTest::newRow("bus error") << "bus-error" << SIGBUS << "crashByBusError" << true;
        QTest::newRow("other thread") << "thread" << SIGSEGV << "crashByNullWrite" << true;
        // The fatal message allocates before it aborts.
        QTest::newRow("fatal message") << "fatal-message" << SIGABRT << "(abort+" << false;
    }

    void crashWritesReport()
    {
        QFETCH(QString, mode);
        QFETCH(int, signal);
        QFETCH(QString, function);
        QFETCH(bool, forbidAllocation);
        TempHome home;
        const QStringList expectedOld = prepareLogFolder();

        const CrashRun run(mode, forbidAllocation);
        // Ended by the signal itself (an allocation in the handler exits with 99).
        QVERIFY2(run.exitStatus() == QProcess::CrashExit && run.exitCode() == signal, qPrintable(run.errorOutput));
        QVERIFY2(run.errorOutput.contains(QLatin1String("Crash report written to")), qPrintable(run.errorOutput));

        const QStringList folders = QDir(logDir() + "/crashes").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(folders.size(), 1);
        QVERIFY2(folders.first().endsWith('-' + QString::number(run.pid)), qPrintable(folders.first()));
        const QString report = logDir() + QStringLiteral("/crashes/") + folders.first();

        const QString summary = QString::fromUtf8(testfiles::read(report + QStringLiteral("/crash.txt")));
        QVERIFY2(summary.contains(QStringLiteral("\nSignal: %1 (").arg(signal)), qPrintable(summary));
        QVERIFY(summary.contains(QStringLiteral("\nProcess id: %1\n").arg(run.pid)));
        const QString backtrace = summary.mid(summary.indexOf(QLatin1String("\nBacktrace:\n")));
        QVERIFY2(backtrace.count(QLatin1String("[0x")) >= 3, qPrintable(summary));
        QVERIFY2(backtrace.contains(function), qPrintable(summary));

        const QMap<QString, QList<QStringList>> manifest = readManifest(report + QStringLiteral("/files.txt"));
        QCOMPARE(manifest.keys(), QStringList({ "Configuration File", "DirectX diagnostic File", "Log file", "Pipe" }));
        // The 10 newest logs of the program: the run's own and 9 older ones.
        const QList<QStringList> logs = manifest.value(QStringLiteral("Log file"));
        QCOMPARE(logs.size(), 10);
        QStringList copiedNames;
        for (const QStringList& log : logs) {
            QCOMPARE(log.size(), 2);
            QCOMPARE(log.at(1), logDir() + QLatin1Char('/') + log.at(0));
            QCOMPARE(testfiles::read(report + QLatin1Char('/') + log.at(0)), testfiles::read(log.at(1)));
            copiedNames.append(log.at(0));
        }
        const QString runLog = copiedNames.takeFirst(); // newest first
        QVERIFY2(runLog.startsWith(QLatin1String("crashchild_2")) && !expectedOld.contains(runLog), qPrintable(runLog));
        QVERIFY(testfiles::read(report + QLatin1Char('/') + runLog).contains("about to crash: " + mode.toUtf8()));
        std::reverse(copiedNames.begin(), copiedNames.end());
        QCOMPARE(copiedNames, expectedOld);

        // The settings file added twice is attached once, with the last description.
        const QString settings = QDir::home().filePath(QStringLiteral("settings.ini"));
        QCOMPARE(manifest.value(QStringLiteral("Configuration File")),
            QList<QStringList>({ { QStringLiteral("settings.ini"), settings } }));
        QCOMPARE(testfiles::read(report + QStringLiteral("/settings.ini")), QByteArray("[General]\nkey=value\n"));
        QCOMPARE(manifest.value(QStringLiteral("DirectX diagnostic File")),
            QList<QStringList>({ { QStringLiteral("-"), logDir() + QStringLiteral("/dxdiag.txt"), "missing" } }));
        QCOMPARE(manifest.value(QStringLiteral("Pipe")),
            QList<QStringList>(
                { { QStringLiteral("-"), QDir::home().filePath(QStringLiteral("pipe")), "not a regular file" } }));

        // Nothing else: no link, folder or other program's file.
        QStringList expectedFiles = QStringList { "crash.txt", "files.txt", "settings.ini", runLog } + expectedOld;
        QStringList files = QDir(report).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        expectedFiles.sort();
        files.sort();
        QCOMPARE(files, expectedFiles);
    }

    void oneHandlerAtATimeAndPreviousRestored()
    {
        TempHome home;
        struct sigaction before = {};
        QCOMPARE(::sigaction(SIGSEGV, nullptr, &before), 0);
        {
            CrashInstaller first(kAppDir, QStringLiteral("1"), QString());
            QVERIFY(first.isInstalled());
            QCOMPARE(first.reportFolder(), logDir() + QStringLiteral("/crashes"));
            QVERIFY(QFileInfo(first.reportFolder()).isDir());
            struct sigaction during = {};
            QCOMPARE(::sigaction(SIGSEGV, nullptr, &during), 0);
            QVERIFY(during.sa_sigaction != before.sa_sigaction);
            QVERIFY(during.sa_flags & SA_ONSTACK);

            CrashInstaller second(kAppDir, QStringLiteral("1"), QString());
            QVERIFY(!second.isInstalled());
            second.addFile(QStringLiteral("/tmp/x"), QStringLiteral("ignored")); // usable all the same
        }
        struct sigaction after = {};
        QCOMPARE(::sigaction(SIGSEGV, nullptr, &after), 0);
        QVERIFY(after.sa_sigaction == before.sa_sigaction);
        QCOMPARE(after.sa_flags, before.sa_flags);
        // Free again for the next one.
        CrashInstaller again(kAppDir, QStringLiteral("1"), QString());
        QVERIFY(again.isInstalled());
    }

    void namePatterns_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("matches");
        addTextRows({
            { "empty star", "pageloom.txt", "pageloom*.txt", "yes" },
            { "wrong suffix", "pageloom_2024.txt.bak", "pageloom*.txt", "no" },
            { "case matters", "PageLoom_1.txt", "pageloom*.txt", "no" },
            { "star needs backtracking", "a.txt.txt", "*.txt", "yes" },
            { "question mark", "log1.txt", "log?.txt", "yes" },
            { "question mark needs one", "log.txt", "log?.txt", "no" },
            { "two stars", "abcXdefYghi", "a*X*Y*i", "yes" },
        });
    }

    void namePatterns()
    {
        QFETCH(QString, name);
        QFETCH(QString, pattern);
        QFETCH(QString, matches);
        QCOMPARE(crashhandler::matchesPattern(name.toUtf8().constData(), pattern.toUtf8().constData()),
            matches == QLatin1String("yes"));
    }
};

int main(int argc, char** argv)
{
    KelLogger::setAppDirName(kAppDir);
    QCoreApplication app(argc, argv);
    TestCrashInstaller test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crashinstaller.moc"

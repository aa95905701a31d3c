#include "kellogger/kellogger.h"
#include "temphome.h"
#include "testfiles.h"
#include "textrows.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

// Scenarios that need a process of their own (the logging rules are read once, a fatal message
// ends the process, the post-routine runs when the application object goes away): the test runs
// its own executable again with the scenario's name in this variable.
constexpr const char* kScenarioVariable = "PL_LOGGER_SCENARIO";
const QString kAppDirName = QStringLiteral("Pl Logger Test");

// One line of the log read back.
struct LogLine {
    QTime time;
    QChar tag; // D, I, W, ! or x
    QString threadField; // as written: the id right-justified to at least 5 characters
    qint64 threadId = 0;
    QString functionField; // the whole column as written (padded or cut)
    int indent = 0;
    QString message; // without the indentation
};

bool parseLogLine(const QString& text, bool withFunction, LogLine* line)
{
    static const QRegularExpression withColumn(
        QStringLiteral("^(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d): \\(([DIW!x])\\) ( *\\d+): (.{40}): ( *)(.*)$"));
    static const QRegularExpression withoutColumn(
        QStringLiteral("^(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d): \\(([DIW!x])\\) ( *\\d+): ( *)(.*)$"));
    const QRegularExpressionMatch match = (withFunction ? withColumn : withoutColumn).match(text);
    if (!match.hasMatch() || match.captured(3).size() < 5)
        return false;
    int group = 1;
    line->time = QTime::fromString(match.captured(group++), QStringLiteral("hh:mm:ss.zzz"));
    line->tag = match.captured(group++).at(0);
    line->threadField = match.captured(group++);
    line->threadId = line->threadField.trimmed().toLongLong();
    line->functionField = withFunction ? match.captured(group++) : QString();
    line->indent = match.captured(group++).size();
    line->message = match.captured(group++);
    return line->time.isValid();
}

QStringList readLogLines(const QString& path)
{
    QStringList lines = QString::fromUtf8(testfiles::read(path)).split(QLatin1Char('\n'));
    lines.removeLast(); // after the last line end
    return lines;
}

QString onlyFileIn(const QString& dir)
{
    const QFileInfoList files = QDir(dir).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    return files.size() == 1 ? files.first().absoluteFilePath() : QString();
}

// Slots that log, outside the log (a new file opened) and inside it (a message forwarded).
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

int runLoggerScenario(const QByteArray& name, int argc, char** argv)
{
    qInstallMessageHandler(KelLogger::messageHandler);
    KelLogger::setAppDirName(kAppDirName);
    {
        QCoreApplication app(argc, argv);
        if (name == "levels") {
            // A depth marker sent at the lowest level counts only when that level is kept.
            qDebug("debug line");
            qDebug(">");
            qInfo("info line");
            qWarning("warning line");
            qCritical("critical line");
            qDebug("<");
        } else if (name == "exit") {
            logAroundExit();
        }
    }
    qWarning("after exit");
    std::thread([] { qWarning("after exit from a thread"); }).join();
    return 0;
}

QString padded(const QString& function) { return function.leftJustified(40, QLatin1Char(' '), true); }

void touch(const QString& path, const QDateTime& modified)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("old run\n");
    QVERIFY(file.flush()); // a later flush would set the time again
    QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
}

// "indent message" per line of the file (with a function column).
QStringList indented(const QString& path)
{
    QStringList out;
    for (const QString& text : readLogLines(path)) {
        LogLine line;
        out << (parseLogLine(text, true, &line) ? QString::number(line.indent) + ' ' + line.message : "? " + text);
    }
    return out;
}

// Runs this executable again for the scenario: its stderr, or a note when it did not end with 0.
QString runScenario(const QByteArray& scenario, const QString& loggingRules = QString())
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment(); // HOME is the test's
    env.insert(QString::fromLatin1(kScenarioVariable), QString::fromLatin1(scenario));
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    if (!loggingRules.isNull())
        env.insert(QStringLiteral("QT_LOGGING_RULES"), loggingRules);
    QProcess child;
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(QDir::homePath());
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    if (!child.waitForFinished(30000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return QStringLiteral("<scenario failed>");
    return QString::fromUtf8(child.readAllStandardError());
}

} // namespace

class TestKelLogger : public QObject {
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;

    QString logDir() const { return m_home->path() + QLatin1String("/.") + kAppDirName + QLatin1String("/log"); }

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationVersion(QStringLiteral("7.1"));
        KelLogger::setAppDirName(kAppDirName);
        qInstallMessageHandler(KelLogger::messageHandler);
    }

    void init()
    {
        m_home = std::make_unique<TempHome>();
        QVERIFY(m_home->isValid());
        KelLogger::instance()->resetForTesting();
    }

    void cleanup()
    {
        KelLogger::instance()->resetForTesting();
        m_home.reset();
    }

    void cleanFunctionName_data()
    {
        QTest::addColumn<QString>("signature");
        QTest::addColumn<QString>("expected");

        addTextRows({
            { "member", "void KelLogger::beginLogSession(const QString&)", "KelLogger::beginLogSession()" },
            { "lambda", "Class::method()::<lambda(int)>", "Class::method::lambda()" },
            { "lambda in lambda in template",
                "Foo::bar<std::__cxx11::basic_string<char> "
                ">(std::__cxx11::basic_string<char>)::<lambda(int)>::<lambda()>",
                "Foo::bar::lambda()" },
            { "lambda at namespace scope", "<lambda(int)>", "lambda()" },
            { "template", "void Foo::bar(T) [with T = QString]", "Foo::bar()" },
            { "spaces in template arguments", "QMap<QString, int> Foo<A, B>::m(QList<QPair<int, int> >)",
                "Foo<A, B>::m()" },
            { "call operator", "int Foo::operator()(int) const", "Foo::operator()()" },
            { "less operator", "bool Foo::operator<(const Foo&) const", "Foo::operator<()" },
            { "shift operator", "Foo& Foo::operator<<(int)", "Foo::operator<<()" },
            { "arrow operator", "Foo* Foo::operator->()", "Foo::operator->()" },
            { "conversion operator", "Foo::operator std::string() const", "Foo::operator std::string()" },
            { "free operator", "bool operator==(const A&, const B&)", "operator==()" },
            { "returns function pointer", "static int (* Foo::get())(int)", "Foo::get()" },
            { "returns member function pointer", "int (Foo::* Foo::pm())(int) const", "Foo::pm()" },
            { "returns array reference", "int (& Foo::arr())[3]", "Foo::arr()" },
            { "anonymous namespace", "void {anonymous}::helper(int)", "{anonymous}::helper()" },
            { "local class", "void main(int, char**)::Local::run()", "main::Local::run()" },
            { "abi tag", "std::string Foo::name[abi:cxx11]() const", "Foo::name()" },
            { "plain name stays", "Application::init", "Application::init" },
            { "scope tracer hidden", "TraceLogger::TraceLogger(const char*, const QString&)", nullptr },
            { "empty", nullptr, nullptr },
        });
    }

    void cleanFunctionName()
    {
        QFETCH(QString, signature);
        QFETCH(QString, expected);
        QCOMPARE(KelLogger::cleanFunctionName(signature), expected);
    }

    // Each line whole, with its thread's kernel id, level tag and function; a fatal line adds its own line.
    void linesFromSeveralThreads()
    {
        const int threadCount = 4;
        const int rounds = 25;
        qint64 ids[threadCount] = {};
        const QTime start = QTime::currentTime();
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back([t, &ids] {
                ids[t] = static_cast<qint64>(::syscall(SYS_gettid)); // the kernel id
                for (int i = 0; i < rounds; ++i) {
                    qDebug("debug %d %d", t, i);
                    qInfo("info %d %d", t, i);
                    qWarning("warning %d %d", t, i);
                    qCritical("critical %d %d", t, i);
                }
                const QMessageLogContext context(__FILE__, __LINE__, Q_FUNC_INFO, "default");
                KelLogger::messageHandler(QtFatalMsg, context, QStringLiteral("fatal %1 0").arg(t));
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        const QTime end = QTime::currentTime();

        const QStringList texts = readLogLines(onlyFileIn(logDir()));
        QCOMPARE(texts.size(), threadCount * (rounds * 3 + 2));
        const QHash<QString, QChar> tags { { "info", 'I' }, { "warning", 'W' }, { "critical", '!' }, { "fatal", 'x' } };
        QSet<QString> seen;
        for (int n = 0; n < texts.size(); ++n) {
            if (texts.at(n) == QLatin1String("Application terminated.")) {
                QVERIFY2(n > 0 && texts.at(n - 1).contains(QLatin1String(" (x) ")), qPrintable(texts.at(n - 1)));
                continue;
            }
            LogLine line;
            QVERIFY2(parseLogLine(texts.at(n), true, &line), qPrintable(texts.at(n)));
            const QStringList words = line.message.split(QLatin1Char(' '));
            QCOMPARE(words.size(), 3);
            QCOMPARE(line.tag, tags.value(words.at(0)));
            QCOMPARE(line.threadId, ids[words.at(1).toInt()]);
            QCOMPARE(line.threadField, QString::number(line.threadId).rightJustified(5, QLatin1Char(' ')));
            QCOMPARE(line.functionField, padded(QStringLiteral("TestKelLogger::linesFromSeveralThreads::lambda()")));
            QCOMPARE(line.indent, 0);
            if (start < end)
                QVERIFY(line.time >= start.addMSecs(-1) && line.time <= end.addMSecs(1));
            QVERIFY2(!seen.contains(line.message), qPrintable(line.message));
            seen.insert(line.message);
        }
    }

    void functionColumn()
    {
        QMessageLogger(nullptr, 0, nullptr).info("no function");
        QMessageLogger("a.cpp", 1, "void Namespace21Characters::Class17Characters::method(int) const").info("long");
        QMessageLogger("a.cpp", 3, "void TraceLogger::log()").info("hidden name");

        const QStringList texts = readLogLines(onlyFileIn(logDir()));
        QCOMPARE(texts.size(), 3);
        LogLine line;
        QVERIFY(parseLogLine(texts.at(0), false, &line));
        QCOMPARE(line.message, QStringLiteral("no function"));
        QCOMPARE(line.threadId, QCoreApplication::applicationPid()); // the main thread's kernel id
        QVERIFY(parseLogLine(texts.at(1), true, &line));
        QCOMPARE(line.functionField, QStringLiteral("Namespace21Characters::Class17Characters"));
        QVERIFY(parseLogLine(texts.at(2), true, &line));
        QCOMPARE(line.functionField, padded(QString()));
    }

    // Markers from several threads at once leave the one counter balanced.
    void depthMarkers()
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([] {
                for (int i = 0; i < 50000; ++i) {
                    qInfo(">");
                    qInfo("<");
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        qInfo(">");
        qInfo("one");
        qWarning(">");
        qInfo("two");
        qInfo("<");
        qInfo("<");
        qInfo("<"); // already at 0: stays there
        qInfo("zero");
        qCritical(">");
        qInfo("one again");
        qInfo("<");

        QCOMPARE(indented(onlyFileIn(logDir())), QStringList({ "2 one", "4 two", "0 zero", "2 one again" }));
    }

    void forwardedRecords()
    {
        KelLogger* log = KelLogger::instance();
        log->setForwardMessages(true);
        QList<KelLogger::MsgInfo> records;
        // The slot logs straight into the handler (past Qt's recursion guard): stderr only, not file or slot.
        const QMetaObject::Connection connection
            = connect(log, &KelLogger::messageReceived, [&records](const KelLogger::MsgInfo& info) {
                  records.append(info);
                  const QMessageLogContext context(__FILE__, __LINE__, Q_FUNC_INFO, "default");
                  KelLogger::messageHandler(QtWarningMsg, context, QStringLiteral("logged by the slot"));
              });
        const QDateTime before = QDateTime::currentDateTime();
        qInfo(">");
        qWarning("forwarded");
        qInfo("<");
        disconnect(connection);

        QCOMPARE(records.size(), 1);
        QCOMPARE(records.at(0).level, int(KelLogger::WarningLevel));
        QCOMPARE(records.at(0).threadId, QCoreApplication::applicationPid());
        QCOMPARE(records.at(0).function, QStringLiteral("TestKelLogger::forwardedRecords()"));
        QCOMPARE(records.at(0).message, QStringLiteral("  forwarded"));
        QVERIFY(records.at(0).time >= before.addMSecs(-1) && records.at(0).time <= QDateTime::currentDateTime());
        const QStringList texts = readLogLines(onlyFileIn(logDir()));
        QCOMPARE(texts.size(), 1);
        QVERIFY(texts.at(0).endsWith(QLatin1String(":   forwarded")));
    }

    void fileNames()
    {
        KelLogger* log = KelLogger::instance();
        QSignalSpy opened(log, &KelLogger::logFileNameChanged);
        const QString prefix = QStringLiteral("tst_kellogger_");
        const QRegularExpression plain(
            '^' + prefix + QStringLiteral("(\\d{4}-\\d\\d-\\d\\d_\\d\\d_\\d\\d_\\d\\d)(-(\\d+))?\\.txt$"));

        qInfo("first");
        QCOMPARE(opened.size(), 1);
        const QString first = opened.at(0).at(0).toString();
        QCOMPARE(QFileInfo(first).absolutePath(), logDir());
        const QRegularExpressionMatch firstMatch = plain.match(QFileInfo(first).fileName());
        QVERIFY2(firstMatch.hasMatch() && firstMatch.captured(2).isEmpty(), qPrintable(first));

        // Taken names get "-1", "-2"...: the names of the next seconds are held too, whatever the clock.
        const QDateTime now = QDateTime::currentDateTime();
        QStringList stamps;
        for (int s = 0; s < 3; ++s) {
            const QString stamp = QLocale::c().toString(now.addSecs(s), QStringLiteral("yyyy-MM-dd_hh_mm_ss"));
            stamps.append(stamp);
            touch(logDir() + '/' + prefix + stamp + ".txt", now);
            touch(logDir() + '/' + prefix + stamp + "-1.txt", now);
        }
        log->resetForTesting();
        qInfo("second");
        QCOMPARE(opened.size(), 2);
        const QRegularExpressionMatch second = plain.match(QFileInfo(opened.at(1).at(0).toString()).fileName());
        QVERIFY(second.hasMatch());
        QVERIFY2(stamps.contains(second.captured(1)), qPrintable(second.captured(0)));
        QCOMPARE(second.captured(3), QStringLiteral("2"));
        QCOMPARE(readLogLines(opened.at(1).at(0).toString()).size(), 1);
    }

    // A file larger than the maximum is followed by a new one; one of exactly the maximum still takes the line.
    void rotation()
    {
        KelLogger* log = KelLogger::instance();
        QSignalSpy opened(log, &KelLogger::logFileNameChanged);
        qInfo("first");
        QCOMPARE(opened.size(), 1);
        const QString first = opened.at(0).at(0).toString();

        {
            QFile file(first);
            QVERIFY(file.open(QIODevice::Append));
            const qint64 missing = 524288 - file.size();
            QVERIFY(missing > 1);
            file.write(QByteArray(missing - 1, 'x') + '\n');
        }
        QCOMPARE(QFileInfo(first).size(), 524288);
        qInfo("at the limit");
        QCOMPARE(opened.size(), 1);
        QVERIFY(readLogLines(first).last().endsWith(QLatin1String(": at the limit")));

        qInfo("past the limit");
        QCOMPARE(opened.size(), 2);
        const QString second = opened.at(1).at(0).toString();
        QVERIFY(!readLogLines(first).last().contains(QLatin1String("past the limit")));
        const QStringList secondLines = readLogLines(second);
        QCOMPARE(secondLines.size(), 1);
        QVERIFY(secondLines.at(0).endsWith(QLatin1String(": past the limit")));
    }

    // At session start the oldest files (by time, any name) go until ten remain; the new one makes eleven.
    void sessionStartPrunesOldFiles()
    {
        const QString dir = KelLogger::logDir();
        // Names out of time order on purpose; some are not ".txt", one is hidden.
        const QStringList names { "m.txt", "a.txt", "crash.dmp", "y.txt", "c.log", ".hidden.txt", "B.TXT", "z.txt",
            "d.txt", "h.ini", "E.txt", "f.txt", "g.txt", "i.txt", "k.txt" };
        const QDateTime base(QDate(2021, 3, 1), QTime(12, 0));
        for (int i = 0; i < names.size(); ++i)
            touch(dir + '/' + names.at(i), base.addDays(i));
        touch(m_home->filePath(QStringLiteral("outside.txt")), base.addDays(-10));
        QVERIFY(QFile::link(m_home->filePath(QStringLiteral("outside.txt")), dir + QStringLiteral("/link.txt")));

        KelLogger* log = KelLogger::instance();
        QSignalSpy opened(log, &KelLogger::logFileNameChanged);
        QSignalSpy listed(log, &KelLogger::logFileNamesChanged);
        log->beginLogSession(QStringLiteral("1.0"));

        QCOMPARE(opened.size(), 1);
        const QString newFile = opened.at(0).at(0).toString();
        QStringList kept = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
        kept.sort();
        QStringList expected = names.mid(5) << QFileInfo(newFile).fileName() << QStringLiteral("link.txt");
        expected.sort();
        QCOMPARE(kept, expected);

        // The ".txt" files (any case), by name ignoring case, symbolic links left out.
        QStringList expectedList;
        for (const char* name : { ".hidden.txt", "B.TXT", "d.txt", "E.txt", "f.txt", "g.txt", "i.txt", "k.txt" })
            expectedList.append(dir + '/' + QLatin1String(name));
        expectedList << newFile << dir + QStringLiteral("/z.txt");
        QCOMPARE(listed.size(), 1);
        QCOMPARE(listed.at(0).at(0).toStringList(), expectedList);
    }

    void headerBlock()
    {
        KelLogger::ScreenInfo first;
        first.primary = true;
        first.devicePixelRatio = 1.5;
        first.logicalDpi = 96;
        first.physicalDpi = 120.5;
        first.geometry = QRect(0, 0, 1920, 1080);
        first.availableGeometry = QRect(0, 0, 1920, 1040);
        KelLogger::ScreenInfo second;
        second.geometry = second.availableGeometry = QRect(1920, -20, 1280, 1024);
        KelLogger::setDisplayInfoProvider([=] { return KelLogger::DisplayInfo { { first, second }, 2 }; });
        qputenv("QT_SCALE_FACTOR", "1.25");
        qputenv("QT_SCREEN_SCALE_FACTORS", "");
        KelLogger::instance()->beginLogSession(QStringLiteral("7.1.0-test"));
        qunsetenv("QT_SCALE_FACTOR");
        qunsetenv("QT_SCREEN_SCALE_FACTORS");
        KelLogger::setDisplayInfoProvider(nullptr);
        qInfo("after the header");

        const QStringList texts = readLogLines(onlyFileIn(logDir()));
        QCOMPARE(texts.mid(0, 4), QStringList({ "", "", QString(60, '-'), "Application started" }));
        QStringList messages;
        for (const QString& text : texts.mid(4, texts.size() - 5)) {
            LogLine line;
            QVERIFY2(text.isEmpty() || parseLogLine(text, false, &line), qPrintable(text));
            messages.append(line.message);
        }
        // The values worked out from the version, the environment and the screens.
        for (const QString& expected :
            { QStringLiteral("DisplayVersion: \"7.1\""), QStringLiteral("Overrided QT_SCALE_FACTOR found: \"1.25\""),
                QStringLiteral("Qt Screen 0: primary, winScale: 150%, pixelRatio: 1.5, logDpi: 96, phyDpi: 120.5, "
                               "log/phy: 80%, geometry: {x:0, y:0, w: 1920, h: 1080}, available: {x:0, y:0, w: 1920, "
                               "h: 1040}"),
                QStringLiteral("Qt Screen 1: winScale: 100%, pixelRatio: 1, logDpi: 96, phyDpi: 96, log/phy: 100%, "
                               "geometry: {x:1920, y:-20, w: 1280, h: 1024}"),
                QStringLiteral("Touch devices: 2") })
            QVERIFY2(messages.contains(expected), qPrintable(expected));
        LogLine after;
        QVERIFY2(parseLogLine(texts.last(), true, &after), qPrintable(texts.last()));
        QCOMPARE(after.functionField, padded(QStringLiteral("TestKelLogger::headerBlock()")));
        QCOMPARE(after.message, QStringLiteral("after the header"));
    }

    // The lowest level and its depth markers are dropped unless QT_LOGGING_RULES was set at start.
    void loggingRules_data()
    {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<bool>("debugKept");
        QTest::newRow("unset") << QString() << false;
        QTest::newRow("set empty") << QStringLiteral("") << true;
    }

    void loggingRules()
    {
        QFETCH(QString, rules);
        QFETCH(bool, debugKept);
        const QString errors = runScenario("levels", rules);
        QVERIFY2(!errors.startsWith('<'), qPrintable(errors));
        const QString in = debugKept ? "2 " : "0 ";
        const QStringList kept { in + "info line", in + "warning line", in + "critical line" };
        QCOMPARE(indented(onlyFileIn(logDir())), debugKept ? QStringList("0 debug line") + kept : kept);
        QCOMPARE(errors.contains(QLatin1String(" (D) ")), debugKept);
    }

    // Slots that log inside the handler neither deadlock nor recurse (stderr only); after the
    // application object is gone the file is closed and the stderr copy goes on.
    void slotsAndExit()
    {
        const QString errors = runScenario("exit");

        const QString file = onlyFileIn(logDir());
        const QStringList texts = readLogLines(file);
        LogLine line;
        QCOMPARE(texts.size(), 1);
        QVERIFY(parseLogLine(texts.at(0), true, &line));
        QCOMPARE(line.message, QStringLiteral("ping"));
        QCOMPARE(line.functionField, padded(QStringLiteral("{anonymous}::logAroundExit()")));

        const QString esc(QChar(27));
        QStringList errorLines = errors.split('\n');
        QVERIFY(errorLines.removeOne(QString()));
        // The forwarded message's slot runs before the stderr copy of that message is sent.
        QCOMPARE(errorLines.size(), 5);
        QCOMPARE(errorLines.at(0), QStringLiteral("echo from slot"));
        QCOMPARE(errorLines.at(2), "opened " + QFileInfo(file).fileName());
        // Colours on the copy only: white from the start, the level's colour from the message.
        QCOMPARE(errorLines.at(1), esc + "[37m" + texts.at(0).chopped(4) + esc + "[35mping" + esc + "[0m");
        QVERIFY2(errorLines.at(3).endsWith(esc + "[35mafter exit" + esc + "[0m"), qPrintable(errorLines.at(3)));
        QVERIFY(errorLines.at(4).endsWith(esc + "[35mafter exit from a thread" + esc + "[0m"));
        QVERIFY(errorLines.at(4).contains(QLatin1String("runLoggerScenario::lambda()")));
    }
};

int main(int argc, char** argv)
{
    const QByteArray scenario = qgetenv(kScenarioVariable);
    if (!scenario.isEmpty())
        return runLoggerScenario(scenario, argc, argv);
    // The log reads the rules once; this process runs without them (children set their own).
    qunsetenv("QT_LOGGING_RULES");
    QCoreApplication app(argc, argv);
    TestKelLogger test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_kellogger.moc"

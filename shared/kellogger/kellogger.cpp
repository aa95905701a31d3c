#include "kellogger.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSysInfo>

#include <cerrno>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

const char* const kTextTerminated = "\nApplication terminated.";
const QChar kEscape(27);

// Process-wide settings that may be set before the logger exists. Never destroyed, like the
// logger, so that late messages during exit still find them.
struct ProcessSettings {
    QMutex mutex;
    QString appDirName;
    KelLogger::DisplayInfoProvider displayInfo;
};

ProcessSettings& processSettings()
{
    static ProcessSettings* const settings = new ProcessSettings;
    return *settings;
}

std::atomic<KelLogger*> s_logger { nullptr };

// True while this thread is inside the log (formatting, writing, emitting messageReceived,
// or building the logger). A message raised then goes to stderr only: taking the file mutex
// again would deadlock, forwarding it again would recurse. Qt guards its own qDebug() path the
// same way, but the handler is also called directly (chained handlers).
thread_local bool t_insideLog = false;

class InsideLog {
public:
    InsideLog()
        : m_previous(t_insideLog)
    {
        t_insideLog = true;
    }
    ~InsideLog() { t_insideLog = m_previous; }
    InsideLog(const InsideLog&) = delete;
    InsideLog& operator=(const InsideLog&) = delete;

private:
    bool m_previous;
};

int levelOf(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return KelLogger::DebugLevel;
    case QtInfoMsg:
        return KelLogger::InfoLevel;
    case QtWarningMsg:
        return KelLogger::WarningLevel;
    case QtCriticalMsg:
        return KelLogger::CriticalLevel;
    case QtFatalMsg:
        return KelLogger::FatalLevel;
    }
    return KelLogger::InfoLevel;
}

// The tag of a level in the line and the terminal colour of its message on the stderr copy.
struct LevelStyle {
    const char* tag;
    const char* colour;
};

LevelStyle levelStyle(int level)
{
    switch (level) {
    case KelLogger::DebugLevel:
        return { " (D) ", "[0m" };
    case KelLogger::WarningLevel:
        return { " (W) ", "[35m" };
    case KelLogger::CriticalLevel:
        return { " (!) ", "[31m" };
    case KelLogger::FatalLevel:
        return { " (x) ", "[31m" };
    default:
        return { " (I) ", "[37m" };
    }
}

struct FormattedLine {
    QString text;
    int indentStart = 0;
    int messageStart = 0;
    QString function;
};

FormattedLine formatLine(
    int level, const QString& message, const QMessageLogContext& context, int indent, int functionWidth)
{
    FormattedLine line;
    line.text = QLocale::c().toString(QTime::currentTime(), QStringLiteral("hh:mm:ss.zzz:"));
    line.text += QLatin1String(levelStyle(level).tag);
    line.text += QString::number(KelLogger::currentThreadId()).rightJustified(5, QLatin1Char(' '));
    line.text += QLatin1String(": ");
    if (functionWidth > 0 && context.function && *context.function) {
        line.function = KelLogger::cleanFunctionName(QString::fromUtf8(context.function));
        line.text += line.function.leftJustified(functionWidth, QLatin1Char(' '), true);
        line.text += QLatin1String(": ");
    }
    line.indentStart = line.text.size();
    line.text += QString(indent, QLatin1Char(' '));
    line.messageStart = line.text.size();
    line.text += message;
    if (level == KelLogger::FatalLevel)
        line.text += QLatin1String(kTextTerminated);
    return line;
}

QString colouredCopy(const FormattedLine& line, int level)
{
    QString copy = line.text;
    copy.insert(line.messageStart, kEscape + QLatin1String(levelStyle(level).colour));
    copy.prepend(kEscape + QLatin1String("[37m"));
    copy += kEscape + QLatin1String("[0m");
    return copy;
}

// One write call per line, so lines of different threads do not interleave; works at any
// time, also while the process exits.
void writeStderr(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        left -= written;
    }
}

QString executablePath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    // Before the application object exists Qt cannot tell (and would warn).
    return QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
}

QString shortest(qreal value) { return QString::number(value, 'g', QLocale::FloatingPointShortest); }

QString rectText(const QRect& r)
{
    return QStringLiteral("{x:%1, y:%2, w: %3, h: %4}").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

QString screenLine(int index, const KelLogger::ScreenInfo& screen)
{
    QString line = QStringLiteral("Qt Screen %1:").arg(index);
    if (screen.primary)
        line += QLatin1String(" primary,");
    line += QStringLiteral(" winScale: %1%").arg(qRound(screen.devicePixelRatio * 100));
    line += QStringLiteral(", pixelRatio: %1").arg(shortest(screen.devicePixelRatio));
    line += QStringLiteral(", logDpi: %1, phyDpi: %2").arg(shortest(screen.logicalDpi), shortest(screen.physicalDpi));
    const int ratio = screen.physicalDpi > 0 ? qRound(screen.logicalDpi / screen.physicalDpi * 100) : 0;
    line += QStringLiteral(", log/phy: %1%").arg(ratio);
    line += QLatin1String(", geometry: ") + rectText(screen.geometry);
    if (screen.availableGeometry != screen.geometry)
        line += QLatin1String(", available: ") + rectText(screen.availableGeometry);
    return line;
}

} // namespace

KelLogger::KelLogger()
    : m_rulesSet(qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
{
    qRegisterMetaType<KelLogger::MsgInfo>("KelLogger::MsgInfo");
}

KelLogger* KelLogger::instance()
{
    // Deliberately never destroyed (see the class comment).
    static KelLogger* const logger = [] {
        InsideLog inside;
        auto* created = new KelLogger;
        if (QCoreApplication* app = QCoreApplication::instance())
            created->moveToThread(app->thread());
        s_logger.store(created, std::memory_order_release);
        qAddPostRoutine(&KelLogger::closeAtExit);
        return created;
    }();
    return logger;
}

void KelLogger::closeAtExit()
{
    KelLogger* logger = s_logger.load(std::memory_order_acquire);
    QMutexLocker lock(&logger->m_mutex);
    logger->m_writeToFile = false;
    logger->m_file.close();
}

void KelLogger::setAppDirName(const QString& name)
{
    ProcessSettings& settings = processSettings();
    QMutexLocker lock(&settings.mutex);
    settings.appDirName = name;
}

QString KelLogger::logDir()
{
    ProcessSettings& settings = processSettings();
    QString name;
    {
        QMutexLocker lock(&settings.mutex);
        if (settings.appDirName.isEmpty())
            settings.appDirName = QCoreApplication::applicationName();
        name = settings.appDirName;
    }
    if (name.isEmpty()) // no application object yet: better the program's name than "~/./log"
        name = QFileInfo(executablePath()).completeBaseName();
    const QString dir = QDir::homePath() + QStringLiteral("/.") + name + QStringLiteral("/log");
    QDir().mkpath(dir);
    return dir;
}

void KelLogger::setDisplayInfoProvider(DisplayInfoProvider provider)
{
    ProcessSettings& settings = processSettings();
    QMutexLocker lock(&settings.mutex);
    settings.displayInfo = std::move(provider);
}

qint64 KelLogger::currentThreadId()
{
    static thread_local const qint64 id = static_cast<qint64>(::syscall(SYS_gettid));
    return id;
}

void KelLogger::messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    KelLogger* logger = s_logger.load(std::memory_order_acquire);
    if (!logger && t_insideLog) {
        // Raised while this thread builds the logger: instance() cannot be entered again.
        const int level = levelOf(type);
        writeStderr(formatLine(level, message, context, 0, 40).text);
        return;
    }
    if (!logger)
        logger = instance();
    logger->handleMessage(levelOf(type), message, context);
}

void KelLogger::setForwardMessages(bool on) { m_forwardMessages = on; }

void KelLogger::handleMessage(int level, const QString& message, const QMessageLogContext& context)
{
    if (!m_rulesSet && (level & m_suppressedLevels))
        return;
    if (message == QLatin1String(">")) {
        m_depth.fetch_add(1);
        return;
    }
    if (message == QLatin1String("<")) {
        lowerDepth();
        return;
    }

    const bool reentered = t_insideLog;
    FileEvents events;
    {
        InsideLog inside;
        const QDateTime time = QDateTime::currentDateTime();
        const int width = m_functionColumn ? m_functionColumnWidth : 0;
        const FormattedLine line = formatLine(level, message, context, m_depth.load() * m_indentStep, width);
        if (!reentered && m_writeToFile)
            events = writeLine(line.text);
        if (!reentered && m_forwardMessages)
            emit messageReceived({ time, level, currentThreadId(), line.function, line.text.mid(line.indentStart) });
        writeStderr(m_colourCopy ? colouredCopy(line, level) : line.text);
    }
    // Outside the log again: slots of these signals may log like anyone else.
    emitFileEvents(events);
}

void KelLogger::lowerDepth()
{
    int depth = m_depth.load();
    while (depth > 0 && !m_depth.compare_exchange_weak(depth, depth - 1)) { }
}

KelLogger::FileEvents KelLogger::writeLine(const QString& line)
{
    FileEvents events;
    QMutexLocker lock(&m_mutex);
    if (!m_writeToFile)
        return events;
    if (m_file.isOpen() && m_file.size() > m_maxFileSize) {
        m_file.close();
        removeOldLogFiles();
    }
    if (!m_file.isOpen()) {
        m_file.setFileName(newLogFileName());
        // Unbuffered: each line reaches the file at once, also right before a fatal abort.
        if (m_file.open(QIODevice::Append | QIODevice::Unbuffered)) {
            events.openedFile = m_file.fileName();
            events.logFiles = logFileNames();
        }
    }
    // A line that cannot be written is lost; the next line tries again.
    if (m_file.isOpen())
        m_file.write(line.toUtf8() + '\n');
    return events;
}

void KelLogger::emitFileEvents(const FileEvents& events)
{
    if (events.openedFile.isEmpty())
        return;
    emit logFileNameChanged(events.openedFile);
    emit logFileNamesChanged(events.logFiles);
}

void KelLogger::removeOldLogFiles()
{
    const QFileInfoList files
        = QDir(logDir()).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Time | QDir::Reversed);
    for (int i = 0; i < files.size() - m_maxKeptFiles; ++i)
        QFile::remove(files.at(i).absoluteFilePath());
}

QString KelLogger::newLogFileName() const
{
    const QString dir = logDir();
    const QString base = QFileInfo(executablePath()).completeBaseName() + QLatin1Char('_')
        + QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("yyyy-MM-dd_hh_mm_ss"));
    // Concatenated, not arg()-chained: a '%' in the home path must stay as it is.
    QString path = dir + QLatin1Char('/') + base + QLatin1String(".txt");
    for (int n = 1; QFile::exists(path); ++n)
        path = dir + QLatin1Char('/') + base + QLatin1Char('-') + QString::number(n) + QLatin1String(".txt");
    return path;
}

QStringList KelLogger::logFileNames() const
{
    QStringList names;
    const QFileInfoList files
        = QDir(logDir()).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& file : files) {
        if (file.fileName().endsWith(QLatin1String(".txt"), Qt::CaseInsensitive))
            names.append(file.absoluteFilePath());
    }
    return names;
}

void KelLogger::beginLogSession(const QString& buildVersion)
{
    {
        QMutexLocker lock(&m_mutex);
        // Every session starts its own file, even when something was logged before it.
        if (m_file.isOpen())
            m_file.close();
        removeOldLogFiles();
    }
    if (m_writeToFile) {
        emitFileEvents(writeLine(QStringLiteral("\n\n") + QString(60, QLatin1Char('-'))));
        emitFileEvents(writeLine(QStringLiteral("Application started")));
    }
    m_functionColumn = false;
    logHeaderBlock(buildVersion);
    m_functionColumn = true;
}

void KelLogger::logHeaderBlock(const QString& buildVersion)
{
    qInfo() << "Timestamp:" << QDateTime::currentDateTime();
    qInfo() << "OS version:" << QSysInfo::prettyProductName();
    qInfo() << "Kernel version:" << QSysInfo::kernelVersion();
    qInfo() << "CPU architecture:" << QSysInfo::currentCpuArchitecture();
    qInfo() << "Build ABI:" << QSysInfo::buildAbi();
    qInfo() << "Executable:" << executablePath();
    qInfo() << "BuildVersion:" << buildVersion;
    qInfo() << "DisplayVersion:" << QCoreApplication::applicationVersion();
    qInfo() << "ZadAdidaviDiv headers:" << QStringLiteral("1.42");
    qInfo() << "PID:" << QCoreApplication::applicationPid();
    qInfo() << "Main thread id:" << currentThreadId();
    qInfo() << "Qt::AA_EnableHighDpiScaling:" << QCoreApplication::testAttribute(Qt::AA_EnableHighDpiScaling);
    qInfo() << "Qt::AA_DisableHighDpiScaling:" << QCoreApplication::testAttribute(Qt::AA_DisableHighDpiScaling);

    for (const char* name :
        { "QT_AUTO_SCREEN_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_SCALE_FACTOR", "QT_DEVICE_PIXEL_RATIO" }) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            qInfo() << QByteArray("Overrided " + QByteArray(name) + " found:").constData() << value;
    }

    DisplayInfoProvider provider;
    {
        ProcessSettings& settings = processSettings();
        QMutexLocker lock(&settings.mutex);
        provider = settings.displayInfo;
    }
    const DisplayInfo display = provider ? provider() : DisplayInfo();
    for (int i = 0; i < display.screens.size(); ++i)
        qInfo().noquote() << screenLine(i, display.screens.at(i));
    if (display.touchDevices > 0)
        qInfo() << "Touch devices:" << display.touchDevices;
    qInfo();
}

void KelLogger::resetForTesting()
{
    QMutexLocker lock(&m_mutex);
    m_file.close();
    m_depth = 0;
    m_functionColumn = true;
    m_forwardMessages = false;
}

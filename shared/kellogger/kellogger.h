#pragma once

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QObject>
#include <QRect>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>

// The process-wide log. Installed as Qt's message handler, it turns every message of every
// thread into one line, appends it to the run's file in "<home>/.<app folder>/log" and copies
// it to stderr. Files are named after the executable and the start time, a file past 512 KiB
// is followed by a new one, and at most ten earlier files are kept.
//
// The object and its mutex live until the process ends (never destroyed): pool threads may
// still log while the process exits. The file is closed by a post-routine when the
// application object goes away; the stderr copy keeps working after that.
class KelLogger : public QObject {
    Q_OBJECT

public:
    // The logger's own numbering of Qt's message types, used as bits.
    enum Level { DebugLevel = 1, InfoLevel = 2, WarningLevel = 4, CriticalLevel = 8, FatalLevel = 16 };

    // One formatted message, passed with messageReceived.
    struct MsgInfo {
        QDateTime time;
        int level = 0;
        qint64 threadId = 0;
        QString function;
        QString message; // with its indentation
    };

    // What the session header reports about a screen. The log itself links no GUI module, so
    // the application hands these in through a provider (setDisplayInfoProvider).
    struct ScreenInfo {
        bool primary = false;
        qreal devicePixelRatio = 1;
        qreal logicalDpi = 96;
        qreal physicalDpi = 96;
        QRect geometry;
        QRect availableGeometry;
    };
    struct DisplayInfo {
        QVector<ScreenInfo> screens;
        int touchDevices = 0;
    };
    using DisplayInfoProvider = std::function<DisplayInfo()>;

    static KelLogger* instance();

    // Name of the folder in the home folder that holds the log ("<home>/.<name>/log").
    static void setAppDirName(const QString& name);
    // The log folder, created (with its parents) when missing.
    static QString logDir();
    // The function given to qInstallMessageHandler.
    static void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);
    // Set by the application when it has screens; without a provider the header lists none.
    static void setDisplayInfoProvider(DisplayInfoProvider provider);

    // The qualified name of a compiler function signature: return type, parameter lists and
    // template arguments removed; "()" appended when the text had a parameter list.
    static QString cleanFunctionName(const QString& function);
    // The kernel's id of the calling thread (the process id on the main thread).
    static qint64 currentThreadId();

    // Starts the run's log: prunes old files, opens a new file and writes the header block.
    void beginLogSession(const QString& buildVersion);
    void handleMessage(int level, const QString& message, const QMessageLogContext& context);
    // When on, messageReceived is emitted for each formatted message.
    void setForwardMessages(bool on);

    // Tests only: closes the current file (the next line starts a new one in the then current
    // log folder) and restores depth, function column and forwarding to their start values.
    void resetForTesting();

signals:
    void logFileNameChanged(QString fileName);
    void logFileNamesChanged(QStringList fileNames);
    void messageReceived(KelLogger::MsgInfo info);

private:
    struct FileEvents {
        QString openedFile;
        QStringList logFiles;
    };

    KelLogger();
    static void closeAtExit();

    FileEvents writeLine(const QString& line);
    void emitFileEvents(const FileEvents& events);
    void removeOldLogFiles();
    QString newLogFileName() const;
    QStringList logFileNames() const;
    void lowerDepth();
    void logHeaderBlock(const QString& buildVersion);

    const bool m_rulesSet;
    std::atomic<int> m_depth { 0 };
    const int m_indentStep = 2;
    const int m_maxKeptFiles = 10;
    const qint64 m_maxFileSize = 524288;
    const int m_suppressedLevels = DebugLevel;
    std::atomic<bool> m_writeToFile { true };
    const int m_functionColumnWidth = 40;
    std::atomic<bool> m_functionColumn { true };
    std::atomic<bool> m_forwardMessages { false };
    const bool m_colourCopy = true;

    QMutex m_mutex; // guards m_file: size check, closing, pruning, opening and writing
    QFile m_file;
};

Q_DECLARE_METATYPE(KelLogger::MsgInfo)

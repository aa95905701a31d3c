#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace crashhandler {
struct Plan;
}

// Installs the process-wide crash handler for its own lifetime and decides what a crash report
// carries: the newest log files, a list of named extra files and the screenshot flag. Reports
// are folders under "<log folder>/crashes", one per crash, named by local time and process id:
// "crash.txt" (signal, application, backtrace), "files.txt" (what was attached, from where) and
// copies of the attached files. The application keeps one instance from just after the log
// session has started until its event loop has ended.
class CrashInstaller {
public:
    // The upload address is recorded in the report; nothing is uploaded.
    CrashInstaller(const QString& appName, const QString& appVersion, const QString& uploadUrl);
    ~CrashInstaller();
    CrashInstaller(const CrashInstaller&) = delete;
    CrashInstaller& operator=(const CrashInstaller&) = delete;

    // Attaches a file to every report; the same path again replaces its description.
    void addFile(const QString& path, const QString& description);
    // Attaches up to maxCount of the newest plain files in folder that match one of the patterns
    // (this one and those given before; '*' and '?' wildcards), listed when the crash happens.
    void addLogFiles(const QString& folder, const QString& pattern, int maxCount);

    bool isInstalled() const { return m_installed; }
    // The folder that receives the report folders.
    QString reportFolder() const { return m_reportFolder; }

private:
    void publishPlan();

    bool m_screenshot = true;
    int m_logFileLimit = 0;
    QString m_logFolder;
    QStringList m_logNamePatterns;
    QMap<QString, QString> m_files; // full path -> description

    QString m_header;
    QString m_reportFolder;
    bool m_installed = false;
    // Every plan ever published stays alive until the handler is gone: a crash on another
    // thread may still be reading an older one.
    std::vector<std::unique_ptr<crashhandler::Plan>> m_plans;
};

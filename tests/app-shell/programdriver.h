#pragma once

#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>

class QTemporaryDir;

// Runs the built program under the test's X server and drives it from outside, as a user does:
// real key presses and clicks through xdotool, screen grabs of its windows.
namespace programdriver {

// The application's name, which names its data folder under HOME.
extern const char* const kAppName;

// The environment of a run on its own HOME (with a private runtime folder) on the X server.
QProcessEnvironment environment(const QTemporaryDir& home);
// Starts build/bin/pageloom; its log files hold everything, so its output is dropped.
bool start(QProcess& process, const QProcessEnvironment& env, const QStringList& args = QStringList(),
    const QString& workDir = QString());
// xdotool's answer, empty when it does not end in time.
QString xdotool(const QStringList& args, int timeoutMs = 20000);
QStringList visibleWindows(qint64 pid);
// The main window of the process once it is visible (the splash comes first); empty on timeout.
QString waitForMainWindow(qint64 pid, int timeoutMs = 60000);
QImage grab(const QString& windowId);
// The whole screen, with the program's dialogs and popups.
QImage grabScreen();
// Polls the condition until it holds; false when the time is up.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);
// Runs the action, then waits up to 3 s for the condition, up to three times: a click that lands
// while the program still lays its widgets out misses.
bool retryUntil(const std::function<void()>& action, const std::function<bool()>& condition, int tries = 3);
// The text of every log file of the program under the given HOME.
QString logs(const QString& home);
// Rows of a query on the library database of the program under the given HOME, opened read-only
// while the program runs; empty when it cannot be read.
QList<QVariantList> queryLibrary(const QString& home, const QString& sql, const QVariantList& values = {});

}

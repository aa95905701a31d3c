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
// Sends SIGTERM and waits for the program to end: true when it exits normally with 0.
bool terminate(QProcess& process);
QStringList visibleWindows(qint64 pid);
// The visible window of the process with the title (the program's main window comes after its
// splash); empty on timeout.
QString waitForWindow(qint64 pid, const QString& title = QStringLiteral("Folvane"), int timeoutMs = 60000);
// Starts the program and waits for its main window; empty when either fails.
QString launch(QProcess& process, const QProcessEnvironment& env, const QStringList& args = QStringList());
QImage grab(const QString& windowId);
// The whole screen, with the program's dialogs and popups.
QImage grabScreen();
// Mean brightness (0..255) of every fourth pixel in both directions.
double brightness(const QImage& image);
// Polls the condition until it holds; false when the time is up.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);
// Runs the action, then waits up to 3 s for the condition, up to three times: a click that lands
// while the program still lays its widgets out misses.
bool retryUntil(const std::function<void()>& action, const std::function<bool()>& condition, int tries = 3);
// The text of every log file of the program under the given HOME.
QString logs(const QString& home);
// The program's settings file under the given HOME.
QString settingsFile(const QString& home);
// Rows of a query on the library database of the program under the given HOME, opened read-only
// while the program runs; empty when it cannot be read.
QList<QVariantList> queryLibrary(const QString& home, const QString& sql, const QVariantList& values = {});

}

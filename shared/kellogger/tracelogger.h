#pragma once

#include <QElapsedTimer>
#include <QString>

// Logs entry to and exit from a scope with the elapsed time, and indents everything logged
// in between (by any thread) one level deeper. Both lines carry the caller's function name.
class TraceLogger {
public:
    // function: the caller's qualified name (for instance "Application::init"); it must
    // outlive the tracer. name: a short description of the scope.
    TraceLogger(const char* function, const QString& name);
    ~TraceLogger();
    TraceLogger(const TraceLogger&) = delete;
    TraceLogger& operator=(const TraceLogger&) = delete;

private:
    const char* m_function;
    QString m_name;
    QElapsedTimer m_timer;
};

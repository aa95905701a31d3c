#pragma once

#include <QMutex>
#include <QStringList>

// Collects what is logged (from any thread) while it lives, instead of printing it.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Each message as "<level>: <text>", level one of debug, info, warning, critical.
    QStringList lines() const;
    QStringList criticalLines() const;
    bool contains(const QString& text) const;
};

#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// The system report kept beside the logs for bug reports: kernel, distribution, processor,
// memory, screens, Qt platform and OpenGL renderer. It is written again when older than 30 days.
namespace SystemReport {

// Screen, platform and OpenGL lines; asks the GUI, so call it on the GUI thread.
QStringList guiFacts();
// Kernel, distribution, processor and memory lines; safe on any thread.
QStringList systemFacts();
// A report at path modified fewer than 30 whole days before now.
bool isFresh(const QString& path, const QDateTime& now);
// Writes the system facts and guiFacts atomically; false with an error text on failure.
bool write(const QString& path, const QStringList& guiFacts, QString* error);

} // namespace SystemReport

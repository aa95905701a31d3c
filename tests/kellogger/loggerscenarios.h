#pragma once

#include <QByteArray>
#include <QString>

// Scenarios that must run in a process of their own: the logging rules are read once when
// the log is built, a fatal message ends the process, and the post-routine runs only when
// the application object goes away. The test runs its own executable again with the
// scenario's name in this variable.
constexpr const char* kScenarioVariable = "PL_LOGGER_SCENARIO";

inline QString testAppDirName() { return QStringLiteral("Pl Logger Test"); }

int runLoggerScenario(const QByteArray& name, int argc, char** argv);

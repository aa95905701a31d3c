#pragma once

#include <QString>

#include <string>
#include <vector>

// The process-wide handler of fatal signals (SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL). On a crash
// it writes a report folder and then lets the signal's default action end the process.
//
// The handler may run while the crashed thread holds the allocator's or Qt's locks, so it calls
// only async-signal-safe functions: no malloc, no Qt, no stdio. Everything it needs is prepared
// beforehand in a Plan; its buffers are static.
namespace crashhandler {

struct AttachedFile {
    std::string path; // in the file system's encoding
    std::string description;
};

// What a report holds. Never changed once published: a crash on another thread may be reading it.
struct Plan {
    std::string reportRoot; // receives one folder per crash, named by local time and pid
    std::string header; // the report's first lines (application, version, executable)
    long utcOffsetSeconds = 0; // for the local time in the folder name
    std::string logFolder; // empty: no log files
    std::vector<std::string> logPatterns; // '*' and '?' wildcards, case-sensitive
    int logLimit = 0; // newest files first
    std::vector<AttachedFile> files;
    bool screenshot = false;
};

// Most log files one report carries, whatever the plan asks.
constexpr int kMaxLogFiles = 64;
// Bytes copied of one file at most; the rest is cut off and the manifest says so.
constexpr long long kMaxCopyBytes = 64LL * 1024 * 1024;

// Installs the handlers and an alternate signal stack for the calling thread (so that a stack
// overflow on that thread is reported too). False with the reason when a handler is installed
// already or a system call fails.
bool install(QString* errorText);
// The plan a crash uses from now on (nullptr: none). It must stay alive until uninstall().
void publish(const Plan* plan);
// Restores the signal handlers (and the alternate stack) found at install time.
void uninstall();

// Wildcard match of a file name: '*' any run of characters, '?' one character.
bool matchesPattern(const char* name, const char* pattern);

} // namespace crashhandler

// Installs the crash handler as the application does and then crashes the way its argument says:
//   crashchild <mode>      null-write, abort, stack-overflow, bus-error, thread, fatal-message
// With PL_CRASH_FORBID_MALLOC set, any allocation after the crash (that is, in the handler) ends
// the process with exit code 99 instead of the signal.
#include "crashinstaller/crashinstaller.h"
#include "kellogger/kellogger.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void __libc_free(void* pointer);
}

namespace {

volatile sig_atomic_t g_allocationForbidden = 0;
bool g_forbidOnCrash = false;
volatile bool g_neverTrue = false;

[[noreturn]] void allocationInHandler()
{
    static const char message[] = "allocation in the crash handler\n";
    ::write(STDERR_FILENO, message, sizeof message - 1);
    ::_exit(99);
}

void aboutToCrash()
{
    if (g_forbidOnCrash)
        g_allocationForbidden = 1;
}

} // namespace

// Every allocation of the process passes here, the C library's own included.
extern "C" void* malloc(size_t size)
{
    if (g_allocationForbidden)
        allocationInHandler();
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size)
{
    if (g_allocationForbidden)
        allocationInHandler();
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* pointer, size_t size)
{
    if (g_allocationForbidden)
        allocationInHandler();
    return __libc_realloc(pointer, size);
}

extern "C" void free(void* pointer)
{
    if (g_allocationForbidden)
        allocationInHandler();
    __libc_free(pointer);
}

// Exported (the executable is linked with its symbols visible), so the backtrace names them.
// The null store must reach the processor: a sanitizer's null check would report it first, and
// its report allocates after the point where this program forbids allocation.
__attribute__((noinline, no_sanitize("null"))) void crashByNullWrite()
{
    // Volatile both ways: a plain null store is undefined and may be dropped.
    volatile int* volatile target = nullptr;
    aboutToCrash();
    *target = 42;
}

__attribute__((noinline)) void crashByAbort()
{
    aboutToCrash();
    std::abort();
}

__attribute__((noinline)) int crashByStackOverflow(int depth)
{
    volatile char pad[4096];
    pad[depth % sizeof pad] = char(depth);
    if (g_neverTrue)
        return pad[0];
    return crashByStackOverflow(depth + 1) + pad[(depth + 1) % sizeof pad];
}

// Reading a mapped page whose file has been cut away.
__attribute__((noinline)) int crashByBusError()
{
    const QByteArray path = QFile::encodeName(QDir::home().filePath(QStringLiteral("mapped.bin")));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::ftruncate(fd, 4096) != 0)
        return 1;
    auto* page = static_cast<volatile char*>(::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
    if (page == MAP_FAILED || ::ftruncate(fd, 0) != 0)
        return 1;
    aboutToCrash();
    return page[0];
}

__attribute__((noinline)) void crashByFatalMessage() { qFatal("fatal message in the crash test"); }

int main(int argc, char** argv)
{
    if (argc != 2)
        return 64;
    const rlimit noCore {}; // the crash is expected: no core file
    ::setrlimit(RLIMIT_CORE, &noCore);
    g_forbidOnCrash = qEnvironmentVariableIsSet("PL_CRASH_FORBID_MALLOC");

    qInstallMessageHandler(KelLogger::messageHandler);
    KelLogger::setAppDirName(QStringLiteral("Pl Crash Test"));
    QCoreApplication app(argc, argv);
    const QByteArray mode = argv[1];
    const QString logDir = KelLogger::logDir();

    auto installer
        = std::make_unique<CrashInstaller>(QStringLiteral("Pl Crash Test"), QStringLiteral("1.2.3"), QString());
    installer->addFile(logDir + QStringLiteral("/dxdiag.txt"), QStringLiteral("DirectX diagnostic File"));
    const QString settings = QDir::home().filePath(QStringLiteral("settings.ini"));
    installer->addFile(settings, QStringLiteral("Settings"));
    installer->addFile(settings, QStringLiteral("Configuration File"));
    installer->addFile(QDir::home().filePath(QStringLiteral("pipe")), QStringLiteral("Pipe"));
    installer->addLogFiles(logDir, QStringLiteral("crashchild*.txt"), 10);

    qInfo("about to crash: %s", mode.constData());
    if (mode == "null-write") {
        crashByNullWrite();
    } else if (mode == "abort") {
        crashByAbort();
    } else if (mode == "stack-overflow") {
        aboutToCrash();
        return crashByStackOverflow(0);
    } else if (mode == "bus-error") {
        return crashByBusError();
    } else if (mode == "thread") {
        std::thread(crashByNullWrite).join();
    } else if (mode == "fatal-message") {
        crashByFatalMessage();
    }
    return 65;
}

#include "crashhandler.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Everything below the install/publish/uninstall functions runs inside the signal handler:
// only async-signal-safe calls, no allocation, static buffers.

namespace crashhandler {
namespace {

    constexpr int kSignals[] = { SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL };
    constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
    constexpr int kMaxFrames = 128;
    // A crash on a second thread waits this long for the first report before it ends the process.
    constexpr int kOtherReportWaitSteps = 300;
    constexpr long kOtherReportStepNs = 100 * 1000 * 1000;

    struct sigaction g_previousActions[kSignalCount];
    stack_t g_previousStack;
    long g_installThread = 0;
    std::atomic<bool> g_installed { false };
    std::atomic<const Plan*> g_plan { nullptr };
    std::atomic<long> g_reportingThread { 0 };

    // Static, so the alternate stack stays valid for the rest of the process whatever happens.
    alignas(64) char g_alternateStack[256 * 1024];
    alignas(8) char g_directoryBuffer[32 * 1024];
    char g_copyBuffer[64 * 1024];

    struct LogCandidate {
        struct timespec modified;
        char name[NAME_MAX + 1];
    };
    LogCandidate g_logs[kMaxLogFiles];

    long currentThreadId() { return long(::syscall(SYS_gettid)); }

    // Text in a fixed buffer; what does not fit is cut off.
    template <size_t N> class Text {
    public:
        Text() { m_data[0] = 0; }
        Text& add(const char* text, size_t size)
        {
            if (size > N - 1 - m_size) {
                size = N - 1 - m_size;
                m_cut = true;
            }
            std::memcpy(m_data + m_size, text, size);
            m_size += size;
            m_data[m_size] = 0;
            return *this;
        }
        Text& add(const char* text) { return add(text, std::strlen(text)); }
        Text& add(const std::string& text) { return add(text.data(), text.size()); }
        // Decimal, left-padded with zeros to width.
        Text& number(long long value, int width = 0)
        {
            char digits[24];
            int count = 0;
            unsigned long long magnitude = value < 0 ? 0ULL - (unsigned long long)value : (unsigned long long)value;
            do {
                digits[count++] = char('0' + magnitude % 10);
                magnitude /= 10;
            } while (magnitude);
            while (count < width && count < int(sizeof digits))
                digits[count++] = '0';
            if (value < 0)
                add("-", 1);
            while (count > 0)
                add(&digits[--count], 1);
            return *this;
        }
        Text& hex(unsigned long long value)
        {
            char digits[16];
            int count = 0;
            do {
                digits[count++] = "0123456789abcdef"[value & 15];
                value >>= 4;
            } while (value);
            add("0x", 2);
            while (count > 0)
                add(&digits[--count], 1);
            return *this;
        }
        const char* c_str() const { return m_data; }
        size_t size() const { return m_size; }
        bool cut() const { return m_cut; }

    private:
        char m_data[N];
        size_t m_size = 0;
        bool m_cut = false;
    };
    using Path = Text<PATH_MAX>;

    bool writeAll(int fd, const char* data, size_t size)
    {
        while (size > 0) {
            const ssize_t written = ::write(fd, data, size);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return false;
            data += written;
            size -= size_t(written);
        }
        return true;
    }

    template <size_t N> bool writeText(int fd, const Text<N>& text) { return writeAll(fd, text.c_str(), text.size()); }

    struct CivilTime {
        long long year;
        unsigned month, day, hour, minute, second;
    };

    // Calendar date and time of seconds since 1970 (proleptic Gregorian); gmtime is not safe here.
    CivilTime civilTime(long long seconds)
    {
        long long days = seconds / 86400;
        long long rest = seconds % 86400;
        if (rest < 0) {
            rest += 86400;
            --days;
        }
        days += 719468;
        const long long era = (days >= 0 ? days : days - 146096) / 146097;
        const unsigned dayOfEra = unsigned(days - era * 146097);
        const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
        const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
        const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
        CivilTime time;
        time.day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
        time.month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
        time.year = (long long)yearOfEra + era * 400 + (time.month <= 2 ? 1 : 0);
        time.hour = unsigned(rest / 3600);
        time.minute = unsigned(rest / 60 % 60);
        time.second = unsigned(rest % 60);
        return time;
    }

    const char* signalName(int sig)
    {
        switch (sig) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGABRT:
            return "SIGABRT";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        default:
            return "?";
        }
    }

    const char* baseName(const std::string& path)
    {
        const char* slash = std::strrchr(path.c_str(), '/');
        return slash ? slash + 1 : path.c_str();
    }

    // Makes "<root>/yyyy-MM-dd_hh_mm_ss-<pid>" (with a counter when it exists) and opens it.
    int makeReportFolder(const Plan& plan, const CivilTime& t, Path* folder)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            Path path;
            path.add(plan.reportRoot).add("/").number(t.year, 4).add("-").number(t.month, 2).add("-").number(t.day, 2);
            path.add("_").number(t.hour, 2).add("_").number(t.minute, 2).add("_").number(t.second, 2);
            path.add("-").number(::getpid());
            if (attempt > 0)
                path.add("-").number(attempt);
            if (path.cut())
                return -1;
            if (::mkdir(path.c_str(), 0700) == 0) {
                *folder = path;
                return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            }
            if (errno != EEXIST)
                return -1;
        }
        return -1;
    }

    // Creates name in the report folder, or "2-name" .. "9-name" when taken.
    int createUnique(int reportFolder, const char* name, Text<NAME_MAX + 8>* stored)
    {
        for (int n = 1; n < 10; ++n) {
            Text<NAME_MAX + 8> candidate;
            if (n > 1)
                candidate.number(n).add("-");
            candidate.add(name);
            const int fd = ::openat(reportFolder, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0) {
                *stored = candidate;
                return fd;
            }
            if (errno != EEXIST)
                return -1;
        }
        return -1;
    }

    void writeSummary(
        const Plan& plan, int reportFolder, int sig, const siginfo_t* info, long thread, const CivilTime& t)
    {
        const int fd = ::openat(reportFolder, "crash.txt", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            return;
        writeAll(fd, plan.header.data(), plan.header.size());
        Text<2048> text;
        text.add("Signal: ").number(sig).add(" (").add(signalName(sig)).add(")\n");
        text.add("Signal code: ").number(info ? info->si_code : 0).add("\n");
        if (info && info->si_code > 0) // raised by the processor: the address is meaningful
            text.add("Fault address: ").hex((unsigned long long)(uintptr_t)info->si_addr).add("\n");
        text.add("Process id: ").number(::getpid()).add("\n");
        text.add("Thread id: ").number(thread).add("\n");
        text.add("Time: ").number(t.year, 4).add("-").number(t.month, 2).add("-").number(t.day, 2).add(" ");
        text.number(t.hour, 2).add(":").number(t.minute, 2).add(":").number(t.second, 2).add("\n");
        if (plan.screenshot)
            text.add("Screenshot: requested, not taken (a crashed process has no safe access to the display)\n");
        text.add("\nBacktrace:\n");
        writeText(fd, text);
        void* frames[kMaxFrames];
        const int count = ::backtrace(frames, kMaxFrames);
        ::backtrace_symbols_fd(frames, count, fd);
        ::close(fd);
    }

    enum class CopyResult { Copied, Cut, Missing, NotAFile, Failed };

    CopyResult copyFile(int sourceFolder, const char* source, bool noFollow, int reportFolder, const char* name,
        Text<NAME_MAX + 8>* stored)
    {
        // Non-blocking open: a FIFO under an attached name must not stop the report.
        const int in = ::openat(sourceFolder, source, O_RDONLY | O_NONBLOCK | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0));
        if (in < 0)
            return errno == ENOENT ? CopyResult::Missing : errno == ELOOP ? CopyResult::NotAFile : CopyResult::Failed;
        struct stat status;
        if (::fstat(in, &status) != 0 || !S_ISREG(status.st_mode)) {
            ::close(in);
            return CopyResult::NotAFile;
        }
        const int out = createUnique(reportFolder, name, stored);
        if (out < 0) {
            ::close(in);
            return CopyResult::Failed;
        }
        CopyResult result = CopyResult::Copied;
        long long copied = 0;
        for (;;) {
            ssize_t got = ::read(in, g_copyBuffer, sizeof g_copyBuffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                result = CopyResult::Failed;
            if (got <= 0)
                break;
            if (copied + got > kMaxCopyBytes) {
                got = ssize_t(kMaxCopyBytes - copied);
                result = CopyResult::Cut;
            }
            if (!writeAll(out, g_copyBuffer, size_t(got))) {
                result = CopyResult::Failed;
                break;
            }
            copied += got;
            if (result == CopyResult::Cut)
                break;
        }
        ::close(in);
        ::close(out);
        return result;
    }

    // One manifest line: description, name in the report ("-" when none), source path, remark.
    void attach(int manifest, int reportFolder, int sourceFolder, const char* source, const char* sourcePath,
        const char* name, bool noFollow, const char* description)
    {
        Text<NAME_MAX + 8> stored;
        const CopyResult result = copyFile(sourceFolder, source, noFollow, reportFolder, name, &stored);
        Text<PATH_MAX + 512> line;
        line.add(description).add("\t");
        line.add(result == CopyResult::Copied || result == CopyResult::Cut ? stored.c_str() : "-");
        line.add("\t").add(sourcePath);
        switch (result) {
        case CopyResult::Copied:
            break;
        case CopyResult::Cut:
            line.add("\tcut off after ").number(kMaxCopyBytes).add(" bytes");
            break;
        case CopyResult::Missing:
            line.add("\tmissing");
            break;
        case CopyResult::NotAFile:
            line.add("\tnot a regular file");
            break;
        case CopyResult::Failed:
            line.add("\tnot copied");
            break;
        }
        line.add("\n");
        writeText(manifest, line);
    }

    bool newer(const struct timespec& modified, const char* name, const LogCandidate& other)
    {
        if (modified.tv_sec != other.modified.tv_sec)
            return modified.tv_sec > other.modified.tv_sec;
        if (modified.tv_nsec != other.modified.tv_nsec)
            return modified.tv_nsec > other.modified.tv_nsec;
        return std::strcmp(name, other.name) > 0;
    }

    // Keeps g_logs[0..count) sorted newest first, at most limit entries.
    int insertNewest(int count, int limit, const struct timespec& modified, const char* name)
    {
        int position = count;
        while (position > 0 && newer(modified, name, g_logs[position - 1]))
            --position;
        if (position >= limit)
            return count;
        for (int i = count < limit ? count : limit - 1; i > position; --i)
            g_logs[i] = g_logs[i - 1];
        g_logs[position].modified = modified;
        std::strcpy(g_logs[position].name, name);
        return count < limit ? count + 1 : count;
    }

    bool matchesAny(const std::vector<std::string>& patterns, const char* name)
    {
        for (const std::string& pattern : patterns) {
            if (matchesPattern(name, pattern.c_str()))
                return true;
        }
        return false;
    }

    // The newest plain files of the log folder that match a pattern, into g_logs; returns their count.
    int findNewestLogs(const Plan& plan, int folder)
    {
        const int limit = plan.logLimit < kMaxLogFiles ? plan.logLimit : kMaxLogFiles;
        int count = 0;
        for (;;) {
            // getdents64, not readdir: opendir allocates.
            const long got = ::syscall(SYS_getdents64, folder, g_directoryBuffer, sizeof g_directoryBuffer);
            if (got <= 0)
                break;
            for (long offset = 0; offset < got;) {
                const auto* entry = reinterpret_cast<const struct dirent64*>(g_directoryBuffer + offset);
                offset += entry->d_reclen;
                const char* name = entry->d_name;
                if (limit <= 0 || std::strlen(name) > NAME_MAX || !matchesAny(plan.logPatterns, name))
                    continue;
                // Plain files only: a link could pull any file of the user into the report.
                struct stat status;
                if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode))
                    continue;
                count = insertNewest(count, limit, status.st_mtim, name);
            }
        }
        return count;
    }

    void writeAttachments(const Plan& plan, int reportFolder)
    {
        const int manifest = ::openat(reportFolder, "files.txt", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (manifest < 0)
            return;
        if (!plan.logFolder.empty()) {
            const int logFolder = ::open(plan.logFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (logFolder >= 0) {
                const int count = findNewestLogs(plan, logFolder);
                for (int i = 0; i < count; ++i) {
                    Path sourcePath;
                    sourcePath.add(plan.logFolder).add("/").add(g_logs[i].name);
                    attach(manifest, reportFolder, logFolder, g_logs[i].name, sourcePath.c_str(), g_logs[i].name, true,
                        "Log file");
                }
                ::close(logFolder);
            }
        }
        for (const AttachedFile& file : plan.files) {
            attach(manifest, reportFolder, AT_FDCWD, file.path.c_str(), file.path.c_str(), baseName(file.path), false,
                file.description.c_str());
        }
        ::close(manifest);
    }

    void writeReport(const Plan& plan, int sig, const siginfo_t* info, long thread)
    {
        struct timespec now { };
        ::clock_gettime(CLOCK_REALTIME, &now);
        const CivilTime t = civilTime((long long)now.tv_sec + plan.utcOffsetSeconds);
        Path folder;
        const int reportFolder = makeReportFolder(plan, t, &folder);
        Text<PATH_MAX + 64> message;
        if (reportFolder < 0) {
            message.add("Crash: could not create a report folder in ").add(plan.reportRoot).add("\n");
            writeText(STDERR_FILENO, message);
            return;
        }
        writeSummary(plan, reportFolder, sig, info, thread, t);
        writeAttachments(plan, reportFolder);
        ::close(reportFolder);
        message.add("Crash report written to ").add(folder.c_str()).add("\n");
        writeText(STDERR_FILENO, message);
    }

    // Hands the signal to its default action, which ends the process.
    void endWithDefaultAction(int sig, const siginfo_t* info)
    {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        ::sigaction(sig, &action, nullptr);
        // A fault raised by the processor recurs when the handler returns, now with the default
        // action, so a core dump shows the faulting context itself.
        if (info && info->si_code > 0 && sig != SIGABRT)
            return;
        sigset_t unblock;
        sigemptyset(&unblock);
        sigaddset(&unblock, sig);
        ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
        ::raise(sig);
        ::_exit(128 + sig);
    }

    void handleCrash(int sig, siginfo_t* info, void*)
    {
        const int savedErrno = errno;
        const long thread = currentThreadId();
        long reporting = 0;
        if (g_reportingThread.compare_exchange_strong(reporting, thread)) {
            if (const Plan* plan = g_plan.load(std::memory_order_acquire))
                writeReport(*plan, sig, info, thread);
        } else if (reporting != thread) {
            // Another thread writes its report and then ends the process; this one waits for that.
            struct timespec step {
                0, kOtherReportStepNs
            };
            for (int i = 0; i < kOtherReportWaitSteps; ++i)
                ::nanosleep(&step, nullptr);
        }
        // (reporting == thread: the handler itself faulted; end at once.)
        endWithDefaultAction(sig, info);
        errno = savedErrno;
    }

} // namespace

bool matchesPattern(const char* name, const char* pattern)
{
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == 0;
}

bool install(QString* errorText)
{
    bool expected = false;
    if (!g_installed.compare_exchange_strong(expected, true)) {
        *errorText = QStringLiteral("a crash handler is installed already");
        return false;
    }
    // backtrace() loads the unwinder on its first call, which allocates: do it now, not in a crash.
    void* frames[4];
    ::backtrace(frames, 4);

    stack_t stack {};
    stack.ss_sp = g_alternateStack;
    stack.ss_size = sizeof g_alternateStack;
    if (::sigaltstack(&stack, &g_previousStack) != 0) {
        *errorText = QStringLiteral("sigaltstack: ") + qt_error_string(errno);
        g_installed = false;
        return false;
    }
    g_installThread = currentThreadId();

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = handleCrash;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) {
        if (::sigaction(kSignals[i], &action, &g_previousActions[i]) != 0) {
            *errorText = QStringLiteral("sigaction: ") + qt_error_string(errno);
            while (--i >= 0)
                ::sigaction(kSignals[i], &g_previousActions[i], nullptr);
            ::sigaltstack(&g_previousStack, nullptr);
            g_installed = false;
            return false;
        }
    }
    return true;
}

void publish(const Plan* plan) { g_plan.store(plan, std::memory_order_release); }

void uninstall()
{
    if (!g_installed.load())
        return;
    g_plan.store(nullptr);
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kSignals[i], &g_previousActions[i], nullptr);
    // The alternate stack belongs to the thread that installed it.
    if (currentThreadId() == g_installThread)
        ::sigaltstack(&g_previousStack, nullptr);
    g_installed = false;
}

} // namespace crashhandler

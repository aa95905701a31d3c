#pragma once
// Drives the real program under the test's X server as a user does: its own HOME, xdotool keys and
// clicks, screen grabs, its log and its library read from disk.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>

#include "testfiles.h"
#include "testpaths.h"

namespace programdriver {

// Names the program's data folder under HOME.
inline const char* const kAppName = "Brindle Folvane";

// A run on its own HOME (with a private runtime folder) on the test's X server.
inline QProcessEnvironment environment(const QTemporaryDir& home)
{
    QDir(home.path()).mkpath(QStringLiteral("run"));
    QFile::setPermissions(
        home.filePath(QStringLiteral("run")), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    for (const char* name : { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "QT_SCALE_FACTOR" })
        env.remove(QString::fromLatin1(name));
    return env;
}

// Ends the speech service that reading aloud started in the HOME's private runtime folder. Without
// a sound device it hangs in its shutdown and ignores SIGTERM, so it is killed, and only when its
// command line names this HOME.
inline void stopSpeechService(const QTemporaryDir& home)
{
    const QByteArray pidText
        = testfiles::read(home.filePath(QStringLiteral("run/speech-dispatcher/pid/speech-dispatcher.pid"))).trimmed();
    const pid_t pid = pid_t(pidText.toInt());
    if (pid <= 0)
        return;
    const QByteArray commandLine = testfiles::read(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (commandLine.contains(QFile::encodeName(home.path())))
        ::kill(pid, SIGKILL);
}

// The file under the HOME that keeps what the program's helpers (the page counter) wrote, which
// its own log files do not hold.
inline QString helperOutput(const QString& home) { return QDir(home).filePath(QStringLiteral("helpers.txt")); }

// Starts build/bin/pageloom; its log files hold everything of its own, so its output is dropped but
// for the helpers' (on their error output, which they share with it).
inline bool start(
    QProcess& process, const QProcessEnvironment& env, const QStringList& args = {}, const QString& workDir = QString())
{
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    const QString home = env.value(QStringLiteral("HOME"));
    process.setStandardErrorFile(
        QDir::isAbsolutePath(home) ? helperOutput(home) : QProcess::nullDevice(), QIODevice::Append);
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    process.start(QDir(testpaths::binDir()).filePath(QStringLiteral("pageloom")), args);
    if (process.waitForStarted(10000))
        return true;
    qWarning() << "pageloom did not start:" << process.errorString();
    return false;
}

// xdotool's answer, empty when it does not end in time (the process is killed with its object).
inline QString xdotool(const QStringList& args)
{
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), args);
    if (!tool.waitForFinished(20000))
        return QString();
    return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
}

inline void key(const QString& name) { xdotool({ QStringLiteral("key"), name }); }

// Sends SIGTERM: true when the program then exits normally with 0.
inline bool terminate(QProcess& process)
{
    ::kill(pid_t(process.processId()), SIGTERM);
    return process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(100);
    }
    return true;
}

// Presses a key in a window until done() holds: a window just mapped on a busy machine may not
// take the first press yet. Waits 1, 2, 4... s after each press, up to timeoutMs in all.
inline bool pressUntil(
    const QString& window, const QString& keyName, const std::function<bool()>& done, int timeoutMs = 40000)
{
    QElapsedTimer timer;
    timer.start();
    for (int slice = 1000; timer.elapsed() < timeoutMs; slice *= 2) {
        xdotool({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), window });
        key(keyName);
        if (waitUntil(done, slice))
            return true;
    }
    return done();
}

// The program stores a change of place or notes a second after the last one, later on a busy
// machine: waits until what read() gives has held for 2.5 s (at most 30 s), and gives it.
template <typename Read> auto whenStill(const Read& read)
{
    auto value = read();
    QElapsedTimer still;
    still.start();
    waitUntil(
        [&] {
            const auto now = read();
            if (now != value) {
                value = now;
                still.restart();
            }
            return still.elapsed() >= 2500;
        },
        30000);
    return value;
}

// Runs the action, then waits up to 3 s for the condition, up to three times: a click that lands
// while the program still lays its widgets out misses.
inline bool retryUntil(const std::function<void()>& action, const std::function<bool()>& condition)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        action();
        if (waitUntil(condition, 3000))
            return true;
    }
    return false;
}

inline QStringList visibleWindows(qint64 pid)
{
    return xdotool(
        { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(pid) })
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The visible window of the process with the title (the main window comes after the splash).
inline QString waitForWindow(qint64 pid, const QString& title = QStringLiteral("Folvane"))
{
    QString window;
    waitUntil(
        [&] {
            for (const QString& id : visibleWindows(pid)) {
                if (xdotool({ QStringLiteral("getwindowname"), id }) == title)
                    window = id;
            }
            return !window.isEmpty();
        },
        60000);
    return window;
}

// Starts the program and waits for its main window; empty when either fails.
inline QString launch(QProcess& process, const QProcessEnvironment& env)
{
    return start(process, env) ? waitForWindow(process.processId()) : QString();
}

inline QImage grab(const QString& windowId)
{
    return QGuiApplication::primaryScreen()->grabWindow(WId(windowId.toULongLong())).toImage();
}

// Share (0..1) of sampled pixels that differ between two pictures of one size.
inline double difference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return 1;
    int differing = 0, count = 0;
    for (int y = 0; y < a.height(); y += 2) {
        for (int x = 0; x < a.width(); x += 2) {
            ++count;
            if (a.pixel(x, y) != b.pixel(x, y))
                ++differing;
        }
    }
    return count ? double(differing) / count : 0;
}

// Mean brightness (0..255): the picture averaged down to one pixel.
inline int brightness(const QImage& image)
{
    return qGray(image.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0));
}

// The pointer to a point of the window, or of the screen when window is empty.
inline void hover(const QString& window, const QPoint& at, int waitMs = 200)
{
    QStringList args { QStringLiteral("mousemove") };
    if (!window.isEmpty())
        args << QStringLiteral("--window") << window;
    xdotool(args << QString::number(at.x()) << QString::number(at.y()));
    QTest::qWait(waitMs);
}

// A press at one point, moves in steps, a release just past another (a drop target learns the end).
inline void drag(const QString& window, const QPoint& from, const QPoint& to, int steps)
{
    hover(window, from);
    xdotool({ QStringLiteral("mousedown"), QStringLiteral("1") });
    for (int step = 1; step <= steps; ++step)
        hover(window, from + (to - from) * step / steps, 50);
    QTest::qWait(300);
    hover(window, to + QPoint(2, 2));
    xdotool({ QStringLiteral("mouseup"), QStringLiteral("1") });
}

inline void click(const QString& window, const QPoint& at, int repeat)
{
    hover(window, at);
    xdotool({ QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(repeat), QStringLiteral("1") });
}

// The text of every log file of the program under the HOME.
inline QString logs(const QString& home)
{
    const QDir dir(QDir(home).filePath(QStringLiteral(".%1/log").arg(QLatin1String(kAppName))));
    QString text;
    for (const QFileInfo& info : dir.entryInfoList({ QStringLiteral("pageloom*.txt") }, QDir::Files))
        text += QString::fromUtf8(testfiles::read(info.absoluteFilePath()));
    return text;
}

inline QString settingsFile(const QString& home)
{
    return QDir(home).filePath(QStringLiteral(".config/Brindle/%1/settings.ini").arg(QLatin1String(kAppName)));
}

// A number the program keeps in its settings file under the HOME, -1 while it has none.
inline int storedSetting(const QString& home, const char* name)
{
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("\\b%1=(\\d+)").arg(QLatin1String(name)))
                                              .match(QString::fromUtf8(testfiles::read(settingsFile(home))));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// The process of the name that the process of the id started; 0 when there is none.
inline qint64 childProcess(qint64 parent, const QString& name)
{
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        // "pid (name) state ppid ..."
        const QString stat = QString::fromLatin1(testfiles::read(QStringLiteral("/proc/%1/stat").arg(entry)));
        const int open = stat.indexOf(QLatin1Char('(')), close = stat.lastIndexOf(QLatin1Char(')'));
        if (open > 0 && close > open && stat.mid(open + 1, close - open - 1) == name
            && stat.mid(close + 2).section(QLatin1Char(' '), 1, 1).toLongLong() == parent)
            return entry.toLongLong();
    }
    return 0;
}

// The library file of the program under the HOME.
inline QString libraryFile(const QString& home)
{
    return QDir(home).filePath(QStringLiteral(".%1/data/ebooklib.sqlite3").arg(QLatin1String(kAppName)));
}

// The answer of a query on the library of the program under the HOME, opened read-only while it
// runs: a line per row, its values joined by blanks; empty when it cannot be read.
inline QString queryLibrary(const QString& home, const QString& sql, const QVariantList& values = {})
{
    const QString connection = QStringLiteral("wholeflow-library");
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(libraryFile(home));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000"));
        if (db.open()) {
            QSqlQuery query(db);
            query.prepare(sql);
            for (const QVariant& value : values)
                query.addBindValue(value);
            query.exec();
            while (query.next()) {
                QStringList row;
                for (int i = 0; i < query.record().count(); ++i)
                    row << query.value(i).toString();
                rows << row.join(QLatin1Char(' '));
            }
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return rows.join(QLatin1Char('\n'));
}

// The window's frame on the screen, from "xdotool getwindowgeometry --shell".
inline QRect geometry(const QString& windowId)
{
    QMap<QString, int> values;
    const QStringList lines
        = xdotool({ QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), windowId }).split('\n');
    for (const QString& line : lines)
        values.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1).toInt());
    return QRect(values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
        values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT")));
}

// Where a picture shows a colour, every second pixel in both directions looked at.
struct ColourSpot {
    int count = 0;
    QPoint centre;
    QPoint corner; // top left
};

inline ColourSpot findColour(const QImage& image, const QColor& colour)
{
    ColourSpot spot;
    spot.corner = QPoint(image.width(), image.height());
    qint64 sx = 0, sy = 0;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            const QRgb pixel = image.pixel(x, y);
            if (qAbs(qRed(pixel) - colour.red()) > 28 || qAbs(qGreen(pixel) - colour.green()) > 28
                || qAbs(qBlue(pixel) - colour.blue()) > 28)
                continue;
            ++spot.count;
            sx += x;
            sy += y;
            spot.corner = QPoint(qMin(spot.corner.x(), x), qMin(spot.corner.y(), y));
        }
    }
    if (spot.count)
        spot.centre = QPoint(int(sx / spot.count), int(sy / spot.count));
    return spot;
}

// Waits until the window holds still (two pictures alike), at most 3 s; the last picture.
inline QImage settle(const QString& window, QImage now)
{
    for (int i = 0; i < 20; ++i) {
        QTest::qWait(150);
        const QImage next = grab(window);
        if (difference(next, now) == 0)
            return next;
        now = next;
    }
    return now;
}

// Waits until the window looks different from before, then until it holds still.
inline QImage waitForChange(const QString& window, const QImage& before, int timeoutMs = 10000)
{
    QImage now;
    waitUntil([&] { return difference(now = grab(window), before) >= 0.002; }, timeoutMs);
    return settle(window, now);
}

// The process's peak resident memory in MB (VmHWM), -1 when it cannot be read.
inline int peakMemoryMb(qint64 pid)
{
    const QRegularExpressionMatch match
        = QRegularExpression(QStringLiteral("VmHWM:\\s*(\\d+) kB"))
              .match(QString::fromLatin1(testfiles::read(QStringLiteral("/proc/%1/status").arg(pid))));
    return match.hasMatch() ? int(match.captured(1).toLongLong() / 1024) : -1;
}

// How long a window may take to show a key's effect before it counts as held by the program's work:
// ten times the 2 s promised on an idle machine, for one whose processors are all busy. The
// promise itself is timed in bench_readingpage (the GUI thread's longest stall).
constexpr int kAnswerPatienceMs = 20000;

// Presses the key and measures how long the window takes to show it: the milliseconds until its
// picture differs, -1 when it does not within the timeout. Starting xdotool is counted too. The
// window is first let settle: a change still under way (a page drawn late, a box sliding open)
// would pass for the answer, and a key that undoes it (Escape on that box) would seem unanswered.
inline qint64 answerTime(const QString& window, const QString& keyName, int timeoutMs = kAnswerPatienceMs)
{
    const QImage before = settle(window, grab(window));
    QElapsedTimer clock;
    clock.start();
    key(keyName);
    while (clock.elapsed() < timeoutMs) {
        if (difference(grab(window), before) >= 0.002)
            return clock.elapsed();
        QTest::qWait(20);
    }
    return -1;
}

// The question the program shows for a book it was given to open ("Book added!", with "Start
// reading now"): a visible window of the process besides the main window, once the splash is
// over. Empty when none comes.
inline QString waitForQuestion(qint64 pid, const QString& home, const QString& mainWindow)
{
    QString question;
    waitUntil(
        [&] {
            if (!logs(home).contains(QLatin1String("Splash min wait time is reached")))
                return false;
            for (const QString& id : visibleWindows(pid)) {
                if (id != mainWindow)
                    question = id;
            }
            return !question.isEmpty();
        },
        60000);
    return question;
}

// Clicks "Start reading now", the right one of the two buttons at the foot of the question, until
// the question is gone; then waits until the library records the book of the title as opened. A
// large book takes long to open on a busy machine, and a click after the question left would land
// on the page.
inline bool startReadingNow(qint64 pid, const QString& home, const QString& question, const QString& title)
{
    const QRect area = geometry(question);
    const auto opened = [&] {
        return queryLibrary(home, QStringLiteral("select time_last_view > 0 from books where title = ?"), { title })
            == QLatin1String("1");
    };
    const auto answered = [&] { return opened() || !visibleWindows(pid).contains(question); };
    if (!retryUntil([&] { click(QString(), area.bottomRight() - QPoint(70, 30), 1); }, answered)) {
        qWarning().noquote() << title << "- the question stays";
        return false;
    }
    if (!waitUntil(opened, 60000) || !waitUntil([&] { return !visibleWindows(pid).contains(question); })) {
        qWarning().noquote() << title << "- not recorded as opened";
        return false;
    }
    return true;
}

// The lines of dark text (or any dark marks) in an area of the picture, top to bottom, each the box
// of its dark pixels. Marks a few rows apart are one line, as an i and its dot.
inline QList<QRect> textLines(const QImage& image, const QRect& area)
{
    QList<QRect> lines;
    QRect line;
    int gap = 0;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        int left = -1, right = -1;
        for (int x = inside.left(); x <= inside.right(); ++x) {
            if (qGray(image.pixel(x, y)) < 110) {
                left = left < 0 ? x : left;
                right = x;
            }
        }
        if (left >= 0) {
            const QRect row(left, y, right - left + 1, 1);
            line = line.isNull() ? row : line.united(row);
            gap = 0;
        } else if (!line.isNull() && ++gap > 4) {
            lines << line;
            line = QRect();
        }
    }
    if (!line.isNull())
        lines << line;
    return lines;
}

} // namespace programdriver

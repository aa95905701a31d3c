// Time and memory of the HTML parser's check (the tests' HtmlParserCleaner) over chapters at the
// size limits: a realistic chapter of 16 MB and of 64 MB (the largest shown), once with nothing to
// remove (parsed only) and once with one handler at its end (parsed and written out again); and
// first the time of each of many ordinary chapters; and how soon the check answers the program's
// end. The peak memory is the process's high-water mark during the check, above what it held
// before. Usage: bench_parsercheck [megabytes...] (default 16 64)

#include "chapterbuilder.h"

#include "formats/endrequest.h"
#include "htmlparsercleaner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Resident memory in KB: now (VmRSS) or the high-water mark (VmHWM).
qint64 memoryKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Resets the high-water mark to what is resident now.
void resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QList<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes << qMax(1, atoi(argv[i]));
    if (sizes.isEmpty())
        sizes = { 16, 64 };
    QTextStream out(stdout);
    {
        // An ordinary chapter, where the thread that parses it costs most for its size.
        ChapterBuilder builder(1);
        builder.addRealisticContent(48 << 10);
        const QByteArray chapter = "<!DOCTYPE html><html><head><title>T</title></head><body>"
            + builder.bodyHtml().toUtf8() + "<p onclick=x()>end</p></body></html>";
        const int count = 200;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < count; ++i) {
            QByteArray stored;
            HtmlParserCleaner::clean(chapter, &stored);
        }
        out << count << " chapters of " << chapter.size() / 1024
            << " KB with one handler: " << double(timer.nsecsElapsed()) / 1e6 / count << " ms each\n"
            << Qt::flush;
    }
    for (const int megabytes : sizes) {
        ChapterBuilder builder(megabytes);
        builder.addRealisticContent(1 << 20);
        const QByteArray unit = builder.bodyHtml().toUtf8();
        QByteArray chapter = "<!DOCTYPE html><html><head><title>T</title></head><body>";
        while (chapter.size() < (megabytes << 20))
            chapter += unit;
        for (const bool handler : { false, true }) {
            const QByteArray data = handler ? chapter + "<p onclick=x()>end</p></body></html>" : chapter;
            resetPeak();
            const qint64 before = memoryKb("VmRSS:");
            QElapsedTimer timer;
            timer.start();
            QByteArray stored;
            const int removed = HtmlParserCleaner::clean(data, &stored);
            const qint64 ms = timer.elapsed();
            out << data.size() / (1 << 20) << " MB, " << (handler ? "one handler" : "nothing to remove") << ": " << ms
                << " ms, " << (memoryKb("VmHWM:") - before) / 1024 << " MB above the " << before / 1024 << " MB held; "
                << removed << " removed, " << (stored.size() == data.size() ? "kept" : "written out") << "\n"
                << Qt::flush;
            if (!handler)
                continue;
            // The program's end at points through the same step: how long until it answers.
            for (const double share : { 0.1, 0.5, 0.8, 0.95 }) {
                QElapsedTimer clock;
                clock.start();
                std::atomic<qint64> raisedAt { -1 };
                std::thread raiser([&clock, &raisedAt, delay = qint64(ms * share)] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                    raisedAt = clock.elapsed();
                    EndRequest::raise();
                });
                const int answer = HtmlParserCleaner::clean(data, &stored);
                const qint64 returned = clock.elapsed();
                raiser.join();
                EndRequest::clear();
                out << "  end request after " << raisedAt << " ms: "
                    << (answer == HtmlParserCleaner::Stopped
                               ? QStringLiteral("stopped %1 ms later").arg(returned - raisedAt)
                               : QStringLiteral("the step had finished"))
                    << "\n"
                    << Qt::flush;
                // The parse left behind ends on its own: not alongside the next one.
                while (HtmlParserCleaner::parsesRunning() > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    }
    return 0;
}

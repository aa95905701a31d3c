// Time and memory of the HTML parser's last step over chapters at the size limits: a realistic
// chapter of 16 MB and of 64 MB (the largest shown), once with nothing to remove (parsed only) and
// once with one handler at its end (parsed and written out again). The peak memory is the
// process's high-water mark during the step, above what it held before.
// Usage: bench_parsercheck [megabytes...] (default 16 64)

#include "chapterbuilder.h"

#include "formats/htmlparsercleaner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

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
        }
    }
    return 0;
}

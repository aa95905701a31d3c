// Unpack throughput of ZipReader::extractAll on a 20 MB comic-like ZIP, against `unzip -p`
// (the same inflating, written to /dev/null) and `unzip -o` (writing the files) on the same
// archive. Target: extractAll within 1.5x of `unzip -p`.
#include "zipwriter.h"

#include "arch/zipreader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {
constexpr int Runs = 5;

QByteArray noise(int size, QRandomGenerator& random)
{
    QByteArray data(size, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(data.data()), size / int(sizeof(quint32)));
    return data;
}

QByteArray prose(int size, QRandomGenerator& random)
{
    static const char* const words[] = { "the", "reader", "turned", "a", "page", "of", "old", "book", "and", "light",
        "fell", "across", "margin", "where", "someone", "had", "written", "in", "pencil", "long", "ago" };
    QByteArray text;
    text.reserve(size + 16);
    while (text.size() < size) {
        text += words[random.bounded(int(sizeof(words) / sizeof(words[0])))];
        text += random.bounded(12) == 0 ? ".\n" : " ";
    }
    text.truncate(size);
    return text;
}

// The best of Runs timings, in milliseconds; prepare runs untimed before each.
double bestOf(const std::function<void()>& prepare, const std::function<bool()>& run)
{
    double best = 1e12;
    for (int i = 0; i < Runs; ++i) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        if (!run()) {
            std::fprintf(stderr, "run failed\n");
            return -1;
        }
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

bool runUnzip(const QStringList& arguments)
{
    QProcess unzip;
    unzip.setStandardOutputFile(QProcess::nullDevice());
    unzip.start(QStringLiteral("unzip"), arguments);
    return unzip.waitForFinished(120000) && unzip.exitStatus() == QProcess::NormalExit && unzip.exitCode() == 0;
}
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); // one line per entry otherwise
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    // Pages that do not compress (images) and deflated text, as in comics and EPUB books.
    QRandomGenerator random(42);
    ZipWriter writer(dir.filePath("bench.cbz"));
    qint64 unpacked = 0;
    for (int i = 0; i < 40; ++i) {
        const QByteArray page = noise(400 * 1024, random);
        writer.add(QStringLiteral("pages/%1.jpg").arg(i, 3, 10, QLatin1Char('0')), page, i % 2 == 0);
        unpacked += page.size();
    }
    for (int i = 0; i < 40; ++i) {
        const QByteArray chapter = prose(500 * 1024, random);
        writer.add(QStringLiteral("text/chapter%1.xhtml").arg(i), chapter);
        unpacked += chapter.size();
    }
    if (!writer.write())
        return 1;
    const QString archive = dir.filePath("bench.cbz");
    const double archiveMb = QFileInfo(archive).size() / 1e6;
    const double unpackedMb = unpacked / 1e6;
    std::printf("archive: %.1f MB, %d entries, %.1f MB unpacked, best of %d runs\n", archiveMb, writer.entries().size(),
        unpackedMb, Runs);

    const QString out = dir.filePath("out");
    const auto clean = [&] { QDir(out).removeRecursively(); };
    const double ours = bestOf(clean, [&] { return ZipReader().extractAll(archive, out, nullptr); });
    std::printf("ZipReader::extractAll   %8.1f ms  %7.1f MB/s\n", ours, unpackedMb / ours * 1000);

    if (QStandardPaths::findExecutable(QStringLiteral("unzip")).isEmpty()) {
        std::printf("unzip not found: no comparison\n");
        return 0;
    }
    const double pipe = bestOf([] {}, [&] { return runUnzip({ QStringLiteral("-p"), archive }); });
    std::printf("unzip -p > /dev/null    %8.1f ms  %7.1f MB/s\n", pipe, unpackedMb / pipe * 1000);
    const double files = bestOf(clean, [&] {
        return runUnzip({ QStringLiteral("-o"), QStringLiteral("-q"), archive, QStringLiteral("-d"), out });
    });
    std::printf("unzip -o (files)        %8.1f ms  %7.1f MB/s\n", files, unpackedMb / files * 1000);
    std::printf("extractAll / unzip -p = %.2f (target <= 1.50)\n", ours / pipe);
    return 0;
}

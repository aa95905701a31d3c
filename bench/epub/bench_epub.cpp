// Converts a generated EPUB of about 5 MB (300 chapters, images, some chapters to clean) and
// compares the time with unpacking it with unzip, and with unzip plus one XML parse of every
// chapter. First, markup that once made the removal of unsafe parts quadratic, at 256 KB and
// 1 MB: comments closed far away or never, scripts never closed, "<?" instructions, document
// types and objects never closed; for each the time of the removal (target < 200 ms).
// Usage: bench_epub [runs]

#include "epubbuilder.h"

#include "formats/epub/epubdocument.h"
#include "formats/epub/epubparser.h"
#include "formats/epub/htmltextcleaner.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

const int Chapters = 300;
const int Images = 40;

QString paragraph(QRandomGenerator& random)
{
    static const char* const words[] = { "the", "reader", "turned", "a", "page", "and", "light", "fell", "across",
        "quiet", "room", "where", "nothing", "moved", "except", "dust", "in", "slow", "air", "of", "evening" };
    QString text;
    for (int i = 0; i < 90; ++i) {
        text += QLatin1String(words[random.bounded(int(sizeof(words) / sizeof(words[0])))]);
        text += (i % 11 == 5)
            ? QStringLiteral(" <i>") + QLatin1String(words[random.bounded(5)]) + QStringLiteral("</i> ")
            : QStringLiteral(" ");
    }
    return QStringLiteral("<p>") + text + QStringLiteral("</p>\n");
}

QByteArray noiseImage(QRandomGenerator& random)
{
    QImage image(180, 180, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = random.generate() | 0xff000000u;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

bool writeBook(const QString& path)
{
    QRandomGenerator random(42);
    EpubBuilder builder;
    builder.setTitle(QStringLiteral("Benchmark"));
    for (int i = 0; i < Images; ++i) {
        const QString href = QStringLiteral("images/img%1.png").arg(i);
        if (i == 0)
            builder.setCover(href, noiseImage(random));
        else
            builder.addResource(QStringLiteral("img%1").arg(i), href, noiseImage(random), QStringLiteral("image/png"));
    }
    for (int c = 0; c < Chapters; ++c) {
        QString body = QStringLiteral("<h1>Chapter %1</h1>\n").arg(c + 1);
        for (int p = 0; p < 35; ++p)
            body += paragraph(random);
        body += QStringLiteral("<p><img src=\"../images/img%1.png\" alt=\"\"/></p>\n").arg(c % Images);
        // Every tenth chapter carries what has to be removed.
        if (c % 10 == 3)
            body += QStringLiteral("<script>track()</script><p onclick=\"x()\">tap</p>");
        builder.addChapter(QStringLiteral("c%1").arg(c), QStringLiteral("text/ch%1.xhtml").arg(c),
            QStringLiteral("Chapter %1").arg(c + 1), body);
    }
    return builder.write(path);
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

double unzipMs(const QString& unzip, const QString& book, const QString& dir)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(unzip, { QStringLiteral("-q"), QStringLiteral("-o"), book, QStringLiteral("-d"), dir });
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e6;
}

// unzip, then one streaming parse of every chapter.
double baselineMs(const QString& unzip, const QString& book, const QString& dir)
{
    QElapsedTimer timer;
    timer.start();
    if (unzipMs(unzip, book, dir) < 0)
        return -1;
    QDirIterator it(dir, { QStringLiteral("*.xhtml") }, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        QXmlStreamReader reader(file.readAll());
        while (!reader.atEnd())
            reader.readNext();
    }
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The conversion's own log lines would dominate the console.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            fprintf(stderr, "%s\n", qPrintable(message));
    });
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 5;
    QTextStream out(stdout);

    const QList<QPair<QString, QByteArray>> craftedUnits { { QStringLiteral("closed comments"), "<!-- a -->b" },
        { QStringLiteral("comments closed by \"--!>\""), "<!-- a --!>b" },
        { QStringLiteral("comments never closed in a style"), "<style><!--<p>" },
        { QStringLiteral("unclosed scripts"), "<script>x<p>" }, { QStringLiteral("\"<?\" before headings"), "<?<h1>" },
        { QStringLiteral("document types"), "<!doctype a>" },
        { QStringLiteral("unclosed objects"), "<object data=\"javascript:a()\">x" } };
    for (const auto& unit : craftedUnits) {
        for (const int kilobytes : { 256, 1024 }) {
            QByteArray chapter = "<html><body><p>Text.</p>";
            while (chapter.size() < kilobytes * 1024)
                chapter += unit.second;
            // What each unit waits for stands at the very end.
            chapter += "</style></script></object>?>--></body></html>";
            QByteArray cleaned;
            QElapsedTimer timer;
            timer.start();
            epub::HtmlTextCleaner::clean(chapter, &cleaned);
            out << "crafted chapter, " << unit.first << ", " << kilobytes << " KB: removal of unsafe parts "
                << timer.elapsed() << " ms (target < 200 ms)\n"
                << Qt::flush;
        }
    }

    QTemporaryDir dir;
    const QString book = dir.filePath(QStringLiteral("book.epub"));
    if (!writeBook(book)) {
        out << "cannot write the book\n";
        return 1;
    }
    const double megabytes = QFileInfo(book).size() / 1048576.0;
    out << QStringLiteral("book: %1 MB, %2 chapters, %3 images\n").arg(megabytes, 0, 'f', 2).arg(Chapters).arg(Images);

    QVector<double> first;
    QVector<double> again;
    QVector<double> baseline;
    QVector<double> unzipOnly;
    const QString unzip = QStandardPaths::findExecutable(QStringLiteral("unzip"));
    for (int run = 0; run < runs; ++run) {
        const QString output = dir.filePath(QStringLiteral("out%1").arg(run));
        for (int pass = 0; pass < 2; ++pass) {
            epub::EpubDocument document(book);
            QElapsedTimer timer;
            timer.start();
            const bool loaded = document.load(output);
            const double ms = timer.nsecsElapsed() / 1e6;
            if (!loaded || document.chapters().size() != Chapters) {
                out << "conversion failed\n";
                return 1;
            }
            (pass == 0 ? first : again).append(ms);
        }
        if (!unzip.isEmpty()) {
            unzipOnly.append(unzipMs(unzip, book, dir.filePath(QStringLiteral("bare%1").arg(run))));
            baseline.append(baselineMs(unzip, book, dir.filePath(QStringLiteral("unzip%1").arg(run))));
        }
    }

    out << QStringLiteral("conversion into a new folder: median %1 ms (%2 ms per MB)\n")
               .arg(median(first), 0, 'f', 1)
               .arg(median(first) / megabytes, 0, 'f', 1);
    out << QStringLiteral("conversion into the same folder again: median %1 ms\n").arg(median(again), 0, 'f', 1);
    if (baseline.isEmpty() || median(baseline) <= 0) {
        out << "unzip not found: no baseline\n";
    } else {
        out << QStringLiteral("unzip alone: median %1 ms; ratio %2 (target <= 2)\n")
                   .arg(median(unzipOnly), 0, 'f', 1)
                   .arg(median(first) / median(unzipOnly), 0, 'f', 2);
        out << QStringLiteral("unzip + one parse of every chapter: median %1 ms; ratio %2\n")
                   .arg(median(baseline), 0, 'f', 1)
                   .arg(median(first) / median(baseline), 0, 'f', 2);
    }
    out << QStringLiteral("target: under 500 ms for 5 MB: %1\n")
               .arg(median(first) * 5.0 / megabytes < 500 ? QStringLiteral("met") : QStringLiteral("missed"));
    return 0;
}

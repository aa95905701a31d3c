// Converts a generated PalmDoc MOBI book of about 5 MB of text (UTF-8, headings every few
// kilobytes, filepos links, a few images) and reports the time of each stage. First, once each,
// hostile books: 250,000 unclosed headings, all but five of them empty; 250,000 unclosed headings
// each followed by a sentence; 1,000,000 headings that show nothing (no-break spaces, empty inline
// elements, line breaks, empty anchors). For each its conversion time, the characters its heading
// passes read, the process's peak resident memory, its contents entries and the chapter files
// made; then how soon a second conversion stops when the program's end is raised halfway through
// it (target < 2000 ms: the reader ends within 2 s of a SIGTERM). Then markup that once made
// the heading passes quadratic, at 256 KB and 1 MB: "<" without a name, headings whose start
// tag swallows their end tag, comments closed far away, scripts never closed and "<?" before
// headings; for each the time of the heading passes (markup to HTML, target < 200 ms) and of the
// whole conversion. Last, at the same sizes, markup that once made the nesting pass walk its open
// elements or its list of formatting elements for each tag: end tags of no element in deep SVG,
// end tags and start tags of elements out of reach or out of scope past thousands of spans, and
// formatting elements each with attributes of its own (the parser keeps them all) or reopened in
// each of thousands of blocks; then end tags the parser ignores under 190 open elements, which the
// nesting pass keeps. For each the time of the nesting pass (target < 200 ms) and of the whole
// conversion. Then a paragraph of links never closed, at 512 KB and 1 MB: the time of the run
// cutting (target < 200 ms) and of the whole conversion.
// Usage: bench_mobi [text megabytes, default 5] [runs, default 5]

#include "formats/endrequest.h"
#include "formats/htmlnesting.h"
#include "formats/inlineruns.h"
#include "formats/mobi/mobi.h"
#include "formats/mobi/mobidocument.h"
#include "mobiwriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <thread>

#include <sys/resource.h>

namespace {

QByteArray bookText(qint64 size)
{
    const QByteArray russian = QStringLiteral("<p>Все счастливые семьи похожи друг на друга, каждая несчастливая "
                                              "семья несчастлива по-своему. Всё смешалось в доме Облонских.</p>\n")
                                   .toUtf8();
    const QByteArray english = "<p>It was the best of times, it was the worst of times, it was the age of wisdom, "
                               "it was the age of foolishness, it was the epoch of belief.</p>\n";
    QByteArray text = "<html><head><guide></guide></head><body>";
    text.reserve(int(size + 4096));
    QList<int> anchors;
    int chapter = 0;
    while (text.size() < size) {
        if (chapter % 50 == 0)
            anchors.append(text.size());
        text += "<h2 class=\"chapter\">Chapter <b>" + QByteArray::number(++chapter) + "</b></h2>\n";
        for (int p = 0; p < 12; ++p)
            text += (p % 3 ? russian : english);
        text += chapter % 10 ? QByteArray("<mbp:pagebreak/>") : QByteArray("<img recindex=\"00001\">");
    }
    // A contents page of links at the end (offsets are not shifted by text after them).
    for (int offset : anchors)
        text += "<a filepos=" + QByteArray::number(offset).rightJustified(10, '0') + ">Part</a><br/>";
    return text + "</body></html>";
}

QByteArray unclosedHeadings(int headings, int real)
{
    QByteArray text = "<html><head></head><body>";
    for (int i = 0; i < headings; ++i)
        text += i % (headings / real) ? QByteArray("<h1>") : "<h1>Part " + QByteArray::number(i) + "<p>Text.</p>";
    return text + "</body></html>";
}

QByteArray headingsWithSentences(int headings)
{
    QByteArray text = "<html><head></head><body>";
    for (int i = 0; i < headings; ++i)
        text += "<h1>Heading " + QByteArray::number(i) + "<p>Line " + QByteArray::number(i) + " ends.";
    return text + "</body></html>";
}

QByteArray headingsShowingNothing(int headings)
{
    const QList<QByteArray> forms { "<h1>&#160;</h1>", "<h2>&nbsp;</h2>", "<h3><b></b></h3>", "<h1><br></h1>",
        "<h2><br/></h2>", "<h3><a id=\"e\"></a></h3>", "<h4> <i>&#xA0;</i> </h4>", "<h1><span></span>&#x2003;</h1>" };
    QByteArray text = "<html><head></head><body><p>First.</p>";
    for (int i = 0; i < headings; ++i)
        text += forms.at(i % forms.size());
    return text + "<h1>Last</h1><p>Last words.</p></body></html>";
}

// The process's peak resident memory so far, in MB.
double peakMb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// Writes a MOBI book of the text as name.mobi in the folder and converts it: the time of the
// whole conversion, in ms.
qint64 conversionMs(const QByteArray& text, const QTemporaryDir& dir, const QString& name)
{
    MobiWriter hostile;
    hostile.setText(text);
    const QString path = dir.filePath(name + QStringLiteral(".mobi"));
    hostile.write(path);
    QElapsedTimer timer;
    timer.start();
    mobi::MobiDocument document(path);
    document.load(dir.filePath(name));
    return timer.elapsed();
}

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

}

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const double megabytes = argc > 1 ? QByteArray(argv[1]).toDouble() : 5.0;
    const int runs = argc > 2 ? qMax(1, QByteArray(argv[2]).toInt()) : 5;
    QTextStream out(stdout);

    QTemporaryDir dir;
    const QList<QPair<QString, QByteArray>> hostileBooks {
        { QStringLiteral("250,000 unclosed headings, all but 5 empty"), unclosedHeadings(250000, 5) },
        { QStringLiteral("250,000 unclosed headings with sentences"), headingsWithSentences(250000) },
        { QStringLiteral("1,000,000 headings that show nothing"), headingsShowingNothing(1000000) }
    };
    for (int k = 0; k < hostileBooks.size(); ++k) {
        MobiWriter hostile;
        hostile.setText(hostileBooks.at(k).second);
        const QString path = dir.filePath(QStringLiteral("hostile%1.mobi").arg(k));
        hostile.write(path);
        const double before = peakMb();
        QElapsedTimer timer;
        timer.start();
        mobi::MobiDocument document(path);
        document.load(dir.filePath(QStringLiteral("hostile%1").arg(k)));
        const qint64 converted = timer.elapsed();
        out << "hostile book, " << hostileBooks.at(k).first << ", " << hostileBooks.at(k).second.size()
            << " bytes of text: " << converted << " ms, heading passes read " << document.headingCharactersRead()
            << " characters, " << document.toc().size() << " contents entries, " << document.chapters().size()
            << " chapter files, peak resident " << peakMb() << " MB (" << before << " MB before)\n"
            << Qt::flush;
        QElapsedTimer stopping;
        std::thread conversion([&] {
            mobi::MobiDocument again(path);
            again.load(dir.filePath(QStringLiteral("hostile%1-stopped").arg(k)));
        });
        QThread::msleep(ulong(converted / 2));
        stopping.start();
        EndRequest::raise();
        conversion.join();
        EndRequest::clear();
        out << "  end raised after " << converted / 2 << " ms of a second conversion: stopped in " << stopping.elapsed()
            << " ms (target < 2000)\n"
            << Qt::flush;
    }
    const QList<QPair<QString, QByteArray>> hostileMarkups { { QStringLiteral("stray \"<\""), "<" },
        { QStringLiteral("headings whose start tag swallows their end tag"), "<b<h1</h1>" },
        { QStringLiteral("closed comments"), "<h1><!-- a -->b" },
        { QStringLiteral("unclosed scripts"), "<h2><script>x<p>" },
        { QStringLiteral("\"<?\" before headings"), "<?<h1>" } };
    for (const auto& markup : hostileMarkups) {
        for (const int kilobytes : { 256, 1024 }) {
            QByteArray text = "<html><head></head><body><p>Text.</p>";
            while (text.size() < kilobytes * 1024)
                text += markup.second;
            text += "</body></html>";
            MobiWriter hostile;
            hostile.setText(text);
            const QString path = dir.filePath(QStringLiteral("markup%1.mobi").arg(kilobytes));
            hostile.write(path);
            mobi::MobiDocument document(path);
            QElapsedTimer timer;
            timer.start();
            document.toHtml(QString::fromUtf8(text));
            const qint64 passes = timer.restart();
            document.load(dir.filePath(QStringLiteral("markup%1").arg(kilobytes)));
            out << "hostile markup, " << markup.first << ", " << kilobytes << " KB: heading passes " << passes
                << " ms (target < 200 ms), whole conversion " << timer.elapsed() << " ms\n"
                << Qt::flush;
        }
    }

    // A paragraph of links never closed: past 32 open, no cut can be made, and the run cutting
    // once searched on to the end of the run for a place to cut after each of its texts.
    for (const int kilobytes : { 512, 1024 }) {
        QByteArray text = "<html><head></head><body><p>";
        const int runStart = text.size();
        while (text.size() - runStart <= kilobytes * 1024)
            text += "<a href=#x>w ";
        text += "</p></body></html>";
        QElapsedTimer timer;
        timer.start();
        int runs = 0;
        InlineRuns::blocked(text, HtmlNesting::Html, &runs);
        const qint64 pass = timer.elapsed();
        out << "hostile run, a paragraph of links never closed, " << kilobytes << " KB: run cutting " << pass
            << " ms (target < 200 ms, " << runs << " run cut), whole conversion "
            << conversionMs(text, dir, QStringLiteral("links%1").arg(kilobytes)) << " ms\n"
            << Qt::flush;
    }

    struct Nesting {
        QString name;
        QByteArray prefix;
        QByteArray unit;
        QByteArray closing;
    };
    QByteArray leftOpen = "<div>";
    for (int k = 0; k < 3000; ++k)
        leftOpen += "<b x=" + QByteArray::number(k) + '>';
    const QByteArray fewLeftOpen = leftOpen.left(leftOpen.indexOf("<b x=150>"));
    const QList<Nesting> nestingMarkups { { QStringLiteral("end tags of no SVG element"), "<svg>", "<g>", "</q>" },
        { QStringLiteral("end tags of no SVG element in SVG in HTML"), "<svg><q><foreignObject><div><svg>", "<g>",
            "</q>" },
        { QStringLiteral("end tags of an element out of reach"), "<q><div>", "<span>", "</q>" },
        { QStringLiteral("paragraph ends out of scope"), "<p><button>", "<span>", "</p>" },
        { QStringLiteral("headings out of scope"), "<h1><object>", "<span>", "</h2>" },
        { QStringLiteral("list items past a block"), "<li><section>", "<span>", "<li></li>" },
        { QStringLiteral("cells started past a table"), "<table><td><table>", "<span>", "<td></td>" },
        { QStringLiteral("formatting elements each of its own attributes, then ends of none left open"), "", "<b x=%1>",
            "</i>" },
        { QStringLiteral("end tags of no element under 190 open spans"), QByteArray("<span>").repeated(190), "</q>",
            "" },
        { QStringLiteral("paragraph ends under 190 open spans"), QByteArray("<span>").repeated(190), "</p>", "" },
        { QStringLiteral("3,000 formatting elements reopened in each block"), leftOpen, "</div><div>x", "" },
        { QStringLiteral("150 formatting elements reopened in each block"), fewLeftOpen, "</div><div>x", "" } };
    for (const Nesting& markup : nestingMarkups) {
        for (const int kilobytes : { 256, 1024 }) {
            QByteArray text = "<html><head></head><body><p>Text.</p>" + markup.prefix;
            int units = 0;
            for (; text.size() + units * markup.closing.size() < kilobytes * 1024; ++units)
                text += QByteArray(markup.unit).replace("%1", QByteArray::number(units));
            text += markup.closing.repeated(units) + "</body></html>";
            QElapsedTimer timer;
            timer.start();
            HtmlNesting::bounded(text, HtmlNesting::Html);
            const qint64 pass = timer.elapsed();
            out << "hostile nesting, " << markup.name << ", " << text.size() / 1024 << " KB: nesting pass " << pass
                << " ms (target < 200 ms), whole conversion "
                << conversionMs(text, dir, QStringLiteral("nesting%1").arg(kilobytes)) << " ms\n"
                << Qt::flush;
        }
    }

    MobiWriter writer;
    writer.setText(bookText(qint64(megabytes * 1024 * 1024)));
    writer.setExtraDataFlags(0x3);
    writer.setFullName("Benchmark");
    for (int i = 0; i < 4; ++i)
        writer.addImage(MobiWriter::image(QSize(600, 800), QColor::fromHsv(i * 60, 200, 200), "JPG"));
    const QString path = dir.filePath(QStringLiteral("bench.mobi"));
    writer.write(path);
    out << "book: " << QFileInfo(path).size() << " bytes, " << writer.textRecordCount() << " text records\n";

    QList<qint64> decompress, decode, convert;
    int headings = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        {
            mobi::Mobi reader(path);
            timer.start();
            const QByteArray bytes = reader.textBytes();
            decompress.append(timer.nsecsElapsed() / 1000);
            timer.restart();
            const QString text = reader.mobiHead().textCodec()->toUnicode(bytes);
            decode.append(timer.nsecsElapsed() / 1000);
            if (run == 0)
                out << "text: " << bytes.size() << " bytes, " << text.size() << " characters\n";
        }
        const QString folder = dir.filePath(QStringLiteral("out"));
        QDir().mkpath(folder);
        timer.restart();
        mobi::MobiDocument document(path);
        document.load(folder);
        convert.append(timer.nsecsElapsed() / 1000);
        headings = document.toc().size();
    }
    out << "decompress (median of " << runs << "): " << median(decompress) / 1000.0 << " ms\n";
    out << "decode UTF-8: " << median(decode) / 1000.0 << " ms\n";
    out << "whole conversion (load: text, HTML, chapter file, " << headings
        << " contents entries, images): " << median(convert) / 1000.0 << " ms (target < 300 ms)\n";
    return 0;
}

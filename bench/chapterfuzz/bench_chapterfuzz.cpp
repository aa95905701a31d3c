// Runs the passes over chapter markup on mutated chapters, as a fuzzer would: seeds of XHTML,
// HTML, deep nesting, MOBI headings and long runs, edited at random with markup pieces (split
// tags, unclosed quotes, tags and comments, NULs, SVG and MathML), also in UTF-16 and UTF-32. Two
// oracles: the reader's web view for what could run (each output loaded as the reader loads a
// chapter, its guard run, then walked by a script of its own, viewedmarkup), and the HTML5
// parser (gumbo) for the characters a chapter shows. For each chapter:
// - the EPUB cleaning: a second cleaning of what it stored finds nothing to remove; the stored
//   chapter, under the name it is shown by, holds nothing that could run once the view's guard has
//   read it, and one shown by the HTML parser shows every character the parser shows in what the
//   book gave, in order;
// - the nesting pass and the MOBI heading passes: what each writes holds nothing that could run
//   once the guard has read it, and nothing the view sees that could run and that what it read did
//   not hold; each heading pass reads at most four characters per character of the text;
// - the MOBI markup to HTML with the nesting, run and cutting passes: the same for the parts
//   against the book's text, and the parts show what the parser shows in the book.
// The slowest chapter per kilobyte of the passes' own time is reported. Each finding is written to
// the folder given (by default the current one) as chapterfuzz-<round>.bin, and the exit code is 1
// when there is one.
// Usage: bench_chapterfuzz [rounds, default 20000] [seed, default 1] [folder for findings]

#include "formats/epub/chaptercleaner.h"
#include "formats/htmlnesting.h"
#include "formats/inlineruns.h"
#include "formats/mobi/chapterparts.h"
#include "formats/mobi/headingmarkup.h"
#include "formats/mobi/mobidocument.h"
#include "formats/textdocument.h"

#include "parsedmarkup.h"
#include "viewedmarkup.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTextCodec>
#include <QTextStream>

namespace {

QList<QByteArray> seeds()
{
    const QByteArray page = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\">"
                            "<head><title>T</title><style>p { color: red }</style></head><body>"
                            "<h1 id=\"c1\">One</h1><p onclick=\"a()\">The <b>loom</b> ran.</p>"
                            "<p><a href=\"#c1\">back</a><script>z()</script></p></body></html>";
    QByteArray deep = "<html><body>" + QByteArray("<div>").repeated(260) + "<p>x<<span>script>deep words<</span>"
        + "/script>y</p><p></<hh2>calibre7\">Home</p>" + QByteArray("</div>").repeated(260) + "</body></html>";
    QByteArray headings = "<html><body>";
    for (int i = 0; i < 300; ++i)
        headings += "<h2>Part " + QByteArray::number(i) + "<p>Line " + QByteArray::number(i) + ".</p><h3>&nbsp;</h3>";
    headings += "</body></html>";
    QByteArray lines = "<html><body>";
    for (int i = 0; i < 400; ++i)
        lines += "The shuttle flew " + QByteArray::number(i) + " times.<br/>\n";
    lines += "</body></html>";
    return { page, deep, headings, lines,
        "<html><body><p>a<br><script>b()</script><title>t</title><iframe src=x></iframe></body></html>" };
}

const char* const kPieces[] = { "<", ">", "/", "\"", "'", "=", " ", "\0", "script", "<script>", "</script>", "<<span>",
    "</span>", "<!--", "-->", "<?", "?>", "<![CDATA[", "]]>", "<h1", "</h1>", "<h2 '", "<b", "<b<h1</h1>", "<div>",
    "</div>", "<p>", "</p>", "onclick=", "javascript:", "&#106;", "&nbsp;", "<title>", "</title>", "<!DOCTYPE html [",
    "]>", "<br/>", "\n", "<a id='x' name=\"y\">", "<img recindex=\"00001\">", "<svg:script>", "<svg>", "</svg>",
    "<math>", "<mi>", "<mtext>", "<foreignObject>", "<desc>", "<annotation-xml encoding=text/html>", "<em>", "<style>",
    "<textarea>", "<![CDATA[ a > <img src=x onerror=y()> ]]>", "<a href=&#0000000106;avascript:x()>" };

QByteArray mutate(QByteArray data, QRandomGenerator& random)
{
    const int pieces = int(sizeof(kPieces) / sizeof(kPieces[0]));
    for (int edits = 1 + random.bounded(8); edits > 0; --edits) {
        const int at = random.bounded(data.size() + 1);
        switch (random.bounded(5)) {
        case 0:
            data.remove(at, random.bounded(16));
            break;
        case 1: // a stretch repeated: many of one construct
            data.insert(at, data.mid(at, 1 + random.bounded(24)).repeated(1 + random.bounded(64)));
            break;
        default: {
            const char* piece = kPieces[random.bounded(pieces)];
            data.insert(at, *piece ? QByteArray(piece) : QByteArray(1, '\0'));
        }
        }
    }
    return data;
}

QByteArray encoded(const QByteArray& utf8, int form)
{
    static const char* const codecs[] = { "UTF-16LE", "UTF-16BE", "UTF-32LE" };
    static const QByteArray marks[]
        = { QByteArray("\xFF\xFE", 2), QByteArray("\xFE\xFF", 2), QByteArray("\xFF\xFE\x00\x00", 4) };
    if (form == 0)
        return utf8;
    return marks[form - 1] + QTextCodec::codecForName(codecs[form - 1])->fromUnicode(QString::fromUtf8(utf8));
}

// The chapter's text as the book gives it, in UTF-8: the codec's own byte-order mark after ours
// is a character of the text.
QByteArray decoded(const QByteArray& data, int form)
{
    static const char* const codecs[] = { "UTF-16LE", "UTF-16BE", "UTF-32LE" };
    if (form == 0)
        return data;
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    const QString text
        = QTextCodec::codecForName(codecs[form - 1])
              ->toUnicode(data.constData() + (form == 3 ? 4 : 2), data.size() - (form == 3 ? 4 : 2), &state);
    return text.toUtf8();
}

// The time of a pass adds to *ns; what it returns.
template <typename Pass> auto timed(qint64* ns, Pass pass)
{
    QElapsedTimer timer;
    timer.start();
    auto result = pass();
    *ns += timer.nsecsElapsed();
    return result;
}

// What a pass's output holds that could run: what the view's guard leaves, and what the view
// sees in it and not in what the pass read. Empty when nothing.
QString unsafeOutput(const QByteArray& before, const QByteArray& after, const QString& name)
{
    const QStringList left = viewedmarkup::runnable(after, name);
    if (!left.isEmpty())
        return QStringLiteral("holds what could run after the view's guard: ") + left.join(QLatin1Char(' '));
    const QStringList made = viewedmarkup::added(viewedmarkup::runnable(before, name, viewedmarkup::AsParsed),
        viewedmarkup::runnable(after, name, viewedmarkup::AsParsed));
    return made.isEmpty() ? QString() : QStringLiteral("made what could run: ") + made.join(QLatin1Char(' '));
}

} // namespace

int main(int argc, char** argv)
{
    // The web view needs no screen: run by hand anywhere, offscreen unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The passes log every chapter they rewrite.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg)
            fprintf(stderr, "%s\n", qPrintable(message));
    });
    const int rounds = argc > 1 ? qMax(1, atoi(argv[1])) : 20000;
    QRandomGenerator random(argc > 2 ? quint32(atoi(argv[2])) : 1u);
    const QDir finds(argc > 3 ? QString::fromLocal8Bit(argv[3]) : QDir::currentPath());
    if (!finds.mkpath(QStringLiteral("."))) {
        fprintf(stderr, "The folder for findings cannot be made: %s\n", qPrintable(finds.path()));
        return 2;
    }
    QTextStream out(stdout);
    const QList<QByteArray> all = seeds();
    int findings = 0;
    double slowest = 0;
    int slowestRound = -1;
    const auto found = [&](int round, const QByteArray& data, const QString& what) {
        ++findings;
        const QString path = finds.filePath(QStringLiteral("chapterfuzz-%1.bin").arg(round));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            out << "the finding could not be written: " << file.errorString() << "\n";
        out << "round " << round << ": " << what << " (" << path << ")\n" << Qt::flush;
    };
    QElapsedTimer total;
    total.start();
    for (int round = 0; round < rounds; ++round) {
        const QByteArray utf8 = mutate(all.at(round % all.size()), random);
        const int form = random.bounded(8) == 0 ? 1 + random.bounded(3) : 0;
        const QByteArray data = encoded(utf8, form);
        // The passes' own time: the views take far longer.
        qint64 passes = 0;

        QByteArray stored;
        const QString name = round % 2 ? QStringLiteral("c.xhtml") : QStringLiteral("c.html");
        const epub::ChapterCleaner::Result cleaned
            = timed(&passes, [&] { return epub::ChapterCleaner::cleanData(data, &stored, name); });
        QByteArray again;
        if (epub::ChapterCleaner::cleanData(stored, &again, name).removed > 0)
            found(round, data, QStringLiteral("a second cleaning still removes something"));
        const QString shown = TextDocument::shownName(name, cleaned.kind);
        if (cleaned.outcome != epub::ChapterCleaner::Skipped) {
            const QStringList left = viewedmarkup::runnable(stored, shown);
            if (!left.isEmpty())
                found(round, data,
                    QStringLiteral("the stored chapter holds what could run after the view's guard: ")
                        + left.join(QLatin1Char(' ')));
        }
        // Kept in UTF-16 or UTF-32 when nothing changed: the parser reads UTF-8 only.
        const bool readable = stored.startsWith("\xEF\xBB\xBF") || stored == utf8;
        if (cleaned.outcome != epub::ChapterCleaner::Skipped && readable && !TextDocument::nameReadsAsXml(shown)) {
            const QByteArray html = stored.startsWith("\xEF\xBB\xBF") ? stored.mid(3) : stored;
            if (!parsedmarkup::keepsShownText(
                    parsedmarkup::read(decoded(data, form)).shown, parsedmarkup::read(html).shown))
                found(round, data, QStringLiteral("the stored chapter lost characters the parser shows"));
        }

        int changes = 0;
        const QByteArray bounded
            = timed(&passes, [&] { return HtmlNesting::bounded(utf8, HtmlNesting::Html, &changes, 40); });
        const QString html = QStringLiteral("c.html");
        const QString nested = changes > 0 ? unsafeOutput(utf8, bounded, html) : QString();
        if (!nested.isEmpty())
            found(round, utf8, QStringLiteral("the nesting pass's output ") + nested);

        // NULs kept, as the book's codec keeps them.
        const QString text = QString::fromUtf8(utf8.constData(), utf8.size());
        const QByteArray asRead = text.toUtf8();
        qint64 scanned[3] = { 0, 0, 0 };
        timed(&passes, [&] { return mobi::HeadingMarkup::find(text, &scanned[0]); });
        const QString closed = timed(&passes, [&] { return mobi::HeadingMarkup::closeOpen(text, &scanned[1]); });
        const QString dropped = timed(&passes, [&] { return mobi::HeadingMarkup::dropEmpty(text, 0, &scanned[2]); });
        for (const QString* rewritten : { &closed, &dropped }) {
            const QString unsafe = *rewritten != text ? unsafeOutput(asRead, rewritten->toUtf8(), html) : QString();
            if (!unsafe.isEmpty())
                found(round, utf8, QStringLiteral("a heading pass's output ") + unsafe);
        }
        for (const qint64 count : scanned) {
            if (count > 4 * qint64(text.size()) + 64)
                found(
                    round, utf8, QStringLiteral("a heading pass read %1 characters of %2").arg(count).arg(text.size()));
        }
        int runs = 0;
        const QList<QByteArray> cut = timed(&passes, [&] {
            mobi::MobiDocument document(QStringLiteral("/nonexistent.mobi"));
            QVector<int> starts;
            QByteArray chapter = HtmlNesting::bounded(
                document.toHtml(text).toUtf8(), HtmlNesting::Html, &changes, HtmlNesting::MaxDepth, &starts);
            chapter = InlineRuns::blocked(chapter, HtmlNesting::Html, &runs, 4096, 512);
            // The starts the nesting pass found hold for the chapter only as it left it.
            return mobi::ChapterParts::cut(
                chapter, "<head></head>", { 8192, 64, 2048, 16 }, changes == 0 && runs == 0 ? &starts : nullptr);
        });
        QString parts;
        const QStringList inBook = viewedmarkup::runnable(asRead, html, viewedmarkup::AsParsed);
        for (const QByteArray& part : cut) {
            const QStringList left = viewedmarkup::runnable(part, html);
            if (!left.isEmpty())
                found(round, utf8,
                    QStringLiteral("a MOBI part holds what could run after the view's guard: ")
                        + left.join(QLatin1Char(' ')));
            const QStringList made
                = viewedmarkup::added(inBook, viewedmarkup::runnable(part, html, viewedmarkup::AsParsed));
            if (!made.isEmpty())
                found(
                    round, utf8, QStringLiteral("the MOBI passes made what could run: ") + made.join(QLatin1Char(' ')));
            parts += parsedmarkup::read(part).shown;
        }
        if (!parsedmarkup::keepsShownText(parsedmarkup::read(utf8).shown, parts))
            found(round, utf8, QStringLiteral("the MOBI parts lost characters the parser shows"));

        const double perKb = passes / 1e6 / qMax(1.0, data.size() / 1024.0);
        if (perKb > slowest) {
            slowest = perKb;
            slowestRound = round;
        }
        if ((round + 1) % 1000 == 0)
            out << round + 1 << " chapters, " << findings << " findings, " << total.elapsed() / 1000 << " s\n"
                << Qt::flush;
    }
    out << rounds << " chapters in " << total.elapsed() << " ms; " << findings << " findings; slowest " << slowest
        << " ms per KB (round " << slowestRound << ")\n";
    return findings > 0 ? 1 : 0;
}

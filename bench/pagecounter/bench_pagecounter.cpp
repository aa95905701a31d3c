// Peak memory of the page-counting helper while it counts the pages of books with one very long
// chapter, about 5 MB each: plain text, EPUB, MOBI and FB2, of ordinary and of hostile markup.
// Each book gets a helper of its own; its peak resident size (VmHWM) is read from /proc once the
// page count is known. Then the time the helper's chapter page takes to count a long chapter in
// pieces, per piece: a reference manual and paragraphs one to a line, each as a chapter of one
// piece and one of eight of the same text per piece, opened in pieces and laid out piece by piece
// in a two-page view of 1400 x 900, in this process. Under callgrind,
// `--toggle-collect='*countInPieces*'` gives the instructions of the counts alone;
// BENCH_ENGINE_SCRIPT=file lays them out with that engine script instead of the built-in one.
// Last, the program's end while a helper counts such a book: the time from the stop message to
// the helper gone (a helper too busy to read it is killed).
// Usage: bench_pagecounter [megabytes, default 5] [part of the names of the books to measure]
// Targets: the helper stays under 400 MB on any book; it is let go within 2 s; a piece of eight
// takes no more than half as long again as a piece alone.

#include "bookcontext.h"
#include "bookpageparams.h"
#include "chapterbuilder.h"
#include "chapterlayout.h"
#include "dataexchangesvc.h"
#include "epubbuilder.h"
#include "fb2builder.h"
#include "jsengine/jsengine.h"
#include "mobiwriter.h"
#include "models/bookdto.h"
#include "models/bookmodel.h"
#include "readingfixture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUrl>
#include <QtDebug>

#include <functional>
#include <unistd.h>

namespace {

// Peak resident size of a process in MB, from /proc; -1 when it cannot be read.
qint64 peakMegabytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() / 1024;
    }
    return -1;
}

// The page-counting helper started by this process.
qint64 helperPid()
{
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold blanks, so it is read to its last ')'.
        const QByteArray text = stat.readAll();
        const int close = text.lastIndexOf(')');
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        if (text.contains("(zuvezedoda)") && fields.size() > 1 && fields.at(1).toLongLong() == qint64(::getpid()))
            return pid;
    }
    return -1;
}

// A plain text book of ordinary prose, about the given size: paragraphs, or one line that never
// ends (a file without line breaks).
bool writeText(const QString& path, qint64 bytes, bool breaks)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray paragraph
        = QByteArray("The weaver sat at the loom from morning to night, and the shuttle flew from "
                     "one hand to the other while the threads of the warp rose and fell in "
                     "their order.")
        + (breaks ? "\n\n" : " ");
    for (qint64 written = 0; written < bytes; written += paragraph.size())
        file.write(paragraph);
    return file.error() == QFile::NoError;
}

// A plain text book of CJK prose, in paragraphs: no spaces to break lines at.
bool writeCjkText(const QString& path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray paragraph
        = QStringLiteral("\u7ec7\u5de5\u4ece\u65e9\u5230\u665a\u5750\u5728\u7ec7\u5e03\u673a\u524d\uff0c"
                         "\u68ad\u5b50\u5728\u4e24\u624b\u4e4b\u95f4\u98de\u6765\u98de\u53bb\u3002\n")
              .repeated(12)
              .toUtf8()
        + "\n";
    for (qint64 written = 0; written < bytes; written += paragraph.size())
        file.write(paragraph);
    return file.error() == QFile::NoError;
}

// A MOBI book whose chapter headings are never closed: each "<h1>" or "<h2>" is followed by the
// chapter's paragraphs, as some converters write them; with styled, the heading's font and bold are
// left open too.
bool writeUnclosedHeadingsMobi(const QString& path, qint64 bytes, bool styled)
{
    QByteArray text = "<html><head></head><body>";
    const QByteArray paragraph = "<p>The weaver sat at the loom from morning to night, and the shuttle flew from "
                                 "one hand to the other while the threads of the warp rose and fell.</p>";
    for (int chapter = 1; text.size() < bytes; ++chapter) {
        text += chapter % 2 ? "<h1>" : "<h2>";
        if (styled)
            text += "<font size=\"" + QByteArray::number(chapter % 7 + 1) + "\"><b>";
        text += (chapter % 2 ? "Chapter " : "Part ") + QByteArray::number(chapter);
        for (int k = 0; k < 20; ++k)
            text += paragraph;
    }
    text += "</body></html>";
    MobiWriter writer;
    writer.setText(text);
    return writer.write(path);
}

// A MOBI book of the parts (the i-th given i) up to about the size.
bool writeMobi(const QString& path, qint64 bytes, const std::function<QByteArray(int)>& part)
{
    QByteArray text = "<html><body>";
    for (int i = 0; text.size() < bytes; ++i)
        text += part(i);
    text += "</body></html>";
    MobiWriter writer;
    writer.setText(text);
    return writer.write(path);
}

struct Run {
    QString name;
    int pages = -1;
    qint64 peak = -1;
    qint64 ms = -1;
};

// Only the books whose name holds this text are measured (the second argument).
QString g_only;

Run measure(const QString& name, const std::function<int(ReadingFixture&)>& addBook)
{
    Run run;
    run.name = name;
    if (!name.contains(g_only))
        return run;
    ReadingFixture fixture;
    const int id = addBook(fixture);
    QElapsedTimer timer;
    timer.start();
    const bool opened = id >= 0 && fixture.open(id);
    run.peak = peakMegabytes(helperPid());
    if (!opened)
        return run;
    run.ms = timer.elapsed();
    run.pages = fixture.context()->pageCount();
    fixture.close();
    return run;
}

// Opens the book without waiting for its page count and, while the helper counts, ends the
// channel as the program's end does: the milliseconds until the helper is gone, -1 on failure.
qint64 stopWhileCounting(const std::function<int(ReadingFixture&)>& addBook)
{
    QElapsedTimer timer;
    qint64 helper = -1;
    {
        ReadingFixture fixture;
        const int id = addBook(fixture);
        if (id < 0 || !fixture.open(id, false) || (helper = helperPid()) < 0)
            return -1;
        timer.start();
        fixture.pageCounter()->stopHandler();
    }
    // A child killed is gone once reaped, which the channel's end waits for.
    return QFile::exists(QStringLiteral("/proc/%1").arg(helper)) ? -1 : timer.elapsed();
}

// Characters of text in markup, near enough to what kelSplitPieces counts (an entity is one).
int textLength(const QString& html)
{
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    static const QRegularExpression entity(QStringLiteral("&#?[a-zA-Z0-9]+;"));
    return QString(html).remove(tag).replace(entity, QStringLiteral("x")).size();
}

// A reference manual as one chapter of about `chars` characters of text; the same seed, so a
// longer one starts with the text of a shorter one.
QByteArray manualOf(int chars)
{
    ChapterBuilder manual(5);
    // The builder counts the markup; the share of text in a first part tells how much it takes.
    manual.addManualContent(200 * 1000);
    const double share = double(textLength(manual.bodyHtml())) / manual.bodyHtml().size();
    manual.addManualContent(int(chars / share));
    return manual.html();
}

// Paragraphs one to a line, about `chars` characters of text: thousands of blocks side by side
// with white space between them.
QByteArray paragraphsOf(int chars)
{
    ChapterBuilder paragraphs(5);
    while (paragraphs.bodyHtml().size() < chars)
        paragraphs.addParagraph(paragraphs.sentence(10, 30));
    return paragraphs.html();
}

struct PieceRun {
    QString name;
    int pieces = -1;
    int chars = -1;
    int columns = -1;
    qint64 loadMs = -1;
    qint64 countMs = -1;
};

// The engine script the counts run, with its init call: the built-in one unless
// BENCH_ENGINE_SCRIPT names another.
QString benchEngineScript()
{
    const QString path = qEnvironmentVariable("BENCH_ENGINE_SCRIPT");
    if (path.isEmpty())
        return QString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "cannot read" << path;
        return QString();
    }
    return QString::fromUtf8(file.readAll()) + QStringLiteral("init('0123456789abcdef0123456789abcdef');");
}

// The helper's count of a chapter in pieces (PageCounter::paginatePieces): the first piece laid
// out in the page format, then each further one shown and counted. Never inlined: callgrind
// collects by its name.
Q_NEVER_INLINE void countInPieces(ChapterLayout& layout, PieceRun& run)
{
    BookPageParams params;
    params.setColumnCount(2);
    params.setWidth(1400);
    params.setHeight(900);
    run.columns = layout.applyFormat(params.pageFormatScript()) < 0 ? -1 : layout.pieceColumns();
    for (int piece = 1; piece < run.pieces && run.columns > 0; ++piece) {
        const int columns = layout.showPiece(piece);
        run.columns = columns < 0 ? -1 : run.columns + columns;
    }
}

PieceRun measurePieces(
    const QString& name, int pieces, const QString& folder, const std::function<QByteArray(int)>& chapterOf)
{
    PieceRun run;
    run.name = name;
    if (!name.contains(g_only))
        return run;
    // A little less than a piece's text each: whole blocks fill a piece up to its size.
    const QString path = folder + QStringLiteral("/chapter.html");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(chapterOf(pieces * jsengine::kPieceChars * 96 / 100)) < 0)
        return run;
    file.close();
    ChapterLayout layout;
    layout.setFont(20, QString());
    QElapsedTimer timer;
    timer.start();
    run.pieces = layout.openPieces(QUrl::fromLocalFile(path), benchEngineScript());
    run.loadMs = timer.restart();
    if (run.pieces <= 0)
        return run;
    countInPieces(layout, run);
    run.countMs = timer.elapsed();
    run.chars = layout.evaluate(QStringLiteral("document.body.textContent.length")).toInt();
    return run;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const qint64 megabytes = argc > 1 ? QString::fromLocal8Bit(argv[1]).toLongLong() : 5;
    const qint64 bytes = megabytes * 1024 * 1024;
    g_only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();

    const auto text = [bytes](bool breaks) {
        return [bytes, breaks](ReadingFixture& fixture) {
            const QString path = fixture.home().filePath(QStringLiteral("long.txt"));
            if (!writeText(path, bytes, breaks))
                return -1;
            BookDto book;
            book.full_path = path;
            book.format = 8;
            return fixture.books()->addBook(book);
        };
    };
    const auto file = [](const QString& name, int format, const std::function<bool(const QString&)>& write) {
        return [name, format, write](ReadingFixture& fixture) {
            const QString path = fixture.home().filePath(name);
            if (!write(path))
                return -1;
            BookDto book;
            book.full_path = path;
            book.format = format;
            return fixture.books()->addBook(book);
        };
    };
    const QList<Run> runs {
        measure(QStringLiteral("MOBI with unclosed headings"),
            file(QStringLiteral("headings.mobi"), 1,
                [bytes](const QString& path) { return writeUnclosedHeadingsMobi(path, bytes, false); })),
        measure(QStringLiteral("MOBI with unclosed headings and fonts"),
            file(QStringLiteral("fonts.mobi"), 1,
                [bytes](const QString& path) { return writeUnclosedHeadingsMobi(path, bytes, true); })),
        measure(QStringLiteral("MOBI with one table"),
            file(QStringLiteral("table.mobi"), 1,
                [bytes](const QString& path) {
                    QByteArray text = "<html><body><table>";
                    while (text.size() < bytes)
                        text += "<tr><td>The weaver sat at the loom</td><td>from morning to night, and the shuttle "
                                "flew.</td></tr>";
                    text += "</table></body></html>";
                    MobiWriter writer;
                    writer.setText(text);
                    return writer.write(path);
                })),
        measure(QStringLiteral("MOBI with nested divs"),
            file(QStringLiteral("divs.mobi"), 1,
                [bytes](const QString& path) {
                    return writeMobi(path, bytes, [](int) {
                        return "<div><p>The weaver sat at the loom from morning to night, and the shuttle flew.</p>";
                    });
                })),
        // The parser reopens every font left open, with its own colour, in each later paragraph.
        measure(QStringLiteral("MOBI with unclosed fonts"),
            file(QStringLiteral("fonts.mobi"), 1,
                [bytes](const QString& path) {
                    return writeMobi(path, bytes, [](int i) {
                        return "<p><font color='#" + QByteArray::number(i % 0xFFFFFF, 16).rightJustified(6, '0')
                            + "'>The weaver sat at the loom from morning to night, and the shuttle flew.</p>";
                    });
                })),
        // Lines apart by line breaks only, which the reader cuts into blocks.
        measure(QStringLiteral("MOBI of lines without paragraphs"),
            file(QStringLiteral("lines.mobi"), 1,
                [bytes](const QString& path) {
                    return writeMobi(path, bytes, [](int) {
                        return "The weaver sat at the loom from morning to night, and the shuttle flew.<br/>\n";
                    });
                })),
        measure(QStringLiteral("EPUB chapter with unclosed blocks"),
            file(QStringLiteral("unclosed.epub"), 0,
                [bytes](const QString& path) {
                    // Fewer levels than the scan's limit, past which the chapter is not shown.
                    QByteArray chapter = "<html><body>";
                    for (int i = 0; chapter.size() < bytes; ++i) {
                        chapter += i < 900 ? "<div><p>" : "<p>";
                        chapter += "The weaver sat at the loom from morning to night, and the shuttle flew.</p>";
                    }
                    chapter += "</body></html>";
                    EpubBuilder builder;
                    builder.addItem("c1", "chapter.html", chapter);
                    return builder.write(path);
                })),
        measure(QStringLiteral("FB2 with deeply nested markup"),
            file(QStringLiteral("nested.fb2"), 2,
                [bytes](const QString& path) {
                    QString inner;
                    for (int i = 0; i < 900; ++i)
                        inner += i % 2 ? QStringLiteral("<strong>") : QStringLiteral("<emphasis>");
                    QString paragraphs;
                    while (paragraphs.size() < bytes)
                        paragraphs += QStringLiteral("<p>The weaver sat at the loom from morning to night, and the "
                                                     "shuttle flew.</p>");
                    // The whole section in one paragraph nested 900 deep would be one block: the
                    // nesting is closed before the paragraphs.
                    inner += QStringLiteral("deep");
                    for (int i = 899; i >= 0; --i)
                        inner += i % 2 ? QStringLiteral("</strong>") : QStringLiteral("</emphasis>");
                    Fb2Builder builder;
                    builder.addBody(Fb2Builder::section(Fb2Builder::pXml(inner) + paragraphs, QStringLiteral("One")));
                    return builder.write(path);
                })),
        measure(QStringLiteral("CJK plain text"),
            file(QStringLiteral("cjk.txt"), 8, [bytes](const QString& path) { return writeCjkText(path, bytes); })),
        measure(QStringLiteral("plain text"), text(true)),
        measure(QStringLiteral("plain text without line breaks"), text(false)),
        measure(QStringLiteral("single-chapter EPUB"),
            [bytes](ReadingFixture& fixture) {
                return fixture.addEpub(QStringLiteral("one chapter.epub"), 1, int(bytes * 92 / 100));
            }),
    };
    bool withinTarget = true;
    for (const Run& run : runs) {
        if (!run.name.contains(g_only))
            continue;
        out << run.name << ": " << run.pages << " pages in " << run.ms << " ms, helper peak " << run.peak
            << " MB (target < 400)\n";
        withinTarget = withinTarget && run.pages > 0 && run.peak >= 0 && run.peak < 400;
    }
    const QTemporaryDir manuals;
    const QList<PieceRun> pieceRuns {
        measurePieces(QStringLiteral("manual in one piece"), 1, manuals.path(), manualOf),
        measurePieces(QStringLiteral("manual in eight pieces"), 8, manuals.path(), manualOf),
        measurePieces(QStringLiteral("paragraphs in one piece"), 1, manuals.path(), paragraphsOf),
        measurePieces(QStringLiteral("paragraphs in eight pieces"), 8, manuals.path(), paragraphsOf),
    };
    double alone = -1;
    for (const PieceRun& run : pieceRuns) {
        if (!run.name.contains(g_only))
            continue;
        const double perPiece = run.pieces > 0 && run.countMs >= 0 ? double(run.countMs) / run.pieces : -1;
        out << run.name << ": " << run.pieces << " pieces of " << (run.pieces > 0 ? run.chars / run.pieces : 0)
            << " characters, " << run.columns << " columns; loaded in " << run.loadMs << " ms, counted in "
            << run.countMs << " ms, " << qRound(perPiece) << " ms a piece\n";
        withinTarget = withinTarget && run.columns > 0;
        if (run.pieces == 1)
            alone = perPiece;
        else if (alone > 0)
            withinTarget = withinTarget && perPiece <= 1.5 * alone;
    }
    if (QStringLiteral("stop while counting").contains(g_only)) {
        const qint64 stopped = stopWhileCounting([bytes](ReadingFixture& fixture) {
            return fixture.addEpub(QStringLiteral("one chapter.epub"), 1, int(bytes * 92 / 100));
        });
        out << "stop while counting a single-chapter EPUB: helper gone after " << stopped << " ms (target < 2000)\n";
        withinTarget = withinTarget && stopped >= 0 && stopped < 2000;
    }
    return withinTarget ? 0 : 1;
}

// A hostile book opened in the reading page of the real application's main window, in a temporary
// HOME, as "Start reading now" opens it: by default a MOBI of many unclosed headings (each one with
// a title a contents entry, the empty ones left out of the chapter), or an EPUB whose paragraph has
// 200,000 attributes, or a MOBI whose text records all repeat the first one, or an EPUB chapter of
// a word of bare "<" or a MOBI paragraph of links never closed, each of a given size; or a MOBI of
// 250,000 unclosed headings each followed by a sentence, or of 1,000,000 headings that show nothing
// (no-break spaces, empty inline elements, line breaks, empty anchors). Measured from the opening
// on, with a 16 ms timer measuring how late the GUI thread answers: the time to the first page, the
// worst stall while it opens and for ten seconds after; then the contents box shown and scrolled to
// its end, ten more seconds while the box measures its rows; the widgets the box made and the peak
// memory of the process (VmHWM). For the last two kinds also: End, the last contents entry and a
// search for the last sentence, each with its time and whether it reached the book's last words;
// and the peak memory of the page-count helper.
// Usage: bench_readingpage [headings, default 250000; or "attributes", "records", "sentences",
//                          "nothing", "less" or "links"]
//                          [1: count pages with the helper, default 0]
//                          [one heading in N has a title, the others are empty; default 1;
//                           for "less" and "links" the size in KB, default 1024]
// Targets: a key answered within 2 s of opening; the reader and the helper each under 1.5 GB.

#include "application.h"
#include "bookcontext.h"
#include "dataexchangesvc.h"
#include "epubbuilder.h"
#include "formats/bookformat.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/readingpage/readingpage.h"
#include "mainwindow/readingpage/tocbox.h"
#include "mobiwriter.h"
#include "models/bookmodel.h"
#include "models/booksearchmodel.h"
#include "models/tocmodel.h"
#include "readingservices.h"
#include "settingsprovider.h"
#include "temphome.h"
#include "testpaths.h"
#include "textbookchapter.h"
#include "textviewer.h"
#include "ui.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScrollBar>
#include <QTest>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QUuid>
#include <QWebFrame>
#include <QtEndian>

namespace {

QString peakMemory(const QString& process = QStringLiteral("self"))
{
    QFile status(QStringLiteral("/proc/%1/status").arg(process));
    if (!status.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return QString::number(line.mid(6).trimmed().split(' ').value(0).toLongLong() / 1024)
                + QStringLiteral(" MB");
    }
    return QStringLiteral("?");
}

// The id of a child process of this one by its name, 0 when there is none.
qint64 childProcess(const QString& name)
{
    const QString self = QString::number(QCoreApplication::applicationPid());
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ..."
        const QString line = QString::fromLocal8Bit(stat.readAll());
        const int close = line.lastIndexOf(QLatin1Char(')'));
        const QStringList fields = line.mid(close + 2).split(QLatin1Char(' '));
        if (close > 0
            && line.mid(line.indexOf(QLatin1Char('(')) + 1, close - line.indexOf(QLatin1Char('(')) - 1) == name
            && fields.value(1) == self)
            return entry.toLongLong();
    }
    return 0;
}

// Runs the event loop for the time, or until the condition holds: whether it came to hold.
bool spin(int ms, const std::function<bool()>& done = {})
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        if (done && done())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return false;
}

// The heading of the last words a book of the kind ends with, and a sentence found only there.
const char* const kLastHeading = "Heading 249999";
const char* const kLastSentence = "The loom stopped at last.";

// A MOBI book whose text is the parts in turn, a picture-free first paragraph before them and
// the last heading and sentence after them.
bool writeMobi(const QString& path, const std::function<QByteArray(int)>& part, int count)
{
    QByteArray text = "<html><head></head><body><p>The first words.</p>";
    text.reserve(count * 48);
    for (int i = 0; i < count; ++i)
        text += part(i);
    text += "<h1>" + QByteArray(kLastHeading) + "<p>" + kLastSentence + "</p></body></html>";
    MobiWriter writer;
    writer.setText(text);
    return writer.write(path);
}

// Whether the page on screen shows the last heading, laid out after the heading before it: beyond
// the widest layout the web view makes, elements pile up at its edge, the last words among them.
bool showsLastHeading(TextViewer* viewer)
{
    return viewer->page()
        ->mainFrame()
        ->evaluateJavaScript(QStringLiteral(
            "(function () { var h = document.querySelectorAll('h1'); var last = h[h.length - 1];"
            " if (!last || last.textContent !== '%1') return false;"
            " var r = last.getBoundingClientRect(); if (r.right <= 0 || r.left >= window.innerWidth)"
            " return false; if (h.length < 2) return true; var b = h[h.length - 2].getBoundingClientRect();"
            " return r.left > b.left || r.top > b.top; })()")
                                 .arg(QLatin1String(kLastHeading)))
        .toBool();
}

} // namespace

int main(int argc, char* argv[])
{
    TempHome home;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setApplicationName(QStringLiteral("Reading Page Bench"));
    Application app(QUuid::createUuid().toString(), argc, argv);
    registerSettingsMetaTypes();
    app.setSettings(new SettingsProvider(
        KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat, &app));
    Ui::instance()->setMessageBoxHandler([](KelMessageBoxRequest&) { return 1; });
    app.init();
    const QString kind = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const int headings = kind.toInt() > 0 ? kind.toInt() : 250000;
    const bool helper = argc > 2 && QString::fromLocal8Bit(argv[2]) == QLatin1String("1");
    // One heading in this many has a title, the others are empty.
    const int titledEvery = argc > 3 ? qMax(1, QString::fromLocal8Bit(argv[3]).toInt()) : 1;
    // For "less" and "links": the size of the chapter, in KB.
    const int kilobytes = argc > 3 ? qMax(1, QString::fromLocal8Bit(argv[3]).toInt()) : 1024;
    QTextStream out(stdout);

    BookDto book;
    QString described;
    bool written = false;
    if (kind == QLatin1String("attributes")) {
        QString attributes;
        for (int i = 0; i < 200000; ++i)
            attributes += QStringLiteral(" a%1=\"1\"").arg(i);
        EpubBuilder epub;
        epub.setTitle(QStringLiteral("Crowded"));
        epub.addChapter(QStringLiteral("c1"), QStringLiteral("c1.xhtml"), QStringLiteral("One"),
            QStringLiteral("<p%1>Kept text.</p><p>More text.</p>").arg(attributes));
        epub.addChapter(QStringLiteral("c2"), QStringLiteral("c2.xhtml"), QStringLiteral("Two"),
            QStringLiteral("<p>The second chapter.</p>"));
        book.full_path = home.path() + QStringLiteral("/crowded.epub");
        book.format = int(BookFormat::Epub);
        written = epub.write(book.full_path);
        described = QStringLiteral("an EPUB paragraph of 200000 attributes");
    } else if (kind == QLatin1String("less") || kind == QLatin1String("links")) {
        // A word of bare "<" in an EPUB chapter that is not XML, or a MOBI paragraph of links.
        const bool less = kind == QLatin1String("less");
        book.full_path = home.path() + (less ? QStringLiteral("/less.epub") : QStringLiteral("/links.mobi"));
        book.format = int(less ? BookFormat::Epub : BookFormat::Mobi);
        if (less) {
            EpubBuilder epub;
            epub.setTitle(QStringLiteral("Less"));
            epub.addItem(QStringLiteral("c1"), QStringLiteral("c1.xhtml"),
                "<html><body><p>The first words.</p>" + QByteArray(kilobytes * 1024, '<') + "</body></html>");
            written = epub.write(book.full_path);
        } else {
            QByteArray text = "<html><head></head><body><p>";
            while (text.size() < kilobytes * 1024)
                text += "<a href=#x>w ";
            MobiWriter writer;
            writer.setText(text + "</p></body></html>");
            written = writer.write(book.full_path);
        }
        described = less ? QStringLiteral("an EPUB chapter of %1 KB of \"<\"").arg(kilobytes)
                         : QStringLiteral("a MOBI paragraph of %1 KB of links never closed").arg(kilobytes);
    } else if (kind == QLatin1String("records")) {
        QByteArray text = "<html><head></head><body>";
        for (int i = 1; i <= 3000; ++i)
            text += "<p>Paragraph " + QByteArray::number(i) + " of a book whose records all hold the same bytes.</p>";
        text += "</body></html>";
        MobiWriter writer;
        writer.setText(text);
        writer.setCompression(MobiWriter::Compression::None);
        QByteArray bytes = writer.build();
        // The PalmDB record list: every text record starts where the first one does.
        const quint32 first = qFromBigEndian<quint32>(bytes.constData() + 78 + 8);
        for (int i = 2; i <= writer.textRecordCount(); ++i)
            MobiWriter::putBigEndian(bytes, 78 + 8 * i, first);
        book.full_path = home.path() + QStringLiteral("/records.mobi");
        book.format = int(BookFormat::Mobi);
        QFile file(book.full_path);
        written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
        described = QStringLiteral("a MOBI of %1 text records all repeating the first").arg(writer.textRecordCount());
    } else if (kind == QLatin1String("sentences")) {
        book.full_path = home.path() + QStringLiteral("/sentences.mobi");
        book.format = int(BookFormat::Mobi);
        written = writeMobi(
            book.full_path,
            [](int i) {
                return "<h1>Heading " + QByteArray::number(i) + "<p>Line " + QByteArray::number(i) + " ends.";
            },
            249999);
        described = QStringLiteral("250000 unclosed headings, each with a sentence, %1 bytes")
                        .arg(QFileInfo(book.full_path).size());
    } else if (kind == QLatin1String("nothing")) {
        const QList<QByteArray> forms { "<h1>&#160;</h1>", "<h2>&nbsp;</h2>", "<h3><b></b></h3>", "<h1><br></h1>",
            "<h2><br/></h2>", "<h3><a id=\"e\"></a></h3>", "<h4> <i>&#xA0;</i> </h4>",
            "<h1><span></span>&#x2003;</h1>" };
        book.full_path = home.path() + QStringLiteral("/nothing.mobi");
        book.format = int(BookFormat::Mobi);
        written = writeMobi(
            book.full_path, [&forms](int i) { return forms.at(i % forms.size()); }, 1000000);
        described = QStringLiteral("1000000 headings that show nothing, eight forms in turn, %1 bytes")
                        .arg(QFileInfo(book.full_path).size());
    } else {
        QByteArray text = "<html><head></head><body>";
        for (int i = 1; i <= headings; ++i)
            text += i % titledEvery == 0 || i == 1 ? "<h1>Entry " + QByteArray::number(i) : QByteArray("<h1>");
        text += "</body></html>";
        MobiWriter writer;
        writer.setText(text);
        book.full_path = home.path() + QStringLiteral("/headings.mobi");
        book.format = int(BookFormat::Mobi);
        written = writer.write(book.full_path);
        described = QStringLiteral("%1 unclosed headings, one in %2 with a title, %3 bytes of text")
                        .arg(headings)
                        .arg(titledEvery)
                        .arg(text.size());
    }
    book.title = QStringLiteral("Hostile");
    const int id = written ? app.bookModel()->addBook(book) : -1;
    if (id < 0) {
        out << "cannot write the book\n" << Qt::flush;
        return 1;
    }
    std::unique_ptr<DataExchangeSvc> pageCounter;
    if (helper)
        pageCounter = std::make_unique<DataExchangeSvc>(testpaths::binDir() + QStringLiteral("/zuvezedoda"), nullptr);
    ReadingServices::setDataExchangeSvc(pageCounter.get());

    auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
    window->resize(1280, 900);
    window->show();
    QTest::qWaitForWindowExposed(window);
    spin(200);
    out << described << ", page counting " << (helper ? "on" : "off") << "; memory before: " << peakMemory() << "\n"
        << Qt::flush;

    QElapsedTimer tick;
    qint64 worstLate = 0;
    QTimer probe;
    probe.setInterval(16);
    QObject::connect(&probe, &QTimer::timeout, [&] { worstLate = qMax(worstLate, tick.restart() - 16); });
    QElapsedTimer timer;
    timer.start();
    ReadingPage* page = window->readingPage();
    // The opening itself is measured: a conversion or a page load on the GUI thread delays the
    // first tick after it.
    tick.start();
    probe.start();
    window->openBook(id);
    const QSharedPointer<BookContext> context = page->bookContext();
    if (!context) {
        out << "cannot open the book\n" << Qt::flush;
        return 1;
    }
    out << "opened (openBook returned): " << timer.elapsed() << " ms, " << context->tocModel()->rowCount()
        << " contents entries\n"
        << Qt::flush;
    // Shown once the chapter on screen is laid out in pages; the book's page numbers may wait for the helper.
    spin(60000, [&] {
        auto* viewer = dynamic_cast<TextViewer*>(context->viewer());
        return viewer && viewer->chapterPage() && viewer->chapterPage()->pageCount() > 0;
    });
    out << "first page shown: " << timer.elapsed() << " ms, worst GUI lateness so far " << worstLate << " ms; memory "
        << peakMemory() << "\n"
        << Qt::flush;
    spin(10000);
    out << "10 s after the first page: worst GUI lateness " << worstLate << " ms, page " << context->currentPage()
        << " of " << context->pageCount() << "; memory " << peakMemory() << "\n"
        << Qt::flush;

    const auto helperMemory = [&] {
        const qint64 helper = childProcess(QStringLiteral("zuvezedoda"));
        return helper > 0 ? peakMemory(QString::number(helper)) : QStringLiteral("-");
    };
    if (kind == QLatin1String("sentences") || kind == QLatin1String("nothing")) {
        auto* viewer = dynamic_cast<TextViewer*>(context->viewer());
        // Each way to the last words, from the first page: End, the last contents entry, a search.
        const auto reach = [&](const char* what, const std::function<void()>& go) {
            viewer->moveToHome();
            spin(30000, [&] { return viewer->chapterPage() && viewer->chapterPage()->currentPage() == 1; });
            worstLate = 0;
            timer.restart();
            go();
            const bool reached = spin(60000, [&] {
                QThread::msleep(100);
                return viewer->chapterPage() && showsLastHeading(viewer);
            });
            out << what << ": " << (reached ? "last heading shown" : "last heading NOT shown") << " after "
                << timer.elapsed() << " ms, worst GUI lateness " << worstLate << " ms; chapter "
                << (viewer->chapterPage() ? viewer->chapterPage()->source() : QString()) << "\n"
                << Qt::flush;
        };
        reach("End", [&] { viewer->moveToEnd(); });
        const QList<TocPoint> toc = context->toc();
        if (!toc.isEmpty())
            reach(qPrintable("contents entry " + toc.last().title), [&] { context->navigateToLink(toc.last().link); });
        worstLate = 0;
        timer.restart();
        bool done = false;
        QObject::connect(context.data(), &BookContext::searchDone, [&] { done = true; });
        context->search(QLatin1String(kLastSentence));
        spin(120000, [&] { return done; });
        out << "search for the last sentence: " << (done ? "ended" : "NOT ended") << " after " << timer.elapsed()
            << " ms with " << context->searchModel()->rowCount() << " hits, worst GUI lateness " << worstLate
            << " ms\n";
        if (context->searchModel()->rowCount() > 0)
            reach("its first hit", [&] { context->navigateToLink(context->searchModel()->items().first().link); });
        out << "peak memory: reader " << peakMemory() << ", helper " << helperMemory() << " (targets under 1.5 GB)\n"
            << Qt::flush;
        return 0;
    }

    if (context->tocModel()->rowCount() == 0)
        return 0;
    worstLate = 0;
    timer.restart();
    page->showSideBar(ReadingEnums::Toc);
    auto* box = static_cast<TocBox*>(page->sideBar(ReadingEnums::Toc));
    ReadingModelWidget* list = box->modelWidget();
    spin(5000, [&] { return list->isVisible() && list->itemCount() > 0; });
    list->viewport()->repaint();
    out << "contents shown: " << timer.elapsed() << " ms, " << list->itemCount() << " rows with widgets\n" << Qt::flush;
    timer.restart();
    QScrollBar* bar = list->verticalScrollBar();
    const QModelIndex last = list->model()->index(list->model()->rowCount() - 1, 0);
    spin(10000, [&] {
        bar->setValue(bar->maximum());
        return list->itemForIndex(last) != nullptr;
    });
    list->viewport()->repaint();
    out << "scrolled to the last entry: " << timer.elapsed() << " ms\n" << Qt::flush;
    timer.restart();
    spin(10000);
    probe.stop();
    out << "10 s of measuring the rows: worst GUI lateness " << worstLate << " ms (target: a key within 2000 ms), "
        << box->findChildren<QWidget*>().size() << " widgets in the box; peak memory " << peakMemory()
        << " (target under 1.5 GB)\n"
        << Qt::flush;

    // The same contents in a box of their own, the window with the book hidden: the list's own share.
    window->hide();
    spin(2000);
    TocBox alone;
    alone.resize(360, 900);
    alone.show();
    QTest::qWaitForWindowExposed(&alone);
    worstLate = 0;
    timer.restart();
    tick.restart();
    probe.start();
    alone.setBookContext(context);
    const qint64 filled = timer.elapsed();
    spin(5000, [&] { return alone.modelWidget()->itemCount() > 0; });
    alone.modelWidget()->viewport()->repaint();
    out << "contents in a box of their own: filled in " << filled << " ms, shown in " << timer.elapsed() << " ms";
    timer.restart();
    spin(10000);
    probe.stop();
    out << "; then 10 s of measuring: worst GUI lateness " << worstLate << " ms, "
        << alone.findChildren<QWidget*>().size() << " widgets in the box\n"
        << Qt::flush;
    QElapsedTimer rows;
    rows.start();
    const QAbstractItemModel* entries = alone.modelWidget()->model();
    const int sample = qMin(10000, entries->rowCount());
    for (int row = 0; row < sample; ++row)
        alone.modelWidget()->rowHeight(entries->index(row, 0));
    out << "a row measured without a widget in " << rows.nsecsElapsed() / 1000 / qMax(1, sample) << " us\n";
    return 0;
}

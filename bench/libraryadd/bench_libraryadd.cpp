// Adding books to a large library, in the main window of the real application in a temporary HOME:
// 2,000 generated FB2 books are added through the library page to a library of 0, then 10,000,
// then 100,000 books (filled up between the runs by plain inserts and loaded again, as at a
// start), shown as cards and as a table. One run that is not counted comes first: the first add of a
// process pays for loading code, fonts and SQLite's pages, which a later one does not. Each size and
// view is then run three times from the same older rows and reports the median run: the
// milliseconds a book from the hand-over to the page's answer,
// the GUI thread's CPU time a book, and how late the GUI thread answered a 16 ms timer at worst.
// Usage: bench_libraryadd [books added a run, default 2000] [library sizes, default 0 10000 100000]

#include "../common/libraryapplication.h"

#include "application.h"
#include "enums.h"
#include "import/bookimporter.h"
#include "librarybooks.h"
#include "mainwindow/librarypage/librarypage.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "models/foldermodel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QTimer>
#include <QVector>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>

namespace {

// CPU milliseconds used so far by the calling thread.
double threadCpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// Plain rows up to count books in all, in one transaction: the library as an earlier run left it.
bool fillLibrary(int count)
{
    // The books of an earlier run are added "now", long after the older ones.
    QSqlQuery earlier;
    if (!earlier.exec(QStringLiteral("delete from books where time_added > 1700000000"))) {
        QTextStream(stderr) << "cannot empty the library: " << earlier.lastError().text() << "\n";
        return false;
    }
    QSqlQuery existing(QStringLiteral("select count(*) from books"));
    int stored = existing.next() ? existing.value(0).toInt() : 0;
    existing.finish();
    QSqlDatabase::database().transaction();
    QSqlQuery insert;
    insert.prepare(
        QStringLiteral("insert into books (cover, full_path, author, title, format, time_added, "
                       "time_last_view, position, max_position, is_favorite, is_deleted, notes_count, "
                       "use_user_cover) values ('', :path, :author, :title, 2, :added, 0, 0, 0, 0, 0, 0, 0)"));
    for (; stored < count; ++stored) {
        insert.bindValue(
            QStringLiteral(":path"), BookProvider::encodeText(QStringLiteral("/shelf/older/book%1.fb2").arg(stored)));
        // Shown like the books added (the list keeps showing the rows it showed), so that each size
        // paints the same cards.
        insert.bindValue(QStringLiteral(":author"), QStringLiteral("Ann Author"));
        insert.bindValue(QStringLiteral(":title"), QStringLiteral("Book %1").arg(stored));
        insert.bindValue(QStringLiteral(":added"), 1600000000 + stored);
        if (!insert.exec()) {
            QTextStream(stderr) << "cannot fill the library: " << insert.lastError().text() << "\n";
            QSqlDatabase::database().rollback();
            return false;
        }
    }
    return QSqlDatabase::database().commit();
}

// CPU milliseconds used so far by the calling thread, to the nanosecond.
double threadCpuPreciseMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

// Runs the event loop until the window is idle (the list has measured the rows it loaded, a few
// milliseconds at a time on a timer): half a second in which the GUI thread wakes and finds nothing
// to do. Passes that return at once say nothing of timers about to fire, so the loop waits for
// events, woken every 20 ms, and counts the thread's CPU time.
void settle()
{
    QTimer wake;
    wake.start(20);
    QElapsedTimer limit;
    limit.start();
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 500 && limit.elapsed() < 300000) {
        const double before = threadCpuPreciseMs();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (threadCpuPreciseMs() - before > 1.0)
            quiet.restart();
    }
}

constexpr int kRounds = 3;

struct Run {
    double msPerBook = 0;
    double guiCpuPerBook = 0;
    qint64 worstLate = 0;
};

// Adds the files through the page and waits for its answer, while a 16 ms timer measures how late
// the GUI thread answers.
Run addBooks(LibraryPage* page, const QStringList& files, int& answers)
{
    QElapsedTimer tick;
    Run run;
    QTimer probe;
    probe.setInterval(16);
    QObject::connect(&probe, &QTimer::timeout, [&] { run.worstLate = qMax(run.worstLate, tick.restart() - 16); });
    const double cpuBefore = threadCpuMs();
    QElapsedTimer timer;
    timer.start();
    tick.start();
    probe.start();
    answers = 0;
    page->addFiles(files);
    // Until the page answers: the books are stored and shown by then.
    while (answers == 0 && timer.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    probe.stop();
    run.msPerBook = double(timer.elapsed()) / files.size();
    run.guiCpuPerBook = (threadCpuMs() - cpuBefore) / files.size();
    return run;
}

} // namespace

int main(int argc, char* argv[])
{
    LibraryApplication bench("Library Add Bench", argc, argv);
    Application& app = bench.app();
    const int added = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 2000;
    QTextStream out(stdout);
    LibraryPage* page = bench.window->libraryPage();

    QList<int> sizes;
    for (int i = 2; i < argc; ++i)
        sizes << QString::fromLocal8Bit(argv[i]).toInt();
    if (sizes.isEmpty())
        sizes = { 0, 10000, 100000 };
    // The same books are added in every run: each run begins on the older rows alone.
    QStringList files;
    QDir().mkpath(bench.path() + QStringLiteral("/new"));
    librarybooks::BookRecipe book;
    book.coverSize = QSize();
    book.chapters = 1;
    for (int i = 0; i < added; ++i) {
        book.title = QStringLiteral("Book %1").arg(1000000 + i);
        files << bench.path() + QStringLiteral("/new/added%1.fb2").arg(i);
        librarybooks::write(files.last(), book);
    }

    // The warm-up, on the first size: its figures are not reported.
    if (!fillLibrary(sizes.first()))
        return 1;
    app.bookModel()->selectAll();
    settle();
    addBooks(page, files, bench.answers);

    // Per view: the cards re-wrap when books come above the ones shown, the table's rows do not.
    QMap<int, double> firstMsPerBook;
    for (const int size : qAsConst(sizes)) {
        for (const int view : { int(Enums::View_Cards), int(Enums::View_Table) }) {
            page->setViewMode(view);
            QVector<Run> runs;
            for (int round = 0; round < kRounds; ++round) {
                if (!fillLibrary(size))
                    return 1;
                app.bookModel()->selectAll();
                app.folderModel()->reload();
                settle();
                runs << addBooks(page, files, bench.answers);
                if (app.bookModel()->rowCount() != size + added) {
                    out << "only " << app.bookModel()->rowCount() - size << " of " << added << " books were added\n";
                    return 1;
                }
            }
            // The median run: the machine's other work makes single runs vary.
            std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.msPerBook < b.msPerBook; });
            const Run run = runs.at(runs.size() / 2);
            if (size == sizes.first())
                firstMsPerBook[view] = run.msPerBook;
            out << added << " books added to a library of " << size << " books, "
                << (view == Enums::View_Cards ? "cards" : "table") << ": " << QString::number(run.msPerBook, 'f', 2)
                << " ms a book (" << QString::number(run.msPerBook / firstMsPerBook.value(view), 'f', 2)
                << "x the first size" << (size > sizes.first() ? ", target within 1.5x" : "") << "), GUI thread CPU "
                << QString::number(run.guiCpuPerBook, 'f', 2) << " ms a book, worst GUI lateness " << run.worstLate
                << " ms (median of " << kRounds << " runs, after a warm-up)\n";
            out.flush();
        }
    }
    return 0;
}
